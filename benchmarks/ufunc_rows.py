"""Benchmark rows of the ufuncs of orvane.arrays on 10**6 elements, one
thread: those of only + - * / and sqrt against numpy.copyto of as many bytes
as they read and write (memory speed), those with a sine, an arctangent or
another transcendental function against SciPy's Rotation and RigidTransform
doing the same.

Run alone with `python benchmarks/ufunc_rows.py`; bench.py adds the section
to its report.
"""

import contextlib
import math
import time
from functools import partial

import numpy as np
import orvane_bindings as ob
from scipy.spatial.transform import RigidTransform, Rotation, Slerp

import orvane.arrays as oa

N = 10**6
ROUNDS = 7
COPY_LIMIT = 1.5  # ours/copy
SCIPY_FACTOR = 3.0  # SciPy/ours
SCIPY_ROUNDS = 3  # a SciPy call may take seconds

# (label, statement); `out` is the call's own result, made beforehand.
ARITHMETIC = [
    ("quat_multiply", "oa.quat_multiply(q, q2, out=out)"),
    ("quat_rotate", "oa.quat_rotate(q, v, out=out)"),
    ("quat_conjugate", "oa.quat_conjugate(q, out=out)"),
    ("quat_inverse", "oa.quat_inverse(q, out=out)"),
    ("quat_normalize", "oa.quat_normalize(q, out=out)"),
    ("quat_from_xyzw", "oa.quat_from_xyzw(q, out=out)"),
    ("quat_to_xyzw", "oa.quat_to_xyzw(q, out=out)"),
    ("quat_to_matrix", "oa.quat_to_matrix(q, out=out)"),
    ("matrix_to_quat", "oa.matrix_to_quat(m3, out=out)"),
    ("quat_from_matrix", "oa.quat_from_matrix(m3, out=out)"),
    ("pose_apply", "oa.pose_apply(t, q, v, out=out)"),
    ("pose_apply, one pose", "oa.pose_apply(t0, q0, v, out=out)"),
    ("pose_compose", "oa.pose_compose(t, q, t2, q2, out=out)"),
    ("pose_inverse", "oa.pose_inverse(t, q, out=out)"),
    ("pose_to_matrix", "oa.pose_to_matrix(t, q, out=out)"),
    ("pose_from_matrix", "oa.pose_from_matrix(T, out=out)"),
    ("pose_to_dual_quat", "oa.pose_to_dual_quat(t, q, out=out)"),
    ("pose_from_dual_quat", "oa.pose_from_dual_quat(dq, out=out)"),
    ("transform_points, a pose", "oa.transform_points(pose, v, out=out)"),
    ("transform_points, a Matrix4", "oa.transform_points(mat, v, out=out)"),
    ("matrix_apply (4x4)", "oa.matrix_apply(g4, v4, out=out)"),
    ("matrix_apply (3x3)", "oa.matrix_apply(m3, v, out=out)"),
    ("matrix_apply_point", "oa.matrix_apply_point(T, v, out=out)"),
    ("matrix_inverse (4x4)", "oa.matrix_inverse(g4, out=out)"),
    ("matrix_inverse (3x3)", "oa.matrix_inverse(g3, out=out)"),
    ("matrix_inverse (2x2)", "oa.matrix_inverse(g2, out=out)"),
    ("matrix_determinant (4x4)", "oa.matrix_determinant(g4, out=out)"),
    ("matrix_determinant (3x3)", "oa.matrix_determinant(g3, out=out)"),
    ("matrix_determinant (2x2)", "oa.matrix_determinant(g2, out=out)"),
    ("decompose", "oa.decompose(trs, out=out)"),
    ("look_at", "oa.look_at(eye, target, up, out=out)"),
    ("project", "oa.project(v, vp, viewport, out=out)"),
    ("unproject", "oa.unproject(window, vp, viewport, out=out)"),
    ("ray_aabb", "oa.ray_aabb(o, d, lo, hi, out=out)"),
    ("classify_aabb", "oa.classify_aabb(lo, hi, planes, out=out)"),
    ("ray_triangle", "oa.ray_triangle(o, d, a, b, c, out=out)"),
    ("closest_point_on_triangle", "oa.closest_point_on_triangle(v, a, b, c, out=out)"),
    ("ray_sphere", "oa.ray_sphere(o, d, centre, radius, out=out)"),
]

