#pragma once

// Number slots of our own for the arithmetic operators. When the operands
// are exactly the registered classes (or an exact Python float where the
// bound overload takes a number) the slot computes the result itself and
// skips the method lookup, the argument tuple and the overload dispatch.
// Every other case goes the way CPython goes for a class whose operators are
// methods, so results, NotImplemented and errors stay those of the bound
// methods, which are left as they are.

#include <pybind11/pybind11.h>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "internals.hpp"

namespace py = pybind11;

namespace fast_operators {

// The Python type and pybind11's type record of a class, looked up once.
template <class C>
struct Registered {
    static inline PyTypeObject* type = nullptr;
    static inline const internals::TypeInfo* info = nullptr;
};

// Stands for the scalar parameter T of an overload.
template <class T>
struct Number {};

template <class C>
struct Operand {
    const C* value = nullptr;

    // Only an exact instance that holds a value: subclasses, and objects
    // made by __new__ alone, go to the bound methods.
    bool read(PyObject* o) {
        if (Py_TYPE(o) != Registered<C>::type) return false;
        value = internals::held_value<C>(o);
        return value != nullptr;
    }
    const C& get() const { return *value; }
};

template <class T>
struct Operand<Number<T>> {
    T value{};

    // Ints and float subclasses go to the bound methods; the rounding is
    // that of pybind11's float conversion.
    bool read(PyObject* o) {
        if (!PyFloat_CheckExact(o)) return false;
        value = static_cast<T>(PyFloat_AS_DOUBLE(o));
        return true;
    }
    T get() const { return value; }
};

// Bodies of the bound number overloads. The fast path calls the same
// compiled functions as the bound methods.
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

// The function itself, hidden from the optimiser: an inlined copy may order
// the operands of a commutative operation differently and so propagate
// another NaN than the bound method, which calls the function out of line.
template <class F>
F opaque(F f) {
    asm("" : "+m"(f));
    return f;
}

// A new registered instance owning the value, made by pybind11 itself.
template <class R>
PyObject* to_python(R&& value) {
    return internals::new_instance(std::forward<R>(value), Registered<std::decay_t<R>>::info);
}

// One fast case of a binary slot: operands of exactly A and B, result
// F(a, b), or F(b, a) for a reflected method, as Python would call it.
template <class A, class B, auto F, bool reflected = false>
struct Rule {
    static auto call(const Operand<A>& x, const Operand<B>& y) {
        if constexpr (reflected) {
            return std::invoke(opaque(F), y.get(), x.get());
        } else {
            return std::invoke(opaque(F), x.get(), y.get());
        }
    }
    using Result = decltype(call(std::declval<Operand<A>>(), std::declval<Operand<B>>()));

    static bool apply(PyObject* a, PyObject* b, PyObject*& result) {
        Operand<A> x;
        Operand<B> y;
        if (!x.read(a) || !y.read(b)) return false;
        result = to_python(call(x, y));
        return true;
    }
};

template <class A, class B, auto F>
using ReflectedRule = Rule<A, B, F, true>;

template <class A, auto F>
struct UnaryRule {
    using Result = std::decay_t<decltype(F(std::declval<Operand<A>>().get()))>;

