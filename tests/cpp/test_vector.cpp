#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <type_traits>

#include "math/quaternion.hpp"
#include "math/vector.hpp"

using math::Vector2;
using math::Vector3;
using math::Vector4;

// Results of float operations must be computed in float, never via double.
TEST(Vector, FloatArithmeticStaysFloat) {
    const Vector3<float> a(0.1f, 0.2f, 0.3f), b(0.7f, 1.3f, 2.9f);
    static_assert(std::is_same_v<decltype(math::dot(a, b)), float>);
    static_assert(std::is_same_v<decltype(math::norm(a)), float>);
    volatile float p0 = 0.1f * 0.7f, p1 = 0.2f * 1.3f, p2 = 0.3f * 2.9f;
    volatile float sum = 0.0f;
    sum = sum + p0;
    sum = sum + p1;
    sum = sum + p2;
    EXPECT_EQ(math::dot(a, b), sum);
    EXPECT_EQ(math::norm(b), sqrtf(math::squareNorm(b)));
    const Vector2<float> tiny(1e-30f, 0.0f);
    const Vector2<float> n = math::normalize(tiny);  // squared norm underflows in float
    EXPECT_TRUE(std::isinf(n.x));
    EXPECT_TRUE(std::isnan(n.y));
}

// Constant evaluation rejects undefined behaviour, such as indexing past a
// field, so these reach every component by defined means.
template <class V>
constexpr bool indexes_in_storage_order(V v, int n) {
    for (int i = 0; i < n; ++i) {
        if (v[i] != i + 1) return false;
        v[i] = 0;
    }
    return v[0] == 0 && v[n - 1] == 0;
}
static_assert(indexes_in_storage_order(Vector2<float>(1, 2), 2));
static_assert(indexes_in_storage_order(Vector3<double>(1, 2, 3), 3));
static_assert(indexes_in_storage_order(Vector4<float>(1, 2, 3, 4), 4));
static_assert(indexes_in_storage_order(math::Quaternion<double>(1, 2, 3, 4), 4));

TEST(Vector, ConstructorsRepeatTheLastValue) {
    const Vector3<float> v(2, 5);
    EXPECT_EQ(v.z, 5.0f);
    const Vector4<float> w(1, 2, 3);
    EXPECT_EQ(w.w, 3.0f);
    static_assert(sizeof(Vector4<double>) == 4 * sizeof(double));
}

TEST(Vector, EqualityToleranceAndNaN) {
    EXPECT_FALSE((Vector2<float>(0, 0) == Vector2<float>(1e-6f, 0)));
    EXPECT_TRUE((Vector2<double>(0, 0) == Vector2<double>(5e-7, 0)));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE((Vector2<float>(nan, 1) == Vector2<float>(7, 1)));
    EXPECT_FALSE((Vector2<float>(nan, 1) != Vector2<float>(7, 1)));
}

TEST(Vector, DotStartsFromPositiveZero) {
    const float d = math::dot(Vector2<float>(-1, -1), Vector2<float>(0, 0));
    EXPECT_FALSE(std::signbit(d));
}

TEST(Vector, ToString) {
    EXPECT_EQ(math::toString(Vector3<float>(1, 2.5f, 1.0f / 3.0f)), "Vector3f(1, 2.5, 0.333333)");
    EXPECT_EQ(math::toString(Vector3<double>(-0.0, 1e10, 4)), "Vector3d(-0, 1e+10, 4)");
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(math::toString(Vector3<double>(-nan, nan, -1)), "Vector3d(nan, nan, -1)");
}

TEST(Vector, DistanceReflectProjectOntoAngle) {
    const Vector3<double> v(3, -4, 12);
    EXPECT_EQ(math::distance(v, Vector3<double>(0, 0, 0)), 13.0);
    const Vector3<double> mirrored = math::reflect(v, Vector3<double>(0, 1, 0));
    EXPECT_EQ(math::distance(mirrored, Vector3<double>(3, 4, 12)), 0.0);
    const Vector3<double> along = math::projectOnto(v, Vector3<double>(0, 0, 2));
    EXPECT_EQ(math::distance(along, Vector3<double>(0, 0, 12)), 0.0);
    EXPECT_TRUE(std::isnan(math::projectOnto(v, Vector3<double>()).x));
    const float pi = std::acos(-1.0f);
    EXPECT_FLOAT_EQ(math::angle(Vector4<float>(1, 0, 0, 0), Vector4<float>(-1, 1, 0, 0)),
                    3 * pi / 4);
    EXPECT_TRUE(std::isnan(math::angle(Vector2<double>(0, 0), Vector2<double>(1, 0))));
}
