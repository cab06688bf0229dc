"""NumPy: views that share an object's storage, copies, and what arrays are accepted."""

from collections.abc import Callable

import numpy as np
import orvane_bindings as ob

# numpy() is a writable view: no copy, and both sides see every change.
v = ob.Vector3f(1, 2, 3)
view = v.numpy()
view[0] = 10.0
print(v.x, view.dtype, view.shape, v.shape, v.ndim)  # 10.0 float32 (3,) (1, 3) 1
print(np.asarray(v).base is not None)  # the buffer protocol gives a view as well

# A view keeps its object alive.
del v
print(view)  # still [10. 2. 3.]

# Matrices are stored column by column: numpy() is (n, n) in Fortran order,
# flatten() lists the storage.
m = ob.Matrix2f(1, 2, 3, 4)
print(m.numpy(), m.numpy().strides, m.numpy().flags["F_CONTIGUOUS"])  # strides (4, 8)
print(m.flatten())  # [1. 3. 2. 4.]
m.flatten()[1] = 9  # row 1, column 0
print(m[1, 0])

# The conversion functions copy, in both directions.
copy = ob.mat2_to_nparray_f32(m)
copy[0, 0] = -1
print(m[0, 0], copy.flags["OWNDATA"])  # 1.0: the matrix is unchanged
print(ob.nparray_to_vec3_f64([1, 2, 3]))  # anything NumPy can convert
print(ob.quat_to_nparray_f64(ob.Quaterniond()))  # w first: [1. 0. 0. 0.]

# Vector and matrix constructors read buffers as they are: the dtype must match.
print(ob.Vector3f(np.array([1, 2, 3], np.float32)), ob.Vector3d(np.zeros((3, 1))))
print(ob.Matrix2d(np.array([[1.0, 2.0], [3.0, 4.0]])))  # element [i][j] is row i, column j
print(ob.Vector3f(np.arange(6, dtype=np.float32)[::2]))  # strided input is read through its strides
for bad in (np.zeros(3), np.zeros(3, np.int32), np.zeros(4, np.float32)):
    try:
        ob.Vector3f(bad)
    except RuntimeError as error:
        print(f"{bad.dtype}{bad.shape}: {error}")

# Array parameters of the quaternion and geometry classes convert instead.
print(ob.Quaternionf.RotationZ(0).rotate(np.array([1, 2, 3])))  # int64 array accepted
print(ob.Pose3d_f().apply([1, 2, 3]))  # a fresh float32 array
try:
    ob.Line_f().distanceTo([1, 2])
except RuntimeError as error:
    print(error)  # Incompatible array size, expected 3 elements

# NumPy defers to the classes: a NumPy scalar is the number it is, while an
# array operand raises instead of being combined element by element.
print(np.float64(2.0) * ob.Vector3d(1, 2, 3))  # Vector3d(x=2.0, y=4.0, z=6.0)
# The stubs reject these operands too.
operations: list[Callable[[], object]] = [
    lambda: ob.Matrix4d.Identity() * np.ones(4),  # type: ignore[operator]
    lambda: np.ones(4) * ob.Quaterniond(),  # type: ignore[operator]
    lambda: np.eye(3) @ ob.Matrix3d(),  # type: ignore[operator]
]
for operation in operations:
    try:
        operation()
    except TypeError:
        print("TypeError: use m * Vector4d(...) or orvane.arrays for arrays")
