#include <gtest/gtest.h>

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

namespace {

template <class T>
T tolerance() {
    return std::is_same_v<T, float> ? T(2e-4) : T(1e-9);
}

// Random segments, with parallel, collinear, touching and zero-length ones mixed in.
template <class T>
Line<T> segment(std::mt19937& rng, int kind, const Line<T>& other) {
    std::uniform_real_distribution<T> u(-2, 2);
    const Vector3<T> p(u(rng), u(rng), u(rng)), q(u(rng), u(rng), u(rng));
    switch (kind) {
        case 1: return {p, p + (other.end - other.start) * u(rng)};  // parallel
        case 2: return {other.start + (other.end - other.start) * T(0.5), q};  // touching
        case 3: return {p, p};
        case 4: return {other.end, other.start};  // collinear, overlapping
        default: return {p, q};
    }
}

}  // namespace

// Dense sampling of both segments can never find a pair closer than the
// answer, and the answer lies on the segments.
TYPED_TEST(ClosestPoints, NoSampledPairIsCloser) {
    using T = TypeParam;
    std::mt19937 rng(3);
    const int n = 200;
    for (int trial = 0; trial < 60; ++trial) {
        const Line<T> l1 = segment<T>(rng, trial % 5 == 3 ? 3 : 0, {});
        const Line<T> l2 = segment<T>(rng, trial % 5, l1);
        const auto [p1, p2] = math::closestPointsSegments(l1, l2);
        ASSERT_FALSE(std::isnan(p1.x) || std::isnan(p2.y)) << trial;
        EXPECT_LE(math::distancePointSegment(l1, p1), tolerance<T>()) << trial;
        EXPECT_LE(math::distancePointSegment(l2, p2), tolerance<T>()) << trial;
        const T found = math::norm(p1 - p2);
        T sampled = found;
        for (int i = 0; i <= n; ++i) {
            const Vector3<T> a = math::lerp(l1.start, l1.end, T(i) / n);
            sampled = std::min(sampled, math::distancePointSegment(l2, a));
            for (int j = 0; j <= n; j += 8) {
                const Vector3<T> b = math::lerp(l2.start, l2.end, T(j) / n);
                sampled = std::min(sampled, math::norm(a - b));
            }
        }
        EXPECT_LE(found, sampled + tolerance<T>()) << trial;
        // The point on a segment: checked against sampling of that segment alone.
        const Vector3<T> q = l1.start + Vector3<T>(1, -2, 0.5);
        T nearest = math::distancePointSegment(l2, q);
        for (int i = 0; i <= n; ++i) {
            EXPECT_LE(nearest, math::norm(q - math::lerp(l2.start, l2.end, T(i) / n)) + tolerance<T>());
        }
        const Vector3<T> onLine = math::closestPointOnLine(l2, q);
        EXPECT_NEAR(math::dot(q - onLine, l2.end - l2.start), T(0), tolerance<T>() * 10) << trial;
    }
}

TYPED_TEST(ClosestPoints, DegenerateSegmentsGiveTheirStart) {
    using T = TypeParam;
    const Line<T> dot({1, 2, 3}, {1, 2, 3}), other({0, 0, 0}, {4, 0, 0});
    const Vector3<T> p(7, 8, 9);
    EXPECT_EQ(math::closestPointOnLine(dot, p).y, T(2));
    EXPECT_EQ(math::closestPointOnSegment(dot, p).z, T(3));
    EXPECT_EQ(math::distancePointSegment(dot, Vector3<T>(1, 2, 5)), T(2));
    const auto both = math::closestPointsSegments(dot, Line<T>({5, 5, 5}, {5, 5, 5}));
    EXPECT_EQ(both.onFirst.x, T(1));
    EXPECT_EQ(both.onSecond.x, T(5));
    const auto first = math::closestPointsSegments(dot, other);
    EXPECT_EQ(first.onSecond.x, T(1));
    EXPECT_EQ(first.onSecond.y, T(0));
    // Beyond the end: the end point itself, not a rounded one.
    const Line<T> odd({T(0.1), T(0.7), T(-1.3)}, {T(2.9), T(-0.4), T(0.6)});
    const Vector3<T> beyond = math::closestPointOnSegment(odd, odd.end + (odd.end - odd.start));
    EXPECT_EQ(beyond.x, odd.end.x);
    EXPECT_EQ(beyond.z, odd.end.z);
}
