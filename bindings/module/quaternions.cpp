#include <pybind11/numpy.h>

#include <string>

#include "arithmetic.hpp"
#include "declarations.hpp"
#include "input_rules.hpp"
#include "internals.hpp"
#include "layers.hpp"
#include "math/quaternion.hpp"

namespace {

std::string quaternion_count_error(int n, py::ssize_t count) {
    return "Quaternion> incompatible array size; expected " + std::to_string(n) + ", got " +
           std::to_string(count);
}

constexpr ComponentRules kQuaternionRules{"Incompatible shape: expected (,4), (1,4), (4,1)",
                                          &quaternion_count_error};

// One compiled rotation for the array overload and its fast entries, which
// take an exact vector of the same precision (NumPy would copy its three
// elements unchanged) or a list of three floats.
template <class T>
[[gnu::noinline]] math::Vector3<T> rotated(const math::Quaternion<T>& q,
                                           const math::Vector3<T>& v) {
    return q.rotate(v);
}

template <class T>
void define(py::class_<math::Quaternion<T>>& cls) {
    using Q = math::Quaternion<T>;
    using Array = py::array_t<T, py::array::forcecast>;

    // The order decides dispatch: an instance of this class has no copy
    // constructor and is copied through its buffer; arrays of this dtype take
    // the array overload in the first pass, other buffers fail the format
    // check there, and lists reach the array overload in the second pass.
    declare::def_init<>(cls);
    declare::def_init<T>(cls);
    declare::def_init<T, T, T, T>(cls);
    declare::def_init<const math::Matrix3<T>&>(cls);
    declare::def_init(cls, [](const Array& a) { return read_components<Q>(a, kQuaternionRules); });
    declare::def_init(cls,
                      [](const py::buffer& b) { return read_components<Q>(b, kQuaternionRules); });
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
            return rotated(q, read_components<math::Vector3<T>>(a, kVectorRules));
        },
        &rotated<T>,
        [](const Q& q, const fast_calls::Floats<math::Vector3<T>>& v) {
            return rotated(q, v.value);
        });
    layers::def_field_repr(cls);
}

}  // namespace

void Quaternions::register_classes(py::module_& m) {
    layers::register_classes<Quaternions>(
        m, [](auto& cls) { define(cls); }, py::buffer_protocol());
}
