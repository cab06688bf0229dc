import re
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.py"))
GUIDE = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
FENCED = re.compile(r"^```(\w*)\n(.*?)^```$", re.S | re.M)


def blocks(text, language):
    return [body for lang, body in FENCED.findall(text) if lang == language]


def run_example(script, *args):
    result = subprocess.run(
        [sys.executable, "-W", "error", str(script), *args],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert result.returncode == 0, result.stderr
    return result.stdout


@pytest.mark.parametrize("script", EXAMPLES, ids=lambda p: p.name)
def test_example_runs(script):
    assert run_example(script).strip()


def test_mesh_picture_is_a_png_with_the_sphere_in_the_middle(tmp_path):
    image = pytest.importorskip("matplotlib.image")
    run_example(ROOT / "examples" / "mesh_render.py", "--png", str(tmp_path / "mesh.png"))
    pixels = image.imread(tmp_path / "mesh.png")
    assert pixels.shape == (240, 320, 3)
    # Sky is grey, the sphere blue.
    assert pixels[0, 0, 0] == pixels[0, 0, 2] and pixels[120, 160, 2] > pixels[120, 160, 0]


def test_demo_tours_every_example():
    tour = runpy.run_path(str(ROOT / "examples" / "demo.py"), run_name="tour")["TOUR"]
    assert sorted(tour) == sorted(p.name for p in EXAMPLES if p.name != "demo.py")


@pytest.mark.parametrize("page", GUIDE, ids=lambda p: p.name)
def test_guide_code_and_output_are_quoted_from_the_examples(page):
    text = page.read_text()
    sources = [p.read_text() for p in EXAMPLES]
    stale = [b for b in blocks(text, "python") if not any(b in s for s in sources)]
    assert not stale, f"{page.name}: code not found in any examples/*.py file"
    outputs = blocks(text, "")
    if outputs:
        printed = [run_example(p) for p in EXAMPLES if p.name != "demo.py"]
        stale = [b for b in outputs if not any(b in out for out in printed)]
        assert not stale, f"{page.name}: output not printed by any example"
