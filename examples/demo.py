"""A tour of orvane_bindings: every example, from vectors to a camera and a mesh."""

import runpy
from pathlib import Path

HERE = Path(__file__).resolve().parent
TOUR = [
    "vectors.py",
    "matrices.py",
    "numpy_interop.py",
    "transforms.py",
    "rotations.py",
    "euler_angles.py",
    "euler_sequences.py",
    "interpolation.py",
    "conversions.py",
    "geometry.py",
    "shapes.py",
    "meshes.py",
    "picking.py",
    "camera.py",
    "batch_cameras.py",
    "array_likes.py",
    "batch.py",
    "dask_arrays.py",
    "point_cloud.py",
    "rotation_sets.py",
    "rigid_motions.py",
    "trajectory_files.py",
    "trajectory.py",
    "mesh_render.py",
]

if __name__ == "__main__":
    for name in TOUR:
        print("==", name.removesuffix(".py"))
        runpy.run_path(str(HERE / name), run_name="__main__")
        print()
