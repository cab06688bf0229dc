"""Euler angles of a quaternion, in several axis orders and both conventions."""

import orvane_bindings as ob

# A quarter turn about z after a small tilt about x.
q = ob.Quaterniond.RotationZ(1.5707963267948966) * ob.Quaterniond.RotationX(0.25)

# Constructors always extract with order XYZ and the intrinsic convention.
e = ob.Euler_d(q)
print("XYZ angles (radians):", e.x, e.y, e.z)

# For another order set it first, then extract again.
e.order = ob.eOrder.ZYX
e.setFromQuaternion(q)
print(e)

# Intrinsic ZYX: turn about z, then about the new y, then the newest x; the
# matrix is RotationZ(z) * RotationY(y) * RotationX(x). Extrinsic XYZ turns
# about the fixed x, then the fixed y, then the fixed z, and composes to the
# same matrix: the same angles come out.
m = ob.Matrix3d.RotationZ(0.3) * ob.Matrix3d.RotationY(-0.5) * ob.Matrix3d.RotationX(1.2)
intrinsic = ob.Euler_d()
intrinsic.order = ob.eOrder.ZYX
intrinsic.setFromRotationMatrix(m)
extrinsic = ob.Euler_d()
extrinsic.convention = ob.eConvention.EXTRINSIC
extrinsic.setFromRotationMatrix(m)  # order XYZ, the default
print("intrinsic ZYX:", intrinsic.x, intrinsic.y, intrinsic.z)
print("extrinsic XYZ:", extrinsic.x, extrinsic.y, extrinsic.z)

# Near gimbal lock (middle angle within about 0.0015 of ±pi/2) only the sum
# of the outer angles is defined: it all goes to one angle, the other is 0.
locked = ob.Euler_d(
    ob.Matrix3d.RotationX(0.3) * ob.Matrix3d.RotationY(1.5707963) * ob.Matrix3d.RotationZ(0.2)
)
print("gimbal lock:", locked.x, locked.y, locked.z)

# The enums compare only with their own members; orders are not ints.
print(ob.eOrder.ZYX.value, ob.eOrder.XYZ == 0, list(ob.eOrder.__members__))
try:
    e.order = 2  # type: ignore[assignment]
except TypeError:
    print("order takes an eOrder member, not an int")
