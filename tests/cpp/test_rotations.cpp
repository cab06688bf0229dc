#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/euler.hpp"

using math::Euler;
using math::Quaternion;
using math::Vector3;

namespace {

template <class T>
class Rotations : public ::testing::Test {
protected:
    static constexpr T eps = std::numeric_limits<T>::epsilon();
    const T pi = std::acos(T(-1));
    std::mt19937 rng{7};
    T uniform(T lo, T hi) { return std::uniform_real_distribution<T>(lo, hi)(rng); }
    Vector3<T> vector() { return {uniform(-2, 2), uniform(-2, 2), uniform(-2, 2)}; }
    Quaternion<T> quaternion() {
        return {uniform(-2, 2), uniform(-2, 2), uniform(-2, 2), uniform(-2, 2)};
    }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Rotations, Precisions);

// Bindings take the vector dot's address with the quaternion dot in view.
[[maybe_unused]] const auto vectorDot = &math::dot<Vector3<float>>;

}  // namespace

TYPED_TEST(Rotations, AxisAngleAndRotationVectorRoundTrip) {
    using T = TypeParam;
    const T eps = this->eps;
    for (int i = 0; i < 200; ++i) {
        const Vector3<T> axis = this->vector(), unit = math::normalize(axis);
        // Down to angles where acos(w) keeps no digits at all.
        const T angle = i % 2 ? this->uniform(0, this->pi) : std::pow(T(10), -T(i % 24) / 2);
        const Quaternion<T> q = math::quaternionFromAxisAngle(axis, angle);
        for (const Quaternion<T>& p : {q, q * T(-3)}) {
            const math::AxisAngle<T> aa = math::toAxisAngle(p);
            EXPECT_NEAR(aa.angle, angle, 8 * eps * angle);
            EXPECT_LE(math::distance(aa.axis, unit), 8 * eps);
            const Vector3<T> v = math::toRotationVector(p);
            EXPECT_LE(math::distance(v, unit * angle), 8 * eps * angle);
            const Quaternion<T> back = math::quaternionFromRotationVector(v);
            EXPECT_LE(math::angleBetween(back, q), 16 * eps * angle);
        }
    }
    const Quaternion<T> half(0, 0, -1, 0);  // w = 0: q and -q must still agree
    EXPECT_EQ(math::toAxisAngle(half).axis.y, T(1));
    EXPECT_EQ(math::toAxisAngle(half * T(-1)).axis.y, T(1));
    EXPECT_EQ(math::toAxisAngle(Quaternion<T>(0, 0, 0, 0)).axis.x, T(1));
    const Quaternion<T> none = math::quaternionFromRotationVector(Vector3<T>());
    EXPECT_EQ(math::norm(math::toRotationVector(none)), T(0));
    EXPECT_TRUE(std::isnan(math::quaternionFromAxisAngle(Vector3<T>(), T(1)).x));
}

// Angles -> rotation -> extracted angles, through the matrix and the
// quaternion, for every order and convention.
TYPED_TEST(Rotations, EulerRoundTripsEveryOrderAndConvention) {
    using T = TypeParam;
    const T tolerance = std::is_same_v<T, float> ? T(1e-6) : T(1e-12);
    const int middleAxis[6] = {1, 2, 0, 2, 0, 1};  // reversing keeps the middle axis
    for (int convention = 0; convention < 2; ++convention) {
        for (int order = 0; order < 6; ++order) {
            for (int i = 0; i < 20; ++i) {
                T angles[3] = {this->uniform(-3, 3), this->uniform(-3, 3), this->uniform(-3, 3)};
                angles[middleAxis[order]] = this->uniform(T(-1.2), T(1.2));  // off the gimbal band
                Euler<T> e(angles[0], angles[1], angles[2]);
                e.order = static_cast<math::euler::Order>(order);
                e.convention = static_cast<math::euler::Convention>(convention);
                Euler<T> fromMatrix = e, fromQuaternion = e;
                fromMatrix.setFromRotationMatrix(math::toMatrix3(e));
                fromQuaternion.setFromQuaternion(math::toQuaternion(e));
                for (const Euler<T>& back : {fromMatrix, fromQuaternion}) {
                    const Vector3<T> error(back.x - e.x, back.y - e.y, back.z - e.z);
                    EXPECT_LE(math::norm(error), tolerance) << order << convention;
                }
                EXPECT_EQ(math::toMatrix4(e)(2, 1), math::toMatrix3(e)(2, 1));
            }
        }
    }
    Euler<T> bad;
    bad.order = static_cast<math::euler::Order>(6);
    EXPECT_TRUE(std::isnan(math::toMatrix3(bad)(0, 0)) && std::isnan(math::toQuaternion(bad).w));
}

