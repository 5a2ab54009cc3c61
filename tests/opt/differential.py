#!/usr/bin/env python3
"""Differential test of the optimiser: random programs are built with opt and without it,
and both builds must print the same.

  differential.py --bin DIR --prefix DIR --work DIR --lib DIR [--seed N] [--programs N] [--batch N]

Each random program ("unit") is a function of its own, <prefix>main, that computes with
integers, floats, texts and lists through the forms opt rewrites: constant expressions,
branches on constants, code after a return, counting loops, compare-and-branch, counters,
list elements, and calls of small helper functions; it prints every variable it made. A
batch of units is one program whose start block calls each unit's main, so NASM and the
linker run once per batch. Programs never divide by zero and always end.
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import run_program  # noqa: E402

BIG = [0, 1, 2, 3, 7, 10, 100, 1000000007, 4294967296, 9223372036854775807]


class Unit:
    def __init__(self, rng, prefix):
        self.rng = rng
        self.p = prefix
        self.ints = []
        self.floats = []
        self.lists = []
        self.helpers = []
        self.lines = []
        self.depth = 0

    # ---- expressions -------------------------------------------------------------------
    def int_literal(self):
        v = self.rng.choice(BIG) if self.rng.random() < 0.3 else self.rng.randint(-50, 50)
        return str(v) if v >= 0 else "(0 - %d)" % -v

    def int_expr(self, d=0):
        r = self.rng.random()
        if d > 3 or r < 0.25:
            return self.int_literal()
        if r < 0.45 and self.ints:
            return self.rng.choice(self.ints)
        if r < 0.5 and self.lists:
            xs = self.rng.choice(self.lists)
            return "%s{%s %% len(%s)}" % (xs, self.nonneg(d + 1), xs)
        if r < 0.55 and self.helpers:
            name, arity = self.rng.choice(self.helpers)
            return "%s(%s)" % (name, ", ".join(self.int_expr(d + 1) for _ in range(arity)))
        if r < 0.62:
            return "-(%s)" % self.int_expr(d + 1)
        if r < 0.72:
            op = self.rng.choice(["/", "%"])
            k = self.rng.choice([1, 2, 3, 7, 10, -1, -3, -7, 1000000007, 4294967297])
            kk = str(k) if k >= 0 else "(0 - %d)" % -k
            return "(%s %s %s)" % (self.int_expr(d + 1), op, kk)
        op = self.rng.choice(["+", "-", "*", "+", "-"])
        return "(%s %s %s)" % (self.int_expr(d + 1), op, self.int_expr(d + 1))

    def nonneg(self, d):
        return "abs(%s %% 1000)" % self.int_expr(d)

    def float_expr(self, d=0):
        r = self.rng.random()
        if d > 2 or r < 0.3:
            return self.rng.choice(["0.5", "1.25", "2.0", "3.5", "100.0"])
        if r < 0.5 and self.floats:
            return self.rng.choice(self.floats)
        if r < 0.6:
            return self.int_expr(d + 1)
        op = self.rng.choice(["+", "-", "*", "/"])
        right = self.float_expr(d + 1)
        if op == "/":
            right = "(%s * %s + 0.5)" % (right, right)  # never 0
        return "(%s %s %s)" % (self.float_expr(d + 1), op, right)

    def condition(self, d=0):
        r = self.rng.random()
        if d > 2 or r < 0.5:
            op = self.rng.choice(["<", ">", "<=", ">=", "==", "!="])
            if self.rng.random() < 0.2 and self.floats:
                return "%s %s %s" % (self.rng.choice(self.floats), op, self.float_expr(d + 1))
            return "%s %s %s" % (self.int_expr(d + 1), op, self.int_expr(d + 1))
        if r < 0.6:
            return "not (%s)" % self.condition(d + 1)
        if r < 0.7:
            return self.rng.choice(["true", "false", "1 == 1", "2 < 1"])
        return "(%s) %s (%s)" % (self.condition(d + 1), self.rng.choice(["and", "or"]), self.condition(d + 1))

    # ---- statements --------------------------------------------------------------------
    def emit(self, text):
        self.lines.append("    " * (self.depth + 1) + text)

    def new_var(self, kind):
        pool = {"int": self.ints, "float": self.floats, "list": self.lists}[kind]
        name = "%s%s%d" % (self.p, kind[0], len(pool))
        return name, pool

    def statement(self, budget):
        r = self.rng.random()
        if r < 0.2 or not self.ints:
            name, pool = self.new_var("int")
            self.emit("let int %s = %s:" % (name, self.int_expr()))
            pool.append(name)
        elif r < 0.3:
            name, pool = self.new_var("float")
            self.emit("let float %s = %s:" % (name, self.float_expr()))
            pool.append(name)
        elif r < 0.36:
            name, pool = self.new_var("list")
            items = ", ".join(self.int_expr(2) for _ in range(self.rng.randint(1, 5)))
            self.emit("let list %s = {%s}:" % (name, items))
            pool.append(name)
        elif r < 0.42 and self.lists:
            xs = self.rng.choice(self.lists)
            if self.rng.random() < 0.5:
                self.emit("push(%s, %s):" % (xs, self.int_expr(1)))
            else:
                self.emit("%s{%s %% len(%s)} = %s:" % (xs, self.nonneg(1), xs, self.int_expr(1)))
        elif r < 0.55:
            v = self.rng.choice(self.ints)
            self.emit("%s = %s:" % (v, self.rng.choice([v + " + 1", v + " - 1", self.int_expr()])))
        elif r < 0.6 and self.floats:
            v = self.rng.choice(self.floats)
            self.emit("%s = %s:" % (v, self.float_expr()))
        elif r < 0.72 and budget > 0 and self.depth < 3:
            self.emit("when %s [" % self.condition())
            self.block(budget - 1)
            self.emit("]")
            if self.rng.random() < 0.5:
                self.emit("else [")
                self.block(budget - 1)
                self.emit("]")
        elif r < 0.84 and budget > 0 and self.depth < 3:
            lo, hi = self.rng.randint(-3, 3), self.rng.randint(-3, 8)
            step = self.rng.choice(["", " step 1", " step 2"]) if lo <= hi else ""
            var = "%sk%d" % (self.p, len(self.lines))
            self.emit("loop %s in %d to %d%s [" % (var, lo, hi, step))
            self.ints.append(var)
            self.block(budget - 1)
            self.ints.remove(var)
            self.emit("]")
        elif r < 0.9 and budget > 0 and self.depth < 3:
            counter = "%sw%d" % (self.p, len(self.lines))
            self.emit("let int %s = 0:" % counter)
            self.emit("loop while %s < %d [" % (counter, self.rng.randint(0, 6)))
            self.depth += 1
            self.emit("%s = %s + 1:" % (counter, counter))
            self.depth -= 1
            self.block(budget - 1)
            self.emit("]")
            self.ints.append(counter)
        else:
            self.emit("kvlog(%s):" % self.int_expr())

    def block(self, budget):
        # What a block declares may not run, so it is not used after the block.
        saved = (list(self.ints), list(self.floats), list(self.lists))
        self.depth += 1
        for _ in range(self.rng.randint(1, 3)):
            self.statement(budget)
        self.depth -= 1
        self.ints, self.floats, self.lists = saved

    def helper(self, k):
        name = "%sh%d" % (self.p, k)
        arity = self.rng.randint(1, 3)
        params = ["%sa%d_%d" % (self.p, k, i) for i in range(arity)]
        saved = self.ints
        self.ints = list(params)
        body = "    when %s [ give %s: ]\n    give %s:\n    kvlog(\"after a give\"):" % (
            self.condition(), self.int_expr(), self.int_expr())
        self.ints = saved
        self.helpers.append((name, arity))
        return "fn %s(%s) -> int [\n%s\n]" % (name, ", ".join("int " + p for p in params), body)

    def text(self):
        helpers = [self.helper(k) for k in range(self.rng.randint(0, 2))]
        for _ in range(self.rng.randint(3, 8)):
            self.statement(2)
        shown = self.ints + self.floats + self.lists
        self.lines.append("    kvlog(\"%s\"%s):" % (self.p, "".join(", " + v for v in shown)))
        return "\n".join(helpers) + "\nfn %smain() [\n%s\n]\n" % (self.p, "\n".join(self.lines))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", required=True)
    ap.add_argument("--timeout", type=float, default=120)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--programs", type=int, default=400)
    ap.add_argument("--batch", type=int, default=100)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    failures = 0
    done = 0
    while done < args.programs:
        n = min(args.batch, args.programs - done)
        units = [Unit(rng, "u%d_" % (done + i)) for i in range(n)]
        texts = [u.text() for u in units]
        program = "".join(texts) + "start [\n" + "".join("    %smain():\n" % u.p for u in units) + "]\n"
        try:
            run_program.run_generated(args, "batch%d" % done, program)
        except run_program.Failure as e:
            failures += 1
            print("FAIL batch from program %d (seed %d)\n%s" % (done, args.seed, str(e)[:3000]))
        done += n
    if failures:
        return 1
    print("ok: %d random programs print the same with opt and without" % done)
    return 0


if __name__ == "__main__":
    sys.exit(main())
