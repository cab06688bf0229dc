#pragma once

#include <cmath>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>

#include "lanes.hpp"
#include "scalar.hpp"
#include "scaled.hpp"

namespace math {

template <class T>
struct Vector2 {
    T x, y;

    constexpr Vector2() : x(0), y(0) {}
    constexpr explicit Vector2(T s) : x(s), y(s) {}
    constexpr Vector2(T x_, T y_) : x(x_), y(y_) {}

    constexpr T& operator[](int i) { return component(*this, i); }
    constexpr const T& operator[](int i) const { return component(*this, i); }
    T* data() { return &x; }
    const T* data() const { return &x; }

    Vector2 operator+(const Vector2& b) const { return {x + b.x, y + b.y}; }
    Vector2 operator-(const Vector2& b) const { return {x - b.x, y - b.y}; }
    Vector2 operator*(const Vector2& b) const { return {x * b.x, y * b.y}; }
    Vector2 operator*(T s) const { return {x * s, y * s}; }
    Vector2 operator-() const { return {-x, -y}; }

    // Field by field: indexing past &x would be undefined. An index
    // outside 0..1 gives the last component.
    template <class Self>
    static constexpr auto& component(Self& v, int i) {
        switch (i) {
            case 0: return v.x;
            default: return v.y;
        }
    }
};

template <class T>
struct Vector3 {
    T x, y, z;

    constexpr Vector3() : x(0), y(0), z(0) {}
    constexpr explicit Vector3(T s) : x(s), y(s), z(s) {}
    constexpr Vector3(T a, T b) : x(a), y(b), z(b) {}
    constexpr Vector3(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}

    constexpr T& operator[](int i) { return component(*this, i); }
    constexpr const T& operator[](int i) const { return component(*this, i); }
    T* data() { return &x; }
    const T* data() const { return &x; }

    Vector3 operator+(const Vector3& b) const { return {x + b.x, y + b.y, z + b.z}; }
    Vector3 operator-(const Vector3& b) const { return {x - b.x, y - b.y, z - b.z}; }
    Vector3 operator*(const Vector3& b) const { return {x * b.x, y * b.y, z * b.z}; }
    Vector3 operator*(T s) const { return {x * s, y * s, z * s}; }
    Vector3 operator-() const { return {-x, -y, -z}; }

    // Field by field: indexing past &x would be undefined. An index
    // outside 0..2 gives the last component.
    template <class Self>
    static constexpr auto& component(Self& v, int i) {
        switch (i) {
            case 0: return v.x;
            case 1: return v.y;
            default: return v.z;
        }
    }
};

template <class T>
struct Vector4 {
    T x, y, z, w;

    constexpr Vector4() : x(0), y(0), z(0), w(0) {}
    constexpr explicit Vector4(T s) : x(s), y(s), z(s), w(s) {}
    constexpr Vector4(T a, T b) : x(a), y(b), z(b), w(b) {}
    constexpr Vector4(T a, T b, T c) : x(a), y(b), z(c), w(c) {}
    constexpr Vector4(T x_, T y_, T z_, T w_) : x(x_), y(y_), z(z_), w(w_) {}

    constexpr T& operator[](int i) { return component(*this, i); }
    constexpr const T& operator[](int i) const { return component(*this, i); }
    T* data() { return &x; }
    const T* data() const { return &x; }

    Vector4 operator+(const Vector4& b) const { return {x + b.x, y + b.y, z + b.z, w + b.w}; }
    Vector4 operator-(const Vector4& b) const { return {x - b.x, y - b.y, z - b.z, w - b.w}; }
    Vector4 operator*(const Vector4& b) const { return {x * b.x, y * b.y, z * b.z, w * b.w}; }
    Vector4 operator*(T s) const { return {x * s, y * s, z * s, w * s}; }
    Vector4 operator-() const { return {-x, -y, -z, -w}; }

