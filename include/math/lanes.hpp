#pragma once

// Up to four values of T side by side in 16-byte lanes, for kernels that
// compute independent elements at once. Each lane goes through the same IEEE
// operations in the same order as the scalar code would, so the results keep
// their bits; only sums across lanes are left to the callers, in their order.
// Loads and stores go through memcpy: values need only the alignment of T.

#include <cstring>
#include <type_traits>
#include <utility>

// The lane kernels are a handful of instructions each; a call would cost
// more than the work, and keep the lanes in memory.
#if defined(__GNUC__)
#define ORVANE_INLINE inline __attribute__((always_inline))
#else
#define ORVANE_INLINE inline
#endif

namespace math {
namespace detail {

// f(0), f(1), ..., f(N - 1) as separate statements, with the index a
// constant: small fixed loops written out even where -O2 keeps loops.
template <class F, int... K>
ORVANE_INLINE void unrolledOver(F&& f, std::integer_sequence<int, K...>) {
    (f(std::integral_constant<int, K>{}), ...);
}
template <int N, class F>
ORVANE_INLINE void unrolled(F&& f) {
    unrolledOver(f, std::make_integer_sequence<int, N>{});
}

// The same lanes as a plain array, for compilers without vector extensions
// and for other scalar types (long double).
template <class T, int n>
struct PlainLanes {
    static constexpr int size = n;
    T e[n];
    T& operator[](int i) { return e[i]; }
    T operator[](int i) const { return e[i]; }
    friend PlainLanes operator+(PlainLanes a, const PlainLanes& b) {
        for (int i = 0; i < n; ++i) a.e[i] = a.e[i] + b.e[i];
        return a;
    }
    friend PlainLanes operator-(PlainLanes a, const PlainLanes& b) {
        for (int i = 0; i < n; ++i) a.e[i] = a.e[i] - b.e[i];
        return a;
    }
    friend PlainLanes operator*(PlainLanes a, const PlainLanes& b) {
        for (int i = 0; i < n; ++i) a.e[i] = a.e[i] * b.e[i];
        return a;
    }
    friend PlainLanes operator/(PlainLanes a, const PlainLanes& b) {
        for (int i = 0; i < n; ++i) a.e[i] = a.e[i] / b.e[i];
        return a;
    }
};

// Lanes of a then b, numbered on from a's.
template <int... I, class T, int n>
ORVANE_INLINE PlainLanes<T, n> pick(PlainLanes<T, n> a, PlainLanes<T, n> b) {
    constexpr int at[] = {I...};
    PlainLanes<T, n> r;
    for (int k = 0; k < n; ++k) r[k] = at[k] < n ? a[at[k]] : b[at[k] - n];
    return r;
}

// Lane<T>::type holds `size` values of T: four floats or two of anything
// else.
template <class T>
struct Lane {
    static constexpr int size = sizeof(T) == 4 ? 4 : 2;
    using type = PlainLanes<T, size>;
};

#if defined(__GNUC__)

template <>
struct Lane<float> {
    static constexpr int size = 4;
    typedef float type __attribute__((vector_size(16)));
    typedef int mask __attribute__((vector_size(16)));
};
template <>
struct Lane<double> {
    static constexpr int size = 2;
    typedef double type __attribute__((vector_size(16)));
    typedef long long mask __attribute__((vector_size(16)));
};

template <int... I, class V>
ORVANE_INLINE V pick(V a, V b) {
#if defined(__clang__)
    return __builtin_shufflevector(a, b, I...);
#else
    using E = std::remove_reference_t<decltype(a[0])>;
    using M = typename Lane<E>::mask;
    return __builtin_shuffle(a, b, M{I...});
#endif
}

#endif

// N values (N <= 4) of T; lanes past N hold +0 after a load.
template <class T, int N>
struct Pack {
    using V = typename Lane<T>::type;
    static constexpr int kPerLane = Lane<T>::size;
    static constexpr int kLanes = (N + kPerLane - 1) / kPerLane;
    V v[kLanes];

    // Through a 16-byte or scalar local: the compiler keeps those in
    // registers, where a copy into the lane array would stay in memory.
    ORVANE_INLINE static Pack load(const void* p) {
        const char* bytes = static_cast<const char*>(p);
        Pack r;
        if constexpr (N == kLanes * kPerLane) {
            unrolled<kLanes>([&](auto k) {
                V x;
                std::memcpy(&x, bytes + sizeof(V) * k, sizeof x);
                r.v[k] = x;
            });
        } else {
            // Lane by lane, as the values past N are not there to read.
            T e[3] = {};
            unrolled<N>([&](auto i) { std::memcpy(&e[i], bytes + sizeof(T) * i, sizeof(T)); });
            r = of(e[0], e[1], e[2], T(0));
        }
        return r;
    }
    ORVANE_INLINE void store(void* p) const {
        char* bytes = static_cast<char*>(p);
        if constexpr (N == kLanes * kPerLane) {
            unrolled<kLanes>([&](auto k) {
                const V x = v[k];
                std::memcpy(bytes + sizeof(V) * k, &x, sizeof x);
            });
        } else {
            unrolled<N>([&](auto i) {
                const T e = (*this)[i];
                std::memcpy(bytes + sizeof(T) * i, &e, sizeof e);
            });
        }
    }

