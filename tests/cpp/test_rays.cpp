#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

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
T tolerance() {
    return std::is_same_v<T, float> ? T(1e-4) : T(1e-10);
}

template <class T>
Vector3<T> randomVector(std::mt19937& rng, T range) {
    std::uniform_real_distribution<T> u(-range, range);
    const T x = u(rng), y = u(rng);
    return {x, y, u(rng)};
}

}  // namespace

TYPED_TEST(Rays, PlaneHitsLieOnThePlane) {
    using T = TypeParam;
    std::mt19937 rng(11);
    int hits = 0;
    for (int n = 0; n < 500; ++n) {
        const Vector3<T> o = randomVector<T>(rng, 5), d = randomVector<T>(rng, 2);
        const Plane<T> plane(randomVector<T>(rng, 5), math::normalize(randomVector<T>(rng, 1)));
        const auto t = math::rayPlane(o, d, plane);
        const bool ahead = math::dot(d, plane.normal) * plane.signedDistanceTo(o) < T(0);
        ASSERT_EQ(t.has_value(), ahead) << n;
        if (t) {
            ++hits;
            EXPECT_NEAR(plane.signedDistanceTo(o + d * *t), T(0), tolerance<T>() * (T(1) + *t));
        }
    }
    EXPECT_GT(hits, 100);
    const Plane<T> floor({0, 0, 1}, {0, 0, 2});
    EXPECT_FALSE(math::rayPlane<T>({0, 0, 1}, {1, 2, 0}, floor));  // lying in the plane
    EXPECT_FALSE(math::rayPlane<T>({0, 0, 3}, {1, 2, 0}, floor));  // parallel
    EXPECT_FALSE(math::rayPlane<T>({0, 0, 3}, {0, 0, 1}, floor));  // behind
    EXPECT_EQ(*math::rayPlane<T>({5, 0, 1}, {0, 0, 1}, floor), T(0));
    EXPECT_EQ(*math::rayPlane<T>({0, 0, 3}, {0, 0, -4}, floor), T(0.5));
}

// The unit box, exact-valued rays through faces, edges, corners and slab planes.
TYPED_TEST(Rays, BoxCasesAtTheBoundary) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    const AABB<T> unit({0, 0, 0}, {1, 1, 1});
    struct Case {
        Vector3<T> o, d;
        T tNear, tFar;  // tNear > tFar for a miss
    };
    const Case cases[] = {
        {{T(0.5), T(0.5), -1}, {0, 0, 1}, 1, 2},        // straight through
        {{0, T(0.5), -1}, {0, 0, 2}, T(0.5), 1},         // along a face: 0 * inf case
        {{0, 1, -1}, {0, 0, 1}, 1, 2},                   // along an edge
        {{T(-0.25), T(0.5), -1}, {0, 0, 1}, 1, 0},       // beside the slab
        {{0, 2, T(0.5)}, {1, -1, 0}, 1, 1},              // grazing an edge at one point
        {{-1, -1, -1}, {1, 1, 1}, 1, 2},                 // corner to corner
        {{2, 2, 2}, {1, 1, 1}, 1, 0},                    // behind
        {{T(0.5), T(0.5), T(0.5)}, {-2, 0, 0}, 0, T(0.25)},  // from inside
        {{T(0.5), T(0.5), 1}, {0, 0, 1}, 0, 0},          // leaving through a face
        {{T(0.5), 0, T(0.5)}, {0, 0, 0}, 0, inf},         // no direction, inside
        {{T(0.5), 2, T(0.5)}, {0, 0, 0}, 1, 0},          // no direction, outside
        {{nan, T(0.5), T(0.5)}, {1, 0, 0}, 1, 0},
        {{T(0.5), T(0.5), -1}, {0, 0, nan}, 1, 0},
    };
    for (const Case& c : cases) {
        const auto i = math::rayAabbInterval(c.o, c.d, unit.min, unit.max);
        const auto hit = math::rayAabb(c.o, c.d, unit);
        if (c.tNear > c.tFar) {
            EXPECT_EQ(i.tNear, inf) << c.o.x << " " << c.o.y;
            EXPECT_EQ(i.tFar, -inf);
            EXPECT_FALSE(hit);
        } else {
            EXPECT_EQ(i.tNear, c.tNear) << c.o.x << " " << c.o.y;
            EXPECT_EQ(i.tFar, c.tFar) << c.o.x << " " << c.o.y;
            ASSERT_TRUE(hit);
            EXPECT_EQ(hit->tNear, i.tNear);
        }
    }
    // Empty and inverted boxes hold nothing, even for a ray through their range.
    EXPECT_FALSE(math::rayAabb<T>({0, 0, -1}, {0, 0, 1}, AABB<T>(Vector3<T>(inf), Vector3<T>(-inf))));
    EXPECT_FALSE(math::rayAabb<T>({T(0.5), T(0.5), -1}, {0, 0, 1}, AABB<T>({0, 0, 1}, {1, 1, 0})));
}

