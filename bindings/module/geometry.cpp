#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <sstream>
#include <string>
#include <type_traits>

#include "arithmetic.hpp"
#include "declarations.hpp"
#include "input_rules.hpp"
#include "layers.hpp"
#include "math/geometry.hpp"
#include "math/pose.hpp"

namespace {

template <class T>
using NdArray = py::array_t<T, py::array::forcecast>;

template <class T>
math::Vector3<T> vector_from(const NdArray<T>& a) {
    return read_components<math::Vector3<T>>(a, kVectorRules);
}

template <class T>
py::array_t<T> array_from(const math::Vector3<T>& v) {
    return fresh_array<T>({3}, {static_cast<py::ssize_t>(sizeof(T))}, v.data(), 3);
}

// A method taking a point, registered twice: for the exact vector class,
// then for anything NumPy can turn into three numbers (lists, arrays of
// any dtype, vectors of the other precision). A vector result of the array
// overload comes back as a fresh array; a number result is also reached
// from a list of three floats without NumPy.
template <auto method, class C>
void def_point_method(py::class_<C>& cls, const char* name) {
    using T = typename ClassTraits<C>::Scalar;
    using V = math::Vector3<T>;
    using R = decltype((std::declval<const C&>().*method)(std::declval<const V&>()));
    declare::def(cls, name, method);
    auto from_array = [](const C& self, const NdArray<T>& a) {
        if constexpr (std::is_same_v<R, V>) {
            return array_from((self.*method)(vector_from(a)));
        } else {
            return (self.*method)(vector_from(a));
        }
    };
    if constexpr (std::is_floating_point_v<R>) {
        declare::def_with_shortcuts(
            cls, name, from_array,
            [](const C& self, const fast_calls::Floats<V>& p) { return (self.*method)(p.value); });
    } else {
        declare::def(cls, name, from_array);
    }
}

// Default, two vectors, two arrays: both arrays are read before the value
// is built, so a bad count in either creates nothing.
template <class C, class T>
void def_two_vector_init(py::class_<C>& cls) {
    using V = math::Vector3<T>;
    declare::def_init<>(cls);
    declare::def_init<const V&, const V&>(cls);
    declare::def_init(cls, [](const NdArray<T>& a, const NdArray<T>& b) {
        const V first = vector_from(a);
        const V second = vector_from(b);
        return C(first, second);
    });
}

template <class T>
std::string two_vector_text(const char* name, const char* first_label,
                            const math::Vector3<T>& first, const char* second_label,
                            const math::Vector3<T>& second) {
    std::ostringstream out;
    out << "<" << name << "\n"
        << "  " << first_label << ": " << math::toString(first) << "\n"
        << "  " << second_label << ": " << math::toString(second) << "\n"
        << ">\n";
    return out.str();
}

// "<Line\n  start: ...\n  end: ...\n>\n", from the class's entry.
template <class C>
void def_two_vector_repr(py::class_<C>& cls) {
    declare::def(cls, "__repr__", [](const C& c) {
        const auto& [first, second] = ClassTraits<C>::fields;
        return two_vector_text(ClassTraits<C>::stem, first.name, c.*first.member, second.name,
                               c.*second.member);
    });
}

// Default stream formatting like the vector text, not the quaternion repr.
template <class T>
std::string quaternion_text(const math::Quaternion<T>& q) {
    std::ostringstream out;
    out << "Quaternion" << ScalarTraits<T>::letter << "(";
    math::writeNumber(out, q.w) << ", ";
    math::writeNumber(out, q.x) << ", ";
    math::writeNumber(out, q.y) << ", ";
    math::writeNumber(out, q.z) << ")";
    return out.str();
}

template <class T>
void define(py::class_<math::Pose3d<T>>& cls) {
    using Pose = math::Pose3d<T>;
    using V = math::Vector3<T>;
    declare::def_init<>(cls);
    declare::def_init<const V&, const math::Quaternion<T>&>(cls);
    declare::def_init<const V&, const math::Matrix3<T>&>(cls);
    layers::def_fields(cls);
    def_point_method<&Pose::apply>(cls, "apply");
    declare::def(cls, "inverse", &Pose::inverse);
    declare::def(cls, "toMatrix", &Pose::toMatrix);
    def_point_method<&Pose::apply>(cls, "__mul__");
    declare::def(cls, "__mul__", &arithmetic::product<Pose, Pose>, py::is_operator());
    declare::def(cls, "__repr__", [](const Pose& p) {
        return py::str("<Pose3d\n  pos: {}\n  quat: {}\n  dtype: {}\n>")
            .format(math::toString(p.position), quaternion_text(p.orientation),
                    ScalarTraits<T>::dtype);
    });
}

// The methods of each class of two vectors.
template <class T>
void def_methods(py::class_<math::Line<T>>& cls) {
    def_point_method<&math::Line<T>::distanceTo>(cls, "distanceTo");
}
template <class T>
void def_methods(py::class_<math::Plane<T>>& cls) {
    using Plane = math::Plane<T>;
    def_point_method<&Plane::signedDistanceTo>(cls, "signedDistanceTo");
    def_point_method<&Plane::distanceTo>(cls, "distanceTo");
    def_point_method<&Plane::project>(cls, "project");
}
template <class T>
void def_methods(py::class_<math::AABB<T>>& cls) {
    using Box = math::AABB<T>;
    declare::def(cls, "computeCenter", &Box::computeCenter);
    declare::def(cls, "computeCorners", &Box::computeCorners);
    declare::def(cls, "intersects", &Box::intersects);
}

// A class of two vectors (line, plane, box): constructed, given its fields
// and its repr alike; its methods are its own.
template <class C>
void define(py::class_<C>& cls) {
    def_two_vector_init<C, typename ClassTraits<C>::Scalar>(cls);
    layers::def_fields(cls);
    def_methods(cls);
    def_two_vector_repr(cls);
}

}  // namespace

void Geometry::register_classes(py::module_& m) {
    layers::register_classes<Geometry>(m, [](auto& cls) { define(cls); });
}
