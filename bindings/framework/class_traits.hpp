#pragma once

// One entry per class template of the module: its name stem and form, its
// scalar, its size, its fields in registration order and, where it has one,
// its repr template. Registration, the value casters, the array conversions
// and the package's per-class functions all read this table, so a class is
// added here once.

#include <string>
#include <tuple>
#include <type_traits>

#include "math/euler.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"
#include "scalar_traits.hpp"

template <class C, class D>
struct Field {
    const char* name;
    D C::*member;
};

template <class C, class D>
constexpr Field<C, D> field(const char* name, D C::*member) {
    return {name, member};
}

// "Vector3f" or "Euler_f".
enum class NameForm { Letter, Suffix };

template <class T, NameForm name_form>
struct Entry {
    using Scalar = T;
    static constexpr NameForm form = name_form;
};

// A class of n components, or a matrix of order n.
template <class T, int n>
struct SizedEntry : Entry<T, NameForm::Letter> {
    static constexpr int size = n;
};

// Not defined for a type the module does not wrap.
template <class C>
struct ClassTraits;

template <class T>
struct ClassTraits<math::Vector2<T>> : SizedEntry<T, 2> {
    using C = math::Vector2<T>;
    static constexpr const char* stem = "Vector2";
    static constexpr auto fields = std::make_tuple(field("x", &C::x), field("y", &C::y));
    static constexpr const char* repr = "Vector2{}(x={}, y={})";
};
template <class T>
struct ClassTraits<math::Vector3<T>> : SizedEntry<T, 3> {
    using C = math::Vector3<T>;
    static constexpr const char* stem = "Vector3";
    static constexpr auto fields =
        std::make_tuple(field("x", &C::x), field("y", &C::y), field("z", &C::z));
    static constexpr const char* repr = "Vector3{}(x={}, y={}, z={})";
};
template <class T>
struct ClassTraits<math::Vector4<T>> : SizedEntry<T, 4> {
    using C = math::Vector4<T>;
    static constexpr const char* stem = "Vector4";
    static constexpr auto fields = std::make_tuple(field("x", &C::x), field("y", &C::y),
                                                   field("z", &C::z), field("w", &C::w));
    static constexpr const char* repr = "Vector4{}(x={}, y={}, z={}, w={})";
};

template <class T>
struct ClassTraits<math::Matrix2<T>> : SizedEntry<T, 2> {
    static constexpr const char* stem = "Matrix2";
    static constexpr auto fields = std::make_tuple();
};
template <class T>
struct ClassTraits<math::Matrix3<T>> : SizedEntry<T, 3> {
    static constexpr const char* stem = "Matrix3";
    static constexpr auto fields = std::make_tuple();
};
template <class T>
struct ClassTraits<math::Matrix4<T>> : SizedEntry<T, 4> {
    static constexpr const char* stem = "Matrix4";
    static constexpr auto fields = std::make_tuple();
};

template <class T>
struct ClassTraits<math::Quaternion<T>> : SizedEntry<T, 4> {
    using C = math::Quaternion<T>;
    static constexpr const char* stem = "Quaternion";
    static constexpr auto fields = std::make_tuple(field("w", &C::w), field("x", &C::x),
                                                   field("y", &C::y), field("z", &C::z));
    static constexpr const char* repr = "Quaternion{}(w={:.8f}, x={:.8f}, y={:.8f}, z={:.8f})";
};

template <class T>
struct ClassTraits<math::Euler<T>> : Entry<T, NameForm::Suffix> {
    using C = math::Euler<T>;
    static constexpr const char* stem = "Euler";
    static constexpr auto fields =
        std::make_tuple(field("order", &C::order), field("convention", &C::convention),
                        field("x", &C::x), field("y", &C::y), field("z", &C::z));
};

template <class T>
struct ClassTraits<math::Pose3d<T>> : Entry<T, NameForm::Suffix> {
    using C = math::Pose3d<T>;
    static constexpr const char* stem = "Pose3d";
    static constexpr auto fields =
        std::make_tuple(field("position", &C::position), field("orientation", &C::orientation));
};
template <class T>
struct ClassTraits<math::Line<T>> : Entry<T, NameForm::Suffix> {
    using C = math::Line<T>;
    static constexpr const char* stem = "Line";
    static constexpr auto fields = std::make_tuple(field("start", &C::start), field("end", &C::end));
};
template <class T>
struct ClassTraits<math::Plane<T>> : Entry<T, NameForm::Suffix> {
    using C = math::Plane<T>;
    static constexpr const char* stem = "Plane";
    static constexpr auto fields =
        std::make_tuple(field("point", &C::point), field("normal", &C::normal));
};
template <class T>
struct ClassTraits<math::AABB<T>> : Entry<T, NameForm::Suffix> {
    using C = math::AABB<T>;
    static constexpr const char* stem = "AABB";
    static constexpr auto fields = std::make_tuple(field("min", &C::min), field("max", &C::max));
};

// Whether C is a class of the module.
template <class C, class = void>
struct IsModuleClass : std::false_type {};
template <class C>
struct IsModuleClass<C, std::void_t<decltype(ClassTraits<C>::stem)>> : std::true_type {};

template <class C>
std::string class_name() {
    using T = typename ClassTraits<C>::Scalar;
    return std::string(ClassTraits<C>::stem) + (ClassTraits<C>::form == NameForm::Letter
                                                    ? ScalarTraits<T>::letter
                                                    : ScalarTraits<T>::suffix);
}

template <class C>
struct ClassTag {
    using type = C;
};

// The class templates in the module's order; each for float, then double.
template <template <class> class... K>
struct ClassTemplates {
    template <class T, class F>
    static void for_each(F&& f) {
        (f(ClassTag<K<T>>{}), ...);
    }
};
using ModuleClassTemplates =
    ClassTemplates<math::Vector2, math::Vector3, math::Vector4, math::Matrix2, math::Matrix3,
                   math::Matrix4, math::Quaternion, math::Euler, math::Pose3d, math::Line,
                   math::Plane, math::AABB>;
