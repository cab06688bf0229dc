#pragma once

// The value classes of orvane_bindings with their Python names, for the
// functions of the package that exist once per class.

#include <string>
#include <type_traits>

#include "class_traits.hpp"

// Calls f(ClassTag<C>{}, name) for every class of precision T, in registry order.
template <class T, class F>
void for_each_class(F&& f) {
    for_each_registered([&f](auto tag) {
        using C = typename decltype(tag)::type;
        if constexpr (IsModuleClass<C>::value) {
            if constexpr (std::is_same_v<typename ClassTraits<C>::Scalar, T>)
                f(tag, class_name<C>());
        }
    });
}

template <class F>
void for_each_class(F&& f) {
    for_each_class<float>(f);
    for_each_class<double>(f);
}
