"""Rotations of the orvane package against SciPy, and their degenerate cases."""

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import assert_python_equals_templates
from scipy.spatial.transform import Rotation, Slerp

import orvane as ov

TOLERANCE = {"f": 1e-6, "d": 1e-12}
ORDERS = ["XYZ", "YZX", "ZXY", "XZY", "YXZ", "ZYX"]


def quat(letter, wxyz):
    return cls("Quaternion", letter)(*map(float, wxyz))


def vec(letter, xyz):
    return cls("Vector3", letter)(*map(float, xyz))


def wxyz(q):
    return np.array([q.w, q.x, q.y, q.z])


def scipy_of(q):
    return Rotation.from_quat([q.x, q.y, q.z, q.w])


def same_rotation(q, expected_xyzw, tol):
    got = wxyz(q)
    expected = np.roll(expected_xyzw, 1)
    assert min(np.abs(got - expected).max(), np.abs(got + expected).max()) <= tol, (got, expected)


def close(a, b, tol):
    np.testing.assert_allclose(np.asarray(a, float), np.asarray(b, float), rtol=0, atol=tol)


def random_cases(letter, n=40, seed=3):
    rng = np.random.default_rng(seed)
    tol = 40 * TOLERANCE[letter]
    for _ in range(n):
        # Representable in the precision, so both sides start from the same numbers.
        q = rng.normal(size=4).astype(dtype_of(letter))
        yield rng, quat(letter, q), tol


def test_axis_angle_and_rotation_vector_agree_with_scipy(letter):
    for rng, q, tol in random_cases(letter):
        r = scipy_of(q)
        axis, angle = ov.axis_angle(q)
        close(np.array(axis) * angle, r.as_rotvec(), tol)
        assert 0 <= angle <= np.pi
        close(ov.rotation_vector(q), r.as_rotvec(), tol)
        minus = quat(letter, -wxyz(q))
        assert ov.axis_angle(minus)[1] == angle and ov.rotation_vector(minus) == ov.rotation_vector(
            q
        )
        v = vec(letter, rng.normal(size=3))
        same_rotation(
            ov.quat_from_rotation_vector(v), Rotation.from_rotvec(np.array(v)).as_quat(), tol
        )
        raw_axis = vec(letter, 5 * rng.normal(size=3))
        unit = np.array(raw_axis) / np.linalg.norm(np.array(raw_axis))
        same_rotation(
            ov.quat_from_axis_angle(raw_axis, 0.7), Rotation.from_rotvec(0.7 * unit).as_quat(), tol
        )
        close(
            ov.matrix3_from_axis_angle(raw_axis, 0.7).numpy(),
            Rotation.from_rotvec(0.7 * unit).as_matrix(),
            tol,
        )
        m4 = ov.matrix4_from_axis_angle(raw_axis, 0.7).numpy()
        close(m4[:3, :3], Rotation.from_rotvec(0.7 * unit).as_matrix(), tol)
        close(m4[3], [0, 0, 0, 1], 0)


def test_identity_gives_x_axis_and_zero_angle(letter):
    axis, angle = ov.axis_angle(cls("Quaternion", letter)())
    assert (tuple(axis), angle) == ((1.0, 0.0, 0.0), 0.0)
    assert tuple(ov.rotation_vector(cls("Quaternion", letter)())) == (0.0, 0.0, 0.0)
    assert wxyz(ov.quat_from_rotation_vector(vec(letter, [0, 0, 0]))).tolist() == [1, 0, 0, 0]


def test_slerp_follows_scipy_with_exact_ends_and_extrapolation(letter):
    for rng, q0, tol in random_cases(letter, n=25):
        q1 = quat(letter, rng.normal(size=4).astype(dtype_of(letter)))
        interpolate = Slerp([0, 1], Rotation.concatenate([scipy_of(q0), scipy_of(q1)]))
        for t in rng.uniform(0, 1, size=4):
            same_rotation(ov.slerp(q0, q1, t), interpolate([t]).as_quat()[0], tol)
            a, b = wxyz(q0) / np.linalg.norm(wxyz(q0)), wxyz(q1) / np.linalg.norm(wxyz(q1))
            b = b if np.dot(a, b) >= 0 else -b
            mixed = (1 - t) * a + t * b
            same_rotation(ov.nlerp(q0, q1, t), np.roll(mixed / np.linalg.norm(mixed), -1), tol)
        assert wxyz(ov.slerp(q0, q1, 0.0)).tolist() == wxyz(q0.normalize()).tolist()
        end = wxyz(ov.slerp(q0, q1, 1.0))
        n1 = wxyz(q1.normalize())
        assert end.tolist() in (n1.tolist(), (-n1).tolist())
        # Beyond t = 1 the rotation keeps turning at the same rate.
        step = ov.angle_between(q0, q1)
        close(ov.angle_between(q0, ov.slerp(q0, q1, 2.0)), min(2 * step, 2 * np.pi - 2 * step), tol)


