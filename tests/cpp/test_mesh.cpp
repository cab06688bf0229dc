#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "math/mesh.hpp"

using math::TriangleMesh;
using math::Vector3;

template <class T>
class Meshes : public ::testing::Test {};
using Precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(Meshes, Precisions);

namespace {

struct Arrays {
    std::vector<double> vertices;
    std::vector<std::int64_t> faces;
};

// A closed sphere: an octahedron split `levels` times, vertices shared.
Arrays sphere(int levels) {
    Arrays m;
    m.vertices = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
    m.faces = {0, 2, 4, 2, 1, 4, 1, 3, 4, 3, 0, 4, 2, 0, 5, 1, 2, 5, 3, 1, 5, 0, 3, 5};
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<std::int64_t, std::int64_t>, std::int64_t> middles;
        const auto middle = [&](std::int64_t a, std::int64_t b) {
            const auto key = std::minmax(a, b);
            const auto found = middles.find(key);
            if (found != middles.end()) return found->second;
            double p[3], length = 0;
            for (int i = 0; i < 3; ++i) {
                p[i] = m.vertices[3 * a + i] + m.vertices[3 * b + i];
                length += p[i] * p[i];
            }
            for (double c : p) m.vertices.push_back(c / std::sqrt(length));
            return middles[key] = std::int64_t(m.vertices.size() / 3 - 1);
        };
        std::vector<std::int64_t> split;
        for (std::size_t f = 0; f < m.faces.size(); f += 3) {
            const std::int64_t a = m.faces[f], b = m.faces[f + 1], c = m.faces[f + 2];
            const std::int64_t ab = middle(a, b), bc = middle(b, c), ca = middle(c, a);
            split.insert(split.end(), {a, ab, ca, ab, b, bc, ca, bc, c, ab, bc, ca});
        }
        m.faces = split;
    }
    return m;
}

// The sphere plus the awkward cases: a coplanar grid, degenerate, duplicate
// and non-finite triangles.
Arrays awkward() {
    Arrays m = sphere(2);
    const auto vertex = [&](double x, double y, double z) {
        m.vertices.insert(m.vertices.end(), {x, y, z});
        return std::int64_t(m.vertices.size() / 3 - 1);
    };
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            const double x = 1.5 + 0.25 * i, y = -0.5 + 0.25 * j;
            const std::int64_t a = vertex(x, y, 0.3), b = vertex(x + 0.25, y, 0.3),
                               c = vertex(x, y + 0.25, 0.3), d = vertex(x + 0.25, y + 0.25, 0.3);
            m.faces.insert(m.faces.end(), {a, b, c, b, d, c});
        }
    }
    const std::int64_t p = vertex(-2, 0, 0), q = vertex(-2, 1, 1), r = vertex(-2, 2, 2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    m.faces.insert(m.faces.end(), {p, q, r, p, p, q, q, q, q});  // degenerate
    m.faces.insert(m.faces.end(), {0, 2, 4, 0, 2, 4, 4, 2, 0});  // duplicates
    m.faces.insert(m.faces.end(), {vertex(nan, 0, 0), 1, 2, vertex(inf, 0, 0), 3, 4});
    return m;
}

// A hollow ball: the inner sphere's faces turned inward.
Arrays shell() {
    Arrays m = sphere(3);
    const Arrays inner = sphere(2);
    const std::int64_t base = std::int64_t(m.vertices.size() / 3);
    for (double c : inner.vertices) m.vertices.push_back(0.5 * c);
    for (std::size_t f = 0; f < inner.faces.size(); f += 3) {
        m.faces.insert(m.faces.end(), {base + inner.faces[f], base + inner.faces[f + 2],
                                       base + inner.faces[f + 1]});
    }
    return m;
}

template <class T>
TriangleMesh<T> meshOf(const Arrays& m) {
    const std::vector<T> vertices(m.vertices.begin(), m.vertices.end());
    return TriangleMesh<T>(vertices.data(), vertices.size() / 3, m.faces.data(),
                           m.faces.size() / 3);
}

