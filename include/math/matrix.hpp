#pragma once

#include <cmath>
#include <cstring>
#include <type_traits>

#include "lanes.hpp"
#include "scalar.hpp"
#include "vector.hpp"

namespace math {

// Square matrices stored column by column: element (i, j) is at i + n*j, so
// each column has the memory layout of the vector of the same order.

template <class T>
struct Matrix2 {
    static constexpr int order = 2;
    using Scalar = T;
    using Column = Vector2<T>;
    T m[4];

    Matrix2() : m{} {}
    Matrix2(T a, T b) : m{a, 0, 0, b} {}
    Matrix2(T m00, T m01, T m10, T m11) : m{m00, m10, m01, m11} {}
    Matrix2(const Column& c0, const Column& c1) : m{c0.x, c0.y, c1.x, c1.y} {}

    T& operator()(int i, int j) { return m[i + 2 * j]; }
    const T& operator()(int i, int j) const { return m[i + 2 * j]; }
    T* data() { return m; }
    const T* data() const { return m; }

    static Matrix2 Identity() { return Matrix2(T(1), T(1)); }
    static Matrix2 Zeros() { return Matrix2(); }
    static Matrix2 Rotation(T angle) {
        T s, c;
        sincos(angle, s, c);
        return Matrix2(c, -s, s, c);
    }
    static Matrix2 Scale(T sx, T sy) { return Matrix2(sx, sy); }
    static Matrix2 Scale(const Vector2<T>& s) { return Matrix2(s.x, s.y); }
};

template <class T>
struct Matrix3 {
    static constexpr int order = 3;
    using Scalar = T;
    using Column = Vector3<T>;
    T m[9];

    Matrix3() : m{} {}
    Matrix3(T a, T b, T c) : m{a, 0, 0, 0, b, 0, 0, 0, c} {}
    Matrix3(T m00, T m01, T m02, T m10, T m11, T m12, T m20, T m21, T m22)
        : m{m00, m10, m20, m01, m11, m21, m02, m12, m22} {}
    Matrix3(const Column& c0, const Column& c1, const Column& c2)
        : m{c0.x, c0.y, c0.z, c1.x, c1.y, c1.z, c2.x, c2.y, c2.z} {}

    T& operator()(int i, int j) { return m[i + 3 * j]; }
    const T& operator()(int i, int j) const { return m[i + 3 * j]; }
    T* data() { return m; }
    const T* data() const { return m; }

    static Matrix3 Identity() { return Matrix3(T(1), T(1), T(1)); }
    static Matrix3 Zeros() { return Matrix3(); }
    static Matrix3 RotationX(T angle) {
        T s, c;
        sincos(angle, s, c);
        return Matrix3(T(1), T(0), T(0), T(0), c, -s, T(0), s, c);
    }
    static Matrix3 RotationY(T angle) {
        T s, c;
        sincos(angle, s, c);
        return Matrix3(c, T(0), s, T(0), T(1), T(0), -s, T(0), c);
    }
    static Matrix3 RotationZ(T angle) {
        T s, c;
        sincos(angle, s, c);
        return Matrix3(c, -s, T(0), s, c, T(0), T(0), T(0), T(1));
    }
    static Matrix3 Scale(T sx, T sy, T sz) { return Matrix3(sx, sy, sz); }
    static Matrix3 Scale(const Vector3<T>& s) { return Matrix3(s.x, s.y, s.z); }
};

// π/180 in T: 0.017453292f (0x3C8EFA35) for float.
template <class T>
inline constexpr T kRadiansPerDegree = T(0.017453292519943295);

template <class T>
struct Matrix4 {
    static constexpr int order = 4;
    using Scalar = T;
    using Column = Vector4<T>;
    T m[16];

