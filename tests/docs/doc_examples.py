#!/usr/bin/env python3
"""The runnable examples of the user guide.

Every fenced block whose info string starts with "kavel" is a whole program:

  ```kavel [exit=N] [args=A,B ...]   built with our stages and run; the blocks right
                                      after it give what it must do:
  ```input                            standard input (optional)
  ```output                           exact standard output (required, may be empty)
  ```stderr                           exact standard error (optional, default empty)
  ```kavel check                      a program the checker rejects: the ```stderr block
                                      after it holds the checker's diagnostics exactly
  ```kavel build                      built but not run (a server, say)

Line ends in the guide are LF; the programs write CR LF, so expected texts get CR LF.

  doc_examples.py extract <outdir> <guide.md>...   write <id>.kv and its expected files,
                                                   print one id per line
  doc_examples.py run --bin DIR --prefix DIR --work DIR --lib DIR --tools DIR <outdir>/<id>.kv
"""
import os
import re
import subprocess
import sys


class DocError(Exception):
    pass


def blocks(text):
    """(info, body, line number) of every fenced block, in order."""
    out = []
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        m = re.match(r"^```(.*)$", lines[i])
        if m:
            info = m.group(1).strip()
            start = i + 1
            j = start
            while j < len(lines) and lines[j] != "```":
                j += 1
            if j == len(lines):
                raise DocError("line %d: unclosed code block" % (i + 1))
            body = "\n".join(lines[start:j])
            out.append((info, body + "\n" if j > start else "", i + 1))
            i = j + 1
        else:
            i += 1
    return out


def examples(path):
    with open(path, encoding="utf-8") as f:
        bs = blocks(f.read())
    result = []
    k = 0
    while k < len(bs):
        info, body, line = bs[k]
        words = info.split()
        if not words or words[0] != "kavel":
            k += 1
            continue
        ex = {"line": line, "source": body, "mode": "run", "args": [], "exit": 0,
              "input": None, "output": None, "stderr": ""}
        if "args=" in info:  # the arguments run to the end of the line, split at commas
            info, _, arglist = info.partition("args=")
            ex["args"] = arglist.split(",")
            words = info.split()
        for w in words[1:]:
            if w in ("check", "build"):
                ex["mode"] = w
            elif w.startswith("exit="):
                ex["exit"] = int(w[5:])
            else:
                raise DocError("%s:%d: unknown word %r after kavel" % (path, line, w))
        k += 1
        while k < len(bs) and bs[k][0] in ("input", "output", "stderr"):
            ex[bs[k][0]] = bs[k][1]
            k += 1
        if ex["mode"] == "run" and ex["output"] is None:
            raise DocError("%s:%d: runnable example without an output block" % (path, line))
        if ex["mode"] == "check" and not ex["stderr"]:
            raise DocError("%s:%d: checker example without a stderr block" % (path, line))
        result.append(ex)
    return result


def crlf(text):
    return text.replace("\n", "\r\n").encode("latin-1")


def extract(outdir, guides):
    os.makedirs(outdir, exist_ok=True)
    ids = []
    for guide in guides:
        stem = os.path.splitext(os.path.basename(guide))[0]
        for ex in examples(guide):
            ident = "%s_%04d" % (stem, ex["line"])
            base = os.path.join(outdir, ident)
            files = {".kv": ex["source"].encode("latin-1"),
                     ".mode": ex["mode"].encode(),
                     ".err": crlf(ex["stderr"])}
            if ex["output"] is not None:
                files[".out"] = crlf(ex["output"])
            if ex["input"] is not None:
                files[".in"] = crlf(ex["input"])
            if ex["exit"]:
                files[".code"] = str(ex["exit"]).encode()
            if ex["args"]:
                files[".args"] = ("\n".join(ex["args"]) + "\n").encode()
            for ext, data in files.items():
                old = None
                if os.path.exists(base + ext):
                    with open(base + ext, "rb") as f:
                        old = f.read()
                if old != data:  # keep timestamps of unchanged files
                    with open(base + ext, "wb") as f:
                        f.write(data)
            ids.append(ident)
    return ids


def run(argv):
    import argparse
    ap = argparse.ArgumentParser()
    for opt in ("--bin", "--prefix", "--work", "--lib", "--tools"):
        ap.add_argument(opt, required=True)
    ap.add_argument("--timeout", type=float, default=30)
    ap.add_argument("program")
    args = ap.parse_args(argv)
    stem = os.path.splitext(args.program)[0]
    with open(stem + ".mode") as f:
        mode = f.read().strip()
    with open(stem + ".err", "rb") as f:
        expected_err = f.read()

    vet = subprocess.run([os.path.join(args.bin, "vetter")], input=(args.program + "\r\n").encode(),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if mode == "check":
        problems = []
        if vet.returncode != 1:
            problems.append("checker exit %d, expected 1" % vet.returncode)
        if vet.stderr != expected_err:
            problems.append("checker diagnostics %r, expected %r" % (vet.stderr, expected_err))
        if problems:
            print("FAIL %s\n%s" % (args.program, "\n".join(problems)))
            return 1
        print("ok %s" % args.program)
        return 0
    if vet.returncode != 0 or vet.stderr:
        print("FAIL %s\nthe checker rejects the example:\n%s"
              % (args.program, vet.stderr.decode("latin-1")))
        return 1
    runner = os.path.join(args.tools, "run_program.py")
    if mode == "build":
        sys.path.insert(0, args.tools)
        import run_program
        try:
            os.makedirs(args.work, exist_ok=True)
            run_program.build(args, os.path.abspath(args.program),
                              os.path.basename(stem))
        except run_program.Failure as e:
            print("FAIL %s\n%s" % (args.program, e))
            return 1
        print("ok %s (built)" % args.program)
        return 0
    return subprocess.run([sys.executable, runner, "--bin", args.bin, "--prefix", args.prefix,
                           "--work", args.work, "--lib", args.lib, "--timeout",
                           str(args.timeout), args.program]).returncode


def main():
    try:
        if len(sys.argv) >= 4 and sys.argv[1] == "extract":
            for ident in extract(sys.argv[2], sys.argv[3:]):
                print(ident)
            return 0
        if len(sys.argv) >= 2 and sys.argv[1] == "run":
            return run(sys.argv[2:])
    except DocError as e:
        print("doc_examples: %s" % e, file=sys.stderr)
        return 1
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main())
