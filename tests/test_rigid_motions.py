"""The nearest rotation of a matrix and rigid motions, against SciPy, in batch
and per object, and against the header templates."""

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import assert_python_equals_templates
from scipy.spatial.transform import RigidTransform, Rotation

import orvane as ov
import orvane.arrays as oa

TOLERANCE = {"f": 2e-5, "d": 1e-12}
BITS = {"f": np.uint32, "d": np.uint64}


def pose(letter, t, q):
    p = cls("Pose3d_", letter)()
    p.position = cls("Vector3", letter)(*map(float, t))
    p.orientation = cls("Quaternion", letter)(*map(float, q))
    return p


def fields(p):
    o = p.orientation
    return np.array([*p.position]), np.array([o.w, o.x, o.y, o.z])


def scipy_pose(t, q):
    return RigidTransform.from_components(t, Rotation.from_quat(np.roll(q, -1)))


def poses(letter, seed=5):
    """(position, unit orientation) pairs: identity, half turns, tiny angles,
    a pure translation, then random ones."""
    rng = np.random.default_rng(seed)
    s = np.sqrt(0.5)
    special = [
        ((0, 0, 0), (1, 0, 0, 0)),
        ((1, -2, 3), (0, 1, 0, 0)),
        ((0.5, 0, -1), (0, s, s, 0)),
        ((1, 2, 3), (1, 1e-9, -2e-9, 0)),
        ((-1, 0.5, 2), (1, 3e-4, 1e-4, -2e-4)),
        ((4, -5, 6), (1, 0, 0, 0)),
    ]
    rows = [(np.array(t, float), np.array(q, float)) for t, q in special]
    rows += [(rng.uniform(-3, 3, 3), rng.normal(size=4)) for _ in range(30)]
    dtype = dtype_of(letter)
    return [(t.astype(dtype), (q / np.linalg.norm(q)).astype(dtype)) for t, q in rows]


def half_turn(q):
    return abs(float(q[0])) < 1e-6


def assert_close(got, expected, tol, either_sign=False):
    got, expected = np.asarray(got, float), np.asarray(expected, float)
    gap = np.abs(got - expected).max()
    if either_sign:
        gap = min(gap, np.abs(got + expected).max())
    assert gap <= tol * max(1.0, np.abs(expected).max()), (got, expected)


def assert_same_bits(got, expected, letter):
    got, expected = np.asarray(got), np.asarray(expected, got.dtype)
    assert got.dtype == dtype_of(letter)
    np.testing.assert_array_equal(got.view(BITS[letter]), expected.view(BITS[letter]))


# Per family: the per-object call on (pose, t, q), the batch call on the
# stacked (t, q), and the check against SciPy of one result.
def _as_pose(r):
    return fields(r) if hasattr(r, "orientation") else r


