"""NaN in gives NaN out (or no hit) for every function of the package, and
lengths of any size give the answers of ordinary ones."""

import re

import numpy as np
import orvane._native as native
import orvane_bindings as ob
import pytest
from conftest import dtype_of

import orvane as ov
from orvane import arrays as oa

# Arguments in general position, flat, taken in turn by the arguments of
# each class: the ray Vector3[0] + t Vector3[1] starts inside AABB_[0] and
# meets Plane_[0] and the triangle Vector3[2:5]; the camera of Matrix4 sees
# AABB_[0] whole.
CAMERA = np.asarray(
    ob.Matrix4d.Perspective(60, 1.5, 0.5, 20)
    * ov.look_at(ob.Vector3d(0.3, 0.2, 6), ob.Vector3d(0, 0, 0), ob.Vector3d(0, 1, 0))
)
SAMPLES = {
    "Vector3": [(0.1, 0.2, -0.5), (0.05, 0.1, 0.9), (-1, -1, 0.5), (2, -1, 0.5), (-1, 2, 0.5)],
    "Vector2": [(0.3, -0.4), (0.5, 0.9)],
    "Vector4": [(0.1, 0.2, -0.5, 0.3), (0.5, 1, 9, -2)],
    "Quaternion": [(0.8, 0.2, -0.3, 0.4), (0.1, 0.7, 0.5, -0.2)],
    "Matrix2": [(1, 2, 3, 4)],
    "Line_": [(0, 0, 0, 1, 2, 3), (1, 0, 0, 0, 3, 1)],
    "Plane_": [(0, 0, 0.5, 0.1, 0.2, 1), (1, 0, 0, 1, 0.1, 0), (0, 2, 0, 0, 1, 0.2)],
    "AABB_": [(-1, -1, -1, 1, 1, 1), (0, 0, 0, 2, 3, 4)],
    "Pose3d_": [(1, 2, 3, 0.8, 0.2, -0.3, 0.4)],
    "Matrix3": [np.ravel(ov.to_matrix3(ob.Quaterniond(0.8, 0.2, -0.3, 0.4)).numpy())],
    "Matrix4": [CAMERA.ravel()],
    "Euler_": [(0.1, 0.2, 0.3)],
    "viewport": [(0, 0, 640, 480)],
    "float": [(0.3,), (0.7,), (-1,), (1.5,), (0.2,), (9,)],
    "points": [(0, 1, 2, -1, 0.5, 3)],
    "planes": [
        np.ravel([[*p.point, *p.normal] for p in ov.frustum_planes(ob.Matrix4d(*CAMERA.ravel()))])
    ],
}
SAMPLES["twist"] = [(0.1, 0.2, -0.3, 1, 2, 3)]
SAMPLES["dual"] = [(0.8, 0.2, -0.3, 0.4, 0.1, 0.5, -0.2, 0.3)]
# Functions that take rigid transforms only, and those that refuse NaN.
RIGID = ov.to_matrix4(ob.Pose3d_d(ob.Vector3d(1, 2, 3), ob.Quaterniond(0.8, 0.2, -0.3, 0.4)))
OWN_SAMPLES = {
    name: {"Matrix4": [np.ravel(RIGID.numpy())]}
    for name in ("pose_from_matrix", "quat_from_matrix", "decompose")
}
# A viewport of no size has no inverse: the batch unproject's (4) is one.
OWN_SAMPLES["unproject"] = {"Quaternion": [(0, 0, 640, 480)]}
# A ball the ray starts inside.
OWN_SAMPLES["ray_sphere"] = {"float": [(9,)]}
RAISES = {"pose_from_matrix": ValueError, "decompose": ValueError}
SAMPLES["rows"] = [native.plane_rows(ov.frustum_planes(ob.Matrix4d(*CAMERA.ravel()))).ravel()]
# Where a NaN is easiest to lose: rotations by 0, segments of length 0.
DEGENERATE = {
    **SAMPLES,
    "Quaternion": [(1, 0, 0, 0), (2, 0, 0, 0)],
    "Line_": [(1, 2, 3, 1, 2, 3), (0, 0, 0, 0, 0, 0)],
}


