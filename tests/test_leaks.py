"""Calls that succeed and calls that fail leave no reference and no memory
behind: argument reference counts come back to where they were, and memory
stays flat over a few hundred thousand mixed calls."""

import array
import gc
import os
import sys
import tracemalloc
from pathlib import Path

import numpy as np
import orvane_bindings as ob
import pytest

import orvane as ov

EXPECTED_FAILURES = (RuntimeError, TypeError, IndexError, ValueError)


def arguments():
    """Arguments of every kind the array-taking callables meet, good and bad."""
    released = memoryview(b"abcd")
    released.release()
    return {
        "float32 (3,)": np.array([1, 2, 3], np.float32),
        "float64 (3,)": np.array([1, 2, 3], np.float64),
        "float32 (3, 3)": np.arange(9, dtype=np.float32).reshape(3, 3),
        "float64 (4,) strided": np.arange(8.0)[::2],
        "int (3,)": np.array([1, 2, 3]),
        "complex (3,)": np.array([1j, 2, 3]),
        "object (3,)": np.array([1, None, "x"], dtype=object),
        "datetime (3,)": np.array(["2020-01-01"] * 3, "M8[D]"),
        "array.array f": array.array("f", [1, 2, 3]),
        "memoryview d": memoryview(array.array("d", [1, 2, 3, 4])),
        "released memoryview": released,
        "bytes": b"123",
        "list": [1.0, 2.0, 3.0],
        "junk list": [None, "a", []],
        "None": None,
        "huge int": 10**400,
        "Vector3f": ob.Vector3f(1, 2, 3),
        "Quaterniond": ob.Quaterniond(1, 0, 0, 0),
    }


def calls():
    """One call of each array-taking callable, most of them of both precisions."""
    m3f, m2d = ob.Matrix3f(), ob.Matrix2d()
    qf, qd = ob.Quaternionf(), ob.Quaterniond()
    line, plane, pose = ob.Line_f(), ob.Plane_d(), ob.Pose3d_f()

    def column(x):
        m3f[1] = x

    def bad_column(x):
        m2d[5] = x

    return [
        ob.Vector3f,
        ob.Vector4d,
        ob.Quaternionf,
        ob.Quaterniond,
        ob.Matrix3f,
        ob.Matrix2d,
        column,
        bad_column,
        ob.nparray_to_vec3_f32,
        ob.nparray_to_quat_f64,
        ob.nparray_to_mat3_f32,
        ob.nparray_to_mat2_f64,
        qf.rotate,
        qd.rotate,
        line.distanceTo,
        plane.project,
        plane.signedDistanceTo,
        pose.apply,
        lambda x: pose * x,
        lambda x: ob.Line_f(x, x),
        lambda x: ob.AABB_d(x, [0, 0, 0]),
    ]


def call_quietly(call, x):
    try:
        call(x)
    except EXPECTED_FAILURES:
        pass


def test_calls_keep_argument_reference_counts():
    args = arguments()
    every_call = calls()
    for x in args.values():  # first calls may cache types and conversions
        for call in every_call:
            call_quietly(call, x)
    gc.collect()
    before = {name: sys.getrefcount(x) for name, x in args.items()}
    for _ in range(200):
        for x in args.values():
            for call in every_call:
                call_quietly(call, x)
    gc.collect()
    assert {name: sys.getrefcount(x) for name, x in args.items()} == before


@pytest.mark.parametrize(
    "take",
    [
        lambda v: v.numpy(),
        np.asarray,
        memoryview,
        lambda v: ob.Line_f(v, v).start,
        lambda v: ob.vec3_to_nparray_f32(v),
    ],
    ids=["numpy", "asarray", "memoryview", "property", "fresh array"],
)
def test_views_release_their_owner(take):
    owner = ob.Vector3f(1, 2, 3)
    before = sys.getrefcount(owner)
    for _ in range(2000):
        take(owner)
    gc.collect()
    assert sys.getrefcount(owner) == before


