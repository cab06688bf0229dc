from collections.abc import Sequence
from contextlib import AbstractContextManager
from typing import Any, Protocol, overload

import numpy as np
import numpy.typing as npt
import orvane_bindings

# A Dask array, as every function here returns for Dask operands (Dask
# itself carries no types).
class _LazyArray(Protocol):
    def __dask_graph__(self) -> Any: ...
    def compute(self, **kwargs: Any) -> Any: ...

# The functions over the ufuncs: the ufunc and its attributes, and a call
# that takes NumPy or Dask arrays.
class _BoxUfunc(Protocol):
    ufunc: np.ufunc
    signature: str
    types: list[str]
    nin: int
    nout: int
    __name__: str

class _Gufunc(_BoxUfunc, Protocol):
    def __call__(self, *args: Any, **kwargs: Any) -> Any: ...

quat_multiply: _Gufunc
quat_rotate: _Gufunc
quat_conjugate: _Gufunc
quat_inverse: _Gufunc
quat_normalize: _Gufunc
quat_slerp: _Gufunc
quat_to_matrix: _Gufunc
matrix_to_quat: _Gufunc
quat_to_rotation_vector: _Gufunc
quat_from_rotation_vector: _Gufunc
quat_from_xyzw: _Gufunc
quat_to_xyzw: _Gufunc
pose_apply: _Gufunc
pose_compose: _Gufunc
matrix_apply: _Gufunc
matrix_apply_point: _Gufunc
quat_angle: _Gufunc
quat_angle_between: _Gufunc
look_at: _Gufunc
project: _Gufunc
unproject: _Gufunc
matrix_inverse: _Gufunc
matrix_determinant: _Gufunc
decompose: _Gufunc

# ray_aabb and classify_aabb also explain a box object given for the two box
# arrays.
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
) -> _Gufunc: ...
@overload
def quat_to_euler(  # type: ignore[overload-overlap]
    q: _LazyArray,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> _LazyArray: ...
@overload
def quat_to_euler(
    q: npt.ArrayLike,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> npt.NDArray[np.floating[Any]]: ...
@overload
def euler_to_quat(  # type: ignore[overload-overlap]
    e: _LazyArray,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> _LazyArray: ...
@overload
def euler_to_quat(
    e: npt.ArrayLike,
    /,
    order: orvane_bindings.eOrder = ...,
    convention: orvane_bindings.eConvention = ...,
    **kwargs: Any,
) -> npt.NDArray[np.floating[Any]]: ...
@overload
def quat_from_euler(  # type: ignore[overload-overlap]
    angles: _LazyArray, /, seq: str, degrees: bool = ..., **kwargs: Any
) -> _LazyArray: ...
@overload
def quat_from_euler(
    angles: npt.ArrayLike, /, seq: str, degrees: bool = ..., **kwargs: Any
) -> npt.NDArray[np.floating[Any]]: ...
@overload
def euler_from_quat(  # type: ignore[overload-overlap]
    q: _LazyArray, /, seq: str, degrees: bool = ..., **kwargs: Any
) -> _LazyArray: ...
@overload
def euler_from_quat(
    q: npt.ArrayLike, /, seq: str, degrees: bool = ..., **kwargs: Any
) -> npt.NDArray[np.floating[Any]]: ...
@overload
def quat_approx_equal(  # type: ignore[overload-overlap]
    q0: _LazyArray,
    q1: npt.ArrayLike | _LazyArray,
    /,
    atol: float | None = ...,
    degrees: bool = ...,
    **kwargs: Any,
) -> _LazyArray: ...
@overload
def quat_approx_equal(  # type: ignore[overload-overlap]
    q0: npt.ArrayLike,
    q1: _LazyArray,
    /,
    atol: float | None = ...,
    degrees: bool = ...,
    **kwargs: Any,
) -> _LazyArray: ...
@overload
def quat_approx_equal(
    q0: npt.ArrayLike,
    q1: npt.ArrayLike,
    /,
    atol: float | None = ...,
    degrees: bool = ...,
    **kwargs: Any,
) -> npt.NDArray[np.bool_]: ...

_PointMover = (
    orvane_bindings.Pose3d_f
    | orvane_bindings.Pose3d_d
    | orvane_bindings.Matrix4f
    | orvane_bindings.Matrix4d
    | orvane_bindings.Matrix3f
    | orvane_bindings.Matrix3d
    | orvane_bindings.Quaternionf
    | orvane_bindings.Quaterniond
)

@overload
def transform_points(  # type: ignore[overload-overlap]
    obj: _PointMover, points: _LazyArray, /, **kwargs: Any
) -> _LazyArray: ...
@overload
def transform_points(
    obj: _PointMover, points: npt.ArrayLike, /, **kwargs: Any
) -> npt.NDArray[np.floating[Any]]: ...

# Reductions over the set axis n; Dask operands give Dask arrays.
def quat_mean(q: Any, /, weights: Any = None, axis: int = 0) -> Any: ...
def align_vectors(a: Any, b: Any, /, weights: Any = None) -> tuple[Any, Any]: ...
def align_points(
    a: Any, b: Any, /, weights: Any = None, scale: bool = False
) -> tuple[Any, Any, Any, Any]: ...
def random_quat(
    size: int | Sequence[int] | None = None,
    rng: int | np.random.Generator | None = None,
    dtype: npt.DTypeLike = ...,
) -> npt.NDArray[np.floating[Any]]: ...
def slerp_keyframes(
    times: npt.ArrayLike, quats: npt.ArrayLike, t: npt.ArrayLike, /, **kwargs: Any
) -> Any: ...
def pose_keyframes(
    times: npt.ArrayLike,
    positions: npt.ArrayLike,
    orientations: npt.ArrayLike,
    t: npt.ArrayLike,
    /,
    **kwargs: Any,
) -> tuple[Any, Any]: ...

# The nearest rotation of a matrix, and rigid motions.
quat_from_matrix: _Gufunc
pose_inverse: _Gufunc
pose_to_matrix: _Gufunc
pose_from_matrix: _Gufunc
pose_exp: _Gufunc
pose_log: _Gufunc
pose_power: _Gufunc
pose_to_dual_quat: _Gufunc
pose_from_dual_quat: _Gufunc

# Triangles and spheres.
ray_triangle: _Gufunc
closest_point_on_triangle: _Gufunc
ray_sphere: _Gufunc

# The threads of the batch operations and the mesh queries.
def set_num_threads(n: int) -> None: ...
def get_num_threads() -> int: ...
def threads(n: int) -> AbstractContextManager[None]: ...
