#pragma once

// Every use of pybind11's internals (py::detail beyond the documented API)
// and of CPython's private or unstable API, every read of a pybind11
// function record and every write of a type slot. Their layout and
// behaviour were checked against exactly these versions; any other fails the
// build here rather than misbehave at run time. A check at import that
// fails turns one fast path off with a RuntimeWarning and leaves pybind11's
// generic path in place.
//
// To check on a pybind11 or CPython update, one dependency a line:
// - instance layout (simple_layout, simple_value_holder, owned, registered
//   and holder flags, weakrefs, has_patients): held_value, new_instance,
//   construct_in, fresh_instance, InlineDealloc.
// - type_info (type, type_size, holder_size_in_ptrs, type_align,
//   operator_new, implicit and direct conversions): give_inline_room,
//   may_load_otherwise, zero_lazy_values.
// - type_caster_generic::cast, initimpl::construct_or_initialize,
//   translate_exception, instance_map: generic_new_instance, construct_in,
//   set_error_from_current_exception, give_inline_room.
// - function_record fields (nargs, nargs_pos, nargs_pos_only, is_method,
//   has_args, has_kwargs, args with their name, value, convert and none,
//   is_constructor, scope, next, name, doc, def) and the capsule that holds
//   the records: function_facts, last_overload, install_vectorcall.
// - pybind11's dispatcher as the PyCFunction's ml_meth, without vectorcall,
//   its ml_doc allocated with strdup, and CPython's PyCFunctionObject
//   fields: install_vectorcall, set_docstring.
// - tp_dealloc left empty by pybind11 for PyType_Ready to inherit when
//   py::custom_type_setup runs, tp_getattro inherited as CPython's generic
//   lookup, pybind11's buffer slots: fill_slot_before_ready,
//   set_inline_dealloc, fast_attributes::install_attributes, ExportedBuffer::install.
// - the generic slots CPython gives methods (nb_*, mp_subscript, tp_init) and
//   resets when one is set: method_slots, replace_slot, restore_slot.
// - the metaclass's tp_setattro and tp_init, called on every class change:
//   hook_metaclass.
// - CPython's property layout, _PyType_Lookup, PyUnstable_Type_AssignVersionTag,
//   PyUnstable_Long_*, _PyStack_AsDict, buffer method wrappers:
//   PropertyLayout, class_attribute, version_tag, small_int_value,
//   generic_call, rewrap_slot.
// - get_type_info of a Python type: of_bound_class.

#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "class_traits.hpp"

// 0 builds the module without fast paths: pybind11's loaders, dispatcher
// and CPython's operator slots for methods throughout.
#ifndef ORVANE_FAST_PATHS
#define ORVANE_FAST_PATHS 1
#endif

static_assert(PYBIND11_VERSION_HEX == 0x020D0600,
              "bindings/framework/internals.hpp was checked against pybind11 2.13.6 only");
static_assert(PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000,
              "bindings/framework/internals.hpp was checked against CPython 3.12 only");

