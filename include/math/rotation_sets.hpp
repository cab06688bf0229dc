#pragma once

// Sets of rotations and of vector or point pairs: their mean rotation and
// best alignments, each the largest eigenvector of a 4x4 built in one pass
// over the set, plus the uniform map from three numbers in [0, 1) to a
// rotation. The sets are read in place through strided spans.

#include <cmath>
#include <cstddef>
#include <limits>

#include "quaternion.hpp"
#include "symmetric_eigen.hpp"
#include "vector.hpp"

namespace math {

// count values, one every step bytes, their scalars component bytes apart:
// a packed array of Vector3<T> is {p, n, sizeof(Vector3<T>), sizeof(T)}.
// Weights are a span of single scalars; no data means every weight is 1.
template <class T>
struct StridedSpan {
    const void* data = nullptr;
    std::ptrdiff_t count = 0, step = 0, component = 0;

    T at(std::ptrdiff_t i, int k = 0) const {
        if (data == nullptr) return T(1);
        return *reinterpret_cast<const T*>(static_cast<const char*>(data) + i * step +
                                           k * component);
    }
    Vector3<T> vector3(std::ptrdiff_t i) const { return {at(i, 0), at(i, 1), at(i, 2)}; }
    Quaternion<T> quaternion(std::ptrdiff_t i) const {
        return {at(i, 0), at(i, 1), at(i, 2), at(i, 3)};
    }
};

// Why a set has no answer; ok otherwise.
enum class SetStatus {
    ok,
    negativeWeight,
    zeroTotalWeight,         // nothing to average: all weights zero, or no element
    severalInfiniteWeights,  // only one pair can be met exactly
    zeroPrimaryVector,       // the pair of infinite weight has a zero vector
};

template <class T>
struct RotationMean {
    Quaternion<T> mean;  // w >= 0
    SetStatus status;
};

template <class T>
struct VectorAlignment {
    Quaternion<T> rotation;  // takes b onto a
    T rssd;                  // sqrt(sum w |a - R b|^2), pairs of infinite weight left out
    SetStatus status;
};

template <class T>
struct PointAlignment {
    Vector3<T> position;
    Quaternion<T> orientation;
    T scale;
    T rmsd;  // sqrt(sum w |a - (s R b + t)|^2 / sum w)
    SetStatus status;
};

namespace detail {

template <class T>
inline Quaternion<T> nan_quaternion() {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    return {nan, nan, nan, nan};
}

// The unit eigenvector of the largest eigenvalue of k (upper triangle used),
// as a quaternion with w >= 0.
template <class T>
inline Quaternion<T> largestQuaternion(Symmetric4<T> k) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < i; ++j) k.a[i][j] = k.a[j][i];
    }
    const Vector4<T> v = largestEigen(k).vector;
    const T s = v[0] < T(0) ? T(-1) : T(1);
    return {s * v[0], s * v[1], s * v[2], s * v[3]};
}

// Davenport's K of B = sum w a b^T: q^T K q = sum w a . R(q) b for unit q
// (w first), so its largest eigenvector is the rotation taking b onto a.
template <class T>
inline Quaternion<T> rotationOfCovariance(const T (&flat)[9]) {
    const auto b = [&](int i, int j) { return flat[3 * i + j]; };
    const T trace = (b(0, 0) + b(1, 1)) + b(2, 2);
    Symmetric4<T> k{};
    k.a[0][0] = trace;
    k.a[0][1] = b(2, 1) - b(1, 2);
    k.a[0][2] = b(0, 2) - b(2, 0);
    k.a[0][3] = b(1, 0) - b(0, 1);
    for (int i = 0; i < 3; ++i) {
        for (int j = i; j < 3; ++j) k.a[i + 1][j + 1] = b(i, j) + b(j, i);
        k.a[i + 1][i + 1] -= trace;
    }
    return largestQuaternion(k);
}

// b += w a v^T, as a flat row of products that compilers vectorize.
template <class T>
inline void addOuter(T (&b)[9], const Vector3<T>& a, const Vector3<T>& v, T w) {
    const T x = w * a.x, y = w * a.y, z = w * a.z;
    const T left[9] = {x, x, x, y, y, y, z, z, z};
    const T right[9] = {v.x, v.y, v.z, v.x, v.y, v.z, v.x, v.y, v.z};
    for (int j = 0; j < 9; ++j) b[j] += left[j] * right[j];
}

template <class T>
inline T squaredLength(const Vector3<T>& v) {
    return (v.x * v.x + v.y * v.y) + v.z * v.z;
}

