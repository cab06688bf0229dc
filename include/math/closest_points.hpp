#pragma once

#include <cmath>

#include "geometry.hpp"
#include "vector.hpp"

namespace math {

// A line's parameter s runs from 0 at start to 1 at end.

template <class T>
struct SegmentPoints {
    Vector3<T> onFirst;
    Vector3<T> onSecond;
};

namespace detail {

// Clamped to [0, 1]; a NaN (from an overflowing length) becomes 0, so no NaN
// reaches the points.
template <class T>
inline T clampUnit(T s) {
    return s > T(0) ? (s < T(1) ? s : T(1)) : T(0);
}

// The point at s in [0, 1] along start + d * s, with the end points returned
// exactly rather than rounded.
template <class T>
inline Vector3<T> pointAt(const Line<T>& line, const Vector3<T>& d, T s) {
    if (s <= T(0)) return line.start;
    if (s >= T(1)) return line.end;
    return line.start + d * s;
}

}  // namespace detail

// On the infinite line; a zero-length line (squared length 0, underflow
// included) gives start.
template <class T>
inline Vector3<T> closestPointOnLine(const Line<T>& line, const Vector3<T>& p) {
    const Vector3<T> d = line.end - line.start;
    const T lengthSquared = dot(d, d);
    if (lengthSquared == T(0)) return line.start;
    return line.start + d * (dot(p - line.start, d) / lengthSquared);
}

// Clamped to the segment, the end points exact; zero length gives start.
template <class T>
inline Vector3<T> closestPointOnSegment(const Line<T>& line, const Vector3<T>& p) {
    const Vector3<T> d = line.end - line.start;
    const T lengthSquared = dot(d, d);
    if (lengthSquared == T(0)) return line.start;
    return detail::pointAt(line, d, detail::clampUnit(dot(p - line.start, d) / lengthSquared));
}

template <class T>
inline T distancePointSegment(const Line<T>& line, const Vector3<T>& p) {
    return norm(p - closestPointOnSegment(line, p));
}

// Minimises over s, then t, then s again, clamping each to the segment.
// Parallel segments (a zero determinant) start from s = 0: the first point is
// the first start or the point of the first segment nearest the clamped
// point of the second. A zero-length segment contributes its start; two give
// both starts. Finite input whose squared lengths do not overflow gives no
// NaN.
template <class T>
inline SegmentPoints<T> closestPointsSegments(const Line<T>& l1, const Line<T>& l2) {
    const Vector3<T> d1 = l1.end - l1.start, d2 = l2.end - l2.start, r = l1.start - l2.start;
    const T a = dot(d1, d1), e = dot(d2, d2), f = dot(d2, r);
    T s = T(0), t = T(0);
    if (a == T(0)) {
        if (e != T(0)) t = detail::clampUnit(f / e);
    } else {
        const T c = dot(d1, r);
        if (e == T(0)) {
            s = detail::clampUnit(-c / a);
        } else {
            const T b = dot(d1, d2);
            const T denominator = a * e - b * b;
            if (denominator != T(0)) s = detail::clampUnit((b * f - c * e) / denominator);
            t = (b * s + f) / e;
            if (!(t >= T(0))) {
                t = T(0);
                s = detail::clampUnit(-c / a);
            } else if (t > T(1)) {
                t = T(1);
                s = detail::clampUnit((b - c) / a);
            }
        }
    }
    return {detail::pointAt(l1, d1, s), detail::pointAt(l2, d2, t)};
}

}  // namespace math
