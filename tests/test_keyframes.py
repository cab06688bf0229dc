"""Keyframe interpolation over arrays against SciPy's Slerp, its errors, Dask,
and the header templates bit for bit."""

import numpy as np
import pytest
from conftest import dtype_of
from cpp_oracle import compile_oracle, encode
from scipy.spatial.transform import Rotation, Slerp

from orvane import arrays as oa

TOLERANCE = {"f": 2e-5, "d": 1e-12}


def keyframes(rng, n, letter):
    times = np.cumsum(rng.uniform(0.1, 2.0, n)) - 1.0
    quats = rng.normal(size=(n, 4)) * rng.uniform(0.5, 3.0, (n, 1))
    quats[1::3] *= -1  # neighbours on opposite hemispheres
    positions = rng.normal(size=(n, 3))
    return (a.astype(dtype_of(letter)) for a in (times, quats, positions))


@pytest.mark.parametrize("n", [2, 3, 17])
def test_agrees_with_scipy_and_hits_keyframes(letter, n):
    rng = np.random.default_rng(n)
    times, quats, positions = keyframes(rng, n, letter)
    t = rng.uniform(times[0], times[-1], (3, 7)).astype(times.dtype)
    t.flat[:n] = times  # every keyframe, the ends included
    got = oa.slerp_keyframes(times, quats, t)
    assert got.shape == (3, 7, 4) and got.dtype == times.dtype
    xyzw = np.roll(quats.astype(float), -1, axis=-1)
    slerp = Slerp(times.astype(float), Rotation.from_quat(xyzw))
    expected = np.roll(slerp(t.ravel()).as_quat(), 1, -1).reshape(got.shape)
    np.testing.assert_allclose(got, expected, rtol=0, atol=TOLERANCE[letter])
    # At a keyframe, exactly its quaternion normalized (the sign as SciPy's).
    at = got.reshape(-1, 4)[:n]
    np.testing.assert_array_equal(np.abs(at), np.abs(oa.quat_normalize(quats)))
    # Poses: linear positions, the same orientations bit for bit.
    p, q = oa.pose_keyframes(times, positions, quats, t)
    np.testing.assert_array_equal(q, got)
    np.testing.assert_array_equal(p.reshape(-1, 3)[:n], positions)
    expected_p = np.stack([np.interp(t, times, positions[:, k]) for k in range(3)], -1)
    np.testing.assert_allclose(p, expected_p, rtol=0, atol=10 * TOLERANCE[letter])


def test_strided_and_broadcast_keyframe_sets_equal_contiguous_ones():
    rng = np.random.default_rng(3)
    times, quats, positions = keyframes(rng, 6, "d")
    sets = np.stack([quats, quats[::-1]])  # (2, 6, 4)
    t = np.linspace(times[0], times[-1], 5)[:, None]  # broadcasts against the 2 sets
    got = oa.slerp_keyframes(times, sets, t)
    assert got.shape == (5, 2, 4)
    strided = np.asfortranarray(np.repeat(quats, 2, axis=0)[::2])
    np.testing.assert_array_equal(got[:, 0], oa.slerp_keyframes(times, strided, t[:, 0]))
    t = t[:, 0].clip(times[1])
    p, _ = oa.pose_keyframes(times[::-2][::-1], positions[::-2][::-1], quats[::-2][::-1], t)
    expected = oa.pose_keyframes(*(np.copy(a[1::2]) for a in (times, positions, quats)), t)[0]
    np.testing.assert_array_equal(p, expected)


@pytest.mark.parametrize(
    "times,t,message",
    [
        ([0.0, 1.0, 1.0], 0.5, r"times must increase strictly, but times\[1\] = 1 and times\[2\]"),
        ([0.0, 2.0, 1.0], 0.5, "times must increase strictly"),
        ([0.0, np.nan, 1.0], 0.5, "times must increase strictly"),
        ([0.0, 1.0, 2.0], 2.5, r"t = 2.5 is outside the keyframe times \[0, 2\]; clip t"),
        ([0.0, 1.0, 2.0], -1e-9, "is outside the keyframe times"),
        ([0.0, 1.0, 2.0], np.nan, "t = nan is outside"),
        ([0.0], 0.0, "interpolation needs 2 or more keyframes, got 1"),
    ],
)
@pytest.mark.parametrize("pose", [False, True])
def test_bad_keyframes_or_times_raise(times, t, message, pose):
    quats = np.tile([1.0, 0, 0, 0], (len(times), 1))
    with pytest.raises(ValueError, match=message):
        if pose:
            oa.pose_keyframes(times, np.zeros((len(times), 3)), quats, [0.0, t])
        else:
            oa.slerp_keyframes(times, quats, [times[0], t])
    # SciPy refuses the same.
    with pytest.raises(ValueError):
        Slerp(times, Rotation.from_quat(np.roll(quats, -1, -1)))(t)


def test_dask_times_give_a_lazy_equal_result():
    da = pytest.importorskip("dask.array")
    rng = np.random.default_rng(4)
    times, quats, positions = keyframes(rng, 9, "f")
    t = rng.uniform(times[0], times[-1], 50).astype(np.float32)
    lazy = oa.pose_keyframes(times, positions, quats, da.from_array(t, chunks=20))
    assert all(isinstance(x, da.Array) for x in lazy)
    for got, expected in zip(lazy, oa.pose_keyframes(times, positions, quats, t), strict=True):
        np.testing.assert_array_equal(got.compute(), expected)
    bad = oa.slerp_keyframes(times, quats, da.from_array(t + 100, chunks=20))
    with pytest.raises(ValueError, match="outside the keyframe times"):
        bad.compute()


ORACLE = r"""
#include "math/keyframes.hpp"

template <class T>
void run(const std::string&, In& in) {
    int n;
    in.stream >> n;
    std::vector<T> times(n);
    std::vector<math::Vector3<T>> positions(n);
    std::vector<math::Quaternion<T>> quats(n);
    for (T& x : times) x = in.scalar<T>();
    for (auto& p : positions) p = in.vector<T>();
    for (auto& q : quats) q = in.quaternion<T>();
    const T t = in.scalar<T>();
    const math::Pose3d<T> p = math::poseKeyframes(times.data(), positions.data(), quats.data(),
                                                  n, t);
    put(p.position), put(p.orientation);
    put(math::slerpKeyframes(times.data(), quats.data(), n, t));
}
"""


def test_python_equals_the_header_templates_bit_for_bit(letter, tmp_path_factory):
    oracle = compile_oracle(ORACLE, tmp_path_factory.getbasetemp())
    rng = np.random.default_rng(9)
    cases, expected = [], []
    for n in (2, 5, 40):
        times, quats, positions = keyframes(rng, n, letter)
        for t in [times[0], times[-1], *rng.uniform(times[0], times[-1], 6)]:
            t = times.dtype.type(t)
            p, q = oa.pose_keyframes(times, positions, quats, t)
            cases.append((letter, "keyframes", [n, *times, *positions.ravel(), *quats.ravel(), t]))
            expected.append(encode([*p, *q, *oa.slerp_keyframes(times, quats, t)], letter))
    assert oracle(cases) == expected