FAMILIES = {
    "inverse": (
        lambda p, t, q: ov.pose_inverse(p),
        lambda t, q: oa.pose_inverse(t, q),
        lambda r, t, q: scipy_pose(t, q).inv().as_matrix(),
    ),
    "to_matrix": (
        lambda p, t, q: np.array(ov.pose_to_matrix(p)),
        lambda t, q: oa.pose_to_matrix(t, q),
        lambda r, t, q: scipy_pose(t, q).as_matrix(),
    ),
    "from_matrix": (
        lambda p, t, q: ov.pose_from_matrix(
            (np.array(p.toMatrix()) * np.r_[[[2.5]] * 3, [[1]]]).astype(t.dtype)
        ),
        lambda t, q: oa.pose_from_matrix(
            oa.pose_to_matrix(t, q) * np.r_[[[2.5]] * 3, [[1]]].astype(t.dtype)
        ),
        lambda r, t, q: RigidTransform.from_matrix(
            scipy_pose(t, q).as_matrix() * np.r_[[[2.5]] * 3, [[1]]]
        ).as_matrix(),
    ),
    "exp": (
        lambda p, t, q: ov.pose_exp(np.r_[ov.rotation_vector(p.orientation), t]),
        lambda t, q: oa.pose_exp(np.concatenate([oa.quat_to_rotation_vector(q), t], axis=-1)),
        lambda r, t, q: RigidTransform.from_exp_coords(
            np.r_[Rotation.from_quat(np.roll(q, -1)).as_rotvec(), t]
        ).as_matrix(),
    ),
    "log": (
        lambda p, t, q: ov.pose_log(p),
        lambda t, q: oa.pose_log(t, q),
        lambda r, t, q: scipy_pose(t, q).as_exp_coords(),
    ),
    # SciPy's ** for n other than 0 and 1 is exp(n * log), which its own
    # exp and log give more accurately (its ** loses digits for tiny angles).
    **{
        f"power_{n}": (
            lambda p, t, q, n=n: ov.pose_power(p, n),
            lambda t, q, n=n: oa.pose_power(t, q, n),
            lambda r, t, q, n=n: (
                (scipy_pose(t, q) ** n)
                if n in (0, 1, -1)
                else RigidTransform.from_exp_coords(n * scipy_pose(t, q).as_exp_coords())
            ).as_matrix(),
        )
        for n in (0, 1, -1, 0.5, 2.5, -0.3)
    },
    "to_dual_quat": (
        lambda p, t, q: ov.pose_to_dual_quat(p),
        lambda t, q: oa.pose_to_dual_quat(t, q),
        lambda r, t, q: scipy_pose(t, q).as_dual_quat(scalar_first=True),
    ),
    "from_dual_quat": (
        # Neither unit nor orthogonal: scaled, and the dual part moved along the real one.
        lambda p, t, q: ov.pose_from_dual_quat(np.r_[3 * q, ov.pose_to_dual_quat(p)[4:] + q]),
        lambda t, q: oa.pose_from_dual_quat(
            np.concatenate([3 * q, oa.pose_to_dual_quat(t, q)[..., 4:] + q], axis=-1)
        ),
        lambda r, t, q: RigidTransform.from_dual_quat(
            np.r_[3 * q, ov.pose_to_dual_quat(pose("d", t, q))[4:] + q],
            scalar_first=True,
        ).as_matrix(),
    ),
}


def matrix_of(r):
    if isinstance(r, tuple):
        return scipy_pose(*(np.asarray(x, float) for x in r)).as_matrix()
    return r


@pytest.mark.parametrize("family", FAMILIES)
def test_rigid_motions_follow_scipy_and_batch_equals_per_object(family, letter):
    single, batch, reference = FAMILIES[family]
    rows = poses(letter)
    ts, qs = (np.array([r[k] for r in rows]) for k in (0, 1))
    per_object = [_as_pose(single(pose(letter, t, q), t, q)) for t, q in rows]
    got = batch(ts, qs)
    got = got if isinstance(got, tuple) else (got,)
    for k, out in enumerate(got):
        expected = [r[k] if isinstance(r, tuple) else r for r in per_object]
        assert_same_bits(out, expected, letter)
    for r, (t, q) in zip(per_object, rows, strict=True):
        t, q = t.astype(float), q.astype(float)
        expected = reference(r, t, q)
        if family == "log" and half_turn(q):
            # Either rotation vector of a half turn: both move the same.
            expected = scipy_pose(t, q).as_matrix()
            r = RigidTransform.from_exp_coords(np.asarray(r, float)).as_matrix()
        elif family.startswith("power") and half_turn(q) and family not in ("power_0", "power_1"):
            if family != "power_-1":
                continue  # the screw's direction is either one's
        assert_close(
            matrix_of(r), expected, TOLERANCE[letter], either_sign=family == "to_dual_quat"
        )


