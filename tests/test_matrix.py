import gc
import math

import numpy as np
import pytest
from conftest import cls, dtype_of

KINDS = [(n, letter) for n in (2, 3, 4) for letter in "fd"]


@pytest.fixture(params=KINDS, ids=[f"Matrix{n}{letter}" for n, letter in KINDS])
def kind(request):
    return request.param


def matrix_class(kind):
    n, letter = kind
    return cls(f"Matrix{n}", letter)


def vector_class(kind):
    n, letter = kind
    return cls(f"Vector{n}", letter)


def from_array(kind, a):
    return matrix_class(kind)(np.asarray(a, dtype=dtype_of(kind[1])))


def as_array(m):
    return np.array(m.numpy())


def random_array(kind, seed=0, low=-4.0, high=4.0):
    n, letter = kind
    return np.random.default_rng(seed).uniform(low, high, (n, n)).astype(dtype_of(letter))


def raises_message(exc, message, call):
    with pytest.raises(exc) as info:
        call()
    assert str(info.value) == message


def test_constructors(kind):
    n, letter = kind
    M, V = matrix_class(kind), vector_class(kind)
    values = random_array(kind)
    assert np.all(as_array(M()) == 0)
    assert np.array_equal(as_array(M(*range(1, n + 1))), np.diag(np.arange(1, n + 1)))
    assert np.array_equal(as_array(M(*values.ravel())), values)
    by_columns = M(*(V(*column) for column in values.T))
    assert np.array_equal(as_array(by_columns), values)
    assert np.array_equal(as_array(from_array(kind, np.asfortranarray(values))), values)
    copy = M(by_columns)
    assert copy == by_columns
    copy[0, 0] = 99.0
    assert by_columns[0, 0] == values[0, 0]
    other = cls(f"Matrix{n}", "d" if letter == "f" else "f")()
    raises_message(RuntimeError, _format_message(letter), lambda: M(other))


def _format_message(letter):
    word = "float (float32)" if letter == "f" else "double (float64)"
    return f"Incompatible format: expected {word} array"


def test_square_buffer_rule_messages(kind):
    n, letter = kind
    M, dtype = matrix_class(kind), dtype_of(letter)
    shape_error = f"Incompatible shape: expected ({n}, {n})"
    size_error = f"Incompatible size: expected ({n}, {n})"
    raises_message(RuntimeError, shape_error, lambda: M(np.zeros(n * n, dtype)))
    raises_message(RuntimeError, shape_error, lambda: M(np.zeros((1, n, n), dtype)))
    raises_message(RuntimeError, size_error, lambda: M(np.zeros((n, n + 1), dtype)))
    raises_message(RuntimeError, _format_message(letter), lambda: M(np.zeros((n, n), np.int32)))
    with pytest.raises(TypeError):
        M([[0.0] * n] * n)


def test_strided_buffers_are_read_through_their_strides(kind):
    big = random_array((2 * kind[0], kind[1]), seed=1)
    for view in (big[::2, ::2], big[::-2, 1::2], big[::2, ::-2].T):
        assert np.array_equal(as_array(from_array(kind, view)), view)


def test_products_follow_the_stated_order(kind):
    n, letter = kind
    t = dtype_of(letter)
    a, b = random_array(kind, 2), random_array(kind, 3)
    v = a[:, 0] + t(0.25)
    product = np.empty((n, n), t)
    for i in range(n):
        for j in range(n):
            total = t(0)
            for k in range(n):
                total = total + a[i, k] * b[k, j]
            product[i, j] = total
    applied = [a[i, 0] * v[0] for i in range(n)]
    for i in range(n):
        for k in range(1, n):
            applied[i] = applied[i] + a[i, k] * v[k]
    ma, mb = from_array(kind, a), from_array(kind, b)
    assert np.array_equal(as_array(ma * mb), product)
    assert np.array_equal(as_array(ma + mb), a + b)
    assert np.array_equal(as_array(ma - mb), a - b)
    assert np.array_equal(as_array(ma * 1.5), a * t(1.5))
    assert np.array_equal(as_array(1.5 * ma), a * t(1.5))
    assert list(ma * vector_class(kind)(*v)) == [float(x) for x in applied]
    assert ma.trace() == float(sum(np.diag(a)[1:], np.diag(a)[0]))


def test_signed_zeros(kind):
    n, _ = kind
    M = matrix_class(kind)
    negative = from_array(kind, -np.ones((n, n)))
    assert not np.any(np.signbit(as_array(M.Zeros() * negative)))
    assert np.all(np.signbit(as_array(M() * -1.0)))
    assert np.all(np.signbit(as_array(-1.0 * M())))
    assert math.copysign(1, (M() * -1.0).trace()) == -1
    assert all(math.copysign(1, x) == -1 for x in M() * vector_class(kind)(-1))


