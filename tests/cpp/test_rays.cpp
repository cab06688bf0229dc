#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/bounds.hpp"
#include "math/ray.hpp"

using math::AABB;
using math::Plane;
using math::Vector3;

template <class T>
class Rays : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Rays, Precisions);

namespace {

template <class T>
const T kTolerance = std::is_same_v<T, float> ? T(1e-3) : T(1e-9);

template <class T>
Vector3<T> randomVector(std::mt19937& rng, T range) {
    std::uniform_real_distribution<T> u(-range, range);
    const T x = u(rng), y = u(rng);
    return {x, y, u(rng)};
}

}  // namespace

TYPED_TEST(Rays, PlaneHitsLieOnThePlaneAhead) {
    using T = TypeParam;
    std::mt19937 rng(11);
    for (int n = 0; n < 500; ++n) {
        const Vector3<T> o = randomVector<T>(rng, 5), d = randomVector<T>(rng, 2);
        const Plane<T> plane(randomVector<T>(rng, 5), math::normalize(randomVector<T>(rng, 1)));
        const auto t = math::rayPlane(o, d, plane);
        ASSERT_EQ(bool(t), math::dot(d, plane.normal) * plane.signedDistanceTo(o) < T(0)) << n;
        if (t) {
            EXPECT_NEAR(plane.signedDistanceTo(o + d * *t), T(0), kTolerance<T> * (1 + *t));
        }
    }
    const Plane<T> floor({0, 0, 1}, {0, 0, 2});
    EXPECT_FALSE(math::rayPlane<T>({0, 0, 1}, {1, 2, 0}, floor));  // lying in the plane
    EXPECT_EQ(*math::rayPlane<T>({5, 0, 1}, {0, 0, 1}, floor), T(0));
    EXPECT_EQ(*math::rayPlane<T>({0, 0, 3}, {0, 0, -4}, floor), T(0.5));
}

// Exact-valued rays through faces, edges, corners and slab planes of the unit box.
TYPED_TEST(Rays, BoxBoundaryCases) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    const T h = T(0.5);
    const struct {
        Vector3<T> o, d;
        T tNear, tFar;  // tNear > tFar: a miss
    } cases[] = {
        {{0, h, -1}, {0, 0, 2}, h, 1},         // along a face: the 0 * inf case
        {{0, 1, -1}, {0, 0, 1}, 1, 2},         // along an edge
        {{T(-1e-3), h, -1}, {0, 0, 1}, 1, 0},  // beside the slab
        {{0, 2, h}, {1, -1, 0}, 1, 1},         // touching an edge at one point
        {{-1, -1, -1}, {1, 1, 1}, 1, 2},       // corner to corner
        {{2, 2, 2}, {1, 1, 1}, 1, 0},          // behind
        {{h, h, h}, {-2, 0, 0}, 0, T(0.25)},   // from inside
        {{h, h, 1}, {0, 0, 1}, 0, 0},          // leaving through a face
        {{h, 0, h}, {0, 0, 0}, 0, inf},        // no direction, inside
        {{h, 2, h}, {0, 0, 0}, 1, 0},          // no direction, outside
        {{nan, h, h}, {1, 0, 0}, 1, 0},       {{h, h, -1}, {0, 0, nan}, 1, 0},
    };
    for (const auto& c : cases) {
        const auto i = math::rayAabbInterval(c.o, c.d, Vector3<T>(0), Vector3<T>(1));
        const auto hit = math::rayAabb(c.o, c.d, AABB<T>(Vector3<T>(0), Vector3<T>(1)));
        const bool miss = c.tNear > c.tFar;
        EXPECT_EQ(i.tNear, miss ? inf : c.tNear) << c.o.x << " " << c.o.y;
        EXPECT_EQ(i.tFar, miss ? -inf : c.tFar) << c.o.x << " " << c.o.y;
        EXPECT_EQ(bool(hit), !miss);
    }
    // Empty and inverted boxes hold nothing.
    const AABB<T> empty(Vector3<T>(inf), Vector3<T>(-inf));
    EXPECT_FALSE(math::rayAabb<T>({0, 0, -1}, {0, 0, 1}, empty));
    EXPECT_FALSE(math::rayAabb<T>({h, h, -1}, {0, 0, 1}, AABB<T>({0, 0, 1}, {1, 1, 0})));
}

// Samples inside the interval are in the box; samples well inside the box are in the interval.
TYPED_TEST(Rays, BoxIntervalMatchesSampling) {
    using T = TypeParam;
    std::mt19937 rng(5);
    for (int n = 0; n < 400; ++n) {
        const Vector3<T> lo = randomVector<T>(rng, 2), size = randomVector<T>(rng, 1);
        const AABB<T> box(lo, lo + size * size);
        Vector3<T> o = randomVector<T>(rng, 4), d = randomVector<T>(rng, 1);
        if (n % 4 == 1) d[n % 3] = 0;
        const auto hit = math::rayAabb(o, d, box);
        for (T t = 0; t <= 10; t += T(0.03125)) {
            const Vector3<T> p = o + d * t;
            const bool within = hit && t >= hit->tNear && t <= hit->tFar;
            for (int a = 0; a < 3 && within; ++a) {
                EXPECT_GE(p[a], box.min[a] - kTolerance<T>);
                EXPECT_LE(p[a], box.max[a] + kTolerance<T>);
            }
            const Vector3<T> margin(T(1e-3));
            const AABB<T> inner(box.min + margin, box.max - margin);
            ASSERT_TRUE(within || !math::contains(inner, p)) << n;
        }
    }
}

