"""Per-call times of orvane_bindings, its pybind11 floor and the peers.

Run by scripts/bench, which builds the floor module and puts it on the path.
Every case is a statement timed with timeit in loops of many calls; the
samples of all cases are taken in turn, round after round, so that a burst of
load from other processes touches every case alike, and each case reports
the median of its rounds, less the cost of an empty loop.
"""

import argparse
import gc
import os
import platform
import statistics
import timeit
from dataclasses import dataclass, field

import cpp_rows
import glm
import mesh_rows
import numpy as np
import orvane_bindings as ob
import orvane_floor as fl
import package_rows
import quaternion
import rotation_rows
import scaling_rows
import scipy
import ufunc_rows
from scipy.spatial.transform import RigidTransform, Rotation
from threadpoolctl import threadpool_info

from orvane import arrays as oa

SAMPLE_SECONDS = 0.0002  # short enough that most samples run between preemptions


@dataclass
class Case:
    stmt: str
    names: dict
    per_call: list = field(default_factory=list)

    def timer(self):
        # Bound to locals of the timing function, as in ordinary code.
        setup = "\n".join(f"{k} = _g_{k}" for k in self.names)
        return timeit.Timer(self.stmt, setup, globals={f"_g_{k}": v for k, v in self.names.items()})


@dataclass
class Row:
    label: str
    ours: Case
    floor: Case | None
    pyglm: Case | None
    peer_name: str | None = None
    peer: Case | None = None

    def cases(self):
        return [c for c in (self.ours, self.floor, self.pyglm, self.peer) if c is not None]


def same_for_both(stmt, make):
    """The statement for ours and the floor, with names made from either module."""
    return Case(stmt, make(ob, real=True)), Case(stmt, make(fl, real=False))