    Matrix4() : m{} {}
    Matrix4(T a, T b, T c, T d) : m{a, 0, 0, 0, 0, b, 0, 0, 0, 0, c, 0, 0, 0, 0, d} {}
    Matrix4(T m00, T m01, T m02, T m03, T m10, T m11, T m12, T m13, T m20, T m21, T m22, T m23,
            T m30, T m31, T m32, T m33)
        : m{m00, m10, m20, m30, m01, m11, m21, m31, m02, m12, m22, m32, m03, m13, m23, m33} {}
    Matrix4(const Column& c0, const Column& c1, const Column& c2, const Column& c3)
        : m{c0.x, c0.y, c0.z, c0.w, c1.x, c1.y, c1.z, c1.w,
            c2.x, c2.y, c2.z, c2.w, c3.x, c3.y, c3.z, c3.w} {}

    T& operator()(int i, int j) { return m[i + 4 * j]; }
    const T& operator()(int i, int j) const { return m[i + 4 * j]; }
    T* data() { return m; }
    const T* data() const { return m; }

    static Matrix4 Identity() { return Matrix4(T(1), T(1), T(1), T(1)); }
    static Matrix4 Zeros() { return Matrix4(); }
    static Matrix4 RotationX(T angle) { return Linear(Matrix3<T>::RotationX(angle)); }
    static Matrix4 RotationY(T angle) { return Linear(Matrix3<T>::RotationY(angle)); }
    static Matrix4 RotationZ(T angle) { return Linear(Matrix3<T>::RotationZ(angle)); }
    static Matrix4 Scale(T sx, T sy, T sz) { return Matrix4(sx, sy, sz, T(1)); }
    static Matrix4 Scale(const Vector3<T>& s) { return Matrix4(s.x, s.y, s.z, T(1)); }
    static Matrix4 Translation(const Vector3<T>& t) {
        Matrix4 r = Identity();
        r(0, 3) = t.x;
        r(1, 3) = t.y;
        r(2, 3) = t.z;
        return r;
    }

