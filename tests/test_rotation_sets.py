"""Means and alignments of sets (orvane.arrays) against SciPy and a NumPy
Umeyama, against the C++ templates, and their degenerate cases."""

import numpy as np
import pytest
from conftest import dtype_of
from cpp_oracle import assert_python_equals_templates
from scipy.spatial.transform import Rotation

import orvane.arrays as oa

TOLERANCE = {"f": 2e-5, "d": 1e-12}


def wxyz(r):
    q = r.as_quat()[..., [3, 0, 1, 2]]
    return q * np.where(q[..., :1] < 0, -1, 1)


def same_rotation(q, expected, tol):
    # q and -q are one rotation
    assert min(np.abs(q - expected).max(), np.abs(q + expected).max()) < tol


@pytest.mark.parametrize("weighted", [False, True])
def test_quat_mean_is_scipys_along_any_axis(letter, weighted):
    rng = np.random.default_rng(3)
    q = rng.normal(size=(3, 20, 2, 4))
    w = rng.random((3, 20, 2)) * (rng.random((3, 20, 2)) > 0.2) if weighted else None
    got = oa.quat_mean(q.astype(dtype_of(letter)), w, axis=-2)
    assert got.shape == (3, 2, 4) and got.dtype == dtype_of(letter) and np.all(got[..., 0] >= 0)
    for i in range(3):
        for j in range(2):
            r = Rotation.from_quat(q[i, :, j][:, [1, 2, 3, 0]])
            expected = wxyz(r.mean(None if w is None else w[i, :, j]))
            np.testing.assert_allclose(got[i, j], expected, atol=TOLERANCE[letter])


def pairs(rng, n, noise=0.1):
    b = rng.normal(size=(n, 3))
    r = Rotation.random(random_state=rng)
    return r.apply(b) + noise * rng.normal(size=(n, 3)), b


@pytest.mark.filterwarnings("ignore:Optimal rotation is not uniquely")
@pytest.mark.parametrize(
    "n,weights",
    [
        (30, None),
        (30, "random"),
        (30, "one infinite"),
        (1, None),
        (1, "random"),
        (1, "one infinite"),
        (2, "collinear"),
    ],
)
def test_align_vectors_is_scipys(letter, n, weights):
    rng = np.random.default_rng(n)
    a, b = pairs(rng, n)
    w = None if weights is None else rng.random(n) + 0.5
    if weights == "one infinite":
        w[0] = np.inf
    if weights == "collinear":
        a, b = np.outer([1.0, -2.0], a[0]), np.outer([2.0, -1.0], b[0])
    expected, rssd = Rotation.align_vectors(a, b, w)
    dtype = dtype_of(letter)
    q, got = oa.align_vectors(a.astype(dtype), b.astype(dtype), w)
    assert q.dtype == got.dtype == dtype
    np.testing.assert_allclose(got, rssd, rtol=TOLERANCE[letter], atol=TOLERANCE[letter])
    if weights == "collinear":  # the turn about the line is free
        moved = Rotation.from_quat(q[[1, 2, 3, 0]].astype(float)).apply(b[0])
        np.testing.assert_allclose(np.cross(moved, a[0]), 0, atol=10 * TOLERANCE[letter])
    else:
        same_rotation(q, wxyz(expected), 10 * TOLERANCE[letter])


def test_opposite_single_pair_is_a_half_turn_as_scipys():
    for a in np.eye(3) + 0.25:
        q, rssd = oa.align_vectors(a, -2 * a)
        same_rotation(q, wxyz(Rotation.align_vectors(a, -2 * a)[0]), 1e-12)


def umeyama(a, b, w, scale):
    w = w / w.sum()
    ma, mb = w @ a, w @ b
    cov = ((a - ma) * w[:, None]).T @ (b - mb)
    u, s, vt = np.linalg.svd(cov)
    d = np.diag([1, 1, np.sign(np.linalg.det(u @ vt))])
    r = u @ d @ vt
    c = np.trace(np.diag(s) @ d) / (w @ ((b - mb) ** 2).sum(1)) if scale else 1.0
    t = ma - c * r @ mb
    rmsd = np.sqrt(w @ ((a - (c * b @ r.T + t)) ** 2).sum(1))
    return t, r, c, rmsd


