#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/bounds.hpp"
#include "math/frustum.hpp"

using math::AABB;
using math::Matrix4;
using math::Plane;
using math::Pose3d;
using math::Quaternion;
using math::Vector3;
using math::Vector4;

template <class T>
class Bounds : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Bounds, Precisions);

namespace {

template <class T>
const T kTolerance = std::is_same_v<T, float> ? T(1e-4) : T(1e-10);

template <class T>
Vector3<T> xyz(const Vector4<T>& h) {
    return {h.x / h.w, h.y / h.w, h.z / h.w};
}

}  // namespace

// The centre/half-extent form gives the bounds of the eight moved corners.
TYPED_TEST(Bounds, TransformedIsTheBoxOfTheMovedCorners) {
    using T = TypeParam;
    std::mt19937 rng(7);
    std::uniform_real_distribution<T> u(-3, 3);
    for (int n = 0; n < 200; ++n) {
        const T x = u(rng), y = u(rng), z = u(rng), dx = std::abs(u(rng)), dy = std::abs(u(rng));
        const AABB<T> box({x, y, z}, {x + dx, y + dy, z + std::abs(u(rng))});
        // An unnormalized orientation rotates without scaling, as apply does.
        Pose3d<T> pose({u(rng), u(rng), u(rng)}, Quaternion<T>());
        pose.orientation = Quaternion<T>(u(rng), u(rng), u(rng), u(rng));
        Matrix4<T> m = pose.toMatrix() * Matrix4<T>::Scale(u(rng), u(rng), u(rng));
        m(0, 1) = u(rng);  // and a shear
        Vector3<T> byPose[8], byMatrix[8];
        for (int k = 0; k < 8; ++k) {
            const Vector3<T> c = box.computeCorners()[k];
            byPose[k] = pose.apply(c);
            byMatrix[k] = xyz(m * Vector4<T>(c.x, c.y, c.z, T(1)));
        }
        const AABB<T> got[] = {math::transformed(box, pose), math::transformed(box, m)};
        const AABB<T> want[] = {math::boundsOf(byPose, 8), math::boundsOf(byMatrix, 8)};
        for (int k = 0; k < 6; ++k) {
            EXPECT_NEAR(got[k / 3].min[k % 3], want[k / 3].min[k % 3], kTolerance<T>) << n;
            EXPECT_NEAR(got[k / 3].max[k % 3], want[k / 3].max[k % 3], kTolerance<T>) << n;
        }
    }
}

TYPED_TEST(Bounds, EmptyBoxesAndClosedFaces) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    const AABB<T> empty = math::boundsOf<T>(nullptr, 0), box({0, 0, 0}, {1, 2, 3});
    EXPECT_TRUE(empty.min.x == inf && empty.max.z == -inf);
    EXPECT_FALSE(math::contains(empty, Vector3<T>(0)));
    EXPECT_TRUE(math::merged(empty, box).min.y == T(0) && math::merged(box, empty).max.z == T(3));
    EXPECT_TRUE(math::contains(box, {1, 2, 3}) && math::contains(box, {0, 1, 1}));  // corner, face
    EXPECT_FALSE(math::contains(box, {T(1.001), 1, 1}) || math::contains(box, {nan, 1, 1}));
    EXPECT_TRUE(math::extent(box).z == T(3) && math::center(box).y == T(1));
    const AABB<T> grown = math::expanded(box, {-1, 5, nan});
    EXPECT_TRUE(grown.min.x == T(-1) && grown.max.y == T(5) && std::isnan(grown.min.z));
}

template <class T>
Matrix4<T> viewProjection() {
    const Quaternion<T> turn = Quaternion<T>::RotationY(T(0.4)) * Quaternion<T>::RotationX(T(-0.3));
    const Pose3d<T> camera({1, -2, 3}, turn);
    return Matrix4<T>::Perspective(T(60), T(1.5), T(0.5), T(20)) * camera.inverse().toMatrix();
}

// Each plane separates what maps inside its clip-cube face from what maps
// outside, in the order left, right, bottom, top, near, far.
TYPED_TEST(Bounds, FrustumPlanesAreTheClipCubeFaces) {
    using T = TypeParam;
    const Matrix4<T> vp = viewProjection<T>(), back = math::inverse(vp);
    const auto planes = math::frustumPlanes(vp);
    std::mt19937 rng(2);
    // Depths beyond 1.05 come from behind the camera.
    std::uniform_real_distribution<T> u(T(-1.3), T(1.3)), depth(T(-1.3), T(1.04));
    for (int n = 0; n < 2000; ++n) {
        const T x = u(rng), y = u(rng);
        const Vector4<T> clip(x, y, depth(rng), T(1));
        for (int k = 0; k < 6; ++k) {
            const T face = k % 2 == 0 ? clip[k / 2] + T(1) : T(1) - clip[k / 2];
            if (std::abs(face) < T(0.01)) continue;
            EXPECT_EQ(planes[k].signedDistanceTo(xyz(back * clip)) >= T(0), face > T(0)) << k;
        }
    }
    for (const Plane<T>& plane : planes) EXPECT_NEAR(math::norm(plane.normal), T(1), T(1e-6));
}

