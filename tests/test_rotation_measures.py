import numpy as np
import pytest
from conftest import cls, dtype_of
from scipy.spatial.transform import Rotation

import orvane as ov

oa = ov.arrays


def bits(a):
    a = np.asarray(a)
    return a.view(f"u{a.itemsize}")


def objects(rows, letter):
    return [cls("Quaternion", letter)(*map(float, r)) for r in rows]


def test_angles_agree_with_scipy_and_batch_gives_the_objects_bits(letter):
    rng = np.random.default_rng(8)
    q0, q1 = (rng.normal(size=(50, 4)).astype(dtype_of(letter)) * 3 for _ in range(2))
    # Exactly and nearly the same or the opposite rotation, where angles are small or near pi.
    q1[:10] = q0[:10] * -2
    q1[10:20] = q0[10:20] + rng.normal(size=(10, 4)) * 1e-5
    angle = np.array([ov.quat_angle(q) for q in objects(q0, letter)], dtype_of(letter))
    between = np.array(
        [ov.angle_between(a, b) for a, b in zip(objects(q0, letter), objects(q1, letter))],
        dtype_of(letter),
    )
    np.testing.assert_array_equal(bits(oa.quat_angle(q0)), bits(angle))
    np.testing.assert_array_equal(bits(oa.quat_angle_between(q0, q1)), bits(between))

    r0, r1 = (Rotation.from_quat(np.roll(q.astype(float), -1, axis=-1)) for q in (q0, q1))
    tol = {"f": 1e-5, "d": 1e-12}[letter]
    assert np.abs(angle - r0.magnitude()).max() <= tol
    assert np.abs(between - (r1 * r0.inv()).magnitude()).max() <= tol

    equal = oa.quat_approx_equal(q0, q1)
    assert equal.dtype == np.bool_ and equal[:10].all() and not equal[20:].any()
    assert list(equal) == [
        ov.quat_approx_equal(a, b) for a, b in zip(objects(q0, letter), objects(q1, letter))
    ]
    if letter == "d":
        np.testing.assert_array_equal(equal, r0.approx_equal(r1))
        np.testing.assert_array_equal(
            oa.quat_approx_equal(q0, q1, 0.5, degrees=True), r0.approx_equal(r1, 0.5, degrees=True)
        )


@pytest.mark.parametrize("angle", [1e-30, 1e-9, 1e-4, np.pi - 1e-4, np.pi - 1e-7, np.pi])
def test_quat_angle_is_accurate_near_zero_and_pi(angle, letter):
    q = ov.quat_from_axis_angle((0.3, -0.4, 1.2), angle, dtype=dtype_of(letter))
    eps = np.finfo(dtype_of(letter)).eps
    assert abs(ov.quat_angle(q) - np.float64(dtype_of(letter)(angle))) <= 4 * eps * angle
    minus = cls("Quaternion", letter)(-q.w, -q.x, -q.y, -q.z)
    assert ov.quat_angle(minus) == ov.quat_angle(q)


def test_default_tolerance_follows_the_precision():
    q = ov.quat_from_axis_angle((0, 0, 1), 1e-6)
    assert ov.quat_approx_equal(ov.Quaterniond(), ov.to_double(ov.to_float(q))) is False
    assert ov.quat_approx_equal(ov.Quaternionf(), ov.to_float(q)) is True
    ident, qs = np.array([1.0, 0, 0, 0]), np.array([q.w, q.x, q.y, q.z])
    assert not oa.quat_approx_equal(ident, qs) and oa.quat_approx_equal(
        ident.astype("f4"), qs.astype("f4")
    )
    assert ov.quat_approx_equal(ov.Quaterniond(), q, 1e-4, degrees=True)


def test_nan_is_equal_to_nothing(letter):
    q = np.array([[np.nan, 0, 0, 0], [0, 0, 0, 0], [1, 0, 0, 0]], dtype_of(letter))
    with np.errstate(invalid="ignore"):  # 0 / 0 normalizing the zero quaternion
        assert not oa.quat_approx_equal(q, q, np.inf)[:2].any()
