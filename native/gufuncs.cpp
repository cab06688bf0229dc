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

static_assert(std::is_same_v<gufunc::Index, npy_intp>);

namespace {

using namespace elementwise;

// What NumPy keeps pointers to for the life of a ufunc; owned by the ufunc
// through its `obj` slot.
struct Definition {
    std::string name, doc;
    PyUFuncGenericFunction loops[2];
    void* data[2] = {nullptr, nullptr};
    std::unique_ptr<char[]> types;
};

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

// The NumPy type of each operand of both loops, float32 loop first. Returns
// the ufunc.
py::object define(py::module_& m, std::unique_ptr<Definition> d, int nin, int nout,
                  const char* signature, const std::string& types) {
    d->types.reset(new char[types.size()]);
    std::copy(types.begin(), types.end(), d->types.get());
    PyObject* f = PyUFunc_FromFuncAndDataAndSignature(d->loops, d->data, d->types.get(), 2, nin,
                                                      nout, PyUFunc_None, d->name.c_str(),
                                                      d->doc.c_str(), 0, signature);
    if (f == nullptr) throw py::error_already_set();
    py::object ufunc = py::reinterpret_steal<py::object>(f);
    py::capsule owner(d.get(), [](void* p) { delete static_cast<Definition*>(p); });
    const std::string name = d.release()->name;
    reinterpret_cast<PyUFuncObject*>(f)->obj = owner.release().ptr();
    reinterpret_cast<PyUFuncObject*>(f)->type_resolver = &resolve_types;
    m.add_object(name.c_str(), ufunc);
    return ufunc;
}

template <class T>
constexpr char npy_type = 0;
template <>
constexpr char npy_type<float> = NPY_FLOAT;
template <>
constexpr char npy_type<double> = NPY_DOUBLE;
template <>
constexpr char npy_type<std::int8_t> = NPY_INT8;

template <class Tuple, std::size_t... k>
std::string types_of(std::index_sequence<k...>) {
    return {npy_type<typename gufunc::Layout<std::tuple_element_t<k, Tuple>>::Scalar>...};
}

template <class L>
std::string operand_types() {
    return types_of<typename L::In>(std::make_index_sequence<L::nin>()) +
           types_of<typename L::Out>(std::make_index_sequence<L::nout>());
}

// A ufunc of the two per-element functions, its core signature that of
// their parameters and results.
template <auto F32, auto F64>
py::object add(py::module_& m, std::string name, std::string doc) {
    using L32 = gufunc::Loop<F32>;
    using L64 = gufunc::Loop<F64>;
    static_assert(std::is_same_v<typename L32::Scalar, float>);
    static_assert(std::is_same_v<typename L64::Scalar, double>);
    static_assert(L32::nin == L64::nin && L32::nout == L64::nout);
    static_assert(L32::signature == L64::signature, "both precisions take the same shapes");
    static_assert(L32::signature.size < static_cast<int>(sizeof L32::signature.text));
    auto d = std::make_unique<Definition>();
    d->name = std::move(name);
    d->doc = std::move(doc);
    d->loops[0] = &L32::run;
    d->loops[1] = &L64::run;
    return define(m, std::move(d), L32::nin, L32::nout, L32::signature.text,
                  operand_types<L32>() + operand_types<L64>());
}

// (n,n),(n)->(n): the loop of the matrix order the call brings.
template <class T>
void matrix_apply_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void* data) {
    using gufunc::Loop;
    switch (dimensions[1]) {
        case 2: return Loop<&matrixApply<math::Matrix2<T>>>::run(args, dimensions, steps, data);
        case 3: return Loop<&matrixApply<math::Matrix3<T>>>::run(args, dimensions, steps, data);
        case 4: return Loop<&matrixApply<math::Matrix4<T>>>::run(args, dimensions, steps, data);
    }
    NPY_ALLOW_C_API_DEF
    NPY_ALLOW_C_API
    PyErr_Format(PyExc_ValueError, "matrix_apply: n is %zd, expected 2, 3 or 4",
                 static_cast<Py_ssize_t>(dimensions[1]));
    NPY_DISABLE_C_API
}

py::object add_matrix_apply(py::module_& m) {
    auto d = std::make_unique<Definition>();
    d->name = "matrix_apply";
    d->doc =
        "Matrix times vector, M * v, for matrices of order n = 2, 3 or 4 indexed "
        "[row, column].";
    d->loops[0] = &matrix_apply_loop<float>;
    d->loops[1] = &matrix_apply_loop<double>;
    return define(m, std::move(d), 2, 1, "(n,n),(n)->(n)",
                  {NPY_FLOAT, NPY_FLOAT, NPY_FLOAT, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE});
}

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
    add<&toMatrix<float>, &toMatrix<double>>(
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
    const py::object matrix_apply = add_matrix_apply(m);
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

    register_point_movers(m, {pose_apply, matrix_apply_point, matrix_apply, quat_rotate});
}
