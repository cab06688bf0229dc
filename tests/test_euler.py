import math

import numpy as np
import orvane_bindings as ob
import pytest
from scipy.spatial.transform import Rotation

ORDERS = ["XYZ", "YZX", "ZXY", "XZY", "YXZ", "ZYX"]
CONVENTIONS = ["INTRINSIC", "EXTRINSIC"]
DTYPE = {"f": np.float32, "d": np.float64}
TOLERANCE = {"f": 2e-5, "d": 1e-12}
ANGLES = {"X": 0.3, "Y": -0.5, "Z": 1.2}


def kind(name, p):
    return getattr(ob, (f"{name}_{p}" if name == "Euler" else f"{name}{p}"))


def angles(e):
    return [e.x, e.y, e.z]


def intrinsic_axes(order, convention):
    """Axes in the order of the moving-frame product: fixed axes compose reversed."""
    return order if convention == "INTRINSIC" else order[::-1]


def composed(factory_owner, axes, values):
    """The product of the factory rotations, leftmost axis first."""
    result = None
    for axis in axes:
        r = getattr(factory_owner, f"Rotation{axis}")(values[axis])
        result = r if result is None else result * r
    return result


def prepared(p, order, convention):
    e = kind("Euler", p)()
    e.order = getattr(ob.eOrder, order)
    e.convention = getattr(ob.eConvention, convention)
    return e


def sources(p, axes, values):
    """The same rotation as a Matrix3, a translated Matrix4 and a quaternion."""
    m4 = kind("Matrix4", p).Translation(kind("Vector3", p)(4, -5, 6)) * composed(
        kind("Matrix4", p), axes, values
    )
    return {
        "setFromRotationMatrix": composed(kind("Matrix3", p), axes, values),
        "setFromTransform": m4,
        "setFromQuaternion": composed(kind("Quaternion", p), axes, values),
    }


@pytest.mark.parametrize("convention", CONVENTIONS)
@pytest.mark.parametrize("order", ORDERS)
def test_round_trip_from_every_source(letter, order, convention):
    for method, source in sources(letter, intrinsic_axes(order, convention), ANGLES).items():
        e = prepared(letter, order, convention)
        getattr(e, method)(source)
        assert angles(e) == pytest.approx(list(ANGLES.values()), abs=TOLERANCE[letter]), method
        assert e.order == getattr(ob.eOrder, order)
        assert e.convention == getattr(ob.eConvention, convention)


@pytest.mark.parametrize("convention", CONVENTIONS)
@pytest.mark.parametrize("order", ORDERS)
def test_agrees_with_scipy_away_from_gimbal_lock(letter, order, convention):
    sequence = order if convention == "INTRINSIC" else order.lower()
    rotations = Rotation.random(40, random_state=7)
    checked = 0
    for rotation in rotations:
        expected = rotation.as_euler(sequence)
        if abs(expected[1]) > 1.4 or np.any(np.abs(expected) > 3.1):
            continue  # near gimbal lock or the +-pi seam the angles are ill-conditioned
        rows = rotation.as_matrix().astype(DTYPE[letter])
        e = prepared(letter, order, convention)
        e.setFromRotationMatrix(kind("Matrix3", letter)(*(float(v) for v in rows.ravel())))
        by_axis = dict(zip(order, expected))
        assert angles(e) == pytest.approx([by_axis[a] for a in "XYZ"], abs=50 * TOLERANCE[letter])
        checked += 1
    assert checked >= 15


def test_gimbal_lock_gives_the_sum_to_x(letter):
    m = composed(kind("Matrix3", letter), "XYZ", {"X": 0.3, "Y": math.pi / 2, "Z": 0.2})
    e = kind("Euler", letter)(m)
    assert e.y == pytest.approx(math.pi / 2, abs=2e-3)
    assert e.x == pytest.approx(0.5, abs=TOLERANCE[letter])
    assert e.z == 0.0


def test_rounding_above_one_is_clamped(letter):
    m = composed(kind("Matrix3", letter), "XYZ", {"X": 0.3, "Y": math.pi / 2, "Z": 0.2})
    m[0, 2] = 1.0000001
    e = kind("Euler", letter)(m)
    assert e.y == float(DTYPE[letter](math.pi / 2))
    assert e.x == pytest.approx(0.5, abs=TOLERANCE[letter])
    assert e.z == 0.0


@pytest.mark.parametrize("sine,gimbal", [(0.9999985, False), (0.9999995, True)])
def test_threshold_on_the_tested_element(letter, sine, gimbal):
    values = {"X": 0.3, "Y": math.asin(sine), "Z": 0.2}
    e = kind("Euler", letter)(composed(kind("Matrix3", letter), "XYZ", values))
    if gimbal:
        assert e.z == 0.0
    else:
        assert e.z == pytest.approx(0.2, abs=1e-4)


