#include <pybind11/pybind11.h>

#include <string>

#include "declarations.hpp"
#include "classes.hpp"
#include "registration.hpp"

// to_float and to_double: one function per class, which the package picks by
// the argument's class, so that no overload is tried and refused.
void register_precision_conversions(py::module_& m) {
    for_each_class([&m](auto tag, const std::string& name) {
        using C = typename decltype(tag)::type;
        declare::def(m, ("_to_float_" + name).c_str(), [](const C& x) { return math::convert<float>(x); });
        declare::def(m, ("_to_double_" + name).c_str(), [](const C& x) { return math::convert<double>(x); });
    });
}
