"""Batch operations over NumPy arrays, as generalized ufuncs.

Every operation is a ``numpy.ufunc`` with a core signature and one loop for
float32 and one for float64, running the same C++ code per element as the
per-object method, so results are equal bit for bit. Broadcasting, ``out=``,
``axes=``, ``dtype=`` and ``__array_ufunc__`` come from NumPy. Layouts:
quaternions (..., 4) scalar first; vectors and points (..., 3); matrices
(..., n, n) indexed [row, column]; Euler angles (..., 3) in the order's
sequence: element k is the angle of the k-th rotation the order names, so
``ZYX`` angles are (z, y, x) for either convention.
"""

import numpy as np
import orvane_bindings as _ob

from ._native import gufuncs as _gufuncs
from ._native import plane_rows

quat_multiply = _gufuncs.quat_multiply
quat_rotate = _gufuncs.quat_rotate
quat_conjugate = _gufuncs.quat_conjugate
quat_inverse = _gufuncs.quat_inverse
quat_normalize = _gufuncs.quat_normalize
quat_slerp = _gufuncs.quat_slerp
quat_to_matrix = _gufuncs.quat_to_matrix
matrix_to_quat = _gufuncs.matrix_to_quat
quat_to_rotation_vector = _gufuncs.quat_to_rotation_vector
quat_from_rotation_vector = _gufuncs.quat_from_rotation_vector
pose_apply = _gufuncs.pose_apply
pose_compose = _gufuncs.pose_compose
matrix_apply = _gufuncs.matrix_apply
matrix_apply_point = _gufuncs.matrix_apply_point
ray_aabb = _gufuncs.ray_aabb
classify_aabb = _gufuncs.classify_aabb

__all__ = [
    "quat_multiply", "quat_rotate", "quat_conjugate", "quat_inverse", "quat_normalize",
    "quat_slerp", "quat_to_matrix", "matrix_to_quat", "quat_to_euler", "euler_to_quat",
    "quat_to_rotation_vector", "quat_from_rotation_vector", "pose_apply", "pose_compose",
    "matrix_apply", "matrix_apply_point", "euler_gufunc", "transform_points",
    "ray_aabb", "classify_aabb", "plane_rows",
]


def euler_gufunc(kind: str, order: _ob.eOrder, convention: _ob.eConvention) -> np.ufunc:
    """The ufunc of ``kind`` ("quat_to_euler", "euler_to_quat") for one order and convention."""
    if not isinstance(order, _ob.eOrder):
        raise TypeError(f"order must be an eOrder member, not {type(order).__name__}")
    if not isinstance(convention, _ob.eConvention):
        raise TypeError(f"convention must be an eConvention member, not "
                        f"{type(convention).__name__}")
    return getattr(_gufuncs, f"{kind}_{order.name}_{convention.name}")


def quat_to_euler(q, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Euler angles (..., 3) of quaternions (..., 4), as ``Euler.setFromQuaternion``,
    in the order's sequence: (z, y, x) for ``ZYX``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return euler_gufunc("quat_to_euler", order, convention)(q, **kwargs)


def euler_to_quat(e, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Quaternions (..., 4) of Euler angles (..., 3) in the order's sequence ((z, y, x)
    for ``ZYX``), as ``orvane.to_quaternion``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return euler_gufunc("euler_to_quat", order, convention)(e, **kwargs)


# How each class moves points: the ufunc and the arrays it takes from the object.
_MOVERS = {
    **{cls: (pose_apply, lambda o: (o.position, o.orientation))
       for cls in (_ob.Pose3d_f, _ob.Pose3d_d)},
    **{cls: (matrix_apply_point, lambda o: (o,)) for cls in (_ob.Matrix4f, _ob.Matrix4d)},
    **{cls: (matrix_apply, lambda o: (o,)) for cls in (_ob.Matrix3f, _ob.Matrix3d)},
    **{cls: (quat_rotate, lambda o: (o,)) for cls in (_ob.Quaternionf, _ob.Quaterniond)},
}
_DTYPES = {cls: np.float32 if cls.__name__[-1] == "f" else np.float64 for cls in _MOVERS}


def transform_points(obj, points, /, **kwargs):
    """Points (..., 3) moved by one pose, 4x4 transform, 3x3 matrix or quaternion.

    The points are cast to the object's precision; the result equals
    ``obj.apply(p)``, ``obj * p`` or ``obj.rotate(p)`` per point, bit for bit.
    """
    try:
        ufunc, operands = _MOVERS[type(obj)]
    except KeyError:
        raise TypeError(f"cannot transform points by a {type(obj).__name__}") from None
    dtype = _DTYPES[type(obj)]
    values = [np.asarray(v, dtype) for v in operands(obj)]
    return ufunc(*values, np.asarray(points, dtype), **kwargs)
