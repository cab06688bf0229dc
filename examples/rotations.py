"""Rotating a vector with a quaternion."""

import math

import orvane_bindings as ob

quarter_turn = ob.Quaterniond.RotationZ(math.pi / 2)  # about +z, counter-clockwise
print("q =", quarter_turn)
print("q rotates (1, 0, 0) to", quarter_turn.rotate([1, 0, 0]))

# A product applies its right operand first: a quarter turn about x, then q.
both = quarter_turn * ob.Quaterniond.RotationX(math.pi / 2)
print("q * RotationX(pi/2) rotates (0, 1, 0) to", both.rotate([0, 1, 0]))
