#pragma once

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
};

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
};

}  // namespace math
