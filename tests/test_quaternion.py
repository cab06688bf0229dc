import array
import gc
import math

import numpy as np
import orvane_bindings as ob
import pytest
from scipy.spatial.transform import Rotation

DTYPE = {"f": np.float32, "d": np.float64}
TOLERANCE = {"f": 2e-6, "d": 1e-14}
FORMAT_ERROR = {
    "f": "Incompatible format: expected float (float32) array",
    "d": "Incompatible format: expected double (float64) array",
}
SHAPE_ERROR = "Incompatible shape: expected (,4), (1,4), (4,1)"
ROTATE_COUNT_ERROR = "Incompatible array size, expected 3 elements"


def count_error(n):
    return f"Quaternion> incompatible array size; expected 4, got {n}"


def other(p):
    return "d" if p == "f" else "f"


def quat_class(p):
    return getattr(ob, f"Quaternion{p}")


def wxyz(q):
    return [q.w, q.x, q.y, q.z]


def xyz(v):
    return [v.x, v.y, v.z]


def bits(values, p):
    """Values as the exact integers of their storage, so -0 and NaN payloads compare."""
    return np.asarray(values, DTYPE[p]).view(np.int32 if p == "f" else np.int64).tolist()


def hamilton(a, b):
    """The product a * b, evaluated left to right in the precision of the scalars."""
    w1, x1, y1, z1 = a
    w2, x2, y2, z2 = b
    return [
        w1 * w2 - x1 * x2 - y1 * y2 - z1 * z2,
        w1 * x2 + x1 * w2 + y1 * z2 - z1 * y2,
        w1 * y2 + y1 * w2 + z1 * x2 - x1 * z2,
        w1 * z2 + z1 * w2 + x1 * y2 - y1 * x2,
    ]


def scipy_rotation(q):
    return Rotation.from_quat([q.x, q.y, q.z, q.w])  # SciPy puts the scalar last


@pytest.fixture(params=["f", "d"], ids=["Quaternionf", "Quaterniond"])
def kind(request):
    p = request.param
    return p, quat_class(p)


@pytest.fixture
def rng():
    return np.random.default_rng(2024)


def random_quaternion(rng, p, scale=1.0):
    return [DTYPE[p](c) for c in rng.uniform(-scale, scale, 4)]


# Construction and dispatch


def test_number_constructors(kind):
    p, Q = kind
    assert wxyz(Q()) == [1, 0, 0, 0]
    assert wxyz(Q(2)) == [2, 0, 0, 0]  # an int reaches the float overload in the second pass
    assert wxyz(Q(np.float64(3))) == [3, 0, 0, 0]
    assert wxyz(Q(0.1)) == [float(DTYPE[p](0.1)), 0, 0, 0]
    assert wxyz(Q(1, 2, 3, 4)) == [1, 2, 3, 4]
    if p == "f":
        assert Q(1e300).w == math.inf
    with pytest.raises(TypeError):
        Q(1, 2)


def test_copy_goes_through_the_buffer(kind):
    _, Q = kind
    q = Q(1, 2, 3, 4)
    c = Q(q)
    c.x = 42
    assert wxyz(q) == [1, 2, 3, 4]
    assert wxyz(c) == [1, 42, 3, 4]


def test_other_element_types_fail_the_format_check(kind):
    p, Q = kind
    for data in [
        quat_class(other(p))(1, 2, 3, 4),
        np.ones(4, DTYPE[other(p)]),
        np.ones(4, np.int32),
        np.ones(7, np.int64),  # the format is checked before the size
        memoryview(bytes(16)),
    ]:
        with pytest.raises(RuntimeError) as e:
            Q(data)
        assert str(e.value) == FORMAT_ERROR[p]


def test_sequences_are_converted(kind):
    p, Q = kind
    assert wxyz(Q([1, 2, 3, 4])) == [1, 2, 3, 4]
    assert wxyz(Q((0.1, 2, 3, 4))) == [float(DTYPE[p](0.1)), 2, 3, 4]
    with pytest.raises(RuntimeError) as e:
        Q([1, 2, 3])
    assert str(e.value) == count_error(3)
    with pytest.raises(TypeError):
        Q("abcd")


