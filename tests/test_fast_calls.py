"""Every bound callable gives through its fast entry exactly what pybind11's
dispatcher gives, and every operator what Python's rules give through the
methods, whatever the operands: exact instances, subclasses (overriding or
not, patched after they were made), foreign objects, ints, float
subclasses, NumPy scalars and NaN."""

import copy
import importlib
import itertools
import json
import math
import os
import pickle
import random
import re
import shutil
import struct
import subprocess
import sys
import sysconfig
from pathlib import Path
from unittest import mock

import numpy as np
import orvane_bindings as ob
import pytest
from test_fast_operators import OPERATORS, by_methods, by_operator, filled

import orvane  # noqa: F401 - registers pickling and copying
from orvane import _native as native

ROOT = Path(__file__).resolve().parent.parent


class FloatSub(float):
    pass


def make_subclasses(cls):
    """Subclasses of cls: plain, overriding, patched later, made with a mixin that
    stops __init_subclass__, and one whose methods are patched for a while."""

    class Mixin:
        def __init_subclass__(cls, **kwargs):
            pass

    plain = type(f"Plain{cls.__name__}", (cls,), {})
    eager = type(f"Eager{cls.__name__}", (cls,), {"__rmul__": lambda s, o: "rmul"})
    later = type(f"Later{cls.__name__}", (cls,), {})
    for name in ("__mul__", "__add__"):
        if hasattr(cls, name):
            setattr(later, name, getattr(cls, name))
    mixed = type(f"Mixed{cls.__name__}", (Mixin, cls), {})
    return [plain, eager, later, mixed]


ALGEBRA = [
    getattr(ob, f"{k}{n}{p}") for k in ("Vector", "Matrix") for n in (2, 3, 4) for p in "fd"
] + [ob.Quaternionf, ob.Quaterniond]
SUBCLASSES = {c: make_subclasses(c) for c in ALGEBRA}


def instance_makers(cls):
    """Fresh instances of cls and of its subclasses, made per call."""
    makers = [
        lambda: filled(cls, [1.5, -2.25, 3.0, 0.5, 7.0, -1.0, 2.0, 9.5]),
        lambda: filled(cls, [math.nan, -0.0, math.inf, 1e-45]),
    ]
    makers += [lambda s=s: filled(s, [0.25, 4.0, -1.0]) for s in SUBCLASSES[cls]]
    raw = lambda: cls.__new__(cls)  # noqa: E731 - its value is whatever memory held
    raw.raw = True
    makers.append(raw)
    return makers


def others():
    return [
        lambda: 2.5,
        lambda: -0.0,
        lambda: math.nan,
        lambda: 3,
        lambda: 0,
        lambda: -1,
        lambda: 2**70,
        lambda: True,
        lambda: FloatSub(1.5),
        lambda: np.float32(0.75),
        lambda: np.float64(-2.0),
        lambda: None,
        lambda: [1.0, 2.0, 3.0],
        lambda: (0.5, 1e300, -0.0),
        lambda: [1.0, 2, 3.0],
        lambda: [math.nan, 1.0, 2.0, 3.0],
        lambda: np.array([1.0, 2.0, 3.0]),
        lambda: object(),
        lambda: ob.eOrder.ZXY,
    ]


def frozen(x):
    """x as comparable data: class and exact bits."""
    if x is NotImplemented or x is None or isinstance(x, (bool, int, str)):
        return (type(x), x)
    if isinstance(x, float):
        return (type(x), struct.pack("<d", x))
    if isinstance(x, np.ndarray):
        return (np.ndarray, x.dtype, x.shape, x.tobytes())
    try:
        return (type(x), bytes(memoryview(x)))
    except (TypeError, ValueError):
        pass
    try:
        return (type(x), re.sub(r"0x[0-9a-f]+", "0x", repr(x)))  # fresh objects' addresses
    except TypeError:
        return (type(x), "no value")


def outcome(call, args):
    try:
        r = call(*args)
    except Exception as e:  # noqa: BLE001 - the kind and text of the failure are compared
        r = ("raises", type(e), re.sub(r"0x[0-9a-f]+", "0x", str(e)))  # fresh objects' addresses
    else:
        r = frozen(r)
    return r, [frozen(a) for a in args]  # arguments as they were left


def kind(r):
    return r[:2] if r[0] == "raises" else r[0]


def kind2(r):
    return r[:2] if r[0] == "raises" else r


