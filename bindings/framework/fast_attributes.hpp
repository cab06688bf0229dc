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

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

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

// A class's attributes by the address of their (interned) names.
struct Attributes {
    static constexpr int bits = 6;
    static constexpr std::size_t size = std::size_t{1} << bits;

    PyTypeObject* type = nullptr;
    unsigned int version = 0;  // of the class when `found` was last checked
    bool found = false;        // every attribute still what the class shows
    std::size_t count = 0;
    Entry slots[size];

    static std::size_t home(const PyObject* name) {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(name));
        return static_cast<std::size_t>((address * UINT64_C(0x9E3779B97F4A7C15)) >> (64 - bits));
    }

    const Entry* find(const PyObject* name) const {
        for (std::size_t i = home(name);; i = (i + 1) % size) {
            if (slots[i].name == name) return &slots[i];
            if (slots[i].name == nullptr) return nullptr;
        }
    }

    // Half the slots at most, so that a miss ends soon.
    bool add(const Entry& e) {
        if (2 * (count + 1) > size) return false;
        std::size_t i = home(e.name);
        while (slots[i].name != nullptr) i = (i + 1) % size;
        slots[i] = e;
        ++count;
        return true;
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

// One slot function per class, so that finding its attributes costs nothing.
inline constexpr std::size_t max_classes = 32;
inline Attributes classes[max_classes];
inline std::size_t class_count = 0;

template <std::size_t I>
PyObject* getattro(PyObject* self, PyObject* name) {
    Attributes& a = classes[I];
    // Instances of subclasses take CPython's way, whatever they define.
    if (Py_TYPE(self) == a.type) {
        if (a.type->tp_version_tag != a.version) check(a);
        if (a.found) {
            if (const Entry* e = a.find(name)) return read(*e, self);
        }
    }
    return PyObject_GenericGetAttr(self, name);
}

template <std::size_t... I>
constexpr std::array<getattrofunc, sizeof...(I)> slot_functions(std::index_sequence<I...>) {
    return {&getattro<I>...};
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

// The properties whose getter has a vectorcall entry and the methods, of a
// class without instance dicts, whose instances have CPython's lookup.
inline void install_attributes(PyTypeObject* type) {
    if (type->tp_dictoffset != 0 || PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT) ||
        class_count == max_classes) {
        return;
    }
    Attributes a;
    PyObject* name = nullptr;
    PyObject* attribute = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(type->tp_dict, &pos, &name, &attribute)) {
        Entry e;
        if (entry_of(name, attribute, e)) a.add(e);
    }
    if (a.count == 0) return;
    internals::expect_slot(type, type->tp_getattro, &PyObject_GenericGetAttr, "tp_getattro");
    for (const Entry& e : a.slots) {
        Py_XINCREF(e.name);
        Py_XINCREF(e.attribute);
    }
    static constexpr auto slots = slot_functions(std::make_index_sequence<max_classes>());
    a.type = type;
    classes[class_count] = a;
    type->tp_getattro = slots[class_count++];
}

// Once all the class's callables have their entries, before any instance.
inline void install(PyTypeObject* type) {
    internals::give_inline_room(type);
    internals::InlineDealloc::install(type);
    install_attributes(type);
}

}  // namespace fast_attributes
