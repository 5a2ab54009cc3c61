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
REPS="${REPS:-3}"
# shellcheck source=bench/programs.sh
source "$ROOT/bench/programs.sh"

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
