#!/usr/bin/env bash
# Data benchmark: maps and std.kv's text functions on large inputs, each Kavel program built
# by our stages and run under Wine, timed beside the same work in CPython 3 and Lua 5.4 in
# the same run, printed as ratios.
#
#   bench/data.sh [build-folder]     (default: build; needs lowerir, emitasm and std.kv there)
#
# Each program runs REPS times (default 9), each run after a run of its baseline (the same
# program with nothing to do, or one that only reads the input), and the smallest wall
# times count, so that what else a busy machine runs counts least; the net time is the
# program's less its baseline's, start-up and reading the input left out. (Kavel's clock
# ticks every 16 ms under Wine and Lua's os.clock counts processor time, so the programs
# do not time themselves.) The outputs of the three languages must be the same.
#   maps N x K  K maps of N keys "k1" ... each set, then each read back: 300,000 keys in all
#               (N = 10000, 30000, 100000), so for maps in constant time the three take
#               the same time
#   words       word count of a 540 kB text of about 3000 distinct words: split, then
#               a map of counts
#   split       std.kv split of a 1 MB text on " ", 5 times
#   replace     std.kv replace of "the" by "that" in the 1 MB text, 10 times
#   load        the baseline of the three above: reading the text
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
REPS="${REPS:-9}"
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
# Lua's print separates with tabs: its programs write with io.write.
cat > "$WORK/maps.kv" <<'EOF'
start [
  let int n = toint(argv(0)):
  let int total = 0:
  let int entries = 0:
  loop toint(argv(1)) [
    let map m = map_new():
    loop i in 1 to n [
      map_set(m, "k" + i, i):
    ]
    loop i in 1 to n [
      total = total + map_get_int(m, "k" + i):
    ]
    entries = entries + len(m):
  ]
  kvlog(entries, total):
]
EOF
cat > "$WORK/maps.py" <<'EOF'
import sys
n = int(sys.argv[1])
total = 0
entries = 0
for _ in range(int(sys.argv[2])):
    m = {}
    for i in range(1, n + 1):
        m["k" + str(i)] = i
    for i in range(1, n + 1):
        total = total + m["k" + str(i)]
    entries = entries + len(m)
print(entries, total)
EOF
cat > "$WORK/maps.lua" <<'EOF'
local n = tonumber(arg[1])
local total, entries = 0, 0
for _ = 1, tonumber(arg[2]) do
  local m, count = {}, 0
  for i = 1, n do
    local k = "k" .. i
    if m[k] == nil then count = count + 1 end
    m[k] = i
  end
  for i = 1, n do total = total + m["k" .. i] end
  entries = entries + count
end
io.write(entries, " ", total, "\n")
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
  let text s = readfile(argv(0)):
  let list words = split(s, " "):
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
s = open(sys.argv[1], "rb").read().decode("latin-1")
words = s.split(" ")
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
  loop toint(argv(1)) [
    total = total + len(split(s, " ")):
  ]
  kvlog(total):
]
EOF
cat > "$WORK/split.py" <<'EOF'
import sys
s = open(sys.argv[1], "rb").read().decode("latin-1")
total = 0
for _ in range(int(sys.argv[2])):
    total = total + len(s.split(" "))
print(total)
EOF
{ cat "$WORK/split.lua.inc"; cat <<'EOF'
local total = 0
for _ = 1, tonumber(arg[2]) do
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
  loop toint(argv(1)) [
    total = total + len(replace(s, "the", "that")):
  ]
  kvlog(total):
]
EOF
cat > "$WORK/replace.py" <<'EOF'
import sys
s = open(sys.argv[1], "rb").read().decode("latin-1")
total = 0
for _ in range(int(sys.argv[2])):
    total = total + len(s.replace("the", "that"))
print(total)
EOF
cat > "$WORK/replace.lua" <<'EOF'
local f = io.open(arg[1], "rb"); local s = f:read("a"); f:close()
local total = 0
for _ = 1, tonumber(arg[2]) do
  local r = string.gsub(s, "the", "that")
  total = total + #r
