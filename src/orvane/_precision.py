"""Choosing a precision: from a ``dtype=`` argument, or by converting a value."""

import numpy as np

import orvane_bindings

from . import _native
from ._pickling import CLASS_NAMES

_SUFFIXES = {np.dtype(np.float32): "_f32", np.dtype(np.float64): "_f64"}


def native_suffix(dtype: object) -> str:
    """The suffix of the native function for ``dtype`` (float32 or float64, a
    NumPy type or its name)."""
    try:
        resolved = np.dtype(dtype)  # type: ignore[call-overload]
    except TypeError:
        resolved = None
    if resolved not in _SUFFIXES:
        raise TypeError(f"dtype must be float32 or float64, not {dtype!r}")
    return _SUFFIXES[resolved]


def _converters(prefix: str) -> dict[type, object]:
    return {getattr(orvane_bindings, n): getattr(_native, prefix + n) for n in CLASS_NAMES}


_TO_FLOAT = _converters("_to_float_")
_TO_DOUBLE = _converters("_to_double_")


def _convert(table: dict, x: object, name: str) -> object:
    for cls in type(x).__mro__:
        convert = table.get(cls)
        if convert is not None:
            return convert(x)
    raise TypeError(f"{name}() takes an orvane value, not {type(x).__name__}")


def to_float(x: object) -> object:
    """``x`` in single precision: the same class with the ``f``/``_f`` suffix,
    every value rounded to the nearest float32. A float ``x`` is copied."""
    return _convert(_TO_FLOAT, x, "to_float")


def to_double(x: object) -> object:
    """``x`` in double precision: the same class with the ``d``/``_d`` suffix;
    every float32 value is exact in float64. A double ``x`` is copied."""
    return _convert(_TO_DOUBLE, x, "to_double")


def ortho(left: float, right: float, bottom: float, top: float, near: float, far: float, *,
          dtype: object = np.float64) -> object:
    """The orthographic projection of the box [left, right] x [bottom, top] x
    [-near, -far] in camera coordinates onto the cube [-1, 1]^3 (right-handed,
    the camera looking along -z, depth to [-1, 1]). ``dtype`` (float32 or
    float64, default float64) picks Matrix4f or Matrix4d. Equal bounds
    (``near == far``, ``left == right``, ...) give infinities or NaN."""
    return getattr(_native, "_ortho" + native_suffix(dtype))(left, right, bottom, top, near, far)
