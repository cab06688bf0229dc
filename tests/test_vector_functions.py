import math
import re

import numpy as np
import orvane_bindings as ob
import pytest

DTYPE = {"f": np.float32, "d": np.float64}
CLASSES = [(n, p) for n in (2, 3, 4) for p in "fd"]
ORDER = [f"Vector{n}{p}" for n, p in CLASSES]
NAMES = "xyzw"


def vec_class(n, p):
    return getattr(ob, f"Vector{n}{p}")


def components(v):
    return [getattr(v, c) for c in NAMES[: len(v.numpy())]]


def bits(values, p):
    """Values as the integers of their storage, so -0 and NaN compare exactly."""
    return np.asarray(values, DTYPE[p]).view(np.int32 if p == "f" else np.int64).tolist()


@pytest.fixture(params="fd")
def letter(request):
    return request.param


@pytest.fixture(params=CLASSES, ids=ORDER)
def kind(request):
    n, p = request.param
    return n, p, vec_class(n, p)


def overload_signatures(fn):
    return re.findall(r"^\d+\. (\w+\(.*\) -> .*)$", fn.__doc__, re.MULTILINE)


@pytest.mark.parametrize(
    "name,template",
    [
        ("dot", "dot(arg0: {c}, arg1: {c}) -> float"),
        ("squareNorm", "squareNorm(arg0: {c}) -> float"),
        ("norm", "norm(arg0: {c}) -> float"),
        ("normalize", "normalize(arg0: {c}) -> {c}"),
        ("normalize_", "normalize_(arg0: {c}) -> None"),
        ("lerp", "lerp(arg0: {c}, arg1: {c}, arg2: float) -> {c}"),
    ],
)
def test_overloads_cover_every_vector_class_in_order(name, template):
    expected = [template.format(c=f"orvane_bindings.{c}") for c in ORDER]
    assert overload_signatures(getattr(ob, name)) == expected


def test_cross_covers_only_vector3():
    assert overload_signatures(ob.cross) == [
        f"cross(arg0: orvane_bindings.Vector3{p}, arg1: orvane_bindings.Vector3{p}) "
        f"-> orvane_bindings.Vector3{p}"
        for p in "fd"
    ]


def test_mixed_or_foreign_arguments_raise_type_error(kind):
    n, p, V = kind
    other_precision = vec_class(n, "d" if p == "f" else "f")(1)
    other_size = vec_class(2 if n != 2 else 3, p)(1)
    for bad in [other_precision, other_size, 1.0, None, [1.0] * n, np.ones(n, DTYPE[p])]:
        with pytest.raises(TypeError):
            ob.dot(V(1), bad)
        with pytest.raises(TypeError):
            ob.lerp(V(1), bad, 0.5)
    for bad in [1.0, [1.0] * n, np.ones(n, DTYPE[p])]:
        for fn in (ob.squareNorm, ob.norm, ob.normalize, ob.normalize_):
            with pytest.raises(TypeError):
                fn(bad)
    with pytest.raises(TypeError):
        ob.lerp(V(0), V(1), "a")
    if n != 3:
        with pytest.raises(TypeError):
            ob.cross(V(1), V(1))


def predicted_dot(a, b, t):
    acc = t(0)
    for x, y in zip(a, b):
        acc = t(acc + t(x * y))
    return acc


def test_results_are_exact_in_the_class_precision(kind):
    n, p, V = kind
    t = DTYPE[p]
    rng = np.random.default_rng(2024 + n)
    for _ in range(25):
        a = [t(x) for x in rng.uniform(-10, 10, n)]
        b = [t(x) for x in rng.uniform(-10, 10, n)]
        s = t(rng.uniform(-2, 3))
        va, vb = V(*map(float, a)), V(*map(float, b))

        assert bits([ob.dot(va, vb)], p) == bits([predicted_dot(a, b, t)], p)
        square = predicted_dot(a, a, t)
        assert bits([ob.squareNorm(va)], p) == bits([square], p)
        length = np.sqrt(square)
        assert bits([ob.norm(va)], p) == bits([length], p)
        assert bits(components(ob.normalize(va)), p) == bits([x / length for x in a], p)

        u = t(1) - s
        lerped = [x * u + s * y for x, y in zip(a, b)]
        assert bits(components(ob.lerp(va, vb, float(s))), p) == bits(lerped, p)
        assert components(va) == [float(x) for x in a]  # arguments untouched


def test_lerp_rounds_t_to_the_class_precision(kind):
    n, p, V = kind
    t = DTYPE[p]
    s = t(0.1)  # 0.1 differs in float and double, so the rounding shows
    u = t(1) - s
    expected = [t(3) * u + s * t(7)] * n
    assert bits(components(ob.lerp(V(3), V(7), 0.1)), p) == bits(expected, p)


def test_cross_is_exact_and_right_handed(letter):
    V, t = vec_class(3, letter), DTYPE[letter]
    rng = np.random.default_rng(7)
    a = [t(x) for x in rng.uniform(-10, 10, 3)]
    b = [t(x) for x in rng.uniform(-10, 10, 3)]
    expected = [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]
    got = ob.cross(V(*map(float, a)), V(*map(float, b)))
    assert bits(components(got), letter) == bits(expected, letter)
    assert components(ob.cross(V(0, 1, 0), V(0, 0, 1))) == [1, 0, 0]
    assert components(ob.cross(V(0, 0, 1), V(0, 1, 0))) == [-1, 0, 0]
    with pytest.raises(TypeError):
        ob.cross(V(1, 0, 0), vec_class(3, "d" if letter == "f" else "f")(0, 1, 0))


def test_examples(letter):
    Vd = {n: vec_class(n, letter) for n in (2, 3, 4)}
    assert ob.dot(Vd[3](1, 2, 3), Vd[3](4, 5, 6)) == 32.0
    assert ob.norm(Vd[4](1)) == 2.0
    assert ob.squareNorm(Vd[2](3, 4)) == 25.0
    assert components(ob.lerp(Vd[2](0, 0), Vd[2](10, 20), 0.25)) == [2.5, 5]
    assert components(ob.lerp(Vd[2](0, 0), Vd[2](1, 1), -1)) == [-1, -1]  # not clamped
    assert components(ob.lerp(Vd[2](4, 5), Vd[2](6, 9), 1)) == [6, 9]  # int t converts
    assert components(ob.lerp(Vd[2](4, 5), Vd[2](6, 9), 2)) == [8, 13]
    assert bits([ob.dot(Vd[2](-1), Vd[2](0))], letter) == bits([0.0], letter)  # +0
    assert all(math.isnan(c) for c in components(ob.normalize(Vd[3]())))  # no error


def test_normalize_in_place_changes_the_object_passed(kind):
    n, _, V = kind
    v = V(*([0.0] * (n - 1) + [5.0]))
    alias, view = v, v.numpy()
    assert ob.normalize_(v) is None
    expected = [0.0] * (n - 1) + [1.0]
    assert components(alias) == expected
    assert view.tolist() == expected
    w = V(3)
    fresh = ob.normalize(w)
    assert components(w) == [3.0] * n
    assert fresh is not w
