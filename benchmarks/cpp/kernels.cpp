// Nanoseconds per operation of the kernels of include/math, GLM's and
// Eigen's, each applied to every element of arrays of kN random operands and
// stored to an output array. The cases are sampled in turn, one pass each,
// forwards and backwards in alternate rounds, so that load from other
// processes falls on all of them alike; each reports its fastest pass.
// Prints one JSON object a line: the setup, then one row per operation.
// Usage: kernels [rounds]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "math/matrix.hpp"
#include "math/quaternion.hpp"
#include "math/vector.hpp"

#if KERNELS_GLM
#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#endif
#if KERNELS_EIGEN
#include <Eigen/Dense>
#include <Eigen/Geometry>
#endif

namespace {

constexpr int kN = 4096;

// The same random numbers become each library's operands.
using Numbers = std::vector<double>;

template <class X>
struct Tag {};

template <class T>
math::Matrix4<T> make(Tag<math::Matrix4<T>>, const double* p) {
    math::Matrix4<T> m;
    for (int k = 0; k < 16; ++k) m.m[k] = T(p[k]);
    return m;
}
template <class T>
math::Vector3<T> make(Tag<math::Vector3<T>>, const double* p) {
    return {T(p[0]), T(p[1]), T(p[2])};
}
template <class T>
math::Vector4<T> make(Tag<math::Vector4<T>>, const double* p) {
    return {T(p[0]), T(p[1]), T(p[2]), T(p[3])};
}
template <class T>
math::Quaternion<T> make(Tag<math::Quaternion<T>>, const double* p) {
    return {T(p[0]), T(p[1]), T(p[2]), T(p[3])};
}
template <class T>
void put(std::vector<double>& out, const math::Matrix4<T>& m) {
    out.insert(out.end(), m.m, m.m + 16);
}
template <class T>
void put(std::vector<double>& out, const math::Vector3<T>& v) {
    out.insert(out.end(), {double(v.x), double(v.y), double(v.z)});
}
template <class T>
void put(std::vector<double>& out, const math::Vector4<T>& v) {
    out.insert(out.end(), {double(v.x), double(v.y), double(v.z), double(v.w)});
}
template <class T>
void put(std::vector<double>& out, const math::Quaternion<T>& q) {
    out.insert(out.end(), {double(q.w), double(q.x), double(q.y), double(q.z)});
}
void put(std::vector<double>& out, double s) { out.push_back(s); }

#if KERNELS_GLM
template <class T>
glm::mat<4, 4, T> make(Tag<glm::mat<4, 4, T>>, const double* p) {
    glm::mat<4, 4, T> m;
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) m[j][i] = T(p[i + 4 * j]);
    }
    return m;
}
template <class T>
glm::vec<3, T> make(Tag<glm::vec<3, T>>, const double* p) {
    return {T(p[0]), T(p[1]), T(p[2])};
}
template <class T>
glm::vec<4, T> make(Tag<glm::vec<4, T>>, const double* p) {
    return {T(p[0]), T(p[1]), T(p[2]), T(p[3])};
}
template <class T>
glm::qua<T> make(Tag<glm::qua<T>>, const double* p) {
    return glm::qua<T>(T(p[0]), T(p[1]), T(p[2]), T(p[3]));
}
template <class T>
void put(std::vector<double>& out, const glm::mat<4, 4, T>& m) {
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) out.push_back(m[j][i]);
    }
}
template <int n, class T>
void put(std::vector<double>& out, const glm::vec<n, T>& v) {
    for (int i = 0; i < n; ++i) out.push_back(v[i]);
}
template <class T>
void put(std::vector<double>& out, const glm::qua<T>& q) {
    out.insert(out.end(), {double(q.w), double(q.x), double(q.y), double(q.z)});
}
#endif

#if KERNELS_EIGEN
template <class T, int rows, int cols>
Eigen::Matrix<T, rows, cols> make(Tag<Eigen::Matrix<T, rows, cols>>, const double* p) {
    return Eigen::Map<const Eigen::Matrix<double, rows, cols>>(p).template cast<T>();
}
template <class T>
Eigen::Quaternion<T> make(Tag<Eigen::Quaternion<T>>, const double* p) {
    return Eigen::Quaternion<T>(T(p[0]), T(p[1]), T(p[2]), T(p[3]));
}
template <class T, int rows, int cols>
void put(std::vector<double>& out, const Eigen::Matrix<T, rows, cols>& m) {
    out.insert(out.end(), m.data(), m.data() + rows * cols);
}
template <class T>
void put(std::vector<double>& out, const Eigen::Quaternion<T>& q) {
    out.insert(out.end(), {double(q.w()), double(q.x()), double(q.y()), double(q.z())});
}
#endif

