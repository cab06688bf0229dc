#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "math/pose.hpp"

// The lane-parallel kernels against their plain scalar form, bit for bit,
// over random and special operands. Only NaN payloads may differ.

namespace {

using math::Matrix2;
using math::Matrix3;
using math::Matrix4;
using math::Pose3d;
using math::Quaternion;
using math::Vector2;
using math::Vector3;
using math::Vector4;

// The scalar form: each element's operations one after the other.
namespace plain {

template <class M>
M product(const M& a, const M& b) {
    constexpr int n = M::order;
    M r;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            typename M::Scalar sum(0);
            for (int k = 0; k < n; ++k) sum += a(i, k) * b(k, j);
            r(i, j) = sum;
        }
    }
    return r;
}

template <class M>
typename M::Column apply(const M& a, const typename M::Column& v) {
    constexpr int n = M::order;
    typename M::Column r;
    for (int i = 0; i < n; ++i) {
        r[i] = a(i, 0) * v[0];
        for (int k = 1; k < n; ++k) r[i] = r[i] + a(i, k) * v[k];
    }
    return r;
}

template <int n>
struct Remaining {
    int at[n - 1];
    explicit Remaining(int skip) {
        for (int k = 0, out = 0; k < n; ++k) {
            if (k != skip) at[out++] = k;
        }
    }
};

template <class M, class Minor>
typename M::Scalar expandColumn0(const M& a, const Minor& minor) {
    typename M::Scalar d = a(0, 0) * minor(0);
    for (int j = 1; j < M::order; ++j) {
        const typename M::Scalar term = a(j, 0) * minor(j);
        d = (j % 2 == 1) ? d - term : d + term;
    }
    return d;
}

template <class M, class Minor>
M adjugateInverse(const M& a, const Minor& minor) {
    constexpr int n = M::order;
    M minors;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) minors(j, i) = minor(j, i);
    }
    using T = typename M::Scalar;
    const T r = T(1) / expandColumn0(a, [&](int j) { return minors(j, 0); });
    M inverse;
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const T cofactor = ((i + j) % 2 == 1) ? -minors(j, i) : minors(j, i);
            inverse(i, j) = cofactor * r;
        }
    }
    return inverse;
}

template <class T>
T minor3(const Matrix3<T>& a, int row, int col) {
    const Remaining<3> r(row), c(col);
    return a(r.at[0], c.at[0]) * a(r.at[1], c.at[1]) - a(r.at[1], c.at[0]) * a(r.at[0], c.at[1]);
}

template <class T>
struct PairMinors {
    T of[4][4];
    PairMinors(const Matrix4<T>& a, int c, int d) : of{} {
        for (int p = 0; p < 4; ++p) {
            for (int q = p + 1; q < 4; ++q) of[p][q] = a(p, c) * a(q, d) - a(q, c) * a(p, d);
        }
    }
};

template <class T>
T minor4(const Matrix4<T>& a, int row, int col, const PairMinors<T>& pairs) {
    const Remaining<4> r(row);
    const int p = r.at[0], q = r.at[1], s = r.at[2];
    return a(p, col) * pairs.of[q][s] - a(q, col) * pairs.of[p][s] + a(s, col) * pairs.of[p][q];
}

template <class T>
T determinant(const Matrix3<T>& a) {
    return expandColumn0(a, [&](int j) { return minor3(a, j, 0); });
}

template <class T>
T determinant(const Matrix4<T>& a) {
    const PairMinors<T> right(a, 2, 3);
    return expandColumn0(a, [&](int j) { return minor4(a, j, 1, right); });
}

template <class T>
Matrix3<T> inverse(const Matrix3<T>& a) {
    return adjugateInverse(a, [&](int row, int col) { return minor3(a, row, col); });
}

template <class T>
Matrix4<T> inverse(const Matrix4<T>& a) {
    const PairMinors<T> left(a, 0, 1), right(a, 2, 3);
    return adjugateInverse(a, [&](int row, int col) {
        return col < 2 ? minor4(a, row, 1 - col, right) : minor4(a, row, 5 - col, left);
    });
}

template <class V>
V normalize(const V& v) {
    typename math::VectorTraits<V>::Scalar sum(0);
    for (int i = 0; i < math::VectorTraits<V>::size; ++i) sum += v[i] * v[i];
    const auto n = std::sqrt(sum);
    V r;
    for (int i = 0; i < math::VectorTraits<V>::size; ++i) r[i] = v[i] / n;
    return r;
}

template <class T>
Quaternion<T> product(const Quaternion<T>& a, const Quaternion<T>& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
            a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y + a.y * b.w + a.z * b.x - a.x * b.z,
            a.w * b.z + a.z * b.w + a.x * b.y - a.y * b.x};
}

