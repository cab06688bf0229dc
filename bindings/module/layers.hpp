#pragma once

// Capability layers: each declares one family of attributes for any class
// whose traits entry gives what the layer needs.

#include <pybind11/pybind11.h>

#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "class_traits.hpp"
#include "declarations.hpp"
#include "index_check.hpp"
#include "internals.hpp"

namespace layers {

namespace py = pybind11;

// The Python class of C under its name, with pybind11's options.
template <class C, class... Options>
py::class_<C> make_class(py::module_& m, const Options&... options) {
    return py::class_<C>(m, class_name<C>().c_str(), options..., declare::type_setup<C>());
}

// Registers the classes and enums of Family in registry order: each is made
// under its name, classes with the options, and given its attributes by
// define_class, which the family's source writes once for all its classes.
template <class Family, class Define, class... Options>
void register_classes(py::module_& m, Define define_class, const Options&... options) {
    for_each_registered([&](auto tag) {
        using C = typename decltype(tag)::type;
        if constexpr (!std::is_same_v<FamilyOf<C>, Family>) {
            return;
        } else if constexpr (IsModuleClass<C>::value) {
            auto cls = make_class<C>(m, options...);
            define_class(cls);
        } else {
            py::enum_<C> e(m, EnumTraits<C>::name);
            define_class(e);
        }
    });
}

// A read-write attribute per field of the entry.
template <class Cls>
void def_fields(Cls& cls) {
    using C = typename Cls::type;
    std::apply([&cls](auto... f) { (declare::def_readwrite(cls, f.name, f.member), ...); },
               ClassTraits<C>::fields);
}

// c[i] and c[i] = s over the components, the index checked first.
template <class Cls>
void def_components(Cls& cls) {
    using C = typename Cls::type;
    using T = typename ClassTraits<C>::Scalar;
    constexpr int n = ClassTraits<C>::size;
    declare::def(cls, "__getitem__", [](const C& c, int i) {
        check_index<n>(i);
        return c[i];
    });
    declare::def(cls, "__setitem__", [](C& c, int i, T value) {
        check_index<n>(i);
        c[i] = value;
    });
}

// "Vector2{}(x={}, y={})": the stem, the place of the precision letter, then
// each field in the entry's number format.
template <class C>
std::string field_repr_template() {
    std::string text = std::string(ClassTraits<C>::stem) + "{}(";
    std::apply(
        [&text](auto... f) {
            const char* separator = "";
            ((text += separator, text += f.name, text += "=", text += ClassTraits<C>::repr_number,
              separator = ", "),
             ...);
        },
        ClassTraits<C>::fields);
    return text + ")";
}

template <class C, std::size_t... I>
py::str field_repr(const C& c, std::index_sequence<I...>) {
    using T = typename ClassTraits<C>::Scalar;
    static const std::string text = field_repr_template<C>();
    return py::str(text).format(
        ScalarTraits<T>::letter,
        static_cast<double>(c.*(std::get<I>(ClassTraits<C>::fields).member))...);
}

// The entry's field repr, filled with the precision letter and the fields.
template <class Cls>
void def_field_repr(Cls& cls) {
    using C = typename Cls::type;
    constexpr std::size_t n = std::tuple_size_v<decltype(ClassTraits<C>::fields)>;
    declare::def(cls, "__repr__",
                 [](const C& c) { return field_repr(c, std::make_index_sequence<n>()); });
}

// Tolerance equality and its negation, as the value types define them.
template <class Cls>
void def_equality(Cls& cls) {
    using C = typename Cls::type;
    declare::def(cls, "__eq__", [](const C& a, const C& b) { return a == b; });
    declare::def(cls, "__neq__", [](const C& a, const C& b) { return a != b; });
}

// The storage exported as a buffer. NumPy reads any buffer as an array, so
// where an operator of ours returns NotImplemented it would compute something
// else element by element; __array_ufunc__ = None makes its operators defer.
template <py::ssize_t... extents, class Cls>
void def_storage_buffer(Cls& cls) {
    using C = typename Cls::type;
    using T = typename ClassTraits<C>::Scalar;
    internals::ExportedBuffer<C, T, extents...>::install(cls);
    cls.attr("__array_ufunc__") = py::none();
}

}  // namespace layers
