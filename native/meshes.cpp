// The native side of orvane.Mesh: one class per precision over
// math::TriangleMesh. It takes rows already broadcast and flattened by
// orvane/_mesh.py and runs each query's loop without the interpreter lock,
// so that threads sharing one mesh run in parallel.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "math/mesh.hpp"
#include "registration.hpp"
#include "thread_pool.hpp"

namespace {

template <class T>
using Mesh = math::TriangleMesh<T>;
template <class T>
using V3 = math::Vector3<T>;
template <class T>
using Rows = py::array_t<T, py::array::c_style | py::array::forcecast>;

// The vertex view reads the mesh's own storage as rows of x, y, z.
static_assert(sizeof(V3<float>) == 3 * sizeof(float) && std::is_standard_layout_v<V3<float>>);
static_assert(sizeof(V3<double>) == 3 * sizeof(double) && std::is_standard_layout_v<V3<double>>);
static_assert(sizeof(Mesh<float>::Face) == 3 * sizeof(std::int64_t));

// Below this many rows per thread a query stays on one thread: a ray costs
// 50 ns on a 4-face mesh and 0.4 to 1 us on 100 to 20000 faces, so even on
// the smallest mesh a thread's share (13 us) outweighs its wake-up (5-10 us).
constexpr pool::Index kRowsPerThread = 256;

template <class A>
std::size_t row_count(const A& a, const char* what) {
    if (a.ndim() != 2 || a.shape(1) != 3) {
        throw py::value_error(std::string("Mesh: ") + what + " must be an array of shape (n, 3)");
    }
    return std::size_t(a.shape(0));
}

template <class T>
V3<T> row(const T* p, std::size_t i) {
    return V3<T>(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
}

template <class T>
Mesh<T> make_mesh(const Rows<T>& vertices, const Rows<std::int64_t>& faces) {
    const std::size_t vertex_count = row_count(vertices, "vertices");
    const std::size_t face_count = row_count(faces, "faces");
    if (vertex_count > Mesh<T>::kMostRows || face_count > Mesh<T>::kMostRows) {
        throw py::value_error("Mesh: at most 4294967295 vertices and as many faces, got " +
                              std::to_string(vertex_count) + " vertices and " +
                              std::to_string(face_count) + " faces: split the mesh");
    }
    Mesh<T> mesh;
    {
        py::gil_scoped_release release;
        mesh = Mesh<T>(vertices.data(), vertex_count, faces.data(), face_count);
    }
    if (const auto& fault = mesh.fault()) {
        throw py::value_error("Mesh: face " + std::to_string(fault->face) + " names vertex " +
                              std::to_string(fault->index) + ", but there are " +
                              std::to_string(vertex_count) +
                              " vertices: indices must lie in [0, vertex count)");
    }
    return mesh;
}

// A read-only view of n rows of 3 at data, kept alive by owner.
template <class T>
py::array view(const T* data, std::size_t n, const py::object& owner) {
    py::array a(py::dtype::of<T>(), {n, std::size_t(3)}, {3 * sizeof(T), sizeof(T)},
                n == 0 ? nullptr : data, owner);
    a.attr("setflags")(py::arg("write") = false);
    return a;
}

template <class T>
py::array vertices_of(const py::object& self) {
    const auto& v = self.cast<const Mesh<T>&>().vertices();
    return view(reinterpret_cast<const T*>(v.data()), v.size(), self);
}

template <class T>
py::array faces_of(const py::object& self) {
    const auto& f = self.cast<const Mesh<T>&>().faces();
    return view(reinterpret_cast<const std::int64_t*>(f.data()), f.size(), self);
}

// f(i) for every row i, across the pool when there are enough rows: the
// mesh is only read, and each row writes its own results.
template <class F>
void rows(std::size_t n, const F& f) {
    pool::parallel_for(pool::Index(n), kRowsPerThread, [&](pool::Index begin, pool::Index end) {
        for (pool::Index i = begin; i < end; ++i) f(std::size_t(i));
    });
}

template <class T>
std::size_t same_rows(const Rows<T>& a, const Rows<T>& b, const Rows<T>& c) {
    const std::size_t n = row_count(a, "origins");
    if (row_count(b, "directions") != n || c.ndim() != 1 || std::size_t(c.shape(0)) != n) {
        throw py::value_error("Mesh: origins, directions and t_max must have as many rows");
    }
    return n;
}

template <class T>
py::tuple raycast(const Mesh<T>& mesh, const Rows<T>& origins, const Rows<T>& directions,
                  const Rows<T>& t_max) {
    const std::size_t n = same_rows(origins, directions, t_max);
    py::array_t<T> t(n), u(n), v(n);
    py::array_t<std::int64_t> face(n);
    T *pt = t.mutable_data(), *pu = u.mutable_data(), *pv = v.mutable_data();
    std::int64_t* pf = face.mutable_data();
    const T *o = origins.data(), *d = directions.data(), *m = t_max.data();
    {
        py::gil_scoped_release release;
        rows(n, [&](std::size_t i) {
            const math::MeshHit<T> hit = mesh.raycast(row(o, i), row(d, i), m[i]);
            pt[i] = hit.t;
            pf[i] = hit.face;
            pu[i] = hit.u;
            pv[i] = hit.v;
        });
    }
    return py::make_tuple(t, face, u, v);
}

template <class T>
py::array_t<bool> occluded(const Mesh<T>& mesh, const Rows<T>& origins, const Rows<T>& directions,
                           const Rows<T>& t_max) {
    const std::size_t n = same_rows(origins, directions, t_max);
    py::array_t<bool> hit(n);
    bool* ph = hit.mutable_data();
    const T *o = origins.data(), *d = directions.data(), *m = t_max.data();
    {
        py::gil_scoped_release release;
        rows(n, [&](std::size_t i) { ph[i] = mesh.occluded(row(o, i), row(d, i), m[i]); });
    }
    return hit;
}

template <class T>
py::tuple closest_points(const Mesh<T>& mesh, const Rows<T>& points) {
    const std::size_t n = row_count(points, "points");
    py::array_t<T> nearest({n, std::size_t(3)}), distance(n);
    py::array_t<std::int64_t> face(n);
    T *pp = nearest.mutable_data(), *pd = distance.mutable_data();
    std::int64_t* pf = face.mutable_data();
    const T* p = points.data();
    {
        py::gil_scoped_release release;
        rows(n, [&](std::size_t i) {
            const math::MeshPoint<T> q = mesh.closestPoint(row(p, i));
            pp[3 * i] = q.point.x;
            pp[3 * i + 1] = q.point.y;
            pp[3 * i + 2] = q.point.z;
            pf[i] = q.face;
            pd[i] = std::sqrt(q.distanceSquared);
        });
    }
    return py::make_tuple(nearest, face, distance);
}

template <class T>
py::array_t<bool> contains(const Mesh<T>& mesh, const Rows<T>& points) {
    const std::size_t n = row_count(points, "points");
    py::array_t<bool> inside(n);
    bool* pi = inside.mutable_data();
    const T* p = points.data();
    {
        py::gil_scoped_release release;
        rows(n, [&](std::size_t i) { pi[i] = mesh.contains(row(p, i)); });
    }
    return inside;
}

template <class T>
void register_mesh(py::module_& m, const char* name) {
    py::class_<Mesh<T>>(m, name,
                        "The mesh inside orvane.Mesh, in one precision: queries over rows of "
                        "x, y, z, already broadcast and C-contiguous.")
        .def(py::init(&make_mesh<T>), py::arg("vertices"), py::arg("faces"),
             "A mesh over copies of vertices (V, 3) and faces (F, 3) int64; ValueError for a "
             "face index outside [0, V).")
        .def_property_readonly("vertices", &vertices_of<T>, "The vertices (V, 3), read-only.")
        .def_property_readonly("faces", &faces_of<T>, "The faces (F, 3) int64, read-only.")
        .def_property_readonly("bounds", &Mesh<T>::bounds,
                               "The box of the finite vertices; (inf, -inf) for none.")
        .def("__len__", &Mesh<T>::size, "The number of faces.")
        .def("raycast", &raycast<T>, py::arg("origins"), py::arg("directions"), py::arg("t_max"),
             "(t, face, u, v) of each row's nearest hit with t < t_max.")
        .def("occluded", &occluded<T>, py::arg("origins"), py::arg("directions"), py::arg("t_max"),
             "Whether each row's ray hits a face with t < t_max.")
        .def("closest_points", &closest_points<T>, py::arg("points"),
             "(points, faces, distances) of the mesh point nearest each row.")
        .def("contains", &contains<T>, py::arg("points"),
             "Whether each row lies inside the closed mesh.");
}

}  // namespace

void register_meshes(py::module_& m) {
    register_mesh<float>(m, "_TriangleMesh_f");
    register_mesh<double>(m, "_TriangleMesh_d");
}
