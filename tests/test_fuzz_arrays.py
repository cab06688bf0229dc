"""Every callable that takes a buffer or an ndarray, fed with arrays of every
dtype, shape and layout and with things that are not arrays at all.

Each call either gives exactly the values its rule names, predicted here with
NumPy alone, or raises the exception the rule names; the argument and the
object called on are never changed by it.
"""

import array
import collections.abc
import warnings
from typing import NamedTuple

import numpy as np
import orvane_bindings as ob
import pytest
from conftest import cls, dtype_of
from hypothesis import event, given, note
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

FORMAT_ERROR = {
    "f": "Incompatible format: expected float (float32) array",
    "d": "Incompatible format: expected double (float64) array",
}
VECTOR_SHAPE_ERROR = "Incompatible shape: expected (, n), (1, n), (n, 1)"
QUATERNION_SHAPE_ERROR = "Incompatible shape: expected (,4), (1,4), (4,1)"
COLUMN_SHAPE_ERROR = "Incompatible shape: expected (,n), (1,n), (n,1)"
DIMENSIONS_ERROR = (
    "nparray_to_matrix: incompatible array dimensions. It requires an (n, n) "
    "array, so two dimensions are required"
)
SIZE_ERROR = "nparray_to_matrix: incompatible array size. It expects a (n, n) matrix of size 'n'"


def count_error(n):
    return f"Incompatible array size, expected {n} elements"


def count_of(n):
    """The element-count message for n, whatever count the array had."""
    return lambda count: count_error(n)


def quaternion_count_error(count):
    return f"Quaternion> incompatible array size; expected 4, got {count}"


# Inputs

TEXTS = ["0", "1.5", "-3", "inf", "nan", "1e40", "x", "", " 2 "]
JUNK_SCALARS = st.one_of(
    st.floats(),
    st.integers(),
    st.just(10**400),
    st.none(),
    st.booleans(),
    st.complex_numbers(),
    st.sampled_from(TEXTS),
    st.binary(max_size=3),
)
OTHER_DTYPES = st.one_of(
    hnp.floating_dtypes(endianness="?"),
    hnp.integer_dtypes(endianness="?"),
    hnp.unsigned_integer_dtypes(endianness="?"),
    hnp.boolean_dtypes(),
    hnp.complex_number_dtypes(endianness="?"),
    st.sampled_from(["U4", "S4", "O", "M8[D]", "m8[s]"]).map(np.dtype),
)
LAYOUTS = ["C", "F", "strided", "reversed", "transposed", "readonly", "broadcast", "unaligned"]


def dtypes(letter):
    own = st.just(np.dtype(dtype_of(letter)))
    return st.one_of(
        own, own, st.just(np.dtype(np.float64 if letter == "f" else np.float32)), OTHER_DTYPES
    )


def shapes(n):
    near = [
        (n,),
        (1, n),
        (n, 1),
        (n, n),
        (1, 1, n),
        (n * n,),
        (n + 1,),
        (n - 1,),
        (0,),
        (),
        (2, 2),
        (n, 1, 1),
        (n, 0),
    ]
    return st.one_of(
        st.sampled_from(near), hnp.array_shapes(min_dims=0, max_dims=4, min_side=0, max_side=4)
    )


def elements(dtype):
    if dtype.kind == "U":
        return st.sampled_from([t for t in TEXTS if len(t) <= 4])
    if dtype.kind == "S":
        return st.sampled_from([t.encode() for t in TEXTS if len(t) <= 4])
    if dtype.kind == "O":
        return JUNK_SCALARS
    return None  # Hypothesis's own: NaNs, infinities, subnormals, extremes


def every_index(a):
    return (slice(None),) * a.ndim


def laid_out(a, layout):
    """The values of a in the given memory layout (or a view with them)."""
    if a.ndim == 0 or layout == "C":
        return a
    if layout == "F":
        return np.asfortranarray(a)
    if layout == "strided":
        big = np.zeros(tuple(2 * s for s in a.shape), a.dtype)
        big[(slice(None, None, 2),) * a.ndim] = a
        return big[(slice(None, None, 2),) * a.ndim]
    if layout == "reversed":
        return a[(slice(None, None, -1),) * a.ndim]
    if layout == "transposed":
        return a.T
    if layout == "readonly":
        a = a.copy()
        a.flags.writeable = False
        return a
    if layout == "broadcast":  # zero strides
        return np.broadcast_to(a[(slice(0, 1),) * a.ndim], a.shape)
    if a.dtype.kind == "O" or a.dtype.itemsize == 1:
        return a
    raw = bytearray(a.nbytes + 1)  # "unaligned": one byte past an aligned start
    moved = np.frombuffer(raw, a.dtype, count=a.size, offset=1).reshape(a.shape)
    moved[every_index(moved)] = a
    return moved


