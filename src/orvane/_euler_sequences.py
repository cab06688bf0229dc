"""The batch forms that take an Euler sequence or a tolerance: thin functions
over the ufuncs of orvane._native.gufuncs, lazy where those are."""

import math

import numpy as np

from ._native import gufuncs as _gufuncs

_RULE = (
    "seq must be three of the letters X, Y, Z, all upper case for intrinsic rotations (about "
    "the axes as they turn) or all lower case for extrinsic ones (about the fixed axes), with "
    "no axis twice in a row: one of the 12 Tait-Bryan sequences such as 'XYZ' or 'zyx', or of "
    "the 12 proper Euler sequences such as 'ZXZ' or 'yzy'"
)
# The public function of each ufunc (orvane.arrays binds them).
_FUNCTIONS = {}


def bind(dispatchers):
    _FUNCTIONS.update({key: dispatchers[u] for key, u in _gufuncs.euler_sequence_ufuncs.items()})
    _FUNCTIONS["quat_approx_equal"] = dispatchers[_gufuncs.quat_approx_equal]


def _sequence_function(kind, seq):
    if not isinstance(seq, str):
        raise TypeError(
            f"{kind}: seq must be a str such as 'XYZ' or 'zxz', not {type(seq).__name__}"
        )
    try:
        return _FUNCTIONS[kind, seq]
    except KeyError:
        raise ValueError(f"{kind}: {_RULE}; got {seq!r}") from None


def quat_from_euler(angles, /, seq, degrees=False, **kwargs):
    """Quaternions (..., 4) of Euler angles (..., 3) in the order of ``seq``, as
    ``orvane.quat_from_euler``: upper case ('XYZ') intrinsic, lower case ('xyz')
    extrinsic, all 24 sequences; radians, or degrees with ``degrees=True``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    f = _sequence_function("quat_from_euler", seq)
    return f(angles, math.pi / 180 if degrees else 1.0, **kwargs)


def euler_from_quat(q, /, seq, degrees=False, **kwargs):
    """Euler angles (..., 3) in the order of ``seq`` of quaternions (..., 4), as
    ``orvane.euler_from_quat``: the first and third in (-pi, pi], the second in
    [-pi/2, pi/2] (Tait-Bryan) or [0, pi] (proper); at gimbal lock the third is 0.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    f = _sequence_function("euler_from_quat", seq)
    return f(q, 180 / math.pi if degrees else 1.0, **kwargs)


def _runs_in_float32(operands, dtype):
    """Whether the ufunc picks its float32 loop: as its type resolution does,
    integers and bools go to float64 unless something float32 is among them."""
    if dtype is not None:
        return np.dtype(dtype) == np.float32
    types = []
    for a in operands:
        t = getattr(a, "dtype", None)
        types.append(np.asarray(a).dtype if t is None else np.dtype(t))
    if all(t.kind in "biu" or t == np.float64 for t in types):
        return False
    return bool(np.can_cast(np.result_type(*types), np.float32))


def quat_approx_equal(q0, q1, /, atol=None, degrees=False, **kwargs):
    """Whether quaternions (..., 4) q0 and q1 are the same rotation within ``atol``
    radians (degrees with ``degrees=True``), as ``orvane.quat_approx_equal``: a bool
    array. ``atol`` defaults to 1e-8, or 1e-5 where the float32 loop runs.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    if atol is None:
        atol = 1e-5 if _runs_in_float32((q0, q1), kwargs.get("dtype")) else 1e-8
    elif degrees:
        atol = float(atol) * (math.pi / 180)
    return _FUNCTIONS["quat_approx_equal"](q0, q1, atol, **kwargs)
