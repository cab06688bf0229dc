#pragma once

// How far a rotation turns, and whether two quaternions are one rotation.

#include <cmath>
#include <limits>

#include "quaternion.hpp"

namespace math {

// The angle of the rotation of q, in [0, pi]: 2 atan2(|v|, |w|), accurate
// near 0 and near pi, where 2 acos(|w|) is not. q and -q give the same
// angle; q need not be normalized. Zero or non-finite q gives NaN.
template <class T>
inline T rotationAngle(const Quaternion<T>& q) {
    if (!(std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z)) ||
        (q.w == T(0) && q.x == T(0) && q.y == T(0) && q.z == T(0))) {
        return std::numeric_limits<T>::quiet_NaN();
    }
    // scaledNorm: squares of huge components would overflow.
    return T(2) * std::atan2(scaledNorm(Vector3<T>(q.x, q.y, q.z)), std::abs(q.w));
}

// Whether q0 and q1 are the same rotation within atol radians (q and -q
// are): the angle of the rotation between them is at most atol. NaN, zero
// quaternions included, is never equal.
template <class T>
inline bool approxEqual(const Quaternion<T>& q0, const Quaternion<T>& q1, T atol) {
    // A quiet comparison: NaN raises no invalid-operation flag.
    return std::islessequal(angleBetween(q0, q1), atol);
}

}  // namespace math
