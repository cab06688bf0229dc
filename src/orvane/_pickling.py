"""Pickling and copying of every class of orvane_bindings, through copyreg.

The classes themselves gain no methods: the reducers live in copyreg's
dispatch table, which pickle and copy consult first. The state is the bytes
of the stored scalars, so a round trip is exact to the bit.
"""

import copyreg

from . import _native

# Pickles name the class, so that they load whatever the table's order.
_RESTORE = {cls.__name__: restore for cls, (_, restore) in _native._state_and_restore.items()}


def restore(name: str, state: bytes) -> object:
    """Rebuilds an object of class ``name`` from its pickled state."""
    if name not in _RESTORE:
        raise ValueError(f"no class of orvane_bindings is called {name!r}")
    return _RESTORE[name](state)


def _reducer(name: str, state_of):
    def reduce(obj: object) -> tuple:
        return restore, (name, state_of(obj))

    return reduce


def register() -> None:
    for cls, (state_of, _) in _native._state_and_restore.items():
        copyreg.pickle(cls, _reducer(cls.__name__, state_of))