template <class T>
Quaternion<T> normalize(const Quaternion<T>& q) {
    const T n = std::sqrt(((q.w * q.w + q.x * q.x) + q.y * q.y) + q.z * q.z);
    return {q.w / n, q.x / n, q.y / n, q.z / n};
}

template <class T>
Quaternion<T> inverse(const Quaternion<T>& q) {
    const T r = T(1) / (((q.w * q.w + q.x * q.x) + q.y * q.y) + q.z * q.z);
    return {q.w * r, -q.x * r, -q.y * r, -q.z * r};
}

template <class T>
Vector3<T> rotate(const Quaternion<T>& q, const Vector3<T>& v) {
    const Quaternion<T> u = product(product(q, Quaternion<T>(T(0), v.x, v.y, v.z)), inverse(q));
    return {u.x, u.y, u.z};
}

template <class T>
Matrix3<T> toMatrix3(const Quaternion<T>& unnormalized) {
    const Quaternion<T> q = normalize(unnormalized);
    const T qw = q.w, qx = q.x, qy = q.y, qz = q.z;
    return Matrix3<T>(T(1) - T(2) * (qy * qy + qz * qz), T(2) * (qx * qy - qz * qw),
                      T(2) * (qx * qz + qy * qw),  //
                      T(2) * (qx * qy + qz * qw), T(1) - T(2) * (qz * qz + qx * qx),
                      T(2) * (qy * qz - qx * qw),  //
                      T(2) * (qx * qz - qy * qw), T(2) * (qy * qz + qx * qw),
                      T(1) - T(2) * (qx * qx + qy * qy));
}

template <class T>
Pose3d<T> fields(const Vector3<T>& position, const Quaternion<T>& orientation) {
    Pose3d<T> p;
    p.position = position;
    p.orientation = orientation;
    return p;
}

template <class T>
Vector3<T> apply(const Pose3d<T>& p, const Vector3<T>& v) {
    return p.position + rotate(p.orientation, v);
}

template <class T>
Pose3d<T> compose(const Pose3d<T>& a, const Pose3d<T>& b) {
    return fields(apply(a, b.position),
                  normalize(normalize(product(a.orientation, b.orientation))));
}

template <class T>
Pose3d<T> inverse(const Pose3d<T>& p) {
    const Quaternion<T> qi = inverse(p.orientation);
    return fields(-rotate(qi, p.position), normalize(qi));
}

}  // namespace plain

// Operands element by element: mostly moderate magnitudes and values near 1,
// with arbitrary bit patterns (huge, tiny, denormal) and the special values
// mixed in.
template <class T>
class Operands {
public:
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

    // One draw per element; the kind, sign, exponent and mantissa come from
    // its bits.
    T next() {
        const std::uint64_t r = rng_();
        const unsigned kind = r & 15;
        if (kind < 2) return kSpecial[(r >> 4) % (sizeof kSpecial / sizeof kSpecial[0])];
        if (kind < 5) return fromBits(static_cast<Bits>(sizeof(T) == 4 ? r >> 32 : rng_()));
        const Bits mantissa = static_cast<Bits>(r >> 8) & kMantissa;
        if (kind < 9) {
            const Bits one = toBits(T(1)), offset = mantissa >> ((r >> 4) % 24);
            return fromBits(r & (1u << 7) ? one + offset : one - offset);
        }
        const Bits exponent = static_cast<Bits>(kBias + int((r >> 4) % 33) - 16) << kMantissaBits;
        const Bits sign = (r & (1u << 7)) ? Bits(1) << (8 * sizeof(T) - 1) : 0;
        return fromBits(sign | exponent | mantissa);
    }

    template <class R>
    R fill() {
        R r;
        T values[sizeof(R) / sizeof(T)];
        for (T& v : values) v = next();
        std::memcpy(static_cast<void*>(&r), values, sizeof r);
        return r;
    }

private:
    static constexpr int kMantissaBits = std::numeric_limits<T>::digits - 1;
    static constexpr Bits kMantissa = (Bits(1) << kMantissaBits) - 1;
    static constexpr int kBias = std::numeric_limits<T>::max_exponent - 1;