# (label, ours, SciPy's), float64; SciPy's objects are built beforehand.
TRANSCENDENTAL = [
    ("quat_to_euler (XYZ)", "oa.quat_to_euler(q)", "r.as_euler('XYZ')"),
    ("euler_to_quat (XYZ)", "oa.euler_to_quat(e)", "R.from_euler('XYZ', e)"),
    ("euler_from_quat (zxz)", "oa.euler_from_quat(q, 'zxz')", "r.as_euler('zxz')"),
    ("quat_from_euler (ZYX)", "oa.quat_from_euler(e, 'ZYX')", "R.from_euler('ZYX', e)"),
    ("quat_slerp (t = 0.3)", "oa.quat_slerp(q, q2, 0.3)", "r * (r.inv() * r2) ** 0.3"),
    ("quat_to_rotation_vector", "oa.quat_to_rotation_vector(q)", "r.as_rotvec()"),
    ("quat_from_rotation_vector", "oa.quat_from_rotation_vector(rv)", "R.from_rotvec(rv)"),
    ("quat_angle", "oa.quat_angle(q)", "r.magnitude()"),
    ("quat_angle_between", "oa.quat_angle_between(q, q2)", "(r.inv() * r2).magnitude()"),
    ("quat_approx_equal", "oa.quat_approx_equal(q, q2, 1e-8)", "r.approx_equal(r2, 1e-8)"),
    (
        "random_quat",
        "oa.random_quat(N, rng=np.random.default_rng(1))",
        "R.random(N, rng=np.random.default_rng(1))",
    ),
    ("slerp_keyframes (1,000 keys)", "oa.slerp_keyframes(times, key_q, s)", "slerp(s)"),
    ("pose_exp", "oa.pose_exp(xi)", "RT.from_exp_coords(xi)"),
    ("pose_log", "oa.pose_log(t, q)", "tf.as_exp_coords()"),
    ("pose_power (0.5)", "oa.pose_power(t, q, 0.5)", "tf ** 0.5"),
]


def operands(n):
    """Float64 operands of every statement, n elements each."""
    rng = np.random.default_rng(11)
    q = rng.normal(size=(n, 4))
    q /= np.linalg.norm(q, axis=1, keepdims=True)
    t = rng.normal(size=(n, 3))
    # Far from singular: a diagonal that dominates each row.
    g4 = rng.uniform(-1, 1, (n, 4, 4)) + 4 * np.eye(4)
    o = rng.normal(size=(n, 3)) * 3
    d = rng.uniform(-1, 1, (n, 3)) - o
    lo = rng.uniform(-1, 0, (n, 3))
    x = {
        "q": q,
        "q2": np.roll(q, 1, axis=0),
        "v": rng.normal(size=(n, 3)),
        "v4": rng.normal(size=(n, 4)),
        "t": t,
        "t2": np.roll(t, 1, axis=0),
        "t0": np.array([1.0, 2, 3]),
        "q0": np.array([0.8, 0.2, -0.3, 0.4]) / np.linalg.norm([0.8, 0.2, -0.3, 0.4]),
        "m3": oa.quat_to_matrix(q),
        "T": oa.pose_to_matrix(t, q),
        "g4": g4,
        "g3": g4[:, :3, :3].copy(),
        "g2": g4[:, :2, :2].copy(),
        "eye": rng.normal(size=(n, 3)) * 5,
        "target": np.zeros(3),
        "up": np.array([0.0, 0, 1]),
        "viewport": np.array([0.0, 0, 640, 480]),
        "o": o,
        "d": d / np.linalg.norm(d, axis=1, keepdims=True),
        "lo": lo,
        "hi": lo + rng.uniform(0, 2, (n, 3)),
        "planes": rng.normal(size=(6, 4)),
        "a": rng.normal(size=(n, 3)),
        "b": rng.normal(size=(n, 3)),
        "c": rng.normal(size=(n, 3)),
        "centre": rng.normal(size=(n, 3)),
        "radius": rng.uniform(0.5, 1.5, n),
        "e": rng.uniform(-3, 3, (n, 3)),
        "rv": rng.normal(size=(n, 3)),
    }
    x["trs"] = x["T"] @ np.diag([2.0, 3.0, 0.5, 1.0])
    x["dq"] = oa.pose_to_dual_quat(t, q)
    perspective = np.array([[1.3, 0, 0, 0], [0, 1.7, 0, 0], [0, 0, -1.02, -1.0], [0, 0, -1, 0]])
    x["vp"] = perspective @ oa.look_at(np.array([1.0, 2, 6]), np.zeros(3), np.array([0.0, 1, 0]))
    x["window"] = oa.project(x["v"], x["vp"], x["viewport"])
    return x


def in_precision(x, dtype):
    """The operands in dtype, and the pose and matrix objects of that precision."""
    y = {k: a.astype(dtype, copy=False) for k, a in x.items()}
    f = dtype == np.float32
    position, orientation = (ob.Vector3f, ob.Quaternionf) if f else (ob.Vector3d, ob.Quaterniond)
    y["pose"] = (ob.Pose3d_f if f else ob.Pose3d_d)(position(*x["t0"]), orientation(*x["q0"]))
    y["mat"] = (ob.Matrix4f if f else ob.Matrix4d)(*x["T"][0].ravel())
    return {"oa": oa, "np": np, **y}


def single_thread():
    # The thread pool, where there is one, keeps to one thread here.
    return oa.threads(1) if hasattr(oa, "threads") else contextlib.nullcontext()


