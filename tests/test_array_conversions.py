import math

import numpy as np
import orvane_bindings as ob
import pytest

DTYPE = {"f": np.float32, "d": np.float64}
BITS = {"f": "f32", "d": "f64"}

# word of the function names: (class name before the precision letter, fields in storage order)
COMPONENT_KINDS = {
    "quat": ("Quaternion", "wxyz"),
    "vec2": ("Vector2", "xy"),
    "vec3": ("Vector3", "xyz"),
    "vec4": ("Vector4", "xyzw"),
}
COUNT_ERROR = {
    "quat": "Incompatible array_size, expected 4 elements",
    "vec2": "Incompatible array size, expected 2 elements",
    "vec3": "Incompatible array size, expected 3 elements",
    "vec4": "Incompatible array size, expected 4 elements",
}


def bits(values, p):
    """Values as the integers of their storage, so -0 and NaN compare exactly."""
    return np.asarray(values, DTYPE[p]).view(np.int32 if p == "f" else np.int64).tolist()


class Kind:
    def __init__(self, word, p):
        name, self.fields = COMPONENT_KINDS[word]
        self.word, self.p, self.n = word, p, len(self.fields)
        self.cls = getattr(ob, name + p)
        self.to_array = getattr(ob, f"{word}_to_nparray_{BITS[p]}")
        self.from_array = getattr(ob, f"nparray_to_{word}_{BITS[p]}")
        self.dtype = DTYPE[p]

    def make(self, values):
        obj = self.cls()
        for field, value in zip(self.fields, values):
            setattr(obj, field, float(value))
        return obj

    def components(self, obj):
        return [getattr(obj, field) for field in self.fields]


@pytest.fixture(
    params=[(w, p) for w in COMPONENT_KINDS for p in "fd"],
    ids=[f"{w}_{BITS[p]}" for w in COMPONENT_KINDS for p in "fd"],
)
def kind(request):
    return Kind(*request.param)


def values_for(kind):
    return [1.5, -0.0, math.nan][: kind.n - 1] + [0.1]


def test_object_to_array_is_a_fresh_one_dimensional_copy(kind):
    values = values_for(kind)
    obj = kind.make(values)
    a = kind.to_array(obj)
    assert a.dtype == kind.dtype and a.shape == (kind.n,)
    assert a.flags.c_contiguous and a.flags.owndata and a.flags.writeable
    assert bits(a, kind.p) == bits(values, kind.p)
    a[0] = 42
    assert kind.components(obj)[0] == 1.5
    setattr(obj, kind.fields[-1], 7.0)
    assert bits(a[-1:], kind.p) == bits([0.1], kind.p)
    assert kind.to_array(obj) is not kind.to_array(obj)


def test_round_trip_keeps_every_bit(kind):
    obj = kind.make(values_for(kind))
    back = kind.from_array(kind.to_array(obj))
    assert type(back) is kind.cls
    assert bits(kind.components(back), kind.p) == bits(values_for(kind), kind.p)


@pytest.mark.parametrize("shape", ["flat", "column", "row", "three_d"])
def test_any_shape_with_the_right_count_is_accepted(kind, shape):
    n = kind.n
    a = np.arange(1, n + 1, dtype=kind.dtype)
    a = a.reshape({"flat": (n,), "column": (n, 1), "row": (1, n), "three_d": (1, 1, n)}[shape])
    assert kind.components(kind.from_array(a)) == list(range(1, n + 1))


def test_contiguous_arrays_give_their_elements_row_by_row():
    c = np.array([[1, 2], [3, 4]], np.float64)
    assert Kind("vec4", "d").components(ob.nparray_to_vec4_f64(c)) == [1, 2, 3, 4]
    f = np.asfortranarray(c)
    assert Kind("vec4", "d").components(ob.nparray_to_vec4_f64(f)) == [1, 2, 3, 4]