def test_own_dtype_arrays_follow_the_element_count(kind):
    p, Q = kind
    t = DTYPE[p]
    assert wxyz(Q(np.array([1, 2, 3, 4], t))) == [1, 2, 3, 4]
    assert wxyz(Q(np.array([[1, 2], [3, 4]], t))) == [1, 2, 3, 4]
    assert wxyz(Q(np.asfortranarray([[1, 2], [3, 4]], t))) == [1, 2, 3, 4]  # row by row
    for n in [0, 1, 3, 5, 16]:
        with pytest.raises(RuntimeError) as e:
            Q(np.zeros(n, t))
        assert str(e.value) == count_error(n)
    with pytest.raises(RuntimeError) as e:
        Q(np.zeros((4, 4), t))
    assert str(e.value) == count_error(16)


def test_strided_arrays(kind):
    p, Q = kind
    base = np.arange(1, 9, dtype=DTYPE[p])
    assert wxyz(Q(base[::2])) == [1, 3, 5, 7]
    assert wxyz(Q(base[::-2])) == [8, 6, 4, 2]
    grid = base.reshape(4, 2)
    assert wxyz(Q(grid[:, 1])) == [2, 4, 6, 8]
    assert wxyz(Q(grid[::2, ::-1])) == [2, 1, 6, 5]  # index order
    assert wxyz(Q(base[::2].astype(DTYPE[other(p)]).tolist())) == [1, 3, 5, 7]


@pytest.mark.parametrize("shape", [(4,), (1, 4), (4, 1)])
def test_buffers_of_quaternion_shape(kind, shape):
    p, Q = kind
    data = np.arange(1, 5, dtype=DTYPE[p]).reshape(shape)
    assert wxyz(Q(memoryview(data))) == [1, 2, 3, 4]


def test_buffers_of_other_shapes(kind):
    p, Q = kind
    for shape in [(4, 4), (2, 2), (1, 1, 4), (3,), (5,), ()]:
        with pytest.raises(RuntimeError) as e:
            Q(memoryview(np.ones(shape, DTYPE[p])))
        assert str(e.value) == SHAPE_ERROR
    if p == "f":
        with pytest.raises(RuntimeError) as e:
            Q(np.float32(2))  # not a Python float: it exports a 0-d buffer
        assert str(e.value) == SHAPE_ERROR
    with pytest.raises(RuntimeError) as e:
        Q(getattr(ob, f"Vector3{p}")(1))
    assert str(e.value) == SHAPE_ERROR


def test_strided_buffers(kind):
    p, Q = kind
    base = np.arange(1, 9, dtype=DTYPE[p])
    assert wxyz(Q(memoryview(base[::2]))) == [1, 3, 5, 7]
    assert wxyz(Q(memoryview(base[::-2]))) == [8, 6, 4, 2]
    grid = base.reshape(4, 2)
    assert wxyz(Q(memoryview(grid[:, 1:]))) == [2, 4, 6, 8]
    assert wxyz(Q(memoryview(grid.T[1:, :]))) == [2, 4, 6, 8]
    assert wxyz(Q(array.array(p, [1, 2, 3, 4]))) == [1, 2, 3, 4]


# Components, indexing, the exported buffer


def test_properties_and_indexing(kind):
    p, Q = kind
    q = Q(1, 2, 3, 4)
    assert [q[i] for i in range(4)] == [1, 2, 3, 4]
    assert list(q) == [1, 2, 3, 4]
    q[2] = 0.1
    q.z = 0.2
    assert wxyz(q) == [1, 2, float(DTYPE[p](0.1)), float(DTYPE[p](0.2))]
    for bad in [4, -1, -4, 2**31 - 1]:
        with pytest.raises(IndexError) as e:
            q[bad]
        assert str(e.value) == ""
        with pytest.raises(IndexError) as e:
            q[bad] = 9
        assert str(e.value) == ""
    assert wxyz(q)[:2] == [1, 2]
    for bad in [1.0, slice(0, 1), "w", 2**31]:
        with pytest.raises(TypeError):
            q[bad]
    with pytest.raises(AttributeError):
        q.extra = 1


