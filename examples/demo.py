"""A short tour of orvane_bindings."""

import orvane_bindings as ob

a = ob.Vector3f(1, 2, 3)
b = ob.Vector3f(0.5)
print("a =", a)
print("a + b =", a + b)
print("a x (0, 0, 1) =", a.cross(ob.Vector3f(0, 0, 1)))
print("|a| =", a.norm())
print("a as a NumPy view:", a.numpy())
