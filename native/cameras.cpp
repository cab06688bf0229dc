#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>

#include "declarations.hpp"
#include "docs.hpp"
#include "math/matrix.hpp"
#include "registration.hpp"
#include "scalar_traits.hpp"

namespace {

// A viewport (x, y, width, height).
template <class T>
struct Viewport {
    math::Vector4<T> value;
};

}  // namespace

namespace pybind11::detail {

// A Vector4 of the function's precision, or any sequence of four numbers.
// The other precision's Vector4 is refused rather than read component by
// component, so that mixing precisions raises the usual TypeError.
template <class T>
struct type_caster<Viewport<T>> {
    using Other = math::Vector4<std::conditional_t<std::is_same_v<T, float>, double, float>>;
    PYBIND11_TYPE_CASTER(Viewport<T>, make_caster<math::Vector4<T>>::name +
                                          const_name(" | tuple[float, float, float, float]"));

    bool load(handle src, bool convert) {
        if (isinstance<math::Vector4<T>>(src)) {
            value.value = src.cast<const math::Vector4<T>&>();
            return true;
        }
        if (isinstance<Other>(src) || isinstance<str>(src) || isinstance<bytes>(src) ||
            !PySequence_Check(src.ptr())) {
            return false;
        }
        // A class with __getitem__ but no length is no sequence of four.
        if (PySequence_Size(src.ptr()) != 4) {
            PyErr_Clear();
            return false;
        }
        for (int k = 0; k < 4; ++k) {
            const object item = reinterpret_steal<object>(PySequence_GetItem(src.ptr(), k));
            make_caster<T> number;
            if (!item) {
                PyErr_Clear();
                return false;
            }
            if (!number.load(item, convert)) return false;
            value.value[k] = cast_op<T>(number);
        }
        return true;
    }
};

}  // namespace pybind11::detail

namespace {

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
        [](const V& point, const M& view_projection, const Viewport<T>& viewport) {
            return math::project(point, view_projection, viewport.value);
        },
        py::arg("point"), py::arg("view_projection"), py::arg("viewport"),
        doc_once<T>("Window coordinates of ``point``: x grows to the right and y downwards from "
                    "the viewport's corner ``(x, y, width, height)``, as image rows do, and "
                    "depth runs over [0, 1] from the near to the far plane; the viewport is a "
                    "Vector4 or four numbers. A point in the camera's plane (w = 0) gives "
                    "infinities or NaN; NaN input gives NaN."));
    declare::def(
        m, "unproject",
        [](const V& window, const M& view_projection, const Viewport<T>& viewport) {
            return math::unproject(window, view_projection, viewport.value);
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
