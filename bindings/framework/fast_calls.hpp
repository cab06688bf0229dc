#pragma once

// Vectorcall entries for the bound functions, methods and property accessors.
// A callable declared in declarations.hpp is bound by pybind11 as usual; its
// function object then also gets an entry that, for arguments that are exact
// instances of the registered classes, exact floats or exact ints, given by
// position or by keyword, matches them to parameters and walks the overloads
// as pybind11's dispatcher does, and calls the same C++ function directly.
// Any argument it cannot classify for certain (subclasses, sequences, arrays,
// other objects) sends the whole call to pybind11's dispatcher.
//
// The walk (pass, run) is a copy of the dispatcher's; what keeps it honest is
// tests/test_fast_calls.py: test_fast_entry_matches_the_dispatcher,
// test_fast_constructors_match_the_dispatcher,
// test_keywords_and_wrong_counts_take_the_dispatcher and
// test_slots_give_what_the_dispatcher_gives.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "class_set.hpp"
#include "fast_attributes.hpp"
#include "internals.hpp"

namespace py = pybind11;

namespace fast_calls {

// What an overload does with the arguments in one pass of the dispatcher.
enum class Outcome { Refused, Unknown, Done };

// Classes of this module: an exact instance of one is refused by a
// parameter of any other class and by a number parameter.
inline ClassSet& module_types() {
    static ClassSet types;
    return types;
}
inline bool of_module_type(PyObject* o) { return module_types().contains(Py_TYPE(o)); }

template <class P, class = void>
struct Arg;

// A parameter of a math value type: an exact instance that holds a value.
template <class C>
struct Arg<C, std::enable_if_t<internals::IsValueType<C>::value>> {
    C* value = nullptr;
    Outcome read(PyObject* o, bool) {
        if (Py_TYPE(o) == internals::registered_type<C>()) {
            value = internals::held_value<C>(o);
            return value != nullptr ? Outcome::Done : Outcome::Unknown;
        }
        if (PyFloat_CheckExact(o) || PyLong_CheckExact(o) || of_module_type(o)) {
            return Outcome::Refused;
        }
        // What the value caster refuses with its one type check (of no use
        // for the lists and tuples that often come here).
        static const internals::TypeInfo* const info = internals::type_info_of<C>();
        const bool sequence = PyTuple_CheckExact(o) || PyList_CheckExact(o);
        if ((sequence || !PyType_IsSubtype(Py_TYPE(o), internals::registered_type<C>())) &&
            !internals::may_load_otherwise(o, info)) {
            return Outcome::Refused;
        }
        return Outcome::Unknown;
    }
    C& get() { return *value; }
};

// The object a method is called on.
template <class C>
struct Arg<internals::Self<C>> {
    internals::Self<C> value;
    Outcome read(PyObject* o, bool) {
        if (Py_TYPE(o) == internals::registered_type<C>()) {
            value.object = o;
            return Outcome::Done;
        }
        if (PyFloat_CheckExact(o) || PyLong_CheckExact(o) || of_module_type(o)) {
            return Outcome::Refused;
        }
        return Outcome::Unknown;
    }
    internals::Self<C>& get() { return value; }
};

// The instance an __init__ is called on: exactly the class, untouched.
template <class C>
struct Fresh {
    PyObject* self = nullptr;
};

template <class C>
struct Arg<Fresh<C>> {
    Fresh<C> value;
    Outcome read(PyObject* o, bool) {
        if (Py_TYPE(o) != internals::registered_type<C>() || !internals::fresh_instance(o)) {
            return Outcome::Unknown;
        }
        value.self = o;
        return Outcome::Done;
    }
    Fresh<C>& get() { return value; }
};

// float and double: an exact float in either pass, an exact int when
// converting, rounded as pybind11 rounds them. Without conversion pybind11
// takes nothing but floats.
template <class T>
struct Arg<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    T value{};
    Outcome read(PyObject* o, bool convert) {
        if (PyFloat_CheckExact(o)) {
            value = static_cast<T>(PyFloat_AS_DOUBLE(o));
            return Outcome::Done;
        }
        if (PyLong_CheckExact(o)) {
            if (!convert) return Outcome::Refused;
            const double d = PyLong_AsDouble(o);
            if (d == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                return Outcome::Unknown;
            }
            value = static_cast<T>(d);
            return Outcome::Done;
        }
        return of_module_type(o) || (!convert && !PyFloat_Check(o)) ? Outcome::Refused
                                                                    : Outcome::Unknown;
    }
    T get() const { return value; }
};

