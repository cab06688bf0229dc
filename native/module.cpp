#include <pybind11/pybind11.h>

#include "declarations.hpp"
#include "registration.hpp"

// The native part of the orvane package. Its signatures name the classes of
// orvane_bindings, which pybind11 shares between modules built together, so
// that module is imported first.
PYBIND11_MODULE(_native, m) {
    const py::module_ bindings = py::module_::import("orvane_bindings");
    register_pickling(m);
    register_precision_conversions(m);
    register_vectors(m);
    register_rotations(m);
    register_euler_sequences(m);
    register_cameras(m);
    register_decompose(m);
    register_rigid_motions(m);
    register_geometry_queries(m);
    register_triangles(m);
    register_meshes(m);
    register_gufuncs(m);
    register_threads(m);
    declare::install(m, bindings);
}
