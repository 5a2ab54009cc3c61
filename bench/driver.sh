#!/usr/bin/env bash
# kavelc's wall time, split by build step, on a hello-world program and on a
# 200,000-line program, beside gcc -O0 building the equivalent C hello world in the
# same run. A step's time is measured between the progress lines kavelc prints as it
# starts each step (it flushes each line before the step runs).
# kavelc runs NASM with NASMENV=-O1 (jump sizes settled in one pass); NASM -O1 run
# directly on the same assembly is shown beside the NASM step.
# Usage: bench/driver.sh [build folder] [runs] [lines]
#   (default: build, 3 runs of hello world with the median shown, one build of a
#   200,000-line program)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${BUILD:-$root/build}}
runs=${2:-3}
lines=${3:-200000}
bin=$build/bin
for t in kavelc vetter lowerir opt emitasm; do
  [ -x "$bin/$t" ] || cmake --build "$build" --target "$t" -j2 >/dev/null
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/hello.kv" <<'KV'
start [
    println("Hello, world!"):
]
KV
cat > "$work/hello.c" <<'C'
#include <stdio.h>
int main(void) { puts("Hello, world!"); return 0; }
C
# The 200,000-line program: the front end's generator when the tree has it.
python3 "$root/bench/checker_gen.py" shared "$lines" "$work/big.kv" "$root/bench" 2>/dev/null

python3 - "$bin" "$work" "$runs" <<'PY'
import os, statistics, subprocess, sys, time

bin_dir, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
env = dict(os.environ, TEMP=os.path.join(work, "temp"))
steps = ["1/6  check", "2/6  lowerir", "3/6  opt  ", "4/6  cg   ", "5/6  nasm ", "6/6  link "]

def kavelc(source):
    """One build; seconds per step (start-up before step 1 as 'start'), total, driver's ms."""
    start = time.perf_counter()
    p = subprocess.Popen([os.path.join(bin_dir, "kavelc")], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    p.stdin.write((source + "\r\n").encode())
    p.stdin.close()
    marks = []
    for raw in p.stdout:
        marks.append((time.perf_counter(), raw.decode("latin-1").rstrip("\r\n")))
    p.wait()
    end = time.perf_counter()
    if p.returncode != 0:
        raise SystemExit("kavelc failed on %s:\n%s" % (source, "\n".join(m[1] for m in marks)))
    at = {line[len("[kavelc] "):]: t for t, line in marks if line.startswith("[kavelc] ")}
    times = {"start": at[steps[0]] - start}
    for i, s in enumerate(steps):
        nxt = at[steps[i + 1]] if i + 1 < len(steps) else marks[-2][0]  # the closing "-------"
        times[s] = nxt - at[s]
    times["total"] = end - start
    done = marks[-1][1]
    times["driver"] = int(done.split("done in ")[1].split(" ms")[0]) / 1000.0
    return times

def median_of(source, runs):
    samples = [kavelc(source) for _ in range(runs)]
    return {k: statistics.median(s[k] for s in samples) for k in samples[0]}

def gcc_hello():
    out = []
    for _ in range(runs):
        t = time.perf_counter()
        subprocess.run(["gcc", "-O0", os.path.join(work, "hello.c"), "-o", os.path.join(work, "hello_c")],
                       check=True)
        out.append(time.perf_counter() - t)
    return statistics.median(out)

def nasm_o1(source):
    """NASM -O1 on the assembly of source (made here with the stages themselves)."""
    ir, asm, obj = (os.path.join(work, "ref" + e) for e in (".ir", ".asm", ".obj"))
    for stage, src, dst in (("lowerir", source, ir), ("emitasm", ir, asm)):
        with open(dst, "wb") as f:
            subprocess.run([os.path.join(bin_dir, stage)], input=(src + "\r\n").encode(), stdout=f,
                           stderr=subprocess.DEVNULL, check=True)
    t = time.perf_counter()
    subprocess.run(["nasm", "-O1", "-f", "win64", asm, "-o", obj], check=True)
    took = time.perf_counter() - t
    asm_lines = sum(1 for _ in open(asm, "rb"))
    return took, asm_lines

hello = median_of(os.path.join(work, "hello.kv"), runs)
big = median_of(os.path.join(work, "big.kv"), 1)
hello_o1, _ = nasm_o1(os.path.join(work, "hello.kv"))
big_o1, big_asm_lines = nasm_o1(os.path.join(work, "big.kv"))
gcc = gcc_hello()
lines = sum(1 for _ in open(os.path.join(work, "big.kv"), "rb"))

print("kavelc wall time in ms (hello world: median of %d runs; big program: one run)" % runs)
print("%-22s %12s %16s" % ("step", "hello.kv", "%d lines" % lines))
for k in ["start"] + steps:
    label = {"start": "start-up", "6/6  link ": "6/6 link + clean-up"}.get(k, k.replace("  ", " ").strip())
    print("%-22s %12.1f %16.1f" % (label, hello[k] * 1000, big[k] * 1000))
print("%-22s %12.1f %16.1f" % ("total (wall)", hello["total"] * 1000, big["total"] * 1000))
print("%-22s %12.1f %16.1f" % ("driver's 'done in'", hello["driver"] * 1000, big["driver"] * 1000))
print("%-22s %12.1f %16.1f" % ("(nasm -O1, same .asm)", hello_o1 * 1000, big_o1 * 1000))
print("%-22s %12.1f" % ("gcc -O0 hello.c", gcc * 1000))
print("assembly of the big program: %d lines" % big_asm_lines)
print("kavelc / gcc -O0 on hello world: %.2fx" % (hello["total"] / gcc))
dominant = max(steps, key=lambda s: big[s])
print("largest step on the big program: %s (%.0f%% of the total)"
      % (dominant.strip(), 100 * big[dominant] / big["total"]))
PY
