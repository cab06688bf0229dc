"""Euler angles of all 24 sequences, in the sequence's order, and the angle
and equality of rotations."""

import math

import numpy as np

import orvane as ov
from orvane import arrays as oa

# Upper case is intrinsic (about the axes as they have turned), lower case
# extrinsic (about the fixed axes). Yaw, pitch and roll are intrinsic ZYX.
q = ov.quat_from_euler((30, 20, 10), "ZYX", degrees=True)
print("ZYX:", np.round(np.array(ov.euler_from_quat(q, "ZYX", degrees=True)), 12))
# The same rotation, as extrinsic xyz: the angles in the reverse order.
print("xyz:", np.round(np.array(ov.euler_from_quat(q, "xyz", degrees=True)), 12))
# Proper Euler angles, first axis again last, the middle angle in [0, 180].
print("ZXZ:", np.round(np.array(ov.euler_from_quat(q, "ZXZ", degrees=True)), 6))

# At gimbal lock only the sum of the outer angles is defined: the third is
# 0 and the first takes it all, and return_gimbal says so.
locked = ov.quat_from_euler((30, 90, 10), "ZYX", degrees=True)
angles, gimbal = ov.euler_from_quat(locked, "ZYX", degrees=True, return_gimbal=True)
print("locked:", np.round(np.array(angles), 9), gimbal)
# The angles still rebuild the rotation to rounding.
again = ov.quat_from_euler(angles, "ZYX", degrees=True)
print("rebuilt within 1e-15 rad:", ov.angle_between(locked, again) < 1e-15)

# The angle of a rotation, and equality of rotations whatever the sign.
print("angle:", round(ov.quat_angle(q), 12), "equal to -q:", ov.quat_approx_equal(q, -1 * q))

# In batch: rows of angles in, rows of quaternions out, bit for bit the same.
rows = np.radians([[30, 20, 10], [0, 90, 0], [-45, 10, 170]])
qs = oa.quat_from_euler(rows, "ZYX")
print(np.array_equal(qs[0], np.array(ov.quat_from_euler(rows[0], "ZYX"))))
print(np.round(np.degrees(oa.euler_from_quat(qs, "zyz")), 6))
print(oa.quat_approx_equal(qs, qs[::-1], atol=math.radians(1)))