def fastest(calls, rounds=ROUNDS):
    """The fastest of rounds calls of each, in turn, forwards and backwards."""
    for call in calls:
        call()
    best = [math.inf] * len(calls)
    for k in range(rounds):
        order = list(enumerate(calls))
        for i, call in order[:: 1 if k % 2 == 0 else -1]:
            start = time.perf_counter()
            call()
            best[i] = min(best[i], time.perf_counter() - start)
    return best


def nbytes(values):
    if isinstance(values, tuple):
        return sum(nbytes(v) for v in values)
    return values.nbytes if isinstance(values, np.ndarray) else 0


def copy_rows(x, dtype):
    """Per arithmetic statement: seconds, the copy's seconds, bytes moved."""
    rows, shared = [], in_precision(x, dtype)
    for label, stmt in ARITHMETIC:
        names = dict(shared)
        call = stmt.replace(", out=out)", ")")
        names["out"] = eval(call, names)
        moved = nbytes(tuple(v for k, v in names.items() if k in _names_of(call))) + nbytes(
            names["out"]
        )
        # As many bytes read and as many written as the call's inputs and outputs together.
        src = np.ones(moved // 16)
        dst = np.empty_like(src)
        ours, copy = fastest([eval(f"lambda: {stmt}", names), partial(np.copyto, dst, src)])
        rows.append((label, ours, copy, moved))
    return rows


def _names_of(stmt):
    return set(compile(stmt, "<statement>", "eval").co_names)


def scipy_rows(x):
    """Per statement: our seconds and SciPy's."""
    keys = 1000
    rng = np.random.default_rng(12)
    times = np.cumsum(rng.uniform(0.5, 1.5, keys))
    r = Rotation.from_quat(x["q"], scalar_first=True)
    names = {
        **in_precision(x, np.float64),
        "N": N,
        "R": Rotation,
        "RT": RigidTransform,
        "r": r,
        "r2": Rotation.from_quat(x["q2"], scalar_first=True),
        "tf": RigidTransform.from_components(x["t"], r),
        "times": times,
        "key_q": x["q"][:keys],
        "s": rng.uniform(times[0], times[-1], N),
        "slerp": Slerp(times, Rotation.from_quat(x["q"][:keys], scalar_first=True)),
    }
    names["xi"] = names["tf"].as_exp_coords()
    rows = []
    for label, ours, theirs in TRANSCENDENTAL:
        calls = [eval(f"lambda: {s}", names) for s in (ours, theirs)]
        rows.append((label, *fastest(calls, rounds=SCIPY_ROUNDS)))
    return rows


def measure():
    x = operands(N)
    with single_thread():
        copies = {dtype: copy_rows(x, dtype) for dtype in (np.float64, np.float32)}
        sp = scipy_rows(x)
    return copies, sp


def mark(ok):
    return " ✓" if ok else " ✗"


def report():
    """The section of the benchmark report, as Markdown lines."""
    copies, sp = measure()
    lines = [
        "## Batch ufuncs against memory speed and SciPy",
        "",
        f"`orvane.arrays` on {N:,} elements, one thread, milliseconds per call: the fastest "
        f"of {ROUNDS} calls, sampled in turn with the call it is measured against, in one "
        "process (statements in `benchmarks/ufunc_rows.py`). The ufuncs of only + - * / "
        "and sqrt write into a preallocated `out=`, against `numpy.copyto` between two "
        "preallocated arrays, each half the bytes the call reads and writes, so that both "
        f"move as many bytes; target ours/copy at most {COPY_LIMIT}.",
        "",
        "| operation | MB moved | float64 ms | copy ms | ours/copy | float32 ms | copy ms "
        "| ours/copy |",
        "|---|---:|---:|---:|---:|---:|---:|---:|",
    ]
    for r64, r32 in zip(copies[np.float64], copies[np.float32]):
        label, *_ = r64
        cells = []
        for _, ours, copy, _ in (r64, r32):
            cells += [f"{ours * 1e3:.2f}", f"{copy * 1e3:.2f}"]
            cells.append(f"{ours / copy:.2f}{mark(ours / copy <= COPY_LIMIT)}")
        lines.append(f"| {label} | {r64[3] / 1e6:,.0f} | " + " | ".join(cells) + " |")
    lines += [
        "",
        "Those with a transcendental function, float64, against SciPy's `Rotation` and "
        "`RigidTransform` (built beforehand; quaternions converted to SciPy's scalar-last "
        f"order outside the timing), the fastest of {SCIPY_ROUNDS} calls; target SciPy/ours "
        f"at least {SCIPY_FACTOR:.0f}.",
        "",
        "| operation | ours ms | SciPy ms | SciPy/ours | ours | SciPy |",
        "|---|---:|---:|---:|---|---|",
    ]
    for (label, ours, theirs), (_, a, b) in zip(sp, TRANSCENDENTAL):
        lines.append(
            f"| {label} | {ours * 1e3:.2f} | {theirs * 1e3:.2f} | {theirs / ours:.1f}"
            f"{mark(theirs / ours >= SCIPY_FACTOR)} | `{a}` | `{b}` |"
        )
    return lines + [""]


if __name__ == "__main__":
    print("\n".join(report()))
