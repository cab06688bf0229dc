// The nearest rotation of a matrix and rigid motions: per object and as
// ufuncs, both through one compiled copy of each per-element function.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "elementwise.hpp"
#include "gufunc_loop.hpp"
#include "math/nearest_rotation.hpp"
#include "math/rigid_motion.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

// N numbers with no class of their own: a twist, a dual quaternion.
template <class T, int N>
struct Numbers {
    T v[N];
};

// Any argument NumPy can read as an array of numbers: a matrix's rows, or
// numbers in a row.
template <bool rows>
struct ArrayLike {
    PyObject* object = nullptr;
};
using Rows = ArrayLike<true>;
using Row = ArrayLike<false>;

}  // namespace

namespace pybind11::detail {

template <bool rows>
struct type_caster<ArrayLike<rows>> {
    PYBIND11_TYPE_CASTER(ArrayLike<rows>,
                         const_name<rows>(const_name("collections.abc.Sequence["
                                                     "collections.abc.Sequence[float]]"),
                                          const_name("collections.abc.Sequence[float]")) +
                             const_name(" | numpy.ndarray"));
    bool load(handle src, bool) {
        value.object = src.ptr();
        return true;
    }
};

}  // namespace pybind11::detail

namespace fast_calls {

template <bool rows>
struct Arg<ArrayLike<rows>> {
    ArrayLike<rows> value;
    Outcome read(PyObject* o, bool) {
        value.object = o;
        return Outcome::Done;
    }
    const ArrayLike<rows>& get() const { return value; }
};

}  // namespace fast_calls

namespace gufunc {

template <class T, int N>
struct Layout<Numbers<T, N>> : Shaped<T, N> {
    static Numbers<T, N> read(const char* p, const Index* s) {
        Numbers<T, N> r;
        for (int k = 0; k < N; ++k) r.v[k] = *reinterpret_cast<const T*>(p + k * s[0]);
        return r;
    }
    static void write(const Numbers<T, N>& r, char* p, const Index* s) {
        for (int k = 0; k < N; ++k) *reinterpret_cast<T*>(p + k * s[0]) = r.v[k];
    }
};

}  // namespace gufunc