// The positive/negative corner test equals the verdict of all eight corners
// against the planes, both from the rows and from the planes.
TYPED_TEST(Bounds, ClassifyAgreesWithTheCorners) {
    using T = TypeParam;
    const auto planes = math::frustumPlanes(viewProjection<T>());
    T rows[6][4];
    for (int k = 0; k < 24; ++k) rows[k / 4][k % 4] = math::planeRow(planes[k / 4])[k % 4];
    std::mt19937 rng(9);
    std::uniform_real_distribution<T> position(-25, 25), size(0, 8);
    int seen[3] = {};
    for (int n = 0; n < 3000; ++n) {
        const Vector3<T> lo(position(rng), position(rng), position(rng));
        const AABB<T> box(lo, lo + Vector3<T>(size(rng), size(rng), size(rng)));
        int expected = 1;
        for (const Plane<T>& plane : planes) {
            int inside = 0;
            for (const Vector3<T>& c : box.computeCorners()) {
                inside += plane.signedDistanceTo(c) >= T(0);
            }
            expected = inside == 0 ? -1 : std::min(expected, inside == 8 ? 1 : 0);
            if (expected < 0) break;
        }
        ASSERT_EQ(math::classifyAabb(box.min, box.max, rows), expected) << n;
        ASSERT_EQ(math::classify(box, planes), expected) << n;
        ++seen[expected + 1];
    }
    EXPECT_TRUE(seen[0] > 100 && seen[1] > 100 && seen[2] > 10);

    const T inf = std::numeric_limits<T>::infinity();
    EXPECT_EQ(math::classify(AABB<T>(Vector3<T>(inf), Vector3<T>(-inf)), planes), -1);
    // Without a far plane (NaN), a box far down the view axis is inside.
    Matrix4<T> endless = Matrix4<T>::Perspective(T(90), T(1), T(1), T(2));
    endless(2, 2) = T(-1);
    endless(2, 3) = T(-2);
    const auto open = math::frustumPlanes(endless);
    EXPECT_TRUE(std::isnan(open[5].normal.z));
    EXPECT_EQ(math::classify(AABB<T>({-1, -1, T(-1e6)}, {1, 1, T(-1e5)}), open), 1);
    EXPECT_EQ(math::classify(AABB<T>(), open), 0);  // zero coefficients against infinities
}

TYPED_TEST(Bounds, PlanesThroughPointsAndTheirIntersection) {
    using T = TypeParam;
    const Plane<T> ccw = math::planeFromPoints<T>({1, 1, 2}, {3, 1, 2}, {1, 4, 2});
    EXPECT_TRUE(ccw.normal.z == T(1) && ccw.signedDistanceTo({0, 0, 5}) > T(0));
    EXPECT_TRUE(std::isnan(math::planeFromPoints<T>({0, 0, 0}, {1, 1, 1}, {2, 2, 2}).normal.x));
    std::mt19937 rng(4);
    std::uniform_real_distribution<T> u(-2, 2);
    for (int n = 0; n < 200; ++n) {
        Plane<T> p[3];
        for (Plane<T>& plane : p) {
            const T x = u(rng), y = u(rng), z = u(rng);
            plane = Plane<T>({x, y, z}, {u(rng), u(rng), u(rng)});
        }
        const auto x = math::intersectPlanes(p[0], p[1], p[2]);
        ASSERT_TRUE(x);
        for (const Plane<T>& plane : p) {
            EXPECT_NEAR(plane.signedDistanceTo(*x) / math::norm(plane.normal), T(0),
                        kTolerance<T> * 10 * (1 + math::norm(*x)))
                << n;
        }
    }
    const Plane<T> a({0, 0, 0}, {1, 0, 0}), b({0, 0, 0}, {0, 2, 0});
    EXPECT_FALSE(math::intersectPlanes(a, b, Plane<T>({5, 5, 5}, {1, 1, 0})));  // common line
    EXPECT_FALSE(math::intersectPlanes(a, b, Plane<T>({5, 5, 5}, {0, 4, 0})));  // parallel
    EXPECT_EQ(math::intersectPlanes(a, b, Plane<T>({0, 0, 3}, {0, 0, -2}))->z, T(3));
}
