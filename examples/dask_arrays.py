"""Batch operations on Dask arrays: lazy, chunk by chunk, on a cluster of processes too."""

import importlib.util
import math

import numpy as np
import orvane_bindings as ob

from orvane import arrays as oa

# A cluster's worker processes import this file again, as __mp_main__: they
# need its imports, not its examples.
MAIN = __name__ == "__main__"

if MAIN and importlib.util.find_spec("dask") is None:
    print("Dask is not installed; pip install 'orvane[dask]' to run these examples.")

if MAIN and importlib.util.find_spec("dask") is not None:
    import dask.array as da

    # Dask arrays go in as they are, mixed with NumPy arrays and numbers, and a
    # Dask array comes out: nothing runs until compute().
    quarter = [math.cos(math.pi / 4), 0, 0, math.sin(math.pi / 4)]
    turns = da.from_array(np.tile(quarter, (1000, 1)), chunks=(250, 4))
    rotated = oa.quat_rotate(turns, np.array([1.0, 0.0, 0.0]))
    print(rotated.dtype, rotated.shape, rotated.numblocks)  # float64 (1000, 3) (4, 1)
    print(rotated.compute()[0].round(12) + 0.0)  # [0. 1. 0.]

    # transform_points casts the points to the object's precision, lazily too.
    pose = ob.Pose3d_f(ob.Vector3f(2, 0, 0), ob.Quaternionf.RotationZ(math.pi / 2))
    cloud = da.random.default_rng(0).standard_normal((100_000, 3), chunks=(25_000, 3))
    moved = oa.transform_points(pose, cloud)
    print(moved.dtype, moved.chunksize)  # float32 (25000, 3)

    # A lazy array has no values to write into out=: compute first, or drop out=.
    try:
        oa.quat_normalize(turns, out=np.empty((1000, 4)))
    except TypeError as error:
        print(error)

if MAIN and importlib.util.find_spec("dask") and importlib.util.find_spec("xarray"):
    import xarray as xr

    # xarray names the core dimensions and lets Dask run the ufunc per chunk.
    quats = xr.DataArray(turns, dims=("point", "component"))
    unit = xr.apply_ufunc(
        oa.quat_normalize,
        quats,
        input_core_dims=[["component"]],
        output_core_dims=[["component"]],
        dask="parallelized",
        output_dtypes=[quats.dtype],
    )
    print(unit.dims, unit.chunks)  # ('point', 'component') ((250, 250, 250, 250), (4,))

if MAIN and importlib.util.find_spec("distributed") is not None:
    from distributed import Client, LocalCluster

    # Two worker processes on this machine; Client("tcp://host:8786") joins a
    # cluster already running instead. The functions and ufuncs pickle by
    # reference, so each worker imports orvane and runs its chunks.
    with (
        LocalCluster(n_workers=2, processes=True, dashboard_address=None) as cluster,
        Client(cluster) as client,
    ):
        on_cluster = client.compute(moved, sync=True)
    here = oa.transform_points(pose, cloud.compute())
    print(np.array_equal(on_cluster.view(np.uint32), here.view(np.uint32)))  # True: same bits
