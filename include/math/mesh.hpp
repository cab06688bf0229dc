#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "bvh.hpp"
#include "geometry.hpp"
#include "ray.hpp"
#include "scaled.hpp"
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

namespace detail {

// The side of the sheared origin, perturbed by (e, e^2) for an infinitesimal
// e, of the edge whose edge function is e = edgeFunction(px, py, qx, qy):
// the sign of e, or where e is 0 that of the perturbation's term
// (q - p) x (e, e^2). 0 only for an edge that projects to a point.
template <class T>
inline int perturbedSide(T e, T px, T py, T qx, T qy) {
    if (e != T(0)) return e > T(0) ? 1 : -1;
    if (py != qy) return py > qy ? 1 : -1;
    if (qx != px) return qx > px ? 1 : -1;
    return 0;
}

// +1 or -1 (the winding seen from below) when the ray from the origin up the
// z axis crosses the triangle pa, pb, pc (relative to the origin) above it,
// else 0. Shared edges and vertices are settled by perturbedSide, the same
// way for every triangle, so a closed mesh is crossed a whole number of
// times whatever the ray meets.
template <class T>
inline int upwardCrossing(const Vector3<T>& pa, const Vector3<T>& pb, const Vector3<T>& pc) {
    const T e0 = edgeFunction(pc.x, pc.y, pb.x, pb.y);
    const T e1 = edgeFunction(pa.x, pa.y, pc.x, pc.y);
    const T e2 = edgeFunction(pb.x, pb.y, pa.x, pa.y);
    const int s0 = perturbedSide(e0, pc.x, pc.y, pb.x, pb.y);
    const int s1 = perturbedSide(e1, pa.x, pa.y, pc.x, pc.y);
    const int s2 = perturbedSide(e2, pb.x, pb.y, pa.x, pa.y);
    if (s0 == 0 || s0 != s1 || s1 != s2) return 0;
    const T det = (e0 + e1) + e2;
    const T z = (e0 * pa.z + e1 * pb.z) + e2 * pc.z;
    if (det == T(0) || !((z > T(0) && det > T(0)) || (z < T(0) && det < T(0)))) return 0;
    return s0;
}

// How far a box is widened, relative to the distance from the query to the
// far corner of the mesh: twice what rounding may move a hit of rayTriangle
// (kPlaneTolerance) or a point of closestPointOnTriangle, so that no result
// of the loop over all faces is ever pruned, and far below the size of any
// box that matters for speed.
template <class T>
inline constexpr double kMarginFraction = 2 * double(kPlaneTolerance<T>);

// A hint to start loading what the walk reads next: a node is two cache
// lines, and waiting for them is most of a walk's time.
inline void prefetch(const void* p) {
#if defined(__GNUC__)
    __builtin_prefetch(p);
    __builtin_prefetch(static_cast<const char*>(p) + 64);
#else
    (void)p;
#endif
}

// The nearest floats below and above x (infinite beyond the float range).
inline float floatBelow(double x) {
    const float f = float(x);
    return double(f) > x ? std::nextafter(f, -std::numeric_limits<float>::infinity()) : f;
}

inline float floatAbove(double x) {
    const float f = float(x);
    return double(f) < x ? std::nextafter(f, std::numeric_limits<float>::infinity()) : f;
}

template <class T>
inline bool finite(const Vector3<T>& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

}  // namespace detail

// A triangle mesh over copies of its vertex and face arrays, with a bounding
// volume hierarchy over its faces. Faces whose vertices are not all finite
// are left out of it and never hit. Every query gives the bits of the plain
// loop over all faces (rayTriangle, closestPointOnTriangle), ties going to
// the lowest face: boxes are only ever widened.
template <class T>
class TriangleMesh {
public:
    using Face = std::array<std::int64_t, 3>;

    TriangleMesh() = default;

    // Faces and vertex indices are numbered in 32 bits.
    static constexpr std::size_t kMostRows = 0xFFFFFFFFu;

