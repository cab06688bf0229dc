#include <pybind11/pybind11.h>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

namespace {

template <class V>
void register_vector_functions(py::module_& m) {
    declare::def(m, "distance", &math::distance<V>, py::arg("a"), py::arg("b"),
                 "The Euclidean distance between ``a`` and ``b``.");
    declare::def(m, "angle", &math::angle<V>, py::arg("a"), py::arg("b"),
                 "The angle between ``a`` and ``b`` in [0, pi], accurate near 0 and near pi. A "
                 "zero or NaN vector gives NaN.");
    declare::def(m, "reflect", &math::reflect<V>, py::arg("v"), py::arg("normal"),
                 "``v`` reflected about the plane of the unit ``normal``: v - 2 dot(v, n) n.");
    declare::def(m, "project_onto", &math::projectOnto<V>, py::arg("v"), py::arg("onto"),
                 "The component of ``v`` along ``onto``; a zero ``onto``, or NaN in either, "
                 "gives NaN.");
}

}  // namespace

// The overload that takes array-likes of any one size, for f of Vector2,
// Vector3 and Vector4 of both precisions.
#define ORVANE_BY_SIZE(f)                                                          \
    &f<math::Vector2<float>>, &f<math::Vector2<double>>, &f<math::Vector3<float>>, \
        &f<math::Vector3<double>>, &f<math::Vector4<float>>, &f<math::Vector4<double>>

void register_vectors(py::module_& m) {
    for_each_of<math::Vector2, math::Vector3, math::Vector4>(
        [&m](auto tag) { register_vector_functions<typename decltype(tag)::type>(m); });
    array_likes::def_by_size<ORVANE_BY_SIZE(math::distance)>(m, "distance");
    array_likes::def_by_size<ORVANE_BY_SIZE(math::angle)>(m, "angle");
    array_likes::def_by_size<ORVANE_BY_SIZE(math::reflect)>(m, "reflect");
    array_likes::def_by_size<ORVANE_BY_SIZE(math::projectOnto)>(m, "project_onto");
}
