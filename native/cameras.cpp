#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>

#include "declarations.hpp"
#include "math/matrix.hpp"
#include "readers.hpp"
#include "registration.hpp"

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
        T numbers[4];
        if (!read_numbers<4>(src, numbers)) return false;
        value.value = math::Vector4<T>(numbers[0], numbers[1], numbers[2], numbers[3]);
        return true;
    }
};

}  // namespace pybind11::detail

namespace {

template <class T>
using ViewportFunction = math::Vector3<T> (*)(const math::Vector3<T>&, const math::Matrix4<T>&,
                                              const math::Vector4<T>&);

// project or unproject, with the viewport as the caster read it.
template <class T, ViewportFunction<T> f>
math::Vector3<T> in_viewport(const math::Vector3<T>& point, const math::Matrix4<T>& view_projection,
                             const Viewport<T>& viewport) {
    return f(point, view_projection, viewport.value);
}

template <class T>
void register_camera_functions(py::module_& m) {
    declare::def(m, "look_at", &math::lookAt<T>, py::arg("eye"), py::arg("target"), py::arg("up"),
                 "The view matrix of a camera at ``eye`` looking at ``target``, with "
                 "``up`` giving the upward direction: it takes world coordinates to camera "
                 "coordinates (right-handed, the camera looking along -z). ``eye`` equal to "
                 "``target``, ``up`` parallel to the view direction, or NaN anywhere, "
                 "gives NaN.");
    declare::def(m, "project", &in_viewport<T, &math::project<T>>, py::arg("point"),
                 py::arg("view_projection"), py::arg("viewport"),
                 "Window coordinates of ``point``: x grows to the right and y downwards from "
                 "the viewport's corner ``(x, y, width, height)``, as image rows do, and "
                 "depth runs over [0, 1] from the near to the far plane; the viewport is a "
                 "Vector4 or four numbers. A point in the camera's plane (w = 0) gives "
                 "infinities or NaN; NaN input gives NaN.");
    declare::def(m, "unproject", &in_viewport<T, &math::unproject<T>>, py::arg("window"),
                 py::arg("view_projection"), py::arg("viewport"),
                 "The point whose window coordinates are ``window``: the inverse of "
                 "``project``. A singular ``view_projection``, or NaN input, gives NaN.");
}

// Whether dtype, read as numpy.dtype reads it, asks for float32 rather than
// float64; any other dtype is refused.
bool single_precision(const py::object& dtype) {
    const auto refuse = [&dtype] {
        return py::type_error("dtype must be float32 or float64, not " +
                              py::repr(dtype).cast<std::string>());
    };
    py::dtype resolved;
    try {
        resolved = py::dtype::from_args(dtype);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        throw refuse();
    }
    if (resolved.equal(py::dtype::of<float>())) return true;
    if (resolved.equal(py::dtype::of<double>())) return false;
    throw refuse();
}

// ortho takes numbers only, so its precision comes from dtype.
py::object ortho(double left, double right, double bottom, double top, double near, double far,
                 const py::object& dtype) {
    if (single_precision(dtype)) {
        return py::cast(math::ortho<float>(left, right, bottom, top, near, far));
    }
    return py::cast(math::ortho<double>(left, right, bottom, top, near, far));
}

}  // namespace

void register_cameras(py::module_& m) {
    register_camera_functions<float>(m);
    register_camera_functions<double>(m);
    declare::def(m, "_ortho", &ortho, py::arg("left"), py::arg("right"), py::arg("bottom"),
                 py::arg("top"), py::arg("near"), py::arg("far"), py::arg("dtype"));
}