def rows():
    f32, f64 = np.float32, np.float64
    a3f = np.array([1.0, 2.0, 3.0], f32)
    b3f = np.array([4.0, 5.0, 6.0], f32)
    a3d = a3f.astype(f64)
    m4f = np.array([[1.0, 2, 0, 1], [0, 1, 3, 2], [2, 0, 1, 0], [1, 1, 0, 4]], f32)
    n4f = m4f.T.copy()
    m4d = m4f.astype(f64)
    a4f = np.array([1.0, 2.0, 3.0, 1.0], f32)
    qd = (0.8, 0.2, -0.3, 0.4)  # w, x, y, z; normalized where used
    lst = [1.0, 2.0, 3.0]
    r1 = Rotation.from_quat([qd[1], qd[2], qd[3], qd[0]])
    r2 = Rotation.from_euler("XYZ", [0.3, -0.5, 1.2])
    gq1 = glm.normalize(glm.quat(*qd))
    gq2 = glm.quat(glm.vec3(0.3, -0.5, 1.2))
    gdq = glm.normalize(glm.dquat(*qd))

    def vectors(mod, real):
        return {
            "a": mod.Vector3f(1, 2, 3),
            "b": mod.Vector3f(4, 5, 6),
            "ad": mod.Vector3d(1, 2, 3),
            "dot": mod.dot,
            "normalize": mod.normalize,
            "cross": mod.cross,
        }

    def matrices(mod, real):
        if real:
            m = mod.Matrix4f(*m4f.ravel())
            return {
                "m": m,
                "n": mod.Matrix4f(*n4f.ravel()),
                "v": mod.Vector4f(*a4f),
                "md": mod.Matrix4d(*m4d.ravel()),
            }
        return {
            "m": mod.Matrix4f(),
            "n": mod.Matrix4f(),
            "v": mod.Vector4f(1, 2, 3, 1),
            "md": mod.Matrix4d(),
        }

    def rotations(mod, real):
        if real:
            p = ob.Quaternionf(*qd).normalize()
            q = ob.Quaternionf(0.9, 0.1, 0.3, -0.2).normalize()
            qdd = ob.Quaterniond(*qd).normalize()
            pose = ob.Pose3d_d(ob.Vector3d(1, 2, 3), qdd)
            pose2 = ob.Pose3d_d(ob.Vector3d(-1, 0, 2), ob.Quaterniond(0.9, 0.1, 0.3, -0.2))
            line = ob.Line_f(ob.Vector3f(0, 0, 0), ob.Vector3f(1, 1, 0))
        else:
            p = q = fl.Quaternionf()
            qdd = fl.Quaterniond()
            pose = pose2 = fl.Pose3d_d()
            line = fl.Line_f()
        return {
            "p": p,
            "q": q,
            "qd": qdd,
            "pose": pose,
            "pose2": pose2,
            "line": line,
            "vd": mod.Vector3d(1, 2, 3),
            "lst": lst,
            "nd": a3d.copy(),
            "Euler_d": mod.Euler_d,
        }

    def arrays(mod, real):
        m = mod.Matrix4f(*m4f.ravel()) if real else mod.Matrix4f()
        return {
            "a32": a3f.copy(),
            "a64": a3d.copy(),
            "M64": m4d.copy(),
            "M32": m4f.copy(),
            "v": mod.Vector3f(1, 2, 3),
            "m": m,
            "Vector3f": mod.Vector3f,
            "to_array": mod.mat4_to_nparray_f32,
            "to_mat": mod.nparray_to_mat4_f64,
            "to_vec": mod.nparray_to_vec3_f32,
        }

    g3 = {"a": glm.vec3(1, 2, 3), "b": glm.vec3(4, 5, 6), "ad": glm.dvec3(1, 2, 3), "glm": glm}
    gm = {
        "m": glm.mat4(*m4f.T.ravel()),
        "n": glm.mat4(*n4f.T.ravel()),
        "v": glm.vec4(*a4f),
        "md": glm.dmat4(*m4d.T.ravel()),
        "glm": glm,
    }
    gr = {
        "p": gq1,
        "q": gq2,
        "qd": gdq,
        "lst": lst,
        "nd": a3d.copy(),
        "glm": glm,
        "t": glm.dvec3(1, 2, 3),
        "t2": glm.dvec3(-1, 0, 2),
        "q2": glm.normalize(glm.dquat(0.9, 0.1, 0.3, -0.2)),
        "vd": glm.dvec3(1, 2, 3),
        "s": glm.vec3(0, 0, 0),
        "e": glm.vec3(1, 1, 0),
    }
    npv = {"a": a3f.copy(), "b": b3f.copy(), "ad": a3d.copy(), "np": np}
    npm = {"m": m4f.copy(), "n": n4f.copy(), "v": a4f.copy(), "md": m4d.copy(), "np": np}
    sp = {
        "r1": r1,
        "r2": r2,
        "lst": lst,
        "nd": a3d.copy(),
        "t": a3d.copy(),
        "t2": np.array([-1.0, 0, 2]),
        "quat": np.array([qd[1], qd[2], qd[3], qd[0]]),
        "R": Rotation,
        "np": np,
    }
    npl = {"s": np.zeros(3, f32), "e": np.array([1, 1, 0], f32), "lst": lst, "np": np, "f32": f32}
    npa = {"a32": a3f.copy(), "a64": a3d.copy(), "M64": m4d.copy(), "M32": m4f.copy(), "np": np}
    ga = {
        "a32": a3f.copy(),
        "v": glm.vec3(1, 2, 3),
        "m": glm.mat4(),
        "M64": m4d.copy(),
        "glm": glm,
        "np": np,
    }

    def row(label, stmt, make, glm_case, peer_name=None, peer_case=None):
        ours, floor = same_for_both(stmt, make)
        return Row(label, ours, floor, glm_case, peer_name, peer_case)

    return [
        row(
            "Vector3f + Vector3f", "a + b", vectors, Case("a + b", g3), "NumPy", Case("a + b", npv)
        ),
        row(
            "Vector3d * float",
            "ad * 2.5",
            vectors,
            Case("ad * 2.5", g3),
            "NumPy",
            Case("ad * 2.5", npv),
        ),
        row(
            "dot(Vector3f, Vector3f)",
            "dot(a, b)",
            vectors,
            Case("glm.dot(a, b)", g3),
            "NumPy",
            Case("np.dot(a, b)", npv),
        ),
        row(
            "normalize(Vector3f)",
            "normalize(a)",
            vectors,
            Case("glm.normalize(a)", g3),
            "NumPy",
            Case("a / np.linalg.norm(a)", npv),
        ),
        row(
            "cross(Vector3f, Vector3f)",
            "cross(a, b)",
            vectors,
            Case("glm.cross(a, b)", g3),
            "NumPy",
            Case("np.cross(a, b)", npv),
        ),
        row(
            "Matrix4f * Matrix4f", "m * n", matrices, Case("m * n", gm), "NumPy", Case("m @ n", npm)
        ),
        row(
            "Matrix4f * Vector4f", "m * v", matrices, Case("m * v", gm), "NumPy", Case("m @ v", npm)
        ),
        row(
            "Matrix4d.inverse()",
            "md.inverse()",
            matrices,
            Case("glm.inverse(md)", gm),
            "NumPy",
            Case("np.linalg.inv(md)", npm),
        ),
        row(
            "Matrix4d.determinant()",
            "md.determinant()",
            matrices,
            Case("glm.determinant(md)", gm),
            "NumPy",
            Case("np.linalg.det(md)", npm),
        ),
        row(
            "Quaternionf * Quaternionf",
            "p * q",
            rotations,
            Case("p * q", gr),
            "SciPy",
            Case("r1 * r2", sp),
        ),
        row(
            "Quaterniond.rotate(list)",
            "qd.rotate(lst)",
            rotations,
            Case("qd * lst", gr),
            "SciPy",
            Case("r1.apply(lst)", sp),
        ),
        row(
            "Quaterniond.rotate(ndarray)",
            "qd.rotate(nd)",
            rotations,
            Case("qd * nd", gr),
            "SciPy",
            Case("r1.apply(nd)", sp),
        ),
        row(
            "Euler_d(Quaterniond)",
            "Euler_d(qd)",
            rotations,
            Case("glm.eulerAngles(qd)", gr),
            "SciPy",
            Case("R.from_quat(quat).as_euler('XYZ')", sp),
        ),
        row(
            "Pose3d_d * Vector3d",
            "pose * vd",
            rotations,
            Case("t + qd * vd", gr),
            "SciPy",
            Case("r1.apply(t2) + t", sp),
        ),
        row(
            "Pose3d_d * Pose3d_d",
            "pose * pose2",
            rotations,
            Case("(t + qd * t2, glm.normalize(qd * q2))", gr),
            "SciPy",
            Case("(r1.apply(t2) + t, r1 * r2)", sp),
        ),
        row(
            "Vector3f(ndarray)",
            "Vector3f(a32)",
            arrays,
            Case("glm.vec3(a32)", ga),
            "NumPy",
            Case("np.array(a32)", npa),
        ),
        row(
            "Vector3f.numpy()",
            "v.numpy()",
            arrays,
            Case("np.asarray(v)", ga),
            "NumPy",
            Case("a32.view()", npa),
        ),
        row(
            "mat4_to_nparray_f32",
            "to_array(m)",
            arrays,
            Case("np.array(m)", ga),
            "NumPy",
            Case("M32.copy()", npa),
        ),
        row(
            "nparray_to_mat4_f64",
            "to_mat(M64)",
            arrays,
            Case("glm.dmat4(M64)", ga),
            "NumPy",
            Case("M64.copy()", npa),
        ),
        row(
            "Line_f.distanceTo(list)",
            "line.distanceTo(lst)",
            rotations,
            Case(
                "glm.length(glm.cross(glm.vec3(lst) - s, glm.vec3(lst) - e)) / glm.length(e - s)",
                gr,
            ),
            "NumPy",
            Case(
                "np.linalg.norm(np.cross(np.asarray(lst, f32) - s, np.asarray(lst, f32) - e))"
                " / np.linalg.norm(e - s)",
                npl,
            ),
        ),
    ]