namespace {

template <class T>
using V3 = math::Vector3<T>;
template <class T>
using Q = math::Quaternion<T>;
template <class T>
using Pose = math::Pose3d<T>;
template <class T>
using Twist = Numbers<T, 6>;
template <class T>
using Dual = Numbers<T, 8>;

// The per-element functions, one compiled copy each (see elementwise.hpp).
template <class T>
ORVANE_ONE_COPY Q<T> fromMatrix3(const math::Matrix3<T>& m) {
    return math::nearestRotation(m);
}
template <class T>
ORVANE_ONE_COPY Pose<T> inverseOf(const Pose<T>& p) {
    return p.inverse();
}
template <class T>
ORVANE_ONE_COPY math::Matrix4<T> matrixOf(const Pose<T>& p) {
    return p.toMatrix();
}
template <class T>
ORVANE_ONE_COPY Pose<T> fromMatrix4(const math::Matrix4<T>& m) {
    return math::poseFromMatrix(m);
}
template <class T>
ORVANE_ONE_COPY Pose<T> expOf(const Twist<T>& xi) {
    return math::poseExp(V3<T>(xi.v[0], xi.v[1], xi.v[2]), V3<T>(xi.v[3], xi.v[4], xi.v[5]));
}
template <class T>
ORVANE_ONE_COPY Twist<T> logOf(const Pose<T>& p) {
    const math::ExpCoords<T> c = math::poseLog(p);
    return {{c.rotation.x, c.rotation.y, c.rotation.z, c.translation.x, c.translation.y,
             c.translation.z}};
}
template <class T>
ORVANE_ONE_COPY Pose<T> powerOf(const Pose<T>& p, T n) {
    return math::posePower(p, n);
}
template <class T>
ORVANE_ONE_COPY Dual<T> dualOf(const Pose<T>& p) {
    const math::DualQuaternion<T> d = math::toDualQuaternion(p);
    return {{d.real.w, d.real.x, d.real.y, d.real.z, d.dual.w, d.dual.x, d.dual.y, d.dual.z}};
}
template <class T>
ORVANE_ONE_COPY Pose<T> fromDual(const Dual<T>& d) {
    const T* v = d.v;
    return math::poseFromDualQuaternion(
        math::DualQuaternion<T>{{v[0], v[1], v[2], v[3]}, {v[4], v[5], v[6], v[7]}});
}

// The batch forms, on (position, orientation) as stored.
template <class T>
std::tuple<V3<T>, Q<T>> fields(const Pose<T>& p) {
    return {p.position, p.orientation};
}
template <class T>
std::tuple<V3<T>, Q<T>> batchInverse(const V3<T>& p, const Q<T>& q) {
    return fields(inverseOf(elementwise::pose(p, q)));
}
template <class T>
math::Matrix4<T> batchToMatrix(const V3<T>& p, const Q<T>& q) {
    return matrixOf(elementwise::pose(p, q));
}
template <class T>
std::tuple<V3<T>, Q<T>> batchFromMatrix(const math::Matrix4<T>& m) {
    return fields(fromMatrix4(m));
}
template <class T>
std::tuple<V3<T>, Q<T>> batchExp(const Twist<T>& xi) {
    return fields(expOf(xi));
}
template <class T>
Twist<T> batchLog(const V3<T>& p, const Q<T>& q) {
    return logOf(elementwise::pose(p, q));
}
template <class T>
std::tuple<V3<T>, Q<T>> batchPower(const V3<T>& p, const Q<T>& q, T n) {
    return fields(powerOf(elementwise::pose(p, q), n));
}
template <class T>
Dual<T> batchToDual(const V3<T>& p, const Q<T>& q) {
    return dualOf(elementwise::pose(p, q));
}
template <class T>
std::tuple<V3<T>, Q<T>> batchFromDual(const Dual<T>& d) {
    return fields(fromDual(d));
}

// What the messages about one parameter name.
struct Where {
    const char* function;
    const char* parameter;
    const char* takes;  // "a Matrix4f, a Matrix4d or 4x4 numbers"
    const char* batch;  // the orvane.arrays function for many
};

std::string text_of(const py::handle& h) { return py::str(h); }

// An array-like of exactly `shape` as an array of its precision: that of
// dtype= if given, else float32 for a float32 array, else float64.
py::array read_shaped(PyObject* o, const std::vector<py::ssize_t>& shape, const py::object& dtype,
                      const Where& w, bool& single) {
    const std::string lead = std::string(w.function) + ": " + w.parameter;
    const auto refuse = [&](const std::string& what) {
        return py::type_error(lead + " must be " + w.takes + ", not " + what);
    };
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None || PyFloat_Check(o) ||
        PyLong_Check(o) || PyDict_Check(o) || PyAnySet_Check(o)) {
        throw refuse(array_likes::type_name(o));
    }
    if (internals::of_bound_class(o)) {
        if (!dtype.is_none()) {
            throw py::type_error(std::string(w.function) +
                                 ": dtype= is for numbers only; an object keeps its precision "
                                 "(convert it with to_float or to_double)");
        }
        throw refuse(array_likes::type_name(o));
    }
    const py::array a =
        py::isinstance<py::array>(o) ? py::reinterpret_borrow<py::array>(o) : py::array::ensure(o);
    if (!a) throw refuse(array_likes::type_name(o));
    const char kind = a.dtype().kind();
    if (std::strchr("biuf", kind) == nullptr) {
        throw refuse(array_likes::type_name(o) + " of dtype " + text_of(a.dtype()));
    }
    bool same = a.ndim() == static_cast<py::ssize_t>(shape.size());
    for (std::size_t d = 0; same && d < shape.size(); ++d) same = a.shape(d) == shape[d];
    if (!same) {
        py::tuple wanted(shape.size());
        for (std::size_t d = 0; d < shape.size(); ++d) wanted[d] = shape[d];
        std::string message =
            lead + " has shape " + text_of(a.attr("shape")) + "; it takes " + text_of(wanted);
        if (a.ndim() > static_cast<py::ssize_t>(shape.size())) {
            message += std::string(": for many, use orvane.arrays.") + w.batch;
        }
        throw py::value_error(message);
    }
    single = dtype.is_none() ? kind == 'f' && a.dtype().itemsize() == 4
                             : array_likes::single_precision(dtype, w.function);
    return a;
}

// The numbers of a checked array, in C order, rounded to T.
template <class T, int N>
Numbers<T, N> numbers_of(const py::array& a) {
    const auto c = py::array_t<T, py::array::c_style | py::array::forcecast>::ensure(a);
    if (!c) throw py::error_already_set();
    Numbers<T, N> r;
    std::memcpy(r.v, c.data(), sizeof r.v);
    return r;
}

