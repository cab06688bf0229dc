#include <type_traits>

#include "class_traits.hpp"
#include "declarations.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

template <class C, class U>
struct Rebound;
template <template <class> class K, class T, class U>
struct Rebound<K<T>, U> {
    using type = K<U>;
};

// The function `name` for F, then for D; pybind11 appends each to the
// overloads already registered under that name.
template <class P, class Q>
void def_pair(py::module_& m, const char* name, P f, Q d) {
    declare::def(declare::def(m, name, f), name, d);
}

}  // namespace

// The vector classes in registry order, each size with its float overload,
// then its double one.
void register_vector_functions(py::module_& m) {
    for_each_registered([&m](auto tag) {
        using F = typename decltype(tag)::type;
        if constexpr (std::is_same_v<FamilyOf<F>, Vectors>) {
            if constexpr (std::is_same_v<typename ClassTraits<F>::Scalar, float>) {
                using D = typename Rebound<F, double>::type;
                def_pair(m, "dot", &math::dot<F>, &math::dot<D>);
                if constexpr (ClassTraits<F>::size == 3) {
                    def_pair(m, "cross", &math::cross<float>, &math::cross<double>);
                }
                def_pair(m, "squareNorm", &math::squareNorm<F>, &math::squareNorm<D>);
                def_pair(m, "norm", &math::norm<F>, &math::norm<D>);
                def_pair(m, "normalize", &math::normalize<F>, &math::normalize<D>);
                def_pair(m, "normalize_", &math::normalize_<F>, &math::normalize_<D>);
                def_pair(m, "lerp", &math::lerp<F>, &math::lerp<D>);
            }
        }
    });
}
