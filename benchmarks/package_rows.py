"""Benchmark rows of the orvane package: per-call functions against pyglm,
and the ray and frustum queries one at a time and in batch against NumPy.
The row and case types are the benchmark's own, passed in."""

import numpy as np
from pyglm import glm

import orvane as ov
import orvane.arrays as oa


def function_rows(case, row_type):
    """Per call, double precision, with pyglm's equivalent beside each."""
    q0, q1 = ov.Quaterniond(0.8, 0.2, -0.3, 0.4).normalize(), ov.Quaterniond.RotationZ(1.2)
    ours = {
        "ov": ov,
        "q0": q0,
        "q1": q1,
        "axis": ov.Vector3d(0, 0, 1),
        "eye": ov.Vector3d(1, 2, 6),
        "target": ov.Vector3d(0, 0, 0),
        "up": ov.Vector3d(0, 1, 0),
    }
    theirs = {
        "glm": glm,
        "q0": glm.dquat(q0.w, q0.x, q0.y, q0.z),
        "q1": glm.dquat(q1.w, q1.x, q1.y, q1.z),
        "axis": glm.dvec3(0, 0, 1),
        "eye": glm.dvec3(1, 2, 6),
        "target": glm.dvec3(0, 0, 0),
        "up": glm.dvec3(0, 1, 0),
    }
    pairs = [
        ("slerp(Quaterniond, Quaterniond, t)", "ov.slerp(q0, q1, 0.3)", "glm.slerp(q0, q1, 0.3)"),
        (
            "quat_from_axis_angle(Vector3d, angle)",
            "ov.quat_from_axis_angle(axis, 0.5)",
            "glm.angleAxis(0.5, axis)",
        ),
        (
            "look_at(Vector3d, Vector3d, Vector3d)",
            "ov.look_at(eye, target, up)",
            "glm.lookAt(eye, target, up)",
        ),
        ("to_matrix3(Quaterniond)", "ov.to_matrix3(q0)", "glm.mat3_cast(q0)"),
    ]
    return [row_type(label, case(a, ours), None, case(b, theirs)) for label, a, b in pairs]


def numpy_ray_aabb(o, d, lo, hi):
    """The slab test written in NumPy: (t_near, t_far), a miss as (inf, -inf)."""
    with np.errstate(divide="ignore", invalid="ignore"):
        t1, t2 = (lo - o) / d, (hi - o) / d
    near = np.maximum(np.fmax.reduce(np.fmin(t1, t2), axis=-1), 0)
    far = np.fmin.reduce(np.fmax(t1, t2), axis=-1)
    hit = near <= far
    return np.stack([np.where(hit, near, np.inf), np.where(hit, far, -np.inf)], axis=-1)


def numpy_classify(lo, hi, rows):
    """Positive and negative vertices of every box for every plane, in NumPy."""
    normals, offsets = rows[:, :3], rows[:, 3]
    up = normals >= 0
    positive = np.where(up, hi[:, None, :], lo[:, None, :])
    negative = np.where(up, lo[:, None, :], hi[:, None, :])
    outside = ((positive * normals).sum(-1) + offsets < 0).any(-1)
    crossing = ((negative * normals).sum(-1) + offsets < 0).any(-1)
    return np.where(outside, -1, np.where(crossing, 0, 1)).astype(np.int8)


def query_setup(n):
    rng = np.random.default_rng(1)
    lo = rng.uniform(-10, 10, (n, 3))
    hi = lo + rng.uniform(0, 2, (n, 3))
    o, d = rng.normal(size=(n, 3)), rng.normal(size=(n, 3))
    view = ov.look_at(ov.Vector3d(0, 0, 9), ov.Vector3d(0, 0, 0), ov.Vector3d(0, 1, 0))
    planes = ov.frustum_planes(ov.Matrix4d.Perspective(50, 1.5, 1, 30) * view)
    return {"o": o, "d": d, "lo": lo, "hi": hi, "rows": oa.plane_rows(planes), "planes": planes}


def single_query_rows(case, row_type):
    """One query per call, against the same test written in NumPy for one item."""
    one = query_setup(1)
    ours = {
        "ov": ov,
        "o": ov.Vector3d(*one["o"][0]),
        "d": ov.Vector3d(*one["d"][0]),
        "box": ov.AABB_d(ov.Vector3d(*one["lo"][0]), ov.Vector3d(*one["hi"][0])),
        "planes": one["planes"],
    }
    numpy = {**one, "ray": numpy_ray_aabb, "classify": numpy_classify}
    return [
        row_type(
            "ray_aabb(Vector3d, Vector3d, AABB_d)",
            case("ov.ray_aabb(o, d, box)", ours),
            None,
            None,
            "NumPy",
            case("ray(o, d, lo, hi)", numpy),
        ),
        row_type(
            "classify_aabb(AABB_d, planes)",
            case("ov.classify_aabb(box, planes)", ours),
            None,
            None,
            "NumPy",
            case("classify(lo, hi, rows)", numpy),
        ),
    ]


