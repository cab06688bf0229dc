// Triangles and spheres: closest points, weights, normals, areas and rays
// through spheres, per object and in batch. The per-object functions and
// the batch loops call one compiled copy of each operation, so the two give
// the same bits, NaN included.

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <limits>
#include <optional>
#include <tuple>
#include <utility>

#include "array_likes.hpp"
#include "declarations.hpp"
#include "elementwise.hpp"
#include "math/spheres.hpp"
#include "math/triangles.hpp"
#include "registration.hpp"
#include "ufuncs.hpp"

namespace {

template <class T>
using V3 = math::Vector3<T>;

template <class T>
ORVANE_ONE_COPY math::TrianglePoint<T> closestOnTriangle(const V3<T>& p, const V3<T>& a,
                                                         const V3<T>& b, const V3<T>& c) {
    return math::closestPointOnTriangle(p, a, b, c);
}

// (t_near, t_far), a miss as (inf, -inf), as the batch ray_aabb has it.
template <class T>
ORVANE_ONE_COPY math::Vector2<T> sphereInterval(const V3<T>& origin, const V3<T>& direction,
                                                const V3<T>& center, T radius) {
    const auto hit = math::raySphere(origin, direction, center, radius);
    const T inf = std::numeric_limits<T>::infinity();
    if (!hit) return {inf, -inf};
    return {hit->tNear, hit->tFar};
}

template <class T>
std::pair<V3<T>, std::tuple<T, T, T>> closest_point_on_triangle(const V3<T>& p, const V3<T>& a,
                                                                const V3<T>& b, const V3<T>& c) {
    const math::TrianglePoint<T> r = closestOnTriangle(p, a, b, c);
    return {r.point, {r.u, r.v, r.w}};
}

template <class T>
std::tuple<T, T, T> barycentric(const V3<T>& p, const V3<T>& a, const V3<T>& b, const V3<T>& c) {
    const V3<T> w = math::barycentric(p, a, b, c);
    return {w.x, w.y, w.z};
}

template <class T>
std::optional<std::pair<T, T>> ray_sphere(const V3<T>& origin, const V3<T>& direction,
                                          const V3<T>& center, T radius) {
    const math::Vector2<T> r = sphereInterval(origin, direction, center, radius);
    if (!(r.x <= r.y)) return std::nullopt;
    return std::pair<T, T>(r.x, r.y);
}

// The batch forms.
template <class T>
V3<T> closestPointBatch(const V3<T>& p, const V3<T>& a, const V3<T>& b, const V3<T>& c) {
    return closestOnTriangle(p, a, b, c).point;
}

template <class T>
V3<T> rayTriangleBatch(const V3<T>& origin, const V3<T>& direction, const V3<T>& a, const V3<T>& b,
                       const V3<T>& c) {
    const auto hit = elementwise::rayTriangle(origin, direction, a, b, c);
    if (!hit)
        return {std::numeric_limits<T>::infinity(), std::numeric_limits<T>::quiet_NaN(),
                std::numeric_limits<T>::quiet_NaN()};
    return {hit->t, hit->u, hit->v};
}

template <class T>
void register_for(py::module_& m) {
    declare::def(m, "closest_point_on_triangle", &closest_point_on_triangle<T>, py::arg("p"),
                 py::arg("a"), py::arg("b"), py::arg("c"),
                 "(point, (u, v, w)): the point of the closed triangle nearest p and its\n"
                 "weights of a, b, c (point ~ a*u + b*v + c*w, u + v + w ~ 1). Vertices come\n"
                 "back exactly, and the point lies in the triangle's bounding box. A\n"
                 "degenerate triangle (collinear or coinciding vertices) gives the nearest\n"
                 "point of its edges; NaN input gives NaN.");
    declare::def(m, "barycentric", &barycentric<T>, py::arg("p"), py::arg("a"), py::arg("b"),
                 py::arg("c"),
                 "(u, v, w), the weights of a, b, c of the projection of p onto the\n"
                 "triangle's plane: a*u + b*v + c*w, u + v + w == 1 (u = (1 - v) - w); some\n"
                 "are negative when the projection is outside the triangle. A degenerate\n"
                 "triangle (collinear or coinciding vertices) and NaN input give NaN.");
    declare::def(m, "triangle_normal", &math::triangleNormal<T>, py::arg("a"), py::arg("b"),
                 py::arg("c"),
                 "The unit normal (b - a) x (c - a) normalized, by the right-hand rule: a, b,\n"
                 "c run counter-clockwise seen from its side (as plane_from_points). Zero\n"
                 "area (collinear or coinciding vertices) and NaN input give NaN.");
    declare::def(m, "triangle_area", &math::triangleArea<T>, py::arg("a"), py::arg("b"),
                 py::arg("c"),
                 "The area, half the length of (b - a) x (c - a), without overflow or\n"
                 "underflow on the way (inf only when the area exceeds the precision).\n"
                 "Collinear or coinciding vertices give 0; NaN input gives NaN.");
    declare::def(m, "ray_sphere", &ray_sphere<T>, py::arg("origin"), py::arg("direction"),
                 py::arg("center"), py::arg("radius"),
                 "(t_near, t_far), the part of the ray origin + direction * t (t >= 0, in\n"
                 "units of the direction's length) inside the closed ball, or None. t_near\n"
                 "is 0 when the origin is inside or on the sphere; a tangent ray hits with\n"
                 "t_near == t_far. None for a miss, a ball behind the origin, a zero\n"
                 "direction, a negative radius and NaN input; a zero radius is the center\n"
                 "alone.");
}

}  // namespace

void register_triangles(py::module_& m) {
    register_for<float>(m);
    register_for<double>(m);
    using array_likes::def;
    def<&closest_point_on_triangle<float>, &closest_point_on_triangle<double>>(
        m, "closest_point_on_triangle", "closest_point_on_triangle");
    def<&barycentric<float>, &barycentric<double>>(m, "barycentric");
    def<&math::triangleNormal<float>, &math::triangleNormal<double>>(m, "triangle_normal");
    def<&math::triangleArea<float>, &math::triangleArea<double>>(m, "triangle_area");
    def<&ray_sphere<float>, &ray_sphere<double>>(m, "ray_sphere", "ray_sphere");
}

void register_triangle_ufuncs(py::module_& gufuncs) {
    using ufuncs::add;
    add<&rayTriangleBatch<float>, &rayTriangleBatch<double>>(
        gufuncs, "ray_triangle",
        "(t, u, v) of the ray (origin, direction) through the triangle (a, b, c), as "
        "orvane.ray_triangle: origin + direction * t == a + (b - a) * u + (c - a) * v; a miss, "
        "and NaN input, gives (inf, nan, nan).");
    add<&closestPointBatch<float>, &closestPointBatch<double>>(
        gufuncs, "closest_point_on_triangle",
        "The point of the closed triangle (a, b, c) nearest p, as the point of "
        "orvane.closest_point_on_triangle.");
    add<&sphereInterval<float>, &sphereInterval<double>>(
        gufuncs, "ray_sphere",
        "(t_near, t_far) of the ray (origin, direction) through the ball (center, radius), as "
        "orvane.ray_sphere; a miss, and NaN input, gives (inf, -inf).");
}