def test_inverse_and_determinant_against_numpy(kind):
    n, letter = kind
    tolerance = 1e-4 if letter == "f" else 1e-12
    for seed in range(5):
        a = random_array(kind, seed) + 8 * np.eye(n, dtype=dtype_of(letter))
        m = from_array(kind, a)
        reference = a.astype(np.float64)
        assert m.determinant() == pytest.approx(np.linalg.det(reference), rel=tolerance)
        np.testing.assert_allclose(
            as_array(m.inverse()), np.linalg.inv(reference), rtol=tolerance, atol=tolerance
        )
        assert m * m.inverse() == matrix_class(kind).Identity()


def test_two_by_two_examples(letter):
    M = cls("Matrix2", letter)
    m = M(1, 2, 3, 4)
    assert (m.trace(), m.determinant()) == (5.0, -2.0)
    assert np.array_equal(as_array(m.inverse()), [[-2, 1], [1.5, -0.5]])
    assert np.all(np.isnan(as_array(M().inverse())))
    assert np.array_equal(as_array(M(1, 2, 2, 4).inverse()), [[np.inf, -np.inf], [-np.inf, np.inf]])


def test_equality_tolerance(kind):
    n, letter = kind
    t = dtype_of(letter)
    base = random_array(kind, 4)
    m = from_array(kind, base)

    def shifted(delta):
        moved = base.copy()
        moved[n - 1, 0] = t(delta)
        return from_array(kind, moved), moved

    zero_based, _ = shifted(0)
    assert shifted(1e-7)[0] == zero_based
    assert not (shifted(1e-5)[0] == zero_based)
    assert shifted(t(1e-6))[0] == zero_based  # a difference of exactly epsilon is still equal
    assert shifted(np.nan)[0] == zero_based
    assert (m != zero_based) == (not (m == zero_based)) == m.__neq__(zero_based)
    with pytest.raises(TypeError):
        m == 1
    with pytest.raises(TypeError):
        hash(m)


def test_foreign_operands(kind):
    n, letter = kind
    m = matrix_class(kind)(*range(n))
    other = cls(f"Matrix{n}", "d" if letter == "f" else "f")()
    for call in (
        lambda: m + 1,
        lambda: m - other,
        lambda: m * other,
        lambda: vector_class(kind)(1) * m,
        lambda: m.__rmul__(m),
    ):
        with pytest.raises(TypeError):
            call()


def test_indexing(kind):
    n, _ = kind
    values = random_array(kind, 5)
    m = from_array(kind, values)
    columns = list(m)
    assert [list(c) for c in columns] == values.T.tolist()
    assert all(m[j][i] == m[i, j] == values[i, j] for i in range(n) for j in range(n))
    m[0].x = 50
    m[n - 1, 0] = 7.0
    assert m[0, 0] == values[0, 0] and m[n - 1, 0] == 7.0
    for bad in (n, -1, (0, n), (-1, 0), [n, 0]):
        raises_message(IndexError, "", lambda: m[bad])
    for bad in ((0, n), (-1, 0), [n, 0]):
        raises_message(IndexError, "", lambda: m.__setitem__(bad, 1.0))
    for bad in (1.0, slice(0, 1), (0, 0, 0)):
        with pytest.raises(TypeError):
            m[bad]
    with pytest.raises(TypeError):
        len(m)


def test_column_assignment(kind):
    n, letter = kind
    dtype = dtype_of(letter)
    column = np.arange(1, n + 1, dtype=dtype)
    m = matrix_class(kind)()
    sources = [vector_class(kind)(*column), column, column.reshape(1, n), column.reshape(n, 1)]
    for j, source in enumerate(sources):
        m[j % n] = source
        assert list(m[j % n]) == column.tolist()
    wide = np.arange(2 * n, dtype=dtype)
    m[0] = wide[::-2]
    assert list(m[0]) == wide[::-2].tolist()
    before = as_array(m)
    wrong_format = np.zeros(n, np.float64 if letter == "f" else np.float32)
    raises_message(RuntimeError, _format_message(letter), lambda: m.__setitem__(0, wrong_format))
    for shape in [(n + 1,), (n, n), (1, 1, n)]:
        raises_message(
            RuntimeError,
            "Incompatible shape: expected (,n), (1,n), (n,1)",
            lambda: m.__setitem__(0, np.zeros(shape, dtype)),
        )
    for bad in (n, -1):
        raises_message(IndexError, "", lambda: m.__setitem__(bad, wrong_format))
    with pytest.raises(TypeError):
        m[0] = list(column)
    assert np.array_equal(as_array(m), before)