namespace internals {

namespace py = pybind11;

// Testing switch: ORVANE_FAIL_CHECK, read once at import, names one check
// ("Vector3f.__add__:nb_add", "Vector3f:tp_basicsize", "dot:vectorcall", ...)
// to fail as if CPython or pybind11 had given something else.
inline bool faked_failure(const std::string& key) {
    static const std::string named = [] {
        const char* v = std::getenv("ORVANE_FAIL_CHECK");
        return std::string(v != nullptr ? v : "");
    }();
    return !named.empty() && named == key;
}

// The module part and the class part of a tp_name.
inline std::pair<std::string, std::string> split_type_name(PyTypeObject* type) {
    const std::string full = type->tp_name;
    const std::size_t dot = full.rfind('.');
    if (dot == std::string::npos) return {"", full};
    return {full.substr(0, dot), full.substr(dot + 1)};
}

// Whether the check `name` on `subject` passes; if it does not, the fast path
// for the subject is off, with one RuntimeWarning (an error where warnings
// are errors) that names the check.
inline bool check_passes(bool holds, const std::string& module, const std::string& subject,
                         const char* name, const std::string& reason) {
    if (holds && !faked_failure(subject + ":" + name)) return true;
    const std::string text = (module.empty() ? "orvane_bindings" : module) +
                             ": fast path off for " + subject + ": " + name + " " + reason;
    if (PyErr_WarnEx(PyExc_RuntimeWarning, text.c_str(), 1) < 0) throw py::error_already_set();
    return false;
}

// The same for a class, or one of its members.
inline bool type_check_passes(bool holds, PyTypeObject* type, const char* member, const char* name,
                              const std::string& reason) {
    const auto [module, cls] = split_type_name(type);
    return check_passes(holds, module, member != nullptr ? cls + "." + member : cls, name, reason);
}

// Where a type object keeps one slot. Each has the name CPython gives it.
template <class F, F PyNumberMethods::*field>
struct NumberSlot {
    using Function = F;
    static F* in(PyTypeObject* t) {
        return t->tp_as_number != nullptr ? &(t->tp_as_number->*field) : nullptr;
    }
};
template <class F, F PyMappingMethods::*field>
struct MappingSlot {
    using Function = F;
    static F* in(PyTypeObject* t) {
        return t->tp_as_mapping != nullptr ? &(t->tp_as_mapping->*field) : nullptr;
    }
};
template <class F, F PyTypeObject::*field>
struct TypeSlot {
    using Function = F;
    static F* in(PyTypeObject* t) { return &(t->*field); }
};

struct NbAdd : NumberSlot<binaryfunc, &PyNumberMethods::nb_add> {
    static constexpr const char* name = "nb_add";
};
struct NbSubtract : NumberSlot<binaryfunc, &PyNumberMethods::nb_subtract> {
    static constexpr const char* name = "nb_subtract";
};
struct NbMultiply : NumberSlot<binaryfunc, &PyNumberMethods::nb_multiply> {
    static constexpr const char* name = "nb_multiply";
};
struct NbNegative : NumberSlot<unaryfunc, &PyNumberMethods::nb_negative> {
    static constexpr const char* name = "nb_negative";
};
struct MpSubscript : MappingSlot<binaryfunc, &PyMappingMethods::mp_subscript> {
    static constexpr const char* name = "mp_subscript";
};
struct TpInit : TypeSlot<initproc, &PyTypeObject::tp_init> {
    static constexpr const char* name = "tp_init";
};
struct TpGetattro : TypeSlot<getattrofunc, &PyTypeObject::tp_getattro> {
    static constexpr const char* name = "tp_getattro";
};
struct TpDealloc : TypeSlot<destructor, &PyTypeObject::tp_dealloc> {
    static constexpr const char* name = "tp_dealloc";
};
struct TpSetattro : TypeSlot<setattrofunc, &PyTypeObject::tp_setattro> {
    static constexpr const char* name = "tp_setattro";
};

// The function in slot S of `type`, nullptr where the type has no such table.
template <class S>
typename S::Function slot(PyTypeObject* type) {
    typename S::Function* at = S::in(type);
    return at != nullptr ? *at : nullptr;
}

// Replaces slot S of `type` by `replacement` where it holds `expected`;
// otherwise leaves it, and the fast path for `member` (of the class if
// nullptr) is off.
template <class S>
bool replace_slot(PyTypeObject* type, const char* member, typename S::Function expected,
                  typename S::Function replacement, const char* reason) {
    typename S::Function* at = S::in(type);
    if (!type_check_passes(at != nullptr && *at == expected, type, member, S::name, reason)) {
        return false;
    }
    *at = replacement;
    return true;
}

// Puts `ours` back into slot S where CPython has reset it to `generic`.
template <class S>
void restore_slot(PyTypeObject* type, typename S::Function generic, typename S::Function ours) {
    typename S::Function* at = S::in(type);
    if (at != nullptr && *at == generic) *at = ours;
}

// pybind11's record of a bound C++ class.
using TypeInfo = py::detail::type_info;

template <class C>
const TypeInfo* type_info_of() {
    return py::detail::get_type_info(typeid(C), true);
}

// The value a pybind11 instance of C (or of a Python subclass) holds, or
// nullptr if it holds none. An instance made by __new__ alone has no value;
// pybind11 allocates one, uninitialized and without a holder, when a method
// is called on it before __init__. An instance that refers to a value it
// does not own (a property object) has no holder either, and does hold it.
template <class C>
C* held_value(PyObject* o) {
    auto* inst = reinterpret_cast<py::detail::instance*>(o);
    void* value = nullptr;
    bool constructed = false;
    if (inst->simple_layout) {
        value = inst->simple_value_holder[0];
        constructed = inst->simple_holder_constructed;
    } else {
        static const TypeInfo* const info = type_info_of<C>();
        const py::detail::value_and_holder v_h = inst->get_value_and_holder(info, false);
        if (v_h.inst != nullptr) {
            value = v_h.value_ptr();
            constructed = v_h.holder_constructed();
        }
    }
    if (value == nullptr || (inst->owned && !constructed)) return nullptr;
    return static_cast<C*>(value);
}

// The Python error for an instance that holds no value.
inline void set_no_value_error(PyObject* o) {
    PyErr_Format(PyExc_TypeError, "%s object holds no value: its __init__ has not run",
                 Py_TYPE(o)->tp_name);
}

// The Python object a method was called on, as a parameter. Unlike C&, it
// reaches the method without pybind11 allocating a value for an instance
// whose __init__ has not run, and it can be the base of a view.
template <class C>
struct Self {
    py::handle object;

