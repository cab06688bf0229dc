#include "declarations.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

template <int N, class T>
struct VectorOfSize;
template <class T>
struct VectorOfSize<2, T> {
    using type = math::Vector2<T>;
};
template <class T>
struct VectorOfSize<3, T> {
    using type = math::Vector3<T>;
};
template <class T>
struct VectorOfSize<4, T> {
    using type = math::Vector4<T>;
};

}  // namespace

// Each name gets its float overload, then its double one; pybind11 appends
// them to the overloads already registered under that name.
template <int N>
void register_vector_functions(py::module_& m) {
    using F = typename VectorOfSize<N, float>::type;
    using D = typename VectorOfSize<N, double>::type;
    using declare::def;
    def(def(m, "dot", &math::dot<F>), "dot", &math::dot<D>);
    if constexpr (N == 3) def(def(m, "cross", &math::cross<float>), "cross", &math::cross<double>);
    def(def(m, "squareNorm", &math::squareNorm<F>), "squareNorm", &math::squareNorm<D>);
    def(def(m, "norm", &math::norm<F>), "norm", &math::norm<D>);
    def(def(m, "normalize", &math::normalize<F>), "normalize", &math::normalize<D>);
    def(def(m, "normalize_", &math::normalize_<F>), "normalize_", &math::normalize_<D>);
    def(def(m, "lerp", &math::lerp<F>), "lerp", &math::lerp<D>);
}

template void register_vector_functions<2>(py::module_&);
template void register_vector_functions<3>(py::module_&);
template void register_vector_functions<4>(py::module_&);
