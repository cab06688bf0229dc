"""An instance whose __init__ has not run holds no value. Every read of one
raises the same TypeError, through every callable of both modules, the
operator slots and the package's Python functions, so that nothing of its
storage reaches a result or a pickle."""

import copy
import pickle
import re

import numpy as np
import orvane_bindings as ob
import pytest

import orvane as ov
import orvane.arrays as oa
from orvane import _native as native

NO_VALUE = "holds no value: its __init__ has not run"
CLASSES = [v for v in vars(ob).values() if isinstance(v, type)]


def raw_instances(cls):
    """Instances made by __new__ alone, of the class and of a Python subclass."""
    if hasattr(cls, "__members__"):  # enums take no subclasses
        return [cls.__new__(cls)]
    sub = type(f"Sub{cls.__name__}", (cls,), {})
    return [cls.__new__(cls), sub.__new__(sub)]


def sample(type_text):
    """A valid argument of the parameter type pybind11 names in a signature."""
    if type_text.startswith("orvane_bindings."):
        cls = getattr(ob, type_text.split(".", 1)[1])
        return next(iter(cls.__members__.values())) if hasattr(cls, "__members__") else cls()
    if type_text.startswith("collections.abc.Sequence["):
        return []
    samples = {
        "float": 0.5,
        "int": 0,
        "str": "XYZ",
        "Optional[float]": None,
        "bytes": b"",
        "object": [0.0, 0.0, 0.0],
        "Buffer": np.zeros(3),
        "tuple[int, int]": (64, 48),
        "Annotated[list[float], FixedSize(4)]": [0.0, 0.0, 64.0, 48.0],
        "numpy.ndarray[numpy.float32]": np.zeros(3, np.float32),
        "numpy.ndarray[numpy.float64]": np.zeros(3),
    }
    return samples[type_text]


def parameter_types(params):
    """The types of a signature's parameters, split at top-level commas."""
    parts, depth, current = [], 0, ""
    for c in params:
        depth += (c in "[(") - (c in "])")
        if c == "," and depth == 0:
            parts.append(current)
            current = ""
        else:
            current += c
    parts += [current] if current.strip() else []
    # Keyword-only parameters (after "*") keep their defaults.
    names = [p.strip() for p in parts]
    parts = parts[: names.index("*")] if "*" in names else parts
    # Of a union, the first choice.
    return [p.split(":", 1)[1].split("=")[0].split(" | ")[0].strip() for p in parts]


def bound_callables():
    for module in (ob, native):
        for name, value in vars(module).items():
            if not isinstance(value, type):
                if type(value).__name__ == "builtin_function_or_method":
                    yield f"{module.__name__}.{name}", value
                continue
            for attr, member in vars(value).items():
                if isinstance(member, property):
                    yield from (
                        (f"{name}.{attr}.{k}", f)
                        for k, f in (("get", member.fget), ("set", member.fset))
                        if f is not None
                    )
                elif isinstance(member, staticmethod | classmethod):
                    yield f"{name}.{attr}", member.__func__
                elif type(member).__name__ == "instancemethod":
                    yield f"{name}.{attr}", member.__func__


def attr_of(name):
    return name.split(".")[1] if "." in name else name


def calls_with_a_raw_instance():
    """Each overload of each callable, once per parameter of a module class,
    that parameter given an instance without a value and the others valid."""
    for name, func in bound_callables():
        for params in set(re.findall(r"^(?:\d+\. )?\w+\((.*)\) ->", func.__doc__ or "", re.M)):
            types = parameter_types(params)
            for k, t in enumerate(types):
                if not t.startswith("orvane_bindings."):
                    continue
                cls = getattr(ob, t.split(".", 1)[1])
                for r in raw_instances(cls):
                    args = [sample(u) for u in types]
                    if attr_of(name) in ("__init__", "__setstate__"):
                        if k == 0:
                            continue  # what makes the value, not a read of it
                        args[0] = args[0].__new__(type(args[0]))
                    args[k] = r
                    yield f"{name}({', '.join(types)})[{k}]:{type(r).__name__}", func, args


CALLS = list(calls_with_a_raw_instance())


@pytest.mark.parametrize("name,func,args", CALLS, ids=[c[0] for c in CALLS])
def test_every_callable_refuses_an_instance_without_a_value(name, func, args):
    with pytest.raises(TypeError, match=NO_VALUE):
        func(*args)


SLOT_READS = {
    "__add__": lambda r: r + r,
    "__sub__": lambda r: r - r,
    "__mul__": lambda r: r * 2.0,
    "__rmul__": lambda r: 2.0 * r,
    "__neg__": lambda r: -r,
    "__getitem__": lambda r: r[0],
    "__eq__": lambda r: r == r,
    "__repr__": repr,
    "__int__": int,
}
# Pickling and copying are registered for the module's own classes only.
COPIES = [copy.copy, copy.deepcopy, pickle.dumps]


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_operators_and_python_functions_refuse_an_instance_without_a_value(cls):
    reads = [f for name, f in SLOT_READS.items() if name in vars(cls)]
    if "__array_ufunc__" in vars(cls):
        reads.append(memoryview)
    if not hasattr(cls, "__members__"):
        reads += [ov.to_float, ov.to_double]
    if "position" in vars(cls) or cls.__name__.startswith(("Quaternion", "Matrix3", "Matrix4")):
        reads.append(lambda r: oa.transform_points(r, np.zeros((2, 3))))
    exact, *subclassed = raw_instances(cls)
    for r, extra in [
        (exact, COPIES if not hasattr(cls, "__members__") else []),
        *((s, []) for s in subclassed),
    ]:
        for read in reads + extra:
            with pytest.raises(TypeError, match=NO_VALUE):
                read(r)
