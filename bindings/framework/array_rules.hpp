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

#include "class_traits.hpp"
#include "internals.hpp"
#include "scalar_traits.hpp"

namespace py = pybind11;

// Reads one T at a byte offset; buffers need not be aligned for T.
template <class T>
inline T load(const void* data, py::ssize_t byte_offset) {
    T value;
    std::memcpy(&value, static_cast<const char*>(data) + byte_offset, sizeof(T));
    return value;
}

// A buffer requested read-only with strides and format, released when this
// goes out of scope. It reads the exporter's Py_buffer in place, where a
// py::buffer_info would copy shape, strides and format to the heap first.
template <class T>
class RequestedBuffer {
public:
    // Checks that the items are T.
    explicit RequestedBuffer(const py::buffer& b) {
        if (PyObject_GetBuffer(b.ptr(), &view_, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
            throw py::error_already_set();
        }
        // A missing format means unsigned bytes.
        const char* format = view_.format != nullptr ? view_.format : "B";
        if (std::strcmp(format, py::format_descriptor<T>::value) != 0) {
            PyBuffer_Release(&view_);
            throw std::runtime_error(ScalarTraits<T>::format_error);
        }
    }
    ~RequestedBuffer() { PyBuffer_Release(&view_); }
    RequestedBuffer(const RequestedBuffer&) = delete;
    RequestedBuffer& operator=(const RequestedBuffer&) = delete;

    const void* data() const { return view_.buf; }
    int ndim() const { return view_.ndim; }
    py::ssize_t shape(int d) const { return view_.shape[d]; }
    // Exporters give strides when asked for them; C order otherwise.
    py::ssize_t stride(int d) const {
        if (view_.strides != nullptr) return view_.strides[d];
        py::ssize_t step = view_.itemsize;
        for (int k = d + 1; k < view_.ndim; ++k) step *= view_.shape[k];
        return step;
    }

private:
    Py_buffer view_{};
};

// Copies the n elements of a buffer shaped (n,), (1, n) or (n, 1) into out,
// following the stride of the extent that holds them.
template <class T>
inline void read_column_shaped(const py::buffer& b, int n, T* out, const char* shape_error) {
    const RequestedBuffer<T> buffer(b);
    py::ssize_t stride = 0;
    if (buffer.ndim() == 1 && buffer.shape(0) == n) {
        stride = buffer.stride(0);
    } else if (buffer.ndim() == 2 && buffer.shape(0) == 1 && buffer.shape(1) == n) {
        stride = buffer.stride(1);
    } else if (buffer.ndim() == 2 && buffer.shape(0) == n && buffer.shape(1) == 1) {
        stride = buffer.stride(0);
    } else {
        throw std::runtime_error(shape_error);
    }
    for (int k = 0; k < n; ++k) out[k] = load<T>(buffer.data(), k * stride);
}

// Element [i][j] of an (n, n) block with the given byte strides becomes
// row i, column j of the column-major out; following the strides makes C,
// Fortran and any strided layout give the same matrix.
template <class T>
inline void load_square(const void* data, py::ssize_t row_stride, py::ssize_t column_stride, int n,
                        T* out) {
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            out[i + n * j] = load<T>(data, i * row_stride + j * column_stride);
        }
    }
}

// Square-buffer rule: the buffer must be two-dimensional and (n, n).
template <class T>
inline void read_square(const py::buffer& b, int n, T* out) {
    const RequestedBuffer<T> buffer(b);
    if (buffer.ndim() != 2 || buffer.shape(0) != n || buffer.shape(1) != n) {
        const std::string pair = "(" + std::to_string(n) + ", " + std::to_string(n) + ")";
        const char* problem = buffer.ndim() != 2 ? "shape" : "size";
        throw std::runtime_error(std::string("Incompatible ") + problem + ": expected " + pair);
    }
    load_square(buffer.data(), buffer.stride(0), buffer.stride(1), n, out);
}

