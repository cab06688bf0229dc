#pragma once

// Every use of pybind11's internals (py::detail beyond the documented API)
// and of what pybind11 and CPython put into type slots. Their layout and
// behaviour were checked against exactly these versions; any other fails the
// build here rather than misbehave at run time.

#include <pybind11/operators.h>
#include <pybind11/pybind11.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>

static_assert(PYBIND11_VERSION_HEX == 0x020D0600,
              "bindings/internals.hpp was checked against pybind11 2.13.6 only");
static_assert(PY_VERSION_HEX >= 0x030C0000 && PY_VERSION_HEX < 0x030D0000,
              "bindings/internals.hpp was checked against CPython 3.12 only");

namespace internals {

namespace py = pybind11;

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
// does not own (a property object) has no holder either, but is not owner.
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

// A new instance of the registered class of V owning the value, made as
// pybind11 makes the results of bound functions.
template <class V>
PyObject* new_instance(V&& value, const TypeInfo* info) {
    using D = std::decay_t<V>;
    auto copy = [](const void* p) -> void* { return new D(*static_cast<const D*>(p)); };
    auto move = [](const void* p) -> void* {
        return new D(std::move(*const_cast<D*>(static_cast<const D*>(p))));
    };
    return py::detail::type_caster_generic::cast(&value, py::return_value_policy::move, nullptr,
                                                 info, copy, move)
        .ptr();
}

// Sets the Python error pybind11 would set for the exception being handled.
inline void set_error_from_current_exception() {
    py::detail::translate_exception(std::current_exception());
}

// The function pybind11 binds for `py::self <op> py::self` of class C.
using py::detail::op_id;
inline constexpr op_id op_add = py::detail::op_add;
inline constexpr op_id op_sub = py::detail::op_sub;
inline constexpr op_id op_mul = py::detail::op_mul;
template <op_id id, class C>
constexpr auto same_class_operator = &py::detail::op_impl<id, py::detail::op_l, C, C, C>::execute;

// The number slots CPython gives a class whose operators are Python methods,
// as pybind11's operators and methods are: those of a plain Python class.
inline const PyNumberMethods& method_number_slots() {
    static const PyTypeObject* const reference = [] {
        PyObject* type = PyObject_CallFunction(
            reinterpret_cast<PyObject*>(&PyType_Type), "s(){}", "operators");
        if (type == nullptr) throw py::error_already_set();
        for (const char* name : {"__add__", "__sub__", "__mul__", "__neg__"}) {
            if (PyObject_SetAttrString(type, name, Py_None) < 0) throw py::error_already_set();
        }
        return reinterpret_cast<PyTypeObject*>(type);  // kept, like the module's types
    }();
    return *reference->tp_as_number;
}

// Replacing a slot is only sound over the one it was written against.
template <class Slot>
void expect_slot(PyTypeObject* type, Slot held, Slot expected, const char* what) {
    if (held != expected) {
        throw std::runtime_error(std::string("orvane_bindings: the ") + what + " slot of " +
                                 type->tp_name +
                                 " is not the one pybind11 2.13.6 and CPython 3.12 set; "
                                 "refusing to replace it");
    }
}

}  // namespace internals
