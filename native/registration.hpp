#pragma once

// One registration function per group of functions of orvane._native.

#include <pybind11/pybind11.h>

namespace py = pybind11;

void register_pickling(py::module_& m);

// Rays, closest points, boxes, planes and frustums, for both precisions.
void register_geometry_queries(py::module_& m);
