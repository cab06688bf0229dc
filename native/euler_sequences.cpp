// Euler angles of the 24 sequences and the measures of rotations, per
// object and as batch ufuncs. Both faces call the same compiled copy of
// each per-element function, so their results agree bit for bit.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "elementwise.hpp"
#include "math/euler_sequences.hpp"
#include "math/rotation_measures.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

// A sequence's text as the caller gave it, read by parse_sequence.
struct SequenceText {
    PyObject* object = nullptr;
};

}  // namespace

namespace pybind11::detail {
template <>
struct type_caster<SequenceText> {
    PYBIND11_TYPE_CASTER(SequenceText, const_name("str"));
    bool load(handle src, bool) {
        value.object = src.ptr();
        return true;
    }
};
}  // namespace pybind11::detail

namespace {

template <class T>
using Q = math::Quaternion<T>;
template <class T>
using V3 = math::Vector3<T>;
using math::EulerSequence;

// The batch table's order: Tait-Bryan, then proper; intrinsic, then extrinsic.
constexpr const char* kSequences[24] = {"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX", "XYX", "XZX",
                                        "YXY", "YZY", "ZXZ", "ZYZ", "xyz", "xzy", "yxz", "yzx",
                                        "zxy", "zyx", "xyx", "xzx", "yxy", "yzy", "zxz", "zyz"};

constexpr EulerSequence sequence_at(int k) { return *EulerSequence::parse(kSequences[k], 3); }

// Degrees scale once, here, in T: per object and batch pass the same factor.
// The double pi, as Python's math.pi, which the batch wrappers use.
constexpr double kPi = 3.14159265358979323846264338327950288;
template <class T>
constexpr T kRadiansPerDegree = T(kPi / 180.0);
template <class T>
constexpr T kDegreesPerRadian = T(180.0 / kPi);

template <class T>
ORVANE_ONE_COPY Q<T> fromEuler(const V3<T>& angles, EulerSequence s, T scale) {
    return math::quaternionFromEuler(angles * scale, s);
}
template <class T>
ORVANE_ONE_COPY math::EulerAngles<T> toEuler(const Q<T>& q, EulerSequence s, T scale) {
    math::EulerAngles<T> r = math::eulerFromQuaternion(q, s);
    r.angles = r.angles * scale;
    return r;
}
template <class T>
ORVANE_ONE_COPY T quatAngle(const Q<T>& q) {
    return math::rotationAngle(q);
}
template <class T>
ORVANE_ONE_COPY bool quatApproxEqual(const Q<T>& q0, const Q<T>& q1, T atol) {
    return math::approxEqual(q0, q1, atol);
}

// The batch loops: one per sequence, the scale an operand.
template <int k, class T>
Q<T> fromEulerAt(const V3<T>& angles, T scale) {
    return fromEuler(angles, sequence_at(k), scale);
}
template <int k, class T>
V3<T> toEulerAt(const Q<T>& q, T scale) {
    return toEuler(q, sequence_at(k), scale).angles;
}

const char* const kRule =
    "seq must be three of the letters X, Y, Z, all upper case for intrinsic rotations (about "
    "the axes as they turn) or all lower case for extrinsic ones (about the fixed axes), with "
    "no axis twice in a row: one of the 12 Tait-Bryan sequences such as 'XYZ' or 'zyx', or of "
    "the 12 proper Euler sequences such as 'ZXZ' or 'yzy'";

EulerSequence parse_sequence(const std::string& function, PyObject* o) {
    if (!PyUnicode_Check(o)) {
        throw py::type_error(function + ": seq must be a str such as 'XYZ' or 'zxz', not " +
                             array_likes::type_name(o));
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(o, &size);
    if (text == nullptr) throw py::error_already_set();
    const std::optional<EulerSequence> s =
        EulerSequence::parse(text, static_cast<std::size_t>(size));
    if (!s) {
        throw py::value_error(function + ": " + kRule + "; got " + py::repr(o).cast<std::string>());
    }
    return *s;
}

using array_likes::Hint;
using array_likes::Info;
using array_likes::Read;
using array_likes::to_object;
using AnglesArg = array_likes::Loose<array_likes::Shown<V3<float>>>;
using QuatArg = array_likes::Loose<array_likes::Shown<Q<float>>>;

array_likes::Result<Q<float>, Q<double>> quat_from_euler(const AnglesArg& angles,
                                                         const SequenceText& seq,
                                                         const array_likes::DType& dtype,
                                                         bool degrees) {
    static const Info info{"quat_from_euler", {"angles", "seq"}, "quat_from_euler", ""};
    const EulerSequence s = parse_sequence(info.function, seq.object);
    Read<V3<float>> read(angles, info, 0);
    const Hint hints[] = {read.hint};
    PyObject* const arguments[] = {angles.object};
    if (array_likes::decide(info, hints, arguments, 1, dtype.value)) {
        return {
            to_object(fromEuler(read.get<float>(), s, degrees ? kRadiansPerDegree<float> : 1.0f))};
    }
    return {to_object(fromEuler(read.get<double>(), s, degrees ? kRadiansPerDegree<double> : 1.0))};
}

template <class T>
py::object euler_result(const Q<T>& q, EulerSequence s, bool degrees, bool gimbal) {
    const math::EulerAngles<T> r = toEuler(q, s, degrees ? kDegreesPerRadian<T> : T(1));
    if (!gimbal) return to_object(r.angles);
    return py::make_tuple(to_object(r.angles), py::bool_(r.gimbal));
}

array_likes::Result<V3<float>, V3<double>, std::tuple<V3<float>, bool>,
                    std::tuple<V3<double>, bool>>
euler_from_quat(const QuatArg& q, const SequenceText& seq, const array_likes::DType& dtype,
                bool degrees, bool return_gimbal) {
    static const Info info{"euler_from_quat", {"q", "seq"}, "euler_from_quat", ""};
    const EulerSequence s = parse_sequence(info.function, seq.object);
    Read<Q<float>> read(q, info, 0);
    const Hint hints[] = {read.hint};
    PyObject* const arguments[] = {q.object};
    if (array_likes::decide(info, hints, arguments, 1, dtype.value)) {
        return {euler_result(read.get<float>(), s, degrees, return_gimbal)};
    }
    return {euler_result(read.get<double>(), s, degrees, return_gimbal)};
}

// SciPy's default tolerance in float64; float32 rounds angles near 0 to
// about 1e-7 radians, so its default leaves room for that.
template <class T>
constexpr T kDefaultTolerance = sizeof(T) == 4 ? T(1e-5) : T(1e-8);

template <class T>
T tolerance(const std::optional<double>& atol, bool degrees) {
    if (!atol) return kDefaultTolerance<T>;
    return static_cast<T>(degrees ? *atol * (kPi / 180.0) : *atol);
}

bool quat_approx_equal(const QuatArg& q0, const QuatArg& q1, const std::optional<double>& atol,
                       const array_likes::DType& dtype, bool degrees) {
    static const Info info{"quat_approx_equal", {"q0", "q1"}, "quat_approx_equal", ""};
    Read<Q<float>> a(q0, info, 0), b(q1, info, 1);
    const Hint hints[] = {a.hint, b.hint};
    PyObject* const arguments[] = {q0.object, q1.object};
    if (array_likes::decide(info, hints, arguments, 2, dtype.value)) {
        return quatApproxEqual(a.get<float>(), b.get<float>(), tolerance<float>(atol, degrees));
    }
    return quatApproxEqual(a.get<double>(), b.get<double>(), tolerance<double>(atol, degrees));
}

template <int... k>
void add_sequences(py::module_& m, std::integer_sequence<int, k...>) {
    py::dict table;
    auto add_one = [&](auto index) {
        constexpr int i = decltype(index)::value;
        const std::string name = kSequences[i];
        const std::string kind = sequence_at(i).extrinsic ? "extrinsic" : "intrinsic";
        table[py::make_tuple("quat_from_euler", name)] =
            ufuncs::add<&fromEulerAt<i, float>, &fromEulerAt<i, double>>(
                m, "quat_from_euler_" + name,
                "Quaternion (w, x, y, z) of Euler angles of the " + kind + " sequence " + name +
                    ", in its order, times scale (1 for radians, pi/180 for degrees).");
        table[py::make_tuple("euler_from_quat", name)] =
            ufuncs::add<&toEulerAt<i, float>, &toEulerAt<i, double>>(
                m, "euler_from_quat_" + name,
                "Euler angles of the " + kind + " sequence " + name +
                    ", in its order and times scale (1 for radians, 180/pi for degrees), of a "
                    "quaternion (w, x, y, z).");
    };
    (add_one(std::integral_constant<int, k>()), ...);
    m.attr("euler_sequence_ufuncs") = table;
}

}  // namespace

void register_euler_sequences(py::module_& m) {
    declare::def(m, "quat_from_euler", &quat_from_euler, py::arg("angles"), py::arg("seq"),
                 py::kw_only(), py::arg("dtype") = py::none(), py::arg("degrees") = false,
                 "The rotation of Euler ``angles`` (three, in the order of ``seq``). ``seq`` "
                 "names the axes: upper case ('XYZ', 'ZXZ') for intrinsic rotations, about the "
                 "axes as they turn, lower case ('xyz', 'zxz') for extrinsic ones, about the "
                 "fixed axes; all 12 Tait-Bryan and 12 proper Euler sequences. Radians, or "
                 "degrees with ``degrees=True``. NaN gives NaN.");
    declare::def(m, "euler_from_quat", &euler_from_quat, py::arg("q"), py::arg("seq"),
                 py::kw_only(), py::arg("dtype") = py::none(), py::arg("degrees") = false,
                 py::arg("return_gimbal") = false,
                 "Euler angles of ``q`` (need not be normalized) in the order of ``seq`` (as "
                 "in ``quat_from_euler``): the first and third in (-pi, pi], the second in "
                 "[-pi/2, pi/2] for Tait-Bryan sequences and in [0, pi] for proper ones. At "
                 "gimbal lock (the second angle at an end of its range) only the sum or "
                 "difference of the others is defined: the third is then 0 and the first "
                 "takes the whole. With ``return_gimbal=True`` the result is ``(angles, "
                 "gimbal_lock)``. A zero, NaN or infinite ``q`` gives NaN.");
    const char* angle_doc =
        "The angle of the rotation of ``q``, in [0, pi]; accurate near 0 and near pi. ``q`` "
        "and ``-q`` give the same angle. A zero, NaN or infinite ``q`` gives NaN.";
    declare::def(m, "quat_angle", &quatAngle<float>, py::arg("q"), angle_doc);
    declare::def(m, "quat_angle", &quatAngle<double>, py::arg("q"), angle_doc);
    array_likes::def<&quatAngle<float>, &quatAngle<double>>(m, "quat_angle", "quat_angle");
    declare::def(m, "quat_approx_equal", &quat_approx_equal, py::arg("q0"), py::arg("q1"),
                 py::arg("atol") = py::none(), py::kw_only(), py::arg("dtype") = py::none(),
                 py::arg("degrees") = false,
                 "Whether ``q0`` and ``q1`` are the same rotation within ``atol`` radians "
                 "(degrees with ``degrees=True``): the angle of the rotation between them is "
                 "at most ``atol``. ``q`` and ``-q`` are the same rotation. ``atol`` defaults "
                 "to 1e-8 in double precision and to 1e-5 in single precision. A zero or NaN "
                 "quaternion is equal to none.");
}

void register_euler_sequences_ufuncs(py::module_& m) {
    add_sequences(m, std::make_integer_sequence<int, 24>());
    ufuncs::add<&quatAngle<float>, &quatAngle<double>>(
        m, "quat_angle", "Angle in [0, pi] of the rotation of a quaternion (w, x, y, z).");
    ufuncs::add<&math::angleBetween<float>, &math::angleBetween<double>>(
        m, "quat_angle_between",
        "Angle in [0, pi] of the rotation taking q0 to q1, as orvane.angle_between.");
    ufuncs::add<&quatApproxEqual<float>, &quatApproxEqual<double>>(
        m, "quat_approx_equal",
        "Whether q0 and q1 are the same rotation within atol radians (q and -q are); a bool "
        "array.");
}
