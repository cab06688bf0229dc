#include <pybind11/pybind11.h>

#include <type_traits>

#include "declarations.hpp"
#include "docs.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

template <class V>
void register_vector_functions(py::module_& m) {
    constexpr bool first = std::is_same_v<V, math::Vector2<float>>;
    auto doc = [](const char* text) { return doc_if_first(first, text); };
    declare::def(m, "distance", &math::distance<V>, py::arg("a"), py::arg("b"),
          doc("The Euclidean distance between ``a`` and ``b``."));
    declare::def(m, "angle", &math::angle<V>, py::arg("a"), py::arg("b"),
          doc("The angle between ``a`` and ``b`` in [0, pi], accurate near 0 and near pi. A "
              "zero or NaN vector gives NaN."));
    declare::def(m, "reflect", &math::reflect<V>, py::arg("v"), py::arg("normal"),
          doc("``v`` reflected about the plane of the unit ``normal``: v - 2 dot(v, n) n."));
    declare::def(m, "project_onto", &math::projectOnto<V>, py::arg("v"), py::arg("onto"),
          doc("The component of ``v`` along ``onto``; a zero ``onto``, or NaN in either, "
              "gives NaN."));
}

}  // namespace

void register_vectors(py::module_& m) {
    register_vector_functions<math::Vector2<float>>(m);
    register_vector_functions<math::Vector2<double>>(m);
    register_vector_functions<math::Vector3<float>>(m);
    register_vector_functions<math::Vector3<double>>(m);
    register_vector_functions<math::Vector4<float>>(m);
    register_vector_functions<math::Vector4<double>>(m);
}