template <class T, int N>
py::array array_of(const Numbers<T, N>& n) {
    py::array_t<T> a(N);
    std::memcpy(a.mutable_data(), n.v, sizeof n.v);
    return std::move(a);
}

template <class T>
bool is_nan(const Q<T>& q) {
    return std::isnan(q.w);
}

const char* const kReflection =
    " has a negative determinant: it is a reflection (a rotation times a mirroring), and no "
    "rotation is near it; negate the matrix or one of its columns to make it a rotation";

template <class T>
math::Matrix3<T> block_of(const math::Matrix4<T>& m) {
    return {m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1), m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

// Why a rotation block of finite elements gave NaN: its scale never does.
[[noreturn]] void refuse_block(const std::string& what) {
    throw py::value_error(what + kReflection);
}

template <class T>
bool all_finite(const math::Matrix3<T>& m) {
    bool finite = true;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) finite = finite && std::isfinite(m(i, j));
    }
    return finite;
}

template <class T>
Q<T> quat_from_matrix3(const math::Matrix3<T>& m) {
    const Q<T> q = fromMatrix3(m);
    if (is_nan(q) && all_finite(m)) refuse_block("quat_from_matrix: m");
    return q;
}
template <class T>
Q<T> quat_from_matrix4(const math::Matrix4<T>& m) {
    const math::Matrix3<T> block = block_of(m);
    const Q<T> q = fromMatrix3(block);
    if (is_nan(q) && all_finite(block)) {
        refuse_block("quat_from_matrix: the rotation block of m");
    }
    return q;
}

template <class T>
Pose<T> pose_from_matrix(const math::Matrix4<T>& m) {
    const Pose<T> p = fromMatrix4(m);
    if (!is_nan(p.orientation)) return p;
    std::string row;
    for (int j = 0; j < 4; ++j) {
        if (!std::isfinite(m(3, j)) || !std::isfinite(m(0, j)) || !std::isfinite(m(1, j)) ||
            !std::isfinite(m(2, j))) {
            throw py::value_error(
                "pose_from_matrix: m has a NaN or infinite element; a pose needs finite ones");
        }
        row += (j > 0 ? ", " : "") + text_of(py::float_(m(3, j)));
    }
    if (!(m(3, 0) == T(0) && m(3, 1) == T(0) && m(3, 2) == T(0) && m(3, 3) == T(1))) {
        throw py::value_error("pose_from_matrix: m's last row is (" + row +
                              "), and a rigid transform's is (0, 0, 0, 1): a projection has "
                              "no pose; pass an affine matrix");
    }
    refuse_block("pose_from_matrix: the rotation block of m");
}

const Where kMatrix3{"quat_from_matrix", "m",
                     "a Matrix3f, a Matrix3d, a Matrix4f, a Matrix4d or 3x3 numbers",
                     "quat_from_matrix"};
const Where kMatrix4{"pose_from_matrix", "m", "a Matrix4f, a Matrix4d or 4x4 numbers",
                     "pose_from_matrix"};
const Where kTwist{"pose_exp", "xi", "6 numbers (rx, ry, rz, vx, vy, vz)", "pose_exp"};
const Where kDual{"pose_from_dual_quat", "dual_quat",
                  "8 numbers (w, x, y, z of the real part, then of the dual part)",
                  "pose_from_dual_quat"};

using QuatResult = array_likes::Result<Q<float>, Q<double>>;
using PoseResult = array_likes::Result<Pose<float>, Pose<double>>;

QuatResult quat_from_numbers(const Rows& m, const array_likes::DType& dtype) {
    bool single = false;
    const py::array a = read_shaped(m.object, {3, 3}, dtype.value, kMatrix3, single);
    const auto of = [&](auto t) {
        using T = decltype(t);
        const Numbers<T, 9> n = numbers_of<T, 9>(a);
        const math::Matrix3<T> r(n.v[0], n.v[1], n.v[2], n.v[3], n.v[4], n.v[5], n.v[6], n.v[7],
                                 n.v[8]);
        return py::cast(quat_from_matrix3(r));
    };
    return {single ? of(0.0f) : of(0.0)};
}

