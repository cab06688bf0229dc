#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>

#include "geometry.hpp"
#include "vector.hpp"

namespace math {

// A ray is origin + direction * t for t >= 0; the direction need not be unit
// length, and t counts in units of it. NaN input never gives a hit.

// The part of a ray inside a box; tNear > tFar (inf, -inf) marks a miss.
template <class T>
struct RayInterval {
    T tNear;
    T tFar;
};

// The hit point is a + (b - a) * u + (c - a) * v = origin + direction * t.
template <class T>
struct TriangleHit {
    T t;
    T u;
    T v;
};

// nullopt when the ray is parallel to the plane (a zero denominator: this
// includes a ray lying in the plane, a zero direction and a zero normal) or
// the hit is behind the origin. An origin on the plane gives t = 0 (-0 when
// the direction is against the normal). t does not change with the normal's
// length, so where its products might overflow or underflow the normal is
// first brought near unit length by a power of two.
template <class T>
inline std::optional<T> rayPlane(const Vector3<T>& origin, const Vector3<T>& direction,
                                 const Plane<T>& plane) {
    const Vector3<T> offset = plane.point - origin;
    Vector3<T> normal = plane.normal;
    const T m = detail::largestMagnitude(normal);
    if (!detail::withinRange<2>(
            std::max({m, detail::largestMagnitude(direction), detail::largestMagnitude(offset)}))) {
        normal = detail::scaledBy(normal, -detail::scaleExponent(m));
    }
    const T denominator = dot(direction, normal);
    if (denominator == T(0)) return std::nullopt;
    const T t = dot(offset, normal) / denominator;
    if (!(t >= T(0))) return std::nullopt;
    return t;
}

// Slab method over the closed box, tNear clamped at 0 (an origin inside gives
// tNear = 0) and a miss as (inf, -inf); boxes behind the origin miss, and
// grazing a face, an edge or a corner is a hit. A zero direction component
// is a test of the origin against the closed slab, never a division, so no
// 0 * inf arises; the other components divide (no reciprocal, which a
// subnormal component would overflow). The entry plane is picked by the sign
// of the direction, so an inverted or empty box (min > max) always misses.
// A NaN met on any axis (a slab test of a NaN fails too) ends in a miss. A
// zero direction gives (0, inf) from inside the box and a miss from outside.
template <class T>
inline RayInterval<T> rayAabbInterval(const Vector3<T>& origin, const Vector3<T>& direction,
                                      const Vector3<T>& boxMin, const Vector3<T>& boxMax) {
    const T inf = std::numeric_limits<T>::infinity();
    T tNear = T(0), tFar = inf;
    bool nan = false;
    for (int i = 0; i < 3; ++i) {
        const T o = origin[i], d = direction[i];
        if (d == T(0)) {
            if (boxMin[i] <= o && o <= boxMax[i]) continue;
            return {inf, -inf};
        }
        const T tEnter = ((d > T(0) ? boxMin[i] : boxMax[i]) - o) / d;
        const T tExit = ((d > T(0) ? boxMax[i] : boxMin[i]) - o) / d;
        nan = nan | (tEnter != tEnter) | (tExit != tExit);
        tNear = tEnter <= tNear ? tNear : tEnter;
        tFar = tExit >= tFar ? tFar : tExit;
    }
    if (tNear <= tFar && !nan) return {tNear, tFar};
    return {inf, -inf};
}

template <class T>
inline std::optional<RayInterval<T>> rayAabb(const Vector3<T>& origin, const Vector3<T>& direction,
                                             const AABB<T>& box) {
    const RayInterval<T> hit = rayAabbInterval(origin, direction, box.min, box.max);
    if (hit.tNear <= hit.tFar) return hit;
    return std::nullopt;
}

namespace detail {

// Twice the signed area of the triangle (0, p, q) in the sheared plane.
// Swapping p and q negates it exactly, so two triangles sharing an edge see
// the same value with opposite signs. A float zero may hide a sign lost to
// rounding: float products are exact in double, which settles it, and the
// difference, at most an ulp of the products, converts back without
// overflow. Done per edge, so both triangles of an edge redo it alike.
template <class T>
inline T edgeFunction(T px, T py, T qx, T qy) {
    T e = px * qy - py * qx;
    if constexpr (std::is_same_v<T, float>) {
        if (e == 0.0f) e = float(double(px) * double(qy) - double(py) * double(qx));
    }
    return e;
}

}  // namespace detail

namespace detail {

// The permutation and shear that take a ray's direction to +z; it depends on
// the direction alone, so a ray tested against many triangles makes it once.
template <class T>
struct RayShear {
    int kx, ky, kz;
    T sx, sy, sz;
};

template <class T>
inline RayShear<T> shearOf(const Vector3<T>& direction) {
    int kz = 0;
    if (std::abs(direction.y) > std::abs(direction[kz])) kz = 1;
    if (std::abs(direction.z) > std::abs(direction[kz])) kz = 2;
    int kx = kz == 2 ? 0 : kz + 1;
    int ky = kx == 2 ? 0 : kx + 1;
    // Keeps the winding of the permuted axes right-handed.
    if (direction[kz] < T(0)) std::swap(kx, ky);
    return {kx,
            ky,
            kz,
            direction[kx] / direction[kz],
            direction[ky] / direction[kz],
            T(1) / direction[kz]};
}

// How far, relative to the distance from the origin to the triangle, the
// rounding of the edge functions may move a hit before it is no hit.
template <class T>
inline constexpr T kPlaneTolerance = std::is_same_v<T, float> ? T(0x1p-14) : T(0x1p-31);

// rayTriangle past the area test, with the vertices pa, pb, pc relative to
// the origin, none farther than `reach` along any axis.
template <class T>
inline std::optional<TriangleHit<T>> rayTriangleFrom(const RayShear<T>& shear, const Vector3<T>& pa,
                                                     const Vector3<T>& pb, const Vector3<T>& pc,
                                                     T reach) {
    const int kx = shear.kx, ky = shear.ky, kz = shear.kz;
    const T sx = shear.sx, sy = shear.sy, sz = shear.sz;

    const T ax = pa[kx] - sx * pa[kz], ay = pa[ky] - sy * pa[kz];
    const T bx = pb[kx] - sx * pb[kz], by = pb[ky] - sy * pb[kz];
    const T cx = pc[kx] - sx * pc[kz], cy = pc[ky] - sy * pc[kz];

    const T e0 = edgeFunction(cx, cy, bx, by);  // edge b-c, weight of a
    const T e1 = edgeFunction(ax, ay, cx, cy);  // edge c-a, weight of b
    const T e2 = edgeFunction(bx, by, ax, ay);  // edge a-b, weight of c
    if ((e0 < T(0) || e1 < T(0) || e2 < T(0)) && (e0 > T(0) || e1 > T(0) || e2 > T(0))) {
        return std::nullopt;
    }
    const T det = (e0 + e1) + e2;
    if (det == T(0)) return std::nullopt;
    // The rounding of the edge functions, up to 3 eps s^2 (s bounds |x| + |y|
    // of the sheared vertices), moves the hit sideways by up to that times
    // s / |det|. For a ray lying in the triangle's plane to within rounding
    // that is no longer small: the hit could be anywhere along the plane.
    const T s = std::max(
        {std::abs(ax) + std::abs(ay), std::abs(bx) + std::abs(by), std::abs(cx) + std::abs(cy)});
    if (T(3) * std::numeric_limits<T>::epsilon() * (s * s) * s >
        kPlaneTolerance<T> * reach * std::abs(det)) {
        return std::nullopt;
    }

    const T az = sz * pa[kz], bz = sz * pb[kz], cz = sz * pc[kz];
    const T t = ((e0 * az + e1 * bz) + e2 * cz) / det;
    if (!(t >= T(0))) return std::nullopt;
    return TriangleHit<T>{t, e1 / det, e2 / det};
}

// rayTriangle with the shear of its direction made beforehand.
template <class T>
inline std::optional<TriangleHit<T>> rayTriangleSheared(const Vector3<T>& origin,
                                                        const Vector3<T>& direction,
                                                        const RayShear<T>& shear,
                                                        const Vector3<T>& a, const Vector3<T>& b,
                                                        const Vector3<T>& c) {
    Vector3<T> ab = b - a, ac = c - a;
    if (const int k = rangeExponent(ab, ac)) {
        ab = scaledBy(ab, -k);
        ac = scaledBy(ac, -k);
    }
    const Vector3<T> normal = cross(ab, ac);
    if (normal.x == T(0) && normal.y == T(0) && normal.z == T(0)) return std::nullopt;

    Vector3<T> pa = a - origin, pb = b - origin, pc = c - origin, d = direction;
    const T vertices = std::max({largestMagnitude(pa), largestMagnitude(pb), largestMagnitude(pc)});
    const T length = largestMagnitude(d);
    if (withinRange<4>(vertices) && withinRange<4>(length)) {
        return rayTriangleFrom(shear, pa, pb, pc, vertices);
    }
    const int kv = scaleExponent(vertices), kd = scaleExponent(length);
    pa = scaledBy(pa, -kv);
    pb = scaledBy(pb, -kv);
    pc = scaledBy(pc, -kv);
    d = scaledBy(d, -kd);
    std::optional<TriangleHit<T>> hit =
        rayTriangleFrom(shearOf(d), pa, pb, pc, std::scalbn(vertices, -kv));
    if (hit) hit->t = std::scalbn(hit->t, kv - kd);
    return hit;
}

}  // namespace detail

// Watertight test (Woop, Benthin and Wald, 2013): move the origin to 0, make
// the largest direction component z, shear the ray onto +z and take the
// three edge functions of the projected triangle. Each depends only on its
// edge, so a ray through a shared edge or vertex hits at least one of the
// triangles; an edge function of zero counts as inside. Both windings hit.
// nullopt for zero-area triangles (an exactly zero cross product of the
// edges, or a zero projected area), for a ray lying in the triangle's plane
// (to within rounding: where rounding could move the hit by more than
// kPlaneTolerance of the distance to the triangle), for hits behind the
// origin and for a zero direction. Sums are taken
// left to right: det = (e0 + e1) + e2, t = ((e0 az + e1 bz) + e2 cz) / det.
// Scaling the edges leaves the area test as it is, and scaling the vertices
// about the origin, or the direction, changes only t, in proportion; where
// the products (up to three lengths over the direction's) might overflow or
// underflow, each is first brought near 1 by a power of two, which is exact
// and so keeps the signs of the edge functions that watertightness rests on.
template <class T>
inline std::optional<TriangleHit<T>> rayTriangle(const Vector3<T>& origin,
                                                 const Vector3<T>& direction, const Vector3<T>& a,
                                                 const Vector3<T>& b, const Vector3<T>& c) {
    return detail::rayTriangleSheared(origin, direction, detail::shearOf(direction), a, b, c);
}

}  // namespace math
