#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <utility>

#include "array_rules.hpp"
#include "index_check.hpp"
#include "internals.hpp"
#include "fast_calls.hpp"
#include "fast_operators.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

constexpr const char* kVectorShapeError = "Incompatible shape: expected (, n), (1, n), (n, 1)";

template <int N>
struct VectorText;
template <>
struct VectorText<2> {
    static constexpr const char* name = "Vector2";
    static constexpr const char* repr = "Vector2{}(x={}, y={})";
};
template <>
struct VectorText<3> {
    static constexpr const char* name = "Vector3";
    static constexpr const char* repr = "Vector3{}(x={}, y={}, z={})";
};
template <>
struct VectorText<4> {
    static constexpr const char* name = "Vector4";
    static constexpr const char* repr = "Vector4{}(x={}, y={}, z={}, w={})";
};

template <class V, std::size_t... I>
py::str vector_repr(const V& v, std::index_sequence<I...>) {
    using T = typename math::VectorTraits<V>::Scalar;
    return py::str(VectorText<math::VectorTraits<V>::size>::repr)
        .format(ScalarTraits<T>::letter, static_cast<double>(v[I])...);
}

}  // namespace

template <class V>
void register_vector(py::module_& m) {
    using T = typename math::VectorTraits<V>::Scalar;
    static constexpr int N = math::VectorTraits<V>::size;
    const std::string name = std::string(VectorText<N>::name) + ScalarTraits<T>::letter;

    py::class_<V> cls(m, name.c_str(), py::buffer_protocol());
    namespace fc = fast_calls;
    fc::def_init<>(cls);
    fc::def_init<T>(cls);
    fc::def_init<T, T>(cls);
    if constexpr (N >= 3) fc::def_init<T, T, T>(cls);
    if constexpr (N == 4) fc::def_init<T, T, T, T>(cls);
    cls.def(py::init([](const py::buffer& b) {
        V v;
        read_column_shaped<T>(b, N, v.data(), kVectorShapeError);
        return v;
    }));
    internals::ExportedBuffer<V, T, N>::install(cls);

    fc::def_readwrite(cls, "x", &V::x);
    fc::def_readwrite(cls, "y", &V::y);
    if constexpr (N >= 3) fc::def_readwrite(cls, "z", &V::z);
    if constexpr (N == 4) fc::def_readwrite(cls, "w", &V::w);

    cls.def(py::self + py::self)
        .def(py::self - py::self)
        .def(py::self * py::self)
        .def("__mul__", &fast_operators::scaled<V, T>)
        .def("__rmul__", &fast_operators::scaled<V, T>)
        .def("__eq__", [](const V& a, const V& b) { return a == b; })
        .def("__neq__", [](const V& a, const V& b) { return a != b; })
        .def("__neg__", &fast_operators::negated<V>);
    fc::def(cls, "__getitem__", [](const V& v, int i) {
        check_index<N>(i);
        return v[i];
    });
    fc::def(cls, "__setitem__", [](V& v, int i, T value) {
        check_index<N>(i);
        v[i] = value;
    });
    fc::def(cls, "dot", &math::dot<V>);
    fc::def(cls, "norm", &math::norm<V>);
    fc::def(cls, "squareNorm", &math::squareNorm<V>);
    fc::def(cls, "normalize", &math::normalize<V>);
    fc::def(cls, "normalize_", &math::normalize_<V>);
    if constexpr (N == 3) fc::def(cls, "cross", &math::cross<T>);
    cls.def("numpy",
            [](const internals::Self<V>& self) {
                return make_view<T>(self, {N}, {static_cast<py::ssize_t>(sizeof(T))});
            })
        .def_property_readonly("ndim", [](const V&) { return 1; })
        .def_property_readonly("shape", [](const V&) { return std::make_pair(1, N); })
        .def("__repr__",
             [](const V& v) { return vector_repr(v, std::make_index_sequence<N>()); });

    namespace fast = fast_operators;
    fast::install<V, fast::AddSame<V>, fast::SubtractSame<V>, fast::MultiplySameOrNumber<V, T>,
                  fast::Unary<fast::Negative, fast::UnaryRule<V, &fast::negated<V>>>>(cls);
}

template void register_vector<math::Vector2<float>>(py::module_&);
template void register_vector<math::Vector2<double>>(py::module_&);
template void register_vector<math::Vector3<float>>(py::module_&);
template void register_vector<math::Vector3<double>>(py::module_&);
template void register_vector<math::Vector4<float>>(py::module_&);
template void register_vector<math::Vector4<double>>(py::module_&);
