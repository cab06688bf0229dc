"""orvane.Mesh: queries equal to loops over every face, bit for bit, whatever
the layout, batching, thread or Dask graph that carries them."""

import concurrent.futures
import pickle

import numpy as np
import pytest
from conftest import dtype_of

import orvane as ov

PHI = (1 + 5**0.5) / 2


def icosahedron():
    """A closed icosahedron, plus a face on a NaN and one on an infinite vertex."""
    # fmt: off
    v = [(-1, PHI, 0), (1, PHI, 0), (-1, -PHI, 0), (1, -PHI, 0), (0, -1, PHI), (0, 1, PHI),
         (0, -1, -PHI), (0, 1, -PHI), (PHI, 0, -1), (PHI, 0, 1), (-PHI, 0, -1), (-PHI, 0, 1)]
    f = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
         (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
         (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    # fmt: on
    v += [(np.nan, 0, 0), (np.inf, 0, 0)]
    f += [(0, 1, 12), (2, 3, 13)]
    return np.array(v), np.array(f)


def sample_points(rng, vertices, faces):
    """Random points, the vertices, edge midpoints and face centroids."""
    corners = vertices[faces[:20]]
    special = [
        vertices[:12],
        (corners + np.roll(corners, 1, axis=1)).reshape(-1, 3) / 2,
        corners.mean(axis=1),
    ]
    return np.concatenate([rng.uniform(-2, 2, (30, 3)), *special])


def nearest_hit(mesh, o, d, t_max):
    vec = ov.Vector3f if mesh.dtype == np.float32 else ov.Vector3d
    best = (np.inf, -1, np.nan, np.nan)
    for k, face in enumerate(mesh.faces):
        a, b, c = (vec(*p) for p in mesh.vertices[face])
        hit = ov.ray_triangle(vec(*o), vec(*d), a, b, c)
        if hit is not None and hit[0] < min(best[0], t_max):
            best = (hit[0], k, *hit[1:])
    return best


def nearest_point(mesh, p):
    """Through one-face meshes, so that each face's point is the header's; faces
    are compared by squared distance, summed as the header sums it."""
    p = p.astype(mesh.dtype)
    best = (np.full(3, np.nan), -1, np.inf, np.inf)
    for k, face in enumerate(mesh.faces):
        q, _, dist = ov.Mesh(mesh.vertices, [face], dtype=mesh.dtype).closest_points(p)
        e = p - q
        d2 = ((mesh.dtype.type(0) + e[0] * e[0]) + e[1] * e[1]) + e[2] * e[2]
        if d2 < best[3]:
            best = (q, k, dist, d2)
    return best[:3]


def winding_number(corners, points):
    """The solid angles of the faces (F, 3, 3) seen from each point, over 4 pi."""
    r = corners[None] - points[:, None, None]
    length = np.linalg.norm(r, axis=-1)
    a, b, c = np.moveaxis(r, 2, 0)
    la, lb, lc = np.moveaxis(length, 2, 0)
    dot = lambda x, y: (x * y).sum(-1)  # noqa: E731
    below = la * lb * lc + dot(a, b) * lc + dot(b, c) * la + dot(c, a) * lb
    return 2 * np.arctan2(np.linalg.det(r), below).sum(-1) / (4 * np.pi)


def same(a, b, dtype):
    assert a.dtype == dtype and np.array_equal(a, b, equal_nan=True)


@pytest.mark.parametrize("letter", "fd")
def test_queries_equal_a_loop_over_faces(letter):
    dtype = dtype_of(letter)
    rng = np.random.default_rng(7)
    mesh = ov.Mesh(*icosahedron(), dtype=dtype)
    targets = sample_points(rng, *icosahedron())
    origins = rng.normal(size=(4, 1, 3))
    origins *= 3 / np.linalg.norm(origins, axis=-1, keepdims=True)
    directions = targets - origins  # origins broadcast against these
    directions[0, :5] *= -1  # pointing away
    t_max = np.array([[np.inf], [1.0], [0.9], [1e-3]])
    t, face, u, v = mesh.raycast(origins, directions, t_max)
    assert t.shape == (4, len(targets))
    want = np.empty(t.shape, dtype=[("t", dtype), ("face", np.int64), ("u", dtype), ("v", dtype)])
    o, d, m = (
        np.broadcast_to(a, t.shape + a.shape[2:]).astype(dtype)
        for a in (origins, directions, t_max)
    )
    for i in np.ndindex(t.shape):
        want[i] = nearest_hit(mesh, o[i], d[i], m[i])
    for got, name in zip((t, face, u, v), want.dtype.names):
        same(got, want[name], want.dtype[name])
    assert (face >= 0).sum() > len(targets) and (face[0] == -1).sum() >= 5
    same(mesh.occluded(origins, directions, t_max), face >= 0, np.bool_)

    points = targets.reshape(2, -1, 3) * rng.uniform(0.3, 1.7, (2, 1, 1))
    found, faces, distances = mesh.closest_points(points)
    for i in np.ndindex(faces.shape):
        q, k, dist = nearest_point(mesh, points[i])
        same(found[i], q, dtype)
        assert faces[i] == k and distances[i] == dist
    inside = mesh.contains(points)
    assert inside.shape == faces.shape and inside.dtype == np.bool_
    # Random points, and points straight below or above vertices and edge
    # midpoints: the upward ray of the inside test passes through them.
    corners = mesh.vertices[mesh.faces[:20]].astype(float)
    xy = np.concatenate([corners, (corners + np.roll(corners, 1, axis=1)) / 2]).reshape(-1, 3)
    z = rng.uniform(-2, 2, (len(xy), 1))
    points = np.concatenate([rng.uniform(-2, 2, (400, 3)), xy * [1, 1, 0] + [0, 0, 1] * z])
    w = winding_number(corners, points)
    clear = mesh.closest_points(points)[2] > 1e-3  # off the surface, where w is 0 or 1
    same(mesh.contains(points)[clear], np.abs(w[clear]) > 0.5, np.bool_)


GOOD = np.arange(30.0).reshape(10, 3)


@pytest.mark.parametrize(
    "vertices,faces,kwargs,error,message",
    [
        (
            GOOD,
            [[0, 1, 2]] * 7 + [[1, 2, 12]],
            {},
            ValueError,
            "face 7 names vertex 12, but there are 10 vertices",
        ),
        (
            GOOD,
            np.array([[0, 1, 2], [3, -1, 4]], np.int8),
            {},
            ValueError,
            "face 1 names vertex -1, ",
        ),
        (
            GOOD,
            np.array([[0, 1, 2**63 + 5]], np.uint64),
            {},
            ValueError,
            "face 0 names vertex 9223372036854775813, ",
        ),
        ([], [[0, 0, 0]], {}, ValueError, "face 0 names vertex 0, but there are 0 vertices"),
        (GOOD, [[0.0, 1.0, 2.0]], {}, TypeError, "faces must be vertex indices of an integer"),
        (GOOD, [[True, False, True]], {}, TypeError, "not of dtype bool: pass them as integers"),
        (GOOD, [[0, 1]], {}, ValueError, r"faces must be an array of shape \(F, 3\), not \(1, 2\)"),
        (GOOD[:, :2], [[0, 1, 2]], {}, ValueError, r"shape \(V, 3\), not \(10, 2\)"),
        (GOOD + 1j, [[0, 1, 2]], {}, TypeError, "vertices must be real numbers"),
        (GOOD, [[0, 1, 2]], {"dtype": "float16"}, TypeError, "dtype must be float32 or float64"),
        (
            np.broadcast_to(GOOD[0], (2**32, 3)),
            [[0, 1, 2]],
            {},
            ValueError,
            "at most 4294967295 vertices, got 4294967296",
        ),
        (
            GOOD,
            np.broadcast_to(np.arange(3), (2**32, 3)),
            {},
            ValueError,
            "at most 4294967295 faces",
        ),
    ],
)
def test_bad_meshes_say_what_is_wrong(vertices, faces, kwargs, error, message):
    with pytest.raises(error, match=message):
        ov.Mesh(vertices, faces, **kwargs)


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda m: m.raycast([0, 0], [0, 0, 1]), r"origins must be an array \(\.\.\., 3\)"),
        (lambda m: m.raycast(np.zeros((2, 3)), np.zeros((3, 3))), "do not broadcast"),
        (lambda m: m.occluded(np.zeros((3, 3)), np.zeros(3), np.zeros(2)), "do not broadcast"),
        (lambda m: m.closest_points(5.0), "points must be an array"),
    ],
)
def test_bad_queries_say_what_is_wrong(call, message):
    with pytest.raises(ValueError, match=message):
        call(ov.Mesh(*icosahedron()))


