"""Runs the header templates themselves, compiled from a C++ snippet, so that
Python results can be compared with them bit for bit.

The snippet defines ``template <class T> void run(const std::string& op, In& in)``,
which reads its arguments with ``in.scalar<T>()``, ``in.vector<T>()``, ... and
prints results with ``put``. Each case is one line of input: the precision
letter, an operation name and the arguments' scalars as hex bit patterns.
:func:`encode` turns both arguments and Python results into those tokens.
"""

import hashlib
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parent.parent
BITS = {"f": (np.float32, np.uint32), "d": (np.float64, np.uint64)}

PRELUDE = r"""
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "math/bounds.hpp"
#include "math/closest_points.hpp"
#include "math/euler.hpp"
#include "math/euler_sequences.hpp"
#include "math/frustum.hpp"
#include "math/geometry.hpp"
#include "math/matrix.hpp"
#include "math/nearest_rotation.hpp"
#include "math/planes.hpp"
#include "math/pose.hpp"
#include "math/quaternion.hpp"
#include "math/ray.hpp"
#include "math/rotation_sets.hpp"
#include "math/rotation_measures.hpp"
#include "math/rigid_motion.hpp"
#include "math/spheres.hpp"
#include "math/triangles.hpp"
#include "math/vector.hpp"

template <class T>
using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;

struct In {
    std::istream& stream;
    template <class T> T scalar() {
        std::string token;
        stream >> token;
        const Bits<T> bits = static_cast<Bits<T>>(std::stoull(token, nullptr, 16));
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    template <class T> math::Vector3<T> vector() {
        const T x = scalar<T>(), y = scalar<T>();
        return {x, y, scalar<T>()};
    }
    template <class T> math::Quaternion<T> quaternion() {
        const T w = scalar<T>(), x = scalar<T>(), y = scalar<T>();
        return {w, x, y, scalar<T>()};
    }
    template <class T> math::Vector4<T> vector4() {
        const T x = scalar<T>(), y = scalar<T>(), z = scalar<T>();
        return {x, y, z, scalar<T>()};
    }
    template <class T> math::Euler<T> euler() {
        math::Euler<T> e;
        e.x = scalar<T>(), e.y = scalar<T>(), e.z = scalar<T>();
        int order, convention;
        stream >> order >> convention;
        e.order = static_cast<math::euler::Order>(order);
        e.convention = static_cast<math::euler::Convention>(convention);
        return e;
    }
    template <class T> math::Matrix3<T> matrix3() {
        math::Matrix3<T> m;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m(i, j) = scalar<T>();
        return m;
    }
    template <class T> math::Line<T> line() { auto a = vector<T>(); return {a, vector<T>()}; }
    template <class T> math::Plane<T> plane() { auto a = vector<T>(); return {a, vector<T>()}; }
    template <class T> math::AABB<T> box() { auto a = vector<T>(); return {a, vector<T>()}; }
    // Fields set as given, the orientation unnormalized.
    template <class T> math::Pose3d<T> pose() {
        math::Pose3d<T> p;
        p.position = vector<T>();
        p.orientation = quaternion<T>();
        return p;
    }
    // Numbers with no class: exponential coordinates, dual quaternions.
    template <class T> std::array<T, 6> six() { return numbers<T, 6>(); }
    template <class T> std::array<T, 8> eight() { return numbers<T, 8>(); }
    template <class T, std::size_t N> std::array<T, N> numbers() {
        std::array<T, N> a;
        for (T& x : a) x = scalar<T>();
        return a;
    }
    // Row by row, as the Python constructor takes them.
    template <class T> math::Matrix4<T> matrix4() {
        math::Matrix4<T> m;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) m(i, j) = scalar<T>();
        return m;
    }
};

template <class T, class = std::enable_if_t<std::is_floating_point_v<T>>>
void put(T value) {
    Bits<T> bits;
    std::memcpy(&bits, &value, sizeof bits);
    std::printf(" %llx", static_cast<unsigned long long>(bits));
}
inline void put(bool value) { std::printf(" %d", value ? 1 : 0); }
inline void put(int value) { std::printf(" %d", value); }
template <class T> void put(const math::Vector3<T>& v) { put(v.x), put(v.y), put(v.z); }
template <class T> void put(const math::Quaternion<T>& q) { put(q.w), put(q.x), put(q.y), put(q.z); }
template <class T> void put(const math::AxisAngle<T>& a) { put(a.axis), put(a.angle); }
template <class M, class = typename M::Column> void put(const M& m) {
    for (int i = 0; i < M::order; ++i)
        for (int j = 0; j < M::order; ++j) put(m(i, j));
}
template <class T> void put(const math::Line<T>& l) { put(l.start), put(l.end); }
template <class T> void put(const math::Plane<T>& p) { put(p.point), put(p.normal); }
template <class T> void put(const math::AABB<T>& b) { put(b.min), put(b.max); }
template <class T> void put(const math::Pose3d<T>& p) { put(p.position), put(p.orientation); }
template <class T> void put(const math::RayInterval<T>& i) { put(i.tNear), put(i.tFar); }
template <class T> void put(const math::TriangleHit<T>& h) { put(h.t), put(h.u), put(h.v); }
template <class T> void put(const math::SegmentPoints<T>& s) { put(s.onFirst), put(s.onSecond); }
template <class T> void put(const math::TrianglePoint<T>& p) { put(p.point), put(p.u), put(p.v), put(p.w); }
template <class X> void put(const std::optional<X>& x) {
    if (x) put(*x); else std::printf(" none");
}
template <class X, std::size_t N> void put(const std::array<X, N>& xs) {
    for (const X& x : xs) put(x);
}

template <class T> void run(const std::string& op, In& in);

int main() {
    std::string letter, op;
    In in{std::cin};
    while (std::cin >> letter >> op) {
        if (letter == "f") run<float>(op, in); else run<double>(op, in);
        std::printf("\n");
    }
    return 0;
}
"""


