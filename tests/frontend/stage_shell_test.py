#!/usr/bin/env python3
"""The stage's shell around lowering: how the input path is read and where used files
are found. Each check runs lowerir in a fresh temporary folder."""
import os
import shutil
import subprocess
import sys
import tempfile

PROMPT = b"[err] Kavel file to compile: \r\n"
CANNOT_OPEN = b"runtime error: cannot open file\r\n"
failures = []


def run(exe, stdin, cwd):
    return subprocess.run([exe], input=stdin, cwd=cwd, capture_output=True, timeout=60)


def check(label, got, want):
    if got != want:
        failures.append(f"{label}: got {got!r}, want {want!r}")


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text)


def main():
    lowerir = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory() as tmp:
        # A copy of the executable with a library beside it, run from another folder.
        bindir = os.path.join(tmp, "bin")
        os.makedirs(bindir)
        exe = os.path.join(bindir, os.path.basename(lowerir))
        shutil.copy2(lowerir, exe)
        write(os.path.join(bindir, "std.kv"),
              b"fn lib_fn() [ ]\nstart [ kvlog(\"library entry\"): ]\n")
        work = os.path.join(tmp, "work")
        write(os.path.join(work, "main.kv"), b'use "std.kv":\nstart [ lib_fn(): ]\n')

        r = run(exe, b"main.kv\r\n", work)
        check("std.kv beside the executable: stdout", r.stdout,
              b"fn lib_fn int\r\nRETN\r\nend\r\nmain\r\nCALL lib_fn 0\r\nPOP\r\nHALT\r\nend\r\n")
        check("std.kv beside the executable: stderr", r.stderr, PROMPT)
        check("std.kv beside the executable: status", r.returncode, 0)

        # A file of that name in the current folder wins over the one beside the program.
        write(os.path.join(work, "std.kv"), b"fn local_fn() [ ]\n")
        r = run(exe, b"main.kv\n", work)
        check("std.kv in the current folder", r.stdout,
              b"fn local_fn int\r\nRETN\r\nend\r\nmain\r\nCALL lib_fn 0\r\nPOP\r\nHALT\r\nend\r\n")
        os.remove(os.path.join(work, "std.kv"))

        # Nowhere to be found: the cannot-open exit, nothing on standard output.
        os.remove(os.path.join(bindir, "std.kv"))
        r = run(exe, b"main.kv\r\n", work)
        check("missing library: stdout", r.stdout, b"")
        check("missing library: stderr", r.stderr, PROMPT + CANNOT_OPEN)
        check("missing library: status", r.returncode, 1)

        # Only trailing CR and LF leave the path: a trailing blank is part of the name.
        write(os.path.join(work, "blank.kv "), b"x = 1:\n")
        r = run(exe, b"blank.kv \r\n", work)
        check("trailing blank kept", r.stdout, b"CONST 1\r\nSTORE x\r\n")
        r = run(exe, b"blank.kv\r\n\r\n", work)
        check("blank-less name does not exist", (r.stdout, r.returncode), (b"", 1))

        # A folder is not a readable source.
        r = run(exe, b".\r\n", work)
        check("folder as source", (r.stdout, r.stderr, r.returncode), (b"", PROMPT + CANNOT_OPEN, 1))

        # Nothing at all on standard input: the empty path cannot be opened.
        r = run(exe, b"", work)
        check("empty input", (r.stdout, r.stderr, r.returncode), (b"", PROMPT + CANNOT_OPEN, 1))

        # An absolute path to a source in another folder: a used name is read from the
        # source's folder, unless the current folder holds it.
        write(os.path.join(tmp, "other", "prog.kv"), b'use "near.kv":\n')
        write(os.path.join(tmp, "other", "near.kv"), b"x = 1:\n")
        prog = os.path.join(tmp, "other", "prog.kv").encode() + b"\r\n"
        r = run(exe, prog, work)
        check("uses resolve beside the source", (r.stdout, r.returncode), (b"CONST 1\r\nSTORE x\r\n", 0))
        write(os.path.join(work, "near.kv"), b"y = 2:\n")
        r = run(exe, prog, work)
        check("the current folder comes first", r.stdout, b"CONST 2\r\nSTORE y\r\n")

    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
