#pragma once

// Euler angles of any of the 24 sequences of three rotations about
// coordinate axes, as three numbers in the sequence's order.

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>

#include "quaternion.hpp"
#include "scalar.hpp"
#include "scaled.hpp"
#include "vector.hpp"

namespace math {

// Three rotations about the axes first, second, third (0 = x, 1 = y,
// 2 = z), in that order: intrinsic ones about the axes as the body turns,
// extrinsic ones about the fixed axes. The 12 axis patterns are the Tait-
// Bryan ones (three different axes) and the proper Euler ones (the first
// axis again last).
struct EulerSequence {
    int first = 0, second = 1, third = 2;
    bool extrinsic = false;

    constexpr bool proper() const { return first == third; }
    // What parse gives: axes 0 to 2, none twice in a row.
    constexpr bool valid() const {
        return first >= 0 && first <= 2 && second >= 0 && second <= 2 && third >= 0 && third <= 2 &&
               first != second && second != third;
    }

    // "XYZ" (intrinsic, upper case) or "xyz" (extrinsic, lower case): three
    // letters of one case with no axis twice in a row; nothing otherwise.
    static constexpr std::optional<EulerSequence> parse(const char* text, std::size_t size) {
        if (size != 3) return std::nullopt;
        int axes[3]{};
        int upper = 0;
        for (int k = 0; k < 3; ++k) {
            const char c = text[k];
            if (c >= 'X' && c <= 'Z') {
                axes[k] = c - 'X';
                ++upper;
            } else if (c >= 'x' && c <= 'z') {
                axes[k] = c - 'x';
            } else {
                return std::nullopt;
            }
        }
        if ((upper != 0 && upper != 3) || axes[0] == axes[1] || axes[1] == axes[2]) {
            return std::nullopt;
        }
        return EulerSequence{axes[0], axes[1], axes[2], upper == 0};
    }
};

namespace detail {

template <class T>
inline constexpr T kPi = T(3.14159265358979323846264338327950288);

template <class T>
inline Quaternion<T> aboutAxis(int axis, T angle) {
    T s, c;
    sincos(angle * T(0.5), s, c);
    Quaternion<T> q(c, T(0), T(0), T(0));
    q[axis + 1] = s;
    return q;
}

// The angle in (-pi, pi] of one in [-2 pi, 2 pi].
template <class T>
inline T wrapAngle(T a) {
    const T pi = kPi<T>;
    if (a <= -pi) return a + T(2) * pi;
    if (a > pi) return a - T(2) * pi;
    return a;
}

}  // namespace detail

// The rotation of the angles (radians, in the sequence's order): intrinsic
// rotations compose on the right, extrinsic ones on the left. An invalid
// sequence gives NaN.
template <class T>
inline Quaternion<T> quaternionFromEuler(const Vector3<T>& angles, EulerSequence s) {
    if (!s.valid()) {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        return {nan, nan, nan, nan};
    }
    const Quaternion<T> a = detail::aboutAxis(s.first, angles.x);
    const Quaternion<T> b = detail::aboutAxis(s.second, angles.y);
    const Quaternion<T> c = detail::aboutAxis(s.third, angles.z);
    return s.extrinsic ? c * (b * a) : (a * b) * c;
}

template <class T>
struct EulerAngles {
    Vector3<T> angles;
    bool gimbal = false;
};

// The angles of q in the sequence's order: first and third in (-pi, pi],
// the second in [-pi/2, pi/2] (Tait-Bryan) or [0, pi] (proper). Where the
// second angle leaves the other two only their sum or difference (gimbal
// lock), the third is 0 and the first takes the whole rotation. q need not
// be normalized; zero or non-finite q, or an invalid sequence, gives NaN.
//
// Bernardes and Viollet's direct method: the angles come from atan2 of
// components of q, so rebuilding q from them loses no more than rounding,
// at and near gimbal lock too (asin of a matrix element would lose half
// the digits there).
template <class T>
inline EulerAngles<T> eulerFromQuaternion(const Quaternion<T>& q, EulerSequence s) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    if (!s.valid() ||
        !(std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z)) ||
        (q.w == T(0) && q.x == T(0) && q.y == T(0) && q.z == T(0))) {
        return {{nan, nan, nan}, false};
    }
    // By a power of two, exactly: the sums below must not overflow.
    const int e = detail::rangeExponent(q);
    const Quaternion<T> u = e == 0 ? q : detail::scaledBy(q, -e);

    // The method reads extrinsic sequences; an intrinsic one is the
    // extrinsic one in reverse.
    const int i = s.extrinsic ? s.first : s.third;
    const int j = s.second;
    const bool proper = s.proper();
    const int k = proper ? 3 - i - j : (s.extrinsic ? s.third : s.first);
    // +1 for an even permutation (i, j, k), -1 for an odd one.
    const int sign = (i - j) * (j - k) * (k - i) / 2;
    const T qi = u[i + 1], qj = u[j + 1], qk = sign > 0 ? u[k + 1] : -u[k + 1];
    T a, b, c, d;
    if (proper) {
        a = u.w;
        b = qi;
        c = qj;
        d = qk;
    } else {
        a = u.w - qj;
        b = qi + qk;
        c = qj + u.w;
        d = qk - qi;
    }

    const T pi = detail::kPi<T>;
    T out[3];
    // u is in the safe range: these squares neither overflow nor lose
    // anything that matters beside the larger components.
    out[1] = T(2) * std::atan2(std::sqrt(c * c + d * d), std::sqrt(a * a + b * b));
    // Within rounding of 0 or pi: splitting the rest between the first and
    // third angles is then arbitrary, and giving it all to the first costs
    // less than this bound in the rebuilt rotation.
    const T bound = T(4) * std::numeric_limits<T>::epsilon();
    const bool atZero = out[1] <= bound;
    const bool atPi = std::abs(out[1] - pi) <= bound;
    const bool gimbal = atZero || atPi;
    const T halfSum = std::atan2(b, a), halfDiff = std::atan2(d, c);
    // Where the method's first and third angles go: reversed for intrinsic.
    const int third = s.extrinsic ? 2 : 0, first = 2 - third;
    if (gimbal) {
        out[0] = atZero ? T(2) * halfSum : T(2) * (s.extrinsic ? -halfDiff : halfDiff);
        out[2] = T(0);
    } else {
        out[first] = halfSum - halfDiff;
        out[third] = halfSum + halfDiff;
    }
    if (!proper) {
        if (sign < 0) out[third] = -out[third];
        out[1] -= pi / T(2);
    }
    if (gimbal) out[2] = T(0);  // +0, whatever the sign did
    return {{detail::wrapAngle(out[0]), out[1], detail::wrapAngle(out[2])}, gimbal};
}

}  // namespace math