    // The value held, or TypeError if there is none.
    C& value() const {
        C* held = held_value<C>(object.ptr());
        if (held == nullptr) {
            set_no_value_error(object.ptr());
            throw py::error_already_set();
        }
        return *held;
    }
};

// A new instance of the registered class of V owning the value, made as
// pybind11 makes the results of bound functions.
template <class V>
PyObject* generic_new_instance(V&& value, const TypeInfo* info) {
    using D = std::decay_t<V>;
    auto copy = [](const void* p) -> void* { return new D(*static_cast<const D*>(p)); };
    auto move = [](const void* p) -> void* {
        return new D(std::move(*const_cast<D*>(static_cast<const D*>(p))));
    };
    return py::detail::type_caster_generic::cast(&value, py::return_value_policy::move, nullptr,
                                                 info, copy, move)
        .ptr();
}

// Where an instance made by the fast path keeps its value: right after
// pybind11's fields, in the object itself, so that a result costs one
// allocation. Such an instance is not owned and has no holder (or an empty
// one), so pybind11's clear_instance frees nothing; the value needs no
// destruction.
inline constexpr std::size_t inline_value_offset = sizeof(py::detail::instance);

inline void* inline_value(PyObject* o) { return reinterpret_cast<char*>(o) + inline_value_offset; }

inline bool holds_inline(PyObject* o) {
    auto* inst = reinterpret_cast<py::detail::instance*>(o);
    return inst->simple_layout && inst->simple_value_holder[0] == inline_value(o);
}

template <class D>
constexpr bool storable_inline =
    std::is_trivially_copyable_v<D>&& std::is_trivially_destructible_v<D> &&
    alignof(D) <= alignof(void*);

// Whether instances of exactly `type` have room for a value of `size` bytes.
inline bool has_inline_room(PyTypeObject* type, std::size_t size) {
    return static_cast<std::size_t>(type->tp_basicsize) >= inline_value_offset + size;
}

// A new instance of the registered class of V holding the value, made as
// pybind11 makes the results of bound functions, except that it is not
// entered into pybind11's registry of live instances, which only finds a
// Python object for a C++ address: nothing refers into a new value (views and
// properties keep their owner through the object itself). A repeated
// __init__ on such an instance must still do nothing, as on a registered one:
// see constructed_unregistered.
template <class V>
PyObject* new_instance(V&& value, const TypeInfo* info) {
#if ORVANE_FAST_PATHS
    using D = std::decay_t<V>;
    static_assert(storable_inline<D>, "values stored inline are copied and never destroyed");
    PyTypeObject* const type = info->type;
    if (has_inline_room(type, sizeof(D))) {
        PyObject* self = PyType_GenericAlloc(type, 0);
        if (self == nullptr) return nullptr;
        auto* inst = reinterpret_cast<py::detail::instance*>(self);
        // What allocate_layout does for a class with one base and a small
        // holder, but not owned: the other fields stay zero.
        inst->simple_layout = true;
        inst->simple_value_holder[0] = new (inline_value(self)) D(std::forward<V>(value));
        return self;
    }
#endif
    return generic_new_instance(std::forward<V>(value), info);
}

// Whether self, of exactly its registered class, has had no __init__ and no
// method called yet: no value, no holder, not registered.
inline bool fresh_instance(PyObject* self) {
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    return inst->simple_layout && inst->simple_value_holder[0] == nullptr &&
           !inst->simple_holder_constructed && !inst->simple_instance_registered;
}

// What pybind11's py::init<P...>() does to a fresh instance, but for the
// registry (see new_instance), and with the value inside the object where
// the class has room for it.
template <class C, class... P>
void construct_in(PyObject* self, P&&... args) {
    static const TypeInfo* const info = type_info_of<C>();
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    if constexpr (storable_inline<C>) {
        if (has_inline_room(Py_TYPE(self), sizeof(C))) {
            void* at = inline_value(self);
            C* held = nullptr;
            if constexpr (std::is_constructible_v<C, P...>) {
                held = new (at) C(std::forward<P>(args)...);
            } else {
                held = new (at) C{std::forward<P>(args)...};
            }
            inst->simple_value_holder[0] = held;
            inst->owned = false;
            // pybind11's metaclass wants a holder after __init__: an empty
            // one, which frees nothing either.
            py::detail::value_and_holder v_h = inst->get_value_and_holder(info, false);
            new (std::addressof(v_h.holder<std::unique_ptr<C>>())) std::unique_ptr<C>();
            v_h.set_holder_constructed();
            return;
        }
    }
    C* held = py::detail::initimpl::construct_or_initialize<C>(std::forward<P>(args)...);
    inst->simple_value_holder[0] = held;
    py::detail::value_and_holder v_h = inst->get_value_and_holder(info, false);
    new (std::addressof(v_h.holder<std::unique_ptr<C>>())) std::unique_ptr<C>(held);
    v_h.set_holder_constructed();
}

// Whether self, of class `type`, holds a value made by new_instance or
// construct_in.
inline bool constructed_unregistered(PyObject* self, PyTypeObject* type) {
    if (!PyObject_TypeCheck(self, type)) return false;
    auto* inst = reinterpret_cast<py::detail::instance*>(self);
    return inst->simple_layout && !inst->simple_instance_registered &&
           (inst->simple_holder_constructed || holds_inline(self));
}

// The value of an exact int that fits a machine word, read without a call;
// false for a larger one.
inline bool small_int_value(PyObject* o, Py_ssize_t* value) {
    auto* number = reinterpret_cast<PyLongObject*>(o);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    *value = PyUnstable_Long_CompactValue(number);
    return true;
}

// Sets the Python error pybind11 would set for the exception being handled.
inline void set_error_from_current_exception() {
    py::detail::translate_exception(std::current_exception());
}

// The slots CPython gives a class whose operators, __getitem__ and __init__
// are Python methods, as pybind11's methods are: those of a plain Python class.
inline const PyTypeObject& method_slots() {
    static const PyTypeObject* const reference = [] {
        PyObject* type =
            PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s(){}", "operators");
        if (type == nullptr) throw py::error_already_set();
        for (const char* name :
             {"__add__", "__sub__", "__mul__", "__neg__", "__getitem__", "__init__"}) {
            if (PyObject_SetAttrString(type, name, Py_None) < 0) throw py::error_already_set();
        }
        return reinterpret_cast<PyTypeObject*>(type);  // kept, like the module's types
    }();
    return *reference;
}

template <class S>
typename S::Function method_slot() {
    return slot<S>(const_cast<PyTypeObject*>(&method_slots()));
}

// What is no fast path but a fix (the buffer export) or a safety measure
// (no __class__ assignment) has no generic path to fall back on: replacing
// is only sound over what it was written against, and the import fails
// without it.
inline void require(bool holds, PyTypeObject* type, const char* what) {
    if (holds && !faked_failure(split_type_name(type).second + ":" + what)) return;
    throw std::runtime_error(std::string("orvane_bindings: ") + type->tp_name + "." + what +
                             " is not what pybind11 2.13.6 and CPython 3.12 put there; "
                             "refusing to replace it: build against those versions");
}

// Enlarges a class of the module for values stored inline. Only sound before
// any instance or subclass exists, so the module's classes get it once all
// are registered; any other class is left as it is.
inline void give_inline_room(PyTypeObject* type) {
    const std::vector<TypeInfo*>& infos = py::detail::all_type_info(type);
    if (infos.size() != 1 || infos.front()->type != type) return;
    const TypeInfo* info = infos.front();
    if (info->holder_size_in_ptrs > py::detail::instance_simple_holder_in_ptrs() ||
        info->type_align > alignof(void*) || type->tp_itemsize != 0 ||
        type->tp_basicsize != static_cast<Py_ssize_t>(inline_value_offset) ||
        type->tp_dictoffset != 0 || type->tp_alloc != &PyType_GenericAlloc ||
        PyType_HasFeature(type, Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_MANAGED_DICT)) {
        return;
    }
    const py::list subclasses =
        py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(type))
            .attr("__subclasses__")();
    bool alone = subclasses.empty();
    py::detail::with_instance_map(nullptr, [&](py::detail::instance_map& instances) {
        for (const auto& entry : instances) {
            if (PyObject_TypeCheck(reinterpret_cast<PyObject*>(entry.second), type)) alone = false;
        }
    });
    if (!type_check_passes(alone, type, nullptr, "tp_basicsize",
                           "cannot grow: the class has instances or subclasses already")) {
        return;
    }
    const std::size_t room = (info->type_size + alignof(void*) - 1) & ~(alignof(void*) - 1);
    type->tp_basicsize += static_cast<Py_ssize_t>(room);
}

