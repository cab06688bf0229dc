"""Small, exact 3D-math value types, and what users build from them.

``orvane`` re-exports every class, enum and function of ``orvane_bindings``
(the very same objects) and adds rotations, cameras, conversions, geometry
queries, batch operations over NumPy arrays (``orvane.arrays``) and pickling
and copying of every class. Every function exists for both precisions: the
precision follows the arguments, and mixing precisions raises TypeError.
"""

import orvane_bindings as _bindings

from . import _pickling
from ._native import (
    angle,
    angle_between,
    axis_angle,
    distance,
    look_at,
    matrix3_from_axis_angle,
    matrix4_from_axis_angle,
    nlerp,
    project,
    project_onto,
    quat_between,
    quat_dot,
    quat_from_axis_angle,
    quat_from_rotation_vector,
    reflect,
    rotation_vector,
    slerp,
    to_matrix3,
    to_matrix4,
    to_quaternion,
    unproject,
)
from ._precision import ortho, to_double, to_float

_BASE_NAMES = [name for name in dir(_bindings) if not name.startswith("_")]
globals().update({name: getattr(_bindings, name) for name in _BASE_NAMES})

_pickling.register()

__all__ = [
    *_BASE_NAMES,
    # rotations
    "quat_from_axis_angle", "axis_angle", "quat_from_rotation_vector", "rotation_vector",
    "quat_between", "slerp", "nlerp", "quat_dot", "angle_between",
    "matrix3_from_axis_angle", "matrix4_from_axis_angle",
    "to_matrix3", "to_matrix4", "to_quaternion",
    # cameras
    "look_at", "ortho", "project", "unproject",
    # vectors and precision
    "distance", "angle", "reflect", "project_onto", "to_float", "to_double",
]
