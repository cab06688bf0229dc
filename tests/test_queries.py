"""Geometry queries of the orvane package: against sampled and brute-force
references, in their degenerate cases, and bit for bit against the header
templates compiled on their own."""

import math

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import assert_python_equals_templates

import orvane as ov

OTHER = {"f": "d", "d": "f"}
TOLERANCE = {"f": 2e-4, "d": 1e-9}
INF = math.inf


def vec(letter, *xyz):
    return cls("Vector3", letter)(*xyz)


def xyz(v):
    return [v.x, v.y, v.z]


def box(letter, lo, hi):
    return cls("AABB_", letter)(vec(letter, *lo), vec(letter, *hi))


def segment(letter, a, b):
    return cls("Line_", letter)(vec(letter, *a), vec(letter, *b))


def plane(letter, point, normal):
    return cls("Plane_", letter)(vec(letter, *point), vec(letter, *normal))


def pose(letter, position, wxyz):
    """A pose holding the orientation exactly as given, unnormalized."""
    p = cls("Pose3d_", letter)()
    p.position = vec(letter, *position)
    p.orientation = cls("Quaternion", letter)(*wxyz)
    return p


def rounded(letter, values):
    return np.asarray(values, dtype_of(letter)).astype(float)


# Closest points against dense sampling


def test_closest_points_match_dense_sampling(letter):
    rng = np.random.default_rng(5)
    tol = TOLERANCE[letter]
    s = np.linspace(0, 1, 401)[:, None]
    for k in range(40):
        a, b, c, d = rounded(letter, rng.uniform(-3, 3, (4, 3)))
        if k % 4 == 1:
            b = a  # zero length
        elif k % 4 == 2:
            d = rounded(letter, c + (b - a) * rng.uniform(-2, 2))  # parallel
        first, second = segment(letter, a, b), segment(letter, c, d)
        on_first, on_second = a + s * (b - a), c + s * (d - c)
        sampled = np.linalg.norm(on_first[:, None] - on_second[None], axis=2).min()

        p1, p2 = ov.closest_points_segments(first, second)
        assert np.linalg.norm(np.subtract(xyz(p1), xyz(p2))) <= sampled + tol
        for p, lo, hi in ((p1, a, b), (p2, c, d)):  # on its segment
            on = np.linalg.norm(np.subtract(xyz(p), lo)) + np.linalg.norm(np.subtract(xyz(p), hi))
            assert on <= np.linalg.norm(hi - lo) + tol

        p = vec(letter, *rounded(letter, rng.uniform(-4, 4, 3)))
        nearest = np.linalg.norm(on_first - xyz(p), axis=1).min()
        q = ov.closest_point_on_segment(first, p)
        distance = ov.distance_point_segment(first, p)
        assert distance == pytest.approx(np.linalg.norm(np.subtract(xyz(p), xyz(q))), abs=tol)
        assert nearest - 0.02 <= distance <= nearest + tol
        on_line = np.subtract(xyz(ov.closest_point_on_line(first, p)), a)
        assert abs(np.dot(np.subtract(xyz(p), a) - on_line, b - a)) <= tol * 10
        assert np.linalg.norm(np.cross(on_line, b - a)) <= tol * 10


# Transformed boxes against their eight moved corners


def test_box_transform_bounds_the_moved_corners(letter):
    rng = np.random.default_rng(9)
    for _ in range(30):
        lo = rng.uniform(-2, 2, 3)
        b = box(letter, lo, lo + rng.uniform(0, 3, 3))
        moved = pose(letter, rng.uniform(-5, 5, 3), rng.normal(size=4) * rng.uniform(0.3, 3))
        matrix = moved.toMatrix() * cls("Matrix4", letter).Scale(*rng.uniform(-2, 2, 3))
        rows = np.array([[matrix[i, j] for j in range(4)] for i in range(3)])
        corners = [xyz(c) for c in b.computeCorners()]
        for transform, moved_corners in (
            (moved, np.array([xyz(moved.apply(vec(letter, *c))) for c in corners])),
            (matrix, np.array([rows @ [*c, 1] for c in corners])),
        ):
            result = ov.aabb_transform(b, transform)
            tol = TOLERANCE[letter] * (1 + np.abs(moved_corners).max())
            np.testing.assert_allclose(xyz(result.min), moved_corners.min(axis=0), atol=tol)
            np.testing.assert_allclose(xyz(result.max), moved_corners.max(axis=0), atol=tol)


