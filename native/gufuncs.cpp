// Batch operations as NumPy generalized ufuncs: one declaration per ufunc,
// each naming the per-element function for float and for double. NumPy
// then brings broadcasting, out=, axes=, casting and __array_ufunc__.

#include <pybind11/pybind11.h>

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
// Built against NumPy 2 headers, importable on NumPy 1.23 and later.
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "elementwise.hpp"
#include "gufunc_loop.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

static_assert(std::is_same_v<gufunc::Index, npy_intp>);

namespace {

using namespace elementwise;

// NumPy's default resolution takes the first loop that every input casts to
// safely, which for bools and integers of up to 16 bits is the float32 one.
// Integers and bools go to the float64 loop instead, as wider integers and
// lists do: only a float32 (or float16) input or dtype= picks float32.
int resolve_types(PyUFuncObject* ufunc, NPY_CASTING casting, PyArrayObject** operands,
                  PyObject* type_tuple, PyArray_Descr** out_dtypes) {
    bool any_integer = false;
    bool only_integers_and_doubles = true;
    for (int k = 0; k < ufunc->nin; ++k) {
        const int type = PyArray_DESCR(operands[k])->type_num;
        const bool integer = PyTypeNum_ISBOOL(type) || PyTypeNum_ISINTEGER(type);
        any_integer = any_integer || integer;
        only_integers_and_doubles = only_integers_and_doubles && (integer || type == NPY_DOUBLE);
    }
    if (type_tuple != nullptr || !any_integer || !only_integers_and_doubles) {
        return PyUFunc_DefaultTypeResolver(ufunc, casting, operands, type_tuple, out_dtypes);
    }
    // The inputs of the float64 loop; the outputs follow from the loop.
    PyObject* doubles = PyTuple_New(ufunc->nargs);
    if (doubles == nullptr) return -1;
    for (int k = 0; k < ufunc->nargs; ++k) {
        PyObject* item = k < ufunc->nin
                             ? reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_DOUBLE))
                             : Py_NewRef(Py_None);
        PyTuple_SET_ITEM(doubles, k, item);
    }
    const int result = PyUFunc_DefaultTypeResolver(ufunc, casting, operands, doubles, out_dtypes);
    Py_DECREF(doubles);
    return result;
}

}  // namespace

namespace ufuncs {

static_assert(type_number<bool> == NPY_BOOL && type_number<std::int8_t> == NPY_INT8 &&
              type_number<float> == NPY_FLOAT && type_number<double> == NPY_DOUBLE);
static_assert(std::is_same_v<LoopFunction, PyUFuncGenericFunction>);

py::object define(py::module_& m, std::unique_ptr<Definition> d) {
    PyObject* f = PyUFunc_FromFuncAndDataAndSignature(d->loops, d->data, d->types.data(), 2, d->nin,
                                                      d->nout, PyUFunc_None, d->name.c_str(),
                                                      d->doc.c_str(), 0, d->signature.c_str());
    if (f == nullptr) throw py::error_already_set();
    py::object ufunc = py::reinterpret_steal<py::object>(f);
    py::capsule owner(d.get(), [](void* p) { delete static_cast<Definition*>(p); });
    const std::string name = d.release()->name;
    reinterpret_cast<PyUFuncObject*>(f)->obj = owner.release().ptr();
    reinterpret_cast<PyUFuncObject*>(f)->type_resolver = &resolve_types;
    m.add_object(name.c_str(), ufunc);
    return ufunc;
}

void raise_in_loop(const std::string& message) {
    NPY_ALLOW_C_API_DEF
    NPY_ALLOW_C_API
    PyErr_SetString(PyExc_ValueError, message.c_str());
    NPY_DISABLE_C_API
}

}  // namespace ufuncs

namespace {

using ufuncs::add;
using ufuncs::add_lanes;

template <class M>
struct MatrixApply {
    static constexpr auto value = &matrixApply<M>;
};

// "ZYX" for ZYX: the axes of the order's sequence.
template <math::euler::Order order>
std::string order_name() {
    std::string name;
    for (int axis : sequence<order>()) name += static_cast<char>('X' + axis);
    return name;
}

// "(z, y, x)" for ZYX: the angles in the order's sequence.
std::string sequence_of(const std::string& order) {
    std::string text = "(";
    for (char axis : order) {
        if (text.size() > 1) text += ", ";
        text += static_cast<char>(axis - 'A' + 'a');
    }
    return text + ")";
}

// The package finds the Euler ufuncs by kind and by the enum members of
// orvane_bindings, in the table euler_ufuncs.
void index_euler(py::module_& m, const char* kind, const std::string& suffix,
                 math::euler::Order order, math::euler::Convention convention) {
    const std::string name = kind + ("_" + suffix);
    m.attr("euler_ufuncs")[py::make_tuple(kind, order, convention)] = m.attr(name.c_str());
}

template <math::euler::Order order, math::euler::Convention convention>
void add_euler(py::module_& m, const std::string& convention_name) {
    const std::string name = order_name<order>();
    const std::string suffix = name + "_" + convention_name;
    const std::string angles = "Euler angles " + sequence_of(name) + ", in the order's sequence";
    add<&toEuler<order, convention, float>, &toEuler<order, convention, double>>(
        m, "quat_to_euler_" + suffix,
        angles + ", of a quaternion (w, x, y, z); order " + name + ", " + convention_name + ".");
    index_euler(m, "quat_to_euler", suffix, order, convention);
    add<&fromEuler<order, convention, float>, &fromEuler<order, convention, double>>(
        m, "euler_to_quat_" + suffix,
        "Quaternion (w, x, y, z) of " + angles + "; order " + name + ", " + convention_name + ".");
    index_euler(m, "euler_to_quat", suffix, order, convention);
}

// Both conventions of each order, in the order given.
template <math::euler::Order... orders>
void add_eulers(py::module_& m) {
    using math::euler::Convention;
    ((add_euler<orders, Convention::INTRINSIC>(m, "INTRINSIC"),
      add_euler<orders, Convention::EXTRINSIC>(m, "EXTRINSIC")),
     ...);
}

}  // namespace