// Against sampling along the ray: samples within the interval are in the
// box, samples well inside the box are within the interval.
TYPED_TEST(Rays, BoxIntervalMatchesSampling) {
    using T = TypeParam;
    std::mt19937 rng(5);
    std::uniform_real_distribution<T> size(T(0.1), 2);
    for (int n = 0; n < 400; ++n) {
        const Vector3<T> lo = randomVector<T>(rng, 2);
        const AABB<T> box(lo, lo + Vector3<T>(size(rng), size(rng), size(rng)));
        Vector3<T> o = randomVector<T>(rng, 4), d = randomVector<T>(rng, 1);
        if (n % 4 == 1) d[n % 3] = 0;
        if (n % 8 == 3) o[n % 3] = box.max[n % 3];
        const auto hit = math::rayAabb(o, d, box);
        const AABB<T> inner(box.min + Vector3<T>(T(1e-3)), box.max - Vector3<T>(T(1e-3)));
        for (int k = 0; k <= 400; ++k) {
            const T t = T(k) / 40;
            const Vector3<T> p = o + d * t;
            if (hit && t >= hit->tNear && t <= hit->tFar) {
                for (int a = 0; a < 3; ++a) {
                    EXPECT_GE(p[a], box.min[a] - tolerance<T>() * 10) << n;
                    EXPECT_LE(p[a], box.max[a] + tolerance<T>() * 10) << n;
                }
            }
            const bool inside = p.x > inner.min.x && p.x < inner.max.x && p.y > inner.min.y &&
                                p.y < inner.max.y && p.z > inner.min.z && p.z < inner.max.z;
            if (inside) {
                ASSERT_TRUE(hit) << n;
                EXPECT_TRUE(t >= hit->tNear && t <= hit->tFar) << n;
            }
        }
    }
}

// Rays aimed exactly at the shared vertex or along the shared spokes of a
// closed fan of tilted triangles must hit one of them; hits reproduce the
// point from t and from the barycentrics.
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
        const int k = n % sides;
        const Vector3<T> target = n % 2 ? apex : math::lerp(apex, rim[k], u(rng) * T(0.9));
        // Steeper than the tent, so the ray crosses it once; from below for the other winding.
        Vector3<T> o = target + randomVector<T>(rng, 1);
        o.z = target.z + (n % 3 ? T(4) : T(-4));
        const Vector3<T> d = target - o;
        int hits = 0;
        for (int j = 0; j < sides; ++j) {
            const Vector3<T>& b = rim[j];
            const Vector3<T>& c = rim[(j + 1) % sides];
            if (const auto h = math::rayTriangle(o, d, apex, b, c)) {
                ++hits;
                const Vector3<T> byT = o + d * h->t;
                const Vector3<T> byUv = apex + (b - apex) * h->u + (c - apex) * h->v;
                EXPECT_LT(math::norm(byT - byUv), tolerance<T>() * 10) << n;
                EXPECT_LT(math::norm(byT - target), tolerance<T>() * 10) << n;
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
    EXPECT_EQ(hit->t, T(0.5));
    EXPECT_EQ(hit->u, T(0.25));
    EXPECT_EQ(hit->v, T(0.25));
    EXPECT_TRUE(math::rayTriangle<T>(o, {0, 0, -1}, a, c, b));  // other winding
    EXPECT_TRUE(math::rayTriangle<T>({2, 0, 1}, {0, 0, -1}, a, b, c));  // corner
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, 1}, a, b, c));  // behind
    EXPECT_FALSE(math::rayTriangle<T>({T(1.5), T(1.5), 1}, {0, 0, -1}, a, b, c));
    EXPECT_FALSE(math::rayTriangle<T>({T(-1), T(0.5), 0}, {1, 0, 0}, a, b, c));  // in the plane
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, 0}, a, b, c));
    EXPECT_FALSE(math::rayTriangle<T>(o, {0, 0, -1}, a, b, b));
    EXPECT_FALSE(math::rayTriangle<T>({1, 1, 1}, {0, 0, -1}, a, {1, 1, 0}, {2, 2, 0}));

    // The ray passes 1e-14 beside the shared edge p-q, whose float edge
    // function rounds to zero: exactly one of the two triangles is hit.
    const T e = T(1) / T(1 << 23);
    const Vector3<T> p(1 + e, 1, -1), q(-(1 + 2 * e), -(1 + e), -1);
    const int hits = bool(math::rayTriangle<T>({0, 0, 0}, {0, 0, -1}, p, q, {1, -1, -1})) +
                     bool(math::rayTriangle<T>({0, 0, 0}, {0, 0, -1}, q, p, {-1, 1, -1}));
    EXPECT_EQ(hits, 1);
}
