"""Walk a point through a pose, then measure it against a plane and a box."""

import math

import orvane_bindings as ob

# A quarter turn about z, then a step of 2 along x.
pose = ob.Pose3d_d(ob.Vector3d(2, 0, 0), ob.Quaterniond.RotationZ(math.pi / 2))
point = ob.Vector3d(1, 0, 0.5)
moved = pose * point
print("pose:", pose, sep="\n")
print("point", point, "moves to", moved)
print("and back to", pose.inverse() * moved)

floor = ob.Plane_d(ob.Vector3d(0, 0, 0), ob.Vector3d(0, 0, 1))
print("height above the floor:", floor.signedDistanceTo(moved))
print("dropped onto the floor:", floor.project(moved))

room = ob.AABB_d(ob.Vector3d(0, 0, 0), ob.Vector3d(3, 3, 3))
probe = ob.AABB_d(moved, moved)  # a box of one point
print("inside the room:", room.intersects(probe), "- room centre:", room.computeCenter())

wall = ob.Line_d(ob.Vector3d(0, 3, 0), ob.Vector3d(3, 3, 0))
print("distance to the wall's edge:", wall.distanceTo(moved))

# Properties are the members themselves, not copies: changing one changes the owner.
segment = ob.Line_f(ob.Vector3f(0, 0, 0), ob.Vector3f(1, 0, 0))
start = segment.start
start.x = -1
print(segment.start.x)  # -1.0
print(segment.distanceTo([5, 2, 0]))  # the line is infinite: 2.0; lists are accepted
print(segment)

# Assigning a pose's orientation stores it as given; the constructor normalizes.
held = ob.Pose3d_d(ob.Vector3d(), ob.Quaterniond(2, 0, 0, 0))
print(held.orientation.w)  # 1.0
held.orientation = ob.Quaterniond(2, 0, 0, 0)
print(held.orientation.w, held.apply(ob.Vector3d(1, 2, 3)))  # 2.0, and still no scaling

print(ob.AABB_f().computeCenter())  # the default box is all of space: its centre is NaN
