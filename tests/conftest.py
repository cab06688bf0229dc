import numpy as np
import pytest

import orvane_bindings as ob

PRECISIONS = {"f": np.float32, "d": np.float64}


@pytest.fixture(params=["f", "d"])
def letter(request):
    return request.param


def dtype_of(letter):
    return PRECISIONS[letter]


def cls(name, letter):
    """The class `name` of precision `letter`, e.g. cls("Vector3", "f")."""
    return getattr(ob, name + letter)
