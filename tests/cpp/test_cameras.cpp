#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <type_traits>

#include "math/matrix.hpp"

using math::Matrix4;
using math::Vector3;
using math::Vector4;

namespace {

template <class T>
class Cameras : public ::testing::Test {
protected:
    static constexpr T eps = std::numeric_limits<T>::epsilon();
    std::mt19937 rng{11};
    std::uniform_real_distribution<T> uniform{-1, 1};
    Vector3<T> vector(T r) { return Vector3<T>(uniform(rng), uniform(rng), uniform(rng)) * r; }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Cameras, Precisions);

template <class T>
Vector4<T> point(const Vector3<T>& p) {
    return {p.x, p.y, p.z, T(1)};
}

}  // namespace

TYPED_TEST(Cameras, LookAtMovesEyeToOriginAndTargetOntoMinusZ) {
    using T = TypeParam;
    for (int i = 0; i < 100; ++i) {
        const Vector3<T> eye = this->vector(10), target = this->vector(10), up = this->vector(1);
        const Matrix4<T> view = math::lookAt(eye, target, up);
        const T tolerance = 64 * this->eps * (math::norm(eye) + math::norm(target));
        EXPECT_LE(math::distance(view * point(eye), Vector4<T>(0, 0, 0, 1)), tolerance);
        EXPECT_LE(
            math::distance(view * point(target), Vector4<T>(0, 0, -math::distance(eye, target), 1)),
            tolerance);
        // A proper rotation that keeps up in the upper half of the camera's y-z plane.
        EXPECT_NEAR(math::determinant(view), T(1), 16 * this->eps);
        const Vector4<T> cameraUp = view * Vector4<T>(up.x, up.y, up.z, T(0));
        EXPECT_NEAR(cameraUp.x, T(0), 16 * this->eps);
        EXPECT_GT(cameraUp.y, T(0));
    }
    EXPECT_TRUE(std::isnan(math::lookAt<T>({1, 1, 1}, {1, 1, 1}, {0, 1, 0})(0, 0)));
}

// Window y grows downwards from the viewport's top edge; depth covers [0, 1].
TYPED_TEST(Cameras, OrthoProjectAndUnproject) {
    using T = TypeParam;
    const Vector4<T> viewport(10, 20, 640, 480);
    const Matrix4<T> box = math::ortho(T(0), T(4), T(0), T(2), T(1), T(3));
    const Vector3<T> nearTopRight = math::project(Vector3<T>(4, 2, -1), box, viewport);
    const Vector3<T> farBottomLeft = math::project(Vector3<T>(0, 0, -3), box, viewport);
    EXPECT_EQ(math::distance(nearTopRight, Vector3<T>(650, 20, 0)), T(0));
    EXPECT_EQ(math::distance(farBottomLeft, Vector3<T>(10, 500, 1)), T(0));

    const Vector3<T> eye(3, 2, 6), forward = math::normalize(Vector3<T>(-3, -1.5, -6));
    const Matrix4<T> viewProjection = Matrix4<T>::Perspective(60, T(4) / T(3), 1, 50) *
                                      math::lookAt(eye, eye + forward, Vector3<T>(0, 1, 0));
    const T tolerance = std::is_same_v<T, float> ? T(2e-3) : T(1e-10);
    for (int i = 0; i < 100; ++i) {
        const Vector3<T> p = eye + forward * T(2 + i % 18) + this->vector(1);
        const Vector3<T> window = math::project(p, viewProjection, viewport);
        EXPECT_LE(math::distance(math::unproject(window, viewProjection, viewport), p),
                  tolerance * math::distance(p, eye));
    }
    // Degenerate input divides by zero, nothing worse.
    EXPECT_TRUE(std::isinf(math::ortho(T(-1), T(1), T(-1), T(1), T(2), T(2))(2, 2)));
    EXPECT_FALSE(std::isfinite(math::project(eye, viewProjection, viewport).x));
    const Vector4<T> empty;
    EXPECT_FALSE(std::isfinite(math::unproject(Vector3<T>(1, 1, 0.5), viewProjection, empty).x));
}