@pytest.mark.parametrize("p", ["f", "d"])
@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int32, np.int64])
@pytest.mark.parametrize("layout", ["C", "F", "F_strided", "C_strided", "transposed"])
def test_element_count_readers_take_elements_row_by_row(p, dtype, layout):
    # Whether the reader gets the array itself or a converting copy depends on the dtype.
    base = np.arange(16, dtype=dtype).reshape(4, 4)
    a = {
        "C": base[:2, :2].copy(),
        "F": np.asfortranarray(base[:2, :2]),
        "F_strided": np.asfortranarray(base)[::2, ::2],
        "C_strided": base[::2, ::2],
        "transposed": base[:2, :2].T,
    }[layout]
    quaternion = getattr(ob, "Quaternion" + p)
    read = [
        Kind("vec4", p).components(getattr(ob, f"nparray_to_vec4_{BITS[p]}")(a)),
        Kind("quat", p).components(getattr(ob, f"nparray_to_quat_{BITS[p]}")(a)),
        Kind("quat", p).components(quaternion(np.asarray(a, DTYPE[p]))),
    ]
    assert read == [a.ravel().tolist()] * 3


def strided_cases(n, dtype):
    base = np.arange(4 * n, dtype=dtype)
    yield "every_second", base[: 2 * n : 2]
    yield "reversed", base[:n][::-1]
    yield "column_of_c_array", base[: 2 * n].reshape(n, 2)[:, 1]
    yield "reversed_row", base[:n].reshape(1, n)[:, ::-1]
    yield "two_d_gaps", base.reshape(2 * n, 2)[::2, :1]


def test_non_contiguous_arrays_are_read_in_index_order(kind):
    for name, a in strided_cases(kind.n, kind.dtype):
        assert not (a.flags.c_contiguous or a.flags.f_contiguous), name
        assert a.dtype == kind.dtype
        assert kind.components(kind.from_array(a)) == a.ravel().tolist(), name


def test_lists_ints_and_other_dtypes_convert(kind):
    n, t = kind.n, kind.dtype
    assert kind.components(kind.from_array(list(range(n)))) == list(range(n))
    assert kind.components(kind.from_array(tuple(range(n)))) == list(range(n))
    assert kind.components(kind.from_array(np.arange(n, dtype=np.int64))) == list(range(n))
    assert kind.components(kind.from_array([True] * n)) == [1.0] * n
    narrowed = kind.from_array(np.full(n, 0.1, np.float64))
    assert bits(kind.components(narrowed), kind.p) == bits([t(0.1)] * n, kind.p)
    widened = kind.from_array(np.full(n, 0.1, np.float32)[::-1])
    assert bits(kind.components(widened), kind.p) == bits([t(np.float32(0.1))] * n, kind.p)


def test_wrong_counts_raise_the_count_message(kind):
    n, t = kind.n, kind.dtype
    for bad in [
        np.zeros(n - 1, t),
        np.zeros(n + 1, t),
        np.zeros((n, 2), t),
        np.zeros(0, t),
        np.zeros((2, 2 * n), t)[:, ::2],
        1.0,
        7,
        [1.0] * (n + 1),
    ]:
        with pytest.raises(RuntimeError) as e:
            kind.from_array(bad)
        assert str(e.value) == COUNT_ERROR[kind.word]


@pytest.mark.parametrize("bad", ["abc", b"ab", {}, object(), [[1, 2], [3]]])
def test_unconvertible_arguments_match_no_overload(kind, bad):
    with pytest.raises(TypeError):
        kind.from_array(bad)


def test_objects_of_the_other_precision_do_not_convert(kind):
    other = Kind(kind.word, "d" if kind.p == "f" else "f")
    with pytest.raises(TypeError):
        kind.to_array(other.cls())
    with pytest.raises(TypeError):
        kind.to_array(kind.to_array(kind.cls()))


# Matrices

DIMENSIONS_ERROR = (
    "nparray_to_matrix: incompatible array dimensions. It requires an (n, n) array, so two "
    "dimensions are required"
)
SIZE_ERROR = "nparray_to_matrix: incompatible array size. It expects a (n, n) matrix of size 'n'"


class MatrixKind:
    def __init__(self, n, p):
        self.n, self.p, self.dtype = n, p, DTYPE[p]
        self.cls = getattr(ob, f"Matrix{n}{p}")
        self.to_array = getattr(ob, f"mat{n}_to_nparray_{BITS[p]}")
        self.from_array = getattr(ob, f"nparray_to_mat{n}_{BITS[p]}")

    def make(self, rows):
        m = self.cls()
        for i, row in enumerate(rows):
            for j, value in enumerate(row):
                m[i, j] = float(value)
        return m

    def elements(self, m):
        return [[m[i, j] for j in range(self.n)] for i in range(self.n)]

    def distinct(self):
        """An array whose element [i][j] is 10 i + j + 1, so transposition shows."""
        n = self.n
        return np.add.outer(10 * np.arange(n), np.arange(1, n + 1)).astype(self.dtype)


