"""NaN in gives NaN out (or no hit) for every function of the package, and
lengths of any size give the answers of ordinary ones."""

import re

import numpy as np
import pytest

import orvane as ov
import orvane._native as native
import orvane_bindings as ob
from orvane import arrays as oa
from conftest import dtype_of

# Ordinary arguments in general position, flat, taken in turn by the
# arguments of each class: the ray VECTOR3[0] + t VECTOR3[1] starts inside
# AABB_[0] and meets PLANE_[0] and the triangle VECTOR3[2:5]; the camera of
# MATRIX4 sees AABB_[0] whole.
SAMPLES = {
    "Vector3": [(0.1, 0.2, -0.5), (0.05, 0.1, 0.9), (-1, -1, 0.5), (2, -1, 0.5), (-1, 2, 0.5)],
    "Vector2": [(0.3, -0.4), (0.5, 0.9)],
    "Vector4": [(0.1, 0.2, -0.5, 0.3), (0.05, 0.1, 0.9, -0.2)],
    "Quaternion": [(0.8, 0.2, -0.3, 0.4), (0.1, 0.7, 0.5, -0.2)],
    "Matrix2": [(1, 2, 3, 4)],
    "Line_": [(0, 0, 0, 1, 2, 3), (1, 0, 0, 0, 3, 1)],
    "Plane_": [(0, 0, 0.5, 0.1, 0.2, 1), (1, 0, 0, 1, 0.1, 0), (0, 2, 0, 0, 1, 0.2)],
    "AABB_": [(-1, -1, -1, 1, 1, 1), (0, 0, 0, 2, 3, 4)],
    "Pose3d_": [(1, 2, 3, 0.8, 0.2, -0.3, 0.4)],
    "Matrix3": [np.asarray(ov.to_matrix3(ob.Quaterniond(0.8, 0.2, -0.3, 0.4))).ravel()],
    "Matrix4": [np.asarray(ob.Matrix4d.Perspective(60, 1.5, 0.5, 20) * ov.look_at(
        ob.Vector3d(0.3, 0.2, 6), ob.Vector3d(0, 0, 0), ob.Vector3d(0, 1, 0))).ravel()],
    "Euler_": [(0.1, 0.2, 0.3)],
    "float": [(0.3,), (0.7,), (-1,), (1.5,), (0.2,), (9,)],
    "viewport": [(0, 0, 640, 480)],
}
SAMPLES["planes"] = [np.ravel([[*p.point, *p.normal] for p in ov.frustum_planes(
    ob.Matrix4d(*SAMPLES["Matrix4"][0]))])]
SAMPLES["points"] = [(0, 1, 2, -1, 0.5, 3)]
# Where a NaN is easiest to lose: rotations by 0, segments of length 0.
DEGENERATE = {**SAMPLES, "Quaternion": [(1, 0, 0, 0), (2, 0, 0, 0)],
              "Line_": [(1, 2, 3, 1, 2, 3), (0, 0, 0, 0, 0, 0)]}


def vector(letter, xyz):
    return getattr(ob, "Vector3" + letter)(*map(float, xyz))


def build(kind, letter, flat):
    """The argument of `kind` and precision `letter` made of the numbers `flat`."""
    flat = [float(x) for x in flat]
    if kind == "float":
        return flat[0]
    if kind == "viewport":
        return flat
    if kind == "points":
        return np.reshape(flat, (-1, 3)).astype(dtype_of(letter))
    if kind == "planes":
        return [build("Plane_", letter, flat[k:k + 6]) for k in range(0, 36, 6)]
    cls = getattr(ob, kind + letter)
    if kind in ("Line_", "Plane_", "AABB_"):
        return cls(vector(letter, flat[:3]), vector(letter, flat[3:]))
    if kind == "Pose3d_":
        pose = cls()  # the orientation as given, unnormalized
        pose.position = vector(letter, flat[:3])
        pose.orientation = getattr(ob, "Quaternion" + letter)(*flat[3:])
        return pose
    return cls(*flat)