    // Field by field: indexing past &x would be undefined. An index
    // outside 0..3 gives the last component.
    template <class Self>
    static constexpr auto& component(Self& v, int i) {
        switch (i) {
            case 0: return v.x;
            case 1: return v.y;
            case 2: return v.z;
            default: return v.w;
        }
    }
};

// Number of components and scalar type of a vector type.
// Empty for non-vectors, so the generic vector functions below drop out of
// overload resolution for every other type.
template <class V>
struct VectorTraits {};
template <class T>
struct VectorTraits<Vector2<T>> {
    using Scalar = T;
    static constexpr int size = 2;
};
template <class T>
struct VectorTraits<Vector3<T>> {
    using Scalar = T;
    static constexpr int size = 3;
};
template <class T>
struct VectorTraits<Vector4<T>> {
    using Scalar = T;
    static constexpr int size = 4;
};

// data() hands out &x as the array of the components: they must be packed.
template <class V, class T = typename VectorTraits<V>::Scalar>
inline constexpr bool kPacked = std::is_standard_layout_v<V> &&
                                sizeof(V) == VectorTraits<V>::size * sizeof(T);
static_assert(kPacked<Vector2<float>> && kPacked<Vector3<float>> && kPacked<Vector4<float>>);
static_assert(kPacked<Vector2<double>> && kPacked<Vector3<double>> && kPacked<Vector4<double>>);

// A difference of exactly epsilon is unequal; a NaN difference never is.
template <class V, class T = typename VectorTraits<V>::Scalar>
inline bool operator==(const V& a, const V& b) {
    for (int i = 0; i < VectorTraits<V>::size; ++i) {
        if (std::abs(a[i] - b[i]) >= kEpsilon<T>) return false;
    }
    return true;
}

template <class V, class = typename VectorTraits<V>::Scalar>
inline bool operator!=(const V& a, const V& b) {
    return !(a == b);
}

// Accumulated from +0 so that a sum of -0 products gives +0.
template <class V>
inline typename VectorTraits<V>::Scalar dot(const V& a, const V& b) {
    typename VectorTraits<V>::Scalar sum(0);
    for (int i = 0; i < VectorTraits<V>::size; ++i) sum += a[i] * b[i];
    return sum;
}

template <class V>
inline typename VectorTraits<V>::Scalar squareNorm(const V& v) {
    return dot(v, v);
}

template <class V>
inline typename VectorTraits<V>::Scalar norm(const V& v) {
    using std::sqrt;  // a scalar type of several lanes brings its own
    return sqrt(squareNorm(v));
}

// A true division per component, with no guard against a zero length.
template <class V, class = typename VectorTraits<V>::Scalar>
inline V normalize(const V& v) {
    using P = detail::Pack<typename VectorTraits<V>::Scalar, VectorTraits<V>::size>;
    const P r = P::load(&v) / P::splat(norm(v));
    V out;
    r.store(&out);
    return out;
}

template <class V, class = typename VectorTraits<V>::Scalar>
inline void normalize_(V& v) {
    v = normalize(v);
}

template <class T>
inline Vector3<T> cross(const Vector3<T>& a, const Vector3<T>& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

template <class V>
inline V lerp(const V& a, const V& b, typename VectorTraits<V>::Scalar t) {
    using T = typename VectorTraits<V>::Scalar;
    const T u = T(1) - t;
    V r;
    for (int i = 0; i < VectorTraits<V>::size; ++i) r[i] = a[i] * u + t * b[i];
    return r;
}

template <class V>
struct Components<V, std::void_t<typename VectorTraits<V>::Scalar>> {
    using Scalar = typename VectorTraits<V>::Scalar;
    static constexpr int size = VectorTraits<V>::size;
    static Scalar length(const V& v) { return norm(v); }
    static V normalized(const V& v) { return normalize(v); }
};

template <class V>
inline typename VectorTraits<V>::Scalar distance(const V& a, const V& b) {
    return scaledNorm(a - b);
}

// The angle in [0, pi] between the directions of a and b, from the unit
// vectors u and v as 2 atan2(|u - v|, |u + v|): accurate near 0 and near pi,
// where acos of the dot product loses half the digits. A zero vector
// normalizes to NaN and so gives NaN.
template <class V>
inline typename VectorTraits<V>::Scalar angle(const V& a, const V& b) {
    using T = typename VectorTraits<V>::Scalar;
    const V u = scaledNormalize(a), v = scaledNormalize(b);
    return T(2) * std::atan2(norm(u - v), norm(u + v));
}

// v mirrored in the plane through the origin with the given normal, computed
// as v - n * (2 * dot(v, n)). The normal is used as given: it should have
// unit length.
template <class V>
inline V reflect(const V& v, const V& normal) {
    using T = typename VectorTraits<V>::Scalar;
    return v - normal * (T(2) * dot(v, normal));
}

// The component of v along onto: onto * (dot(v, onto) / dot(onto, onto)).
// A zero onto gives 0 / 0, so NaN in every component. The result does not
// change when onto is scaled, so where the products might overflow or
// underflow onto is first brought near unit length by a power of two.
template <class V>
inline V projectOnto(const V& v, const V& onto) {
    using T = typename VectorTraits<V>::Scalar;
    const T m = detail::largestMagnitude(onto);
    if (detail::withinRange<2>(m) && detail::withinRange<2>(detail::largestMagnitude(v))) {
        return onto * (dot(v, onto) / dot(onto, onto));
    }
    const V o = detail::scaledBy(onto, -detail::scaleExponent(m));
    return o * (dot(v, o) / dot(o, o));
}

// Precision conversions, math::convert<U>(v): each component rounded to the
// nearest U.
template <class U, class T>
inline Vector2<U> convert(const Vector2<T>& v) {
    return {static_cast<U>(v.x), static_cast<U>(v.y)};
}

template <class U, class T>
inline Vector3<U> convert(const Vector3<T>& v) {
    return {static_cast<U>(v.x), static_cast<U>(v.y), static_cast<U>(v.z)};
}

template <class U, class T>
inline Vector4<U> convert(const Vector4<T>& v) {
    return {static_cast<U>(v.x), static_cast<U>(v.y), static_cast<U>(v.z), static_cast<U>(v.w)};
}

template <class T>
inline const char* precisionLetter() {
    return std::is_same_v<T, float> ? "f" : "d";
}

// Default stream formatting, except that every NaN reads "nan": the stream
// would show the sign bit of a NaN, which carries no meaning.
inline std::ostream& writeNumber(std::ostream& out, double value) {
    if (std::isnan(value)) return out << "nan";
    return out << value;
}

// Six significant digits, trailing zeros dropped.
template <class T>
inline std::string toString(const Vector3<T>& v) {
    std::ostringstream out;
    out << "Vector3" << precisionLetter<T>() << "(";
    writeNumber(out, v.x) << ", ";
    writeNumber(out, v.y) << ", ";
    writeNumber(out, v.z) << ")";
    return out.str();
}

}  // namespace math
