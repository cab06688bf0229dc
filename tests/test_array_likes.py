"""The package's functions take tuples, lists, arrays and buffers where they
take a vector or a quaternion, with the precision the rules give, and the
result of the object call bit for bit; and keyword calls give what the
dispatcher gives."""

import pickle
import random
import re

import numpy as np
import pytest
from conftest import cls

import orvane as ov
from orvane import _native as native

NUMBERS = {
    "Vector2": [0.5, -1.25],
    "Vector3": [0.3, -0.4, 1.2],
    "Vector4": [10.0, 20.0, 640.0, 480.0],
    "Quaternion": [0.9, 0.1, -0.3, 0.2],
}
OTHERS = {
    "Matrix4": lambda L: cls("Matrix4", L).Perspective(1.0, 4 / 3, 0.5, 50.0),
    "AABB_": lambda L: cls("AABB_", L)(cls("Vector3", L)(-1, -1, -1), cls("Vector3", L)(1, 2, 3)),
    "Plane_": lambda L: cls("Plane_", L)(cls("Vector3", L)(0, 0, 2), cls("Vector3", L)(0, 0, 1)),
    "Line_": lambda L: cls("Line_", L)(cls("Vector3", L)(0, 1, 0), cls("Vector3", L)(2, 0, 1)),
}


def float_overloads():
    """The float overload of each function that also takes array-likes: (name, stems)."""
    for name in dir(native):
        doc = getattr(native, name).__doc__ or ""
        if "ArrayLike" not in doc:
            continue
        for params in re.findall(rf"^(?:\d+\. )?{name}\((.*)\) ->", doc, re.M):
            types = [p.split(":")[1].split("|")[0].strip() for p in re.split(r", (?=\w+:)", params)]
            if "*" in params or not all(t.endswith(("f", "_f", "float")) for t in types):
                continue
            stems = [re.sub(r"^orvane_bindings\.|f$|(?<=_)f$", "", t) for t in types]
            if all(s in NUMBERS or s in OTHERS or s == "float" for s in stems):
                yield name, stems


OVERLOADS = sorted(set((n, tuple(s)) for n, s in float_overloads()))


def obj(stem, letter, numbers=NUMBERS):
    if stem == "float":
        return 0.25
    if stem in OTHERS:
        return OTHERS[stem](letter)
    return cls(stem, letter)(*numbers[stem])


def bits(result):
    return pickle.dumps(result)


FORMS = {  # an array-like of the numbers, and the precision it gives alone
    "tuple": (tuple, "d"),
    "list": (list, "d"),
    "float64 array": (lambda v: np.array(v), "d"),
    "float32 array": (lambda v: np.array(v, np.float32), "f"),
    "float64 memoryview": (lambda v: memoryview(np.array(v)), "d"),
    "strided float32 view": (lambda v: np.repeat(np.array(v, np.float32), 2)[::2], "f"),
}


@pytest.mark.parametrize("form", FORMS)
@pytest.mark.parametrize("name,stems", OVERLOADS, ids=[f"{n}{s}" for n, s in OVERLOADS])
def test_array_likes_give_the_object_result(name, stems, form):
    f = getattr(ov, name)
    make, letter = FORMS[form]
    # The numbers as a float32 array holds them, for every form that is one.
    numbers = {
        s: [float(x) for x in np.array(v, np.float32)] if letter == "f" else v
        for s, v in NUMBERS.items()
    }
    likes = [k for k, s in enumerate(stems) if s in NUMBERS]
    expected = {L: bits(f(*(obj(s, L, numbers) for s in stems))) for L in "fd"}

    def call(letter, keep=(), **kwargs):
        args = [obj(s, letter, numbers) for s in stems]
        for k in likes:
            if k not in keep:
                args[k] = make(numbers[stems[k]])
        return bits(f(*args, **kwargs))

    # Other objects among the arguments fix the precision; alone, the form does.
    fixed = len(likes) < len(stems) and any(s in OTHERS for s in stems)
    assert call(letter) == expected[letter] or fixed
    for L in "fd":
        if fixed or len(likes) > 1:
            # An object of either precision fixes it for the array-likes beside it.
            assert call(L, keep=likes[:1] if len(likes) > 1 else ()) == expected[L]
    # dtype= decides where no object does.
    if not any(s in OTHERS for s in stems):
        assert call("f", dtype=np.float32) == expected["f"]
        assert call("d", dtype="float64") == expected["d"]