def numbers(value):
    """Every number of a result, flattened."""
    if value is None:
        return []
    if isinstance(value, (bool, int, float, np.ndarray, np.generic)):
        return list(np.ravel(value).astype(float))
    if isinstance(value, (tuple, list)):
        return [x for item in value for x in numbers(item)]
    for fields in (("w", "x", "y", "z"), ("x", "y", "z"), ("start", "end"), ("point", "normal"),
                   ("min", "max"), ("position", "orientation")):
        if all(hasattr(value, f) for f in fields):
            return [x for f in fields for x in numbers(getattr(value, f))]
    return numbers(np.asarray(value))


# NaN in every argument of every package function

SIGNATURE = re.compile(r"^(?:\d+\. )?(\w+)\((.*)\) -> ", re.MULTILINE)
ARGUMENT = re.compile(r"(\w+): (?:orvane_bindings\.(\w+?)([fd])\b|(float)|(Annotated\[list\[float\], "
                      r"FixedSize\(4\)\])|(object))")
OBJECTS = {"planes": "planes", "points": "points", "dtype": None}
NO_HIT = {"ray_plane": None, "ray_aabb": None, "ray_triangle": None, "aabb_contains": False,
          "classify_aabb": -1}
# Parts documented as not read: a Matrix4's last row (and column, for the
# rotation block), a pose's position for its rotation, a NaN plane in the
# frustum (what frustum_planes gives for an infinite projection).
IGNORED = {("aabb_transform", "Matrix4"): {12, 13, 14, 15},
           ("to_quaternion", "Matrix4"): {3, 7, 11, 12, 13, 14, 15},
           ("to_matrix3", "Pose3d_"): {0, 1, 2}, ("classify_aabb", "planes"): set(range(36))}


def overloads():
    """(function name, [(parameter, kind, letter)]) of every overload of
    every function of orvane._native but the pickling hooks."""
    for name in dir(native):
        function = getattr(native, name)
        if not callable(function) or name.startswith(("__", "_state_", "_restore_")):
            continue
        for found, arguments in SIGNATURE.findall(function.__doc__ or ""):
            params = []
            for param, stem, letter, number, viewport, anything in ARGUMENT.findall(arguments):
                kind = stem or number or (viewport and "viewport") or OBJECTS[param]
                params.append((param, kind, letter))
            letters = {letter for _, _, letter in params if letter}
            params = [(p, k, letter or min(letters, default="d")) for p, k, letter in params]
            assert arguments.count(":") == len(params), arguments  # every type is known
            yield name, params


def arguments_of(params, samples):
    """Each parameter's kind, letter and sample numbers, the samples taken in turn."""
    taken = {}
    for _, kind, letter in params:
        if kind is None:
            yield kind, letter, []
            continue
        k = taken[kind] = taken.get(kind, -1) + 1
        yield kind, letter, list(np.asarray(samples[kind][k], float))


def missed(name, result):
    return name in NO_HIT and repr(result) == repr(NO_HIT[name])


OVERLOADS = list(overloads())


@pytest.mark.parametrize("name,params", OVERLOADS, ids=[
    f"{name}({','.join(str(kind) for _, kind, _ in params)}){params[0][2] if params else ''}"
    for name, params in OVERLOADS])
@pytest.mark.parametrize("samples", [SAMPLES, DEGENERATE], ids=["general", "degenerate"])
def test_nan_anywhere_gives_nan_or_no_hit(name, params, samples):
    function = getattr(native, name)
    parts = list(arguments_of(params, samples))
    call = lambda flats: function(*(build(k, letter, f) if k else None
                                    for (k, letter, _), f in zip(parts, flats, strict=True)))
    flats = [f for _, _, f in parts]
    base = call(flats)
    assert not missed(name, base) and not np.isnan(numbers(base)).any(), "samples too special"
    for i, (kind, _, flat) in enumerate(parts):
        for k in range(len(flat)):
            poisoned = [list(f) for f in flats]
            poisoned[i][k] = np.nan
            result = call(poisoned)
            if k in IGNORED.get((name, kind), ()):
                assert numbers(result) == numbers(base), (kind, k)
            else:
                assert missed(name, result) or np.isnan(numbers(result)).any(), (kind, k, result)


# NaN in every input of every batch operation

