#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

#include "math/euler.hpp"
#include "math/geometry.hpp"
#include "math/pose.hpp"

using math::AABB;
using math::Line;
using math::Plane;
using math::Pose3d;
using math::Quaternion;
using math::Vector3;

template <class T>
class Geometry : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Geometry, Precisions);

template <class T>
void expect_near(const Vector3<T>& v, T x, T y, T z) {
    const T tolerance = std::is_same_v<T, float> ? T(1e-6) : T(1e-14);
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

TYPED_TEST(Geometry, LineMeasuresToTheInfiniteLine) {
    using T = TypeParam;
    const Line<T> line({0, 0, 0}, {1, 0, 0});
    EXPECT_EQ(line.distanceTo({5, 2, 0}), T(2));   // beyond the end point
    EXPECT_EQ(line.distanceTo({-3, 0, 4}), T(4));  // before the start point
    EXPECT_EQ(line.distanceTo({0.5, 0, 0}), T(0));
    EXPECT_FALSE(std::signbit(line.distanceTo({0.5, 0, 0})));
    EXPECT_EQ(line.distanceTo({0, 0, 3}), T(3));
    const Line<T> point({1, 1, 1}, {1, 1, 1});
    EXPECT_TRUE(std::isnan(point.distanceTo({1, 1, 1})));
    EXPECT_TRUE(std::isnan(point.distanceTo({4, 0, 0})));
}

TEST(Geometry, FloatLineDistanceIsComputedInFloat) {
    const Vector3<float> s(0.1f, 0.7f, -1.3f), e(2.9f, -0.4f, 0.6f), p(1.7f, 3.1f, 0.2f);
    static_assert(std::is_same_v<decltype(Line<float>(s, e).distanceTo(p)), float>);
    volatile float ux = p.x - s.x, uy = p.y - s.y, uz = p.z - s.z;
    volatile float vx = p.x - e.x, vy = p.y - e.y, vz = p.z - e.z;
    volatile float rx = uy * vz - vy * uz, ry = uz * vx - vz * ux, rz = ux * vy - vx * uy;
    volatile float dx = e.x - s.x, dy = e.y - s.y, dz = e.z - s.z;
    volatile float num = ((rx * rx + 0.0f) + ry * ry) + rz * rz;
    volatile float den = ((dx * dx + 0.0f) + dy * dy) + dz * dz;
    const float expected = sqrtf(num) / sqrtf(den);
    EXPECT_EQ(Line<float>(s, e).distanceTo(p), expected);
    const double in_double =
        Line<double>({0.1f, 0.7f, -1.3f}, {2.9f, -0.4f, 0.6f}).distanceTo({1.7f, 3.1f, 0.2f});
    EXPECT_NE(double(expected), in_double);
}

TYPED_TEST(Geometry, PlaneUsesItsNormalUnnormalized) {
    using T = TypeParam;
    const Plane<T> plane({0, 0, 1}, {0, 0, 2});
    EXPECT_EQ(plane.normal.z, T(2));
    EXPECT_EQ(plane.signedDistanceTo({0, 0, 3}), T(4));
    EXPECT_EQ(plane.signedDistanceTo({0, 0, -1}), T(-4));
    EXPECT_EQ(plane.distanceTo({0, 0, -1}), T(4));
    expect_near(plane.project({1, 2, 3}), T(1), T(2), T(-5));

    const Plane<T> standard;
    expect_near(standard.project({1, 2, 3}), T(1), T(2), T(0));
    EXPECT_EQ(standard.signedDistanceTo({0, 0, -2}), T(-2));

    const Plane<T> flat({1, 1, 1}, {0, 0, 0});
    EXPECT_EQ(flat.distanceTo({5, 6, 7}), T(0));
    EXPECT_FALSE(std::signbit(flat.signedDistanceTo({-5, -6, -7})));
    expect_near(flat.project({5, 6, 7}), T(5), T(6), T(7));
}

TYPED_TEST(Geometry, BoxCornersFollowTheBitOrder) {
    using T = TypeParam;
    const AABB<T> box({0, 0, 0}, {1, 2, 3});
    const T expected[8][3] = {{0, 0, 0}, {0, 0, 3}, {0, 2, 0}, {0, 2, 3},
                              {1, 0, 0}, {1, 0, 3}, {1, 2, 0}, {1, 2, 3}};
    const auto corners = box.computeCorners();
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(corners[k].x, expected[k][0]) << k;
        EXPECT_EQ(corners[k].y, expected[k][1]) << k;
        EXPECT_EQ(corners[k].z, expected[k][2]) << k;
    }
    expect_near(box.computeCenter(), T(0.5), T(1), T(1.5));

    const AABB<T> all;
    EXPECT_TRUE(std::isinf(all.min.x) && all.min.x < 0);
    EXPECT_TRUE(std::isinf(all.max.z) && all.max.z > 0);
    EXPECT_TRUE(std::isnan(all.computeCenter().y));
}

