#pragma once

// One entry per class template of the module: its family, its name stem and
// form, its scalar, its size, its fields in registration order and, where it
// has them, the number format of its field repr and its array conversions. The registry at the
// end puts every class and enum of the module in registration order;
// registration, the value casters, the array conversions and the package's
// per-class functions all walk it, so a class is added here once.

#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "math/euler.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"
#include "scalar_traits.hpp"

// The families of classes. The binding source of each family defines its
// register_classes, which the module calls where the family first stands in
// the registry; it registers the family's classes in registry order.
struct Vectors {
    static void register_classes(pybind11::module_& m);
};
struct Matrices {
    static void register_classes(pybind11::module_& m);
};
struct Quaternions {
    static void register_classes(pybind11::module_& m);
};
struct EulerAngles {
    static void register_classes(pybind11::module_& m);
};
struct Geometry {
    static void register_classes(pybind11::module_& m);
};

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

// How a class meets the module's array conversion functions: the word in
// their names, the rank that places its pair among them (lowest first; a
// vector's is its size, a matrix's ten more than its order, so that a new
// size finds its place), and its rule, with the element-count message where
// the class words it otherwise than the rule.
enum class ArrayRule { ElementCount, Square };
struct ArrayForm {
    const char* word;
    int rank;
    ArrayRule rule;
    const char* count_error = nullptr;
};

template <class T, class F, NameForm name_form = NameForm::Suffix>
struct Entry {
    using Scalar = T;
    using Family = F;
    static constexpr NameForm form = name_form;
};

// A class of n components, or a matrix of order n.
template <class T, class F, int n>
struct SizedEntry : Entry<T, F, NameForm::Letter> {
    static constexpr int size = n;
};

// Not defined for a type the module does not wrap.
template <class C>
struct ClassTraits;

// A vector's repr shows its components in Python's float format.
template <class T, int n>
struct VectorEntry : SizedEntry<T, Vectors, n> {
    static constexpr const char* repr_number = "{}";
};

template <class T>
struct ClassTraits<math::Vector2<T>> : VectorEntry<T, 2> {
    using C = math::Vector2<T>;
    static constexpr const char* stem = "Vector2";
    static constexpr auto fields = std::make_tuple(field("x", &C::x), field("y", &C::y));
    static constexpr ArrayForm array{"vec2", 2, ArrayRule::ElementCount};
};
template <class T>
struct ClassTraits<math::Vector3<T>> : VectorEntry<T, 3> {
    using C = math::Vector3<T>;
    static constexpr const char* stem = "Vector3";
    static constexpr auto fields =
        std::make_tuple(field("x", &C::x), field("y", &C::y), field("z", &C::z));
    static constexpr ArrayForm array{"vec3", 3, ArrayRule::ElementCount};
};
template <class T>
struct ClassTraits<math::Vector4<T>> : VectorEntry<T, 4> {
    using C = math::Vector4<T>;
    static constexpr const char* stem = "Vector4";
    static constexpr auto fields =
        std::make_tuple(field("x", &C::x), field("y", &C::y), field("z", &C::z), field("w", &C::w));
    static constexpr ArrayForm array{"vec4", 4, ArrayRule::ElementCount};
};

// A matrix has no fields.
template <class T, int n>
struct MatrixEntry : SizedEntry<T, Matrices, n> {
    static constexpr auto fields = std::make_tuple();
};
template <class T>
struct ClassTraits<math::Matrix2<T>> : MatrixEntry<T, 2> {
    static constexpr const char* stem = "Matrix2";
    static constexpr ArrayForm array{"mat2", 12, ArrayRule::Square};
};
template <class T>
struct ClassTraits<math::Matrix3<T>> : MatrixEntry<T, 3> {
    static constexpr const char* stem = "Matrix3";
    static constexpr ArrayForm array{"mat3", 13, ArrayRule::Square};
};
template <class T>
struct ClassTraits<math::Matrix4<T>> : MatrixEntry<T, 4> {
    static constexpr const char* stem = "Matrix4";
    static constexpr ArrayForm array{"mat4", 14, ArrayRule::Square};
};

// The conversions list the quaternion first, with its own wording.
template <class T>
struct ClassTraits<math::Quaternion<T>> : SizedEntry<T, Quaternions, 4> {
    using C = math::Quaternion<T>;
    static constexpr const char* stem = "Quaternion";
    static constexpr auto fields =
        std::make_tuple(field("w", &C::w), field("x", &C::x), field("y", &C::y), field("z", &C::z));
    static constexpr const char* repr_number = "{:.8f}";
    static constexpr ArrayForm array{"quat", 0, ArrayRule::ElementCount,
                                     "Incompatible array_size, expected 4 elements"};
};

template <class T>
struct ClassTraits<math::Euler<T>> : Entry<T, EulerAngles> {
    using C = math::Euler<T>;
    static constexpr const char* stem = "Euler";
    static constexpr auto fields =
        std::make_tuple(field("order", &C::order), field("convention", &C::convention),
                        field("x", &C::x), field("y", &C::y), field("z", &C::z));
};

