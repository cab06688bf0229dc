#pragma once

// The rotation nearest to a matrix that is not quite one: scaled, rounded
// to a few digits, or drifted from orthonormality.

#include <cmath>
#include <limits>

#include "matrix.hpp"
#include "quaternion.hpp"
#include "symmetric_eigen.hpp"

namespace math {

// The unit quaternion of the rotation R nearest to m in the Frobenius norm,
// w >= 0. trace(R(q)^T m) is the quadratic form q^T K q below, so R is the
// eigenvector of K's largest eigenvalue; this needs no orthonormal m and is
// exact for one. The rotation does not depend on m's scale, so m is first
// scaled by a power of two (exactly) to elements of at most 1, which no sum
// or product below can overflow. A negative determinant (a reflection has no
// nearest rotation worth the name) or a non-finite element gives NaN.
template <class T>
inline Quaternion<T> nearestRotation(Matrix3<T> m) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    T largest = T(0);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) largest = std::fmax(largest, std::abs(m(i, j)));
    }
    if (largest > T(0) && std::isfinite(largest)) {
        int exponent;
        std::frexp(largest, &exponent);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m(i, j) = std::ldexp(m(i, j), -exponent);
        }
    }
    if (!(determinant(m) >= T(0))) return {nan, nan, nan, nan};
    const T xx = m(0, 0), yy = m(1, 1), zz = m(2, 2);
    const T wx = m(2, 1) - m(1, 2), wy = m(0, 2) - m(2, 0), wz = m(1, 0) - m(0, 1);
    const T xy = m(0, 1) + m(1, 0), xz = m(0, 2) + m(2, 0), yz = m(1, 2) + m(2, 1);
    const Symmetric4<T> k{{{(xx + yy) + zz, wx, wy, wz},
                           {wx, (xx - yy) - zz, xy, xz},
                           {wy, xy, (yy - xx) - zz, yz},
                           {wz, xz, yz, (zz - xx) - yy}}};
    const Vector4<T> v = largestEigen(k).vector;
    const Quaternion<T> q = Quaternion<T>(v.x, v.y, v.z, v.w).normalize();
    return q.w < T(0) ? q * T(-1) : q;
}

template <class T>
inline Quaternion<T> nearestRotation(const Matrix4<T>& m) {
    return nearestRotation(detail::linearBlock(m));
}

}  // namespace math
