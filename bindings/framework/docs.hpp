#pragma once

// Each function is registered once per overload under one name, and
// pybind11 lists the docstrings of all overloads. Every declaration passes
// its text; a text that an earlier overload of the name already shows is
// left out, so that it appears once, with the first overload it belongs to.

#include <pybind11/pybind11.h>

#include <cstring>
#include <type_traits>

#include "internals.hpp"

namespace docs {

namespace py = pybind11;

// Whether an overload of `name` bound in `scope` already has this docstring.
inline bool shown(const py::handle& scope, const char* name, const char* text) {
    if (text == nullptr || *text == '\0') return false;
    const py::object existing = py::getattr(scope, name, py::none());
    PyObject* func = internals::bound_function(existing.ptr());
    if (func == nullptr) return false;
    for (const internals::OverloadFacts& o : internals::function_facts(func).overloads) {
        if (o.doc != nullptr && std::strcmp(o.doc, text) == 0) return true;
    }
    return false;
}

// An extra of a declaration as pybind11 is to get it: a docstring already
// shown becomes empty, anything else is passed on.
template <class E>
decltype(auto) unrepeated(const py::handle& scope, const char* name, const E& extra) {
    using D = std::decay_t<E>;
    if constexpr (std::is_same_v<D, const char*> || std::is_same_v<D, char*>) {
        const char* text = extra;
        return shown(scope, name, text) ? "" : text;
    } else {
        return extra;
    }
}

}  // namespace docs
