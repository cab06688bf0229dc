#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "math/rotation_sets.hpp"

using math::Quaternion;
using math::SetStatus;
using math::StridedSpan;
using math::Vector3;

namespace {

template <class T>
class RotationSets : public ::testing::Test {};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(RotationSets, Precisions);

template <class T>
StridedSpan<T> span_of(const Vector3<T>* v, int n) {
    return {v, n, sizeof(Vector3<T>), sizeof(T)};
}

template <class T>
T distance(const Quaternion<T>& a, const Quaternion<T>& b) {
    return std::abs(std::abs(math::dot(a, b)) - T(1));
}

}  // namespace

TYPED_TEST(RotationSets, SetsMadeByOneSimilarityGiveItBack) {
    using T = TypeParam;
    const T tol = 100 * std::numeric_limits<T>::epsilon();
    std::mt19937 rng{3};
    std::uniform_real_distribution<T> u(T(-1), T(1));
    const Quaternion<T> q = math::quaternionFromUniforms(Vector3<T>(T(0.3), T(0.6), T(0.9)));
    EXPECT_NEAR(math::dot(q, q), T(1), tol);
    const math::Matrix3<T> r = math::toMatrix3(q);
    Vector3<T> a[8], b[8];
    Quaternion<T> copies[8];
    for (int i = 0; i < 8; ++i) {
        b[i] = {u(rng), u(rng), u(rng)};
        a[i] = r * b[i] * T(2) + Vector3<T>(T(1), T(2), T(3));
        copies[i] = i % 2 ? q : q * T(-3);  // either sign, any length
    }
    const StridedSpan<T> ones{};
    const auto mean = math::quaternionMean(StridedSpan<T>{copies, 8, sizeof q, sizeof(T)}, ones);
    EXPECT_EQ(mean.status, SetStatus::ok);
    EXPECT_LT(distance(mean.mean, q), tol);
    EXPECT_GE(mean.mean.w, T(0));
    const auto p = math::alignPoints(span_of(a, 8), span_of(b, 8), ones, true);
    EXPECT_LT(distance(p.orientation, q), tol);
    EXPECT_NEAR(p.scale, T(2), tol);
    EXPECT_NEAR(p.position.y, T(2), 10 * tol);
    EXPECT_LT(p.rmsd, 10 * tol);
    Vector3<T> moved[8];
    for (int i = 0; i < 8; ++i) moved[i] = r * b[i];
    const auto v = math::alignVectors(span_of(moved, 8), span_of(b, 8), ones);
    EXPECT_LT(distance(v.rotation, q), tol);
    EXPECT_LT(v.rssd, 10 * tol);
}

TYPED_TEST(RotationSets, SetsWithoutAnAnswerSayWhy) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity();
    const Vector3<T> a[2] = {{1, 0, 0}, {0, 0, 0}};
    const T negative[2] = {1, -1}, zeros[2] = {0, 0}, infinities[2] = {inf, inf},
            first[2] = {1, inf};
    const auto w = [](const T* p) { return StridedSpan<T>{p, 2, sizeof(T), 0}; };
    EXPECT_EQ(math::alignVectors(span_of(a, 2), span_of(a, 2), w(negative)).status,
              SetStatus::negativeWeight);
    EXPECT_EQ(math::alignPoints(span_of(a, 2), span_of(a, 2), w(zeros), false).status,
              SetStatus::zeroTotalWeight);
    EXPECT_EQ(math::alignVectors(span_of(a, 2), span_of(a, 2), w(infinities)).status,
              SetStatus::severalInfiniteWeights);
    EXPECT_EQ(math::alignVectors(span_of(a, 2), span_of(a, 2), w(first)).status,
              SetStatus::zeroPrimaryVector);
    const Quaternion<T> none[1];
    EXPECT_EQ(math::quaternionMean(StridedSpan<T>{none, 0, sizeof none[0], sizeof(T)}, {}).status,
              SetStatus::zeroTotalWeight);
}
