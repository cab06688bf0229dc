"""Batch operations: NumPy generalized ufuncs equal to the per-object methods."""

import subprocess
import sys
import tracemalloc

import numpy as np
import orvane_bindings as ob
import pytest
from scipy.spatial.transform import Rotation

import orvane as ov
from orvane import arrays as oa

DTYPE = {"f": np.float32, "d": np.float64}
BITS = {"f": np.uint32, "d": np.uint64}
ORDERS = ["XYZ", "YZX", "ZXY", "XZY", "YXZ", "ZYX"]
CONVENTIONS = ["INTRINSIC", "EXTRINSIC"]


def obj(p, a):
    """The object of precision p holding the array a: its class follows the shape."""
    a = np.asarray(a)
    if a.ndim == 2:
        return getattr(ob, f"Matrix{len(a)}{p}")(*map(float, a.ravel()))
    return getattr(ob, f"Vector{len(a)}{p}")(*map(float, a))


def quat(p, a):
    return getattr(ob, f"Quaternion{p}")(*map(float, a))


def pose(p, position, orientation):
    """A pose holding the orientation as given, unnormalized."""
    x = getattr(ob, f"Pose3d_{p}")()
    x.position, x.orientation = obj(p, position), quat(p, orientation)
    return x


def euler(p, angles, order, convention):
    e = getattr(ob, f"Euler_{p}")(*map(float, angles))
    e.order, e.convention = getattr(ob.eOrder, order), getattr(ob.eConvention, convention)
    return e


def by_axis(angles, order):
    """Angles in the order's sequence ((z, y, x) for ZYX) rearranged as x, y, z."""
    return [angles[order.index(axis)] for axis in "XYZ"]


def angles_of(p, q, order, convention):
    """Euler.setFromQuaternion's angles, in the order's sequence."""
    e = euler(p, [0, 0, 0], order, convention)
    e.setFromQuaternion(quat(p, q))
    return [getattr(e, axis.lower()) for axis in order]


def by_enum(ufunc, o, c):
    return lambda a: ufunc(a, getattr(ob.eOrder, o), getattr(ob.eConvention, c))


# name: (core shapes of the inputs, batch call, per-object reference)
CASES = {
    "quat_multiply": ([(4,), (4,)], oa.quat_multiply, lambda p, a, b: quat(p, a) * quat(p, b)),
    "quat_rotate": ([(4,), (3,)], oa.quat_rotate, lambda p, q, v: quat(p, q).rotate(obj(p, v))),
    "quat_conjugate": ([(4,)], oa.quat_conjugate, lambda p, q: quat(p, q).conjugate()),
    "quat_inverse": ([(4,)], oa.quat_inverse, lambda p, q: quat(p, q).inverse()),
    "quat_normalize": ([(4,)], oa.quat_normalize, lambda p, q: quat(p, q).normalize()),
    "quat_slerp": (
        [(4,), (4,), ()],
        oa.quat_slerp,
        lambda p, a, b, t: ov.slerp(quat(p, a), quat(p, b), float(t)),
    ),
    "quat_to_rotation_vector": (
        [(4,)],
        oa.quat_to_rotation_vector,
        lambda p, q: ov.rotation_vector(quat(p, q)),
    ),
    "quat_from_rotation_vector": (
        [(3,)],
        oa.quat_from_rotation_vector,
        lambda p, v: ov.quat_from_rotation_vector(obj(p, v)),
    ),
    "quat_to_matrix": (
        [(4,)],
        oa.quat_to_matrix,
        lambda p, q: np.asarray(pose(p, [0, 0, 0], q).toMatrix())[:3, :3],
    ),
    "matrix_to_quat": (
        [(3, 3)],
        oa.matrix_to_quat,
        lambda p, m: getattr(ob, f"Quaternion{p}")(obj(p, m)),
    ),
    "pose_apply": (
        [(3,), (4,), (3,)],
        oa.pose_apply,
        lambda p, t, q, v: pose(p, t, q).apply(obj(p, v)),
    ),
    "pose_compose": (
        [(3,), (4,), (3,), (4,)],
        oa.pose_compose,
        lambda p, ta, qa, tb, qb: (lambda c: (c.position, c.orientation))(
            pose(p, ta, qa) * pose(p, tb, qb)
        ),
    ),
    **{
        f"matrix_apply_{n}": (
            [(n, n), (n,)],
            oa.matrix_apply,
            lambda p, m, v: obj(p, m) * obj(p, v),
        )
        for n in (2, 3, 4)
    },
    "matrix_apply_point": (
        [(4, 4), (3,)],
        oa.matrix_apply_point,
        lambda p, m, v: np.asarray(obj(p, m) * obj(p, [*v, 1]))[:3],
    ),
    **{
        f"quat_to_euler_{o}_{c}": (
            [(4,)],
            by_enum(oa.quat_to_euler, o, c),
            lambda p, q, o=o, c=c: angles_of(p, q, o, c),
        )
        for o in ORDERS
        for c in CONVENTIONS
    },
    **{
        f"euler_to_quat_{o}_{c}": (
            [(3,)],
            by_enum(oa.euler_to_quat, o, c),
            lambda p, a, o=o, c=c: ov.to_quaternion(euler(p, by_axis(a, o), o, c)),
        )
        for o in ORDERS
        for c in CONVENTIONS
    },
}


