import array
import gc
import math

import numpy as np
import orvane_bindings as ob
import pytest

SIZES = [2, 3, 4]
NAMES = "xyzw"
SHAPE_ERROR = "Incompatible shape: expected (, n), (1, n), (n, 1)"
FORMAT_ERROR = {
    "f": "Incompatible format: expected float (float32) array",
    "d": "Incompatible format: expected double (float64) array",
}
DTYPE = {"f": np.float32, "d": np.float64}
CLASSES = [(n, p) for n in SIZES for p in "fd"]


def vec_class(n, p):
    return getattr(ob, f"Vector{n}{p}")


def components(v, n):
    return [getattr(v, c) for c in NAMES[:n]]


def bits(values, p):
    """Values as the exact integers of their storage, so -0 and NaN payloads compare."""
    return np.asarray(values, DTYPE[p]).view(np.int32 if p == "f" else np.int64).tolist()


@pytest.fixture(params=CLASSES, ids=[f"Vector{n}{p}" for n, p in CLASSES])
def kind(request):
    n, p = request.param
    return n, p, vec_class(n, p)


@pytest.fixture
def rng():
    return np.random.default_rng(12345)


def random_components(rng, n, p):
    return [DTYPE[p](x) for x in rng.uniform(-10, 10, n)]


# Construction


def test_constructors_repeat_the_last_value(kind):
    n, _, V = kind
    for k in range(n + 1):
        given = [float(i + 1) for i in range(k)]
        expected = [0.0] * n if k == 0 else [given[min(i, k - 1)] for i in range(n)]
        assert components(V(*given), n) == expected
    with pytest.raises(TypeError):
        V(*range(n + 1))


def test_numbers_are_rounded_to_the_precision(kind):
    n, p, V = kind
    v = V(0.1)
    assert components(v, n) == [float(DTYPE[p](0.1))] * n
    big = V(1e300)
    assert components(big, n) == ([math.inf] * n if p == "f" else [1e300] * n)
    assert components(V(np.float64(2)), n) == [2.0] * n  # a float subclass


def test_float32_scalar_goes_to_the_buffer_constructor(kind):
    _, _, V = kind
    with pytest.raises(RuntimeError) as e:
        V(np.float32(2))
    assert str(e.value) in (SHAPE_ERROR, FORMAT_ERROR["d"])


@pytest.mark.parametrize("shape", ["flat", "row", "column"])
def test_buffer_constructor_accepts_vector_shapes(kind, shape):
    n, p, V = kind
    data = np.arange(1, n + 1, dtype=DTYPE[p])
    data = {"flat": data, "row": data.reshape(1, n), "column": data.reshape(n, 1)}[shape]
    assert components(V(data), n) == list(range(1, n + 1))


def test_buffer_constructor_rejects_other_shapes(kind):
    n, p, V = kind
    for shape in [(n, n), (n, 2 if n != 2 else 3), (1, 1, n), (n - 1,), (n + 1,), ()]:
        with pytest.raises(RuntimeError) as e:
            V(np.ones(shape, DTYPE[p]))
        assert str(e.value) == SHAPE_ERROR


def test_buffer_constructor_checks_the_format_first(kind):
    n, p, V = kind
    other = "d" if p == "f" else "f"
    for data in [np.ones(n, DTYPE[other]), np.ones(n, np.int32), np.ones((5, 5), np.int64)]:
        with pytest.raises(RuntimeError) as e:
            V(data)
        assert str(e.value) == FORMAT_ERROR[p]
    with pytest.raises(RuntimeError) as e:
        V(vec_class(n, other)(1))
    assert str(e.value) == FORMAT_ERROR[p]


def test_buffer_constructor_follows_strides(kind):
    n, p, V = kind
    base = np.arange(1, 2 * n + 1, dtype=DTYPE[p])
    assert components(V(base[::2]), n) == base[::2].tolist()
    assert components(V(base[:n][::-1]), n) == base[:n][::-1].tolist()
    grid = base.reshape(n, 2)
    assert components(V(grid[:, 1:]), n) == grid[:, 1].tolist()
    assert components(V(np.asfortranarray(grid).T[1:, :]), n) == grid[:, 1].tolist()


def test_buffer_constructor_takes_any_exporter(kind):
    n, p, V = kind
    values = [1.5 * (i + 1) for i in range(n)]
    assert components(V(array.array(p, values)), n) == values
    assert components(V(memoryview(array.array(p, values))), n) == values
    frozen = np.array(values, DTYPE[p])
    frozen.flags.writeable = False
    assert components(V(frozen), n) == values
    with pytest.raises(RuntimeError) as e:
        V(memoryview(bytes(8 * n)))  # format "B"
    assert str(e.value) == FORMAT_ERROR[p]


