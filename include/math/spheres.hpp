#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "ray.hpp"
#include "scaled.hpp"
#include "vector.hpp"

namespace math {

namespace detail {

// The roots of |f + d t|^2 = r^2 with f = origin - center, as an interval,
// or nullopt. The discriminant comes from the distance of the line to the
// center, r^2 - |f - d (f.d / d.d)|^2, not from b^2 - ac, which cancels for
// rays passing far from a small sphere; the near root is c / q with
// q = -(b + sign(b) sqrt(d.d disc)), which does not cancel either.
template <class T>
inline std::optional<RayInterval<T>> sphereRoots(const Vector3<T>& f, const Vector3<T>& d, T r) {
    const T a = dot(d, d);
    if (a == T(0)) return std::nullopt;
    const T b = dot(f, d);
    const Vector3<T> l = f - d * (b / a);
    const T disc = r * r - dot(l, l);
    if (!(disc >= T(0))) return std::nullopt;
    if (disc == T(0)) {
        // Tangent: one root, met from either side.
        const T t = -b / a;
        return RayInterval<T>{t, t};
    }
    const T root = std::sqrt(a * disc);
    const T q = -(b + (b < T(0) ? -root : root));
    const T t0 = (dot(f, f) - r * r) / q, t1 = q / a;
    return RayInterval<T>{std::min(t0, t1), std::max(t0, t1)};
}

}  // namespace detail

// The part of the ray origin + direction t (t >= 0) inside the closed ball
// of the given center and radius: tNear is 0 when the origin is inside, as
// rayAabb has it, and a tangent ray hits with tNear == tFar. nullopt for a
// miss, a ball behind the origin, a zero direction, a negative radius (the
// ball is empty) and NaN input. A zero radius is the center alone. t is in
// proportion to the offset and radius, scaled together, and in inverse
// proportion to the direction, so where their products might overflow or
// underflow each is first brought near 1 by a power of two (the offset from
// the quarter points, should origin - center overflow).
template <class T>
inline std::optional<RayInterval<T>> raySphere(const Vector3<T>& origin,
                                               const Vector3<T>& direction,
                                               const Vector3<T>& center, T radius) {
    if (!(radius >= T(0))) return std::nullopt;
    Vector3<T> f = origin - center, d = direction;
    T r = radius;
    T mf = std::max(detail::largestMagnitude(f), r);
    const T md = detail::largestMagnitude(d);
    std::optional<RayInterval<T>> hit;
    if (detail::withinRange<4>(mf) && detail::withinRange<4>(md)) {
        hit = detail::sphereRoots(f, d, r);
    } else {
        constexpr T largest = std::numeric_limits<T>::max();
        int quarter = 0;
        if (!(mf <= largest) && detail::largestMagnitude(origin) <= largest &&
            detail::largestMagnitude(center) <= largest && r <= largest) {
            const T q(0.25);
            f = origin * q - center * q;
            r = r * q;
            mf = std::max(detail::largestMagnitude(f), r);
            quarter = 2;
        }
        const int kf = detail::scaleExponent(mf), kd = detail::scaleExponent(md);
        hit = detail::sphereRoots(detail::scaledBy(f, -kf), detail::scaledBy(d, -kd),
                                  std::scalbn(r, -kf));
        if (hit) {
            hit->tNear = std::scalbn(hit->tNear, kf + quarter - kd);
            hit->tFar = std::scalbn(hit->tFar, kf + quarter - kd);
        }
    }
    if (!hit || !(hit->tFar >= T(0))) return std::nullopt;
    // An origin inside, or on the surface, starts at +0.
    if (!(hit->tNear > T(0))) hit->tNear = T(0);
    if (hit->tFar == T(0)) hit->tFar = T(0);
    return hit;
}

}  // namespace math