def test_exported_buffer_is_a_writable_view(kind):
    p, Q = kind
    q = Q(1, 2, 3, 4)
    m = memoryview(q)
    assert (m.format, m.itemsize, m.ndim, m.shape, m.strides, m.readonly) == (
        p,
        np.dtype(DTYPE[p]).itemsize,
        1,
        (4,),
        (np.dtype(DTYPE[p]).itemsize,),
        False,
    )
    a = np.asarray(q)
    a[1] = 5
    assert q.x == 5
    q.w = -1
    assert a[0] == -1 and m[0] == -1
    m[3] = 7
    assert q.z == 7


def test_views_outlive_the_quaternion(kind):
    _, Q = kind
    q = Q(1, 2, 3, 4)
    a, m = np.asarray(q), memoryview(q)
    del q
    gc.collect()
    assert a.tolist() == [1, 2, 3, 4]
    assert m.tolist() == [1, 2, 3, 4]


# Arithmetic, exact in the class precision


def test_arithmetic_is_exact_in_the_precision(kind, rng):
    p, Q = kind
    t = DTYPE[p]
    for _ in range(50):
        a, b = random_quaternion(rng, p, 10), random_quaternion(rng, p, 10)
        s = t(rng.uniform(-3, 3))
        qa, qb = Q(*map(float, a)), Q(*map(float, b))
        assert bits(wxyz(qa * qb), p) == bits(hamilton(a, b), p)
        assert bits(wxyz(qb * qa), p) == bits(hamilton(b, a), p)
        assert bits(wxyz(qa + qb), p) == bits([x + y for x, y in zip(a, b)], p)
        assert bits(wxyz(qa - qb), p) == bits([x - y for x, y in zip(a, b)], p)
        assert bits(wxyz(qa * float(s)), p) == bits([x * s for x in a], p)
        assert bits(wxyz(float(s) * qa), p) == bits([x * s for x in a], p)
        w, x, y, z = a
        square = ((w * w + x * x) + y * y) + z * z
        assert bits([qa.lengthSquare()], p) == bits([square], p)
        length = np.sqrt(square)
        assert bits([qa.length()], p) == bits([length], p)
        assert bits(wxyz(qa.normalize()), p) == bits([c / length for c in a], p)
        r = t(1) / square
        assert bits(wxyz(qa.inverse()), p) == bits([w * r, -x * r, -y * r, -z * r], p)
        assert bits(wxyz(qa.conjugate()), p) == bits([w, -x, -y, -z], p)


def test_rotate_is_exact_in_the_precision(kind, rng):
    p, Q = kind
    t = DTYPE[p]
    for _ in range(50):
        a = random_quaternion(rng, p, 2)
        v = [t(c) for c in rng.uniform(-5, 5, 3)]
        w, x, y, z = a
        r = t(1) / (((w * w + x * x) + y * y) + z * z)
        u = hamilton(hamilton(a, [t(0), *v]), [w * r, -x * r, -y * r, -z * r])
        got = Q(*map(float, a)).rotate(np.array(v, t))
        assert bits(xyz(got), p) == bits(u[1:], p)


def test_normalize_in_place(kind):
    p, Q = kind
    t = DTYPE[p]
    q = Q(0, 3, 0, 4)
    view = np.asarray(q)
    assert q.normalize_() is None
    assert bits(wxyz(q), p) == bits([0, t(3) / t(5), 0, t(4) / t(5)], p)
    assert view[3] == q.z
    r = Q(2)
    assert wxyz(r.normalize()) == [1, 0, 0, 0]
    assert wxyz(r) == [2, 0, 0, 0]


def test_zero_quaternion_gives_nan_without_error(kind):
    _, Q = kind
    zero = Q(0)
    assert all(math.isnan(c) for c in wxyz(zero.normalize()))
    assert all(math.isnan(c) for c in wxyz(zero.inverse()))
    assert all(math.isnan(c) for c in xyz(zero.rotate([1, 2, 3])))