def random_inputs(shapes, dtype, n=40, seed=1):
    """Unnormalized quaternions, vectors and matrices of all magnitudes, some tiny."""
    rng = np.random.default_rng(seed)
    scale = 10.0 ** rng.uniform(-3, 2, (n, 1))
    return [
        (rng.normal(size=(n, *s)) * scale.reshape(n, *[1] * len(s))).astype(dtype) for s in shapes
    ]


def assert_same_bits(got, expected, letter):
    expected = np.asarray(expected, DTYPE[letter])
    assert got.dtype == DTYPE[letter] and got.shape == expected.shape
    np.testing.assert_array_equal(got.view(BITS[letter]), expected.view(BITS[letter]))


@pytest.mark.parametrize("name", CASES)
def test_batch_equals_per_object_bit_for_bit(name, letter):
    shapes, batch, reference = CASES[name]
    inputs = random_inputs(shapes, DTYPE[letter])
    got = batch(*inputs)
    got = got if isinstance(got, tuple) else (got,)
    rows = [reference(letter, *args) for args in zip(*inputs, strict=True)]
    rows = [r if isinstance(r, tuple) else (r,) for r in rows]
    for k, out in enumerate(got):
        assert_same_bits(out, [np.asarray(r[k], DTYPE[letter]) for r in rows], letter)


@pytest.mark.parametrize("kind", ["Pose3d_", "Matrix4", "Matrix3", "Quaternion"])
def test_transform_points_equals_per_object(kind, letter):
    t, q, m4, m3, points = random_inputs([(3,), (4,), (4, 4), (3, 3), (3,)], np.float64, n=1)
    points = random_inputs([(3,)], np.float64, n=30)[0]  # cast to the object's precision
    o = {
        "Pose3d_": lambda: pose(letter, t[0], q[0]),
        "Matrix4": lambda: obj(letter, m4[0]),
        "Matrix3": lambda: obj(letter, m3[0]),
        "Quaternion": lambda: quat(letter, q[0]),
    }[kind]()
    move = {
        "Pose3d_": lambda v: o.apply(obj(letter, v)),
        "Matrix4": lambda v: np.asarray(o * obj(letter, [*v, 1]))[:3],
        "Matrix3": lambda v: o * obj(letter, v),
        "Quaternion": lambda v: o.rotate(obj(letter, v)),
    }[kind]
    expected = [np.asarray(move(v.astype(DTYPE[letter])), DTYPE[letter]) for v in points]
    assert_same_bits(oa.transform_points(o, points), expected, letter)


def scalar_first(q):
    return np.roll(q, 1, axis=-1)


def same_sign(q):
    """q or -q, whichever has w >= 0: both stand for one rotation."""
    return np.where(q[..., :1] < 0, -q, q)


