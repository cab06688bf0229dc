import gc

import numpy as np
import pytest
from conftest import cls, dtype_of
from scipy.spatial.transform import Rotation

COUNT_ERROR = "Incompatible array size, expected 3 elements"
OTHER = {"f": "d", "d": "f"}
TWO_VECTOR_CLASSES = {
    "Line_": ("start", "end"),
    "Plane_": ("point", "normal"),
    "AABB_": ("min", "max"),
}


def vec(letter, *xyz):
    return cls("Vector3", letter)(*xyz)


def xyz(v):
    return [v.x, v.y, v.z]


def random_points(rng, letter, count):
    return [[dtype_of(letter)(c) for c in rng.uniform(-10, 10, 3)] for _ in range(count)]


# Line


def test_line_measures_to_the_infinite_line(letter):
    line = cls("Line_", letter)(vec(letter, 0, 0, 0), vec(letter, 1, 0, 0))
    assert line.distanceTo(vec(letter, 5, 2, 0)) == 2.0  # beyond the end point
    assert line.distanceTo(vec(letter, 0.5, 0, 0)) == 0.0
    assert line.distanceTo(vec(letter, 0, 0, 3)) == 3.0
    point = cls("Line_", letter)(vec(letter, 1, 1, 1), vec(letter, 1, 1, 1))
    assert np.isnan(point.distanceTo(vec(letter, 1, 1, 1)))
    assert np.isnan(point.distanceTo(vec(letter, 7, 0, 0)))


def predicted_line_distance(s, e, p, dt):
    u = [p[i] - s[i] for i in range(3)]
    v = [p[i] - e[i] for i in range(3)]
    r = [u[1] * v[2] - v[1] * u[2], u[2] * v[0] - v[2] * u[0], u[0] * v[1] - v[0] * u[1]]
    d = [e[i] - s[i] for i in range(3)]
    numerator = np.sqrt(((r[0] * r[0] + dt(0)) + r[1] * r[1]) + r[2] * r[2])
    denominator = np.sqrt(((d[0] * d[0] + dt(0)) + d[1] * d[1]) + d[2] * d[2])
    return numerator / denominator


def test_line_distance_is_computed_in_its_precision(letter):
    rng = np.random.default_rng(7)
    for _ in range(50):
        s, e, p = random_points(rng, letter, 3)
        line = cls("Line_", letter)(vec(letter, *s), vec(letter, *e))
        assert line.distanceTo(vec(letter, *p)) == predicted_line_distance(
            s, e, p, dtype_of(letter)
        )


# Plane


def test_plane_uses_its_normal_unnormalized(letter):
    plane = cls("Plane_", letter)(vec(letter, 0, 0, 1), vec(letter, 0, 0, 2))
    assert xyz(plane.normal) == [0, 0, 2]
    assert plane.signedDistanceTo(vec(letter, 0, 0, 3)) == 4.0
    assert plane.signedDistanceTo(vec(letter, 0, 0, -1)) == -4.0
    assert plane.distanceTo(vec(letter, 0, 0, -1)) == 4.0
    assert xyz(plane.project(vec(letter, 1, 2, 3))) == [1, 2, -5]
    standard = cls("Plane_", letter)()
    assert xyz(standard.project(vec(letter, 1, 2, 3))) == [1, 2, 0]
    assert standard.signedDistanceTo(vec(letter, 0, 0, -2)) == -2.0


def test_plane_measures_in_its_precision(letter):
    dt = dtype_of(letter)
    rng = np.random.default_rng(11)
    for _ in range(50):
        point, normal, p = random_points(rng, letter, 3)
        plane = cls("Plane_", letter)(vec(letter, *point), vec(letter, *normal))
        s = (((p[0] - point[0]) * normal[0] + dt(0)) + (p[1] - point[1]) * normal[1]) + (
            p[2] - point[2]
        ) * normal[2]
        assert plane.signedDistanceTo(vec(letter, *p)) == s
        assert plane.distanceTo(vec(letter, *p)) == abs(s)
        assert xyz(plane.project(vec(letter, *p))) == [p[i] - s * normal[i] for i in range(3)]


def test_plane_project_of_an_array_is_a_fresh_array(letter):
    plane = cls("Plane_", letter)()
    given = np.array([1.0, 2.0, 3.0], dtype_of(letter))
    projected = plane.project(given)
    assert projected.dtype == dtype_of(letter) and projected.shape == (3,)
    assert projected.flags.owndata and projected.flags.writeable
    assert projected.tolist() == [1, 2, 0]
    projected[0] = 9
    assert given[0] == 1 and plane.project(given)[0] == 1


# Box