def build(kind, letter, flat):
    """The argument of `kind` and precision `letter` made of the numbers `flat`."""
    flat = [float(x) for x in flat]
    vector = lambda xyz: getattr(ob, "Vector3" + letter)(*xyz)
    if kind in (None, "float", "viewport"):
        return flat[0] if kind == "float" else flat if kind else None
    if kind == "points":
        return np.reshape(flat, (-1, 3)).astype(dtype_of(letter))
    if kind == "planes":
        return [build("Plane_", letter, flat[k : k + 6]) for k in range(0, 36, 6)]
    cls = getattr(ob, kind + letter)
    if kind == "Pose3d_":
        pose = cls()  # the orientation as given, unnormalized
        pose.position, pose.orientation = vector(flat[:3]), build("Quaternion", letter, flat[3:])
        return pose
    return (
        cls(vector(flat[:3]), vector(flat[3:]))
        if kind.endswith("_") and len(flat) == 6
        else cls(*flat)
    )


def numbers(value):
    """Every number of a result, flattened."""
    if value is None:
        return []
    if isinstance(value, (bool, int, float, np.ndarray, np.generic)):
        return list(np.ravel(value).astype(float))
    if isinstance(value, (tuple, list)):
        return [x for item in value for x in numbers(item)]
    for fields in (
        ("w", "x", "y", "z"),
        ("x", "y", "z"),
        ("start", "end"),
        ("point", "normal"),
        ("min", "max"),
        ("position", "orientation"),
    ):
        if all(hasattr(value, f) for f in fields):
            return [x for f in fields for x in numbers(getattr(value, f))]
    return list(np.ravel(np.asarray(value)).astype(float))


def taken_in_turn(kinds, samples):
    """The sample numbers of each kind, the samples of one kind taken in turn."""
    taken = {}
    for kind in kinds:
        taken[kind] = taken.get(kind, -1) + 1
        yield [] if kind is None else list(np.ravel(samples[kind][taken[kind]]).astype(float))


def assert_nan_propagates(call, flats, miss, ignored):
    """NaN in each number of each argument in turn gives NaN in the result, or
    the miss, or (in the parts documented as not read) the same result."""
    base = numbers(call(flats))
    assert base != miss and not np.isnan(base).any(), "samples too special"
    for i, flat in enumerate(flats):
        for k in range(len(flat)):
            poisoned = [list(f) for f in flats]
            poisoned[i][k] = np.nan
            result = numbers(call(poisoned))
            if k in ignored.get(i, ()):
                assert result == base, (i, k)
            else:
                assert result == miss or np.isnan(result).any(), (i, k, result)


# NaN in every argument of every package function

SIGNATURE = re.compile(r"^(?:\d+\. )?(\w+)\((.*)\) -> ", re.MULTILINE)
ARGUMENT = re.compile(
    r"(\w+): (?:orvane_bindings\.(\w+?)([fd])\b|(float)|"
    r"Annotated\[list\[float\], FixedSize\(4\)\]|"
    r"collections\.abc\.Sequence\[[\w.]+\]|object)"
)
OBJECTS = {"planes": "planes", "points": "points", "dtype": None, "viewport": "viewport"}
NO_HIT = {
    "ray_plane": [],
    "ray_aabb": [],
    "ray_triangle": [],
    "ray_sphere": [],
    "aabb_contains": [0.0],
    "classify_aabb": [-1.0],
}
# Parts documented as not read: a Matrix4's last row (and column, for the
# rotation block), a pose's position for its rotation, a NaN plane in the
# frustum (what frustum_planes gives for an infinite projection).
IGNORED = {
    ("aabb_transform", "Matrix4"): {12, 13, 14, 15},
    ("to_quaternion", "Matrix4"): {3, 7, 11, 12, 13, 14, 15},
    ("quat_from_matrix", "Matrix4"): {3, 7, 11, 12, 13, 14, 15},
    ("to_matrix3", "Pose3d_"): {0, 1, 2},
    ("classify_aabb", "planes"): set(range(36)),
}
OVERLOADS = [  # every function of orvane._native but the pickling hooks
    (
        name,
        [
            (stem or number or OBJECTS[param], letter)
            for param, stem, letter, number in ARGUMENT.findall(arguments)
        ],
        arguments,
    )
    for name in dir(native)
    if not name.startswith(("__", "_state_", "_restore_", "gufuncs"))
    for _, arguments in SIGNATURE.findall(getattr(native, name).__doc__)
    # The overload for array-likes calls the functions of the others.
    if "*, dtype" not in arguments
]


