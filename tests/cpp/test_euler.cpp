#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "math/euler.hpp"

using math::Euler;
using math::Matrix3;
using math::Matrix4;
using math::Quaternion;
using math::Vector3;
using math::euler::Convention;
using math::euler::Order;

namespace {

template <class T>
Matrix3<T> axisRotation(char axis, T a) {
    const T c = std::cos(a), s = std::sin(a);
    switch (axis) {
        case 'X': return Matrix3<T>(1, 0, 0, 0, c, -s, 0, s, c);
        case 'Y': return Matrix3<T>(c, 0, s, 0, 1, 0, -s, 0, c);
        default: return Matrix3<T>(c, -s, 0, s, c, 0, 0, 0, 1);
    }
}

template <class T>
Matrix3<T> product(const Matrix3<T>& a, const Matrix3<T>& b) {
    Matrix3<T> r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r(i, j) += a(i, k) * b(k, j);
    return r;
}

const Order kOrders[] = {Order::XYZ, Order::YZX, Order::ZXY, Order::XZY, Order::YXZ, Order::ZYX};
const char* const kNames[] = {"XYZ", "YZX", "ZXY", "XZY", "YXZ", "ZYX"};

int axisIndex(char axis) { return axis - 'X'; }

// Axis names in the order the rotations are applied about the moving frame:
// extrinsic rotations about the fixed axes compose like the reversed names.
std::string intrinsicAxes(Order order, Convention convention) {
    std::string axes = kNames[static_cast<int>(order)];
    if (convention == Convention::EXTRINSIC) axes = std::string(axes.rbegin(), axes.rend());
    return axes;
}

template <class T>
T& angleOf(Euler<T>& e, char axis) {
    return axis == 'X' ? e.x : axis == 'Y' ? e.y : e.z;
}

// The matrix that the angles describe for the order and convention.
template <class T>
Matrix3<T> compose(Euler<T> angles, Order order, Convention convention) {
    const std::string axes = intrinsicAxes(order, convention);
    Matrix3<T> m = axisRotation(axes[0], angleOf(angles, axes[0]));
    m = product(m, axisRotation(axes[1], angleOf(angles, axes[1])));
    return product(m, axisRotation(axes[2], angleOf(angles, axes[2])));
}

template <class T>
void expectMatrixNear(const Matrix3<T>& a, const Matrix3<T>& b, T tolerance) {
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << "element " << i;
}

template <class T>
void expectSameFields(const Euler<T>& a, const Euler<T>& b) {
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.z, b.z);
    EXPECT_EQ(a.order, b.order);
    EXPECT_EQ(a.convention, b.convention);
}

