"""Views and property objects share their owner's storage: they keep the
owner alive while they exist, show its values after every other reference is
gone, and release it when they go themselves."""

import gc
import weakref

import numpy as np
import orvane_bindings as ob
import pytest
from conftest import cls, dtype_of


def churn(make):
    """Allocates and frees many objects of the owner's kind, so freed storage
    would be reused and a dangling view would show other values."""
    for _ in range(200):
        make()


def vector(letter, n):
    return cls(f"Vector{n}", letter)(*[float(k + 1) / 8 for k in range(n)])


def matrix(letter, n):
    return cls(f"Matrix{n}", letter)(*[float(k + 1) / 8 for k in range(n * n)])


def quaternion(letter):
    return cls("Quaternion", letter)(0.5, -1.25, 2.0, 4.5)


# (name, make the owner, take the view); each view must read the owner's values.
VIEWS = [
    ("vector numpy", lambda p: vector(p, 3), lambda o: o.numpy()),
    ("vector asarray", lambda p: vector(p, 4), np.asarray),
    ("vector memoryview", lambda p: vector(p, 2), memoryview),
    ("matrix numpy", lambda p: matrix(p, 3), lambda o: o.numpy()),
    ("matrix flatten", lambda p: matrix(p, 4), lambda o: o.flatten()),
    ("matrix asarray", lambda p: matrix(p, 2), np.asarray),
    ("matrix memoryview", lambda p: matrix(p, 4), memoryview),
    ("quaternion asarray", quaternion, np.asarray),
    ("quaternion memoryview", quaternion, memoryview),
]


@pytest.mark.parametrize("make, take", [v[1:] for v in VIEWS], ids=[v[0] for v in VIEWS])
def test_view_outlives_its_owner_and_then_releases_it(letter, make, take):
    owner = make(letter)
    expected = np.array(np.asarray(owner))
    alive = weakref.ref(owner)
    view = take(owner)
    del owner
    gc.collect()
    churn(lambda: make(letter))
    assert alive() is not None
    # In storage order: flatten() has no shape of the owner's.
    np.testing.assert_array_equal(np.asarray(view).ravel(order="K"), expected.ravel(order="K"))
    np.asarray(view)[(0,) * np.asarray(view).ndim] = 7  # still the owner's storage
    assert np.asarray(alive()).flat[0] == 7
    del view
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize("make, take", [v[1:] for v in VIEWS], ids=[v[0] for v in VIEWS])
def test_objects_holding_no_value_give_no_view(letter, make, take):
    kind = type(make(letter))

    class EarlyView(kind):
        def __init__(self):
            self.view = take(self)  # before the base is initialized
            super().__init__()

    for attempt in (lambda: take(kind.__new__(kind)), lambda: EarlyView().view):
        if take is np.asarray:  # NumPy drops the buffer error and wraps the object itself
            assert attempt().dtype == object
        else:
            with pytest.raises(TypeError, match="holds no value"):
                attempt()
    owner = make(letter)
    if take is not np.asarray:
        assert (take(owner).obj if take is memoryview else take(owner).base) is owner


def test_views_of_views_share_one_storage(letter):
    m = matrix(letter, 3)
    flat = np.asarray(memoryview(m.numpy())).reshape(-1, order="F")
    del m
    gc.collect()
    flat[4] = 99
    assert flat.base is not None
    np.testing.assert_array_equal(flat[:3], np.array([1, 4, 7], dtype_of(letter)) / 8)


# Properties whose value is a wrapped class or enum refer into the owner.
PROPERTIES = [
    ("Line_", "start", "Vector3"),
    ("Line_", "end", "Vector3"),
    ("Plane_", "point", "Vector3"),
    ("Plane_", "normal", "Vector3"),
    ("AABB_", "min", "Vector3"),
    ("AABB_", "max", "Vector3"),
    ("Pose3d_", "position", "Vector3"),
    ("Pose3d_", "orientation", "Quaternion"),
]


def owner_with(stem, letter):
    V = cls("Vector3", letter)
    if stem == "Pose3d_":
        return cls(stem, letter)(V(1, 2, 3), cls("Quaternion", letter)(0, 0, 0.6, 0.8))
    return cls(stem, letter)(V(1, 2, 3), V(-4, 5.5, 6))


@pytest.mark.parametrize("stem, name, kind", PROPERTIES, ids=[f"{s}{n}" for s, n, _ in PROPERTIES])
def test_property_object_outlives_its_owner(letter, stem, name, kind):
    owner = owner_with(stem, letter)
    expected = np.array(np.asarray(getattr(owner, name)))
    alive = weakref.ref(owner)
    member = getattr(owner, name)
    del owner
    gc.collect()
    churn(lambda: owner_with(stem, letter))
    assert isinstance(member, cls(kind, letter))
    np.testing.assert_array_equal(np.asarray(member), expected)
    member[1] = 0.25
    assert np.asarray(getattr(alive(), name))[1] == 0.25
    del member
    gc.collect()
    assert alive() is None


@pytest.mark.parametrize("stem, name, kind", PROPERTIES, ids=[f"{s}{n}" for s, n, _ in PROPERTIES])
def test_chained_temporaries_stay_valid(letter, stem, name, kind):
    member_view = np.asarray(getattr(owner_with(stem, letter), name))
    memory = memoryview(getattr(owner_with(stem, letter), name))
    gc.collect()
    churn(lambda: owner_with(stem, letter))
    expected = np.asarray(getattr(owner_with(stem, letter), name))
    np.testing.assert_array_equal(member_view, expected)
    np.testing.assert_array_equal(np.asarray(memory), expected)


def test_vector_property_numpy_chain(letter):
    line = cls("Line_", letter)
    view = line().start.numpy()
    end = line(cls("Vector3", letter)(1, 2, 3), cls("Vector3", letter)(4, 5, 6)).end.numpy()
    gc.collect()
    churn(lambda: line(cls("Vector3", letter)(9, 9, 9), cls("Vector3", letter)(9, 9, 9)))
    np.testing.assert_array_equal(view, [0, 0, 0])
    np.testing.assert_array_equal(end, [4, 5, 6])
    end[0] = -1  # writes into the line kept alive by the chain
    assert end[0] == -1


def test_property_object_sees_later_assignments(letter):
    V = cls("Vector3", letter)
    line = owner_with("Line_", letter)
    start = line.start
    line.start = V(7, 8, 9)
    np.testing.assert_array_equal(np.asarray(start), [7, 8, 9])
    pose = owner_with("Pose3d_", letter)
    orientation = pose.orientation
    del pose
    gc.collect()
    orientation.normalize_()
    np.testing.assert_array_equal(
        np.asarray(orientation), np.array([0, 0, 0.6, 0.8], dtype_of(letter))
    )


@pytest.mark.parametrize(
    "field, value", [("order", ob.eOrder.ZYX), ("convention", ob.eConvention.EXTRINSIC)]
)
def test_enum_property_outlives_its_euler(letter, field, value):
    euler = cls("Euler_", letter)(0.1, 0.2, 0.3)
    alive = weakref.ref(euler)
    member = getattr(euler, field)
    setattr(euler, field, value)
    del euler
    gc.collect()
    churn(lambda: cls("Euler_", letter)(0.4, 0.5, 0.6))
    assert member == value
    assert member.name == value.name
    assert alive() is not None
    del member
    gc.collect()
    assert alive() is None
