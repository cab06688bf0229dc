// What orvane.arrays.transform_points does with the object it is given: the
// ufunc that moves points by that kind of object, the dtype of its precision
// and its values as the ufunc's leading operands. pybind11 picks the
// overload, so subclasses are taken and an object without a value is refused
// as everywhere else.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "array_rules.hpp"
#include "class_kinds.hpp"
#include "classes.hpp"
#include "declarations.hpp"
#include "math/matrix.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "registration.hpp"

namespace {

// A copy of the value's numbers; a matrix indexed [row, column].
template <class C>
py::array operand(const C& c) {
    using T = typename ClassTraits<C>::Scalar;
    constexpr py::ssize_t n = ClassTraits<C>::size;
    constexpr auto item = static_cast<py::ssize_t>(sizeof(T));
    if constexpr (IsMatrix<C>::value) {
        return fresh_array<T>({n, n}, {item, n * item}, c.data(), n * n);
    } else {
        return fresh_array<T>({n}, {item}, c.data(), n);
    }
}

template <class C, class... Operands>
py::tuple choice(const py::object& ufunc, const Operands&... operands) {
    return py::make_tuple(ufunc, py::dtype::of<typename ClassTraits<C>::Scalar>(),
                          py::make_tuple(operand(operands)...));
}

// The same message for an array of transforms as the per-object mistake it is.
[[noreturn]] void refuse(const py::object& obj) {
    if (py::isinstance<py::array>(obj)) {
        throw py::type_error(
            "transform_points: cannot transform points by an array: it takes one "
            "Pose3d, Matrix4, Matrix3 or Quaternion object. Arrays of 4x4 transforms "
            "go to matrix_apply_point(m, points), of n x n matrices to "
            "matrix_apply(m, v), of quaternions to quat_rotate(q, points)");
    }
    throw py::type_error("transform_points: cannot transform points by a " +
                         py::str(py::type::handle_of(obj).attr("__name__")).cast<std::string>() +
                         ": it takes one Pose3d, Matrix4, Matrix3 or Quaternion object");
}

}  // namespace

void register_point_movers(py::module_& m, const PointUfuncs& ufuncs) {
    for_each_of<math::Pose3d>([&](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, "points_mover", [u = ufuncs.pose_apply](const C& p) {
            return choice<C>(u, p.position, p.orientation);
        });
    });
    for_each_of<math::Matrix4>([&](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, "points_mover",
                     [u = ufuncs.matrix_apply_point](const C& a) { return choice<C>(u, a); });
    });
    for_each_of<math::Matrix3>([&](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, "points_mover",
                     [u = ufuncs.matrix_apply](const C& a) { return choice<C>(u, a); });
    });
    for_each_of<math::Quaternion>([&](auto tag) {
        using C = typename decltype(tag)::type;
        declare::def(m, "points_mover",
                     [u = ufuncs.quat_rotate](const C& q) { return choice<C>(u, q); });
    });
    declare::def(m, "points_mover", [](const py::object& obj) -> py::tuple { refuse(obj); });
}