    // Field of view in degrees; depth from the near to the far plane maps to [-1, 1].
    static Matrix4 Perspective(T fovy, T aspect, T zNear, T zFar) {
        const T q = std::tan((fovy * T(0.5)) * kRadiansPerDegree<T>);
        const T g = T(1) / q;
        Matrix4 r;
        r(0, 0) = g / aspect;
        r(1, 1) = g;
        r(2, 2) = (zNear + zFar) / (zNear - zFar);
        r(2, 3) = T(2) * (zNear * zFar) / (zNear - zFar);
        r(3, 2) = T(-1);
        return r;
    }
    static Matrix4 Perspective(T left, T right, T top, T bottom, T zNear, T zFar) {
        Matrix4 r;
        r(0, 0) = (zNear + zNear) / (right - left);
        r(1, 1) = (zNear + zNear) / (top - bottom);
        r(0, 2) = (right + left) / (right - left);
        r(1, 2) = (top + bottom) / (top - bottom);
        r(2, 2) = -(zNear + zFar) / (zFar - zNear);
        r(2, 3) = (T(-2) * zFar) * zNear / (zFar - zNear);
        r(3, 2) = T(-1);
        return r;
    }
    static Matrix4 Ortho(T width, T height, T zNear, T zFar) {
        Matrix4 r;
        r(0, 0) = T(2) / width;
        r(1, 1) = T(2) / height;
        r(2, 2) = T(2) / (zNear - zFar);
        r(2, 3) = (zNear + zFar) / (zNear - zFar);
        r(3, 3) = T(1);
        return r;
    }

private:
    // The 3x3 block in rows and columns 0..2, with m33 = 1.
    static Matrix4 Linear(const Matrix3<T>& a) {
        Matrix4 r;
        for (int j = 0; j < 3; ++j) {
            for (int i = 0; i < 3; ++i) r(i, j) = a(i, j);
        }
        r(3, 3) = T(1);
        return r;
    }
};

template <class M>
struct IsMatrix : std::false_type {};
template <class T>
struct IsMatrix<Matrix2<T>> : std::true_type {};
template <class T>
struct IsMatrix<Matrix3<T>> : std::true_type {};
template <class T>
struct IsMatrix<Matrix4<T>> : std::true_type {};

// The operations below are written once for the three orders.
template <class M>
using EnableIfMatrix = std::enable_if_t<IsMatrix<M>::value, int>;

template <class M, EnableIfMatrix<M> = 0>
inline M operator+(const M& a, const M& b) {
    M r;
    for (int k = 0; k < M::order * M::order; ++k) r.m[k] = a.m[k] + b.m[k];
    return r;
}

template <class M, EnableIfMatrix<M> = 0>
inline M operator-(const M& a, const M& b) {
    M r;
    for (int k = 0; k < M::order * M::order; ++k) r.m[k] = a.m[k] - b.m[k];
    return r;
}

template <class M, EnableIfMatrix<M> = 0>
inline M operator*(const M& a, typename M::Scalar s) {
    M r;
    for (int k = 0; k < M::order * M::order; ++k) r.m[k] = a.m[k] * s;
    return r;
}

template <class M, EnableIfMatrix<M> = 0>
inline M operator*(typename M::Scalar s, const M& a) {
    return a * s;
}

// Column by column: column j is the columns of a scaled by b(k, j) and
// added in ascending k from +0, so each element is accumulated from +0 in
// ascending k and a sum of -0 terms gives +0.
template <class M, EnableIfMatrix<M> = 0>
inline M operator*(const M& a, const M& b) {
    constexpr int n = M::order;
    using P = detail::Pack<typename M::Scalar, n>;
    P columns[n];
    detail::unrolled<n>([&](auto k) { columns[k] = P::load(a.m + n * k); });
    M r;
    detail::unrolled<n>([&](auto j) {
        P sum = P::zero();
        detail::unrolled<n>([&](auto k) { sum = sum + columns[k] * P::splat(b(k, j)); });
        sum.store(r.m + n * j);
    });
    return r;
}

// Left to right from the first term, with no +0 start.
template <class M, EnableIfMatrix<M> = 0>
inline typename M::Column operator*(const M& a, const typename M::Column& v) {
    constexpr int n = M::order;
    using P = detail::Pack<typename M::Scalar, n>;
    P sum = P::load(a.m) * P::splat(v[0]);
    detail::unrolled<n - 1>(
        [&](auto k) { sum = sum + P::load(a.m + n * (k + 1)) * P::splat(v[k + 1]); });
    typename M::Column r;
    sum.store(&r);
    return r;
}

// A difference of exactly epsilon still counts as equal; a NaN difference
// never makes two matrices unequal.
template <class M, EnableIfMatrix<M> = 0>
inline bool operator==(const M& a, const M& b) {
    for (int k = 0; k < M::order * M::order; ++k) {
        if (std::abs(a.m[k] - b.m[k]) > kEpsilon<typename M::Scalar>) return false;
    }
    return true;
}

template <class M, EnableIfMatrix<M> = 0>
inline bool operator!=(const M& a, const M& b) {
    return !(a == b);
}

template <class M, EnableIfMatrix<M> = 0>
inline M transpose(const M& a) {
    M r;
    for (int j = 0; j < M::order; ++j) {
        for (int i = 0; i < M::order; ++i) r(i, j) = a(j, i);
    }
    return r;
}

template <class M, EnableIfMatrix<M> = 0>
inline typename M::Scalar trace(const M& a) {
    typename M::Scalar sum = a(0, 0);
    for (int i = 1; i < M::order; ++i) sum = sum + a(i, i);
    return sum;
}

template <class M, EnableIfMatrix<M> = 0>
inline typename M::Column column(const M& a, int j) {
    typename M::Column c;
    for (int i = 0; i < M::order; ++i) c[i] = a(i, j);
    return c;
}

template <class M, EnableIfMatrix<M> = 0>
inline void setColumn(M& a, int j, const typename M::Column& c) {
    for (int i = 0; i < M::order; ++i) a(i, j) = c[i];
}

namespace detail {

// The minors of a 3x3 matrix without column i, one lane per deleted row j:
// a(r0, c0) * a(r1, c1) - a(r1, c0) * a(r0, c1) for the remaining rows
// r0 < r1 and columns c0 < c1.
template <class T>
struct Minors3 {
    using P = Pack<T, 3>;
    P of[3];
    ORVANE_INLINE explicit Minors3(const Matrix3<T>& a) {
        P first[3], second[3];
        unrolled<3>([&](auto k) {
            const P c = P::load(a.m + 3 * k);
            first[k] = c.template shuffle<1, 0, 0, 3>();
            second[k] = c.template shuffle<2, 2, 1, 3>();
        });
        of[0] = first[1] * second[2] - second[1] * first[2];
        of[1] = first[0] * second[2] - second[0] * first[2];
        of[2] = first[0] * second[1] - second[0] * first[1];
    }
};

// The 3x3 minors of a 4x4 matrix without column i, one lane per deleted row
// j: expanded along column 1, 0, 3, 2 for i = 0, 1, 2, 3 with the 2x2 minors
// of columns 2 and 3 (i < 2) or 0 and 1 (i >= 2). For the remaining rows
// p < q < s and the expansion column e, a(p, e) * D(q, s) - a(q, e) * D(p, s)
// + a(s, e) * D(p, q), where D(p, q) = a(p, c) * a(q, d) - a(q, c) * a(p, d).
// Shuffles are taken again where needed rather than kept: with doubles,
// twelve kept packs would not fit in the registers.
template <class T>
struct Minors4 {
    using P = Pack<T, 4>;
    const Matrix4<T>& a;