def test_foreign_operands(kind):
    p, Q = kind
    q = Q(1, 2, 3, 4)
    foreign = quat_class(other(p))(1, 2, 3, 4)
    for bad in [1, "a", None, foreign]:
        with pytest.raises(TypeError):
            q + bad
        with pytest.raises(TypeError):
            q - bad
    for bad in ["a", None, foreign]:
        with pytest.raises(TypeError):
            q * bad
    assert Q.__add__(q, 1) is NotImplemented
    assert Q.__mul__(q, "a") is NotImplemented
    with pytest.raises(TypeError):
        Q.__rmul__(q, "a")
    with pytest.raises(TypeError):
        q / 2
    assert wxyz(q * 2) == wxyz(2 * q) == [2, 4, 6, 8]


# Equality


def test_equality_tolerance_and_nan(kind):
    p, Q = kind
    eps = float(DTYPE[p](1e-6))
    for i in range(4):
        shifted = [0.0] * 4
        shifted[i] = eps
        assert not Q(0, 0, 0, 0) == Q(*shifted)
        assert Q(0, 0, 0, 0) != Q(*shifted)
        shifted[i] = 5e-7
        assert Q(0, 0, 0, 0) == Q(*shifted)
    assert Q(1, math.nan, 3, 4) == Q(1, 0, 3, 4)
    assert not Q(1, math.nan, 3, 4) == Q(1, 0, 3, 5)
    assert Q(1).__neq__(Q(2)) is True
    assert Q(1).__neq__(Q(1)) is False


def test_equality_refuses_other_types(kind):
    p, Q = kind
    q = Q()
    for bad in [5, None, quat_class(other(p))()]:
        with pytest.raises(TypeError):
            q == bad  # noqa: B015
        with pytest.raises(TypeError):
            q.__neq__(bad)
    with pytest.raises(TypeError):
        hash(q)


# Rotations, against an independent reference


@pytest.mark.parametrize("axis", range(3))
def test_axis_rotations(kind, axis):
    p, Q = kind
    factory = getattr(Q, "Rotation" + "XYZ"[axis])
    for angle in [0.0, 0.3, -1.2, math.pi, 5.0]:
        h = DTYPE[p](angle) * DTYPE[p](0.5)
        expected = [math.cos(h), 0.0, 0.0, 0.0]
        expected[axis + 1] = math.sin(h)
        np.testing.assert_allclose(wxyz(factory(angle)), expected, rtol=0, atol=TOLERANCE[p])
        reference = Rotation.from_rotvec(np.eye(3)[axis] * angle)
        assert np.allclose(
            factory(angle).rotate([1, 2, 3]),
            reference.apply([1, 2, 3]),
            rtol=0,
            atol=10 * TOLERANCE[p],
        )


def test_rotate_matches_scipy(kind, rng):
    p, Q = kind
    for _ in range(50):
        q = Q(*rng.normal(size=4))
        v = rng.uniform(-3, 3, 3)
        expected = scipy_rotation(q).apply(v)
        tolerance = 10 * TOLERANCE[p]
        np.testing.assert_allclose(xyz(q.rotate(v)), expected, rtol=0, atol=tolerance)
        # The full inverse: scaling the quaternion does not scale the result.
        np.testing.assert_allclose(xyz((q * 2.0).rotate(v)), expected, rtol=0, atol=tolerance)
        np.testing.assert_allclose(xyz((q * -1.0).rotate(v)), expected, rtol=0, atol=tolerance)


def test_products_compose_rotations(kind, rng):
    p, Q = kind
    a, b = Q(*rng.normal(size=4)), Q(*rng.normal(size=4))
    expected = (scipy_rotation(a) * scipy_rotation(b)).apply([1, 2, 3])  # b first
    np.testing.assert_allclose(xyz((a * b).rotate([1, 2, 3])), expected, atol=10 * TOLERANCE[p])
    assert not Q.RotationX(0.5) * Q.RotationY(0.7) == Q.RotationY(0.7) * Q.RotationX(0.5)
    unit = a.normalize()
    identity = unit * unit.inverse()
    np.testing.assert_allclose(wxyz(identity), [1, 0, 0, 0], atol=TOLERANCE[p])
    np.testing.assert_allclose(wxyz(unit.inverse()), wxyz(unit.conjugate()), atol=TOLERANCE[p])


