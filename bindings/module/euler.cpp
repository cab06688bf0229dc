#include <cstdint>
#include <string>

#include "declarations.hpp"
#include "layers.hpp"
#include "math/euler.hpp"
#include "scalar_traits.hpp"

namespace {

using math::euler::Convention;
using math::euler::Order;

constexpr const char* kEulerRepr =
    "<Euler\n  x: {:.8f}\n  y: {:.8f}\n  z: {:.8f}\n  dtype: {}\n  order: {}\n  convention: {}\n>";

// Python can store any value of the underlying integer in either field.
const char* orderName(Order order) {
    if (static_cast<std::uint8_t>(order) > 5) return "Undefined";
    switch (order) {
        case Order::XYZ: return "XYZ";
        case Order::YZX: return "YZX";
        case Order::ZXY: return "ZXY";
        case Order::XZY: return "XZY";
        case Order::YXZ: return "YXZ";
        case Order::ZYX: return "ZYX";
    }
    return "Undefined";
}

const char* conventionName(Convention convention) {
    switch (static_cast<int>(convention)) {
        case static_cast<int>(Convention::INTRINSIC): return "Intrinsic";
        case static_cast<int>(Convention::EXTRINSIC): return "Extrinsic";
        default: return "Undefined";
    }
}

void define(py::enum_<Order>& e) {
    e.value("XYZ", Order::XYZ)
        .value("YZX", Order::YZX)
        .value("ZXY", Order::ZXY)
        .value("XZY", Order::XZY)
        .value("YXZ", Order::YXZ)
        .value("ZYX", Order::ZYX);
}

void define(py::enum_<Convention>& e) {
    e.value("INTRINSIC", Convention::INTRINSIC).value("EXTRINSIC", Convention::EXTRINSIC);
}

template <class T>
void define(py::class_<math::Euler<T>>& cls) {
    using E = math::Euler<T>;

    declare::def_init<>(cls);
    declare::def_init<T, T, T>(cls);
    declare::def_init<const math::Matrix3<T>&>(cls);
    declare::def_init<const math::Matrix4<T>&>(cls);
    declare::def_init<const math::Quaternion<T>&>(cls);
    declare::def_init<const math::Vector3<T>&, T>(cls);
    layers::def_fields(cls);
    declare::def(cls, "setFromRotationMatrix", &E::setFromRotationMatrix);
    declare::def(cls, "setFromTransform", &E::setFromTransform);
    declare::def(cls, "setFromQuaternion", &E::setFromQuaternion);
    declare::def(cls, "setFromAxisAngle", &E::setFromAxisAngle);
    declare::def(cls, "__repr__", [](const E& e) {
        return py::str(kEulerRepr)
            .format(static_cast<double>(e.x), static_cast<double>(e.y), static_cast<double>(e.z),
                    ScalarTraits<T>::dtype, orderName(e.order), conventionName(e.convention));
    });
}

}  // namespace

void EulerAngles::register_classes(py::module_& m) {
    layers::register_classes<EulerAngles>(m, [](auto& cls) { define(cls); });
}