def test_box_corners_follow_the_bit_order(letter):
    box = cls("AABB_", letter)(vec(letter, 0, 0, 0), vec(letter, 1, 2, 3))
    corners = box.computeCorners()
    assert type(corners) is list
    assert all(type(c) is cls("Vector3", letter) for c in corners)
    assert [xyz(c) for c in corners] == [
        [0, 0, 0],
        [0, 0, 3],
        [0, 2, 0],
        [0, 2, 3],
        [1, 0, 0],
        [1, 0, 3],
        [1, 2, 0],
        [1, 2, 3],
    ]
    corners[7].x = 50
    assert box.max.x == 1 and box.computeCorners()[7].x == 1
    assert xyz(box.computeCenter()) == [0.5, 1, 1.5]


def test_default_box_covers_all_of_space(letter):
    box = cls("AABB_", letter)()
    assert xyz(box.min) == [-np.inf] * 3 and xyz(box.max) == [np.inf] * 3
    assert all(np.isnan(xyz(box.computeCenter())))
    inverted = cls("AABB_", letter)(vec(letter, 5, 0, 0), vec(letter, 0, 1, 1))
    assert box.intersects(inverted) and inverted.intersects(box)


@pytest.mark.parametrize(
    "lo,hi,expected",
    [
        ((1, 1, 1), (2, 2, 2), True),  # touching corner
        ((1.0001, 1, 1), (2, 2, 2), False),
        ((0.2, 1.5, 0.2), (0.8, 2, 0.8), False),  # apart in y only
        ((0.2, 0.2, -3), (0.8, 0.8, -2), False),  # apart in z only
        ((0.2, 0.2, 0.2), (0.3, 0.3, 0.3), True),  # inside
    ],
)
def test_boxes_overlap_when_closed_ranges_meet(letter, lo, hi, expected):
    unit = cls("AABB_", letter)(vec(letter, 0, 0, 0), vec(letter, 1, 1, 1))
    other = cls("AABB_", letter)(vec(letter, *lo), vec(letter, *hi))
    assert unit.intersects(other) is expected
    assert other.intersects(unit) is expected


def test_inverted_box_meets_only_boxes_spanning_its_gap(letter):
    inverted = cls("AABB_", letter)(vec(letter, 5, 0, 0), vec(letter, 0, 1, 1))
    inside = cls("AABB_", letter)(vec(letter, 1, 0, 0), vec(letter, 2, 1, 1))
    spanning = cls("AABB_", letter)(vec(letter, -1, 0, 0), vec(letter, 6, 1, 1))
    assert not inverted.intersects(inside)
    assert inverted.intersects(spanning)
    with pytest.raises(TypeError):
        inverted.intersects(cls("AABB_", OTHER[letter])())


# Properties: references into the owner


@pytest.mark.parametrize("stem,names", TWO_VECTOR_CLASSES.items())
def test_properties_refer_into_their_owner(letter, stem, names):
    for name in names:
        owner = cls(stem, letter)()
        member = getattr(owner, name)
        member.x = 3
        assert getattr(owner, name).x == 3
        del owner
        gc.collect()
        member.y = 4  # still valid: the member keeps its owner alive
        assert xyz(member)[:2] == [3, 4]
        view = getattr(cls(stem, letter)(), name).numpy()
        gc.collect()
        view[2] = 8
        assert view.tolist()[2] == 8


@pytest.mark.parametrize("stem,names", TWO_VECTOR_CLASSES.items())
def test_property_assignment_copies_the_exact_class_only(letter, stem, names):
    owner = cls(stem, letter)()
    given = vec(letter, 1, 2, 3)
    setattr(owner, names[0], given)
    given.x = 9
    assert xyz(getattr(owner, names[0])) == [1, 2, 3]
    for wrong in ([1, 2, 3], np.zeros(3, dtype_of(letter)), vec(OTHER[letter], 1, 2, 3)):
        with pytest.raises(TypeError):
            setattr(owner, names[1], wrong)


# Overloads: anything NumPy reads as three numbers reaches the array rows


def test_lists_and_other_precisions_take_the_array_overloads(letter):
    line = cls("Line_", letter)([0, 0, 0], [1, 0, 0])
    assert line.distanceTo([5, 2, 0]) == 2.0
    assert line.distanceTo(vec(OTHER[letter], 5, 2, 0)) == 2.0
    assert xyz(line.end) == [1, 0, 0]
    box = cls("AABB_", letter)((0, 0, 0), np.array([[1], [2], [3]]))
    assert xyz(box.max) == [1, 2, 3]
    projected = cls("Plane_", letter)().project(vec(OTHER[letter], 1, 2, 3))
    assert isinstance(projected, np.ndarray) and projected.dtype == dtype_of(letter)
    assert projected.tolist() == [1, 2, 0]
    assert cls("Plane_", letter)().project(vec(letter, 1, 2, 3)).z == 0


