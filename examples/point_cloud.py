"""A point cloud of 100,000 float32 points moved by a pose in one call."""

import math

import numpy as np
import orvane_bindings as ob

from orvane import arrays as oa

rng = np.random.default_rng(7)
cloud = rng.uniform(-1.0, 1.0, size=(100_000, 3)).astype(np.float32)

# A quarter turn about z, then a step of 2 along x.
pose = ob.Pose3d_f(ob.Vector3f(2, 0, 0), ob.Quaternionf.RotationZ(math.pi / 2))
moved = oa.transform_points(pose, cloud)
print(moved.shape, moved.dtype)  # (100000, 3) float32: the precision of the pose

# Each point is moved exactly as pose.apply moves it on its own.
print(all(np.array_equal(moved[i], pose.apply(cloud[i])) for i in (0, 1, 99_999)))  # True

# The cloud's bounds before and after: x and y swap, and x shifts by 2.
print(cloud.min(axis=0).round(3), cloud.max(axis=0).round(3))
print(moved.min(axis=0).round(3), moved.max(axis=0).round(3))

# A 4x4 transform, a 3x3 matrix or a quaternion moves points the same way.
print(np.abs(oa.transform_points(pose.toMatrix(), cloud) - moved).max() < 1e-6)  # True
