"""Batch operations over NumPy arrays, as generalized ufuncs.

Every operation runs a ``numpy.ufunc`` with a core signature and one loop for
float32 and one for float64, running the same C++ code per element as the
per-object method, so results are equal bit for bit; ``ray_aabb`` and
``classify_aabb`` are thin functions over theirs that explain an AABB given
where the box arrays go. Broadcasting, ``out=``,
``axes=``, ``dtype=`` and ``__array_ufunc__`` come from NumPy. Layouts:
quaternions (..., 4) scalar first (``quat_from_xyzw`` and ``quat_to_xyzw``
reorder from and to scalar last); vectors and points (..., 3); matrices
(..., n, n) indexed [row, column]; Euler angles (..., 3) in the order's
sequence: element k is the angle of the k-th rotation the order names, so
``ZYX`` angles are (z, y, x) for either convention.

The public names are thin functions over the ufuncs (``.ufunc``, with its
``signature``, ``types``, ``nin`` and ``nout``): given a Dask array among the
operands, they return Dask arrays, lazily, through ``dask.array.apply_gufunc``.
"""

import contextlib
import operator
import re
import sys

import numpy as np
import orvane_bindings as _ob

from . import _euler_sequences
from ._euler_sequences import euler_from_quat, quat_approx_equal, quat_from_euler
from ._keyframes import pose_keyframes, slerp_keyframes
from ._native import gufuncs as _gufuncs
from ._native import plane_rows
from ._native import threads as _threads

quat_multiply = _gufuncs.quat_multiply
quat_rotate = _gufuncs.quat_rotate
quat_conjugate = _gufuncs.quat_conjugate
quat_inverse = _gufuncs.quat_inverse
quat_normalize = _gufuncs.quat_normalize
quat_slerp = _gufuncs.quat_slerp
quat_to_matrix = _gufuncs.quat_to_matrix
matrix_to_quat = _gufuncs.matrix_to_quat
quat_to_rotation_vector = _gufuncs.quat_to_rotation_vector
quat_from_rotation_vector = _gufuncs.quat_from_rotation_vector
quat_from_xyzw = _gufuncs.quat_from_xyzw
quat_to_xyzw = _gufuncs.quat_to_xyzw
pose_apply = _gufuncs.pose_apply
pose_compose = _gufuncs.pose_compose
matrix_apply = _gufuncs.matrix_apply
matrix_apply_point = _gufuncs.matrix_apply_point
ray_aabb = _gufuncs.ray_aabb
classify_aabb = _gufuncs.classify_aabb
quat_angle = _gufuncs.quat_angle
quat_angle_between = _gufuncs.quat_angle_between
look_at = _gufuncs.look_at
project = _gufuncs.project
unproject = _gufuncs.unproject
matrix_inverse = _gufuncs.matrix_inverse
matrix_determinant = _gufuncs.matrix_determinant
decompose = _gufuncs.decompose
quat_from_matrix = _gufuncs.quat_from_matrix
pose_inverse = _gufuncs.pose_inverse
pose_to_matrix = _gufuncs.pose_to_matrix
pose_from_matrix = _gufuncs.pose_from_matrix
pose_exp = _gufuncs.pose_exp
pose_log = _gufuncs.pose_log
pose_power = _gufuncs.pose_power
pose_to_dual_quat = _gufuncs.pose_to_dual_quat
pose_from_dual_quat = _gufuncs.pose_from_dual_quat
ray_triangle = _gufuncs.ray_triangle
closest_point_on_triangle = _gufuncs.closest_point_on_triangle
ray_sphere = _gufuncs.ray_sphere

__all__ = [
    "quat_multiply",
    "quat_rotate",
    "quat_conjugate",
    "quat_inverse",
    "quat_normalize",
    "quat_slerp",
    "quat_to_matrix",
    "matrix_to_quat",
    "quat_to_euler",
    "euler_to_quat",
    "quat_to_rotation_vector",
    "quat_from_rotation_vector",
    "quat_from_xyzw",
    "quat_to_xyzw",
    "pose_apply",
    "pose_compose",
    "matrix_apply",
    "matrix_apply_point",
    "euler_gufunc",
    "transform_points",
    "ray_aabb",
    "classify_aabb",
    "plane_rows",
    "quat_mean",
    "align_vectors",
    "align_points",
    "random_quat",
    "quat_from_euler",
    "euler_from_quat",
    "quat_angle",
    "quat_angle_between",
    "quat_approx_equal",
    "look_at",
    "project",
    "unproject",
    "matrix_inverse",
    "matrix_determinant",
    "decompose",
    "slerp_keyframes",
    "pose_keyframes",
    "quat_from_matrix",
    "pose_inverse",
    "pose_to_matrix",
    "pose_from_matrix",
    "pose_exp",
    "pose_log",
    "pose_power",
    "pose_to_dual_quat",
    "pose_from_dual_quat",
    "ray_triangle",
    "closest_point_on_triangle",
    "ray_sphere",
    "set_num_threads",
    "get_num_threads",
    "threads",
]


