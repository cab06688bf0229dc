#pragma once

// Rigid motions beyond composing and applying poses: their matrices, their
// exponential coordinates (a twist: rotation vector, then the translational
// part), screw interpolation and unit dual quaternions.

#include <cmath>
#include <limits>

#include "matrix.hpp"
#include "nearest_rotation.hpp"
#include "pose.hpp"
#include "quaternion.hpp"
#include "vector.hpp"

namespace math {

// Exponential coordinates of a pose: the pose is exp of the twist whose
// angular part is `rotation` and whose linear part is `translation`.
template <class T>
struct ExpCoords {
    Vector3<T> rotation;
    Vector3<T> translation;
};

// A unit dual quaternion real + eps * dual, dual = (0, t) * real / 2.
template <class T>
struct DualQuaternion {
    Quaternion<T> real;
    Quaternion<T> dual;
};

namespace detail {

// Below this angle the series of the twist factors are exact to rounding:
// their first dropped term, of order angle^6, is under half an ulp.
template <class T>
inline constexpr T kTwistSeriesAngle = T(sizeof(T) == 4 ? 0.3 : 0.01);

template <class T>
inline Pose3d<T> poseOfFields(const Vector3<T>& position, const Quaternion<T>& orientation) {
    Pose3d<T> p;
    p.position = position;
    p.orientation = orientation;
    return p;
}

}  // namespace detail

// The pose of a 4x4 transform: its rotation block projected onto the
// nearest rotation, its last column the position. A last row other than
// (0, 0, 0, 1), a reflection in the block or a non-finite element gives NaN
// in every field.
template <class T>
inline Pose3d<T> poseFromMatrix(const Matrix4<T>& m) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    bool finite = true;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) finite = finite && std::isfinite(m(i, j));
    }
    const bool affine = m(3, 0) == T(0) && m(3, 1) == T(0) && m(3, 2) == T(0) && m(3, 3) == T(1);
    const Quaternion<T> q = nearestRotation(m);
    if (!finite || !affine || std::isnan(q.w)) {
        return detail::poseOfFields(Vector3<T>(nan), Quaternion<T>(nan, nan, nan, nan));
    }
    return detail::poseOfFields(Vector3<T>(m(0, 3), m(1, 3), m(2, 3)), q);
}

// exp of the twist (rotation, translation): the rotation by the rotation
// vector and the position V * translation, V = I + k1 W + k2 W^2 for the
// cross-product matrix W. k1 = (1 - cos a) / a^2 comes from the half-angle
// sine, which has no cancellation; k2 = (a - sin a) / a^3 from its series
// near 0, where the cancellation would leave few digits.
template <class T>
inline Pose3d<T> poseExp(const Vector3<T>& rotation, const Vector3<T>& translation) {
    const T angle = scaledNorm(rotation);
    const Quaternion<T> q = quaternionFromRotationVector(rotation);
    // sin(a / 2) / a, as the quaternion's vector part takes it.
    T s, c;
    math::sincos(angle * T(0.5), s, c);
    const T h = angle >= std::numeric_limits<T>::min() ? s / angle : T(0.5);
    const T k1 = T(2) * (h * h);
    T k2;
    if (angle < detail::kTwistSeriesAngle<T>) {
        const T a2 = angle * angle;
        k2 = (T(1) / T(6) - a2 / T(120)) + (a2 * a2) / T(5040);
    } else {
        k2 = (angle - std::sin(angle)) / ((angle * angle) * angle);
    }
    const Vector3<T> wv = cross(rotation, translation);
    const Vector3<T> wwv = cross(rotation, wv);
    const Vector3<T> position = (translation + wv * k1) + wwv * k2;
    return detail::poseOfFields(position, q);
}

// The twist whose exp is the pose: the rotation vector of the orientation
// (angle in [0, pi]; any non-zero length) and V^-1 * position, V^-1 =
// I - W / 2 + k W^2, k = (1 - (a / 2) cot(a / 2)) / a^2, from its series
// near 0. A half turn gives k = 1 / pi^2, as the limit.
template <class T>
inline ExpCoords<T> poseLog(const Pose3d<T>& p) {
    const Vector3<T> w = toRotationVector(p.orientation);
    const T angle = scaledNorm(w);
    T k;
    if (angle < detail::kTwistSeriesAngle<T>) {
        const T a2 = angle * angle;
        k = (T(1) / T(12) + a2 / T(720)) + (a2 * a2) / T(30240);
    } else {
        const T half = angle * T(0.5);
        T s, c;
        math::sincos(half, s, c);
        k = (T(1) - (half * c) / s) / (angle * angle);
    }
    const Vector3<T> wt = cross(w, p.position);
    const Vector3<T> wwt = cross(w, wt);
    return {w, (p.position - wt * T(0.5)) + wwt * k};
}

// The pose to the power n along its screw: exp(n * log(p)). n = 0 gives the
// identity, n = 1 the pose itself (its fields as they are) and n = -1 its
// inverse, exactly; a NaN n gives NaN.
template <class T>
inline Pose3d<T> posePower(const Pose3d<T>& p, T n) {
    if (n == T(0)) return detail::poseOfFields(Vector3<T>(), Quaternion<T>());
    if (n == T(1)) return p;
    if (n == T(-1)) return p.inverse();
    const ExpCoords<T> xi = poseLog(p);
    return poseExp(xi.rotation * n, xi.translation * n);
}

// The unit dual quaternion of the pose: its normalized orientation, and
// (0, position) times it, halved.
template <class T>
inline DualQuaternion<T> toDualQuaternion(const Pose3d<T>& p) {
    const Quaternion<T> real = p.orientation.normalize();
    const Quaternion<T> t(T(0), p.position.x, p.position.y, p.position.z);
    return {real, (t * real) * T(0.5)};
}

// The pose of any dual quaternion, made unit first: both parts divided by
// the real part's length (a zero real part taken as the identity), then
// the dual part's component along the real part removed. The position is
// twice the vector part of dual * conjugate(real).
template <class T>
inline Pose3d<T> poseFromDualQuaternion(const DualQuaternion<T>& d) {
    Quaternion<T> real = d.real, dual = d.dual;
    const T n = real.length();
    if (n == T(0)) {
        real = Quaternion<T>();
    } else {
        real = {real.w / n, real.x / n, real.y / n, real.z / n};
        dual = {dual.w / n, dual.x / n, dual.y / n, dual.z / n};
    }
    dual = dual - real * dot(real, dual);
    const Quaternion<T> t = dual * real.conjugate();
    return detail::poseOfFields(Vector3<T>(T(2) * t.x, T(2) * t.y, T(2) * t.z), real);
}

}  // namespace math
