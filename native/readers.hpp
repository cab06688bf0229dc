#pragma once

// Numbers of the package's own array-like parameters, read with the array
// rules of the module.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <array>
#include <cstring>

#include "array_rules.hpp"

// The n numbers of a one-dimensional array-like of bools, integers or
// floats, each read as a double and then rounded to T, as a number argument
// is; false for anything else. NumPy would also read strings, None and
// complex numbers as floats, which no number parameter takes.
template <int n, class T>
bool read_numbers(const py::handle& src, T* out) {
    const py::array inferred = py::array::ensure(src);
    if (!inferred || std::strchr("biuf", inferred.dtype().kind()) == nullptr) return false;
    const auto doubles = py::array_t<double, py::array::forcecast>::ensure(inferred);
    if (!doubles || doubles.ndim() != 1 || doubles.shape(0) != n) return false;
    std::array<double, n> read;
    copy_elements(doubles, n, read.data());
    for (int k = 0; k < n; ++k) out[k] = static_cast<T>(read[k]);
    return true;
}
