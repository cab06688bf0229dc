"""Small, exact 3D-math value types, and what users build from them.

``orvane`` re-exports every class, enum and function of ``orvane_bindings``
(the very same objects) and adds rotations, cameras, conversions, geometry
queries, batch operations over NumPy arrays (``orvane.arrays``) and pickling
and copying of every class. Every function exists for both precisions: the
precision follows the arguments, and mixing precisions raises TypeError.
"""

import orvane_bindings as _bindings

from . import _pickling
from . import arrays as arrays
from ._mesh import Mesh
from ._native import (
    aabb_center,
    aabb_contains,
    aabb_expand,
    aabb_extent,
    aabb_from_points,
    aabb_transform,
    aabb_union,
    angle,
    angle_between,
    axis_angle,
    barycentric,
    classify_aabb,
    closest_point_on_line,
    closest_point_on_segment,
    closest_point_on_triangle,
    closest_points_segments,
    decompose,
    distance,
    distance_point_segment,
    euler_from_quat,
    frustum_planes,
    intersect_planes,
    look_at,
    matrix3_from_axis_angle,
    matrix4_from_axis_angle,
    nlerp,
    plane_from_points,
    pose_exp,
    pose_from_dual_quat,
    pose_from_matrix,
    pose_inverse,
    pose_log,
    pose_power,
    pose_to_dual_quat,
    pose_to_matrix,
    project,
    project_onto,
    quat_angle,
    quat_approx_equal,
    quat_between,
    quat_dot,
    quat_from_axis_angle,
    quat_from_euler,
    quat_from_matrix,
    quat_from_rotation_vector,
    ray_aabb,
    ray_plane,
    ray_sphere,
    ray_triangle,
    reflect,
    rotation_vector,
    slerp,
    to_double,
    to_float,
    to_matrix3,
    to_matrix4,
    to_quaternion,
    triangle_area,
    triangle_normal,
    unproject,
)
from ._precision import ortho

_BASE_NAMES = [name for name in dir(_bindings) if not name.startswith("_")]
globals().update({name: getattr(_bindings, name) for name in _BASE_NAMES})

_pickling.register()

__all__ = [
    *_BASE_NAMES,
    # rotations
    "quat_from_axis_angle",
    "axis_angle",
    "quat_from_rotation_vector",
    "rotation_vector",
    "quat_between",
    "slerp",
    "nlerp",
    "quat_dot",
    "angle_between",
    "matrix3_from_axis_angle",
    "matrix4_from_axis_angle",
    "to_matrix3",
    "to_matrix4",
    "to_quaternion",
    "quat_from_euler",
    "euler_from_quat",
    "quat_angle",
    "quat_approx_equal",
    # cameras
    "look_at",
    "ortho",
    "project",
    "unproject",
    "decompose",
    # vectors and precision
    "distance",
    "angle",
    "reflect",
    "project_onto",
    "to_float",
    "to_double",
]

# Geometry queries: rays, closest points, boxes, planes and frustums.
__all__ += [
    "ray_plane",
    "ray_aabb",
    "ray_triangle",
    "closest_point_on_line",
    "closest_point_on_segment",
    "closest_points_segments",
    "distance_point_segment",
    "aabb_contains",
    "aabb_union",
    "aabb_expand",
    "aabb_center",
    "aabb_extent",
    "aabb_transform",
    "aabb_from_points",
    "plane_from_points",
    "intersect_planes",
    "frustum_planes",
    "classify_aabb",
]

# Triangles and spheres.
__all__ += [
    "closest_point_on_triangle",
    "barycentric",
    "triangle_normal",
    "triangle_area",
    "ray_sphere",
]

# The nearest rotation of a matrix, and rigid motions.
__all__ += [
    "quat_from_matrix",
    "pose_inverse",
    "pose_to_matrix",
    "pose_from_matrix",
    "pose_exp",
    "pose_log",
    "pose_power",
    "pose_to_dual_quat",
    "pose_from_dual_quat",
]

# Triangle meshes: rays, closest points and inside tests over many faces.
__all__ += ["Mesh"]
