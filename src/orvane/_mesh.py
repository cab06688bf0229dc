"""``orvane.Mesh``: a triangle mesh queried with whole arrays of rays or points.

The loops are those of ``orvane._native._TriangleMesh_f`` and ``_d``; this
module reads the arguments, broadcasts them into rows and gives Dask arrays
their lazy route.
"""

import sys
import uuid

import numpy
import numpy.typing
from orvane_bindings import AABB_d, AABB_f

from ._native import _TriangleMesh_d, _TriangleMesh_f
from ._native import threads as _threads

_CORES = {numpy.dtype(numpy.float32): _TriangleMesh_f, numpy.dtype(numpy.float64): _TriangleMesh_d}
# The hierarchy numbers vertices and faces in 32 bits.
_MOST_ROWS = 2**32 - 1
# Looked up per call: Dask is optional, and until something imports it no
# argument can be a Dask array.
_modules = sys.modules


def _precision(dtype: object, vertices: numpy.ndarray) -> numpy.dtype:
    if dtype is None:
        return numpy.dtype(numpy.float32 if vertices.dtype == numpy.float32 else numpy.float64)
    try:
        chosen = numpy.dtype(dtype)  # type: ignore[call-overload]
    except TypeError:
        chosen = None
    if chosen not in _CORES:
        raise TypeError(f"Mesh: dtype must be float32 or float64, not {dtype!r}")
    return chosen


def _table(a: object, name: str, kinds: str, refusal: str, hint: str = "") -> numpy.ndarray:
    """The (n, 3) array of vertices or faces; a bare [] is an empty one."""
    given = a
    a = numpy.asarray(a)
    if a.shape == (0,) and not isinstance(given, numpy.ndarray):
        a = a.reshape(0, 3).astype(numpy.int64 if "f" not in kinds else numpy.float64)
    if a.dtype.kind not in kinds:
        raise TypeError(f"Mesh: {name} must be {refusal}, not of dtype {a.dtype}{hint}")
    if a.ndim != 2 or a.shape[1] != 3:
        raise ValueError(
            f"Mesh: {name} must be an array of shape ({name[0].upper()}, 3), not {a.shape}"
        )
    if a.shape[0] > _MOST_ROWS:
        raise ValueError(f"Mesh: at most {_MOST_ROWS} {name}, got {a.shape[0]}: split the mesh")
    return a


def _faces(faces: object, vertex_count: int) -> numpy.ndarray:
    faces = _table(
        faces,
        "faces",
        "iu",
        "vertex indices of an integer dtype",
        ": pass them as integers, e.g. faces.astype(numpy.int64)",
    )
    # Compared in their own dtype, so that uint64 indices past the int64 range
    # are reported as they are rather than wrapped to negative ones.
    bad = (faces < 0) | (faces >= vertex_count)
    if bad.any():
        face, corner = divmod(int(numpy.argmax(bad)), 3)
        raise ValueError(
            f"Mesh: face {face} names vertex {int(faces[face, corner])}, but there are "
            f"{vertex_count} vertices: every index must lie in [0, {vertex_count})"
        )
    return numpy.ascontiguousarray(faces, dtype=numpy.int64)


def _is_lazy(args: tuple) -> bool:
    if "dask.array" not in _modules:
        return False
    lazy = _modules["dask.array"].Array
    return any(isinstance(a, lazy) for a in args)


class _Query:
    """One query of one mesh, as the function of each block of a Dask array;
    it pickles with the mesh, for dask.distributed."""

    __slots__ = ("mesh", "method")

    def __init__(self, mesh: "Mesh", method: str) -> None:
        self.mesh, self.method = mesh, method

    @property
    def __name__(self) -> str:  # Dask names the graph's tasks after it.
        return f"mesh_{self.method}"

    def __call__(self, *blocks: numpy.ndarray) -> object:
        # One thread per block, as Dask runs blocks in parallel itself,
        # unless the thread running it says otherwise with threads(n).
        previous = _threads.set_local(1, True)
        try:
            return getattr(self.mesh, "_" + self.method)(*blocks)
        finally:
            _threads.set_local(previous, False)

    def __getstate__(self) -> tuple:
        return self.mesh, self.method

    def __setstate__(self, state: tuple) -> None:
        self.mesh, self.method = state

    def __dask_tokenize__(self) -> tuple:
        return "orvane.Mesh", self.mesh._token, self.method


def _scalars(results: tuple) -> tuple:
    # A single ray or point gives NumPy scalars, as a ufunc would.
    return tuple(r[()] for r in results)