    // vertices: vertexCount rows of x, y, z; faces: faceCount rows of three
    // vertex indices. A face naming no vertex (or one past kMostRows), or
    // one past kMostRows faces, leaves the mesh empty, with fault() saying
    // which.
    TriangleMesh(const T* vertices, std::size_t vertexCount, const std::int64_t* faces,
                 std::size_t faceCount) {
        const std::uint64_t usable = std::min<std::uint64_t>(vertexCount, kMostRows);
        for (std::size_t f = 0; f < faceCount; ++f) {
            for (int k = 0; k < 3; ++k) {
                const std::int64_t index = faces[3 * f + k];
                if (index < 0 || std::uint64_t(index) >= usable || f >= kMostRows) {
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
        build();
    }

    const std::optional<FaceFault>& fault() const { return fault_; }
    const std::vector<Vector3<T>>& vertices() const { return vertices_; }
    const std::vector<Face>& faces() const { return faces_; }
    std::size_t size() const { return faces_.size(); }
    // The memory of the hierarchy, beyond the vertex and face arrays.
    std::size_t hierarchyBytes() const {
        return nodes_.capacity() * sizeof(WideNode) + leafFaces_.capacity() * sizeof(LeafFace);
    }

    // The box of the finite vertices; (inf, -inf) when there are none.
    AABB<T> bounds() const {
        const T inf = std::numeric_limits<T>::infinity();
        AABB<T> box(Vector3<T>(inf), Vector3<T>(-inf));
        for (const Vector3<T>& p : vertices_) {
            if (!detail::finite(p)) continue;
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
        const detail::RayShear<T> shear = detail::shearOf(direction);
        const auto visit = [&](const LeafFace& f) {
            const auto hit = triangleHit(origin, direction, shear, f);
            const std::int64_t face = f.face;
            if (hit &&
                (hit->t < best.t || (hit->t == best.t && best.face >= 0 && face < best.face))) {
                best = {hit->t, face, hit->u, hit->v};
            }
            return false;
        };
        walkRay(
            origin, direction, [&] { return double(best.t); }, visit);
        if (best.face < 0) best.t = std::numeric_limits<T>::infinity();
        return best;
    }

    // Whether any face is hit with t < tMax.
    bool occluded(const Vector3<T>& origin, const Vector3<T>& direction,
                  T tMax = std::numeric_limits<T>::infinity()) const {
        bool hit = false;
        const detail::RayShear<T> shear = detail::shearOf(direction);
        const auto visit = [&](const LeafFace& f) {
            const auto h = triangleHit(origin, direction, shear, f);
            hit = h && h->t < tMax;
            return hit;
        };
        walkRay(
            origin, direction, [&] { return double(tMax); }, visit);
        return hit;
    }

    // The nearest point of closestPointOnTriangle, the lowest face on a tie.
    MeshPoint<T> closestPoint(const Vector3<T>& p) const {
        const T nan = std::numeric_limits<T>::quiet_NaN();
        MeshPoint<T> best{Vector3<T>(nan), -1, std::numeric_limits<T>::infinity()};
        if (nodes_.empty() || !detail::finite(p)) return best;
        const auto visit = [&](const LeafFace& f) {
            const TrianglePoint<T> q = closestPointOnTriangle(
                p, vertices_[f.corner[0]], vertices_[f.corner[1]], vertices_[f.corner[2]]);
            const Vector3<T> e = p - q.point;
            const T d2 = dot(e, e);
            const std::int64_t face = f.face;
            if (d2 < best.distanceSquared ||
                (d2 == best.distanceSquared && best.face >= 0 && face < best.face)) {
                best = {q.point, face, d2};
            }
            return false;
        };
        const double point[3] = {double(p.x), double(p.y), double(p.z)};
        const double margin = marginAround(point);
        // The squared distances to the widened boxes.
        const auto gap = [&](const WideNode& node, double, double* measured) {
            double d2[kWidth] = {};
            for (int i = 0; i < 3; ++i) {
                for (int k = 0; k < kWidth; ++k) {
                    const double below = (double(node.bounds[0][i][k]) - margin) - point[i];
                    const double above = point[i] - (double(node.bounds[1][i][k]) + margin);
                    const double d = below > 0 ? below : (above > 0 ? above : 0.0);
                    d2[k] += d * d;
                }
            }
            std::copy(d2, d2 + kWidth, measured);
        };
        walk(
            gap, [&] { return double(best.distanceSquared); }, visit);
        return best;
    }

    // Whether p lies inside the closed mesh: the crossings of the ray up the
    // z axis from p, counted with their windings, do not cancel. Meshes of
    // either orientation work; points on the surface may go either way.
    bool contains(const Vector3<T>& p) const {
        if (nodes_.empty() || !detail::finite(p)) return false;
        const double point[3] = {double(p.x), double(p.y), double(p.z)};
        const double margin = marginAround(point);
        // One scale for every vertex, so that shared edges stay shared.
        const double reach = std::min(reachFrom(point), double(std::numeric_limits<T>::max()));
        const int k = detail::withinRange<4>(T(reach)) ? 0 : detail::scaleExponent(T(reach));
        const auto relative = [&](std::uint32_t v) {
            const Vector3<T> r = vertices_[v] - p;
            return k == 0 ? r : detail::scaledBy(r, -k);
        };
        int winding = 0;
        const auto visit = [&](const LeafFace& face) {
            winding += detail::upwardCrossing(relative(face.corner[0]), relative(face.corner[1]),
                                              relative(face.corner[2]));
            return false;
        };
        // Boxes the upward ray passes within the margin of.
        const auto crossed = [&](const WideNode& node, double, double* measured) {
            for (int j = 0; j < kWidth; ++j) {
                const bool missed = double(node.bounds[0][0][j]) - margin > point[0] ||
                                    double(node.bounds[1][0][j]) + margin < point[0] ||
                                    double(node.bounds[0][1][j]) - margin > point[1] ||
                                    double(node.bounds[1][1][j]) + margin < point[1] ||
                                    double(node.bounds[1][2][j]) + margin < point[2];
                measured[j] = missed ? std::numeric_limits<double>::quiet_NaN() : 0.0;
            }
        };
        walk(
            crossed, [] { return std::numeric_limits<double>::infinity(); }, visit);
        return winding != 0;
    }

private:
    // A face of a leaf, in leaf order: its corners next to its number.
    struct LeafFace {
        std::uint32_t corner[3];
        std::uint32_t face;
    };

    std::optional<TriangleHit<T>> triangleHit(const Vector3<T>& origin, const Vector3<T>& direction,
                                              const detail::RayShear<T>& shear,
                                              const LeafFace& f) const {
        return detail::rayTriangleSheared(origin, direction, shear, vertices_[f.corner[0]],
                                          vertices_[f.corner[1]], vertices_[f.corner[2]]);
    }

    // The largest coordinate distance from the point to the mesh's box.
    double reachFrom(const double* point) const {
        double reach = 0;
        for (int i = 0; i < 3; ++i) {
            reach = std::max({reach, std::abs(double(lower_[i]) - point[i]),
                              std::abs(double(upper_[i]) - point[i])});
        }
        return reach;
    }

    double marginAround(const double* point) const {
        return reachFrom(point) * detail::kMarginFraction<T> +
               double(std::numeric_limits<T>::min()) * 0x1p10;
    }

    // Calls visit(face) for the faces of every leaf whose key is no more than
    // bound(), children in order of their keys, nearest first. keys(node,
    // bound, measured) measures the kWidth children (NaN passes one by); visit
    // returning true ends the walk.
    template <class Keys, class Bound, class Visit>
    void walk(Keys keys, Bound bound, Visit visit) const {
        struct Entry {
            std::uint32_t index, count;
            double key;
        };
        // Each level adds at most three entries.
        Entry stack[(kWidth - 1) * detail::kMaxDepth + 8];
        int size = 0;
        stack[size++] = {0, 0, 0.0};
        while (size > 0) {
            const Entry entry = stack[--size];
            const double limit = bound();
            if (!(entry.key <= limit)) continue;
            if (entry.count > 0) {
                for (std::uint32_t k = 0; k < entry.count; ++k) {
                    if (visit(leafFaces_[entry.index + k])) return;
                }
                continue;
            }
            const WideNode& node = nodes_[entry.index];
            // The children within the limit, farthest first.
            Entry near[kWidth];
            int n = 0;
            double measured4[kWidth];
            keys(node, limit, measured4);
            for (int k = 0; k < kWidth && node.index[k] != kEmptySlot; ++k) {
                const double measured = measured4[k];
                if (!(measured <= limit)) continue;
                int j = n++;
                for (; j > 0 && near[j - 1].key < measured; --j) near[j] = near[j - 1];
                near[j] = {node.index[k], node.count[k], measured};
            }
            for (int j = 0; j < n; ++j) {
                stack[size++] = near[j];
                detail::prefetch(near[j].count > 0
                                     ? static_cast<const void*>(&leafFaces_[near[j].index])
                                     : static_cast<const void*>(&nodes_[near[j].index]));
            }
        }
    }

    // walk over the boxes the ray passes within the margin of, by the t at
    // which it enters them. Rays the box arithmetic cannot follow
    // (non-finite, or a direction component too small to invert) visit every
    // face.
    template <class Bound, class Visit>
    void walkRay(const Vector3<T>& origin, const Vector3<T>& direction, Bound bound,
                 Visit visit) const {
        if (nodes_.empty()) return;
        const double o[3] = {double(origin.x), double(origin.y), double(origin.z)};
        double inverse[3];
        bool followable = detail::finite(origin) && detail::finite(direction);
        for (int i = 0; i < 3; ++i) {
            inverse[i] = 1.0 / double(direction[i]);
            if (direction[i] != T(0) && !std::isfinite(inverse[i])) followable = false;
        }
        const double margin = followable ? marginAround(o) : 0.0;
        if (!followable || !std::isfinite(margin)) {
            for (const LeafFace& f : leafFaces_) {
                if (visit(f)) return;
            }
            return;
        }
        // Per axis, the widened box's planes the ray meets first and last,
        // as offsets from the origin: (bound - (o -+ margin)) * inverse.
        int nearSide[3];
        double nearShift[3], farShift[3];
        for (int i = 0; i < 3; ++i) {
            const bool forward = !(inverse[i] < 0);
            nearSide[i] = forward ? 0 : 1;
            nearShift[i] = forward ? o[i] + margin : o[i] - margin;
            farShift[i] = forward ? o[i] - margin : o[i] + margin;
        }
        // The t at which the ray enters each widened box, or NaN if it misses
        // it before tFar. A 0 * inf (an origin on a slab of a direction
        // without that component) leaves the interval as it is.
        const auto enter = [&](const WideNode& node, double tFar, double* measured) {
            double tNear4[kWidth], tFar4[kWidth];
            for (int k = 0; k < kWidth; ++k) tNear4[k] = 0, tFar4[k] = tFar;
            for (int i = 0; i < 3; ++i) {
                const float* nearBound = node.bounds[nearSide[i]][i];
                const float* farBound = node.bounds[1 - nearSide[i]][i];
                for (int k = 0; k < kWidth; ++k) {
                    const double a = (double(nearBound[k]) - nearShift[i]) * inverse[i];
                    const double b = (double(farBound[k]) - farShift[i]) * inverse[i];
                    tNear4[k] = a > tNear4[k] ? a : tNear4[k];
                    tFar4[k] = b < tFar4[k] ? b : tFar4[k];
                }
            }
            for (int k = 0; k < kWidth; ++k) {
                measured[k] =
                    tNear4[k] <= tFar4[k] ? tNear4[k] : std::numeric_limits<double>::quiet_NaN();
            }
        };
        walk(enter, bound, visit);
    }

    void build() {
        std::vector<detail::BvhPrimitive<float>> primitives;
        primitives.reserve(faces_.size());
        for (std::size_t f = 0; f < faces_.size(); ++f) {
            const Vector3<T>& a = vertices_[faces_[f][0]];
            const Vector3<T>& b = vertices_[faces_[f][1]];
            const Vector3<T>& c = vertices_[faces_[f][2]];
            if (!(detail::finite(a) && detail::finite(b) && detail::finite(c))) continue;
            detail::BvhPrimitive<float> p;
            for (int i = 0; i < 3; ++i) {
                p.lower[i] = detail::floatBelow(double(std::min({a[i], b[i], c[i]})));
                p.upper[i] = detail::floatAbove(double(std::max({a[i], b[i], c[i]})));
                p.centre[i] = p.lower[i] * 0.5f + p.upper[i] * 0.5f;
            }
            p.id = std::uint32_t(f);
            primitives.push_back(p);
        }
        const Bvh<float> bvh = buildBvh(std::move(primitives));
        if (bvh.nodes.empty()) return;
        std::copy(bvh.nodes[0].lower, bvh.nodes[0].lower + 3, lower_);
        std::copy(bvh.nodes[0].upper, bvh.nodes[0].upper + 3, upper_);
        nodes_ = widen(bvh);
        leafFaces_.reserve(bvh.order.size());
        for (std::uint32_t f : bvh.order) {
            const Face& face = faces_[f];
            leafFaces_.push_back(
                {{std::uint32_t(face[0]), std::uint32_t(face[1]), std::uint32_t(face[2])}, f});
        }
    }

    std::vector<Vector3<T>> vertices_;
    std::vector<Face> faces_;
    // Boxes are rounded outwards to float: half the memory of double ones.
    std::vector<WideNode> nodes_;
    std::vector<LeafFace> leafFaces_;
    float lower_[3] = {}, upper_[3] = {};  // the box of all the faces
    std::optional<FaceFault> fault_;
};

}  // namespace math
