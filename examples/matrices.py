"""Matrices: rows and columns, indexing, algebra, factories and their text form."""

import math

import orvane_bindings as ob

# Numbers are given row by row; vectors are columns.
rows = ob.Matrix2d(1, 2, 3, 4)  # [[1, 2], [3, 4]]
cols = ob.Matrix2d(ob.Vector2d(1, 2), ob.Vector2d(3, 4))  # [[1, 3], [2, 4]]
print(rows == cols.T)  # True
print(ob.Matrix3d(1, 2, 3))  # n numbers: the diagonal
print(ob.Matrix4f())  # no arguments: the zero matrix, not the identity

# m[j] is a copy of column j; m[i, j] is row i, column j.
print(rows[1], rows[0, 1], rows[1][0])  # Vector2d(x=2.0, y=4.0) 2.0 2.0
rows[0, 0] = 5.0
rows[1] = ob.Vector2d(7, 8)  # any buffer of the right dtype and shape sets a column
print(rows)
try:
    rows[2]
except IndexError:
    print("m[2] and m[-1] raise IndexError")

m = ob.Matrix2d(1, 2, 3, 4)
print(m.trace(), m.determinant(), m.transpose() == m.T)
print(m.inverse())  # [[-2, 1], [1.5, -0.5]]
print(ob.Matrix2d(1, 2, 2, 4).inverse())  # singular: infinities or NaN, no error
print(m * m)  # * of two matrices is the matrix product, never element-wise
print(m * 2.0 == 2.0 * m, m + m - m == m)  # True True
print(m * ob.Vector2d(1, 1))  # matrix times column vector

# Factories: right-handed rotations in radians, translation in the last column.
turn = ob.Matrix3d.RotationZ(math.pi / 2)
print(turn * ob.Vector3d(1, 0, 0))  # about (0, 1, 0): counter-clockwise seen from +z
move = ob.Matrix4d.Translation(ob.Vector3d(1, 2, 3))
print(move * ob.Vector4d(0, 0, 0, 1), move * ob.Vector4d(1, 0, 0, 0))  # point, direction
print(ob.Matrix4d.Scale(2, 3, 4) == ob.Matrix4d(2, 3, 4, 1))  # True
print(ob.Matrix2d.Rotation(math.pi / 2) * ob.Vector2d(1, 0))

# Projections: the camera looks along -z; depth runs from -1 (near) to +1 (far).
fov_degrees = ob.Matrix4d.Perspective(90, 1, 1, 3)  # field of view in degrees
frustum = ob.Matrix4d.Perspective(-1, 1, 1, -1, 1, 3)  # left, right, top, bottom, near, far
print(fov_degrees == frustum)  # True
for z in (-1, -3):
    clip = fov_degrees * ob.Vector4d(0, 0, z, 1)
    print("z =", z, "-> depth", clip.z / clip.w)
print(ob.Matrix4d.Ortho(2, 4, 1, 3))