    static Bits toBits(T value) {
        Bits bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    static T fromBits(Bits bits) {
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    static constexpr T kInf = std::numeric_limits<T>::infinity();
    static constexpr T kSpecial[] = {
        T(0),
        -T(0),
        kInf,
        -kInf,
        std::numeric_limits<T>::quiet_NaN(),
        std::numeric_limits<T>::denorm_min(),
        -std::numeric_limits<T>::denorm_min(),
        std::numeric_limits<T>::min() / T(3),
        std::numeric_limits<T>::min(),
        std::numeric_limits<T>::max(),
        -std::numeric_limits<T>::max(),
        std::numeric_limits<T>::epsilon(),
        T(1),
        T(-1),
    };

    std::mt19937_64 rng_{0x5eed};
};

// Every component the same bits, or NaN on both sides.
template <class T, class R>
bool sameBits(const R& a, const R& b) {
    static_assert(sizeof(R) % sizeof(T) == 0);
    T x[sizeof(R) / sizeof(T)], y[sizeof(R) / sizeof(T)];
    std::memcpy(x, static_cast<const void*>(&a), sizeof a);
    std::memcpy(y, static_cast<const void*>(&b), sizeof b);
    for (std::size_t k = 0; k < sizeof(R) / sizeof(T); ++k) {
        if (std::isnan(x[k]) && std::isnan(y[k])) continue;
        if (std::memcmp(&x[k], &y[k], sizeof(T)) != 0) return false;
    }
    return true;
}

// Per operation and precision, some 4.7 million operands in all; fewer
// where the build is unoptimized or instrumented.
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
constexpr int kOperandCount = 1 << 16;
#else
constexpr int kOperandCount = 1 << 18;
#endif

template <class T>
struct KernelBits : ::testing::Test {
    // kernel(operands) gives the (plain, rewritten) pair; the first
    // difference fails with its index.
    template <class Kernel>
    void check(const std::string& name, const Kernel& kernel) {
        Operands<T> operands;
        for (int k = 0; k < kOperandCount; ++k) {
            const auto [expected, actual] = kernel(operands);
            if (!sameBits<T>(expected, actual)) {
                ADD_FAILURE() << name << " differs at operand " << k;
                return;
            }
        }
    }
};

using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(KernelBits, Precisions);

TYPED_TEST(KernelBits, AsThePlainScalarForm) {
    using T = TypeParam;
    using O = Operands<T>;
    auto products = [&](auto matrix) {
        using M = decltype(matrix);
        const std::string order = std::to_string(M::order);
        this->check("product " + order, [](O& o) {
            const M a = o.template fill<M>(), b = o.template fill<M>();
            return std::pair{plain::product(a, b), a * b};
        });
        this->check("apply " + order, [](O& o) {
            const M a = o.template fill<M>();
            const auto v = o.template fill<typename M::Column>();
            return std::pair{plain::apply(a, v), a * v};
        });
        this->check("normalize " + order, [](O& o) {
            const auto v = o.template fill<typename M::Column>();
            return std::pair{plain::normalize(v), math::normalize(v)};
        });
    };
    products(Matrix2<T>());
    products(Matrix3<T>());
    products(Matrix4<T>());
    auto inverses = [&](auto matrix) {
        using M = decltype(matrix);
        const std::string order = std::to_string(M::order);
        this->check("determinant " + order, [](O& o) {
            const M a = o.template fill<M>();
            return std::pair{plain::determinant(a), math::determinant(a)};
        });
        this->check("inverse " + order, [](O& o) {
            const M a = o.template fill<M>();
            return std::pair{plain::inverse(a), math::inverse(a)};
        });
    };
    inverses(Matrix3<T>());
    inverses(Matrix4<T>());
    using Q = Quaternion<T>;
    this->check("quaternion product", [](O& o) {
        const Q a = o.template fill<Q>(), b = o.template fill<Q>();
        return std::pair{plain::product(a, b), a * b};
    });
    this->check("quaternion normalize", [](O& o) {
        const Q q = o.template fill<Q>();
        return std::pair{plain::normalize(q), q.normalize()};
    });
    this->check("rotate", [](O& o) {
        const Q q = o.template fill<Q>();
        const auto v = o.template fill<Vector3<T>>();
        return std::pair{plain::rotate(q, v), q.rotate(v)};
    });
    this->check("toMatrix3", [](O& o) {
        const Q q = o.template fill<Q>();
        return std::pair{plain::toMatrix3(q), q.toMatrix3()};
    });
    using P = Pose3d<T>;
    this->check("pose compose", [](O& o) {
        const P a = o.template fill<P>(), b = o.template fill<P>();
        return std::pair{plain::compose(a, b), a * b};
    });
    this->check("pose apply", [](O& o) {
        const P p = o.template fill<P>();
        const auto v = o.template fill<Vector3<T>>();
        return std::pair{plain::apply(p, v), p.apply(v)};
    });
    this->check("pose inverse", [](O& o) {
        const P p = o.template fill<P>();
        return std::pair{plain::inverse(p), p.inverse()};
    });
}

}  // namespace
