#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <type_traits>

#include "math/closest_points.hpp"

using math::Line;
using math::Vector3;

template <class T>
class ClosestPoints : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(ClosestPoints, Precisions);

// No pair from dense sampling of both segments is closer than the answer,
// which lies on the segments; random pairs mixed with parallel, touching,
// collinear and zero-length ones.
TYPED_TEST(ClosestPoints, NoSampledPairIsCloser) {
    using T = TypeParam;
    const T tolerance = std::is_same_v<T, float> ? T(2e-4) : T(1e-9);
    std::mt19937 rng(3);
    std::uniform_real_distribution<T> u(-2, 2);
    for (int trial = 0; trial < 60; ++trial) {
        const T c[9] = {u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng), u(rng)};
        const Vector3<T> p(c[0], c[1], c[2]), q(c[3], c[4], c[5]), r(c[6], c[7], c[8]);
        const Line<T> l1(p, trial % 5 == 3 ? p : q);
        const Line<T> candidates[] = {
            {r, p}, {r, r + (q - p) * u(rng)}, {math::lerp(p, q, T(0.5)), r}, {r, r}, {q, p}};
        const Line<T> l2 = candidates[trial % 5];
        const auto [a, b] = math::closestPointsSegments(l1, l2);
        EXPECT_LE(math::distancePointSegment(l1, a) + math::distancePointSegment(l2, b), tolerance);
        T sampled = math::norm(a - b);
        for (int i = 0; i <= 200; ++i) {
            const Vector3<T> s1 = math::lerp(l1.start, l1.end, T(i) / 200);
            const Vector3<T> s2 = math::lerp(l2.start, l2.end, T(i) / 200);
            for (int j = 0; j <= 200; ++j) {
                const Vector3<T> t2 = math::lerp(l2.start, l2.end, T(j) / 200);
                sampled = std::min(sampled, math::norm(s1 - t2));
            }
            EXPECT_LE(math::distancePointSegment(l2, r), math::norm(r - s2) + tolerance);
        }
        EXPECT_LE(math::norm(a - b), sampled + tolerance) << trial;
        const Vector3<T> foot = math::closestPointOnLine(l1, r);
        EXPECT_NEAR(math::dot(r - foot, l1.end - l1.start), T(0), tolerance * 10);
    }
}

TYPED_TEST(ClosestPoints, DegenerateSegmentsGiveTheirStart) {
    using T = TypeParam;
    const Line<T> dot({1, 2, 3}, {1, 2, 3}), other({0, 0, 0}, {4, 0, 0});
    EXPECT_EQ(math::closestPointOnLine(dot, {7, 8, 9}).y, T(2));
    EXPECT_EQ(math::distancePointSegment(dot, {1, 2, 5}), T(2));
    const auto both = math::closestPointsSegments(dot, Line<T>({5, 5, 5}, {5, 5, 5}));
    EXPECT_TRUE(both.onFirst.x == T(1) && both.onSecond.x == T(5));
    const auto first = math::closestPointsSegments(dot, other);
    EXPECT_TRUE(first.onSecond.x == T(1) && first.onSecond.y == T(0));
    // Beyond the end: the end point itself, not a rounded one.
    const Line<T> odd({T(0.1), T(0.7), T(-1.3)}, {T(2.9), T(-0.4), T(0.6)});
    const Vector3<T> beyond = math::closestPointOnSegment(odd, odd.end + (odd.end - odd.start));
    EXPECT_TRUE(beyond.x == odd.end.x && beyond.y == odd.end.y && beyond.z == odd.end.z);
}