# Ray hits against the equations of what they hit


def test_ray_plane_hits_lie_on_the_plane_ahead(letter):
    rng = np.random.default_rng(13)
    for _ in range(100):
        o, d, point, normal = rounded(letter, rng.uniform(-3, 3, (4, 3)))
        target = plane(letter, point, normal)
        t = ov.ray_plane(vec(letter, *o), vec(letter, *d), target)
        # Ahead when the origin's side and the direction disagree.
        ahead = target.signedDistanceTo(vec(letter, *o)) * np.dot(d, normal) <= 0
        assert (t is not None) == ahead
        if t is not None:
            hit = vec(letter, *(o + d * t))
            assert abs(target.signedDistanceTo(hit)) <= TOLERANCE[letter] * (1 + t) * 30


def test_ray_box_interval_matches_sampling(letter):
    rng = np.random.default_rng(17)
    ts = np.linspace(0, 8, 4001)
    margin = 1e-3
    for k in range(80):
        lo = rounded(letter, rng.uniform(-2, 1, 3))
        hi = rounded(letter, lo + rng.uniform(0.2, 2, 3))
        o = rounded(letter, rng.uniform(-4, 4, 3))
        aim = rng.uniform(lo, hi) if k % 2 else rng.uniform(-4, 4, 3)
        d = rounded(letter, (aim - o) * rng.uniform(0.5, 2))
        hit = ov.ray_aabb(vec(letter, *o), vec(letter, *d), box(letter, lo, hi))
        points = o + ts[:, None] * d
        inside = np.all((points >= lo + margin) & (points <= hi - margin), axis=1)
        outside = np.any((points < lo - margin) | (points > hi + margin), axis=1)
        if hit is None:
            assert not inside.any()
            continue
        near, far = hit
        assert 0 <= near <= far
        assert not (inside & ((ts < near) | (ts > far))).any()
        assert not (outside & (ts >= near) & (ts <= far)).any()


def test_ray_triangle_finds_the_aimed_point(letter):
    rng = np.random.default_rng(19)
    tol = TOLERANCE[letter] * 50
    for k in range(150):
        a, b, c, o = rounded(letter, rng.uniform(-3, 3, (4, 3)))
        u, v = rng.uniform(-0.5, 1.2, 2)
        target = a + (b - a) * u + (c - a) * v
        # Aimed at the target, t = 1; every third ray points away from it.
        d = rounded(letter, (target - o) * (-1 if k % 3 == 0 else 1))
        inside = u >= 0 and v >= 0 and u + v <= 1
        margin = min(abs(u), abs(v), abs(1 - u - v))
        if margin < 0.01:
            continue
        hit = ov.ray_triangle(*(vec(letter, *p) for p in (o, d, a, b, c)))
        if k % 3 == 0 or not inside:
            assert hit is None
        else:
            assert hit == pytest.approx((1, u, v), abs=tol)


# Frustum planes against sampled clip-space points


