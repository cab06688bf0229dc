import os
import re
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import orvane_bindings as ob
import pytest

ROOT = Path(__file__).resolve().parent.parent
FRAMEWORK = ROOT / "bindings" / "framework"
# The build tools are not the module: they run without any runtime preloaded
# into the interpreter (the sanitized run preloads one).
TOOL_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}

INVENTORY = [
    *(f"Vector{n}{p}" for n in (2, 3, 4) for p in "fd"),
    *(f"Matrix{n}{p}" for n in (2, 3, 4) for p in "fd"),
    "Quaternionf",
    "Quaterniond",
    "eOrder",
    "eConvention",
    "Euler_f",
    "Euler_d",
    *(f"{c}_{p}" for c in ("Pose3d", "Line", "Plane", "AABB") for p in "fd"),
    *(
        f"{k}_to_nparray_{b}"
        for k in ("quat", "vec2", "vec3", "vec4", "mat2", "mat3", "mat4")
        for b in ("f32", "f64")
    ),
    *(
        f"nparray_to_{k}_{b}"
        for k in ("quat", "vec2", "vec3", "vec4", "mat2", "mat3", "mat4")
        for b in ("f32", "f64")
    ),
    "dot",
    "squareNorm",
    "norm",
    "normalize",
    "normalize_",
    "lerp",
    "cross",
]
STANDARD = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
PARAMETER = re.compile(r"(\w+): ")


def own_names():
    return [name for name in vars(ob) if name not in STANDARD]


def test_module_holds_exactly_the_inventory_in_order():
    # The vector functions are chained onto names first made by the Vector2
    # group, so `cross` (Vector3 only) is created after `lerp`.
    assert own_names() == INVENTORY
    assert len([n for n in INVENTORY if isinstance(getattr(ob, n), type)]) == 26
    assert ob.__doc__ is None


def test_vector_function_overloads_follow_the_class_order():
    classes = [f"Vector{n}{p}" for n in (2, 3, 4) for p in "fd"]
    for name in ("dot", "squareNorm", "norm", "normalize", "normalize_", "lerp"):
        doc = getattr(ob, name).__doc__
        assert [doc.index(f"arg0: orvane_bindings.{c}") for c in classes] == sorted(
            doc.index(f"arg0: orvane_bindings.{c}") for c in classes
        )
    assert "Vector2f" not in ob.cross.__doc__ and "Vector4f" not in ob.cross.__doc__


def bound_functions():
    """Every function the module binds: module-level ones, methods, property getters."""
    for name in own_names():
        obj = getattr(ob, name)
        if not isinstance(obj, type):
            yield name, obj
            continue
        if hasattr(obj, "__members__"):
            continue  # enum members and their parameter names are pybind11's own
        for attr, member in vars(obj).items():
            if attr.startswith("_pybind11"):
                continue  # pybind11's own cross-module hook
            fn = member.fget if isinstance(member, property) else member
            if type(fn).__name__ in ("builtin_function_or_method", "instancemethod"):
                yield f"{name}.{attr}", fn


@pytest.mark.parametrize(
    "name,fn", list(bound_functions()), ids=lambda x: x if isinstance(x, str) else ""
)
def test_docstrings_are_signatures_with_default_parameter_names(name, fn):
    lines = [re.sub(r"^\d+\. ", "", line) for line in fn.__doc__.splitlines() if line.strip()]
    if len(lines) > 1:
        assert lines[1] == "Overloaded function."
        lines = lines[2:]
    for line in lines:
        assert re.fullmatch(r"\w*\(.*\) -> .+", line), line
        assert all(p == "self" or re.fullmatch(r"arg\d+", p) for p in PARAMETER.findall(line))
        assert "math::" not in line and "std::" not in line, line


def test_classes_have_no_docstrings():
    for name in own_names():
        obj = getattr(ob, name)
        if isinstance(obj, type) and not name.startswith("e"):
            assert obj.__doc__ is None, name


MODULE_CLASSES = [getattr(ob, n) for n in INVENTORY if isinstance(getattr(ob, n), type)]


@pytest.mark.parametrize("kind", MODULE_CLASSES, ids=lambda kind: kind.__name__)
def test_instances_keep_their_class(kind):
    # Every class of the module has the same layout, so CPython alone would
    # let an instance take any other's class and be read as another type.
    enum = hasattr(kind, "__members__")
    if enum:
        instances = [next(iter(kind.__members__.values()))]
    else:
        instances = [kind(), type("S", (kind,), {})()]
    for instance in instances:
        before = (type(instance), repr(instance), dir(instance))
        for target in [*MODULE_CLASSES, type("T", (kind,), {}) if not enum else kind]:
            for change in (
                lambda: setattr(instance, "__class__", target),
                lambda: object.__setattr__(instance, "__class__", target),
                lambda: delattr(instance, "__class__"),
            ):
                with pytest.raises(TypeError, match="__class__"):
                    change()
        assert (type(instance), repr(instance), dir(instance)) == before
        assert instance.__class__ is type(instance) and isinstance(instance, kind)


