import warnings

import numpy as np
import pytest
from conftest import cls, dtype_of
from cpp_oracle import compile_oracle, encode
from hypothesis import given
from hypothesis import strategies as st
from scipy.spatial.transform import Rotation

import orvane as ov

oa = ov.arrays

AXES = ["XYZ", "XZY", "YXZ", "YZX", "ZXY", "ZYX", "XYX", "XZX", "YXY", "YZY", "ZXZ", "ZYZ"]
SEQUENCES = AXES + [s.lower() for s in AXES]
TOLERANCE = {"f": 2e-5, "d": 1e-12}
REBUILT = {"f": 1e-6, "d": 1e-15}


def wxyz(q):
    return np.array([q.w, q.x, q.y, q.z])


def bits(a):
    a = np.asarray(a)
    return a.view(f"u{a.itemsize}")


def per_object(f, rows, letter, *args, **kwargs):
    """f on each row, as objects of precision letter, stacked."""
    kind = "Quaternion" if rows.shape[-1] == 4 else "Vector3"
    out = [f(cls(kind, letter)(*map(float, r)), *args, **kwargs) for r in rows]
    fields = "wxyz" if isinstance(out[0], (ov.Quaternionf, ov.Quaterniond)) else "xyz"
    if isinstance(out[0], bool):
        return np.array(out)
    return np.array([[getattr(o, c) for c in fields] for o in out], dtype_of(letter))


def same_rotation_error(a, b):
    """Largest component difference of quaternions (..., 4), up to sign."""
    return np.minimum(np.abs(a - b).max(-1), np.abs(a + b).max(-1)).max()


def wrapped(a):
    return (a + np.pi) % (2 * np.pi) - np.pi


@pytest.mark.parametrize("degrees", [False, True])
@pytest.mark.parametrize("seq", SEQUENCES)
def test_agrees_with_scipy_and_batch_gives_the_objects_bits(seq, letter, degrees):
    rng = np.random.default_rng(sum(map(ord, seq)))
    unit = 180 / np.pi if degrees else 1.0
    angles = (rng.uniform(-np.pi, np.pi, (40, 3)) * unit).astype(dtype_of(letter))
    q = rng.normal(size=(40, 4)).astype(dtype_of(letter))
    made = per_object(ov.quat_from_euler, angles, letter, seq, degrees=degrees)
    found = per_object(ov.euler_from_quat, q, letter, seq, degrees=degrees)
    np.testing.assert_array_equal(
        bits(oa.quat_from_euler(angles, seq, degrees=degrees)), bits(made)
    )
    np.testing.assert_array_equal(bits(oa.euler_from_quat(q, seq, degrees=degrees)), bits(found))

    expected = Rotation.from_euler(seq, angles.astype(float), degrees=degrees).as_quat()
    assert np.abs(made - np.roll(expected, 1, axis=-1)).max() <= TOLERANCE[letter]
    scipy_angles = Rotation.from_quat(np.roll(q.astype(float), -1, axis=-1)).as_euler(
        seq, degrees=degrees
    )
    assert np.abs(wrapped((found - scipy_angles) / unit)).max() <= TOLERANCE[letter] * 10
    # The ranges: first and third in (-pi, pi], the second by kind.
    second = (0, np.pi) if seq[0].lower() == seq[2].lower() else (-np.pi / 2, np.pi / 2)
    radians = found.astype(float) / unit
    assert np.all((radians[:, [0, 2]] > -np.pi) & (radians[:, [0, 2]] <= np.pi))
    assert np.all((radians[:, 1] >= second[0] - 1e-6) & (radians[:, 1] <= second[1] + 1e-6))


# SciPy's gimbal cases: the middle angle at an end of its range.
GIMBAL = {
    "tait_bryan": [[45, 90, 35], [35, -90, 20], [35, 90, 25], [25, -90, 15]],
    "proper": [[15, 0, 60], [35, 0, 75], [60, 180, 35], [15, -180, 25]],
}


@pytest.mark.parametrize("seq", SEQUENCES)
def test_gimbal_lock_sets_the_third_angle_to_zero_as_scipy(seq, letter):
    kind = "proper" if seq[0].lower() == seq[2].lower() else "tait_bryan"
    for angles in GIMBAL[kind]:
        q = ov.quat_from_euler(angles, seq, degrees=True, dtype=dtype_of(letter))
        got, gimbal = ov.euler_from_quat(q, seq, return_gimbal=True)
        assert gimbal and got.z == 0.0
        rebuilt = wxyz(ov.quat_from_euler(got, seq))
        assert same_rotation_error(rebuilt, wxyz(q)) <= REBUILT[letter]
        if letter == "d":
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)  # SciPy's gimbal warning
                expected = Rotation.from_quat(np.roll(wxyz(q), -1)).as_euler(seq)
            assert np.abs(wrapped(np.array([got.x, got.y, got.z]) - expected)).max() <= 1e-12


@given(
    seq=st.sampled_from(SEQUENCES),
    letter=st.sampled_from("fd"),
    first=st.floats(-np.pi, np.pi),
    third=st.floats(-np.pi, np.pi),
    middle=st.one_of(st.floats(-np.pi, np.pi), st.sampled_from([0.0, 1.0])),
    offset=st.sampled_from([0.0, 1e-12, -1e-9, 1e-7, -1e-5]),
)
def test_rebuilding_from_the_angles_loses_only_rounding(seq, letter, first, third, middle, offset):
    # middle 0 or 1 with an offset puts it at or near an end of its range.
    if middle in (0.0, 1.0):
        ends = (0.0, np.pi) if seq[0].lower() == seq[2].lower() else (-np.pi / 2, np.pi / 2)
        middle = ends[int(middle)] + offset
    q = oa.quat_from_euler(np.array([first, middle, third], dtype_of(letter)), seq)
    rebuilt = oa.quat_from_euler(oa.euler_from_quat(q * 2.5, seq), seq)
    assert same_rotation_error(rebuilt, q) <= REBUILT[letter]


