#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

#include "geometry.hpp"
#include "matrix.hpp"
#include "pose.hpp"
#include "vector.hpp"

namespace math {

namespace detail {

// Min and max that pass a NaN on instead of dropping it, so a NaN coordinate
// shows in the box; ties keep the first operand.
template <class T>
inline T minKeepingNan(T a, T b) {
    return (b < a || std::isnan(b)) ? b : a;
}
template <class T>
inline T maxKeepingNan(T a, T b) {
    return (b > a || std::isnan(b)) ? b : a;
}
template <class T>
inline Vector3<T> minKeepingNan(const Vector3<T>& a, const Vector3<T>& b) {
    return {minKeepingNan(a.x, b.x), minKeepingNan(a.y, b.y), minKeepingNan(a.z, b.z)};
}
template <class T>
inline Vector3<T> maxKeepingNan(const Vector3<T>& a, const Vector3<T>& b) {
    return {maxKeepingNan(a.x, b.x), maxKeepingNan(a.y, b.y), maxKeepingNan(a.z, b.z)};
}

// The box of centre c and half extents |r| * e: the tight bound of a box of
// half extents e turned by r. Each row is summed left to right.
template <class T>
inline AABB<T> boxAround(const Vector3<T>& c, const Matrix3<T>& r, const Vector3<T>& e) {
    Vector3<T> h;
    for (int i = 0; i < 3; ++i) {
        h[i] = (std::abs(r(i, 0)) * e.x + std::abs(r(i, 1)) * e.y) + std::abs(r(i, 2)) * e.z;
    }
    return {c - h, c + h};
}

}  // namespace detail

// Closed: points on a face are inside. NaN coordinates and inverted boxes
// contain nothing.
template <class T>
inline bool contains(const AABB<T>& box, const Vector3<T>& p) {
    return box.min.x <= p.x && p.x <= box.max.x && box.min.y <= p.y && p.y <= box.max.y &&
           box.min.z <= p.z && p.z <= box.max.z;
}

// The union; an empty box (min = +inf, max = -inf) leaves the other unchanged,
// a NaN coordinate in either stays NaN.
template <class T>
inline AABB<T> merged(const AABB<T>& a, const AABB<T>& b) {
    return {detail::minKeepingNan(a.min, b.min), detail::maxKeepingNan(a.max, b.max)};
}

// The smallest box holding the box and p; a NaN coordinate stays NaN.
template <class T>
inline AABB<T> expanded(const AABB<T>& box, const Vector3<T>& p) {
    return {detail::minKeepingNan(box.min, p), detail::maxKeepingNan(box.max, p)};
}

// (max + min) * 0.5, as computeCenter: NaN for the default (all-space) box
// and for an empty one.
template <class T>
inline Vector3<T> center(const AABB<T>& box) {
    return box.computeCenter();
}

// The full size max - min, not the half size; negative on an inverted axis.
template <class T>
inline Vector3<T> extent(const AABB<T>& box) {
    return box.max - box.min;
}

// Centre and half-extent form: the centre goes through m as the point
// m * (c, 1), the half extents through the absolute values of the upper-left
// 3x3 block. Row 3 of m is ignored (an affine m is assumed). Infinite or
// empty boxes give NaN, since their centre is NaN; an inverted box gives a
// box that is inverted on some axes.
template <class T>
inline AABB<T> transformed(const AABB<T>& box, const Matrix4<T>& m) {
    const Vector3<T> c = box.computeCenter();
    const Vector4<T> moved = m * Vector4<T>(c.x, c.y, c.z, T(1));
    const Matrix3<T> r(m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1),
                       m(2, 2));
    return detail::boxAround({moved.x, moved.y, moved.z}, r, (box.max - box.min) * T(0.5));
}

// The centre goes through pose.apply itself; the half extents through the
// rotation matrix of the normalized orientation, which is the rotation apply
// performs for any non-zero quaternion (no scaling by its length). A zero
// orientation gives NaN. Equal to transformed(box, pose.toMatrix()) up to
// rounding, not bit for bit. An orientation with its largest component
// outside [2^-8, 2^8] is first scaled by a power of two, which changes no
// rotation, so that apply's products of it with the centre stay in range.
template <class T>
inline AABB<T> transformed(const AABB<T>& box, const Pose3d<T>& pose) {
    Pose3d<T> moved = pose;
    const T m = detail::largestMagnitude(pose.orientation);
    if (!(m >= detail::powerOfTwo<T>(-8) && m <= detail::powerOfTwo<T>(8))) {
        moved.orientation = detail::scaledBy(pose.orientation, -detail::scaleExponent(m));
    }
    return detail::boxAround(moved.apply(box.computeCenter()), toMatrix3(pose.orientation),
                             (box.max - box.min) * T(0.5));
}

// No points give the empty box min = (+inf, +inf, +inf), max = (-inf, -inf,
// -inf), which merged() absorbs and contains() never holds; a NaN coordinate
// of any point makes that coordinate of the box NaN.
template <class T>
inline AABB<T> boundsOf(const Vector3<T>* points, std::size_t count) {
    const T inf = std::numeric_limits<T>::infinity();
    AABB<T> box(Vector3<T>(inf), Vector3<T>(-inf));
    for (std::size_t i = 0; i < count; ++i) box = expanded(box, points[i]);
    return box;
}

}  // namespace math