@pytest.fixture(
    params=[(n, p) for n in (2, 3, 4) for p in "fd"],
    ids=[f"mat{n}_{BITS[p]}" for n in (2, 3, 4) for p in "fd"],
)
def mkind(request):
    return MatrixKind(*request.param)


def test_matrix_to_array_is_a_fresh_fortran_copy(mkind):
    rows = mkind.distinct()
    m = mkind.make(rows)
    a = mkind.to_array(m)
    assert a.dtype == mkind.dtype and a.shape == (mkind.n, mkind.n)
    assert a.flags.f_contiguous and a.flags.owndata and a.flags.writeable
    assert a.tolist() == rows.tolist()
    a[0, 1] = -5
    assert m[0, 1] == rows[0, 1]
    m[1, 0] = -7
    assert a[1, 0] == rows[1, 0]


def test_matrix_round_trip_keeps_every_bit(mkind):
    rows = mkind.distinct().astype(np.float64)
    rows[0, 1], rows[1, 0], rows[-1, -1] = -0.0, math.nan, 0.1
    back = mkind.from_array(mkind.to_array(mkind.make(rows)))
    assert type(back) is mkind.cls
    assert bits(mkind.elements(back), mkind.p) == bits(rows, mkind.p)


def layouts(a):
    n = a.shape[0]
    spread = np.zeros((2 * n, 3 * n), a.dtype)
    spread[::2, ::3] = a
    yield "c_order", np.ascontiguousarray(a)
    yield "fortran_order", np.asfortranarray(a)
    yield "transposed_view", np.ascontiguousarray(a.T).T
    yield "gaps", spread[::2, ::3]
    yield "reversed_rows", np.ascontiguousarray(a[::-1])[::-1]
    yield "reversed_both", np.asfortranarray(a[::-1, ::-1])[::-1, ::-1]


def test_square_rule_reads_element_i_j_as_row_i_column_j(mkind):
    rows = mkind.distinct()
    strided = {"gaps", "reversed_rows", "reversed_both"}
    for name, a in layouts(rows):
        assert a.dtype == mkind.dtype and a.tolist() == rows.tolist(), name
        assert (name in strided) != (a.flags.c_contiguous or a.flags.f_contiguous), name
        assert mkind.elements(mkind.from_array(a)) == rows.tolist(), name


def test_matrix_inputs_convert(mkind):
    rows = mkind.distinct()
    assert mkind.elements(mkind.from_array(rows.tolist())) == rows.tolist()
    assert mkind.elements(mkind.from_array(rows.astype(np.int32))) == rows.tolist()
    tenths = np.full((mkind.n, mkind.n), 0.1)
    narrowed = mkind.from_array(tenths)
    assert bits(mkind.elements(narrowed), mkind.p) == bits(tenths.astype(mkind.dtype), mkind.p)


def test_wrong_dimensions_and_extents(mkind):
    n, t = mkind.n, mkind.dtype
    for bad in [np.zeros(n * n, t), np.zeros((1, n, n), t), np.zeros((), t), 1.0, [1.0] * (n * n)]:
        with pytest.raises(RuntimeError) as e:
            mkind.from_array(bad)
        assert str(e.value) == DIMENSIONS_ERROR
    for bad in [
        np.zeros((n, n + 1), t),
        np.zeros((n + 1, n), t),
        np.zeros((1, n * n), t),
        np.zeros((n - 1, n - 1), t),
        np.zeros((n + 1, n + 1), t),
        np.zeros((2 * n, 2 * n), t)[:, ::2],
    ]:
        with pytest.raises(RuntimeError) as e:
            mkind.from_array(bad)
        assert str(e.value) == SIZE_ERROR


@pytest.mark.parametrize("bad", ["abc", object(), [[1, 2], [3]]])
def test_unconvertible_matrix_arguments_match_no_overload(mkind, bad):
    with pytest.raises(TypeError):
        mkind.from_array(bad)
    with pytest.raises(TypeError):
        mkind.to_array(mkind.distinct())
