"""Between representations: axis-angle, rotation vectors, matrices, Euler
angles, precisions, and pickling."""

import copy
import math
import pickle

import orvane as ov

# Axis and angle, and rotation vectors (axis times angle).
q = ov.quat_from_axis_angle(ov.Vector3d(0, 0, 2), math.pi / 2)
axis, angle = ov.axis_angle(q)
print(axis, round(angle, 12))
print(ov.rotation_vector(q) == ov.Vector3d(0, 0, math.pi / 2))  # True
print(ov.quat_from_rotation_vector(ov.Vector3d(0, 0, math.pi / 2)) == q)  # True

# The shortest rotation taking one direction to another.
turn = ov.quat_between(ov.Vector3d(1, 0, 0), ov.Vector3d(0, 3, 0))
print(turn.rotate([1, 0, 0]))

# Matrices and quaternions, either way; Euler angles become rotations too.
m = ov.to_matrix3(q)
print(ov.to_quaternion(m) == q)  # True
e = ov.Euler_d(0.1, 0.2, 0.3)
e.order = ov.eOrder.ZYX
back = ov.Euler_d()
back.order = ov.eOrder.ZYX
back.setFromQuaternion(ov.to_quaternion(e))  # extraction inverts composition
print(round(back.x, 12), round(back.y, 12), round(back.z, 12))

# Precisions: to_float rounds to nearest, to_double is exact.
v = ov.to_float(ov.Vector3d(1 / 3, 0.1, 2))
print(v, ov.to_double(v).x == float.fromhex("0x1.555556p-2"))

# Every class pickles and copies once orvane is imported, bit for bit.
pose = ov.Pose3d_f(ov.Vector3f(1, 2, 3), ov.Quaternionf.RotationX(0.5))
print(pickle.loads(pickle.dumps(pose)).toMatrix() == pose.toMatrix(), copy.deepcopy(q) == q)