// pybind11's deallocation of its instances, for every case but the common
// one: an instance holding its value inline, with no weak reference, no
// kept-alive objects and no registry entry, has nothing to release but its
// memory.
struct InlineDealloc {
    static inline destructor generic = nullptr;

    static void dealloc(PyObject* self) {
        auto* inst = reinterpret_cast<py::detail::instance*>(self);
        if (holds_inline(self) && !inst->simple_instance_registered && inst->weakrefs == nullptr &&
            !inst->has_patients) {
            PyTypeObject* type = Py_TYPE(self);
            type->tp_free(self);
            Py_DECREF(type);
            return;
        }
        generic(self);
    }
};

// Fills slot S of a new class before PyType_Ready, where pybind11 left it
// empty for the class to inherit `inherited` from its base. Nothing may call
// into Python here (the type is half made), so a failure is only returned,
// to be warned about once the class is bound.
template <class S>
bool fill_slot_before_ready(PyTypeObject* type, typename S::Function inherited,
                            typename S::Function replacement) {
    typename S::Function* at = S::in(type);
    if (*at != nullptr || type->tp_base == nullptr || slot<S>(type->tp_base) != inherited ||
        faked_failure(split_type_name(type).second + ":" + S::name)) {
        return false;
    }
    *at = replacement;
    return true;
}

// tp_dealloc of a new class of the module, before PyType_Ready.
inline bool set_inline_dealloc(PyTypeObject* type) {
    const destructor base =
        reinterpret_cast<PyTypeObject*>(py::detail::get_internals().instance_base)->tp_dealloc;
    if (!fill_slot_before_ready<TpDealloc>(type, base, &InlineDealloc::dealloc)) return false;
    InlineDealloc::generic = base;
    return true;
}

// CPython 3.12's property object, whose fields have no accessor in the C API.
struct PropertyLayout {
    PyObject_HEAD PyObject* prop_get;
    PyObject* prop_set;
    PyObject* prop_del;
    PyObject* prop_doc;
    PyObject* prop_name;
    int getter_doc;
};

// The getter a property calls now: property.__init__ may run again on it.
inline PyObject* property_getter(PyObject* property) {
    return reinterpret_cast<PropertyLayout*>(property)->prop_get;
}