def arities(func):
    """The numbers of parameters of the overloads in func's signatures."""
    counts = set()
    for params in re.findall(r"\((.*?)\) ->", func.__doc__ or ""):
        depth = sum(1 for c in params if c in "[(") - sum(1 for c in params if c in "])")
        assert depth == 0
        top = re.sub(r"\[[^\]]*\]", "", params)
        counts.add(0 if not top.strip() else top.count(",") + 1)
    return counts


def callables():
    """(name, function object, makers of the first argument) of every bound callable."""
    found = []
    for name, value in vars(ob).items():
        if isinstance(value, type):
            selfs = instance_makers(value) if value in SUBCLASSES else None
            for attr, member in vars(value).items():
                funcs = []
                if isinstance(member, property):
                    funcs = [("get", member.fget), ("set", member.fset)]
                elif isinstance(member, staticmethod):
                    funcs = [("", member.__func__)]
                    found += [(f"{name}.{attr}", member.__func__, None)]
                    continue
                elif type(member).__name__ == "instancemethod":
                    funcs = [("", member.__func__)]
                for kind, f in funcs:
                    if f is not None and selfs is not None and attr != "__init__":
                        found.append((f"{name}.{attr}{kind}", f, selfs))
        elif type(value).__name__ == "builtin_function_or_method":
            found.append((name, value, None))
    # The package's functions take the same entries.
    found += [
        (f"_native.{name}", value, None)
        for name, value in vars(native).items()
        if type(value).__name__ == "builtin_function_or_method"
    ]
    return found


CALLABLES = callables()


def argument_tuples(func, selfs, rng, limit=300):
    pool = [m for c in ALGEBRA[:6] + ALGEBRA[12:] for m in instance_makers(c)[:3]] + others()
    pool += [lambda: filled(ob.Matrix4f, [1.0, 2.0]), lambda: filled(ob.Matrix3d, [0.5])]
    pool += [
        lambda c=c: c(v(0.5, -1.0, 2.0), v(1.0, 0.0, -0.0))
        for c, v in (
            (ob.Line_f, ob.Vector3f),
            (ob.Plane_d, ob.Vector3d),
            (ob.AABB_f, ob.Vector3f),
            (ob.AABB_d, ob.Vector3d),
        )
    ]
    heads = [[s] for s in selfs] if selfs is not None else [[]]
    tuples = []
    for n in sorted(arities(func)):
        rest = n - (1 if selfs is not None else 0)
        for _ in range(limit):
            tuples.append(rng.choice(heads) + [rng.choice(pool) for _ in range(rest)])
        if rest <= 1:  # all of them
            tuples += [h + list(t) for h in heads for t in itertools.product(pool, repeat=rest)]
    return tuples


@pytest.mark.parametrize("name,func,selfs", CALLABLES, ids=[c[0] for c in CALLABLES])
def test_fast_entry_matches_the_dispatcher(name, func, selfs):
    dispatcher = type(func).__call__  # tp_call: pybind11's dispatcher, never the fast entry
    rng = random.Random(name)
    wrong = []
    for makers in argument_tuples(func, selfs, rng):
        fast = outcome(func, [m() for m in makers])
        generic = outcome(lambda *a: dispatcher(func, *a), [m() for m in makers])
        if any(getattr(m, "raw", False) for m in makers):  # no value to compare: only the kind
            fast, generic = kind(fast[0]), kind(generic[0])
        if fast != generic:
            wrong.append((name, fast, generic))
    assert wrong[:3] == []


def test_keywords_and_wrong_counts_take_the_dispatcher():
    a = ob.Vector3f(1.0, 2.0, 3.0)
    for call in (lambda: ob.dot(a, arg1=a), lambda: ob.dot(a), lambda: a.dot(), lambda: ob.dot()):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call()


def operands(cls):
    return [m() for m in instance_makers(cls)[:-1]] + [m() for m in others()]


@pytest.mark.parametrize("cls", ALGEBRA, ids=lambda c: c.__name__)
def test_operators_follow_python_rules_with_subclasses_changed_later(cls):
    def run():
        own = [m() for m in instance_makers(cls)[:-1]]
        # A sequence on the left repeats itself before any number method is asked.
        left = [x for x in operands(cls) if not isinstance(x, (list, tuple))]
        pairs = [*itertools.product(own, operands(cls)), *itertools.product(left, own)]
        return [
            (s, frozen(a), frozen(b), got, want)
            for s in OPERATORS
            for a, b in pairs
            # the spelled-out rules raise TypeError without CPython's text
            if (got := kind2(outcome(lambda: by_operator(s, a, b), [])[0]))
            != (want := kind2(outcome(lambda: by_methods(s, a, b), [])[0]))
        ]

    assert run() == []
    patched = SUBCLASSES[cls][0]
    with mock.patch.object(patched, "__mul__", lambda a, b: "patched", create=True):
        assert run() == []
    assert run() == []


