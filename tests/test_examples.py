import re
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.py"))
GUIDE = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
PYTHON_BLOCK = re.compile(r"```python\n(.*?)```", re.S)


@pytest.mark.parametrize("script", EXAMPLES, ids=lambda p: p.name)
def test_example_runs(script):
    result = subprocess.run(
        [sys.executable, "-W", "error", str(script)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip()


def test_demo_tours_every_example():
    tour = runpy.run_path(str(ROOT / "examples" / "demo.py"), run_name="tour")["TOUR"]
    assert sorted(tour) == sorted(p.name for p in EXAMPLES if p.name != "demo.py")


@pytest.mark.parametrize("page", GUIDE, ids=lambda p: p.name)
def test_guide_code_is_quoted_from_the_examples(page):
    sources = [p.read_text() for p in EXAMPLES]
    blocks = PYTHON_BLOCK.findall(page.read_text())
    stale = [block for block in blocks if not any(block in source for source in sources)]
    assert not stale, f"{page.name}: code not found in any examples/*.py file"