template <class T>
bool finiteFace(const TriangleMesh<T>& mesh, std::size_t f) {
    for (std::int64_t v : mesh.faces()[f]) {
        const Vector3<T>& p = mesh.vertices()[v];
        if (!(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) return false;
    }
    return true;
}

template <class T>
math::MeshHit<T> bruteRaycast(const TriangleMesh<T>& mesh, const Vector3<T>& o,
                              const Vector3<T>& d) {
    const T nan = std::numeric_limits<T>::quiet_NaN();
    math::MeshHit<T> best{std::numeric_limits<T>::infinity(), -1, nan, nan};
    for (std::size_t f = 0; f < mesh.size(); ++f) {
        if (!finiteFace(mesh, f)) continue;
        const auto& face = mesh.faces()[f];
        const auto hit = math::rayTriangle(o, d, mesh.vertices()[face[0]], mesh.vertices()[face[1]],
                                           mesh.vertices()[face[2]]);
        if (hit && hit->t < best.t) best = {hit->t, std::int64_t(f), hit->u, hit->v};
    }
    return best;
}

template <class T>
math::MeshPoint<T> bruteClosest(const TriangleMesh<T>& mesh, const Vector3<T>& p) {
    math::MeshPoint<T> best{Vector3<T>(0), -1, std::numeric_limits<T>::infinity()};
    for (std::size_t f = 0; f < mesh.size(); ++f) {
        if (!finiteFace(mesh, f)) continue;
        const auto& face = mesh.faces()[f];
        const auto q = math::closestPointOnTriangle(
            p, mesh.vertices()[face[0]], mesh.vertices()[face[1]], mesh.vertices()[face[2]]);
        const Vector3<T> e = p - q.point;
        if (math::dot(e, e) < best.distanceSquared) {
            best = {q.point, std::int64_t(f), math::dot(e, e)};
        }
    }
    return best;
}

// The generalized winding number, by the solid angles of the faces.
double windingNumber(const Arrays& m, const double* p) {
    double total = 0;
    for (std::size_t f = 0; f < m.faces.size(); f += 3) {
        double r[3][3], length[3];
        for (int k = 0; k < 3; ++k) {
            for (int i = 0; i < 3; ++i) r[k][i] = m.vertices[3 * m.faces[f + k] + i] - p[i];
            length[k] = std::sqrt(r[k][0] * r[k][0] + r[k][1] * r[k][1] + r[k][2] * r[k][2]);
        }
        const auto dot = [&](int a, int b) {
            return r[a][0] * r[b][0] + r[a][1] * r[b][1] + r[a][2] * r[b][2];
        };
        const double triple = r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                              r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                              r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
        const double below = length[0] * length[1] * length[2] + dot(0, 1) * length[2] +
                             dot(1, 2) * length[0] + dot(2, 0) * length[1];
        total += 2 * std::atan2(triple, below);
    }
    return total / (4 * M_PI);
}

template <class T>
Vector3<T> vertexOf(const Arrays& m, std::int64_t v) {
    return {T(m.vertices[3 * v]), T(m.vertices[3 * v + 1]), T(m.vertices[3 * v + 2])};
}

}  // namespace

// Rays at random, at vertices and edge midpoints, along edges, from points
// on faces and along the axes: the hierarchy gives the loop's bits.
TYPED_TEST(Meshes, QueriesEqualTheLoopOverEveryFace) {
    using T = TypeParam;
    const Arrays arrays = awkward();
    const TriangleMesh<T> mesh = meshOf<T>(arrays);
    std::mt19937 rng(5);
    std::normal_distribution<T> normal;
    std::uniform_int_distribution<std::size_t> anyFace(0, arrays.faces.size() / 3 - 1);
    const auto random = [&](T scale) {
        const T x = normal(rng), y = normal(rng);
        return Vector3<T>(x * scale, y * scale, normal(rng) * scale);
    };
    for (int n = 0; n < 3000; ++n) {
        Vector3<T> o = random(3), d = random(1);
        const auto& face = mesh.faces()[anyFace(rng)];
        const Vector3<T> a = mesh.vertices()[face[0]], b = mesh.vertices()[face[1]],
                         c = mesh.vertices()[face[2]];
        switch (n % 6) {
            case 1: d = a - o; break;
            case 2: d = (a + b) * T(0.5) - o; break;
            case 3: o = a - (b - a) * T(2), d = b - a; break;
            case 4: o = a + (b - a) * T(0.25) + (c - a) * T(0.25); break;
            case 5: d = Vector3<T>(0), d[n % 3] = T(n % 2 ? 1 : -1); break;
        }
        const auto hit = mesh.raycast(o, d), brute = bruteRaycast(mesh, o, d);
        ASSERT_EQ(hit.face, brute.face) << n;
        if (brute.face >= 0) {
            ASSERT_EQ(hit.t, brute.t) << n;
            ASSERT_EQ(hit.u, brute.u) << n;
            ASSERT_EQ(hit.v, brute.v) << n;
            ASSERT_FALSE(mesh.occluded(o, d, brute.t)) << n;
        }
        ASSERT_EQ(mesh.occluded(o, d), brute.face >= 0) << n;
        const auto near = mesh.closestPoint(o), nearBrute = bruteClosest(mesh, o);
        ASSERT_EQ(near.face, nearBrute.face) << n;
        ASSERT_EQ(near.distanceSquared, nearBrute.distanceSquared) << n;
    }
}

