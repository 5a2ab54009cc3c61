#!/usr/bin/env bash
# The checker's speed, each figure beside a reference measured in the same run:
#   1. vetter's throughput in lines per second on a 200,000-line program, beside the
#      front end lowerir on the same file (and wc -l as the machine's floor);
#   2. vetter's time on a 20,000-line program with 5,000 type errors, beside its time
#      on the same program without the errors.
# Usage: bench/checker.sh [build folder]   (default: build; BUILD=... works too)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD:-$root/build}}
bin=$build/bin
if [ ! -x "$bin/vetter" ]; then
  cmake --build "$build" --target vetter -j2 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The 200,000-line program: the front end's generator when the tree has it.
if [ -f "$root/bench/gen_program.py" ]; then
  python3 "$root/bench/checker_gen.py" shared 200000 "$work/big.kv" "$root/bench"
else
  python3 "$root/bench/checker_gen.py" clean 200000 "$work/big.kv"
fi
python3 "$root/bench/checker_gen.py" errors 20000 5000 "$work/errors.kv"
python3 "$root/bench/checker_gen.py" clean 20000 "$work/clean.kv"

python3 - "$bin" "$work" <<'PY'
import os, subprocess, sys, time

bin_dir, work = sys.argv[1], sys.argv[2]

def best_of(cmd, path, runs=3, want=None):
    best = None
    for _ in range(runs):
        start = time.perf_counter()
        p = subprocess.run(cmd, input=path.encode(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE)
        took = time.perf_counter() - start
        if want is not None and p.returncode != want:
            raise SystemExit(f"{cmd[0]} exited {p.returncode} on {path}: {p.stderr[-400:]!r}")
        best = took if best is None else min(best, took)
    return best, p

def lines(path):
    with open(path, "rb") as f:
        return f.read().count(b"\n")

vetter = os.path.join(bin_dir, "vetter")
big = os.path.join(work, "big.kv")
n = lines(big)
t, _ = best_of([vetter], big, want=0)
print(f"vetter   {n} lines: {t:.3f} s, {n / t:,.0f} lines/s")
lowerir = os.path.join(bin_dir, "lowerir")
if os.access(lowerir, os.X_OK):
    tr, _ = best_of([lowerir], big)
    print(f"  reference lowerir on the same file: {tr:.3f} s, {n / tr:,.0f} lines/s"
          f" (vetter takes {t / tr:.2f}x its time)")
start = time.perf_counter()
subprocess.run(["wc", "-l", big], stdout=subprocess.DEVNULL, check=True)
tw = time.perf_counter() - start
print(f"  reference wc -l on the same file: {tw:.3f} s, {n / tw:,.0f} lines/s")

errors = os.path.join(work, "errors.kv")
clean = os.path.join(work, "clean.kv")
te, p = best_of([vetter], errors, want=1)
reported = p.stderr.count(b"\r\n")
tc, _ = best_of([vetter], clean, want=0)
print(f"vetter   {lines(errors)} lines with {reported} type errors: {te * 1000:.1f} ms")
print(f"  reference the same program without errors: {tc * 1000:.1f} ms"
      f" (errors cost {te / tc:.2f}x)")
PY
