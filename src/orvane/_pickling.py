"""Pickling and copying of every class of orvane_bindings, through copyreg.

The classes themselves gain no methods: the reducers live in copyreg's
dispatch table, which pickle and copy consult first. The state is the bytes
of the stored scalars, so a round trip is exact to the bit.
"""

import copyreg

import orvane_bindings

from . import _native

CLASS_NAMES = [
    f"{stem}{letter}"
    for letter in ("f", "d")
    for stem in ("Vector2", "Vector3", "Vector4", "Matrix2", "Matrix3", "Matrix4", "Quaternion")
] + [
    f"{stem}_{letter}"
    for letter in ("f", "d")
    for stem in ("Euler", "Pose3d", "Line", "Plane", "AABB")
]


def restore(name: str, state: bytes) -> object:
    """Rebuilds an object of class ``name`` from its pickled state."""
    return getattr(_native, "_restore_" + name)(state)


def _reducer(name: str):
    state_of = getattr(_native, "_state_" + name)

    def reduce(obj: object) -> tuple:
        return restore, (name, state_of(obj))

    return reduce


def register() -> None:
    for name in CLASS_NAMES:
        copyreg.pickle(getattr(orvane_bindings, name), _reducer(name))
