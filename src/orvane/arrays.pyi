from collections.abc import Sequence
from typing import Any, Protocol

import numpy as np
import numpy.typing as npt
import orvane_bindings

quat_multiply: np.ufunc
quat_rotate: np.ufunc
quat_conjugate: np.ufunc
quat_inverse: np.ufunc
quat_normalize: np.ufunc
quat_slerp: np.ufunc
quat_to_matrix: np.ufunc
matrix_to_quat: np.ufunc
quat_to_rotation_vector: np.ufunc
quat_from_rotation_vector: np.ufunc
quat_from_xyzw: np.ufunc
quat_to_xyzw: np.ufunc
pose_apply: np.ufunc
pose_compose: np.ufunc
matrix_apply: np.ufunc
matrix_apply_point: np.ufunc

# ray_aabb and classify_aabb: their ufuncs behind functions that explain a box
# object given for the two box arrays.
class _BoxUfunc(Protocol):
    ufunc: np.ufunc
    signature: str
    types: list[str]
    nin: int
    nout: int

class _RayAabb(_BoxUfunc, Protocol):
    def __call__(
        self,
        origin: npt.ArrayLike,
        direction: npt.ArrayLike,
        box_min: npt.ArrayLike,
        box_max: npt.ArrayLike,
        /,
        **kwargs: Any,
    ) -> npt.NDArray[np.floating[Any]]: ...

class _ClassifyAabb(_BoxUfunc, Protocol):
    def __call__(
        self,
        box_min: npt.ArrayLike,
        box_max: npt.ArrayLike,
        rows: npt.ArrayLike,
        /,
        **kwargs: Any,
    ) -> npt.NDArray[np.int8]: ...

ray_aabb: _RayAabb
classify_aabb: _ClassifyAabb

def plane_rows(
    planes: Sequence[orvane_bindings.Plane_f] | Sequence[orvane_bindings.Plane_d],
) -> npt.NDArray[np.floating[Any]]: ...
def euler_gufunc(
    kind: str, order: orvane_bindings.eOrder, convention: orvane_bindings.eConvention
) -> np.ufunc: ...
def quat_to_euler(
    q: npt.ArrayLike,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> npt.NDArray[np.floating[Any]]: ...
def euler_to_quat(
    e: npt.ArrayLike,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> npt.NDArray[np.floating[Any]]: ...
def transform_points(
    obj: orvane_bindings.Pose3d_f
    | orvane_bindings.Pose3d_d
    | orvane_bindings.Matrix4f
    | orvane_bindings.Matrix4d
    | orvane_bindings.Matrix3f
    | orvane_bindings.Matrix3d
    | orvane_bindings.Quaternionf
    | orvane_bindings.Quaterniond,
    points: npt.ArrayLike,
    /,
    **kwargs: Any,
) -> npt.NDArray[np.floating[Any]]: ...
