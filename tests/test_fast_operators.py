"""The operators of exact instances take a fast road of their own; every
outcome must stay that of the bound methods under Python's operator rules."""

import itertools
import math
import subprocess
import sys
import textwrap
import warnings
from fractions import Fraction

import numpy as np
import orvane_bindings as ob
import pytest

VECTORS = [getattr(ob, f"Vector{n}{p}") for n in (2, 3, 4) for p in "fd"]
MATRICES = [getattr(ob, f"Matrix{n}{p}") for n in (2, 3, 4) for p in "fd"]
QUATERNIONS = [ob.Quaternionf, ob.Quaterniond]
POSES = [ob.Pose3d_f, ob.Pose3d_d]
OPERATORS = {
    "+": ("__add__", "__radd__"),
    "-": ("__sub__", "__rsub__"),
    "*": ("__mul__", "__rmul__"),
}
SPECIALS = [math.nan, math.inf, -0.0, -math.inf, 1e-45, 3e38]


class FloatSub(float):
    pass


def filled(cls, values):
    """An instance of an algebra class whose storage holds `values`, cycled."""
    obj = cls()
    view = np.asarray(memoryview(obj)).reshape(-1, order="F")
    view[:] = list(itertools.islice(itertools.cycle(values), len(view)))
    return obj


def subclasses(cls):
    plain = type(f"Plain{cls.__name__}", (cls,), {})
    # Overriding the reflected methods gives them priority over a base-class operand.
    eager = type(
        f"Eager{cls.__name__}",
        (cls,),
        {
            "__radd__": lambda s, o: "radd",
            "__rsub__": lambda s, o: NotImplemented,
            "__rmul__": lambda s, o: ("rmul", type(o).__name__),
        },
    )
    return plain, eager


def algebra_operands(cls):
    plain, eager = subclasses(cls)
    return [
        filled(cls, [1.5, -2.25, 3.0, 0.5, 7.0, -1.0, 2.0, 9.5]),
        filled(cls, [0.1, 1e30, -3.7, 2.0 / 3.0]),
        filled(cls, SPECIALS),
        filled(plain, [1.0, 2.0, 3.0, 4.0]),
        filled(eager, [4.0, 3.0, 2.0, 1.0]),
        cls.__new__(cls),
    ]


def pose_operands(cls):
    p = "f" if cls is ob.Pose3d_f else "d"
    v3, q = getattr(ob, "Vector3" + p), getattr(ob, "Quaternion" + p)
    plain, _ = subclasses(cls)
    moved = cls(v3(1.0, -2.0, 0.5), q(0.9, 0.1, -0.3, 0.2))
    strange = cls()
    strange.orientation = q(math.nan, 0.0, -0.0, math.inf)
    return [moved, strange, plain(v3(3.0, 2.0, 1.0), q(0.0, 1.0, 0.0, 0.0)), cls.__new__(cls)]


def foreign_operands():
    return [
        2.5,
        -0.0,
        math.nan,
        -math.nan,
        math.inf,
        1e300,
        3,
        True,
        FloatSub(2.5),
        1j,
        Fraction(1, 3),
        np.float64(2.5),
        np.float32(2.5),
        np.array([1.0, 2.0, 3.0]),
        np.ones(4, np.float32),
        np.eye(4),
        np.eye(2, dtype=np.float32),
        None,
        object(),
    ]


# Sequences only on the right: on the left, Python concatenates or repeats
# them after the number methods, which the spelled-out rules leave out.
SEQUENCES = [[1.0, 2.0, 3.0], (4.0, 5.0, 6.0), "text"]


OWN = [
    *(o for c in VECTORS + MATRICES + QUATERNIONS for o in algebra_operands(c)),
    *(o for c in POSES for o in pose_operands(c)),
]
FOREIGN = foreign_operands()


def outcome(compute):
    """A comparable form of a result: its class and exact bytes, or the exception's class."""
    try:
        with warnings.catch_warnings(), np.errstate(all="ignore"):
            warnings.simplefilter("ignore")
            r = compute()
    except Exception as e:  # noqa: BLE001 - the kind of failure is what is compared
        return ("raises", type(e))
    if isinstance(r, np.ndarray) and r.dtype == object:  # by value, not by address
        return (np.ndarray, r.shape, [outcome(lambda x=x: x) for x in r.flat])
    if isinstance(r, np.ndarray):
        return (np.ndarray, r.dtype, r.shape, r.tobytes())
    if isinstance(r, (ob.Pose3d_f, ob.Pose3d_d)):
        return (type(r), bytes(memoryview(r.position)), bytes(memoryview(r.orientation)))
    try:
        return (type(r), bytes(memoryview(r)))
    except TypeError:
        return (type(r), r)


