#pragma once

#include <type_traits>

// Each function is registered once per precision under one name; pybind11
// lists the docstrings of all overloads, so the text goes with the first
// (float) overload only and the double one adds just its signature.
template <class T>
constexpr const char* doc_once(const char* text) {
    return std::is_same_v<T, float> ? text : "";
}