def test_power_zero_one_and_minus_one_are_exact(letter):
    for t, q in poses(letter)[:8]:
        p = pose(letter, t, q)
        for got, expected in [
            (ov.pose_power(p, 1.0), p),
            (ov.pose_power(p, -1.0), p.inverse()),
            (ov.pose_power(p, 0.0), cls("Pose3d_", letter)()),
            (ov.pose_inverse(p), p.inverse()),
        ]:
            for a, b in zip(fields(got), fields(expected), strict=True):
                assert_same_bits(a.astype(dtype_of(letter)), b, letter)
        assert_same_bits(
            np.array(ov.pose_to_matrix(p)), np.array(p.toMatrix()).astype(dtype_of(letter)), letter
        )


@pytest.mark.parametrize("kind", ["rotation", "scaled", "huge", "tiny", "perturbed"])
def test_quat_from_matrix_follows_scipy(kind, letter):
    rng = np.random.default_rng(9)
    rotations = Rotation.random(40, random_state=rng).as_matrix()
    if kind == "scaled":
        rotations = rotations * rng.uniform(1e-3, 1e3, (40, 1, 1))
    elif kind in ("huge", "tiny"):  # near the ends of float32's range
        rotations = rotations * (1e37 if kind == "huge" else 1e-37)
    elif kind == "perturbed":
        rotations = rotations + rng.uniform(-0.05, 0.05, (40, 3, 3))
    matrices = rotations.astype(dtype_of(letter))
    batch = oa.quat_from_matrix(matrices)
    for m, q in zip(matrices, batch, strict=True):
        expected = np.roll(Rotation.from_matrix(m.astype(float)).as_quat(), 1)
        assert_close(q, expected, 10 * TOLERANCE[letter], either_sign=True)
        assert q[0] >= 0
        assert_same_bits(q, fields(pose(letter, (0, 0, 0), ov.quat_from_matrix(m)))[1], letter)
        m4 = cls("Matrix4", letter)(*np.pad(m, ((0, 1), (0, 1))).ravel().tolist())
        assert ov.quat_from_matrix(m4) == ov.quat_from_matrix(
            cls("Matrix3", letter)(*m.ravel().tolist())
        )
    assert type(ov.quat_from_matrix(matrices[0].tolist())).__name__ == "Quaterniond"
    assert type(ov.quat_from_matrix(matrices[0], dtype="float32")).__name__ == "Quaternionf"


REFLECTION = np.diag([1.0, 1.0, -1.0]) @ Rotation.from_rotvec([0.3, -0.2, 0.5]).as_matrix()
AFFINE_REFLECTION = np.block([[REFLECTION, np.ones((3, 1))], [np.zeros((1, 3)), 1]])
PROJECTIVE = np.eye(4) + np.outer(np.eye(4)[3], [0, 0, 0.5, 0])


@pytest.mark.parametrize(
    ("call", "batch", "argument", "message"),
    [
        (ov.quat_from_matrix, oa.quat_from_matrix, REFLECTION, "reflection"),
        (ov.pose_from_matrix, oa.pose_from_matrix, AFFINE_REFLECTION, "reflection"),
        (ov.pose_from_matrix, oa.pose_from_matrix, PROJECTIVE, "last row"),
        (ov.pose_from_matrix, oa.pose_from_matrix, np.diag([1, np.nan, 1, 1]), "NaN"),
    ],
)
def test_degenerate_matrices_raise_per_object_and_give_nan_in_batch(call, batch, argument, message):
    with pytest.raises(ValueError, match=message):
        call(argument)
    with pytest.raises(ValueError, match=message):
        call(cls(f"Matrix{len(argument)}", "d")(*argument.ravel().tolist()))
    with np.errstate(invalid="ignore"):  # NumPy reports NaN met in a comparison
        out = batch(argument)
    assert all(np.isnan(x).all() for x in (out if isinstance(out, tuple) else (out,)))


