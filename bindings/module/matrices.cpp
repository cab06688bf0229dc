#include <pybind11/stl.h>

#include <string>
#include <utility>

#include "arithmetic.hpp"
#include "declarations.hpp"
#include "index_check.hpp"
#include "input_rules.hpp"
#include "internals.hpp"
#include "layers.hpp"
#include "math/matrix.hpp"

namespace {

// No blanks, unlike the vector constructors' message.
constexpr ComponentRules kColumnRules{"Incompatible shape: expected (,n), (1,n), (n,1)",
                                      &expected_elements};

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
    declare::def_init<>(cls);
    declare::def_init<Repeat<T, I>...>(cls);
    declare::def_init<Repeat<T, K>...>(cls);
    declare::def_init<Repeat<const typename M::Column&, I>...>(cls);
}

template <class M>
void def_factories(py::class_<M>& cls) {
    using T = typename M::Scalar;
    constexpr int n = M::order;
    if constexpr (n == 2) {
        declare::def_static(cls, "Rotation", &M::Rotation);
        declare::def_static(cls, "Scale", py::overload_cast<T, T>(&M::Scale));
        declare::def_static(cls, "Scale", py::overload_cast<const math::Vector2<T>&>(&M::Scale));
    } else {
        declare::def_static(cls, "RotationX", &M::RotationX);
        declare::def_static(cls, "RotationY", &M::RotationY);
        declare::def_static(cls, "RotationZ", &M::RotationZ);
        declare::def_static(cls, "Scale", py::overload_cast<T, T, T>(&M::Scale));
        declare::def_static(cls, "Scale", py::overload_cast<const math::Vector3<T>&>(&M::Scale));
    }
    if constexpr (n == 4) {
        declare::def_static(cls, "Translation", &M::Translation);
        declare::def_static(cls, "Perspective", py::overload_cast<T, T, T, T>(&M::Perspective));
        declare::def_static(cls, "Perspective",
                            py::overload_cast<T, T, T, T, T, T>(&M::Perspective));
        declare::def_static(cls, "Ortho", &M::Ortho);
    }
    declare::def_static(cls, "Identity", &M::Identity);
    declare::def_static(cls, "Zeros", &M::Zeros);
}

template <class M>
void define(py::class_<M>& cls) {
    using T = typename M::Scalar;
    using Column = typename M::Column;
    static constexpr int n = M::order;
    constexpr auto item = static_cast<py::ssize_t>(sizeof(T));

    def_value_constructors(cls, std::make_index_sequence<n>(), std::make_index_sequence<n * n>());
    declare::def_init(cls, [](const py::buffer& b) { return read_matrix<M>(b); });
    layers::def_storage_buffer<n, n>(cls);

    arithmetic::def_same_class(cls);
    arithmetic::def_scaling<T>(cls, &arithmetic::scaled_from_left<M, T>);
    declare::def(cls, "__mul__", &arithmetic::product<M, Column>);
    layers::def_equality(cls);
    declare::def(cls, "transpose", [](const M& a) { return math::transpose(a); });
    declare::def(cls, "trace", [](const M& a) { return math::trace(a); });
    declare::def(cls, "determinant", [](const M& a) { return math::determinant(a); });
    declare::def(cls, "inverse", [](const M& a) { return math::inverse(a); });
    declare::def(cls, "__getitem__", [](const M& a, int j) {
        check_index<n>(j);
        return math::column(a, j);
    });
    declare::def(cls, "__getitem__", [](const M& a, std::pair<int, int> ij) {
        check_index<n>(ij.first);
        check_index<n>(ij.second);
        return a(ij.first, ij.second);
    });
    // Read into a copy first, so that a failed check leaves the matrix unchanged.
    declare::def(cls, "__setitem__", [](M& a, int j, const py::buffer& b) {
        check_index<n>(j);
        math::setColumn(a, j, read_components<Column>(b, kColumnRules));
    });
    declare::def(cls, "__setitem__", [](M& a, std::pair<int, int> ij, T value) {
        check_index<n>(ij.first);
        check_index<n>(ij.second);
        a(ij.first, ij.second) = value;
    });
    declare::def(cls, "numpy", [](const internals::Self<M>& self) {
        return make_view<T>(self, {n, n}, {item, n * item});
    });
    declare::def(cls, "flatten", [](const internals::Self<M>& self) {
        return make_view<T>(self, {n * n}, {item});
    });
    declare::def_property_readonly(cls, "T", [](const M& a) { return math::transpose(a); });
    def_factories(cls);
    declare::def(cls, "__repr__",
                 [](const M& a) { return matrix_repr(a, std::make_index_sequence<n * n>()); });
}

}  // namespace

void Matrices::register_classes(py::module_& m) {
    layers::register_classes<Matrices>(
        m, [](auto& cls) { define(cls); }, py::buffer_protocol());
}