void register_gufuncs(py::module_& native) {
    if (_import_array() < 0 || _import_umath() < 0) throw py::error_already_set();
    // A namespace of their own: the per-object functions share some names.
    py::module_ m = native.def_submodule("gufuncs", "The batch operations as NumPy ufuncs.");
    // NumPy pickles a ufunc by its name, which pickle looks up in sys.modules;
    // listed there by its full name, the submodule also imports by that name in
    // a fresh process, so the ufuncs unpickle in worker processes.
    py::module_::import("sys").attr("modules")[m.attr("__name__")] = m;

    add<&multiply<float>, &multiply<double>>(
        m, "quat_multiply", "Hamilton product a * b of quaternions (w, x, y, z): b acts first.");
    const py::object quat_rotate = add<&rotate<float>, &rotate<double>>(
        m, "quat_rotate", "The vector v rotated by the quaternion q, of any non-zero length.");
    add<&conjugate<float>, &conjugate<double>>(m, "quat_conjugate",
                                               "The conjugate (w, -x, -y, -z).");
    add<&inverse<float>, &inverse<double>>(
        m, "quat_inverse", "The inverse: the conjugate divided by the squared length.");
    add<&normalize<float>, &normalize<double>>(m, "quat_normalize",
                                               "The quaternion divided by its length.");
    add<&slerp<float>, &slerp<double>>(
        m, "quat_slerp",
        "Spherical interpolation from a (t = 0) to b (t = 1) along the shorter arc.");
    add_lanes<&toMatrix<float>, &toMatrix<double>, ToMatrix>(
        m, "quat_to_matrix", "Rotation matrix [row, column] of the normalized quaternion.");
    add<&fromMatrix<float>, &fromMatrix<double>>(
        m, "matrix_to_quat", "Quaternion (w, x, y, z) of a rotation matrix indexed [row, column].");
    add<&toRotationVector<float>, &toRotationVector<double>>(
        m, "quat_to_rotation_vector",
        "Rotation vector (axis times angle in [0, pi]) of a quaternion.");
    add<&fromRotationVector<float>, &fromRotationVector<double>>(
        m, "quat_from_rotation_vector", "Quaternion of the rotation by |v| radians about v.");
    add<&fromXyzw<float>, &fromXyzw<double>>(
        m, "quat_from_xyzw", "Quaternion (w, x, y, z) of one stored scalar last, (x, y, z, w).");
    add<&toXyzw<float>, &toXyzw<double>>(
        m, "quat_to_xyzw", "The quaternion (w, x, y, z) stored scalar last, (x, y, z, w).");
    const py::object pose_apply = add<&poseApply<float>, &poseApply<double>>(
        m, "pose_apply", "position + orientation.rotate(v): the point v moved by a pose.");
    add<&poseCompose<float>, &poseCompose<double>>(
        m, "pose_compose", "Position and orientation of the pose a * b, which applies b first.");
    const py::object matrix_apply = ufuncs::add_by_order<MatrixApply>(
        m, "matrix_apply", "(n,n),(n)->(n)",
        "Matrix times vector, M * v, for matrices of order n = 2, 3 or 4 indexed [row, column].");
    const py::object matrix_apply_point = add<&matrixApplyPoint<float>, &matrixApplyPoint<double>>(
        m, "matrix_apply_point",
        "The point (x, y, z, 1) through a 4x4 transform: rows 0 to 2 of M * p.");

    add<&rayAabb<float>, &rayAabb<double>>(
        m, "ray_aabb",
        "(t_near, t_far) of the ray (origin, direction) through the box (min, max), as "
        "orvane.ray_aabb; a miss, and NaN input, gives (inf, -inf).");
    add<&classifyAabb<float>, &classifyAabb<double>>(
        m, "classify_aabb",
        "-1 outside, 0 intersecting, 1 inside: the box (min, max) against six planes given as "
        "rows (a, b, c, d), inside where a*x + b*y + c*z + d >= 0 (see plane_rows); as "
        "orvane.classify_aabb: a NaN row is ignored, a box with a NaN coordinate is -1. The "
        "result is int8.");

    using math::euler::Order;
    m.attr("euler_ufuncs") = py::dict();
    add_eulers<Order::XYZ, Order::YZX, Order::ZXY, Order::XZY, Order::YXZ, Order::ZYX>(m);

    register_rotation_set_ufuncs(m);
    register_euler_sequences_ufuncs(m);
    register_batch_cameras_ufuncs(m);
    register_keyframe_ufuncs(m);
    register_rigid_motion_ufuncs(m);
    register_triangle_ufuncs(m);

    register_point_movers(m, {pose_apply, matrix_apply_point, matrix_apply, quat_rotate});
}
