#!/usr/bin/env python3
"""Runs the vetter program as the build driver does (the path piped to standard input)
and compares its standard output, standard error and exit status byte for byte."""
import os
import shutil
import subprocess
import sys
import tempfile

VETTER = os.path.abspath(sys.argv[1])
PROMPT = b"Kavel file to check: "
FIRST = b"--- {ntok} tokens, checking ---\r\n"
CANNOT_OPEN = b"runtime error: cannot open file\r\n"
failures = []


def summary(n):
    return b"--- check done: %d error(s) ---\r\n" % n


def run(cwd, stdin):
    p = subprocess.run([VETTER], input=stdin, cwd=cwd, capture_output=True, timeout=60)
    return p.stdout, p.stderr, p.returncode


def expect(name, cwd, stdin, out, err, code):
    got = run(cwd, stdin)
    if got != (out, err, code):
        failures.append(f"{name}:\n  expected {(out, err, code)!r}\n  got      {got!r}")


def write(path, text):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(text)


with tempfile.TemporaryDirectory() as d:
    write(os.path.join(d, "clean.kv"), b"fn add(int a, int b) -> int [ give a + b: ]\r\nstart [ println(totext(add(1, 2))): ]\r\n")
    write(os.path.join(d, "bad.kv"), b"let int x = \"a\":\nuse \"sub/lib.kv\":\nx = 2.5:\n")
    write(os.path.join(d, "sub", "lib.kv"), b"rec R [ private int k: ]\nfn f() -> text [ give 1: ]\n")
    write(os.path.join(d, "empty.kv"), b"")
    write(os.path.join(d, "usesmissing.kv"), b"let int a = 1:\nuse \"no_such_file_anywhere.kv\":\n")
    write(os.path.join(d, "blank.kv "), b"let int y = 1.5:\n")  # the name ends in a blank
    write(os.path.join(d, "blank.kv"), b"")

    expect("clean file", d, b"clean.kv\r\n", PROMPT + FIRST + summary(0), b"", 0)
    expect("errors are counted and set the status", d, b"bad.kv\n",
           PROMPT + FIRST + summary(3),
           b"[err] [type error] line 1: let x: declared int but initializer is text near :\r\n"
           b"[err] [type error] sub/lib.kv:2: give: function returns text but expression is int near :\r\n"
           b"[err] [type error] line 3: x = float but variable declared as int near :\r\n", 1)
    expect("empty source", d, b"empty.kv", PROMPT + FIRST + summary(0), b"", 0)
    expect("a trailing blank stays part of the path", d, b"blank.kv \r\n", PROMPT + FIRST + summary(1),
           b"[err] [type error] line 1: let y: declared int but initializer is float near :\r\n", 1)
    expect("missing main file", d, b"nothere.kv\r\n", PROMPT, CANNOT_OPEN, 1)
    expect("a folder is not a file", d, b"sub\r\n", PROMPT, CANNOT_OPEN, 1)
    expect("missing used file stops before the progress lines", d, b"usesmissing.kv\n", PROMPT, CANNOT_OPEN, 1)
    expect("no input at all", d, b"", PROMPT, CANNOT_OPEN, 1)

    # A bare name that is not in the current folder is read from beside the program.
    bindir = tempfile.mkdtemp(dir=d)
    shutil.copy(VETTER, os.path.join(bindir, "vetter"))
    write(os.path.join(bindir, "beside.kv"), b"let text fromlib = 1:\n")
    write(os.path.join(d, "usesbeside.kv"), b"use \"beside.kv\":\n")
    got = subprocess.run([os.path.join(bindir, "vetter")], input=b"usesbeside.kv", cwd=d,
                         capture_output=True, timeout=60)
    want = (PROMPT + FIRST + summary(1),
            b"[err] [type error] beside.kv:1: let fromlib: declared text but initializer is int near :\r\n", 1)
    if (got.stdout, got.stderr, got.returncode) != want:
        failures.append(f"bare name beside the program: got {(got.stdout, got.stderr, got.returncode)!r}")

    # The same bare name in the current folder wins over the one beside the program.
    write(os.path.join(d, "beside.kv"), b"let int here = 1:\n")
    got = subprocess.run([os.path.join(bindir, "vetter")], input=b"usesbeside.kv", cwd=d,
                         capture_output=True, timeout=60)
    if (got.stdout, got.stderr, got.returncode) != (PROMPT + FIRST + summary(0), b"", 0):
        failures.append(f"bare name in the current folder: got {(got.stdout, got.stderr, got.returncode)!r}")

    # A name holding "/" is read as written, never from beside the program.
    write(os.path.join(bindir, "sub2", "only.kv"), b"let int z = 1:\n")
    write(os.path.join(d, "usesslash.kv"), b"use \"sub2/only.kv\":\n")
    got = subprocess.run([os.path.join(bindir, "vetter")], input=b"usesslash.kv", cwd=d,
                         capture_output=True, timeout=60)
    if (got.stdout, got.stderr, got.returncode) != (PROMPT, CANNOT_OPEN, 1):
        failures.append(f"name with a slash: got {(got.stdout, got.stderr, got.returncode)!r}")

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("all vetter program checks passed")