// The components of a vector V as an exact list or tuple of exact floats:
// what NumPy makes of them for an array of V's scalar, each float rounded
// to it. A float that NumPy would warn about overflowing is left to NumPy.
template <class V>
struct Floats {
    V value;
};

template <class V>
struct Arg<Floats<V>> {
    Floats<V> value{};
    Outcome read(PyObject* o, bool) {
        using T = typename ClassTraits<V>::Scalar;
        if (!PyList_CheckExact(o) && !PyTuple_CheckExact(o)) return Outcome::Refused;
        if (PySequence_Fast_GET_SIZE(o) != ClassTraits<V>::size) return Outcome::Refused;
        PyObject** items = PySequence_Fast_ITEMS(o);
        for (int i = 0; i < ClassTraits<V>::size; ++i) {
            if (!PyFloat_CheckExact(items[i])) return Outcome::Refused;
            const double d = PyFloat_AS_DOUBLE(items[i]);
            const T t = static_cast<T>(d);
            if (std::isinf(t) && !std::isinf(d)) return Outcome::Refused;
            value.value[i] = t;
        }
        return Outcome::Done;
    }
    const Floats<V>& get() const { return value; }
};

// A NumPy array parameter takes nothing but arrays without conversion;
// what it takes otherwise is NumPy's to decide.
template <class T, int flags>
struct Arg<py::array_t<T, flags>> {
    Outcome read(PyObject* o, bool convert) {
        return convert || py::isinstance<py::array>(o) ? Outcome::Unknown : Outcome::Refused;
    }
    py::array_t<T, flags> get() const { return {}; }
};

// Any object that exports a buffer, as pybind11 takes it.
template <>
struct Arg<py::buffer> {
    PyObject* value = nullptr;
    Outcome read(PyObject* o, bool) {
        value = o;
        return PyObject_CheckBuffer(o) ? Outcome::Done : Outcome::Refused;
    }
    py::buffer get() const { return py::reinterpret_borrow<py::buffer>(value); }
};

// int: an exact int in range; floats are never taken.
template <>
struct Arg<int> {
    int value = 0;
    Outcome read(PyObject* o, bool) {
        if (PyLong_CheckExact(o)) {
            Py_ssize_t v = 0;
            if (!internals::small_int_value(o, &v) || v < INT_MIN || v > INT_MAX) {
                return Outcome::Unknown;
            }
            value = static_cast<int>(v);
            return Outcome::Done;
        }
        return PyFloat_CheckExact(o) || of_module_type(o) ? Outcome::Refused : Outcome::Unknown;
    }
    int get() const { return value; }
};

// A result that is a Python object already, in its member `object`.
template <class R, class = void>
struct IsPythonResult : std::false_type {};
template <class R>
struct IsPythonResult<R, std::void_t<typename R::python_result>> : std::true_type {};

// Results with a fast form.
template <class R>
struct Returnable
    : std::bool_constant<std::is_void_v<R> || std::is_same_v<R, bool> ||
                         std::is_floating_point_v<R> || std::is_same_v<R, int> ||
                         internals::IsValueType<R>::value || IsPythonResult<R>::value> {};

// The Python object for a result, as pybind11 makes it for a value returned.
template <class R>
PyObject* to_python(R&& r) {
    using D = std::decay_t<R>;
    if constexpr (std::is_same_v<D, bool>) {
        return PyBool_FromLong(r);
    } else if constexpr (std::is_floating_point_v<D>) {
        return PyFloat_FromDouble(static_cast<double>(r));
    } else if constexpr (std::is_same_v<D, int>) {
        return PyLong_FromLong(r);
    } else if constexpr (IsPythonResult<D>::value) {
        return r.object.release().ptr();
    } else {
        static_assert(internals::IsValueType<D>::value, "no fast result for this type");
        static const internals::TypeInfo* const info = internals::type_info_of<D>();
        return internals::new_instance(D(std::forward<R>(r)), info);
    }
}

