import json
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
HEADERS = ROOT / "include" / "math"
# The build tools and the consumer are not the module: they run without any
# runtime preloaded into the interpreter (the sanitized run preloads one).
TOOL_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def run(*args):
    subprocess.run(args, check=True, capture_output=True, text=True, timeout=300, env=TOOL_ENV)


def project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    return re.search(r"project\(orvane VERSION ([0-9.]+)", text).group(1)


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_installed_headers_work_with_find_package(tmp_path):
    prefix = tmp_path / "prefix"
    run("cmake", "-S", str(ROOT), "-B", str(tmp_path / "build"), f"-DCMAKE_INSTALL_PREFIX={prefix}")
    run("cmake", "--install", str(tmp_path / "build"))
    installed = sorted(p.name for p in (prefix / "include" / "math").iterdir())
    assert installed == sorted(p.name for p in HEADERS.glob("*.hpp"))

    consumer = tmp_path / "consumer"
    run(
        "cmake",
        "-S",
        str(ROOT / "tests" / "cpp_consumer"),
        "-B",
        str(consumer),
        f"-DCMAKE_PREFIX_PATH={prefix}",
        f"-DORVANE_VERSION={project_version()}",
    )
    run("cmake", "--build", str(consumer))
    out = subprocess.run(
        [str(consumer / "app")], capture_output=True, text=True, check=True, env=TOOL_ENV
    )
    assert out.stdout.splitlines() == [
        "dot 32",
        "det -2",
        "pose 1.000 1.000 0.000",
        "euler z 0.500",
        "centre Vector3f(0.5, 1, 1.5)",
        "slerp angle 0.7854",
        "ray enters at 1",
        "mesh face 3 at 1.4, inside 1",
    ]
    # Results are fixed operation by operation, so the no-contraction flag
    # must reach every consumer through the exported target.
    [command] = json.loads((consumer / "compile_commands.json").read_text())
    assert "-ffp-contract=off" in command["command"]