CORE = {"(4)": "Quaternion", "(3)": "Vector3", "(3,3)": "Matrix3", "(4,4)": "Matrix4",
        "(n,n)": "Matrix3", "(n)": "Vector3", "()": "float", "(6,4)": "rows"}
BATCH_INPUTS = {"ray_aabb": lambda v, b: [v[0], v[1], b[:3], b[3:]],
                "classify_aabb": lambda v, b: [b[:3], b[3:], ROWS]}
BATCH_MISS = {"ray_aabb": [np.inf, -np.inf], "classify_aabb": [-1]}
BATCH_IGNORED = {("matrix_apply_point", 0): {12, 13, 14, 15}, ("classify_aabb", 2): set(range(24))}
ROWS = native.plane_rows(build("planes", "d", SAMPLES["planes"][0])).ravel()


def batch_inputs(name, ufunc, samples):
    cores = re.findall(r"\([^)]*\)", ufunc.signature.split("->")[0])
    if name in BATCH_INPUTS:
        return BATCH_INPUTS[name](samples["Vector3"], samples["AABB_"][0]), cores
    taken = {}
    inputs = []
    for core in cores:
        kind = CORE[core]
        taken[kind] = taken.get(kind, -1) + 1
        inputs.append(ROWS if kind == "rows" else samples[kind][taken[kind]])
    return inputs, cores


def shape_of(core):
    return tuple(3 if d == "n" else int(d) for d in re.findall(r"\w+", core))


UFUNCS = {name: u for name, u in vars(native.gufuncs).items() if isinstance(u, np.ufunc)}


@pytest.mark.parametrize("samples", [SAMPLES, DEGENERATE], ids=["general", "degenerate"])
@pytest.mark.parametrize("name", UFUNCS)
def test_nan_in_any_batch_input_gives_nan_or_the_miss(name, letter, samples):
    ufunc = UFUNCS[name]
    flats, cores = batch_inputs(name, ufunc, samples)

    def call(flats):
        arrays = [np.reshape(np.asarray(f, dtype_of(letter)), shape_of(c))
                  for f, c in zip(flats, cores, strict=True)]
        with np.errstate(invalid="ignore"):  # NumPy reports NaN met in a comparison
            out = ufunc(*arrays)
        return np.concatenate([np.ravel(o).astype(float) for o in
                               (out if isinstance(out, tuple) else (out,))])

    base = call(flats)
    assert not np.isnan(base).any() and base.tolist() != BATCH_MISS.get(name)
    for i, flat in enumerate(flats):
        for k in range(len(flat)):
            poisoned = [list(np.ravel(f)) for f in flats]
            poisoned[i][k] = np.nan
            result = call(poisoned)
            if k in BATCH_IGNORED.get((name, i), ()):
                np.testing.assert_array_equal(result, base)
            else:
                assert np.isnan(result).any() or result.tolist() == BATCH_MISS.get(name), (i, k)


# Lengths of any size

def batch(ufunc, *kinds):
    """A batch operation called with one object's arrays, for the table below."""
    def call(*args):
        arrays = [np.asarray(a) if hasattr(a, "x") else a for a in args]
        return ufunc(*arrays)
    return call, kinds


