#!/usr/bin/env python3
"""Which assembler to build with on Linux: NASM -O0, -O1, -Ox and yasm side by side.

  bench/assemblers.py [--build DIR] [--lines N] [--skip-suite] [--candidates a,b,...]

1. Every .kv of tests/, demos/ and lib/, every example of the guide and a program of N
   lines (default 200,000, from bench/gen_program.py) go through lowerir, opt and emitasm
   once. Each candidate then assembles every module: the CPU time (user + system, which
   other work on the machine does not inflate) and the wall time of the whole suite and of
   the big program alone, and how many modules it refuses or warns about.
2. Unless --skip-suite: every compiled-program test (ctest -L program) runs with each
   candidate standing in for the assembler, through a `nasm` first on PATH that starts the
   candidate; a candidate counts as good only when every test passes.

A candidate that takes longer than --limit seconds (default 600) on one module is stopped,
and the table says so.
"""
import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench"))
import gen_program  # noqa: E402

CANDIDATES = {
    "nasm -O0": ["nasm", "-O0"],
    "nasm -O1": ["nasm", "-O1"],
    "nasm -Ox": ["nasm", "-Ox"],
    "yasm": ["yasm"],
}


def sources(build):
    found = []
    for top in ("tests", "demos", "lib"):
        for dirpath, _, names in os.walk(os.path.join(ROOT, top)):
            found += [os.path.join(dirpath, n) for n in sorted(names) if n.endswith(".kv")]
    examples = os.path.join(build, "tests", "docs", "examples")
    if os.path.isdir(examples):
        found += [os.path.join(examples, n) for n in sorted(os.listdir(examples)) if n.endswith(".kv")]
    return found


def stage(exe, path, out, cwd):
    with open(out, "wb") as f:
        p = subprocess.run([exe], input=(path + "\r\n").encode(), stdout=f, stderr=subprocess.DEVNULL,
                           cwd=cwd, timeout=600)
    return p.returncode == 0


def module(bin_dir, src, work, i):
    """The assembly the driver would assemble for src, or None when a stage refuses it."""
    stem = os.path.join(work, "m%04d" % i)
    cwd = os.path.dirname(src)
    steps = (("lowerir", src, stem + ".ir"), ("opt", stem + ".ir", stem + "_opt.ir"),
             ("emitasm", stem + "_opt.ir", stem + ".asm"))
    for exe, src_path, dst in steps:
        if not stage(os.path.join(bin_dir, exe), src_path, dst, cwd):
            return None
    return stem + ".asm" if os.path.getsize(stem + ".asm") > 0 else None


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def assemble(cmd, asm, limit):
    """(cpu s, wall s, verdict) where verdict is ok, warned, refused or stopped."""
    obj = asm[:-4] + ".obj"
    cpu, wall = children_cpu(), time.perf_counter()
    try:
        p = subprocess.run(cmd + ["-f", "win64", asm, "-o", obj], stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=limit, env=dict(os.environ, NASMENV=""))
        verdict = "refused" if p.returncode != 0 else "warned" if p.stdout.strip() else "ok"
    except subprocess.TimeoutExpired:
        verdict = "stopped"
    return children_cpu() - cpu, time.perf_counter() - wall, verdict


def run_suite(build, cmd, work):
    """Passed and failed compiled-program tests with cmd standing in for nasm."""
    shim = os.path.join(work, "shim")
    os.makedirs(shim, exist_ok=True)
    exe = shutil.which(cmd[0])
    with open(os.path.join(shim, "nasm"), "w") as f:
        f.write("#!/bin/sh\nexec %s %s \"$@\"\n" % (exe, " ".join(cmd[1:])))
    os.chmod(os.path.join(shim, "nasm"), 0o755)
    env = dict(os.environ, PATH=shim + os.pathsep + os.environ["PATH"], NASMENV="")
    p = subprocess.run(["ctest", "-j2", "-L", "program", "--timeout", "600"], cwd=build, env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    results = re.findall(r"Test +#\d+: (\S+) \.*(\s*Passed|\*\*\*\w+)", p.stdout.decode("latin-1"))
    results = [(name, verdict.strip()) for name, verdict in results if not name.startswith("kavel_wine_")]
    return sum(1 for _, v in results if v == "Passed"), [n for n, v in results if v != "Passed"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--lines", type=int, default=200000)
    ap.add_argument("--limit", type=float, default=600)
    ap.add_argument("--skip-suite", action="store_true")
    ap.add_argument("--candidates", default=",".join(CANDIDATES))
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    bin_dir = os.path.join(build, "bin")
    names = [n.strip() for n in args.candidates.split(",")]
    work = tempfile.mkdtemp(prefix="kavel-asm-")
    try:
        big = os.path.join(work, "big.kv")
        gen_program.write(big, args.lines)
        srcs = sources(build)
        modules = [m for m in (module(bin_dir, s, work, i) for i, s in enumerate(srcs)) if m]
        big_asm = module(bin_dir, big, work, len(srcs))
        asm_lines = sum(sum(1 for _ in open(m, "rb")) for m in modules)
        big_lines = sum(1 for _ in open(big_asm, "rb"))
        print("%d modules of the tree (%d assembly lines); the %d-line program: %d assembly lines"
              % (len(modules), asm_lines, args.lines, big_lines))
        print("%-10s %11s %11s %11s %11s %9s %s" % ("", "suite cpu", "suite wall", "big cpu", "big wall",
                                                 "refused", "warned"))
        for name in names:
            cmd = CANDIDATES[name]
            totals = [0.0, 0.0]
            bad = {"refused": 0, "warned": 0, "stopped": 0}
            for m in modules:
                cpu, wall, verdict = assemble(cmd, m, args.limit)
                totals[0] += cpu
                totals[1] += wall
                bad[verdict] = bad.get(verdict, 0) + 1
            cpu, wall, verdict = assemble(cmd, big_asm, args.limit)
            big_text = ("%10.2fs %10.2fs" % (cpu, wall)) if verdict != "stopped" else \
                "%21s" % ("stopped after %.0fs" % wall)
            print("%-10s %10.2fs %10.2fs %s %9d %d%s" % (name, totals[0], totals[1], big_text,
                                                        bad["refused"], bad["warned"],
                                                        "" if verdict == "ok" else "  (big: %s)" % verdict))
            sys.stdout.flush()
        if not args.skip_suite:
            print("compiled-program tests (ctest -L program) with each candidate as the assembler:")
            for name in names:
                passed, failed = run_suite(build, CANDIDATES[name], work)
                print("%-10s %d passed, %d failed %s" % (name, passed, len(failed), " ".join(failed[:10])))
                sys.stdout.flush()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