def test_slerp_of_equal_and_nearly_equal_inputs_is_finite(letter):
    q = quat(letter, [0.5, 0.5, -0.5, 0.5])
    tiny = quat(letter, [0.5, 0.5, -0.5, 0.5 + 1e-7])
    for other in (q, tiny):
        for t in (0.0, 0.3, 1.0, 1.7):
            r = wxyz(ov.slerp(q, other, t))
            assert np.isfinite(r).all()
            close(r, wxyz(q), 1e-6)


def test_quat_between_is_the_shortest_rotation(letter):
    rng = np.random.default_rng(11)
    tol = 50 * TOLERANCE[letter]
    for _ in range(40):
        a, b = (rng.normal(size=3).astype(dtype_of(letter)) for _ in range(2))
        q = ov.quat_between(vec(letter, a), vec(letter, 3 * b))
        expected, _ = Rotation.align_vectors([b], [a])
        same_rotation(q, expected.as_quat(), tol)
        # Opposite directions: a half turn about an axis perpendicular to a.
        half = ov.quat_between(vec(letter, a), vec(letter, -2 * a))
        axis, angle = ov.axis_angle(half)
        assert np.isfinite(wxyz(half)).all()
        close(angle, np.pi, tol)
        close(np.dot(np.array(axis), a) / np.linalg.norm(a), 0, tol)


def test_angle_between_and_quat_dot(letter):
    for rng, q0, tol in random_cases(letter, n=20):
        q1 = quat(letter, rng.normal(size=4).astype(dtype_of(letter)))
        close(ov.angle_between(q0, q1), (scipy_of(q0).inv() * scipy_of(q1)).magnitude(), tol)
        assert ov.angle_between(q0, q0) == 0
        close(ov.quat_dot(q0, q1), np.dot(wxyz(q0), wxyz(q1)), tol * 10)


@pytest.mark.parametrize("order", ORDERS)
@pytest.mark.parametrize("convention", ["INTRINSIC", "EXTRINSIC"])
def test_euler_angles_become_rotations_and_come_back(letter, order, convention):
    rng = np.random.default_rng(5)
    sequence = order if convention == "INTRINSIC" else order.lower()
    tol = TOLERANCE[letter]
    for angles in rng.uniform(-1.2, 1.2, size=(20, 3)).astype(dtype_of(letter)):
        e = cls("Euler_", letter)(*map(float, angles))
        e.order, e.convention = getattr(ov.eOrder, order), getattr(ov.eConvention, convention)
        by_axis = dict(zip("XYZ", map(float, angles)))
        expected = Rotation.from_euler(sequence, [by_axis[a] for a in order.upper()])
        close(ov.to_matrix3(e).numpy(), expected.as_matrix(), 10 * tol)
        close(ov.to_matrix4(e).numpy()[:3, :3], expected.as_matrix(), 10 * tol)
        back = cls("Euler_", letter)()
        back.order, back.convention = e.order, e.convention
        back.setFromQuaternion(ov.to_quaternion(e))
        close([back.x, back.y, back.z], angles, 10 * tol)


def test_conversions_between_representations(letter):
    for _, q, tol in random_cases(letter, n=20):
        m3 = ov.to_matrix3(q)
        close(m3.numpy(), scipy_of(q).as_matrix(), tol)
        m4 = ov.to_matrix4(q)
        close(m4.numpy()[:3, :3], m3.numpy(), 0)
        same_rotation(ov.to_quaternion(m3), scipy_of(q).as_quat(), tol)
        assert ov.to_quaternion(m4) == ov.to_quaternion(m3)
        pose = cls("Pose3d_", letter)(vec(letter, [1, 2, 3]), q)
        assert ov.to_matrix4(pose).numpy().tobytes() == pose.toMatrix().numpy().tobytes()
        assert (
            ov.to_matrix3(pose).numpy().tobytes()
            == ov.to_matrix3(pose.orientation).numpy().tobytes()
        )


def test_precision_follows_the_arguments_and_mixing_is_refused():
    assert isinstance(ov.slerp(ov.Quaternionf(), ov.Quaternionf(), 0.5), ov.Quaternionf)
    assert isinstance(ov.slerp(ov.Quaterniond(), ov.Quaterniond(), 0.5), ov.Quaterniond)
    with pytest.raises(TypeError):
        ov.slerp(ov.Quaternionf(), ov.Quaterniond(), 0.5)
    with pytest.raises(TypeError):
        ov.quat_between(ov.Vector3f(1, 0, 0), ov.Vector3d(0, 1, 0))
    assert ov.slerp(q0=ov.Quaterniond(), q1=ov.Quaterniond(), t=0.25) == ov.Quaterniond()