def test_copy_goes_through_the_buffer(kind):
    n, _, V = kind
    v = V(*range(1, n + 1))
    c = V(v)
    c.x = 42
    assert components(v, n) == list(range(1, n + 1))
    with pytest.raises(RuntimeError) as e:
        V(vec_class(2 if n != 2 else 3, kind[1])(1))
    assert str(e.value) == SHAPE_ERROR


@pytest.mark.parametrize("arg", [[1, 2, 3, 4], (1, 2), "ab", None])
def test_non_buffers_match_no_constructor(kind, arg):
    with pytest.raises(TypeError):
        kind[2](arg)


# Arithmetic, exact in the class precision


def test_arithmetic_is_exact_in_the_precision(kind, rng):
    n, p, V = kind
    t = DTYPE[p]
    for _ in range(20):
        a, b = random_components(rng, n, p), random_components(rng, n, p)
        s = t(rng.uniform(-3, 3))
        va, vb = V(*map(float, a)), V(*map(float, b))
        assert bits(components(va + vb, n), p) == bits([x + y for x, y in zip(a, b)], p)
        assert bits(components(va - vb, n), p) == bits([x - y for x, y in zip(a, b)], p)
        assert bits(components(va * vb, n), p) == bits([x * y for x, y in zip(a, b)], p)
        assert bits(components(va * float(s), n), p) == bits([x * s for x in a], p)
        assert bits(components(float(s) * va, n), p) == bits([x * s for x in a], p)
        assert bits(components(-va, n), p) == bits([-x for x in a], p)
        acc = t(0)
        for x, y in zip(a, b):
            acc = t(acc + t(x * y))
        assert bits([va.dot(vb)], p) == bits([acc], p)
        sq = t(0)
        for x in a:
            sq = t(sq + t(x * x))
        assert bits([va.squareNorm()], p) == bits([sq], p)
        length = np.sqrt(sq)
        assert bits([va.norm()], p) == bits([length], p)
        assert bits(components(va.normalize(), n), p) == bits([x / length for x in a], p)


def test_cross_product_exact_and_only_on_vector3(letter, rng):
    V = vec_class(3, letter)
    t = DTYPE[letter]
    a, b = random_components(rng, 3, letter), random_components(rng, 3, letter)
    expected = [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]
    got = V(*map(float, a)).cross(V(*map(float, b)))
    assert bits(components(got, 3), letter) == bits([t(x) for x in expected], letter)
    assert components(V(1, 0, 0).cross(V(0, 1, 0)), 3) == [0, 0, 1]
    assert components(V(0, 1, 0).cross(V(1, 0, 0)), 3) == [0, 0, -1]
    assert not hasattr(vec_class(2, letter), "cross")
    assert not hasattr(vec_class(4, letter), "cross")


def test_signed_zeros(kind):
    n, p, V = kind
    assert bits([V(-1).dot(V(0))], p) == bits([0.0], p)  # +0, not -0
    assert bits(components(-V(0), n), p) == bits([-0.0] * n, p)


def test_normalize_degenerate_lengths(kind):
    n, p, V = kind
    assert all(math.isnan(c) for c in components(V().normalize(), n))
    if p == "f":
        tiny = V(1e-30, 0).normalize()  # the squared norm underflows in float
        assert tiny.x == math.inf and all(math.isnan(c) for c in components(tiny, n)[1:])
    huge = V(*([3e38] * (n - 1) + [0.0])).normalize() if p == "f" else V(1e300).normalize()
    assert all(c == 0 for c in components(huge, n))


def test_normalize_in_place(kind):
    n, _, V = kind
    v = V(*([0.0] * (n - 1) + [5.0]))
    view = v.numpy()
    assert v.normalize_() is None
    assert components(v, n) == [0.0] * (n - 1) + [1.0]
    assert view[-1] == 1.0
    w = V(3)
    w.normalize()
    assert components(w, n) == [3.0] * n


def test_foreign_operands(kind):
    n, p, V = kind
    v = V(1)
    other = vec_class(n, "d" if p == "f" else "f")(1)
    for bad in [1, "a", None, other]:
        with pytest.raises(TypeError):
            v + bad
        with pytest.raises(TypeError):
            v - bad
    for bad in ["a", None, other]:
        with pytest.raises(TypeError):
            v * bad
    assert V.__add__(v, 1) is NotImplemented
    assert V.__mul__(v, "a") is NotImplemented
    with pytest.raises(TypeError):
        v / 2
    for bad in [3, other, None]:
        with pytest.raises(TypeError):
            v == bad  # noqa: B015
        with pytest.raises(TypeError):
            v.__neq__(bad)
    with pytest.raises(TypeError):
        hash(v)


