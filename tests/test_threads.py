"""The thread pool under the batch loops and the mesh queries: the same bits,
status warnings and errors on any number of threads; set_num_threads,
threads(n), ORVANE_NUM_THREADS and fork."""

import os
import subprocess
import sys
import threading
import types
import warnings

import numpy as np
import pytest
from orvane._native import gufuncs, threads

import orvane as ov
import orvane.arrays as oa
from orvane import _mesh

UFUNCS = [u for u in vars(gufuncs).values() if isinstance(u, np.ufunc)]
COUNTS = [1, 2, 3, 7]
DEFAULT = oa.get_num_threads()
ODD = np.array([np.nan, np.inf, -np.inf, 0.0, -0.0, 1e-40, 3e38])


def core_shapes(ufunc):
    # Named dimensions (n: a matrix order or a set's size) are 3.
    ins, outs = oa._core_dims(ufunc.signature)
    return [tuple(int(d) if d.isdigit() else 3 for d in dims) for dims in ins + outs]


def operands(ufunc, letter, strided, rng):
    """Inputs of a few batches each just past where another thread joins."""
    loop = next(t for t in ufunc.types if t[0] == letter)
    shapes = core_shapes(ufunc)
    sizes = [np.dtype(t).itemsize * int(np.prod(s)) for t, s in zip(loop.replace("->", ""), shapes)]
    per_thread = -(-threads.min_bytes_per_thread // sum(sizes))
    count = 7 * per_thread + 13
    made = []
    for t, shape in zip(loop[: ufunc.nin], shapes):
        x = rng.standard_normal((count, *shape))
        x.flat[rng.integers(0, x.size, x.size // 5000 + 1)] = rng.choice(ODD, x.size // 5000 + 1)
        x = x.astype(t)
        # Core axes strided across the batch: the loop's unpacked path.
        made.append(np.moveaxis(np.moveaxis(x, 0, -1).copy(), -1, 0) if strided else x)
    return made, per_thread


def outcome(f, *args):
    """Results as bytes (a NaN's sign and payload too), or the error; and the
    status warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            r = f(*args)
            got = [(a.dtype, a.tobytes()) for a in (r if isinstance(r, tuple) else (r,))]
        except ValueError as e:
            got = str(e)
    return got, sorted(str(w.message) for w in caught)


@pytest.mark.parametrize("strided", [False, True], ids=["packed", "strided"])
@pytest.mark.parametrize("letter", ["f", "d"])
@pytest.mark.parametrize("ufunc", UFUNCS, ids=lambda u: u.__name__)
def test_every_ufunc_keeps_its_bits_on_any_thread_count(ufunc, letter, strided):
    args, per_thread = operands(ufunc, letter, strided, np.random.default_rng(len(ufunc.__name__)))
    # Sizes on both sides of two threads, and past seven.
    for count in (2 * per_thread - 1, 2 * per_thread + 1, len(args[0])):
        part = [a[:count] for a in args]
        with oa.threads(1):
            expected = outcome(ufunc, *part)
        for n in COUNTS[1:]:
            with oa.threads(n):
                assert outcome(ufunc, *part) == expected


def test_mesh_queries_keep_their_bits_on_any_thread_count(letter):
    rng = np.random.default_rng(5)
    vertices = rng.standard_normal((300, 3))
    vertices[7] = np.nan
    mesh = ov.Mesh(vertices, rng.integers(0, 300, (500, 3)), dtype=letter)
    count = 7 * 256 + 13
    origins, directions, points = (rng.standard_normal((count, 3)) for _ in range(3))
    origins[::97] = np.nan
    queries = [
        lambda: mesh.raycast(origins, directions),
        lambda: mesh.occluded(origins, directions, 2.0),
        lambda: mesh.closest_points(points),
        lambda: mesh.contains(points),
    ]
    for query in queries:
        with oa.threads(1):
            expected = outcome(query)
        for n in COUNTS[1:]:
            with oa.threads(n):
                assert outcome(query) == expected


@pytest.fixture
def process_wide():
    yield
    oa.set_num_threads(DEFAULT)


def test_threads_is_per_thread_and_restores_on_exception(process_wide):
    oa.set_num_threads(3)
    seen = []
    other = threading.Thread(target=lambda: seen.append(oa.get_num_threads()))
    with pytest.raises(KeyError):
        with oa.threads(5):
            other.start()
            other.join()
            with oa.threads(2):
                assert oa.get_num_threads() == 2
            assert oa.get_num_threads() == 5
            raise KeyError
    assert (seen, oa.get_num_threads()) == ([3], 3)


@pytest.mark.parametrize(
    "block",
    [
        oa._Bound(oa.get_num_threads, (), {}),
        _mesh._Query(types.SimpleNamespace(_raycast=oa.get_num_threads), "raycast"),
    ],
    ids=["ufunc", "mesh"],
)
def test_dask_blocks_run_on_one_thread_unless_told(block):
    assert (block(), oa.get_num_threads()) == (1, DEFAULT)
    with oa.threads(3):
        assert (block(), oa.get_num_threads()) == (3, 3)


@pytest.mark.parametrize(
    "n,error",
    [
        (0, ValueError),
        (-2, ValueError),
        (1025, ValueError),
        (1.0, TypeError),
        ("2", TypeError),
        (True, TypeError),
        (None, TypeError),
    ],
)
@pytest.mark.parametrize("f", [oa.set_num_threads, oa.threads], ids=lambda f: f.__name__)
def test_bad_counts_are_refused(f, n, error):
    before = oa.get_num_threads()
    with pytest.raises(error, match=rf"^{f.__name__}: n must be"):
        f(n)
    assert oa.get_num_threads() == before


@pytest.mark.parametrize("value", ["2", " 3 ", "0", "many", "-1", "99999"])
def test_the_environment_variable(value):
    code = "import orvane.arrays as oa; print(oa.get_num_threads())"
    env = {**os.environ, "ORVANE_NUM_THREADS": value}
    run = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    valid = value.strip().isdigit() and 1 <= int(value) <= 1024
    expected = int(value) if valid else len(os.sched_getaffinity(0))
    assert int(run.stdout) == expected
    assert ("ORVANE_NUM_THREADS must be a whole number of threads" in run.stderr) != valid


def test_a_forked_child_runs_its_own_pool():
    q = np.random.default_rng(2).standard_normal((300_000, 4))
    with oa.threads(2), warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)  # forking with threads running
        expected = oa.quat_to_matrix(q)  # the parent's workers exist now
        pid = os.fork()
        if pid == 0:
            os._exit(0 if np.array_equal(oa.quat_to_matrix(q), expected) else 1)
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0
