#pragma once

// A scalar of W independent elements, one per lane of a SIMD register. The
// library's templates instantiated with it compute W elements at once with
// the very operations, in the very order, of the scalar instantiation, and
// IEEE + - * / and sqrt are exactly rounded per lane, so every lane holds
// the bits the scalar code gives. It has no comparisons: a template that
// branches on a value does not compile with it, rather than taking one
// branch for all lanes.

#include <cmath>
#include <cstddef>
#include <type_traits>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace lanes {

#define ORVANE_LANE [[gnu::always_inline]] inline

template <class T, int W>
struct Lanes {
    static_assert(std::is_floating_point_v<T>);
    typedef T Vector __attribute__((vector_size(sizeof(T) * W)));
    Vector v;

    Lanes() = default;
    // A constant of the templates, such as T(1), in every lane.
    template <class S, std::enable_if_t<std::is_arithmetic_v<S>, int> = 0>
    ORVANE_LANE explicit Lanes(S s) {
        for (int k = 0; k < W; ++k) v[k] = static_cast<T>(s);
    }
    ORVANE_LANE static Lanes of(Vector x) {
        Lanes r;
        r.v = x;
        return r;
    }

    ORVANE_LANE Lanes operator-() const { return of(-v); }
    ORVANE_LANE Lanes& operator+=(Lanes b) { return v += b.v, *this; }
    ORVANE_LANE Lanes& operator-=(Lanes b) { return v -= b.v, *this; }
    ORVANE_LANE Lanes& operator*=(Lanes b) { return v *= b.v, *this; }
    ORVANE_LANE Lanes& operator/=(Lanes b) { return v /= b.v, *this; }
    ORVANE_LANE friend Lanes operator+(Lanes a, Lanes b) { return of(a.v + b.v); }
    ORVANE_LANE friend Lanes operator-(Lanes a, Lanes b) { return of(a.v - b.v); }
    ORVANE_LANE friend Lanes operator*(Lanes a, Lanes b) { return of(a.v * b.v); }
    ORVANE_LANE friend Lanes operator/(Lanes a, Lanes b) { return of(a.v / b.v); }
};

namespace halves {

// The 16 bytes of x from lane `first` on, and back: register shuffles,
// where a store of halves and a load of the whole would stall.
template <class T, int first, class Vector, std::size_t... k>
ORVANE_LANE auto part(Vector x, std::index_sequence<k...>) {
    typedef T Part __attribute__((vector_size(16)));
    return Part{x[first + k]...};
}
template <class Vector, class Part, std::size_t... k>
ORVANE_LANE Vector joined(Part lo, Part hi, std::index_sequence<k...>) {
    constexpr int n = sizeof(Part) / sizeof(lo[0]);
    return Vector{(k < n ? lo[k % n] : hi[k % n])...};
}

template <class T>
ORVANE_LANE auto sqrt16(T x) {
    if constexpr (sizeof(x[0]) == 8) {
        return T(_mm_sqrt_pd(__m128d(x)));
    } else {
        return T(_mm_sqrt_ps(__m128(x)));
    }
}

}  // namespace halves

// Found by argument-dependent lookup where the templates say
// `using std::sqrt; sqrt(x)`. SSE2 on 16 bytes at a time, so that it also
// serves the wider lanes of the loops compiled for AVX2.
template <class T, int W>
ORVANE_LANE Lanes<T, W> sqrt(Lanes<T, W> x) {
#if defined(__SSE2__)
    constexpr int half = 16 / sizeof(T);
    if constexpr (W == half) {
        return Lanes<T, W>::of(halves::sqrt16(x.v));
    } else if constexpr (W == 2 * half) {
        const auto order = std::make_index_sequence<half>();
        const auto lo = halves::sqrt16(halves::part<T, 0>(x.v, order));
        const auto hi = halves::sqrt16(halves::part<T, half>(x.v, order));
        return Lanes<T, W>::of(
            halves::joined<typename Lanes<T, W>::Vector>(lo, hi, std::make_index_sequence<W>()));
    }
#endif
    for (int k = 0; k < W; ++k) x.v[k] = std::sqrt(x.v[k]);
    return x;
}

#undef ORVANE_LANE

}  // namespace lanes
