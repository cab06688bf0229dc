"""Cameras and matrices over arrays: view matrices, projection to pixels and
back, inverses and determinants, and T * R * S decomposition."""

import numpy as np

import orvane as ov
from orvane import arrays as oa

# Three cameras on a circle, all looking at the origin.
angles = np.radians([0, 120, 240])
eyes = np.stack([6 * np.cos(angles), 6 * np.sin(angles), np.full(3, 2.0)], axis=-1)
views = oa.look_at(eyes, [0.0, 0.0, 0.0], [0.0, 0.0, 1.0])
print("views:", views.shape)

# A point seen by each camera, to pixels (y down, depth in [0, 1]) and back.
projection = np.asarray(ov.Matrix4d.Perspective(60.0, 4 / 3, 0.5, 50.0).numpy())
view_projections = projection @ views
viewport = [0.0, 0.0, 640.0, 480.0]
pixels = oa.project([0.5, 0.2, 0.3], view_projections, viewport)
print(np.round(pixels, 3))
back = oa.unproject(pixels, view_projections, viewport)
print("back to the point:", np.allclose(back, [0.5, 0.2, 0.3]))

# Inverses and determinants of stacks of 2x2, 3x3 or 4x4 matrices.
print("det:", np.round(oa.matrix_determinant(views), 12))
print("inverse:", np.allclose(oa.matrix_inverse(views) @ views, np.eye(4)))

# An affine transform into translation, rotation and scale: m = T * R * S.
m = (
    ov.Matrix4d.Translation(ov.Vector3d(1, 2, 3))
    * ov.to_matrix4(ov.Quaterniond.RotationZ(np.radians(30)))
    * ov.Matrix4d.Scale(2, 3, 4)
)
translation, orientation, scale = ov.decompose(m)
print(translation, ov.quat_angle(orientation), scale)
try:
    ov.decompose(ov.Matrix4d.Perspective(60.0, 1.0, 0.5, 50.0))
except ValueError as error:
    print("ValueError:", error)
