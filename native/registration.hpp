#pragma once

// One registration function per group of functions of orvane._native.

#include <pybind11/pybind11.h>

#include "class_traits.hpp"

namespace py = pybind11;

void register_pickling(py::module_& m);
void register_rotations(py::module_& m);
// Euler angles of the 24 sequences, and the angle and equality of rotations.
void register_euler_sequences(py::module_& m);
void register_cameras(py::module_& m);
void register_vectors(py::module_& m);
// decompose, which raises for a matrix that is not T * R * S.
void register_decompose(py::module_& m);
void register_precision_conversions(py::module_& m);
// The nearest rotation of a matrix and rigid motions, and their ufuncs.
void register_rigid_motions(py::module_& m);
void register_rigid_motion_ufuncs(py::module_& gufuncs);

// Rays, closest points, boxes, planes and frustums, for both precisions.
void register_geometry_queries(py::module_& m);
// The two classes behind orvane.Mesh, one per precision.
void register_meshes(py::module_& m);
// Triangles and spheres, and their ufuncs.
void register_triangles(py::module_& m);
void register_triangle_ufuncs(py::module_& gufuncs);

// The thread count of the batch loops and mesh queries, in the submodule threads.
void register_threads(py::module_& m);

// NumPy generalized ufuncs of the batch operations, in the submodule gufuncs.
void register_gufuncs(py::module_& m);

// Means and alignments of sets, and random rotations, in gufuncs.
void register_rotation_set_ufuncs(py::module_& gufuncs);
// The Euler sequences' ufuncs and the rotation measures', in gufuncs.
void register_euler_sequences_ufuncs(py::module_& gufuncs);
// Batch look_at, project, unproject, matrix inverse and determinant, and
// decompose, in gufuncs.
void register_batch_cameras_ufuncs(py::module_& gufuncs);
// Keyframe interpolation, in gufuncs: these raise for keyframes out of order
// and times outside them.
void register_keyframe_ufuncs(py::module_& gufuncs);

// The ufuncs that move points by one object of each kind.
struct PointUfuncs {
    py::object pose_apply, matrix_apply_point, matrix_apply, quat_rotate;
};

// points_mover in gufuncs, the choice behind orvane.arrays.transform_points.
void register_point_movers(py::module_& gufuncs, const PointUfuncs& ufuncs);

// Calls f(ClassTag<C>{}) for the classes of the given templates, template by
// template and float before double within each: the order of the overloads.
template <template <class> class... K, class F>
void for_each_of(F&& f) {
    ((f(ClassTag<K<float>>{}), f(ClassTag<K<double>>{})), ...);
}