def test_int_operands_convert(kind):
    n, _, V = kind
    assert components(V(1) * 2, n) == [2.0] * n
    assert components(2 * V(1), n) == [2.0] * n


# Equality


def test_equality_tolerance_and_nan(kind):
    n, p, V = kind
    zero = [0.0] * n
    eps = float(DTYPE[p](1e-6))
    assert V(*zero) == V(*([1e-7] + zero[1:]))
    assert not V(*zero) == V(*([eps] + zero[1:]))
    assert V(*zero) != V(*([eps] + zero[1:]))
    if p == "d":
        assert V(*zero) == V(*([5e-7] + zero[1:]))
    with_nan = V(*([math.nan] + [1.0] * (n - 1)))
    assert with_nan == V(*([123.0] + [1.0] * (n - 1)))
    assert not (with_nan != V(*([123.0] + [1.0] * (n - 1))))
    assert not with_nan == V(*([123.0] + [1.5] * (n - 1)))
    assert V(1).__neq__(V(2)) is True
    assert V(1).__neq__(V(1)) is False


# Indexing


def test_indexing(kind):
    n, _, V = kind
    v = V(*range(1, n + 1))
    assert [v[i] for i in range(n)] == list(range(1, n + 1))
    assert list(v) == list(range(1, n + 1))
    v[n - 1] = 0.25
    assert components(v, n)[-1] == 0.25
    for bad in [n, -1, -n, 2**31 - 1]:
        with pytest.raises(IndexError) as e:
            v[bad]
        assert str(e.value) == ""
        with pytest.raises(IndexError):
            v[bad] = 9.0
    assert components(v, n) == list(range(1, n)) + [0.25]
    for bad in [1.0, slice(0, 1), "x", 2**31, -(2**31) - 1]:
        with pytest.raises(TypeError):
            v[bad]


def test_properties_and_shape(kind):
    n, p, V = kind
    v = V()
    for i, c in enumerate(NAMES[:n]):
        setattr(v, c, 0.1 * (i + 1))
        assert getattr(v, c) == float(DTYPE[p](0.1 * (i + 1)))
    for c in NAMES[n:]:
        assert not hasattr(v, c)
    assert v.ndim == 1
    assert v.shape == (1, n)
    with pytest.raises(AttributeError):
        v.ndim = 2
    with pytest.raises(AttributeError):
        v.shape = (n,)
    with pytest.raises(AttributeError):
        v.extra = 1


# Views and the buffer protocol


def test_numpy_view_shares_storage(kind):
    n, p, V = kind
    v = V(*range(1, n + 1))
    a = v.numpy()
    assert a.dtype == DTYPE[p] and a.shape == (n,) and a.flags.writeable
    a[1] = 9
    assert v.y == 9
    v.x = 7
    assert a[0] == 7
    assert a.base is v


def test_views_outlive_the_vector(kind):
    n, _, V = kind
    v = V(*range(1, n + 1))
    a, b, m = v.numpy(), np.asarray(v), memoryview(v)
    del v
    gc.collect()
    assert a.tolist() == list(range(1, n + 1))
    assert b.tolist() == list(range(1, n + 1))
    assert m.tolist() == list(range(1, n + 1))


def test_exported_buffer(kind):
    n, p, V = kind
    v = V(1)
    m = memoryview(v)
    assert (m.format, m.itemsize, m.ndim, m.shape, m.readonly) == (
        p,
        np.dtype(DTYPE[p]).itemsize,
        1,
        (n,),
        False,
    )
    arr = np.asarray(v)
    arr[0] = 5
    assert v.x == 5


# Text


def test_repr(kind):
    n, p, V = kind
    v = V(*([0.1, 1, -0.0, math.inf][:n]))
    texts = [repr(float(DTYPE[p](c))) for c in [0.1, 1, -0.0, math.inf][:n]]
    fields = ", ".join(f"{c}={t}" for c, t in zip(NAMES, texts))
    assert repr(v) == f"Vector{n}{p}({fields})"
    assert str(v) == repr(v)


def test_repr_examples():
    assert repr(ob.Vector2f(0.1, 1)) == "Vector2f(x=0.10000000149011612, y=1.0)"
    assert repr(ob.Vector2d(0.1, 1)) == "Vector2d(x=0.1, y=1.0)"
    assert repr(ob.Vector3d(1, 2.5, -0.0)) == "Vector3d(x=1.0, y=2.5, z=-0.0)"
    assert repr(ob.Vector2f().normalize()) == "Vector2f(x=nan, y=nan)"