@pytest.mark.parametrize("stem", TWO_VECTOR_CLASSES)
def test_wrong_element_counts_raise(letter, stem):
    for first, second in ((np.zeros(4), np.zeros(3)), (np.zeros(3), [1, 2]), (5, [1, 2, 3])):
        with pytest.raises(RuntimeError, match=f"^{COUNT_ERROR}$"):
            cls(stem, letter)(first, second)
    with pytest.raises(TypeError):
        cls(stem, letter)(cls(stem, letter)())  # no copy constructor


@pytest.mark.parametrize(
    "call",
    [
        lambda p: cls("Line_", p)().distanceTo(5),
        lambda p: cls("Plane_", p)().signedDistanceTo([1, 2]),
        lambda p: cls("Plane_", p)().distanceTo(np.zeros((2, 2))),
        lambda p: cls("Plane_", p)().project(1.5),
    ],
)
def test_numbers_and_wrong_shapes_raise_the_count_error(letter, call):
    with pytest.raises(RuntimeError, match=f"^{COUNT_ERROR}$"):
        call(letter)


def test_strided_arrays_are_read_through_their_strides(letter):
    data = np.arange(6, dtype=dtype_of(letter))[::2]  # 0, 2, 4
    line = cls("Line_", letter)(data, data[::-1])
    assert xyz(line.start) == [0, 2, 4] and xyz(line.end) == [4, 2, 0]


# Text forms


def test_reprs(letter):
    v = f"Vector3{letter}"
    assert repr(cls("Line_", letter)()) == (
        f"<Line\n  start: {v}(0, 0, 0)\n  end: {v}(0, 0, 0)\n>\n"
    )
    line = cls("Line_", letter)(vec(letter, 0, 0, 0), vec(letter, 1, 0.5, 1 / 3))
    assert repr(line).splitlines()[2] == f"  end: {v}(1, 0.5, 0.333333)"
    assert repr(cls("Plane_", letter)()) == (
        f"<Plane\n  point: {v}(0, 0, 0)\n  normal: {v}(0, 0, 1)\n>\n"
    )
    assert repr(cls("AABB_", letter)()) == (
        f"<AABB\n  min: {v}(-inf, -inf, -inf)\n  max: {v}(inf, inf, inf)\n>\n"
    )
    assert str(cls("AABB_", letter)()) == repr(cls("AABB_", letter)())


@pytest.mark.parametrize("stem", [*TWO_VECTOR_CLASSES, "Pose3d_"])
def test_reprs_print_nan_without_its_sign(letter, stem):
    nan = float("nan")
    owner = cls(stem, letter)()
    for name in TWO_VECTOR_CLASSES.get(stem, ["position"]):
        setattr(owner, name, vec(letter, -nan, nan, 1))
    if stem == "Pose3d_":
        owner.orientation = cls("Quaternion", letter)(-nan, nan, -nan, 1)
    text = repr(owner)
    assert "-nan" not in text and text.count("(nan, nan, ") == 2


def test_corners_signature_names_the_vector_class(letter):
    doc = cls("AABB_", letter).computeCorners.__doc__
    assert f"-> Annotated[list[orvane_bindings.Vector3{letter}], FixedSize(8)]" in doc


# Pose


def quat(letter, *wxyz):
    return cls("Quaternion", letter)(*wxyz)


def wxyz(q):
    return [q.w, q.x, q.y, q.z]


def quarter_turn_at_x(letter):
    return cls("Pose3d_", letter)(
        vec(letter, 1, 0, 0), cls("Quaternion", letter).RotationZ(np.pi / 2)
    )


def random_pose(rng, letter):
    q = quat(letter, *rng.uniform(-1, 1, 4))
    return cls("Pose3d_", letter)(vec(letter, *rng.uniform(-5, 5, 3)), q)


def assert_close(actual, expected, letter):
    np.testing.assert_allclose(actual, expected, atol=2e-6 if letter == "f" else 1e-13)


def test_quarter_turn_pose(letter):
    a = quarter_turn_at_x(letter)
    assert_close(xyz(a.apply(vec(letter, 1, 0, 0))), [1, 1, 0], letter)
    assert_close(xyz(a * vec(letter, 1, 0, 0)), [1, 1, 0], letter)
    assert_close(xyz(a.inverse().apply(vec(letter, 1, 1, 0))), [1, 0, 0], letter)
    twice = a * a
    assert type(twice) is cls("Pose3d_", letter)
    assert_close(xyz(twice.apply(vec(letter, 1, 0, 0))), [0, 1, 0], letter)
    assert_close(xyz(twice.position), [1, 1, 0], letter)