// The geometry classes: two fields each.
template <class C, class A, class B>
constexpr auto two_fields(const char* first, A C::*a, const char* second, B C::*b) {
    return std::make_tuple(field(first, a), field(second, b));
}
template <class T>
struct ClassTraits<math::Pose3d<T>> : Entry<T, Geometry> {
    static constexpr const char* stem = "Pose3d";
    static constexpr auto fields = two_fields("position", &math::Pose3d<T>::position, "orientation",
                                              &math::Pose3d<T>::orientation);
};
template <class T>
struct ClassTraits<math::Line<T>> : Entry<T, Geometry> {
    static constexpr const char* stem = "Line";
    static constexpr auto fields =
        two_fields("start", &math::Line<T>::start, "end", &math::Line<T>::end);
};
template <class T>
struct ClassTraits<math::Plane<T>> : Entry<T, Geometry> {
    static constexpr const char* stem = "Plane";
    static constexpr auto fields =
        two_fields("point", &math::Plane<T>::point, "normal", &math::Plane<T>::normal);
};
template <class T>
struct ClassTraits<math::AABB<T>> : Entry<T, Geometry> {
    static constexpr const char* stem = "AABB";
    static constexpr auto fields =
        two_fields("min", &math::AABB<T>::min, "max", &math::AABB<T>::max);
};

// The enums, registered under their own names by their family.
template <class E>
struct EnumTraits;
template <>
struct EnumTraits<math::euler::Order> {
    using Family = EulerAngles;
    static constexpr const char* name = "eOrder";
};
template <>
struct EnumTraits<math::euler::Convention> {
    using Family = EulerAngles;
    static constexpr const char* name = "eConvention";
};

// Whether C is a class of the module.
template <class C, class = void>
struct IsModuleClass : std::false_type {};
template <class C>
struct IsModuleClass<C, std::void_t<decltype(ClassTraits<C>::stem)>> : std::true_type {};

// Whether a class of the module takes part in the array conversions.
template <class C, class = void>
struct HasArrayForm : std::false_type {};
template <class C>
struct HasArrayForm<C, std::void_t<decltype(ClassTraits<C>::array)>> : std::true_type {};

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

// An ordered list of classes and enums.
template <class... C>
struct ClassList {
    static constexpr std::size_t count = sizeof...(C);

    template <class F>
    static void for_each(F&& f) {
        (f(ClassTag<C>{}), ...);
    }
};

// Both precisions of a class template, float first.
template <template <class> class K>
using Both = ClassList<K<float>, K<double>>;

// The lists one after the other.
template <class... Lists>
struct Joined;
template <class... C>
struct Joined<ClassList<C...>> {
    using type = ClassList<C...>;
};
template <class... A, class... B, class... Rest>
struct Joined<ClassList<A...>, ClassList<B...>, Rest...> : Joined<ClassList<A..., B...>, Rest...> {
};

// The module's classes and enums in registration order: a class stands
// before every class whose signatures mention it, and the classes of a family
// stand together.
using Registry =
    typename Joined<Both<math::Vector2>, Both<math::Vector3>, Both<math::Vector4>,
                    Both<math::Matrix2>, Both<math::Matrix3>, Both<math::Matrix4>,
                    Both<math::Quaternion>, ClassList<math::euler::Order, math::euler::Convention>,
                    Both<math::Euler>, Both<math::Pose3d>, Both<math::Line>, Both<math::Plane>,
                    Both<math::AABB>>::type;

// Calls f(ClassTag<C>{}) for every class and enum of the registry, in order.
template <class F>
void for_each_registered(F&& f) {
    Registry::for_each(f);
}

namespace registry_detail {

template <class C, bool = IsModuleClass<C>::value>
struct FamilyOf {
    using type = typename ClassTraits<C>::Family;
};
template <class C>
struct FamilyOf<C, false> {
    using type = typename EnumTraits<C>::Family;
};

template <class C, class List>
struct Contains;
template <class C, class... K>
struct Contains<C, ClassList<K...>> : std::bool_constant<(std::is_same_v<C, K> || ...)> {};

// The place of the first class of family F.
template <class F, class... C>
constexpr std::size_t first_of_family() {
    constexpr bool same[] = {std::is_same_v<F, typename FamilyOf<C>::type>...};
    std::size_t i = 0;
    while (!same[i]) ++i;
    return i;
}

// Each family is registered as a whole where it first stands, which keeps
// the registry's order only if its classes stand together.
template <class... C>
constexpr bool families_stand_together(ClassList<C...>) {
    constexpr std::size_t first[] = {first_of_family<typename FamilyOf<C>::type, C...>()...};
    for (std::size_t i = 1; i < sizeof...(C); ++i) {
        if (first[i] != i && first[i] != first[i - 1]) return false;
    }
    return true;
}

template <class F, class... C, std::size_t... I>
void for_each_family(F& f, ClassList<C...>, std::index_sequence<I...>) {
    using Families = std::tuple<typename FamilyOf<C>::type...>;
    ((first_of_family<std::tuple_element_t<I, Families>, C...>() == I
          ? f(std::tuple_element_t<I, Families>{})
          : void()),
     ...);
}

}  // namespace registry_detail

static_assert(registry_detail::families_stand_together(Registry{}),
              "the classes of a family must stand together in the registry");

template <class C>
using FamilyOf = typename registry_detail::FamilyOf<C>::type;

// Whether C is a class or an enum of the module.
template <class C>
struct IsRegistered : registry_detail::Contains<C, Registry> {};

// Calls f(Family{}) for every family, in the order of the registry.
template <class F>
void for_each_family(F&& f) {
    registry_detail::for_each_family(f, Registry{}, std::make_index_sequence<Registry::count>());
}
