import math

import numpy as np
import pytest

import orvane_bindings as ob

DTYPE = {"f": np.float32, "d": np.float64}
BITS = {"f": "f32", "d": "f64"}

# word of the function names: (class name before the precision letter, fields in storage order)
COMPONENT_KINDS = {
    "vec2": ("Vector2", "xy"),
    "vec3": ("Vector3", "xyz"),
    "vec4": ("Vector4", "xyzw"),
}
COUNT_ERROR = {
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


def test_contiguous_arrays_give_their_memory_order():
    c = np.array([[1, 2], [3, 4]], np.float64)
    assert Kind("vec4", "d").components(ob.nparray_to_vec4_f64(c)) == [1, 2, 3, 4]
    f = np.asfortranarray(c)
    assert Kind("vec4", "d").components(ob.nparray_to_vec4_f64(f)) == [1, 3, 2, 4]


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
    for bad in [np.zeros(n - 1, t), np.zeros(n + 1, t), np.zeros((n, 2), t), np.zeros(0, t),
                np.zeros((2, 2 * n), t)[:, ::2], 1.0, 7, [1.0] * (n + 1)]:
        with pytest.raises(RuntimeError) as e:
            kind.from_array(bad)
        assert str(e.value) == COUNT_ERROR[kind.word]


def test_the_count_message_names_the_expected_count():
    three = np.zeros(3)
    with pytest.raises(RuntimeError, match=r"^Incompatible array size, expected 4 elements$"):
        ob.nparray_to_vec4_f64(three)
    with pytest.raises(RuntimeError, match=r"^Incompatible array size, expected 3 elements$"):
        ob.nparray_to_vec3_f32(np.zeros(4))


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


def test_the_object_does_not_share_the_input_array(kind):
    a = np.arange(kind.n, dtype=kind.dtype)
    obj = kind.from_array(a)
    a[:] = 9
    assert kind.components(obj) == list(range(kind.n))