PoseResult pose_from_numbers(const Rows& m, const array_likes::DType& dtype) {
    bool single = false;
    const py::array a = read_shaped(m.object, {4, 4}, dtype.value, kMatrix4, single);
    const auto of = [&](auto t) {
        using T = decltype(t);
        const Numbers<T, 16> n = numbers_of<T, 16>(a);
        math::Matrix4<T> r;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) r(i, j) = n.v[4 * i + j];
        }
        return py::cast(pose_from_matrix(r));
    };
    return {single ? of(0.0f) : of(0.0)};
}

PoseResult pose_exp(const Row& xi, const array_likes::DType& dtype) {
    bool single = false;
    const py::array a = read_shaped(xi.object, {6}, dtype.value, kTwist, single);
    return {single ? py::cast(expOf(numbers_of<float, 6>(a)))
                   : py::cast(expOf(numbers_of<double, 6>(a)))};
}

PoseResult pose_from_dual_quat(const Row& d, const array_likes::DType& dtype) {
    bool single = false;
    const py::array a = read_shaped(d.object, {8}, dtype.value, kDual, single);
    return {single ? py::cast(fromDual(numbers_of<float, 8>(a)))
                   : py::cast(fromDual(numbers_of<double, 8>(a)))};
}

template <class T>
py::array pose_log(const Pose<T>& p) {
    return array_of(logOf(p));
}
template <class T>
py::array pose_to_dual_quat(const Pose<T>& p) {
    return array_of(dualOf(p));
}

template <class T>
void register_pose_functions(py::module_& m) {
    declare::def(m, "pose_inverse", &inverseOf<T>, py::arg("pose"),
                 "The pose that undoes ``pose``, as ``pose.inverse()``; a zero or NaN "
                 "orientation gives NaN.");
    declare::def(m, "pose_to_matrix", &matrixOf<T>, py::arg("pose"),
                 "The 4x4 transform [row, column] of ``pose``, as ``pose.toMatrix()``: the "
                 "rotation of the normalized orientation, the position in the last column. A zero "
                 "or NaN orientation gives NaN in the rotation block.");
    declare::def(m, "pose_log", &pose_log<T>, py::arg("pose"),
                 "The exponential coordinates (rx, ry, rz, vx, vy, vz) of ``pose``, a NumPy "
                 "array of its precision: the rotation vector of the orientation (angle in "
                 "[0, pi]), then the translational part of the twist, which is not the "
                 "position unless the rotation is the identity. Accurate near the identity; "
                 "a half turn gives one of its two rotation vectors; NaN gives NaN.");
    declare::def(m, "pose_power", &powerOf<T>, py::arg("pose"), py::arg("n"),
                 "``pose`` to the real power ``n`` along its screw motion, "
                 "``pose_exp(n * pose_log(pose))``: n = 0.5 moves half the way. n = 0 gives "
                 "the identity, n = 1 ``pose`` itself and n = -1 its inverse, exactly; a half "
                 "turn follows the rotation vector ``pose_log`` picks; a NaN n gives NaN.");
    declare::def(m, "pose_to_dual_quat", &pose_to_dual_quat<T>, py::arg("pose"),
                 "The unit dual quaternion of ``pose`` as 8 numbers, a NumPy array of its "
                 "precision: the real part (the normalized orientation), then the dual part "
                 "(0, position) * real / 2, each w first. A zero or NaN orientation gives NaN.");
}

void register_matrix_functions(py::module_& m) {
    for_each_of<math::Matrix3>([&](auto tag) {
        using M = typename decltype(tag)::type;
        declare::def(m, "quat_from_matrix", &quat_from_matrix3<typename M::Scalar>, py::arg("m"),
                     "The unit quaternion (w >= 0) of the rotation nearest to ``m`` (a "
                     "Matrix3, the rotation block of a Matrix4, or 3x3 numbers, float64 unless "
                     "a float32 array or ``dtype=`` says otherwise) in the Frobenius norm: a "
                     "scaled or not quite orthonormal matrix gives its rotation, a rotation "
                     "its own quaternion. A negative determinant (a reflection) raises "
                     "ValueError; a singular matrix gives one of its nearest rotations; NaN "
                     "gives NaN.");
    });
    for_each_of<math::Matrix4>([&](auto tag) {
        using M = typename decltype(tag)::type;
        declare::def(m, "quat_from_matrix", &quat_from_matrix4<typename M::Scalar>, py::arg("m"));
    });
    declare::def(m, "quat_from_matrix", &quat_from_numbers, py::arg("m"), py::kw_only(),
                 py::arg("dtype") = py::none());
    for_each_of<math::Matrix4>([&](auto tag) {
        using M = typename decltype(tag)::type;
        declare::def(m, "pose_from_matrix", &pose_from_matrix<typename M::Scalar>, py::arg("m"),
                     "The pose of a rigid 4x4 transform ``m`` (a Matrix4 or 4x4 numbers, "
                     "[row, column]): its position the last column, its orientation the "
                     "rotation nearest to the 3x3 block (see ``quat_from_matrix``), so a scaled "
                     "or drifted block is accepted. A last row other than (0, 0, 0, 1), a "
                     "negative determinant of the block (a reflection) or a NaN or infinite "
                     "element raises ValueError.");
    });
    declare::def(m, "pose_from_matrix", &pose_from_numbers, py::arg("m"), py::kw_only(),
                 py::arg("dtype") = py::none());
}

}  // namespace

