#!/usr/bin/env bash
# Cross-builds the toolchain for 64-bit Windows with mingw-w64 and lays it out as the
# installer's source folder (the folder setup.exe copies from).
#
#   build-windows.sh [--build DIR] [--dist DIR] [--no-nasm] [--targets "t1 t2"]
#
# --build   CMake build folder for the cross build      (default: build-windows)
# --dist    folder to lay the payload out in            (default: dist/windows)
# --no-nasm leave tools/nasm.exe out (tests use the machine's nasm through a wrapper)
# --targets build only these CMake targets and lay out only what exists
# --optional without mingw-w64, say so and succeed (the tests that need the build skip)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$root/build-windows"
dist="$root/dist/windows"
with_nasm=1
optional=0
targets=""
jobs=${JOBS:-2}

while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --dist) dist=$2; shift 2 ;;
    --no-nasm) with_nasm=0; shift ;;
    --optional) optional=1; shift ;;
    --targets) targets=$2; shift 2 ;;
    *) echo "build-windows.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
case "$dist" in /*) ;; *) dist="$PWD/$dist" ;; esac

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null && ! command -v x86_64-w64-mingw32-g++ >/dev/null; then
  echo "build-windows.sh: x86_64-w64-mingw32-g++ not found (Debian: g++-mingw-w64-x86-64-posix)" >&2
  [ "$optional" = 1 ] && exit 0
  exit 1
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKAVEL_FUZZ=OFF >/dev/null
if [ -n "$targets" ]; then
  # shellcheck disable=SC2086
  cmake --build "$build" -j "$jobs" --target $targets
else
  cmake --build "$build" -j "$jobs"
fi

bin="$build/bin"
mkdir -p "$dist/tools"
missing=()
put() {  # put <source> <name in dist>
  if [ -e "$1" ]; then
    rm -rf "${dist:?}/$2"
    cp -R "$1" "$dist/$2"
  else
    missing+=("$2")
  fi
}
# The payload as installer/payload.txt lists it, with setup itself beside it.
while read -r kind name from _; do
  case "$kind" in ''|'#'*) continue ;; esac
  target=$name
  [ "$kind" = program ] && target=$name.exe
  case "$from" in
    bin) put "$bin/$target" "$target" ;;
    bin:*) put "$bin/${from#bin:}.exe" "$target" ;;  # a copy of another program
    lib) put "$root/lib/$name" "$name" ;;
    top) put "$root/$name" "$name" ;;
    nasm) ;;  # built below
    *) echo "build-windows.sh: payload.txt: $name comes from unknown place $from" >&2; exit 1 ;;
  esac
done < "$root/installer/payload.txt"
put "$bin/setup.exe" setup.exe
for exe in "$dist"/*.exe; do
  [ -e "$exe" ] && x86_64-w64-mingw32-strip "$exe" 2>/dev/null || true
done

if [ "$with_nasm" = 1 ]; then
  bash "$root/installer/build-nasm.sh" "$build/nasm" "$dist/tools" || true
fi

if [ -z "$targets" ] && [ ${#missing[@]} -gt 0 ]; then
  echo "build-windows.sh: not in the payload (not built or not written yet): ${missing[*]}" >&2
fi
if [ "$with_nasm" = 1 ] && [ ! -e "$dist/tools/nasm.exe" ]; then
  echo "build-windows.sh: WARNING: $dist/tools/nasm.exe is MISSING; see $dist/tools/README.txt" >&2
fi
echo "Windows toolchain laid out in $dist"
