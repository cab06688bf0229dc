#include <pybind11/pybind11.h>

#include "declarations.hpp"
#include "internals.hpp"
#include "math/matrix.hpp"
#include "math/vector.hpp"
#include "registration.hpp"

// The floor of the benchmarks is the same module under another name.
#ifndef ORVANE_MODULE_NAME
#define ORVANE_MODULE_NAME orvane_bindings
#endif

// The registration order is the module's inventory: a class is registered
// before any signature that mentions it.
PYBIND11_MODULE(ORVANE_MODULE_NAME, m) {
    register_vector<math::Vector2<float>>(m);
    register_vector<math::Vector2<double>>(m);
    register_vector<math::Vector3<float>>(m);
    register_vector<math::Vector3<double>>(m);
    register_vector<math::Vector4<float>>(m);
    register_vector<math::Vector4<double>>(m);
    register_matrix<math::Matrix2<float>>(m);
    register_matrix<math::Matrix2<double>>(m);
    register_matrix<math::Matrix3<float>>(m);
    register_matrix<math::Matrix3<double>>(m);
    register_matrix<math::Matrix4<float>>(m);
    register_matrix<math::Matrix4<double>>(m);
    register_quaternion<float>(m);
    register_quaternion<double>(m);
    register_euler_enums(m);
    register_euler<float>(m);
    register_euler<double>(m);
    register_pose<float>(m);
    register_pose<double>(m);
    register_line<float>(m);
    register_line<double>(m);
    register_plane<float>(m);
    register_plane<double>(m);
    register_aabb<float>(m);
    register_aabb<double>(m);
    register_array_conversions(m);
    register_vector_functions<2>(m);
    register_vector_functions<3>(m);
    register_vector_functions<4>(m);
    declare::install(m, m);
    internals::refuse_class_assignment(m);
    internals::zero_lazy_values();
}
