#pragma once

// What the module's classes get besides the fast entries of their callables:
// values stored inside the objects (see internals::new_instance), and
// attribute reads on exact instances that skip the generic lookup. The class
// attributes stay what they are (a property stays a property, a method an
// instancemethod); `a.x` calls the property's getter function directly and
// `a.norm` binds the method's function, as the property and the
// instancemethod would, as long as the class and its bases are unmodified
// since the attribute was seen. Everything else is CPython's own lookup.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "internals.hpp"

namespace fast_attributes {

// An attribute as the class held it at import, kept alive so that an
// address seen again is the same object. A property has its getter (the
// bound function or an instancemethod of it, which calls it with the same
// arguments), an instancemethod none.
struct Entry {
    PyObject* name = nullptr;
    PyObject* attribute = nullptr;
    PyObject* getter = nullptr;
    PyObject* function = nullptr;
    vectorcallfunc call = nullptr;
};

// A class's attributes by the address of their (interned) names, in a table
// sized at import to what the class has.
struct Attributes {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;  // of the class when `found` was last checked
    bool found = false;        // every attribute still what the class shows
    int shift = 63;
    std::size_t mask = 0;
    std::vector<Entry> slots;

    static std::size_t home(const PyObject* name, int shift) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name));
        return static_cast<std::size_t>((address * UINT64_C(0x9E3779B97F4A7C15)) >> shift);
    }

    const Entry* find(const PyObject* name) const {
        for (std::size_t i = home(name, shift);; i = (i + 1) & mask) {
            if (slots[i].name == name) return &slots[i];
            if (slots[i].name == nullptr) return nullptr;
        }
    }

    // Twice as many slots as entries at least, so that a miss ends soon.
    void fill(const std::vector<Entry>& entries) {
        int bits = 1;
        while ((std::size_t{1} << bits) < 2 * entries.size()) ++bits;
        slots.assign(std::size_t{1} << bits, Entry{});
        mask = slots.size() - 1;
        shift = 64 - bits;
        for (const Entry& e : entries) {
            std::size_t i = home(e.name, shift);
            while (slots[i].name != nullptr) i = (i + 1) & mask;
            slots[i] = e;
        }
    }
};

// After the class or a base changed: a patched, deleted or shadowed
// attribute leaves every read to CPython until the class changes again.
inline void check(Attributes& a) {
    a.found = true;
    for (const Entry& e : a.slots) {
        if (e.name != nullptr && internals::class_attribute(a.type, e.name) != e.attribute) {
            a.found = false;
        }
    }
    a.version = internals::version_tag(a.type);
    if (a.version == 0) a.found = false;
}

inline PyObject* read(const Entry& e, PyObject* self) {
    if (e.getter == nullptr) return PyMethod_New(e.function, self);
    // property.__init__ may have run again on the property.
    if (internals::property_getter(e.attribute) != e.getter) {
        return PyObject_GenericGetAttr(self, e.name);
    }
    PyObject* args[1] = {self};
    return e.call(e.function, args, 1, nullptr);
}

// One table and one slot function per class, so that finding its
// attributes costs nothing.
template <class C>
inline Attributes classes;

template <class C>
PyObject* getattro(PyObject* self, PyObject* name) {
    Attributes& a = classes<C>;
    // Instances of subclasses take CPython's way, whatever they define.
    if (Py_TYPE(self) == a.type) {
        if (a.type->tp_version_tag != a.version) check(a);
        if (a.found) {
            if (const Entry* e = a.find(name)) return read(*e, self);
        }
    }
    return PyObject_GenericGetAttr(self, name);
}

// The entry of a class attribute read without CPython's lookup, if any.
inline bool entry_of(PyObject* name, PyObject* attribute, Entry& e) {
    if (!PyUnicode_CheckExact(name)) return false;
    e = {name, attribute, nullptr, nullptr, nullptr};
    if (PyInstanceMethod_Check(attribute)) {
        e.function = PyInstanceMethod_GET_FUNCTION(attribute);
        return true;
    }
    if (!internals::plain_property(attribute)) return false;
    e.getter = internals::property_getter(attribute);
    e.function = e.getter != nullptr ? internals::bound_function(e.getter) : nullptr;
    e.call = e.function != nullptr ? internals::vectorcall_of(e.function) : nullptr;
    return e.call != nullptr;
}

// Whether a class of C got its tp_dealloc before PyType_Ready, which keeps
// it as it is when methods are bound later. The number slots, tp_init and
// mp_subscript cannot be given there: CPython resets them to its generic ones
// whenever a method is set, so they are given once every method is
// (fast_slots). Nor can tp_getattro: PyType_Ready would show a slot of the
// class's own as a __getattribute__ method.
template <class C>
struct Setup {
    static inline bool dealloc = false;
};

// pybind11's py::custom_type_setup for a class of C.
template <class C>
void setup(PyHeapTypeObject* heap) {
    Setup<C>::dealloc = internals::set_inline_dealloc(&heap->ht_type);
}

// The properties whose getter has a vectorcall entry and the methods, of a
// class without instance dicts, whose instances have CPython's lookup.
template <class C>
void install_attributes(PyTypeObject* type) {
    if (type->tp_dictoffset != 0 || PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT)) return;
    std::vector<Entry> entries;
    PyObject* name = nullptr;
    PyObject* attribute = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(type->tp_dict, &pos, &name, &attribute)) {
        Entry e;
        if (entry_of(name, attribute, e)) entries.push_back(e);
    }
    if (entries.empty() || !internals::replace_slot<internals::TpGetattro>(
                               type, nullptr, &PyObject_GenericGetAttr, &getattro<C>,
                               "is not CPython's generic lookup")) {
        return;
    }
    for (const Entry& e : entries) {
        Py_INCREF(e.name);
        Py_INCREF(e.attribute);
    }
    Attributes& a = classes<C>;
    a.fill(entries);
    a.type = type;
}

// Once all the class's callables have their entries, before any instance.
template <class C>
void install(PyTypeObject* type) {
    internals::type_check_passes(Setup<C>::dealloc, type, nullptr, "tp_dealloc",
                                 "was not left for pybind11's deallocation");
    internals::give_inline_room(type);
    install_attributes<C>(type);
}

}  // namespace fast_attributes
