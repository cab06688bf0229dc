#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>

#include "declarations.hpp"
#include "docs.hpp"
#include "math/matrix.hpp"
#include "registration.hpp"
#include "scalar_traits.hpp"

namespace {

template <class T>
math::Vector4<T> viewport_of(const std::array<T, 4>& v) {
    return math::Vector4<T>(v[0], v[1], v[2], v[3]);
}

template <class T>
void register_camera_functions(py::module_& m) {
    using V = math::Vector3<T>;
    using M = math::Matrix4<T>;
    declare::def(m, "look_at", &math::lookAt<T>, py::arg("eye"), py::arg("target"), py::arg("up"),
          doc_once<T>("The view matrix of a camera at ``eye`` looking at ``target``, with "
                      "``up`` giving the upward direction: it takes world coordinates to camera "
                      "coordinates (right-handed, the camera looking along -z). ``eye`` equal to "
                      "``target``, ``up`` parallel to the view direction, or NaN anywhere, "
                      "gives NaN."));
    // ortho takes numbers only, so the package picks the precision by dtype.
    declare::def(m, (std::string("_ortho") + ScalarTraits<T>::array_suffix).c_str(), &math::ortho<T>,
          py::arg("left"), py::arg("right"), py::arg("bottom"), py::arg("top"), py::arg("near"),
          py::arg("far"));
    declare::def(
        m, "project",
        [](const V& point, const M& view_projection, const std::array<T, 4>& viewport) {
            return math::project(point, view_projection, viewport_of(viewport));
        },
        py::arg("point"), py::arg("view_projection"), py::arg("viewport"),
        doc_once<T>("Window coordinates of ``point``: x grows to the right and y downwards from "
                    "the viewport's corner ``(x, y, width, height)``, as image rows do, and "
                    "depth runs over [0, 1] from the near to the far plane. A point in the "
                    "camera's plane (w = 0) gives infinities or NaN; NaN input gives NaN."));
    declare::def(
        m, "unproject",
        [](const V& window, const M& view_projection, const std::array<T, 4>& viewport) {
            return math::unproject(window, view_projection, viewport_of(viewport));
        },
        py::arg("window"), py::arg("view_projection"), py::arg("viewport"),
        doc_once<T>("The point whose window coordinates are ``window``: the inverse of "
                    "``project``. A singular ``view_projection``, or NaN input, gives NaN."));
}

}  // namespace

void register_cameras(py::module_& m) {
    register_camera_functions<float>(m);
    register_camera_functions<double>(m);
}