@pytest.mark.parametrize("samples", [SAMPLES, DEGENERATE], ids=["general", "degenerate"])
@pytest.mark.parametrize(
    "name,params,arguments", OVERLOADS, ids=[f"{n}({a})" for n, _, a in OVERLOADS]
)
def test_nan_anywhere_gives_nan_or_no_hit(name, params, arguments, samples):
    assert arguments.count(":") == len(params)  # every parameter's type is known
    samples = {**samples, **OWN_SAMPLES.get(name, {})}
    letter = max([letter for _, letter in params] + ["d"])  # "f" if any
    kinds = [kind for kind, _ in params]
    call = lambda flats: getattr(native, name)(
        *(build(kind, letter, f) for kind, f in zip(kinds, flats, strict=True))
    )
    ignored = {i: IGNORED.get((name, kind), ()) for i, kind in enumerate(kinds)}
    if name in RAISES:
        refusing = call

        def call(flats):
            try:
                return refusing(flats)
            except RAISES[name]:
                return np.nan

    assert_nan_propagates(call, list(taken_in_turn(kinds, samples)), NO_HIT.get(name), ignored)


# NaN in every input of every batch operation

CORE = {
    "(4)": "Quaternion",
    "(3)": "Vector3",
    "(3,3)": "Matrix3",
    "(4,4)": "Matrix4",
    "(n,n)": "Matrix3",
    "(n)": "Vector3",
    "()": "float",
    "(6,4)": "rows",
    "(6)": "twist",
    "(8)": "dual",
}
BOX = {"ray_aabb": (2, 3), "classify_aabb": (0, 1)}  # the inputs that are box_min, box_max
# Reductions over a set (n among the inputs only) have their NaN test in
# test_rotation_sets.py; a bool result has no NaN: quat_approx_equal's is tested
# in test_rotation_measures.py.
UFUNCS = {
    name: u
    for name, u in vars(native.gufuncs).items()
    if isinstance(u, np.ufunc)
    and ("n" in u.signature.split("->")[1] or "n" not in u.signature)
    and not u.types[0].endswith("?")
}


@pytest.mark.parametrize("samples", [SAMPLES, DEGENERATE], ids=["general", "degenerate"])
@pytest.mark.parametrize("name", UFUNCS)
def test_nan_in_any_batch_input_gives_nan_or_the_miss(name, letter, samples):
    ufunc = UFUNCS[name]
    samples = {**samples, **OWN_SAMPLES.get(name, {})}
    cores = re.findall(r"\([^)]*\)", ufunc.signature.split("->")[0])
    flats = list(taken_in_turn([CORE[c] for c in cores], samples))
    for i, half in zip(BOX.get(name, ()), (slice(0, 3), slice(3, 6))):
        flats[i] = list(samples["AABB_"][0][half])

    def call(flats):
        arrays = [
            np.reshape(
                np.asarray(f, dtype_of(letter)),
                [int(d) for d in re.findall(r"\d", c.replace("n", "3"))],
            )
            for f, c in zip(flats, cores, strict=True)
        ]
        with np.errstate(invalid="ignore"):  # NumPy reports NaN met in a comparison
            return ufunc(*arrays)

    miss = {
        "ray_aabb": [np.inf, -np.inf],
        "ray_sphere": [np.inf, -np.inf],
        "classify_aabb": [-1.0],
    }.get(name)
    ignored = {"matrix_apply_point": {0: range(12, 16)}, "classify_aabb": {2: range(24)}}
    assert_nan_propagates(call, flats, miss, ignored.get(name, {}))


