#!/usr/bin/env python3
"""The emitasm stage shell: prompt on standard error only, the module alone on standard
output, and the runtime's cannot-open error (exit 1, nothing on standard output)."""
import os
import subprocess
import sys

emitasm, work = sys.argv[1], sys.argv[2]
os.makedirs(work, exist_ok=True)
failures = []


def run(path_line):
    return subprocess.run([emitasm], input=path_line, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)


prompt = b"[err] Kavel IR file to compile: \r\n"
ir = os.path.join(work, "prog.ir")
with open(ir, "wb") as f:
    f.write(b"main\r\nCONST 1\r\nLOG info 1\r\nHALT\r\nend\r\n")

p = run(ir.encode() + b"\r\n")
if p.returncode != 0:
    failures.append("exit code %d for a readable file" % p.returncode)
if p.stderr != prompt:
    failures.append("standard error was %r" % p.stderr)
if not p.stdout.startswith(b"default rel\r\nglobal kv_start\r\n") or b"Kavel IR" in p.stdout:
    failures.append("standard output does not hold the module alone")
bss = p.stdout.rpartition(b"\r\nsection .bss\r\n")[2].split(b"\r\n")
if bss[-1] != b"" or not all(b": res" in cell for cell in bss[:-1]) or b"sched_ctx: resq 1" not in bss:
    failures.append("the module does not end with the bss section")

# Only trailing CR and LF are removed from the path.
p2 = run(ir.encode() + b"\n\r\n")
if p2.stdout != p.stdout:
    failures.append("trailing CR/LF of the path changed the result")

for bad in (os.path.join(work, "missing.ir").encode(), work.encode(), b""):
    p = run(bad + b"\r\n")
    if p.returncode != 1:
        failures.append("exit code %d for %r" % (p.returncode, bad))
    if p.stdout != b"":
        failures.append("standard output not empty for %r" % bad)
    if p.stderr != prompt + b"runtime error: cannot open file\r\n":
        failures.append("standard error for %r was %r" % (bad, p.stderr))

for f in failures:
    print("FAIL", f)
sys.exit(1 if failures else 0)