def encode(value, letter):
    """The tokens of a value of precision `letter`: floats as hex bit
    patterns, bools and ints in decimal, None as "none", vectors, lines,
    planes, boxes, poses, matrices (row by row) and sequences flattened."""
    scalar, unsigned = BITS[letter]
    if value is None:
        return ["none"]
    if isinstance(value, bool | np.bool_):
        return [str(int(value))]
    if isinstance(value, int | np.integer):
        return [str(int(value))]
    if isinstance(value, float | np.floating):
        return [format(int(np.array(value, scalar).view(unsigned)), "x")]
    name = type(value).__name__
    if name.startswith("Euler_"):
        return [
            *encode([value.x, value.y, value.z], letter),
            str(int(value.order)),
            str(int(value.convention)),
        ]
    fields = {
        "Vector3": ("x", "y", "z"),
        "Quaternion": ("w", "x", "y", "z"),
        "Line_": ("start", "end"),
        "Plane_": ("point", "normal"),
        "AABB_": ("min", "max"),
        "Pose3d_": ("position", "orientation"),
    }.get(name[:-1])
    if fields:
        return [t for f in fields for t in encode(getattr(value, f), letter)]
    if name.startswith("Matrix"):
        n = int(name[6])
        return [t for i in range(n) for j in range(n) for t in encode(value[i, j], letter)]
    return [t for item in value for t in encode(item, letter)]


class Oracle:
    def __init__(self, program):
        self.program = program

    def __call__(self, cases):
        """Runs (letter, op, args) cases; returns each case's output tokens."""
        lines = [" ".join([letter, op, *encode(list(args), letter)]) for letter, op, args in cases]
        result = subprocess.run(
            [str(self.program)],
            input="\n".join(lines) + "\n",
            capture_output=True,
            text=True,
            timeout=60,
            check=True,
        )
        return [line.split() for line in result.stdout.splitlines()]


def compile_oracle(snippet, directory):
    """Compiles the snippet with the headers as the package is built (no
    contraction into fused multiply-adds); skips the test without g++."""
    compiler = shutil.which("g++")
    if compiler is None:
        pytest.skip("g++ is not installed")
    source = PRELUDE + snippet
    program = Path(directory) / f"oracle-{hashlib.sha256(source.encode()).hexdigest()[:16]}"
    if not program.exists():
        program.with_suffix(".cpp").write_text(source)
        built = subprocess.run(
            [
                compiler,
                "-std=c++17",
                "-O2",
                "-ffp-contract=off",
                f"-I{ROOT / 'include'}",
                str(program.with_suffix(".cpp")),
                "-o",
                str(program),
            ],
            capture_output=True,
            text=True,
            timeout=300,
        )
        assert built.returncode == 0, built.stderr
    return Oracle(program)


def dispatch_source(operations, readers, aliases):
    """A run() that reads each operation's arguments by kind and prints what
    the C++ callable returns. operations: name -> (kinds, Python call, C++
    callable); readers: kind -> In reader; aliases: type aliases of T."""
    calls = "\n".join(
        f'    if (op == "{op}") call({function}, std::tuple{{'
        + ", ".join(f"in.{readers[k]}<T>()" for k in kinds)
        + "});"
        for op, (kinds, _, function) in operations.items()
    )
    return f"""
template <class T>
void run(const std::string& op, In& in) {{
    using namespace math;
{aliases}
    // A braced list reads the arguments left to right.
    const auto call = [](auto f, auto args) {{ put(std::apply(f, args)); }};
{calls}
}}
"""


def assert_python_equals_templates(
    operations, readers, aliases, make_argument, directory, seed, per_operation
):
    """Random arguments of both precisions for every operation: the Python
    result and the compiled template's result must have the same bits."""
    oracle = compile_oracle(dispatch_source(operations, readers, aliases), directory)
    rng = np.random.default_rng(seed)
    cases, results = [], []
    for letter in "fd":
        for op, (kinds, function, _) in operations.items():
            for _ in range(per_operation):
                args = [make_argument(rng, letter, k) for k in kinds]
                cases.append((letter, op, args))
                results.append(encode(function(*args), letter))
    for case, expected, got in zip(cases, results, oracle(cases), strict=True):
        assert got == expected, case[:2]
