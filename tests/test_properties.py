"""Numerical laws on random rotations, poses and matrices: conversions that
come back, compositions that agree with applying one after the other and
inverses that undo. Tolerances are per precision: rounding of a few
operations on values of magnitude one, scaled by the values involved."""

import numpy as np
import orvane_bindings as ob
import pytest
from conftest import cls, dtype_of
from hypothesis import given
from hypothesis import strategies as st
from scipy.spatial.transform import Rotation

# Error allowed on a quantity of magnitude one after a short chain of operations.
TOLERANCE = {"f": 1e-5, "d": 1e-13}
# Angles from asin and atan2 lose up to 1 / cos(middle angle) of that; the
# middle angle is kept below 1.4 in magnitude (factor about 6).
ANGLE_TOLERANCE = {"f": 1e-4, "d": 1e-12}
ORDERS = [ob.eOrder.XYZ, ob.eOrder.YZX, ob.eOrder.ZXY, ob.eOrder.XZY, ob.eOrder.YXZ, ob.eOrder.ZYX]
CONVENTIONS = [ob.eConvention.INTRINSIC, ob.eConvention.EXTRINSIC]

both_precisions = pytest.mark.parametrize("letter", ["f", "d"])

unit_quaternions = (
    st.tuples(*[st.floats(-1, 1)] * 4)
    .map(np.array)
    .filter(lambda c: np.linalg.norm(c) > 0.1)
    .map(lambda c: c / np.linalg.norm(c))
)
points = st.tuples(*[st.floats(-10, 10)] * 3).map(np.array)


def quaternion(letter, wxyz):
    return cls("Quaternion", letter)(np.asarray(wxyz, dtype_of(letter)))


def vector(letter, xyz):
    return cls("Vector3", letter)(np.asarray(xyz, dtype_of(letter)))


def pose(letter, xyz, wxyz):
    return cls("Pose3d_", letter)(vector(letter, xyz), quaternion(letter, wxyz))


def rotation_block(p):
    return np.asarray(p.toMatrix())[:3, :3].astype(np.float64)


def close_up_to_sign(a, b, tolerance):
    a, b = np.asarray(a, np.float64), np.asarray(b, np.float64)
    return min(np.abs(a - b).max(), np.abs(a + b).max()) <= tolerance


@both_precisions
@given(wxyz=unit_quaternions)
def test_quaternion_matrix_quaternion_comes_back_up_to_sign(letter, wxyz):
    q = quaternion(letter, wxyz)
    block = rotation_block(cls("Pose3d_", letter)(vector(letter, [0, 0, 0]), q))
    w, x, y, z = np.asarray(q, np.float64)
    np.testing.assert_allclose(
        block, Rotation.from_quat([x, y, z, w]).as_matrix(), rtol=0, atol=4 * TOLERANCE[letter]
    )
    back = cls("Quaternion", letter)(cls("Matrix3", letter)(block.astype(dtype_of(letter))))
    assert close_up_to_sign(back, q, 4 * TOLERANCE[letter])


def axis_matrix(axis, angle):
    c, s = np.cos(angle), np.sin(angle)
    return {
        "X": np.array([[1, 0, 0], [0, c, -s], [0, s, c]]),
        "Y": np.array([[c, 0, s], [0, 1, 0], [-s, 0, c]]),
        "Z": np.array([[c, -s, 0], [s, c, 0], [0, 0, 1]]),
    }[axis]


def euler_matrix(order, convention, angles):
    """Intrinsic rotations multiply in the order's sequence, extrinsic ones in reverse."""
    axes = order.name if convention == ob.eConvention.INTRINSIC else order.name[::-1]
    by_axis = dict(zip("XYZ", angles))
    product = np.eye(3)
    for axis in axes:
        product = product @ axis_matrix(axis, by_axis[axis])
    return product


def outer_and_middle(order, convention):
    """Ranges of the x, y, z angles inside which the angles come back."""
    axes = order.name if convention == ob.eConvention.INTRINSIC else order.name[::-1]
    middle = axes[1]
    return [st.floats(-1.4, 1.4) if axis == middle else st.floats(-3.1, 3.1) for axis in "XYZ"]


def extracted(letter, order, convention, matrix):
    e = cls("Euler_", letter)()
    e.order, e.convention = order, convention
    e.setFromRotationMatrix(cls("Matrix3", letter)(matrix.astype(dtype_of(letter))))
    return np.array([e.x, e.y, e.z])