def scipy_euler(o, c, to_quat):
    """SciPy's sequence for each order and convention: uppercase letters for
    intrinsic rotations, lowercase for extrinsic, and the same array."""

    def pair(r, q, v, t):
        angles = r.as_euler(o if c == "INTRINSIC" else o.lower())
        # Away from gimbal lock and from the +-pi seam, where angles are ill-conditioned.
        keep = (np.abs(angles[:, 1]) < 1.2) & np.all(np.abs(angles) < 3.0, axis=1)
        if to_quat:
            return (
                same_sign(by_enum(oa.euler_to_quat, o, c)(angles.astype(q.dtype))),
                same_sign(scalar_first(r.as_quat())),
            )
        return by_enum(oa.quat_to_euler, o, c)(q)[keep], angles[keep]

    return pair


def scipy_slerp(r, q, v, t):
    t = np.abs(t[:, 0])
    relative = (r.inv() * r[::-1]).as_rotvec()
    expected = r * Rotation.from_rotvec(t[:, None] * relative)
    return (same_sign(oa.quat_slerp(q, q[::-1], t)), same_sign(scalar_first(expected.as_quat())))


# name: (ours, SciPy's) from rotations r, the same rotations as quaternions q
# (unnormalized), vectors v and translations t.
SCIPY = {
    "quat_multiply": lambda r, q, v, t: (
        same_sign(oa.quat_multiply(q, q[::-1])) / 9,
        same_sign(scalar_first((r * r[::-1]).as_quat())),
    ),
    "quat_rotate": lambda r, q, v, t: (oa.quat_rotate(q, v), r.apply(v)),
    "quat_to_matrix": lambda r, q, v, t: (oa.quat_to_matrix(q), r.as_matrix()),
    "matrix_to_quat": lambda r, q, v, t: (
        same_sign(oa.matrix_to_quat(r.as_matrix().astype(q.dtype))),
        same_sign(scalar_first(Rotation.from_matrix(r.as_matrix().astype(q.dtype)).as_quat())),
    ),
    "pose_apply": lambda r, q, v, t: (oa.pose_apply(t, q, v), r.apply(v) + t),
    "quat_slerp": scipy_slerp,
    "quat_to_rotation_vector": lambda r, q, v, t: (oa.quat_to_rotation_vector(q), r.as_rotvec()),
    "quat_from_rotation_vector": lambda r, q, v, t: (
        same_sign(oa.quat_from_rotation_vector(r.as_rotvec().astype(q.dtype))),
        same_sign(scalar_first(Rotation.from_rotvec(r.as_rotvec().astype(q.dtype)).as_quat())),
    ),
    **{
        f"{kind}_{o}_{c}": scipy_euler(o, c, kind == "euler_to_quat")
        for kind in ("quat_to_euler", "euler_to_quat")
        for o in ORDERS
        for c in CONVENTIONS
    },
}


@pytest.mark.parametrize("name", SCIPY)
def test_agrees_with_scipy(name, letter):
    q, v, t = random_inputs([(4,), (3,), (3,)], DTYPE[letter], n=200, seed=3)
    q = q / np.linalg.norm(q, axis=-1, keepdims=True).astype(q.dtype) * 3  # not unit
    v, t = v / np.abs(v).max(), t / np.abs(t).max()
    r = Rotation.from_quat(np.roll(q.astype(np.float64), -1, axis=-1))
    got, expected = SCIPY[name](r, q, v, t)
    assert got.dtype == DTYPE[letter] and len(got) > 50
    np.testing.assert_allclose(got, expected, rtol=0, atol={"f": 1e-6, "d": 1e-12}[letter])


