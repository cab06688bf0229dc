// Every benchmarked callable of orvane_bindings, bound with the same
// argument and result types and the same overloads in the same order, but
// with bodies that only return a default value: what is left is the cost of
// pybind11's dispatch, argument conversion and result creation. The classes
// are module-local, so this module can be imported next to the real one.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "math/euler.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"

namespace py = pybind11;

namespace {

template <class T>
using Array = py::array_t<T, py::array::forcecast>;

template <class R, class... Args>
R nothing(Args...) {
    return R();
}

template <class T>
std::string with_letter(const char* stem, const char* separator = "") {
    return std::string(stem) + separator + (sizeof(T) == sizeof(float) ? "f" : "d");
}

template <class V>
void def_vector(py::module_& m, const char* stem) {
    using T = typename math::VectorTraits<V>::Scalar;
    constexpr int N = math::VectorTraits<V>::size;
    py::class_<V> cls(m, with_letter<T>(stem).c_str(), py::module_local());
    cls.def(py::init<>())
        .def(py::init(&nothing<V, T>))
        .def(py::init(&nothing<V, T, T>));
    if constexpr (N >= 3) cls.def(py::init(&nothing<V, T, T, T>));
    if constexpr (N == 4) cls.def(py::init(&nothing<V, T, T, T, T>));
    cls.def(py::init(&nothing<V, const py::buffer&>))
        .def("__add__", &nothing<V, const V&, const V&>, py::is_operator())
        .def("__mul__", &nothing<V, const V&, const V&>, py::is_operator())
        .def("__mul__", &nothing<V, const V&, T>)
        .def("numpy", &nothing<py::array_t<T>, V&>);
}

template <class M>
void def_matrix(py::module_& m, const char* stem) {
    using T = typename M::Scalar;
    py::class_<M>(m, with_letter<T>(stem).c_str(), py::module_local())
        .def(py::init<>())
        .def("__mul__", &nothing<M, const M&, const M&>, py::is_operator())
        .def("__mul__", &nothing<M, const M&, T>)
        .def("__mul__", &nothing<typename M::Column, const M&, const typename M::Column&>)
        .def("determinant", &nothing<T, const M&>)
        .def("inverse", &nothing<M, const M&>);
}

template <class T>
void def_rotations(py::module_& m) {
    using Q = math::Quaternion<T>;
    using E = math::Euler<T>;
    using V = math::Vector3<T>;
    py::class_<Q>(m, with_letter<T>("Quaternion").c_str(), py::module_local())
        .def(py::init<>())
        .def("__mul__", &nothing<Q, const Q&, const Q&>, py::is_operator())
        .def("__mul__", &nothing<Q, const Q&, T>)
        .def("rotate", &nothing<V, const Q&, const Array<T>&>);
    py::class_<E>(m, with_letter<T>("Euler", "_").c_str(), py::module_local())
        .def(py::init<>())
        .def(py::init(&nothing<E, T, T, T>))
        .def(py::init(&nothing<E, const math::Matrix3<T>&>))
        .def(py::init(&nothing<E, const math::Matrix4<T>&>))
        .def(py::init(&nothing<E, const Q&>))
        .def(py::init(&nothing<E, const V&, T>));
}

template <class T>
void def_geometry(py::module_& m) {
    using V = math::Vector3<T>;
    using Pose = math::Pose3d<T>;
    using Line = math::Line<T>;
    py::class_<Pose>(m, with_letter<T>("Pose3d", "_").c_str(), py::module_local())
        .def(py::init<>())
        .def("__mul__", &nothing<V, const Pose&, const V&>)
        .def("__mul__", &nothing<py::array_t<T>, const Pose&, const Array<T>&>)
        .def("__mul__", &nothing<Pose, const Pose&, const Pose&>, py::is_operator());
    py::class_<Line>(m, with_letter<T>("Line", "_").c_str(), py::module_local())
        .def(py::init<>())
        .def("distanceTo", &nothing<T, const Line&, const V&>)
        .def("distanceTo", &nothing<T, const Line&, const Array<T>&>);
}

// The module functions keep the real overload order: sizes 2, 3, 4, each
// float then double.
template <template <class> class Vector>
void def_vector_functions(py::module_& m) {
    using F = Vector<float>;
    using D = Vector<double>;
    m.def("dot", &nothing<float, const F&, const F&>).def("dot", &nothing<double, const D&, const D&>);
    if constexpr (math::VectorTraits<F>::size == 3) {
        m.def("cross", &nothing<F, const F&, const F&>)
            .def("cross", &nothing<D, const D&, const D&>);
    }
    m.def("normalize", &nothing<F, const F&>).def("normalize", &nothing<D, const D&>);
}

// A module-local class carries an attribute by which other extensions
// recognize it. Without it, an argument refused by an overload costs what it
// costs in the real module: pybind11 then looks for the attribute on the
// argument's type and misses.
void drop_local_markers(py::module_& m) {
    for (auto item : m.attr("__dict__").cast<py::dict>()) {
        if (PyType_Check(item.second.ptr()) && py::hasattr(item.second, PYBIND11_MODULE_LOCAL_ID)) {
            py::delattr(item.second, PYBIND11_MODULE_LOCAL_ID);
        }
    }
}

}  // namespace

PYBIND11_MODULE(orvane_floor, m) {
    def_vector<math::Vector2<float>>(m, "Vector2");
    def_vector<math::Vector2<double>>(m, "Vector2");
    def_vector<math::Vector3<float>>(m, "Vector3");
    def_vector<math::Vector3<double>>(m, "Vector3");
    def_vector<math::Vector4<float>>(m, "Vector4");
    def_vector<math::Vector4<double>>(m, "Vector4");
    def_matrix<math::Matrix3<float>>(m, "Matrix3");
    def_matrix<math::Matrix3<double>>(m, "Matrix3");
    def_matrix<math::Matrix4<float>>(m, "Matrix4");
    def_matrix<math::Matrix4<double>>(m, "Matrix4");
    def_rotations<float>(m);
    def_rotations<double>(m);
    def_geometry<float>(m);
    def_geometry<double>(m);
    m.def("mat4_to_nparray_f32", &nothing<Array<float>, const math::Matrix4<float>&>);
    m.def("nparray_to_mat4_f64", &nothing<math::Matrix4<double>, const Array<double>&>);
    m.def("nparray_to_vec3_f32", &nothing<math::Vector3<float>, const Array<float>&>);
    def_vector_functions<math::Vector2>(m);
    def_vector_functions<math::Vector3>(m);
    def_vector_functions<math::Vector4>(m);
    drop_local_markers(m);
}
