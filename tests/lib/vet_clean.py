#!/usr/bin/env python3
"""Runs the checker on one source file and fails unless it is clean:
exit status 0, no diagnostic on standard error, and the summary line
reporting 0 errors.

  vet_clean.py <vetter> <file.kv>
"""
import subprocess
import sys


def main():
    vetter, source = sys.argv[1], sys.argv[2]
    p = subprocess.run([vetter], input=(source + "\r\n").encode(), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=60)
    out = p.stdout.decode("latin-1")
    err = p.stderr.decode("latin-1")
    problems = []
    if p.returncode != 0:
        problems.append("exit status %d" % p.returncode)
    if err:
        problems.append("diagnostics:\n" + err)
    if "--- check done: 0 error(s) ---\r\n" not in out:
        problems.append("no clean summary line in:\n" + out)
    if problems:
        print("FAIL %s\n%s" % (source, "\n".join(problems)))
        return 1
    print("ok %s" % source)
    return 0


if __name__ == "__main__":
    sys.exit(main())
