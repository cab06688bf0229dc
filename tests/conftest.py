import numpy as np
import orvane_bindings as ob
import pytest
from hypothesis import HealthCheck, settings

PRECISIONS = {"f": np.float32, "d": np.float64}

# Property tests: enough examples to reach the odd dtypes and layouts, few
# enough to keep the suite quick; the instrumented build runs fewer.
settings.register_profile(
    "orvane",
    max_examples=200,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.register_profile("sanitized", parent=settings.get_profile("orvane"), max_examples=40)
settings.load_profile("orvane")


@pytest.fixture(params=["f", "d"])
def letter(request):
    return request.param


def dtype_of(letter):
    return PRECISIONS[letter]


def cls(name, letter):
    """The class `name` of precision `letter`, e.g. cls("Vector3", "f")."""
    return getattr(ob, name + letter)