def test_rotate_accepts_anything_with_three_numbers(kind):
    p, Q = kind
    q = Q.RotationZ(math.pi / 2)
    V3 = getattr(ob, f"Vector3{p}")
    for v in [
        [1, 0, 0],
        (1, 0, 0),
        np.array([[1], [0], [0]]),
        V3(1, 0, 0),
        getattr(ob, f"Vector3{other(p)}")(1, 0, 0),
        np.array([1, 9, 0, 9, 0], DTYPE[p])[::2],
    ]:
        r = q.rotate(v)
        assert type(r) is V3
        np.testing.assert_allclose(xyz(r), [0, 1, 0], atol=TOLERANCE[p])
    for bad in [5, [1, 2], np.zeros(4, DTYPE[p]), np.zeros((3, 3))]:
        with pytest.raises(RuntimeError) as e:
            q.rotate(bad)
        assert str(e.value) == ROTATE_COUNT_ERROR
    with pytest.raises(TypeError):
        q.rotate("abc")


# Text


def test_repr(kind):
    p, Q = kind
    assert repr(Q()) == f"Quaternion{p}(w=1.00000000, x=0.00000000, y=0.00000000, z=0.00000000)"
    assert repr(Q(1, 2, 3, 4)) == (
        f"Quaternion{p}(w=1.00000000, x=2.00000000, y=3.00000000, z=4.00000000)"
    )
    third = "0.33333334" if p == "f" else "0.33333333"  # the float is widened, not reprinted
    assert repr(Q(-0.0, math.nan, -math.inf, 1 / 3)) == (
        f"Quaternion{p}(w=-0.00000000, x=nan, y=-inf, z={third})"
    )
    assert str(Q()) == repr(Q())
    assert repr(ob.Quaternionf(0.1)).startswith("Quaternionf(w=0.10000000,")


# Conversion from a rotation matrix


def matrix_class(p):
    return getattr(ob, f"Matrix3{p}")


def test_matrix_constructor_is_registered_after_the_matrices(kind):
    p, Q = kind
    assert f"(self: orvane_bindings.Quaternion{p}, arg0: orvane_bindings.Matrix3{p}) -> None" in (
        Q.__init__.__doc__
    )


def test_matrix_constructor_matches_scipy(kind, rng):
    p, Q = kind
    M3 = matrix_class(p)
    for _ in range(50):
        reference = Rotation.from_quat(rng.normal(size=4))
        x, y, z, w = reference.as_quat()
        q = Q(M3(reference.as_matrix().astype(DTYPE[p])))
        sign = 1.0 if q.w * w + q.x * x + q.y * y + q.z * z > 0 else -1.0  # q and -q agree
        np.testing.assert_allclose(
            [sign * c for c in wxyz(q)], [w, x, y, z], rtol=0, atol=10 * TOLERANCE[p]
        )
        v = rng.uniform(-3, 3, 3)
        np.testing.assert_allclose(
            xyz(q.rotate(v)), reference.apply(v), rtol=0, atol=10 * TOLERANCE[p]
        )


def test_matrix_constructor_sign_of_the_axis_rotations(kind):
    p, Q = kind
    M3 = matrix_class(p)
    # A positive trace keeps w positive; otherwise the branch of the largest
    # diagonal element makes that axis component positive.
    for axis in "XYZ":
        for angle, sign in [(0.5, 1), (-0.5, 1), (3.0, 1), (-2.5, -1)]:
            expected = getattr(Q, "Rotation" + axis)(angle) * float(sign)
            got = Q(getattr(M3, "Rotation" + axis)(angle))
            np.testing.assert_allclose(wxyz(got), wxyz(expected), rtol=0, atol=10 * TOLERANCE[p])


def test_matrix_of_the_other_precision_fails_the_format_check(kind):
    p, Q = kind
    with pytest.raises(RuntimeError) as e:
        Q(matrix_class(other(p))(1, 1, 1))  # caught by the buffer constructor
    assert str(e.value) == FORMAT_ERROR[p]
