#pragma once

#include <array>
#include <cmath>
#include <limits>

#include "vector.hpp"

namespace math {

// None of these types keeps an invariant: fields are used exactly as stored
// (a normal is never normalized, min may exceed max).

template <class T>
struct Line {
    Vector3<T> start;
    Vector3<T> end;

    Line() = default;
    Line(const Vector3<T>& start_, const Vector3<T>& end_) : start(start_), end(end_) {}

    // Distance to the infinite line: the area spanned by p - start and
    // p - end over the base length. Coinciding points give 0 / 0 = NaN.
    // norm() sums the squares from +0, so a -0 sum comes out as +0.
    T distanceTo(const Vector3<T>& p) const {
        const Vector3<T> area = cross(p - start, p - end);
        return norm(area) / norm(end - start);
    }
};

template <class T>
struct Plane {
    Vector3<T> point;
    Vector3<T> normal{T(0), T(0), T(1)};

    Plane() = default;
    Plane(const Vector3<T>& point_, const Vector3<T>& normal_) : point(point_), normal(normal_) {}

    // Scaled by the normal's length, which is never normalized.
    T signedDistanceTo(const Vector3<T>& p) const { return dot(p - point, normal); }
    T distanceTo(const Vector3<T>& p) const { return std::abs(signedDistanceTo(p)); }
    Vector3<T> project(const Vector3<T>& p) const { return p - normal * signedDistanceTo(p); }
};

template <class T>
struct AABB {
    // The default box covers all of space rather than being empty.
    Vector3<T> min{-std::numeric_limits<T>::infinity()};
    Vector3<T> max{std::numeric_limits<T>::infinity()};

    AABB() = default;
    AABB(const Vector3<T>& min_, const Vector3<T>& max_) : min(min_), max(max_) {}

    Vector3<T> computeCenter() const { return (max + min) * T(0.5); }

    // Corner k takes x from max if bit 2 of k is set, y if bit 1, z if bit 0.
    std::array<Vector3<T>, 8> computeCorners() const {
        std::array<Vector3<T>, 8> corners;
        for (int k = 0; k < 8; ++k) {
            corners[k] = {(k & 4) ? max.x : min.x, (k & 2) ? max.y : min.y,
                          (k & 1) ? max.z : min.z};
        }
        return corners;
    }

    // Closed on both sides: touching boxes intersect. A NaN comparison never
    // holds, so NaN coordinates never separate two boxes.
    bool intersects(const AABB& other) const {
        if (min.x > other.max.x) return false;
        if (other.min.x > max.x) return false;
        if (min.y > other.max.y) return false;
        if (other.min.y > max.y) return false;
        if (min.z > other.max.z) return false;
        if (other.min.z > max.z) return false;
        return true;
    }
};

// Precision conversions, math::convert<U>(x): every coordinate rounded to
// the nearest U.
template <class U, class T>
inline Line<U> convert(const Line<T>& l) {
    return Line<U>(convert<U>(l.start), convert<U>(l.end));
}

template <class U, class T>
inline Plane<U> convert(const Plane<T>& p) {
    return Plane<U>(convert<U>(p.point), convert<U>(p.normal));
}

template <class U, class T>
inline AABB<U> convert(const AABB<T>& b) {
    return AABB<U>(convert<U>(b.min), convert<U>(b.max));
}

}  // namespace math
