#include <pybind11/operators.h>
#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "array_rules.hpp"
#include "index_check.hpp"
#include "internals.hpp"
#include "fast_calls.hpp"
#include "fast_operators.hpp"
#include "math/matrix.hpp"
#include "registration.hpp"

namespace {

constexpr const char* kColumnShapeError = "Incompatible shape: expected (,n), (1,n), (n,1)";

// "Matrix2{}([[{:.8f},{:.8f}],\n          [{:.8f},{:.8f}]])" and its larger
// siblings: rows aligned under the first one, no blank between elements.
std::string repr_template(int n) {
    std::string row = "[";
    for (int j = 0; j < n; ++j) row += j == 0 ? "{:.8f}" : ",{:.8f}";
    row += "]";
    std::string text = "Matrix" + std::to_string(n) + "{}([" + row;
    for (int i = 1; i < n; ++i) text += ",\n          " + row;
    return text + "])";
}

// Lets a pack of indices spell a parameter list of repeated types.
template <class T, std::size_t>
using Repeat = T;

// Row by row: index k is row k / n, column k % n.
template <class M, std::size_t... K>
py::str matrix_repr(const M& a, std::index_sequence<K...>) {
    constexpr int n = M::order;
    static const std::string text = repr_template(n);
    return py::str(text).format(
        ScalarTraits<typename M::Scalar>::letter,
        static_cast<double>(a(static_cast<int>(K) / n, static_cast<int>(K) % n))...);
}

template <class M, std::size_t... I, std::size_t... K>
void def_value_constructors(py::class_<M>& cls, std::index_sequence<I...>,
                            std::index_sequence<K...>) {
    using T = typename M::Scalar;
    cls.def(py::init<>())
        .def(py::init<Repeat<T, I>...>())
        .def(py::init<Repeat<T, K>...>())
        .def(py::init<Repeat<const typename M::Column&, I>...>());
}

template <class M>
void def_factories(py::class_<M>& cls) {
    using T = typename M::Scalar;
    constexpr int n = M::order;
    if constexpr (n == 2) {
        cls.def_static("Rotation", &M::Rotation)
            .def_static("Scale", py::overload_cast<T, T>(&M::Scale))
            .def_static("Scale", py::overload_cast<const math::Vector2<T>&>(&M::Scale));
    } else {
        fast_calls::def_static(cls, "RotationX", &M::RotationX);
        fast_calls::def_static(cls, "RotationY", &M::RotationY);
        fast_calls::def_static(cls, "RotationZ", &M::RotationZ);
        cls.def_static("Scale", py::overload_cast<T, T, T>(&M::Scale))
            .def_static("Scale", py::overload_cast<const math::Vector3<T>&>(&M::Scale));
    }
    if constexpr (n == 4) {
        cls.def_static("Translation", &M::Translation)
            .def_static("Perspective", py::overload_cast<T, T, T, T>(&M::Perspective))
            .def_static("Perspective", py::overload_cast<T, T, T, T, T, T>(&M::Perspective))
            .def_static("Ortho", &M::Ortho);
    }
    cls.def_static("Identity", &M::Identity).def_static("Zeros", &M::Zeros);
}

}  // namespace

template <class M>
void register_matrix(py::module_& m) {
    using T = typename M::Scalar;
    using Column = typename M::Column;
    static constexpr int n = M::order;
    constexpr auto item = static_cast<py::ssize_t>(sizeof(T));
    const std::string name = "Matrix" + std::to_string(n) + ScalarTraits<T>::letter;

    py::class_<M> cls(m, name.c_str(), py::buffer_protocol());
    def_value_constructors(cls, std::make_index_sequence<n>(), std::make_index_sequence<n * n>());
    cls.def(py::init([](const py::buffer& b) {
        M a;
        read_square<T>(b, n, a.data());
        return a;
    }));
    internals::ExportedBuffer<M, T, n, n>::install(cls);

    cls.def(py::self + py::self)
        .def(py::self - py::self)
        .def(py::self * py::self)
        .def("__mul__", &fast_operators::scaled<M, T>)
        .def("__rmul__", &fast_operators::scaled_from_left<M, T>)
        .def("__mul__", &fast_operators::product<M, Column>)
        .def("__eq__", [](const M& a, const M& b) { return a == b; })
        .def("__neq__", [](const M& a, const M& b) { return a != b; })
        ;
    fast_calls::def(cls, "transpose", [](const M& a) { return math::transpose(a); });
    fast_calls::def(cls, "trace", [](const M& a) { return math::trace(a); });
    fast_calls::def(cls, "determinant", [](const M& a) { return math::determinant(a); });
    fast_calls::def(cls, "inverse", [](const M& a) { return math::inverse(a); });
    fast_calls::def(cls, "__getitem__", [](const M& a, int j) {
        check_index<n>(j);
        return math::column(a, j);
    });
    cls.def("__getitem__",
             [](const M& a, std::pair<int, int> ij) {
                 check_index<n>(ij.first);
                 check_index<n>(ij.second);
                 return a(ij.first, ij.second);
             })
        // Read into a copy first, so that a failed check leaves the matrix unchanged.
        .def("__setitem__",
             [](M& a, int j, const py::buffer& b) {
                 check_index<n>(j);
                 Column c;
                 read_column_shaped<T>(b, n, c.data(), kColumnShapeError);
                 math::setColumn(a, j, c);
             })
        .def("__setitem__",
             [](M& a, std::pair<int, int> ij, T value) {
                 check_index<n>(ij.first);
                 check_index<n>(ij.second);
                 a(ij.first, ij.second) = value;
             })
        .def("numpy",
             [](const internals::Self<M>& self) {
                 return make_view<T>(self, {n, n}, {item, n * item});
             })
        .def("flatten",
             [](const internals::Self<M>& self) { return make_view<T>(self, {n * n}, {item}); })
        .def_property_readonly("T", [](const M& a) { return math::transpose(a); });
    def_factories(cls);
    cls.def("__repr__",
            [](const M& a) { return matrix_repr(a, std::make_index_sequence<n * n>()); });

    namespace fast = fast_operators;
    using Product = fast::Rule<M, M, fast::same_class_operator<internals::op_mul, M>>;
    fast::install<M, fast::AddSame<M>, fast::SubtractSame<M>,
                  fast::Binary<fast::Multiply, Product,
                               fast::Rule<M, fast::Number<T>, &fast::scaled<M, T>>,
                               fast::ReflectedRule<fast::Number<T>, M, &fast::scaled_from_left<M, T>>,
                               fast::Rule<M, Column, &fast::product<M, Column>>>>(cls);
}

template void register_matrix<math::Matrix2<float>>(py::module_&);
template void register_matrix<math::Matrix2<double>>(py::module_&);
template void register_matrix<math::Matrix3<float>>(py::module_&);
template void register_matrix<math::Matrix3<double>>(py::module_&);
template void register_matrix<math::Matrix4<float>>(py::module_&);
template void register_matrix<math::Matrix4<double>>(py::module_&);
