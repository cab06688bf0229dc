#include <pybind11/stl.h>

#include <utility>

#include "array_rules.hpp"
#include "index_check.hpp"
#include "arithmetic.hpp"
#include "declarations.hpp"
#include "internals.hpp"
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
    declare::def_init<>(cls);
    declare::def_init<T>(cls);
    declare::def_init<T, T>(cls);
    if constexpr (N >= 3) declare::def_init<T, T, T>(cls);
    if constexpr (N == 4) declare::def_init<T, T, T, T>(cls);
    declare::def_init(cls, [](const py::buffer& b) {
        V v;
        read_column_shaped<T>(b, N, v.data(), kVectorShapeError);
        return v;
    });
    internals::ExportedBuffer<V, T, N>::install(cls);

    declare::def_readwrite(cls, "x", &V::x);
    declare::def_readwrite(cls, "y", &V::y);
    if constexpr (N >= 3) declare::def_readwrite(cls, "z", &V::z);
    if constexpr (N == 4) declare::def_readwrite(cls, "w", &V::w);

    arithmetic::def_same_class(cls);
    arithmetic::def_scaling<T>(cls, &arithmetic::scaled<V, T>);
    declare::def(cls, "__eq__", [](const V& a, const V& b) { return a == b; });
    declare::def(cls, "__neq__", [](const V& a, const V& b) { return a != b; });
    declare::def(cls, "__neg__", &arithmetic::negated<V>);
    declare::def(cls, "__getitem__", [](const V& v, int i) {
        check_index<N>(i);
        return v[i];
    });
    declare::def(cls, "__setitem__", [](V& v, int i, T value) {
        check_index<N>(i);
        v[i] = value;
    });
    declare::def(cls, "dot", &math::dot<V>);
    declare::def(cls, "norm", &math::norm<V>);
    declare::def(cls, "squareNorm", &math::squareNorm<V>);
    declare::def(cls, "normalize", &math::normalize<V>);
    declare::def(cls, "normalize_", &math::normalize_<V>);
    if constexpr (N == 3) declare::def(cls, "cross", &math::cross<T>);
    declare::def(cls, "numpy", [](const internals::Self<V>& self) {
        return make_view<T>(self, {N}, {static_cast<py::ssize_t>(sizeof(T))});
    });
    declare::def_property_readonly(cls, "ndim", [](const V&) { return 1; });
    declare::def_property_readonly(cls, "shape", [](const V&) { return std::make_pair(1, N); });
    declare::def(cls, "__repr__",
                 [](const V& v) { return vector_repr(v, std::make_index_sequence<N>()); });
}

template void register_vector<math::Vector2<float>>(py::module_&);
template void register_vector<math::Vector2<double>>(py::module_&);
template void register_vector<math::Vector3<float>>(py::module_&);
template void register_vector<math::Vector3<double>>(py::module_&);
template void register_vector<math::Vector4<float>>(py::module_&);
template void register_vector<math::Vector4<double>>(py::module_&);