class Mesh:
    """A triangle mesh over copies of ``vertices`` (V, 3) and ``faces`` (F, 3),
    each face three vertex indices, in float32 or float64.

    ``faces`` may have any integer dtype; an index outside [0, V) raises
    ValueError naming the face, floats and bools TypeError. The precision is
    float32 for float32 vertices and float64 for anything else, unless
    ``dtype`` (float32 or float64) says otherwise. Faces whose vertices are
    not all finite are never hit. An empty mesh ((0, 3) faces) misses
    everything. At most 2**32 - 1 vertices and as many faces.

    Queries take arrays (..., 3) of any leading shape (lists, tuples,
    ``Vector3f`` too), converted to the mesh's precision, and give arrays of
    that leading shape (NumPy scalars for a single ray or point); given Dask
    arrays they give lazy Dask arrays. They release the interpreter lock, and
    one mesh may be queried from several threads at once.

    Every result is the one a loop over all faces gives (``ray_triangle``,
    ``closest_point_on_triangle``), bit for bit, ties going to the lowest
    face: a bounding volume hierarchy only decides which faces are tested.
    """

    __slots__ = ("_core", "_token", "__weakref__")

    def __init__(
        self,
        vertices: numpy.typing.ArrayLike,
        faces: numpy.typing.ArrayLike,
        dtype: numpy.typing.DTypeLike = None,
    ) -> None:
        vertices = _table(vertices, "vertices", "fiu", "real numbers")
        precision = _precision(dtype, vertices)
        faces = _faces(faces, vertices.shape[0])
        self._core = _CORES[precision](numpy.ascontiguousarray(vertices, dtype=precision), faces)
        self._token = uuid.uuid4().hex

    @property
    def vertices(self) -> numpy.ndarray:
        """The vertices (V, 3), in the mesh's dtype: a read-only view."""
        return self._core.vertices

    @property
    def faces(self) -> numpy.ndarray:
        """The faces (F, 3), int64: a read-only view."""
        return self._core.faces

    @property
    def bounds(self) -> AABB_f | AABB_d:
        """The box (``AABB_f`` or ``AABB_d``) of the finite vertices; min (inf,
        inf, inf) and max (-inf, -inf, -inf) when there are none."""
        return self._core.bounds

    @property
    def dtype(self) -> numpy.dtype:
        """float32 or float64: the precision of the vertices and the queries."""
        return numpy.dtype(
            numpy.float32 if isinstance(self._core, _TriangleMesh_f) else numpy.float64
        )

    def __len__(self) -> int:
        return len(self._core)

    def __repr__(self) -> str:
        return (
            f"Mesh(vertices={len(self._core.vertices)}, faces={len(self._core)}, "
            f"dtype={self.dtype.name})"
        )

    def __reduce__(self) -> tuple:
        return Mesh, (self.vertices, self.faces, self.dtype.name)

    def raycast(
        self,
        origins: numpy.typing.ArrayLike,
        directions: numpy.typing.ArrayLike,
        t_max: numpy.typing.ArrayLike = numpy.inf,
    ) -> tuple[numpy.ndarray, ...]:
        """``(t, face, u, v)`` of the nearest hit of each ray origin + direction * t
        with 0 <= t < t_max (t in units of the direction's length): the hit point
        is a + (b - a) u + (c - a) v for the face's vertices a, b, c, as
        ``ray_triangle`` gives it. t, u, v have the mesh's dtype, face is int64.
        A miss gives t = inf, face = -1, u = v = NaN; of faces hit at the same
        t, the lowest wins. ``origins``, ``directions`` (..., 3) and ``t_max`` (a
        number or an array of the leading shape) broadcast against each other.
        A zero or NaN direction, or NaN anywhere in a ray, misses."""
        if _is_lazy((origins, directions, t_max)):
            d = self.dtype
            return self._lazy(
                "raycast",
                "(i),(i),()->(),(),(),()",
                (origins, directions, t_max),
                [d, numpy.dtype(numpy.int64), d, d],
            )
        return _scalars(self._raycast(origins, directions, t_max))

    def occluded(
        self,
        origins: numpy.typing.ArrayLike,
        directions: numpy.typing.ArrayLike,
        t_max: numpy.typing.ArrayLike = numpy.inf,
    ) -> numpy.ndarray:
        """Whether each ray hits some face with 0 <= t < t_max: a bool array,
        ``raycast(...)[1] >= 0``, with the same broadcasting."""
        if _is_lazy((origins, directions, t_max)):
            return self._lazy(
                "occluded", "(i),(i),()->()", (origins, directions, t_max), numpy.dtype(bool)
            )
        return self._occluded(origins, directions, t_max)[()]

    def closest_points(self, points: numpy.typing.ArrayLike) -> tuple[numpy.ndarray, ...]:
        """``(points, faces, distances)``: the point of the mesh nearest each point
        (..., 3), the face it lies on (int64; the lowest of equally near faces)
        and its distance, the square root of the squared distance the search
        compares. An empty mesh, or one whose faces are all non-finite, gives
        NaN points, face -1 and distance inf; a NaN point gives the same."""
        if _is_lazy((points,)):
            d = self.dtype
            return self._lazy(
                "closest_points", "(i)->(i),(),()", (points,), [d, numpy.dtype(numpy.int64), d]
            )
        return _scalars(self._closest_points(points))

    def contains(self, points: numpy.typing.ArrayLike) -> numpy.ndarray:
        """Whether each point (..., 3) lies inside the closed mesh: a bool array."""
        if _is_lazy((points,)):
            return self._lazy("contains", "(i)->()", (points,), numpy.dtype(bool))
        return self._contains(points)[()]

    # The eager queries: arrays in, arrays of the broadcast leading shape out.

    def _rows(self, a: object, name: str, method: str) -> numpy.ndarray:
        a = numpy.asarray(a)
        if a.dtype.kind not in "fiu":
            raise TypeError(f"Mesh.{method}: {name} must be real numbers, not of dtype {a.dtype}")
        if a.ndim == 0 or a.shape[-1] != 3:
            raise ValueError(
                f"Mesh.{method}: {name} must be an array (..., 3), not of shape {a.shape}"
            )
        return a.astype(self.dtype, copy=False)

    def _rays(self, origins: object, directions: object, t_max: object, method: str) -> tuple:
        o = self._rows(origins, "origins", method)
        d = self._rows(directions, "directions", method)
        t = numpy.asarray(t_max)
        if t.dtype.kind not in "fiu":
            raise TypeError(f"Mesh.{method}: t_max must be real numbers, not of dtype {t.dtype}")
        try:
            shape = numpy.broadcast_shapes(o.shape[:-1], d.shape[:-1], t.shape)
        except ValueError:
            raise ValueError(
                f"Mesh.{method}: origins {o.shape}, directions {d.shape} and t_max {t.shape} do "
                "not broadcast: their leading shapes (all but the last axis of 3) and t_max's "
                "shape must broadcast against each other"
            ) from None
        flat = [
            _flat(o, shape, (3,)),
            _flat(d, shape, (3,)),
            _flat(t.astype(self.dtype, copy=False), shape, ()),
        ]
        return shape, flat

    def _raycast(self, origins: object, directions: object, t_max: object) -> tuple:
        shape, flat = self._rays(origins, directions, t_max, "raycast")
        return tuple(r.reshape(shape) for r in self._core.raycast(*flat))

    def _occluded(self, origins: object, directions: object, t_max: object) -> numpy.ndarray:
        shape, flat = self._rays(origins, directions, t_max, "occluded")
        return self._core.occluded(*flat).reshape(shape)

    def _closest_points(self, points: object) -> tuple:
        p = self._rows(points, "points", "closest_points")
        found, faces, distances = self._core.closest_points(_flat(p, p.shape[:-1], (3,)))
        return found.reshape(p.shape), faces.reshape(p.shape[:-1]), distances.reshape(p.shape[:-1])

    def _contains(self, points: object) -> numpy.ndarray:
        p = self._rows(points, "points", "contains")
        return self._core.contains(_flat(p, p.shape[:-1], (3,))).reshape(p.shape[:-1])

    def _lazy(self, method: str, signature: str, args: tuple, dtypes: object) -> object:
        import dask.array as da

        names = {
            "raycast": ("origins", "directions", "t_max"),
            "occluded": ("origins", "directions", "t_max"),
        }.get(method, ("points",))
        operands = []
        for name, a in zip(names, args):
            if not isinstance(a, da.Array):
                a = numpy.asarray(a)
            # Checked now, while the shapes are known, not when computed.
            if a.dtype.kind not in "fiu":
                raise TypeError(
                    f"Mesh.{method}: {name} must be real numbers, not of dtype {a.dtype}"
                )
            if name != "t_max" and (a.ndim == 0 or a.shape[-1] != 3):
                raise ValueError(
                    f"Mesh.{method}: {name} must be an array (..., 3), not of shape {a.shape}"
                )
            operands.append(a)
        return da.apply_gufunc(
            _Query(self, method), signature, *operands, output_dtypes=dtypes, allow_rechunk=True
        )


def _flat(a: numpy.ndarray, shape: tuple, tail: tuple) -> numpy.ndarray:
    """``a`` broadcast to shape + tail, as C-contiguous rows; no copy when it
    already is."""
    return numpy.ascontiguousarray(numpy.broadcast_to(a, shape + tail).reshape(-1, *tail))
