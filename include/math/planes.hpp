#pragma once

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "geometry.hpp"
#include "vector.hpp"

namespace math {

// A plane holds the points x with (x - point) . normal = 0; the normal side
// is positive.

// Through a with the unit normal (b - a) x (c - a): counter-clockwise corners
// seen from the normal side. Collinear or coinciding corners give a NaN
// normal (0 / 0). Edges whose cross product would overflow or underflow are
// first scaled by a power of two, which leaves its direction as it is.
template <class T>
inline Plane<T> planeFromPoints(const Vector3<T>& a, const Vector3<T>& b, const Vector3<T>& c) {
    Vector3<T> ab = b - a, ac = c - a;
    if (const int e = detail::rangeExponent(ab, ac)) {
        ab = detail::scaledBy(ab, -e);
        ac = detail::scaledBy(ac, -e);
    }
    return Plane<T>(a, scaledNormalize(cross(ab, ac)));
}

// The coefficients (a, b, c, d) = (normal, -normal . point), so that
// a x + b y + c z + d >= 0 on the normal side; scaled like the normal, and
// divided by a power of two where the products in normal . point (of about
// 2^(en + ep) for the exponents of the two) would overflow or underflow.
// classify turns its planes into rows with this, so rows made here give
// classifyAabb its answers bit for bit.
template <class T>
inline std::array<T, 4> planeRow(const Plane<T>& plane) {
    using limits = std::numeric_limits<T>;
    Vector3<T> n = plane.normal;
    const int en = detail::scaleExponent(detail::largestMagnitude(n));
    const int product = en + detail::scaleExponent(detail::largestMagnitude(plane.point));
    if (product > limits::max_exponent - 4 || product < limits::min_exponent + 4) {
        n = detail::scaledBy(n, -en);
    }
    return {n.x, n.y, n.z, -dot(n, plane.point)};
}

// The common point of three planes, whose normals need not be unit length:
// ((n2 x n3) d1 + (n3 x n1) d2) + (n1 x n2) d3, each component divided by
// n1 . (n2 x n3), with di = ni . pointi. nullopt when that determinant is
// exactly zero (dependent normals: parallel planes, or three through a common
// line); NaN input gives NaN components. The point does not change when a
// normal is scaled, so where the products (of three normals and a point)
// might overflow or underflow each normal is first brought near unit length
// by a power of two.
template <class T>
inline std::optional<Vector3<T>> intersectPlanes(const Plane<T>& p1, const Plane<T>& p2,
                                                 const Plane<T>& p3) {
    Vector3<T> n1 = p1.normal, n2 = p2.normal, n3 = p3.normal;
    const T m1 = detail::largestMagnitude(n1), m2 = detail::largestMagnitude(n2),
            m3 = detail::largestMagnitude(n3);
    const T points =
        std::max({detail::largestMagnitude(p1.point), detail::largestMagnitude(p2.point),
                  detail::largestMagnitude(p3.point)});
    if (!(detail::withinRange<4>(m1) && detail::withinRange<4>(m2) && detail::withinRange<4>(m3) &&
          detail::withinRange<4>(points))) {
        n1 = detail::scaledBy(n1, -detail::scaleExponent(m1));
        n2 = detail::scaledBy(n2, -detail::scaleExponent(m2));
        n3 = detail::scaledBy(n3, -detail::scaleExponent(m3));
    }
    const Vector3<T> c23 = cross(n2, n3);
    const T det = dot(n1, c23);
    if (det == T(0)) return std::nullopt;
    const Vector3<T> c31 = cross(n3, n1), c12 = cross(n1, n2);
    const Vector3<T> sum =
        (c23 * dot(n1, p1.point) + c31 * dot(n2, p2.point)) + c12 * dot(n3, p3.point);
    return Vector3<T>(sum.x / det, sum.y / det, sum.z / det);
}

}  // namespace math
