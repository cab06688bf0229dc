"""Small, exact 3D-math value types, and what users build from them.

``orvane`` re-exports every class, enum and function of ``orvane_bindings``
(the very same objects) and adds rotations, cameras, conversions, geometry
queries, batch operations over NumPy arrays (``orvane.arrays``) and pickling
and copying of every class.
"""

import orvane_bindings as _bindings

from . import _pickling

_BASE_NAMES = [name for name in dir(_bindings) if not name.startswith("_")]
globals().update({name: getattr(_bindings, name) for name in _BASE_NAMES})

_pickling.register()

__all__ = [*_BASE_NAMES]
