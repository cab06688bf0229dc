#pragma once

#include <cmath>
#include <limits>
#include <type_traits>

#include "lanes.hpp"
#include "matrix.hpp"
#include "scalar.hpp"
#include "scaled.hpp"
#include "vector.hpp"

namespace math {

namespace detail {

// The rotation matrix of the unit quaternion (w, x, y, z).
template <class T>
inline Matrix3<T> rotationOfUnit(T qw, T qx, T qy, T qz) {
    return Matrix3<T>(T(1) - T(2) * (qy * qy + qz * qz), T(2) * (qx * qy - qz * qw),
                      T(2) * (qx * qz + qy * qw),  //
                      T(2) * (qx * qy + qz * qw), T(1) - T(2) * (qz * qz + qx * qx),
                      T(2) * (qy * qz - qx * qw),  //
                      T(2) * (qx * qz - qy * qw), T(2) * (qy * qz + qx * qw),
                      T(1) - T(2) * (qx * qx + qy * qy));
}

// The Hamilton product of the quaternions held as (w, x, y, z), a component
// per lane: each is a1 * b1 + a2 * b2 + a3 * b3 - a4 * b4 from the left with
// shuffled operands, the w lane's second and third terms negated, which
// subtracts them.
template <class P>
ORVANE_INLINE P hamilton(const P& a, const P& b) {
    using T = std::remove_cv_t<std::remove_reference_t<decltype(a[0])>>;
    if constexpr (P::kPerLane == 2) {
        // Two lanes (w, x) and (y, z): fewer shuffles across the halves.
        using V = typename P::V;
        const V a01 = a.v[0], a23 = a.v[1], b01 = b.v[0], b23 = b.v[1];
        const V negateW = {T(-1), T(1)};
        const V w1 = pick<0, 2>(a01, a01), x1 = pick<1, 3>(a01, a01);
        const V y1 = pick<0, 2>(a23, a23), z1 = pick<1, 3>(a23, a23);
        P r;
        r.v[0] = ((w1 * b01 + (x1 * negateW) * pick<1, 2>(b01, b01)) + (y1 * negateW) * b23) -
                 z1 * pick<1, 2>(b23, b23);
        r.v[1] = ((w1 * b23 + a23 * pick<0, 2>(b01, b01)) +
                  pick<1, 3>(a23, a01) * pick<1, 2>(b01, b23)) -
                 pick<1, 2>(a01, a23) * pick<1, 3>(b23, b01);
        return r;
    } else {
        const P negateW = P::of(T(-1), T(1), T(1), T(1));
        const P t1 = P::splat(a[0]) * b;
        const P t2 =
            (a.template shuffle<1, 1, 2, 3>() * negateW) * b.template shuffle<1, 0, 0, 0>();
        const P t3 =
            (a.template shuffle<2, 2, 3, 1>() * negateW) * b.template shuffle<2, 3, 1, 2>();
        const P t4 = a.template shuffle<3, 3, 1, 2>() * b.template shuffle<3, 2, 3, 1>();
        return ((t1 + t2) + t3) - t4;
    }
}

// The same product component by component, on anything with fields w, x,
// y, z.
template <class Q>
inline Q hamiltonOf(const Q& a, const Q& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
            a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z,
            a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x};
}

}  // namespace detail

// Hamilton quaternion, scalar part first. No unit-length invariant: the
// operations that need one normalize a copy or use the full inverse.
template <class T>
struct Quaternion {
    T w, x, y, z;

    constexpr Quaternion() : w(1), x(0), y(0), z(0) {}
    constexpr explicit Quaternion(T s) : w(s), x(0), y(0), z(0) {}
    constexpr Quaternion(T w_, T x_, T y_, T z_) : w(w_), x(x_), y(y_), z(z_) {}

