"""The package's functions take tuples, lists and NumPy arrays where they take
a vector or a quaternion, by position or by keyword."""

import numpy as np

import orvane as ov

# Numbers stand for vectors and quaternions. With no object among the
# arguments the result is float64, as NumPy reads a list...
view = ov.look_at(eye=(4, 3, 5), target=(0, 0, 0), up=(0, 0, 1))
print(type(view).__name__)  # Matrix4d

# ... unless the arrays among them are float32, or dtype= says otherwise.
axis = np.array([0, 0, 1], np.float32)
print(type(ov.quat_from_axis_angle(axis, 0.5)).__name__)  # Quaternionf
print(type(ov.slerp((1, 0, 0, 0), [0, 0, 0, 1], 0.3, dtype=np.float32)).__name__)

# An object fixes the precision of the numbers beside it.
print(ov.distance(ov.Vector3f(1, 2, 3), [1, 2, 4]))  # 1.0

# The result is the object call's, bit for bit.
q = ov.Quaterniond(0.8, 0.2, -0.3, 0.4)
from_numbers = ov.rotation_vector((0.8, 0.2, -0.3, 0.4))
print(from_numbers.numpy().tobytes() == ov.rotation_vector(q).numpy().tobytes())  # True

# A mistake says what to pass instead.
for mistake in (
    lambda: ov.look_at((1, 2, 3, 4), (0, 0, 0), (0, 0, 1)),
    lambda: ov.slerp(np.zeros((5, 4)), (1, 0, 0, 0), 0.5),
    lambda: ov.look_at(ov.Vector3f(1, 2, 3), ov.Vector3d(0, 0, 0), (0, 0, 1)),
):
    try:
        mistake()
    except (TypeError, ValueError) as e:
        print(f"{type(e).__name__}: {e}")