// Out of line, so that one pass cannot be merged with the next or dropped.
template <class A, class B, class R, class F>
[[gnu::noinline]] void binaryPass(const A* a, const B* b, R* r, F f) {
    for (int i = 0; i < kN; ++i) r[i] = f(a[i], b[i]);
}
template <class A, class R, class F>
[[gnu::noinline]] void unaryPass(const A* a, R* r, F f) {
    for (int i = 0; i < kN; ++i) r[i] = f(a[i]);
}

template <class X>
std::vector<X> operands(const Numbers& numbers, int width) {
    std::vector<X> xs;
    xs.reserve(kN);
    for (int i = 0; i < kN; ++i) xs.push_back(make(Tag<X>{}, numbers.data() + width * i));
    return xs;
}

struct Case {
    std::string impl;
    std::function<void()> pass;
    std::function<std::vector<double>()> results;
    double best = std::numeric_limits<double>::infinity();
};

struct Row {
    std::string op;
    double tolerance;  // largest difference from ours, relative to max(1, |ours|)
    std::vector<Case> cases;
};

template <class R, class A, class B, class F>
Case binaryCase(const char* impl, const Numbers& a, int wa, const Numbers& b, int wb, F f) {
    auto data = std::make_shared<std::tuple<std::vector<A>, std::vector<B>, std::vector<R>>>(
        operands<A>(a, wa), operands<B>(b, wb), std::vector<R>(kN));
    return {impl,
            [data, f] {
                auto& [x, y, r] = *data;
                binaryPass(x.data(), y.data(), r.data(), f);
            },
            [data] {
                std::vector<double> out;
                for (const R& r : std::get<2>(*data)) put(out, r);
                return out;
            }};
}

template <class R, class A, class F>
Case unaryCase(const char* impl, const Numbers& a, int wa, F f) {
    auto data = std::make_shared<std::pair<std::vector<A>, std::vector<R>>>(operands<A>(a, wa),
                                                                            std::vector<R>(kN));
    return {impl,
            [data, f] {
                auto& [x, r] = *data;
                unaryPass(x.data(), r.data(), f);
            },
            [data] {
                std::vector<double> out;
                for (const R& r : data->second) put(out, r);
                return out;
            }};
}

std::mt19937_64 rng(7);

Numbers uniform(int width) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    Numbers xs(std::size_t(width) * kN);
    for (double& x : xs) x = u(rng);
    return xs;
}

// Far from singular: a diagonal that dominates each row.
Numbers invertible() {
    Numbers xs = uniform(16);
    for (int i = 0; i < kN; ++i) {
        for (int k = 0; k < 4; ++k) xs[16 * i + 5 * k] += 4.0;
    }
    return xs;
}

Numbers unitQuaternions() {
    std::normal_distribution<double> g;
    Numbers xs(4 * kN);
    for (int i = 0; i < kN; ++i) {
        double* q = &xs[4 * i];
        for (int k = 0; k < 4; ++k) q[k] = g(rng);
        const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        for (int k = 0; k < 4; ++k) q[k] /= n;
    }
    return xs;
}