    static bool apply(PyObject* a, PyObject*& result) {
        Operand<A> x;
        if (!x.read(a)) return false;
        result = to_python(opaque(F)(x.get()));
        return true;
    }
};

struct Add {
    static constexpr binaryfunc PyNumberMethods::*field = &PyNumberMethods::nb_add;
    static constexpr const char* name = "__add__";
    static constexpr const char* reflected = "__radd__";
};
struct Subtract {
    static constexpr binaryfunc PyNumberMethods::*field = &PyNumberMethods::nb_subtract;
    static constexpr const char* name = "__sub__";
    static constexpr const char* reflected = "__rsub__";
};
struct Multiply {
    static constexpr binaryfunc PyNumberMethods::*field = &PyNumberMethods::nb_multiply;
    static constexpr const char* name = "__mul__";
    static constexpr const char* reflected = "__rmul__";
};
struct Negative {
    static constexpr unaryfunc PyNumberMethods::*field = &PyNumberMethods::nb_negative;
    static constexpr const char* name = "__neg__";
};

// Interned once and kept for the life of the interpreter, like the type objects.
inline PyObject* interned(const char* text) {
    PyObject* s = PyUnicode_InternFromString(text);
    if (s == nullptr) throw py::error_already_set();
    return s;
}

// Raised C++ exceptions become the Python error pybind11 would set.
inline void set_python_error() { internals::set_error_from_current_exception(); }

// The attribute `name` of a type, found along its MRO without binding it, as
// CPython finds special methods; nullptr, with no error set, when absent.
// Public API only, so that the module loads under other interpreters far
// enough to refuse them.
inline PyObject* find_in_mro(PyTypeObject* type, PyObject* name) {
    PyObject* mro = type->tp_mro;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* dict = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i))->tp_dict;
        // CPython 3.12 keeps the dict of a static builtin type elsewhere; the
        // only one in the MRO of our classes is object, which has no operators.
        if (dict == nullptr) continue;
        PyObject* found = PyDict_GetItemWithError(dict, name);
        if (found != nullptr || PyErr_Occurred()) return found;
    }
    return nullptr;
}