// Unknown outweighs Refused: the dispatcher would still load that argument.
constexpr Outcome combine(Outcome a, Outcome b) {
    if (a == Outcome::Unknown || b == Outcome::Unknown) return Outcome::Unknown;
    if (a == Outcome::Refused || b == Outcome::Refused) return Outcome::Refused;
    return Outcome::Done;
}

// Reads every argument (pybind11 loads every one before deciding), then
// calls `call` with them; with no place for a result, only reads them.
template <class... P, class Call>
Outcome invoke(PyObject* const* args, bool convert, PyObject** result, Call&& call) {
    std::tuple<Arg<std::decay_t<P>>...> a;
    const Outcome loaded = std::apply(
        [&](auto&... x) {
            std::size_t i = 0;
            Outcome all = Outcome::Done;
            ((all = combine(all, x.read(args[i++], convert))), ...);
            return all;
        },
        a);
    if (loaded != Outcome::Done || result == nullptr) return loaded;
    return std::apply(
        [&](auto&... x) {
            using R = std::decay_t<decltype(call(x.get()...))>;
            if constexpr (!Returnable<R>::value) {
                // Taken, but the dispatcher makes this kind of result.
                return Outcome::Unknown;
            } else {
                try {
                    if constexpr (std::is_void_v<R>) {
                        call(x.get()...);
                        *result = Py_NewRef(Py_None);
                    } else {
                        *result = to_python(call(x.get()...));
                    }
                } catch (...) {
                    internals::set_error_from_current_exception();
                    *result = nullptr;
                }
                return Outcome::Done;
            }
        },
        a);
}

using Invoke = Outcome (*)(const void* fn, PyObject* const* args, bool convert, PyObject** result);

// Calls through a pointer kept at run time, so every call runs the compiled
// function pybind11 binds, never an inlined copy.
template <class R, class... P>
Outcome call_function(const void* fn, PyObject* const* args, bool convert, PyObject** result) {
    auto f = *static_cast<R (*const*)(P...)>(fn);
    return invoke<P...>(args, convert, result, [f](auto&&... x) -> R { return f(x...); });
}

template <class M, class C, class R, class... P>
Outcome call_member(const void* fn, PyObject* const* args, bool convert, PyObject** result) {
    const M m = *static_cast<const M*>(fn);
    return invoke<C, P...>(args, convert, result,
                           [m](C& self, auto&&... x) -> R { return (self.*m)(x...); });
}

template <class C, class... P>
Outcome construct(const void*, PyObject* const* args, bool convert, PyObject** result) {
    return invoke<Fresh<C>, P...>(args, convert, result, [](Fresh<C>& self, auto&&... x) {
        internals::construct_in<C, P...>(self.self, std::forward<decltype(x)>(x)...);
    });
}

// A factory __init__: the value f returns, moved into the fresh instance.
template <class C, class F, class... P>
Outcome construct_from(const void* fn, PyObject* const* args, bool convert, PyObject** result) {
    const F f = *static_cast<const F*>(fn);
    return invoke<Fresh<C>, P...>(args, convert, result, [f](Fresh<C>& self, auto&&... x) {
        internals::construct_in<C>(self.self, f(x...));
    });
}

template <class C, class D>
Outcome get_field(const void* fn, PyObject* const* args, bool convert, PyObject** result) {
    const auto m = *static_cast<D C::*const*>(fn);
    return invoke<C>(args, convert, result, [m](C& self) -> D { return self.*m; });
}

template <class C, class D>
Outcome set_field(const void* fn, PyObject* const* args, bool convert, PyObject** result) {
    const auto m = *static_cast<D C::*const*>(fn);
    return invoke<C, D>(args, convert, result, [m](C& self, D value) { self.*m = value; });
}

// A C++ function for one overload, with the arguments it reads.
struct Call {
    Invoke invoke = nullptr;
    const void* fn = nullptr;
};

// A parameter as a call fills it: by position, by its name, or from its default.
struct Parameter {
    PyObject* name = nullptr;  // interned; none for a positional-only one
    PyObject* default_value = nullptr;
    bool accepts_none = true;
};

