#!/usr/bin/env bash
# Runtime benchmark: a handful of Kavel programs built by our stages and run under Wine,
# timed beside the same algorithms in Python 3 in the same run, printed as ratios.
#
#   bench/runtime.sh [build-folder]     (default: build; needs lowerir and emitasm there)
#
# Each program runs REPS times (default 3) and the best wall time counts. The start-up
# cost of an empty program (Wine, or the Python interpreter) is measured the same way
# and shown; the "net" ratio subtracts it from both sides.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
BIN="$BUILD/bin"
REPS="${REPS:-3}"
LIB="${KAVEL_MINGW_LIB:-/usr/x86_64-w64-mingw32/lib}"
PREFIX="$BUILD/wineprefix"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/kavel-bench.XXXXXX")"
export WINEPREFIX="$PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for tool in "$BIN/lowerir" "$BIN/emitasm"; do
  [ -x "$tool" ] || { echo "missing $tool: build the tree first" >&2; exit 1; }
done

cleanup() {
  python3 "$ROOT/tests/tools/wine_fixture.py" cleanup "$PREFIX" > /dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
python3 "$ROOT/tests/tools/wine_fixture.py" setup "$PREFIX" > /dev/null

# ---- the programs, each in Kavel and in Python -------------------------------------
cat > "$WORK/empty.kv" <<'EOF'
start [
]
EOF
cat > "$WORK/empty.py" <<'EOF'
EOF

cat > "$WORK/fib.kv" <<'EOF'
fn fib(int n) -> int [
  when n < 2 [
    give n:
  ]
  give fib(n - 1) + fib(n - 2):
]
start [
  kvlog(fib(30)):
]
EOF
cat > "$WORK/fib.py" <<'EOF'
def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
print(fib(30))
EOF

cat > "$WORK/loops.kv" <<'EOF'
start [
  let int total = 0:
  loop i in 1 to 3000 [
    loop j in 1 to 3000 [
      total = total + (i * j) % 7:
    ]
  ]
  kvlog(total):
]
EOF
cat > "$WORK/loops.py" <<'EOF'
total = 0
for i in range(1, 3001):
    for j in range(1, 3001):
        total = total + (i * j) % 7
print(total)
EOF

cat > "$WORK/text.kv" <<'EOF'
start [
  let int size = 0:
  loop i in 1 to 300000 [
    let text piece = "key" + i + ";":
    size = size + len(piece):
  ]
  let text line = "":
  loop i in 1 to 2000 [
    line = line + i + ",":
  ]
  kvlog(size, len(line)):
]
EOF
cat > "$WORK/text.py" <<'EOF'
size = 0
for i in range(1, 300001):
    piece = "key" + str(i) + ";"
    size = size + len(piece)
line = ""
for i in range(1, 2001):
    line = line + str(i) + ","
print(size, len(line))
EOF

cat > "$WORK/lists.kv" <<'EOF'
start [
  let list xs = {}:
  loop i in 0 to 999999 [
    push(xs, i * 2):
  ]
  let int total = 0:
  loop i in 0 to 999999 [
    total = total + xs{i}:
  ]
  kvlog(len(xs), total):
]
EOF
cat > "$WORK/lists.py" <<'EOF'
xs = []
for i in range(0, 1000000):
    xs.append(i * 2)
total = 0
for i in range(0, 1000000):
    total = total + xs[i]
print(len(xs), total)
EOF

cat > "$WORK/maps.kv" <<'EOF'
start [
  let map m = map_new():
  loop i in 1 to 3000 [
    map_set(m, "k" + i, i):
  ]
  let int total = 0:
  loop i in 1 to 3000 [
    total = total + map_get_int(m, "k" + i):
  ]
  kvlog(len(m), total):
]
EOF
cat > "$WORK/maps.py" <<'EOF'
m = {}
for i in range(1, 3001):
    m["k" + str(i)] = i
total = 0
for i in range(1, 3001):
    total = total + m["k" + str(i)]
print(len(m), total)
EOF

# ---- build -------------------------------------------------------------------------
build() {
  local name="$1"
  echo "$WORK/$name.kv" | "$BIN/lowerir" > "$WORK/$name.ir" 2> /dev/null
  echo "$WORK/$name.ir" | "$BIN/emitasm" > "$WORK/$name.asm" 2> /dev/null
  nasm -f win64 -o "$WORK/$name.obj" "$WORK/$name.asm"
  lld-link /nologo /subsystem:console /entry:kv_start /nodefaultlib "$WORK/$name.obj" \
    "$LIB/libmsvcrt.a" "$LIB/libkernel32.a" "$LIB/libws2_32.a" "/out:$WORK/$name.exe" > /dev/null
}

# Best wall time of REPS runs, in milliseconds; the output of the last run is kept.
best_ms() {
  local out="$1"; shift
  python3 - "$REPS" "$out" "$@" <<'EOF'
import subprocess, sys, time
reps, out, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
best = None
for _ in range(reps):
    t = time.perf_counter()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    dt = (time.perf_counter() - t) * 1000
    best = dt if best is None or dt < best else best
open(out, "wb").write(p.stdout.replace(b"\r\n", b"\n"))
print("%.0f" % best)
EOF
}

NAMES="empty fib loops text lists maps"
for n in $NAMES; do build "$n"; done

printf '%-8s %10s %10s %8s %10s %10s %8s  %s\n' program kavel_ms python_ms ratio kavel_net python_net net_ratio check
kv_base=0; py_base=0
for n in $NAMES; do
  kv=$(best_ms "$WORK/$n.kv.out" wine "$WORK/$n.exe")
  py=$(best_ms "$WORK/$n.py.out" python3 "$WORK/$n.py")
  if [ "$n" = empty ]; then kv_base=$kv; py_base=$py; fi
  same=same; cmp -s "$WORK/$n.kv.out" "$WORK/$n.py.out" || same=DIFFERENT
  python3 - "$n" "$kv" "$py" "$kv_base" "$py_base" "$same" <<'EOF'
import sys
n, kv, py, kb, pb, same = sys.argv[1], *map(float, sys.argv[2:6]), sys.argv[6]
kn, pn = max(kv - kb, 1.0), max(py - pb, 1.0)
print("%-8s %10.0f %10.0f %8.2f %10.0f %10.0f %8.2f  %s" % (n, kv, py, kv / py, kn, pn, kn / pn, same))
EOF
done
echo "ratio = Kavel time / Python time (below 1: Kavel is faster); net = minus the empty program's time"
