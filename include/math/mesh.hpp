#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "geometry.hpp"
#include "ray.hpp"
#include "triangles.hpp"
#include "vector.hpp"

namespace math {

// The nearest hit of a ray on a mesh: face -1 and t = inf for a miss.
template <class T>
struct MeshHit {
    T t;
    std::int64_t face;
    T u;
    T v;
};

// The point of a mesh nearest a query point: face -1 for an empty mesh.
template <class T>
struct MeshPoint {
    Vector3<T> point;
    std::int64_t face;
    T distanceSquared;
};

// A face index that names no vertex: corner 0, 1 or 2 of face `face`.
struct FaceFault {
    std::size_t face;
    int corner;
    std::int64_t index;
};

// A triangle mesh over copies of its vertex and face arrays. Faces whose
// vertices are not all finite are never hit.
template <class T>
class TriangleMesh {
public:
    using Face = std::array<std::int64_t, 3>;

    TriangleMesh() = default;

    // vertices: vertexCount rows of x, y, z; faces: faceCount rows of three
    // vertex indices. A face naming no vertex leaves the mesh empty, with
    // fault() saying which.
    TriangleMesh(const T* vertices, std::size_t vertexCount, const std::int64_t* faces,
                 std::size_t faceCount) {
        for (std::size_t f = 0; f < faceCount; ++f) {
            for (int k = 0; k < 3; ++k) {
                const std::int64_t index = faces[3 * f + k];
                if (index < 0 || std::uint64_t(index) >= vertexCount) {
                    fault_ = FaceFault{f, k, index};
                    return;
                }
            }
        }
        vertices_.resize(vertexCount);
        for (std::size_t i = 0; i < vertexCount; ++i) {
            vertices_[i] = Vector3<T>(vertices[3 * i], vertices[3 * i + 1], vertices[3 * i + 2]);
        }
        faces_.resize(faceCount);
        for (std::size_t f = 0; f < faceCount; ++f) {
            faces_[f] = {faces[3 * f], faces[3 * f + 1], faces[3 * f + 2]};
        }
    }

    const std::optional<FaceFault>& fault() const { return fault_; }
    const std::vector<Vector3<T>>& vertices() const { return vertices_; }
    const std::vector<Face>& faces() const { return faces_; }
    std::size_t size() const { return faces_.size(); }

    // The box of the finite vertices; (inf, -inf) when there are none.
    AABB<T> bounds() const {
        const T inf = std::numeric_limits<T>::infinity();
        AABB<T> box(Vector3<T>(inf), Vector3<T>(-inf));
        for (const Vector3<T>& p : vertices_) {
            if (!(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z))) continue;
            for (int i = 0; i < 3; ++i) {
                box.min[i] = std::min(box.min[i], p[i]);
                box.max[i] = std::max(box.max[i], p[i]);
            }
        }
        return box;
    }

    // The nearest hit of rayTriangle with t < tMax, the lowest face on a tie.
    MeshHit<T> raycast(const Vector3<T>& origin, const Vector3<T>& direction,
                       T tMax = std::numeric_limits<T>::infinity()) const {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        MeshHit<T> best{tMax, -1, nan, nan};
        for (std::size_t f = 0; f < faces_.size(); ++f) {
            const Face& face = faces_[f];
            const auto hit = rayTriangle(origin, direction, vertices_[face[0]],
                                         vertices_[face[1]], vertices_[face[2]]);
            if (hit && hit->t < best.t) best = {hit->t, std::int64_t(f), hit->u, hit->v};
        }
        if (best.face < 0) best.t = std::numeric_limits<T>::infinity();
        return best;
    }

    // Whether any face is hit with t < tMax.
    bool occluded(const Vector3<T>& origin, const Vector3<T>& direction,
                  T tMax = std::numeric_limits<T>::infinity()) const {
        return raycast(origin, direction, tMax).face >= 0;
    }

    // The nearest point of closestPointOnTriangle, the lowest face on a tie.
    MeshPoint<T> closestPoint(const Vector3<T>& p) const {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        MeshPoint<T> best{Vector3<T>(nan), -1, std::numeric_limits<T>::infinity()};
        for (std::size_t f = 0; f < faces_.size(); ++f) {
            const Face& face = faces_[f];
            const TrianglePoint<T> q = closestPointOnTriangle(
                p, vertices_[face[0]], vertices_[face[1]], vertices_[face[2]]);
            const Vector3<T> e = p - q.point;
            const T d2 = dot(e, e);
            if (d2 < best.distanceSquared) best = {q.point, std::int64_t(f), d2};
        }
        return best;
    }

    // Whether p lies inside the closed mesh.
    bool contains(const Vector3<T>& p) const {
        (void)p;
        return false;
    }

private:
    std::vector<Vector3<T>> vertices_;
    std::vector<Face> faces_;
    std::optional<FaceFault> fault_;
};

}  // namespace math
