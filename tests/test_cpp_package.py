import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
# The build tools and the consumer are not the module: they run without any
# runtime preloaded into the interpreter (the sanitized run preloads one).
TOOL_ENV = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}


def run(*args):
    subprocess.run(args, check=True, capture_output=True, text=True, timeout=300, env=TOOL_ENV)


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_installed_headers_work_with_find_package(tmp_path):
    prefix = tmp_path / "prefix"
    run("cmake", "-S", str(ROOT), "-B", str(tmp_path / "build"), f"-DCMAKE_INSTALL_PREFIX={prefix}")
    run("cmake", "--install", str(tmp_path / "build"))
    assert (prefix / "include" / "math" / "vector.hpp").is_file()
    consumer = tmp_path / "consumer"
    run("cmake", "-S", str(ROOT / "tests" / "cpp_consumer"), "-B", str(consumer),
        f"-DCMAKE_PREFIX_PATH={prefix}")
    run("cmake", "--build", str(consumer))
    out = subprocess.run([str(consumer / "app")], capture_output=True, text=True, check=True,
                         env=TOOL_ENV)
    assert out.stdout == "32\n"
