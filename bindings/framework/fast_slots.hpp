#pragma once

// Type slots that run the fast tables of the methods they stand for. CPython
// gives a class whose operators and __getitem__ are methods generic slots,
// which look the method up, bind it and call it. A class here gets slots of
// its own instead: when the operands are exactly what a declared overload
// takes, the slot runs that overload's C++ function through the method's
// fast table; every other case goes the way CPython's generic slot goes, so
// results, NotImplemented and errors stay those of the bound methods.
//
// call_methods and its helpers copy CPython's rules for binary operators
// (slot order, subclasses on the right, reflected methods); what keeps them
// honest is tests/test_fast_operators.py:
// test_operators_match_the_methods_over_the_corpus,
// test_negation_matches_the_method and test_reassigned_special_methods_are_called,
// and tests/test_fast_calls.py:
// test_operators_follow_python_rules_with_subclasses_changed_later and
// test_a_patched_and_restored_class_keeps_python_rules_for_later_subclasses.

#include <pybind11/pybind11.h>

#include <vector>

#include "fast_calls.hpp"
#include "internals.hpp"

namespace fast_slots {

using fast_calls::Outcome;
using fast_calls::Table;

struct Add {
    using Slot = internals::NbAdd;
    static constexpr const char* name = "__add__";
    static constexpr const char* reflected = "__radd__";
};
struct Subtract {
    using Slot = internals::NbSubtract;
    static constexpr const char* name = "__sub__";
    static constexpr const char* reflected = "__rsub__";
};
struct Multiply {
    using Slot = internals::NbMultiply;
    static constexpr const char* name = "__mul__";
    static constexpr const char* reflected = "__rmul__";
};

// Interned once and kept for the life of the interpreter, like the type objects.
inline PyObject* interned(const char* text) {
    PyObject* s = PyUnicode_InternFromString(text);
    if (s == nullptr) throw py::error_already_set();
    return s;
}

// The fast table of the method `name` defined by the class itself, if any.
inline const Table* table_of(PyTypeObject* type, const char* name) {
    PyObject* attribute = PyDict_GetItemString(type->tp_dict, name);
    PyObject* func = attribute == nullptr ? nullptr : internals::bound_function(attribute);
    if (func == nullptr || internals::vectorcall_of(func) != &fast_calls::entry) return nullptr;
    return static_cast<const Table*>(internals::fast_table_of(func));
}

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

template <class S>
bool holds(PyTypeObject* type, binaryfunc slot) {
    return internals::slot<S>(type) == slot;
}

template <class Op>
struct Names {
    static inline PyObject* forward = nullptr;
    static inline PyObject* reflected = nullptr;