// The shortest rotation taking the unit b onto the unit a; for opposite
// vectors a half turn about an axis normal to a, from its two largest
// components.
template <class T>
inline Quaternion<T> shortestArc(const Vector3<T>& a, const Vector3<T>& b) {
    Vector3<T> axis = cross(b, a);
    const T sine = std::sqrt(squaredLength(axis));
    const T angle = std::atan2(sine, dot(a, b));
    if (sine > T(0)) {
        axis = axis * (T(1) / sine);
    } else if (angle > T(0)) {
        int i = 0;
        for (int k = 1; k < 3; ++k) {
            if (std::abs(a[k]) < std::abs(a[i])) i = k;
        }
        axis = Vector3<T>();
        axis[(i + 2) % 3] = a[(i + 1) % 3];
        axis[(i + 1) % 3] = -a[(i + 2) % 3];
        axis = axis * (T(1) / std::sqrt(squaredLength(axis)));
    }
    const T s = std::sin(angle * T(0.5)), c = std::cos(angle * T(0.5));
    return {c, axis.x * s, axis.y * s, axis.z * s};
}

}  // namespace detail

// The chordal L2 mean of the rotations q (any nonzero length): the largest
// eigenvector of sum w q q^T / |q|^2, so q and -q count alike. Zero weights
// are skipped; a zero or non-finite quaternion of nonzero weight gives NaN.
// When several rotations tie (the eigenvalue is repeated) the mean is one of
// the tied answers.
template <class T>
inline RotationMean<T> quaternionMean(StridedSpan<T> q, StridedSpan<T> weights) {
    T sums[10] = {};
    T total = T(0);
    for (std::ptrdiff_t i = 0; i < q.count; ++i) {
        const T w = weights.at(i);
        if (w < T(0)) return {detail::nan_quaternion<T>(), SetStatus::negativeWeight};
        if (w == T(0)) continue;
        const Quaternion<T> r = q.quaternion(i);
        const T s = w / ((r.w * r.w + r.x * r.x) + (r.y * r.y + r.z * r.z));
        const T sw = s * r.w, sx = s * r.x, sy = s * r.y, sz = s * r.z;
        // The upper triangle as one flat row of products, which compilers
        // vectorize, each sum still taken in order.
        const T left[10] = {sw, sw, sw, sw, sx, sx, sx, sy, sy, sz};
        const T right[10] = {r.w, r.x, r.y, r.z, r.x, r.y, r.z, r.y, r.z, r.z};
        for (int j = 0; j < 10; ++j) sums[j] += left[j] * right[j];
        total += w;
    }
    if (total == T(0)) return {detail::nan_quaternion<T>(), SetStatus::zeroTotalWeight};
    Symmetric4<T> k{};
    for (int a = 0, j = 0; a < 4; ++a) {
        for (int b = a; b < 4; ++b) k.a[a][b] = sums[j++];
    }
    return {detail::largestQuaternion(k), SetStatus::ok};
}

// The rotation R minimizing sum w |a - R b|^2 (Wahba's problem). One pair,
// or one pair of infinite weight, is met exactly by the shortest rotation,
// the other pairs then fixing the turn about it. No weight (or no pair)
// gives the identity. Collinear vectors leave the turn about their line
// free: any optimal rotation may come back.
template <class T>
inline VectorAlignment<T> alignVectors(StridedSpan<T> a, StridedSpan<T> b, StridedSpan<T> weights) {
    const T inf = std::numeric_limits<T>::infinity();
    const T nan = std::numeric_limits<T>::quiet_NaN();
    std::ptrdiff_t primary = a.count == 1 ? 0 : -1;
    T cov[9] = {};
    for (std::ptrdiff_t i = 0; i < a.count; ++i) {
        const T w = weights.at(i);
        if (w < T(0)) return {detail::nan_quaternion<T>(), nan, SetStatus::negativeWeight};
        if (w == inf) {
            if (primary >= 0 && a.count > 1) {
                return {detail::nan_quaternion<T>(), nan, SetStatus::severalInfiniteWeights};
            }
            primary = i;
        }
        if (w != T(0) && w != inf) detail::addOuter(cov, a.vector3(i), b.vector3(i), w);
    }
    Quaternion<T> q;
    if (primary < 0) {
        q = detail::rotationOfCovariance(cov);
    } else {
        const Vector3<T> ap = a.vector3(primary), bp = b.vector3(primary);
        const T la = std::sqrt(detail::squaredLength(ap));
        const T lb = std::sqrt(detail::squaredLength(bp));
        if (la == T(0) || lb == T(0)) {
            return {detail::nan_quaternion<T>(), nan, SetStatus::zeroPrimaryVector};
        }
        const Vector3<T> axis = ap * (T(1) / la);
        q = detail::shortestArc(axis, bp * (T(1) / lb));
        if (a.count > 1) {
            // The turn about the primary axis that best brings the rest in.
            const Matrix3<T> r = toMatrix3(q);
            T sine = T(0), cosine = T(0);
            for (std::ptrdiff_t i = 0; i < a.count; ++i) {
                const T w = weights.at(i);
                if (i == primary || w == T(0)) continue;
                const Vector3<T> c = r * b.vector3(i), ai = a.vector3(i);
                sine += w * dot(cross(c, ai), axis);
                cosine += w * (dot(c, ai) - dot(c, axis) * dot(ai, axis));
            }
            const T phi = std::atan2(sine, cosine);
            const T s = std::sin(phi * T(0.5)), co = std::cos(phi * T(0.5));
            q = Quaternion<T>(co, axis.x * s, axis.y * s, axis.z * s) * q;
            if (q.w < T(0)) q = q * T(-1);
        }
    }
    // The residuals themselves rather than sum w (|a|^2 + |b|^2) - 2 lambda,
    // which cancels when the fit is close.
    const Matrix3<T> r = toMatrix3(q);
    T ssd = T(0);
    for (std::ptrdiff_t i = 0; i < a.count; ++i) {
        const T w = weights.at(i);
        if (w == T(0) || w == inf) continue;
        ssd += w * detail::squaredLength(a.vector3(i) - r * b.vector3(i));
    }
    return {q, std::sqrt(ssd), SetStatus::ok};
}