TYPED_TEST(Meshes, RaysThroughSharedEdgesAndVerticesNeverMiss) {
    using T = TypeParam;
    const Arrays arrays = sphere(3);
    const TriangleMesh<T> mesh = meshOf<T>(arrays);
    EXPECT_LE(mesh.hierarchyBytes(), 64 * mesh.size());
    std::mt19937 rng(9);
    std::normal_distribution<T> normal;
    for (std::size_t f = 0; f < mesh.size(); ++f) {
        const auto& face = mesh.faces()[f];
        const Vector3<T> a = mesh.vertices()[face[0]], b = mesh.vertices()[face[1]];
        // From well in front of the target, so that it is not on the outline.
        for (const Vector3<T>& target : {a, (a + b) * T(0.5)}) {
            const Vector3<T> o =
                target * T(4) + Vector3<T>(normal(rng), normal(rng), normal(rng)) * T(0.5);
            EXPECT_GE(mesh.raycast(o, target - o).face, 0) << f;
        }
    }
}

TYPED_TEST(Meshes, ContainsAgreesWithTheWindingNumber) {
    using T = TypeParam;
    for (const Arrays& arrays : {sphere(3), shell()}) {
        const TriangleMesh<T> mesh = meshOf<T>(arrays);
        std::mt19937 rng(3);
        std::uniform_real_distribution<T> u(-1.3, 1.3);
        for (int n = 0; n < 1500; ++n) {
            Vector3<T> p(u(rng), u(rng), u(rng));
            // Straight below a vertex, so the upward ray passes through it.
            if (n % 3 == 0) p = vertexOf<T>(arrays, n % 66) * T(0.5) - Vector3<T>(0, 0, T(0.25));
            const double q[3] = {double(p.x), double(p.y), double(p.z)};
            const double w = windingNumber(arrays, q);
            if (std::abs(std::abs(w) - 0.5) < 0.45) continue;  // within rounding of the surface
            ASSERT_EQ(mesh.contains(p), std::abs(w) > 0.5) << n;
        }
    }
}

TYPED_TEST(Meshes, FacesNamingNoVertexLeaveTheMeshEmpty) {
    using T = TypeParam;
    const std::vector<T> vertices(9, T(1));
    for (const std::int64_t bad : {std::int64_t(-1), std::int64_t(3)}) {
        const std::vector<std::int64_t> faces = {0, 1, 2, 2, bad, 0};
        const TriangleMesh<T> mesh(vertices.data(), 3, faces.data(), 2);
        ASSERT_TRUE(mesh.fault());
        EXPECT_EQ(mesh.fault()->face, 1u);
        EXPECT_EQ(mesh.fault()->corner, 1);
        EXPECT_EQ(mesh.fault()->index, bad);
        EXPECT_EQ(mesh.size(), 0u);
    }
    const TriangleMesh<T> empty(vertices.data(), 0, nullptr, 0);
    EXPECT_EQ(empty.raycast({0, 0, 0}, {1, 0, 0}).face, -1);
    EXPECT_EQ(empty.closestPoint({0, 0, 0}).face, -1);
    EXPECT_FALSE(empty.contains({0, 0, 0}));
}
