"""Cameras of the orvane package against pyglm, and the window conventions."""

import numpy as np
import pytest
from conftest import cls, dtype_of
from pyglm import glm

import orvane as ov

TOLERANCE = {"f": 1e-5, "d": 1e-12}


def vec(letter, xyz):
    return cls("Vector3", letter)(*map(float, xyz))


def glm_matrix(m):
    return np.array(m, dtype=float)  # indexed [row, column]


def test_look_at_and_ortho_agree_with_pyglm(letter):
    rng = np.random.default_rng(2)
    tol = TOLERANCE[letter]
    for _ in range(30):
        eye, target, up = (rng.normal(size=3).astype(dtype_of(letter)) for _ in range(3))
        view = ov.look_at(vec(letter, eye), vec(letter, target), vec(letter, up))
        expected = glm.lookAt(*(glm.dvec3(*map(float, v)) for v in (eye, target, up)))
        np.testing.assert_allclose(view.numpy(), glm_matrix(expected), rtol=0, atol=50 * tol)
        # The eye goes to the origin, the target onto -z.
        camera_target = view * cls("Vector4", letter)(*map(float, target), 1.0)
        assert abs(camera_target.x) < 50 * tol and abs(camera_target.y) < 50 * tol
        assert camera_target.z < 0
        bounds = sorted(rng.uniform(-5, 5, 2)) + sorted(rng.uniform(-5, 5, 2)) + [0.5, 40.0]
        dtype = dtype_of(letter)
        m = ov.ortho(*map(float, bounds), dtype=dtype)
        assert isinstance(m, cls("Matrix4", letter))
        np.testing.assert_allclose(m.numpy(), glm_matrix(glm.ortho(*bounds)), rtol=1e-6, atol=tol)


@pytest.mark.parametrize(
    "dtype,name", [("float32", "Matrix4f"), (np.float64, "Matrix4d"), (None, "Matrix4d")]
)
def test_ortho_dtype(dtype, name):
    kwargs = {} if dtype is None else {"dtype": dtype}
    assert type(ov.ortho(-1, 1, -1, 1, 1, 10, **kwargs)).__name__ == name


@pytest.mark.parametrize("dtype", [np.int32, "float16", "nonsense", object])
def test_ortho_refuses_other_dtypes(dtype):
    with pytest.raises(TypeError, match="dtype must be float32 or float64"):
        ov.ortho(-1, 1, -1, 1, 1, 10, dtype=dtype)


def test_equal_planes_give_non_finite_values_without_error():
    m = ov.ortho(-1, 1, -1, 1, 2, 2).numpy()
    assert not np.isfinite(m).all()


def test_project_puts_y_downwards_and_unproject_inverts_it(letter):
    tol = TOLERANCE[letter]
    projection = cls("Matrix4", letter).Perspective(1.0, 4 / 3, 0.5, 50.0)
    view = ov.look_at(vec(letter, [1, 2, 6]), vec(letter, [0, 0, 0]), vec(letter, [0, 1, 0]))
    vp = projection * view
    viewport = (10.0, 20.0, 640.0, 480.0)
    centre = ov.project(vec(letter, [0, 0, 0]), vp, viewport)
    assert abs(centre.x - 330) < 0.01 and abs(centre.y - 260) < 0.01 and 0 < centre.z < 1
    above = ov.project(vec(letter, [0, 1, 0]), vp, viewport)
    assert above.y < centre.y  # up in the world is up in the image: a smaller row
    rng = np.random.default_rng(4)
    for p in rng.uniform(-2, 2, size=(40, 3)):
        window = ov.project(vec(letter, p), vp, viewport)
        back = ov.unproject(window, vp, viewport)
        np.testing.assert_allclose(np.array(back), p.astype(dtype_of(letter)), atol=2000 * tol)
        # pyglm's window y grows upwards from the viewport's bottom edge.
        g = glm.project(
            glm.dvec3(*p), glm.dmat4(1), glm.dmat4(*vp.numpy().T.ravel()), glm.dvec4(*viewport)
        )
        np.testing.assert_allclose(
            [window.x, 2 * 20 + 480 - window.y, window.z], list(g), atol=2000 * tol
        )


OTHER = {"f": "d", "d": "f"}


@pytest.mark.parametrize("function", [ov.project, ov.unproject])
def test_a_viewport_is_a_vector4_or_four_numbers(function, letter):
    vp = cls("Matrix4", letter).Perspective(1.0, 4 / 3, 0.5, 50.0)
    point, numbers = vec(letter, [0.2, -0.1, -3]), (10.0, 20.0, 640.0, 480.0)
    expected = function(point, vp, numbers)
    for viewport in (cls("Vector4", letter)(*numbers), list(numbers), np.array(numbers)):
        assert np.array(function(point, vp, viewport)).tobytes() == np.array(expected).tobytes()
    # The other precision's Vector4 mixes precisions; a lengthless object is no
    # viewport, and three numbers are too few.
    for viewport, error, message in (
        (cls("Vector4", OTHER[letter])(*numbers), TypeError, "precisions do not mix"),
        (cls("Quaternion", letter)(), TypeError, "viewport must be a Vector4f, a Vector4d or 4"),
        (numbers[:3], ValueError, "viewport has 3 numbers; it takes 4"),
    ):
        with pytest.raises(error, match=message):
            function(point, vp, viewport)
