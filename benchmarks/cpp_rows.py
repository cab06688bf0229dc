"""Benchmark rows of the C++ kernels of include/math against GLM and Eigen:
runs the program of benchmarks/cpp/ (scripts/bench builds it) a few times
and keeps each case's fastest pass. Either peer may have been missing when it
was built; its column is then n/a.

Run alone with `python benchmarks/cpp_rows.py build/bench-cpp/kernels`;
bench.py adds the section to its report.
"""

import json
import math
import subprocess
import sys

RUNS = 3
ROUNDS = 2000
PEERS = ("GLM", "Eigen")
LIMITS = {"GLM": 1.0, "Eigen": 1.2}  # ours/peer
PACKAGES = {"GLM": "libglm-dev", "Eigen": "libeigen3-dev"}


def measure(program, runs=RUNS, rounds=ROUNDS):
    """The program's setup line and, per operation, each library's fastest ns."""
    setup, best = None, {}
    for _ in range(runs):
        done = subprocess.run([program, str(rounds)], capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError(f"{program} failed ({done.returncode}): {done.stderr.strip()}")
        setup, *rows = (json.loads(line) for line in done.stdout.splitlines())
        for row in rows:
            op = row.pop("op")
            times = best.setdefault(op, {})
            for impl, ns in row.items():
                times[impl] = min(ns, times.get(impl, math.inf))
    return setup, best


def fmt_ratio(a, b, limit):
    if b is None:
        return "n/a"
    return f"{a / b:.2f}{' ✓' if a / b <= limit else ' ✗'}"


def report(program):
    """The section of the benchmark report, as Markdown lines."""
    lines = ["## C++ kernels against GLM and Eigen", ""]
    if program is None:
        return lines + ["Not run: bench.py was given no `--kernels` program.", ""]
    setup, best = measure(program)
    missing = [p for p in PEERS if setup[p] is None]
    versions = ", ".join(f"{p} {setup[p]}" for p in PEERS if setup[p] is not None)
    lines += [
        "The headers of `include/math` compiled as a user would (`benchmarks/cpp/`: "
        f"{setup['compiler']}, `-O2 -ffp-contract=off`, no `-march`), "
        + (f"beside {versions} in their default configurations" if versions else "alone")
        + ", in one process. "
        f"Nanoseconds per operation over arrays of {setup['n']:,} random operands, each "
        "result stored to an output array: every case's fastest pass of "
        f"{RUNS} runs of {setup['rounds']:,} rounds, the cases sampled in turn, forwards "
        "and backwards in alternate rounds. The program checks that the peers' results "
        "agree with ours. Targets: at most "
        + " and ".join(f"{LIMITS[p]:.1f}x {p}" for p in PEERS)
        + ".",
        "",
    ]
    if missing:
        lines += [
            "Not found when built, so n/a: "
            + ", ".join(f"{p} (Debian package {PACKAGES[p]})" for p in missing)
            + ".",
            "",
        ]
    lines += [
        "| operation | orvane | GLM | Eigen | orvane/GLM | orvane/Eigen |",
        "|---|---:|---:|---:|---:|---:|",
    ]
    for op, times in best.items():
        ours = times["orvane"]
        peers = [times.get(p) for p in PEERS]
        lines.append(
            f"| {op} | {ours:.2f} | "
            + " | ".join("n/a" if t is None else f"{t:.2f}" for t in peers)
            + " | "
            + " | ".join(fmt_ratio(ours, t, LIMITS[p]) for p, t in zip(PEERS, peers))
            + " |"
        )
    return lines + [""]


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: python benchmarks/cpp_rows.py PROGRAM (scripts/bench builds it)")
    print("\n".join(report(sys.argv[1])))
