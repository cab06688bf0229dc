#include <pybind11/pybind11.h>

#include <type_traits>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "elementwise.hpp"
#include "math/euler.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "registration.hpp"

namespace {

template <class T>
py::tuple axis_angle(const math::Quaternion<T>& q) {
    const math::AxisAngle<T> r = math::toAxisAngle(q);
    return py::make_tuple(r.axis, r.angle);
}

template <class T>
T quat_dot(const math::Quaternion<T>& q0, const math::Quaternion<T>& q1) {
    return math::dot(q0, q1);
}

template <class T>
math::Matrix4<T> quat_to_matrix4(const math::Quaternion<T>& q) {
    return math::toMatrix4(q);
}

template <class T>
void register_rotation_functions(py::module_& m) {
    declare::def(m, "quat_from_axis_angle", &math::quaternionFromAxisAngle<T>, py::arg("axis"),
                 py::arg("angle"),
                 "The rotation by ``angle`` radians about ``axis``, right-handed. The axis "
                 "may have any length, however small or large; a zero or NaN axis gives "
                 "NaN in the vector part, a NaN angle NaN everywhere.");
    declare::def(m, "axis_angle", &axis_angle<T>, py::arg("q"),
                 "``(axis, angle)`` of the rotation of ``q``: a unit axis and an angle in "
                 "[0, pi]. ``q`` and ``-q`` give the same result. A rotation by 0 (the "
                 "identity, or any ``q`` whose vector part is zero) gives the axis (1, 0, 0) "
                 "and angle 0, but a NaN w gives NaN, as does NaN anywhere. ``q`` need not "
                 "be normalized, and may have any length.");
    declare::def(m, "quat_from_rotation_vector", &elementwise::fromRotationVector<T>,
                 py::arg("rotation_vector"),
                 "The rotation by ``|v|`` radians about ``v``; the zero vector gives the "
                 "identity, NaN gives NaN. Accurate for small angles.");
    declare::def(m, "rotation_vector", &elementwise::toRotationVector<T>, py::arg("q"),
                 "The rotation vector (axis times angle, angle in [0, pi]) of ``q``; the "
                 "identity gives the zero vector, NaN (a NaN w included) NaN. ``q`` and "
                 "``-q`` give the same result.");
    declare::def(m, "quat_between", &math::quaternionBetween<T>, py::arg("a"), py::arg("b"),
                 "The shortest rotation taking direction ``a`` to direction ``b`` (neither "
                 "need have unit length). Opposite directions give a rotation by pi about "
                 "an axis perpendicular to ``a``; a zero or NaN vector gives NaN "
                 "components.");
    declare::def(m, "slerp", &elementwise::slerp<T>, py::arg("q0"), py::arg("q1"), py::arg("t"),
                 "Spherical linear interpolation along the shorter arc between the "
                 "normalized ``q0`` (t = 0, exactly) and ``q1`` or ``-q1`` (t = 1, exactly). "
                 "Nearly equal inputs fall back to normalized linear interpolation; t "
                 "outside [0, 1] extrapolates. A zero or NaN quaternion or a NaN t gives "
                 "NaN.");
    declare::def(m, "nlerp", &math::nlerp<T>, py::arg("q0"), py::arg("q1"), py::arg("t"),
                 "Normalized linear interpolation along the shorter arc. A zero or NaN "
                 "quaternion or a NaN t gives NaN.");
    declare::def(m, "quat_dot", &quat_dot<T>, py::arg("q0"), py::arg("q1"),
                 "The four-component dot product w0*w1 + x0*x1 + y0*y1 + z0*z1.");
    declare::def(m, "angle_between", &math::angleBetween<T>, py::arg("q0"), py::arg("q1"),
                 "The angle of the rotation taking ``q0`` to ``q1``, in [0, pi]; accurate "
                 "near 0 and near pi. A zero or NaN quaternion gives NaN.");
    declare::def(m, "matrix3_from_axis_angle", &math::matrix3FromAxisAngle<T>, py::arg("axis"),
                 py::arg("angle"), "The rotation matrix of ``quat_from_axis_angle``.");
    declare::def(m, "matrix4_from_axis_angle", &math::matrix4FromAxisAngle<T>, py::arg("axis"),
                 py::arg("angle"),
                 "The 4x4 rotation matrix of ``quat_from_axis_angle`` (no translation).");
}

// A quaternion's through the batch operation's own copy (see elementwise.hpp).
struct ToMatrix3 {
    template <class X>
    auto operator()(const X& x) const {
        return math::toMatrix3(x);
    }
    template <class T>
    auto operator()(const math::Quaternion<T>& q) const {
        return elementwise::toMatrix(q);
    }
};
struct ToMatrix4 {
    template <class X>
    auto operator()(const X& x) const {
        return math::toMatrix4(x);
    }
    template <class T>
    auto operator()(const math::Quaternion<T>& q) const {
        return quat_to_matrix4(q);
    }
};
struct ToQuaternion {
    template <class X>
    auto operator()(const X& x) const {
        return math::toQuaternion(x);
    }
};

// One overload per argument class.
template <class Convert, template <class> class... Kinds>
void def_conversion(py::module_& m, const char* name, const char* doc) {
    for_each_of<Kinds...>([&](auto tag) {
        using X = typename decltype(tag)::type;
        declare::def(
            m, name, [](const X& x) { return Convert{}(x); }, py::arg("x"), doc);
    });
}

// The overloads that take array-likes for vectors and quaternions.
void register_array_likes(py::module_& m) {
    using array_likes::def;
    def<&math::quaternionFromAxisAngle<float>, &math::quaternionFromAxisAngle<double>>(
        m, "quat_from_axis_angle");
    def<&axis_angle<float>, &axis_angle<double>>(m, "axis_angle");
    def<&elementwise::fromRotationVector<float>, &elementwise::fromRotationVector<double>>(
        m, "quat_from_rotation_vector", "quat_from_rotation_vector");
    def<&elementwise::toRotationVector<float>, &elementwise::toRotationVector<double>>(
        m, "rotation_vector", "quat_to_rotation_vector");
    def<&math::quaternionBetween<float>, &math::quaternionBetween<double>>(m, "quat_between");
    def<&elementwise::slerp<float>, &elementwise::slerp<double>>(m, "slerp", "quat_slerp");
    def<&math::nlerp<float>, &math::nlerp<double>>(m, "nlerp");
    def<&quat_dot<float>, &quat_dot<double>>(m, "quat_dot");
    def<&math::angleBetween<float>, &math::angleBetween<double>>(m, "angle_between");
    def<&math::matrix3FromAxisAngle<float>, &math::matrix3FromAxisAngle<double>>(
        m, "matrix3_from_axis_angle");
    def<&math::matrix4FromAxisAngle<float>, &math::matrix4FromAxisAngle<double>>(
        m, "matrix4_from_axis_angle");
}

}  // namespace

