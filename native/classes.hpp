#pragma once

// The value classes of orvane_bindings with their Python names, for the
// functions of the package that exist once per class.

#include <string>

#include "class_traits.hpp"

// Calls f(ClassTag<C>{}, name) for every class of precision T.
template <class T, class F>
void for_each_class(F&& f) {
    ModuleClassTemplates::for_each<T>([&f](auto tag) {
        using C = typename decltype(tag)::type;
        f(tag, class_name<C>());
    });
}

template <class F>
void for_each_class(F&& f) {
    for_each_class<float>(f);
    for_each_class<double>(f);
}
