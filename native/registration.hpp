#pragma once

// One registration function per group of functions of orvane._native.

#include <pybind11/pybind11.h>

namespace py = pybind11;

void register_pickling(py::module_& m);
void register_rotations(py::module_& m);
void register_cameras(py::module_& m);
void register_vectors(py::module_& m);
void register_precision_conversions(py::module_& m);

// Rays, closest points, boxes, planes and frustums, for both precisions.
void register_geometry_queries(py::module_& m);

// NumPy generalized ufuncs of the batch operations, in the submodule gufuncs.
void register_gufuncs(py::module_& m);
