"""Batch operations over NumPy arrays, as generalized ufuncs.

Every operation is a ``numpy.ufunc`` with a core signature and one loop for
float32 and one for float64, running the same C++ code per element as the
per-object method, so results are equal bit for bit; ``ray_aabb`` and
``classify_aabb`` are thin functions over theirs that explain an AABB given
where the box arrays go. Broadcasting, ``out=``,
``axes=``, ``dtype=`` and ``__array_ufunc__`` come from NumPy. Layouts:
quaternions (..., 4) scalar first (``quat_from_xyzw`` and ``quat_to_xyzw``
reorder from and to scalar last); vectors and points (..., 3); matrices
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
quat_from_xyzw = _gufuncs.quat_from_xyzw
quat_to_xyzw = _gufuncs.quat_to_xyzw
pose_apply = _gufuncs.pose_apply
pose_compose = _gufuncs.pose_compose
matrix_apply = _gufuncs.matrix_apply
matrix_apply_point = _gufuncs.matrix_apply_point

__all__ = [
    "quat_multiply",
    "quat_rotate",
    "quat_conjugate",
    "quat_inverse",
    "quat_normalize",
    "quat_slerp",
    "quat_to_matrix",
    "matrix_to_quat",
    "quat_to_euler",
    "euler_to_quat",
    "quat_to_rotation_vector",
    "quat_from_rotation_vector",
    "quat_from_xyzw",
    "quat_to_xyzw",
    "pose_apply",
    "pose_compose",
    "matrix_apply",
    "matrix_apply_point",
    "euler_gufunc",
    "transform_points",
    "ray_aabb",
    "classify_aabb",
    "plane_rows",
]


_EULER_KINDS = ("quat_to_euler", "euler_to_quat")
_EULER_UFUNCS = {
    (kind, order.value, convention.value): ufunc
    for (kind, order, convention), ufunc in _gufuncs.euler_ufuncs.items()
}

_ORDER_VALUES = {order.value for order in _ob.eOrder.__members__.values()}
_CONVENTION_VALUES = {convention.value for convention in _ob.eConvention.__members__.values()}


def _euler_ufunc(kind, order, convention, caller):
    if not isinstance(order, _ob.eOrder):
        raise TypeError(f"{caller}: order must be an eOrder member, not {type(order).__name__}")
    if not isinstance(convention, _ob.eConvention):
        raise TypeError(
            f"{caller}: convention must be an eConvention member, not {type(convention).__name__}"
        )
    # eOrder(7) and eConvention(5) are enum values too, of no order or convention.
    if order.value not in _ORDER_VALUES:
        names = ", ".join(f"eOrder.{name}" for name in _ob.eOrder.__members__)
        raise ValueError(f"{caller}: order must be one of {names}, not eOrder({order.value})")
    if convention.value not in _CONVENTION_VALUES:
        raise ValueError(
            f"{caller}: convention must be eConvention.INTRINSIC or "
            f"eConvention.EXTRINSIC, not eConvention({convention.value})"
        )
    return _EULER_UFUNCS[kind, order.value, convention.value]


def euler_gufunc(kind: str, order: _ob.eOrder, convention: _ob.eConvention) -> np.ufunc:
    """The ufunc of ``kind`` ("quat_to_euler", "euler_to_quat") for one order and convention."""
    if kind not in _EULER_KINDS:
        raise ValueError(
            f"euler_gufunc: kind must be 'quat_to_euler' or 'euler_to_quat', not {kind!r}"
        )
    return _euler_ufunc(kind, order, convention, "euler_gufunc")


def quat_to_euler(q, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Euler angles (..., 3) of quaternions (..., 4), as ``Euler.setFromQuaternion``,
    in the order's sequence: (z, y, x) for ``ZYX``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return _euler_ufunc("quat_to_euler", order, convention, "quat_to_euler")(q, **kwargs)


def euler_to_quat(e, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Quaternions (..., 4) of Euler angles (..., 3) in the order's sequence ((z, y, x)
    for ``ZYX``), as ``orvane.to_quaternion``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return _euler_ufunc("euler_to_quat", order, convention, "euler_to_quat")(e, **kwargs)


def transform_points(obj, points, /, **kwargs):
    """Points (..., 3) moved by one pose, 4x4 transform, 3x3 matrix or quaternion.

    The points are cast to the object's precision; the result equals
    ``obj.apply(p)``, ``obj * p`` or ``obj.rotate(p)`` per point, bit for bit.
    """
    ufunc, dtype, operands = _gufuncs.points_mover(obj)
    return ufunc(*operands, np.asarray(points, dtype), **kwargs)


_BOXES = (_ob.AABB_f, _ob.AABB_d)


def _taking_box_arrays(ufunc, hint):
    """The ufunc behind a function that, should an AABB object reach it, says
    to pass the box as arrays. NumPy counts the arguments before anything else
    runs, so a ufunc alone cannot say it."""

    def call(*args, **kwargs):
        try:
            return ufunc(*args, **kwargs)
        except TypeError:
            if any(isinstance(a, _BOXES) for a in (*args, *kwargs.values())):
                raise TypeError(f"{ufunc.__name__}: {hint}") from None
            raise

    call.__name__ = call.__qualname__ = ufunc.__name__
    call.__doc__ = ufunc.__doc__
    call.ufunc = ufunc
    call.signature, call.types, call.nin, call.nout = (
        ufunc.signature,
        ufunc.types,
        ufunc.nin,
        ufunc.nout,
    )
    return call


ray_aabb = _taking_box_arrays(
    _gufuncs.ray_aabb,
    "the batch form takes each box as two arrays (..., 3), box_min and box_max: "
    "ray_aabb(origin, direction, box.min, box.max); orvane.ray_aabb takes one AABB",
)
classify_aabb = _taking_box_arrays(
    _gufuncs.classify_aabb,
    "the batch form takes each box as two arrays (..., 3), box_min and box_max, and the "
    "planes as rows: classify_aabb(box.min, box.max, plane_rows(planes)); "
    "orvane.classify_aabb takes one AABB",
)
