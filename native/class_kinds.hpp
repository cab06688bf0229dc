#pragma once

// What the package tells apart among the classes of the class table.

#include <type_traits>

#include "class_traits.hpp"

// A square matrix of order ClassTraits<C>::size, stored as its data().
template <class C, class = void>
struct IsMatrix : std::false_type {};
template <class C>
struct IsMatrix<C, std::void_t<typename C::Column>> : std::true_type {};

// A class of ClassTraits<C>::size components, in index order.
template <class C, class = void>
struct IsComponentClass : std::false_type {};
template <class C>
struct IsComponentClass<C, std::void_t<decltype(ClassTraits<C>::size)>>
    : std::bool_constant<!IsMatrix<C>::value> {};