# Each call the targets name, beside its pyglm statement; the limit is ours/pyglm.
# Calls returning a float or bool must be at most as slow as pyglm.
TARGETS = [
    ("a + b", "a + b", "a + b", 2.0),
    ("a * 2.0", "a * 2.0", "a * 2.0", 2.0),
    ("-a", "-a", "-a", 2.0),
    ("a.x", "a.x", "a.x", 1.0),
    ("a.x = 1.0", "a.x = 1.0", "a.x = 1.0", 2.0),
    ("a[1]", "a[1]", "a[1]", 1.0),
    ("Vector3f(1., 2., 3.)", "Vector3f(1., 2., 3.)", "vec3(1., 2., 3.)", 2.0),
    ("a.dot(b)", "a.dot(b)", "dot(a, b)", 1.0),
    ("dot(a, b)", "dot(a, b)", "dot(a, b)", 1.0),
    ("a.cross(b)", "a.cross(b)", "cross(a, b)", 2.0),
    ("cross(a, b)", "cross(a, b)", "cross(a, b)", 2.0),
    ("a.normalize()", "a.normalize()", "normalize(a)", 2.0),
    ("normalize(a)", "normalize(a)", "normalize(a)", 2.0),
    ("a.norm()", "a.norm()", "length(a)", 1.0),
    ("lerp(a, b, 0.5)", "lerp(a, b, 0.5)", "lerp(a, b, 0.5)", 2.0),
    ("Matrix4f * Matrix4f", "m * n", "m * n", 2.0),
    ("Matrix4f * Vector4f", "m * v", "m * v", 2.0),
    ("Matrix4f.inverse()", "m.inverse()", "inverse(m)", 2.0),
    ("Matrix4f.determinant()", "m.determinant()", "determinant(m)", 1.0),
    ("Matrix4f.RotationZ(0.3)", "Matrix4f.RotationZ(0.3)", "rotate(0.3, vec3(0, 0, 1))", 2.0),
    ("Quaterniond * Quaterniond", "q * r", "q * r", 2.0),
    ("q.normalize()", "q.normalize()", "normalize(q)", 2.0),
    (
        "Quaterniond.RotationZ(0.5)",
        "Quaterniond.RotationZ(0.5)",
        "angleAxis(0.5, dvec3(0, 0, 1))",
        2.0,
    ),
    ("q.rotate(Vector3d)", "q.rotate(vd)", "q * vd", 2.0),
    ("q.rotate(list)", "q.rotate(lst)", "q * lst", 2.0),
    ("Euler_d(q)", "Euler_d(q)", "eulerAngles(q)", 2.0),
    ("pose * pose", "pose * pose2", "(t + q * t2, normalize(q * r))", 2.0),
    ("pose * v", "pose * vd", "t + q * vd", 2.0),
    ("Vector3f(ndarray)", "Vector3f(a32)", "vec3(a32)", 2.0),
    ("v.numpy()", "a.numpy()", "asarray(a)", 2.0),
]


