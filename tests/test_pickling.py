"""Every class pickles and copies exactly once orvane is imported, and only then."""

import copy
import copyreg
import pickle
import struct
import subprocess
import sys

import numpy as np
import pytest
from conftest import cls, dtype_of

import orvane as ov

SPECIAL = [0.0, -0.0, np.inf, -np.inf, np.nan, 1e-45, -3.5]


def scalars(letter, n, rng):
    """n values of the precision: special values, random bit patterns (NaN
    payloads included) and ordinary numbers."""
    dtype = dtype_of(letter)
    bits = rng.integers(0, 2 ** (8 * np.dtype(dtype).itemsize), size=n, dtype=np.uint64)
    random_bits = bits.astype(f"u{np.dtype(dtype).itemsize}").view(dtype)
    special = np.array([*SPECIAL, np.finfo(dtype).max], dtype)
    pool = np.concatenate([special, random_bits, rng.normal(size=n).astype(dtype)])
    return rng.permutation(pool)[:n]


def vector(letter, n, rng):
    return cls(f"Vector{n}", letter)(scalars(letter, n, rng))


def build(name, letter, rng):
    if name.startswith("Vector"):
        return vector(letter, int(name[-1]), rng)
    if name.startswith("Matrix"):
        n = int(name[-1])
        return cls(name, letter)(scalars(letter, n * n, rng).reshape(n, n))
    if name == "Quaternion":
        return cls(name, letter)(scalars(letter, 4, rng))
    if name == "Euler_":
        e = cls(name, letter)(*map(float, scalars(letter, 3, rng)))
        e.order, e.convention = ov.eOrder.YXZ, ov.eConvention.EXTRINSIC
        return e
    if name == "Pose3d_":
        p = cls(name, letter)()
        p.position = vector(letter, 3, rng)
        p.orientation = cls("Quaternion", letter)(scalars(letter, 4, rng))  # unnormalized
        return p
    return cls(name, letter)(vector(letter, 3, rng), vector(letter, 3, rng))


FIELDS = {
    "Euler_": ("x", "y", "z", "order", "convention"),
    "Pose3d_": ("position", "orientation"),
    "Line_": ("start", "end"),
    "Plane_": ("point", "normal"),
    "AABB_": ("min", "max"),
}


def snapshot(obj, letter):
    """Every stored bit, read through the public interface only."""
    name = type(obj).__name__
    for stem, fields in FIELDS.items():
        if name.startswith(stem):
            values = [getattr(obj, f) for f in fields]
            return [
                np.array(v, dtype_of(letter)).tobytes()
                if isinstance(v, float)
                else int(v)
                if stem == "Euler_"
                else bytes(memoryview(v))
                for v in values
            ]
    return bytes(memoryview(obj))


NAMES = [
    "Vector2",
    "Vector3",
    "Vector4",
    "Matrix2",
    "Matrix3",
    "Matrix4",
    "Quaternion",
    "Euler_",
    "Pose3d_",
    "Line_",
    "Plane_",
    "AABB_",
]
COPIES = [copy.copy, copy.deepcopy] + [
    lambda o, p=p: pickle.loads(pickle.dumps(o, protocol=p)) for p in range(2, 6)
]


@pytest.mark.parametrize("name", NAMES)
def test_round_trips_keep_every_bit(name, letter):
    rng = np.random.default_rng(7)
    for _ in range(20):
        obj = build(name, letter, rng)
        for make_copy in COPIES:
            clone = make_copy(obj)
            assert type(clone) is type(obj) and clone is not obj
            assert snapshot(clone, letter) == snapshot(obj, letter)


def run(code):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)


def test_unpickling_needs_only_orvane_and_the_base_module_alone_does_not_pickle():
    data = pickle.dumps(ov.Pose3d_d())
    loaded = run(
        f"import pickle, sys; p = pickle.loads({data!r}); "
        "print(type(p).__name__, 'orvane' in sys.modules)"
    )
    assert loaded.stdout.split() == ["Pose3d_d", "True"], loaded.stderr
    alone = run(
        "import pickle, orvane_bindings as ob\n"
        "try:\n    pickle.dumps(ob.Vector3f())\nexcept TypeError:\n    print('refused')"
    )
    assert alone.stdout.strip() == "refused", alone.stderr


def test_a_state_of_the_wrong_size_is_refused():
    with pytest.raises(ValueError, match="state of the wrong size"):
        ov._pickling.restore("Vector3f", b"\0" * 11)


def hand_packed(name, letter):
    """A value with the numbers 1, 2, ... and its state packed by hand: the
    stored numbers in native byte order (a matrix column by column), then an
    Euler angle's order (one byte) and convention (an int)."""
    n = int(name[-1]) if name[-1].isdigit() else 0
    count = {"Vector": n, "Matrix": n * n, "Quaternion": 4, "Euler_": 3, "Pose3d_": 7}.get(
        name.rstrip("234"), 6
    )
    numbers = np.arange(1, count + 1)
    if name.startswith("Vector") or name == "Quaternion":
        obj = cls(name, letter)(*map(float, numbers))
    elif name.startswith("Matrix"):
        obj = cls(name, letter)(numbers.reshape(n, n).astype(dtype_of(letter)))
        numbers = numbers.reshape(n, n).T.ravel()
    elif name == "Euler_":
        obj = cls(name, letter)(1, 2, 3)
        obj.order, obj.convention = ov.eOrder.YXZ, ov.eConvention.EXTRINSIC
    elif name == "Pose3d_":
        obj = cls(name, letter)()
        obj.position = cls("Vector3", letter)(1, 2, 3)
        obj.orientation = cls("Quaternion", letter)(4, 5, 6, 7)
    else:
        obj = cls(name, letter)(cls("Vector3", letter)(1, 2, 3), cls("Vector3", letter)(4, 5, 6))
    state = struct.pack(f"={count}{letter}", *numbers)
    return obj, state + (struct.pack("=Bi", 4, 1) if name == "Euler_" else b"")


@pytest.mark.parametrize("name", NAMES)
def test_the_state_is_the_one_pickles_have_always_held(name, letter):
    obj, state = hand_packed(name, letter)
    restore, (class_name, made) = copyreg.dispatch_table[type(obj)](obj)
    assert (restore, class_name, made) == (ov._pickling.restore, type(obj).__name__, state)
    assert copyreg.dispatch_table[type(obj)](restore(class_name, state))[1][1] == state