# pybind11 2.13.6, built for 3.12, calls _PyThreadState_UncheckedGet, which
# 3.13 no longer exports: there the module loads only with lazy binding, so
# that the version check runs before the missing symbol would matter. The
# module's own code uses only API that all three export.
LAZY_BINDING = {"3.13"}


def other_interpreters():
    pyenv = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    for minor in ("3.10", "3.11", "3.13"):
        found = sorted(pyenv.glob(f"{minor}*/bin/python{minor}")) or [
            shutil.which(f"python{minor}")
        ]
        yield pytest.param(minor, found[-1], id=minor)


@pytest.mark.parametrize("minor,python", list(other_interpreters()))
def test_other_interpreters_are_refused(minor, python, tmp_path):
    if not python or not Path(python).exists():
        pytest.skip(f"no CPython {minor} interpreter on this machine")
    shutil.copy(ob.__file__, tmp_path / "orvane_bindings.so")
    script = (
        "import os, sys\n"
        f"{'sys.setdlopenflags(os.RTLD_LAZY)' if minor in LAZY_BINDING else ''}\n"
        "try:\n"
        "    import orvane_bindings\n"
        "except ImportError as e:\n"
        "    print(e)\n"
        "    print(sys.version)\n"
    )
    out = subprocess.run(
        [python, "-c", script], cwd=tmp_path, capture_output=True, text=True, timeout=60
    ).stdout.splitlines()
    assert len(out) >= 2, out
    version = "\n".join(out[1:])
    assert out[0] == (
        "Python version mismatch: module was compiled for Python 3.12, but the interpreter "
        f"version is incompatible: {version}."
    )


INTERNAL_USES = {
    "private API": r"\bdetail::|\b_Py[A-Za-z]|\bPyUnstable_",
    # fields of pybind11's function and type records (nargs is also a ufunc's)
    "record field": r"->\s*(?:is_method|is_constructor|has_args|has_kwargs|scope|next|args"
    r"|def|impl|type_size|holder_size_in_ptrs|implicit_conversions|operator_new)\b"
    r"|\bFunctionRecord\b",
    # an assignment to a slot, or a slot reached through a member pointer
    "slot write": r"\b(?:tp|nb|mp|sq|bf)_\w+\s*=(?!=)|->\*",
}


@pytest.mark.parametrize("use", INTERNAL_USES)
def test_internals_are_reached_from_one_header_only(use):
    internal = re.compile(INTERNAL_USES[use])
    sources = [*ROOT.glob("bindings/*/*.[ch]pp"), *ROOT.glob("native/*.[ch]pp")]
    assert sources
    for source in sources:
        found = internal.findall(source.read_text())
        assert bool(found) == (source.name == "internals.hpp"), (source.name, found)


@pytest.mark.parametrize(
    "macro,value",
    [(None, None), ("PYBIND11_VERSION_HEX", "0x020D0700"), ("PY_VERSION_HEX", "0x030D00F0")],
)
def test_internals_header_refuses_versions_it_was_not_checked_against(macro, value, tmp_path):
    pybind11 = pytest.importorskip("pybind11")
    compiler = shutil.which("c++") or pytest.skip("no C++ compiler")
    unit = tmp_path / "unit.cpp"
    unit.write_text(
        "#include <pybind11/pybind11.h>\n"
        + (f"#undef {macro}\n#define {macro} {value}\n" if macro else "")
        + f'#include "{FRAMEWORK / "internals.hpp"}"\n'
    )
    result = subprocess.run(
        [
            compiler,
            "-std=c++17",
            "-fsyntax-only",
            f"-I{pybind11.get_include()}",
            f"-I{ROOT / 'include'}",
            f"-I{sysconfig.get_paths()['include']}",
            str(unit),
        ],
        capture_output=True,
        text=True,
        timeout=300,
        env=TOOL_ENV,
    )
    assert (result.returncode == 0) == (macro is None), result.stderr
    assert macro is None or "was checked against" in result.stderr


def test_this_interpreter_is_3_12():
    assert sys.version_info[:2] == (3, 12)
