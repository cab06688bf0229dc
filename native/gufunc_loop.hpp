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

#include "class_kinds.hpp"
#include "elementwise.hpp"
#include "math/matrix.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"
#include "thread_pool.hpp"

namespace gufunc {

// NumPy's npy_intp.
using Index = std::ptrdiff_t;

// How a value lies in memory: its scalar, its core shape (NumPy's core
// dimensions, each with a stride), its core strides when packed in C order,
// and its strided read and write. Classes take theirs from the class table.
template <class V, class = void>
struct Layout;

template <class T, int... shape>
struct Shaped {
    using Scalar = T;
    static constexpr int dims = sizeof...(shape);
    static constexpr std::array<int, dims> core{shape...};
    static constexpr int count = (1 * ... * shape);
    static constexpr std::array<Index, dims> packed_strides() {
        std::array<Index, dims> s{};
        Index step = sizeof(T);
        for (int d = dims - 1; d >= 0; --d) {
            s[d] = step;
            step *= core[d];
        }
        return s;
    }
    static constexpr std::array<Index, dims> packed = packed_strides();
};

template <class T>
struct ScalarLayout : Shaped<T> {
    static T read(const char* p, const Index*) { return *reinterpret_cast<const T*>(p); }
    static void write(T v, char* p, const Index*) { *reinterpret_cast<T*>(p) = v; }
};

template <>
struct Layout<float> : ScalarLayout<float> {};
template <>
struct Layout<double> : ScalarLayout<double> {};
template <>
struct Layout<std::int8_t> : ScalarLayout<std::int8_t> {};
template <>
struct Layout<bool> : ScalarLayout<bool> {};

// Vectors and quaternions: one core dimension, components in index order
// (x, y, z[, w] and w, x, y, z).
template <class V>
struct Layout<V, std::enable_if_t<IsComponentClass<V>::value>>
    : Shaped<typename ClassTraits<V>::Scalar, ClassTraits<V>::size> {
    using T = typename ClassTraits<V>::Scalar;
    static constexpr int n = ClassTraits<V>::size;
    static V read(const char* p, const Index* s) {
        V v;
        for (int k = 0; k < n; ++k) v[k] = *reinterpret_cast<const T*>(p + k * s[0]);
        return v;
    }
    static void write(const V& v, char* p, const Index* s) {
        for (int k = 0; k < n; ++k) *reinterpret_cast<T*>(p + k * s[0]) = v[k];
    }
};

// Matrices: core dimensions (row, column), whatever the storage order of
// the value type (column-major).
template <class M>
struct Layout<M, std::enable_if_t<IsMatrix<M>::value>>
    : Shaped<typename ClassTraits<M>::Scalar, ClassTraits<M>::size, ClassTraits<M>::size> {
    using T = typename ClassTraits<M>::Scalar;
    static constexpr int n = ClassTraits<M>::size;
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
struct Layout<elementwise::PlaneRows<T>> : Shaped<T, 6, 4> {
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

// A layout covers every scalar of its value type and no more, so the loop
// reads and writes inside the core dimensions NumPy checked.
template <class V>
constexpr bool covers_value() {
    using L = Layout<V>;
    return sizeof(V) == L::count * sizeof(typename L::Scalar) && std::is_standard_layout_v<V>;
}

// A NumPy core signature such as "(3),(4),(6,4)->(3)", made at compile time.
struct Signature {
    char text[64]{};
    int size = 0;

    constexpr void add(char c) { text[size++] = c; }
    constexpr void add_number(int value) {
        char digits[12]{};
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count > 0) add(digits[--count]);
    }
    template <class V>
    constexpr void add_operand() {
        add('(');
        for (int d = 0; d < Layout<V>::dims; ++d) {
            if (d > 0) add(',');
            add_number(Layout<V>::core[d]);
        }
        add(')');
    }
    constexpr bool operator==(const Signature& other) const {
        if (size != other.size) return false;
        for (int k = 0; k < size; ++k) {
            if (text[k] != other.text[k]) return false;
        }
        return true;
    }
};

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

// Below this many operand bytes per thread a batch stays on one thread.
// Measured on 2 cores: a worker that joins costs 5 to 10 us (the caller's
// median overhead is 0.15 us, as late workers find the work taken), and a
// thread's share must be worth a few of those. The cheapest loops per byte
// (quat_conjugate, quat_to_xyzw: about 64 KiB per us) reach that at about
// 512 KiB; costlier ones (quat_to_matrix about 7 KiB per us, quat_to_euler
// below 1 KiB per us) earlier, so they only ever start late, never lose.
constexpr Index kMinBytesPerThread = 512 * 1024;

// The outer dimension of count elements across the pool: each chunk runs
// chunk(pointers, n) from offset pointers.
template <int nargs, class Chunk>
void split(char** args, Index count, const Index* steps, Index min_per_thread, const Chunk& chunk) {
    pool::parallel_for(count, min_per_thread, [&](Index begin, Index end) {
        char* at[nargs];
        for (int k = 0; k < nargs; ++k) at[k] = args[k] + begin * steps[k];
        chunk(at, end - begin);
    });
}

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

    template <class Tuple, std::size_t... k>
    static constexpr bool all_covered(std::index_sequence<k...>) {
        return (covers_value<std::tuple_element_t<k, Tuple>>() && ...);
    }
    static_assert(all_covered<In>(std::make_index_sequence<nin>()) &&
                      all_covered<Out>(std::make_index_sequence<nout>()),
                  "a layout must cover exactly the scalars of its value type");

    // The core signature, from the layouts of the parameters and results.
    template <class Tuple, std::size_t... k>
    static constexpr void add_operands(Signature& s, std::index_sequence<k...>) {
        int at = 0;
        ((at++ > 0 ? s.add(',') : void(), s.add_operand<std::tuple_element_t<k, Tuple>>()), ...);
    }
    static constexpr Signature make_signature() {
        Signature s;
        add_operands<In>(s, std::make_index_sequence<nin>());
        s.add('-');
        s.add('>');
        add_operands<Out>(s, std::make_index_sequence<nout>());
        return s;
    }
    static constexpr Signature signature = make_signature();

    // Where each operand's core strides start among NumPy's core strides.
    template <class Tuple, std::size_t... k>
    static constexpr auto first_core_strides(std::index_sequence<k...>) {
        std::array<int, sizeof...(k) + 1> first{};
        const int dims[] = {0, Layout<std::tuple_element_t<k, Tuple>>::dims...};
        for (std::size_t j = 1; j <= sizeof...(k); ++j) first[j] = first[j - 1] + dims[j];
        return first;
    }
    static constexpr auto in_first = first_core_strides<In>(std::make_index_sequence<nin>());
    static constexpr auto out_first = first_core_strides<Out>(std::make_index_sequence<nout>());

    // Always inlined into the loop: a call would pass the core strides at
    // run time, and the packed loop relies on their being constants.
    template <std::size_t... i, std::size_t... o>
    [[gnu::always_inline]] static void element(char* const* p, const Index* core,
                                               std::index_sequence<i...>,
                                               std::index_sequence<o...>) {
        const Out r = Outputs<R>::of(
            F(Layout<std::tuple_element_t<i, In>>::read(p[i], core + in_first[i])...));
        const Index* out_core = core + in_first[nin];
        (Layout<std::tuple_element_t<o, Out>>::write(std::get<o>(r), p[nin + o],
                                                     out_core + out_first[o]),
         ...);
    }

    // Every operand's core strides when all are packed, in NumPy's order.
    template <std::size_t... i, std::size_t... o>
    static constexpr auto packed_core_strides(std::index_sequence<i...>,
                                              std::index_sequence<o...>) {
        std::array<Index, in_first[nin] + out_first[nout]> all{};
        std::size_t at = 0;
        auto append = [&](const auto& packed) {
            for (Index s : packed) all[at++] = s;
        };
        (append(Layout<std::tuple_element_t<i, In>>::packed), ...);
        (append(Layout<std::tuple_element_t<o, Out>>::packed), ...);
        return all;
    }
    static constexpr auto packed =
        packed_core_strides(std::make_index_sequence<nin>(), std::make_index_sequence<nout>());

    template <bool is_packed>
    static void loop(char** args, const Index* dimensions, const Index* steps) {
        char* p[nargs];
        for (int k = 0; k < nargs; ++k) p[k] = args[k];
        // Constant strides let the compiler fold the gathers into plain loads.
        const Index* core = is_packed ? packed.data() : steps + nargs;
        for (Index e = 0; e < dimensions[0]; ++e) {
            element(p, core, std::make_index_sequence<nin>(), std::make_index_sequence<nout>());
            for (int k = 0; k < nargs; ++k) p[k] += steps[k];
        }
    }

    // Whether every operand's core strides are those of packed values.
    static bool all_packed(const Index* steps) {
        const Index* core = steps + nargs;
        for (std::size_t k = 0; k < packed.size(); ++k) {
            if (core[k] != packed[k]) return false;
        }
        return true;
    }

    // The bytes of one element's operands, and the elements a thread must
    // get for the pool to pay; see kMinBytesPerThread.
    template <class Tuple, std::size_t... k>
    static constexpr Index bytes_of(std::index_sequence<k...>) {
        return (Index(0) + ... + Index(sizeof(std::tuple_element_t<k, Tuple>)));
    }
    static constexpr Index element_bytes = bytes_of<In>(std::make_index_sequence<nin>()) +
                                           bytes_of<Out>(std::make_index_sequence<nout>());
    static constexpr Index min_per_thread =
        (kMinBytesPerThread + element_bytes - 1) / element_bytes;

    // NumPy's generic loop signature: dimensions[0] is the outer count,
    // steps[0..nargs) the outer strides, then every operand's core strides.
    static void run(char** args, const Index* dimensions, const Index* steps, void*) {
        const bool is_packed = all_packed(steps);
        split<nargs>(args, dimensions[0], steps, min_per_thread, [&](char** at, Index count) {
            if (is_packed) {
                loop<true>(at, &count, steps);
            } else {
                loop<false>(at, &count, steps);
            }
        });
    }
};

}  // namespace gufunc