std::vector<Row> rows() {
    using M4f = math::Matrix4<float>;
    using M4d = math::Matrix4<double>;
    using V4f = math::Vector4<float>;
    using V3f = math::Vector3<float>;
    using V3d = math::Vector3<double>;
    using Qd = math::Quaternion<double>;
    const Numbers m1 = uniform(16), m2 = uniform(16), v4 = uniform(4), v3 = uniform(3);
    const Numbers inv = invertible(), q1 = unitQuaternions(), q2 = unitQuaternions();
    const double f = 1e-4, d = 1e-10;
    std::vector<Row> rows = {
        {"Matrix4f * Matrix4f", f, {}},       {"Matrix4d * Matrix4d", d, {}},
        {"Matrix4f * Vector4f", f, {}},       {"inverse(Matrix4f)", f, {}},
        {"inverse(Matrix4d)", d, {}},         {"determinant(Matrix4d)", d, {}},
        {"Quaterniond * Quaterniond", d, {}}, {"Quaterniond.rotate(Vector3d)", d, {}},
        {"normalize(Vector3f)", f, {}},
    };
    // Each library's spelling of the rows above, in their order.
    auto add = [&](std::vector<Case> cases) {
        for (std::size_t k = 0; k < rows.size(); ++k) rows[k].cases.push_back(cases[k]);
    };
    add({
        binaryCase<M4f, M4f, M4f>("orvane", m1, 16, m2, 16,
                                  [](const M4f& a, const M4f& b) { return a * b; }),
        binaryCase<M4d, M4d, M4d>("orvane", m1, 16, m2, 16,
                                  [](const M4d& a, const M4d& b) { return a * b; }),
        binaryCase<V4f, M4f, V4f>("orvane", m1, 16, v4, 4,
                                  [](const M4f& a, const V4f& v) { return a * v; }),
        unaryCase<M4f, M4f>("orvane", inv, 16, [](const M4f& a) { return math::inverse(a); }),
        unaryCase<M4d, M4d>("orvane", inv, 16, [](const M4d& a) { return math::inverse(a); }),
        unaryCase<double, M4d>("orvane", m1, 16, [](const M4d& a) { return math::determinant(a); }),
        binaryCase<Qd, Qd, Qd>("orvane", q1, 4, q2, 4,
                               [](const Qd& a, const Qd& b) { return a * b; }),
        binaryCase<V3d, Qd, V3d>("orvane", q1, 4, v3, 3,
                                 [](const Qd& q, const V3d& v) { return q.rotate(v); }),
        unaryCase<V3f, V3f>("orvane", v3, 3, [](const V3f& v) { return math::normalize(v); }),
    });
#if KERNELS_GLM
    {
        using gM4f = glm::mat4;
        using gM4d = glm::dmat4;
        using gV4f = glm::vec4;
        using gV3f = glm::vec3;
        using gV3d = glm::dvec3;
        using gQd = glm::dquat;
        add({
            binaryCase<gM4f, gM4f, gM4f>("GLM", m1, 16, m2, 16,
                                         [](const gM4f& a, const gM4f& b) { return a * b; }),
            binaryCase<gM4d, gM4d, gM4d>("GLM", m1, 16, m2, 16,
                                         [](const gM4d& a, const gM4d& b) { return a * b; }),
            binaryCase<gV4f, gM4f, gV4f>("GLM", m1, 16, v4, 4,
                                         [](const gM4f& a, const gV4f& v) { return a * v; }),
            unaryCase<gM4f, gM4f>("GLM", inv, 16, [](const gM4f& a) { return glm::inverse(a); }),
            unaryCase<gM4d, gM4d>("GLM", inv, 16, [](const gM4d& a) { return glm::inverse(a); }),
            unaryCase<double, gM4d>("GLM", m1, 16,
                                    [](const gM4d& a) { return glm::determinant(a); }),
            binaryCase<gQd, gQd, gQd>("GLM", q1, 4, q2, 4,
                                      [](const gQd& a, const gQd& b) { return a * b; }),
            binaryCase<gV3d, gQd, gV3d>("GLM", q1, 4, v3, 3,
                                        [](const gQd& q, const gV3d& v) { return q * v; }),
            unaryCase<gV3f, gV3f>("GLM", v3, 3, [](const gV3f& v) { return glm::normalize(v); }),
        });
    }
#endif
#if KERNELS_EIGEN
    {
        // Explicit result types: Eigen's operators return expressions.
        using eM4f = Eigen::Matrix4f;
        using eM4d = Eigen::Matrix4d;
        using eV4f = Eigen::Vector4f;
        using eV3f = Eigen::Vector3f;
        using eV3d = Eigen::Vector3d;
        using eQd = Eigen::Quaterniond;
        add({
            binaryCase<eM4f, eM4f, eM4f>(
                "Eigen", m1, 16, m2, 16,
                [](const eM4f& a, const eM4f& b) -> eM4f { return a * b; }),
            binaryCase<eM4d, eM4d, eM4d>(
                "Eigen", m1, 16, m2, 16,
                [](const eM4d& a, const eM4d& b) -> eM4d { return a * b; }),
            binaryCase<eV4f, eM4f, eV4f>(
                "Eigen", m1, 16, v4, 4, [](const eM4f& a, const eV4f& v) -> eV4f { return a * v; }),
            unaryCase<eM4f, eM4f>("Eigen", inv, 16,
                                  [](const eM4f& a) -> eM4f { return a.inverse(); }),
            unaryCase<eM4d, eM4d>("Eigen", inv, 16,
                                  [](const eM4d& a) -> eM4d { return a.inverse(); }),
            unaryCase<double, eM4d>("Eigen", m1, 16, [](const eM4d& a) { return a.determinant(); }),
            binaryCase<eQd, eQd, eQd>("Eigen", q1, 4, q2, 4,
                                      [](const eQd& a, const eQd& b) -> eQd { return a * b; }),
            binaryCase<eV3d, eQd, eV3d>("Eigen", q1, 4, v3, 3,
                                        [](const eQd& q, const eV3d& v) -> eV3d { return q * v; }),
            unaryCase<eV3f, eV3f>("Eigen", v3, 3,
                                  [](const eV3f& v) -> eV3f { return v.normalized(); }),
        });
    }
#endif
    return rows;
}