def test_broadcasting_out_and_axes(letter):
    q, v = random_inputs([(4,), (3,)], DTYPE[letter], n=6)
    expected = oa.quat_rotate(np.repeat(q[:, None], 5, 1), np.repeat(v[None, :5], 6, 0))
    got = oa.quat_rotate(q[:, None], v[None, :5])
    assert_same_bits(got, expected, letter)
    out = np.empty((6, 5, 3), DTYPE[letter])
    assert oa.quat_rotate(q[:, None], v[None, :5], out=out) is out
    assert_same_bits(out, expected, letter)
    # Components along the first axis instead of the last.
    got = oa.quat_rotate(q[:, None].T, v[None, :5].T, axes=[(0,), (0,), (0,)])
    assert_same_bits(got, expected.T, letter)
    p, o = oa.pose_compose(v[:1], q[:1], v, q)  # both outputs broadcast
    assert p.shape == (6, 3) and o.shape == (6, 4)


VIEWS = {
    "reversed": lambda a: a[::-1],
    "strided": lambda a: a[::3],
    "fortran": np.asfortranarray,
    "core reversed": lambda a: a[..., ::-1],
    "interleaved": lambda a: np.stack([a, a + 1], axis=-1)[..., 0],
}


# The package's own operations run one compiled copy for the batch and the
# per-object call, so even NaN results agree in sign and payload, whatever the
# layout; for the methods of orvane_bindings, compiled on their own, NaN
# stands in the same places.
OWN = {"quat_slerp", "quat_to_matrix", "quat_to_rotation_vector", "quat_from_rotation_vector"}
NAN_CASES = {
    **CASES,
    "quat_to_matrix": ([(4,)], oa.quat_to_matrix, lambda p, q: ov.to_matrix3(quat(p, q))),
}
NANS = {
    "f": [0x7FC00000, 0xFFC00000, 0x7FC12345, 0xFFD54321],
    "d": [0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8123456789ABC, 0xFFFC000000000001],
}


def with_nans(inputs, letter):
    """Each row with quiet NaNs of both signs and several payloads in one or
    two of its components, in turn."""
    inputs = [a.copy() for a in inputs]
    slots = [(i, j) for i, a in enumerate(inputs) for j in range(a[0].size)]
    nans = np.array(NANS[letter], BITS[letter]).view(DTYPE[letter])
    for k in range(len(inputs[0])):
        for extra in range(1 + k % 2):
            i, j = slots[(k + 5 * extra) % len(slots)]
            inputs[i].reshape(len(inputs[i]), -1)[k, j] = nans[(k + extra) % len(nans)]
    return inputs


@pytest.mark.parametrize("view", ["packed", *VIEWS])
@pytest.mark.parametrize("name", NAN_CASES)
def test_nan_results_equal_per_object(name, view, letter):
    shapes, batch, reference = NAN_CASES[name]
    inputs = with_nans(random_inputs(shapes, DTYPE[letter], n=48), letter)
    inputs = [VIEWS.get(view, np.asarray)(a) for a in inputs]
    with np.errstate(invalid="ignore"):  # NumPy reports NaN met in a comparison
        got = batch(*inputs)
    got = got if isinstance(got, tuple) else (got,)
    rows = [
        r if isinstance(r, tuple) else (r,)
        for r in (reference(letter, *args) for args in zip(*inputs, strict=True))
    ]
    for k, out in enumerate(got):
        expected = np.asarray([np.asarray(r[k], DTYPE[letter]) for r in rows], DTYPE[letter])
        assert np.isnan(out).any()
        if name not in OWN:
            np.testing.assert_array_equal(np.isnan(out), np.isnan(expected))
            out, expected = (np.where(np.isnan(a), 0, a) for a in (out, expected))
        assert_same_bits(out, expected, letter)


@pytest.mark.parametrize("view", VIEWS)
@pytest.mark.parametrize("name", ["quat_to_matrix", "matrix_to_quat", "pose_compose", "quat_slerp"])
def test_views_are_read_through_their_strides(name, view, letter):
    shapes, batch, _ = CASES[name]
    inputs = [VIEWS[view](a) for a in random_inputs(shapes, DTYPE[letter], n=12)]
    assert not all(a.flags.c_contiguous for a in inputs)
    expected = batch(*[np.ascontiguousarray(a) for a in inputs])
    expected = expected if isinstance(expected, tuple) else (expected,)
    outs = tuple(np.zeros((3, *e.shape[::-1]), DTYPE[letter]).T[..., 1] for e in expected)
    for got in (batch(*inputs), batch(*inputs, out=outs)):  # strided outputs too
        for g, e in zip(got if isinstance(got, tuple) else (got,), expected, strict=True):
            assert_same_bits(g, e, letter)


