#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "matrix.hpp"
#include "quaternion.hpp"
#include "scalar.hpp"
#include "vector.hpp"

namespace math {

namespace euler {

// The values are part of the interface: they are stored and compared as
// integers, so they must not be renumbered.
enum class Order : std::uint8_t { XYZ = 0, YZX = 1, ZXY = 2, XZY = 3, YXZ = 4, ZYX = 5 };

enum class Convention : int { INTRINSIC = 0, EXTRINSIC = 1 };

// Extrinsic rotations about the fixed axes in one order compose to the same
// matrix as intrinsic rotations in the reversed order.
inline Order reversed(Order order) {
    switch (order) {
        case Order::XYZ: return Order::ZYX;
        case Order::YZX: return Order::XZY;
        case Order::ZXY: return Order::YXZ;
        case Order::XZY: return Order::YZX;
        case Order::YXZ: return Order::ZXY;
        case Order::ZYX: return Order::XYZ;
    }
    return order;
}

}  // namespace euler

// Three angles in radians, each named by its axis whatever the order, with
// the order and convention that every extraction reads.
template <class T>
struct Euler {
    T x = T(0), y = T(0), z = T(0);
    euler::Order order = euler::Order::XYZ;
    euler::Convention convention = euler::Convention::INTRINSIC;

    Euler() = default;
    Euler(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
    explicit Euler(const Matrix3<T>& m) { setFromRotationMatrix(m); }
    explicit Euler(const Matrix4<T>& m) { setFromTransform(m); }
    explicit Euler(const Quaternion<T>& q) { setFromQuaternion(q); }
    Euler(const Vector3<T>& axis, T angle) { setFromAxisAngle(axis, angle); }

    void setFromRotationMatrix(const Matrix3<T>& m) {
        // Both tags are plain integers a caller can store; anything outside
        // the named values leaves the object as it was.
        const int tag = static_cast<int>(convention);
        if (tag != static_cast<int>(euler::Convention::INTRINSIC) &&
            tag != static_cast<int>(euler::Convention::EXTRINSIC)) {
            return;
        }
        if (static_cast<std::uint8_t>(order) > 5) return;
        const euler::Order intrinsic =
            convention == euler::Convention::EXTRINSIC ? euler::reversed(order) : order;
        extractIntrinsic(intrinsic, m);
    }

    void setFromTransform(const Matrix4<T>& m) {
        setFromRotationMatrix(Matrix3<T>(m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2),
                                         m(2, 0), m(2, 1), m(2, 2)));
    }

    void setFromQuaternion(const Quaternion<T>& q) { setFromRotationMatrix(q.toMatrix3()); }

    // With the plain length: quaternionFromAxisAngle agrees only where the
    // axis can be squared without overflow or underflow.
    void setFromAxisAngle(const Vector3<T>& axis, T angle) {
        const T len = norm(axis);
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        setFromQuaternion({c, (axis.x / len) * s, (axis.y / len) * s, (axis.z / len) * s});
    }

private:
    // Beyond this the middle angle is too close to +-pi/2 for the outer two
    // to be told apart.
    static constexpr T kGimbalThreshold = T(0.999999);

    // NaN fails both comparisons and so clamps to 1.
    static T clamp(T s) {
        if (!(s < T(1))) return T(1);
        if (!(s > T(-1))) return T(-1);
        return s;
    }

    static bool regular(T s) { return std::abs(s) < kGimbalThreshold; }

