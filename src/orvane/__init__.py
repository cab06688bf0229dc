"""Small, exact 3D-math value types, and what users build from them.

``orvane`` re-exports every class, enum and function of ``orvane_bindings``
(the very same objects) and adds rotations, cameras, conversions, geometry
queries, batch operations over NumPy arrays (``orvane.arrays``) and pickling
and copying of every class.
"""

import orvane_bindings as _bindings

from . import _pickling
from ._native import (  # geometry queries
    aabb_center,
    aabb_contains,
    aabb_expand,
    aabb_extent,
    aabb_from_points,
    aabb_transform,
    aabb_union,
    classify_aabb,
    closest_point_on_line,
    closest_point_on_segment,
    closest_points_segments,
    distance_point_segment,
    frustum_planes,
    intersect_planes,
    plane_from_points,
    ray_aabb,
    ray_plane,
    ray_triangle,
)

_BASE_NAMES = [name for name in dir(_bindings) if not name.startswith("_")]
globals().update({name: getattr(_bindings, name) for name in _BASE_NAMES})

_pickling.register()

__all__ = [*_BASE_NAMES]

# Geometry queries: rays, closest points, boxes, planes and frustums.
__all__ += [
    "ray_plane", "ray_aabb", "ray_triangle",
    "closest_point_on_line", "closest_point_on_segment", "closest_points_segments",
    "distance_point_segment",
    "aabb_contains", "aabb_union", "aabb_expand", "aabb_center", "aabb_extent",
    "aabb_transform", "aabb_from_points",
    "plane_from_points", "intersect_planes", "frustum_planes", "classify_aabb",
]
