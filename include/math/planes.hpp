#pragma once

#include <array>
#include <optional>

#include "geometry.hpp"
#include "vector.hpp"

namespace math {

// A plane holds the points x with (x - point) . normal = 0; the normal side
// is positive.

// Through a with the unit normal (b - a) x (c - a): counter-clockwise corners
// seen from the normal side. Collinear or coinciding corners give a NaN
// normal (0 / 0).
template <class T>
inline Plane<T> planeFromPoints(const Vector3<T>& a, const Vector3<T>& b, const Vector3<T>& c) {
    return Plane<T>(a, normalize(cross(b - a, c - a)));
}

// The coefficients (a, b, c, d) = (normal, -normal . point), so that
// a x + b y + c z + d >= 0 on the normal side; scaled like the normal.
// classify turns its planes into rows with this, so rows made here give
// classifyAabb its answers bit for bit.
template <class T>
inline std::array<T, 4> planeRow(const Plane<T>& plane) {
    const Vector3<T>& n = plane.normal;
    return {n.x, n.y, n.z, -dot(n, plane.point)};
}

// The common point of three planes, whose normals need not be unit length:
// ((n2 x n3) d1 + (n3 x n1) d2) + (n1 x n2) d3, each component divided by
// n1 . (n2 x n3), with di = ni . pointi. nullopt when that determinant is
// exactly zero (dependent normals: parallel planes, or three through a common
// line); NaN input gives NaN components.
template <class T>
inline std::optional<Vector3<T>> intersectPlanes(const Plane<T>& p1, const Plane<T>& p2,
                                                 const Plane<T>& p3) {
    const Vector3<T> c23 = cross(p2.normal, p3.normal);
    const T det = dot(p1.normal, c23);
    if (det == T(0)) return std::nullopt;
    const Vector3<T> c31 = cross(p3.normal, p1.normal), c12 = cross(p1.normal, p2.normal);
    const Vector3<T> sum = (c23 * dot(p1.normal, p1.point) + c31 * dot(p2.normal, p2.point)) +
                          c12 * dot(p3.normal, p3.point);
    return Vector3<T>(sum.x / det, sum.y / det, sum.z / det);
}

}  // namespace math
