#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/decompose.hpp"
#include "math/keyframes.hpp"

using math::DecomposeFault;
using math::Matrix4;
using math::Quaternion;
using math::Vector3;

namespace {

template <class T>
class KeyframesDecompose : public ::testing::Test {
protected:
    std::mt19937 rng{11};
    T uniform(T lo, T hi) { return std::uniform_real_distribution<T>(lo, hi)(rng); }
    Quaternion<T> quaternion() {
        return Quaternion<T>(uniform(-2, 2), uniform(-2, 2), uniform(-2, 2), uniform(-2, 2))
            .normalize();
    }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KeyframesDecompose, Precisions);

}  // namespace

// Every time between two keyframes gives their slerp; a linear scan says
// which two, so the binary search is checked against it.
TYPED_TEST(KeyframesDecompose, SearchFindsTheSegmentOfEveryTime) {
    using T = TypeParam;
    constexpr int n = 9;
    T times[n];
    Quaternion<T> keys[n];
    Vector3<T> positions[n];
    T now = T(-3);
    for (int k = 0; k < n; ++k) {
        times[k] = now += this->uniform(T(0.1), T(1));
        keys[k] = this->quaternion();
        positions[k] = {T(k), T(2 * k), T(-k)};
    }
    ASSERT_TRUE(math::keyframeTimesIncreasing(times, n));
    for (int i = 0; i <= 400; ++i) {
        const T t = i == 400 ? times[n - 1] : this->uniform(times[0], times[n - 1]);
        int k = 0;
        while (k < n - 2 && times[k + 1] < t) ++k;
        const T u = (t - times[k]) / (times[k + 1] - times[k]);
        const Quaternion<T> expected = math::slerp(keys[k], keys[k + 1], u);
        const Quaternion<T> got = math::slerpKeyframes(times, keys, n, t);
        EXPECT_EQ(got.w, expected.w);
        EXPECT_EQ(got.z, expected.z);
        EXPECT_EQ(math::lerpKeyframes(times, positions, n, t).y,
                  math::lerp(positions[k], positions[k + 1], u).y);
    }
    EXPECT_TRUE(std::isnan(math::slerpKeyframes(times, keys, n, times[0] - T(1)).w));
    EXPECT_TRUE(std::isnan(math::poseKeyframes(times, positions, keys, 1, times[0]).position.x));
    times[3] = times[2];
    EXPECT_FALSE(math::keyframeTimesIncreasing(times, n));
}

TYPED_TEST(KeyframesDecompose, DecomposeRebuildsTrsAndNamesItsFaults) {
    using T = TypeParam;
    const T tol = std::is_same_v<T, float> ? T(2e-5) : T(1e-13);
    for (int i = 0; i < 100; ++i) {
        const Quaternion<T> q = this->quaternion();
        const Vector3<T> s(this->uniform(T(0.1), T(4)) * (i % 2 ? T(-1) : T(1)),
                           this->uniform(T(0.1), T(4)), this->uniform(T(0.1), T(4)));
        const math::Matrix3<T> r = math::toMatrix3(q);
        Matrix4<T> m;
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) m(a, b) = r(a, b) * s[b];
            m(a, 3) = T(a + 1);
        }
        m(3, 3) = T(1);
        const math::Decomposition<T> d = math::decompose(m);
        ASSERT_EQ(d.fault, DecomposeFault::None);
        EXPECT_GE(d.orientation.w, T(0));
        EXPECT_EQ(d.translation.z, T(3));
        const math::Matrix3<T> back = math::toMatrix3(d.orientation);
        for (int a = 0; a < 3; ++a) {
            for (int b = 0; b < 3; ++b) EXPECT_NEAR(back(a, b) * d.scale[b], m(a, b), 4 * tol);
        }
    }
    Matrix4<T> m;
    m(0, 0) = m(1, 1) = m(2, 2) = m(3, 3) = T(1);
    Matrix4<T> bad = m;
    bad(3, 0) = T(0.5);
    EXPECT_EQ(math::decompose(bad).fault, DecomposeFault::Projective);
    bad = m;
    bad(1, 1) = T(0);
    EXPECT_EQ(math::decompose(bad).fault, DecomposeFault::ZeroScale);
    bad = m;
    bad(0, 1) = T(0.01);
    EXPECT_EQ(math::decompose(bad).fault, DecomposeFault::Shear);
    EXPECT_TRUE(std::isnan(math::decompose(bad).scale.x));
    bad = m;
    bad(2, 3) = std::numeric_limits<T>::infinity();
    EXPECT_EQ(math::decompose(bad).fault, DecomposeFault::NonFinite);
    // Huge and tiny columns still measure.
    bad = m;
    bad(0, 0) = std::numeric_limits<T>::max() / T(2);
    bad(2, 2) = std::numeric_limits<T>::denorm_min();
    const math::Decomposition<T> d = math::decompose(bad);
    ASSERT_EQ(d.fault, DecomposeFault::None);
    EXPECT_EQ(d.scale.z, std::numeric_limits<T>::denorm_min());
}