// The special method `name` of o's type called with (o, arg), NotImplemented
// if the type has none; looked up and bound as CPython does for operators.
inline PyObject* call_special(PyObject* o, PyObject* name, PyObject* arg) {
    PyObject* method = find_in_mro(Py_TYPE(o), name);
    if (method == nullptr) {
        if (PyErr_Occurred()) return nullptr;
        Py_RETURN_NOTIMPLEMENTED;
    }
    Py_INCREF(method);
    PyObject* result = nullptr;
    if (PyType_HasFeature(Py_TYPE(method), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
        result = PyObject_CallFunctionObjArgs(method, o, arg, nullptr);
    } else if (descrgetfunc get = Py_TYPE(method)->tp_descr_get) {
        PyObject* bound = get(method, o, reinterpret_cast<PyObject*>(Py_TYPE(o)));
        if (bound != nullptr) {
            result = PyObject_CallFunctionObjArgs(bound, arg, nullptr);
            Py_DECREF(bound);
        }
    } else {
        result = PyObject_CallFunctionObjArgs(method, arg, nullptr);
    }
    Py_DECREF(method);
    return result;
}

// getattr(o, name) into *result: 1 if found, 0 if absent (AttributeError
// cleared), -1 on any other error.
inline int lookup_attr(PyObject* o, PyObject* name, PyObject** result) {
    *result = PyObject_GetAttr(o, name);
    if (*result != nullptr) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

// Whether right's type has a reflected method other than left's type has.
inline int reflected_is_overridden(PyObject* left, PyObject* right, PyObject* name) {
    PyObject* b = nullptr;
    if (lookup_attr(reinterpret_cast<PyObject*>(Py_TYPE(right)), name, &b) < 0) return -1;
    if (b == nullptr) return 0;
    PyObject* a = nullptr;
    if (lookup_attr(reinterpret_cast<PyObject*>(Py_TYPE(left)), name, &a) < 0) {
        Py_DECREF(b);
        return -1;
    }
    if (a == nullptr) {
        Py_DECREF(b);
        return 1;
    }
    const int differ = PyObject_RichCompareBool(a, b, Py_NE);
    Py_DECREF(a);
    Py_DECREF(b);
    return differ;
}

inline bool holds(PyTypeObject* type, binaryfunc PyNumberMethods::*field, binaryfunc slot) {
    return type->tp_as_number != nullptr && type->tp_as_number->*field == slot;
}

// CPython's slot for operators defined as methods, with `slot` in its place:
// an operand whose type holds `slot` is served through its methods here; any
// other operand has a slot of its own, which CPython's binary dispatch calls
// separately, so no method is called twice.
template <class Op>
struct Names {
    static inline PyObject* forward = nullptr;
    static inline PyObject* reflected = nullptr;

    static void make() {
        if (forward == nullptr) forward = interned(Op::name);
        if (reflected == nullptr) reflected = interned(Op::reflected);
    }
};

template <class Op>
PyObject* call_methods(PyObject* self, PyObject* other, binaryfunc slot) {
    PyObject* const name = Names<Op>::forward;
    PyObject* const reflected = Names<Op>::reflected;
    bool do_other = Py_TYPE(self) != Py_TYPE(other) && holds(Py_TYPE(other), Op::field, slot);
    if (holds(Py_TYPE(self), Op::field, slot)) {
        if (do_other && PyType_IsSubtype(Py_TYPE(other), Py_TYPE(self))) {
            const int overridden = reflected_is_overridden(self, other, reflected);
            if (overridden < 0) return nullptr;
            if (overridden) {
                PyObject* r = call_special(other, reflected, self);
                if (r != Py_NotImplemented) return r;
                Py_DECREF(r);
                do_other = false;
            }
        }
        PyObject* r = call_special(self, name, other);
        if (r != Py_NotImplemented || Py_TYPE(other) == Py_TYPE(self)) return r;
        Py_DECREF(r);
    }
    if (do_other) return call_special(other, reflected, self);
    Py_RETURN_NOTIMPLEMENTED;
}

template <class Op, class... Rules>
struct Binary {
    static constexpr bool is_binary = true;

    static PyObject* slot(PyObject* a, PyObject* b) {
        PyObject* result = nullptr;
        try {
            if ((Rules::apply(a, b, result) || ...)) return result;
        } catch (...) {
            set_python_error();
            return nullptr;
        }
        return call_methods<Op>(a, b, &slot);
    }

    // The generic slot CPython gave the class for its methods.
    static inline binaryfunc previous = nullptr;

    static bool results_registered() {
        return ((Registered<typename Rules::Result>::info != nullptr) && ...);
    }

    static void install(PyTypeObject* type) {
        Names<Op>::make();
        binaryfunc& field = type->tp_as_number->*Op::field;
        internals::expect_slot(type, field, internals::method_number_slots().*Op::field, Op::name);
        previous = field;
        field = &slot;
    }

    // A Python subclass gets the generic slot; it takes ours instead, so
    // that CPython does not call its inherited reflected method before the
    // forward one of an exact instance on the left.
    static void share_with(PyTypeObject* subclass) {
        binaryfunc& field = subclass->tp_as_number->*Op::field;
        if (field == previous) field = &slot;
    }

    static bool has_reflected(PyTypeObject* type) {
        return PyDict_GetItemString(type->tp_dict, Op::reflected) != nullptr;
    }
};

template <class Op, class OneRule>
struct Unary {
    static constexpr bool is_binary = false;

    static PyObject* slot(PyObject* a) {
        PyObject* result = nullptr;
        try {
            if (OneRule::apply(a, result)) return result;
        } catch (...) {
            set_python_error();
            return nullptr;
        }
        // CPython's unary slot looks the method up on the type, whatever
        // slot the type holds.
        return previous(a);
    }

    static inline unaryfunc previous = nullptr;

    static bool results_registered() {
        return Registered<typename OneRule::Result>::info != nullptr;
    }

    static void install(PyTypeObject* type) {
        unaryfunc& field = type->tp_as_number->*Op::field;
        internals::expect_slot(type, field, internals::method_number_slots().*Op::field, Op::name);
        previous = field;
        field = &slot;
    }

    static void share_with(PyTypeObject*) {}
    static bool has_reflected(PyTypeObject*) { return false; }
};

template <class C, class... Slots>
PyObject* init_subclass(PyObject* subclass, PyObject* args, PyObject* kwargs) {
    auto* type = reinterpret_cast<PyTypeObject*>(subclass);
    (Slots::share_with(type), ...);
    PyType_Modified(type);
    PyObject* parent = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type),
                                                    Registered<C>::type, subclass, nullptr);
    if (parent == nullptr) return nullptr;
    PyObject* next = PyObject_GetAttrString(parent, "__init_subclass__");
    Py_DECREF(parent);
    if (next == nullptr) return nullptr;
    PyObject* result = PyObject_Call(next, args, kwargs);
    Py_DECREF(next);
    return result;
}

