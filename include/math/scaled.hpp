#pragma once

#include <algorithm>
#include <cmath>
#include <limits>

namespace math {

// Lengths and directions over the whole floating-point range. A sum of
// squares overflows beyond about 2^64 (float) and loses its digits to
// underflow below about 2^-63; multiplying by a power of two is exact, so
// the values are brought near 1 first when, and only when, the plain
// formula would suffer. Within that range the plain formula runs as it is
// and gives its own bits.

// What the helpers need to know of a type with components x[0..size):
// its scalar, and its plain length and normalization, whose bits they keep.
// Specialized next to each type (vectors, quaternions).
template <class X, class = void>
struct Components;

namespace detail {

template <class T>
constexpr T powerOfTwo(int e) {
    T r(1);
    for (; e > 0; --e) r *= T(2);
    for (; e < 0; ++e) r *= T(0.5);
    return r;
}

// Products of `degree` numbers no larger than 2^k, and sums of a few of
// them, stay finite; those of numbers no smaller than 2^-k stay normal.
template <class T, int degree>
inline constexpr int kSafeExponent = (std::numeric_limits<T>::max_exponent - 8) / degree;

// Whether m (>= 0) lies where products of `degree` such numbers need no
// scaling. Zero, infinities and NaN lie outside, but scaling leaves them as
// they are (see scaleExponent), so they take the plain formula all the same.
template <int degree, class T>
inline bool withinRange(T m) {
    constexpr T low = powerOfTwo<T>(-kSafeExponent<T, degree>);
    constexpr T high = powerOfTwo<T>(kSafeExponent<T, degree>);
    return m >= low && m <= high;
}

// e with m = f * 2^e and f in [0.5, 1), or 0 for zero, infinite and NaN m.
template <class T>
inline int scaleExponent(T m) {
    if (!(m > T(0)) || !(m <= std::numeric_limits<T>::max())) return 0;
    int e;
    std::frexp(m, &e);
    return e;
}

// The largest |component|; a NaN component is passed over, since it reaches
// the result through the arithmetic whichever way it is scaled.
template <class X>
inline typename Components<X>::Scalar largestMagnitude(const X& x) {
    typename Components<X>::Scalar m(0);
    for (int i = 0; i < Components<X>::size; ++i) {
        const auto a = std::abs(x[i]);
        if (a > m) m = a;
    }
    return m;
}

// Every component times 2^e; scalbn reaches exponents whose power of two is
// not itself a finite T.
template <class X>
inline X scaledBy(X x, int e) {
    for (int i = 0; i < Components<X>::size; ++i) x[i] = std::scalbn(x[i], e);
    return x;
}

// The exponent that brings the largest component of xs near 1 when a
// product of `degree` components might overflow or underflow, else 0.
template <int degree = 2, class X, class... More>
inline int rangeExponent(const X& x, const More&... more) {
    auto m = largestMagnitude(x);
    ((m = std::max(m, largestMagnitude(more))), ...);
    return withinRange<degree>(m) ? 0 : scaleExponent(m);
}

}  // namespace detail

// Whether x lies where the plain length and normalization need no
// rescaling, so that the scaled forms below give exactly their bits.
template <class X>
inline bool withinPlainRange(const X& x) {
    return detail::rangeExponent(x) == 0;
}

// The Euclidean length without overflow or underflow: the plain length
// (norm, Quaternion::length) inside the safe range, bit for bit.
template <class X>
inline typename Components<X>::Scalar scaledNorm(const X& x) {
    const int e = detail::rangeExponent(x);
    if (e == 0) return Components<X>::length(x);
    return std::scalbn(Components<X>::length(detail::scaledBy(x, -e)), e);
}

// x divided by its length without overflow or underflow: the plain
// normalization inside the safe range, bit for bit. Zero still gives NaN
// (0 / 0), and so does an infinite component.
template <class X>
inline X scaledNormalize(const X& x) {
    const int e = detail::rangeExponent(x);
    return Components<X>::normalized(e == 0 ? x : detail::scaledBy(x, -e));
}

}  // namespace math