def batch_query_rows(case, batch_row_type, n):
    many = query_setup(n)
    ours = {**many, "oa": oa}
    numpy = {**many, "ray": numpy_ray_aabb, "classify": numpy_classify}
    return [
        batch_row_type(
            "ray_aabb",
            case("oa.ray_aabb(o, d, lo, hi)", ours),
            {"NumPy": case("ray(o, d, lo, hi)", numpy)},
        ),
        batch_row_type(
            "classify_aabb",
            case("oa.classify_aabb(lo, hi, rows)", ours),
            {"NumPy": case("classify(lo, hi, rows)", numpy)},
        ),
    ]


def calling_form_rows(case, row_type):
    """The same call written another way, beside the form it is measured against,
    with the limit of their ratio: keywords against positions, array-likes
    against objects, and project and unproject against pyglm's."""
    objects = {
        "ov": ov,
        "eye": ov.Vector3d(1, 2, 6),
        "target": ov.Vector3d(0, 0, 0),
        "up": ov.Vector3d(0, 1, 0),
        "q0": ov.Quaterniond(0.8, 0.2, -0.3, 0.4).normalize(),
        "q1": ov.Quaterniond.RotationZ(1.2),
        "axis": ov.Vector3d(0, 0, 1),
        "a": ov.Vector3d(1, 2, 3),
        "b": ov.Vector3d(-1, 0, 2),
    }
    likes = {
        "ov": ov,
        "eye": (1.0, 2.0, 6.0),
        "target": [0.0, 0.0, 0.0],
        "up": np.array([0.0, 1.0, 0.0]),
        "q0": tuple(getattr(objects["q0"], c) for c in "wxyz"),
        "q1": np.array([getattr(objects["q1"], c) for c in "wxyz"]),
        "axis": np.array([0.0, 0.0, 1.0]),
        "a": (1.0, 2.0, 3.0),
        "b": (-1.0, 0.0, 2.0),
    }
    view = ov.Matrix4d.Perspective(1.0, 4 / 3, 0.5, 50.0)
    camera = {"ov": ov, "p": ov.Vector3d(0.2, -0.1, -3), "vp": view, "viewport": (0, 0, 640, 480)}
    glm_camera = {
        "glm": glm,
        "p": glm.dvec3(0.2, -0.1, -3),
        "model": glm.dmat4(1),
        "proj": glm.dmat4(*np.asarray(view.numpy()).T.ravel()),
        "viewport": glm.dvec4(0, 0, 640, 480),
    }
    forms = [
        (
            "look_at(eye=, target=, up=)",
            "ov.look_at(eye=eye, target=target, up=up)",
            objects,
            "positional",
            "ov.look_at(eye, target, up)",
            objects,
            1.2,
        ),
        (
            "slerp(q0=, q1=, t=)",
            "ov.slerp(q0=q0, q1=q1, t=0.3)",
            objects,
            "positional",
            "ov.slerp(q0, q1, 0.3)",
            objects,
            1.2,
        ),
        (
            "look_at(tuple, list, ndarray)",
            "ov.look_at(eye, target, up)",
            likes,
            "objects",
            "ov.look_at(eye, target, up)",
            objects,
            3.0,
        ),
        (
            "slerp(tuple, ndarray, t)",
            "ov.slerp(q0, q1, 0.3)",
            likes,
            "objects",
            "ov.slerp(q0, q1, 0.3)",
            objects,
            3.0,
        ),
        (
            "quat_from_axis_angle(ndarray, angle)",
            "ov.quat_from_axis_angle(axis, 0.5)",
            likes,
            "objects",
            "ov.quat_from_axis_angle(axis, 0.5)",
            objects,
            3.0,
        ),
        (
            "distance(tuple, tuple)",
            "ov.distance(a, b)",
            likes,
            "objects",
            "ov.distance(a, b)",
            objects,
            3.0,
        ),
        (
            "project(Vector3d, Matrix4d, tuple)",
            "ov.project(p, vp, viewport)",
            camera,
            "pyglm",
            "glm.project(p, model, proj, viewport)",
            glm_camera,
            2.0,
        ),
        (
            "unproject(Vector3d, Matrix4d, tuple)",
            "ov.unproject(p, vp, viewport)",
            camera,
            "pyglm",
            "glm.unProject(p, model, proj, viewport)",
            glm_camera,
            2.0,
        ),
    ]
    return [
        (row_type(label, case(stmt, names), None, None, against, case(ref, ref_names)), limit)
        for label, stmt, names, against, ref, ref_names, limit in forms
    ]
