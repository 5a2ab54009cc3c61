#!/usr/bin/env bash
# Generated code: four programs built by our stages (with opt and without) and run under Wine,
# timed beside the same programs in C (gcc -O0), Lua 5.4 and CPython in the same run, net of
# each one's start-up (the time of an empty program), printed as ratios to gcc -O0.
#
#   bench/codegen.sh [build-folder]     (default: build; needs lowerir, opt and emitasm there)
#
# Each program runs REPS times (default 5) and the least processor time counts.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
REPS="${REPS:-5}"
# shellcheck source=bench/programs.sh
source "$ROOT/bench/programs.sh"
for tool in gcc lua5.4 python3 nasm lld-link wine "$BIN/opt"; do
  command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 1; }
done

# ---- the programs: Kavel, C, Lua, Python ------------------------------------------------
cat > "$WORK/empty.kv" <<'EOF'
start [
]
EOF
echo 'int main(void) { return 0; }' > "$WORK/empty.c"
: > "$WORK/empty.lua"
: > "$WORK/empty.py"

cat > "$WORK/fib.kv" <<'EOF'
fn fib(int n) -> int [
  when n < 2 [ give n: ]
  give fib(n - 1) + fib(n - 2):
]
start [ kvlog(fib(34)): ]
EOF
cat > "$WORK/fib.c" <<'EOF'
#include <stdio.h>
long fib(long n) { if (n < 2) return n; return fib(n - 1) + fib(n - 2); }
int main(void) { printf("%ld\n", fib(34)); return 0; }
EOF
cat > "$WORK/fib.lua" <<'EOF'
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
print(fib(34))
EOF
cat > "$WORK/fib.py" <<'EOF'
def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)
print(fib(34))
EOF

cat > "$WORK/loops.kv" <<'EOF'
start [
  let int total = 0:
  loop i in 1 to 5000 [
    loop j in 1 to 5000 [
      total = total + (i * j) % 7:
    ]
  ]
  kvlog(total):
]
EOF
cat > "$WORK/loops.c" <<'EOF'
#include <stdio.h>
int main(void) {
  long total = 0;
  for (long i = 1; i <= 5000; i++)
    for (long j = 1; j <= 5000; j++) total = total + (i * j) % 7;
  printf("%ld\n", total);
  return 0;
}
EOF
cat > "$WORK/loops.lua" <<'EOF'
local total = 0
for i = 1, 5000 do for j = 1, 5000 do total = total + (i * j) % 7 end end
print(total)
EOF
cat > "$WORK/loops.py" <<'EOF'
total = 0
for i in range(1, 3001):
    for j in range(1, 3001):
        total = total + (i * j) % 7
print(total)
EOF