template <class T>
class EulerTest : public ::testing::Test {
protected:
    static constexpr T tol = std::is_same_v<T, float> ? T(2e-5) : T(1e-12);
    const T pi = std::acos(T(-1));
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(EulerTest, Precisions);

TYPED_TEST(EulerTest, RoundTripsEveryOrderAndConvention) {
    using T = TypeParam;
    for (Convention convention : {Convention::INTRINSIC, Convention::EXTRINSIC}) {
        for (Order order : kOrders) {
            SCOPED_TRACE(intrinsicAxes(order, convention));
            Euler<T> e;
            e.order = order;
            e.convention = convention;
            e.setFromRotationMatrix(compose(Euler<T>(T(0.3), T(-0.5), T(1.2)), order, convention));
            EXPECT_NEAR(e.x, T(0.3), this->tol);
            EXPECT_NEAR(e.y, T(-0.5), this->tol);
            EXPECT_NEAR(e.z, T(1.2), this->tol);
            EXPECT_EQ(e.order, order);
            EXPECT_EQ(e.convention, convention);

            e.setFromRotationMatrix(Matrix3<T>(1, 1, 1));
            EXPECT_EQ(e.x, T(0));
            EXPECT_EQ(e.y, T(0));
            EXPECT_EQ(e.z, T(0));
        }
    }
}

// Extrinsic XYZ turns about fixed x first: Rz(z) * Ry(y) * Rx(x).
TYPED_TEST(EulerTest, ExtrinsicMeansFixedAxes) {
    using T = TypeParam;
    const Matrix3<T> m = product(product(axisRotation('Z', T(0.7)), axisRotation('Y', T(0.2))),
                                 axisRotation('X', T(-0.4)));
    Euler<T> e;
    e.convention = Convention::EXTRINSIC;
    e.setFromRotationMatrix(m);
    EXPECT_NEAR(e.x, T(-0.4), this->tol);
    EXPECT_NEAR(e.y, T(0.2), this->tol);
    EXPECT_NEAR(e.z, T(0.7), this->tol);
}

TYPED_TEST(EulerTest, GimbalExampleGivesTheSumToX) {
    using T = TypeParam;
    const Euler<T> e(
        compose(Euler<T>(T(0.3), this->pi / 2, T(0.2)), Order::XYZ, Convention::INTRINSIC));
    EXPECT_NEAR(e.y, this->pi / 2, T(2e-3));
    EXPECT_NEAR(e.x, T(0.5), this->tol);
    EXPECT_EQ(e.z, T(0));
}

// At gimbal lock only the combination of the outer angles is fixed: the
// last angle of the (intrinsic) order is zero and the angles still rebuild
// the same matrix.
TYPED_TEST(EulerTest, GimbalBranchRebuildsTheMatrix) {
    using T = TypeParam;
    for (Convention convention : {Convention::INTRINSIC, Convention::EXTRINSIC}) {
        for (Order order : kOrders) {
            for (T middle : {this->pi / 2, -this->pi / 2}) {
                const std::string axes = intrinsicAxes(order, convention);
                SCOPED_TRACE(axes);
                Euler<T> built(T(0.3), T(0.3), T(0.3));
                angleOf(built, axes[1]) = middle;
                const Matrix3<T> m = compose(built, order, convention);
                Euler<T> e;
                e.order = order;
                e.convention = convention;
                e.setFromRotationMatrix(m);
                EXPECT_EQ(angleOf(e, axes[2]), T(0));
                EXPECT_NEAR(angleOf(e, axes[1]), middle, T(2e-3));
                expectMatrixNear(compose(e, order, convention), m, T(2e-3));
            }
        }
    }
}

// The tested element is M(first axis, last axis); its sign follows the
// sine of the middle angle for the cyclic orders and is opposite otherwise.
TYPED_TEST(EulerTest, ClampAndThresholdOnTheTestedElement) {
    using T = TypeParam;
    for (Convention convention : {Convention::INTRINSIC, Convention::EXTRINSIC}) {
        for (Order order : kOrders) {
            const std::string axes = intrinsicAxes(order, convention);
            SCOPED_TRACE(axes);
            const int row = axisIndex(axes[0]), col = axisIndex(axes[2]);
            const T sign = (axes == "XYZ" || axes == "YZX" || axes == "ZXY") ? T(1) : T(-1);
            Euler<T> e;
            e.order = order;
            e.convention = convention;

            Euler<T> built(T(0.3), T(0.3), T(0.3));
            angleOf(built, axes[1]) = std::asin(T(0.9999985));
            Matrix3<T> m = compose(built, order, convention);
            ASSERT_LT(std::abs(m(row, col)), T(0.999999));
            e.setFromRotationMatrix(m);
            EXPECT_NEAR(angleOf(e, axes[2]), T(0.3), T(1e-4));  // regular branch

            angleOf(built, axes[1]) = std::asin(T(0.9999995));
            e.setFromRotationMatrix(compose(built, order, convention));
            EXPECT_EQ(angleOf(e, axes[2]), T(0));  // gimbal branch

            // Rounding above 1 must not reach asin.
            m(row, col) = sign * T(1.0000001);
            e.setFromRotationMatrix(m);
            EXPECT_EQ(angleOf(e, axes[1]), std::asin(T(1)));
            EXPECT_EQ(angleOf(e, axes[2]), T(0));
            m(row, col) = -sign * T(1.0000001);
            e.setFromRotationMatrix(m);
            EXPECT_EQ(angleOf(e, axes[1]), -std::asin(T(1)));
        }
    }
}

TYPED_TEST(EulerTest, InvalidTagsLeaveTheObjectUnchanged) {
    using T = TypeParam;
    const Matrix3<T> m =
        compose(Euler<T>(T(0.3), T(-0.5), T(1.2)), Order::XYZ, Convention::INTRINSIC);
    Euler<T> badOrder(T(1), T(2), T(3));
    badOrder.order = static_cast<Order>(6);
    Euler<T> badConvention(T(1), T(2), T(3));
    badConvention.convention = static_cast<Convention>(2);
    Euler<T> negativeConvention(T(1), T(2), T(3));
    negativeConvention.convention = static_cast<Convention>(-1);
    negativeConvention.order = static_cast<Order>(255);
    for (const Euler<T>& original : {badOrder, badConvention, negativeConvention}) {
        Euler<T> e = original;
        e.setFromRotationMatrix(m);
        e.setFromTransform(Matrix4<T>(1, 1, 1, 1));
        e.setFromQuaternion(Quaternion<T>::RotationZ(T(0.5)));
        e.setFromAxisAngle(Vector3<T>(0, 0, 1), T(0.5));
        expectSameFields(e, original);
    }
}

TYPED_TEST(EulerTest, QuaternionAndAxisAngleIgnoreLength) {
    using T = TypeParam;
    const Quaternion<T> q = Quaternion<T>::RotationZ(T(0.5));
    for (const Euler<T>& e :
         {Euler<T>(q), Euler<T>(q * T(2)), Euler<T>(Vector3<T>(0, 0, 2), T(0.5))}) {
        EXPECT_EQ(e.x, T(0));
        EXPECT_EQ(e.y, T(0));
        EXPECT_NEAR(e.z, T(0.5), this->tol);
    }
    const Euler<T> tilted(Vector3<T>(1, 1, 0), T(0.8));
    const Euler<T> fromQuaternion(Quaternion<T>(std::cos(T(0.4)),
                                                std::sin(T(0.4)) / std::sqrt(T(2)),
                                                std::sin(T(0.4)) / std::sqrt(T(2)), T(0)));
    EXPECT_NEAR(tilted.x, fromQuaternion.x, this->tol);
    EXPECT_NEAR(tilted.y, fromQuaternion.y, this->tol);
    EXPECT_NEAR(tilted.z, fromQuaternion.z, this->tol);
}

TYPED_TEST(EulerTest, ZeroAxisGivesNaNWithoutFailing) {
    using T = TypeParam;
    const Euler<T> e(Vector3<T>(0, 0, 0), T(1));
    EXPECT_TRUE(std::isnan(e.x));
    EXPECT_EQ(e.y, std::asin(T(1)));
    EXPECT_EQ(e.z, T(0));
}

TYPED_TEST(EulerTest, TransformUsesOnlyTheRotationBlock) {
    using T = TypeParam;
    const Matrix3<T> r =
        compose(Euler<T>(T(0.3), T(-0.5), T(1.2)), Order::YXZ, Convention::INTRINSIC);
    Matrix4<T> t(r(0, 0), r(0, 1), r(0, 2), T(4), r(1, 0), r(1, 1), r(1, 2), T(-5), r(2, 0),
                 r(2, 1), r(2, 2), T(6), T(7), T(8), T(9), T(10));
    Euler<T> fromTransform, fromBlock;
    fromTransform.order = fromBlock.order = Order::YXZ;
    fromTransform.setFromTransform(t);
    fromBlock.setFromRotationMatrix(r);
    expectSameFields(fromTransform, fromBlock);
}

TEST(Euler, DefaultsAndEnumValues) {
    const Euler<double> e;
    EXPECT_EQ(e.x, 0.0);
    EXPECT_EQ(e.order, Order::XYZ);
    EXPECT_EQ(e.convention, Convention::INTRINSIC);
    static_assert(std::is_same_v<std::underlying_type_t<Order>, std::uint8_t>);
    static_assert(std::is_same_v<std::underlying_type_t<Convention>, int>);
    static_assert(static_cast<int>(Order::ZYX) == 5 && static_cast<int>(Order::XZY) == 3);
    static_assert(std::is_trivially_copyable_v<Euler<float>>);
}

// Single-precision extraction must use the float functions throughout.
TEST(Euler, FloatExtractionStaysFloat) {
    static_assert(std::is_same_v<decltype(Euler<float>().x), float>);
    const Matrix3<float> m =
        compose(Euler<float>(0.3f, -0.5f, 1.2f), Order::XYZ, Convention::INTRINSIC);
    const Euler<float> e(m);
    EXPECT_EQ(e.y, asinf(m(0, 2)));
    EXPECT_EQ(e.x, atan2f(-m(1, 2), m(2, 2)));
    EXPECT_EQ(e.z, atan2f(-m(0, 1), m(0, 0)));
}

}  // namespace
