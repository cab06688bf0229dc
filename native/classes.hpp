#pragma once

// The value classes of orvane_bindings with their Python names, for the
// functions of the package that exist once per class.

#include <string>

#include "math/euler.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"
#include "scalar_traits.hpp"

template <class C>
struct ClassTag {
    using type = C;
};

// Calls f(ClassTag<C>{}, name) for every class of precision T.
template <class T, class F>
void for_each_class(F&& f) {
    const std::string letter = ScalarTraits<T>::letter, suffix = ScalarTraits<T>::suffix;
    f(ClassTag<math::Vector2<T>>{}, "Vector2" + letter);
    f(ClassTag<math::Vector3<T>>{}, "Vector3" + letter);
    f(ClassTag<math::Vector4<T>>{}, "Vector4" + letter);
    f(ClassTag<math::Matrix2<T>>{}, "Matrix2" + letter);
    f(ClassTag<math::Matrix3<T>>{}, "Matrix3" + letter);
    f(ClassTag<math::Matrix4<T>>{}, "Matrix4" + letter);
    f(ClassTag<math::Quaternion<T>>{}, "Quaternion" + letter);
    f(ClassTag<math::Euler<T>>{}, "Euler" + suffix);
    f(ClassTag<math::Pose3d<T>>{}, "Pose3d" + suffix);
    f(ClassTag<math::Line<T>>{}, "Line" + suffix);
    f(ClassTag<math::Plane<T>>{}, "Plane" + suffix);
    f(ClassTag<math::AABB<T>>{}, "AABB" + suffix);
}

template <class F>
void for_each_class(F&& f) {
    for_each_class<float>(f);
    for_each_class<double>(f);
}