def test_frustum_planes_keep_inside_points_and_cut_outside_ones(letter):
    rng = np.random.default_rng(23)
    camera = pose(letter, (1, 2, 3), (0.9, -0.2, 0.4, 0.1))
    view_projection = (
        cls("Matrix4", letter).Perspective(50, 1.5, 0.5, 40) * camera.inverse().toMatrix()
    )
    planes = ov.frustum_planes(view_projection)
    assert [type(p) for p in planes] == [cls("Plane_", letter)] * 6
    assert [p.normal.norm() for p in planes] == pytest.approx([1] * 6, abs=1e-6)
    to_world = np.linalg.inv([[view_projection[i, j] for j in range(4)] for i in range(4)])

    def world(ndc):
        h = to_world @ [*ndc, 1]
        return vec(letter, *(h[:3] / h[3]))

    tol = TOLERANCE[letter] * 10
    for _ in range(100):
        inside = world(rng.uniform(-0.98, 0.98, 3))
        assert min(p.signedDistanceTo(inside) for p in planes) >= -tol
        assert ov.classify_aabb(cls("AABB_", letter)(inside, inside), planes) == 1
        # Beyond face k only: left, right, bottom, top, near, far.
        k = rng.integers(6)
        ndc = rng.uniform(-0.9, 0.9, 3)
        beyond = (
            rng.uniform(1.05, 1.5)
            if k < 4
            else (rng.uniform(1.05, 1.5) if k == 4 else rng.uniform(1.002, 1.02))
        )
        ndc[k // 2] = beyond if k % 2 else -beyond
        outside = world(ndc)
        distances = [p.signedDistanceTo(outside) for p in planes]
        assert distances[k] < 0 and min(np.delete(distances, k)) > 0
        assert ov.classify_aabb(cls("AABB_", letter)(outside, outside), planes) == -1
        lo, hi = np.minimum(xyz(inside), xyz(outside)), np.maximum(xyz(inside), xyz(outside))
        assert ov.classify_aabb(box(letter, lo, hi), planes) == 0


# Degenerate and boundary cases, exactly

FLOOR = ((0, 0, 1), (0, 0, 2))  # the plane z = 1, its normal of length 2
UNIT = ((0, 0, 0), (1, 1, 1))
EMPTY = ((INF,) * 3, (-INF,) * 3)
ALL_SPACE = ((-INF,) * 3, (INF,) * 3)
TRIANGLE = ((0, 0, 0), (1, 0, 0), (0, 1, 0))
DOWN = (0, 0, -2)
POINT = ((1, 2, 3), (1, 2, 3))  # a zero-length segment
AXIS = ((-1, 0, 0), (1, 0, 0))
NAN3 = [math.nan] * 3
INWARD = [
    ((0, 0, 0), (1, 0, 0)),
    (UNIT[1], (-1, 0, 0)),
    ((0, 0, 0), (0, 1, 0)),
    (UNIT[1], (0, -1, 0)),
    ((0, 0, 0), (0, 0, 1)),
    (UNIT[1], (0, 0, -1)),
]
DEGENERATE = [
    ("ray_plane", "vvp", ((0, 0, 3), (0, 0, -4), FLOOR), 0.5),
    ("ray_plane", "vvp", ((0, 0, 3), (0, 0, 4), FLOOR), None),  # behind
    ("ray_plane", "vvp", ((0, 0, 1), (1, 2, 0), FLOOR), None),  # lying in the plane
    ("ray_plane", "vvp", ((0, 0, 3), (0, 0, 0), FLOOR), None),  # zero direction
    ("ray_plane", "vvp", ((0, 0, 3), (0, 0, 1), ((0, 0, 1), (0, 0, 0))), None),  # zero normal
    ("ray_plane", "vvp", ((5, 0, 1), (0, 0, 1), FLOOR), 0.0),  # on the plane
    ("ray_plane", "vvp", ((5, 0, 1), (0, 0, -1), FLOOR), -0.0),  # ... against the normal
    ("ray_aabb", "vvb", ((0.5, 0.5, 0.5), (1, 0, 0), UNIT), (0, 0.5)),  # inside
    ("ray_aabb", "vvb", ((-1, -1, -1), (1, 1, 1), UNIT), (1, 2)),  # through two corners
    ("ray_aabb", "vvb", ((-1, 1, 1), (1, 0, 0), UNIT), (1, 2)),  # along an edge
    ("ray_aabb", "vvb", ((2, 2, 0), (-1, -1, 1), UNIT), (1, 1)),  # touching one corner
    ("ray_aabb", "vvb", ((2, 0.5, 0.5), (1, 0, 0), UNIT), None),  # behind
    ("ray_aabb", "vvb", ((0.5, 0.5, 0.5), (0, 0, 0), UNIT), (0, INF)),  # zero direction
    ("ray_aabb", "vvb", ((2, 0.5, 0.5), (0, 0, 0), UNIT), None),  # ... from outside
    ("ray_aabb", "vvb", ((-1, 1.5, 0.5), (1, 0, 0), UNIT), None),  # beside a slab
    ("ray_aabb", "vvb", ((-1, 0.5, 0.5), (1, 0, 0), ((1, 0, 0), (0, 1, 1))), None),  # inverted
    ("ray_triangle", "vvvvv", ((1, 0, 2), DOWN, *TRIANGLE), (1, 1, 0)),  # vertex b
    ("ray_triangle", "vvvvv", ((0, 0, 2), DOWN, *TRIANGLE), (1, 0, 0)),  # vertex a
    ("ray_triangle", "vvvvv", ((0.5, 0.5, 2), DOWN, *TRIANGLE), (1, 0.5, 0.5)),  # edge b-c
    ("ray_triangle", "vvvvv", ((0.25, 0.5, 2), DOWN, *TRIANGLE[::-1]), (1, 0.25, 0.25)),
    ("ray_triangle", "vvvvv", ((0.25, 0.25, -1), DOWN, *TRIANGLE), None),  # behind
    ("ray_triangle", "vvvvv", ((-1, 0.25, 0), (1, 0, 0), *TRIANGLE), None),  # in its plane
    ("ray_triangle", "vvvvv", ((0.2, 0.2, 2), DOWN, *TRIANGLE[:2], (2, 0, 0)), None),  # no area
    ("ray_triangle", "vvvvv", ((0.2, 0.2, 2), (0, 0, 0), *TRIANGLE), None),  # zero direction
    ("closest_points_segments", "ll", (POINT, ((4, 5, 6),) * 2), [[1, 2, 3], [4, 5, 6]]),
    ("closest_points_segments", "ll", (POINT, AXIS), [[1, 2, 3], [1, 0, 0]]),
    ("closest_points_segments", "ll", (AXIS, POINT), [[1, 0, 0], [1, 2, 3]]),
    ("closest_points_segments", "ll", (AXIS, ((0, -1, 1), (0, 1, 1))), [[0, 0, 0], [0, 0, 1]]),
    (
        "closest_points_segments",
        "ll",
        (((0, 0, 0), (2, 0, 0)), ((1, 1, 0), (3, 1, 0))),
        [[1, 0, 0], [1, 1, 0]],
    ),  # parallel, overlapping
    (
        "closest_points_segments",
        "ll",
        (AXIS, ((3, 1, 0), (5, 1, 0))),
        [[1, 0, 0], [3, 1, 0]],
    ),  # parallel, apart
    ("closest_point_on_line", "lv", (POINT, (7, 7, 7)), [1, 2, 3]),
    ("closest_point_on_line", "lv", (AXIS, (5, 2, 0)), [5, 0, 0]),  # not clamped
    ("closest_point_on_segment", "lv", (POINT, (7, 7, 7)), [1, 2, 3]),
    # Beyond an end the end point comes back exactly, not start + d * 1.
    (
        "closest_point_on_segment",
        "lv",
        (((0.1, 0.2, 0.3), (0.7, -0.9, 1.3)), (5, -9, 9)),
        [0.7, -0.9, 1.3],
    ),
    ("distance_point_segment", "lv", (POINT, (1, 2, 7)), 4),
    ("aabb_contains", "bv", (UNIT, (1, 1, 1)), True),  # a corner
    ("aabb_contains", "bv", (UNIT, (1, 0, 0.5)), True),  # an edge
    ("aabb_contains", "bv", (UNIT, (1.0001, 0.5, 0.5)), False),
    ("aabb_contains", "bv", (UNIT, (math.nan, 0.5, 0.5)), False),
    ("aabb_contains", "bv", (EMPTY, (0, 0, 0)), False),
    ("aabb_from_points", "a", ([],), [[INF] * 3, [-INF] * 3]),
    ("aabb_union", "bb", (EMPTY, UNIT), [[0] * 3, [1] * 3]),
    ("aabb_expand", "bv", (EMPTY, (1, 2, 3)), [[1, 2, 3]] * 2),
    ("aabb_extent", "b", (EMPTY,), [-INF] * 3),
    ("aabb_center", "b", (ALL_SPACE,), NAN3),
    ("aabb_transform", "bq", (ALL_SPACE, ((0, 0, 0), (1, 0, 0, 0))), [NAN3, NAN3]),
    # Counter-clockwise seen from the normal side.
    ("plane_from_points", "vvv", TRIANGLE, [[0, 0, 0], [0, 0, 1]]),
    ("plane_from_points", "vvv", ((0, 0, 0), (1, 1, 1), (2, 2, 2)), [[0, 0, 0], NAN3]),
    (
        "intersect_planes",
        "ppp",
        (((1, 2, 3), (2, 0, 0)), ((1, 2, 3), (0, 1, 0)), ((1, 2, 3), (0, 0, -3))),
        [1, 2, 3],
    ),
    (
        "intersect_planes",
        "ppp",
        (((1, 2, 3), (2, 0, 0)), ((5, 0, 0), (1, 0, 0)), FLOOR),
        None,
    ),  # parallel
    (
        "intersect_planes",
        "ppp",
        (((1, 2, 3), (2, 0, 0)), ((1, 2, 3), (0, 1, 0)), ((0, 0, 0), (1, 1, 0))),
        None,
    ),  # through one line
    ("classify_aabb", "bP", (UNIT, INWARD), 1),  # touching every plane from inside
    ("classify_aabb", "bP", (((1, 0, 0), (2, 1, 1)), INWARD), 0),  # touching from outside
    ("classify_aabb", "bP", (((1.5, 0, 0), (2, 1, 1)), INWARD), -1),
    ("classify_aabb", "bP", (ALL_SPACE, INWARD), 0),
    ("classify_aabb", "bP", (EMPTY, INWARD), -1),
]


def argument(letter, kind, raw):
    if kind == "v":
        return vec(letter, *raw)
    if kind == "q":
        return pose(letter, *raw)
    if kind == "P":
        return [plane(letter, *r) for r in raw]
    makers = {"l": segment, "p": plane, "b": box}
    return makers[kind](letter, *raw) if kind in makers else raw


def plain(value, bare=True):
    """Vectors, planes, boxes and tuples of them as nested lists; only a bare
    number keeps the sign of a zero."""
    for fields in (("x", "y", "z"), ("point", "normal"), ("min", "max")):
        if all(hasattr(value, f) for f in fields):
            return [plain(getattr(value, f), False) for f in fields]
    if isinstance(value, tuple):
        return [plain(v, False) for v in value]
    return value + 0.0 if isinstance(value, float) and not bare else value


@pytest.mark.parametrize(
    "name,kinds,raw,expected",
    DEGENERATE,
    ids=[f"{case[0]}-{k}" for k, case in enumerate(DEGENERATE)],
)
def test_degenerate_and_boundary_cases(letter, name, kinds, raw, expected):
    args = [argument(letter, k, r) for k, r in zip(kinds, raw, strict=True)]
    if expected is not None and name != "classify_aabb":
        expected = np.asarray(expected, dtype_of(letter)).astype(float).tolist()
    np.testing.assert_equal(plain(getattr(ov, name)(*args)), expected)


# Precision, keywords and errors


def test_precision_follows_the_arguments(letter):
    b, p = box(letter, (0, 0, 0), (1, 1, 1)), vec(letter, 2, 2, 2)
    assert type(ov.aabb_union(b, b)) is cls("AABB_", letter)
    assert [
        type(q)
        for q in ov.closest_points_segments(
            segment(letter, (0, 0, 0), (1, 0, 0)), segment(letter, (0, 1, 0), (1, 1, 0))
        )
    ] == [cls("Vector3", letter)] * 2
    transform = cls("Matrix4", letter).Identity()
    assert type(ov.aabb_transform(box=b, transform=transform)) is cls("AABB_", letter)
    assert ov.ray_aabb(origin=p, direction=vec(letter, -1, -1, -1), box=b) == (1, 2)

    points = [[0.1, 5, -1], [2, -3, 4], [1, 1, 1]]
    expected = rounded(letter, [[0.1, -3, -1], [2, 5, 4]]).tolist()
    fortran = np.array(points).T.copy().T
    for given in (points, fortran, np.array(points, dtype_of(letter))):
        made = ov.aabb_from_points(points=given, dtype=dtype_of(letter))
        assert type(made) is cls("AABB_", letter)
        assert [xyz(made.min), xyz(made.max)] == expected
    made = ov.aabb_from_points([vec(letter, *p) for p in points])
    assert type(made) is cls("AABB_", letter)
    assert [xyz(made.min), xyz(made.max)] == expected
    assert type(ov.aabb_from_points([])) is cls("AABB_", "d")


class PointArray(np.ndarray):
    pass


def vector_subclass_points(letter, points):
    point = type("Point", (cls("Vector3", letter),), {})
    return [vec(letter, *points[0]), *(point(*p) for p in points[1:])]


# Points given in each form, and the precision of the box they make without
# dtype= (None: the precision given).
POINT_FORMS = {
    "array": (lambda l, ps: np.array(ps, dtype_of(l)), None),
    "array subclass": (lambda l, ps: np.array(ps, dtype_of(l)).view(PointArray), None),
    "vectors of a subclass": (vector_subclass_points, None),
    "list": (lambda l, ps: ps, "d"),
    "int16 array": (lambda l, ps: np.array(ps, np.int16), "d"),
    "float16 array": (lambda l, ps: np.array(ps, np.float16), "d"),
}


@pytest.mark.parametrize("form", POINT_FORMS)
def test_aabb_from_points_keeps_the_precision_of_float_arrays_and_vectors(form, letter):
    make, precision = POINT_FORMS[form]
    points = [[1, 5, -1], [2, -3, 4], [0, 1, 1]]
    made = ov.aabb_from_points(make(letter, points))
    assert type(made) is cls("AABB_", precision or letter)
    assert [xyz(made.min), xyz(made.max)] == [[0, -3, -1], [2, 5, 4]]
    if not form.startswith("vectors"):  # dtype= overrides the array's own
        assert type(ov.aabb_from_points(make(letter, points), dtype=dtype_of(letter))) is cls(
            "AABB_", letter
        )


def test_unusable_arguments_are_refused(letter):
    other = OTHER[letter]
    b, p = box(letter, (0, 0, 0), (1, 1, 1)), vec(letter, 1, 2, 3)
    planes = [cls("Plane_", letter)()] * 6
    six = f"planes must be a sequence of 6 Plane_{letter}"
    refused = [
        (
            lambda: ov.ray_plane(p, vec(other, 0, 0, 1), planes[0]),
            TypeError,
            "precisions do not mix",
        ),
        (lambda: ov.aabb_transform(b, cls("Matrix4", other).Identity()), TypeError, "incompatible"),
        (lambda: ov.aabb_expand(b, [1, 2]), ValueError, "p has 2 numbers; it takes 3"),
        (
            lambda: ov.aabb_from_points([p, vec(other, 1, 2, 3)]),
            TypeError,
            rf"points mix Vector3{letter} with Vector3{other} \(item 1\)",
        ),
        (
            lambda: ov.aabb_from_points([p], dtype=dtype_of(other)),
            TypeError,
            f"dtype {np.dtype(dtype_of(other))} does not match the Vector3{letter} points",
        ),
        (
            lambda: ov.aabb_from_points([[1, 2, 3]], dtype=np.int64),
            TypeError,
            "dtype must be float32 or float64, not int64",
        ),
        (
            lambda: ov.aabb_from_points([1, 2, 3]),
            ValueError,
            r"must have shape \(N, 3\), not \(3,\)",
        ),
        (
            lambda: ov.aabb_from_points(np.ma.masked_array(np.ones((2, 3)), [[0] * 3, [1] * 3])),
            ValueError,
            r"masked values.*numpy\.ma\.compress_rows\(points\)",
        ),
        (lambda: ov.classify_aabb(b, planes[:5]), ValueError, f"{six}, got 5 items"),
        (
            lambda: ov.classify_aabb(b, [*planes[:2], cls("Plane_", other)(), *planes[3:]]),
            TypeError,
            f"{six}, item 2 is Plane_{other}",
        ),
        (
            lambda: ov.classify_aabb(b, cls("Matrix4", letter).Identity()),
            TypeError,
            f"{six}, not Matrix4{letter}",
        ),
    ]
    for call, error, message in refused:
        with pytest.raises(error, match=message):
            call()


# The Python results are the header templates' results, bit for bit

# Per function: argument kinds (v vector, l line, p plane, b box, q pose,
# m matrix, c camera: a view-projection whose frustum the boxes meet in every
# way), the Python call and the C++ callable.
OPERATIONS = {
    "ray_plane": ("vvp", ov.ray_plane, "math::rayPlane<T>"),
    "ray_aabb": ("vvb", ov.ray_aabb, "math::rayAabb<T>"),
    "ray_triangle": ("vvvvv", ov.ray_triangle, "math::rayTriangle<T>"),
    "closest_point_on_line": ("lv", ov.closest_point_on_line, "math::closestPointOnLine<T>"),
    "closest_point_on_segment": (
        "lv",
        ov.closest_point_on_segment,
        "math::closestPointOnSegment<T>",
    ),
    "distance_point_segment": ("lv", ov.distance_point_segment, "math::distancePointSegment<T>"),
    "closest_points_segments": ("ll", ov.closest_points_segments, "math::closestPointsSegments<T>"),
    "aabb_contains": ("bv", ov.aabb_contains, "math::contains<T>"),
    "aabb_union": ("bb", ov.aabb_union, "math::merged<T>"),
    "aabb_expand": ("bv", ov.aabb_expand, "math::expanded<T>"),
    "aabb_center": ("b", ov.aabb_center, "math::center<T>"),
    "aabb_extent": ("b", ov.aabb_extent, "math::extent<T>"),
    "aabb_transform_pose": (
        "bq",
        ov.aabb_transform,
        "[](const B& b, const Q& q) { return math::transformed(b, q); }",
    ),
    "aabb_transform_matrix": (
        "bm",
        ov.aabb_transform,
        "[](const B& b, const M& m) { return math::transformed(b, m); }",
    ),
    "aabb_from_points": (
        "vvvv",
        lambda *ps: ov.aabb_from_points(
            np.array([xyz(p) for p in ps]), dtype=dtype_of(type(ps[0]).__name__[-1])
        ),
        "[](V a, V b, V c, V d) { const V ps[] = {a, b, c, d}; return math::boundsOf(ps, 4); }",
    ),
    "plane_from_points": ("vvv", ov.plane_from_points, "math::planeFromPoints<T>"),
    "intersect_planes": ("ppp", ov.intersect_planes, "math::intersectPlanes<T>"),
    "frustum_planes": ("m", ov.frustum_planes, "math::frustumPlanes<T>"),
    "classify_aabb": (
        "bc",
        lambda b, m: ov.classify_aabb(b, ov.frustum_planes(m)),
        "[](const B& b, const M& m) { return classify(b, frustumPlanes(m)); }",
    ),
}
READERS = {
    "v": "vector",
    "l": "line",
    "p": "plane",
    "b": "box",
    "q": "pose",
    "m": "matrix4",
    "c": "matrix4",
}


ALIASES = """    using V = Vector3<T>;
    using B = AABB<T>;
    using Q = Pose3d<T>;
    using M = Matrix4<T>;"""


def random_argument(rng, letter, kind):
    def scalars(n):
        # Small integers half of the time, so that exact ties, parallels
        # and zero lengths come up.
        values = rng.integers(-2, 3, n) if rng.random() < 0.5 else rng.uniform(-3, 3, n)
        return [float(x) for x in rounded(letter, values)]

    if kind == "v":
        return vec(letter, *scalars(3))
    if kind == "q":
        return pose(letter, scalars(3), scalars(4))
    if kind == "m":
        return cls("Matrix4", letter)(*scalars(16))
    if kind == "c":
        # Some 6 away on +z, turned a little, looking back at the origin.
        eye = pose(letter, np.add(scalars(3), (0, 0, 6)), [8, *scalars(3)])
        return cls("Matrix4", letter).Perspective(60, 1.5, 0.5, 9) * eye.inverse().toMatrix()
    return cls({"l": "Line_", "p": "Plane_", "b": "AABB_"}[kind], letter)(
        vec(letter, *scalars(3)), vec(letter, *scalars(3))
    )


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    assert_python_equals_templates(
        OPERATIONS,
        READERS,
        ALIASES,
        random_argument,
        tmp_path_factory.getbasetemp(),
        seed=29,
        per_operation=20,
    )
