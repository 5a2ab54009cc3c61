#!/usr/bin/env bash
# Cross-builds nasm.exe from Debian's source package of NASM into <tools folder>.
# When the source cannot be fetched, the tools folder gets a README saying which
# release to drop in, and this script says so loudly.
#
#   build-nasm.sh <work folder> <tools folder>
set -uo pipefail
work=$1
tools=$2
mkdir -p "$work" "$tools"

fallback() {
  rm -f "$tools/nasm.exe"
  cat > "$tools/README.txt" <<'TXT'
tools/ must hold nasm.exe, the Netwide Assembler for 64-bit Windows.

The build could not fetch and build NASM's source here. Download the win64 zip of
NASM 2.16.01 (or any later 2.16 release) from the NASM project's download site,
and put its nasm.exe into this folder before running setup.exe.
TXT
  {
    echo "####################################################################"
    echo "## NASM WAS NOT BUILT: $1"
    echo "## $tools/nasm.exe is missing; $tools/README.txt says what to drop in."
    echo "####################################################################"
  } >&2
  exit 1
}

exe=$(ls -d "$work"/nasm-*/nasm.exe 2>/dev/null | head -n 1)
if [ -z "$exe" ]; then
  if ! ls "$work"/nasm_*.dsc >/dev/null 2>&1; then
    (cd "$work" && apt-get source --download-only nasm >/dev/null 2>"$work/fetch.log") ||
      fallback "apt-get source nasm failed (no deb-src lines in the apt sources?); see $work/fetch.log"
  fi
  dsc=$(ls "$work"/nasm_*.dsc | head -n 1)
  srcdir="$work/$(basename "$dsc" .dsc | sed 's/_\([^-]*\)-.*/-\1/')"
  if [ ! -d "$srcdir" ]; then
    (cd "$work" && dpkg-source -x "$dsc" "$srcdir" >/dev/null 2>&1) ||
      (cd "$work" && tar xf nasm_*.orig.tar.* && [ -d "$srcdir" ]) ||
      fallback "cannot unpack $dsc"
  fi
  echo "build-nasm.sh: cross-building $(basename "$srcdir") for Windows (about a minute)" >&2
  (cd "$srcdir" && ./configure --host=x86_64-w64-mingw32 LDFLAGS=-static >"$work/configure.log" 2>&1 &&
    make -j "${JOBS:-2}" nasm.exe >"$work/make.log" 2>&1) ||
    fallback "the cross build failed; see $work/configure.log and $work/make.log"
  exe="$srcdir/nasm.exe"
fi
cp "$exe" "$tools/nasm.exe"
x86_64-w64-mingw32-strip "$tools/nasm.exe" 2>/dev/null || true
# NASM's licence asks for its text to travel with the binary.
cp "$(dirname "$exe")/LICENSE" "$tools/nasm-LICENSE.txt" 2>/dev/null || true
rm -f "$tools/README.txt"
echo "build-nasm.sh: tools/nasm.exe built from $(basename "$(dirname "$exe")")" >&2