def _thread_count(n, caller):
    if isinstance(n, bool):
        raise TypeError(f"{caller}: n must be an int, not bool")
    try:
        n = operator.index(n)
    except TypeError:
        raise TypeError(f"{caller}: n must be an int, not {type(n).__name__}") from None
    if not 1 <= n <= _threads.most:
        raise ValueError(f"{caller}: n must be from 1 to {_threads.most} threads, not {n}")
    return n


def set_num_threads(n: int) -> None:
    """Sets how many threads, the calling one included, the batch operations
    and the mesh queries may use, for the whole process; threads(n) overrides
    it within one thread. The default is ORVANE_NUM_THREADS when set, else the
    number of usable cores (``os.sched_getaffinity``). Results are the same,
    bit for bit, on any number of threads; small batches use one."""
    _threads.set(_thread_count(n, "set_num_threads"))


def get_num_threads() -> int:
    """How many threads a batch operation or mesh query called from this thread
    may use: n inside a ``threads(n)`` block, else the process-wide number."""
    return _threads.get()


def threads(n: int):
    """A context manager: ``with threads(n):`` the calls this thread makes use
    up to n threads, other threads keep theirs; the previous number comes back
    on leaving the block, by an exception too."""
    return _local_threads(_thread_count(n, "threads"))


@contextlib.contextmanager
def _local_threads(n):
    previous = _threads.set_local(n, False)
    try:
        yield
    finally:
        _threads.set_local(previous, False)


_EULER_KINDS = ("quat_to_euler", "euler_to_quat")
_EULER_UFUNCS = {
    (kind, order.value, convention.value): ufunc
    for (kind, order, convention), ufunc in _gufuncs.euler_ufuncs.items()
}

_ORDER_VALUES = {order.value for order in _ob.eOrder.__members__.values()}
_CONVENTION_VALUES = {convention.value for convention in _ob.eConvention.__members__.values()}


def _euler_ufunc(kind, order, convention, caller):
    if not isinstance(order, _ob.eOrder):
        raise TypeError(f"{caller}: order must be an eOrder member, not {type(order).__name__}")
    if not isinstance(convention, _ob.eConvention):
        raise TypeError(
            f"{caller}: convention must be an eConvention member, not {type(convention).__name__}"
        )
    # eOrder(7) and eConvention(5) are enum values too, of no order or convention.
    if order.value not in _ORDER_VALUES:
        names = ", ".join(f"eOrder.{name}" for name in _ob.eOrder.__members__)
        raise ValueError(f"{caller}: order must be one of {names}, not eOrder({order.value})")
    if convention.value not in _CONVENTION_VALUES:
        raise ValueError(
            f"{caller}: convention must be eConvention.INTRINSIC or "
            f"eConvention.EXTRINSIC, not eConvention({convention.value})"
        )
    return _EULER_UFUNCS[kind, order.value, convention.value]


def euler_gufunc(kind: str, order: _ob.eOrder, convention: _ob.eConvention):
    """The ufunc of ``kind`` ("quat_to_euler", "euler_to_quat") for one order and
    convention, as a function like the other names of this module (``.ufunc``)."""
    if kind not in _EULER_KINDS:
        raise ValueError(
            f"euler_gufunc: kind must be 'quat_to_euler' or 'euler_to_quat', not {kind!r}"
        )
    return _euler_ufunc(kind, order, convention, "euler_gufunc")