@pytest.mark.parametrize("cls", ALGEBRA, ids=lambda c: c.__name__)
def test_a_patched_and_restored_class_keeps_python_rules_for_later_subclasses(cls):
    specials = [
        n
        for n in ("__add__", "__sub__", "__mul__", "__rmul__", "__neg__", "__getitem__")
        if n in vars(cls)
    ]

    def run(sub):
        own = [filled(cls, [1.5, -2.0, 0.5]), filled(sub, [0.25, 4.0, -1.0])]
        pairs = [*itertools.product(own, own + [2.0]), *((2.0, o) for o in own)]
        return [
            (s, frozen(a), frozen(b))
            for s in OPERATORS
            for a, b in pairs
            if kind2(outcome(lambda: by_operator(s, a, b), [])[0])
            != kind2(outcome(lambda: by_methods(s, a, b), [])[0])
        ]

    before = type(f"Before{cls.__name__}", (cls,), {})
    for name in specials:
        with mock.patch.object(cls, name, lambda *a: "patched"):
            during = type(f"During{cls.__name__}", (cls,), {})
            assert getattr(filled(cls, [1.0]), name)(filled(during, [2.0])) == "patched"
            assert run(during) == [] and run(before) == []
    after = type(f"After{cls.__name__}", (cls,), {})
    assert run(after) == [] and run(before) == []


def test_results_ignore_a_second_init_as_constructed_instances_do():
    a = ob.Vector3f(1.0, 2.0, 3.0)
    for made in (
        ob.Vector3f(1.0, 2.0, 3.0),
        a + a,
        ob.normalize(a),
        a * 2.0,
        ob.Matrix4f.RotationZ(0.5),
        ob.Quaterniond.RotationZ(0.5).normalize(),
    ):
        before = bytes(memoryview(made))
        assert made.__init__(9.0) is None
        assert bytes(memoryview(made)) == before


INITIALIZED = ALGEBRA + [
    getattr(ob, f"{k}_{p}") for k in ("Euler", "Pose3d", "Line", "Plane", "AABB") for p in "fd"
]


@pytest.mark.parametrize("cls", INITIALIZED, ids=lambda c: c.__name__)
def test_fast_constructors_match_the_dispatcher(cls):
    init = vars(cls)["__init__"].__func__
    rng = random.Random(cls.__name__)
    wrong = []
    for makers in argument_tuples(init, [lambda: cls.__new__(cls)], rng):
        made = []
        for call in (init, lambda *a: type(init).__call__(init, *a)):
            args = [m() for m in makers]
            r = outcome(call, args)[0]
            made.append((r, frozen(args[0]) if r[0] is type(None) else None))
        if made[0] != made[1]:
            wrong.append(made)
    assert wrong[:3] == []


KEYS = [0, 1, 3, 4, -1, True, 2**70, 1.0, np.int64(1), (1, 0), (0, -1), "x", None, FloatSub(1.0)]


@pytest.mark.parametrize("cls", ALGEBRA, ids=lambda c: c.__name__)
def test_slots_give_what_the_dispatcher_gives(cls):
    """obj[key] and -obj take the class's own slots, which run the fast tables."""
    getitem = vars(cls)["__getitem__"].__func__
    wrong = []
    for make in instance_makers(cls)[:-1]:
        for key in KEYS:
            got = outcome(lambda o, k: o[k], [make(), key])
            want = outcome(lambda o, k: type(getitem).__call__(getitem, o, k), [make(), key])
            if got != want:
                wrong.append((key, got, want))
        if "__neg__" in vars(cls):
            neg = vars(cls)["__neg__"].__func__
            got, want = outcome(lambda o: -o, [make()]), outcome(type(neg).__call__, [neg, make()])
            if got != (want[0], want[1][1:]):
                wrong.append(("neg", got, want))
    assert wrong[:3] == []


