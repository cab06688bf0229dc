"""Benchmark rows of the rotations, rigid motions, keyframes, cameras and
matrices of orvane.arrays, on 10**6 elements, against SciPy where it has the
operation and NumPy where it has not. The row and case types are the
benchmark's own, passed in."""

import numpy as np
from scipy.spatial.transform import RigidTransform, Rotation, Slerp

import orvane.arrays as oa


def numpy_umeyama(a, b):
    """The rigid alignment a ~ R b + t by SVD, in NumPy."""
    ma, mb = a.mean(0), b.mean(0)
    u, _, vt = np.linalg.svd((a - ma).T @ (b - mb))
    d = np.sign(np.linalg.det(u @ vt))
    r = u @ np.diag([1, 1, d]) @ vt
    return ma - r @ mb, r


def numpy_look_at(eye, target, up):
    f = target - eye
    f /= np.linalg.norm(f, axis=-1, keepdims=True)
    s = np.cross(f, up)
    s /= np.linalg.norm(s, axis=-1, keepdims=True)
    u = np.cross(s, f)
    m = np.zeros((*eye.shape[:-1], 4, 4))
    m[..., 0, :3], m[..., 1, :3], m[..., 2, :3] = s, u, -f
    m[..., :3, 3] = -np.einsum("...ij,...j->...i", m[..., :3, :3], eye)
    m[..., 3, 3] = 1
    return m


def numpy_project(points, vp, viewport):
    h = points @ vp[:3, :3].T + vp[:3, 3]
    w = points @ vp[3, :3] + vp[3, 3]
    ndc = h / w[:, None]
    x = viewport[0] + viewport[2] * (ndc[:, 0] + 1) / 2
    y = viewport[1] + viewport[3] * (1 - ndc[:, 1]) / 2
    return np.stack([x, y, (ndc[:, 2] + 1) / 2], axis=-1)


def numpy_decompose(m):
    scale = np.linalg.norm(m[..., :3, :3], axis=-2)
    return m[..., :3, 3], Rotation.from_matrix(m[..., :3, :3] / scale[..., None, :]), scale


def setup(n):
    rng = np.random.default_rng(5)
    q = rng.normal(size=(n, 4))
    q /= np.linalg.norm(q, axis=1, keepdims=True)
    q2 = np.roll(q, 1, axis=0)
    p = rng.normal(size=(n, 3))
    r, r2 = Rotation.from_quat(q, scalar_first=True), Rotation.from_quat(q2, scalar_first=True)
    tf = RigidTransform.from_components(p, r)
    keys = 1000
    times = np.cumsum(rng.uniform(0.5, 1.5, keys))
    key_q, key_p = q[:keys], p[:keys]
    t = rng.uniform(times[0], times[-1], n)
    m = r.as_matrix()
    trs = tf.as_matrix() @ np.diag([2.0, 3.0, 0.5, 1.0])
    eye = rng.normal(size=(n, 3)) * 5
    vp = np.array(
        [[1.3, 0, 0, 0], [0, 1.7, 0, 0], [0, 0, -1.02, -1.0], [0, 0, -1, 0]]
    ) @ numpy_look_at(np.array([1.0, 2, 6]), np.zeros(3), np.array([0.0, 1, 0]))
    viewport = np.array([0.0, 0, 640, 480])
    window = oa.project(p, vp, viewport)
    return {
        "oa": oa,
        "np": np,
        "R": Rotation,
        "RT": RigidTransform,
        "q": q,
        "q2": q2,
        "p": p,
        "p2": np.roll(p, 1, axis=0),
        "r": r,
        "r2": r2,
        "tf": tf,
        "xi": tf.as_exp_coords(),
        "dq": oa.pose_to_dual_quat(p, q),
        "T": tf.as_matrix(),
        "m": m,
        "m2": m[:, :2, :2] + np.eye(2),
        "m4": tf.as_matrix(),
        "trs": trs,
        "angles": r.as_euler("ZYX"),
        "times": times,
        "key_q": key_q,
        "key_p": key_p,
        "slerp": Slerp(times, Rotation.from_quat(key_q, scalar_first=True)),
        "t": t,
        "eye": eye,
        "target": np.zeros(3),
        "up": np.array([0.0, 0.0, 1.0]),
        "vp": vp,
        "viewport": viewport,
        "window": window,
        "inv_vp": np.linalg.inv(vp),
        "umeyama": numpy_umeyama,
        "look_at": numpy_look_at,
        "project": numpy_project,
        "decompose": numpy_decompose,
    }


