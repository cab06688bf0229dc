"""Geometry queries of the orvane package: against sampled and brute-force
references, in their degenerate cases, and bit for bit against the header
templates compiled on their own."""

import math

import numpy as np
import pytest

import orvane as ov
from conftest import cls, dtype_of
from cpp_oracle import compile_oracle, encode

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
    vec4, mat4 = cls("Vector4", letter), cls("Matrix4", letter)
    for _ in range(30):
        lo = rng.uniform(-2, 2, 3)
        b = box(letter, lo, lo + rng.uniform(0, 3, 3))
        moved = pose(letter, rng.uniform(-5, 5, 3), rng.normal(size=4) * rng.uniform(0.3, 3))
        matrix = moved.toMatrix() * mat4.Scale(*rng.uniform(-2, 2, 3))

        def through_matrix(c, m=matrix):
            r = m * vec4(c.x, c.y, c.z, 1)
            return [r.x, r.y, r.z]

        for transform, apply in ((moved, lambda c, p=moved: xyz(p.apply(c))),
                                 (matrix, through_matrix)):
            corners = np.array([apply(c) for c in b.computeCorners()])
            result = ov.aabb_transform(b, transform)
            scale = 1 + np.abs(corners).max()
            np.testing.assert_allclose(xyz(result.min), corners.min(axis=0),
                                       atol=TOLERANCE[letter] * scale)
            np.testing.assert_allclose(xyz(result.max), corners.max(axis=0),
                                       atol=TOLERANCE[letter] * scale)


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
    view_projection = (cls("Matrix4", letter).Perspective(50, 1.5, 0.5, 40)
                       * camera.inverse().toMatrix())
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
        beyond = rng.uniform(1.05, 1.5) if k < 4 else (rng.uniform(1.05, 1.5) if k == 4
                                                          else rng.uniform(1.002, 1.02))
        ndc[k // 2] = beyond if k % 2 else -beyond
        outside = world(ndc)
        distances = [p.signedDistanceTo(outside) for p in planes]
        assert distances[k] < 0 and min(np.delete(distances, k)) > 0
        assert ov.classify_aabb(cls("AABB_", letter)(outside, outside), planes) == -1
        lo, hi = np.minimum(xyz(inside), xyz(outside)), np.maximum(xyz(inside), xyz(outside))
        assert ov.classify_aabb(box(letter, lo, hi), planes) == 0


# Degenerate cases, exactly


def test_rays_in_degenerate_and_boundary_cases(letter):
    def v(*p):
        return vec(letter, *p)

    floor = plane(letter, (0, 0, 1), (0, 0, 2))
    assert ov.ray_plane(v(0, 0, 3), v(0, 0, -4), floor) == 0.5
    assert ov.ray_plane(v(0, 0, 3), v(0, 0, 4), floor) is None  # behind
    assert ov.ray_plane(v(0, 0, 1), v(1, 2, 0), floor) is None  # lying in the plane
    assert ov.ray_plane(v(0, 0, 3), v(0, 0, 0), floor) is None  # zero direction
    assert ov.ray_plane(v(0, 0, 3), v(0, 0, 1), plane(letter, (0, 0, 1), (0, 0, 0))) is None
    assert math.copysign(1, ov.ray_plane(v(5, 0, 1), v(0, 0, 1), floor)) == 1
    assert math.copysign(1, ov.ray_plane(v(5, 0, 1), v(0, 0, -1), floor)) == -1

    unit = box(letter, (0, 0, 0), (1, 1, 1))
    cases = [
        ((0.5, 0.5, 0.5), (1, 0, 0), (0, 0.5)),  # inside
        ((-1, -1, -1), (1, 1, 1), (1, 2)),  # through two corners
        ((-1, 1, 1), (1, 0, 0), (1, 2)),  # along an edge
        ((2, 2, 0), (-1, -1, 1), (1, 1)),  # touching one corner
        ((2, 0.5, 0.5), (1, 0, 0), None),  # behind
        ((0.5, 0.5, 0.5), (0, 0, 0), (0, INF)),  # zero direction, inside
        ((2, 0.5, 0.5), (0, 0, 0), None),  # zero direction, outside
        ((-1, 1.5, 0.5), (1, 0, 0), None),  # parallel to a slab, outside it
    ]
    for o, d, expected in cases:
        assert ov.ray_aabb(v(*o), v(*d), unit) == expected, (o, d)
    assert ov.ray_aabb(v(-1, 0.5, 0.5), v(1, 0, 0), box(letter, (1, 0, 0), (0, 1, 1))) is None

    a, b, c = v(0, 0, 0), v(1, 0, 0), v(0, 1, 0)
    down = v(0, 0, -2)
    assert ov.ray_triangle(v(1, 0, 2), down, a, b, c) == (1, 1, 0)  # vertex b
    assert ov.ray_triangle(v(0, 0, 2), down, a, b, c) == (1, 0, 0)  # vertex a
    assert ov.ray_triangle(v(0.5, 0.5, 2), down, a, b, c) == (1, 0.5, 0.5)  # edge b-c
    assert ov.ray_triangle(v(0.25, 0.5, 2), down, a, c, b) == (1, 0.5, 0.25)  # other winding
    assert ov.ray_triangle(v(0.25, 0.25, -1), down, a, b, c) is None  # behind
    assert ov.ray_triangle(v(-1, 0.25, 0), v(1, 0, 0), a, b, c) is None  # in its plane
    assert ov.ray_triangle(v(0.25, 0.25, 2), down, a, b, v(2, 0, 0)) is None  # zero area
    assert ov.ray_triangle(v(0.25, 0.25, 2), v(0, 0, 0), a, b, c) is None


def test_closest_points_in_degenerate_cases(letter):
    def v(*p):
        return vec(letter, *p)

    point = segment(letter, (1, 2, 3), (1, 2, 3))
    axis = segment(letter, (-1, 0, 0), (1, 0, 0))
    pairs = [
        (point, segment(letter, (4, 5, 6), (4, 5, 6)), [[1, 2, 3], [4, 5, 6]]),
        (point, axis, [[1, 2, 3], [1, 0, 0]]),
        (axis, point, [[1, 0, 0], [1, 2, 3]]),
        (axis, segment(letter, (0, -1, 1), (0, 1, 1)), [[0, 0, 0], [0, 0, 1]]),  # crossing
        (segment(letter, (0, 0, 0), (2, 0, 0)), segment(letter, (1, 1, 0), (3, 1, 0)),
         [[1, 0, 0], [1, 1, 0]]),  # parallel, overlapping
        (axis, segment(letter, (3, 1, 0), (5, 1, 0)), [[1, 0, 0], [3, 1, 0]]),  # parallel apart
    ]
    for first, second, expected in pairs:
        assert [xyz(p) for p in ov.closest_points_segments(first, second)] == expected
    assert xyz(ov.closest_point_on_line(point, v(7, 7, 7))) == [1, 2, 3]
    assert xyz(ov.closest_point_on_segment(point, v(7, 7, 7))) == [1, 2, 3]
    assert ov.distance_point_segment(point, v(1, 2, 7)) == 4
    # Beyond an end the end point comes back exactly, not start + d * 1.
    odd = segment(letter, (0.1, 0.2, 0.3), (0.7, -0.9, 1.3))
    assert xyz(ov.closest_point_on_segment(odd, v(5, -9, 9))) == xyz(odd.end)
    assert xyz(ov.closest_point_on_line(axis, v(5, 2, 0))) == [5, 0, 0]  # not clamped


def test_boxes_and_planes_in_degenerate_cases(letter):
    def v(*p):
        return vec(letter, *p)

    unit = box(letter, (0, 0, 0), (1, 1, 1))
    empty = ov.aabb_from_points(np.empty((0, 3)), dtype=dtype_of(letter))
    assert [xyz(empty.min), xyz(empty.max)] == [[INF] * 3, [-INF] * 3]
    assert all(ov.aabb_contains(unit, v(*p)) for p in [(1, 1, 1), (0, 0.5, 0.5), (1, 0, 0.5)])
    assert not ov.aabb_contains(unit, v(1.0001, 0.5, 0.5))
    assert not ov.aabb_contains(unit, v(math.nan, 0.5, 0.5))
    assert not ov.aabb_contains(empty, v(0, 0, 0))
    merged = ov.aabb_union(empty, unit)
    assert [xyz(merged.min), xyz(merged.max)] == [[0] * 3, [1] * 3]
    grown = ov.aabb_expand(empty, v(1, 2, 3))
    assert [xyz(grown.min), xyz(grown.max)] == [[1, 2, 3]] * 2
    assert xyz(ov.aabb_extent(empty)) == [-INF] * 3
    assert xyz(ov.aabb_center(unit)) == [0.5] * 3
    assert all(np.isnan(xyz(ov.aabb_center(cls("AABB_", letter)()))))
    assert all(np.isnan(xyz(ov.aabb_transform(cls("AABB_", letter)(), pose(letter, (0, 0, 0),
                                                                          (1, 0, 0, 0))).min)))

    turned = ov.plane_from_points(v(0, 0, 0), v(1, 0, 0), v(0, 1, 0))
    assert xyz(turned.normal) == [0, 0, 1]  # counter-clockwise seen from the normal side
    assert all(np.isnan(xyz(ov.plane_from_points(v(0, 0, 0), v(1, 1, 1), v(2, 2, 2)).normal)))
    x, y, z = (plane(letter, (1, 2, 3), n) for n in ((2, 0, 0), (0, 1, 0), (0, 0, -3)))
    assert xyz(ov.intersect_planes(x, y, z)) == [1, 2, 3]
    assert ov.intersect_planes(x, plane(letter, (5, 0, 0), (1, 0, 0)), z) is None  # parallel
    assert ov.intersect_planes(x, y, plane(letter, (0, 0, 0), (1, 1, 0))) is None  # one line

    inward = [plane(letter, p, n) for p, n in [
        ((0, 0, 0), (1, 0, 0)), ((1, 1, 1), (-1, 0, 0)), ((0, 0, 0), (0, 1, 0)),
        ((1, 1, 1), (0, -1, 0)), ((0, 0, 0), (0, 0, 1)), ((1, 1, 1), (0, 0, -1))]]
    for lo, hi, expected in [((0, 0, 0), (1, 1, 1), 1), ((1, 0, 0), (2, 1, 1), 0),
                             ((1.5, 0, 0), (2, 1, 1), -1), ((-INF,) * 3, (INF,) * 3, 0)]:
        assert ov.classify_aabb(box(letter, lo, hi), inward) == expected
    assert ov.classify_aabb(empty, tuple(inward)) == -1


# Precision, keywords and errors


def test_precision_follows_the_arguments(letter):
    b, p = box(letter, (0, 0, 0), (1, 1, 1)), vec(letter, 2, 2, 2)
    assert type(ov.aabb_union(b, b)) is cls("AABB_", letter)
    assert [type(q) for q in ov.closest_points_segments(segment(letter, (0, 0, 0), (1, 0, 0)),
                                                        segment(letter, (0, 1, 0), (1, 1, 0)))
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
    # Arrays are cast to float64 unless told otherwise, as NumPy casts.
    assert type(ov.aabb_from_points(np.array(points, np.float32))) is cls("AABB_", "d")
    assert type(ov.aabb_from_points([])) is cls("AABB_", "d")


def test_unusable_arguments_are_refused(letter):
    other = OTHER[letter]
    b, p = box(letter, (0, 0, 0), (1, 1, 1)), vec(letter, 1, 2, 3)
    planes = [cls("Plane_", letter)()] * 6
    six = f"planes must be a sequence of 6 Plane_{letter}"
    refused = [
        (lambda: ov.ray_plane(p, vec(other, 0, 0, 1), planes[0]), TypeError, "incompatible"),
        (lambda: ov.aabb_transform(b, cls("Matrix4", other).Identity()), TypeError,
         "incompatible"),
        (lambda: ov.aabb_expand(b, [1, 2, 3]), TypeError, "incompatible"),
        (lambda: ov.aabb_from_points([p, vec(other, 1, 2, 3)]), TypeError,
         rf"points mix Vector3{letter} with Vector3{other} \(item 1\)"),
        (lambda: ov.aabb_from_points([p], dtype=dtype_of(other)), TypeError,
         f"dtype {np.dtype(dtype_of(other))} does not match the Vector3{letter} points"),
        (lambda: ov.aabb_from_points([[1, 2, 3]], dtype=np.int64), TypeError,
         "dtype must be float32 or float64, not int64"),
        (lambda: ov.aabb_from_points([1, 2, 3]), ValueError,
         r"must have shape \(N, 3\), not \(3,\)"),
        (lambda: ov.classify_aabb(b, planes[:5]), ValueError, f"{six}, got 5 items"),
        (lambda: ov.classify_aabb(b, [*planes[:2], cls("Plane_", other)(), *planes[3:]]),
         TypeError, f"{six}, item 2 is Plane_{other}"),
        (lambda: ov.classify_aabb(b, cls("Matrix4", letter).Identity()), TypeError,
         f"{six}, not Matrix4{letter}"),
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
    "closest_point_on_segment": ("lv", ov.closest_point_on_segment,
                                 "math::closestPointOnSegment<T>"),
    "distance_point_segment": ("lv", ov.distance_point_segment, "math::distancePointSegment<T>"),
    "closest_points_segments": ("ll", ov.closest_points_segments,
                                "math::closestPointsSegments<T>"),
    "aabb_contains": ("bv", ov.aabb_contains, "math::contains<T>"),
    "aabb_union": ("bb", ov.aabb_union, "math::merged<T>"),
    "aabb_expand": ("bv", ov.aabb_expand, "math::expanded<T>"),
    "aabb_center": ("b", ov.aabb_center, "math::center<T>"),
    "aabb_extent": ("b", ov.aabb_extent, "math::extent<T>"),
    "aabb_transform_pose": ("bq", ov.aabb_transform,
                            "[](const B& b, const Q& q) { return math::transformed(b, q); }"),
    "aabb_transform_matrix": ("bm", ov.aabb_transform,
                              "[](const B& b, const M& m) { return math::transformed(b, m); }"),
    "aabb_from_points": (
        "vvvv",
        lambda *ps: ov.aabb_from_points(np.array([xyz(p) for p in ps]),
                                        dtype=dtype_of(type(ps[0]).__name__[-1])),
        "[](V a, V b, V c, V d) { const V ps[] = {a, b, c, d}; return math::boundsOf(ps, 4); }"),
    "plane_from_points": ("vvv", ov.plane_from_points, "math::planeFromPoints<T>"),
    "intersect_planes": ("ppp", ov.intersect_planes, "math::intersectPlanes<T>"),
    "frustum_planes": ("m", ov.frustum_planes, "math::frustumPlanes<T>"),
    "classify_aabb": ("bc", lambda b, m: ov.classify_aabb(b, ov.frustum_planes(m)),
                      "[](const B& b, const M& m) { return classify(b, frustumPlanes(m)); }"),
}
READERS = {"v": "vector", "l": "line", "p": "plane", "b": "box", "q": "pose", "m": "matrix4",
           "c": "matrix4"}


def oracle_source():
    calls = "\n".join(
        f'    if (op == "{op}") call({function}, std::tuple{{'
        + ", ".join(f"in.{READERS[k]}<T>()" for k in kinds) + "});"
        for op, (kinds, _, function) in OPERATIONS.items())
    return f"""
template <class T>
void run(const std::string& op, In& in) {{
    using namespace math;
    using V = Vector3<T>;
    using B = AABB<T>;
    using Q = Pose3d<T>;
    using M = Matrix4<T>;
    // A braced list reads the arguments left to right.
    const auto call = [](auto f, auto args) {{ put(std::apply(f, args)); }};
{calls}
}}
"""


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
        vec(letter, *scalars(3)), vec(letter, *scalars(3)))


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    oracle = compile_oracle(oracle_source(), tmp_path_factory.getbasetemp())
    rng = np.random.default_rng(29)
    cases, results = [], []
    for letter in "fd":
        for op, (kinds, function, _) in OPERATIONS.items():
            for _ in range(20):
                args = [random_argument(rng, letter, k) for k in kinds]
                cases.append((letter, op, args))
                results.append(encode(function(*args), letter))
    for case, expected, got in zip(cases, results, oracle(cases), strict=True):
        assert got == expected, case[:2]