@pytest.mark.parametrize("dtype", [np.bool_, np.int8, np.uint8, np.int16, np.uint16, np.int64])
def test_integer_input_runs_the_float64_loop(dtype):
    a, b = np.array([1, 0, 1, 1], dtype), np.array([0, 1, 0, 0], dtype)
    assert_same_bits(
        oa.quat_multiply(a, b), oa.quat_multiply(a.astype(float), b.astype(float)), "d"
    )
    assert oa.quat_multiply.types == ["ff->f", "dd->d"]
    assert oa.classify_aabb(a[:3], b[:3], np.ones((6, 4), dtype)).dtype == np.int8
    assert oa.quat_slerp(a, b, 0.5).dtype == np.float64  # a Python float is no float32
    # A float32 operand picks the float32 loop for the integers float32 holds exactly, as
    # NumPy casts; dtype= always.
    small = np.float32 if a.itemsize <= 2 else np.float64
    assert oa.quat_multiply(a, b.astype(np.float32)).dtype == small
    assert oa.quat_multiply(a, b, dtype=np.float32).dtype == np.float32


BAD = {
    "core size": (
        lambda out: oa.quat_multiply(np.ones((2, 3)), np.ones((2, 4)), out=out),
        ValueError,
        "mismatch in its core dimension",
    ),
    "matrix order": (
        lambda out: oa.matrix_apply(np.ones((2, 5, 5)), np.ones((2, 5)), out=np.ones((2, 5))),
        ValueError,
        "matrix_apply: n is 5, expected 2, 3 or 4",
    ),
    "object dtype": (
        lambda out: oa.quat_multiply(np.ones((2, 4), object), np.ones(4), out=out),
        TypeError,
        "not supported for the input types",
    ),
    "out shape": (
        lambda out: oa.quat_multiply(np.ones((2, 4)), np.ones(4), out=out[:1]),
        ValueError,
        "non-broadcastable output operand",
    ),
    "out core": (
        lambda out: oa.quat_rotate(np.ones((2, 4)), np.ones(3), out=out),
        ValueError,
        "mismatch in its core dimension",
    ),
    "out dtype": (
        lambda out: oa.quat_multiply(np.ones((2, 4)), np.ones(4), out=out.astype(np.int64)),
        TypeError,
        "Cannot cast",
    ),
    "euler order": (
        lambda out: oa.quat_to_euler(np.ones((2, 4)), 0, out=out),
        TypeError,
        "order must be an eOrder member, not int",
    ),
    "mover": (
        lambda out: oa.transform_points(ob.Vector3f(), np.ones(3), out=out),
        TypeError,
        "cannot transform points by a Vector3f",
    ),
}


@pytest.mark.parametrize("case", BAD)
def test_bad_input_raises_and_writes_nothing(case):
    call, error, message = BAD[case]
    out = np.full((2, 4), 7.0)
    with pytest.raises(error, match=message):
        call(out)
    assert np.all(out == 7.0)


