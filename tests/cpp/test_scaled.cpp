#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "math/quaternion.hpp"
#include "math/scaled.hpp"
#include "math/vector.hpp"

namespace {

template <class T>
bool sameBits(T a, T b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class T>
class Scaled : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Scaled, Precisions);

// Wherever the plain formulas neither overflow nor underflow they give the
// same bits as the scaled ones (the power of two is exact), for vectors and
// quaternions alike; this reaches past the range where the plain ones run.
TYPED_TEST(Scaled, KeepsThePlainBitsWhereTheyHold) {
    using T = TypeParam;
    constexpr int top = std::numeric_limits<T>::max_exponent / 2 - 4;
    std::mt19937 rng(7);
    std::uniform_real_distribution<T> value(0.5, 4);
    std::uniform_int_distribution<int> exponent(-top - 1, top);
    auto draw = [&](int e) { return std::ldexp(rng() % 2 ? value(rng) : -value(rng), e); };
    for (int k = 0; k < 4000; ++k) {
        const int e = exponent(rng);
        const math::Vector3<T> v(draw(e), draw(e), draw(e));
        const math::Quaternion<T> q(draw(e), draw(e), draw(e), draw(e));
        EXPECT_TRUE(sameBits(math::scaledNorm(v), math::norm(v)));
        EXPECT_TRUE(sameBits(math::scaledNorm(q), q.length()));
        const math::Vector3<T> u = math::scaledNormalize(v), n = math::normalize(v);
        const math::Quaternion<T> p = math::scaledNormalize(q), r = q.normalize();
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(sameBits(u[i], n[i]));
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(sameBits(p[i], r[i]));
    }
}

// From the smallest subnormal to the largest finite length: the true
// length (a power of two times 3, 4, 12 gives 13 exactly) and unit vectors.
TYPED_TEST(Scaled, ExactOverTheWholeRange) {
    using T = TypeParam;
    using limits = std::numeric_limits<T>;
    for (int e = limits::min_exponent - limits::digits; e <= limits::max_exponent - 5; ++e) {
        const math::Vector3<T> v(std::ldexp(T(3), e), std::ldexp(T(4), e), std::ldexp(T(12), e));
        EXPECT_EQ(math::scaledNorm(v), std::ldexp(T(13), e)) << e;
        const math::Vector3<T> u = math::scaledNormalize(v);
        EXPECT_EQ(u.x, T(3) / T(13)) << e;
        EXPECT_EQ(u.z, T(12) / T(13)) << e;
        const math::Quaternion<T> q(0, std::ldexp(T(3), e), 0, std::ldexp(T(-4), e));
        EXPECT_EQ(math::scaledNorm(q), std::ldexp(T(5), e)) << e;
        EXPECT_EQ(math::scaledNormalize(q).z, T(-4) / T(5)) << e;
    }
}

TYPED_TEST(Scaled, ZeroInfinityAndNaN) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    EXPECT_TRUE(sameBits(math::scaledNorm(math::Vector3<T>()), T(0)));
    EXPECT_TRUE(std::isnan(math::scaledNormalize(math::Vector3<T>()).x));
    EXPECT_EQ(math::scaledNorm(math::Vector3<T>(1, inf, 1e-30f)), inf);
    EXPECT_TRUE(std::isnan(math::scaledNormalize(math::Vector3<T>(1, inf, 0)).y));
    for (const T big : {T(1), std::numeric_limits<T>::max(), std::numeric_limits<T>::denorm_min()}) {
        EXPECT_TRUE(std::isnan(math::scaledNorm(math::Vector3<T>(big, nan, 0))));
        const math::Vector3<T> u = math::scaledNormalize(math::Vector3<T>(nan, big, 0));
        EXPECT_TRUE(std::isnan(u.x) && std::isnan(u.y) && std::isnan(u.z));
    }
}

}  // namespace
