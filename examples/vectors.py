"""Vectors: constructors, arithmetic, the module-level functions, indexing and equality."""

import orvane_bindings as ob

# The last value given fills the remaining components.
print(ob.Vector3f(2, 5))  # Vector3f(x=2.0, y=5.0, z=5.0)
print(ob.Vector4d(1, 2, 3))  # Vector4d(x=1.0, y=2.0, z=3.0, w=3.0)

a = ob.Vector3d(1, 2, 3)
b = ob.Vector3d(4, 5, 6)
print(a + b, a - b, -a)
print(a * b)  # component by component: neither dot nor cross
print(a * 2, 2 * a)  # scaling works from both sides
print(a.dot(b), ob.dot(a, b))  # methods and module functions agree
print(a.cross(b), ob.cross(a, b))  # 3-vectors only
print(a.norm(), a.squareNorm(), a.normalize())
print(ob.lerp(a, b, 0.25), ob.lerp(a, b, 2))  # t is not clamped: 2 extrapolates

# normalize returns a new vector; normalize_ changes the vector itself.
c = ob.Vector3d(3, 0, 4)
c.normalize_()
print(c)  # Vector3d(x=0.6, y=0.0, z=0.8)
print(ob.Vector3d().normalize())  # the zero vector gives NaN, not an error

# Components by name or index; negative indices are refused.
c.x = 1.0
c[1] = 2.0
print(c[0], c[1], c[2])
try:
    c[-1]
except IndexError as error:
    print("IndexError", repr(str(error)))  # the message is empty

# The float classes store single precision: the repr shows the stored value.
print(ob.Vector2f(0.1, 1))  # Vector2f(x=0.10000000149011612, y=1.0)

# Equality is an absolute tolerance of 1e-6 per component.
print(ob.Vector2d(0, 0) == ob.Vector2d(5e-7, 0))  # True
print(ob.Vector2f(0, 0) == ob.Vector2f(1e-6, 0))  # False: a difference of 1e-6 is unequal
print(ob.Vector2d(float("nan"), 1) == ob.Vector2d(7, 1))  # True: NaN never makes a difference
print(ob.Vector2d(1, 2) != ob.Vector2d(1, 2))  # False: != is `not ==`
# Comparing with anything but the same class raises; the stubs reject it too.
for other in (3, ob.Vector2f(1, 2)):
    try:
        ob.Vector2d(1, 2) == other  # type: ignore[operator]
    except TypeError:
        print("== with", type(other).__name__, "raises TypeError")
try:
    {ob.Vector2d(1, 2)}
except TypeError:
    print("vectors are unhashable")
