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
[[noreturn]] inline void refuse_slot(PyTypeObject* type, const char* what) {
    throw std::runtime_error(std::string("orvane_bindings: ") + type->tp_name + "." + what +
                             " is not what pybind11 2.13.6 and CPython 3.12 put there; "
                             "refusing to replace it");
}

template <class Slot>
void expect_slot(PyTypeObject* type, Slot held, Slot expected, const char* what) {
    if (held != expected) refuse_slot(type, what);
}

// CPython 3.12 also gives a class with buffer slots the methods __buffer__
// and __release_buffer__, wrappers of the functions the slots held when the
// class was made; Python subclasses take their slots from these wrappers.
template <class Slot>
void rewrap_slot(PyTypeObject* type, const char* name, Slot expected, Slot replacement) {
    PyObject* old = PyDict_GetItemString(type->tp_dict, name);
    auto* wrapper = reinterpret_cast<PyWrapperDescrObject*>(old);
    if (old == nullptr || !Py_IS_TYPE(old, &PyWrapperDescr_Type) ||
        wrapper->d_wrapped != reinterpret_cast<void*>(expected)) {
        refuse_slot(type, name);
    }
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
        const bool c_order = (flags & PyBUF_C_CONTIGUOUS) == PyBUF_C_CONTIGUOUS ||
                             (with_shape && !with_strides);
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
        if (procs == nullptr) throw std::runtime_error("orvane_bindings: no buffer slots");
        expect_slot(type, procs->bf_getbuffer, &py::detail::pybind11_getbuffer, "bf_getbuffer");
        expect_slot(type, procs->bf_releasebuffer, &py::detail::pybind11_releasebuffer,
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
        if (PyDict_GetItemString(type->tp_dict, "__class__") != nullptr) {
            refuse_slot(type, "__class__");
        }
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