    // The rotation of m. Strict comparisons: ties fall to the later branch.
    explicit Quaternion(const Matrix3<T>& m) {
        const T t = (m(0, 0) + m(1, 1)) + m(2, 2);
        if (t > T(0)) {
            const T s = T(0.5) / std::sqrt(t + T(1));
            w = T(0.25) / s;
            x = (m(2, 1) - m(1, 2)) * s;
            y = (m(0, 2) - m(2, 0)) * s;
            z = (m(1, 0) - m(0, 1)) * s;
        } else if (m(0, 0) > m(1, 1) && m(0, 0) > m(2, 2)) {
            const T s = T(2) * std::sqrt(((T(1) + m(0, 0)) - m(1, 1)) - m(2, 2));
            w = (m(2, 1) - m(1, 2)) / s;
            x = T(0.25) * s;
            y = (m(1, 0) + m(0, 1)) / s;
            z = (m(0, 2) + m(2, 0)) / s;
        } else if (m(1, 1) > m(2, 2)) {
            const T s = T(2) * std::sqrt(((m(1, 1) + T(1)) - m(0, 0)) - m(2, 2));
            w = (m(0, 2) - m(2, 0)) / s;
            x = (m(1, 0) + m(0, 1)) / s;
            y = T(0.25) * s;
            z = (m(1, 2) + m(2, 1)) / s;
        } else {
            const T s = T(2) * std::sqrt(((m(2, 2) + T(1)) - m(0, 0)) - m(1, 1));
            w = (m(1, 0) - m(0, 1)) / s;
            x = (m(0, 2) + m(2, 0)) / s;
            y = (m(1, 2) + m(2, 1)) / s;
            z = T(0.25) * s;
        }
    }

    static Quaternion RotationX(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, s, T(0), T(0)};
    }
    static Quaternion RotationY(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, T(0), s, T(0)};
    }
    static Quaternion RotationZ(T angle) {
        T s, c;
        math::sincos(angle * T(0.5), s, c);
        return {c, T(0), T(0), s};
    }

    constexpr T& operator[](int i) { return component(*this, i); }
    constexpr const T& operator[](int i) const { return component(*this, i); }
    T* data() { return &w; }
    const T* data() const { return &w; }

    Quaternion operator+(const Quaternion& b) const { return {w + b.w, x + b.x, y + b.y, z + b.z}; }
    Quaternion operator-(const Quaternion& b) const { return {w - b.w, x - b.x, y - b.y, z - b.z}; }
    Quaternion operator*(T s) const { return {w * s, x * s, y * s, z * s}; }

    // Four floats from the fields, which a load of all four would wait for
    // when they were just written one by one; lane pairs of doubles loaded
    // whole, which measured faster.
    ORVANE_INLINE static detail::Pack<T, 4> lanesOf(const Quaternion& q) {
        using P = detail::Pack<T, 4>;
        if constexpr (P::kPerLane == 4) {
            return P::of(q.w, q.x, q.y, q.z);
        } else {
            return P::load(&q);
        }
    }

    // Evaluated left to right as written; the product applies b first.
    //   w = w1 w2 - x1 x2 - y1 y2 - z1 z2,  x = w1 x2 + x1 w2 + y1 z2 - z1 y2,
    //   y = w1 y2 + y1 w2 + z1 x2 - x1 z2,  z = w1 z2 + z1 w2 + x1 y2 - y1 x2.
    Quaternion operator*(const Quaternion& b) const {
        Quaternion r;
        detail::hamilton(lanesOf(*this), lanesOf(b)).store(&r);
        return r;
    }

    // A difference of exactly epsilon is unequal; a NaN difference never is.
    bool operator==(const Quaternion& b) const {
        for (int i = 0; i < 4; ++i) {
            if (std::abs((*this)[i] - b[i]) >= kEpsilon<T>) return false;
        }
        return true;
    }
    bool operator!=(const Quaternion& b) const { return !(*this == b); }

    T lengthSquare() const { return ((w * w + x * x) + y * y) + z * z; }
    // Unqualified, so that a scalar type of several lanes brings its own.
    T length() const {
        using std::sqrt;
        return sqrt(lengthSquare());
    }

    Quaternion normalize() const {
        using P = detail::Pack<T, 4>;
        Quaternion r;
        (lanesOf(*this) / P::splat(length())).store(&r);
        return r;
    }
    void normalize_() { *this = normalize(); }

    Quaternion conjugate() const { return {w, -x, -y, -z}; }

    Quaternion inverse() const {
        const T r = T(1) / lengthSquare();
        return {w * r, -x * r, -y * r, -z * r};
    }

    // q * (0, v) * q^-1 with the full inverse, so any non-zero length
    // rotates without scaling.
    Vector3<T> rotate(const Vector3<T>& v) const {
        // Plain products: in lanes they spend on shuffles what they save on
        // arithmetic, in float too once inside a loop. The division goes
        // first, so that the first product hides its latency.
        const Quaternion qi = inverse();
        const Quaternion t = detail::hamiltonOf(*this, Quaternion(T(0), v.x, v.y, v.z));
        const Quaternion u = detail::hamiltonOf(t, qi);
        return {u.x, u.y, u.z};
    }

    Matrix3<T> toMatrix3() const {
        const Quaternion q = normalize();
        return detail::rotationOfUnit(q.w, q.x, q.y, q.z);
    }

    // Field by field: indexing past &w would be undefined. An index outside
    // 0..3 gives z.
    template <class Self>
    static constexpr auto& component(Self& q, int i) {
        switch (i) {
            case 0: return q.w;
            case 1: return q.x;
            case 2: return q.y;
            default: return q.z;
        }
    }
};

