#pragma once

// The one inner loop of every batch operation. Per element it gathers the
// core operands from strided memory into the library's value types, calls
// the per-element function (the very template the per-object method calls)
// and scatters the result, so a batch result equals the per-object result
// bit for bit. It never touches Python, so NumPy runs it without the
// interpreter lock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "elementwise.hpp"
#include "math/matrix.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"

namespace gufunc {

// NumPy's npy_intp.
using Index = std::ptrdiff_t;

// How a value lies in memory: its scalar, its number of core dimensions
// (each with a stride, in NumPy's order), its core strides when packed in C
// order, and its strided read and write.
template <class V>
struct Layout;

template <class T>
struct ScalarLayout {
    using Scalar = T;
    static constexpr int dims = 0;
    static constexpr std::array<Index, 0> packed{};
    static T read(const char* p, const Index*) { return *reinterpret_cast<const T*>(p); }
    static void write(T v, char* p, const Index*) { *reinterpret_cast<T*>(p) = v; }
};

template <>
struct Layout<float> : ScalarLayout<float> {};
template <>
struct Layout<double> : ScalarLayout<double> {};
template <>
struct Layout<std::int8_t> : ScalarLayout<std::int8_t> {};

// Vectors and quaternions: one core dimension, components in index order
// (x, y, z[, w] and w, x, y, z).
template <class V, class T, int n>
struct RowLayout {
    using Scalar = T;
    static constexpr int dims = 1;
    static constexpr std::array<Index, 1> packed{sizeof(T)};
    static V read(const char* p, const Index* s) {
        V v;
        for (int k = 0; k < n; ++k) v[k] = *reinterpret_cast<const T*>(p + k * s[0]);
        return v;
    }
    static void write(const V& v, char* p, const Index* s) {
        for (int k = 0; k < n; ++k) *reinterpret_cast<T*>(p + k * s[0]) = v[k];
    }
};

template <class T>
struct Layout<math::Vector2<T>> : RowLayout<math::Vector2<T>, T, 2> {};
template <class T>
struct Layout<math::Vector3<T>> : RowLayout<math::Vector3<T>, T, 3> {};
template <class T>
struct Layout<math::Vector4<T>> : RowLayout<math::Vector4<T>, T, 4> {};
template <class T>
struct Layout<math::Quaternion<T>> : RowLayout<math::Quaternion<T>, T, 4> {};

// Matrices: core dimensions (row, column), whatever the storage order of
// the value type (column-major).
template <class M>
struct MatrixLayout {
    using Scalar = typename M::Scalar;
    using T = Scalar;
    static constexpr int n = M::order;
    static constexpr int dims = 2;
    static constexpr std::array<Index, 2> packed{n * sizeof(T), sizeof(T)};
    static M read(const char* p, const Index* s) {
        M m;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                m(i, j) = *reinterpret_cast<const T*>(p + i * s[0] + j * s[1]);
            }
        }
        return m;
    }
    static void write(const M& m, char* p, const Index* s) {
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) *reinterpret_cast<T*>(p + i * s[0] + j * s[1]) = m(i, j);
        }
    }
};

template <class T>
struct Layout<elementwise::PlaneRows<T>> {
    using Scalar = T;
    static constexpr int dims = 2;
    static constexpr std::array<Index, 2> packed{4 * sizeof(T), sizeof(T)};
    static elementwise::PlaneRows<T> read(const char* p, const Index* s) {
        elementwise::PlaneRows<T> planes;
        for (int i = 0; i < 6; ++i) {
            for (int j = 0; j < 4; ++j) {
                planes.rows[i][j] = *reinterpret_cast<const T*>(p + i * s[0] + j * s[1]);
            }
        }
        return planes;
    }
};

template <class T>
struct Layout<math::Matrix2<T>> : MatrixLayout<math::Matrix2<T>> {};
template <class T>
struct Layout<math::Matrix3<T>> : MatrixLayout<math::Matrix3<T>> {};
template <class T>
struct Layout<math::Matrix4<T>> : MatrixLayout<math::Matrix4<T>> {};

