"""Triangles and spheres: batch against per object, against NumPy references,
under scaling by powers of two, and against the header templates."""

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import assert_python_equals_templates

import orvane as ov
import orvane.arrays as oa

BITS = {"f": np.uint32, "d": np.uint64}
# 2^k that take the coordinates past the plain formula's range, both ways,
# and (last) to where differences of coordinates overflow.
SCALES = {"f": (-100, 40, 124), "d": (-900, 300, 1020)}


def triangles(letter, n=150, seed=3):
    """Rows (p, a, b, c): random, then coinciding, collinear and slender
    triangles, points on vertices and NaN."""
    rng = np.random.default_rng(seed)
    p, a, b, c = rng.uniform(-2, 2, (4, n, 3))
    c[::7] = a[::7]
    b[1::7] = a[1::7]
    c[2::7] = a[2::7] + 2 * (b[2::7] - a[2::7])
    c[3::7] = a[3::7] + 1e-6 * (b[3::7] - a[3::7]) + 1e-9
    p[4::7] = b[4::7]
    p[5::7] = (a[5::7] + b[5::7] + c[5::7]) / 3 + 1e-3
    p[6::49] = np.nan
    return [x.astype(dtype_of(letter)) for x in (p, a, b, c)]


def vec(letter, x):
    return cls("Vector3", letter)(*map(float, x))


def bits(x, letter):
    return np.asarray(x, dtype_of(letter)).view(BITS[letter])


def spheres(letter, n=150, seed=4):
    """Rows (origin, direction, center, radius), with tangent rays, origins
    inside and on the sphere, zero directions and radii, and NaN."""
    rng = np.random.default_rng(seed)
    o, d, c = rng.uniform(-3, 3, (3, n, 3))
    r = rng.uniform(0, 2, n)
    o[::6, 2], d[::6], c[::6], r[::6] = -5, (0, 0, 1), (0, 0, 0), 1
    o[::6, :2] = (0, 1)  # tangent at (0, 1, 0)
    o[1::6] = c[1::6]
    o[2::6] = c[2::6]
    o[2::6, 0] += r[2::6]
    d[3::12] = 0
    r[4::6] = 0
    o[5::36] = np.nan
    dtype = dtype_of(letter)
    return [x.astype(dtype) for x in (o, d, c)] + [r.astype(dtype)]


@pytest.mark.parametrize("letter", "fd")
@np.errstate(invalid="ignore")  # NaN rows
def test_batch_equals_per_object_bit_for_bit(letter):
    p, a, b, c = triangles(letter)
    o, d, center, r = spheres(letter)
    nan, inf = np.nan, np.inf
    got = oa.closest_point_on_triangle(p, a, b, c)
    rays = oa.ray_triangle(p, a - p, a, b, c)
    through = oa.ray_sphere(o, d, center, r)
    for k in range(len(p)):
        v = [vec(letter, x[k]) for x in (p, a, b, c)]
        assert (
            bits(got[k], letter) == bits(list(ov.closest_point_on_triangle(*v)[0]), letter)
        ).all()
        hit = ov.ray_triangle(v[0], v[1] - v[0], *v[1:])
        expected = (inf, nan, nan) if hit is None else hit
        assert (bits(rays[k], letter) == bits(expected, letter)).all()
        hit = ov.ray_sphere(*(vec(letter, x[k]) for x in (o, d, center)), float(r[k]))
        expected = (inf, -inf) if hit is None else hit
        assert (bits(through[k], letter) == bits(expected, letter)).all()
    assert got.dtype == rays.dtype == through.dtype == dtype_of(letter)


def nearest_reference(p, a, b, c):
    """The nearest point of the triangle in float64: the projection when it
    falls inside, else the nearest of the three edges."""
    p, a, b, c = (np.asarray(x, float) for x in (p, a, b, c))
    candidates = []
    for x, y in ((a, b), (a, c), (b, c)):
        d = y - x
        s = np.clip(np.dot(p - x, d) / np.dot(d, d), 0, 1) if np.dot(d, d) > 0 else 0.0
        candidates.append(x + d * s)
    n = np.cross(b - a, c - a)
    if np.dot(n, n) > 1e-24 * np.dot(b - a, b - a) * np.dot(c - a, c - a):
        q = p - n * np.dot(p - a, n) / np.dot(n, n)
        w = [np.dot(n, np.cross(y - x, q - x)) for x, y in ((b, c), (c, a), (a, b))]
        if min(w) >= 0:
            candidates.append(q)
    return min(candidates, key=lambda x: np.linalg.norm(p - x))


