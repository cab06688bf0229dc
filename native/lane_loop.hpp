#pragma once

// The batch loop of an operation whose template also runs on lanes: blocks
// of W elements are gathered into structure-of-arrays values (component k
// of W elements in one lanes::Lanes), computed at once by the template's
// lane instantiation, and scattered back; each lane holds the bits of the
// scalar instantiation (see lanes.hpp). Where the CPU has AVX2 the blocks
// are 32 bytes wide, else 16 (SSE2, the floor).

#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include "element_lanes.hpp"
#include "gufunc_loop.hpp"

namespace gufunc {

template <auto F>
struct Params;
template <class R, class... A, R (*F)(A...)>
struct Params<F> {
    using In = std::tuple<std::decay_t<A>...>;
    using Result = R;
};

// Whether Lane<T> says which elements take the formula its lanes compute.
template <template <class> class Lane, class T, class = void>
struct HasPlain : std::false_type {};
template <template <class> class Lane, class T>
struct HasPlain<Lane, T, std::void_t<decltype(&Lane<T>::plain)>> : std::true_type {};

// F is the scalar per-element function; Lane<X>::value the same operation
// for a scalar type X, which the loop instantiates with lanes. An element
// for which Lane<T>::plain is false (an operand that needs rescaling, say)
// is left to F, and so is every element of its block.
template <auto F, template <class> class Lane>
struct LaneLoop {
    using Scalar = Loop<F>;
    using T = typename Scalar::Scalar;
    static constexpr int nin = Scalar::nin, nout = Scalar::nout, nargs = Scalar::nargs;
    static_assert(std::is_same_v<typename Params<Lane<T>::value>::In, typename Scalar::In>,
                  "the lane operation takes the operands of the scalar one");

    // The W values as one lane value. Each lane register is built from
    // scalars in registers, not stored in pieces and read whole, which would
    // stall the load on the stores it waits for.
    template <class V, class LV, int W, std::size_t... e>
    [[gnu::always_inline]] static LV gather(const char* p, Index step, const Index* core,
                                            std::index_sequence<e...>) {
        using S = typename Layout<V>::Scalar;
        using Pack = lanes::Lanes<S, W>;
        constexpr int n = Layout<V>::count;
        static_assert(sizeof(LV) == n * sizeof(Pack), "a lane value holds n lanes");
        S s[W][n];
        for (int k = 0; k < W; ++k) {
            const V v = Layout<V>::read(p + k * step, core);
            std::memcpy(s[k], &v, sizeof v);
        }
        LV r;
        for (int k = 0; k < n; ++k) {
            const typename Pack::Vector lane{s[e][k]...};
            std::memcpy(reinterpret_cast<char*>(&r) + k * sizeof(Pack), &lane, sizeof lane);
        }
        return r;
    }

    // A lane value's W values, each written where it belongs.
    template <class V, class LV, int W>
    struct Rows {
        using S = typename Layout<V>::Scalar;
        using Pack = lanes::Lanes<S, W>;
        static constexpr int n = Layout<V>::count;
        static_assert(sizeof(LV) == n * sizeof(Pack), "a lane value holds n lanes");
        typename Pack::Vector lane[n];

        [[gnu::always_inline]] explicit Rows(const LV& r) { std::memcpy(lane, &r, sizeof r); }
        // Lane e is a NaN somewhere where the mask's lane e is not 0.
        template <class Mask>
        [[gnu::always_inline]] void add_nans(Mask& mask) const {
            for (int k = 0; k < n; ++k) mask |= lane[k] != lane[k];
        }
        [[gnu::always_inline]] void write(int e, char* p, const Index* core) const {
            S s[n];
            for (int k = 0; k < n; ++k) s[k] = lane[k][e];
            V v;
            std::memcpy(&v, s, sizeof v);
            Layout<V>::write(v, p, core);
        }
    };