MISTAKES = {
    "wrong size": (
        lambda: ov.look_at((1, 2, 3, 4), (0, 0, 0), (0, 0, 1)),
        ValueError,
        r"look_at: eye has 4 numbers; it takes 3 \(x, y, z\)",
    ),
    "rows to a per-object function": (
        lambda: ov.slerp(np.zeros((5, 4)), (1, 0, 0, 0), 0.5),
        ValueError,
        r"slerp: q0 is an array of shape \(5, 4\).*use orvane\.arrays\.quat_slerp",
    ),
    "rows without a batch form": (
        lambda: ov.look_at([[1, 2, 3]] * 2, (0, 0, 0), (0, 0, 1)),
        ValueError,
        r"look_at: eye is an array of shape \(2, 3\).*call it once per row",
    ),
    "vector of no size": (
        lambda: ov.distance((1, 2, 3, 4, 5), (1, 2, 3, 4, 5)),
        ValueError,
        "distance: a has 5 numbers; it takes 2, 3 or 4",
    ),
    "mixed precisions": (
        lambda: ov.look_at(ov.Vector3f(1, 2, 3), ov.Vector3d(0, 0, 0), (0, 0, 1)),
        TypeError,
        "look_at: eye is a Vector3f and target a Vector3d; precisions do not mix",
    ),
    "dtype against an object": (
        lambda: ov.slerp(ov.Quaternionf(), (1, 0, 0, 0), 0.5, dtype=np.float64),
        TypeError,
        "slerp: dtype float64 does not match q0, a Quaternionf",
    ),
    "dtype of no precision": (
        lambda: ov.quat_dot((1, 0, 0, 0), (1, 0, 0, 0), dtype=int),
        TypeError,
        "quat_dot: dtype must be float32 or float64",
    ),
    "text": (
        lambda: ov.rotation_vector("wxyz"),
        TypeError,
        r"rotation_vector: q must be a Quaternionf, a Quaterniond or 4 numbers \(w, x, y, z\), "
        "not str",
    ),
    "a number among the numbers": (
        lambda: ov.reflect((1, None, 3), (0, 0, 1)),
        TypeError,
        "reflect: v must be .* not a sequence holding NoneType",
    ),
    "another class": (
        lambda: ov.to_matrix3(ov.Vector3f(1, 2, 3)),
        TypeError,
        "to_matrix3: x must be a Quaternion, Euler or Pose3d object, or 4 numbers",
    ),
    "complex numbers": (
        lambda: ov.quat_between(np.ones(3, complex), (0, 0, 1)),
        TypeError,
        "quat_between: a must be .* not ndarray of dtype complex128",
    ),
    "an object for a box": (
        lambda: ov.ray_aabb((0, 0, 0), (1, 0, 0), (1, 2, 3)),
        TypeError,
        "ray_aabb: box must be an AABB_f or an AABB_d, not tuple",
    ),
}


@pytest.mark.parametrize("case", MISTAKES)
def test_mistakes_name_the_parameter_and_what_it_takes(case):
    call, error, message = MISTAKES[case]
    with pytest.raises(error, match=message):
        call()


def test_keyword_calls_take_what_positional_calls_take():
    """Keywords in every order and split, unknown and repeated ones, through the
    fast entry and through the dispatcher (tp_call), for every package function."""
    rng = random.Random(3)
    wrong = []
    for name, stems in OVERLOADS:
        f = getattr(ov, name)
        names = re.search(rf"{name}\((.*?)\)", f.__doc__).group(1)
        names = [p.split(":")[0] for p in re.split(r", (?=\w+:)", names)]
        for letter in "fd":
            args = [obj(s, letter) for s in stems]
            for _ in range(12):
                k = rng.randrange(len(names) + 1)
                keywords = dict(zip(names[k:], args[k:]))
                extra = rng.choice([{}, {}, {"nope": 1}, {names[0]: args[0]}, {"dtype": None}])
                kw = list({**keywords, **extra}.items())
                rng.shuffle(kw)
                got = [
                    outcome(lambda c=c: c(*args[:k], **dict(kw)))
                    for c in (f, lambda *a, **w: type(f).__call__(f, *a, **w))
                ]
                if got[0] != got[1]:
                    wrong.append((name, k, kw, got))
    assert wrong[:3] == []


def outcome(call):
    try:
        return bits(call())
    except Exception as e:  # noqa: BLE001 - the kind and text are compared
        return type(e), str(e)
