"""The Python package: its version, the typing stubs and the wheel."""

import importlib.metadata
import importlib.util
import os
import re
import subprocess
import sys
import sysconfig
import zipfile
from pathlib import Path

import numpy as np
import orvane_bindings as ob
import pytest

ROOT = Path(__file__).resolve().parent.parent
STUB = Path("orvane_bindings-stubs", "__init__.pyi")
COMMITTED_STUB = ROOT / "stubs" / STUB
PACKAGE_STUB = ROOT / "src" / "orvane" / "__init__.pyi"


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=300, **kwargs)


def test_version_is_package_metadata_not_a_module_attribute():
    cmake = (ROOT / "CMakeLists.txt").read_text()
    expected = re.search(r"project\(orvane VERSION ([0-9.]+)", cmake).group(1)
    assert importlib.metadata.version("orvane") == expected
    assert not hasattr(ob, "__version__")


@pytest.mark.skipif(
    importlib.util.find_spec("pybind11_stubgen") is None, reason="pybind11-stubgen is not installed"
)
def test_committed_stubs_match_the_built_module(tmp_path):
    env = {**os.environ, "PATH": f"{Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}"}
    result = run(str(ROOT / "scripts" / "generate-stubs"), "--installed", str(tmp_path), env=env)
    assert result.returncode == 0, result.stderr
    for generated, committed in [
        (tmp_path / STUB, COMMITTED_STUB),
        (tmp_path / "orvane" / "__init__.pyi", PACKAGE_STUB),
    ]:
        assert generated.read_text() == committed.read_text(), (
            f"{committed.name} is out of date: run scripts/generate-stubs and commit it"
        )


def installed_stub():
    for key in ("platlib", "purelib"):
        candidate = Path(sysconfig.get_paths()[key]) / STUB
        if candidate.is_file():
            return candidate
    return None


@pytest.mark.skipif(importlib.util.find_spec("mypy") is None, reason="mypy is not installed")
@pytest.mark.skipif(installed_stub() is None, reason="the orvane_bindings stubs are not installed")
def test_examples_pass_strict_type_checking():
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    result = run(sys.executable, "-m", "mypy", "--strict", *examples, cwd=ROOT)
    assert result.returncode == 0, result.stdout + result.stderr


def wheel_of_this_environment(tmp_path):
    """The wheel the scripts built and installed here, or one built now. A
    build is minutes of compiling, which a loaded machine stretches without
    bound: the test never builds what the scripts have built already."""
    made = sorted((ROOT / "build" / "wheels" / Path(sys.prefix).name).glob("orvane-*.whl"))
    if made:
        return made[-1]
    if importlib.util.find_spec("scikit_build_core") is None:
        pytest.skip("no wheel was built for this environment and the build tools are not installed")
    dist = tmp_path / "dist"
    built = subprocess.run(
        [
            sys.executable,
            "-m",
            "pip",
            "wheel",
            "--no-deps",
            "--no-build-isolation",
            "--disable-pip-version-check",
            f"-Cbuild-dir={tmp_path / 'build'}",
            "-w",
            str(dist),
            str(ROOT),
        ],
        capture_output=True,
        text=True,
    )
    assert built.returncode == 0, built.stderr
    [wheel] = dist.glob("orvane-*-cp312-cp312-*.whl")
    return wheel


def test_wheel_installs_into_a_fresh_environment(tmp_path):
    wheel = wheel_of_this_environment(tmp_path)
    names = zipfile.ZipFile(wheel).namelist()
    suffix = sysconfig.get_config_var("EXT_SUFFIX")
    package = sorted(
        f"orvane/{p.relative_to(ROOT / 'src' / 'orvane')}"
        for p in (ROOT / "src" / "orvane").rglob("*")
        if p.is_file() and "__pycache__" not in p.parts
    )
    assert sorted(n for n in names if ".dist-info/" not in n) == sorted(
        [
            "orvane_bindings-stubs/__init__.pyi",
            f"orvane_bindings{suffix}",
            f"orvane/_native{suffix}",
            *package,
        ]
    )

    venv = tmp_path / "venv"
    assert run(sys.executable, "-m", "venv", str(venv)).returncode == 0
    assert "include-system-site-packages = false" in (venv / "pyvenv.cfg").read_text()
    python = str(venv / "bin" / "python")
    installed = run(
        python,
        "-m",
        "pip",
        "install",
        "--disable-pip-version-check",
        "-c",
        str(ROOT / "requirements.txt"),
        str(wheel),
    )
    assert installed.returncode == 0, installed.stderr

    probe = (
        "import importlib.metadata, pathlib, sysconfig, numpy, orvane_bindings as ob\n"
        "stub = pathlib.Path(sysconfig.get_paths()['platlib'], 'orvane_bindings-stubs', "
        "'__init__.pyi')\n"
        "import sys\n"
        "print(importlib.metadata.version('orvane'), numpy.__version__, stub.is_file(),\n"
        "      ob.__file__.startswith(sys.prefix))\n"
        "print(ob.Matrix2f(1, 2, 3, 4) * ob.Vector2f(1, 1))\n"
    )
    result = run(python, "-c", probe, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        f"{importlib.metadata.version('orvane')} {np.__version__} True True",
        "Vector2f(x=3.0, y=7.0)",
    ]


def test_package_functions_have_docstrings_keyword_names_and_stubs():
    import orvane

    stub = PACKAGE_STUB.read_text()
    added = [name for name in orvane.__all__ if not hasattr(ob, name)]
    assert added
    for name in added:
        doc = getattr(orvane, name).__doc__ or ""
        prose = [
            line
            for line in doc.splitlines()
            if line
            and not line.startswith(name)
            and line != "Overloaded function."
            and not re.match(r"\d+\. ", line)
        ]
        assert prose and "arg0" not in doc, name
        kind = "class" if isinstance(getattr(orvane, name), type) else "def"
        assert f"{kind} {name}" + ("(" if kind == "def" else ":") in stub, name
