"""Keyframe interpolation over arrays: thin functions over the ufuncs of
``orvane._native.gufuncs``, which find each time's segment by binary
search and raise ValueError for bad keyframes or times."""

from ._native import gufuncs as _ufuncs


def _call(ufunc, args, kwargs):
    # The dispatcher orvane.arrays gives every ufunc, Dask included; looked up
    # per call, as that module imports this one before it builds them.
    from .arrays import _DISPATCHERS

    return _DISPATCHERS[ufunc](*args, **kwargs)


def slerp_keyframes(times, quats, t, /, **kwargs):
    """Orientations (..., 4), w first, at times ``t`` through keyframes
    (``times`` (n,), ``quats`` (n, 4) w first), as SciPy's
    ``Slerp(times, rotations)(t)``: slerp along the shorter arc between the
    neighbouring keyframes.

    ``times`` must increase strictly, n >= 2, and every ``t`` lie within
    [times[0], times[-1]] (NaN does not): ValueError otherwise. A ``t`` at a
    keyframe gives its quaternion normalized, negated where that continues
    the arc from the keyframe before, as SciPy does (the first as it is). A
    zero or NaN quaternion gives NaN. Keyframe sets broadcast too: ``times``
    (..., n), ``quats`` (..., n, 4).
    Given Dask arrays, the result is lazy and the errors come at compute time.
    ``kwargs`` go to the ufunc (``out=``, ``dtype=``...).
    """
    return _call(_ufuncs.slerp_keyframes, (times, quats, t), kwargs)


def pose_keyframes(times, positions, orientations, t, /, **kwargs):
    """``(positions (..., 3), orientations (..., 4))`` at times ``t`` through
    keyframes (``times`` (n,), ``positions`` (n, 3), ``orientations`` (n, 4) w
    first): positions linear between the neighbouring keyframes (exact at
    them), orientations as ``slerp_keyframes``, with its errors."""
    return _call(_ufuncs.pose_keyframes, (times, positions, orientations, t), kwargs)