// data() hands out &w as the array w, x, y, z: the fields must be packed.
static_assert(std::is_standard_layout_v<Quaternion<float>> &&
              sizeof(Quaternion<float>) == 4 * sizeof(float));
static_assert(std::is_standard_layout_v<Quaternion<double>> &&
              sizeof(Quaternion<double>) == 4 * sizeof(double));

template <class T>
inline Quaternion<T> operator*(T s, const Quaternion<T>& q) {
    return q * s;
}

template <class T>
struct Components<Quaternion<T>> {
    using Scalar = T;
    static constexpr int size = 4;
    static T length(const Quaternion<T>& q) { return q.length(); }
    static Quaternion<T> normalized(const Quaternion<T>& q) { return q.normalize(); }
};

// Summed in the order w, x, y, z from the first product, like lengthSquare.
// Limited to scalar T so that &dot<Vector3<float>> still names the vector
// dot alone.
template <class T, std::enable_if_t<std::is_floating_point_v<T>, int> = 0>
inline T dot(const Quaternion<T>& a, const Quaternion<T>& b) {
    return ((a.w * b.w + a.x * b.x) + a.y * b.y) + a.z * b.z;
}

// The rotation of q / |q|, as q.toMatrix3() but over the whole range of
// lengths (and bit for bit equal to it within the safe range).
template <class T>
inline Matrix3<T> toMatrix3(const Quaternion<T>& q) {
    const Quaternion<T> u = scaledNormalize(q);
    return detail::rotationOfUnit(u.w, u.x, u.y, u.z);
}

template <class T>
inline Matrix4<T> toMatrix4(const Quaternion<T>& q) {
    return detail::linearTransform(toMatrix3(q));
}

template <class T>
inline Quaternion<T> toQuaternion(const Matrix3<T>& m) {
    return Quaternion<T>(m);
}

// The rotation block; the last row and column are ignored.
template <class T>
inline Quaternion<T> toQuaternion(const Matrix4<T>& m) {
    return Quaternion<T>(detail::linearBlock(m));
}

// Scalar last, (x, y, z, w), as many file formats and other tools store a
// quaternion. A reorder only: every bit is kept, NaN payloads too.
template <class T>
constexpr Quaternion<T> quaternionFromXyzw(const Vector4<T>& v) {
    return {v.w, v.x, v.y, v.z};
}

template <class T>
constexpr Vector4<T> toXyzw(const Quaternion<T>& q) {
    return {q.x, q.y, q.z, q.w};
}

template <class U, class T>
inline Quaternion<U> convert(const Quaternion<T>& q) {
    return {static_cast<U>(q.w), static_cast<U>(q.x), static_cast<U>(q.y), static_cast<U>(q.z)};
}

// The rotation by angle (radians, right-handed) about axis, of any length:
// the axis divided by its length, then scaled by sin(angle / 2), as the Euler
// axis-angle constructor does, and over the whole range of lengths. A zero
// axis gives 0 / 0, so NaN in the vector part, like every normalization of a
// zero vector; use quaternionFromRotationVector where a zero rotation must be
// accepted.
template <class T>
inline Quaternion<T> quaternionFromAxisAngle(const Vector3<T>& axis, T angle) {
    const Vector3<T> u = scaledNormalize(axis);
    T s, c;
    math::sincos(angle * T(0.5), s, c);
    return {c, u.x * s, u.y * s, u.z * s};
}