// The most parameters a call is arranged for here; more go to the dispatcher.
constexpr Py_ssize_t kMaxParameters = 16;

struct Overload {
    Call call;  // no invoke: not declared here, so Unknown
    Py_ssize_t arity = 0;
    Py_ssize_t positional = 0;  // filled by position
    Py_ssize_t positional_only = 0;
    bool is_method = false;
    bool variadic = false;  // *args or **kwargs: left to the dispatcher
    // Only positional arguments, one for each parameter, none refused for
    // being None: the arguments as given are the arguments in order.
    bool plain = true;
    std::vector<Parameter> parameters;  // those with a record, from the first
    // Functions giving the overload's result for some arguments it takes
    // (exact vectors or float lists where it reads an array); their refusal
    // says nothing about the overload's.
    std::vector<Call> shortcuts;
};

struct Table {
    std::vector<Overload> overloads;
    PyTypeObject* constructs = nullptr;  // the class, for __init__
};

// The declared overloads by their key (internals::last_overload), until the
// tables are made.
inline std::unordered_map<const void*, Overload>& declared() {
    static std::unordered_map<const void*, Overload> map;
    return map;
}

// Where the keyword `name` is among the call's, or -1.
inline Py_ssize_t keyword_index(PyObject* kwnames, PyObject* name) {
    const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n; ++k) {
        if (PyTuple_GET_ITEM(kwnames, k) == name) return k;
    }
    for (Py_ssize_t k = 0; k < n; ++k) {
        if (PyUnicode_Compare(PyTuple_GET_ITEM(kwnames, k), name) == 0) return k;
    }
    PyErr_Clear();
    return -1;
}

// The arguments of one overload in parameter order, as pybind11's dispatcher
// matches positional arguments, keywords (their values follow the positional
// ones) and defaults; false where it skips the overload for this call.
inline bool arrange(const Overload& o, PyObject* const* args, Py_ssize_t n, PyObject* kwnames,
                    PyObject** into) {
    const Py_ssize_t keywords = kwnames != nullptr ? PyTuple_GET_SIZE(kwnames) : 0;
    const auto recorded = static_cast<Py_ssize_t>(o.parameters.size());
    if (n > o.positional || (n < o.positional && recorded < o.positional)) return false;
    Py_ssize_t i = 0;
    for (; i < n; ++i) {
        if (i < recorded) {
            const Parameter& p = o.parameters[i];
            if (keywords > 0 && p.name != nullptr && keyword_index(kwnames, p.name) >= 0) {
                return false;
            }
            if (!p.accepts_none && args[i] == Py_None) return false;
        }
        into[i] = args[i];
    }
    for (; i < o.positional_only; ++i) {
        into[i] = o.parameters[i].default_value;
        if (into[i] == nullptr) return false;
    }
    Py_ssize_t consumed = 0;
    for (; i < o.arity; ++i) {
        if (i >= recorded) return false;
        const Parameter& p = o.parameters[i];
        PyObject* value = nullptr;
        const Py_ssize_t k =
            keywords > 0 && p.name != nullptr ? keyword_index(kwnames, p.name) : -1;
        if (k >= 0) {
            value = args[n + k];
            ++consumed;
        } else {
            value = p.default_value;
        }
        if (value == nullptr || (value == Py_None && !p.accepts_none)) return false;
        into[i] = value;
    }
    return consumed == keywords;
}

// One pass of pybind11's dispatcher over the overloads.
inline Outcome pass(const Table& t, PyObject* const* given, Py_ssize_t n, PyObject* kwnames,
                    bool overloaded, bool convert, PyObject** result) {
    const bool keywords = kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0;
    PyObject* arranged[kMaxParameters];
    for (const Overload& o : t.overloads) {
        if (o.variadic) return Outcome::Unknown;
        PyObject* const* args = given;
        if (o.plain && !keywords) {
            if (n != o.arity) continue;
        } else {
            if (o.arity > kMaxParameters) return Outcome::Unknown;
            if (!arrange(o, given, n, kwnames, arranged)) continue;
            args = arranged;
        }
        // The second pass only retries overloads with a parameter besides self.
        if (overloaded && convert && o.positional <= (o.is_method ? 1 : 0)) continue;
        // The overloads shortcuts stand for read arrays, which take other
        // objects only when converting.
        bool later = false;
        for (const Call& c : o.shortcuts) {
            if (c.invoke(c.fn, args, convert, convert ? result : nullptr) == Outcome::Done) {
                if (convert) return Outcome::Done;
                later = true;
            }
        }
        if (later) continue;
        if (o.call.invoke == nullptr) return Outcome::Unknown;
        const Outcome r = o.call.invoke(o.call.fn, args, convert, result);
        if (r != Outcome::Refused) return r;
    }
    return Outcome::Refused;
}

