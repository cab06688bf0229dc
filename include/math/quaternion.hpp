#pragma once

#include <cmath>
#include <type_traits>

#include "matrix.hpp"
#include "scalar.hpp"
#include "vector.hpp"

namespace math {

// Hamilton quaternion, scalar part first. No unit-length invariant: the
// operations that need one normalize a copy or use the full inverse.
template <class T>
struct Quaternion {
    T w, x, y, z;

    constexpr Quaternion() : w(1), x(0), y(0), z(0) {}
    constexpr explicit Quaternion(T s) : w(s), x(0), y(0), z(0) {}
    constexpr Quaternion(T w_, T x_, T y_, T z_) : w(w_), x(x_), y(y_), z(z_) {}

    // The rotation of m. Strict comparisons: ties fall to the later branch.
    explicit Quaternion(const Matrix3<T>& m) {
        const T t = (m(0, 0) + m(1, 1)) + m(2, 2);
        if (t > T(0)) {
            const T s = T(0.5) / std::sqrt(t + T(1));
            w = T(0.25) / s;
            x = (m(2, 1) - m(1, 2)) * s;
            y = (m(0, 2) - m(2, 0)) * s;
            z = (m(1, 0) - m(0, 1)) * s;
        } else if (m(0, 0) > m(1, 1) && m(0, 0) > m(2, 2)) {
            const T s = T(2) * std::sqrt(((T(1) + m(0, 0)) - m(1, 1)) - m(2, 2));
            w = (m(2, 1) - m(1, 2)) / s;
            x = T(0.25) * s;
            y = (m(1, 0) + m(0, 1)) / s;
            z = (m(0, 2) + m(2, 0)) / s;
        } else if (m(1, 1) > m(2, 2)) {
            const T s = T(2) * std::sqrt(((m(1, 1) + T(1)) - m(0, 0)) - m(2, 2));
            w = (m(0, 2) - m(2, 0)) / s;
            x = (m(1, 0) + m(0, 1)) / s;
            y = T(0.25) * s;
            z = (m(1, 2) + m(2, 1)) / s;
        } else {
            const T s = T(2) * std::sqrt(((m(2, 2) + T(1)) - m(0, 0)) - m(1, 1));
            w = (m(1, 0) - m(0, 1)) / s;
            x = (m(0, 2) + m(2, 0)) / s;
            y = (m(1, 2) + m(2, 1)) / s;
            z = T(0.25) * s;
        }
    }

    static Quaternion RotationX(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, s, T(0), T(0)};
    }
    static Quaternion RotationY(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, T(0), s, T(0)};
    }
    static Quaternion RotationZ(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, T(0), T(0), s};
    }

    constexpr T& operator[](int i) { return component(*this, i); }
    constexpr const T& operator[](int i) const { return component(*this, i); }
    T* data() { return &w; }
    const T* data() const { return &w; }

    Quaternion operator+(const Quaternion& b) const { return {w + b.w, x + b.x, y + b.y, z + b.z}; }
    Quaternion operator-(const Quaternion& b) const { return {w - b.w, x - b.x, y - b.y, z - b.z}; }
    Quaternion operator*(T s) const { return {w * s, x * s, y * s, z * s}; }

    // Evaluated left to right as written; the product applies b first.
    Quaternion operator*(const Quaternion& b) const {
        return {w * b.w - x * b.x - y * b.y - z * b.z, w * b.x + x * b.w + y * b.z - z * b.y,
                w * b.y + y * b.w + z * b.x - x * b.z, w * b.z + z * b.w + x * b.y - y * b.x};
    }

    // A difference of exactly epsilon is unequal; a NaN difference never is.
    bool operator==(const Quaternion& b) const {
        for (int i = 0; i < 4; ++i) {
            if (std::abs((*this)[i] - b[i]) >= kEpsilon<T>) return false;
        }
        return true;
    }
    bool operator!=(const Quaternion& b) const { return !(*this == b); }

    T lengthSquare() const { return ((w * w + x * x) + y * y) + z * z; }
    T length() const { return std::sqrt(lengthSquare()); }

    Quaternion normalize() const {
        const T n = length();
        return {w / n, x / n, y / n, z / n};
    }
    void normalize_() { *this = normalize(); }

    Quaternion conjugate() const { return {w, -x, -y, -z}; }

    Quaternion inverse() const {
        const T r = T(1) / lengthSquare();
        return {w * r, -x * r, -y * r, -z * r};
    }

    // q * (0, v) * q^-1 with the full inverse, so any non-zero length
    // rotates without scaling.
    Vector3<T> rotate(const Vector3<T>& v) const {
        const Quaternion u = (*this * Quaternion(T(0), v.x, v.y, v.z)) * inverse();
        return {u.x, u.y, u.z};
    }

    Matrix3<T> toMatrix3() const {
        const Quaternion q = normalize();
        const T qw = q.w, qx = q.x, qy = q.y, qz = q.z;
        return Matrix3<T>(T(1) - T(2) * (qy * qy + qz * qz), T(2) * (qx * qy - qz * qw),
                          T(2) * (qx * qz + qy * qw),  //
                          T(2) * (qx * qy + qz * qw), T(1) - T(2) * (qz * qz + qx * qx),
                          T(2) * (qy * qz - qx * qw),  //
                          T(2) * (qx * qz - qy * qw), T(2) * (qy * qz + qx * qw),
                          T(1) - T(2) * (qx * qx + qy * qy));
    }

    // Field by field: indexing past &w would be undefined. An index outside
    // 0..3 gives z.
    template <class Self>
    static constexpr auto& component(Self& q, int i) {
        switch (i) {
            case 0: return q.w;
            case 1: return q.x;
            case 2: return q.y;
            default: return q.z;
        }
    }
};

// data() hands out &w as the array w, x, y, z: the fields must be packed.
static_assert(std::is_standard_layout_v<Quaternion<float>> &&
              sizeof(Quaternion<float>) == 4 * sizeof(float));
static_assert(std::is_standard_layout_v<Quaternion<double>> &&
              sizeof(Quaternion<double>) == 4 * sizeof(double));

template <class T>
inline Quaternion<T> operator*(T s, const Quaternion<T>& q) {
    return q * s;
}

}  // namespace math