template <class T>
inline Matrix3<T> matrix3FromAxisAngle(const Vector3<T>& axis, T angle) {
    return quaternionFromAxisAngle(axis, angle).toMatrix3();
}

template <class T>
inline Matrix4<T> matrix4FromAxisAngle(const Vector3<T>& axis, T angle) {
    return toMatrix4(quaternionFromAxisAngle(axis, angle));
}

// Unit axis and angle in [0, pi]; the default is the identity's.
template <class T>
struct AxisAngle {
    Vector3<T> axis{T(1), T(0), T(0)};
    T angle = T(0);
};

namespace detail {

// +1 or -1, whichever turns q into the representative with w > 0 or, for
// w = 0, with the first non-zero of x, y, z positive: q and -q always pick
// the same one, even for a half turn.
template <class T>
inline T hemisphereSign(const Quaternion<T>& q) {
    const T first = q.w != T(0) ? q.w : q.x != T(0) ? q.x : q.y != T(0) ? q.y : q.z;
    return first < T(0) ? T(-1) : T(1);
}

}  // namespace detail

// The angle is 2 atan2(|v|, |w|) for the vector part v, which unlike
// 2 acos(w) keeps its digits for small angles and needs no unit length.
// q and -q give the same result. A zero vector part (the identity, also the
// zero quaternion) gives the default: axis (1, 0, 0), angle 0, unless w is
// NaN, which gives NaN everywhere.
template <class T>
inline AxisAngle<T> toAxisAngle(const Quaternion<T>& q) {
    const Vector3<T> v(q.x, q.y, q.z);
    const T n = scaledNorm(v);
    AxisAngle<T> r;
    if (n == T(0)) {
        if (std::isnan(q.w)) r = {{q.w, q.w, q.w}, q.w};
        return r;
    }
    const T sign = detail::hemisphereSign(q);
    const Vector3<T> u = scaledNormalize(v);
    r.axis = {sign * u.x, sign * u.y, sign * u.z};
    r.angle = T(2) * std::atan2(n, std::abs(q.w));
    return r;
}

// The rotation by |v| radians about v. sin(|v| / 2) / |v| tends to 1/2,
// which is also what the zero vector and a subnormal |v| (whose half is
// rounded) get, so there is no 0 / 0 near the identity and the vector part
// keeps full relative accuracy there.
template <class T>
inline Quaternion<T> quaternionFromRotationVector(const Vector3<T>& v) {
    const T theta = scaledNorm(v);
    T s, c;
    math::sincos(theta * T(0.5), s, c);
    const T k = theta >= std::numeric_limits<T>::min() ? s / theta : T(0.5);
    return {c, v.x * k, v.y * k, v.z * k};
}

// Axis times angle, the angle in [0, pi] as in toAxisAngle, so q and -q give
// the same vector. The factor angle / |v| tends to 2 / |w| near the identity;
// a zero vector part gives the zero vector, or NaN for a NaN w.
template <class T>
inline Vector3<T> toRotationVector(const Quaternion<T>& q) {
    const Vector3<T> v(q.x, q.y, q.z);
    const T n = scaledNorm(v);
    if (n == T(0)) return std::isnan(q.w) ? Vector3<T>(q.w) : Vector3<T>();
    const T angle = T(2) * std::atan2(n, std::abs(q.w));
    return v * ((detail::hemisphereSign(q) * angle) / n);
}

namespace detail {

// A half turn about an axis perpendicular to the unit vector u: u x e for
// the coordinate axis e least aligned with u (the first of equals).
template <class T>
inline Quaternion<T> halfTurnAcross(const Vector3<T>& u) {
    const T ax = std::abs(u.x), ay = std::abs(u.y), az = std::abs(u.z);
    Vector3<T> e;
    if (ax <= ay && ax <= az) {
        e.x = T(1);
    } else if (ay <= az) {
        e.y = T(1);
    } else {
        e.z = T(1);
    }
    const Vector3<T> p = normalize(cross(u, e));
    return {T(0), p.x, p.y, p.z};
}

}  // namespace detail

