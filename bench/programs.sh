# Sourced by the benchmarks that time compiled Kavel programs (runtime.sh, data.sh,
# codegen.sh): the work folder, the Wine prefix with its server, building a program with
# our stages, and timing a command. Expects ROOT, BUILD and REPS set; sets BIN, LIB, PREFIX
# and WORK. codegen.sh replaces build (it builds with opt and without) and best_ms (it
# counts processor time).

BIN="$BUILD/bin"
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

# build <name>: $WORK/<name>.kv to $WORK/<name>.exe
build() {
  local name="$1"
  echo "$WORK/$name.kv" | "$BIN/lowerir" > "$WORK/$name.ir" 2> /dev/null
  echo "$WORK/$name.ir" | "$BIN/emitasm" > "$WORK/$name.asm" 2> /dev/null
  nasm -f win64 -o "$WORK/$name.obj" "$WORK/$name.asm"
  lld-link /nologo /subsystem:console /entry:kv_start /nodefaultlib "$WORK/$name.obj" \
    "$LIB/libmsvcrt.a" "$LIB/libkernel32.a" "$LIB/libws2_32.a" "/out:$WORK/$name.exe" > /dev/null
}

# best_ms <out> <command...>: the best wall time of REPS runs in milliseconds; the standard
# output of the last run goes to <out>, CR LF made LF.
best_ms() {
  local out="$1"; shift
  python3 - "$REPS" "$out" "$@" <<'PY'
import subprocess, sys, time
reps, out, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
best = None
for _ in range(reps):
    t = time.perf_counter()
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    dt = (time.perf_counter() - t) * 1000
    best = dt if best is None or dt < best else best
open(out, "wb").write(p.stdout.replace(b"\r\n", b"\n"))
print("%.1f" % best)
PY
}