def test_zero_axis_gives_nan_without_error(letter):
    q = ov.quat_from_axis_angle(vec(letter, [0, 0, 0]), 1.0)
    assert np.isnan(wxyz(q)[1:]).all()


# The Python results are the header templates' results, bit for bit. Per
# function: argument kinds (v 3-vector, q quaternion, s number, e Euler
# angles, m Matrix3, M Matrix4, w viewport), the Python call, the C++ one.
EXACT = {
    "quat_from_axis_angle": ("vs", ov.quat_from_axis_angle, "quaternionFromAxisAngle<T>"),
    "axis_angle": ("q", ov.axis_angle, "toAxisAngle<T>"),
    "quat_from_rotation_vector": (
        "v",
        ov.quat_from_rotation_vector,
        "quaternionFromRotationVector<T>",
    ),
    "rotation_vector": ("q", ov.rotation_vector, "toRotationVector<T>"),
    "quat_between": ("vv", ov.quat_between, "quaternionBetween<T>"),
    "slerp": ("qqs", ov.slerp, "slerp<T>"),
    "nlerp": ("qqs", ov.nlerp, "nlerp<T>"),
    "quat_dot": ("qq", ov.quat_dot, "[](const Q& a, const Q& b) { return dot(a, b); }"),
    "angle_between": ("qq", ov.angle_between, "angleBetween<T>"),
    "matrix3_from_axis_angle": ("vs", ov.matrix3_from_axis_angle, "matrix3FromAxisAngle<T>"),
    "matrix4_from_axis_angle": ("vs", ov.matrix4_from_axis_angle, "matrix4FromAxisAngle<T>"),
    "quat_to_matrix3": ("q", ov.to_matrix3, "[](const Q& q) { return toMatrix3(q); }"),
    "quat_to_matrix4": ("q", ov.to_matrix4, "[](const Q& q) { return toMatrix4(q); }"),
    "euler_to_matrix3": ("e", ov.to_matrix3, "[](const E& e) { return toMatrix3(e); }"),
    "euler_to_quaternion": ("e", ov.to_quaternion, "[](const E& e) { return toQuaternion(e); }"),
    "matrix3_to_quaternion": ("m", ov.to_quaternion, "[](const M3& m) { return toQuaternion(m); }"),
    "matrix4_to_quaternion": ("M", ov.to_quaternion, "[](const M4& m) { return toQuaternion(m); }"),
    "look_at": ("vvv", ov.look_at, "lookAt<T>"),
    "ortho": ("ssssss", lambda *a: ov.ortho(*a, dtype=LETTER_DTYPE[type(a[0])]), "ortho<T>"),
    "project": ("vMw", ov.project, "project<T>"),
    "unproject": ("vMw", ov.unproject, "unproject<T>"),
    "distance": ("vv", ov.distance, "distance<V>"),
    "angle": ("vv", ov.angle, "angle<V>"),
    "reflect": ("vv", ov.reflect, "reflect<V>"),
    "project_onto": ("vv", ov.project_onto, "projectOnto<V>"),
}
READERS = {
    "v": "vector",
    "q": "quaternion",
    "s": "scalar",
    "e": "euler",
    "m": "matrix3",
    "M": "matrix4",
    "w": "vector4",
}


class Single(float):
    """A number drawn in single precision, so that ortho's dtype follows it."""


LETTER_DTYPE = {Single: "float32", float: "float64"}


ALIASES = """    using V = Vector3<T>;
    using Q = Quaternion<T>;
    using E = Euler<T>;
    using M3 = Matrix3<T>;
    using M4 = Matrix4<T>;"""


def exact_argument(rng, letter, kind):
    values = rng.uniform(-3, 3, 16).astype(dtype_of(letter))
    if rng.random() < 0.25:
        values = np.round(values)  # ties, zeros and parallels
    floats = [float(x) for x in values]
    if kind == "s":
        return Single(floats[0]) if letter == "f" else floats[0]
    if kind == "w":
        return (floats[0], floats[1], abs(floats[2]) * 100 + 1, abs(floats[3]) * 100 + 1)
    if kind == "e":
        e = cls("Euler_", letter)(*floats[:3])
        e.order = ov.eOrder(int(rng.integers(6)))
        e.convention = ov.eConvention(int(rng.integers(2)))
        return e
    name, count = {
        "v": ("Vector3", 3),
        "q": ("Quaternion", 4),
        "m": ("Matrix3", 9),
        "M": ("Matrix4", 16),
    }[kind]
    return cls(name, letter)(*floats[:count])


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    assert_python_equals_templates(
        EXACT,
        READERS,
        ALIASES,
        exact_argument,
        tmp_path_factory.getbasetemp(),
        seed=31,
        per_operation=12,
    )
