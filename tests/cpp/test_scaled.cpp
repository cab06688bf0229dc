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
class Scaled : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Scaled, Precisions);

// Wherever the plain formulas neither overflow nor underflow the scaled ones
// give their bits (the power of two is exact), for vectors and quaternions;
// this reaches past the range where the plain ones run.
TYPED_TEST(Scaled, KeepsThePlainBitsWhereTheyHold) {
    using T = TypeParam;
    constexpr int top = std::numeric_limits<T>::max_exponent / 2 - 4;
    std::mt19937 rng(7);
    std::uniform_real_distribution<T> value(0.5, 4);
    std::uniform_int_distribution<int> exponent(-top - 1, top);
    auto same = [](auto a, auto b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (int k = 0; k < 4000; ++k) {
        const int e = exponent(rng);
        auto draw = [&] { return std::ldexp(rng() % 2 ? value(rng) : -value(rng), e); };
        const math::Vector3<T> v(draw(), draw(), draw());
        const math::Quaternion<T> q(draw(), draw(), draw(), draw());
        EXPECT_TRUE(same(math::scaledNorm(v), math::norm(v)));
        EXPECT_TRUE(same(math::scaledNorm(q), q.length()));
        EXPECT_TRUE(same(math::scaledNormalize(v), math::normalize(v)));
        EXPECT_TRUE(same(math::scaledNormalize(q), q.normalize()));
    }
}

// From the smallest subnormal to the largest finite length: 2^e (3, 4, 12)
// has the length 13 * 2^e exactly. Zero, infinity and NaN stay as they were.
TYPED_TEST(Scaled, ExactOverTheWholeRange) {
    using T = TypeParam;
    using limits = std::numeric_limits<T>;
    for (int e = limits::min_exponent - limits::digits; e <= limits::max_exponent - 5; ++e) {
        const math::Vector3<T> v(std::ldexp(T(3), e), std::ldexp(T(4), e), std::ldexp(T(12), e));
        EXPECT_EQ(math::scaledNorm(v), std::ldexp(T(13), e)) << e;
        EXPECT_EQ(math::scaledNormalize(v).z, T(12) / T(13)) << e;
        const math::Quaternion<T> q(0, std::ldexp(T(3), e), 0, std::ldexp(T(-4), e));
        EXPECT_EQ(math::scaledNorm(q), std::ldexp(T(5), e)) << e;
        EXPECT_EQ(math::scaledNormalize(q).z, T(-4) / T(5)) << e;
    }
    EXPECT_EQ(math::scaledNorm(math::Vector3<T>()), T(0));
    EXPECT_TRUE(std::isnan(math::scaledNormalize(math::Vector3<T>()).x));
    EXPECT_EQ(math::scaledNorm(math::Vector3<T>(1, limits::infinity(), 0)), limits::infinity());
    const math::Vector3<T> u =
        math::scaledNormalize(math::Vector3<T>(limits::quiet_NaN(), limits::max(), 0));
    EXPECT_TRUE(std::isnan(u.x) && std::isnan(u.y) && std::isnan(u.z));
}

}  // namespace