template <class C, class... Slots>
void share_with_subclasses(PyTypeObject* type) {
    static PyMethodDef hook = {
        "__init_subclass__",
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&init_subclass<C, Slots...>)),
        METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
    py::object descriptor = py::reinterpret_steal<py::object>(PyDescr_NewClassMethod(type, &hook));
    if (!descriptor) throw py::error_already_set();
    if (PyDict_SetItemString(type->tp_dict, "__init_subclass__", descriptor.ptr()) < 0) {
        throw py::error_already_set();
    }
}

// Each class with slots of ours, and what a Python subclass of it takes.
struct Sharing {
    PyTypeObject* type;
    void (*share)(PyTypeObject* subclass);
};
inline std::vector<Sharing>& sharing() {
    static std::vector<Sharing> classes;
    return classes;
}

template <class... Slots>
void share(PyTypeObject* subclass) {
    (Slots::share_with(subclass), ...);
}

// A subclass made or changed gets our slots back where CPython reset them
// to its generic ones, and so do its own subclasses, which CPython updates
// with it.
inline void reshare(PyTypeObject* type) {
    bool changed = false;
    for (const Sharing& s : sharing()) {
        if (type != s.type && PyType_IsSubtype(type, s.type)) {
            s.share(type);
            changed = true;
        }
    }
    if (!changed) return;
    PyType_Modified(type);
    PyObject* subclasses = PyObject_CallMethod(reinterpret_cast<PyObject*>(type), "__subclasses__", nullptr);
    if (subclasses == nullptr) {
        PyErr_Clear();  // nothing to update that CPython could list
        return;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(subclasses); ++i) {
        reshare(reinterpret_cast<PyTypeObject*>(PyList_GET_ITEM(subclasses, i)));
    }
    Py_DECREF(subclasses);
}

// Registers class C for fast operands and replaces its number slots, after
// all its methods are bound. Every class a rule yields must be installed
// before, or its results could not be made.
template <class C, class... Slots>
void install(const py::handle& cls) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    Registered<C>::type = type;
    Registered<C>::info = internals::type_info_of<C>();
    // Without fast paths the class keeps only the __init_subclass__ it shows.
    if (!ORVANE_FAST_PATHS) {
        if ((Slots::has_reflected(type) || ...)) share_with_subclasses<C, Slots...>(type);
        return;
    }
    if (!(Slots::results_registered() && ...)) {
        throw std::logic_error("fast operators: a result class is not installed yet");
    }
    (Slots::install(type), ...);
    if ((Slots::has_reflected(type) || ...)) {
        share_with_subclasses<C, Slots...>(type);
        sharing().push_back({type, &share<Slots...>});
        internals::hook_metaclass(type, &reshare);
    }
    PyType_Modified(type);
}

using internals::same_class_operator;

template <class C>
using AddSame = Binary<Add, Rule<C, C, same_class_operator<internals::op_add, C>>>;
template <class C>
using SubtractSame = Binary<Subtract, Rule<C, C, same_class_operator<internals::op_sub, C>>>;
// Same-class product, and a number on either side scaling self.
template <class C, class T>
using MultiplySameOrNumber = Binary<Multiply, Rule<C, C, same_class_operator<internals::op_mul, C>>,
                                    Rule<C, Number<T>, &scaled<C, T>>,
                                    ReflectedRule<Number<T>, C, &scaled<C, T>>>;

}  // namespace fast_operators
