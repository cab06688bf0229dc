#include "array_likes.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "registration.hpp"

namespace array_likes {

namespace {

std::string text_of(const py::handle& h) { return py::str(h); }

std::string shape_text(const py::array& a) { return text_of(a.attr("shape")); }

// What to call instead with many vectors at once.
std::string for_many(const Info& info) {
    if (!info.batch.empty()) return "for many, use orvane.arrays." + info.batch;
    return "orvane.arrays has no batch form of it: call it once per row";
}

[[noreturn]] void refuse(const Info& info, std::size_t k, const Describe& describe,
                         const std::string& what) {
    throw py::type_error(info.function + ": " + info.parameters[k] + " must be " +
                         describe.expected(info, k) + ", not " + what);
}

[[noreturn]] void wrong_size(const Info& info, std::size_t k, Py_ssize_t size, int n,
                             const Describe& describe) {
    throw py::value_error(info.function + ": " + info.parameters[k] + " has " +
                          std::to_string(size) + " numbers; it takes " + std::to_string(n) + " " +
                          describe.components());
}

// The n numbers of a float32 or float64 array in the machine's byte order,
// read in place.
template <class T>
void read_in_place(const py::array& a, int n, double* out) {
    const auto* data = static_cast<const char*>(a.data());
    const Py_ssize_t stride = a.strides(0);
    for (int i = 0; i < n; ++i) {
        T t;
        std::memcpy(&t, data + i * stride, sizeof t);  // the array may be unaligned
        out[i] = t;
    }
}

Hint read_array(const py::array& a, int n, double* out, const Info& info, std::size_t k,
                const Describe& describe, PyObject* o) {
    const py::dtype dtype = a.dtype();
    const char kind = dtype.kind();
    if (std::strchr("biuf", kind) == nullptr) {
        refuse(info, k, describe, type_name(o) + " of dtype " + text_of(dtype));
    }
    if (a.ndim() == 0) refuse(info, k, describe, "a 0-d array");
    if (a.ndim() > 1) {
        throw py::value_error(info.function + ": " + info.parameters[k] + " is an array of shape " +
                              shape_text(a) + ", and " + info.function + " takes one; " +
                              for_many(info));
    }
    if (a.shape(0) != n) wrong_size(info, k, a.shape(0), n, describe);
    const bool single = kind == 'f' && dtype.itemsize() == 4;
    const bool native = dtype.byteorder() != (PY_BIG_ENDIAN ? '<' : '>');
    if (native && single) {
        read_in_place<float>(a, n, out);
        return Hint::Float32Array;
    }
    if (native && kind == 'f' && dtype.itemsize() == 8) {
        read_in_place<double>(a, n, out);
        return Hint::OtherArray;
    }
    const auto doubles = py::array_t<double, py::array::forcecast>::ensure(a);
    if (!doubles) throw py::error_already_set();
    for (int i = 0; i < n; ++i) out[i] = doubles.at(i);
    return single ? Hint::Float32Array : Hint::OtherArray;
}

}  // namespace

std::vector<std::string> parameter_names(const py::module_& m, const char* name) {
    PyObject* func = internals::bound_function(m.attr(name).ptr());
    if (func == nullptr) throw std::logic_error("array_likes: no bound function to follow");
    const internals::FunctionFacts facts = internals::function_facts(func);
    std::vector<std::string> names;
    for (const internals::ParameterFacts& p : facts.overloads[0].parameters) {
        names.emplace_back(p.name != nullptr ? p.name : "");
    }
    return names;
}

std::string a_or_an(const std::string& name) {
    return (std::strchr("AEIOU", name.empty() ? 'x' : name[0]) != nullptr ? "an " : "a ") + name;
}

std::string type_name(PyObject* o) {
    return text_of(py::handle(reinterpret_cast<PyObject*>(Py_TYPE(o))).attr("__name__"));
}

bool single_precision(const py::object& dtype, const std::string& function) {
    const std::string lead = function.empty() ? "" : function + ": ";
    const auto refuse_dtype = [&] {
        return py::type_error(lead + "dtype must be float32 or float64, not " +
                              py::repr(dtype).cast<std::string>());
    };
    py::dtype resolved;
    try {
        resolved = py::dtype::from_args(dtype);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        throw refuse_dtype();
    }
    if (resolved.equal(py::dtype::of<float>())) return true;
    if (resolved.equal(py::dtype::of<double>())) return false;
    throw refuse_dtype();
}

bool decide(const Info& info, const Hint* hints, PyObject* const* arguments, std::size_t n,
            const py::object& dtype) {
    std::ptrdiff_t single = -1;
    std::ptrdiff_t twice = -1;
    bool float32 = false;
    bool other = false;
    for (std::size_t k = 0; k < n; ++k) {
        if (hints[k] == Hint::FloatObject && single < 0) single = static_cast<std::ptrdiff_t>(k);
        if (hints[k] == Hint::DoubleObject && twice < 0) twice = static_cast<std::ptrdiff_t>(k);
        float32 = float32 || hints[k] == Hint::Float32Array;
        other = other || hints[k] == Hint::OtherArray;
    }
    const auto type_of = [&](std::ptrdiff_t k) { return type_name(arguments[k]); };
    if (single >= 0 && twice >= 0) {
        const std::ptrdiff_t a = std::min(single, twice);
        const std::ptrdiff_t b = std::max(single, twice);
        throw py::type_error(info.function + ": " + info.parameters[a] + " is " +
                             a_or_an(type_of(a)) + " and " + info.parameters[b] + " " +
                             a_or_an(type_of(b)) +
                             "; precisions do not mix: convert one with orvane.to_float or "
                             "orvane.to_double");
    }
    if (!dtype.is_none()) {
        const bool wanted = single_precision(dtype, info.function);
        const std::ptrdiff_t clash = wanted ? twice : single;
        if (clash >= 0) {
            throw py::type_error(info.function + ": dtype " + (wanted ? "float32" : "float64") +
                                 " does not match " + info.parameters[clash] + ", " +
                                 a_or_an(type_of(clash)));
        }
        return wanted;
    }
    if (single >= 0 || twice >= 0) return single >= 0;
    return float32 && !other;
}

Hint read_numbers(PyObject* o, int n, double* out, const Info& info, std::size_t k,
                  const Describe& describe) {
    if (PyTuple_Check(o) || PyList_Check(o)) {
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(o);
        PyObject** items = PySequence_Fast_ITEMS(o);
        const bool nested = size > 0 && (PyTuple_Check(items[0]) || PyList_Check(items[0]) ||
                                         py::isinstance<py::array>(items[0]));
        if (!nested) {
            if (size != n) wrong_size(info, k, size, n, describe);
            for (int i = 0; i < n; ++i) {
                PyObject* item = items[i];
                if (PyFloat_CheckExact(item)) {
                    out[i] = PyFloat_AS_DOUBLE(item);
                    continue;
                }
                if (PyUnicode_Check(item) || PyBytes_Check(item) || item == Py_None) {
                    refuse(info, k, describe, "a sequence holding " + type_name(item));
                }
                out[i] = PyFloat_AsDouble(item);
                if (out[i] == -1.0 && PyErr_Occurred()) {
                    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
                    PyErr_Clear();
                    refuse(info, k, describe, "a sequence holding " + type_name(item));
                }
            }
            return Hint::Numbers;
        }
    }
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None || PyFloat_Check(o) ||
        PyLong_Check(o) || PyDict_Check(o) || PyAnySet_Check(o) || internals::of_bound_class(o)) {
        refuse(info, k, describe, type_name(o));
    }
    if (py::isinstance<py::array>(o)) {
        return read_array(py::reinterpret_borrow<py::array>(o), n, out, info, k, describe, o);
    }
    // A buffer or anything else NumPy reads as an array.
    const py::array read = py::array::ensure(o);
    if (!read) refuse(info, k, describe, type_name(o));
    return read_array(read, n, out, info, k, describe, o);
}

int size_of(PyObject* o) {
    if (PyTuple_Check(o) || PyList_Check(o)) {
        return static_cast<int>(std::min<Py_ssize_t>(PySequence_Fast_GET_SIZE(o), 1 << 20));
    }
    int size = 0;
    for_each_of<math::Vector2, math::Vector3, math::Vector4>([&](auto tag) {
        using V = typename decltype(tag)::type;
        if (PyObject_TypeCheck(o, internals::registered_type<V>())) size = ClassTraits<V>::size;
    });
    if (size != 0 || internals::of_bound_class(o)) return size;
    // An array, a buffer or anything else NumPy reads as one.
    const py::array a =
        py::isinstance<py::array>(o) ? py::reinterpret_borrow<py::array>(o) : py::array::ensure(o);
    if (!a || a.ndim() == 0) return 0;
    return static_cast<int>(std::min<Py_ssize_t>(a.shape(a.ndim() - 1), 1 << 20));
}

}  // namespace array_likes
