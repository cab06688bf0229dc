#pragma once

#include <pybind11/pybind11.h>

// Indices are compared as unsigned, so negative ones are refused rather than
// counted from the end; the IndexError carries no message.
template <int n>
inline void check_index(int index) {
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(n)) throw pybind11::index_error();
}