def test_module_local_classes_of_other_extensions_are_still_taken(tmp_path, monkeypatch):
    """pybind11 lets another extension's module-local class of the same C++ type
    in; the one-check refusal must leave it that road."""
    pybind11 = pytest.importorskip("pybind11")
    compiler = shutil.which("c++") or pytest.skip("no C++ compiler")
    source = tmp_path / "local_vectors.cpp"
    source.write_text(
        '#include <pybind11/pybind11.h>\n#include "math/vector.hpp"\n'
        "PYBIND11_MODULE(local_vectors, m) {\n"
        '    pybind11::class_<math::Vector3<float>>(m, "Vector3f", pybind11::module_local())\n'
        "        .def(pybind11::init<float, float, float>());\n}\n"
    )
    built = tmp_path / f"local_vectors{sysconfig.get_config_var('EXT_SUFFIX')}"
    subprocess.run(
        [
            compiler,
            "-std=c++17",
            "-O0",
            "-shared",
            "-fPIC",
            f"-I{pybind11.get_include()}",
            f"-I{sysconfig.get_paths()['include']}",
            f"-I{ROOT / 'include'}",
            str(source),
            "-o",
            str(built),
        ],
        check=True,
        capture_output=True,
        timeout=300,
        env={k: v for k, v in os.environ.items() if k != "LD_PRELOAD"},
    )
    monkeypatch.syspath_prepend(str(tmp_path))
    local = importlib.import_module("local_vectors").Vector3f(1.0, 2.0, 3.0)
    a = ob.Vector3f(1.0, 2.0, 3.0)
    assert (ob.dot(local, a), a.dot(local), ob.squareNorm(local)) == (14.0, 14.0, 14.0)
    assert bytes(memoryview(a + local)) == bytes(memoryview(a * 2.0))


def test_attribute_reads_follow_the_class_as_it_changes():
    """Reads on exact instances skip CPython's lookup; they must give what it
    gives after any change to the class, and subclasses keep their own rules."""
    cls = ob.Vector3f

    class Lazy(cls):
        def __getattr__(self, name):
            return ("lazy", name)

    class Own(cls):
        x = "own"

    def reference(o, name):
        try:
            return object.__getattribute__(o, name)
        except AttributeError:
            if not hasattr(type(o), "__getattr__"):
                raise
            return type(o).__getattr__(o, name)

    def seen(read, o, name):
        r = outcome(lambda: read(o, name), [])[0]
        bound = getattr(r[1], "__func__", None) if r[0] == type(cls().norm) else None
        return r if bound is None else ("bound", bound)

    objects = [
        cls(1.0, 2.0, 3.0),
        cls(1.0, 2.0, 3.0) * 2.0,
        Lazy(1.0, 2.0, 3.0),
        Own(1.0, 2.0, 3.0),
        cls.__new__(cls),
    ]  # the last one without __init__
    names = ["x", "y", "norm", "numpy", "missing", "__class__", "__init__"]

    def wrong():
        return [
            (type(o).__name__, n)
            for o in objects
            for n in names
            if seen(getattr, o, n) != seen(reference, o, n)
        ]

    assert wrong() == []
    prop = vars(cls)["y"]
    for name, value in [
        ("x", property(lambda s: "patched")),
        ("norm", lambda s: "patched"),
        ("missing", 5),
        ("y", None),
    ]:
        with mock.patch.object(cls, name, value, create=True):
            if value is None:
                delattr(cls, name)
            assert wrong() == []
        assert wrong() == []
    fget, fset, doc = prop.fget, prop.fset, prop.__doc__
    try:
        prop.__init__(lambda s: "again", fset, None, doc)
        assert objects[0].y == "again" and wrong() == []
    finally:
        prop.__init__(fget, fset, None, doc)
    assert objects[0].y == 2.0 and wrong() == []


@pytest.mark.parametrize("cls", INITIALIZED, ids=lambda c: c.__name__)
def test_values_held_in_objects_survive_a_second_init_and_copies(cls):
    def state(o):
        return bytes(memoryview(o)) if cls in ALGEBRA else repr(o)

    raw = cls.__new__(cls)  # initialised later, once
    assert raw.__init__() is None
    made = [raw, cls()] + ([filled(cls, [1.5, -2.25, 3.0, 0.5]) * 2.0] if cls in ALGEBRA else [])
    for obj in made:
        before = state(obj)
        assert obj.__init__() is None and state(obj) == before
        assert [state(c) for c in (copy.copy(obj), pickle.loads(pickle.dumps(obj)))] == [before] * 2


