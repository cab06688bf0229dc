"""orvane.arrays on Dask arrays: lazy, of NumPy's dtypes and bits, on a cluster too."""

import pickle
import subprocess
import sys

import numpy as np
import orvane_bindings as ob
import pytest

import orvane as ov
from orvane import arrays as oa

dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")

EULERS = [
    oa.euler_gufunc(kind, order, convention)
    for kind in ("quat_to_euler", "euler_to_quat")
    for order in ob.eOrder.__members__.values()
    for convention in ob.eConvention.__members__.values()
]
POSE = ov.Pose3d_f(ov.Vector3f(1, 2, 3), ov.Quaternionf(0.5, 0.5, 0.1, 0.2))
# name: (function of the operands, core shapes, named sizes 3); transform_points
# and the Euler functions take the object or enums as well.
FUNCTIONS = {
    **{
        f.__name__: (f, [tuple(int(d) if d.isdigit() else 3 for d in g) for g in ins])
        for f in (getattr(oa, n) for n in oa.__all__)
        if hasattr(f, "ufunc")
        for ins in [oa._core_dims(f.signature)[0]]
    },
    "euler_gufunc": (EULERS[3], [(4,)]),
    "quat_to_euler": (
        lambda q: oa.quat_to_euler(q, ob.eOrder.ZYX, ob.eConvention.EXTRINSIC),
        [(4,)],
    ),
    "euler_to_quat": (lambda e: oa.euler_to_quat(e, ob.eOrder.YXZ), [(3,)]),
    "transform_points": (lambda p: oa.transform_points(POSE, p), [(3,)]),
}


def forbid(*args, **kwargs):
    raise AssertionError("computed before .compute()")


# How the operands come: all Dask float32 with the core dimensions split over
# chunks, Python numbers for () operands; or a Dask int16 first and NumPy
# float64 ones after.
MIXES = ["dask f4, python numbers", "dask i2, numpy f8"]


@pytest.mark.parametrize("mix", MIXES)
@pytest.mark.parametrize("name", FUNCTIONS)
def test_dask_operands_give_lazy_results_equal_to_numpy(name, mix):
    f, shapes = FUNCTIONS[name]
    rng = np.random.default_rng(5)
    numpy_in, dask_in = [], []
    for k, core in enumerate(shapes):
        if mix == MIXES[0]:
            a = rng.normal(size=(20, *core)).astype(np.float32)
            lazy = 0.25 if not core else da.from_array(a, chunks=(7, *(2 for _ in core)))
            numpy_in.append(0.25 if not core else a)
        else:
            a = rng.integers(-3, 4, (20, *core)).astype(np.int16 if k == 0 else np.float64)
            numpy_in.append(a)
            lazy = da.from_array(a, chunks=(6, *core)) if k == 0 else a
        dask_in.append(lazy)
    with np.errstate(invalid="ignore", divide="ignore"):
        expected = f(*numpy_in)
        with dask.config.set(scheduler=forbid):
            lazy = f(*dask_in)
        got = dask.compute(lazy, scheduler="sync")[0]
    pairs = zip(*(x if isinstance(x, tuple) else (x,) for x in (lazy, got, expected)))
    for lazy_out, out, e in pairs:
        assert isinstance(lazy_out, da.Array) and lazy_out.dtype == e.dtype
        assert lazy_out.chunks[1:] == tuple((s,) for s in e.shape[1:])
        assert lazy_out.chunks[0] == ((7, 7, 6) if mix == MIXES[0] else (6, 6, 6, 2))
        assert out.dtype == e.dtype and out.shape == e.shape
        bits = np.dtype(f"u{e.dtype.itemsize}")
        np.testing.assert_array_equal(out.view(bits), e.view(bits))


@pytest.mark.parametrize(
    "call",
    [
        lambda q, v, out: oa.quat_rotate(da.from_array(q), v, out=out),
        lambda q, v, out: oa.quat_rotate(q, v, out=da.from_array(out)),
        lambda q, v, out: oa.quat_rotate(da.from_array(q), v, out),
        lambda q, v, out: oa.transform_points(ov.Quaterniond(), da.from_array(v), out=out),
    ],
)
def test_out_with_dask_says_to_compute_first(call):
    out = np.full((2, 3), 7.0)
    with pytest.raises(TypeError, match=r"^quat_rotate: out= .*call \.compute\(\).*or drop out="):
        call(np.ones((2, 4)), np.ones((2, 3)), out)
    assert np.all(out == 7.0)


UFUNCS = [u for u in vars(ov._native.gufuncs).values() if isinstance(u, np.ufunc)]
# plane_rows is left out: it reads plane objects, before any graph exists.
PUBLIC = [getattr(oa, n) for n in oa.__all__ if n != "plane_rows"] + EULERS


@pytest.mark.parametrize("thing", UFUNCS + PUBLIC, ids=lambda u: u.__name__)
def test_pickles_by_reference(thing):
    assert pickle.loads(pickle.dumps(thing)) is thing


def test_runs_on_a_cluster_of_processes():
    distributed = pytest.importorskip("distributed")
    pose = ov.Pose3d_f(ov.Vector3f(1, -2, 3), ov.Quaternionf(0.5, -0.1, 0.7, 0.2))
    rng = da.random.default_rng(11)
    points = rng.standard_normal((10**7, 3), chunks=(2_500_000, 3), dtype=np.float32)
    ta, qa, tb, qb = (rng.standard_normal((10**6, n), chunks=250_000) for n in (3, 4, 3, 4))
    lazy = (oa.transform_points(pose, points), *oa.pose_compose(ta, qa, tb, qb))
    with (
        distributed.LocalCluster(
            n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        got = client.compute(lazy, sync=True)
    inputs = dask.compute(points, ta, qa, tb, qb, scheduler="sync")
    expected = (oa.transform_points(pose, inputs[0]), *oa.pose_compose(*inputs[1:]))
    for g, e in zip(got, expected):
        assert g.dtype == e.dtype
        np.testing.assert_array_equal(g.view(f"u{e.itemsize}"), e.view(f"u{e.itemsize}"))


def test_xarray_apply_ufunc_on_dask_backed_quaternions():
    xr = pytest.importorskip("xarray")
    q = np.random.default_rng(2).normal(size=(50, 4))
    data = xr.DataArray(q, dims=("point", "component")).chunk({"point": 20})
    normalized = xr.apply_ufunc(
        oa.quat_normalize,
        data,
        input_core_dims=[["component"]],
        output_core_dims=[["component"]],
        dask="parallelized",
        output_dtypes=[data.dtype],
    )
    assert isinstance(normalized.data, da.Array) and normalized.dims == data.dims
    np.testing.assert_array_equal(
        normalized.values.view(np.uint64), oa.quat_normalize(q).view(np.uint64)
    )


def test_numpy_calls_need_no_dask():
    code = (
        "import sys; sys.modules['dask'] = None\n"  # import dask now raises ImportError
        "import numpy as np, orvane as ov\n"
        "oa = ov.arrays\n"
        "assert oa.quat_rotate(np.ones(4), np.ones(3)).shape == (3,)\n"
        "assert oa.transform_points(ov.Quaternionf(), np.ones(3)).dtype == np.float32\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True, timeout=60)
