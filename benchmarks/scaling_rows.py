"""Benchmark rows of the thread pool of orvane.arrays: compute-bound ufuncs
and Mesh.raycast at one and at two threads, from 10**3 to 10**7 elements,
as the speedup of two threads over one. Left out, with a note, where
orvane.arrays has no `threads`.

Run alone with `python benchmarks/scaling_rows.py`; bench.py adds the
section to its report.
"""

import math
import os
import time

import mesh_rows
import numpy as np
import orvane_bindings as ob

import orvane as ov
import orvane.arrays as oa

SIZES = [10**3, 10**4, 10**5, 10**6, 10**7]
THREADS = (1, 2)
TARGET = 1.8  # speedup at 10**6 of the compute-bound ufuncs
SAMPLE = 10**5  # elements per sample: small sizes repeat the call
RAYS_UP_TO = 10**6  # a cast of 10**7 rays would take seconds


def quaternions(n, rng):
    q = rng.normal(size=(n, 4))
    return q / np.linalg.norm(q, axis=1, keepdims=True)


def quat_to_euler(n, rng):
    q = quaternions(n, rng)
    out = np.empty((n, 3))
    return lambda: oa.quat_to_euler(q, out=out)


def quat_to_matrix(n, rng):
    q = quaternions(n, rng)
    out = np.empty((n, 3, 3))
    return lambda: oa.quat_to_matrix(q, out=out)


def quat_rotate(n, rng):
    q, v = quaternions(n, rng), rng.normal(size=(n, 3))
    out = np.empty((n, 3))
    return lambda: oa.quat_rotate(q, v, out=out)


def transform_points(n, rng):
    pose = ob.Pose3d_d(ob.Vector3d(1, 2, 3), ob.Quaterniond(0.8, 0.2, -0.3, 0.4))
    v = rng.normal(size=(n, 3))
    out = np.empty((n, 3))
    return lambda: oa.transform_points(pose, v, out=out)


_MESH = {}


def raycast(n, rng):
    if "mesh" not in _MESH:
        vertices, faces = mesh_rows.torus(1.0, 0.3, *mesh_rows.SIZES[10**5])
        _MESH["mesh"] = ov.Mesh(vertices, faces), vertices
    mesh, vertices = _MESH["mesh"]
    origins, directions = mesh_rows.rays(vertices, n, int(rng.integers(1 << 30)))
    return lambda: mesh.raycast(origins, directions)


# (label, maker of the call on n elements, largest n)
CASES = [
    ("quat_to_euler (XYZ)", quat_to_euler, 10**7),
    ("quat_to_matrix", quat_to_matrix, 10**7),
    ("quat_rotate", quat_rotate, 10**7),
    ("transform_points, a pose", transform_points, 10**7),
    (f"Mesh.raycast, {10**5:,} triangles", raycast, RAYS_UP_TO),
]


def per_call(call, n, threads, rounds):
    """Seconds per call at each thread count: the fastest sample, the counts
    taken in turn within each round."""
    repeat = max(1, SAMPLE // n)
    best = dict.fromkeys(threads, math.inf)
    for k in range(-1, rounds):  # round -1 warms up
        for count in threads if k % 2 else threads[::-1]:
            with oa.threads(count):
                start = time.perf_counter()
                for _ in range(repeat):
                    call()
                elapsed = (time.perf_counter() - start) / repeat
            if k >= 0:
                best[count] = min(best[count], elapsed)
    return best


def measure():
    rng = np.random.default_rng(13)
    results = []
    for label, make, largest in CASES:
        row = {}
        for n in SIZES:
            if n <= largest:
                row[n] = per_call(make(n, rng), n, THREADS, rounds=3 if n >= 10**7 else 7)
        results.append((label, row))
    return results


def report():
    """The section of the benchmark report, as Markdown lines."""
    lines = ["## Thread scaling of the batch operations", ""]
    if not hasattr(oa, "threads"):
        return lines + ["Not measured: `orvane.arrays` has no `threads` here.", ""]
    try:
        with oa.threads(max(THREADS)):
            pass
    except ValueError as e:  # fewer usable cores
        return lines + [f"Not measured: {e}.", ""]
    results = measure()
    lines += [
        "Speedup of two threads over one (`with orvane.arrays.threads(n)`), and the time of "
        "one call at one thread in parentheses: the fastest of seven samples at each count "
        "(three at 10,000,000), the counts taken in turn; a sample of fewer than "
        f"{SAMPLE:,} elements repeats the call. The ufuncs write into a preallocated "
        f"`out=`; the rays of `Mesh.raycast` go to the torus of the mesh table. Target "
        f"{TARGET} at 1,000,000 for the ufuncs; {os.cpu_count()} logical cores.",
        "",
        "| operation | " + " | ".join(f"{n:,}" for n in SIZES) + " |",
        "|---|" + "---:|" * len(SIZES),
    ]
    for label, row in results:
        cells = []
        for n in SIZES:
            if n not in row:
                cells.append("n/a")
                continue
            one, two = row[n][1], row[n][2]
            mark = ""
            if n == 10**6 and not label.startswith("Mesh"):
                mark = " ✓" if one / two >= TARGET else " ✗"
            cells.append(f"{one / two:.2f}{mark} ({fmt_seconds(one)})")
        lines.append(f"| {label} | " + " | ".join(cells) + " |")
    return lines + [""]


def fmt_seconds(s):
    return f"{s * 1e6:,.0f} µs" if s < 1e-3 else f"{s * 1e3:,.1f} ms"


if __name__ == "__main__":
    print("\n".join(report()))