def special(obj, name, arg):
    method = getattr(type(obj), name, None)
    return NotImplemented if method is None else method(obj, arg)


def by_methods(symbol, a, b):
    """`a symbol b` spelled out with the methods and Python's reflected-operand rules."""
    name, reflected = OPERATORS[symbol]
    ta, tb = type(a), type(b)
    if (
        ta is not tb
        and issubclass(tb, ta)
        and getattr(tb, reflected, None) is not None
        and getattr(tb, reflected) != getattr(ta, reflected, None)
    ):
        for r in (lambda: special(b, reflected, a), lambda: special(a, name, b)):
            if (r := r()) is not NotImplemented:
                return r
        raise TypeError("unsupported operand types")
    r = special(a, name, b)
    if r is NotImplemented and ta is not tb:
        r = special(b, reflected, a)
    if r is NotImplemented:
        raise TypeError("unsupported operand types")
    return r


def by_operator(symbol, a, b):
    return {"+": lambda: a + b, "-": lambda: a - b, "*": lambda: a * b}[symbol]()


def shown(x):
    try:
        return repr(x)[:40]
    except TypeError:  # an instance without a value has no text
        return f"<{type(x).__name__} without a value>"


def mismatches(symbol, pairs):
    return [
        (symbol, shown(a), shown(b), got, want)
        for a, b in pairs
        if (got := outcome(lambda: by_operator(symbol, a, b)))
        != (want := outcome(lambda: by_methods(symbol, a, b)))
    ]


@pytest.mark.parametrize("symbol", list(OPERATORS))
def test_operators_match_the_methods_over_the_corpus(symbol):
    pairs = [
        *itertools.product(OWN, OWN),
        *itertools.product(OWN, FOREIGN + SEQUENCES),
        *itertools.product(FOREIGN, OWN),
    ]
    assert mismatches(symbol, pairs) == []


def test_negation_matches_the_method():
    def by_method(x):
        if getattr(type(x), "__neg__", None) is None:
            raise TypeError("bad operand type for unary -")
        return type(x).__neg__(x)

    wrong = [x for x in OWN if outcome(lambda: -x) != outcome(lambda: by_method(x))]
    assert wrong == []


@pytest.mark.parametrize("cls", VECTORS + MATRICES + QUATERNIONS, ids=lambda c: c.__name__)
def test_results_are_ordinary_instances(cls):
    a, b = filled(cls, [1.0, 2.0, 3.0, 4.0]), filled(cls, [0.5])
    for r in (a + b, a - b, a * b, a * 2.0, 2.0 * a):
        assert type(r) is cls
        view = np.asarray(r)
        del r
        first = (0,) * view.ndim
        view[first] = 42.0  # the view keeps its owner alive
        assert view[first] == 42.0
    assert cls(a + b) == a + b  # read back through the buffer of a fast result


def test_results_work_as_arguments_and_properties():
    v = ob.Vector3d(1.0, 2.0, 3.0)
    assert ob.dot(v + v, v) == 28.0
    pose = ob.Pose3d_d(v, ob.Quaterniond(1.0, 0.0, 0.0, 0.0))
    composed = pose * pose
    position = composed.position
    del composed
    position.x = 5.0  # a property of a fast result keeps the result alive
    assert position.x == 5.0 and pose.position.x == 1.0
    assert ob.Matrix3f.Identity() * ob.Vector3f(1.0, 2.0, 3.0) == ob.Vector3f(1.0, 2.0, 3.0)


def test_members_of_other_objects_take_the_bound_methods():
    line = ob.Line_f(ob.Vector3f(1.0, 2.0, 3.0), ob.Vector3f(4.0, 5.0, 6.0))
    assert line.start + line.end == ob.Vector3f(5.0, 7.0, 9.0)
    assert line.start * 2.0 == ob.Vector3f(2.0, 4.0, 6.0)