PLANES = [ob.Plane_f()] * 6
BOX = ob.AABB_d(ob.Vector3d(0, 0, 0), ob.Vector3d(1, 1, 1))
# Mistakes and the function each message must name instead.
MISTAKES = {
    "points by an array of transforms": (
        lambda: oa.transform_points(np.eye(4), np.ones(3)),
        TypeError,
        r"matrix_apply_point\(m, points\)",
    ),
    "a ray against one box": (
        lambda: oa.ray_aabb(np.zeros(3), np.ones(3), BOX),
        TypeError,
        r"^ray_aabb: .*box_min and box_max: ray_aabb\(origin, direction, "
        r"box.min, box.max\)",
    ),
    "boxes for box_min and box_max": (
        lambda: oa.ray_aabb(np.zeros(3), np.ones(3), BOX, BOX),
        TypeError,
        r"^ray_aabb: .*box_min and box_max",
    ),
    "one box against planes": (
        lambda: oa.classify_aabb(BOX, PLANES),
        TypeError,
        r"^classify_aabb: .*plane_rows\(planes\)",
    ),
    "an order of no value": (
        lambda: oa.quat_to_euler(np.ones(4), ob.eOrder(7)),
        ValueError,
        r"^quat_to_euler: order must be one of eOrder.XYZ, .*, "
        r"eOrder.ZYX, not eOrder\(7\)",
    ),
    "a convention of no value": (
        lambda: oa.euler_to_quat(np.ones(3), ob.eOrder.ZYX, ob.eConvention(5)),
        ValueError,
        r"^euler_to_quat: convention must be eConvention.INTRINSIC or eConvention.EXTRINSIC",
    ),
    "a kind of no ufunc": (
        lambda: oa.euler_gufunc("to_euler", ob.eOrder.XYZ, ob.eConvention.INTRINSIC),
        ValueError,
        "^euler_gufunc: kind must be 'quat_to_euler' or 'euler_to_quat', not 'to_euler'",
    ),
    "five planes for rows": (
        lambda: oa.plane_rows(PLANES[:5]),
        ValueError,
        "^plane_rows: planes must be a sequence of 6 Plane_f, got 5",
    ),
    "a matrix for rows": (
        lambda: oa.plane_rows(ob.Matrix4f()),
        TypeError,
        "^plane_rows: planes must be a sequence of 6 Plane_f, not Matrix4f",
    ),
}


@pytest.mark.parametrize("case", MISTAKES)
def test_errors_name_what_to_call_instead(case):
    call, error, message = MISTAKES[case]
    with pytest.raises(error, match=message):
        call()


def test_the_box_functions_keep_their_ufunc_attributes():
    for f in (oa.ray_aabb, oa.classify_aabb):
        assert isinstance(f.ufunc, np.ufunc) and f.__name__ == f.ufunc.__name__
        assert (f.signature, f.types, f.nin, f.nout) == (
            f.ufunc.signature,
            f.ufunc.types,
            f.ufunc.nin,
            f.ufunc.nout,
        )


def test_dask_apply_gufunc_equals_numpy():
    da = pytest.importorskip("dask.array")
    q, v = random_inputs([(4,), (3,)], np.float32, n=100)
    lazy = da.apply_gufunc(
        oa.quat_rotate,
        oa.quat_rotate.signature,
        da.from_array(q, 30),
        da.from_array(v, 30),
        output_dtypes=np.float32,
    )
    assert_same_bits(lazy.compute(), oa.quat_rotate(q, v), "f")


def test_no_temporary_larger_than_the_output():
    t, q, points = random_inputs([(3,), (4,), (3,)], np.float32, n=1)
    points = np.ones((1_000_000, 3), np.float32)
    tracemalloc.start()
    try:
        result = oa.pose_apply(t[0], q[0], points)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert result.nbytes <= peak < result.nbytes + 65536


def test_ray_and_frustum_batches_equal_per_object(letter):
    rng = np.random.default_rng(8)
    dtype, n = DTYPE[letter], 300
    # Small integers make rays graze faces, edges and corners and lie in slabs.
    origins, directions, mins = (rng.integers(-3, 4, (n, 3)).astype(dtype) for _ in range(3))
    maxs = mins + rng.integers(0, 3, (n, 3)).astype(dtype)
    box = getattr(ob, f"AABB_{letter}")
    got = oa.ray_aabb(origins, directions, mins, maxs)
    for k in range(n):
        hit = ov.ray_aabb(
            obj(letter, origins[k]),
            obj(letter, directions[k]),
            box(obj(letter, mins[k]), obj(letter, maxs[k])),
        )
        assert_same_bits(got[k], (np.inf, -np.inf) if hit is None else hit, letter)
    eye = ov.Vector3d(*rng.normal(size=3)) * 4.0 + ov.Vector3d(0, 0, 9)
    view = ov.look_at(eye, ov.Vector3d(0, 0, 0), ov.Vector3d(0, 1, 0))
    planes = ov.frustum_planes(
        getattr(ob, f"Matrix4{letter}")(
            (ob.Matrix4d.Perspective(50, 1.5, 1, 30) * view).numpy().astype(dtype)
        )
    )
    centres = rng.uniform(-12, 12, (n, 3)).astype(dtype)
    mins, maxs = centres - 1, centres + rng.uniform(0, 3, (n, 3)).astype(dtype)
    verdicts = oa.classify_aabb(mins, maxs, oa.plane_rows(planes))
    assert verdicts.dtype == np.int8
    expected = [
        ov.classify_aabb(box(obj(letter, a), obj(letter, b)), planes)
        for a, b in zip(mins, maxs, strict=True)
    ]
    assert verdicts.tolist() == expected and set(expected) == {-1, 0, 1}


