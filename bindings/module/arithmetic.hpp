#pragma once

// The arithmetic operators of the algebra classes, each declared once for
// pybind11, the fast entries and the number slots.

#include <pybind11/pybind11.h>

#include "declarations.hpp"

namespace arithmetic {

template <class A, class B>
auto sum(const A& a, const B& b) {
    return a + b;
}
template <class A, class B>
auto difference(const A& a, const B& b) {
    return a - b;
}
template <class A, class B>
auto product(const A& a, const B& b) {
    return a * b;
}
template <class C, class T>
C scaled(const C& c, T s) {
    return c * s;
}
template <class C, class T>
C scaled_from_left(const C& c, T s) {
    return s * c;
}
template <class C>
C negated(const C& c) {
    return -c;
}

// c + c, c - c and c * c, in that order; an unsupported operand gives
// NotImplemented.
template <class Cls>
void def_same_class(Cls& cls) {
    using C = typename Cls::type;
    declare::def(cls, "__add__", &sum<C, C>, py::is_operator());
    declare::def(cls, "__sub__", &difference<C, C>, py::is_operator());
    declare::def(cls, "__mul__", &product<C, C>, py::is_operator());
}

// c * s and s * c for a number s; `FromLeft` is the body of s * c.
template <class T, class Cls, class FromLeft>
void def_scaling(Cls& cls, FromLeft from_left) {
    using C = typename Cls::type;
    declare::def(cls, "__mul__", &scaled<C, T>);
    declare::def(cls, "__rmul__", from_left);
}

}  // namespace arithmetic