def test_subclass_keywords_still_reach_the_next_base():
    class Tagged:
        def __init_subclass__(cls, tag=None, **kwargs):
            super().__init_subclass__(**kwargs)
            cls.tag = tag

    class Both(ob.Vector3f, Tagged, tag=7):
        pass

    assert Both.tag == 7
    assert type(ob.Vector3f(1.0) * Both(2.0)) is ob.Vector3f
    with pytest.raises(TypeError):
        type("Unknown", (ob.Vector3f,), {}, unknown=1)


def test_reassigned_special_methods_are_called():
    # In a fresh interpreter: replacing a special method gives the class
    # CPython's own slot again for the rest of the process.
    script = textwrap.dedent(
        """
        import orvane_bindings as ob
        v = ob.Vector2f(1.0, 2.0)
        original = ob.Vector2f.__add__
        ob.Vector2f.__add__ = lambda a, b: "replaced"
        ob.Vector2f.__neg__ = lambda a: "negated"
        ob.Vector2f.__rmul__ = lambda a, b: "reflected"
        assert v + v == "replaced", v + v
        assert -v == "negated"
        assert 2.0 * v == "reflected"
        assert v * 2.0 == ob.Vector2f(2.0, 4.0)
        ob.Vector2f.__add__ = original
        assert v + v == ob.Vector2f(2.0, 4.0)
        print("ok")
        """
    )
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert run.stdout.strip() == "ok", run.stderr


def refused(compute):
    with pytest.raises(TypeError):
        compute()


@pytest.mark.parametrize("cls", VECTORS + MATRICES + QUATERNIONS, ids=lambda c: c.__name__)
def test_fast_path_keeps_reference_counts(cls):
    a, b, s = filled(cls, [1.0, 2.0]), filled(cls, [3.0]), float("2.5")
    kept = a + b
    watched = (a, b, s, kept, cls)  # every instance holds a reference to its class
    counts = [sys.getrefcount(x) for x in watched]
    for _ in range(2000):
        a + b, a - b, a * b, a * s, s * a, a * 3
        refused(lambda: a + "text")
        refused(lambda: "text" - a)
    assert [sys.getrefcount(x) for x in watched] == counts


@pytest.mark.parametrize("cls", POSES, ids=lambda c: c.__name__)
def test_pose_products_keep_reference_counts(cls):
    p = pose_operands(cls)[0]
    v = type(p.position)(1.0, 2.0, 3.0)
    watched = (p, v, cls, type(v))
    counts = [sys.getrefcount(x) for x in watched]
    for _ in range(2000):
        p * v, p * p
        refused(lambda: p * "text")
    assert [sys.getrefcount(x) for x in watched] == counts


BUFFERED = VECTORS + MATRICES + QUATERNIONS


def test_only_classes_with_a_buffer_opt_out_of_numpy_ufuncs():
    for cls in (v for v in vars(ob).values() if isinstance(v, type)):
        data = {
            k
            for k, v in vars(cls).items()
            if not callable(v) and not isinstance(v, property) and not hasattr(v, "__get__")
        }
        assert ("__array_ufunc__" in data) == (cls in BUFFERED), cls
        if cls in BUFFERED:
            assert cls.__array_ufunc__ is None


@pytest.mark.parametrize("cls", BUFFERED, ids=lambda c: c.__name__)
def test_numpy_operands_raise_instead_of_computing_by_element(cls):
    x = filled(cls, [1.5, -2.0, 0.5, 3.0])
    stored = bytes(memoryview(x))
    arrays = [np.asarray(x).copy(), np.asarray(x).ravel().copy(), np.ones(3), np.ones(4)]
    ops = [lambda a, b: a + b, lambda a, b: a - b, lambda a, b: a * b, lambda a, b: a @ b]
    for a in arrays:
        for op in ops:
            for left, right in ((x, a), (a, x)):
                with pytest.raises(TypeError):
                    op(left, right)
    assert bytes(memoryview(x)) == stored
    # A NumPy scalar is the number it is, on either side.
    for s in (np.float64(2.0), np.float32(2.0)):
        if "__mul__" in vars(cls):
            assert type(x * s) is cls and bytes(memoryview(x * s)) == bytes(memoryview(x * 2.0))
        if "__rmul__" in vars(cls):
            assert type(s * x) is cls and bytes(memoryview(s * x)) == bytes(memoryview(2.0 * x))
    assert np.shares_memory(np.asarray(x), np.asarray(x)) and bytes(memoryview(cls(x))) == stored
