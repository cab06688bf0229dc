"""Cameras, matrix inverses and determinants, and decompose over arrays: the
per-object functions bit for bit, pyglm's results, and decompose's errors."""

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import compile_oracle, encode
from pyglm import glm
from scipy.spatial.transform import Rotation

import orvane as ov
from orvane import arrays as oa


def bits(a):
    a = np.asarray(a)
    return a.view(f"u{a.dtype.itemsize}")


def objects(name, letter, rows):
    return [cls(name, letter)(*map(float, r)) for r in rows]


def as_array(results, letter):
    return np.array([[getattr(r, c) for c in "xyz"] for r in results], dtype_of(letter))


def eyes_targets_ups(rng, letter, count=40):
    v = rng.normal(size=(3, count, 3)).astype(dtype_of(letter))
    v[1, 0] = v[0, 0]  # eye at the target
    v[2, 1] = v[1, 1] - v[0, 1]  # up along the view
    v[0, 2, 1] = np.nan
    return v


def view_projections(rng, letter, count=40):
    views = oa.look_at(*eyes_targets_ups(rng, letter, count)[:, 3:]).astype(float)
    f = 1 / np.tan(0.5)
    projection = np.array([[f, 0, 0, 0], [0, f, 0, 0], [0, 0, -1.02, -0.202], [0, 0, -1, 0]])
    vp = projection @ views
    return np.concatenate([vp, np.zeros((3, 4, 4))]).astype(dtype_of(letter))  # singular too


def test_cameras_equal_the_per_object_functions_bit_for_bit(letter):
    rng = np.random.default_rng(1)
    eye, target, up = eyes_targets_ups(rng, letter)
    with np.errstate(invalid="ignore", divide="ignore"):
        views = oa.look_at(eye, target, up)
    expected = [ov.look_at(*objects("Vector3", letter, v)).numpy() for v in zip(eye, target, up)]
    np.testing.assert_array_equal(bits(views), bits(np.array(expected)))
    vp = view_projections(rng, letter)
    points = rng.normal(size=(len(vp), 3)).astype(dtype_of(letter))
    viewport = np.array([10, 20, 640, 480], dtype_of(letter))
    m4 = [cls("Matrix4", letter)(np.ascontiguousarray(m)) for m in vp]
    for batch, single in ((oa.project, ov.project), (oa.unproject, ov.unproject)):
        with np.errstate(invalid="ignore", divide="ignore"):
            got = batch(points, vp, viewport)
        expected = [
            single(p, m, tuple(map(float, viewport)))
            for p, m in zip(objects("Vector3", letter, points), m4, strict=True)
        ]
        np.testing.assert_array_equal(bits(got), bits(as_array(expected, letter)))


def glm_mat(m):
    return glm.dmat4(*np.asarray(m, float).T.ravel())


def test_cameras_agree_with_pyglm():
    rng = np.random.default_rng(2)
    eye, target, up = eyes_targets_ups(rng, "d")[:, 3:]
    for e, t, u, view in zip(eye, target, up, oa.look_at(eye, target, up), strict=True):
        expected = glm.lookAt(glm.dvec3(*e), glm.dvec3(*t), glm.dvec3(*u))
        np.testing.assert_allclose(view, np.array(expected), rtol=0, atol=1e-12)
    vp = view_projections(rng, "d")[:30]
    points = rng.normal(size=(30, 3)) * 0.1 + target[:30]
    viewport = np.array([10.0, 20.0, 640.0, 480.0])
    window = oa.project(points, vp, viewport)
    for p, m, w in zip(points, vp, window, strict=True):
        g = np.array(glm.project(glm.dvec3(*p), glm.dmat4(), glm_mat(m), glm.dvec4(*viewport)))
        # pyglm's window y grows upwards from the viewport's corner.
        g[1] = 2 * viewport[1] + viewport[3] - g[1]
        np.testing.assert_allclose(w, g, rtol=1e-12, atol=1e-9)
    np.testing.assert_allclose(oa.unproject(window, vp, viewport), points, rtol=0, atol=1e-9)


@pytest.mark.parametrize("n", [2, 3, 4])
def test_inverse_and_determinant_equal_the_methods_bit_for_bit(letter, n):
    rng = np.random.default_rng(n)
    m = rng.normal(size=(30, n, n)).astype(dtype_of(letter))
    m[0] = 0  # singular
    m[1, 0, 0] = np.nan
    with np.errstate(invalid="ignore", divide="ignore"):
        inverses, determinants = oa.matrix_inverse(m), oa.matrix_determinant(m)
        objects_ = [cls(f"Matrix{n}", letter)(np.ascontiguousarray(a)) for a in m]
        expected = [(o.inverse().numpy(), o.determinant()) for o in objects_]
    np.testing.assert_array_equal(inverses, np.array([e[0] for e in expected]))
    np.testing.assert_array_equal(determinants, np.array([e[1] for e in expected], m.dtype))
    np.testing.assert_allclose(determinants[2:], np.linalg.det(m[2:].astype(float)), rtol=1e-4)
    with pytest.raises(ValueError, match="n is 5, expected 2, 3 or 4"):
        oa.matrix_inverse(np.eye(5))