def test_length_of_quaternion_and_axis_does_not_matter(letter):
    q = kind("Quaternion", letter).RotationZ(0.5)
    V3 = kind("Vector3", letter)
    for e in (
        kind("Euler", letter)(q),
        kind("Euler", letter)(q * 2.0),
        kind("Euler", letter)(V3(0, 0, 2), 0.5),
    ):
        assert angles(e) == pytest.approx([0, 0, 0.5], abs=TOLERANCE[letter])


def test_zero_axis_gives_nan_without_error(letter):
    e = kind("Euler", letter)(kind("Vector3", letter)(0, 0, 0), 1.0)
    assert math.isnan(e.x)
    assert e.y == float(DTYPE[letter](math.pi / 2))
    assert e.z == 0.0


@pytest.mark.parametrize("order,convention", [(7, 0), (255, 1), (0, 2), (3, -1)])
def test_invalid_tags_make_every_extraction_a_no_op(letter, order, convention):
    e = kind("Euler", letter)(1, 2, 3)
    e.order = ob.eOrder(order)
    e.convention = ob.eConvention(convention)
    values = {"X": 0.1, "Y": 0.2, "Z": 0.3}
    for method, source in sources(letter, "XYZ", values).items():
        assert getattr(e, method)(source) is None
    assert e.setFromAxisAngle(kind("Vector3", letter)(0, 0, 1), 0.5) is None
    assert angles(e) == [1, 2, 3]
    assert (int(e.order), int(e.convention)) == (order, convention)


def test_float_class_stores_single_precision():
    e = ob.Euler_f(0.1, 0.2, 0.3)
    assert angles(e) == [float(np.float32(v)) for v in (0.1, 0.2, 0.3)]
    e.x = 1 / 3
    assert e.x == float(np.float32(1 / 3))
    assert ob.Euler_d(0.1, 0.2, 0.3).x == 0.1


def test_constructors_match_only_their_precision(letter):
    other = "d" if letter == "f" else "f"
    E = kind("Euler", letter)
    assert angles(E(1, 2, 3)) == [1, 2, 3]
    for bad in [
        (E(),),
        (kind("Matrix3", other).Identity(),),
        (kind("Quaternion", other)(),),
        (kind("Vector3", other)(0, 0, 1), 0.5),
    ]:
        with pytest.raises(TypeError):
            E(*bad)


def test_repr_default_and_values():
    assert repr(ob.Euler_f()) == (
        "<Euler\n  x: 0.00000000\n  y: 0.00000000\n  z: 0.00000000\n  dtype: float32\n"
        "  order: XYZ\n  convention: Intrinsic\n>"
    )
    e = ob.Euler_d(1, 2, -3.25)
    e.order = ob.eOrder.ZXY
    e.convention = ob.eConvention.EXTRINSIC
    assert repr(e) == (
        "<Euler\n  x: 1.00000000\n  y: 2.00000000\n  z: -3.25000000\n  dtype: float64\n"
        "  order: ZXY\n  convention: Extrinsic\n>"
    )


@pytest.mark.parametrize("order", range(6))
def test_repr_order_names(order):
    e = ob.Euler_f()
    e.order = ob.eOrder(order)
    assert f"  order: {ORDERS[order]}\n" in repr(e)


def test_repr_undefined_tags():
    e = ob.Euler_f()
    e.order = ob.eOrder(6)
    e.convention = ob.eConvention(5)
    assert repr(e).endswith("  order: Undefined\n  convention: Undefined\n>")


def test_enum_members_and_values():
    assert list(ob.eOrder.__members__) == ORDERS
    assert list(ob.eConvention.__members__) == CONVENTIONS
    assert [m.value for m in ob.eOrder.__members__.values()] == list(range(6))
    assert int(ob.eConvention.EXTRINSIC) == 1
    assert not hasattr(ob, "XYZ") and not hasattr(ob, "INTRINSIC")
    assert (ob.eOrder.XYZ == 0) is False
    assert (ob.eOrder.XYZ == ob.eConvention.INTRINSIC) is False
    assert "???" in repr(ob.eOrder(7))
    for bad in (256, -1):
        with pytest.raises(TypeError):
            ob.eOrder(bad)
    with pytest.raises(TypeError):
        ob.eOrder.XYZ | ob.eOrder.YZX


def test_enum_properties_refuse_plain_ints(letter):
    e = kind("Euler", letter)()
    assert e.order == ob.eOrder.XYZ and e.convention == ob.eConvention.INTRINSIC
    with pytest.raises(TypeError):
        e.order = 2
    with pytest.raises(TypeError):
        e.convention = 1
    with pytest.raises(TypeError):
        e.order = ob.eConvention.EXTRINSIC


def test_order_property_refers_to_the_field(letter):
    e = kind("Euler", letter)()
    fetched = e.order
    e.order = ob.eOrder.ZYX
    assert fetched == ob.eOrder.ZYX
    del e
    assert fetched.name == "ZYX"  # the view keeps its owner alive
