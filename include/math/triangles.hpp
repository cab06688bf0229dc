#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

#include "closest_points.hpp"
#include "scaled.hpp"
#include "vector.hpp"

namespace math {

// A point of a triangle with its barycentric weights:
// point ~ a * u + b * v + c * w, u + v + w ~ 1.
template <class T>
struct TrianglePoint {
    Vector3<T> point;
    T u;
    T v;
    T w;
};

namespace detail {

// A triangle is degenerate when the cross product n of its edges ab, ac is
// no larger than the rounding of those products (|n| <= 8 eps |ab| |ac|):
// its vertices are then collinear or coincide as far as the arithmetic can
// tell, and its nearest points are those of its edges to within 8 ulps of
// the shorter edge (the inradius, |n| / perimeter, bounds the difference).
template <class T>
inline bool isDegenerate(const Vector3<T>& ab, const Vector3<T>& ac, const Vector3<T>& n) {
    constexpr T eps = std::numeric_limits<T>::epsilon();
    constexpr T tolerance = T(64) * eps * eps;
    return dot(n, n) <= tolerance * (dot(ab, ab) * dot(ac, ac));
}

// Where the differences of finite points overflow (beyond half the largest
// finite T), the points are taken at a quarter, which no difference of theirs
// can overflow: the results are scale-free, or scale back exactly.
template <class T>
inline bool differencesOverflow(T m, const Vector3<T>& p, const Vector3<T>& a, const Vector3<T>& b,
                                const Vector3<T>& c) {
    constexpr T limit = std::numeric_limits<T>::max() / T(2);
    if (m <= limit || std::isnan(m)) return false;
    const T largest = std::max(
        {largestMagnitude(p), largestMagnitude(a), largestMagnitude(b), largestMagnitude(c)});
    return largest <= std::numeric_limits<T>::max();
}

template <class T>
inline T clampedTo(T x, T lo, T hi) {
    return x < lo ? lo : (x > hi ? hi : x);
}

// x within the box of the points, so rounding never leaves it; NaN passes.
template <class T, class... More>
inline Vector3<T> withinBoxOf(Vector3<T> x, const Vector3<T>& first, const More&... more) {
    for (int i = 0; i < 3; ++i) {
        x[i] = clampedTo(x[i], std::min({first[i], more[i]...}), std::max({first[i], more[i]...}));
    }
    return x;
}

// x + (y - x) s for s in [0, 1], the ends exact.
template <class T>
inline Vector3<T> edgePoint(const Vector3<T>& x, const Vector3<T>& y, const Vector3<T>& xy, T s) {
    if (s <= T(0)) return x;
    if (s >= T(1)) return y;
    return withinBoxOf(x + xy * s, x, y);
}

// s of the point of the segment from 0 to d nearest w, in [0, 1]; 0 for a
// zero d.
template <class T>
inline T segmentParameter(const Vector3<T>& d, const Vector3<T>& w) {
    const T dd = dot(d, d);
    return dd == T(0) ? T(0) : clampUnit(dot(w, d) / dd);
}

// The nearest of the three edges' nearest points, ties to the first of ab,
// ac, bc; NaN when any distance is NaN. The S vectors are the differences
// scaled alike (parameters only), the others the plain ones.
template <class T>
inline TrianglePoint<T> nearestOfEdges(const Vector3<T>& a, const Vector3<T>& b,
                                       const Vector3<T>& c, const Vector3<T>& ab,
                                       const Vector3<T>& ac, const Vector3<T>& abS,
                                       const Vector3<T>& acS, const Vector3<T>& apS,
                                       const Vector3<T>& bpS, int e) {
    const Vector3<T> bc = c - b;
    const Vector3<T> bcS = e == 0 ? bc : scaledBy(bc, -e);
    const T s0 = segmentParameter(abS, apS), s1 = segmentParameter(acS, apS),
            s2 = segmentParameter(bcS, bpS);
    const Vector3<T> r0 = apS - abS * s0, r1 = apS - acS * s1, r2 = bpS - bcS * s2;
    const T e0 = dot(r0, r0), e1 = dot(r1, r1), e2 = dot(r2, r2);
    if (std::isnan(e0) || std::isnan(e1) || std::isnan(e2)) {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        return {nanVector<T>(), nan, nan, nan};
    }
    if (e0 <= e1 && e0 <= e2) return {edgePoint(a, b, ab, s0), T(1) - s0, s0, T(0)};
    if (e1 <= e2) return {edgePoint(a, c, ac, s1), T(1) - s1, T(0), s1};
    return {edgePoint(b, c, bc, s2), T(0), T(1) - s2, s2};
}

// Ericson's regions on the differences scaled by 2^-e (the parameters do not
// change with the scale), the points from the plain ones.
template <class T>
inline TrianglePoint<T> closestPointFrom(const Vector3<T>& p, const Vector3<T>& a,
                                         const Vector3<T>& b, const Vector3<T>& c,
                                         const Vector3<T>& ab, const Vector3<T>& ac, int e) {
    const auto scaled = [e](const Vector3<T>& x) { return e == 0 ? x : scaledBy(x, -e); };
    const Vector3<T> abS = scaled(ab), acS = scaled(ac), apS = scaled(p - a);
    const T d1 = dot(abS, apS), d2 = dot(acS, apS);
    if (d1 <= T(0) && d2 <= T(0)) return {a, T(1), T(0), T(0)};
    const Vector3<T> bpS = scaled(p - b);
    const T d3 = dot(abS, bpS), d4 = dot(acS, bpS);
    if (d3 >= T(0) && d4 <= d3) return {b, T(0), T(1), T(0)};
    // The vertex regions hold for any triangle; the others need a plane.
    if (isDegenerate(abS, acS, cross(abS, acS))) {
        return nearestOfEdges(a, b, c, ab, ac, abS, acS, apS, bpS, e);
    }
    const T vc = d1 * d4 - d3 * d2;
    if (vc <= T(0) && d1 >= T(0) && d3 <= T(0)) {
        const T s = d1 / (d1 - d3);
        if (s == s) return {edgePoint(a, b, ab, s), T(1) - s, s, T(0)};
        return nearestOfEdges(a, b, c, ab, ac, abS, acS, apS, bpS, e);
    }
    const Vector3<T> cpS = scaled(p - c);
    const T d5 = dot(abS, cpS), d6 = dot(acS, cpS);
    if (d6 >= T(0) && d5 <= d6) return {c, T(0), T(0), T(1)};
    const T vb = d5 * d2 - d1 * d6;
    if (vb <= T(0) && d2 >= T(0) && d6 <= T(0)) {
        const T s = d2 / (d2 - d6);
        if (s == s) return {edgePoint(a, c, ac, s), T(1) - s, T(0), s};
        return nearestOfEdges(a, b, c, ab, ac, abS, acS, apS, bpS, e);
    }
    const T va = d3 * d6 - d5 * d4;
    if (va <= T(0) && d4 - d3 >= T(0) && d5 - d6 >= T(0)) {
        const T s = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        if (s == s) return {edgePoint(b, c, c - b, s), T(0), T(1) - s, s};
        return nearestOfEdges(a, b, c, ab, ac, abS, acS, apS, bpS, e);
    }
    // Rounding can bring a point whose projection is on or outside an edge
    // here; its weights then fail the test and the edges answer.
    const T denominator = (va + vb) + vc;
    const T inverse = T(1) / denominator;
    const T v = vb * inverse, w = vc * inverse, u = (T(1) - v) - w;
    if (denominator > T(0) && u >= T(0) && v >= T(0) && w >= T(0)) {
        return {withinBoxOf(a + ab * v + ac * w, a, b, c), u, v, w};
    }
    return nearestOfEdges(a, b, c, ab, ac, abS, acS, apS, bpS, e);
}

// The vertices of a result computed from the points at a quarter, exactly.
template <class T>
inline TrianglePoint<T> fromQuarter(TrianglePoint<T> r, const Vector3<T>& a, const Vector3<T>& b,
                                    const Vector3<T>& c) {
    const T one(1), zero(0);
    if (r.u == one && r.v == zero && r.w == zero) {
        r.point = a;
    } else if (r.u == zero && r.v == one && r.w == zero) {
        r.point = b;
    } else if (r.u == zero && r.v == zero && r.w == one) {
        r.point = c;
    } else {
        r.point = r.point * T(4);
    }
    return r;
}

}  // namespace detail

// The point of the closed triangle nearest p, found by the region of p
// among the vertices, edges and face (Ericson). Vertices come back exactly,
// and the point lies in the box of the triangle (of the edge, on an edge).
// A degenerate triangle (collinear or coinciding vertices: a cross product of
// the edges within rounding of zero) gives the nearest point of its edges,
// and so does a point whose face weights round to a negative one. Where the
// products of the differences from a (up to four lengths) might overflow or
// underflow they are scaled by a power of two first, which leaves the
// parameters as they are; inside that range the plain formula gives its
// own bits. NaN input gives NaN.
template <class T>
inline TrianglePoint<T> closestPointOnTriangle(const Vector3<T>& p, const Vector3<T>& a,
                                               const Vector3<T>& b, const Vector3<T>& c) {
    const Vector3<T> ab = b - a, ac = c - a;
    const T m = std::max({detail::largestMagnitude(ab), detail::largestMagnitude(ac),
                          detail::largestMagnitude(p - a)});
    if (detail::withinRange<4>(m)) return detail::closestPointFrom(p, a, b, c, ab, ac, 0);
    if (detail::differencesOverflow(m, p, a, b, c)) {
        const T q(0.25);
        return detail::fromQuarter(closestPointOnTriangle(p * q, a * q, b * q, c * q), a, b, c);
    }
    return detail::closestPointFrom(p, a, b, c, ab, ac, detail::scaleExponent(m));
}

// The weights (u, v, w) of a, b, c of the projection of p onto the
// triangle's plane: a u + b v + c w, u + v + w = 1 (u = (1 - v) - w), found
// from the cross products of the edges with p - a, which keeps them accurate
// for slender triangles. Negative outside the triangle. NaN for a degenerate
// triangle (as closestPointOnTriangle tells it) and for NaN input. The
// weights do not change with the scale, so the differences are scaled by a
// power of two where their products might overflow or underflow.
template <class T>
inline Vector3<T> barycentric(const Vector3<T>& p, const Vector3<T>& a, const Vector3<T>& b,
                              const Vector3<T>& c) {
    Vector3<T> ab = b - a, ac = c - a, ap = p - a;
    const T m = std::max(
        {detail::largestMagnitude(ab), detail::largestMagnitude(ac), detail::largestMagnitude(ap)});
    if (detail::differencesOverflow(m, p, a, b, c)) {
        const T q(0.25);
        return barycentric(p * q, a * q, b * q, c * q);
    }
    if (!detail::withinRange<4>(m)) {
        const int e = detail::scaleExponent(m);
        ab = detail::scaledBy(ab, -e);
        ac = detail::scaledBy(ac, -e);
        ap = detail::scaledBy(ap, -e);
    }
    const Vector3<T> n = cross(ab, ac);
    if (detail::isDegenerate(ab, ac, n)) return detail::nanVector<T>();
    const T nn = dot(n, n);
    const T v = dot(n, cross(ap, ac)) / nn, w = dot(n, cross(ab, ap)) / nn;
    return {(T(1) - v) - w, v, w};
}

namespace detail {

// The edges ab and ac, scaled alike by a power of two where their cross
// product might overflow or underflow; the quarter points where they
// themselves overflow. Returns the exponent of the scale (2^-e applied).
template <class T>
inline int scaledEdges(const Vector3<T>& a, const Vector3<T>& b, const Vector3<T>& c,
                       Vector3<T>& ab, Vector3<T>& ac) {
    ab = b - a;
    ac = c - a;
    const T m = std::max(largestMagnitude(ab), largestMagnitude(ac));
    int shift = 0;
    if (differencesOverflow(m, a, a, b, c)) {
        const T q(0.25);
        ab = b * q - a * q;
        ac = c * q - a * q;
        shift = 2;
    }
    if (const int e = rangeExponent(ab, ac)) {
        ab = scaledBy(ab, -e);
        ac = scaledBy(ac, -e);
        shift += e;
    }
    return shift;
}

}  // namespace detail

// The unit normal by the right-hand rule, (b - a) x (c - a) normalized: a,
// b, c run counter-clockwise seen from its side. The edges are scaled by a
// power of two where the cross product might overflow or underflow, which
// leaves its direction as it is: the normal of planeFromPoints, bit for bit.
// Zero area (collinear or coinciding vertices, an exactly zero cross
// product) gives NaN (0 / 0), and so does NaN input.
template <class T>
inline Vector3<T> triangleNormal(const Vector3<T>& a, const Vector3<T>& b, const Vector3<T>& c) {
    Vector3<T> ab, ac;
    detail::scaledEdges(a, b, c, ab, ac);
    return scaledNormalize(cross(ab, ac));
}

// Half the length of (b - a) x (c - a), with the edges scaled by a power of
// two where the cross product might overflow or underflow and the area
// scaled back (inf only when the area itself is beyond the largest T).
// Collinear or coinciding vertices give 0 (or the rounding of their cross
// product); NaN input gives NaN.
template <class T>
inline T triangleArea(const Vector3<T>& a, const Vector3<T>& b, const Vector3<T>& c) {
    Vector3<T> ab, ac;
    const int e = detail::scaledEdges(a, b, c, ab, ac);
    const T area = T(0.5) * scaledNorm(cross(ab, ac));
    return e == 0 ? area : std::scalbn(area, 2 * e);
}

}  // namespace math
