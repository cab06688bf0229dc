"""Means and alignments of sets, and random rotations: thin functions over
the reduction ufuncs, which take the set as their core dimension n."""

import sys

import numpy as np

from ._native import gufuncs as _gufuncs
from .arrays import _DISPATCHERS

_mean = _DISPATCHERS[_gufuncs.quat_mean]
_align_vectors = _DISPATCHERS[_gufuncs.align_vectors]
_align_points = _DISPATCHERS[_gufuncs.align_points]
_align_points_scaled = _DISPATCHERS[_gufuncs.align_points_scaled]
_from_uniforms = _DISPATCHERS[_gufuncs.quat_from_uniforms]


def _lazy_module(x):
    dask = sys.modules.get("dask.array")
    return dask if dask is not None and isinstance(x, dask.Array) else None


def _operand(x):
    return x if _lazy_module(x) is not None else np.asarray(x)


def _precision(*data):
    return np.float32 if all(x.dtype == np.float32 for x in data) else np.float64


def _ones(shape, *data):
    """Weights of 1, in the precision of the data, without storing them."""
    return np.broadcast_to(np.ones((), _precision(*data)), shape)


def _weights(weights, *data):
    """The weights in the precision of the data: they never widen it."""
    weights = _operand(weights)
    return weights.astype(_precision(*data), copy=False)


def quat_mean(q, /, weights=None, axis=0):
    """The mean rotation (..., 4) of the quaternions q (..., n, ..., 4) along axis
    (an axis of q.shape[:-1]): the chordal L2 mean, the eigenvector of the largest
    eigenvalue of sum w q q^T / |q|^2, so q and -q count alike; w >= 0 in the result.

    weights are (n,) or of shape q.shape[:-1], cast to the precision of q. Zero
    weights leave their rotations out; negative weights, all weights zero, or no
    rotation raise ValueError. A zero
    or non-finite quaternion of nonzero weight gives NaN. Where rotations tie (say
    two at right angles, equally weighted) the mean is one of the tied answers.
    """
    q = _operand(q)
    if q.ndim < 2 or q.shape[-1] != 4:
        raise ValueError(f"quat_mean: q must have shape (..., n, 4), not {q.shape}")
    if not isinstance(axis, (int, np.integer)) or not -(q.ndim - 1) <= axis < q.ndim - 1:
        raise ValueError(
            f"quat_mean: axis must be an int naming an axis of the {q.ndim - 1} rotation "
            f"axes of q {q.shape}, not {axis!r}"
        )
    axis = int(axis) % (q.ndim - 1)
    if weights is None:
        return _mean(q, _ones(q.shape[axis], q), axes=[(axis, -1), (0,), (-1,)])
    weights = _weights(weights, q)
    if weights.ndim == 1 and weights.shape[0] == q.shape[axis]:
        weight_axis = 0
    elif weights.shape == q.shape[:-1]:
        weight_axis = axis
    else:
        raise ValueError(
            f"quat_mean: weights must have shape ({q.shape[axis]},) or {q.shape[:-1]} for q "
            f"{q.shape} averaged along axis {axis}, not {weights.shape}"
        )
    return _mean(q, weights, axes=[(axis, -1), (weight_axis,), (-1,)])


def _pairs(name, a, b, weights):
    a, b = _operand(a), _operand(b)
    if a.shape != b.shape or a.ndim < 1 or a.shape[-1] != 3:
        raise ValueError(
            f"{name}: a and b must have the same shape (..., n, 3) or (3,), not {a.shape} "
            f"and {b.shape}"
        )
    if a.ndim == 1:
        a, b = a[None], b[None]
    if weights is None:
        return a, b, _ones(a.shape[-2], a, b)
    weights = _weights(weights, a, b)
    if weights.ndim == 0:
        weights = weights[None]
    if weights.shape not in ((a.shape[-2],), a.shape[:-1]):
        raise ValueError(
            f"{name}: weights must have shape ({a.shape[-2]},) or {a.shape[:-1]} for vectors "
            f"{a.shape}, not {weights.shape}"
        )
    return a, b, weights


def align_vectors(a, b, /, weights=None):
    """(q, rssd): the rotation q (..., 4) that best takes the vectors b (..., n, 3)
    onto a, minimizing sum w |a - R b|^2, and rssd = sqrt(sum w |a - R b|^2). a and b
    are (..., n, 3) or (3,) alike; weights (n,) or a.shape[:-1], cast to their precision.

    One pair (shape (3,) or n = 1) is met exactly by the shortest rotation between
    the directions; so is the one pair of infinite weight, the others then fixing the
    turn about it (its residual is left out of rssd). Several infinite weights,
    negative weights, or a zero vector in the pair met exactly raise ValueError.
    Collinear vectors leave the turn about their line free: any optimal rotation may
    come back. All weights zero gives the identity.
    """
    return _align_vectors(*_pairs("align_vectors", a, b, weights))


def align_points(a, b, /, weights=None, scale=False):
    """(position, orientation, scale, rmsd): the similarity a ~ scale * R b + position
    that best fits the points b (..., n, 3) onto a in the weighted least-squares sense,
    with rmsd = sqrt(sum w |a - (scale R b + position)|^2 / sum w).

    R (orientation, w first) is always a proper rotation, never a reflection; scale is
    fitted only with scale=True, else 1. Collinear points leave the turn about their
    line free (any optimal rotation may come back); coincident points b give the
    identity, scale 1 and position the difference of the means. Negative weights, or
    all weights zero, raise ValueError.
    """
    ufunc = _align_points_scaled if scale else _align_points
    return ufunc(*_pairs("align_points", a, b, weights))


def random_quat(size=None, rng=None, dtype=np.float64):
    """Rotations uniform over all rotations, shape size + (4,) (w first, either sign),
    from a numpy.random.Generator or anything numpy.random.default_rng takes (an int
    seed, None). float32 results come from float32 uniforms through the float32 map.
    """
    dtype = np.dtype(dtype)
    if dtype not in (np.float32, np.float64):
        raise ValueError(f"random_quat: dtype must be float32 or float64, not {dtype}")
    shape = () if size is None else (size,) if isinstance(size, (int, np.integer)) else size
    u = np.random.default_rng(rng).random((*shape, 3), dtype=dtype)
    return _from_uniforms(u)
