#!/usr/bin/env python3
"""KAVEL_GC and KAVEL_HEAP_MAX as a program reads them at start-up: one program (modes.kv)
run under each value of the table below, with its standard output, standard error and
exit code checked. Under stats, standard error must be the figures' line.

  modes_test.py --bin DIR --prefix DIR --work DIR --lib DIR --tools DIR
"""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BAD_MODE = b"runtime error: KAVEL_GC must be stress, off or stats\r\n"
BAD_MAX = b"runtime error: KAVEL_HEAP_MAX must be a number of bytes, with an optional K, M or G\r\n"
OOM = b"runtime error: out of memory\r\n"
STATS = re.compile(rb"gc: (\d+) collections, (\d+) bytes allocated, peak live (\d+) bytes, "
                   rb"longest pause (\d+) us\r\n")
MADE = b"made 300000\r\n"

# (environment, arguments, standard output, standard error or "stats", exit code)
CASES = [
    ({}, ["300000"], MADE, b"", 0),
    ({"KAVEL_GC": "off"}, ["300000"], MADE, b"", 0),
    ({"KAVEL_GC": "stress"}, ["3000"], b"made 3000\r\n", b"", 0),
    ({"KAVEL_GC": "stats"}, ["300000"], MADE, "stats", 0),
    # quit and an uncaught error end through the same exit: the figures come first
    ({"KAVEL_GC": "stats"}, ["300000", "3"], MADE, "stats", 3),
    ({"KAVEL_GC": "stats", "KAVEL_HEAP_MAX": "1M"}, ["300000"], b"", "oom", 1),
    ({"KAVEL_GC": "Stress"}, ["1"], b"", BAD_MODE, 1),
    ({"KAVEL_GC": "stress,stats"}, ["1"], b"", BAD_MODE, 1),
    ({"KAVEL_GC": "x" * 80}, ["1"], b"", BAD_MODE, 1),
    ({"KAVEL_HEAP_MAX": "64M"}, ["300000"], MADE, b"", 0),
    ({"KAVEL_HEAP_MAX": "65536k"}, ["300000"], MADE, b"", 0),
    ({"KAVEL_HEAP_MAX": "1g"}, ["300000"], MADE, b"", 0),
    ({"KAVEL_HEAP_MAX": "67108864"}, ["300000"], MADE, b"", 0),
    ({"KAVEL_HEAP_MAX": "1M"}, ["300000"], b"", OOM, 1),
    ({"KAVEL_HEAP_MAX": "1M"}, ["1000"], b"made 1000\r\n", b"", 0),
    ({"KAVEL_HEAP_MAX": "12x"}, ["1"], b"", BAD_MAX, 1),
    ({"KAVEL_HEAP_MAX": "M"}, ["1"], b"", BAD_MAX, 1),
    ({"KAVEL_HEAP_MAX": "1MB"}, ["1"], b"", BAD_MAX, 1),
    ({"KAVEL_HEAP_MAX": "64 M"}, ["1"], b"", BAD_MAX, 1),
    ({"KAVEL_HEAP_MAX": "-5"}, ["1"], b"", BAD_MAX, 1),
    ({"KAVEL_HEAP_MAX": "1234567890123456"}, ["1"], b"", BAD_MAX, 1),
]


def check_stats(err, wanted_oom):
    """Problems with a standard error that must end with the figures' line."""
    head = OOM if wanted_oom else b""
    if not err.startswith(head):
        return ["no out-of-memory message before the figures: %r" % err]
    m = STATS.fullmatch(err[len(head):])
    if not m:
        return ["not the figures' line: %r" % err]
    collections, allocated, peak, _ = (int(x) for x in m.groups())
    problems = []
    if collections < 1:
        problems.append("no collection counted")
    # 300,000 texts of 16 bytes are made, and list arrays besides; all stay live
    if allocated < 300000 * 16 and not wanted_oom:
        problems.append("only %d bytes allocated" % allocated)
    if peak > allocated or (peak < 1000000 and not wanted_oom):
        problems.append("peak live %d of %d allocated" % (peak, allocated))
    return problems


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--bin", "--prefix", "--work", "--lib", "--tools"):
        ap.add_argument(opt, required=True)
    ap.add_argument("--timeout", type=float, default=60)
    args = ap.parse_args()
    sys.path.insert(0, args.tools)
    import run_program
    try:
        exe = run_program.build(args, os.path.join(HERE, "modes.kv"), "modes")
    except run_program.Failure as e:
        print("FAIL build\n%s" % e)
        return 1
    failures = 0
    for env, argv, out, err, code in CASES:
        full = run_program.program_env(args, os.path.join(args.work, "none"))
        full.pop("KAVEL_GC", None)
        full.pop("KAVEL_HEAP_MAX", None)
        full.update(env)
        p = subprocess.run(["wine", exe] + argv, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=full, cwd=args.work, timeout=args.timeout)
        problems = []
        if p.stdout != out:
            problems.append("standard output %r" % p.stdout)
        if err in ("stats", "oom"):
            problems += check_stats(p.stderr, err == "oom")
        elif p.stderr != err:
            problems.append("standard error %r" % p.stderr)
        if p.returncode != code:
            problems.append("exit code %d, expected %d" % (p.returncode, code))
        for problem in problems:
            print("FAIL %s %s: %s" % (env, argv, problem))
        failures += bool(problems)
    print("%d passed, %d failed" % (len(CASES) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