    // An element whose result holds a NaN is computed again by the scalar
    // function: IEEE leaves a NaN's sign and payload to the order of the
    // operands, which two compilations of one formula need not share. Its
    // operands are intact, since only its own results may overlap them.
    template <int W, std::size_t... i, std::size_t... o>
    [[gnu::always_inline]] static void block(char** p, const Index* core, const Index* steps,
                                             std::index_sequence<i...> in,
                                             std::index_sequence<o...> out) {
        using L = lanes::Lanes<T, W>;
        using LaneParams = Params<Lane<L>::value>;
        using LaneIn = typename LaneParams::In;
        using LaneOut = typename Outputs<typename LaneParams::Result>::Tuple;
        using In = typename Scalar::In;
        using Out = typename Scalar::Out;
        const LaneOut r = Outputs<typename LaneParams::Result>::of(
            Lane<L>::value(gather<std::tuple_element_t<i, In>, std::tuple_element_t<i, LaneIn>, W>(
                p[i], steps[i], core + Scalar::in_first[i], std::make_index_sequence<W>())...));
        const std::tuple<Rows<std::tuple_element_t<o, Out>, std::tuple_element_t<o, LaneOut>, W>...>
        rows(std::get<o>(r)...);
        const Index* out_core = core + Scalar::in_first[nin];
        auto nans = typename L::Vector{} != typename L::Vector{};
        (std::get<o>(rows).add_nans(nans), ...);
        for (int e = 0; e < W; ++e) {
            if (nans[e]) {
                Scalar::element(p, core, in, out);
            } else {
                (std::get<o>(rows).write(e, p[nin + o], out_core + Scalar::out_first[o]), ...);
            }
            for (int k = 0; k < nargs; ++k) p[k] += steps[k];
        }
    }

    template <int W, std::size_t... i>
    static bool all_plain(char* const* p, const Index* core, const Index* steps,
                          std::index_sequence<i...>) {
        if constexpr (HasPlain<Lane, T>::value) {
            using In = typename Scalar::In;
            for (int e = 0; e < W; ++e) {
                if (!Lane<T>::plain(Layout<std::tuple_element_t<i, In>>::read(
                        p[i] + e * steps[i], core + Scalar::in_first[i])...)) {
                    return false;
                }
            }
        }
        return true;
    }

    template <int W, bool is_packed>
    [[gnu::always_inline]] static void blocks(char** args, Index count, const Index* steps) {
        char* p[nargs];
        for (int k = 0; k < nargs; ++k) p[k] = args[k];
        const Index* core = is_packed ? Scalar::packed.data() : steps + nargs;
        const auto in = std::make_index_sequence<nin>();
        const auto out = std::make_index_sequence<nout>();
        Index e = 0;
        for (; e + W <= count; e += W) {
            if (all_plain<W>(p, core, steps, in)) {
                block<W>(p, core, steps, in, out);
            } else {
                for (int j = 0; j < W; ++j) {
                    Scalar::element(p, core, in, out);
                    for (int k = 0; k < nargs; ++k) p[k] += steps[k];
                }
            }
        }
        for (; e < count; ++e) {
            Scalar::element(p, core, in, out);
            for (int k = 0; k < nargs; ++k) p[k] += steps[k];
        }
    }

    template <bool is_packed>
    static void narrow(char** args, Index count, const Index* steps) {
        blocks<16 / sizeof(T), is_packed>(args, count, steps);
    }

#if defined(__x86_64__)
    template <bool is_packed>
    [[gnu::target("avx2"), gnu::flatten]] static void wide(char** args, Index count,
                                                           const Index* steps) {
        blocks<32 / sizeof(T), is_packed>(args, count, steps);
    }
#endif

    template <bool is_packed>
    static void loop(char** args, Index count, const Index* steps) {
#if defined(__x86_64__)
        static const bool has_avx2 = __builtin_cpu_supports("avx2");
        if (has_avx2) return wide<is_packed>(args, count, steps);
#endif
        narrow<is_packed>(args, count, steps);
    }

    static void run(char** args, const Index* dimensions, const Index* steps, void*) {
        const bool is_packed = Scalar::all_packed(steps);
        split<nargs>(args, dimensions[0], steps, Scalar::min_per_thread,
                     [&](char** at, Index count) {
                         if (is_packed) {
                             loop<true>(at, count, steps);
                         } else {
                             loop<false>(at, count, steps);
                         }
                     });
    }
};

}  // namespace gufunc