def target_cases():
    """Ours and pyglm for each target row, and the floor for the two geometry
    calls pyglm has no counterpart of."""
    q0 = ob.Quaterniond(0.8, 0.2, -0.3, 0.4).normalize()
    m16 = [1.0, 2, 0, 1, 0, 1, 3, 2, 2, 0, 1, 0, 1, 1, 0, 4]
    ours = {
        "a": ob.Vector3f(1, 2, 3),
        "b": ob.Vector3f(4, 5, 6),
        "m": ob.Matrix4f(*m16),
        "n": ob.Matrix4f(*m16[::-1]),
        "v": ob.Vector4f(1, 2, 3, 1),
        "q": q0,
        "r": ob.Quaterniond(0.9, 0.1, 0.3, -0.2),
        "vd": ob.Vector3d(1, 2, 3),
        "lst": [1.0, 2.0, 3.0],
        "a32": np.array([1.0, 2.0, 3.0], np.float32),
        "pose": ob.Pose3d_d(ob.Vector3d(1, 2, 3), q0),
        "pose2": ob.Pose3d_d(ob.Vector3d(-1, 0, 2), ob.Quaterniond(0.9, 0.1, 0.3, -0.2)),
        **{
            k: getattr(ob, k)
            for k in (
                "Vector3f",
                "Matrix4f",
                "Quaterniond",
                "Euler_d",
                "dot",
                "cross",
                "normalize",
                "lerp",
            )
        },
    }
    gq = glm.normalize(glm.dquat(0.8, 0.2, -0.3, 0.4))
    g = {
        "a": glm.vec3(1, 2, 3),
        "b": glm.vec3(4, 5, 6),
        "m": glm.mat4(*range(16)),
        "n": glm.mat4(*range(16)),
        "v": glm.vec4(1, 2, 3, 1),
        "q": gq,
        "r": glm.dquat(0.9, 0.1, 0.3, -0.2),
        "vd": glm.dvec3(1, 2, 3),
        "lst": [1.0, 2.0, 3.0],
        "t": glm.dvec3(1, 2, 3),
        "t2": glm.dvec3(-1, 0, 2),
        "a32": np.array([1.0, 2.0, 3.0], np.float32),
        "asarray": np.asarray,
        **{
            k: getattr(glm, k)
            for k in (
                "vec3",
                "dvec3",
                "dot",
                "cross",
                "normalize",
                "length",
                "lerp",
                "inverse",
                "determinant",
                "rotate",
                "angleAxis",
                "eulerAngles",
            )
        },
    }
    rows = [Row(label, Case(stmt, ours), None, Case(peer, g)) for label, stmt, peer, _ in TARGETS]
    v = {
        "v": ob.Vector3f(1, 2, 3),
        "line": ob.Line_f(ob.Vector3f(0, 0, 0), ob.Vector3f(1, 1, 0)),
        "plane": ob.Plane_f(ob.Vector3f(0, 0, 0), ob.Vector3f(0, 0, 1)),
    }
    fv = {"v": fl.Vector3f(1, 2, 3), "line": fl.Line_f(), "plane": fl.Plane_f()}
    rows.append(
        Row(
            "Line_f.distanceTo(v)",
            Case("line.distanceTo(v)", v),
            Case("line.distanceTo(v)", fv),
            None,
        )
    )
    rows.append(
        Row(
            "Plane_f.signedDistanceTo(v)",
            Case("plane.signedDistanceTo(v)", v),
            Case("plane.signedDistanceTo(v)", fv),
            None,
        )
    )
    return rows


