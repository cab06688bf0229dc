"""Quaternions: rotating vectors, composing rotations, and matrices."""

import math

import orvane_bindings as ob

quarter_turn = ob.Quaterniond.RotationZ(math.pi / 2)  # about +z, counter-clockwise
print("q =", quarter_turn)
print("q rotates (1, 0, 0) to", quarter_turn.rotate([1, 0, 0]))

# A product applies its right operand first: a quarter turn about x, then q.
both = quarter_turn * ob.Quaterniond.RotationX(math.pi / 2)
print("q * RotationX(pi/2) rotates (0, 1, 0) to", both.rotate([0, 1, 0]))

# Components are w, x, y, z: the scalar part comes first everywhere.
q = ob.Quaterniond(2, 0, 0, 0)  # the constructor does not normalize
print(q[0], q.w, q.length(), q.normalize(), q.conjugate(), q.inverse())
print(q.rotate([1, 2, 3]))  # any non-zero length rotates without scaling
q.normalize_()
print(q == ob.Quaterniond())  # True: the default is the identity

# To and from rotation matrices.
matrix = ob.Matrix3d.RotationY(0.5)
print(ob.Quaterniond(matrix) == ob.Quaterniond.RotationY(0.5))  # True
print(ob.Pose3d_d(ob.Vector3d(), quarter_turn).toMatrix())  # the rotation as a 4x4 transform