// A peer that computes something else would make its time meaningless.
bool agrees(const Row& row) {
    const std::vector<double> ours = row.cases[0].results();
    bool ok = true;
    for (std::size_t c = 1; c < row.cases.size(); ++c) {
        const std::vector<double> theirs = row.cases[c].results();
        double worst = 0;
        for (std::size_t k = 0; k < ours.size(); ++k) {
            worst =
                std::max(worst, std::abs(theirs[k] - ours[k]) / std::max(1.0, std::abs(ours[k])));
        }
        if (!(worst <= row.tolerance)) {
            std::fprintf(stderr, "%s: %s differs from orvane by %g\n", row.op.c_str(),
                         row.cases[c].impl.c_str(), worst);
            ok = false;
        }
    }
    return ok;
}

void measure(std::vector<Row>& rows, int rounds) {
    std::vector<Case*> order;
    for (Row& row : rows) {
        for (Case& c : row.cases) order.push_back(&c);
    }
    for (int warm = 0; warm < 10; ++warm) {
        for (Case* c : order) c->pass();
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < order.size(); ++k) {
            Case& c = *order[round % 2 ? order.size() - 1 - k : k];
            const auto start = std::chrono::steady_clock::now();
            c.pass();
            const auto end = std::chrono::steady_clock::now();
            c.best =
                std::min(c.best, std::chrono::duration<double, std::nano>(end - start).count());
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (rounds < 1) {
        std::fprintf(stderr, "usage: kernels [rounds], rounds a positive number\n");
        return 2;
    }
    std::vector<Row> rows = ::rows();
    measure(rows, rounds);
    bool ok = true;
    for (const Row& row : rows) ok = agrees(row) && ok;

#if defined(__clang__)
    const char* compiler = "clang++ " __clang_version__;
#else
    const char* compiler = "g++ " __VERSION__;
#endif
    std::printf("{\"n\": %d, \"rounds\": %d, \"compiler\": \"%s\", \"GLM\": ", kN, rounds,
                compiler);
#if KERNELS_GLM
    std::printf("\"%d.%d.%d.%d\"", GLM_VERSION_MAJOR, GLM_VERSION_MINOR, GLM_VERSION_PATCH,
                GLM_VERSION_REVISION);
#else
    std::printf("null");
#endif
    std::printf(", \"Eigen\": ");
#if KERNELS_EIGEN
    std::printf("\"%d.%d.%d\"", EIGEN_WORLD_VERSION, EIGEN_MAJOR_VERSION, EIGEN_MINOR_VERSION);
#else
    std::printf("null");
#endif
    std::printf("}\n");
    for (const Row& row : rows) {
        std::printf("{\"op\": \"%s\"", row.op.c_str());
        for (const Case& c : row.cases) std::printf(", \"%s\": %.3f", c.impl.c_str(), c.best / kN);
        std::printf("}\n");
    }
    return ok ? 0 : 1;
}