def test_views_share_storage_and_keep_the_matrix_alive(kind):
    n, letter = kind
    values = random_array(kind, 6)
    m = from_array(kind, values)
    item = np.dtype(dtype_of(letter)).itemsize
    view, flat, exported = m.numpy(), m.flatten(), np.asarray(m)
    for array in (view, exported):
        assert array.shape == (n, n) and array.strides == (item, n * item)
        assert array.flags.f_contiguous and array.flags.writeable
    assert np.array_equal(flat, values.ravel(order="F"))
    view[0, n - 1] = 9
    flat[1] = 8
    assert m[0, n - 1] == 9 and m[1, 0] == 8
    m[1, 1] = 6
    assert exported[1, 1] == 6
    del m
    gc.collect()
    assert view[0, n - 1] == 9 and flat[1] == 8 and exported[1, 1] == 6


def test_repr(letter):
    assert repr(cls("Matrix2", letter).Identity()) == (
        f"Matrix2{letter}([[1.00000000,0.00000000],\n          [0.00000000,1.00000000]])"
    )
    m = cls("Matrix3", letter)(1, -0.5, 0, 2, math.nan, -math.inf, 0.125, 3, 1e10)
    assert str(m) == (
        f"Matrix3{letter}([[1.00000000,-0.50000000,0.00000000],\n"
        f"          [2.00000000,nan,-inf],\n"
        f"          [0.12500000,3.00000000,10000000000.00000000]])"
    )
    rows = ",".join(f"[{','.join(['0.00000000'] * 4)}]" for _ in range(4))
    assert (
        repr(cls("Matrix4", letter)()).replace("\n          ", "") == f"Matrix4{letter}([{rows}])"
    )


def test_rotation_and_scale_factories(letter):
    t = dtype_of(letter)
    V2, V3, V4 = (cls(f"Vector{k}", letter) for k in (2, 3, 4))
    M2, M3, M4 = (cls(f"Matrix{k}", letter) for k in (2, 3, 4))
    quarter = math.pi / 2
    assert M2.Rotation(quarter) * V2(1, 0) == V2(0, 1)
    for M, V, pad in ((M3, V3, ()), (M4, V4, (0,))):
        assert M.RotationZ(quarter) * V(1, 0, 0, *pad) == V(0, 1, 0, *pad)
        assert M.RotationX(quarter) * V(0, 1, 0, *pad) == V(0, 0, 1, *pad)
        assert M.RotationY(quarter) * V(0, 0, 1, *pad) == V(1, 0, 0, *pad)
        assert M.Scale(2, 3, 4) == M.Scale(V3(2, 3, 4)) == M(2, 3, 4, *(1,) * len(pad))
    s, c = np.sin(t(0.3)), np.cos(t(0.3))
    np.testing.assert_allclose(as_array(M2.Rotation(0.3)), [[c, -s], [s, c]], rtol=2e-7)
    assert M2.Scale(2, 3) == M2.Scale(V2(2, 3)) == M2(2, 3)
    with pytest.raises(TypeError):
        M4.Scale(V4(1, 2, 3, 4))
    translation = M4.Translation(V3(1, 2, 3))
    assert list(translation * V4(0, 0, 0, 1)) == [1, 2, 3, 1]
    assert list(translation * V4(1, 0, 0, 0)) == [1, 0, 0, 0]
    for M in (M2, M3, M4):
        assert M.Identity().determinant() == 1 and M.Zeros() == M()
    assert not hasattr(M2, "RotationX") and not hasattr(M3, "Rotation")
    assert not hasattr(M3, "Translation") and not hasattr(M3, "Perspective")


def test_projections(letter):
    t = dtype_of(letter)
    M4, V4 = cls("Matrix4", letter), cls("Vector4", letter)
    n, f = t(1), t(3)
    p = M4.Perspective(90, 1, 1, 3)
    expected = np.zeros((4, 4))
    expected[0, 0] = expected[1, 1] = 1
    expected[2, 2], expected[2, 3], expected[3, 2] = (n + f) / (n - f), t(2) * (n * f) / (n - f), -1
    np.testing.assert_allclose(as_array(p), expected, rtol=1e-6)
    assert (p[2, 2], p[2, 3], p[3, 3]) == (-2, -3, 0)
    for z, depth in ((-1, -1), (-3, 1)):
        clip = p * V4(0.5, -0.25, z, 1)
        assert clip.z / clip.w == pytest.approx(depth, abs=1e-6)
    off_centre = M4.Perspective(-1, 1, 1, -1, 1, 3)
    assert off_centre == p
    top = off_centre * V4(0, 1, -1, 1)
    assert top.y / top.w == 1
    narrow = M4.Perspective(60, 1.5, 0.5, 10)
    g = 1 / np.tan((t(60) * t(0.5)) * t(0.017453292519943295))
    assert narrow[0, 0] == pytest.approx(g / t(1.5), rel=1e-6)
    assert narrow[1, 1] == pytest.approx(g, rel=1e-6)
    assert np.array_equal(
        as_array(M4.Ortho(2, 4, 1, 3)), [[1, 0, 0, 0], [0, 0.5, 0, 0], [0, 0, -1, -2], [0, 0, 0, 1]]
    )