    static void make() {
        if (forward == nullptr) forward = interned(Op::name);
        if (reflected == nullptr) reflected = interned(Op::reflected);
    }
};

// CPython's slot for operators defined as methods, with `slot` in its place:
// an operand whose type holds `slot` is served through its methods here; any
// other operand has a slot of its own, which CPython's binary dispatch calls
// separately, so no method is called twice.
template <class Op>
PyObject* call_methods(PyObject* self, PyObject* other, binaryfunc slot) {
    PyObject* const name = Names<Op>::forward;
    PyObject* const reflected = Names<Op>::reflected;
    bool do_other =
        Py_TYPE(self) != Py_TYPE(other) && holds<typename Op::Slot>(Py_TYPE(other), slot);
    if (holds<typename Op::Slot>(Py_TYPE(self), slot)) {
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

// The binary operator Op of class C. An exact instance on the left runs the
// forward method's table: CPython calls it first, since no operand the table
// takes is a subclass of C. An exact instance on the right, with a left
// operand of another type, runs the reflected method's table: CPython has
// already found the left operand's own slot wanting.
template <class C, class Op>
struct Binary {
    static inline PyTypeObject* type = nullptr;
    static inline const Table* forward = nullptr;
    static inline const Table* reflected = nullptr;
    // The generic slot CPython gave the class for its methods.
    static inline binaryfunc previous = nullptr;

    static PyObject* slot(PyObject* a, PyObject* b) {
        PyObject* result = nullptr;
        if (Py_TYPE(a) == type) {
            PyObject* const args[] = {a, b};
            if (forward != nullptr &&
                fast_calls::run(*forward, args, 2, &result) == Outcome::Done) {
                return result;
            }
        } else if (Py_TYPE(b) == type && reflected != nullptr) {
            PyObject* const args[] = {b, a};
            if (fast_calls::run(*reflected, args, 2, &result) == Outcome::Done) return result;
        }
        return call_methods<Op>(a, b, &slot);
    }

    static void install(PyTypeObject* cls) {
        type = cls;
        forward = table_of(cls, Op::name);
        reflected = table_of(cls, Op::reflected);
        if (forward == nullptr && reflected == nullptr) return;
        Names<Op>::make();
        const binaryfunc generic = internals::method_slot<typename Op::Slot>();
        if (internals::replace_slot<typename Op::Slot>(cls, Op::name, generic, &slot,
                                                       "is not the slot CPython gives methods")) {
            previous = generic;
        }
    }

    // After the class itself is changed: CPython has put its generic slot
    // back for a method set or deleted, and the methods may be others now.
    // Its subclasses take ours, so the class must too, or Python's rules
    // for a subclass on the right break.
    static void restore(PyTypeObject* cls) {
        if (previous == nullptr) return;
        forward = table_of(cls, Op::name);
        reflected = table_of(cls, Op::reflected);
        internals::restore_slot<typename Op::Slot>(cls, previous, &slot);
    }

    // A Python subclass gets the generic slot; it takes ours instead, so
    // that CPython does not call its inherited reflected method before the
    // forward one of an exact instance on the left.
    static void share_with(PyTypeObject* subclass) {
        if (previous == nullptr) return;
        internals::restore_slot<typename Op::Slot>(subclass, previous, &slot);
    }
};

// A slot of one object and perhaps a key (unary minus, __getitem__): an
// exact instance runs the method's table; anything else takes the generic
// slot, which looks the method up on the object's type.
template <class C, class S>
struct Single {
    using F = typename S::Function;
    static inline PyTypeObject* type = nullptr;
    static inline const Table* table = nullptr;
    static inline F previous = nullptr;

    template <class... Key>
    static PyObject* slot(PyObject* self, Key... key) {
        if (Py_TYPE(self) == type && table != nullptr) {
            PyObject* const args[] = {self, key...};
            PyObject* result = nullptr;
            if (fast_calls::run(*table, args, 1 + sizeof...(Key), &result) == Outcome::Done) {
                return result;
            }
        }
        return previous(self, key...);
    }

    static void install(PyTypeObject* cls, const char* name) {
        if (S::in(cls) == nullptr || (table = table_of(cls, name)) == nullptr) return;
        type = cls;
        method = name;
        const F generic = internals::method_slot<S>();
        if (internals::replace_slot<S>(cls, name, generic, &slot,
                                       "is not the slot CPython gives methods")) {
            previous = generic;
        }
    }

    // As Binary::restore, for the one method this slot stands for.
    static void restore(PyTypeObject* cls) {
        if (previous == nullptr) return;
        table = table_of(cls, method);
        if (table != nullptr) internals::restore_slot<S>(cls, previous, &slot);
    }

private:
    static inline const char* method = nullptr;
};

// __init__ as called by the class: CPython's generic slot looks the method
// up and binds it first; an exact instance with positional arguments runs
// the table at once.
template <class C>
struct Initializer {
    static inline PyTypeObject* type = nullptr;
    static inline const Table* table = nullptr;
    static inline initproc previous = nullptr;

    static int slot(PyObject* self, PyObject* args, PyObject* kwargs) {
        const Py_ssize_t n = PyTuple_GET_SIZE(args);
        if (Py_TYPE(self) == type && table != nullptr &&
            (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) && n <= kMaxArguments) {
            PyObject* all[kMaxArguments + 1] = {self};
            for (Py_ssize_t i = 0; i < n; ++i) all[i + 1] = PyTuple_GET_ITEM(args, i);
            PyObject* result = nullptr;
            if (fast_calls::run(*table, all, n + 1, &result) == Outcome::Done) {
                if (result == nullptr) return -1;
                Py_DECREF(result);
                return 0;
            }
        }
        return previous(self, args, kwargs);
    }

    static void install(PyTypeObject* cls) {
        if ((table = table_of(cls, "__init__")) == nullptr) return;
        type = cls;
        const initproc generic = internals::method_slot<internals::TpInit>();
        if (internals::replace_slot<internals::TpInit>(cls, "__init__", generic, &slot,
                                                       "is not the slot CPython gives methods")) {
            previous = generic;
        }
    }

    static void restore(PyTypeObject* cls) {
        if (previous == nullptr) return;
        table = table_of(cls, "__init__");
        if (table != nullptr) internals::restore_slot<internals::TpInit>(cls, previous, &slot);
    }

private:
    static constexpr Py_ssize_t kMaxArguments = 16;  // a Matrix4 of numbers
};

template <class C>
using Negative = Single<C, internals::NbNegative>;
template <class C>
using GetItem = Single<C, internals::MpSubscript>;

// Every operator slot a class C may have.
template <class C>
struct Slots {
    static void share_with(PyTypeObject* subclass) {
        Binary<C, Add>::share_with(subclass);
        Binary<C, Subtract>::share_with(subclass);
        Binary<C, Multiply>::share_with(subclass);
    }

    static void restore(PyTypeObject* type) {
        Binary<C, Add>::restore(type);
        Binary<C, Subtract>::restore(type);
        Binary<C, Multiply>::restore(type);
        Negative<C>::restore(type);
        GetItem<C>::restore(type);
        Initializer<C>::restore(type);
    }

    static bool has_reflected(PyTypeObject* type) {
        for (const char* name : {Add::reflected, Subtract::reflected, Multiply::reflected}) {
            if (PyDict_GetItemString(type->tp_dict, name) != nullptr) return true;
        }
        return false;
    }
};

template <class C>
PyObject* init_subclass(PyObject* subclass, PyObject* args, PyObject* kwargs) {
    auto* type = reinterpret_cast<PyTypeObject*>(subclass);
    Slots<C>::share_with(type);
    PyType_Modified(type);
    PyObject* parent =
        PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type),
                                     internals::registered_type<C>(), subclass, nullptr);
    if (parent == nullptr) return nullptr;
    PyObject* next = PyObject_GetAttrString(parent, "__init_subclass__");
    Py_DECREF(parent);
    if (next == nullptr) return nullptr;
    PyObject* result = PyObject_Call(next, args, kwargs);
    Py_DECREF(next);
    return result;
}

// A class with a reflected operator shows an __init_subclass__ that gives
// Python subclasses its slots, in either build.
template <class C>
void share_with_subclasses(PyTypeObject* type) {
    static PyMethodDef hook = {
        "__init_subclass__",
        reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&init_subclass<C>)),
        METH_VARARGS | METH_KEYWORDS | METH_CLASS, nullptr};
    py::object descriptor = py::reinterpret_steal<py::object>(PyDescr_NewClassMethod(type, &hook));
    if (!descriptor) throw py::error_already_set();
    if (PyDict_SetItemString(type->tp_dict, "__init_subclass__", descriptor.ptr()) < 0) {
        throw py::error_already_set();
    }
}