@pytest.mark.parametrize("scale", [False, True])
@pytest.mark.parametrize("planar", [False, True])
def test_align_points_is_umeyamas_and_never_reflects(letter, scale, planar):
    rng = np.random.default_rng(5)
    b = rng.normal(size=(40, 3)) * ([1, 1, 0] if planar else 1)
    a = 1.7 * Rotation.random(random_state=rng).apply(b)[:, ::-1] + [1, -2, 3]  # mirrored
    a += 0.05 * rng.normal(size=a.shape)
    w = rng.random(40)
    position, q, s, rmsd = oa.align_points(a.astype(dtype_of(letter)), b, w, scale=scale)
    t, r, c, expected = umeyama(a, b, w, scale)
    tol = 10 * TOLERANCE[letter]
    np.testing.assert_allclose(oa.quat_to_matrix(q.astype(float)), r, atol=tol)
    np.testing.assert_allclose([*position, s, rmsd], [*t, c, expected], rtol=tol, atol=tol)


def test_noiseless_stacks_are_recovered_bit_for_bit_as_each_set():
    rng = np.random.default_rng(9)
    b = rng.normal(size=(4, 25, 3))
    r = Rotation.random(4, random_state=rng)
    a = 2.5 * np.stack([r[i].apply(b[i]) for i in range(4)]) + 1.0
    w = rng.random((4, 25))
    position, q, s, rmsd = oa.align_points(a, b, w, scale=True)
    same_rotation(q, wxyz(r), 1e-12)
    np.testing.assert_allclose(s, 2.5, rtol=1e-12)
    np.testing.assert_allclose(position, 1.0, atol=1e-12)
    assert np.all(rmsd < 1e-12)
    for i in range(4):  # one set at a time gives the same bits
        for got, one in zip((position, q, s, rmsd), oa.align_points(a[i], b[i], w[i], scale=True)):
            np.testing.assert_array_equal(got[i], one)
    np.testing.assert_array_equal(oa.quat_mean(q, axis=0), oa.quat_mean(q[:, None], axis=0)[0])


