#pragma once

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

// The point of the closed triangle nearest p, found by the region of p
// among the vertices, edges and face (Ericson). Vertices come back exactly.
// NaN input gives NaN.
template <class T>
inline TrianglePoint<T> closestPointOnTriangle(const Vector3<T>& p, const Vector3<T>& a,
                                               const Vector3<T>& b, const Vector3<T>& c) {
    const Vector3<T> ab = b - a, ac = c - a, ap = p - a;
    const T d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= T(0) && d2 <= T(0)) return {a, T(1), T(0), T(0)};
    const Vector3<T> bp = p - b;
    const T d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= T(0) && d4 <= d3) return {b, T(0), T(1), T(0)};
    const T vc = d1 * d4 - d3 * d2;
    if (vc <= T(0) && d1 >= T(0) && d3 <= T(0)) {
        const T s = d1 / (d1 - d3);
        return {a + ab * s, T(1) - s, s, T(0)};
    }
    const Vector3<T> cp = p - c;
    const T d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= T(0) && d5 <= d6) return {c, T(0), T(0), T(1)};
    const T vb = d5 * d2 - d1 * d6;
    if (vb <= T(0) && d2 >= T(0) && d6 <= T(0)) {
        const T s = d2 / (d2 - d6);
        return {a + ac * s, T(1) - s, T(0), s};
    }
    const T va = d3 * d6 - d5 * d4;
    if (va <= T(0) && d4 - d3 >= T(0) && d5 - d6 >= T(0)) {
        const T s = (d4 - d3) / ((d4 - d3) + (d5 - d6));
        return {b + (c - b) * s, T(0), T(1) - s, s};
    }
    const T inverse = T(1) / ((va + vb) + vc);
    const T v = vb * inverse, w = vc * inverse;
    return {a + ab * v + ac * w, (T(1) - v) - w, v, w};
}

}  // namespace math