@both_precisions
@given(order=st.sampled_from(ORDERS), convention=st.sampled_from(CONVENTIONS), data=st.data())
def test_euler_angles_come_back(letter, order, convention, data):
    angles = np.array([data.draw(s) for s in outer_and_middle(order, convention)])
    got = extracted(letter, order, convention, euler_matrix(order, convention, angles))
    np.testing.assert_allclose(got, angles, rtol=0, atol=ANGLE_TOLERANCE[letter])


@both_precisions
@given(
    order=st.sampled_from(ORDERS), convention=st.sampled_from(CONVENTIONS), wxyz=unit_quaternions
)
def test_euler_angles_of_any_rotation_rebuild_it(letter, order, convention, wxyz):
    q = quaternion(letter, wxyz)
    e = cls("Euler_", letter)()
    e.order, e.convention = order, convention
    e.setFromQuaternion(q)
    w, x, y, z = np.asarray(q, np.float64)
    target = Rotation.from_quat([x, y, z, w]).as_matrix()
    rebuilt = euler_matrix(order, convention, [e.x, e.y, e.z])
    # Within 0.0015 of gimbal lock the middle angle is taken as exactly +-pi/2.
    np.testing.assert_allclose(rebuilt, target, rtol=0, atol=max(3e-3, ANGLE_TOLERANCE[letter]))
    if np.abs(target).max(initial=0, where=~np.eye(3, dtype=bool)) < 0.99:
        np.testing.assert_allclose(rebuilt, target, rtol=0, atol=ANGLE_TOLERANCE[letter])


@both_precisions
@given(a=st.tuples(points, unit_quaternions), b=st.tuples(points, unit_quaternions), v=points)
def test_pose_composition_applies_right_then_left(letter, a, b, v):
    pa, pb = pose(letter, *a), pose(letter, *b)
    point = vector(letter, v)
    scale = 30  # positions and points of magnitude up to 10, composed twice
    np.testing.assert_allclose(
        np.asarray((pa * pb).apply(point)),
        np.asarray(pa.apply(pb.apply(point))),
        rtol=0,
        atol=scale * TOLERANCE[letter],
    )


@both_precisions
@given(p=st.tuples(points, unit_quaternions))
def test_pose_times_its_inverse_is_the_identity(letter, p):
    identity = pose(letter, *p) * pose(letter, *p).inverse()
    np.testing.assert_allclose(
        np.asarray(identity.position), 0, rtol=0, atol=20 * TOLERANCE[letter]
    )
    assert close_up_to_sign(identity.orientation, [1, 0, 0, 0], 2 * TOLERANCE[letter])


@both_precisions
@given(a=unit_quaternions, b=unit_quaternions, v=points)
def test_quaternion_product_rotates_right_then_left(letter, a, b, v):
    qa, qb = quaternion(letter, a), quaternion(letter, b)
    v = np.asarray(v, dtype_of(letter))
    np.testing.assert_allclose(
        np.asarray((qa * qb).rotate(v)),
        np.asarray(qa.rotate(np.asarray(qb.rotate(v)))),
        rtol=0,
        atol=20 * TOLERANCE[letter],
    )


@st.composite
def well_conditioned(draw, n):
    """A rotation-like orthogonal matrix times singular values in [0.5, 2]:
    condition number at most 4."""
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    u, _ = np.linalg.qr(rng.normal(size=(n, n)))
    v, _ = np.linalg.qr(rng.normal(size=(n, n)))
    return u @ np.diag(rng.uniform(0.5, 2, n)) @ v


@both_precisions
@pytest.mark.parametrize("n", [2, 3, 4])
@given(data=st.data())
def test_matrix_times_its_inverse_is_the_identity(letter, n, data):
    m = cls(f"Matrix{n}", letter)(data.draw(well_conditioned(n)).astype(dtype_of(letter)))
    # The inverse's elements are up to 2 and the rounding of the adjugate
    # grows with the order.
    atol = 10 * n * TOLERANCE[letter]
    np.testing.assert_allclose(np.asarray(m * m.inverse()), np.eye(n), rtol=0, atol=atol)
    np.testing.assert_allclose(np.asarray(m.inverse() * m), np.eye(n), rtol=0, atol=atol)