@pytest.mark.parametrize("vertices,faces", [([], []), (GOOD, np.zeros((0, 3), np.uint16))])
def test_empty_meshes_miss_everything(vertices, faces):
    mesh = ov.Mesh(vertices, faces, dtype=np.float32)
    t, face, u, v = mesh.raycast(np.zeros((2, 3)), [1, 0, 0])
    assert np.isinf(t).all() and (face == -1).all() and np.isnan(u).all() and np.isnan(v).all()
    q, face, dist = mesh.closest_points(np.zeros((2, 3)))
    assert np.isnan(q).all() and (face == -1).all() and np.isinf(dist).all()
    assert len(mesh) == 0 and t.dtype == np.float32 and mesh.faces.shape == (0, 3)


def test_views_repr_and_pickling():
    vertices, faces = icosahedron()
    mesh = ov.Mesh(vertices.astype(np.float32), faces.astype(np.int16))
    assert repr(mesh) == "Mesh(vertices=14, faces=22, dtype=float32)" and len(mesh) == 22
    assert isinstance(mesh.bounds, ov.AABB_f) and mesh.bounds.max.x == np.float32(PHI)
    for view, want in ((mesh.vertices, vertices.astype(np.float32)), (mesh.faces, faces)):
        same(view, want, want.dtype)
        with pytest.raises(ValueError):
            view[0, 0] = 1
        with pytest.raises(ValueError):
            view.flags.writeable = True
    copy = pickle.loads(pickle.dumps(mesh))
    assert repr(copy) == repr(mesh)
    same(copy.vertices, mesh.vertices, np.float32)
    same(copy.faces, mesh.faces, np.int64)