@pytest.mark.parametrize("letter", "fd")
def test_triangle_functions_against_numpy(letter):
    tol = {"f": 2e-5, "d": 1e-12}[letter]
    for row in zip(*triangles(letter)):
        v = [vec(letter, x) for x in row]
        point, weights = ov.closest_point_on_triangle(*v)
        p, a, b, c = (np.asarray(x, float) for x in row)
        if np.isnan(p).any():
            assert np.isnan([*point, *weights]).all()
            continue
        got, ref = np.array([*point]), nearest_reference(p, a, b, c)
        assert np.linalg.norm(p - got) <= np.linalg.norm(p - ref) + tol * 4
        box = np.array([a, b, c])
        assert (box.min(0) <= got).all() and (got <= box.max(0)).all()
        assert np.allclose(a * weights[0] + b * weights[1] + c * weights[2], got, atol=tol * 4)
        n, area = np.cross(b - a, c - a), ov.triangle_area(*v[1:])
        assert area == pytest.approx(np.linalg.norm(n) / 2, rel=tol, abs=tol)
        u = np.array([*ov.barycentric(*v)])
        if np.linalg.norm(n) > 1e-3:
            normal = np.array([*ov.triangle_normal(*v[1:])])
            assert np.allclose(normal, n / np.linalg.norm(n), atol=tol)
            q = p - n * np.dot(p - a, n) / np.dot(n, n)
            assert np.allclose(u @ box, q, atol=tol * 10) and u.sum() == pytest.approx(1)
        elif not n.any():
            assert np.isnan(u).all() and np.isnan([*ov.triangle_normal(*v[1:])]).all()


@pytest.mark.parametrize("letter", "fd")
@np.errstate(invalid="ignore")
def test_scaling_by_powers_of_two_keeps_the_bits(letter):
    """Past the plain formula's range the operations scale by powers of two,
    so their results are those of the unscaled input, scaled, bit for bit."""
    dtype = dtype_of(letter)
    rows = triangles(letter, n=49)
    spheres_rows = spheres(letter, n=36)
    for k in SCALES[letter]:
        s = dtype(2.0**k)
        got = oa.closest_point_on_triangle(*(x * s for x in rows))
        assert (bits(got, letter) == bits(oa.closest_point_on_triangle(*rows) * s, letter)).all()
        for row in zip(*rows):
            v, w = [vec(letter, x) for x in row], [vec(letter, x * s) for x in row]
            assert (
                bits(ov.closest_point_on_triangle(*v)[1], letter)
                == bits(ov.closest_point_on_triangle(*w)[1], letter)
            ).all()
            assert (
                bits(ov.barycentric(*v), letter).tolist()
                == bits(ov.barycentric(*w), letter).tolist()
            )
            assert (
                bits(list(ov.triangle_normal(*v[1:])), letter).tolist()
                == bits(list(ov.triangle_normal(*w[1:])), letter).tolist()
            )
            if k != SCALES[letter][-1]:  # the area itself overflows there
                area = ov.triangle_area(*v[1:]) * 2.0 ** (2 * k)
                assert bits(ov.triangle_area(*w[1:]), letter) == bits(area, letter)
        o, d, center, r = spheres_rows
        lengths = oa.ray_sphere(o * s, d * s, center * s, r * s)
        assert (bits(lengths, letter) == bits(oa.ray_sphere(o, d, center, r), letter)).all()
        j = k // 3
        t = oa.ray_sphere(o, d * dtype(2.0**j), center, r)
        assert (
            bits(t, letter) == bits(oa.ray_sphere(o, d, center, r) * dtype(2.0**-j), letter)
        ).all()


@pytest.mark.parametrize("letter", "fd")
def test_ray_sphere_against_the_quadratic_formula(letter):
    for o, d, c, r in zip(*spheres(letter)):
        hit = ov.ray_sphere(*(vec(letter, x) for x in (o, d, c)), float(r))
        f, d = (np.asarray(x, np.longdouble) for x in (o - c, d))
        a, b, cc = d @ d, 2 * f @ d, f @ f - np.longdouble(r) ** 2
        disc = b * b - 4 * a * cc
        if np.isnan(disc) or a == 0 or disc < -1e-9:
            assert hit is None
            continue
        roots = (-b - np.sqrt(max(disc, 0))) / (2 * a), (-b + np.sqrt(max(disc, 0))) / (2 * a)
        if roots[1] < 1e-9:  # behind, or leaving from the surface: either may round to a miss
            assert hit is None or hit[1] <= 1e-9
            continue
        assert hit is not None and hit[0] <= hit[1], (o, d, c, r, disc, roots)
        tol = {"f": 1e-5, "d": 1e-7}[letter]  # the tangent rows lose half the digits
        assert hit == pytest.approx((max(roots[0], 0), roots[1]), rel=tol, abs=tol)
        if cc < -1e-3:
            assert hit[0] == 0


OPERATIONS = {
    "closest": ("vvvv", ov.closest_point_on_triangle, "closestPointOnTriangle<T>"),
    "barycentric": ("vvvv", ov.barycentric, "barycentric<T>"),
    "normal": ("vvv", ov.triangle_normal, "triangleNormal<T>"),
    "area": ("vvv", ov.triangle_area, "triangleArea<T>"),
    "sphere": ("vvvs", ov.ray_sphere, "raySphere<T>"),
}


def argument(rng, letter, kind):
    if kind == "s":
        return float(np.asarray(rng.uniform(0, 2), dtype_of(letter)))
    scale = rng.choice([1.0, 2.0**-90, 2.0**90])
    return vec(letter, (rng.uniform(-2, 2, 3) * scale).astype(dtype_of(letter)))


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    assert_python_equals_templates(
        OPERATIONS,
        {"v": "vector", "s": "scalar"},
        "",
        argument,
        tmp_path_factory.getbasetemp(),
        seed=11,
        per_operation=30,
    )
