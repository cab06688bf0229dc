#include <pybind11/stl.h>

#include <utility>

#include "arithmetic.hpp"
#include "declarations.hpp"
#include "input_rules.hpp"
#include "internals.hpp"
#include "layers.hpp"
#include "math/vector.hpp"

namespace {

template <class V>
void define(py::class_<V>& cls) {
    using T = typename ClassTraits<V>::Scalar;
    static constexpr int N = ClassTraits<V>::size;

    declare::def_init<>(cls);
    declare::def_init<T>(cls);
    declare::def_init<T, T>(cls);
    if constexpr (N >= 3) declare::def_init<T, T, T>(cls);
    if constexpr (N == 4) declare::def_init<T, T, T, T>(cls);
    declare::def_init(cls, [](const py::buffer& b) { return read_components<V>(b, kVectorRules); });
    layers::def_storage_buffer<N>(cls);

    layers::def_fields(cls);
    arithmetic::def_same_class(cls);
    arithmetic::def_scaling<T>(cls, &arithmetic::scaled<V, T>);
    layers::def_equality(cls);
    declare::def(cls, "__neg__", &arithmetic::negated<V>);
    layers::def_components(cls);
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
    layers::def_field_repr(cls);
}

}  // namespace

void Vectors::register_classes(py::module_& m) {
    layers::register_classes<Vectors>(
        m, [](auto& cls) { define(cls); }, py::buffer_protocol());
}
