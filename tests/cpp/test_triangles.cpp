#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/closest_points.hpp"
#include "math/spheres.hpp"
#include "math/triangles.hpp"

using math::Vector3;

template <class T>
class Triangles : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Triangles, Precisions);

// Random triangles, and coinciding and collinear ones, at unit scale and
// near both ends of the range: the point is finite, in the triangle's box,
// no farther than the nearest edge point, and a vertex comes back exactly.
TYPED_TEST(Triangles, ClosestPointIsInTheBoxAndNoFartherThanTheEdges) {
    using T = TypeParam;
    using L = std::numeric_limits<T>;
    std::mt19937 rng(5);
    std::uniform_real_distribution<T> u(-2, 2);
    const T scales[] = {T(1), std::ldexp(T(1), L::max_exponent - 2),
                        std::ldexp(T(1), L::min_exponent + 24)};
    for (int trial = 0; trial < 300; ++trial) {
        const T s = scales[trial % 3];
        const auto random = [&] { return Vector3<T>(u(rng), u(rng), u(rng)) * s; };
        const Vector3<T> p = random(), a = random(), b0 = random(), c0 = random();
        const Vector3<T> b = trial % 5 == 1 ? a : b0;
        const Vector3<T> c = trial % 5 == 2 ? b : trial % 5 == 3 ? a + (b - a) * T(0.5) : c0;
        const math::TrianglePoint<T> r = math::closestPointOnTriangle(p, a, b, c);
        T edges = L::infinity();
        for (const auto& line : {math::Line<T>(a, b), math::Line<T>(a, c), math::Line<T>(b, c)}) {
            edges = std::min(edges, math::scaledNorm(p - math::closestPointOnSegment(line, p)));
        }
        EXPECT_LE(math::scaledNorm(p - r.point), edges * (1 + 64 * L::epsilon())) << trial;
        for (int i = 0; i < 3; ++i) {
            EXPECT_LE(std::min({a[i], b[i], c[i]}), r.point[i]) << trial;
            EXPECT_LE(r.point[i], std::max({a[i], b[i], c[i]})) << trial;
        }
        for (const Vector3<T>& v : {a, b, c}) {
            const Vector3<T> q = math::closestPointOnTriangle(v, a, b, c).point;
            EXPECT_TRUE(q.x == v.x && q.y == v.y && q.z == v.z) << trial;
        }
    }
    const T nan = L::quiet_NaN();
    const Vector3<T> o(0, 0, 0), x(1, 0, 0), y(0, 1, 0);
    EXPECT_TRUE(std::isnan(math::closestPointOnTriangle(Vector3<T>(nan, 0, 0), o, x, y).point.x));
    EXPECT_TRUE(std::isnan(math::closestPointOnTriangle(x, o, Vector3<T>(0, nan, 0), y).point.y));
}

// Edges, offsets and areas beyond the largest finite T, and the special rays.
TYPED_TEST(Triangles, OverflowAndSpecialCases) {
    using T = TypeParam;
    using L = std::numeric_limits<T>;
    const T big = std::ldexp(T(1), L::max_exponent - 1);
    const Vector3<T> a(-big, 0, 0), b(big, 0, 0), c(0, big, 0), y(0, 1, 0), z(0, 0, 1);
    EXPECT_EQ(math::triangleArea(a, b, c), L::infinity());
    EXPECT_EQ(math::triangleArea(a, b, y), big);
    EXPECT_EQ(math::triangleNormal(a, b, y).z, 1);
    const Vector3<T> u = math::barycentric(Vector3<T>(0, big / 2, big / 4), a, b, c);
    EXPECT_TRUE(u.x == T(0.25) && u.y == T(0.25) && u.z == T(0.5));
    const auto far = math::raySphere(-c, y, c, big);
    ASSERT_TRUE(far);
    EXPECT_NEAR(far->tNear / big, 1, 1e-6);
    EXPECT_EQ(far->tFar, L::infinity());

    const Vector3<T> zero(0, 0, 0), start(0, 1, -5);
    const auto tangent = math::raySphere(start, z * T(2), zero, T(1));
    ASSERT_TRUE(tangent);
    EXPECT_TRUE(tangent->tNear == T(2.5) && tangent->tFar == T(2.5));
    const auto inside = math::raySphere(zero, z, zero, T(2));
    ASSERT_TRUE(inside);
    EXPECT_TRUE(inside->tNear == 0 && !std::signbit(inside->tNear) && inside->tFar == 2);
    EXPECT_FALSE(math::raySphere(-start, z, zero, T(1.5)));
    EXPECT_FALSE(math::raySphere(zero, zero, zero, T(1)));
    EXPECT_FALSE(math::raySphere(zero, z, zero, T(-1)));
    EXPECT_FALSE(math::raySphere(zero, z, zero, L::quiet_NaN()));
}