// Both passes of pybind11's dispatcher over the arguments: positional ones,
// then the values of the keywords kwnames names, if any.
inline Outcome run(const Table& t, PyObject* const* args, Py_ssize_t n, PyObject** result,
                   PyObject* kwnames = nullptr) {
    const bool overloaded = t.overloads.size() > 1;
    Outcome r = pass(t, args, n, kwnames, overloaded, !overloaded, result);
    if (r == Outcome::Refused && overloaded) r = pass(t, args, n, kwnames, true, true, result);
    return r;
}

inline PyObject* entry(PyObject* func, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    const auto& t = *static_cast<const Table*>(internals::fast_table_of(func));
    const Py_ssize_t n = PyVectorcall_NARGS(nargsf);
    // pybind11 ignores __init__ on an instance it has registered, which a
    // constructed one always is; ours are constructed without the registry.
    if (t.constructs != nullptr && n > 0 &&
        internals::constructed_unregistered(args[0], t.constructs)) {
        Py_RETURN_NONE;
    }
    PyObject* result = nullptr;
    if (run(t, args, n, &result, kwnames) == Outcome::Done) return result;
    // Refused by all: the dispatcher gives its own error or NotImplemented.
    return internals::generic_call(func, args, nargsf, kwnames);
}

// Parameters with a fast form. A function whose result has none is still
// declared: it can tell the arguments it refuses.
template <class P, class = void>
struct Readable : std::false_type {};
template <class P>
struct Readable<P, std::void_t<decltype(sizeof(Arg<std::decay_t<P>>))>> : std::true_type {};

template <class F>
struct Fast : std::false_type {};
template <class R, class... P>
struct Fast<R (*)(P...)> : std::bool_constant<(Readable<P>::value && ...)> {};
template <class R, class C, class... P>
struct Fast<R (C::*)(P...) const> : Fast<R (*)(const C&, P...)> {};
template <class R, class C, class... P>
struct Fast<R (C::*)(P...)> : Fast<R (*)(C&, P...)> {};

template <class C, class... P>
Call constructor_of() {
    return {&construct<C, P...>, nullptr};
}
template <class C, class... P>
Call factory_of(C (*f)(P...)) {
    using Pointer = C (*)(P...);
    return {&construct_from<C, Pointer, P...>, new Pointer(f)};
}
template <class C, class D>
Call getter_of(D C::*field) {
    return {&get_field<C, D>, new (D C::*)(field)};
}
template <class C, class D>
Call setter_of(D C::*field) {
    return {&set_field<C, D>, new (D C::*)(field)};
}

template <class R, class... P>
Call overload_of(R (*f)(P...)) {
    using Pointer = R (*)(P...);
    return {&call_function<R, P...>, new Pointer(f)};
}
template <class R, class C, class... P>
Call overload_of(R (C::*f)(P...) const) {
    return {&call_member<R (C::*)(P...) const, const C, R, P...>, new auto(f)};
}
template <class R, class C, class... P>
Call overload_of(R (C::*f)(P...)) {
    return {&call_member<R (C::*)(P...), C, R, P...>, new auto(f)};
}

// The overload just appended to the function object behind `attribute`.
inline const void* last_record(const py::handle& attribute) {
    PyObject* func = internals::bound_function(attribute.ptr());
    if (func == nullptr) throw std::logic_error("fast calls: not a pybind11 function");
    return internals::last_overload(func);
}

inline void remember(const py::handle& attribute, Call c) {
    declared()[last_record(attribute)].call = c;
}

inline void remember_shortcut(const py::handle& attribute, Call c) {
    declared()[last_record(attribute)].shortcuts.push_back(c);
}

