#include <pybind11/pybind11.h>

#include <string>
#include <type_traits>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "math/matrix.hpp"
#include "matrix_elements.hpp"
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

namespace fast_calls {

// The viewport as its caster reads it, where that is certain: a Vector4 of
// the precision, or an exact tuple or list of four exact floats or small
// ints, each read as a double and then rounded to T.
template <class T>
struct Arg<Viewport<T>> {
    Viewport<T> value;
    Outcome read(PyObject* o, bool) {
        if (Py_TYPE(o) == internals::registered_type<math::Vector4<T>>()) {
            const math::Vector4<T>* held = internals::held_value<math::Vector4<T>>(o);
            if (held == nullptr) return Outcome::Unknown;
            value.value = *held;
            return Outcome::Done;
        }
        if (!PyTuple_CheckExact(o) && !PyList_CheckExact(o)) return Outcome::Unknown;
        if (PySequence_Fast_GET_SIZE(o) != 4) return Outcome::Refused;
        PyObject** items = PySequence_Fast_ITEMS(o);
        T numbers[4];
        for (int i = 0; i < 4; ++i) {
            Py_ssize_t small = 0;
            if (PyFloat_CheckExact(items[i])) {
                numbers[i] = static_cast<T>(PyFloat_AS_DOUBLE(items[i]));
            } else if (PyLong_CheckExact(items[i]) &&
                       internals::small_int_value(items[i], &small) &&
                       small > -(Py_ssize_t{1} << 53) && small < (Py_ssize_t{1} << 53)) {
                numbers[i] = static_cast<T>(static_cast<double>(small));
            } else {
                return Outcome::Unknown;
            }
        }
        value.value = math::Vector4<T>(numbers[0], numbers[1], numbers[2], numbers[3]);
        return Outcome::Done;
    }
    const Viewport<T>& get() const { return value; }
};

}  // namespace fast_calls

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
    declare::def(m, "look_at", &elementwise::lookAt<T>, py::arg("eye"), py::arg("target"),
                 py::arg("up"),
                 "The view matrix of a camera at ``eye`` looking at ``target``, with "
                 "``up`` giving the upward direction: it takes world coordinates to camera "
                 "coordinates (right-handed, the camera looking along -z). ``eye`` equal to "
                 "``target``, ``up`` parallel to the view direction, or NaN anywhere, "
                 "gives NaN.");
    declare::def(m, "project", &in_viewport<T, &elementwise::project<T>>, py::arg("point"),
                 py::arg("view_projection"), py::arg("viewport"),
                 "Window coordinates of ``point``: x grows to the right and y downwards from "
                 "the viewport's corner ``(x, y, width, height)``, as image rows do, and "
                 "depth runs over [0, 1] from the near to the far plane; the viewport is a "
                 "Vector4 or four numbers. A point in the camera's plane (w = 0) gives "
                 "infinities or NaN; NaN input gives NaN.");
    declare::def(m, "unproject", &in_viewport<T, &elementwise::unproject<T>>, py::arg("window"),
                 py::arg("view_projection"), py::arg("viewport"),
                 "The point whose window coordinates are ``window``: the inverse of "
                 "``project``. A singular ``view_projection``, or NaN input, gives NaN.");
}

// ortho takes numbers only, so its precision comes from dtype.
py::object ortho(double left, double right, double bottom, double top, double near, double far,
                 const py::object& dtype) {
    if (array_likes::single_precision(dtype)) {
        return py::cast(math::ortho<float>(left, right, bottom, top, near, far));
    }
    return py::cast(math::ortho<double>(left, right, bottom, top, near, far));
}

}  // namespace

void register_cameras(py::module_& m) {
    register_camera_functions<float>(m);
    register_camera_functions<double>(m);
    array_likes::def<&elementwise::lookAt<float>, &elementwise::lookAt<double>>(m, "look_at");
    array_likes::def<&elementwise::project<float>, &elementwise::project<double>>(m, "project");
    array_likes::def<&elementwise::unproject<float>, &elementwise::unproject<double>>(m,
                                                                                      "unproject");
    declare::def(m, "_ortho", &ortho, py::arg("left"), py::arg("right"), py::arg("bottom"),
                 py::arg("top"), py::arg("near"), py::arg("far"), py::arg("dtype"));
}