def rows(case, batch_row_type, n):
    names = setup(n)
    sp = [
        ("quat_from_euler ZYX", "oa.quat_from_euler(angles, 'ZYX')", "R.from_euler('ZYX', angles)"),
        ("euler_from_quat ZYX", "oa.euler_from_quat(q, 'ZYX')", "r.as_euler('ZYX')"),
        ("euler_from_quat zxz", "oa.euler_from_quat(q, 'zxz')", "r.as_euler('zxz')"),
        ("quat_from_matrix", "oa.quat_from_matrix(m)", "R.from_matrix(m)"),
        ("quat_angle", "oa.quat_angle(q)", "r.magnitude()"),
        ("quat_angle_between", "oa.quat_angle_between(q, q2)", "(r.inv() * r2).magnitude()"),
        ("quat_approx_equal", "oa.quat_approx_equal(q, q2, 1e-8)", "r.approx_equal(r2, 1e-8)"),
        ("quat_mean", "oa.quat_mean(q)", "r.mean()"),
        ("align_vectors", "oa.align_vectors(p, p2)", "R.align_vectors(p, p2)"),
        (
            "random_quat",
            "oa.random_quat(len(q), rng=np.random.default_rng(1))",
            "R.random(len(q), rng=np.random.default_rng(1))",
        ),
        ("slerp_keyframes (1,000 keyframes)", "oa.slerp_keyframes(times, key_q, t)", "slerp(t)"),
        ("pose_inverse", "oa.pose_inverse(p, q)", "tf.inv()"),
        # SciPy keeps a RigidTransform as 4x4 matrices: as_matrix() is a copy.
        ("pose_to_matrix", "oa.pose_to_matrix(p, q)", "tf.as_matrix()"),
        (
            "pose_to_matrix, SciPy from the same arrays",
            "oa.pose_to_matrix(p, q)",
            "RT.from_components(p, R.from_quat(q, scalar_first=True)).as_matrix()",
        ),
        ("pose_from_matrix", "oa.pose_from_matrix(T)", "RT.from_matrix(T)"),
        ("pose_exp", "oa.pose_exp(xi)", "RT.from_exp_coords(xi)"),
        ("pose_log", "oa.pose_log(p, q)", "tf.as_exp_coords()"),
        ("pose_power (0.5)", "oa.pose_power(p, q, 0.5)", "tf ** 0.5"),
        ("pose_to_dual_quat", "oa.pose_to_dual_quat(p, q)", "tf.as_dual_quat(scalar_first=True)"),
        (
            "pose_from_dual_quat",
            "oa.pose_from_dual_quat(dq)",
            "RT.from_dual_quat(dq, scalar_first=True)",
        ),
    ]
    numpy = [
        ("align_points", "oa.align_points(p, p2)", "umeyama(p, p2)"),
        ("look_at", "oa.look_at(eye, target, up)", "look_at(eye, target, up)"),
        ("project", "oa.project(p, vp, viewport)", "project(p, vp, viewport)"),
        ("matrix_inverse (4x4)", "oa.matrix_inverse(m4)", "np.linalg.inv(m4)"),
        ("matrix_determinant (3x3)", "oa.matrix_determinant(m)", "np.linalg.det(m)"),
        ("matrix_determinant (2x2)", "oa.matrix_determinant(m2)", "np.linalg.det(m2)"),
        ("decompose", "oa.decompose(trs)", "decompose(trs)"),
    ]
    return [
        batch_row_type(label, case(ours, names), {"SciPy": case(theirs, names)})
        for label, ours, theirs in sp
    ] + [
        batch_row_type(label, case(ours, names), {"NumPy": case(theirs, names)})
        for label, ours, theirs in numpy
    ]


def object_rows(case, row_type):
    """Per call, double precision, with pyglm's equivalent beside each."""
    from pyglm import glm

    import orvane as ov

    q = ov.Quaterniond(0.8, 0.2, -0.3, 0.4).normalize()
    trs = (
        ov.Matrix4d.Translation(ov.Vector3d(1, 2, 3))
        * ov.to_matrix4(q)
        * ov.Matrix4d.Scale(ov.Vector3d(2, 3, 0.5))
    )
    ours = {"ov": ov, "q": q, "m": ov.to_matrix3(q), "trs": trs, "angles": (0.3, -0.2, 1.1)}
    glm_trs = glm.dmat4(*np.asarray(trs.numpy()).T.ravel())
    theirs = {
        "glm": glm,
        "q": glm.dquat(q.w, q.x, q.y, q.z),
        "m": glm.mat3_cast(glm.dquat(q.w, q.x, q.y, q.z)),
        "trs": glm_trs,
        "angles": glm.dvec3(0.3, -0.2, 1.1),
        "out": (glm.dvec3(), glm.dquat(), glm.dvec3(), glm.dvec3(), glm.dvec4()),
    }
    pairs = [
        ("quat_angle(Quaterniond)", "ov.quat_angle(q)", "glm.angle(q)"),
        ("quat_from_matrix(Matrix3d)", "ov.quat_from_matrix(m)", "glm.quat_cast(m)"),
        ("quat_from_euler(tuple, 'xyz')", "ov.quat_from_euler(angles, 'xyz')", "glm.dquat(angles)"),
        (
            "euler_from_quat(Quaterniond, 'xyz')",
            "ov.euler_from_quat(q, 'xyz')",
            "glm.eulerAngles(q)",
        ),
        ("decompose(Matrix4d)", "ov.decompose(trs)", "glm.decompose(trs, *out)"),
    ]
    return [row_type(label, case(a, ours), None, case(b, theirs)) for label, a, b in pairs]
