#pragma once

#include "matrix.hpp"
#include "quaternion.hpp"
#include "vector.hpp"

namespace math {

// A rigid transform: rotate, then translate. The constructors normalize the
// orientation; assigning the field directly stores it unchanged, which apply
// tolerates because rotate uses the full inverse.
template <class T>
struct Pose3d {
    Vector3<T> position;
    Quaternion<T> orientation;

    Pose3d() = default;
    Pose3d(const Vector3<T>& position_, const Quaternion<T>& orientation_)
        : position(position_), orientation(orientation_.normalize()) {}
    Pose3d(const Vector3<T>& position_, const Matrix3<T>& rotation)
        : position(position_), orientation(Quaternion<T>(rotation).normalize()) {}

    Vector3<T> apply(const Vector3<T>& v) const { return position + orientation.rotate(v); }
    Vector3<T> operator*(const Vector3<T>& v) const { return apply(v); }

    // Applies b first, then this pose.
    Pose3d operator*(const Pose3d& b) const {
        return Pose3d(apply(b.position), (orientation * b.orientation).normalize());
    }

    Pose3d inverse() const {
        const Quaternion<T> qi = orientation.inverse();
        return Pose3d(-qi.rotate(position), qi);
    }

    Matrix4<T> toMatrix() const {
        const Matrix3<T> r = orientation.toMatrix3();
        return Matrix4<T>(r(0, 0), r(0, 1), r(0, 2), position.x,  //
                          r(1, 0), r(1, 1), r(1, 2), position.y,  //
                          r(2, 0), r(2, 1), r(2, 2), position.z,  //
                          T(0), T(0), T(0), T(1));
    }
};

// The rotation of the orientation over its whole range of lengths; equal to
// p.orientation.toMatrix3() and p.toMatrix() bit for bit within the safe
// range.
template <class T>
inline Matrix3<T> toMatrix3(const Pose3d<T>& p) {
    return toMatrix3(p.orientation);
}

template <class T>
inline Matrix4<T> toMatrix4(const Pose3d<T>& p) {
    const Matrix3<T> r = toMatrix3(p.orientation);
    return Matrix4<T>(r(0, 0), r(0, 1), r(0, 2), p.position.x,  //
                      r(1, 0), r(1, 1), r(1, 2), p.position.y,  //
                      r(2, 0), r(2, 1), r(2, 2), p.position.z,  //
                      T(0), T(0), T(0), T(1));
}

// The fields as stored: the orientation is rounded, not normalized again.
template <class U, class T>
inline Pose3d<U> convert(const Pose3d<T>& p) {
    Pose3d<U> r;
    r.position = convert<U>(p.position);
    r.orientation = convert<U>(p.orientation);
    return r;
}

}  // namespace math
