"""The buffers of vectors, quaternions and matrices, requested from C with
every combination of flags: each request gets what its flags ask for, or
BufferError when the storage cannot be given in the order it asks."""

import ctypes
import itertools
import math

import numpy as np
import pytest
from conftest import cls, dtype_of


class Py_buffer(ctypes.Structure):
    _fields_ = [
        ("buf", ctypes.c_void_p),
        ("obj", ctypes.c_void_p),
        ("len", ctypes.c_ssize_t),
        ("itemsize", ctypes.c_ssize_t),
        ("readonly", ctypes.c_int),
        ("ndim", ctypes.c_int),
        ("format", ctypes.c_char_p),
        ("shape", ctypes.POINTER(ctypes.c_ssize_t)),
        ("strides", ctypes.POINTER(ctypes.c_ssize_t)),
        ("suboffsets", ctypes.POINTER(ctypes.c_ssize_t)),
        ("internal", ctypes.c_void_p),
    ]


get_buffer = ctypes.pythonapi.PyObject_GetBuffer
get_buffer.argtypes = [ctypes.py_object, ctypes.POINTER(Py_buffer), ctypes.c_int]
release = ctypes.pythonapi.PyBuffer_Release
release.argtypes = [ctypes.POINTER(Py_buffer)]

WRITABLE, FORMAT, ND, STRIDES = 0x1, 0x4, 0x8, 0x18
REQUESTS = {
    "simple": 0,
    "nd": ND,
    "strides": STRIDES,
    "c_contiguous": 0x38,
    "f_contiguous": 0x58,
    "any_contiguous": 0x98,
    "indirect": 0x118,
}
KINDS = {
    "Vector2": (2,),
    "Vector3": (3,),
    "Vector4": (4,),
    "Quaternion": (4,),
    "Matrix2": (2, 2),
    "Matrix3": (3, 3),
    "Matrix4": (4, 4),
}


@pytest.mark.parametrize("subclassed", [False, True], ids=["class", "subclass"])
@pytest.mark.parametrize("stem", KINDS)
def test_each_request_gets_what_its_flags_ask(letter, stem, subclassed):
    shape = KINDS[stem]
    count = math.prod(shape)
    kind = cls(stem, letter)
    kind = type("Sub", (kind,), {}) if subclassed else kind
    obj = kind(*range(1, count + 1))  # matrices take their elements row by row
    item = np.dtype(dtype_of(letter)).itemsize
    storage = np.arange(1, count + 1, dtype=dtype_of(letter)).reshape(shape).ravel(order="F")
    for (name, request), extra in itertools.product(
        REQUESTS.items(), [0, WRITABLE, FORMAT, WRITABLE | FORMAT]
    ):
        flags, view = request | extra, Py_buffer()
        # Without strides a consumer assumes C order, which a matrix's storage is not.
        if len(shape) == 2 and name in ("nd", "c_contiguous"):
            with pytest.raises(BufferError):
                get_buffer(obj, ctypes.byref(view), flags)
            assert view.obj is None
            continue
        assert get_buffer(obj, ctypes.byref(view), flags) == 0, name
        try:
            assert (view.obj, view.len, view.itemsize, view.readonly) == (
                id(obj),
                count * item,
                item,
                0,
            )
            assert ctypes.string_at(view.buf, view.len) == storage.tobytes()
            assert view.format == (letter.encode() if flags & FORMAT else None)
            with_shape, with_strides = flags & ND == ND, flags & STRIDES == STRIDES
            assert bool(view.shape) == with_shape and bool(view.strides) == with_strides
            if with_shape:
                assert (view.ndim, tuple(view.shape[: len(shape)])) == (len(shape), shape)
            if with_strides:
                assert tuple(view.strides[: len(shape)]) == (item, item * shape[0])[: len(shape)]
            assert not view.suboffsets
        finally:
            release(ctypes.byref(view))