# Lengths of any size

# Scaling every length of the arguments by s scales each number of the
# result by 1 or by s. Kinds: v vector, q quaternion, l line, p plane, b box,
# P pose, T affine Matrix4 (its translation), M projection (all of it) and F
# six planes scale; a (angle, t), u (reflecting normal), w (viewport) and W
# (window point) do not.
RANGE = {
    name: (getattr(ov, name.split("/")[0]), kinds)
    for name, kinds in (
        item.split(":")
        for item in """
    quat_from_axis_angle:va matrix3_from_axis_angle:va matrix4_from_axis_angle:va axis_angle:q
    rotation_vector:q to_matrix3:q to_matrix4:q to_matrix4/pose:P quat_between:vv slerp:qqa
    nlerp:qqa angle_between:qq look_at:vvv project:WMw unproject:WMw distance:vv angle:vv
    reflect:vu project_onto:vv ray_plane:vvp ray_aabb:vvb ray_triangle:vvvvv
    closest_point_on_line:lv closest_point_on_segment:lv closest_points_segments:ll
    distance_point_segment:lv aabb_transform/pose:bP aabb_transform/matrix:bT
    plane_from_points:vvv intersect_planes:ppp frustum_planes:M classify_aabb:bF""".split()
    )
}
RANGE.update(
    {
        f"arrays.{u.__name__}": (
            lambda *a, u=u: u(*(x if isinstance(x, float) else np.asarray(x) for x in a)),
            kinds,
        )
        for u, kinds in (
            (oa.quat_slerp, "qqa"),
            (oa.quat_to_rotation_vector, "q"),
            (oa.quat_to_matrix, "q"),
        )
    }
)
KINDS = {
    "v": "Vector3",
    "u": "Vector3",
    "W": "Vector3",
    "q": "Quaternion",
    "l": "Line_",
    "p": "Plane_",
    "b": "AABB_",
    "P": "Pose3d_",
    "T": "Matrix4",
    "M": "Matrix4",
    "F": "planes",
    "a": "float",
    "w": "viewport",
}
MAGNITUDES = {"f": [1e-30, 1e-19, 1, 1e19, 1e30], "d": [1e-300, 1e-155, 1, 1e155, 1e300]}


def evaluate(function, kinds, letter, s=1, back=1):
    """The numbers of the result for the samples with their lengths times s,
    rounded to the precision, then (for the reference) divided by `back` in
    long double and evaluated in double."""
    args = []
    for kind, flat in zip(kinds, taken_in_turn([KINDS[k] for k in kinds], SAMPLES), strict=True):
        lengths = [3, 7, 11] if kind == "T" else [] if kind in "auwW" else slice(None)
        flat = np.array(flat, np.longdouble)
        flat[lengths] *= s
        flat = flat.astype(dtype_of(letter)).astype(np.longdouble)
        flat[lengths] /= back
        args.append(build(KINDS[kind], "d" if back != 1 else letter, flat.astype(float)))
    return np.array(numbers(function(*args)))


@pytest.mark.parametrize("magnitude", range(5))
@pytest.mark.parametrize("name", RANGE)
def test_lengths_of_any_size_give_the_ordinary_answer(name, letter, magnitude):
    function, kinds = RANGE[name]
    s = MAGNITUDES[letter][magnitude]
    ordinary, doubled = (evaluate(function, kinds, "d", t) for t in (1, 2))
    degree = np.where((ordinary != 0) & (doubled == 2 * ordinary), 1, 0)
    assert np.all((doubled == ordinary) | (degree == 1)), "not homogeneous"
    got = evaluate(function, kinds, letter, s)
    reference = evaluate(function, kinds, letter, s, back=s)
    assert got.shape == reference.shape, (got, reference)
    tolerance = {"f": 3e-5, "d": 1e-12}[letter]
    np.testing.assert_allclose(
        got / np.float64(s) ** degree, reference, rtol=tolerance, atol=tolerance
    )
