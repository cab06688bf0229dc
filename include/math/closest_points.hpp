#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

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

// Clamped to [0, 1]; NaN passes.
template <class T>
inline T clampUnit(T s) {
    return s > T(0) ? (s < T(1) ? s : T(1)) : (s <= T(0) ? T(0) : s);
}

template <class T>
inline bool isZero(const Vector3<T>& v) {
    return v.x == T(0) && v.y == T(0) && v.z == T(0);
}

template <class T>
inline Vector3<T> nanVector() {
    return Vector3<T>(std::numeric_limits<T>::quiet_NaN());
}

// The point of the line start + d * s nearest start + w is at s = dot(w, d)
// / dot(d, d). Where the products of d with itself and with w might overflow
// or underflow, d is brought near unit length by 2^-e first: d * s does not
// change, and s is the quotient times 2^-e.
template <class T>
inline int lineExponent(const Vector3<T>& d, const Vector3<T>& w) {
    const T m = largestMagnitude(d);
    return withinRange<2>(m) && withinRange<2>(largestMagnitude(w)) ? 0 : scaleExponent(m);
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

// On the infinite line; a zero-length line gives start. NaN anywhere gives
// NaN.
template <class T>
inline Vector3<T> closestPointOnLine(const Line<T>& line, const Vector3<T>& p) {
    const Vector3<T> d = line.end - line.start, w = p - line.start;
    if (detail::isZero(d)) return std::isnan(dot(w, w)) ? detail::nanVector<T>() : line.start;
    const int e = detail::lineExponent(d, w);
    const Vector3<T> ds = e == 0 ? d : detail::scaledBy(d, -e);
    return line.start + ds * (dot(w, ds) / dot(ds, ds));
}

// Clamped to the segment, the end points exact; zero length gives start.
// NaN anywhere gives NaN.
template <class T>
inline Vector3<T> closestPointOnSegment(const Line<T>& line, const Vector3<T>& p) {
    const Vector3<T> d = line.end - line.start, w = p - line.start;
    if (detail::isZero(d)) return std::isnan(dot(w, w)) ? detail::nanVector<T>() : line.start;
    const int e = detail::lineExponent(d, w);
    if (e == 0) return detail::pointAt(line, d, detail::clampUnit(dot(w, d) / dot(d, d)));
    const Vector3<T> ds = detail::scaledBy(d, -e);
    const T s = std::scalbn(dot(w, ds) / dot(ds, ds), -e);
    return detail::pointAt(line, d, detail::clampUnit(s));
}

template <class T>
inline T distancePointSegment(const Line<T>& line, const Vector3<T>& p) {
    return scaledNorm(p - closestPointOnSegment(line, p));
}

namespace detail {

// s and t of closestPointsSegments; NaN for NaN input.
template <class T>
inline std::pair<T, T> segmentParameters(const Vector3<T>& d1, const Vector3<T>& d2,
                                         const Vector3<T>& r) {
    const T a = dot(d1, d1), e = dot(d2, d2), f = dot(d2, r);
    if (std::isnan(a) || std::isnan(e)) return {a + e, a + e};
    T s = T(0), t = T(0);
    if (a == T(0)) {
        if (e != T(0)) t = clampUnit(f / e);
    } else {
        const T c = dot(d1, r);
        if (e == T(0)) {
            s = clampUnit(-c / a);
        } else {
            const T b = dot(d1, d2);
            const T denominator = a * e - b * b;
            if (denominator != T(0)) s = clampUnit((b * f - c * e) / denominator);
            t = (b * s + f) / e;
            if (!(t >= T(0))) {
                t = T(0);
                s = clampUnit(-c / a);
            } else if (t > T(1)) {
                t = T(1);
                s = clampUnit((b - c) / a);
            }
        }
    }
    return {s, t};
}

}  // namespace detail

// Minimises over s, then t, then s again, clamping each to the segment.
// Parallel segments (a zero determinant) start from s = 0: the first point is
// the first start or the point of the first segment nearest the clamped
// point of the second. A zero-length segment contributes its start; two give
// both starts. Finite input gives no NaN; NaN anywhere gives NaN in both
// points. s and t do not change when d1, d2 and r are scaled together, which
// is done by a power of two where their products (of four lengths, in the
// determinant) might overflow or underflow.
template <class T>
inline SegmentPoints<T> closestPointsSegments(const Line<T>& l1, const Line<T>& l2) {
    const Vector3<T> d1 = l1.end - l1.start, d2 = l2.end - l2.start, r = l1.start - l2.start;
    const T m = std::max(
        {detail::largestMagnitude(d1), detail::largestMagnitude(d2), detail::largestMagnitude(r)});
    const int k = detail::withinRange<4>(m) ? 0 : detail::scaleExponent(m);
    const auto [s, t] =
        k == 0 ? detail::segmentParameters(d1, d2, r)
               : detail::segmentParameters(detail::scaledBy(d1, -k), detail::scaledBy(d2, -k),
                                           detail::scaledBy(r, -k));
    if (std::isnan(s)) return {detail::nanVector<T>(), detail::nanVector<T>()};
    return {detail::pointAt(l1, d1, s), detail::pointAt(l2, d2, t)};
}

}  // namespace math
