#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "math/nearest_rotation.hpp"
#include "math/rigid_motion.hpp"
#include "math/symmetric_eigen.hpp"

using math::Matrix3;
using math::Pose3d;
using math::Quaternion;
using math::Vector3;

namespace {

template <class T>
class RigidMotion : public ::testing::Test {
protected:
    static constexpr T eps = std::numeric_limits<T>::epsilon();
    std::mt19937 rng{11};
    T uniform(T lo, T hi) { return std::uniform_real_distribution<T>(lo, hi)(rng); }
    Vector3<T> vector() { return {uniform(-2, 2), uniform(-2, 2), uniform(-2, 2)}; }
    Quaternion<T> unit() {
        return Quaternion<T>(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1), uniform(-1, 1))
            .normalize();
    }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(RigidMotion, Precisions);

// q and -q are the same rotation.
template <class T>
T rotationGap(const Quaternion<T>& a, const Quaternion<T>& b) {
    const T d = std::abs(math::dot(a, b));
    return std::sqrt(std::abs(T(1) - std::min(d, T(1))));
}

}  // namespace

TYPED_TEST(RigidMotion, LargestEigenTakesTheFirstOfEqualsAndNaNGivesNaN) {
    using T = TypeParam;
    const math::LargestEigen<T> d =
        math::largestEigen<T>({{{1, 0, 0, 0}, {0, 5, 0, 0}, {0, 0, 2, 0}, {0, 0, 0, 5}}});
    EXPECT_EQ(d.value, T(5));
    EXPECT_EQ(std::abs(d.vector.y), T(1));  // of equals, the first
    const T nan = std::numeric_limits<T>::quiet_NaN();
    EXPECT_TRUE(std::isnan(math::largestEigen<T>({{{nan, 0, 0, 0}, {}, {}, {}}}).value));
}

TYPED_TEST(RigidMotion, NearestRotationOfExactScaledAndPerturbedMatrices) {
    using T = TypeParam;
    const T tol = 64 * this->eps;
    // Half turns, where the quaternion's w is 0.
    const Matrix3<T> halfTurns[] = {{1, 0, 0, 0, -1, 0, 0, 0, -1},
                                    {-1, 0, 0, 0, 1, 0, 0, 0, -1},
                                    {-1, 0, 0, 0, -1, 0, 0, 0, 1}};
    for (int axis = 0; axis < 3; ++axis) {
        const Quaternion<T> q = math::nearestRotation(halfTurns[axis]);
        EXPECT_NEAR(std::abs(q[1 + axis]), T(1), tol) << axis;
        EXPECT_NEAR(q.w, T(0), tol);
    }
    const Quaternion<T> id = math::nearestRotation(Matrix3<T>(1, 0, 0, 0, 1, 0, 0, 0, 1));
    EXPECT_EQ(id, Quaternion<T>());
    for (int i = 0; i < 100; ++i) {
        const Quaternion<T> q = this->unit();
        Matrix3<T> m = math::toMatrix3(q) * this->uniform(T(0.01), T(100));
        const Quaternion<T> scaled = math::nearestRotation(m);
        EXPECT_LE(rotationGap(scaled, q), std::sqrt(tol)) << i;
        EXPECT_GE(scaled.w, T(0));
        for (int k = 0; k < 9; ++k) m(k / 3, k % 3) += this->uniform(T(-1e-3), T(1e-3));
        EXPECT_LE(rotationGap(math::nearestRotation(m), q), T(3e-2)) << i;
        EXPECT_TRUE(std::isnan(math::nearestRotation(m * T(-1)).w));
    }
}

TYPED_TEST(RigidMotion, ExpAndLogAreInverseAcrossAngles) {
    using T = TypeParam;
    const T tol = 64 * this->eps;
    // Tiny, series-threshold, ordinary and near half-turn angles.
    const T angles[] = {T(0),    T(1e-20), T(1e-6), T(0.0099), T(0.011),
                        T(0.29), T(0.31),  T(1),    T(3.1)};
    for (T angle : angles) {
        for (int i = 0; i < 20; ++i) {
            const Vector3<T> axis = math::normalize(this->vector());
            const Pose3d<T> p(this->vector(), math::quaternionFromAxisAngle(axis, angle));
            const math::ExpCoords<T> xi = math::poseLog(p);
            const Pose3d<T> back = math::poseExp(xi.rotation, xi.translation);
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(back.position[k], p.position[k], 8 * tol);
            EXPECT_LE(rotationGap(back.orientation, p.orientation), std::sqrt(tol));
            // Half the screw twice is the whole motion.
            const Pose3d<T> half = math::posePower(p, T(0.5));
            const Pose3d<T> twice = half * half;
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(twice.position[k], p.position[k], 16 * tol);
        }
    }
}

TYPED_TEST(RigidMotion, DualQuaternionsAndMatricesRoundTrip) {
    using T = TypeParam;
    const T tol = 64 * this->eps;
    for (int i = 0; i < 100; ++i) {
        const Pose3d<T> p(this->vector(), this->unit());
        math::DualQuaternion<T> d = math::toDualQuaternion(p);
        d.real = d.real * T(3);  // not unit
        d.dual = d.dual * T(3);
        const Pose3d<T> back = math::poseFromDualQuaternion(d);
        const Pose3d<T> fromMatrix = math::poseFromMatrix(p.toMatrix());
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(back.position[k], p.position[k], tol);
            EXPECT_EQ(fromMatrix.position[k], p.position[k]);
        }
        EXPECT_LE(rotationGap(back.orientation, p.orientation), std::sqrt(tol));
        EXPECT_LE(rotationGap(fromMatrix.orientation, p.orientation), std::sqrt(tol));
    }
    math::Matrix4<T> projective = Pose3d<T>(this->vector(), this->unit()).toMatrix();
    projective(3, 2) = T(0.5);
    EXPECT_TRUE(std::isnan(math::poseFromMatrix(projective).position.x));
    const Pose3d<T> zero = math::poseFromDualQuaternion<T>({{0, 0, 0, 0}, {0, 1, 2, 3}});
    EXPECT_EQ(zero.orientation, Quaternion<T>());
    EXPECT_EQ(zero.position, Vector3<T>(2, 4, 6));
}
