#pragma once

// An affine transform split into translation, rotation and scale, m = T * R
// * S with S diagonal.

#include <cmath>
#include <limits>

#include "matrix.hpp"
#include "nearest_rotation.hpp"
#include "quaternion.hpp"
#include "vector.hpp"

namespace math {

// Why a matrix does not decompose, the first found in this order.
enum class DecomposeFault { None, NonFinite, Projective, ZeroScale, Shear };

template <class T>
struct Decomposition {
    Vector3<T> translation;
    Quaternion<T> orientation;
    Vector3<T> scale;
    DecomposeFault fault = DecomposeFault::None;
};

// The largest |cosine| between two normalized columns still taken for a
// rotation's: rounding in a composed T * R * S stays far below it, while a
// real shear would make R * S a poor fit to m.
template <class T>
inline constexpr T kDecomposeShearTolerance = T(1024) * std::numeric_limits<T>::epsilon() > T(1e-6)
                                                  ? T(1024) * std::numeric_limits<T>::epsilon()
                                                  : T(1e-6);

namespace detail {

// |v|, scaled by a power of two (exactly) so that no square overflows or
// underflows; 0 for the zero vector.
template <class T>
inline T safeNorm(const Vector3<T>& v) {
    const T largest = std::fmax(std::fabs(v.x), std::fmax(std::fabs(v.y), std::fabs(v.z)));
    if (largest == T(0)) return T(0);
    const int e = std::ilogb(largest);
    const Vector3<T> u(std::scalbn(v.x, -e), std::scalbn(v.y, -e), std::scalbn(v.z, -e));
    return std::scalbn(norm(u), e);
}

template <class T>
inline Vector3<T> column(const Matrix4<T>& m, int j) {
    return {m(0, j), m(1, j), m(2, j)};
}

}  // namespace detail

// The translation is the last column; the scales are the lengths of the
// first three columns, the x scale negative when the determinant is; the
// rotation is the nearest one (w >= 0) to the columns divided by their
// scales. A non-finite element (or a column too long to measure), a last
// row other than (0, 0, 0, 1), a zero column, or columns whose normalized
// dot product exceeds kDecomposeShearTolerance in magnitude give NaN in
// every part and the fault.
template <class T>
inline Decomposition<T> decompose(const Matrix4<T>& m) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    Decomposition<T> d;
    auto fail = [&](DecomposeFault fault) {
        d.translation = d.scale = {nan, nan, nan};
        d.orientation = {nan, nan, nan, nan};
        d.fault = fault;
        return d;
    };
    for (const T element : m.m) {
        if (!std::isfinite(element)) return fail(DecomposeFault::NonFinite);
    }
    if (m(3, 0) != T(0) || m(3, 1) != T(0) || m(3, 2) != T(0) || m(3, 3) != T(1)) {
        return fail(DecomposeFault::Projective);
    }
    Vector3<T> r[3];
    T s[3];
    for (int j = 0; j < 3; ++j) {
        s[j] = detail::safeNorm(detail::column(m, j));
        if (!std::isfinite(s[j])) return fail(DecomposeFault::NonFinite);
        if (s[j] == T(0)) return fail(DecomposeFault::ZeroScale);
        const Vector3<T> c = detail::column(m, j);
        r[j] = {c.x / s[j], c.y / s[j], c.z / s[j]};
    }
    if (std::fabs(dot(r[0], r[1])) > kDecomposeShearTolerance<T> ||
        std::fabs(dot(r[0], r[2])) > kDecomposeShearTolerance<T> ||
        std::fabs(dot(r[1], r[2])) > kDecomposeShearTolerance<T>) {
        return fail(DecomposeFault::Shear);
    }
    // Near orthonormal columns: the determinant is near +-1.
    if (dot(cross(r[0], r[1]), r[2]) < T(0)) {
        s[0] = -s[0];
        r[0] = -r[0];
    }
    const Matrix3<T> rotation(r[0].x, r[1].x, r[2].x, r[0].y, r[1].y, r[2].y, r[0].z, r[1].z,
                              r[2].z);
    d.translation = detail::column(m, 3);
    d.orientation = nearestRotation(rotation);
    d.scale = {s[0], s[1], s[2]};
    return d;
}

}  // namespace math