    void extractIntrinsic(euler::Order intrinsic, const Matrix3<T>& m) {
        switch (intrinsic) {
            case euler::Order::XYZ: {
                const T s = m(0, 2);
                y = std::asin(clamp(s));
                if (regular(s)) {
                    x = std::atan2(-m(1, 2), m(2, 2));
                    z = std::atan2(-m(0, 1), m(0, 0));
                } else {
                    x = std::atan2(m(2, 1), m(1, 1));
                    z = T(0);
                }
                break;
            }
            case euler::Order::YZX: {
                const T s = m(1, 0);
                z = std::asin(clamp(s));
                if (regular(s)) {
                    x = std::atan2(-m(1, 2), m(1, 1));
                    y = std::atan2(-m(2, 0), m(0, 0));
                } else {
                    x = T(0);
                    y = std::atan2(m(0, 2), m(2, 2));
                }
                break;
            }
            case euler::Order::ZXY: {
                const T s = m(2, 1);
                x = std::asin(clamp(s));
                if (regular(s)) {
                    y = std::atan2(-m(2, 0), m(2, 2));
                    z = std::atan2(-m(0, 1), m(1, 1));
                } else {
                    y = T(0);
                    z = std::atan2(m(1, 0), m(0, 0));
                }
                break;
            }
            case euler::Order::XZY: {
                const T s = m(0, 1);
                z = std::asin(-clamp(s));
                if (regular(s)) {
                    x = std::atan2(m(2, 1), m(1, 1));
                    y = std::atan2(m(0, 2), m(0, 0));
                } else {
                    x = std::atan2(-m(1, 2), m(2, 2));
                    y = T(0);
                }
                break;
            }
            case euler::Order::YXZ: {
                const T s = m(1, 2);
                x = std::asin(-clamp(s));
                if (regular(s)) {
                    y = std::atan2(m(0, 2), m(2, 2));
                    z = std::atan2(m(1, 0), m(1, 1));
                } else {
                    y = std::atan2(-m(2, 0), m(0, 0));
                    z = T(0);
                }
                break;
            }
            case euler::Order::ZYX: {
                const T s = m(2, 0);
                y = std::asin(-clamp(s));
                if (regular(s)) {
                    x = std::atan2(m(2, 1), m(2, 2));
                    z = std::atan2(m(1, 0), m(0, 0));
                } else {
                    x = T(0);
                    z = std::atan2(-m(0, 1), m(1, 1));
                }
                break;
            }
        }
    }
};

namespace detail {

// The axes (0 = x, 1 = y, 2 = z) whose rotations are multiplied left to
// right, as the extraction reads them: an EXTRINSIC order is the INTRINSIC
// product of the reversed order. Null for a tag outside the named values.
inline const int* eulerAxes(euler::Order order, euler::Convention convention) {
    static constexpr int kAxes[6][3] = {{0, 1, 2}, {1, 2, 0}, {2, 0, 1},
                                        {0, 2, 1}, {1, 0, 2}, {2, 1, 0}};
    const int tag = static_cast<int>(convention);
    if (tag != static_cast<int>(euler::Convention::INTRINSIC) &&
        tag != static_cast<int>(euler::Convention::EXTRINSIC)) {
        return nullptr;
    }
    if (static_cast<std::uint8_t>(order) > 5) return nullptr;
    const euler::Order intrinsic =
        convention == euler::Convention::EXTRINSIC ? euler::reversed(order) : order;
    return kAxes[static_cast<int>(intrinsic)];
}

template <class T>
inline Matrix3<T> axisMatrix(int axis, T angle) {
    if (axis == 0) return Matrix3<T>::RotationX(angle);
    if (axis == 1) return Matrix3<T>::RotationY(angle);
    return Matrix3<T>::RotationZ(angle);
}

template <class T>
inline Quaternion<T> axisQuaternion(int axis, T angle) {
    if (axis == 0) return Quaternion<T>::RotationX(angle);
    if (axis == 1) return Quaternion<T>::RotationY(angle);
    return Quaternion<T>::RotationZ(angle);
}

}  // namespace detail

// The rotation that the angles describe, the one the extraction reads back:
// for INTRINSIC XYZ the product RotationX(x) * RotationY(y) * RotationZ(z)
// of the factories, multiplied left to right; EXTRINSIC XYZ turns about the
// fixed x, y, z axes in turn, RotationZ(z) * RotationY(y) * RotationX(x).
// An order or convention outside the named values gives NaN everywhere.
template <class T>
inline Matrix3<T> toMatrix3(const Euler<T>& e) {
    const int* axes = detail::eulerAxes(e.order, e.convention);
    if (axes == nullptr) {
        Matrix3<T> r;
        for (T& element : r.m) element = std::numeric_limits<T>::quiet_NaN();
        return r;
    }
    const T angles[3] = {e.x, e.y, e.z};
    return (detail::axisMatrix(axes[0], angles[axes[0]]) *
            detail::axisMatrix(axes[1], angles[axes[1]])) *
           detail::axisMatrix(axes[2], angles[axes[2]]);
}

// The same rotation as the Hamilton product of the axis quaternions, left to
// right; it may differ from toQuaternion(toMatrix3(e)) in sign. Invalid
// tags give four NaN.
template <class T>
inline Quaternion<T> toQuaternion(const Euler<T>& e) {
    const int* axes = detail::eulerAxes(e.order, e.convention);
    if (axes == nullptr) {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        return {nan, nan, nan, nan};
    }
    const T angles[3] = {e.x, e.y, e.z};
    return (detail::axisQuaternion(axes[0], angles[axes[0]]) *
            detail::axisQuaternion(axes[1], angles[axes[1]])) *
           detail::axisQuaternion(axes[2], angles[axes[2]]);
}

template <class T>
inline Matrix4<T> toMatrix4(const Euler<T>& e) {
    return detail::linearTransform(toMatrix3(e));
}

// Keeps the order and the convention.
template <class U, class T>
inline Euler<U> convert(const Euler<T>& e) {
    Euler<U> r(static_cast<U>(e.x), static_cast<U>(e.y), static_cast<U>(e.z));
    r.order = e.order;
    r.convention = e.convention;
    return r;
}

}  // namespace math
