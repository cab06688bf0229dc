#pragma once

// One registration function per group of functions of orvane._native.

#include <pybind11/pybind11.h>

#include "class_traits.hpp"

namespace py = pybind11;

void register_pickling(py::module_& m);
void register_rotations(py::module_& m);
void register_cameras(py::module_& m);
void register_vectors(py::module_& m);
// decompose, in the submodule checked: it raises where others give NaN.
void register_decompose(py::module_& m);
void register_precision_conversions(py::module_& m);

// Rays, closest points, boxes, planes and frustums, for both precisions.
void register_geometry_queries(py::module_& m);

// NumPy generalized ufuncs of the batch operations, in the submodule gufuncs.
void register_gufuncs(py::module_& m);

// Called by register_gufuncs with the gufuncs submodule.
void register_batch_cameras_ufuncs(py::module_& gufuncs);

// The submodule restricted, after register_gufuncs: the ufuncs of
// keyframes (which raise on bad ones), of unproject and decompose (NaN for
// matrices no inverse or T * R * S gives, numbers too), apart from the gufuncs, which give NaN for
// NaN only.
void register_restricted_ufuncs(py::module_& m);
void register_restricted_camera_ufuncs(py::module_& restricted);

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
