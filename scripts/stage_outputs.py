#!/usr/bin/env python3
"""Writes what every stage makes of every Kavel source and IR file of the tree, so that two
builds can be compared byte for byte (a refactor must leave them identical).

  stage_outputs.py --bin build/bin --out DIR [--examples build/tests/docs/examples] [ROOT...]

ROOTs default to tests, demos and lib. For each <file>.kv: vetter (standard output, standard
error and exit code), lowerir (IR and standard error), opt of that IR, emitasm of opt's
output. For each <file>.ir: opt and emitasm. The results land under DIR with the file's path;
compare two runs with `diff -r`.
"""
import argparse
import concurrent.futures
import os
import subprocess
import sys


def run(exe, path, cwd):
    p = subprocess.run([exe], input=(path + "\r\n").encode(), stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, cwd=cwd, timeout=300)
    return p.stdout, p.stderr, p.returncode


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def one(args, src, rel):
    dest = os.path.join(args.out, rel)
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    cwd = os.path.dirname(src)
    ir = src
    if src.endswith(".kv"):
        out, err, code = run(os.path.join(args.bin, "vetter"), src, cwd)
        write(dest + ".vetter", out + b"\n--- stderr\n" + err + b"\n--- exit %d\n" % code)
        out, err, code = run(os.path.join(args.bin, "lowerir"), src, cwd)
        write(dest + ".ir", out)
        write(dest + ".ir.err", err + b"\n--- exit %d\n" % code)
        ir = dest + ".ir"
    out, err, code = run(os.path.join(args.bin, "opt"), ir, cwd)
    write(dest + ".opt.ir", out + b"\n--- exit %d\n" % code)
    opt_ir = dest + ".opt.in.ir"
    write(opt_ir, out)
    out, err, code = run(os.path.join(args.bin, "emitasm"), opt_ir, cwd)
    os.remove(opt_ir)
    write(dest + ".asm", out + b"\n--- exit %d\n" % code)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--examples")
    ap.add_argument("roots", nargs="*", default=["tests", "demos", "lib"])
    args = ap.parse_args()
    args.bin = os.path.abspath(args.bin)
    args.out = os.path.abspath(args.out)
    jobs = []
    for root in args.roots:
        for dirpath, _, names in os.walk(root):
            for n in sorted(names):
                if n.endswith(".kv") or n.endswith(".ir"):
                    src = os.path.abspath(os.path.join(dirpath, n))
                    jobs.append((src, os.path.relpath(src)))
    if args.examples:
        for n in sorted(os.listdir(args.examples)):
            if n.endswith(".kv"):
                jobs.append((os.path.abspath(os.path.join(args.examples, n)), os.path.join("examples", n)))
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        list(pool.map(lambda j: one(args, *j), jobs))
    print("%d files" % len(jobs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