    ORVANE_INLINE static Pack zero() {
        Pack r;
        for (V& x : r.v) x = V{};
        return r;
    }
    // By shuffles of single values: a braced list of four becomes a chain of
    // inserts.
    ORVANE_INLINE static Pack splat(T s) {
        const V x = {s};
        Pack r;
        if constexpr (kPerLane == 4) {
            r.v[0] = pick<0, 0, 0, 0>(x, x);
        } else {
            unrolled<kLanes>([&](auto k) { r.v[k] = pick<0, 0>(x, x); });
        }
        return r;
    }
    // Lanes past N are set too; a store leaves them out.
    ORVANE_INLINE static Pack of(T a, T b, T c, T d) {
        static_assert(kLanes * kPerLane == 4, "four lanes");
        Pack r;
        if constexpr (kPerLane == 4) {
            const V ab = pick<0, 4, 0, 4>(V{a}, V{b}), cd = pick<0, 4, 0, 4>(V{c}, V{d});
            r.v[0] = pick<0, 1, 4, 5>(ab, cd);
        } else {
            r.v[0] = pick<0, 2>(V{a}, V{b});
            r.v[1] = pick<0, 2>(V{c}, V{d});
        }
        return r;
    }

    ORVANE_INLINE T operator[](int i) const { return v[i / kPerLane][i % kPerLane]; }

    // Lane k of the result is lane I_k of a, or lane I_k - 4 of b.
    template <int I0, int I1, int I2, int I3>
    ORVANE_INLINE static Pack pick2(const Pack& a, const Pack& b) {
        static_assert(kLanes * kPerLane == 4, "four lanes");
        Pack r;
        if constexpr (kPerLane == 4) {
            r.v[0] = pick<I0, I1, I2, I3>(a.v[0], b.v[0]);
        } else {
            r.v[0] = pick<I0 % 2, 2 + I1 % 2>(from<I0>(a, b), from<I1>(a, b));
            r.v[1] = pick<I2 % 2, 2 + I3 % 2>(from<I2>(a, b), from<I3>(a, b));
        }
        return r;
    }
    template <int I0, int I1, int I2, int I3>
    ORVANE_INLINE Pack shuffle() const {
        return pick2<I0, I1, I2, I3>(*this, *this);
    }

    ORVANE_INLINE friend Pack operator+(Pack a, const Pack& b) {
        unrolled<kLanes>([&](auto k) { a.v[k] = a.v[k] + b.v[k]; });
        return a;
    }
    ORVANE_INLINE friend Pack operator-(Pack a, const Pack& b) {
        unrolled<kLanes>([&](auto k) { a.v[k] = a.v[k] - b.v[k]; });
        return a;
    }
    ORVANE_INLINE friend Pack operator*(Pack a, const Pack& b) {
        unrolled<kLanes>([&](auto k) { a.v[k] = a.v[k] * b.v[k]; });
        return a;
    }
    ORVANE_INLINE friend Pack operator/(Pack a, const Pack& b) {
        unrolled<kLanes>([&](auto k) { a.v[k] = a.v[k] / b.v[k]; });
        return a;
    }

private:
    // The 16-byte lane that holds lane I of a, then b.
    template <int I>
    ORVANE_INLINE static V from(const Pack& a, const Pack& b) {
        return (I < 4 ? a : b).v[(I % 4) / 2];
    }
};

// Rows to columns of four packs of four.
template <class P>
ORVANE_INLINE void transpose4(P& r0, P& r1, P& r2, P& r3) {
    if constexpr (P::kPerLane == 2) {
        // Four 2x2 blocks, each transposed in place or swapped.
        using V = typename P::V;
        const V a0 = r0.v[0], a1 = r0.v[1], b0 = r1.v[0], b1 = r1.v[1];
        const V c0 = r2.v[0], c1 = r2.v[1], d0 = r3.v[0], d1 = r3.v[1];
        r0.v[0] = pick<0, 2>(a0, b0);
        r0.v[1] = pick<0, 2>(c0, d0);
        r1.v[0] = pick<1, 3>(a0, b0);
        r1.v[1] = pick<1, 3>(c0, d0);
        r2.v[0] = pick<0, 2>(a1, b1);
        r2.v[1] = pick<0, 2>(c1, d1);
        r3.v[0] = pick<1, 3>(a1, b1);
        r3.v[1] = pick<1, 3>(c1, d1);
    } else {
        const P t0 = P::template pick2<0, 4, 1, 5>(r0, r1);
        const P t1 = P::template pick2<2, 6, 3, 7>(r0, r1);
        const P t2 = P::template pick2<0, 4, 1, 5>(r2, r3);
        const P t3 = P::template pick2<2, 6, 3, 7>(r2, r3);
        r0 = P::template pick2<0, 1, 4, 5>(t0, t2);
        r1 = P::template pick2<2, 3, 6, 7>(t0, t2);
        r2 = P::template pick2<0, 1, 4, 5>(t1, t3);
        r3 = P::template pick2<2, 3, 6, 7>(t1, t3);
    }
}

}  // namespace detail
}  // namespace math