def test_import_orvane_is_enough_and_leaves_dask_alone():
    code = "import sys, orvane; orvane.arrays.quat_rotate; assert 'dask' not in sys.modules"
    subprocess.run([sys.executable, "-c", code], check=True, timeout=60)


@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int16, np.int64])
def test_xyzw_reorders_every_bit(dtype):
    rotations = Rotation.random(24, random_state=5)
    # SciPy gives the same numbers scalar last and scalar first.
    xyzw, wxyz = (
        (rotations.as_quat(scalar_first=first) * 1000).astype(dtype) for first in (False, True)
    )
    letter = "f" if dtype == np.float32 else "d"
    if np.issubdtype(dtype, np.floating):
        # Quiet NaNs of both signs and payloads, and a signaling one, in each place.
        nans = [*NANS[letter], {"f": 0x7FA00001, "d": 0x7FF4000000000001}[letter]]
        for k, bits in enumerate(nans):
            xyzw.view(BITS[letter])[k, k % 4] = wxyz.view(BITS[letter])[k, (k + 1) % 4] = bits
    assert_same_bits(oa.quat_from_xyzw(xyzw), wxyz, letter)
    assert_same_bits(oa.quat_to_xyzw(wxyz), xyzw, letter)
    # Leading axes broadcast; axes= puts the components first.
    assert_same_bits(oa.quat_from_xyzw(xyzw.reshape(2, 12, 4)), wxyz.reshape(2, 12, 4), letter)
    assert_same_bits(oa.quat_to_xyzw(wxyz.T, axes=[(0,), (0,)]), xyzw.T, letter)


# Long batches run blocks of elements in SIMD lanes; a single row runs the
# scalar loop. Rows of every magnitude, signed zeros, subnormals, infinities
# and NaN, so that blocks mix rows the lanes take with rows they leave.
LANE_CASES = {"quat_to_matrix": [(4,)], "quat_normalize": [(4,)]}


@pytest.mark.parametrize("name", LANE_CASES)
def test_lanes_give_the_bits_of_one_element_at_a_time(name, letter):
    rng = np.random.default_rng(7)
    dtype = DTYPE[letter]
    info = np.finfo(dtype)
    pool = np.array([0.0, -0.0, info.tiny / 8, -info.tiny, info.max / 4, np.inf, -np.inf, np.nan])
    inputs = []
    for shape in LANE_CASES[name]:
        a = rng.normal(size=(37, *shape)) * 2.0 ** rng.integers(-140, 120, (37, *shape))
        special = rng.random(a.shape) < 0.08
        a[special] = rng.choice(pool, special.sum())
        inputs.append(np.clip(a, -info.max, info.max).astype(dtype))
    ufunc = getattr(oa, name)
    with np.errstate(all="ignore"):
        got = ufunc(*inputs)
        rows = [ufunc(*(a[k : k + 1] for a in inputs)) for k in range(37)]
    got = got if isinstance(got, tuple) else (got,)
    rows = [r if isinstance(r, tuple) else (r,) for r in rows]
    for k, out in enumerate(got):
        assert_same_bits(out, np.concatenate([r[k] for r in rows]), letter)
