#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "math/matrix.hpp"

using math::Matrix2;
using math::Matrix3;
using math::Matrix4;

namespace {

const Matrix4<float> kSample(0.7f, -1.3f, 2.9f, 0.11f, 1.7f, 0.23f, -0.61f, 3.1f, -2.2f, 0.37f,
                             1.9f, -0.83f, 0.41f, 2.6f, -1.1f, 0.53f);

// The 3x3 block above with a 1 in the corner: every cofactor is an exact integer.
const Matrix4<float> kIntegerBlock(0, 0, 2, 0, 3, -3, -2, 0, 2, 3, -2, 0, 0, 0, 0, 1);

}  // namespace

TEST(Matrix, FloatResultsStayFloat) {
    static_assert(std::is_same_v<decltype(math::determinant(kSample)), float>);
    static_assert(std::is_same_v<decltype(math::trace(kSample)), float>);
    static_assert(std::is_same_v<decltype(kSample * kSample.m[0]), Matrix4<float>>);
    static_assert(std::is_same_v<decltype(kSample * math::Vector4<float>()), math::Vector4<float>>);
    static_assert(sizeof(Matrix4<double>) == 16 * sizeof(double));
    std::uint32_t bits;
    std::memcpy(&bits, &math::kRadiansPerDegree<float>, sizeof bits);
    EXPECT_EQ(bits, 0x3C8EFA35u);
}

// The expansion along column 0 with the 2x2 minors of columns 2 and 3,
// written out term by term.
TEST(Matrix, Determinant4GroupsAsExpanded) {
    const auto& m = kSample;
    auto D = [&](int p, int q) { return m(p, 2) * m(q, 3) - m(q, 2) * m(p, 3); };
    const float expected = m(0, 0) * (m(1, 1) * D(2, 3) - m(2, 1) * D(1, 3) + m(3, 1) * D(1, 2)) -
                           m(1, 0) * (m(0, 1) * D(2, 3) - m(2, 1) * D(0, 3) + m(3, 1) * D(0, 2)) +
                           m(2, 0) * (m(0, 1) * D(1, 3) - m(1, 1) * D(0, 3) + m(3, 1) * D(0, 1)) -
                           m(3, 0) * (m(0, 1) * D(1, 2) - m(1, 1) * D(0, 2) + m(2, 1) * D(0, 1));
    EXPECT_EQ(math::determinant(m), expected);
    const Matrix3<float> a(0.7f, -1.3f, 2.9f, 1.7f, 0.23f, -0.61f, -2.2f, 0.37f, 1.9f);
    const float expected3 = a(0, 0) * (a(1, 1) * a(2, 2) - a(2, 1) * a(1, 2)) -
                            a(1, 0) * (a(0, 1) * a(2, 2) - a(2, 1) * a(0, 2)) +
                            a(2, 0) * (a(0, 1) * a(1, 2) - a(1, 1) * a(0, 2));
    EXPECT_EQ(math::determinant(a), expected3);
}

// 12 / 30 and 12 * (1 / 30) differ in float: the 3x3 and 4x4 inverses
// multiply by one reciprocal, the 2x2 inverse divides.
TEST(Matrix, InverseDividesOnceAboveOrderTwo) {
    const Matrix3<float> a(0, 0, 2, 3, -3, -2, 2, 3, -2);
    const float r = 1.0f / 30.0f;
    ASSERT_NE(12.0f / 30.0f, 12.0f * r);
    EXPECT_EQ(math::determinant(a), 30.0f);
    EXPECT_EQ(math::inverse(a)(0, 0), 12.0f * r);
    EXPECT_EQ(math::inverse(a)(0, 1), 6.0f * r);
    EXPECT_EQ(math::inverse(kIntegerBlock)(0, 0), 12.0f * r);
    EXPECT_EQ(math::inverse(kIntegerBlock)(1, 2), 6.0f * r);
    EXPECT_EQ(math::inverse(kIntegerBlock)(3, 3), 30.0f * r);
    const Matrix2<float> b(5, 1, 2, 1);
    ASSERT_NE(5.0f / 3.0f, 5.0f * (1.0f / 3.0f));
    EXPECT_EQ(math::inverse(b)(1, 1), 5.0f / 3.0f);
    EXPECT_EQ(math::inverse(b)(0, 1), -1.0f / 3.0f);
}

TEST(Matrix, InverseOfSingularMatrixIsNonFinite) {
    const Matrix4<double> inverse = math::inverse(Matrix4<double>());
    for (double v : inverse.m) EXPECT_TRUE(std::isnan(v));
    const Matrix2<float> twice = math::inverse(Matrix2<float>(1, 2, 2, 4));
    EXPECT_TRUE(std::isinf(twice(0, 0)) && twice(0, 0) > 0);
    EXPECT_TRUE(std::isinf(twice(0, 1)) && twice(0, 1) < 0);
}

TEST(Matrix, RotationsUseOneSincos) {
    float s, c;
    ::sincosf(0.3f, &s, &c);
    const Matrix3<float> z = Matrix3<float>::RotationZ(0.3f);
    EXPECT_EQ(z, Matrix3<float>(c, -s, 0, s, c, 0, 0, 0, 1));
    EXPECT_EQ(z(0, 1), -s);
    const Matrix4<float> x = Matrix4<float>::RotationX(0.3f);
    EXPECT_EQ(x(2, 1), s);
    EXPECT_EQ(x(1, 2), -s);
    EXPECT_EQ(x(3, 3), 1.0f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(x(k, 3), 0.0f);
        EXPECT_EQ(x(3, k), 0.0f);
    }
    EXPECT_DOUBLE_EQ(Matrix2<double>::Rotation(0.3)(1, 0), std::sin(0.3));
}

TEST(Matrix, PerspectiveInTheStatedOrder) {
    const float q = tanf((60.0f * 0.5f) * 0.017453292f);
    const float g = 1.0f / q;
    const Matrix4<float> p = Matrix4<float>::Perspective(60.0f, 1.7f, 0.3f, 70.0f);
    EXPECT_EQ(p(0, 0), g / 1.7f);
    EXPECT_EQ(p(1, 1), g);
    EXPECT_EQ(p(2, 2), (0.3f + 70.0f) / (0.3f - 70.0f));
    EXPECT_EQ(p(2, 3), 2.0f * (0.3f * 70.0f) / (0.3f - 70.0f));
    EXPECT_EQ(p(3, 2), -1.0f);
    EXPECT_EQ(p(3, 3), 0.0f);
    const Matrix4<float> o = Matrix4<float>::Perspective(-0.4f, 0.9f, 0.7f, -0.2f, 0.3f, 70.0f);
    EXPECT_EQ(o(0, 0), (0.3f + 0.3f) / (0.9f + 0.4f));
    EXPECT_EQ(o(0, 2), (0.9f - 0.4f) / (0.9f + 0.4f));
    EXPECT_EQ(o(1, 2), (0.7f - 0.2f) / (0.7f + 0.2f));
    EXPECT_EQ(o(2, 2), -(0.3f + 70.0f) / (70.0f - 0.3f));
    EXPECT_EQ(o(2, 3), (-2.0f * 70.0f) * 0.3f / (70.0f - 0.3f));
}