// Whether `property` is a plain property laid out as PropertyLayout.
inline bool plain_property(PyObject* property) {
    if (!Py_IS_TYPE(property, &PyProperty_Type) ||
        PyProperty_Type.tp_basicsize != static_cast<Py_ssize_t>(sizeof(PropertyLayout))) {
        return false;
    }
    const py::handle p(property);
    const auto* layout = reinterpret_cast<const PropertyLayout*>(property);
    return p.attr("fget").ptr() == layout->prop_get && p.attr("fset").ptr() == layout->prop_set;
}

// The attribute `name` of `type` along its MRO, unbound (borrowed), or nullptr.
inline PyObject* class_attribute(PyTypeObject* type, PyObject* name) {
    return _PyType_Lookup(type, name);
}

// A tag CPython changes whenever the class or one of its bases is modified;
// 0 when none can be given. The function is new in 3.12: a weak reference
// lets the module load under older interpreters far enough to refuse them.
#pragma weak PyUnstable_Type_AssignVersionTag
inline unsigned int version_tag(PyTypeObject* type) {
    return PyUnstable_Type_AssignVersionTag(type) ? type->tp_version_tag : 0;
}

// CPython 3.12 also gives a class with buffer slots the methods __buffer__
// and __release_buffer__, wrappers of the functions the slots held when the
// class was made; Python subclasses take their slots from these wrappers.
template <class Slot>
void rewrap_slot(PyTypeObject* type, const char* name, Slot expected, Slot replacement) {
    PyObject* old = PyDict_GetItemString(type->tp_dict, name);
    auto* wrapper = reinterpret_cast<PyWrapperDescrObject*>(old);
    require(old != nullptr && Py_IS_TYPE(old, &PyWrapperDescr_Type) &&
                wrapper->d_wrapped == reinterpret_cast<void*>(expected),
            type, name);
    const py::object replaced = py::reinterpret_steal<py::object>(
        PyDescr_NewWrapper(type, wrapper->d_base, reinterpret_cast<void*>(replacement)));
    if (!replaced || PyDict_SetItemString(type->tp_dict, name, replaced.ptr()) < 0) {
        throw py::error_already_set();
    }
}

// The buffer of a class C over its own storage: items of T, the given
// extents, column-major strides (for one dimension also the C strides),
// writable. It answers each request as the buffer protocol requires, which
// pybind11's getbuffer does not: a request without strides means C order,
// and shape and strides are given only when asked for.
template <class C, class T, py::ssize_t... extents>
struct ExportedBuffer {
    static constexpr int ndim = sizeof...(extents);
    static constexpr py::ssize_t count = (extents * ...);
    static inline py::ssize_t shape[ndim] = {extents...};
    static inline py::ssize_t strides[ndim] = {};
    // Column-major storage is in C order too when at most one extent exceeds 1.
    static constexpr bool c_contiguous = ((extents > 1 ? 1 : 0) + ...) <= 1;

    static int get(PyObject* self, Py_buffer* view, int flags) {
        if (view == nullptr) {
            PyErr_SetString(PyExc_BufferError, "a buffer request needs a Py_buffer to fill");
            return -1;
        }
        view->obj = nullptr;
        C* value = held_value<C>(self);
        if (value == nullptr) {
            set_no_value_error(self);
            return -1;
        }
        const bool with_shape = (flags & PyBUF_ND) == PyBUF_ND;
        const bool with_strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES;
        const bool c_order =
            (flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS || (with_shape && !with_strides);
        if (c_order && !c_contiguous) {
            PyErr_Format(PyExc_BufferError, "%s exports column-major storage, not C order",
                         Py_TYPE(self)->tp_name);
            return -1;
        }
        Py_INCREF(self);
        view->obj = self;
        view->buf = value->data();
        view->len = count * static_cast<py::ssize_t>(sizeof(T));
        view->itemsize = sizeof(T);
        view->readonly = 0;
        view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT
                           ? const_cast<char*>(py::format_descriptor<T>::value)
                           : nullptr;
        view->ndim = with_shape ? ndim : 1;
        view->shape = with_shape ? shape : nullptr;
        view->strides = with_strides ? strides : nullptr;
        view->suboffsets = nullptr;
        view->internal = nullptr;
        return 0;
    }

    // Nothing is allocated for a request.
    static void release(PyObject*, Py_buffer*) {}

    // Replaces the buffer slots pybind11 gave the class for
    // py::buffer_protocol(), and their method wrappers.
    static void install(py::handle cls) {
        auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
        py::ssize_t step = sizeof(T);
        for (int d = 0; d < ndim; ++d) {
            strides[d] = step;
            step *= shape[d];
        }
        PyBufferProcs* procs = type->tp_as_buffer;
        require(procs != nullptr && procs->bf_getbuffer == &py::detail::pybind11_getbuffer, type,
                "bf_getbuffer");
        require(procs->bf_releasebuffer == &py::detail::pybind11_releasebuffer, type,
                "bf_releasebuffer");
        rewrap_slot(type, "__buffer__", &py::detail::pybind11_getbuffer, &get);
        rewrap_slot(type, "__release_buffer__", &py::detail::pybind11_releasebuffer, &release);
        procs->bf_getbuffer = &get;
        procs->bf_releasebuffer = &release;
        PyType_Modified(type);
    }
};

// CPython lets __class__ be assigned between any two classes of one layout,
// which every pybind11 class has; the value would then be read as another
// C++ type. A data descriptor on each class refuses the assignment; reading
// gives type(self), as object's own descriptor does.
inline PyObject* get_class(PyObject* self, void*) {
    Py_INCREF(Py_TYPE(self));
    return reinterpret_cast<PyObject*>(Py_TYPE(self));
}

inline int set_class(PyObject* self, PyObject*, void*) {
    PyErr_Format(PyExc_TypeError, "__class__ of %s objects cannot be changed",
                 Py_TYPE(self)->tp_name);
    return -1;
}

// For every class and enum of the module, once all are registered.
inline void refuse_class_assignment(const py::module_& m) {
    static PyGetSetDef getset = {"__class__", &get_class, &set_class, nullptr, nullptr};
    for (const auto item : py::reinterpret_borrow<py::dict>(PyModule_GetDict(m.ptr()))) {
        if (!PyType_Check(item.second.ptr())) continue;
        auto* type = reinterpret_cast<PyTypeObject*>(item.second.ptr());
        require(PyDict_GetItemString(type->tp_dict, "__class__") == nullptr, type, "__class__");
        const py::object descriptor =
            py::reinterpret_steal<py::object>(PyDescr_NewGetSet(type, &getset));
        if (!descriptor || PyDict_SetItemString(type->tp_dict, "__class__", descriptor.ptr()) < 0) {
            throw py::error_already_set();
        }
        PyType_Modified(type);
    }
}

}  // namespace internals

