#include <pybind11/pybind11.h>

#include "class_traits.hpp"
#include "declarations.hpp"
#include "internals.hpp"
#include "registration.hpp"

// The floor of the benchmarks is the same module under another name.
#ifndef ORVANE_MODULE_NAME
#define ORVANE_MODULE_NAME orvane_bindings
#endif

// The registration order is the module's inventory: the classes and enums
// in the order of the registry, a family at a time, then the functions.
PYBIND11_MODULE(ORVANE_MODULE_NAME, m) {
    for_each_family([&m](auto family) { decltype(family)::register_classes(m); });
    register_array_conversions(m);
    register_vector_functions(m);
    declare::install(m, m);
    internals::refuse_class_assignment(m);
    internals::zero_lazy_values();
}
