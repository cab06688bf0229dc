#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "math/decompose.hpp"
#include "math/keyframes.hpp"

namespace {

template <class T>
class KeyframesDecompose : public ::testing::Test {
protected:
    std::mt19937 rng{11};
    T uniform(T lo, T hi) { return std::uniform_real_distribution<T>(lo, hi)(rng); }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KeyframesDecompose, Precisions);

}  // namespace

// The binary search against a linear scan for the segment SciPy takes: the
// one a time ends, the first for the first time.
TYPED_TEST(KeyframesDecompose, SearchFindsTheSegmentOfEveryTime) {
    using T = TypeParam;
    constexpr int n = 9;
    T times[n];
    math::Quaternion<T> keys[n];
    T now = T(-3);
    for (int k = 0; k < n; ++k) {
        times[k] = now += this->uniform(T(0.1), T(1));
        keys[k] = {this->uniform(-1, 1), this->uniform(-1, 1), this->uniform(-1, 1), T(0.5)};
    }
    for (int i = 0; i < 300; ++i) {
        const T t = i < n ? times[i] : this->uniform(times[0], times[n - 1]);
        int k = 0;
        while (k < n - 2 && times[k + 1] < t) ++k;
        const T u = (t - times[k]) / (times[k + 1] - times[k]);
        const math::Quaternion<T> expected = math::slerp(keys[k], keys[k + 1], u);
        const math::Quaternion<T> got = math::slerpKeyframes(times, keys, n, t);
        EXPECT_EQ(got.w, expected.w);
        EXPECT_EQ(got.z, expected.z);
    }
    EXPECT_TRUE(std::isnan(math::slerpKeyframes(times, keys, n, times[0] - T(1)).w));
    EXPECT_TRUE(std::isnan(math::slerpKeyframes(times, keys, 1, times[0]).w));
}

// Columns of any magnitude measure, the sign of the determinant goes to x.
TYPED_TEST(KeyframesDecompose, DecomposeMeasuresHugeAndTinyColumns) {
    using T = TypeParam;
    math::Matrix4<T> m;
    m(0, 0) = std::numeric_limits<T>::max() / T(2);
    m(1, 1) = T(1);
    m(2, 2) = -std::numeric_limits<T>::denorm_min();
    m(3, 3) = T(1);
    const math::Decomposition<T> d = math::decompose(m);
    ASSERT_EQ(d.fault, math::DecomposeFault::None);
    EXPECT_EQ(d.scale.x, -m(0, 0));
    EXPECT_EQ(d.scale.z, std::numeric_limits<T>::denorm_min());
    EXPECT_EQ(d.orientation.w, T(0));
    EXPECT_EQ(d.orientation.y, T(1));  // a half turn about y
    m(0, 1) = T(1e-2);
    EXPECT_EQ(math::decompose(m).fault, math::DecomposeFault::Shear);
}