// Copies the n elements of an array holding exactly n, row by row (last
// index fastest) whatever the layout: a converting copy keeps the layout of
// its source, so memory order would depend on the dtype.
template <class T>
inline void copy_elements(const py::array_t<T, py::array::forcecast>& a, int n, T* out) {
    if (a.flags() & py::array::c_style) {
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
// shape. The message is only built when the count is wrong.
template <class T, class Message>
inline void read_elements(const py::array_t<T, py::array::forcecast>& a, int n, T* out,
                          Message count_error) {
    if (a.size() != n) throw std::runtime_error(count_error());
    copy_elements(a, n, out);
}

inline std::string element_count_error(int n) {
    return "Incompatible array size, expected " + std::to_string(n) + " elements";
}

// Square-array rule: the array must be two-dimensional and (n, n).
template <class T>
inline void read_square_array(const py::array_t<T, py::array::forcecast>& a, int n, T* out) {
    if (a.ndim() != 2) {
        throw std::runtime_error(
            "nparray_to_matrix: incompatible array dimensions. It requires an (n, n) array, so "
            "two dimensions are required");
    }
    if (a.shape(0) != n || a.shape(1) != n) {
        throw std::runtime_error(
            "nparray_to_matrix: incompatible array size. It expects a (n, n) matrix of size 'n'");
    }
    load_square(a.data(), a.strides(0), a.strides(1), n, out);
}

// The readers of the module's arguments, one per kind of input, with the
// messages of each callable's rules as parameters.

// The messages of the rules of one kind of n-component input (a vector, a
// quaternion, a matrix column): a buffer shaped other than (n,), (1, n) and
// (n, 1); an array of another element count, built only when it is wrong.
struct ComponentRules {
    const char* shape_error;
    std::string (*count_error)(int n, py::ssize_t count);
};

// A value of n components from a buffer, under the column-shaped rule.
template <class C, class T = typename ClassTraits<C>::Scalar>
C read_components(const py::buffer& b, const ComponentRules& rules) {
    C value;
    read_column_shaped<T>(b, ClassTraits<C>::size, value.data(), rules.shape_error);
    return value;
}

// A value of n components from a converted array, under the element-count rule.
template <class C, class T>
C read_components(const py::array_t<T, py::array::forcecast>& a, const ComponentRules& rules) {
    constexpr int n = ClassTraits<C>::size;
    C value;
    read_elements<T>(a, n, value.data(), [&] { return rules.count_error(n, a.size()); });
    return value;
}

// A matrix of order n from a buffer, under the square-buffer rule.
template <class M, class T = typename ClassTraits<M>::Scalar>
M read_matrix(const py::buffer& b) {
    M value;
    read_square<T>(b, ClassTraits<M>::size, value.data());
    return value;
}

// A matrix of order n from a converted array, under the square-array rule.
template <class M, class T>
M read_matrix(const py::array_t<T, py::array::forcecast>& a) {
    M value;
    read_square_array<T>(a, ClassTraits<M>::size, value.data());
    return value;
}

// A new array owning a copy of `count` contiguous elements laid out by the
// given strides. Letting NumPy allocate and copying into it makes one array;
// passing the pointer without a base would make a wrapper and then its copy.
template <class T>
inline py::array_t<T> fresh_array(std::vector<py::ssize_t> shape, std::vector<py::ssize_t> strides,
                                  const T* data, std::size_t count) {
    py::array_t<T> a(std::move(shape), std::move(strides));
    std::memcpy(a.mutable_data(), data, sizeof(T) * count);
    return a;
}

// A writable array over the storage of the object a method was called on,
// with that object as its base, so that it lives as long as the array.
template <class T, class C>
inline py::array_t<T> make_view(const internals::Self<C>& self, std::vector<py::ssize_t> shape,
                                std::vector<py::ssize_t> strides) {
    return py::array_t<T>(std::move(shape), std::move(strides), self.value().data(), self.object);
}
