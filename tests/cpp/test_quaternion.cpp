#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <type_traits>

#include "math/quaternion.hpp"

using math::Matrix3;
using math::Quaternion;
using math::Vector3;

namespace {

template <class T>
void ExpectComponents(const Quaternion<T>& q, T w, T x, T y, T z) {
    EXPECT_EQ(q.w, w);
    EXPECT_EQ(q.x, x);
    EXPECT_EQ(q.y, y);
    EXPECT_EQ(q.z, z);
}

}  // namespace

// Results of float operations must be computed in float, never via double.
TEST(Quaternion, FloatArithmeticStaysFloat) {
    const Quaternion<float> a(0.1f, 0.7f, -1.3f, 2.9f), b(1.7f, -0.3f, 0.11f, 0.23f);
    static_assert(std::is_same_v<decltype(a.length()), float>);
    static_assert(std::is_same_v<decltype(a.toMatrix3()), Matrix3<float>>);
    volatile float t0 = a.w * b.w, t1 = a.x * b.x, t2 = a.y * b.y, t3 = a.z * b.z;
    volatile float w = t0;
    w = w - t1;
    w = w - t2;
    w = w - t3;
    EXPECT_EQ((a * b).w, w);
    volatile float s0 = a.w * a.w, s1 = a.x * a.x, s2 = a.y * a.y, s3 = a.z * a.z;
    volatile float sum = s0;
    sum = sum + s1;
    sum = sum + s2;
    sum = sum + s3;
    EXPECT_EQ(a.lengthSquare(), sum);
    EXPECT_EQ(a.length(), sqrtf(sum));
    float s, c;
    ::sincosf(0.7f * 0.5f, &s, &c);
    ExpectComponents(Quaternion<float>::RotationY(0.7f), c, 0.0f, s, 0.0f);
}

TEST(Quaternion, DefaultIsIdentity) {
    ExpectComponents(Quaternion<double>(), 1.0, 0.0, 0.0, 0.0);
    ExpectComponents(Quaternion<float>(2.0f), 2.0f, 0.0f, 0.0f, 0.0f);
}

// One diagonal matrix per branch of the conversion: the trace branch, then
// the largest of the three diagonal elements.
TEST(Quaternion, MatrixConstructorBranches) {
    ExpectComponents(Quaternion<float>(Matrix3<float>(1, 1, 1)), 1.0f, 0.0f, 0.0f, 0.0f);
    ExpectComponents(Quaternion<float>(Matrix3<float>(1, -1, -1)), 0.0f, 1.0f, 0.0f, 0.0f);
    ExpectComponents(Quaternion<double>(Matrix3<double>(-1, 1, -1)), 0.0, 0.0, 1.0, 0.0);
    ExpectComponents(Quaternion<double>(Matrix3<double>(-1, -1, 1)), 0.0, 0.0, 0.0, 1.0);
}

// Strict comparisons: a zero trace skips the first branch, and a tie between
// two diagonal elements goes to the later one.
TEST(Quaternion, MatrixConstructorTiesFallThrough) {
    const double half_root3 = std::sqrt(3.0) / 2, half_root2 = std::sqrt(2.0) / 2;
    ExpectComponents(Quaternion<double>(Matrix3<double>(1, -1, 0)), 0.0, half_root3, 0.0, 0.0);
    ExpectComponents(Quaternion<double>(Matrix3<double>(0, 0, -1)), 0.0, 0.0, half_root2, 0.0);
    ExpectComponents(Quaternion<double>(Matrix3<double>(-1, 0, 0)), 0.0, 0.0, 0.0, half_root2);
}

TEST(Quaternion, ToMatrixNormalizesFirst) {
    const Matrix3<float> m = Quaternion<float>(2, 0, 0, 0).toMatrix3();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) EXPECT_EQ(m(i, j), i == j ? 1.0f : 0.0f) << i << j;
    }
}

// The full inverse makes the rotation independent of the length.
TEST(Quaternion, RotateIgnoresTheLength) {
    const auto q = Quaternion<double>::RotationZ(1.5707963267948966);
    const Vector3<double> r1 = q.rotate({1, 0, 0});
    const Vector3<double> r2 = (q * 2.0).rotate({1, 0, 0});
    EXPECT_NEAR(r1.x, 0.0, 1e-15);
    EXPECT_NEAR(r1.y, 1.0, 1e-15);
    EXPECT_NEAR(r2.x, 0.0, 1e-15);
    EXPECT_NEAR(r2.y, 1.0, 1e-15);
    EXPECT_EQ(r2.z, 0.0);
}

TEST(Quaternion, EqualityToleranceAndNaN) {
    const Quaternion<float> zero(0, 0, 0, 0);
    EXPECT_FALSE((zero == Quaternion<float>(0, 0, 0, 1e-6f)));
    EXPECT_TRUE((Quaternion<double>(0, 0, 0, 0) == Quaternion<double>(5e-7, 0, 0, 0)));
    EXPECT_TRUE((zero == Quaternion<float>(0, NAN, 0, 0)));
    EXPECT_FALSE((zero != Quaternion<float>(0, NAN, 0, 0)));
}

// Scalar last and back is a reorder: a NaN keeps its sign and payload.
TEST(Quaternion, XyzwReordersEveryBit) {
    const float nan = -std::nanf("0x12345");
    const math::Vector4<float> stored(2, 3, 4, nan);
    const Quaternion<float> q = math::quaternionFromXyzw(stored);
    EXPECT_EQ(std::memcmp(&q.w, &nan, sizeof nan), 0);
    EXPECT_EQ(q.x, 2.0f);
    EXPECT_EQ(q.y, 3.0f);
    EXPECT_EQ(q.z, 4.0f);
    const math::Vector4<float> back = math::toXyzw(q);
    EXPECT_EQ(std::memcmp(&back, &stored, sizeof back), 0);
    static_assert(math::quaternionFromXyzw(math::Vector4<double>(1, 2, 3, 4)).w == 4);
    static_assert(math::toXyzw(Quaternion<double>(1, 2, 3, 4)).w == 1);
}
