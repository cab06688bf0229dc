"""Rigid motions: inverse, matrices, exponential coordinates, screw
interpolation and dual quaternions, per pose and over arrays."""

import math

import numpy as np

import orvane as ov
from orvane import arrays as oa

# A quarter turn about z and a step along x, and its exponential coordinates
# (rotation vector, then the translational part of the twist).
pose = ov.Pose3d_d(ov.Vector3d(1, 0, 0), ov.Quaterniond.RotationZ(math.pi / 2))
xi = ov.pose_log(pose)
print("log:", np.round(xi, 12))


def same(a: ov.Pose3d_f | ov.Pose3d_d, b: ov.Pose3d_f | ov.Pose3d_d) -> bool:
    """Poses compare by their exponential coordinates, to rounding."""
    return bool(np.allclose(ov.pose_log(a), ov.pose_log(b), rtol=0, atol=1e-12))


# Half the screw motion, twice, is the whole of it.
half = ov.pose_power(pose, 0.5)
print("exp(log(pose)) is the pose:", same(ov.pose_exp(xi), pose))
print("half * half is the pose:", same(half * half, pose))
print("the inverse undoes it:", same(ov.pose_inverse(pose) * pose, ov.Pose3d_d()))

# 4x4 matrices: a rounded rotation block is projected onto a rotation.
m = np.round(np.array(ov.pose_to_matrix(pose).numpy()), 7)
print("from a rounded matrix:", ov.pose_from_matrix(m))

# Dual quaternions: real part, then dual part, each w first.
d = ov.pose_to_dual_quat(pose)
print("dual quaternion:", np.round(d, 9))
print("back:", same(ov.pose_from_dual_quat(d), pose))

# The same over arrays of (position, orientation).
# Rotation vectors of angles below pi come back as they are.
twists = np.random.default_rng(5).normal(scale=0.5, size=(1000, 6))
positions, orientations = oa.pose_exp(twists)
print("log(exp(xi)) == xi:", np.allclose(oa.pose_log(positions, orientations), twists))
p, q = oa.pose_compose(positions, orientations, *oa.pose_inverse(positions, orientations))
print("pose * inverse is the identity:", np.allclose(p, 0), np.allclose(abs(q[:, 0]), 1))
