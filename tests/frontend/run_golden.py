#!/usr/bin/env python3
"""Runs lowerir on one golden case and compares its output byte for byte.

A case is <name>.kv with expected files beside it:
  <name>.ir    exact standard output (required)
  <name>.err   exact standard error (default: the prompt line alone)
  <name>.code  exit status (default 0)
  <name>.stdin exact standard input (default: the case's file name and CR LF)
The stage runs in the case's folder, so `use` finds the files beside the case.
"""
import os
import subprocess
import sys

PROMPT = b"[err] Kavel file to compile: \r\n"


def read(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, "rb") as f:
        return f.read()


def show(label, data):
    text = data.decode("latin-1").replace("\r\n", "\u21b5\n")
    sys.stdout.write(f"--- {label} ({len(data)} bytes)\n{text}\n")


def main():
    lowerir, case = sys.argv[1], os.path.abspath(sys.argv[2])
    folder, name = os.path.split(case)
    stem = name[: -len(".kv")]
    base = os.path.join(folder, stem)
    expected_out = read(base + ".ir")
    if expected_out is None:
        print(f"missing expected output {stem}.ir")
        return 1
    expected_err = read(base + ".err", PROMPT)
    expected_code = int(read(base + ".code", b"0").strip() or b"0")
    stdin = read(base + ".stdin", name.encode() + b"\r\n")
    run = subprocess.run([lowerir], input=stdin, cwd=folder, capture_output=True, timeout=60)
    ok = True
    if run.stdout != expected_out:
        ok = False
        show("expected standard output", expected_out)
        show("actual standard output", run.stdout)
    if run.stderr != expected_err:
        ok = False
        show("expected standard error", expected_err)
        show("actual standard error", run.stderr)
    if run.returncode != expected_code:
        ok = False
        print(f"exit status {run.returncode}, expected {expected_code}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