end
io.write(total, "\n")
EOF

for n in maps load words split replace; do build "$n"; done

# net_ms <out> <baseline command> -- <command>: runs the two by turns REPS times and gives
# the smallest time of the command less the smallest of the baseline, in milliseconds;
# the command's standard output goes to <out>, CR LF made LF.
net_ms() {
  local out="$1"; shift
  python3 - "$REPS" "$out" "$@" <<'EOF'
import subprocess, sys, time
reps, out, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
cut = args.index("--")
base, cmd = args[:cut], args[cut + 1:]
def timed(c):
    t = time.perf_counter()
    p = subprocess.run(c, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    if p.returncode != 0:
        sys.exit("%s failed (exit %d)" % (" ".join(c), p.returncode))
    return (time.perf_counter() - t) * 1000, p.stdout
best_base = best = None
for _ in range(reps):
    tb, _ = timed(base)
    tc, stdout = timed(cmd)
    best_base = tb if best_base is None else min(best_base, tb)
    best = tc if best is None else min(best, tc)
open(out, "wb").write(stdout.replace(b"\r\n", b"\n"))
print("%.1f" % max(best - best_base, 0.0))
EOF
}

# run <label> <program> <baseline> <arguments...>: times the three languages, prints a row;
# the baseline gets the arguments with a last "0" put in place of the last one when it is
# the program itself (no rounds of work), else the first argument only.
run() {
  local label="$1" prog="$2" base="$3"; shift 3
  local -a args=("$@") bargs
  if [ "$base" = "$prog" ]; then bargs=("${args[@]:0:${#args[@]}-1}" 0); else bargs=("${args[0]}"); fi
  local kv py lu same=same
  kv=$(net_ms "$WORK/$label.kv.out" wine "$WORK/$base.exe" "${bargs[@]}" -- wine "$WORK/$prog.exe" "${args[@]}")
  py=$(net_ms "$WORK/$label.py.out" python3 "$WORK/$base.py" "${bargs[@]}" -- python3 "$WORK/$prog.py" "${args[@]}")
  lu=$(net_ms "$WORK/$label.lua.out" lua5.4 "$WORK/$base.lua" "${bargs[@]}" -- lua5.4 "$WORK/$prog.lua" "${args[@]}")
  cmp -s "$WORK/$label.kv.out" "$WORK/$label.py.out" || same=DIFFERENT
  cmp -s "$WORK/$label.kv.out" "$WORK/$label.lua.out" || same=DIFFERENT
  python3 - "$label" "$kv" "$py" "$lu" "$same" <<'EOF'
import sys
label, kv, py, lu, same = sys.argv[1], *map(float, sys.argv[2:5]), sys.argv[5]
print("%-13s %9.1f %9.1f %9.1f %8.2f %8.2f  %s"
      % (label, kv, py, lu, kv / max(py, 0.1), kv / max(lu, 0.1), same))
EOF
}

printf '%-13s %9s %9s %9s %8s %8s  %s\n' "net ms" kavel python lua vs_py vs_lua output
for n in 10000 30000 100000; do
  run "maps_${n}x$((300000 / n))" maps maps "$n" $((300000 / n)) | tee -a "$WORK/scaling"
done
run words words load "$WORK/words.txt"
run split split split "$WORK/mega.txt" 5
run replace replace replace "$WORK/mega.txt" 10
python3 - "$WORK/scaling" <<'EOF'
import sys
kv = [float(line.split()[1]) for line in open(sys.argv[1])]
print("maps scaling (Kavel): 300,000 keys in maps of 30000 take %.2fx the time of 300,000 in"
      " maps of 10000, in maps of 100000 %.2fx (constant time a key: 1.00x)"
      % (kv[1] / max(kv[0], 0.1), kv[2] / max(kv[0], 0.1)))
EOF
echo "vs_py, vs_lua = Kavel's net time / CPython's, Lua's (below 1: Kavel is faster)"