// The shortest rotation taking the direction of a to that of b. With unit u,
// v and the bisector h = u + v, (|h|^2 / 2, u x h) is that rotation scaled
// by |h|. Past a right angle h is the short diagonal, and the rounding of |u|
// and |v| (along d = u - v) would tilt it by eps / |h|: only its part
// perpendicular to d is kept, and with that part |h|^2 / 2 is exactly u.h
// with no cancellation, so the result still takes u onto v close to
// opposite directions. When the kept part is no larger than the rounding
// the directions are opposite, and the result is halfTurnAcross(u).
// A zero or non-finite input gives NaN in all four components.
template <class T>
inline Quaternion<T> quaternionBetween(const Vector3<T>& a, const Vector3<T>& b) {
    const Vector3<T> u = scaledNormalize(a), v = scaledNormalize(b);
    const Vector3<T> d = u - v;
    Vector3<T> h = u + v;
    const T hh = dot(h, h), dd = dot(d, d);
    if (dd > hh) {
        h = h - d * (dot(h, d) / dd);
        const T noise = T(16) * std::numeric_limits<T>::epsilon();
        const T kept = dot(h, h);
        if (!(kept > (noise * noise) * hh) || !(kept >= std::numeric_limits<T>::min())) {
            return detail::halfTurnAcross(u);
        }
    }
    const Vector3<T> c = cross(u, h);
    return Quaternion<T>(T(0.5) * dot(h, h), c.x, c.y, c.z).normalize();
}

namespace detail {

// Unit a and b with dot(a, b) >= 0.
template <class T>
inline Quaternion<T> nlerpUnit(const Quaternion<T>& a, const Quaternion<T>& b, T t) {
    return scaledNormalize(a * (T(1) - t) + b * t);
}

// Below this angle between the unit quaternions slerp and nlerp agree to
// rounding, while sin(theta) would soon be too small to divide by.
template <class T>
inline constexpr T kSlerpLinearAngle = T(1e-6);

}  // namespace detail

// Normalized linear interpolation of the normalized inputs along the shorter
// arc (q1 negated when dot < 0). t is not clamped.
template <class T>
inline Quaternion<T> nlerp(const Quaternion<T>& q0, const Quaternion<T>& q1, T t) {
    const Quaternion<T> a = scaledNormalize(q0);
    Quaternion<T> b = scaledNormalize(q1);
    if (dot(a, b) < T(0)) b = b * T(-1);
    return detail::nlerpUnit(a, b, t);
}

// Spherical interpolation of the normalized inputs a and b along the shorter
// arc (b negated when dot < 0); t outside [0, 1] extrapolates. t = 0 gives
// q0 / |q0| and t = 1 gives +-q1 / |q1| exactly. The angle theta between a
// and b is 2 atan2(|a - b|, |a + b|), accurate where acos of the dot is not;
// the result is a * (sin((1 - t) theta) / sin theta) + b * (sin(t theta) /
// sin theta), or nlerp's below kSlerpLinearAngle. A zero quaternion gives
// NaN.
template <class T>
inline Quaternion<T> slerp(const Quaternion<T>& q0, const Quaternion<T>& q1, T t) {
    const Quaternion<T> a = scaledNormalize(q0);
    Quaternion<T> b = scaledNormalize(q1);
    if (dot(a, b) < T(0)) b = b * T(-1);
    if (t == T(0)) return a;
    if (t == T(1)) return b;
    const T theta = T(2) * std::atan2((a - b).length(), (a + b).length());
    if (theta < detail::kSlerpLinearAngle<T>) return detail::nlerpUnit(a, b, t);
    const T s = std::sin(theta);
    return a * (std::sin((T(1) - t) * theta) / s) + b * (std::sin(t * theta) / s);
}

// The angle in [0, pi] of the rotation taking q0 to q1, that of q1 * q0^-1:
// twice the angle between the unit quaternions a and +-b, whichever sign is
// nearer, by the same atan2 form as slerp, so it is accurate near 0 and
// near pi. A zero quaternion gives NaN.
template <class T>
inline T angleBetween(const Quaternion<T>& q0, const Quaternion<T>& q1) {
    const Quaternion<T> a = scaledNormalize(q0), b = scaledNormalize(q1);
    const T d = (a - b).length(), s = (a + b).length();
    return T(4) * (d < s ? std::atan2(d, s) : std::atan2(s, d));
}

}  // namespace math