# In a fresh interpreter with one import-time check made to fail: the
# warnings of the import, which slots are still CPython's or pybind11's
# generic ones (by their CPython 3.12 offsets), and a few results.
CHECK_SCRIPT = r"""
import ctypes, json, sys, warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    try:
        import orvane_bindings as ob
    except ImportError as e:
        print(json.dumps({"error": str(e)}))
        sys.exit()

def word(o, at, inner=None):
    p = ctypes.c_void_p.from_address(id(o) + at).value
    return p if inner is None else ctypes.c_void_p.from_address(p + inner).value

plain = type("P", (), dict.fromkeys(["__add__", "__neg__", "__getitem__", "__init__"]))
SLOTS = {"nb_add": (96, 0), "nb_negative": (96, 48), "mp_subscript": (112, 8),
         "tp_init": (296, None), "tp_getattro": (144, None), "tp_dealloc": (48, None)}
GENERIC = {"tp_getattro": object, "tp_dealloc": ob.Vector3f.__base__}

def generic(subject, probe):
    target = ob.dot if subject == "dot" else getattr(ob, subject.split(".")[0])
    if probe == "vectorcall":
        if "." in subject:
            target = getattr(target, subject.split(".")[1]).__func__
        return word(target, 48) is None
    if probe == "tp_basicsize":
        return target.__basicsize__ == target.__base__.__basicsize__
    return word(target, *SLOTS[probe]) == word(GENERIC.get(probe, plain), *SLOTS[probe])

a, b = ob.Vector3f(1., 2., 3.), ob.Vector3f(.5, -1., 4.)
q, m = ob.Quaternionf(.6, 0., .8, 0.), ob.Matrix3f.Identity()
results = [a + b, -a, a.x, a.norm(), ob.Vector3f(1., 2., 3.), q.rotate(a), m[1], ob.dot(a, b),
           a * 2.]
print(json.dumps({"warnings": [f"{w.category.__name__}: {w.message}" for w in caught],
                  "generic": [generic(s, p) for s, p in json.loads(sys.argv[1])],
                  "results": [repr(r) for r in results]}))
"""

FALLBACKS = {
    "Vector3f.__add__:nb_add": [("Vector3f", "nb_add")],
    "Vector3f.__neg__:nb_negative": [("Vector3f", "nb_negative")],
    "Matrix3f.__getitem__:mp_subscript": [("Matrix3f", "mp_subscript")],
    "Vector3f.__init__:tp_init": [("Vector3f", "tp_init")],
    "Vector3f:tp_getattro": [("Vector3f", "tp_getattro")],
    "Vector3f:tp_dealloc": [("Vector3f", "tp_dealloc")],
    "Vector3f:tp_basicsize": [("Vector3f", "tp_basicsize")],
    "Vector3f.norm:vectorcall": [("Vector3f.norm", "vectorcall")],
    "dot:vectorcall": [("dot", "vectorcall")],
    # without the metaclass hook no class gets slots
    "pybind11_type:tp_setattro": [
        ("Vector3f", "nb_add"),
        ("Matrix3f", "mp_subscript"),
        ("Vector3f", "tp_init"),
        ("Vector3f", "nb_negative"),
    ],
    # a fix and a safety measure, not fast paths: no import without them
    "Vector3f:bf_getbuffer": None,
    "Vector3f:__class__": None,
}


def run_with_failed_check(check, probes):
    env = {**os.environ, "ORVANE_FAIL_CHECK": check}
    done = subprocess.run(
        [sys.executable, "-c", CHECK_SCRIPT, json.dumps(probes)],
        env=env,
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


@pytest.mark.parametrize("check", FALLBACKS)
def test_a_failed_import_check_warns_and_leaves_the_generic_path(check):
    normal = run_with_failed_check("", FALLBACKS[check] or [])
    if normal["generic"] and all(normal["generic"]):
        pytest.skip("built without fast paths")
    assert normal["warnings"] == [] and not any(normal["generic"])
    got = run_with_failed_check(check, FALLBACKS[check] or [])
    subject, name = check.split(":")
    if FALLBACKS[check] is None:
        assert f"orvane_bindings.{subject}.{name} is not what pybind11" in got["error"]
        return
    [warning] = got["warnings"]
    assert warning.startswith(
        f"RuntimeWarning: orvane_bindings: fast path off for {subject}: {name} "
    )
    assert all(got["generic"]) and got["results"] == normal["results"]