// Rays aimed exactly at the shared apex, or along the shared spokes, of a
// closed fan of tilted triangles hit at least one of them, at the aimed point
// both by t and by the barycentrics.
TYPED_TEST(Rays, TriangleFanHasNoCracks) {
    using T = TypeParam;
    std::mt19937 rng(17);
    std::uniform_real_distribution<T> u(0, 1);
    const int sides = 7;
    Vector3<T> rim[sides];
    for (int k = 0; k < sides; ++k) {
        const double angle = 2 * std::acos(-1.0) * (k + 0.3 * double(u(rng))) / sides;
        rim[k] = {T(std::cos(angle) * 3), T(std::sin(angle) * 3), u(rng)};
    }
    const Vector3<T> apex(T(0.1), T(-0.2), T(1.3));
    for (int n = 0; n < 3000; ++n) {
        const Vector3<T> target = n % 2 ? apex : math::lerp(apex, rim[n % sides], u(rng) * T(0.9));
        // Steeper than the tent, so one crossing; from below for the other winding.
        Vector3<T> o = target + randomVector<T>(rng, 1);
        o.z = target.z + (n % 3 ? T(4) : T(-4));
        int hits = 0;
        for (int j = 0; j < sides; ++j) {
            const Vector3<T>&b = rim[j], &c = rim[(j + 1) % sides];
            if (const auto h = math::rayTriangle(o, target - o, apex, b, c)) {
                ++hits;
                EXPECT_LT(math::norm(o + (target - o) * h->t - target), kTolerance<T>) << n;
                const Vector3<T> byUv = apex + (b - apex) * h->u + (c - apex) * h->v;
                EXPECT_LT(math::norm(byUv - target), kTolerance<T>);
            }
        }
        EXPECT_GE(hits, 1) << n;
    }
}

TYPED_TEST(Rays, TriangleEdgeCases) {
    using T = TypeParam;
    const Vector3<T> a(0, 0, 0), b(2, 0, 0), c(0, 2, 0), o(T(0.5), T(0.5), 1);
    const auto hit = math::rayTriangle<T>(o, {0, 0, -2}, a, b, c);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->t == T(0.5) && hit->u == T(0.25) && hit->v == T(0.25));
    EXPECT_TRUE(math::rayTriangle<T>({2, 0, 1}, {0, 0, -1}, a, b, c));        // corner
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, 1}, a, b, c));                // behind
    EXPECT_FALSE(math::rayTriangle<T>({-1, T(0.5), 0}, {1, 0, 0}, a, b, c));  // in the plane
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, 0}, a, b, c));
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, -1}, a, b, b));
    EXPECT_FALSE(math::rayTriangle<T>({1, 1, 1}, {0, 0, -1}, a, {1, 1, 0}, {2, 2, 0}));
    // The ray passes 1e-14 beside the shared edge p-q, whose float edge
    // function rounds to zero: exactly one of the two triangles is hit.
    const T e = T(1) / T(1 << 23);
    const Vector3<T> p(1 + e, 1, -1), q(-(1 + 2 * e), -(1 + e), -1);
    EXPECT_EQ(bool(math::rayTriangle<T>({0, 0, 0}, {0, 0, -1}, p, q, {1, -1, -1})) +
                  bool(math::rayTriangle<T>({0, 0, 0}, {0, 0, -1}, q, p, {-1, 1, -1})),
              1);
}

// In a tilted plane, a ray lying in it to within rounding hits nowhere, even
// where the rounded edge functions agree far from the triangle; one leaving
// the plane at a small angle still hits where it crosses.
TYPED_TEST(Rays, RaysInATrianglesPlaneDoNotHit) {
    using T = TypeParam;
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> u(-1, 1);
    const double e1[3] = {2, -1, 0}, e2[3] = {3, 6, -5}, n[3] = {1, 2, 3};  // n is e1 x e2 / 5
    const auto at = [&](double s, double t, double h) {
        return Vector3<T>(T(s * e1[0] + t * e2[0] + h * n[0]), T(s * e1[1] + t * e2[1] + h * n[1]),
                          T(s * e1[2] + t * e2[2] + h * n[2]));
    };
    const Vector3<T> a = at(0, 0, 0), b = at(0.1, 0, 0), c = at(0, 0.1, 0);
    for (int k = 0; k < 2000; ++k) {
        const Vector3<T> o = at(3 * u(rng), 3 * u(rng), 0), d = at(u(rng), u(rng), 0);
        EXPECT_FALSE(math::rayTriangle(o, d, a, b, c)) << k;
        const Vector3<T> steep = at(0.03, 0.03, 0) - at(0.03 + u(rng), 0.03 + u(rng), 0.01);
        EXPECT_TRUE(math::rayTriangle(at(0.03, 0.03, 0) - steep, steep, a, b, c)) << k;
    }
}
