"""Euler angles of a quaternion, in two axis orders."""

import orvane_bindings as ob

# A quarter turn about z after a small tilt about x.
q = ob.Quaterniond.RotationZ(1.5707963267948966) * ob.Quaterniond.RotationX(0.25)

e = ob.Euler_d(q)
print("XYZ angles (radians):", e.x, e.y, e.z)

e.order = ob.eOrder.ZYX
e.setFromQuaternion(q)
print(e)
