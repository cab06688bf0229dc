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
    m.def("dot", &math::dot<F>).def("dot", &math::dot<D>);
    if constexpr (N == 3) m.def("cross", &math::cross<float>).def("cross", &math::cross<double>);
    m.def("squareNorm", &math::squareNorm<F>).def("squareNorm", &math::squareNorm<D>);
    m.def("norm", &math::norm<F>).def("norm", &math::norm<D>);
    m.def("normalize", &math::normalize<F>).def("normalize", &math::normalize<D>);
    m.def("normalize_", &math::normalize_<F>).def("normalize_", &math::normalize_<D>);
    m.def("lerp", &math::lerp<F>).def("lerp", &math::lerp<D>);
}

template void register_vector_functions<2>(py::module_&);
template void register_vector_functions<3>(py::module_&);
template void register_vector_functions<4>(py::module_&);
