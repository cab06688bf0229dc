#pragma once

// The one way a callable of the module is declared. Each declaration binds
// the C++ function with pybind11 (its signature and its place among the
// overloads) and, where every parameter has a fast form, records the same
// function for the fast entry of its function object and for the type slots
// standing for it (a result without a fast form is left to the dispatcher). Built with
// ORVANE_FLOOR, the same declarations bind bodies that only return a default value: the benchmark's
// floor.

#include <pybind11/pybind11.h>

#include <type_traits>
#include <utility>
#include <vector>

#include "docs.hpp"
#include "fast_attributes.hpp"
#include "fast_calls.hpp"
#include "fast_slots.hpp"
#include "internals.hpp"

#ifndef ORVANE_FLOOR
#define ORVANE_FLOOR 0
#endif

namespace declare {

namespace py = pybind11;

// A lambda without captures is bound as its function pointer, so that
// pybind11 and the fast entry call the one compiled function.
template <class F, class = void>
struct HasPointer : std::false_type {};
template <class F>
struct HasPointer<F, std::void_t<decltype(+std::declval<F>())>> : std::is_class<F> {};

template <class F>
auto pointer(F f) {
    if constexpr (HasPointer<F>::value) {
        return +f;
    } else {
        return f;
    }
}

// A default value of each result: what a floor body returns.
template <class R>
R default_result() {
    if constexpr (std::is_void_v<R>) {
        return;
    } else if constexpr (std::is_same_v<R, py::object>) {
        return py::none();
    } else {
        return R();
    }
}

template <class R, class... A>
R empty_body(A...) {
    return default_result<R>();
}

// The floor body with the parameters of a function pointer, a member
// function (self first) or a lambda.
template <class M>
struct LambdaFloor;
template <class R, class L, class... A>
struct LambdaFloor<R (L::*)(A...) const> {
    static constexpr auto body = &empty_body<R, A...>;
};
template <class P>
struct Floor : LambdaFloor<decltype(&P::operator())> {};
template <class R, class... A>
struct Floor<R (*)(A...)> {
    static constexpr auto body = &empty_body<R, A...>;
};
template <class R, class C, class... A>
struct Floor<R (C::*)(A...) const> {
    static constexpr auto body = &empty_body<R, const C&, A...>;
};
template <class R, class C, class... A>
struct Floor<R (C::*)(A...)> {
    static constexpr auto body = &empty_body<R, C&, A...>;
};

// What is bound for f: f itself, or in the floor a body with the same
// parameters that returns a default value.
template <class F>
auto body(F f) {
    const auto p = pointer(f);
    if constexpr (ORVANE_FLOOR) {
        return Floor<std::remove_const_t<decltype(p)>>::body;
    } else {
        return p;
    }
}

// The fast form of f, if all its parameters have one.
template <class F>
void remember(const py::handle& attribute, F f) {
    if constexpr (!ORVANE_FLOOR) {
        const auto p = pointer(f);
        if constexpr (fast_calls::Fast<std::remove_const_t<decltype(p)>>::value) {
            fast_calls::remember(attribute, fast_calls::overload_of(p));
        }
    }
}

// Each class with a declaration, for its slots once the module is bound.
using ClassInstaller = void (*)(PyTypeObject*);
struct DeclaredClass {
    PyTypeObject* type;
    ClassInstaller install;
};
inline std::vector<DeclaredClass>& declared_classes() {
    static std::vector<DeclaredClass> classes;
    return classes;
}

// The slots of a class of C and its attribute reads, once every function
// object has its fast entry.
template <class C>
void install_class(PyTypeObject* type) {
    if (ORVANE_FAST_PATHS && !ORVANE_FLOOR && fast_calls::module_types().contains(type)) {
        fast_attributes::install<C>(type);
    }
    fast_slots::install<C>(type);
}

// The py::class_ option of every class of C: the slots given while pybind11
// makes the class (none without fast paths).
template <class C>
py::custom_type_setup type_setup() {
    if (ORVANE_FAST_PATHS && !ORVANE_FLOOR)
        return py::custom_type_setup(&fast_attributes::setup<C>);
    return py::custom_type_setup({});
}

template <class Scope>
void note_scope(Scope& scope) {
    if constexpr (!std::is_same_v<Scope, py::module_>) {
        using C = typename Scope::type;
        auto* type = reinterpret_cast<PyTypeObject*>(scope.ptr());
        for (const DeclaredClass& d : declared_classes()) {
            if (d.type == type) return;
        }
        declared_classes().push_back({type, &install_class<C>});
    }
}

// A method of a class, an operator (with py::is_operator()) or a module
// function; its docstring goes with the first overload that has it.
template <class Scope, class F, class... Extra>
Scope& def(Scope& scope, const char* name, F f, const Extra&... extra) {
    note_scope(scope);
    scope.def(name, body(f), docs::unrepeated(scope, name, extra)...);
    remember(py::getattr(scope, name), f);
    return scope;
}

template <class Cls, class F, class... Extra>
Cls& def_static(Cls& cls, const char* name, F f, const Extra&... extra) {
    note_scope(cls);
    cls.def_static(name, body(f), extra...);
    remember(py::getattr(cls, name), f);
    return cls;
}

// A method bound for one parameter type whose fast entry also takes exact
// instances of others, which the bound overload would turn into the same
// value (a vector, or a list of floats, where an array is bound).
template <class Cls, class F, class... G>
Cls& def_with_shortcuts(Cls& cls, const char* name, F f, G... shortcuts) {
    def(cls, name, f);
    if constexpr (!ORVANE_FLOOR) {
        const py::object attribute = py::getattr(cls, name);
        (fast_calls::remember_shortcut(attribute, fast_calls::overload_of(pointer(shortcuts))),
         ...);
    }
    return cls;
}

// py::init<P...>() of the class.
template <class... P, class Cls>
Cls& def_init(Cls& cls) {
    using C = typename Cls::type;
    note_scope(cls);
    if constexpr (ORVANE_FLOOR) {
        cls.def(py::init(&empty_body<C, P...>));
    } else {
        cls.def(py::init<P...>());
        if constexpr ((fast_calls::Readable<P>::value && ...)) {
            fast_calls::remember(py::getattr(cls, "__init__"),
                                 fast_calls::constructor_of<C, P...>());
        }
    }
    return cls;
}

// Whether a function pointer P returns a C.
template <class P, class C>
struct Makes : std::false_type {};
template <class C, class... A>
struct Makes<C (*)(A...), C> : std::true_type {};

// A factory __init__: the value f returns.
template <class Cls, class F>
Cls& def_init(Cls& cls, F f) {
    note_scope(cls);
    cls.def(py::init(body(f)));
    if constexpr (!ORVANE_FLOOR) {
        using C = typename Cls::type;
        using P = std::remove_const_t<decltype(pointer(f))>;
        if constexpr (fast_calls::Fast<P>::value && Makes<P, C>::value) {
            fast_calls::remember(py::getattr(cls, "__init__"),
                                 fast_calls::factory_of<C>(pointer(f)));
        }
    }
    return cls;
}

template <class Cls, class C, class D>
Cls& def_readwrite(Cls& cls, const char* name, D C::*field) {
    note_scope(cls);
    cls.def_readwrite(name, field);
    // A field of a class type is read as a view into the owner, not a copy.
    if constexpr (!ORVANE_FLOOR && std::is_floating_point_v<D>) {
        const py::object property = cls.attr("__dict__")[name];
        fast_calls::remember(property.attr("fget"), fast_calls::getter_of(field));
        fast_calls::remember(property.attr("fset"), fast_calls::setter_of(field));
    }
    return cls;
}

template <class Cls, class F>
Cls& def_property_readonly(Cls& cls, const char* name, F f) {
    note_scope(cls);
    cls.def_property_readonly(name, body(f));
    return cls;
}

// Once every class and function of the module is declared: the fast
// entries of the function objects, then the slots that run them. `classes`
// is the module whose classes the functions take.
inline void install(const py::module_& m, const py::module_& classes) {
    if (ORVANE_FAST_PATHS && !ORVANE_FLOOR) {
        fast_calls::note_module_types(classes);
        fast_calls::install_functions(m);
    }
    for (const DeclaredClass& d : declared_classes()) d.install(d.type);
    declared_classes().clear();
}

}  // namespace declare