void register_rotations(py::module_& m) {
    register_rotation_functions<float>(m);
    register_rotation_functions<double>(m);
    register_array_likes(m);
    def_conversion<ToMatrix3, math::Quaternion, math::Euler, math::Pose3d>(
        m, "to_matrix3",
        "The 3x3 rotation matrix of a quaternion (normalized first), Euler angles (in their "
        "order and convention) or a pose (its orientation).");
    def_conversion<ToMatrix4, math::Quaternion, math::Euler, math::Pose3d>(
        m, "to_matrix4",
        "The 4x4 transform of a quaternion or Euler angles (no translation) or of a pose (its "
        "orientation and position).");
    def_conversion<ToQuaternion, math::Matrix3, math::Matrix4, math::Euler>(
        m, "to_quaternion",
        "The quaternion of a rotation matrix (a Matrix3, or the rotation block of a Matrix4) or "
        "of Euler angles (in their order and convention).");
    const char* taken = "a Quaternion, Euler or Pose3d object, or 4 numbers (w, x, y, z)";
    array_likes::def<&elementwise::toMatrix<float>, &elementwise::toMatrix<double>>(
        m, "to_matrix3", "quat_to_matrix", taken);
    array_likes::def<&quat_to_matrix4<float>, &quat_to_matrix4<double>>(m, "to_matrix4", "", taken);
}
