#!/usr/bin/env bash
# kavelc's wall time, split by build step, on a hello-world program and on a
# 200,000-line program, beside gcc -O0 building the equivalent C hello world in the
# same run. A step's time is measured between the progress lines kavelc prints as it
# starts each step (it flushes each line before the step runs).
# kavelc runs NASM with NASMENV=-O1 (jump sizes settled in one pass); NASM -O1 run
# directly on the same assembly is shown beside the NASM step.
# Then, in the same run: the link of hello world against the import libraries the
# configuration names and against the mingw-w64 ones; and kavel hello.kv with its cache
# switched off (it builds every time) and on (the second run on runs the stored program),
# beside Wine running the built hello.exe directly, with a warm wineserver.
# Usage: bench/driver.sh [build folder] [runs] [lines]
#   (default: build, 3 runs of hello world with the median shown, one build of a
#   200,000-line program; the link and kavel are timed 5 times as many runs)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-${BUILD:-$root/build}}" && pwd)
runs=${2:-3}
lines=${3:-200000}
bin=$build/bin
for t in kavelc vetter lowerir opt emitasm; do
  [ -x "$bin/$t" ] || cmake --build "$build" --target "$t" -j2 >/dev/null
done
work=$(mktemp -d)
prefix=$build/wineprefix
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'python3 "$root/tests/tools/wine_fixture.py" cleanup "$prefix" > /dev/null 2>&1 || true; rm -rf "$work"' EXIT
python3 "$root/tests/tools/wine_fixture.py" setup "$prefix" > /dev/null

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

python3 - "$bin" "$work" "$runs" "${KAVEL_MINGW_LIB:-/usr/x86_64-w64-mingw32/lib}" <<'PY'
import os, statistics, subprocess, sys, time

bin_dir, work, runs, mingw = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
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

def interleaved(commands, n):
    """Median wall times in seconds of n runs of each (cmd, env), taken in turns so that
    every command sees the same load on the machine."""
    samples = [[] for _ in commands]
    for _ in range(n):
        for (cmd, run_env), out in zip(commands, samples):
            t = time.perf_counter()
            subprocess.run(cmd, check=True, env=run_env, stdout=subprocess.DEVNULL)
            out.append(time.perf_counter() - t)
    return [statistics.median(s) for s in samples]

def configured(key):
    for line in open(os.path.join(bin_dir, "kavel_paths.cfg")):
        if line.startswith(key + "="):
            return line.strip()[len(key) + 1:]
    return ""

def links(n):
    """The link of hello world's object against the configured and the mingw-w64 libraries."""
    obj = os.path.join(work, "ref.obj")
    subprocess.run([configured("NASM"), "-O1", "-f", "win64", os.path.join(work, "ref.asm"), "-o", obj], check=True)
    def link(libs):
        return ([configured("LINK"), "/subsystem:console", "/entry:kv_start", "/nodefaultlib", obj] + libs
                + ["/out:" + os.path.join(work, "linked.exe")], None)
    return interleaved([link([configured(k) for k in ("MSVCRT", "KERNEL32", "WS2_32")]),
                        link([os.path.join(mingw, f) for f in ("libmsvcrt.a", "libkernel32.a", "libws2_32.a")])], n)

def kavel_runs(n):
    """kavel hello.kv without and with the cache, and the built program run by Wine itself."""
    kavel = [os.path.join(bin_dir, "kavel"), os.path.join(work, "hello.kv")]
    subprocess.run(kavel, check=True, env=env, stdout=subprocess.DEVNULL)  # stores it
    return interleaved([(kavel, dict(env, KAVEL_CACHE="off")), (kavel, env),
                        (["wine", os.path.join(work, "linked.exe")], None)], n)

hello = median_of(os.path.join(work, "hello.kv"), runs)
big = median_of(os.path.join(work, "big.kv"), 1)
hello_o1, _ = nasm_o1(os.path.join(work, "hello.kv"))
big_o1, big_asm_lines = nasm_o1(os.path.join(work, "big.kv"))
gcc = gcc_hello()
nasm_o1(os.path.join(work, "hello.kv"))  # ref.asm is hello world's again, for the link
link_ours, link_system = links(5 * runs)
kavel_cold, kavel_warm, own_start = kavel_runs(5 * runs)
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
print()
print("link of hello world (median of %d)    configured libraries %6.1f ms, mingw-w64 %6.1f ms: %.2fx"
      % (5 * runs, link_ours * 1000, link_system * 1000, link_system / link_ours))
print("kavel hello.kv (median of %d)" % (5 * runs))
print("  cache off (builds every run) %8.1f ms" % (kavel_cold * 1000))
print("  cache on, program stored     %8.1f ms   %.1fx faster" % (kavel_warm * 1000, kavel_cold / kavel_warm))
print("  wine hello.exe by itself     %8.1f ms   kavel adds %.1f ms (%.2fx)"
      % (own_start * 1000, (kavel_warm - own_start) * 1000, kavel_warm / own_start))
PY
