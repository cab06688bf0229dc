#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "math/euler_sequences.hpp"

using math::EulerSequence;
using math::Quaternion;
using math::Vector3;

namespace {

static_assert(EulerSequence::parse("XYZ", 3)->first == 0 &&
              !EulerSequence::parse("XYZ", 3)->extrinsic);
static_assert(EulerSequence::parse("zxz", 3)->proper() &&
              EulerSequence::parse("zxz", 3)->extrinsic);
static_assert(!EulerSequence::parse("XyZ", 3) && !EulerSequence::parse("XXY", 3) &&
              !EulerSequence::parse("XYY", 3) && !EulerSequence::parse("XYW", 3) &&
              !EulerSequence::parse("XY", 2));

template <class T>
class EulerSequences : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(EulerSequences, Precisions);

// The larger distance of a to b and to -b.
template <class T>
T distance(const Quaternion<T>& a, const Quaternion<T>& b) {
    T plus = 0, minus = 0;
    for (int k = 0; k < 4; ++k) {
        plus = std::max(plus, std::abs(a[k] - b[k]));
        minus = std::max(minus, std::abs(a[k] + b[k]));
    }
    return std::min(plus, minus);
}

}  // namespace

// Every sequence: the angles rebuild the quaternion to rounding, lie in
// their ranges, and at gimbal lock (middle angles at the ends, given
// exactly) the third is 0.
TYPED_TEST(EulerSequences, RoundTripInRangeAndAtGimbalLock) {
    using T = TypeParam;
    const T pi = std::acos(T(-1)), tol = sizeof(T) == 4 ? T(1e-6) : T(1e-15);
    std::mt19937 rng(3);
    std::uniform_real_distribution<T> angle(-pi, pi);
    for (const char* axes :
         {"XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX", "XYX", "XZX", "YXY", "YZY", "ZXZ", "ZYZ"}) {
        for (bool lower : {false, true}) {
            std::string text = axes;
            if (lower) {
                for (char& c : text) c = static_cast<char>(c - 'X' + 'x');
            }
            const EulerSequence s = *EulerSequence::parse(text.c_str(), 3);
            const T ends[2] = {s.proper() ? T(0) : -pi / 2, s.proper() ? pi : pi / 2};
            for (int i = 0; i < 300; ++i) {
                Vector3<T> in(angle(rng), angle(rng), angle(rng));
                if (i % 3 == 1) in.y = ends[i % 2];
                if (i % 3 == 2) in.y = ends[i % 2] + (i % 4 == 0 ? T(1e-9) : T(-1e-9));
                const Quaternion<T> q = math::quaternionFromEuler(in, s);
                const math::EulerAngles<T> out = math::eulerFromQuaternion(q * T(3), s);
                EXPECT_LE(distance(math::quaternionFromEuler(out.angles, s), q), tol) << text;
                EXPECT_TRUE(out.angles.x > -pi && out.angles.x <= pi && out.angles.z > -pi &&
                            out.angles.z <= pi && out.angles.y >= ends[0] &&
                            out.angles.y <= ends[1])
                    << text;
                if (i % 3 == 1) {
                    EXPECT_TRUE(out.gimbal && out.angles.z == T(0)) << text;
                }
            }
            EXPECT_TRUE(
                std::isnan(math::eulerFromQuaternion(Quaternion<T>(0, 0, 0, 0), s).angles.x));
        }
    }
}

TYPED_TEST(EulerSequences, InvalidSequencesGiveNaN) {
    using T = TypeParam;
    for (const EulerSequence s : {EulerSequence{0, 0, 1, false}, EulerSequence{0, 3, 1, true}}) {
        EXPECT_TRUE(std::isnan(math::quaternionFromEuler(Vector3<T>(1, 2, 3), s).w));
        EXPECT_TRUE(std::isnan(math::eulerFromQuaternion(Quaternion<T>(), s).angles.y));
    }
}