def layouts(a):
    """a as C, Fortran-ordered and strided arrays, and as lists."""
    wide = np.repeat(a, 2, axis=-1)
    return [a, np.asfortranarray(a), wide[..., ::2], a.tolist()]


@pytest.mark.parametrize("layout", range(4))
def test_any_layout_reads_the_same(layout):
    vertices, faces = icosahedron()
    points = sample_points(np.random.default_rng(1), vertices, faces)
    want = ov.Mesh(vertices, faces)
    mesh = ov.Mesh(layouts(vertices)[layout], layouts(faces.astype(np.int32))[layout])
    same(mesh.vertices, want.vertices, np.float64)
    same(mesh.faces, want.faces, np.int64)
    for got, expected in zip(
        mesh.raycast(layouts(points)[layout], layouts(-points)[layout]),
        want.raycast(points, -points),
    ):
        same(got, expected, expected.dtype)
    for got, expected in zip(
        mesh.closest_points(layouts(points)[layout]), want.closest_points(points)
    ):
        same(got, expected, expected.dtype)


def test_threads_share_one_mesh():
    mesh = ov.Mesh(*icosahedron())
    rng = np.random.default_rng(3)
    origins, directions = rng.normal(size=(2, 4000, 3))
    serial = mesh.raycast(origins, directions), mesh.closest_points(origins)
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        runs = [
            pool.submit(lambda: (mesh.raycast(origins, directions), mesh.closest_points(origins)))
            for _ in range(8)
        ]
        for run in runs:
            for got, expected in zip(sum(run.result(), ()), sum(serial, ())):
                same(got, expected, expected.dtype)


def test_dask_arrays_give_lazy_equal_results():
    da = pytest.importorskip("dask.array")
    mesh = ov.Mesh(*icosahedron(), dtype=np.float32)
    rng = np.random.default_rng(5)
    origins, directions = rng.normal(size=(2, 6, 5, 3))
    t_max = rng.uniform(0, 4, (6, 5))
    # The last axis is split, so it has to be rechunked into one.
    lazy_origins = da.from_array(origins, chunks=(2, 3, 2))
    calls = [
        (lambda o: mesh.raycast(o, directions, t_max), (lazy_origins,)),
        (lambda o: mesh.occluded(o, directions[0], 2.0), (lazy_origins,)),
        (lambda o: mesh.closest_points(o), (lazy_origins,)),
        (lambda o: mesh.contains(o), (lazy_origins,)),
    ]
    for call, lazy in calls:
        result = call(*lazy)
        result = result if isinstance(result, tuple) else (result,)
        assert all(isinstance(r, da.Array) for r in result)
        computed = pickle.loads(pickle.dumps(result))  # as dask.distributed ships it
        want = call(origins)
        for got, expected in zip(computed, want if isinstance(want, tuple) else (want,)):
            same(got.compute(), expected, expected.dtype)