    // Rows p, q and s of column k, per deleted row.
    ORVANE_INLINE P p(int k) const { return P::load(a.m + 4 * k).template shuffle<1, 0, 0, 0>(); }
    ORVANE_INLINE P q(int k) const { return P::load(a.m + 4 * k).template shuffle<2, 2, 1, 1>(); }
    ORVANE_INLINE P s(int k) const { return P::load(a.m + 4 * k).template shuffle<3, 3, 3, 2>(); }

    // D(q, s), D(p, s) and D(p, q) of columns c and d.
    struct Pairs {
        P qs, ps, pq;
    };
    ORVANE_INLINE Pairs pairs(int c, int d) const {
        return {q(c) * s(d) - s(c) * q(d), p(c) * s(d) - s(c) * p(d), p(c) * q(d) - q(c) * p(d)};
    }
    ORVANE_INLINE P without(int e, const Pairs& d) const {
        return (p(e) * d.qs - q(e) * d.ps) + s(e) * d.pq;
    }
};

// The 4x4 inverse in lanes of two: each output column j holds the minors
// without row j, lanes i = 0..3 expanded along columns 1, 0, 3, 2 as above,
// so no transpose is left at the end. The 2x2 minors of columns 0, 1 and of
// columns 2, 3 for one row pair share a lane pair, and every operand is read
// from memory into the lanes it needs rather than shuffled there.
template <class T>
ORVANE_INLINE Matrix4<T> inverse4ByColumns(const Matrix4<T>& a) {
    using V = typename Lane<T>::type;
    // Rows p as (a(p, 0), a(p, 2)) and (a(p, 1), a(p, 3)), from the column
    // halves (a(2h, k), a(2h + 1, k)).
    V c[4][2];
    unrolled<4>([&](auto k) {
        std::memcpy(&c[k][0], a.m + 4 * k, sizeof(V));
        std::memcpy(&c[k][1], a.m + 4 * k + 2, sizeof(V));
    });
    V e[4], o[4];
    unrolled<2>([&](auto h) {
        e[2 * h] = pick<0, 2>(c[0][h], c[2][h]);
        e[2 * h + 1] = pick<1, 3>(c[0][h], c[2][h]);
        o[2 * h] = pick<0, 2>(c[1][h], c[3][h]);
        o[2 * h + 1] = pick<1, 3>(c[1][h], c[3][h]);
    });
    // (D01(p, q), D23(p, q)) for the 2x2 minors of columns 0, 1 and 2, 3.
    auto pair = [&](int p, int q) { return e[p] * o[q] - e[q] * o[p]; };
    const V d[4][4] = {{V{}, pair(0, 1), pair(0, 2), pair(0, 3)},
                       {V{}, V{}, pair(1, 2), pair(1, 3)},
                       {V{}, V{}, V{}, pair(2, 3)}};
    // Without row j: the remaining rows p < q < s, each as (a(., 1), a(., 0))
    // and (a(., 3), a(., 2)) against the right (lanes 0, 1) or the left
    // (lanes 2, 3) 2x2 minors.
    V minors[4][2];
    unrolled<4>([&](auto j) {
        constexpr int p = j == 0 ? 1 : 0, q = j <= 1 ? 2 : 1, s = j <= 2 ? 3 : 2;
        const V qs = d[q][s], ps = d[p][s], pq = d[p][q];
        // Row r as (a(r, 1), a(r, 0)) and (a(r, 3), a(r, 2)).
        auto low = [&](int r) { return pick<0, 2>(o[r], e[r]); };
        auto high = [&](int r) { return pick<1, 3>(o[r], e[r]); };
        minors[j][0] = (low(p) * pick<1, 3>(qs, qs) - low(q) * pick<1, 3>(ps, ps)) +
                       low(s) * pick<1, 3>(pq, pq);
        minors[j][1] = (high(p) * pick<0, 2>(qs, qs) - high(q) * pick<0, 2>(ps, ps)) +
                       high(s) * pick<0, 2>(pq, pq);
    });
    // The expansion along column 0 of the minors without column 0.
    const V t01 = c[0][0] * pick<0, 2>(minors[0][0], minors[1][0]);
    const V t23 = c[0][1] * pick<0, 2>(minors[2][0], minors[3][0]);
    T det = t01[0] - t01[1];
    det = det + t23[0];
    det = det - t23[1];
    const T r = T(1) / det;
    const V even = {r, -r}, odd = {-r, r};
    Matrix4<T> inverse;
    unrolled<4>([&](auto j) {
        const V sign = j % 2 == 0 ? even : odd;
        const V lo = minors[j][0] * sign, hi = minors[j][1] * sign;
        std::memcpy(inverse.m + 4 * j, &lo, sizeof lo);
        std::memcpy(inverse.m + 4 * j + 2, &hi, sizeof hi);
    });
    return inverse;
}

// Laplace expansion along column 0 with the minors without column 0; the
// terms are combined from left to right.
template <class T, int N>
ORVANE_INLINE T expandColumn0(const T* column0, const Pack<T, N>& minors) {
    const Pack<T, N> terms = Pack<T, N>::load(column0) * minors;
    T d = terms[0] - terms[1];
    d = d + terms[2];
    if constexpr (N == 4) d = d - terms[3];
    return d;
}

// Row i of the inverse from the minors without column i: the cofactor of
// (j, i) times r, with the sign of (-1)^(i + j) carried by r.
template <class T, int N>
ORVANE_INLINE Pack<T, N> adjugateRow(const Pack<T, N>& minors, T r, int i) {
    return minors * (i % 2 == 0 ? Pack<T, N>::of(r, -r, r, -r) : Pack<T, N>::of(-r, r, -r, r));
}

}  // namespace detail

template <class T>
inline T determinant(const Matrix2<T>& a) {
    return a(0, 0) * a(1, 1) - a(1, 0) * a(0, 1);
}

template <class T>
inline T determinant(const Matrix3<T>& a) {
    return detail::expandColumn0(a.m, detail::Minors3<T>(a).of[0]);
}

template <class T>
inline T determinant(const Matrix4<T>& a) {
    const detail::Minors4<T> minors{a};
    return detail::expandColumn0(a.m, minors.without(1, minors.pairs(2, 3)));
}

template <class T>
inline Matrix2<T> inverse(const Matrix2<T>& a) {
    const T d = a(0, 0) * a(1, 1) - a(0, 1) * a(1, 0);
    return Matrix2<T>(a(1, 1) / d, -a(0, 1) / d, -a(1, 0) / d, a(0, 0) / d);
}

// By the adjugate with one reciprocal of the determinant.
template <class T>
inline Matrix3<T> inverse(const Matrix3<T>& a) {
    const detail::Minors3<T> minors(a);
    const T r = T(1) / detail::expandColumn0(a.m, minors.of[0]);
    using P = detail::Pack<T, 3>;
    P rows[4] = {detail::adjugateRow(minors.of[0], r, 0), detail::adjugateRow(minors.of[1], r, 1),
                 detail::adjugateRow(minors.of[2], r, 2), P::zero()};
    detail::transpose4(rows[0], rows[1], rows[2], rows[3]);
    Matrix3<T> inverse;
    detail::unrolled<3>([&](auto j) { rows[j].store(inverse.m + 3 * j); });
    return inverse;
}

// Minors without column 0 or 1 come from the 2x2 minors of columns 2 and 3,
// those without column 2 or 3 from the 2x2 minors of columns 0 and 1.
template <class T>
inline Matrix4<T> inverse(const Matrix4<T>& a) {
    if constexpr (detail::Pack<T, 4>::kPerLane == 2) {
        return detail::inverse4ByColumns(a);
    } else {
        const detail::Minors4<T> minors{a};
        detail::Pack<T, 4> rows[4];
        {
            const auto right = minors.pairs(2, 3);
            rows[0] = minors.without(1, right);
            rows[1] = minors.without(0, right);
        }
        const T r = T(1) / detail::expandColumn0(a.m, rows[0]);
        rows[0] = detail::adjugateRow(rows[0], r, 0);
        rows[1] = detail::adjugateRow(rows[1], r, 1);
        {
            const auto left = minors.pairs(0, 1);
            rows[2] = detail::adjugateRow(minors.without(3, left), r, 2);
            rows[3] = detail::adjugateRow(minors.without(2, left), r, 3);
        }
        detail::transpose4(rows[0], rows[1], rows[2], rows[3]);
        Matrix4<T> inverse;
        detail::unrolled<4>([&](auto j) { rows[j].store(inverse.m + 4 * j); });
        return inverse;
    }
}

// Precision conversions, math::convert<U>(m): each element rounded to the
// nearest U.
template <class U, class T>
inline Matrix2<U> convert(const Matrix2<T>& a) {
    Matrix2<U> r;
    for (int k = 0; k < 4; ++k) r.m[k] = static_cast<U>(a.m[k]);
    return r;
}

template <class U, class T>
inline Matrix3<U> convert(const Matrix3<T>& a) {
    Matrix3<U> r;
    for (int k = 0; k < 9; ++k) r.m[k] = static_cast<U>(a.m[k]);
    return r;
}

template <class U, class T>
inline Matrix4<U> convert(const Matrix4<T>& a) {
    Matrix4<U> r;
    for (int k = 0; k < 16; ++k) r.m[k] = static_cast<U>(a.m[k]);
    return r;
}

namespace detail {

// A linear map as a transform: the block in rows and columns 0..2, m33 = 1.
template <class T>
inline Matrix4<T> linearTransform(const Matrix3<T>& a) {
    return Matrix4<T>(a(0, 0), a(0, 1), a(0, 2), T(0),  //
                      a(1, 0), a(1, 1), a(1, 2), T(0),  //
                      a(2, 0), a(2, 1), a(2, 2), T(0),  //
                      T(0), T(0), T(0), T(1));
}

template <class T>
inline Matrix3<T> linearBlock(const Matrix4<T>& a) {
    return Matrix3<T>(a(0, 0), a(0, 1), a(0, 2), a(1, 0), a(1, 1), a(1, 2), a(2, 0), a(2, 1),
                      a(2, 2));
}

}  // namespace detail

// The view matrix of a camera at eye looking at target: world to camera
// coordinates, right-handed, the camera looking along -z with up along +y.
// Rows 0..2 are the camera's right s, up u and backward -f axes, and the
// last column moves eye to the origin. eye == target, or up parallel to the
// view direction, normalizes a zero vector and gives NaN.
template <class T>
inline Matrix4<T> lookAt(const Vector3<T>& eye, const Vector3<T>& target, const Vector3<T>& up) {
    const Vector3<T> f = scaledNormalize(target - eye);
    const Vector3<T> s = scaledNormalize(cross(f, up));
    const Vector3<T> u = cross(s, f);
    return Matrix4<T>(s.x, s.y, s.z, -dot(s, eye),    //
                      u.x, u.y, u.z, -dot(u, eye),    //
                      -f.x, -f.y, -f.z, dot(f, eye),  //
                      T(0), T(0), T(0), T(1));
}

// Orthographic projection of the box [left, right] x [bottom, top] x
// [-zFar, -zNear] onto [-1, 1] in every axis, the near plane going to depth
// -1. The depth row is Ortho's, so a box centred on the axis gives Ortho's
// matrix. Equal bounds divide by zero: infinite or NaN elements.
template <class T>
inline Matrix4<T> ortho(T left, T right, T bottom, T top, T zNear, T zFar) {
    Matrix4<T> r;
    r(0, 0) = T(2) / (right - left);
    r(1, 1) = T(2) / (top - bottom);
    r(2, 2) = T(2) / (zNear - zFar);
    r(0, 3) = -(right + left) / (right - left);
    r(1, 3) = -(top + bottom) / (top - bottom);
    r(2, 3) = (zNear + zFar) / (zNear - zFar);
    r(3, 3) = T(1);
    return r;
}

// Window coordinates of a point. The viewport is (x, y, width, height) with
// (x, y) its top-left corner: window x grows to the right, window y grows
// downwards like image rows, and depth runs over [0, 1] from the near to the
// far plane. A point in the camera's own plane (clip w = 0) gives
// infinities or NaN.
template <class T>
inline Vector3<T> project(const Vector3<T>& point, const Matrix4<T>& viewProjection,
                          const Vector4<T>& viewport) {
    const Vector4<T> clip = viewProjection * Vector4<T>(point.x, point.y, point.z, T(1));
    const T x = clip.x / clip.w, y = clip.y / clip.w, z = clip.z / clip.w;
    return {viewport.x + ((x + T(1)) * T(0.5)) * viewport.z,
            viewport.y + ((T(1) - y) * T(0.5)) * viewport.w, (z + T(1)) * T(0.5)};
}

// The inverse of project, through the inverse of viewProjection. A singular
// viewProjection or an empty viewport gives infinities or NaN. The result
// does not change when viewProjection is scaled, so a matrix whose
// determinant (a product of four elements) might overflow or underflow is
// first brought near 1 by a power of two.
template <class T>
inline Vector3<T> unproject(const Vector3<T>& window, const Matrix4<T>& viewProjection,
                            const Vector4<T>& viewport) {
    const T x = ((window.x - viewport.x) / viewport.z) * T(2) - T(1);
    const T y = T(1) - ((window.y - viewport.y) / viewport.w) * T(2);
    const T z = window.z * T(2) - T(1);
    Matrix4<T> m = viewProjection;
    T largest(0);
    for (const T element : m.m) largest = std::abs(element) > largest ? std::abs(element) : largest;
    if (!detail::withinRange<4>(largest)) {
        const int e = detail::scaleExponent(largest);
        for (T& element : m.m) element = std::scalbn(element, -e);
    }
    const Vector4<T> p = inverse(m) * Vector4<T>(x, y, z, T(1));
    return {p.x / p.w, p.y / p.w, p.z / p.w};
}

}  // namespace math