def test_properties_release_their_owner():
    line, euler = ob.Line_d(), ob.Euler_f()
    before = sys.getrefcount(line), sys.getrefcount(euler)
    for _ in range(2000):
        line.start.numpy()
        line.end = ob.Vector3d(1, 2, 3)
        fetched = euler.order, euler.convention
    del fetched
    gc.collect()
    assert (sys.getrefcount(line), sys.getrefcount(euler)) == before


def resident_bytes():
    return int(Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def sanitizer_allocator():
    """The sanitizer's allocator keeps freed memory in quarantine, so the
    resident size of an instrumented process grows without any leak."""
    return "libasan" in Path("/proc/self/maps").read_text()


def mixed_calls(count):
    args = list(arguments().values())
    every_call = calls()
    done = 0
    while done < count:
        for x in args:
            for call in every_call:
                call_quietly(call, x)
        done += len(args) * len(every_call)


@pytest.mark.skipif(not Path("/proc/self/statm").exists(), reason="needs /proc")
def test_memory_stays_flat_over_many_calls():
    mixed_calls(20_000)  # warm-up: caches, free lists, allocator pools
    gc.collect()
    rss_before = resident_bytes()
    mixed_calls(250_000)
    gc.collect()
    rss_growth = resident_bytes() - rss_before
    tracemalloc.start()  # slows every allocation down, so over fewer calls
    try:
        python_before = tracemalloc.get_traced_memory()[0]
        mixed_calls(50_000)
        gc.collect()
        python_growth = tracemalloc.get_traced_memory()[0] - python_before
    finally:
        tracemalloc.stop()
    # A leak of one small block per call would be megabytes.
    assert python_growth < 256 * 1024
    if not sanitizer_allocator():
        assert rss_growth < 4 * 1024 * 1024


def fast_calls():
    """One call of each kind of fast entry: results, floats, properties,
    constructors, refusals that end in the dispatcher's error."""
    a, b = ob.Vector3f(1, 2, 3), ob.Vector3d(4, 5, 6)
    m, q = ob.Matrix4f(2.0, 1.0, 3.0, 0.5), ob.Quaterniond(0.8, 0.2, -0.3, 0.4)
    line, e = ob.Line_f(a, a + a), ob.Euler_d()

    def set_x():
        a.x = 1.5
        a[2] = 3

    return (a, b, m, q, line, e), [
        lambda: ob.dot(b, b),
        lambda: a.dot(a),
        lambda: ob.normalize(a),
        lambda: a.cross(a),
        lambda: ob.lerp(b, b, 0.5),
        lambda: a.x,
        set_x,
        lambda: a[1],
        lambda: m.inverse(),
        lambda: m.determinant(),
        lambda: ob.Matrix4f.RotationZ(0.3),
        lambda: q.normalize(),
        lambda: ob.Vector3f(1.0, 2.0, 3.0),
        lambda: ob.Euler_d(q),
        lambda: ob.Quaterniond(2),
        lambda: line.distanceTo(a),
        lambda: a + a,
        lambda: m * m,
        lambda: 2.0 * q,
        lambda: call_quietly(ob.dot, a),
        lambda: call_quietly(lambda x: ob.dot(x, b), a),
        lambda: call_quietly(lambda x: a.__getitem__(x), 7),
        lambda: m[1],
        lambda: -a,
        lambda: call_quietly(lambda x: a[x], 7),
        lambda: ov.slerp(q, q, 0.5),
        lambda: ov.distance(b, b),
        lambda: ov.aabb_contains(ob.AABB_f(a, a), a),
    ]


@pytest.mark.skipif(not Path("/proc/self/statm").exists(), reason="needs /proc")
def test_fast_calls_keep_counts_and_memory_flat():
    watched, every_call = fast_calls()
    for call in every_call:
        call()
    gc.collect()
    counts = [sys.getrefcount(x) for x in watched]
    rss_before = resident_bytes()
    for call in every_call:
        for _ in range(200_000):
            call()
    gc.collect()
    assert [sys.getrefcount(x) for x in watched] == counts
    if not sanitizer_allocator():
        assert resident_bytes() - rss_before < 4 * 1024 * 1024
