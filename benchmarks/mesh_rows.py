"""Benchmark rows of orvane.Mesh: ray casts and closest points against
trimesh's own ray engine and Embree (embreex), building the hierarchy, its
memory, and the cost of a ray as the mesh grows. The peers are optional
(requirements-bench.txt); a missing one leaves its column n/a.

Run alone with `python benchmarks/mesh_rows.py`; bench.py adds the section to
its report. Everything here runs pinned to one core, so that no engine gains
from threads: Embree's own worker threads share that core.
"""

import gc
import os
import runpy
import statistics
import time
from functools import partial
from pathlib import Path

import numpy as np

import orvane as ov

ROOT = Path(__file__).resolve().parent.parent
torus = runpy.run_path(str(ROOT / "examples" / "shapes.py"))["torus"]

RAYS = 10**6
POINTS = 10**5
# (segments, sides) of tori of 10**3 to 10**6 triangles.
SIZES = {10**3: (25, 20), 10**4: (100, 50), 10**5: (250, 200), 10**6: (1000, 500)}
BUDGET = 5.0  # seconds a slow peer may take for one timed call


def optional(name):
    try:
        return __import__(name)
    except ImportError:
        return None


def peers():
    """trimesh and embreex if installed, with the reason when not."""
    trimesh, embreex = optional("trimesh"), optional("embreex")
    if trimesh is not None:
        import trimesh.proximity
        import trimesh.ray.ray_triangle
    if embreex is not None:
        import embreex.mesh_construction
        import embreex.rtcore_scene
    return trimesh, embreex


def rays(mesh_vertices, n, seed):
    """Rays from a sphere well outside the mesh towards points of its box:
    most hit, some miss."""
    rng = np.random.default_rng(seed)
    low, high = mesh_vertices.min(0), mesh_vertices.max(0)
    centre, size = (low + high) / 2, np.linalg.norm(high - low)
    origins = rng.normal(size=(n, 3))
    origins = centre + 1.5 * size * origins / np.linalg.norm(origins, axis=1, keepdims=True)
    directions = rng.uniform(low, high, (n, 3)) - origins
    return origins, directions / np.linalg.norm(directions, axis=1, keepdims=True)


def seconds(call, repeats):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def per_item(call, n, repeats=3):
    """Seconds per item of call(k) on the first k items: k grows tenfold from
    10 to n while the next call stays within the budget, so a slow peer is
    timed on a subset. Returns (seconds per item, k)."""
    call(1)  # a peer may build its tree on the first call
    k = min(n, 10)
    while True:
        elapsed = seconds(partial(call, k), 1)
        if k == n or 10 * elapsed > BUDGET:
            break
        k = min(n, 10 * k)
    if elapsed * repeats < 3 * BUDGET:
        elapsed = seconds(partial(call, k), repeats)
    return elapsed / k, k


def casts(mesh, origins, directions):
    return lambda k: mesh.raycast(origins[:k], directions[:k])


def embree_casts(scene, origins, directions):
    o32, d32 = origins.astype(np.float32), directions.astype(np.float32)
    return lambda k: scene.run(o32[:k], d32[:k], output=1)


def embree_scene(embreex, vertices, faces, warm_rays):
    scene = embreex.rtcore_scene.EmbreeScene()
    embreex.mesh_construction.TriangleMesh(scene, vertices[faces].astype(np.float32))
    scene.run(*(a.astype(np.float32) for a in warm_rays), output=1)  # builds its hierarchy
    return scene


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def fmt(value, unit_scale=1e9):
    return "n/a" if value is None else f"{value * unit_scale:,.0f}"


def fmt_ratio(a, b):
    if a is None or b is None:
        return "n/a"
    return f"{a / b:.2f}" if a / b >= 0.1 else f"1/{b / a:,.0f}"


def note_of(k, n):
    return "" if k == n else f" ({k:,} of {n:,})"