// Makes the table of one function object from its records, in overload
// order, and installs its entry if any overload was declared here.
inline void install_function(PyObject* func) {
    if (internals::vectorcall_of(func) == &entry) return;
    auto table = std::make_unique<Table>();
    const internals::FunctionFacts facts = internals::function_facts(func);
    table->constructs = facts.constructs;
    bool any = facts.constructs != nullptr;
    for (const internals::OverloadFacts& f : facts.overloads) {
        Overload o;
        auto found = declared().find(f.key);
        if (found != declared().end()) {
            o = found->second;
            any = true;
        }
        o.arity = f.arity;
        o.positional = f.positional;
        o.positional_only = f.positional_only;
        o.is_method = f.is_method;
        o.variadic = f.variadic;
        for (const internals::ParameterFacts& p : f.parameters) {
            PyObject* name = p.name != nullptr ? PyUnicode_InternFromString(p.name) : nullptr;
            if (p.name != nullptr && name == nullptr) throw py::error_already_set();
            o.parameters.push_back({name, p.default_value, p.accepts_none});  // kept as the table
        }
        // self is never None, and refused by its reader if it were.
        const bool none_refused =
            std::any_of(o.parameters.begin() + (o.is_method && !o.parameters.empty() ? 1 : 0),
                        o.parameters.end(), [](const Parameter& p) { return !p.accepts_none; });
        const bool defaults = std::any_of(o.parameters.begin(), o.parameters.end(),
                                          [](const Parameter& p) { return p.default_value; });
        o.plain = !f.variadic && !none_refused && !defaults && o.positional == o.arity;
        if (f.variadic || !f.convertible) {
            o.call = {};
            o.shortcuts.clear();
        }
        table->overloads.push_back(o);
    }
    if (any && internals::install_vectorcall(func, table.get(), &entry)) {
        table.release();  // kept as long as the function
    }
}

inline void install_attribute(PyObject* attribute) {
    if (PyObject_TypeCheck(attribute, &PyProperty_Type)) {
        for (const char* accessor : {"fget", "fset"}) {
            py::object f =
                py::reinterpret_steal<py::object>(PyObject_GetAttrString(attribute, accessor));
            if (!f) throw py::error_already_set();
            if (PyObject* func = internals::bound_function(f.ptr())) install_function(func);
        }
        return;
    }
    if (Py_IS_TYPE(attribute, &PyStaticMethod_Type)) {
        py::object f =
            py::reinterpret_steal<py::object>(PyObject_GetAttrString(attribute, "__func__"));
        if (!f) throw py::error_already_set();
        attribute = f.ptr();
        if (PyObject* func = internals::bound_function(attribute)) install_function(func);
        return;
    }
    if (PyObject* func = internals::bound_function(attribute)) install_function(func);
}

// The classes of a module, whose exact instances every parameter of another
// class refuses.
inline void note_module_types(const py::module_& m) {
    for (const auto item : py::reinterpret_borrow<py::dict>(PyModule_GetDict(m.ptr()))) {
        if (!PyType_Check(item.second.ptr())) continue;
        auto* type = reinterpret_cast<PyTypeObject*>(item.second.ptr());
        // Enums convert to numbers, so they are left to the dispatcher.
        const PyNumberMethods* nb = type->tp_as_number;
        if (nb == nullptr ||
            (nb->nb_index == nullptr && nb->nb_int == nullptr && nb->nb_float == nullptr)) {
            module_types().add(type);
        }
    }
}

// Gives every function object of the module with a declared overload its
// entry, once every class and function is bound.
inline void install_functions(const py::module_& m) {
    for (const auto item : py::reinterpret_borrow<py::dict>(PyModule_GetDict(m.ptr()))) {
        PyObject* value = item.second.ptr();
        if (PyType_Check(value)) {
            PyObject* key = nullptr;
            PyObject* attribute = nullptr;
            Py_ssize_t pos = 0;
            auto* type = reinterpret_cast<PyTypeObject*>(value);
            while (PyDict_Next(type->tp_dict, &pos, &key, &attribute)) install_attribute(attribute);
        } else {
            install_attribute(value);
        }
    }
    declared().clear();
}

}  // namespace fast_calls