namespace pybind11::detail {

// Self<C> takes instances of C's class and its subclasses, and shows in
// signatures as C does.
template <class C>
struct type_caster<::internals::Self<C>> {
    PYBIND11_TYPE_CASTER(::internals::Self<C>, make_caster<C>::name);

    bool load(handle src, bool) {
        static PyTypeObject* const type = ::internals::type_info_of<C>()->type;
        if (!PyObject_TypeCheck(src.ptr(), type)) return false;
        value.object = src;
        return true;
    }
    static handle cast(const ::internals::Self<C>& src, return_value_policy, handle) {
        return src.object.inc_ref();
    }
};

}  // namespace pybind11::detail

namespace internals {

// The classes wrapping math value types, bound with py::class_.
template <class C>
using IsValueType = IsModuleClass<C>;

// The registered Python class of C, looked up once it exists.
template <class C>
PyTypeObject* registered_type() {
    static PyTypeObject* const type = type_info_of<C>()->type;
    return type;
}

// pybind11's generic loader also takes None (left to the reference cast to
// refuse), a module-local class of another extension that wraps the same C++
// type, and registered implicit conversions; only these need it besides the
// class and its subclasses. The module-local marker is looked up without the
// AttributeError a miss raises through pybind11's metaclass.
inline bool may_load_otherwise(PyObject* src, const TypeInfo* info) {
    // pybind11 keeps a (normally empty) list of direct conversions for every
    // registered type.
    if (src == Py_None || !info->implicit_conversions.empty() ||
        (info->direct_conversions != nullptr && !info->direct_conversions->empty())) {
        return true;
    }
    // Their immutable built-in types hold no module-local marker.
    if (PyTuple_CheckExact(src) || PyList_CheckExact(src)) return false;
    static PyObject* const key = PyUnicode_InternFromString(PYBIND11_MODULE_LOCAL_ID);
    return _PyType_Lookup(Py_TYPE(src), key) != nullptr ||
           _PyType_Lookup(Py_TYPE(Py_TYPE(src)), key) != nullptr;
}

}  // namespace internals

namespace internals {

// The classes and enums of the module, whose instances the value caster checks.
template <class C>
struct IsCheckedClass : IsRegistered<C> {};

// pybind11 allocates the value of an instance whose __init__ has not run
// when a method loads it; the caster refuses such instances first, and the
// memory is zeroed all the same, so that not one uninitialized byte can be read.
inline void* zeroed_value(std::size_t size) {
    void* p = ::operator new(size);
    std::memset(p, 0, size);
    return p;
}

// For every class and enum of the module, once all are registered.
inline void zero_lazy_values() {
    auto zero = [](auto tag) {
        using C = typename decltype(tag)::type;
        py::detail::get_type_info(typeid(C), true)->operator_new = &zeroed_value;
    };
    for_each_registered(zero);
}

}  // namespace internals

