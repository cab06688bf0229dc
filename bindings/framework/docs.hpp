#pragma once

#include <type_traits>

// Each function is registered once per overload under one name; pybind11
// lists the docstrings of all overloads, so the text goes with the first
// overload only and the others add just their signatures.
constexpr const char* doc_if_first(bool first, const char* text) { return first ? text : ""; }

// The float overload comes first.
template <class T>
constexpr const char* doc_once(const char* text) {
    return doc_if_first(std::is_same_v<T, float>, text);
}
