// Geometry queries over the classes of orvane_bindings: rays, closest points,
// boxes, planes and frustums. Each function is the header template of the
// same name, so Python and C++ agree bit for bit.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "array_likes.hpp"
#include "class_traits.hpp"
#include "declarations.hpp"
#include "elementwise.hpp"
#include "math/bounds.hpp"
#include "math/closest_points.hpp"
#include "math/frustum.hpp"
#include "math/planes.hpp"
#include "math/ray.hpp"
#include "registration.hpp"

namespace {

// The planes argument of classify_aabb: any object, which six_planes checks,
// shown in signatures as the sequence of the precision's planes it must be.
template <class T>
struct PlaneSequence {
    py::object planes;
};

}  // namespace

namespace pybind11::detail {

template <class T>
struct type_caster<PlaneSequence<T>> {
    PYBIND11_TYPE_CASTER(PlaneSequence<T>, const_name("collections.abc.Sequence[") +
                                               make_caster<math::Plane<T>>::name + const_name("]"));

    bool load(handle src, bool) {
        value.planes = reinterpret_borrow<object>(src);
        return true;
    }
};

}  // namespace pybind11::detail

namespace {

template <class T>
using V3 = math::Vector3<T>;

// Points arrive as whole rows of a C-contiguous (N, 3) array.
static_assert(sizeof(V3<float>) == 3 * sizeof(float) && std::is_standard_layout_v<V3<float>>);
static_assert(sizeof(V3<double>) == 3 * sizeof(double) && std::is_standard_layout_v<V3<double>>);

std::string text_of(py::handle h) { return py::str(h); }

std::string type_name(py::handle h) { return text_of(py::type::handle_of(h).attr("__name__")); }

// The planes of classify_aabb or plane_rows (the function named in the
// messages), refused with a message that says what was wrong unless they are
// a sequence of exactly six of the precision's class.
template <class T>
std::array<math::Plane<T>, 6> six_planes(const py::object& planes, const char* function) {
    using Plane = math::Plane<T>;
    const std::string expected =
        std::string(function) + ": planes must be a sequence of 6 " + class_name<math::Plane<T>>();
    // A class with __getitem__ but no length is no sequence either.
    const Py_ssize_t size = PySequence_Check(planes.ptr()) ? PySequence_Size(planes.ptr()) : -1;
    if (size < 0 || py::isinstance<py::str>(planes)) {
        PyErr_Clear();
        throw py::type_error(expected + ", not " + type_name(planes));
    }
    if (size != 6) {
        throw py::value_error(expected + ", got " + std::to_string(size) + " items");
    }
    const auto sequence = py::reinterpret_borrow<py::sequence>(planes);
    std::array<Plane, 6> chosen;
    for (std::size_t k = 0; k < 6; ++k) {
        const py::object item = sequence[k];
        if (!py::isinstance<Plane>(item)) {
            throw py::type_error(expected + ", item " + std::to_string(k) + " is " +
                                 type_name(item));
        }
        chosen[k] = item.cast<const Plane&>();
    }
    return chosen;
}

template <class T>
py::array_t<T> rows_of(const py::object& planes) {
    const std::array<math::Plane<T>, 6> six = six_planes<T>(planes, "plane_rows");
    py::array_t<T> rows({6, 4});
    for (std::size_t k = 0; k < 6; ++k) {
        const std::array<T, 4> row = math::planeRow(six[k]);
        std::copy(row.begin(), row.end(), rows.mutable_data(k, 0));
    }
    return rows;
}

// The precision is that of the first plane; the float messages otherwise.
py::array plane_rows(const py::object& planes) {
    if (PySequence_Check(planes.ptr()) && PySequence_Size(planes.ptr()) > 0) {
        const py::object first = py::reinterpret_borrow<py::sequence>(planes)[0];
        if (py::isinstance<math::Plane<double>>(first)) return rows_of<double>(planes);
    }
    PyErr_Clear();
    return rows_of<float>(planes);
}

template <class T>
std::optional<T> ray_plane(const V3<T>& origin, const V3<T>& direction,
                           const math::Plane<T>& plane) {
    return math::rayPlane(origin, direction, plane);
}

template <class T>
std::optional<std::pair<T, T>> ray_aabb(const V3<T>& origin, const V3<T>& direction,
                                        const math::AABB<T>& box) {
    const auto hit = math::rayAabb(origin, direction, box);
    if (!hit) return std::nullopt;
    return std::pair<T, T>(hit->tNear, hit->tFar);
}

template <class T>
std::optional<std::tuple<T, T, T>> ray_triangle(const V3<T>& origin, const V3<T>& direction,
                                                const V3<T>& a, const V3<T>& b, const V3<T>& c) {
    const auto hit = elementwise::rayTriangle(origin, direction, a, b, c);
    if (!hit) return std::nullopt;
    return std::tuple<T, T, T>(hit->t, hit->u, hit->v);
}

template <class T>
void register_rays(py::module_& m) {
    declare::def(m, "ray_plane", &ray_plane<T>, py::arg("origin"), py::arg("direction"),
                 py::arg("plane"),
                 "Distance t along the ray origin + direction * t (t >= 0, in units of the\n"
                 "direction's length) to the plane, or None. None when the ray is parallel to\n"
                 "the plane (direction . normal == 0: a ray lying in the plane, a zero\n"
                 "direction, a zero normal), when the plane is behind the origin, and for NaN\n"
                 "input. An origin on the plane gives 0 (-0.0 when the direction points\n"
                 "against the normal).");
    declare::def(m, "ray_aabb", &ray_aabb<T>, py::arg("origin"), py::arg("direction"),
                 py::arg("box"),
                 "(t_near, t_far), the part of the ray inside the closed box, or None.\n"
                 "t_near is 0 when the origin is inside. Grazing a face, an edge or a corner\n"
                 "is a hit (t_near == t_far). None for a box behind the origin, an inverted\n"
                 "or empty box (min > max on an axis) and NaN input. A zero direction gives\n"
                 "(0, inf) from inside the box and None from outside.");
    declare::def(m, "ray_triangle", &ray_triangle<T>, py::arg("origin"), py::arg("direction"),
                 py::arg("a"), py::arg("b"), py::arg("c"),
                 "(t, u, v) with origin + direction * t == a + (b - a) * u + (c - a) * v, or\n"
                 "None. Watertight: a ray through an edge or a vertex shared by two triangles\n"
                 "hits at least one of them; points on an edge count as inside. Both\n"
                 "windings hit. None for a zero-area triangle, a ray lying in the triangle's\n"
                 "plane (to within rounding: where rounding could move the hit by more than\n"
                 "2**-14 (float) or 2**-31 (double) of the distance to the triangle), a hit\n"
                 "behind the origin, a zero direction and NaN input.");
}

template <class T>
void register_closest_points(py::module_& m) {
    using Line = math::Line<T>;
    declare::def(m, "closest_point_on_line", &math::closestPointOnLine<T>, py::arg("line"),
                 py::arg("p"),
                 "The point of the infinite line through line.start and line.end nearest p.\n"
                 "A zero-length line gives line.start; NaN input gives NaN.");
    declare::def(m, "closest_point_on_segment", &math::closestPointOnSegment<T>, py::arg("line"),
                 py::arg("p"),
                 "The point of the segment from line.start to line.end nearest p; beyond\n"
                 "either end it is that end point, exactly. A zero-length segment gives\n"
                 "line.start; NaN input gives NaN.");
    declare::def(
        m, "closest_points_segments",
        [](const Line& l1, const Line& l2) {
            const auto points = math::closestPointsSegments(l1, l2);
            return std::make_pair(points.onFirst, points.onSecond);
        },
        py::arg("l1"), py::arg("l2"),
        "(p1, p2): the nearest pair of points, p1 on segment l1 and p2 on l2.\n"
        "Parallel segments give one of their nearest pairs: p1 is l1.start when it\n"
        "lies alongside l2, else the point of l1 nearest the end of l2 that\n"
        "l1.start lies beyond. A zero-length segment contributes its start; two\n"
        "give both starts. Finite input gives no NaN; NaN in either segment gives\n"
        "NaN in both points.");
    declare::def(m, "distance_point_segment", &math::distancePointSegment<T>, py::arg("line"),
                 py::arg("p"),
                 "Distance from p to the segment from line.start to line.end (to line.start\n"
                 "when the two coincide); NaN input gives NaN.");
}

// One overload of aabb_transform per kind of transform.
template <class T, class Transform>
math::AABB<T> transformed_by(const math::AABB<T>& box, const Transform& transform) {
    return math::transformed(box, transform);
}

template <class T>
void register_boxes(py::module_& m) {
    declare::def(m, "aabb_contains", &math::contains<T>, py::arg("box"), py::arg("p"),
                 "Whether p lies in the closed box (a point on a face is inside). An\n"
                 "inverted or empty box and a NaN coordinate contain nothing.");
    declare::def(m, "aabb_union", &math::merged<T>, py::arg("a"), py::arg("b"),
                 "The smallest box holding both. The empty box (min +inf, max -inf) leaves\n"
                 "the other unchanged; a NaN coordinate of either stays NaN.");
    declare::def(m, "aabb_expand", &math::expanded<T>, py::arg("box"), py::arg("p"),
                 "The smallest box holding the box and p; the empty box gives the box of p\n"
                 "alone. A NaN coordinate stays NaN.");
    declare::def(m, "aabb_center", &math::center<T>, py::arg("box"),
                 "(max + min) * 0.5. NaN for the default all-space box and the empty box,\n"
                 "and where a coordinate is NaN.");
    declare::def(m, "aabb_extent", &math::extent<T>, py::arg("box"),
                 "The full size max - min (not half of it); negative on an inverted axis,\n"
                 "-inf for the empty box, NaN where a coordinate is NaN.");
    declare::def(m, "aabb_transform", &transformed_by<T, math::Pose3d<T>>, py::arg("box"),
                 py::arg("transform"),
                 "The tight box around the box moved by a pose: the centre through\n"
                 "pose.apply, the half extents through the rotation of the normalized\n"
                 "orientation (an unnormalized orientation does not scale). Infinite and\n"
                 "empty boxes, a zero orientation and NaN input give NaN.");
    declare::def(m, "aabb_transform", &transformed_by<T, math::Matrix4<T>>, py::arg("box"),
                 py::arg("transform"),
                 "The tight box around the box moved by an affine matrix: the centre as the\n"
                 "point (c, 1), the half extents through the absolute values of the\n"
                 "upper-left 3x3 block; row 3 is ignored. Infinite and empty boxes and NaN\n"
                 "input (outside row 3) give NaN.");
}

template <class T>
void register_planes(py::module_& m) {
    declare::def(m, "plane_from_points", &math::planeFromPoints<T>, py::arg("a"), py::arg("b"),
                 py::arg("c"),
                 "The plane through a with the unit normal (b - a) x (c - a): a, b, c run\n"
                 "counter-clockwise seen from the normal side. Collinear or coinciding\n"
                 "points give a NaN normal; NaN input gives NaN.");
    declare::def(m, "intersect_planes", &math::intersectPlanes<T>, py::arg("p1"), py::arg("p2"),
                 py::arg("p3"),
                 "The point common to three planes (normals of any length), or None when\n"
                 "the normals are dependent (parallel planes, or three planes through one\n"
                 "line). NaN input gives NaN components.");
    declare::def(m, "frustum_planes", &math::frustumPlanes<T>, py::arg("view_projection"),
                 "The 6 planes [left, right, bottom, top, near, far] of the volume that the\n"
                 "matrix maps into the clip cube, with unit normals pointing inwards.\n"
                 "A plane with a zero normal (the far plane of an infinite projection) comes\n"
                 "out NaN, and classify_aabb ignores it; so do the planes built from a row\n"
                 "holding NaN.");
    declare::def(
        m, "classify_aabb",
        [](const math::AABB<T>& box, const PlaneSequence<T>& planes) {
            return math::classify(box, six_planes<T>(planes.planes, "classify_aabb"));
        },
        py::arg("box"), py::arg("planes"),
        "-1 when the box is wholly outside one of the planes, 1 when it is inside\n"
        "all of them, 0 otherwise; the inside of a plane is its normal side, the\n"
        "plane itself included. planes: 6 Plane of the box's precision (as\n"
        "frustum_planes gives them). Infinite boxes are allowed; the empty box is\n"
        "outside; a NaN plane is ignored, and a box with a NaN coordinate is outside.");
}

template <class T>
py::object bounds_of_vectors(const py::sequence& points) {
    std::vector<V3<T>> copied;
    copied.reserve(points.size());
    for (const py::object item : points) copied.push_back(item.cast<const V3<T>&>());
    return py::cast(math::boundsOf(copied.data(), copied.size()));
}

// The array-like cast as numpy.asarray(points, dtype) casts it, with NumPy's
// errors, and in C order, so that its rows are read in place.
template <class T>
py::object bounds_of_array(const py::handle& points) {
    using Array = py::array_t<T, py::array::c_style | py::array::forcecast>;
    const Array array(py::reinterpret_borrow<py::object>(points));
    // [] arrives as shape (0,): no points, as an empty (0, 3) array.
    const bool no_points = array.ndim() == 1 && array.size() == 0;
    if (!no_points && (array.ndim() != 2 || array.shape(1) != 3)) {
        throw py::value_error("aabb_from_points: points must have shape (N, 3), not " +
                              text_of(array.attr("shape")));
    }
    const auto* rows = reinterpret_cast<const V3<T>*>(array.data());
    return py::cast(math::boundsOf(rows, static_cast<std::size_t>(array.size() / 3)));
}

// Vector3f or Vector3d when the points are a sequence holding a Vector3 of
// that precision (or of a class derived from it; every item must then be
// one), else null.
py::handle vector_class_of(const py::handle& points) {
    if (!py::isinstance<py::sequence>(points) || py::isinstance<py::array>(points)) return {};
    const auto sequence = py::reinterpret_borrow<py::sequence>(points);
    py::handle found;
    for (const py::object item : sequence) {
        if (py::isinstance<V3<float>>(item)) found = py::type::of<V3<float>>();
        if (py::isinstance<V3<double>>(item)) found = py::type::of<V3<double>>();
        if (found) break;
    }
    if (!found) return {};
    std::size_t k = 0;
    for (const py::object item : sequence) {
        if (!py::isinstance(item, found)) {
            throw py::type_error("aabb_from_points: points mix " + text_of(found.attr("__name__")) +
                                 " with " + type_name(item) + " (item " + std::to_string(k) + ")");
        }
        ++k;
    }
    return found;
}

// Without a dtype, a float32 or float64 array keeps its precision and
// anything else is read as float64, as NumPy reads a list.
py::dtype dtype_from(const py::handle& dtype, const py::handle& points) {
    if (!dtype.is_none()) return py::dtype::from_args(py::reinterpret_borrow<py::object>(dtype));
    if (py::isinstance<py::array>(points)) {
        const py::dtype own = py::reinterpret_borrow<py::array>(points).dtype();
        if (own.equal(py::dtype::of<float>())) return own;
    }
    return py::dtype::of<double>();
}

// numpy.asarray drops a mask, which would silently count the masked points.
void refuse_masked(const py::handle& points) {
    if (!py::isinstance<py::array>(points) ||
        points.get_type().is(py::module_::import("numpy").attr("ndarray"))) {
        return;
    }
    if (py::module_::import("numpy.ma").attr("is_masked")(points).cast<bool>()) {
        throw py::value_error(
            "aabb_from_points: points has masked values, which would be read as they are; "
            "pass the unmasked rows, numpy.ma.compress_rows(points)");
    }
}

py::object aabb_from_points(const py::handle& points, const py::handle& dtype) {
    refuse_masked(points);
    const py::handle vectors = vector_class_of(points);
    if (vectors) {
        const bool single = vectors.is(py::type::of<V3<float>>());
        const py::dtype own = single ? py::dtype::of<float>() : py::dtype::of<double>();
        if (!dtype.is_none() && !dtype_from(dtype, points).equal(own)) {
            throw py::type_error("aabb_from_points: dtype " + text_of(dtype_from(dtype, points)) +
                                 " does not match the " + text_of(vectors.attr("__name__")) +
                                 " points");
        }
        const auto sequence = py::reinterpret_borrow<py::sequence>(points);
        return single ? bounds_of_vectors<float>(sequence) : bounds_of_vectors<double>(sequence);
    }
    const py::dtype wanted = dtype_from(dtype, points);
    if (wanted.equal(py::dtype::of<float>())) return bounds_of_array<float>(points);
    if (wanted.equal(py::dtype::of<double>())) return bounds_of_array<double>(points);
    throw py::type_error("aabb_from_points: dtype must be float32 or float64, not " +
                         text_of(wanted));
}

template <class T>
void register_queries(py::module_& m) {
    register_rays<T>(m);
    register_closest_points<T>(m);
    register_boxes<T>(m);
    register_planes<T>(m);
}

// The overloads that take array-likes for points and directions.
void register_array_likes(py::module_& m) {
    using array_likes::def;
    using math::AABB;
    def<&ray_plane<float>, &ray_plane<double>>(m, "ray_plane");
    def<&ray_aabb<float>, &ray_aabb<double>>(m, "ray_aabb", "ray_aabb");
    def<&ray_triangle<float>, &ray_triangle<double>>(m, "ray_triangle");
    def<&math::closestPointOnLine<float>, &math::closestPointOnLine<double>>(
        m, "closest_point_on_line");
    def<&math::closestPointOnSegment<float>, &math::closestPointOnSegment<double>>(
        m, "closest_point_on_segment");
    def<&math::distancePointSegment<float>, &math::distancePointSegment<double>>(
        m, "distance_point_segment");
    def<&math::contains<float>, &math::contains<double>>(m, "aabb_contains");
    def<&math::expanded<float>, &math::expanded<double>>(m, "aabb_expand");
    def<&math::planeFromPoints<float>, &math::planeFromPoints<double>>(m, "plane_from_points");
}

}  // namespace

void register_geometry_queries(py::module_& m) {
    register_queries<float>(m);
    register_queries<double>(m);
    register_array_likes(m);
    declare::def(m, "plane_rows", &plane_rows, py::arg("planes"),
                 "The 6 planes (as frustum_planes gives them) as a (6, 4) array of rows\n"
                 "(a, b, c, d) of their precision, inside where a*x + b*y + c*z + d >= 0: the\n"
                 "form orvane.arrays.classify_aabb takes.");
    declare::def(m, "aabb_from_points", &aabb_from_points, py::arg("points"),
                 py::arg("dtype") = py::none(),
                 "The smallest box holding the points: an (N, 3) array-like, cast to dtype\n"
                 "(float32 or float64) as numpy.asarray does, or a sequence of Vector3 of one\n"
                 "precision, which fixes the precision (mixing precisions raises TypeError).\n"
                 "Without dtype, a float32 or float64 array keeps its precision and other\n"
                 "array-likes (lists, integer arrays) give float64. No points give the empty box, "
                 "min +inf and\n"
                 "max -inf, which aabb_union absorbs and which contains nothing. A NaN\n"
                 "coordinate makes that coordinate of the box NaN.");
}