# Scaling every length of the arguments by s scales each number of the
# result by 1 or by s. Kinds: v vector, q quaternion, l line, p plane, b box,
# P pose, T affine Matrix4 (its translation), M projection (all of it) and F
# six planes scale; a (angle, t), u (reflecting normal), w (viewport) and W
# (window point) do not.
RANGE = {
    "quat_from_axis_angle": (ov.quat_from_axis_angle, "va"),
    "matrix3_from_axis_angle": (ov.matrix3_from_axis_angle, "va"),
    "matrix4_from_axis_angle": (ov.matrix4_from_axis_angle, "va"),
    "axis_angle": (ov.axis_angle, "q"),
    "rotation_vector": (ov.rotation_vector, "q"),
    "to_matrix3": (ov.to_matrix3, "q"),
    "to_matrix4": (ov.to_matrix4, "q"),
    "to_matrix4_pose": (ov.to_matrix4, "P"),
    "quat_between": (ov.quat_between, "vv"),
    "slerp": (ov.slerp, "qqa"),
    "nlerp": (ov.nlerp, "qqa"),
    "angle_between": (ov.angle_between, "qq"),
    "look_at": (ov.look_at, "vvv"),
    "project": (ov.project, "WMw"),
    "unproject": (ov.unproject, "WMw"),
    "distance": (ov.distance, "vv"),
    "angle": (ov.angle, "vv"),
    "reflect": (ov.reflect, "vu"),
    "project_onto": (ov.project_onto, "vv"),
    "ray_plane": (ov.ray_plane, "vvp"),
    "ray_aabb": (ov.ray_aabb, "vvb"),
    "ray_triangle": (ov.ray_triangle, "vvvvv"),
    "closest_point_on_line": (ov.closest_point_on_line, "lv"),
    "closest_point_on_segment": (ov.closest_point_on_segment, "lv"),
    "closest_points_segments": (ov.closest_points_segments, "ll"),
    "distance_point_segment": (ov.distance_point_segment, "lv"),
    "aabb_transform_pose": (ov.aabb_transform, "bP"),
    "aabb_transform_matrix": (ov.aabb_transform, "bT"),
    "plane_from_points": (ov.plane_from_points, "vvv"),
    "intersect_planes": (ov.intersect_planes, "ppp"),
    "frustum_planes": (ov.frustum_planes, "M"),
    "classify_aabb": (ov.classify_aabb, "bF"),
    "batch quat_slerp": batch(oa.quat_slerp, *"qqa"),
    "batch quat_to_rotation_vector": batch(oa.quat_to_rotation_vector, "q"),
    "batch quat_to_matrix": batch(oa.quat_to_matrix, "q"),
    "batch ray_aabb": (lambda o, d, b: oa.ray_aabb(*map(np.asarray, (o, d, b.min, b.max))),
                       "vvb"),
}
KINDS = {"v": "Vector3", "u": "Vector3", "W": "Vector3", "q": "Quaternion", "l": "Line_",
         "p": "Plane_", "b": "AABB_", "P": "Pose3d_", "T": "Matrix4", "M": "Matrix4",
         "F": "planes", "a": "float", "w": "viewport"}
MAGNITUDES = {"f": [1e-30, 1e-19, 1, 1e19, 1e30], "d": [1e-300, 1e-155, 1, 1e155, 1e300]}


def scaled(kind, flat, s):
    """The numbers of an argument of `kind` with its lengths times s."""
    flat = np.array(flat, np.longdouble)
    if kind == "T":
        flat[[3, 7, 11]] *= s
    elif kind not in "auwW":
        flat *= s
    return flat


def evaluate(function, kinds, letter, s=1, back=1):
    """The numbers of the result for the samples scaled by s, rounded to the
    precision, then (for the reference) divided by `back` in long double."""
    taken, args = {}, []
    for kind in kinds:
        k = taken[KINDS[kind]] = taken.get(KINDS[kind], -1) + 1
        flat = scaled(kind, SAMPLES[KINDS[kind]][k], s).astype(dtype_of(letter))
        flat = scaled(kind, flat, np.longdouble(1) / back).astype(np.float64)
        args.append(build(KINDS[kind], "d" if back != 1 else letter, flat))
    return np.array(numbers(function(*args)))


@pytest.mark.parametrize("magnitude", range(5))
@pytest.mark.parametrize("name", RANGE)
def test_lengths_of_any_size_give_the_ordinary_answer(name, letter, magnitude):
    function, kinds = RANGE[name]
    s = MAGNITUDES[letter][magnitude]
    ordinary = evaluate(function, kinds, "d")
    doubled = evaluate(function, kinds, "d", s=2)
    degree = np.where((ordinary != 0) & (doubled == 2 * ordinary), 1, 0)
    assert np.all((doubled == ordinary) | (degree == 1)), "not homogeneous"
    got = evaluate(function, kinds, letter, s)
    # The double evaluation of the same rounded arguments, at ordinary size.
    reference = evaluate(function, kinds, letter, s, back=s)
    tolerance = {"f": 3e-5, "d": 1e-12}[letter]
    assert got.shape == reference.shape, (got, reference)
    np.testing.assert_allclose(got / np.float64(s) ** degree, reference, rtol=tolerance,
                               atol=tolerance)