// Each class with slots of ours: what it takes back when changed itself,
// and what a Python subclass of it takes (nothing without reflected operators).
struct Sharing {
    PyTypeObject* type;
    void (*restore)(PyTypeObject* type);
    void (*share)(PyTypeObject* subclass);
};
inline std::vector<Sharing>& sharing() {
    static std::vector<Sharing> classes;
    return classes;
}

// A subclass made or changed gets our slots back where CPython reset them
// to its generic ones, and so do its own subclasses, which CPython updates
// with it.
inline void reshare(PyTypeObject* type) {
    bool changed = false;
    for (const Sharing& s : sharing()) {
        if (type == s.type) {
            s.restore(type);
            changed = true;
        } else if (s.share != nullptr && PyType_IsSubtype(type, s.type)) {
            s.share(type);
            changed = true;
        }
    }
    if (!changed) return;
    PyType_Modified(type);
    PyObject* subclasses =
        PyObject_CallMethod(reinterpret_cast<PyObject*>(type), "__subclasses__", nullptr);
    if (subclasses == nullptr) {
        PyErr_Clear();  // nothing to update that CPython could list
        return;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(subclasses); ++i) {
        reshare(reinterpret_cast<PyTypeObject*>(PyList_GET_ITEM(subclasses, i)));
    }
    Py_DECREF(subclasses);
}

// Gives class C the slots its declared methods call for, once every
// function object of the module has its fast table.
template <class C>
void install(PyTypeObject* type) {
    const bool reflected = Slots<C>::has_reflected(type);
    if (ORVANE_FAST_PATHS && internals::hook_metaclass(type, &reshare)) {
        Binary<C, Add>::install(type);
        Binary<C, Subtract>::install(type);
        Binary<C, Multiply>::install(type);
        Negative<C>::install(type, "__neg__");
        GetItem<C>::install(type, "__getitem__");
        Initializer<C>::install(type);
        sharing().push_back(
            {type, &Slots<C>::restore, reflected ? &Slots<C>::share_with : nullptr});
    }
    if (reflected) share_with_subclasses<C>(type);
    PyType_Modified(type);
}

}  // namespace fast_slots