def test_pose_operations_follow_their_quaternion_steps(letter):
    rng = np.random.default_rng(3)
    for _ in range(20):
        a, b = random_pose(rng, letter), random_pose(rng, letter)
        v = vec(letter, *rng.uniform(-5, 5, 3))
        assert xyz(a.apply(v)) == xyz(a.position + a.orientation.rotate(np.array(xyz(v))))
        ab = a * b
        assert xyz(ab.position) == xyz(a.position + a.orientation.rotate(np.array(xyz(b.position))))
        assert wxyz(ab.orientation) == wxyz((a.orientation * b.orientation).normalize().normalize())
        inverse = a.inverse()
        qi = a.orientation.inverse()
        assert xyz(inverse.position) == xyz(-qi.rotate(np.array(xyz(a.position))))
        assert wxyz(inverse.orientation) == wxyz(qi.normalize())


def test_composition_applies_the_right_pose_first(letter):
    rng = np.random.default_rng(5)
    for _ in range(20):
        a, b = random_pose(rng, letter), random_pose(rng, letter)
        v = vec(letter, *rng.uniform(-5, 5, 3))
        assert_close(xyz((a * b).apply(v)), xyz(a.apply(b.apply(v))), letter)
        for identity in (a * a.inverse(), a.inverse() * a):
            assert_close(xyz(identity.position), [0, 0, 0], letter)
            assert identity.orientation == quat(letter)


def test_pose_constructors_normalize_but_assignment_does_not(letter):
    p = cls("Pose3d_", letter)(vec(letter, 1, 2, 3), quat(letter, 2, 0, 0, 0))
    assert wxyz(p.orientation) == [1, 0, 0, 0]
    p.orientation = quat(letter, 2, 0, 0, 0)
    assert wxyz(p.orientation) == [2, 0, 0, 0]
    assert xyz(p.apply(vec(letter, 4, 5, 6))) == [5, 7, 9]  # rotates without scaling
    p.orientation.normalize_()  # through the reference, into the pose
    assert wxyz(p.orientation) == [1, 0, 0, 0]


def test_pose_from_a_rotation_matrix(letter):
    m = cls("Matrix3", letter).RotationX(0.4) * cls("Matrix3", letter).RotationZ(-2.5)
    p = cls("Pose3d_", letter)(vec(letter, 0, 0, 0), m)
    o = p.orientation
    q = cls("Quaternion", letter)(m)
    assert wxyz(o) == wxyz(q.normalize())
    rotation = Rotation.from_quat([o.x, o.y, o.z, o.w])
    assert_close(rotation.as_matrix(), m.numpy(), letter)


def test_pose_matrix(letter):
    assert cls("Pose3d_", letter)().toMatrix() == cls("Matrix4", letter).Identity()
    a = quarter_turn_at_x(letter)
    m = a.toMatrix()
    assert type(m) is cls("Matrix4", letter)
    assert xyz(m[3]) + [m[3].w] == [1, 0, 0, 1]
    o = a.orientation
    assert_close(m.numpy()[:3, :3], Rotation.from_quat([o.x, o.y, o.z, o.w]).as_matrix(), letter)
    assert m.numpy()[3].tolist() == [0, 0, 0, 1]


def test_pose_array_overloads(letter):
    other = OTHER[letter]
    p = cls("Pose3d_", letter)()
    for result in (p * vec(other, 1, 2, 3), p.apply(np.array([1, 2, 3])), p * [1, 2, 3]):
        assert isinstance(result, np.ndarray) and result.dtype == dtype_of(letter)
        assert result.shape == (3,) and result.tolist() == [1, 2, 3]
    for number in (2.0, 2):
        with pytest.raises(RuntimeError, match=f"^{COUNT_ERROR}$"):
            p * number
    with pytest.raises(TypeError):
        p * cls("Pose3d_", other)()
    with pytest.raises(TypeError):
        cls("Pose3d_", letter)(np.zeros(3), np.array([1.0, 0, 0, 0]))


def test_pose_properties_keep_their_owner_alive(letter):
    p = quarter_turn_at_x(letter)
    position, orientation = p.position, p.orientation
    del p
    gc.collect()
    position.x = 7
    assert orientation == cls("Quaternion", letter).RotationZ(np.pi / 2)
    with pytest.raises(TypeError):
        cls("Pose3d_", letter)().orientation = quat(OTHER[letter])


def test_pose_repr(letter):
    dtype = "float32" if letter == "f" else "float64"
    assert repr(cls("Pose3d_", letter)()) == (
        f"<Pose3d\n  pos: Vector3{letter}(0, 0, 0)\n  quat: Quaternion{letter}(1, 0, 0, 0)\n"
        f"  dtype: {dtype}\n>"
    )
    p = cls("Pose3d_", letter)(vec(letter, 1, 2.5, -3), quat(letter, 1, 1, 0, 0))
    assert repr(p).splitlines()[1:3] == [
        f"  pos: Vector3{letter}(1, 2.5, -3)",
        f"  quat: Quaternion{letter}(0.707107, 0.707107, 0, 0)",
    ]
