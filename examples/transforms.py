"""Composes a rigid transform and a projection, and applies them to a point."""

import math

import orvane_bindings as ob

# Column vectors: in `move * turn` the rotation acts first.
turn = ob.Matrix4d.RotationZ(math.pi / 2)
move = ob.Matrix4d.Translation(ob.Vector3d(0, 0, -5))
model = move * turn
print("model =", model)

point = ob.Vector4d(1, 0, 0, 1)
moved = model * point
print("point", point, "->", moved)

projection = ob.Matrix4d.Perspective(60, 16 / 9, 1, 100)
clip = projection * moved
print("normalized device coordinates:", clip.x / clip.w, clip.y / clip.w, clip.z / clip.w)

# The same matrix seen from NumPy without a copy.
view = model.numpy()
view[2, 3] = -10
print("after editing the view, model[2, 3] =", model[2, 3])