def trs(rng, count, negative=False):
    """TRS matrices, their translations, rotations (w, x, y, z) and scales."""
    t = rng.normal(size=(count, 3)) * 10
    q = Rotation.random(count, rng=rng).as_quat(canonical=True)
    s = rng.uniform(0.1, 5, (count, 3)) * (-1 if negative else 1) ** np.arange(3)
    m = np.zeros((count, 4, 4))
    m[:, :3, :3] = Rotation.from_quat(q).as_matrix() * s[:, None, :]
    m[:, :3, 3], m[:, 3, 3] = t, 1
    return m, t, np.roll(q, 1, -1), s


def test_decompose_agrees_with_pyglm_and_rebuilds_the_matrix(letter):
    rng = np.random.default_rng(5)
    m, t, q, s = trs(rng, 40)
    m = m.astype(dtype_of(letter))
    translation, orientation, scale = oa.decompose(m)
    tol = {"f": 2e-5, "d": 1e-12}[letter]
    for k in range(len(m)):
        gs, gq, gt = glm.dvec3(), glm.dquat(), glm.dvec3()
        assert glm.decompose(glm_mat(m[k]), gs, gq, gt, glm.dvec3(), glm.dvec4())
        expected = np.array([gq.w, gq.x, gq.y, gq.z]) * np.sign(gq.w)
        np.testing.assert_allclose(orientation[k], expected, rtol=0, atol=tol)
        np.testing.assert_allclose(scale[k], np.array(gs), rtol=tol)
        np.testing.assert_allclose(translation[k], np.array(gt), rtol=0, atol=0)
        # The per-object function, bit for bit.
        single = ov.decompose(cls("Matrix4", letter)(np.ascontiguousarray(m[k])))
        for a, b in zip((translation[k], orientation[k], scale[k]), single, strict=True):
            b = [getattr(b, c) for c in ("wxyz" if len(a) == 4 else "xyz")]
            np.testing.assert_array_equal(bits(a), bits(np.array(b, m.dtype)))
    # A negative determinant: the sign goes to the x scale.
    m, t, q, s = trs(rng, 20, negative=True)
    translation, orientation, scale = oa.decompose(m)
    assert (np.linalg.det(m[:, :3, :3]) < 0).all()
    np.testing.assert_allclose(scale, np.abs(s) * [-1, 1, 1], rtol=1e-12)
    rebuilt = oa.quat_to_matrix(orientation) * scale[:, None, :]
    np.testing.assert_allclose(rebuilt, m[:, :3, :3], rtol=0, atol=1e-12)


def sheared(m):
    m[0, 1] += 1e-3
    return m


@pytest.mark.parametrize(
    "change,message",
    [
        (lambda m: m.__setitem__((1, 2), np.nan), "NaN or infinite element"),
        (lambda m: m.__setitem__((0, 3), np.inf), "NaN or infinite element"),
        (lambda m: m.__setitem__((3, 2), 0.5), r"last row of m is \(0, 0, 0.5, 1\)"),
        (lambda m: m.__setitem__((3, 3), 2.0), r"not \(0, 0, 0, 1\)"),
        (lambda m: m.__setitem__((slice(0, 3), 1), 0), "column 1 of m is zero"),
        (sheared, "columns 0 and 1 of m are not orthogonal"),
    ],
)
def test_what_does_not_decompose_raises_per_object_and_gives_nan_in_batch(letter, change, message):
    m = trs(np.random.default_rng(6), 1)[0][0].astype(dtype_of(letter))
    change(m)
    with pytest.raises(ValueError, match="decompose: .*" + message):
        ov.decompose(cls("Matrix4", letter)(np.ascontiguousarray(m)))
    assert all(np.isnan(part).all() for part in oa.decompose(m))


ORACLE = r"""
#include "math/decompose.hpp"

template <class T>
void run(const std::string&, In& in) {
    const math::Decomposition<T> d = math::decompose(in.matrix4<T>());
    put(d.translation), put(d.orientation), put(d.scale), put(static_cast<int>(d.fault));
}
"""


def test_decompose_equals_the_header_template_bit_for_bit(letter, tmp_path_factory):
    oracle = compile_oracle(ORACLE, tmp_path_factory.getbasetemp())
    rng = np.random.default_rng(7)
    m = np.concatenate([trs(rng, 20)[0], trs(rng, 10, True)[0], rng.normal(size=(5, 4, 4))])
    m = m.astype(dtype_of(letter))
    parts = oa.decompose(m)
    cases = [(letter, "decompose", list(a.ravel())) for a in m]
    expected = [
        encode([*(x for p in parts for x in p[k]), int(np.isnan(parts[0][k, 0])) * 5], letter)
        for k in range(len(m))
    ]
    got = oracle(cases)
    # The fault code: 0 where the batch has numbers; any non-zero one where NaN.
    assert [g[:-1] for g in got] == [e[:-1] for e in expected]
    assert [g[-1] != "0" for g in got] == [e[-1] != "0" for e in expected]