void register_rigid_motions(py::module_& m) {
    register_matrix_functions(m);
    register_pose_functions<float>(m);
    register_pose_functions<double>(m);
    declare::def(m, "pose_exp", &pose_exp, py::arg("xi"), py::kw_only(),
                 py::arg("dtype") = py::none(),
                 "The pose exp(xi) of exponential coordinates ``xi`` = (rx, ry, rz, vx, vy, "
                 "vz), 6 numbers (float64 unless a float32 array or ``dtype=`` says "
                 "otherwise): the rotation by the rotation vector (rx, ry, rz), and the "
                 "position the twist's translational part (vx, vy, vz) carried along the "
                 "screw. Accurate for small angles; the zero vector gives the identity, NaN "
                 "gives NaN.");
    declare::def(m, "pose_from_dual_quat", &pose_from_dual_quat, py::arg("dual_quat"),
                 py::kw_only(), py::arg("dtype") = py::none(),
                 "The pose of a dual quaternion given as 8 numbers, the real part then the "
                 "dual part, each w first (float64 unless a float32 array or ``dtype=`` says "
                 "otherwise). It is made unit first: both parts are divided by the length of "
                 "the real part (a zero real part is taken as the identity), then the dual "
                 "part loses its component along the real part. The position is twice the "
                 "vector part of dual * conjugate(real). NaN gives NaN.");
}

void register_rigid_motion_ufuncs(py::module_& gufuncs) {
    using ufuncs::add;
    add<&fromMatrix3<float>, &fromMatrix3<double>>(
        gufuncs, "quat_from_matrix",
        "Unit quaternion (w, x, y, z), w >= 0, of the rotation nearest to a 3x3 matrix [row, "
        "column] in the Frobenius norm; NaN for a negative determinant (a reflection) or "
        "non-finite input.");
    add<&batchInverse<float>, &batchInverse<double>>(
        gufuncs, "pose_inverse", "Position and orientation of the inverse of the pose.");
    add<&batchToMatrix<float>, &batchToMatrix<double>>(
        gufuncs, "pose_to_matrix", "The 4x4 transform [row, column] of the pose.");
    add<&batchFromMatrix<float>, &batchFromMatrix<double>>(
        gufuncs, "pose_from_matrix",
        "Position and orientation of a 4x4 rigid transform, its block projected onto the "
        "nearest rotation; NaN for a last row other than (0, 0, 0, 1), a reflection or "
        "non-finite input.");
    add<&batchExp<float>, &batchExp<double>>(
        gufuncs, "pose_exp",
        "Position and orientation of the pose exp(xi), xi = (rx, ry, rz, vx, vy, vz).");
    add<&batchLog<float>, &batchLog<double>>(
        gufuncs, "pose_log",
        "Exponential coordinates (rx, ry, rz, vx, vy, vz) of the pose (position, orientation).");
    add<&batchPower<float>, &batchPower<double>>(
        gufuncs, "pose_power",
        "Position and orientation of the pose to the real power n along its screw motion.");
    add<&batchToDual<float>, &batchToDual<double>>(
        gufuncs, "pose_to_dual_quat",
        "Unit dual quaternion of the pose: real part then dual part, each (w, x, y, z).");
    add<&batchFromDual<float>, &batchFromDual<double>>(
        gufuncs, "pose_from_dual_quat",
        "Position and orientation of a dual quaternion (real, then dual part, each w first), "
        "made unit first as orvane.pose_from_dual_quat does.");
}