def measure(trimesh, embreex):
    results = {}
    # Memory first, before the other large arrays come and go.
    vertices, faces = torus(1.0, 0.3, *SIZES[10**6])
    gc.collect()
    before = resident_bytes()
    mesh = ov.Mesh(vertices, faces)
    results["memory"] = (resident_bytes() - before) / len(faces)
    results["arrays"] = (vertices.nbytes + faces.nbytes) / len(faces)
    del mesh
    results["build"] = seconds(lambda: ov.Mesh(vertices, faces), 3)

    vertices, faces = torus(1.0, 0.3, *SIZES[10**5])
    mesh = ov.Mesh(vertices, faces)
    origins, directions = rays(vertices, RAYS, 1)
    ours = per_item(casts(mesh, origins, directions), RAYS)
    hits = mesh.raycast(origins[: ours[1]], directions[: ours[1]])[1] >= 0
    results["raycast"] = {"ours": ours, "hits": float(np.mean(hits))}
    if trimesh is not None:
        engine = trimesh.ray.ray_triangle.RayMeshIntersector(
            trimesh.Trimesh(vertices, faces, process=False)
        )
        results["raycast"]["trimesh"] = per_item(
            lambda k: engine.intersects_first(origins[:k], directions[:k]), RAYS, repeats=1
        )
    if embreex is not None:
        scene = embree_scene(embreex, vertices, faces, (origins[:10], directions[:10]))
        results["raycast"]["Embree"] = per_item(embree_casts(scene, origins, directions), RAYS)

    box = mesh.bounds
    points = np.random.default_rng(2).uniform(box.min.numpy(), box.max.numpy(), (POINTS, 3)) * 1.2
    results["closest"] = {"ours": per_item(lambda k: mesh.closest_points(points[:k]), POINTS)}
    if trimesh is not None:
        shape = trimesh.Trimesh(vertices, faces, process=False)
        results["closest"]["trimesh"] = per_item(
            lambda k: trimesh.proximity.closest_point(shape, points[:k]), POINTS, repeats=1
        )

    results["growth"] = []
    for size, (segments, sides) in SIZES.items():
        vertices, faces = torus(1.0, 0.3, segments, sides)
        mesh = ov.Mesh(vertices, faces)
        origins, directions = rays(vertices, 10**5, 3)
        row = [size, per_item(casts(mesh, origins, directions), 10**5)]
        if embreex is not None:
            scene = embree_scene(embreex, vertices, faces, (origins[:10], directions[:10]))
            row.append(per_item(embree_casts(scene, origins, directions), 10**5))
        results["growth"].append(row)
    return results


def report():
    """The section of the benchmark report, as Markdown lines."""
    trimesh, embreex = peers()
    affinity = os.sched_getaffinity(0)
    os.sched_setaffinity(0, {min(affinity)})
    try:
        results = measure(trimesh, embreex)
    finally:
        os.sched_setaffinity(0, affinity)
    versions = ", ".join(
        f"{name} {module.__version__}" if module else f"{name} not installed (n/a)"
        for name, module in (("trimesh", trimesh), ("embreex", embreex))
    )
    lines = [
        "## Triangle meshes",
        "",
        "`orvane.Mesh` on closed tori, one process pinned to one core, float64 for ours and "
        "trimesh, float32 for Embree (its only precision); Embree through embreex "
        f"(`scene.run(origins, directions, output=1)`), trimesh's own engine "
        f"`trimesh.ray.ray_triangle.RayMeshIntersector` forced (it would pick Embree when "
        f"embreex is installed). {versions}. A peer too slow for all the rays is timed "
        "on the first of them, as said beside its time; ours is the median of three calls.",
        "",
    ]
    cast = results["raycast"]
    ours_ray = cast["ours"][0]
    lines += [
        f"| query on {10**5:,} triangles | ours ns each | peer ns each | ours/peer |",
        "|---|---:|---:|---:|",
    ]
    for peer, label in (("trimesh", "raycast"), ("Embree", "raycast")):
        theirs = cast.get(peer)
        lines.append(
            f"| {label}, {RAYS:,} rays{note_of(cast['ours'][1], RAYS)} vs {peer}"
            f"{'' if theirs is None else note_of(theirs[1], RAYS)} | {fmt(ours_ray)} | "
            f"{fmt(theirs and theirs[0])} | {fmt_ratio(ours_ray, theirs and theirs[0])} |"
        )
    close = results["closest"]
    theirs = close.get("trimesh")
    lines += [
        f"| closest_points, {POINTS:,} points{note_of(close['ours'][1], POINTS)} vs "
        f"trimesh.proximity.closest_point{'' if theirs is None else note_of(theirs[1], POINTS)} "
        f"| {fmt(close['ours'][0])} | {fmt(theirs and theirs[0])} | "
        f"{fmt_ratio(close['ours'][0], theirs and theirs[0])} |",
        "",
        f"{cast['hits']:.1%} of the rays hit. Building a mesh of {10**6:,} triangles: "
        f"{results['build']:.2f} s (median of three). Resident memory grows by "
        f"{results['memory']:.0f} bytes per triangle when it is built, "
        f"{results['memory'] - results['arrays']:.0f} beyond its copy of the vertex and face "
        f"arrays ({results['arrays']:.0f} bytes per triangle).",
        "",
        "| triangles | ours ns per ray | Embree ns per ray | ours/Embree |",
        "|---:|---:|---:|---:|",
    ]
    for size, ours, *embree in results["growth"]:
        theirs = embree[0][0] if embree else None
        lines.append(
            f"| {size:,} | {fmt(ours[0])}{note_of(ours[1], 10**5)} | {fmt(theirs)} | "
            f"{fmt_ratio(ours[0], theirs)} |"
        )
    return lines + [""]


if __name__ == "__main__":
    print("\n".join(report()))