@pytest.mark.parametrize(
    ("call", "argument", "error", "message"),
    [
        (ov.pose_exp, [1, 2, 3], ValueError, r"has shape \(3,\); it takes \(6,\)"),
        (ov.pose_exp, np.zeros((2, 6)), ValueError, "orvane.arrays.pose_exp"),
        (ov.pose_from_dual_quat, "12345678", TypeError, "8 numbers"),
        (ov.quat_from_matrix, ov.Matrix2d(), TypeError, "Matrix3f"),
    ],
)
def test_bad_arguments_say_what_to_pass(call, argument, error, message):
    with pytest.raises(error, match=message):
        call(argument)


def test_zero_real_part_is_the_identity():
    p = ov.pose_from_dual_quat([0, 0, 0, 0, 0, 1, 2, 3])
    expected = RigidTransform.from_dual_quat([0, 0, 0, 0, 0, 1, 2, 3], scalar_first=True)
    assert_close(np.array(p.toMatrix()), expected.as_matrix(), 1e-15)


# Python against the templates, bit for bit: kinds p pose, m Matrix3, M Matrix4,
# x six numbers, u eight numbers, s number.
EXACT = {
    "nearest": ("m", ov.quat_from_matrix, "[](const M3& m) { return nearestRotation(m); }"),
    "inverse": ("p", ov.pose_inverse, "[](const P& p) { return p.inverse(); }"),
    "from_matrix": ("M", ov.pose_from_matrix, "poseFromMatrix<T>"),
    "exp": ("x", ov.pose_exp, "exp6"),
    "log": ("p", ov.pose_log, "log6"),
    "power": ("ps", ov.pose_power, "posePower<T>"),
    "to_dual": ("p", ov.pose_to_dual_quat, "dual8"),
    "from_dual": ("u", ov.pose_from_dual_quat, "fromDual8"),
}
READERS = {"p": "pose", "m": "matrix3", "M": "matrix4", "x": "six", "u": "eight", "s": "scalar"}
ALIASES = """    using P = Pose3d<T>;
    using M3 = Matrix3<T>;
    using A6 = std::array<T, 6>;
    using A8 = std::array<T, 8>;
    const auto exp6 = [](const A6& x) {
        return poseExp<T>({x[0], x[1], x[2]}, {x[3], x[4], x[5]});
    };
    const auto log6 = [](const P& p) {
        const ExpCoords<T> c = poseLog(p);
        const Vector3<T> r = c.rotation, v = c.translation;
        return A6{r.x, r.y, r.z, v.x, v.y, v.z};
    };
    const auto dual8 = [](const P& p) {
        const DualQuaternion<T> d = toDualQuaternion(p);
        return std::array<Quaternion<T>, 2>{d.real, d.dual};
    };
    const auto fromDual8 = [](const A8& u) {
        return poseFromDualQuaternion<T>({{u[0], u[1], u[2], u[3]}, {u[4], u[5], u[6], u[7]}});
    };"""


def exact_argument(rng, letter, kind):
    dtype = dtype_of(letter)
    t, q = rng.uniform(-3, 3, 3).astype(dtype), rng.normal(size=4).astype(dtype)
    if kind == "p":
        return pose(letter, t, q / np.linalg.norm(q))
    if kind == "s":
        return float(rng.choice([0.5, -2.0, 1.5, 1e-3]))
    if kind in "mM":
        m = Rotation.random(random_state=rng).as_matrix() * rng.uniform(0.5, 2) + rng.uniform(
            -0.05, 0.05, (3, 3)
        )
        if kind == "m":
            return cls("Matrix3", letter)(*m.astype(dtype).ravel().tolist())
        return cls("Matrix4", letter)(
            *np.r_[np.c_[m, t], [[0, 0, 0, 1]]].astype(dtype).ravel().tolist()
        )
    n = 6 if kind == "x" else 8
    return (rng.normal(size=n) * rng.choice([1.0, 1e-5])).astype(dtype)


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    assert_python_equals_templates(
        EXACT,
        READERS,
        ALIASES,
        exact_argument,
        tmp_path_factory.getbasetemp(),
        seed=17,
        per_operation=12,
    )