cat > "$WORK/quicksort.kv" <<'EOF'
fn sort(list xs, int lo, int hi) [
  when lo >= hi [ give 0: ]
  let int pivot = xs{(lo + hi) / 2}:
  let int i = lo:
  let int j = hi:
  loop while i <= j [
    loop while xs{i} < pivot [ i = i + 1: ]
    loop while xs{j} > pivot [ j = j - 1: ]
    when i <= j [
      let int t = xs{i}:
      xs{i} = xs{j}:
      xs{j} = t:
      i = i + 1:
      j = j - 1:
    ]
  ]
  sort(xs, lo, j):
  sort(xs, i, hi):
]
start [
  let list xs = {}:
  let int seed = 42:
  loop 1000000 [
    seed = (seed * 1103515245 + 12345) % 2147483648:
    push(xs, seed % 1000000):
  ]
  sort(xs, 0, len(xs) - 1):
  kvlog(xs{0}, xs{500000}, xs{999999}):
]
EOF
cat > "$WORK/quicksort.c" <<'EOF'
#include <stdio.h>
static long xs[1000000];
void sort(long lo, long hi) {
  if (lo >= hi) return;
  long pivot = xs[(lo + hi) / 2], i = lo, j = hi;
  while (i <= j) {
    while (xs[i] < pivot) i = i + 1;
    while (xs[j] > pivot) j = j - 1;
    if (i <= j) { long t = xs[i]; xs[i] = xs[j]; xs[j] = t; i = i + 1; j = j - 1; }
  }
  sort(lo, j);
  sort(i, hi);
}
int main(void) {
  long seed = 42;
  for (long k = 0; k < 1000000; k++) { seed = (seed * 1103515245 + 12345) % 2147483648; xs[k] = seed % 1000000; }
  sort(0, 999999);
  printf("%ld %ld %ld\n", xs[0], xs[500000], xs[999999]);
  return 0;
}
EOF
cat > "$WORK/quicksort.lua" <<'EOF'
local xs = {}
local function sort(lo, hi)
  if lo >= hi then return end
  local pivot, i, j = xs[(lo + hi) // 2], lo, hi
  while i <= j do
    while xs[i] < pivot do i = i + 1 end
    while xs[j] > pivot do j = j - 1 end
    if i <= j then xs[i], xs[j] = xs[j], xs[i]; i = i + 1; j = j - 1 end
  end
  sort(lo, j); sort(i, hi)
end
local seed = 42
for k = 0, 999999 do seed = (seed * 1103515245 + 12345) % 2147483648; xs[k] = seed % 1000000 end
sort(0, 999999)
print(xs[0] .. " " .. xs[500000] .. " " .. xs[999999])
EOF
cat > "$WORK/quicksort.py" <<'EOF'
import sys
sys.setrecursionlimit(10000)
xs = []
def sort(lo, hi):
    if lo >= hi:
        return
    pivot, i, j = xs[(lo + hi) // 2], lo, hi
    while i <= j:
        while xs[i] < pivot: i += 1
        while xs[j] > pivot: j -= 1
        if i <= j:
            xs[i], xs[j] = xs[j], xs[i]
            i += 1
            j -= 1
    sort(lo, j)
    sort(i, hi)
seed = 42
for k in range(1000000):
    seed = (seed * 1103515245 + 12345) % 2147483648
    xs.append(seed % 1000000)
sort(0, 999999)
print(xs[0], xs[500000], xs[999999])
EOF

cat > "$WORK/floats.kv" <<'EOF'
start [
  let float sum = 0.0:
  let float x = 0.0:
  loop i in 1 to 20000000 [
    x = x + 1.0:
    sum = sum + 1.0 / (x * x):
  ]
  kvlog(sum):
]
EOF
cat > "$WORK/floats.c" <<'EOF'
#include <stdio.h>
int main(void) {
  double sum = 0.0, x = 0.0;
  for (long i = 1; i <= 20000000; i++) { x = x + 1.0; sum = sum + 1.0 / (x * x); }
  printf("%.6f\n", sum);
  return 0;
}
EOF
cat > "$WORK/floats.lua" <<'EOF'
local sum, x = 0.0, 0.0
for i = 1, 20000000 do x = x + 1.0; sum = sum + 1.0 / (x * x) end
print(string.format("%.6f", sum))
EOF
cat > "$WORK/floats.py" <<'EOF'
s = 0.0
x = 0.0
for i in range(1, 20000001):
    x = x + 1.0
    s = s + 1.0 / (x * x)
print("%.6f" % s)
EOF

# ---- build --------------------------------------------------------------------------
build() {
  local name="$1" suffix="$2" ir
  echo "$WORK/$name.kv" | "$BIN/lowerir" > "$WORK/$name.ir" 2> /dev/null
  ir="$WORK/$name.ir"
  if [ "$suffix" = opt ]; then
    echo "$WORK/$name.ir" | "$BIN/opt" > "$WORK/${name}_opt.ir" 2> /dev/null
    ir="$WORK/${name}_opt.ir"
  fi
  echo "$ir" | "$BIN/emitasm" > "$WORK/$name.$suffix.asm" 2> /dev/null
  nasm -O1 -f win64 -o "$WORK/$name.$suffix.obj" "$WORK/$name.$suffix.asm"
  lld-link /nologo /subsystem:console /entry:kv_start /nodefaultlib "$WORK/$name.$suffix.obj" \
    "$LIB/libmsvcrt.a" "$LIB/libkernel32.a" "$LIB/libws2_32.a" "/out:$WORK/$name.$suffix.exe" > /dev/null
}

# The least processor time (user and system, of the program and what it starts) of REPS
# runs, in milliseconds: unlike wall time, it does not grow when the machine is busy.
best_ms() {
  python3 - "$REPS" "$@" <<'EOF'
import resource, subprocess, sys
reps, cmd = int(sys.argv[1]), sys.argv[2:]
best = None
for _ in range(reps):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    dt = (after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime) * 1000
    best = dt if best is None or dt < best else best
print("%.1f" % best)
EOF
}

NAMES="empty fib loops quicksort floats"
for n in $NAMES; do
  build "$n" plain
  build "$n" opt
  gcc -O0 -o "$WORK/$n.gcc" "$WORK/$n.c"
done

printf '%-10s %9s %9s %9s %9s %9s   %s\n' program gcc_O0 kavel_opt kavel lua cpython "(net ms; ratios to gcc -O0)"
declare -A base
for n in $NAMES; do
  g=$(best_ms "$WORK/$n.gcc")
  ko=$(best_ms wine "$WORK/$n.opt.exe")
  kp=$(best_ms wine "$WORK/$n.plain.exe")
  l=$(best_ms lua5.4 "$WORK/$n.lua")
  p=$(best_ms python3 "$WORK/$n.py")
  if [ "$n" = empty ]; then
    base=([g]=$g [ko]=$ko [kp]=$kp [l]=$l [p]=$p)
    printf '%-10s %9s %9s %9s %9s %9s   start-up\n' "$n" "$g" "$ko" "$kp" "$l" "$p"
    continue
  fi
  python3 - "$n" "$g" "$ko" "$kp" "$l" "$p" "${base[g]}" "${base[ko]}" "${base[kp]}" "${base[l]}" "${base[p]}" <<'EOF'
import sys
n = sys.argv[1]
g, ko, kp, l, p, bg, bko, bkp, bl, bp = map(float, sys.argv[2:])
net = [max(v - b, 0.1) for v, b in ((g, bg), (ko, bko), (kp, bkp), (l, bl), (p, bp))]
print("%-10s %9.0f %9.0f %9.0f %9.0f %9.0f" % (n, *net))
print("%-10s %9s %9.2f %9.2f %9.2f %9.2f" % ("", "1", *[v / net[0] for v in net[1:]]))
EOF
done
