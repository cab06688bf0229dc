"""A tour of orvane_bindings: vectors, transforms, rotations, Euler angles, geometry, a camera."""

import runpy
from pathlib import Path

import orvane_bindings as ob

HERE = Path(__file__).resolve().parent
TOUR = ["transforms.py", "rotations.py", "euler_angles.py", "geometry.py", "camera.py"]

print("== vectors")
a = ob.Vector3f(1, 2, 3)
b = ob.Vector3f(0.5)
print("a =", a)
print("a + b =", a + b)
print("a x (0, 0, 1) =", a.cross(ob.Vector3f(0, 0, 1)))
print("|a| =", a.norm())
print("a as a NumPy view:", a.numpy())

for name in TOUR:
    print()
    print("==", name.removesuffix(".py"))
    runpy.run_path(str(HERE / name), run_name="__main__")
