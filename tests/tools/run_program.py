#!/usr/bin/env python3
"""Builds one Kavel program with our stages and runs it under Wine.

  run_program.py --bin DIR --prefix DIR --work DIR --lib DIR [--timeout S] <program.kv|program.ir>

.kv goes through lowerir, then emitasm; .ir goes straight to emitasm. The program is built a
second time with opt between them, and both builds must do what is expected. NASM assembles
(-f win64; any warning fails), lld-link links against the mingw-w64 import libraries,
Wine runs the program. Expected files beside the program, all optional but .out:
  <name>.out  exact standard output      <name>.err   exact standard error (default empty)
  <name>.code exit code (default 0)      <name>.args  one argument per line
  <name>.in   standard input bytes    <name>.env   NAME=VALUE lines added to the environment (# comments)

--env NAME=VALUE (repeatable) adds to the environment of every program run; a program's
own .env file wins over it (a test that states its collector mode keeps it).
"""
import argparse
import difflib
import os
import subprocess
import sys


class Failure(Exception):
    pass


def read_bytes(path, default=None):
    if os.path.exists(path):
        with open(path, "rb") as f:
            return f.read()
    return default


def run_stage(exe, input_path, out_path, timeout):
    if not os.path.exists(exe):
        raise Failure("stage not built: %s" % exe)
    try:
        p = subprocess.run([exe], input=(input_path + "\r\n").encode(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("%s did not finish within %s s" % (os.path.basename(exe), timeout))
    with open(out_path, "wb") as f:
        f.write(p.stdout)
    if p.returncode != 0:
        raise Failure("%s exited with %d:\n%s" % (os.path.basename(exe), p.returncode,
                                                  p.stderr.decode("latin-1")))
    return p.stderr.decode("latin-1")


def run_tool(cmd, what, timeout=120):
    try:
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise Failure("%s did not finish within %s s" % (what, timeout))
    text = p.stdout.decode("latin-1")
    if p.returncode != 0:
        raise Failure("%s failed (exit %d):\n%s" % (what, p.returncode, text))
    return text


def show(data):
    lines = data.split(b"\n")
    return [repr(l + b"\n")[2:-1] if i < len(lines) - 1 else repr(l)[2:-1]
            for i, l in enumerate(lines)]


def compare(what, expected, actual):
    if expected == actual:
        return None
    diff = difflib.unified_diff(show(expected), show(actual), "expected " + what,
                                "actual " + what, lineterm="")
    return "%s differs:\n%s" % (what, "\n".join(diff))


def program_env(args, stem):
    """The environment a program runs in: ours, Wine's settings, --env, then its .env file."""
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.abspath(args.prefix)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    pairs = list(getattr(args, "env", None) or [])
    text = read_bytes(stem + ".env") if stem else None
    if text is not None:
        pairs += [l.strip() for l in text.decode("latin-1").splitlines()
                  if l.strip() and not l.lstrip().startswith("#")]
    for pair in pairs:
        name, sep, value = pair.partition("=")
        if not sep or not name:
            raise Failure("not NAME=VALUE: %r" % pair)
        env[name] = value
    return env


def build(args, src, base, optimise=False):
    os.makedirs(args.work, exist_ok=True)
    ir = src
    if src.endswith(".kv"):
        ir = os.path.join(args.work, base + ".ir")
        diag = run_stage(os.path.join(args.bin, "lowerir"), src, ir, args.timeout)
        problems = [l for l in diag.splitlines() if "lowerir: " in l]
        if problems:
            raise Failure("lowerir reported:\n" + "\n".join(problems))
    if optimise:
        opt_ir = os.path.join(args.work, base + "_opt.ir")
        run_stage(os.path.join(args.bin, "opt"), ir, opt_ir, args.timeout)
        ir = opt_ir
    asm = os.path.join(args.work, base + ".asm")
    run_stage(os.path.join(args.bin, "emitasm"), ir, asm, args.timeout)
    obj = os.path.join(args.work, base + ".obj")
    text = run_tool(["nasm", "-f", "win64", "-o", obj, asm], "nasm")
    if text.strip():
        raise Failure("nasm warned:\n" + text)
    exe = os.path.join(args.work, base + ".exe")
    run_tool(["lld-link", "/nologo", "/subsystem:console", "/entry:kv_start", "/nodefaultlib", obj,
              os.path.join(args.lib, "libmsvcrt.a"), os.path.join(args.lib, "libkernel32.a"),
              os.path.join(args.lib, "libws2_32.a"), "/out:" + exe], "lld-link")
    return exe


def run_exe(args, exe, argv=(), stdin=b"", env=None):
    """Runs a built program under Wine in args.work, within args.timeout seconds, in env
    (by default ours with Wine's settings)."""
    if env is None:
        env = program_env(args, None)
    try:
        return subprocess.run(["wine", exe] + list(argv), input=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env, cwd=args.work, timeout=args.timeout)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not finish within %s s" % args.timeout)


def generated_arguments(ap):
    """The options of a test that generates its program: where the stages, the Wine prefix,
    the work folder and the import libraries are, and how long the program may run."""
    ap.add_argument("--bin", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", required=True)
    ap.add_argument("--timeout", type=float, default=120)


def run_generated(args, name, text, same=lambda out: out):
    """Writes a generated program to <work>/<name>.kv, builds and runs it without opt and
    with it, and gives its standard output (latin-1). A failed build, a time-out, an exit
    code other than 0, any standard error, or two builds that print differently is a
    Failure. The two outputs are compared through same(), which may hide what differs
    between any two runs (the address of a block, for one)."""
    os.makedirs(args.work, exist_ok=True)
    src = os.path.join(args.work, name + ".kv")
    with open(src, "w", encoding="latin-1") as f:
        f.write(text)
    outputs = []
    for exe in (build(args, src, name), build(args, src, name + "_o", optimise=True)):
        p = run_exe(args, exe)
        if p.returncode != 0 or p.stderr:
            raise Failure("%s: exit %d, standard error %r" % (exe, p.returncode, p.stderr[:300]))
        outputs.append(p.stdout)
    if same(outputs[0]) != same(outputs[1]):
        raise Failure("%s prints differently with opt:\n%s" % (src, compare("standard output", outputs[0], outputs[1])))
    return outputs[0].decode("latin-1")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", default="/usr/x86_64-w64-mingw32/lib")
    ap.add_argument("--timeout", type=float, default=30)
    ap.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    ap.add_argument("program")
    args = ap.parse_args()

    src = os.path.abspath(args.program)
    stem, _ = os.path.splitext(src)
    base = os.path.basename(stem)
    try:
        exes = [(build(args, src, base), ""), (build(args, src, base + "_o", optimise=True), " (with opt)")]
        expected_out = read_bytes(stem + ".out")
        if expected_out is None:
            raise Failure("missing expected output " + stem + ".out")
        expected_err = read_bytes(stem + ".err", b"")
        code_text = read_bytes(stem + ".code", b"0").decode().strip()
        expected_code = int(code_text) if code_text else 0
        argv = []
        args_text = read_bytes(stem + ".args")
        if args_text is not None:
            argv = [l.rstrip("\r") for l in args_text.decode("latin-1").split("\n")]
            if argv and argv[-1] == "":
                argv.pop()
        stdin = read_bytes(stem + ".in", b"")

        env = program_env(args, stem)
        if env.get("KAVEL_GC") == "stress":
            exes = exes[1:]  # collecting at every allocation is slow: one build is enough
        problems = []
        for exe, how in exes:
            p = run_exe(args, exe, argv, stdin, env)
            found = [compare("standard output" + how, expected_out, p.stdout),
                     compare("standard error" + how, expected_err, p.stderr)]
            if p.returncode != expected_code:
                found.append("exit code%s: expected %d, got %d" % (how, expected_code, p.returncode))
            problems += [x for x in found if x]
        if problems:
            raise Failure("\n".join(problems))
    except Failure as e:
        print("FAIL %s\n%s" % (args.program, e))
        return 1
    print("ok %s" % args.program)
    return 0


if __name__ == "__main__":
    sys.exit(main())