// A per-element function returns one output, or a tuple of several.
template <class R>
struct Outputs {
    using Tuple = std::tuple<R>;
    static Tuple of(R r) { return Tuple(std::move(r)); }
};
template <class... R>
struct Outputs<std::tuple<R...>> {
    using Tuple = std::tuple<R...>;
    static Tuple of(Tuple r) { return r; }
};

template <auto F>
struct Loop;

template <class R, class... A, R (*F)(A...)>
struct Loop<F> {
    using In = std::tuple<std::decay_t<A>...>;
    using Out = typename Outputs<R>::Tuple;
    using Scalar = typename Layout<std::tuple_element_t<0, In>>::Scalar;
    static constexpr int nin = sizeof...(A);
    static constexpr int nout = std::tuple_size_v<Out>;
    static constexpr int nargs = nin + nout;

    // Where each operand's core strides start among NumPy's core strides.
    template <class Tuple, std::size_t... k>
    static constexpr auto firstCoreStrides(std::index_sequence<k...>) {
        std::array<int, sizeof...(k) + 1> first{};
        const int dims[] = {0, Layout<std::tuple_element_t<k, Tuple>>::dims...};
        for (std::size_t j = 1; j <= sizeof...(k); ++j) first[j] = first[j - 1] + dims[j];
        return first;
    }
    static constexpr auto inFirst = firstCoreStrides<In>(std::make_index_sequence<nin>());
    static constexpr auto outFirst = firstCoreStrides<Out>(std::make_index_sequence<nout>());

    template <std::size_t... i, std::size_t... o>
    static void element(char* const* p, const Index* core, std::index_sequence<i...>,
                        std::index_sequence<o...>) {
        const Out r = Outputs<R>::of(
            F(Layout<std::tuple_element_t<i, In>>::read(p[i], core + inFirst[i])...));
        const Index* outCore = core + inFirst[nin];
        (Layout<std::tuple_element_t<o, Out>>::write(std::get<o>(r), p[nin + o],
                                                     outCore + outFirst[o]),
         ...);
    }

    // Every operand's core strides when all are packed, in NumPy's order.
    template <std::size_t... i, std::size_t... o>
    static constexpr auto packedCoreStrides(std::index_sequence<i...>, std::index_sequence<o...>) {
        std::array<Index, inFirst[nin] + outFirst[nout]> all{};
        std::size_t at = 0;
        auto append = [&](const auto& packed) {
            for (Index s : packed) all[at++] = s;
        };
        (append(Layout<std::tuple_element_t<i, In>>::packed), ...);
        (append(Layout<std::tuple_element_t<o, Out>>::packed), ...);
        return all;
    }
    static constexpr auto packed =
        packedCoreStrides(std::make_index_sequence<nin>(), std::make_index_sequence<nout>());

    template <bool isPacked>
    static void loop(char** args, const Index* dimensions, const Index* steps) {
        char* p[nargs];
        for (int k = 0; k < nargs; ++k) p[k] = args[k];
        // Constant strides let the compiler fold the gathers into plain loads.
        const Index* core = isPacked ? packed.data() : steps + nargs;
        for (Index e = 0; e < dimensions[0]; ++e) {
            element(p, core, std::make_index_sequence<nin>(), std::make_index_sequence<nout>());
            for (int k = 0; k < nargs; ++k) p[k] += steps[k];
        }
    }

    // NumPy's generic loop signature: dimensions[0] is the outer count,
    // steps[0..nargs) the outer strides, then every operand's core strides.
    static void run(char** args, const Index* dimensions, const Index* steps, void*) {
        const Index* core = steps + nargs;
        bool isPacked = true;
        for (std::size_t k = 0; k < packed.size(); ++k) isPacked = isPacked && core[k] == packed[k];
        if (isPacked) {
            loop<true>(args, dimensions, steps);
        } else {
            loop<false>(args, dimensions, steps);
        }
    }
};

}  // namespace gufunc
