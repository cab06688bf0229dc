#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/bounds.hpp"

using math::AABB;
using math::Matrix4;
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
T tolerance() {
    return std::is_same_v<T, float> ? T(1e-4) : T(1e-12);
}

template <class T>
void expectBoxNear(const AABB<T>& a, const AABB<T>& b) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(a.min[i], b.min[i], tolerance<T>()) << i;
        EXPECT_NEAR(a.max[i], b.max[i], tolerance<T>()) << i;
    }
}

}  // namespace

// The centre/half-extent form must give the bounds of the eight moved corners.
TYPED_TEST(Bounds, TransformedIsTheBoxOfTheMovedCorners) {
    using T = TypeParam;
    std::mt19937 rng(7);
    std::uniform_real_distribution<T> u(-3, 3);
    for (int n = 0; n < 200; ++n) {
        const Vector3<T> a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
        const AABB<T> box({std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)},
                          {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)});
        // An unnormalized orientation rotates without scaling, as apply does.
        Pose3d<T> pose({u(rng), u(rng), u(rng)}, Quaternion<T>());
        pose.orientation = Quaternion<T>(u(rng), u(rng), u(rng), u(rng));
        Matrix4<T> m = pose.toMatrix() * Matrix4<T>::Scale(u(rng), u(rng), u(rng));
        m(0, 1) = u(rng);  // a shear too
        Vector3<T> byPose[8], byMatrix[8];
        const auto corners = box.computeCorners();
        for (int k = 0; k < 8; ++k) {
            byPose[k] = pose.apply(corners[k]);
            const Vector4<T> v = m * Vector4<T>(corners[k].x, corners[k].y, corners[k].z, T(1));
            byMatrix[k] = {v.x, v.y, v.z};
        }
        expectBoxNear(math::transformed(box, pose), math::boundsOf(byPose, 8));
        expectBoxNear(math::transformed(box, m), math::boundsOf(byMatrix, 8));
    }
}

TYPED_TEST(Bounds, EmptyBoxesAndClosedFaces) {
    using T = TypeParam;
    const T inf = std::numeric_limits<T>::infinity(), nan = std::numeric_limits<T>::quiet_NaN();
    const AABB<T> empty = math::boundsOf<T>(nullptr, 0);
    EXPECT_EQ(empty.min.x, inf);
    EXPECT_EQ(empty.max.z, -inf);
    EXPECT_FALSE(math::contains(empty, Vector3<T>(0)));

    const AABB<T> box({0, 0, 0}, {1, 2, 3});
    const AABB<T> same = math::merged(empty, box);
    EXPECT_EQ(same.min.y, T(0));
    EXPECT_EQ(same.max.z, T(3));
    EXPECT_TRUE(math::contains(box, Vector3<T>(1, 2, 3)));  // corner
    EXPECT_TRUE(math::contains(box, Vector3<T>(0, 1, 1)));  // face
    EXPECT_FALSE(math::contains(box, Vector3<T>(T(1.001), 1, 1)));
    EXPECT_FALSE(math::contains(box, Vector3<T>(nan, 1, 1)));
    EXPECT_EQ(math::extent(box).z, T(3));
    EXPECT_EQ(math::center(box).y, T(1));

    const AABB<T> grown = math::expanded(box, Vector3<T>(-1, 5, nan));
    EXPECT_EQ(grown.min.x, T(-1));
    EXPECT_EQ(grown.max.y, T(5));
    EXPECT_TRUE(std::isnan(grown.min.z) && std::isnan(grown.max.z));
}
