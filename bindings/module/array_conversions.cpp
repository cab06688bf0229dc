#include <string>

#include "array_rules.hpp"
#include "declarations.hpp"
#include "math/matrix.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

template <class T>
using Array = py::array_t<T, py::array::forcecast>;

// How a class meets arrays: the word in its function names, its scalar, its
// component count or matrix order, and whether it takes the square rule.
template <class C>
struct Conversion;

template <class T, int N>
struct ComponentConversion {
    using Scalar = T;
    static constexpr int size = N;
    static constexpr bool square = false;
};

template <class M>
struct SquareConversion {
    using Scalar = typename M::Scalar;
    static constexpr int size = M::order;
    static constexpr bool square = true;
};

template <class T>
struct Conversion<math::Quaternion<T>> : ComponentConversion<T, 4> {
    static constexpr const char* word = "quat";
    static std::string count_error() { return "Incompatible array_size, expected 4 elements"; }
};

template <class T, int N>
struct VectorConversion : ComponentConversion<T, N> {
    static std::string count_error() { return element_count_error(N); }
};
template <class T>
struct Conversion<math::Vector2<T>> : VectorConversion<T, 2> {
    static constexpr const char* word = "vec2";
};
template <class T>
struct Conversion<math::Vector3<T>> : VectorConversion<T, 3> {
    static constexpr const char* word = "vec3";
};
template <class T>
struct Conversion<math::Vector4<T>> : VectorConversion<T, 4> {
    static constexpr const char* word = "vec4";
};

template <class T>
struct Conversion<math::Matrix2<T>> : SquareConversion<math::Matrix2<T>> {
    static constexpr const char* word = "mat2";
};
template <class T>
struct Conversion<math::Matrix3<T>> : SquareConversion<math::Matrix3<T>> {
    static constexpr const char* word = "mat3";
};
template <class T>
struct Conversion<math::Matrix4<T>> : SquareConversion<math::Matrix4<T>> {
    static constexpr const char* word = "mat4";
};

// A matrix keeps its column-major (Fortran) layout; the result owns its
// elements.
template <class C, class T = typename Conversion<C>::Scalar>
Array<T> to_array(const C& value) {
    constexpr py::ssize_t n = Conversion<C>::size;
    constexpr auto item = static_cast<py::ssize_t>(sizeof(T));
    if constexpr (Conversion<C>::square) {
        return fresh_array<T>({n, n}, {item, n * item}, value.data(), n * n);
    } else {
        return fresh_array<T>({n}, {item}, value.data(), n);
    }
}

template <class C, class T = typename Conversion<C>::Scalar>
C from_array(const Array<T>& a) {
    C value;
    if constexpr (Conversion<C>::square) {
        read_square_array<T>(a, Conversion<C>::size, value.data());
    } else {
        read_elements<T>(a, Conversion<C>::size, value.data(), &Conversion<C>::count_error);
    }
    return value;
}

template <class C>
struct Tag {
    using type = C;
};

// The converted class templates in registration order, each for float
// then double.
template <template <class> class... Classes>
struct ClassList {
    template <class Def>
    static void for_each(const Def& def) {
        ((def(Tag<Classes<float>>{}), def(Tag<Classes<double>>{})), ...);
    }
};
using ConvertedClasses = ClassList<math::Quaternion, math::Vector2, math::Vector3, math::Vector4,
                                   math::Matrix2, math::Matrix3, math::Matrix4>;

template <class C>
std::string suffixed(std::string name) {
    return name + ScalarTraits<typename Conversion<C>::Scalar>::array_suffix;
}

}  // namespace

void register_array_conversions(py::module_& m) {
    ConvertedClasses::for_each([&m](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, suffixed<C>(std::string(Conversion<C>::word) + "_to_nparray").c_str(),
                     &to_array<C>);
    });
    ConvertedClasses::for_each([&m](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, suffixed<C>(std::string("nparray_to_") + Conversion<C>::word).c_str(),
                     &from_array<C>);
    });
}
