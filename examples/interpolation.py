"""Interpolating between two orientations, printed as Euler angles."""

import math

import orvane as ov

start = ov.Quaterniond.RotationZ(0.0)
end = ov.quat_from_axis_angle(ov.Vector3d(1, 1, 0), math.pi / 2)  # the axis need not be unit

# slerp turns at a constant rate along the shorter arc; t = 0 and t = 1 give
# the normalized ends exactly.
print(" t     x (deg)   y (deg)   z (deg)")
for step in range(5):
    t = step / 4
    angles = ov.Euler_d(ov.slerp(start, end, t))  # intrinsic XYZ by default
    print(
        f"{t:4.2f} "
        + " ".join(f"{math.degrees(a) + 0.0:9.3f}" for a in (angles.x, angles.y, angles.z))
    )

print("turned by", round(math.degrees(ov.angle_between(start, end)), 6), "degrees in all")
