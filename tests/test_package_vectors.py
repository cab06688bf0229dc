"""Vector functions and precision conversions of the orvane package."""

import numpy as np
import pytest
from conftest import cls, dtype_of

import orvane as ov


@pytest.mark.parametrize("n", [2, 3, 4])
def test_vector_functions_against_numpy(letter, n):
    rng = np.random.default_rng(n)
    tol = 1e-5 if letter == "f" else 1e-13
    make = cls(f"Vector{n}", letter)
    for _ in range(30):
        a, b = (rng.normal(size=n).astype(dtype_of(letter)) for _ in range(2))
        va, vb = make(a), make(b)
        a64, b64 = a.astype(float), b.astype(float)
        np.testing.assert_allclose(ov.distance(va, vb), np.linalg.norm(a64 - b64), rtol=tol)
        cosine = np.dot(a64, b64) / np.linalg.norm(a64) / np.linalg.norm(b64)
        np.testing.assert_allclose(ov.angle(va, vb), np.arccos(np.clip(cosine, -1, 1)), atol=tol)
        unit = (b64 / np.linalg.norm(b64)).astype(dtype_of(letter))
        np.testing.assert_allclose(
            np.array(ov.reflect(va, make(unit))), a64 - 2 * np.dot(a64, unit) * unit, atol=10 * tol
        )
        np.testing.assert_allclose(
            np.array(ov.project_onto(va, vb)),
            np.dot(a64, b64) / np.dot(b64, b64) * b64,
            atol=10 * tol,
        )


def test_angle_is_accurate_near_zero_and_pi(letter):
    make = cls("Vector3", letter)
    for tiny in (1e-3, 1e-5):
        a, b = make(1, 0, 0), make(1, tiny, 0)
        exact = np.arctan(np.longdouble(dtype_of(letter)(tiny)))
        assert abs(ov.angle(a, b) - float(exact)) <= 4 * np.finfo(dtype_of(letter)).eps * tiny
        assert abs(ov.angle(a, -b) - float(np.pi - exact)) <= 4 * np.finfo(dtype_of(letter)).eps
    assert ov.angle(make(1, 2, 3), make(2, 4, 6)) == 0
    assert np.isnan(ov.angle(make(0, 0, 0), make(1, 0, 0)))


def test_to_float_and_to_double_round_to_nearest_for_every_class():
    third = 1 / 3
    rounded = float(np.float32(third))
    cases = [
        ov.Vector2d(third, 1),
        ov.Vector3d(third),
        ov.Vector4d(third),
        ov.Matrix2d(third, 1),
        ov.Matrix3d(third, 1, 1),
        ov.Matrix4d(third, 1, 1, 1),
        ov.Quaterniond(third, 0, 0, 0),
        ov.Euler_d(third, 0, 0),
        ov.Line_d(ov.Vector3d(third), ov.Vector3d()),
        ov.Plane_d(ov.Vector3d(third), ov.Vector3d()),
        ov.AABB_d(ov.Vector3d(third), ov.Vector3d()),
        ov.Pose3d_d(ov.Vector3d(third), ov.Quaterniond()),
    ]
    for d in cases:
        f = ov.to_float(d)
        assert type(f).__name__ == type(d).__name__[:-1] + "f"
        assert ov.to_float(f) is not f and type(ov.to_float(f)) is type(f)
        back = ov.to_double(f)
        assert type(back) is type(d)
        first = repr(back)
        assert repr(ov.to_double(ov.to_float(back))) == first
    assert ov.to_float(ov.Vector3d(third)).x == rounded
    e = ov.Euler_d(1, 2, 3)
    e.order, e.convention = ov.eOrder.ZXY, ov.eConvention.EXTRINSIC
    assert (ov.to_float(e).order, ov.to_float(e).convention) == (e.order, e.convention)


def test_to_float_refuses_other_objects():
    with pytest.raises(TypeError, match="takes an orvane value, not list"):
        ov.to_float([1.0, 2.0])

    class Sub(ov.Vector3d):
        pass

    assert type(ov.to_float(Sub(1.0))) is ov.Vector3f
