#pragma once

// One registration function per class template; each is defined and
// instantiated for both precisions in the source of its family.

#include <pybind11/pybind11.h>

namespace py = pybind11;

template <class Vector>
void register_vector(py::module_& m);

template <class Matrix>
void register_matrix(py::module_& m);

template <class T>
void register_quaternion(py::module_& m);

// The two enums, registered before the classes whose fields they type.
void register_euler_enums(py::module_& m);

template <class T>
void register_euler(py::module_& m);

template <class T>
void register_pose(py::module_& m);
template <class T>
void register_line(py::module_& m);
template <class T>
void register_plane(py::module_& m);
template <class T>
void register_aabb(py::module_& m);

// Module-level functions, registered after every class.
void register_array_conversions(py::module_& m);

template <int N>
void register_vector_functions(py::module_& m);
