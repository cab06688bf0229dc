#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/frustum.hpp"
#include "math/pose.hpp"

using math::AABB;
using math::Matrix4;
using math::Plane;
using math::Vector3;
using math::Vector4;

template <class T>
class Frustum : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Frustum, Precisions);

namespace {

template <class T>
Matrix4<T> viewProjection() {
    const math::Pose3d<T> camera({1, -2, 3}, math::Quaternion<T>::RotationY(T(0.4)) *
                                                 math::Quaternion<T>::RotationX(T(-0.3)));
    return Matrix4<T>::Perspective(T(60), T(1.5), T(0.5), T(20)) * camera.inverse().toMatrix();
}

}  // namespace

// Each plane separates the points mapped inside its clip-cube face from those
// mapped outside, in the order left, right, bottom, top, near, far.
TYPED_TEST(Frustum, PlanesAreTheFacesOfTheClipCube) {
    using T = TypeParam;
    const Matrix4<T> vp = viewProjection<T>(), back = math::inverse(vp);
    const auto planes = math::frustumPlanes(vp);
    std::mt19937 rng(2);
    // Depths beyond 1.05 come from behind the camera.
    std::uniform_real_distribution<T> u(T(-1.3), T(1.3)), depth(T(-1.3), T(1.04));
    for (int n = 0; n < 2000; ++n) {
        const T x = u(rng), y = u(rng);
        const Vector4<T> clip(x, y, depth(rng), T(1));
        const Vector4<T> h = back * clip;
        const Vector3<T> p(h.x / h.w, h.y / h.w, h.z / h.w);
        for (int k = 0; k < 6; ++k) {
            const T face = k % 2 == 0 ? clip[k / 2] + T(1) : T(1) - clip[k / 2];
            if (std::abs(face) < T(0.01)) continue;
            EXPECT_EQ(planes[k].signedDistanceTo(p) >= T(0), face > T(0)) << n << " " << k;
        }
    }
    for (const Plane<T>& plane : planes) EXPECT_NEAR(math::norm(plane.normal), T(1), T(1e-6));
}

// The positive/negative corner test must equal the verdict of all eight
// corners against the planes, both from the rows and from the planes.
TYPED_TEST(Frustum, ClassifyAgreesWithTheCorners) {
    using T = TypeParam;
    const auto planes = math::frustumPlanes(viewProjection<T>());
    T rows[6][4];
    for (int k = 0; k < 6; ++k) {
        for (int j = 0; j < 4; ++j) rows[k][j] = math::planeRow(planes[k])[j];
    }
    std::mt19937 rng(9);
    std::uniform_real_distribution<T> position(-25, 25), size(0, 8);
    int seen[3] = {};
    for (int n = 0; n < 3000; ++n) {
        const Vector3<T> lo(position(rng), position(rng), position(rng));
        const AABB<T> box(lo, lo + Vector3<T>(size(rng), size(rng), size(rng)));
        bool allInside = true, oneOutside = false;
        for (int k = 0; k < 6; ++k) {
            int inside = 0;
            for (const Vector3<T>& c : box.computeCorners()) {
                inside += planes[k].signedDistanceTo(c) >= T(0);
            }
            allInside = allInside && inside == 8;
            oneOutside = oneOutside || inside == 0;
        }
        const int expected = oneOutside ? -1 : (allInside ? 1 : 0);
        ASSERT_EQ(math::classifyAabb(box.min, box.max, rows), expected) << n;
        ASSERT_EQ(math::classify(box, planes), expected) << n;
        ++seen[expected + 1];
    }
    EXPECT_GT(seen[0], 100);
    EXPECT_GT(seen[1], 100);
    EXPECT_GT(seen[2], 10);

    const T inf = std::numeric_limits<T>::infinity();
    EXPECT_EQ(math::classify(AABB<T>(), planes), 0);
    EXPECT_EQ(math::classify(AABB<T>(Vector3<T>(inf), Vector3<T>(-inf)), planes), -1);
    // Without a far plane (NaN) a box far down the view axis is inside.
    Matrix4<T> endless = Matrix4<T>::Perspective(T(90), T(1), T(1), T(2));
    endless(2, 2) = T(-1);
    endless(2, 3) = T(-2);
    const auto open = math::frustumPlanes(endless);
    EXPECT_TRUE(std::isnan(open[5].normal.z));
    EXPECT_EQ(math::classify(AABB<T>({-1, -1, T(-1e6)}, {1, 1, T(-1e5)}), open), 1);
    EXPECT_EQ(math::classify(AABB<T>(), open), 0);  // zero coefficients against infinities
}

TYPED_TEST(Frustum, PlanesThroughPointsAndTheirIntersection) {
    using T = TypeParam;
    const Plane<T> ccw = math::planeFromPoints<T>({1, 1, 2}, {3, 1, 2}, {1, 4, 2});
    EXPECT_EQ(ccw.normal.z, T(1));
    EXPECT_GT(ccw.signedDistanceTo({0, 0, 5}), T(0));
    EXPECT_TRUE(std::isnan(math::planeFromPoints<T>({0, 0, 0}, {1, 1, 1}, {2, 2, 2}).normal.x));

    std::mt19937 rng(4);
    std::uniform_real_distribution<T> u(-2, 2);
    for (int n = 0; n < 200; ++n) {
        Plane<T> p[3];
        for (Plane<T>& plane : p) plane = Plane<T>({u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)});
        const auto x = math::intersectPlanes(p[0], p[1], p[2]);
        ASSERT_TRUE(x);
        const T scale = T(1) + math::norm(*x);
        for (const Plane<T>& plane : p) {
            EXPECT_NEAR(plane.signedDistanceTo(*x) / math::norm(plane.normal), T(0),
                        (std::is_same_v<T, float> ? T(1e-3) : T(1e-10)) * scale) << n;
        }
    }
    const Plane<T> a({0, 0, 0}, {1, 0, 0}), b({0, 0, 0}, {0, 2, 0});
    EXPECT_FALSE(math::intersectPlanes(a, b, Plane<T>({5, 5, 5}, {1, 1, 0})));
    EXPECT_FALSE(math::intersectPlanes(a, b, Plane<T>({5, 5, 5}, {0, 4, 0})));
    const auto corner = math::intersectPlanes(a, b, Plane<T>({0, 0, 3}, {0, 0, -2}));
    EXPECT_EQ(corner->z, T(3));
}
