#!/usr/bin/env python3
"""Runs one demo the way a user does, with the runner: `kavel <demo.kv> [args]`
(checker, front end, optimiser, code generator, assembler, linker, then the
program under Wine), and compares standard output, standard error and the exit
code with the expected files of tests/demos.

  kavel_run.py --bin DIR --prefix DIR --work DIR --expected DIR <demo.kv>
"""
import argparse
import os
import subprocess
import sys


def read(path, default):
    if os.path.exists(path):
        with open(path, "rb") as f:
            return f.read()
    return default


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--bin", "--prefix", "--work", "--expected"):
        ap.add_argument(opt, required=True)
    ap.add_argument("demo")
    args = ap.parse_args()
    name = os.path.splitext(os.path.basename(args.demo))[0]
    stem = os.path.join(args.expected, name)
    expected_out = read(stem + ".out", None)
    expected_err = read(stem + ".err", b"")
    expected_code = int(read(stem + ".code", b"0").decode().strip() or "0")
    argv = [l.rstrip("\r") for l in read(stem + ".args", b"").decode().split("\n") if l != ""]

    temp = os.path.join(args.work, "temp")
    os.makedirs(temp, exist_ok=True)
    env = dict(os.environ)
    env.update({"TEMP": temp, "WINEPREFIX": os.path.abspath(args.prefix), "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml="})
    env.pop("DISPLAY", None)
    try:
        p = subprocess.run([os.path.join(args.bin, "kavel"), os.path.abspath(args.demo)] + argv,
                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=env, cwd=args.work, timeout=120)
    except subprocess.TimeoutExpired:
        print("FAIL %s: kavel did not finish within 120 s" % args.demo)
        return 1
    problems = []
    if p.stdout != expected_out:
        problems.append("standard output %r\nexpected %r" % (p.stdout, expected_out))
    if p.stderr != expected_err:
        problems.append("standard error %r\nexpected %r" % (p.stderr, expected_err))
    if p.returncode != expected_code:
        problems.append("exit code %d, expected %d" % (p.returncode, expected_code))
    if problems:
        print("FAIL kavel %s\n%s" % (args.demo, "\n".join(problems)))
        return 1
    print("ok kavel %s" % args.demo)
    return 0


if __name__ == "__main__":
    sys.exit(main())
