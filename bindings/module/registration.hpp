#pragma once

// The module-level functions, registered after every class. The classes are
// registered by their families (class_traits.hpp).

#include <pybind11/pybind11.h>

namespace py = pybind11;

void register_array_conversions(py::module_& m);

void register_vector_functions(py::module_& m);