TYPED_TEST(Rotations, SlerpEndpointsMidpointAndNearlyEqualInputs) {
    using T = TypeParam;
    const T eps = this->eps;
    for (int i = 0; i < 100; ++i) {
        const Quaternion<T> q0 = this->quaternion(), q1 = this->quaternion();
        // Neighbours a few units in the last place away (nlerp), just above
        // the switch to nlerp (sine weights), and far.
        for (const Quaternion<T>& other :
             {q0 + Quaternion<T>(0, 3 * eps * q0.length(), 0, 0),
              q0 + Quaternion<T>(0, T(1e-5) * q0.length(), 0, 0), q1}) {
            const Quaternion<T> a = q0.normalize(), b = other.normalize(),
                                end = math::dot(a, b) < T(0) ? b * T(-1) : b;
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(math::slerp(q0, other, T(0))[k], a[k]);
                EXPECT_EQ(math::slerp(q0, other, T(1))[k], end[k]);
            }
            const T whole = math::angleBetween(q0, other);
            // A quarter of the way, and on the same great circle: 4 quarters reach the end.
            const Quaternion<T> quarter = math::slerp(q0, other, T(0.25));
            EXPECT_NEAR(quarter.length(), T(1), 4 * eps);
            EXPECT_NEAR(math::angleBetween(q0, quarter), whole / 4, 64 * eps);
            EXPECT_LE(math::angleBetween(math::slerp(q0, quarter, T(4)), other), 64 * eps);
        }
        const Quaternion<T> mid = math::slerp(q0, q1, T(0.5));
        EXPECT_LE(math::angleBetween(math::nlerp(q0, q1, T(0.5)), mid), 8 * eps);
        EXPECT_NEAR(math::nlerp(q0, q1, T(0.3)).length(), T(1), 4 * eps);
    }
}

TYPED_TEST(Rotations, QuaternionBetweenRandomAndOppositeVectors) {
    using T = TypeParam;
    for (int i = 0; i < 200; ++i) {
        const Vector3<T> a = this->vector();
        // Opposite exactly, up to rounding, all but opposite, and anywhere.
        for (const Vector3<T>& b :
             {-a * T(2), -a * T(3), -a * T(2) + Vector3<T>(8 * this->eps), this->vector()}) {
            const Quaternion<T> q = math::quaternionBetween(a, b);
            EXPECT_NEAR(q.length(), T(1), 4 * this->eps);
            const Vector3<T> moved = q.rotate(math::normalize(a));
            EXPECT_LE(math::distance(moved, math::normalize(b)), 16 * this->eps);
            EXPECT_NEAR(math::toAxisAngle(q).angle, math::angle(a, b), 16 * this->eps);
        }
    }
    EXPECT_TRUE(std::isnan(math::quaternionBetween(Vector3<T>(), Vector3<T>(1, 0, 0)).w));
}

// Near 0 and near pi, where acos of a dot product keeps half the digits.
TYPED_TEST(Rotations, AnglesAccurateNearZeroAndPi) {
    using T = TypeParam;
    using L = long double;
    for (int i = 0; i < 100; ++i) {
        const Vector3<T> a = this->vector(), axis = math::cross(a, this->vector());
        const T delta = std::pow(T(10), -T(1 + i % 7));
        for (T turn : {delta, this->pi - delta}) {
            const Quaternion<T> q = math::quaternionFromAxisAngle(axis, turn);
            const Quaternion<T> p = this->quaternion();
            const Vector3<L> al = math::convert<L>(a), bl = math::convert<L>(q.rotate(a));
            const L reference = std::atan2(math::norm(math::cross(al, bl)), math::dot(al, bl));
            EXPECT_NEAR(math::angle(a, q.rotate(a)), reference, 8 * this->eps);
            const Quaternion<L> r = math::convert<L>(q * p) * math::convert<L>(p).conjugate();
            const L turnReference =
                2 * std::atan2(math::norm(Vector3<L>(r.x, r.y, r.z)), std::abs(r.w));
            EXPECT_NEAR(math::angleBetween(p, q * p), turnReference, 16 * this->eps);
        }
    }
}