namespace pybind11::detail {

// Refuses an instance of the class that holds no value with the error that
// says so; with fast paths, also an object of another class with one type
// check, so that a refused overload costs almost nothing. Whatever else
// pybind11 accepts takes its path.
template <class C>
struct value_type_caster : type_caster_base<C> {
    bool load(handle src, bool convert) {
        static const ::internals::TypeInfo* const info = ::internals::type_info_of<C>();
        PyTypeObject* const type = Py_TYPE(src.ptr());
        if (type == info->type || PyType_IsSubtype(type, info->type)) {
            if (::internals::held_value<C>(src.ptr()) == nullptr) {
                ::internals::set_no_value_error(src.ptr());
                throw error_already_set();
            }
        } else if (ORVANE_FAST_PATHS && !::internals::may_load_otherwise(src.ptr(), info)) {
            return false;
        }
        return type_caster_base<C>::load(src, convert);
    }
};

template <class C>
struct type_caster<C, std::enable_if_t<::internals::IsCheckedClass<C>::value>>
    : value_type_caster<C> {};

}  // namespace pybind11::detail

namespace internals {

// pybind11's record of one overload of a bound function.
using FunctionRecord = py::detail::function_record;

// Whether o is an instance of a class bound with pybind11 (or derived from one).
inline bool of_bound_class(PyObject* o) { return py::detail::get_type_info(Py_TYPE(o)) != nullptr; }

// The function object pybind11 made behind a class attribute or module
// function (unwrapping instancemethod and staticmethod), or nullptr.
inline PyObject* bound_function(PyObject* attribute) {
    if (PyInstanceMethod_Check(attribute)) attribute = PyInstanceMethod_GET_FUNCTION(attribute);
    if (!Py_IS_TYPE(attribute, &PyCFunction_Type)) return nullptr;
    PyObject* self = PyCFunction_GET_SELF(attribute);
    if (self == nullptr || !PyCapsule_CheckExact(self) ||
        PyCapsule_GetName(self) != py::detail::get_function_record_capsule_name()) {
        return nullptr;
    }
    return attribute;
}

// The records of a function object pybind11 made, in overload order.
inline const FunctionRecord* first_record(PyObject* func) {
    return static_cast<const FunctionRecord*>(PyCapsule_GetPointer(
        PyCFunction_GET_SELF(func), py::detail::get_function_record_capsule_name()));
}

// A parameter as pybind11 matches a call to it.
struct ParameterFacts {
    const char* name = nullptr;         // none: positional only
    PyObject* default_value = nullptr;  // borrowed from the record
    bool accepts_none = true;
};

// What the overload walk needs of one overload's record.
struct OverloadFacts {
    const void* key = nullptr;  // the overload, as last_overload gives it
    Py_ssize_t arity = 0;       // parameters, all filled before a call
    Py_ssize_t positional = 0;  // of them, those a positional argument fills
    Py_ssize_t positional_only = 0;
    bool is_method = false;
    bool variadic = false;                   // *args or **kwargs
    bool convertible = true;                 // no py::arg().noconvert()
    const char* doc = nullptr;               // the docstring it was declared with
    std::vector<ParameterFacts> parameters;  // those with a record, from the first
};

struct FunctionFacts {
    PyTypeObject* constructs = nullptr;  // the class, for __init__
    std::vector<OverloadFacts> overloads;
};

// The facts of every overload of a function object pybind11 made, in order.
inline FunctionFacts function_facts(PyObject* func) {
    FunctionFacts facts;
    const FunctionRecord* first = first_record(func);
    if (first->is_constructor)
        facts.constructs = reinterpret_cast<PyTypeObject*>(first->scope.ptr());
    for (const FunctionRecord* rec = first; rec != nullptr; rec = rec->next) {
        OverloadFacts o;
        o.key = rec;
        o.arity = rec->nargs;
        o.positional = rec->nargs_pos;
        o.positional_only = rec->nargs_pos_only;
        o.is_method = rec->is_method;
        o.variadic = rec->has_args || rec->has_kwargs;
        o.convertible = std::all_of(rec->args.begin(), rec->args.end(),
                                    [](const auto& a) { return a.convert; });
        o.doc = rec->doc;
        for (const auto& a : rec->args) o.parameters.push_back({a.name, a.value.ptr(), a.none});
        facts.overloads.push_back(o);
    }
    return facts;
}

// Replaces the docstring of a function object pybind11 made, which pybind11
// allocates with strdup and frees when an overload is added.
inline void set_docstring(PyObject* func, const std::string& doc) {
    auto* f = reinterpret_cast<PyCFunctionObject*>(func);
    std::free(const_cast<char*>(f->m_ml->ml_doc));
    f->m_ml->ml_doc = strdup(doc.c_str());
}

// The overload just appended to a function object pybind11 made.
inline const void* last_overload(PyObject* func) {
    const FunctionRecord* last = first_record(func);
    while (last->next != nullptr) last = last->next;
    return last;
}

// Where a function lives and what it is called there, for warnings.
inline std::pair<std::string, std::string> function_subject(const FunctionRecord* rec) {
    // pybind11 leaves the accessors of a property unnamed.
    const std::string name = rec->name != nullptr && *rec->name != '\0' ? rec->name : "<accessor>";
    PyObject* scope = rec->scope.ptr();
    if (scope != nullptr && PyType_Check(scope)) {
        const auto [module, cls] = split_type_name(reinterpret_cast<PyTypeObject*>(scope));
        return {module, cls + "." + name};
    }
    const char* module =
        scope != nullptr && PyModule_Check(scope) ? PyModule_GetName(scope) : nullptr;
    if (module == nullptr) PyErr_Clear();
    return {module != nullptr ? module : "", name};
}

// A PyMethodDef followed by data of our own: the function object's method
// definition is replaced by a copy of it that also leads to its fast table.
struct FastMethodDef {
    PyMethodDef def;
    const void* table;
};

// Gives a function object pybind11 made a vectorcall entry with its table,
// where it is the object this was written against. Every overload must be
// bound before: later ones would update the method definition this replaces.
inline bool install_vectorcall(PyObject* func, const void* table, vectorcallfunc entry) {
    static const PyCFunction dispatcher = [] {
        const py::cpp_function probe([] {});
        return reinterpret_cast<PyCFunctionObject*>(probe.ptr())->m_ml->ml_meth;
    }();
    auto* f = reinterpret_cast<PyCFunctionObject*>(func);
    const FunctionRecord* rec = first_record(func);
    const auto [module, subject] = function_subject(rec);
    if (!check_passes(f->m_ml == rec->def && f->vectorcall == nullptr &&
                          f->m_ml->ml_flags == (METH_VARARGS | METH_KEYWORDS) &&
                          f->m_ml->ml_meth == dispatcher &&
                          PyCFunction_Type.tp_call != &PyVectorcall_Call,
                      module, subject, "vectorcall",
                      "cannot be given: not the function object pybind11 2.13.6 makes on "
                      "CPython 3.12")) {
        return false;
    }
    auto* def = new FastMethodDef{*f->m_ml, table};  // kept as long as the function
    f->m_ml = &def->def;
    f->vectorcall = entry;
    return true;
}

inline vectorcallfunc vectorcall_of(PyObject* func) {
    return reinterpret_cast<PyCFunctionObject*>(func)->vectorcall;
}

inline const void* fast_table_of(PyObject* func) {
    return reinterpret_cast<const FastMethodDef*>(reinterpret_cast<PyCFunctionObject*>(func)->m_ml)
        ->table;
}

// The call as CPython makes it without a vectorcall entry: pybind11's
// dispatcher with an argument tuple and a keyword dict.
inline PyObject* generic_call(PyObject* func, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
    const Py_ssize_t n = PyVectorcall_NARGS(nargsf);
    PyObject* tuple = PyTuple_New(n);
    if (tuple == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) PyTuple_SET_ITEM(tuple, i, Py_NewRef(args[i]));
    PyObject* kwargs = nullptr;
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        kwargs = _PyStack_AsDict(args + n, kwnames);
        if (kwargs == nullptr) {
            Py_DECREF(tuple);
            return nullptr;
        }
    }
    PyObject* result = PyCFunction_Type.tp_call(func, tuple, kwargs);
    Py_DECREF(tuple);
    Py_XDECREF(kwargs);
    return result;
}

}  // namespace internals

