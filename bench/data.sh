#!/usr/bin/env bash
# Data benchmark: maps and std.kv's text functions on large inputs, each Kavel program built
# by our stages and run under Wine, timed beside the same work in CPython 3 and Lua 5.4 in
# the same run, printed as ratios.
#
#   bench/data.sh [build-folder]     (default: build; needs lowerir, emitasm and std.kv there)
#
# Each program runs REPS times (default 5) and the best wall time counts. "net" subtracts
# the time of the program's baseline on the same side (an empty program, or one that only
# reads the input text), so start-up and reading the file drop out.
#   maps N      N keys "k1" ... set, then each read back (N = 10000, 30000, 100000)
#   words       word count of a 540 kB text of about 3000 distinct words: split, then
#               a map of counts
#   split       std.kv split of a 1 MB text on " ", 5 times
#   replace     std.kv replace of "the" by "that" in the 1 MB text, 10 times
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
REPS="${REPS:-5}"
# shellcheck source=bench/programs.sh
source "$ROOT/bench/programs.sh"
[ -e "$BIN/std.kv" ] || { echo "missing $BIN/std.kv: build the tree first" >&2; exit 1; }
for tool in python3 lua5.4 nasm lld-link wine; do
  command -v "$tool" > /dev/null || { echo "missing $tool" >&2; exit 1; }
done


# ---- the inputs: pseudo-English words, "the" among the most frequent -----------------
python3 - "$WORK" <<'EOF'
import random, sys
rng = random.Random(15)
letters = "etaoinshrdlucmfwypvbgkqjxz"
vocab = ["the", "of", "and", "to", "in"]
while len(vocab) < 3000:
    w = "".join(rng.choice(letters[:rng.randint(8, 26)]) for _ in range(rng.randint(2, 9)))
    if w not in vocab:
        vocab.append(w)
weights = [1.0 / (k + 1) for k in range(len(vocab))]
def text(size):
    words, n = [], 0
    while n < size:
        w = rng.choices(vocab, weights)[0]
        words.append(w)
        n += len(w) + 1
    return " ".join(words)
open(sys.argv[1] + "/words.txt", "w").write(text(540000))
open(sys.argv[1] + "/mega.txt", "w").write(text(1000000))
EOF

# ---- the programs, each in Kavel, Python and Lua -----------------------------------
# Lua's print separates with tabs; the others write one blank between values.
cat > "$WORK/empty.kv" <<'EOF'
start [
]
EOF
: > "$WORK/empty.py"
: > "$WORK/empty.lua"

cat > "$WORK/maps.kv" <<'EOF'
start [
  let int n = toint(argv(0)):
  let map m = map_new():
  loop i in 1 to n [
    map_set(m, "k" + i, i):
  ]
  let int total = 0:
  loop i in 1 to n [
    total = total + map_get_int(m, "k" + i):
  ]
  kvlog(len(m), total):
]
EOF
cat > "$WORK/maps.py" <<'EOF'
import sys
n = int(sys.argv[1])
m = {}
for i in range(1, n + 1):
    m["k" + str(i)] = i
total = 0
for i in range(1, n + 1):
    total = total + m["k" + str(i)]
print(len(m), total)
EOF
cat > "$WORK/maps.lua" <<'EOF'
local n = tonumber(arg[1])
local m, count = {}, 0
for i = 1, n do
  local k = "k" .. i
  if m[k] == nil then count = count + 1 end
  m[k] = i
end
local total = 0
for i = 1, n do total = total + m["k" .. i] end
io.write(count, " ", total, "\n")
EOF