@pytest.mark.parametrize(
    "seq, error",
    [
        ("XyZ", ValueError),
        ("XXY", ValueError),
        ("xyy", ValueError),
        ("XYW", ValueError),
        ("XY", ValueError),
        ("XYZX", ValueError),
        (b"XYZ", TypeError),
        (3, TypeError),
    ],
)
def test_bad_sequences_say_what_is_accepted(seq, error):
    message = "seq must be " + (
        "three of the letters X, Y, Z, all upper case" if error is ValueError else "a str"
    )
    for call in (
        lambda: ov.quat_from_euler((0.1, 0.2, 0.3), seq),
        lambda: ov.euler_from_quat(ov.Quaterniond(), seq),
        lambda: oa.quat_from_euler(np.zeros(3), seq),
        lambda: oa.euler_from_quat(np.ones(4), seq),
    ):
        with pytest.raises(error, match=message):
            call()


def test_zero_and_non_finite_quaternions_give_nan(letter):
    for q in ([0, 0, 0, 0], [np.inf, 0, 0, 0], [1, np.nan, 0, 0]):
        got, gimbal = ov.euler_from_quat(q, "ZYX", return_gimbal=True, dtype=dtype_of(letter))
        assert np.isnan([got.x, got.y, got.z]).all() and not gimbal
        assert np.isnan(ov.quat_angle(q, dtype=dtype_of(letter)))
        assert not ov.quat_approx_equal(q, q, 1.0, dtype=dtype_of(letter))


def test_python_equals_the_header_templates_bit_for_bit(tmp_path_factory):
    ops = {
        f"from_{s}": (
            "vector",
            f'quaternionFromEuler(in.vector<T>(), *EulerSequence::parse("{s}", 3))',
        )
        for s in SEQUENCES
    }
    ops |= {
        f"to_{s}": (
            "quaternion",
            f'eulerFromQuaternion(in.quaternion<T>(), *EulerSequence::parse("{s}", 3)).angles',
        )
        for s in SEQUENCES
    }
    ops["angle"] = ("quaternion", "rotationAngle(in.quaternion<T>())")
    calls = "\n".join(f'    if (op == "{op}") put({call});' for op, (_, call) in ops.items())
    snippet = (
        "template <class T>\nvoid run(const std::string& op, In& in) {\n"
        f"    using namespace math;\n{calls}\n}}\n"
    )
    oracle = compile_oracle(snippet, tmp_path_factory.getbasetemp())
    rng = np.random.default_rng(5)
    cases, expected = [], []
    for letter in "fd":
        for op, (kind, _) in ops.items():
            size = 3 if kind == "vector" else 4
            for row in rng.normal(size=(6, size)) * 3:
                arg = cls("Vector3" if size == 3 else "Quaternion", letter)(*row)
                if op == "angle":
                    result = ov.quat_angle(arg)
                elif op.startswith("from_"):
                    result = ov.quat_from_euler(arg, op[5:])
                else:
                    result = ov.euler_from_quat(arg, op[3:])
                cases.append((letter, op, [arg]))
                expected.append(encode(result, letter))
    for case, want, got in zip(cases, expected, oracle(cases), strict=True):
        assert got == want, case[:2]


def test_nan_keeps_its_bits_batch_and_per_object(letter):
    nan = np.array([np.nan, -np.nan, 1.0], dtype_of(letter))
    q = np.array([np.nan, 0.5, -0.5, 0.1], dtype_of(letter))
    for seq in ("XYZ", "zxz"):
        np.testing.assert_array_equal(
            bits(oa.quat_from_euler(nan, seq)),
            bits(per_object(ov.quat_from_euler, nan[None], letter, seq)[0]),
        )
        np.testing.assert_array_equal(
            bits(oa.euler_from_quat(q, seq)),
            bits(per_object(ov.euler_from_quat, q[None], letter, seq)[0]),
        )
    obj = cls("Quaternion", letter)(*map(float, q))
    other = cls("Quaternion", letter)(1.0, -np.nan, 0.0, 0.0)
    with np.errstate(invalid="ignore"):  # NaN met in a comparison
        pairs = (
            (oa.quat_angle(q), ov.quat_angle(obj)),
            (oa.quat_angle_between(q, wxyz(other).astype(q.dtype)), ov.angle_between(obj, other)),
            (oa.quat_angle_between(wxyz(other).astype(q.dtype), q), ov.angle_between(other, obj)),
        )
    for batch, single in pairs:
        assert bits(batch) == bits(np.asarray(single, dtype_of(letter)))


def test_dask_stays_lazy_and_equal():
    da = pytest.importorskip("dask.array")
    q = np.random.default_rng(1).normal(size=(30, 4))
    lazy = da.from_array(q, chunks=10)
    for got, expected in (
        (oa.euler_from_quat(lazy, "zyz", degrees=True), oa.euler_from_quat(q, "zyz", degrees=True)),
        (oa.quat_approx_equal(lazy, -lazy), oa.quat_approx_equal(q, -q)),
        (oa.quat_angle(lazy), oa.quat_angle(q)),
    ):
        assert isinstance(got, da.Array)
        np.testing.assert_array_equal(bits(got.compute()), bits(expected))