namespace internals {

// Called after a class of pybind11's metaclass is made or has an attribute
// set, deleted or patched: CPython then gives it (and its subclasses) its
// generic slots again, whatever __init_subclass__ did.
using ClassHook = void (*)(PyTypeObject*);

struct MetaclassHooks {
    static inline ClassHook hook = nullptr;
    static inline setattrofunc setattro = nullptr;
    static inline initproc init = nullptr;

    static int set(PyObject* type, PyObject* name, PyObject* value) {
        const int r = setattro(type, name, value);
        if (r == 0 && PyType_Check(type)) hook(reinterpret_cast<PyTypeObject*>(type));
        return r;
    }
    static int made(PyObject* type, PyObject* args, PyObject* kwargs) {
        const int r = init(type, args, kwargs);
        if (r == 0) hook(reinterpret_cast<PyTypeObject*>(type));
        return r;
    }
};

// Installs the hook on the metaclass of `cls`, pybind11's, once; whether it
// is there. Slots of our own rely on it (CPython resets them on every change
// of a class), so without it no class gets any.
inline bool hook_metaclass(PyTypeObject* cls, ClassHook hook) {
    static bool refused = false;
    PyTypeObject* meta = Py_TYPE(cls);
    if (refused) return false;
    if (MetaclassHooks::hook != nullptr) {
        refused = !type_check_passes(
            meta->tp_setattro == &MetaclassHooks::set && meta->tp_init == &MetaclassHooks::made,
            meta, nullptr, "tp_setattro",
            "is not the hook given to the other classes; no class gets operator slots");
        return !refused;
    }
    if (!type_check_passes(meta != &PyType_Type && meta->tp_setattro != nullptr &&
                               meta->tp_setattro != PyType_Type.tp_setattro &&
                               meta->tp_init == PyType_Type.tp_init,
                           meta, nullptr, "tp_setattro",
                           "is not pybind11's metaclass slot; no class gets operator slots")) {
        refused = true;
        return false;
    }
    MetaclassHooks::hook = hook;
    MetaclassHooks::setattro = meta->tp_setattro;
    MetaclassHooks::init = meta->tp_init;
    meta->tp_setattro = &MetaclassHooks::set;
    meta->tp_init = &MetaclassHooks::made;
    PyType_Modified(meta);
    return true;
}

}  // namespace internals