@st.composite
def ndarrays(draw, n, letter):
    dtype = draw(dtypes(letter))
    base = draw(hnp.arrays(dtype, draw(shapes(n)), elements=elements(dtype)))
    return laid_out(base, draw(st.sampled_from(LAYOUTS)))


@st.composite
def well_formed(draw, n, letter):
    """Arrays of the precision's dtype in a shape some rule takes, in any layout."""
    shape = draw(st.sampled_from([(n,), (1, n), (n, 1), (n, n), (n, n)]))
    base = draw(hnp.arrays(dtype_of(letter), shape))
    return laid_out(base, draw(st.sampled_from(LAYOUTS)))


TYPECODES = "fdbiqB"


@st.composite
def python_buffers(draw, n):
    """array.array, memoryviews of it (cast to 2-D, strided, released), bytes and bytearray."""
    code = draw(st.sampled_from(TYPECODES))
    count = draw(st.sampled_from([n, n * n, n - 1, n + 1, 0, 1, 4]))
    if code in "fd":
        values = draw(st.lists(st.floats(width=32), min_size=count, max_size=count))
    else:
        bound = 127 if code in "bB" else 2**31
        values = draw(
            st.lists(
                st.integers(0 if code == "B" else -bound, bound - 1), min_size=count, max_size=count
            )
        )
    data = array.array(code, values)
    kind = draw(
        st.sampled_from(["array", "view", "2d", "strided", "released", "bytes", "bytearray"])
    )
    if kind == "array":
        return data
    if kind == "view":
        return memoryview(data)
    if kind == "2d":
        rows = draw(st.sampled_from([r for r in range(1, count + 1) if count % r == 0] or [1]))
        if count == 0:
            return memoryview(data)
        return memoryview(data).cast("B").cast(code, (rows, count // rows))
    if kind == "strided":
        return memoryview(data)[::2]
    if kind == "released":
        view = memoryview(data)
        view.release()
        return view
    if kind == "bytes":
        return data.tobytes()
    return bytearray(data.tobytes())


class Exporter:
    """A Python class exporting the buffer of an array, or refusing to."""

    def __init__(self, array, refuse):
        self.array, self.refuse = array, refuse

    def __buffer__(self, flags):
        if self.refuse:
            raise BufferError("no buffer today")
        return memoryview(self.array)

    def __repr__(self):
        return f"Exporter({self.array!r}, refuse={self.refuse})"


@st.composite
def exporters(draw, n, letter):
    return Exporter(
        draw(st.one_of(ndarrays(n, letter), well_formed(n, letter))), draw(st.booleans())
    )


MODULE_OBJECTS = [
    lambda: ob.Vector3f(1, 2, 3),
    lambda: ob.Vector3d(-1, 0.5, 2),
    lambda: ob.Vector2f(1, 2),
    lambda: ob.Vector4d(1, 2, 3, 4),
    lambda: ob.Quaternionf(1, 2, 3, 4),
    lambda: ob.Quaterniond(0.5, 0, 0, 0.5),
    lambda: ob.Matrix2f(1, 2, 3, 4),
    lambda: ob.Matrix4d.Identity(),
    lambda: ob.Line_f(),
    lambda: ob.Euler_d(),
]

JUNK = st.one_of(
    JUNK_SCALARS,
    st.lists(JUNK_SCALARS, max_size=5),
    st.tuples(st.floats(), st.floats(), st.floats()),
    st.lists(st.lists(st.floats(), max_size=3), max_size=3),  # ragged, nested
    st.sampled_from(MODULE_OBJECTS).map(lambda make: make()),
)


def anything(n, letter):
    """Inputs for a callable that wants n (or n by n) elements of precision letter."""
    return st.one_of(
        ndarrays(n, letter),
        ndarrays(n, letter),
        well_formed(n, letter),
        well_formed(n, letter),
        python_buffers(n),
        exporters(n, letter),
        JUNK,
    )


# What the rules predict


class Raises(NamedTuple):
    kind: type
    message: str | None = None  # None: a text that is pybind11's or the exporter's


def exports_buffer(x):
    return isinstance(x, collections.abc.Buffer)


def as_float(x):
    """The number a float parameter takes in the converting pass, or None."""
    if not (hasattr(type(x), "__float__") or hasattr(type(x), "__index__")):
        return None
    try:
        return float(x)
    except (TypeError, ValueError, OverflowError):
        return None


def rounded(values, letter):
    with np.errstate(over="ignore"):  # like a C cast: beyond the range is infinite
        return np.asarray(values, np.float64).astype(dtype_of(letter))


def buffer_request(x, letter, shape_error):
    """A buffer parameter: the exporter's view, the format check, then the
    shape check; the elements as a copy, so that no view of x stays behind."""
    try:
        view = memoryview(x)
    except Exception as error:  # noqa: BLE001 - the exporter's own refusal passes unchanged
        return Raises(type(error))
    with view:
        if view.format != letter:
            return Raises(RuntimeError, FORMAT_ERROR[letter])
        failed = shape_error(view.shape)
        return Raises(RuntimeError, failed) if failed else np.array(view)


def column_shaped(x, letter, n, shape_error):
    got = buffer_request(
        x, letter, lambda shape: None if shape in [(n,), (1, n), (n, 1)] else shape_error
    )
    return got if isinstance(got, Raises) else got.reshape(-1)


def square_shaped(x, letter, n):
    def shape_error(shape):
        if len(shape) != 2:
            return f"Incompatible shape: expected ({n}, {n})"
        return None if shape == (n, n) else f"Incompatible size: expected ({n}, {n})"

    return buffer_request(x, letter, shape_error)


def converted(x, letter):
    """What an ndarray parameter receives: NumPy's forced cast, under the
    warning filters in force (a warning turned into an error fails it)."""
    try:
        return np.asarray(x, dtype=dtype_of(letter))
    except Exception:  # noqa: BLE001 - any failure means no overload matches
        return None


def counted(x, letter, n, message):
    a = converted(x, letter)
    if a is None:
        return Raises(TypeError)
    if a.size != n:
        return Raises(RuntimeError, message(a.size))
    # Row by row, whatever the layout.
    return a.flatten(order="C")


def square_array(x, letter, n):
    a = converted(x, letter)
    if a is None:
        return Raises(TypeError)
    if a.ndim != 2:
        return Raises(RuntimeError, DIMENSIONS_ERROR)
    if a.shape != (n, n):
        return Raises(RuntimeError, SIZE_ERROR)
    return a.copy()


def vector_constructor(x, letter, n):
    if isinstance(x, float):
        return rounded([x] * n, letter)
    if exports_buffer(x):
        return column_shaped(x, letter, n, VECTOR_SHAPE_ERROR)
    number = as_float(x)
    return Raises(TypeError) if number is None else rounded([number] * n, letter)


def quaternion_constructor(x, letter):
    if isinstance(x, float):
        return rounded([x, 0, 0, 0], letter)
    if isinstance(x, np.ndarray) and x.dtype == np.dtype(dtype_of(letter)):
        return counted(x, letter, 4, quaternion_count_error)
    if exports_buffer(x):
        return column_shaped(x, letter, 4, QUATERNION_SHAPE_ERROR)
    number = as_float(x)
    if number is not None:
        return rounded([number, 0, 0, 0], letter)
    return counted(x, letter, 4, quaternion_count_error)


# Checking a call against the prediction


def fingerprint(x):
    """Everything a call could change in x."""
    if isinstance(x, np.ndarray):
        return x.dtype.str, x.shape, x.strides, x.tobytes()
    if exports_buffer(x):
        try:
            return memoryview(x).tobytes()
        except (ValueError, BufferError):  # released or refused
            return "released"
    if isinstance(x, ob.Line_f):
        return bits(x.start), bits(x.end)
    return repr(x)


def bits(obj):
    a = np.asarray(obj)
    return a.dtype.str, a.shape, a.tobytes()


def assert_outcome(call, expected, *untouched):
    event(expected.kind.__name__ if isinstance(expected, Raises) else "values")
    before = [fingerprint(x) for x in untouched]
    if isinstance(expected, Raises):
        with pytest.raises(expected.kind) as info:
            call()
        note(f"raised {info.value!r}")
        if expected.message is not None:
            assert str(info.value) == expected.message
        result = None
    else:
        result = call()
    assert [fingerprint(x) for x in untouched] == before
    for x in untouched:
        assert_released(x)
    return result


def assert_released(x):
    """A bytearray or array.array cannot grow while a buffer of it is held."""
    if isinstance(x, (bytearray, array.array)):
        x.append(0)
        x.pop()


def assert_same_bits(actual, expected):
    """Exact equality, NaN payloads and the sign of zero included."""
    actual, expected = np.asarray(actual), np.asarray(expected)
    assert actual.dtype == expected.dtype
    assert actual.shape == expected.shape
    assert actual.tobytes() == expected.tobytes()


def aligned_vector(values, letter):
    """A vector of the values. An unaligned array exports the format "=f"/"=d",
    which the buffer constructors refuse, so the values are copied first."""
    return cls("Vector3", letter)(np.array(values))


def matrix_elements(m, n):
    """Row i, column j at [i][j], read through the element index, not a buffer."""
    return np.array([[m[i, j] for j in range(n)] for i in range(n)])


# Tests

# A parameter, not the fixture: Hypothesis runs many inputs per fixture call.
both_precisions = pytest.mark.parametrize("letter", ["f", "d"])


@both_precisions
@given(data=st.data())
def test_vector_constructor_takes_one_buffer_or_number(letter, data):
    n = data.draw(st.sampled_from([2, 3, 4]))
    x = data.draw(anything(n, letter))
    expected = vector_constructor(x, letter, n)
    v = assert_outcome(lambda: cls(f"Vector{n}", letter)(x), expected, x)
    if v is not None:
        assert_same_bits(v, expected)


@both_precisions
@given(data=st.data())
def test_quaternion_constructor_takes_arrays_buffers_and_numbers(letter, data):
    x = data.draw(anything(4, letter))
    expected = quaternion_constructor(x, letter)
    q = assert_outcome(lambda: cls("Quaternion", letter)(x), expected, x)
    if q is not None:
        assert_same_bits(q, expected)


@both_precisions
@given(data=st.data())
def test_matrix_constructor_takes_square_buffers(letter, data):
    n = data.draw(st.sampled_from([2, 3, 4]))
    x = data.draw(anything(n, letter))
    expected = square_shaped(x, letter, n) if exports_buffer(x) else Raises(TypeError)
    m = assert_outcome(lambda: cls(f"Matrix{n}", letter)(x), expected, x)
    if m is not None:
        np.testing.assert_array_equal(matrix_elements(m, n), expected.astype(np.float64))
        assert_same_bits(np.asarray(m), expected)


def column_assignment(m, index, x, letter, n):
    if not -(2**31) <= index < 2**31 or not exports_buffer(x):
        return Raises(TypeError)
    if not 0 <= index < n:
        return Raises(IndexError, "")
    column = column_shaped(x, letter, n, COLUMN_SHAPE_ERROR)
    if isinstance(column, Raises):
        return column
    after = np.array(np.asarray(m))
    after[:, index] = column
    return after


@both_precisions
@given(data=st.data())
def test_matrix_column_assignment_changes_one_column_or_nothing(letter, data):
    n = data.draw(st.sampled_from([2, 3, 4]))
    m = cls(f"Matrix{n}", letter)(*range(1, n * n + 1))
    index = data.draw(
        st.one_of(st.integers(0, n - 1), st.sampled_from([-1, n, 2**31, -(2**31) - 1]))
    )
    x = data.draw(anything(n, letter))
    expected = column_assignment(m, index, x, letter, n)

    def assign():
        m[index] = x

    if isinstance(expected, Raises):
        assert_outcome(assign, expected, x, m)  # m unchanged as well
    else:
        assert_outcome(assign, expected, x)
        assert_same_bits(np.asarray(m), expected)


CONVERSIONS = [
    ("quat", 4, lambda count: "Incompatible array_size, expected 4 elements"),
    ("vec2", 2, count_of(2)),
    ("vec3", 3, count_of(3)),
    ("vec4", 4, count_of(4)),
]


@both_precisions
@given(data=st.data())
def test_array_to_object_functions(letter, data):
    word, n, message = data.draw(
        st.sampled_from(CONVERSIONS + [(f"mat{k}", k, None) for k in (2, 3, 4)])
    )
    function = getattr(ob, f"nparray_to_{word}_{'f32' if letter == 'f' else 'f64'}")
    x = data.draw(anything(n, letter))
    if message is None:
        expected = square_array(x, letter, n)
        result = assert_outcome(lambda: function(x), expected, x)
        if result is not None:
            assert_same_bits(np.asarray(result), expected)
    else:
        expected = counted(x, letter, n, message)
        result = assert_outcome(lambda: function(x), expected, x)
        if result is not None:
            assert_same_bits(result, expected)


@both_precisions
@given(data=st.data())
def test_rotate_reads_three_elements(letter, data):
    q = cls("Quaternion", letter)(0.5, -0.5, 0.5, 0.5)
    x = data.draw(anything(3, letter))
    expected = counted(x, letter, 3, count_of(3))
    result = assert_outcome(lambda: q.rotate(x), expected, x, q)
    if result is not None:
        assert_same_bits(result, q.rotate(aligned_vector(expected, letter)))


def geometry_objects(letter):
    V = cls("Vector3", letter)
    line = cls("Line_", letter)(V(1, 2, 3), V(-2, 0.5, 4))
    plane = cls("Plane_", letter)(V(1, 0, 2), V(0.5, -1, 2))
    pose = cls("Pose3d_", letter)(V(1, -2, 3), cls("Quaternion", letter)(0.5, 0.5, -0.5, 0.5))
    return {
        "line.distanceTo": (line, lambda x: line.distanceTo(x)),
        "plane.signedDistanceTo": (plane, lambda x: plane.signedDistanceTo(x)),
        "plane.distanceTo": (plane, lambda x: plane.distanceTo(x)),
        "plane.project": (plane, lambda x: plane.project(x)),
        "pose.apply": (pose, lambda x: pose.apply(x)),
        "pose * x": (pose, lambda x: pose * x),
    }


def geometry_state(obj):
    return [
        bits(getattr(obj, name))
        for name in ("start", "end", "point", "normal", "position", "orientation")
        if hasattr(obj, name)
    ]


@both_precisions
@given(data=st.data())
def test_geometry_methods_take_any_three_numbers(letter, data):
    name = data.draw(st.sampled_from(sorted(geometry_objects(letter))))
    owner, method = geometry_objects(letter)[name]
    V = cls("Vector3", letter)
    x = data.draw(anything(3, letter))
    before = geometry_state(owner)
    if type(x) is V:
        expected = V(x)
    else:
        expected = counted(x, letter, 3, count_of(3))
    result = assert_outcome(lambda: method(x), expected, x)
    assert geometry_state(owner) == before
    if result is None:
        return
    through_vector = method(aligned_vector(expected, letter))
    if isinstance(through_vector, float):
        assert np.float64(result).tobytes() == np.float64(through_vector).tobytes()
    else:
        # A vector argument gives a vector, anything else a fresh array.
        assert isinstance(result, V if type(x) is V else np.ndarray)
        assert_same_bits(result, through_vector)


TWO_POINT_CLASSES = {
    "Line_": ("start", "end"),
    "Plane_": ("point", "normal"),
    "AABB_": ("min", "max"),
}


@both_precisions
@given(data=st.data())
def test_geometry_constructors_read_both_arrays_first(letter, data):
    stem = data.draw(st.sampled_from(sorted(TWO_POINT_CLASSES)))
    first, second = TWO_POINT_CLASSES[stem]
    valid = st.sampled_from([[1, 2, 3], np.array([4, 5, 6], dtype_of(letter))])
    a, b = data.draw(
        st.sampled_from(
            [
                (anything(3, letter), valid),
                (valid, anything(3, letter)),
                (anything(3, letter), anything(3, letter)),
            ]
        )
    )
    a, b = data.draw(a), data.draw(b)
    V = cls("Vector3", letter)
    if type(a) is V and type(b) is V:
        expected = (np.asarray(a).copy(), np.asarray(b).copy())
    else:
        expected = tuple(counted(x, letter, 3, count_of(3)) for x in (a, b))
        if any(e == Raises(TypeError) for e in expected if isinstance(e, Raises)):
            expected = Raises(TypeError)
        else:
            expected = next((e for e in expected if isinstance(e, Raises)), expected)
    made = assert_outcome(lambda: cls(stem, letter)(a, b), expected, a, b)
    if made is not None:
        assert_same_bits(getattr(made, first), expected[0])
        assert_same_bits(getattr(made, second), expected[1])


# The forced cast of a complex array drops the imaginary part, and NumPy warns
# about it. Where warnings are errors the cast fails and no overload matches;
# where they are not, the real parts arrive, with NumPy's warning.


@pytest.mark.parametrize(
    "call",
    [
        lambda letter, a: ob.nparray_to_vec3_f32(a) if letter == "f" else ob.nparray_to_vec3_f64(a),
        lambda letter, a: cls("Line_", letter)(a, a).start,
        lambda letter, a: cls("Quaternion", letter)().rotate(a),
    ],
    ids=["nparray_to_vec3", "Line_", "rotate"],
)
@both_precisions
def test_complex_arrays_follow_the_warning_filter(letter, call):
    a = np.array([1 + 2j, -3 + 0.5j, 4 - 1j])
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        with pytest.raises(TypeError):
            call(letter, a)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        result = call(letter, a)
    assert caught and {w.category for w in caught} == {np.exceptions.ComplexWarning}
    assert_same_bits(result, np.array([1, -3, 4], dtype_of(letter)))