TYPED_TEST(Geometry, BoxOverlapIsClosedAndSymmetric) {
    using T = TypeParam;
    const AABB<T> unit({0, 0, 0}, {1, 1, 1});
    const AABB<T> touching({1, 1, 1}, {2, 2, 2});
    const AABB<T> apart({T(1.0001), 1, 1}, {2, 2, 2});
    EXPECT_TRUE(unit.intersects(touching));
    EXPECT_TRUE(touching.intersects(unit));
    EXPECT_FALSE(unit.intersects(apart));
    EXPECT_FALSE(apart.intersects(unit));
    for (int axis = 1; axis < 3; ++axis) {
        AABB<T> shifted = apart;
        std::swap(shifted.min.x, shifted.min[axis]);
        EXPECT_FALSE(unit.intersects(shifted)) << axis;
        EXPECT_FALSE(shifted.intersects(unit)) << axis;
    }

    const AABB<T> inverted({5, 0, 0}, {0, 1, 1});
    EXPECT_TRUE(AABB<T>().intersects(inverted));
    EXPECT_FALSE(inverted.intersects(AABB<T>({1, 0, 0}, {2, 1, 1})));
    EXPECT_TRUE(inverted.intersects(AABB<T>({-1, 0, 0}, {6, 1, 1})));

    const T nan = std::numeric_limits<T>::quiet_NaN();
    EXPECT_TRUE(unit.intersects(AABB<T>({nan, 0, 0}, {nan, 1, 1})));
    EXPECT_FALSE(unit.intersects(AABB<T>({nan, 5, 5}, {nan, 6, 6})));
}

template <class T>
Pose3d<T> quarter_turn_at_x() {
    return Pose3d<T>({1, 0, 0}, Quaternion<T>::RotationZ(T(std::acos(-1.0) / 2)));
}

TYPED_TEST(Geometry, PoseAppliesInvertsAndComposes) {
    using T = TypeParam;
    const Pose3d<T> a = quarter_turn_at_x<T>();
    expect_near(a.apply({1, 0, 0}), T(1), T(1), T(0));
    expect_near(a * Vector3<T>(1, 0, 0), T(1), T(1), T(0));
    expect_near(a.inverse().apply({1, 1, 0}), T(1), T(0), T(0));
    const Pose3d<T> twice = a * a;
    expect_near(twice.apply({1, 0, 0}), T(0), T(1), T(0));
    expect_near(twice.position, T(1), T(1), T(0));

    const Pose3d<T> b({0, 2, -1}, Quaternion<T>::RotationX(T(0.7)));
    const Vector3<T> v(T(0.3), T(-1.2), T(2.5));
    const Vector3<T> b_then_a = a.apply(b.apply(v));
    expect_near((a * b).apply(v), b_then_a.x, b_then_a.y, b_then_a.z);

    const Pose3d<T> identity = a * a.inverse();
    expect_near(identity.position, T(0), T(0), T(0));
    EXPECT_TRUE(identity.orientation == Quaternion<T>());
    EXPECT_TRUE((a.inverse() * a).orientation == Quaternion<T>());
}

TYPED_TEST(Geometry, PoseConstructorsNormalize) {
    using T = TypeParam;
    const Pose3d<T> scaled({1, 2, 3}, Quaternion<T>(2, 0, 0, 0));
    EXPECT_EQ(scaled.orientation.w, T(1));
    EXPECT_EQ(scaled.orientation.x, T(0));

    const Quaternion<T> q = Quaternion<T>::RotationX(T(0.3)) * Quaternion<T>::RotationY(T(-1.1));
    const math::Matrix3<T> m = q.toMatrix3();
    const Pose3d<T> from_matrix({0, 0, 0}, m);
    EXPECT_NEAR(from_matrix.orientation.length(), T(1), T(1e-6));
    const math::Matrix3<T> back = from_matrix.orientation.toMatrix3();
    for (int k = 0; k < 9; ++k) EXPECT_NEAR(back.m[k], m.m[k], T(1e-6)) << k;

    // A stored, unnormalized orientation still rotates without scaling.
    Pose3d<T> raw;
    raw.orientation = Quaternion<T>(2, 0, 0, 0);
    expect_near(raw.apply({1, 2, 3}), T(1), T(2), T(3));
    EXPECT_EQ(raw.orientation.w, T(2));
}

TYPED_TEST(Geometry, PoseMatrixHoldsRotationAndPosition) {
    using T = TypeParam;
    const math::Matrix4<T> identity = Pose3d<T>().toMatrix();
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) EXPECT_EQ(identity(i, j), T(i == j ? 1 : 0));
    }
    const Pose3d<T> a = quarter_turn_at_x<T>();
    const math::Matrix4<T> m = a.toMatrix();
    const math::Matrix3<T> r = a.orientation.toMatrix3();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) EXPECT_EQ(m(i, j), r(i, j));
        EXPECT_EQ(m(3, i), T(0));
    }
    EXPECT_EQ(m(0, 3), T(1));
    EXPECT_EQ(m(1, 3), T(0));
    EXPECT_EQ(m(2, 3), T(0));
    EXPECT_EQ(m(3, 3), T(1));
}

// Every field rounded to nearest, nothing renormalized, the Euler tags kept.
TEST(Convert, RoundsEveryFieldOfEveryType) {
    const double third = 1.0 / 3.0;
    Pose3d<double> pose;
    pose.position = {third, -third, 1e300};
    pose.orientation = {2, third, 0, 0};
    const Pose3d<float> p = math::convert<float>(pose);
    EXPECT_EQ(p.position.y, -static_cast<float>(third));
    EXPECT_TRUE(std::isinf(p.position.z) && p.orientation.w == 2.0f);
    math::Euler<double> e(third, 0, 0);
    e.order = math::euler::Order::YXZ;
    e.convention = math::euler::Convention::EXTRINSIC;
    const math::Euler<float> ef = math::convert<float>(e);
    EXPECT_EQ(ef.x, static_cast<float>(third));
    EXPECT_TRUE(ef.order == e.order && ef.convention == e.convention);
}
