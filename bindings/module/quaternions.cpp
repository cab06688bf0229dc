#include <pybind11/numpy.h>

#include <string>

#include "array_rules.hpp"
#include "arithmetic.hpp"
#include "declarations.hpp"
#include "internals.hpp"
#include "layers.hpp"
#include "math/quaternion.hpp"
#include "registration.hpp"

namespace {

constexpr const char* kQuaternionShapeError = "Incompatible shape: expected (,4), (1,4), (4,1)";

std::string quaternion_count_error(py::ssize_t count) {
    return "Quaternion> incompatible array size; expected 4, got " + std::to_string(count);
}

// One compiled rotation for the array overload and its fast entries, which
// take an exact vector of the same precision (NumPy would copy its three
// elements unchanged) or a list of three floats.
template <class T>
[[gnu::noinline]] math::Vector3<T> rotated(const math::Quaternion<T>& q, const math::Vector3<T>& v) {
    return q.rotate(v);
}

}  // namespace

template <class T>
void register_quaternion(py::module_& m) {
    using Q = math::Quaternion<T>;
    using Array = py::array_t<T, py::array::forcecast>;

    // The order decides dispatch: an instance of this class has no copy
    // constructor and is copied through its buffer; arrays of this dtype take
    // the array overload in the first pass, other buffers fail the format
    // check there, and lists reach the array overload in the second pass.
    auto cls = layers::make_class<Q>(m, py::buffer_protocol());
    declare::def_init<>(cls);
    declare::def_init<T>(cls);
    declare::def_init<T, T, T, T>(cls);
    declare::def_init<const math::Matrix3<T>&>(cls);
    declare::def_init(cls, [](const Array& a) {
        if (a.size() != 4) throw std::runtime_error(quaternion_count_error(a.size()));
        Q q;
        copy_elements(a, 4, q.data());
        return q;
    });
    declare::def_init(cls, [](const py::buffer& b) {
        Q q;
        read_column_shaped<T>(b, 4, q.data(), kQuaternionShapeError);
        return q;
    });
    layers::def_storage_buffer<4>(cls);

    layers::def_fields(cls);
    layers::def_components(cls);
    arithmetic::def_same_class(cls);
    arithmetic::def_scaling<T>(cls, &arithmetic::scaled<Q, T>);
    layers::def_equality(cls);
    declare::def_static(cls, "RotationX", &Q::RotationX);
    declare::def_static(cls, "RotationY", &Q::RotationY);
    declare::def_static(cls, "RotationZ", &Q::RotationZ);
    declare::def(cls, "length", &Q::length);
    declare::def(cls, "lengthSquare", &Q::lengthSquare);
    declare::def(cls, "normalize", &Q::normalize);
    declare::def(cls, "normalize_", &Q::normalize_);
    declare::def(cls, "conjugate", &Q::conjugate);
    declare::def(cls, "inverse", &Q::inverse);
    declare::def_with_shortcuts(
        cls, "rotate",
        [](const Q& q, const Array& a) {
            math::Vector3<T> v;
            read_elements(a, 3, v.data(), [] { return element_count_error(3); });
            return rotated(q, v);
        },
        &rotated<T>,
        [](const Q& q, const fast_calls::Floats<math::Vector3<T>>& v) { return rotated(q, v.value); });
    layers::def_field_repr(cls);
}

template void register_quaternion<float>(py::module_&);
template void register_quaternion<double>(py::module_&);
