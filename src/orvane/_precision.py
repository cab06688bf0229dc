"""Choosing a precision from a ``dtype=`` argument."""

import numpy as np

from . import _native


def ortho(
    left: float,
    right: float,
    bottom: float,
    top: float,
    near: float,
    far: float,
    *,
    dtype: object = np.float64,
) -> object:
    """The orthographic projection of the box [left, right] x [bottom, top] x
    [-near, -far] in camera coordinates onto the cube [-1, 1]^3 (right-handed,
    the camera looking along -z, depth to [-1, 1]). ``dtype`` (float32 or
    float64, default float64) picks Matrix4f or Matrix4d. Equal bounds
    (``near == far``, ``left == right``, ...) give infinities or NaN."""
    return _native._ortho(left, right, bottom, top, near, far, dtype)
