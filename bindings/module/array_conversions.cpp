#include <string>

#include "array_rules.hpp"
#include "class_traits.hpp"
#include "declarations.hpp"
#include "registration.hpp"

namespace {

template <class T>
using Array = py::array_t<T, py::array::forcecast>;

template <class C>
constexpr bool is_square = ClassTraits<C>::array.rule == ArrayRule::Square;

// A matrix keeps its column-major (Fortran) layout; the result owns its
// elements.
template <class C, class T = typename ClassTraits<C>::Scalar>
Array<T> to_array(const C& value) {
    constexpr py::ssize_t n = ClassTraits<C>::size;
    constexpr auto item = static_cast<py::ssize_t>(sizeof(T));
    if constexpr (is_square<C>) {
        return fresh_array<T>({n, n}, {item, n * item}, value.data(), n * n);
    } else {
        return fresh_array<T>({n}, {item}, value.data(), n);
    }
}

template <class C, class T = typename ClassTraits<C>::Scalar>
C from_array(const Array<T>& a) {
    if constexpr (is_square<C>) {
        return read_matrix<C>(a);
    } else {
        C value;
        constexpr int n = ClassTraits<C>::size;
        read_elements<T>(a, n, value.data(), [] {
            constexpr const char* own = ClassTraits<C>::array.count_error;
            return own != nullptr ? std::string(own) : element_count_error(n);
        });
        return value;
    }
}

// Calls def(tag) for every class with conversions, by rank, float before
// double within a rank.
template <class Def>
void for_each_converted(const Def& def) {
    bool more = true;
    for (int rank = 0; more; ++rank) {
        more = false;
        for_each_registered([&](auto tag) {
            using C = typename decltype(tag)::type;
            if constexpr (HasArrayForm<C>::value) {
                if (ClassTraits<C>::array.rank == rank) def(tag);
                more = more || ClassTraits<C>::array.rank > rank;
            }
        });
    }
}

template <class C>
std::string suffixed(std::string name) {
    return name + ScalarTraits<typename ClassTraits<C>::Scalar>::array_suffix;
}

}  // namespace

void register_array_conversions(py::module_& m) {
    for_each_converted([&m](auto tag) {
        using C = typename decltype(tag)::type;
        const std::string word = ClassTraits<C>::array.word;
        declare::def(m, suffixed<C>(word + "_to_nparray").c_str(), &to_array<C>);
    });
    for_each_converted([&m](auto tag) {
        using C = typename decltype(tag)::type;
        const std::string word = ClassTraits<C>::array.word;
        declare::def(m, suffixed<C>("nparray_to_" + word).c_str(), &from_array<C>);
    });
}