cat > "$WORK/load.kv" <<'EOF'
start [
  kvlog(len(readfile(argv(0)))):
]
EOF
cat > "$WORK/load.py" <<'EOF'
import sys
print(len(open(sys.argv[1], "rb").read().decode("latin-1")))
EOF
cat > "$WORK/load.lua" <<'EOF'
local f = io.open(arg[1], "rb"); local s = f:read("a"); f:close()
io.write(#s, "\n")
EOF

cat > "$WORK/words.kv" <<'EOF'
use "std.kv":
start [
  let list words = split(readfile(argv(0)), " "):
  let map counts = map_new():
  loop w in words [
    when map_has(counts, w) == 1 [
      map_set(counts, w, map_get_int(counts, w) + 1):
    ] else [
      map_set(counts, w, 1):
    ]
  ]
  kvlog(len(words), len(counts), map_get_int(counts, "the")):
]
EOF
cat > "$WORK/words.py" <<'EOF'
import sys
words = open(sys.argv[1], "rb").read().decode("latin-1").split(" ")
counts = {}
for w in words:
    if w in counts:
        counts[w] = counts[w] + 1
    else:
        counts[w] = 1
print(len(words), len(counts), counts["the"])
EOF
# Lua has no split: string.find from a position, without patterns, is its plain form.
cat > "$WORK/split.lua.inc" <<'EOF'
local function split(s, sep)
  local pieces, n, pos = {}, 0, 1
  while true do
    local i = string.find(s, sep, pos, true)
    n = n + 1
    if not i then pieces[n] = string.sub(s, pos); return pieces, n end
    pieces[n] = string.sub(s, pos, i - 1)
    pos = i + #sep
  end
end
local f = io.open(arg[1], "rb"); local s = f:read("a"); f:close()
EOF
{ cat "$WORK/split.lua.inc"; cat <<'EOF'
local words, n = split(s, " ")
local counts, distinct = {}, 0
for k = 1, n do
  local w = words[k]
  local c = counts[w]
  if c then counts[w] = c + 1 else counts[w] = 1; distinct = distinct + 1 end
end
io.write(n, " ", distinct, " ", counts["the"], "\n")
EOF
} > "$WORK/words.lua"

cat > "$WORK/split.kv" <<'EOF'
use "std.kv":
start [
  let text s = readfile(argv(0)):
  let int total = 0:
  loop 5 [
    total = total + len(split(s, " ")):
  ]
  kvlog(total):
]
EOF
cat > "$WORK/split.py" <<'EOF'
import sys
s = open(sys.argv[1], "rb").read().decode("latin-1")
total = 0
for _ in range(5):
    total = total + len(s.split(" "))
print(total)
EOF
{ cat "$WORK/split.lua.inc"; cat <<'EOF'
local total = 0
for _ = 1, 5 do
  local _, n = split(s, " ")
  total = total + n
end
io.write(total, "\n")
EOF
} > "$WORK/split.lua"

cat > "$WORK/replace.kv" <<'EOF'
use "std.kv":
start [
  let text s = readfile(argv(0)):
  let int total = 0:
  loop 10 [
    total = total + len(replace(s, "the", "that")):
  ]
  kvlog(total):
]
EOF
cat > "$WORK/replace.py" <<'EOF'
import sys
s = open(sys.argv[1], "rb").read().decode("latin-1")
total = 0
for _ in range(10):
    total = total + len(s.replace("the", "that"))
print(total)
EOF
cat > "$WORK/replace.lua" <<'EOF'
local f = io.open(arg[1], "rb"); local s = f:read("a"); f:close()
local total = 0
for _ = 1, 10 do
  local r = string.gsub(s, "the", "that")
  total = total + #r
end
io.write(total, "\n")
EOF

for n in empty maps load words split replace; do build "$n"; done
# A first run of Wine and of each interpreter costs more than the rest: one untimed run each.
wine "$WORK/empty.exe" > /dev/null; python3 "$WORK/empty.py"; lua5.4 "$WORK/empty.lua"

# run <label> <program> <baseline> <argument>: times the three languages, prints a row
declare -A BASE
run() {
  local label="$1" prog="$2" base="$3" arg="$4"
  local kv py lu same=same
  kv=$(best_ms "$WORK/$label.kv.out" wine "$WORK/$prog.exe" "$arg")
  py=$(best_ms "$WORK/$label.py.out" python3 "$WORK/$prog.py" "$arg")
  lu=$(best_ms "$WORK/$label.lua.out" lua5.4 "$WORK/$prog.lua" "$arg")
  if [ "$label" = "$base" ]; then BASE[$base]="$kv $py $lu"; fi
  cmp -s "$WORK/$label.kv.out" "$WORK/$label.py.out" || same=DIFFERENT
  cmp -s "$WORK/$label.kv.out" "$WORK/$label.lua.out" || same=DIFFERENT
  # shellcheck disable=SC2086
  python3 - "$label" "$kv" "$py" "$lu" ${BASE[$base]} "$same" <<'EOF'
import sys
label, kv, py, lu, kb, pb, lb, same = sys.argv[1], *map(float, sys.argv[2:8]), sys.argv[8]
kn, pn, ln = max(kv - kb, 0.1), max(py - pb, 0.1), max(lu - lb, 0.1)
print("%-13s %9.1f %9.1f %9.1f %9.1f %9.1f %9.1f %8.2f %8.2f  %s"
      % (label, kv, py, lu, kn, pn, ln, kn / pn, kn / ln, same))
EOF
}

printf '%-13s %9s %9s %9s %9s %9s %9s %8s %8s  %s\n' program kavel_ms python_ms lua_ms \
  kavel_net py_net lua_net vs_py vs_lua output
run empty empty empty ""
for n in 10000 30000 100000; do
  run "maps_$n" maps empty "$n" | tee -a "$WORK/scaling"
done
run load load load "$WORK/words.txt" > /dev/null
run words words load "$WORK/words.txt"
run load load load "$WORK/mega.txt" > /dev/null
run split split load "$WORK/mega.txt"
run replace replace load "$WORK/mega.txt"
python3 - "$WORK/scaling" <<'EOF'
import sys
net = [float(line.split()[4]) for line in open(sys.argv[1])]
print("maps scaling (Kavel, net): 30000/10000 keys %.1fx the time, 100000/30000 keys %.1fx"
      " (linear: 3.0x and 3.3x)" % (net[1] / net[0], net[2] / net[1]))
EOF
echo "vs_py, vs_lua = Kavel net time / CPython's, Lua's (below 1: Kavel is faster)"