// The similarity a ~ s R b + t minimizing the weighted squared distances
// (Umeyama's), R always a proper rotation; s is 1 unless with_scale.
// Collinear points leave the turn about their line free (any optimal
// rotation may come back); coincident points b give the identity, scale 1
// and t the difference of the means. All weights zero has no answer.
template <class T>
inline PointAlignment<T> alignPoints(StridedSpan<T> a, StridedSpan<T> b, StridedSpan<T> weights,
                                     bool with_scale) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    const auto none = [&](SetStatus status) {
        return PointAlignment<T>{Vector3<T>(nan), detail::nan_quaternion<T>(), nan, nan, status};
    };
    T total = T(0);
    Vector3<T> sum_a, sum_b;
    for (std::ptrdiff_t i = 0; i < a.count; ++i) {
        const T w = weights.at(i);
        if (w < T(0)) return none(SetStatus::negativeWeight);
        if (w == T(0)) continue;
        total += w;
        sum_a = sum_a + a.vector3(i) * w;
        sum_b = sum_b + b.vector3(i) * w;
    }
    if (total == T(0)) return none(SetStatus::zeroTotalWeight);
    const Vector3<T> mean_a = sum_a * (T(1) / total), mean_b = sum_b * (T(1) / total);
    T cov[9] = {};
    T spread = T(0);
    for (std::ptrdiff_t i = 0; i < a.count; ++i) {
        const T w = weights.at(i);
        if (w == T(0)) continue;
        const Vector3<T> db = b.vector3(i) - mean_b;
        detail::addOuter(cov, a.vector3(i) - mean_a, db, w);
        spread += w * detail::squaredLength(db);
    }
    const Quaternion<T> q = detail::rotationOfCovariance(cov);
    const Matrix3<T> r = toMatrix3(q);
    T s = T(1);
    if (with_scale && spread > T(0)) {
        T fit = T(0);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) fit += r(i, j) * cov[3 * i + j];
        }
        s = fit / spread;
    }
    const Matrix3<T> sr = r * s;
    T ssd = T(0);
    for (std::ptrdiff_t i = 0; i < a.count; ++i) {
        const T w = weights.at(i);
        if (w == T(0)) continue;
        ssd += w * detail::squaredLength((a.vector3(i) - mean_a) - sr * (b.vector3(i) - mean_b));
    }
    return {mean_a - sr * mean_b, q, s, std::sqrt(ssd / total), SetStatus::ok};
}

// Shoemake's map of u uniform in [0, 1)^3 to a rotation uniform over all
// rotations (w first; either sign of w).
template <class T>
inline Quaternion<T> quaternionFromUniforms(const Vector3<T>& u) {
    const T two_pi = T(2) * std::acos(T(-1));
    const T r1 = std::sqrt(T(1) - u.x), r2 = std::sqrt(u.x);
    T s1, c1, s2, c2;
    math::sincos(two_pi * u.y, s1, c1);
    math::sincos(two_pi * u.z, s2, c2);
    return {r2 * c2, r1 * s1, r1 * c1, r2 * s2};
}

}  // namespace math