@pytest.mark.parametrize(
    "call,message",
    [
        (lambda: oa.quat_mean(np.ones((3, 4)), [1, -1, 1]), "quat_mean: weights must be non-neg"),
        (lambda: oa.quat_mean(np.ones((3, 4)), [0, 0, 0]), "quat_mean: the set is empty or all"),
        (lambda: oa.quat_mean(np.ones((0, 4))), "quat_mean: the set is empty"),
        (lambda: oa.quat_mean(np.ones((3, 4)), [1, 1]), r"weights must have shape \(3,\)"),
        (lambda: oa.quat_mean(np.ones((3, 4)), axis=1), "axis must be an int naming"),
        (lambda: oa.align_vectors(np.ones((3, 3)), np.ones((2, 3))), r"\(3, 3\) and \(2, 3\)"),
        (lambda: oa.align_vectors(np.eye(3), np.eye(3), [np.inf, 1, np.inf]), "only one infin"),
        (lambda: oa.align_vectors(np.eye(3), np.eye(3), [-1, 1, 1]), "must be non-negative"),
        (lambda: oa.align_vectors([0, 0, 0], [1, 0, 0]), "has a zero vector"),
        (lambda: oa.align_points(np.eye(3), np.eye(3), [0, 0, 0]), "align_points: the set is"),
    ],
)
def test_sets_without_an_answer_say_why(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_degenerate_sets_give_the_documented_answers():
    position, q, s, rmsd = oa.align_points([[1, 2, 3], [3, 2, 1.0]], [[5, 5, 5.0]] * 2, scale=True)
    np.testing.assert_array_equal([*position, *q, s], [-3, -3, -3, 1, 0, 0, 0, 1])
    np.testing.assert_array_equal(
        oa.align_vectors(np.eye(3), np.eye(3), [0, 0, 0])[0], [1, 0, 0, 0]
    )
    # zero weights leave their elements out, whatever they hold
    q = np.array([[1, 0, 0, 0], [np.nan] * 4, [0, 0, 0, 0.0]])
    np.testing.assert_array_equal(oa.quat_mean(q, [1, 0, 0]), [1, 0, 0, 0])
    for k in range(3):  # a NaN of nonzero weight anywhere gives NaN
        bad = np.array([[0.9, 0.1, 0, 0], [0.1, 0.9, 0, 0.0]])
        bad[1, k] = np.nan
        with np.errstate(invalid="ignore"):
            assert np.all(np.isnan(oa.quat_mean(bad)))
            assert np.all(np.isnan(oa.align_vectors(bad[:, :3], np.eye(3)[:2])[0]))
            assert np.all(np.isnan(oa.align_points(bad[:, :3], np.eye(3)[:2])[1]))


def test_random_quat_is_uniform_and_reproducible(letter):
    dtype = dtype_of(letter)
    q = oa.random_quat((200, 100), rng=7, dtype=dtype)
    assert q.shape == (200, 100, 4) and q.dtype == dtype
    np.testing.assert_array_equal(q, oa.random_quat((200, 100), np.random.default_rng(7), dtype))
    assert oa.random_quat().shape == (4,)
    np.testing.assert_allclose(np.linalg.norm(q, axis=-1), 1, rtol=10 * TOLERANCE[letter])
    # uniform over the unit 3-sphere: E[q q^T] = I / 4 and E|w| = 4 / (3 pi)
    flat = q.reshape(-1, 4).astype(float)
    np.testing.assert_allclose(flat.T @ flat / len(flat), np.eye(4) / 4, atol=0.01)
    np.testing.assert_allclose(np.mean(np.abs(flat[:, 0])), 4 / (3 * np.pi), atol=0.01)


def test_dask_stays_lazy_and_equal():
    da = pytest.importorskip("dask.array")
    rng = np.random.default_rng(4)
    q, a, b, w = rng.normal(size=(6, 50, 4)), *rng.normal(size=(2, 6, 50, 3)), rng.random((6, 50))
    lazy = [
        oa.quat_mean(da.from_array(q, chunks=(2, 10, 4)), axis=1),
        *oa.align_vectors(da.from_array(a, chunks=(3, 25, 3)), b, da.from_array(w)),
    ]
    assert all(isinstance(x, da.Array) for x in lazy)
    expected = [oa.quat_mean(q, axis=1), *oa.align_vectors(a, b, w)]
    for got, e in zip(da.compute(*lazy), expected):
        np.testing.assert_array_equal(got, e)


SETS = {
    "quat_mean": (
        "qqqqw",
        lambda *x: oa.quat_mean(np.stack(x[:4]), x[4]),
        "[](auto q0, auto q1, auto q2, auto q3, auto w) { const Quaternion<T> q[4] = {q0, q1, "
        "q2, q3}; const T ws[4] = {w.x, w.y, w.z, w.w}; return quaternionMean(StridedSpan<T>"
        "{q, 4, sizeof q[0], sizeof(T)}, StridedSpan<T>{ws, 4, sizeof(T), 0}).mean; }",
    ),
    "align": (
        "vvvvvvw",
        lambda *x: [
            *oa.align_vectors(np.stack(x[:3]), np.stack(x[3:6]), x[6][:3]),
            *oa.align_points(np.stack(x[:3]), np.stack(x[3:6]), x[6][:3], scale=True),
        ],
        "[](auto a0, auto a1, auto a2, auto b0, auto b1, auto b2, auto w) { const Vector3<T> "
        "a[3] = {a0, a1, a2}, b[3] = {b0, b1, b2}; const T ws[3] = {w.x, w.y, w.z}; const "
        "StridedSpan<T> as{a, 3, sizeof a[0], sizeof(T)}, bs{b, 3, sizeof b[0], sizeof(T)}, "
        "wsp{ws, 3, sizeof(T), 0}; const auto v = alignVectors(as, bs, wsp); const auto p = "
        "alignPoints(as, bs, wsp, true); return std::array<T, 14>{v.rotation.w, v.rotation.x, "
        "v.rotation.y, v.rotation.z, v.rssd, p.position.x, p.position.y, p.position.z, "
        "p.orientation.w, p.orientation.x, p.orientation.y, p.orientation.z, p.scale, p.rmsd}; }",
    ),
    "uniforms": ("v", lambda u: oa._gufuncs.quat_from_uniforms(u), "quaternionFromUniforms<T>"),
}


def set_argument(rng, letter, kind):
    size = 3 if kind == "v" else 4
    values = rng.uniform(0 if kind in "wv" else -2, 1 if kind == "v" else 2, size)
    if kind == "w" and rng.random() < 0.3:
        values[int(rng.integers(3))] = np.inf if rng.random() < 0.5 else 0
    return values.astype(dtype_of(letter))


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    readers = {"q": "quaternion", "v": "vector", "w": "vector4"}
    with np.errstate(all="ignore"):  # infinite weights meet NaN
        assert_python_equals_templates(
            {op: (list(kinds), f, c) for op, (kinds, f, c) in SETS.items()},
            readers,
            "",
            set_argument,
            tmp_path_factory.getbasetemp(),
            seed=41,
            per_operation=20,
        )