def target_table(rows, times):
    lines = [
        "| operation | ours | pyglm | ours/pyglm | limit | floor |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    ratios = []
    for r, limit in zip(rows, [t[3] for t in TARGETS] + [None, None]):
        ours = times[id(r.ours)]
        g = None if r.pyglm is None else times[id(r.pyglm)]
        floor = None if r.floor is None else times[id(r.floor)]
        if g is not None:
            ratios.append(ours / g)
        mark = "" if g is None else (" ✓" if ours / g <= limit else " ✗")
        lines.append(
            f"| {r.label} | {fmt_ns(ours)} | {fmt_ns(g)} | {fmt_ratio(ours, g)}{mark} | "
            f"{'' if limit is None else f'{limit:.1f}'} | {fmt_ns(floor)} |"
        )
    lines += ["", f"Median ours/pyglm over the rows: {statistics.median(ratios):.2f} (limit 1.5)."]
    return "\n".join(lines)


def form_table(forms, times):
    lines = [
        "| call | ours | against | ratio | limit | statements |",
        "|---|---:|---:|---:|---:|---|",
    ]
    for r, limit in forms:
        ours, other = times[id(r.ours)], times[id(r.peer)]
        mark = " ✓" if ours / other <= limit else " ✗"
        lines.append(
            f"| {r.label} | {fmt_ns(ours)} | {fmt_ns(other)} ({r.peer_name}) | "
            f"{fmt_ratio(ours, other)}{mark} | {limit:.1f} | `{r.ours.stmt}`; `{r.peer.stmt}` |"
        )
    return "\n".join(lines)


def copy_check_rows():
    """The same conversion given an array of its own dtype and of the other one."""

    def arrays(mod, real):
        return {
            "a32": np.array([1, 2, 3], np.float32),
            "a64": np.array([1, 2, 3], np.float64),
            "M64": np.eye(4),
            "M32": np.eye(4, dtype=np.float32),
            "to_mat": mod.nparray_to_mat4_f64,
            "to_vec": mod.nparray_to_vec3_f32,
        }

    pairs = [
        ("nparray_to_vec3_f32(float32 array)", "to_vec(a32)"),
        ("nparray_to_vec3_f32(float64 array)", "to_vec(a64)"),
        ("nparray_to_mat4_f64(float64 array)", "to_mat(M64)"),
        ("nparray_to_mat4_f64(float32 array)", "to_mat(M32)"),
    ]
    result = []
    for label, stmt in pairs:
        ours, floor = same_for_both(stmt, arrays)
        result.append(Row(label, ours, floor, None))
    return result


BATCH_SIZE = 10**6
BATCH_PEERS = ["NumPy", "SciPy", "numpy-quaternion"]


@dataclass
class BatchRow:
    label: str
    ours: Case
    peers: dict  # peer name: Case

    def cases(self):
        return [self.ours, *self.peers.values()]


def batch_rows():
    """One call over 10**6 elements each; SciPy's rotations are built beforehand."""
    rng = np.random.default_rng(0)
    q = rng.normal(size=(BATCH_SIZE, 4))
    q /= np.linalg.norm(q, axis=1, keepdims=True)
    q2 = np.roll(q, 1, axis=0)
    v = rng.normal(size=(BATCH_SIZE, 3))
    pose = ob.Pose3d_f(ob.Vector3f(1, 2, 3), ob.Quaternionf(0.8, 0.2, -0.3, 0.4))
    t32, q32 = np.asarray(pose.position), np.asarray(pose.orientation)
    r = Rotation.from_quat(np.roll(q, -1, axis=1))
    r1 = Rotation.from_quat(np.roll(q32.astype(np.float64), -1))
    ours = {
        **{name: getattr(oa, name) for name in oa.__all__},
        "q": q,
        "q2": q2,
        "v": v,
        "m": oa.quat_to_matrix(q),
        "pts": v.astype(np.float32),
        "pose": pose,
        "t": t32,
        "o": q32,
    }
    numpy = {"pts": v.astype(np.float32), "R": oa.quat_to_matrix(q32), "t": t32}
    sp = {
        "r": r,
        "r2": Rotation.from_quat(np.roll(q2, -1, axis=1)),
        "v": v,
        "m": oa.quat_to_matrix(q),
        "R": Rotation,
        "pts": v.astype(np.float32),
        "tf": RigidTransform.from_components(t32.astype(np.float64), r1),
    }
    nq = {
        "a": quaternion.from_float_array(q),
        "b": quaternion.from_float_array(q2),
        "v": v,
        "m": oa.quat_to_matrix(q),
        "quaternion": quaternion,
    }

    def row(label, stmt, peers):
        return BatchRow(label, Case(stmt, ours), {k: Case(s, n) for k, (s, n) in peers.items()})

    rigid = {"NumPy": ("pts @ R.T + t", numpy), "SciPy": ("tf.apply(pts)", sp)}
    return [
        row("pose_apply, float32 points", "pose_apply(t, o, pts)", rigid),
        row("transform_points(Pose3d_f, float32 points)", "transform_points(pose, pts)", rigid),
        row(
            "quat_multiply",
            "quat_multiply(q, q2)",
            {"SciPy": ("r * r2", sp), "numpy-quaternion": ("a * b", nq)},
        ),
        row(
            "quat_rotate",
            "quat_rotate(q, v)",
            {
                "SciPy": ("r.apply(v)", sp),
                "numpy-quaternion": (
                    "quaternion.as_vector_part(a * quaternion.from_vector_part(v) * a.conjugate())",
                    nq,
                ),
            },
        ),
        row(
            "quat_to_matrix",
            "quat_to_matrix(q)",
            {
                "SciPy": ("r.as_matrix()", sp),
                "numpy-quaternion": ("quaternion.as_rotation_matrix(a)", nq),
            },
        ),
        row(
            "matrix_to_quat",
            "matrix_to_quat(m)",
            {
                "SciPy": ("R.from_matrix(m)", sp),
                "numpy-quaternion": ("quaternion.from_rotation_matrix(m, nonorthogonal=False)", nq),
            },
        ),
        row(
            "quat_to_euler (XYZ)",
            "quat_to_euler(q)",
            {
                "SciPy": ("r.as_euler('XYZ')", sp),
                "numpy-quaternion": ("quaternion.as_euler_angles(a)", nq),
            },
        ),
    ]


def throughput_rows():
    """pose_apply on float32 points, and NumPy's matmul form, from 10 to 10**7 points."""
    pose = ob.Pose3d_f(ob.Vector3f(1, 2, 3), ob.Quaternionf(0.8, 0.2, -0.3, 0.4))
    t, o = np.asarray(pose.position), np.asarray(pose.orientation)
    rows = []
    for exponent in range(1, 8):
        pts = np.random.default_rng(exponent).normal(size=(10**exponent, 3)).astype(np.float32)
        rows.append(
            (
                10**exponent,
                Case(
                    "pose_apply(t, o, pts)",
                    {"pose_apply": oa.pose_apply, "t": t, "o": o, "pts": pts},
                ),
                Case("pts @ R.T + t", {"pts": pts, "R": oa.quat_to_matrix(o), "t": t}),
            )
        )
    return rows


def batch_table(all_rows, times):
    lines = [
        "| operation | ours ms | "
        + " | ".join(f"{p} ms" for p in BATCH_PEERS)
        + " | "
        + " | ".join(f"ours/{p}" for p in BATCH_PEERS)
        + " |",
        "|---|---:|" + "---:|" * (2 * len(BATCH_PEERS)),
    ]
    for r in all_rows:
        ours = times[id(r.ours)]
        peers = [times[id(r.peers[p])] if p in r.peers else None for p in BATCH_PEERS]
        lines.append(
            f"| {r.label} | {ours / 1e6:.2f} | "
            + " | ".join("n/a" if t is None else f"{t / 1e6:.2f}" for t in peers)
            + " | "
            + " | ".join(fmt_ratio(ours, t) for t in peers)
            + " |"
        )
    return "\n".join(lines)


def throughput_table(rows, times):
    lines = [
        "| points | ours µs per call | ours ns per point | NumPy ns per point | ours/NumPy |",
        "|---:|---:|---:|---:|---:|",
    ]
    for n, ours, numpy in rows:
        a, b = times[id(ours)], times[id(numpy)]
        lines.append(f"| {n:,} | {a / 1e3:,.1f} | {a / n:.2f} | {b / n:.2f} | {a / b:.2f} |")
    return "\n".join(lines)


def batch_statements(all_rows):
    lines = ["| operation | ours | peers |", "|---|---|---|"]
    for r in all_rows:
        peers = "; ".join(f"{k}: `{c.stmt}`" for k, c in r.peers.items())
        lines.append(f"| {r.label} | `{r.ours.stmt}` | {peers} |")
    return "\n".join(lines)


def blas():
    return (
        ", ".join(
            f"{i['internal_api']} {i['version']} ({i.get('architecture')}, "
            f"{i['num_threads']} thread{'s' * (i['num_threads'] != 1)})"
            for i in threadpool_info()
            if i["user_api"] == "blas"
        )
        or "none"
    )


def calibrate(case):
    timer = case.timer()
    number = 1
    while True:
        seconds = timer.timeit(number)
        if seconds >= SAMPLE_SECONDS:
            return timer, number
        number = max(2 * number, int(1.2 * number * SAMPLE_SECONDS / max(seconds, 1e-9)))


def measure(all_rows, rounds):
    empty = Case("pass", {})
    cases = [empty] + [c for r in all_rows for c in r.cases()]
    for c in cases:
        exec(c.stmt, {}, dict(c.names))  # fails early on a broken statement
    plans = [(c, *calibrate(c)) for c in cases]
    for _ in range(3):  # warm-up rounds
        for _, timer, number in plans:
            timer.timeit(number)
    gc.collect()
    for _ in range(rounds):
        for c, timer, number in plans:
            c.per_call.append(timer.timeit(number) * 1e9 / number)
    loop = statistics.median(empty.per_call)
    return loop, {id(c): statistics.median(c.per_call) - loop for c in cases if c is not empty}


def cpu_model():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return platform.processor() or "unknown"


def fmt_ns(value):
    return "n/a" if value is None else f"{value:,.0f}"


def fmt_ratio(a, b):
    return "n/a" if a is None or b is None else f"{a / b:.2f}"


def table(all_rows, times, with_peers):
    def t(c):
        return None if c is None else times[id(c)]

    if with_peers:
        lines = [
            "| operation | ours | floor | pyglm | NumPy/SciPy | ours/floor | ours/NumPy·SciPy "
            "| ours/pyglm |",
            "|---|---:|---:|---:|---:|---:|---:|---:|",
        ]
    else:
        lines = ["| operation | ours | floor | ours/floor |", "|---|---:|---:|---:|"]
    for r in all_rows:
        ours, floor, g, peer = t(r.ours), t(r.floor), t(r.pyglm), t(r.peer)
        if with_peers:
            peer_text = "n/a" if peer is None else f"{fmt_ns(peer)} ({r.peer_name})"
            lines.append(
                f"| {r.label} | {fmt_ns(ours)} | {fmt_ns(floor)} | {fmt_ns(g)} | "
                f"{peer_text} | {fmt_ratio(ours, floor)} | {fmt_ratio(ours, peer)} | "
                f"{fmt_ratio(ours, g)} |"
            )
        else:
            lines.append(
                f"| {r.label} | {fmt_ns(ours)} | {fmt_ns(floor)} | {fmt_ratio(ours, floor)} |"
            )
    return "\n".join(lines)


def statements(all_rows):
    lines = ["| operation | ours and floor | pyglm | NumPy/SciPy |", "|---|---|---|---|"]
    for r in all_rows:

        def s(c):
            return "n/a" if c is None else f"`{c.stmt}`"

        lines.append(f"| {r.label} | {s(r.ours)} | {s(r.pyglm)} | {s(r.peer)} |")
    return "\n".join(lines)


SECTIONS = ("calls", "kernels", "batch", "ufuncs", "scaling", "mesh")


def sections(text):
    names = [name.strip() for name in text.split(",")]
    unknown = [name for name in names if name not in SECTIONS]
    if unknown:
        raise argparse.ArgumentTypeError(
            f"unknown section {', '.join(unknown)}; the sections are {', '.join(SECTIONS)}"
        )
    return names


def calls_section(args):
    """The per-call tables, with the paragraph that opens the report, and the
    statements they time, for the end of it."""
    main_rows, check_rows, targets = rows(), copy_check_rows(), target_cases()
    extra_rows = (
        package_rows.function_rows(Case, Row)
        + rotation_rows.object_rows(Case, Row)
        + package_rows.single_query_rows(Case, Row)
    )
    forms = package_rows.calling_form_rows(Case, Row)
    load_before = os.getloadavg()
    loop, times = measure(
        main_rows + check_rows + targets + extra_rows + [r for r, _ in forms], args.rounds
    )
    load_after = os.getloadavg()
    opening = [
        "Nanoseconds per call: the median of "
        f"{args.rounds} rounds of about {SAMPLE_SECONDS * 1e3:.1f} ms each, after three "
        f"warm-up rounds, less the empty loop ({loop:.1f} ns). All cases were sampled in turn "
        "within each round, in one process.",
        "",
        f"- CPU: {cpu_model()}, {os.cpu_count()} logical cores",
        f"- Load average (1, 5, 15 min): {', '.join(f'{x:.2f}' for x in load_before)} "
        f"before, {', '.join(f'{x:.2f}' for x in load_after)} after",
        f"- Python {platform.python_version()}, NumPy {np.__version__}, SciPy "
        f"{scipy.__version__}, pyglm {glm.version.split()[-1]}",
        "- floor: the same bindings (types, overloads and their order) with bodies that only "
        "return a default value",
        "",
        table(main_rows, times, with_peers=True),
        "",
        "## Targets against pyglm",
        "",
        "Every call the targets name, beside the pyglm statement doing the same work.",
        "",
        target_table(targets, times),
        "",
        "## Arrays of the argument's own dtype are read in place",
        "",
        "The converting copy of an array of the other dtype shows in the time; an array of the "
        "parameter's dtype costs what the floor costs.",
        "",
        table(check_rows, times, with_peers=False),
        "",
        "## Functions of the orvane package",
        "",
        "Per call, as above; the floor has no counterpart of these. The ray and frustum "
        "queries have no pyglm counterpart: their peer is the same test written in NumPy.",
        "",
        table(extra_rows, times, with_peers=True),
        "",
        statements(extra_rows),
        "",
        "## Calling forms of the package's functions",
        "",
        "The same call written another way, beside the form it is measured against: keywords "
        "against positions, array-likes (tuples, lists, arrays) against objects, and "
        "`project`/`unproject` against pyglm's, which also take a model matrix.",
        "",
        form_table(forms, times),
        "",
    ]
    return opening, ["## Statements timed", "", statements(main_rows + targets), ""]


def batch_section(args):
    big = batch_rows() + package_rows.batch_query_rows(Case, BatchRow, BATCH_SIZE)
    rotations = rotation_rows.rows(Case, BatchRow, BATCH_SIZE)
    small = throughput_rows()
    batch_cases = [c for r in big + rotations for c in r.cases()]
    batch_cases += [c for _, *cs in small for c in cs]
    _, batch_times = measure([BatchRow("", c, {}) for c in batch_cases], args.batch_rounds)
    return [
        "## Batch operations over NumPy arrays",
        "",
        f"`orvane.arrays` ufuncs on {BATCH_SIZE:,} elements per call (float64 unless said), "
        "milliseconds per call: the median of "
        f"{args.batch_rounds} rounds, every case sampled in turn within each round, in the "
        "same process. SciPy's `Rotation`/`RigidTransform` objects and numpy-quaternion's "
        f"arrays are built beforehand. numpy-quaternion {quaternion.__version__}; BLAS: "
        f"{blas()}.",
        "",
        batch_table(big, batch_times),
        "",
        "### Rotations, rigid motions, keyframes, cameras and matrices",
        "",
        f"The same, on {BATCH_SIZE:,} elements: against SciPy where it has the operation, "
        "and where it has not against NumPy code doing the same work (in "
        "`benchmarks/rotation_rows.py`).",
        "",
        batch_table(rotations, batch_times),
        "",
        batch_statements(rotations),
        "",
        "### Throughput of pose_apply on float32 points",
        "",
        "Per-call overhead stops mattering where the time per point levels off.",
        "",
        throughput_table(small, batch_times),
        "",
        "### Batch statements timed",
        "",
        batch_statements(big),
        "",
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=1001)
    parser.add_argument("--batch-rounds", type=int, default=31)
    parser.add_argument("--build", help="a file of build facts written by scripts/bench")
    parser.add_argument("--notes", help="a Markdown file appended to the report")
    parser.add_argument("--kernels", help="the C++ benchmark program scripts/bench builds")
    parser.add_argument(
        "--only",
        type=sections,
        help=f"comma-separated sections ({', '.join(SECTIONS)}) to print alone; "
        "nothing is written to --output",
    )
    parser.add_argument("--output", help="the report to write (needed without --only)")
    args = parser.parse_args()
    if args.only is None and args.output is None:
        parser.error("--output is needed unless --only names the sections to print")
    wanted = set(args.only or SECTIONS)

    load_before = os.getloadavg()
    opening, closing = calls_section(args) if "calls" in wanted else ([], [])
    report = ["# Benchmarks", ""]
    if opening:
        report += ["Written by `scripts/bench`. " + opening[0], *opening[1:]]
    else:
        report += [
            "Written by `scripts/bench`.",
            "",
            f"- CPU: {cpu_model()}, {os.cpu_count()} logical cores",
            f"- Python {platform.python_version()}, NumPy {np.__version__}, SciPy "
            f"{scipy.__version__}",
            "",
        ]
    if "kernels" in wanted:
        report += cpp_rows.report(args.kernels)
    if "batch" in wanted:
        report += batch_section(args)
    if "ufuncs" in wanted:
        report += ufunc_rows.report()
    if "scaling" in wanted:
        report += scaling_rows.report()
    if "mesh" in wanted:
        report += mesh_rows.report()
    if args.only is not None:
        load = ", ".join(f"{x:.2f}" for x in load_before)
        report += closing + [f"Load average (1, 5, 15 min) at the start: {load}.", ""]
        print("\n".join(report))
        return
    if args.build:
        with open(args.build) as f:
            report += [f.read().rstrip(), ""]
    report += closing
    if args.notes:
        with open(args.notes) as f:
            report += [f.read().rstrip(), ""]
    with open(args.output, "w") as f:
        f.write("\n".join(report))
    print("\n".join(report))


if __name__ == "__main__":
    main()
