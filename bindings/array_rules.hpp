#pragma once

// Array handling shared by every class: buffer requests with the format
// check, the shape rules, strided element reads and views on an object's
// own storage.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "scalar_traits.hpp"

namespace py = pybind11;

// Reads one T at a byte offset; buffers need not be aligned for T.
template <class T>
inline T load(const void* data, py::ssize_t byte_offset) {
    T value;
    std::memcpy(&value, static_cast<const char*>(data) + byte_offset, sizeof(T));
    return value;
}

// Requests the buffer read-only with strides and format (released when the
// returned info goes out of scope) and checks that its items are T.
template <class T>
inline py::buffer_info request_buffer(const py::buffer& b) {
    py::buffer_info info = b.request();
    if (info.format != py::format_descriptor<T>::format()) {
        throw std::runtime_error(ScalarTraits<T>::format_error);
    }
    return info;
}

// Copies the n elements of a buffer shaped (n,), (1, n) or (n, 1) into out,
// following the stride of the extent that holds them.
template <class T>
inline void read_column_shaped(const py::buffer& b, int n, T* out, const char* shape_error) {
    const py::buffer_info info = request_buffer<T>(b);
    py::ssize_t stride = 0;
    if (info.ndim == 1 && info.shape[0] == n) {
        stride = info.strides[0];
    } else if (info.ndim == 2 && info.shape[0] == 1 && info.shape[1] == n) {
        stride = info.strides[1];
    } else if (info.ndim == 2 && info.shape[0] == n && info.shape[1] == 1) {
        stride = info.strides[0];
    } else {
        throw std::runtime_error(shape_error);
    }
    for (int k = 0; k < n; ++k) out[k] = load<T>(info.ptr, k * stride);
}

// Square-buffer rule: a two-dimensional (n, n) buffer whose element [i][j]
// becomes row i, column j of the column-major `out`, read through the
// strides whatever the layout.
template <class T>
inline void read_square(const py::buffer& b, int n, T* out) {
    const py::buffer_info info = request_buffer<T>(b);
    const std::string pair = "(" + std::to_string(n) + ", " + std::to_string(n) + ")";
    if (info.ndim != 2) throw std::runtime_error("Incompatible shape: expected " + pair);
    if (info.shape[0] != n || info.shape[1] != n) {
        throw std::runtime_error("Incompatible size: expected " + pair);
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            out[i + n * j] = load<T>(info.ptr, i * info.strides[0] + j * info.strides[1]);
        }
    }
}

// Copies the n elements of an array holding exactly n. Contiguous arrays
// give their elements in memory order; any other layout is read in index
// order through its strides.
template <class T>
inline void copy_elements(const py::array_t<T, py::array::forcecast>& a, int n, T* out) {
    const auto flags = a.flags();
    if (flags & (py::array::c_style | py::array::f_style)) {
        std::memcpy(out, a.data(), sizeof(T) * static_cast<std::size_t>(n));
        return;
    }
    const py::ssize_t ndim = a.ndim();
    for (int k = 0; k < n; ++k) {
        py::ssize_t offset = 0;
        py::ssize_t rest = k;
        for (py::ssize_t d = ndim - 1; d >= 0; --d) {
            offset += (rest % a.shape(d)) * a.strides(d);
            rest /= a.shape(d);
        }
        out[k] = load<T>(a.data(), offset);
    }
}

// Element-count rule: the array must hold exactly n elements, whatever its
// shape.
template <class T>
inline void read_elements(const py::array_t<T, py::array::forcecast>& a, int n, T* out,
                          const std::string& count_error) {
    if (a.size() != n) throw std::runtime_error(count_error);
    copy_elements(a, n, out);
}

inline std::string element_count_error(int n) {
    return "Incompatible array size, expected " + std::to_string(n) + " elements";
}

// The Python object that already wraps `value` (the instance a method was
// called on), found in pybind11's registry of live instances.
template <class C>
inline py::object owner_of(C& value) {
    return py::cast(&value, py::return_value_policy::reference);
}

// A writable array over an object's storage that keeps the object alive.
template <class T, class C>
inline py::array_t<T> make_view(C& value, T* data, std::vector<py::ssize_t> shape,
                                std::vector<py::ssize_t> strides) {
    return py::array_t<T>(std::move(shape), std::move(strides), data, owner_of(value));
}