def quat_to_euler(q, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Euler angles (..., 3) of quaternions (..., 4), as ``Euler.setFromQuaternion``,
    in the order's sequence: (z, y, x) for ``ZYX``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return _euler_ufunc("quat_to_euler", order, convention, "quat_to_euler")(q, **kwargs)


def euler_to_quat(e, /, order=_ob.eOrder.XYZ, convention=_ob.eConvention.INTRINSIC, **kwargs):
    """Quaternions (..., 4) of Euler angles (..., 3) in the order's sequence ((z, y, x)
    for ``ZYX``), as ``orvane.to_quaternion``.

    ``kwargs`` go to the ufunc (``out=``, ``axes=``, ``dtype=``...).
    """
    return _euler_ufunc("euler_to_quat", order, convention, "euler_to_quat")(e, **kwargs)


def transform_points(obj, points, /, **kwargs):
    """Points (..., 3) moved by one pose, 4x4 transform, 3x3 matrix or quaternion.

    The points are cast to the object's precision; the result equals
    ``obj.apply(p)``, ``obj * p`` or ``obj.rotate(p)`` per point, bit for bit.
    """
    ufunc, dtype, operands = _gufuncs.points_mover(obj)
    if "dask.array" in _modules and _has_dask((points,), kwargs):
        lazy = isinstance(points, _modules["dask.array"].Array)
        points = points.astype(dtype) if lazy else np.asarray(points, dtype)
        return _lazy(ufunc, (*operands, points), kwargs)
    return ufunc(*operands, np.asarray(points, dtype), **kwargs)


_BOXES = (_ob.AABB_f, _ob.AABB_d)
# What the box functions say when an AABB object reaches them: NumPy counts
# the arguments before anything else runs, so a ufunc alone cannot say it.
_BOX_HINTS = {
    "ray_aabb": "the batch form takes each box as two arrays (..., 3), box_min and box_max: "
    "ray_aabb(origin, direction, box.min, box.max); orvane.ray_aabb takes one AABB",
    "classify_aabb": "the batch form takes each box as two arrays (..., 3), box_min and "
    "box_max, and the planes as rows: classify_aabb(box.min, box.max, plane_rows(planes)); "
    "orvane.classify_aabb takes one AABB",
}

# Looked up per call: Dask is optional, and until something imports it no
# operand can be a Dask array.
_modules = sys.modules


def _has_dask(args, kwargs):
    lazy = _modules["dask.array"].Array
    out = kwargs.get("out")
    return any(isinstance(a, lazy) for a in (*args, *(out if isinstance(out, tuple) else (out,))))


def _dispatching(ufunc):
    """The public function of a ufunc: NumPy operands go straight to it, Dask
    arrays to ``_lazy``."""
    hint = _BOX_HINTS.get(ufunc.__name__)

    def call(*args, **kwargs):
        try:
            if "dask.array" in _modules and _has_dask(args, kwargs):
                return _lazy(ufunc, args, kwargs)
            return ufunc(*args, **kwargs)
        except TypeError:
            if hint is not None and any(isinstance(a, _BOXES) for a in (*args, *kwargs.values())):
                raise TypeError(f"{ufunc.__name__}: {hint}") from None
            raise

    call.__name__ = call.__qualname__ = ufunc.__name__
    call.__doc__ = ufunc.__doc__
    call.ufunc = ufunc
    call.signature, call.types, call.nin, call.nout = (
        ufunc.signature,
        ufunc.types,
        ufunc.nin,
        ufunc.nout,
    )
    return call


def _core_dims(signature):
    """The core dimension names of each input and each output: "(n,n),(n)->(n)"
    gives [("n", "n"), ("n",)], [("n",)]."""
    ins, outs = signature.replace(" ", "").split("->")
    return [
        [tuple(filter(None, group.split(","))) for group in re.findall(r"\(([^)]*)\)", side)]
        for side in (ins, outs)
    ]


def _format_dims(groups):
    return ",".join(f"({','.join(dims)})" for dims in groups)


_PYTHON_SCALARS = (bool, int, float, complex)


class _Bound:
    """The ufunc with its Python-number operands and keywords bound, as the
    function of each block: NumPy lets a Python float take the precision of
    the arrays, which a 0-d array of Dask's would not. Pickles by reference to
    the ufunc."""

    __slots__ = ("ufunc", "scalars", "kwargs")

    def __init__(self, ufunc, scalars, kwargs):
        self.ufunc, self.scalars, self.kwargs = ufunc, scalars, kwargs

    @property
    def __name__(self):  # Dask names the graph's tasks after it.
        return self.ufunc.__name__

    def __call__(self, *blocks):
        operands = list(blocks)
        for k, value in self.scalars:
            operands.insert(k, value)
        # Dask runs blocks in parallel itself: one thread each, unless the
        # thread running it says otherwise with threads(n).
        previous = _threads.set_local(1, True)
        try:
            return self.ufunc(*operands, **self.kwargs)
        finally:
            _threads.set_local(previous, False)

    def __getstate__(self):
        return self.ufunc, self.scalars, self.kwargs

    def __setstate__(self, state):
        self.ufunc, self.scalars, self.kwargs = state

    def __dask_tokenize__(self):
        return self.ufunc.__name__, self.scalars, sorted(self.kwargs.items(), key=str)


def _lazy(ufunc, args, kwargs):
    """The ufunc over operands of which some are Dask arrays: lazy Dask arrays
    of the dtypes, shapes and bits NumPy would give."""
    import dask.array as da

    name = ufunc.__name__
    if len(args) < ufunc.nin:
        ufunc(*args, **kwargs)  # NumPy's message for too few operands
    if len(args) > ufunc.nin or kwargs.get("out") is not None:
        raise TypeError(
            f"{name}: out= cannot be used with Dask arrays, whose values exist only once "
            "computed: call .compute() on the Dask arrays first to write into out=, or drop "
            "out= to get a lazy Dask array"
        )
    kwargs = {k: v for k, v in kwargs.items() if k != "out"}
    # apply_gufunc moves the core dimensions by these itself.
    placement = {k: kwargs.pop(k) for k in ("axes", "axis", "keepdims") if k in kwargs}
    ins, outs = _core_dims(ufunc.signature)
    operands, stand_ins, scalars = [], [], []
    for k, (a, dims) in enumerate(zip(args, ins)):
        if type(a) in _PYTHON_SCALARS:
            scalars.append((k, a))
            stand_ins.append(a)
            continue
        if not isinstance(a, da.Array):
            a = np.asarray(a)
        core = _core_axes(name, placement, k, dims, a.ndim)
        if isinstance(a, da.Array) and any(a.numblocks[axis] > 1 for axis in core):
            a = a.rechunk({axis: -1 for axis in core})
        operands.append(a)
        stand_ins.append(np.empty((0, *(a.shape[axis] for axis in core)), a.dtype))
    # NumPy itself checks the core sizes and resolves the dtypes, on no elements.
    probe = ufunc(*stand_ins, **kwargs)
    probe = probe if isinstance(probe, tuple) else (probe,)
    kept = [dims for k, dims in enumerate(ins) if k not in dict(scalars)]
    signature = f"{_format_dims(kept)}->{_format_dims(outs)}"
    # Dask reads a number in a signature as a dimension name, of no known size.
    sizes = {d: int(d) for group in (*ins, *outs) for d in group if d.isdigit()}
    return da.apply_gufunc(
        _Bound(ufunc, tuple(scalars), kwargs),
        signature,
        *operands,
        output_dtypes=[p.dtype for p in probe] if len(probe) > 1 else probe[0].dtype,
        output_sizes=sizes,
        allow_rechunk=True,  # loop dimensions chunked differently get aligned
        **placement,
    )


def _core_axes(name, placement, k, dims, ndim):
    """The axes of input k that hold its core dimensions, as axes= and axis= say."""
    if "axes" in placement:
        try:
            axes = placement["axes"][k]
            axes = (axes,) if isinstance(axes, int) else tuple(axes)
        except (IndexError, TypeError):
            axes = None
    elif "axis" in placement and dims:
        axes = (placement["axis"],)
    else:
        axes = tuple(range(-len(dims), 0))
    if (
        axes is None
        or len(axes) != len(dims)
        or not all(isinstance(axis, int) and -ndim <= axis < ndim for axis in axes)
    ):
        raise ValueError(
            f"{name}: input {k} has {ndim} dimensions and {len(dims)} core dimensions; "
            "axes= and axis= must name that many of its axes"
        )
    return tuple(axis % ndim for axis in axes)


# Every ufunc gets its function, found by the ufunc; the module's names
# given a ufunc above are rebound to theirs.
_DISPATCHERS = {u: _dispatching(u) for u in vars(_gufuncs).values() if isinstance(u, np.ufunc)}
for _name, _value in list(globals().items()):
    if isinstance(_value, np.ufunc) and _value in _DISPATCHERS:
        globals()[_name] = _DISPATCHERS[_value]
_EULER_UFUNCS = {key: _DISPATCHERS[u] for key, u in _EULER_UFUNCS.items()}
_euler_sequences.bind(_DISPATCHERS)


class _Euler:
    """The functions euler_gufunc returns, named here so that pickle finds them."""


for _function in _EULER_UFUNCS.values():
    _function.__qualname__ = f"_Euler.{_function.__name__}"
    setattr(_Euler, _function.__name__, staticmethod(_function))
del _name, _value, _function

from ._rotation_sets import align_points, align_vectors, quat_mean, random_quat  # noqa: E402
