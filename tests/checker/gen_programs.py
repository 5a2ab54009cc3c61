#!/usr/bin/env python3
"""Property test of the checker: a program it accepts builds without one complaint.

  gen_programs.py --bin DIR --work DIR [--lib DIR] [--seed N] [--units N] [--batch N] [--jobs N]

Writes random Kavel programs ("units"), half of them well-formed and half mutants (a
well-formed unit with one small change: a token dropped, doubled, swapped or replaced, or
a known way to go wrong put in). The checker must accept every well-formed unit. Every
unit it accepts, mutant or not, must then lower, optimise and compile without a diagnostic,
and NASM and the linker must take it without an error or a warning.

Each unit's names carry the unit's own prefix and its statements live in its function
<prefix>main, so a batch of units is one program whose start block calls each main: the
toolchain then assembles and links the runtime once per batch instead of once per unit.
A batch that fails is built unit by unit to name the culprit. Failing programs are kept
in the work folder; the exit status is 1 when there is any.
"""
import argparse
import concurrent.futures
import os
import random
import re
import subprocess
import sys

SCALARS = ["int", "float", "text", "bool"]
# std.kv functions the units call: name, parameter types, result type.
LIBRARY = [("trim", ["text"], "text"), ("to_upper", ["text"], "text"),
           ("repeat", ["text", "int"], "text"), ("index_of", ["text", "text"], "int"),
           ("split", ["text", "text"], "list"), ("join", ["list", "text"], "text"),
           ("pow_int", ["int", "int"], "int"), ("clamp", ["int", "int", "int"], "int"),
           ("sort_ints", ["list"], "list"), ("text_less", ["text", "text"], "int")]
# Built-ins by result type: name, parameter types.
BUILTINS = {
    "int": [("len", ["text"]), ("len", ["list"]), ("toint", ["text"]), ("ord", ["text"]),
            ("float_to_int", ["float"]), ("abs", ["int"]), ("min", ["int", "int"]),
            ("max", ["int", "int"]), ("clock", []), ("argc", []), ("map_has", ["map", "text"]),
            ("map_get_int", ["map", "text"])],
    "float": [("tofloat", ["text"]), ("int_to_float", ["int"]), ("abs", ["float"]),
              ("max", ["float", "int"]), ("map_get_float", ["map", "text"])],
    "text": [("totext", ["int"]), ("sub", ["text", "int", "int"]), ("chr", ["int"]),
             ("argv", ["int"]), ("lasterror", []), ("getenv", ["text"]), ("exedir", []),
             ("map_get_text", ["map", "text"])],
    "list": [("map_keys", ["map"])],
    "map": [("map_new", []), ("map_set", ["map", "text", "int"])],
}
WORDS = ["let", "fix", "give", "stop", "skip", "loop", "in", "to", "when", "or", "else",
         "match", "try", "catch", "spawn", "yield", "kvlog", "rec", "enum", "fn", "not",
         "and", "true", "int", "text", "list", "any", "private", "start", "use"]
SYMBOLS = ["(", ")", "[", "]", "{", "}", ",", ":", ".", "=", "-", "->", "+", "<", "==", "*"]
# Known ways a program can pass for well-formed and still not build or run as written.
TRAPS = ["stop:", "skip:", "give 1:", "println(99999999999999999999):", "println(1.2.3):",
         "println({1 -> 2, 3}):", "println(nosuch(1)):", "println(split(\"a\")):",
         "println(len()):", "fn reverse(text s) -> text [ give s: ]", "match 5 [ ]",
         "println(\"${nosuch}\"):", "println(\"${1 +}\"):", "spawn clock():"]
TOKEN = re.compile(r'\s+|//[^\n]*|[0-9][0-9.]*|[A-Za-z_][A-Za-z0-9_]*|"(?:\\.|[^"\\])*"?|'
                   r'==|!=|<=|>=|->|.', re.S)


class Unit:
    """One random unit: records, an enum, globals and functions, names prefixed."""

    def __init__(self, rng, prefix):
        self.r, self.p, self.n = rng, prefix, 0
        self.records, self.functions, self.lines = {}, [], []
        self.enum = (self.fresh("E"), [self.fresh("M") for _ in range(rng.randint(1, 3))])
        for _ in range(rng.randint(0, 2)):
            self.records[self.fresh("R")] = [(rng.choice(SCALARS + ["list"]), self.fresh("f"))
                                             for _ in range(rng.randint(1, 3))]
        self.types = SCALARS + ["list", "map", self.enum[0]] + list(self.records)
        for _ in range(rng.randint(1, 4)):
            params = [(rng.choice(self.types), self.fresh("a")) for _ in range(rng.randint(0, 3))]
            result = rng.choice(self.types + [None, None])
            self.functions.append((self.fresh("fn"), params, result))
        self.spawnable = self.fresh("co")

    def fresh(self, base):
        self.n += 1
        return "%s%s%d" % (self.p, base, self.n)

    # ---- expressions: one of the forms that give the wanted type ------------------------
    def expr(self, t, scope, depth):
        r = self.r
        names = [v for v, vt in scope.items() if vt == t]
        if names and r.random() < 0.4:
            return r.choice(names)
        if depth <= 0 or r.random() < 0.25:
            return self.leaf(t)
        # An operand that is an operation itself goes in parentheses, so that every form
        # keeps the type it was chosen for.
        sub = lambda want: self.operand(self.expr(want, scope, depth - 1))
        forms = []
        if t in ("int", "float"):
            forms += [lambda: "%s %s %s" % (sub(t), r.choice("+-*"), sub(r.choice(["int", t]))),
                      lambda: "-(%s)" % sub(t), lambda: "(%s)" % sub(t)]
        if t == "int":
            forms += [lambda: "%s %% %s" % (sub("int"), sub("int"))]
        if t == "any":
            forms += [lambda: "%s{%s}" % (sub("list"), sub("int")), lambda: "pop(%s)" % sub("list")]
        if t == "bool":
            forms += [lambda: "%s %s %s" % (sub("int"), r.choice(["<", ">=", "==", "!="]), sub("int")),
                      lambda: "%s %s %s" % (sub("text"), r.choice(["<", "<=", ">", "=="]), sub("text")),
                      lambda: "%s and %s" % (sub("bool"), sub("bool")), lambda: "not %s" % sub("bool"),
                      lambda: "%s or %s" % (sub("bool"), sub("bool"))]
        if t == "text":
            forms += [lambda: "%s + %s" % (sub("text"), sub(r.choice(SCALARS))),
                      lambda: '"at ${%s} end"' % self.interpolated(scope)]
        if t == "list":
            forms += [lambda: "{%s}" % ", ".join(sub("int") for _ in range(r.randint(0, 3))),
                      lambda: "{%s}" % ", ".join(sub("text") for _ in range(r.randint(1, 3)))]
        if t == "map":
            forms += [lambda: "{%s}" % ", ".join("%s -> %s" % (sub("text"), sub("int"))
                                                 for _ in range(r.randint(1, 2)))]
        if t in self.records:
            forms += [lambda: "%s(%s)" % (t, ", ".join(sub(ft) for ft, _ in self.records[t]))]
        for name, params in BUILTINS.get(t, []):
            forms.append(lambda name=name, params=params: self.call(name, params, sub))
        for name, params, result in LIBRARY:
            if result == t:
                forms.append(lambda name=name, params=params: self.call(name, params, sub))
        for name, params, result in self.functions:
            if result == t:
                forms.append(lambda name=name, params=params: self.call(name, [pt for pt, _ in params], sub))
        for var, vt in scope.items():
            for ft, field in self.records.get(vt, []):
                if ft == t and not var.endswith("_fx"):
                    forms.append(lambda var=var, field=field: "%s.%s" % (var, field))
        return r.choice(forms)() if forms else self.leaf(t)

    @staticmethod
    def operand(text):
        return "(%s)" % text if " " in text else text

    def call(self, name, params, sub):
        return "%s(%s)" % (name, ", ".join(sub(pt) for pt in params))

    def leaf(self, t):
        r = self.r
        if t == self.enum[0]:
            return "%s.%s" % (t, r.choice(self.enum[1]))
        return {"int": lambda: str(r.choice([0, 1, 7, 42, 1000, 9223372036854775807])),
                "float": lambda: r.choice(["0.5", "2.25", "10.0", "3."]),
                "text": lambda: r.choice(['""', '"a"', '"pear"', '"x y"', '"tab\\t"']),
                "bool": lambda: r.choice(["true", "false"]),
                "list": lambda: "{}", "map": lambda: "map_new()", "any": lambda: "{1}{0}"}.get(
                    t, lambda: "%s(%s)" % (t, ", ".join(self.leaf(ft) for ft, _ in self.records[t])))()

    # An interpolated part holds no text literal, braces or field of a record.
    def interpolated(self, scope):
        ints = [v for v, vt in scope.items() if vt == "int"]
        return self.r.choice(ints + ["1 + 2", "(7 - 3) * 2"])

    # ---- statements ---------------------------------------------------------------------
    def block(self, scope, depth, ctx):
        return "[\n%s%s]" % ("".join("    " * ctx["indent"] + s + "\n"
                                     for s in self.statements(scope, depth, ctx)),
                             "    " * (ctx["indent"] - 1))

    def statements(self, scope, depth, ctx):
        out = []
        for _ in range(self.r.randint(1, 4)):
            out.append(self.statement(scope, depth, ctx))
        return out

    def statement(self, scope, depth, ctx):
        r = self.r
        e = lambda t: self.expr(t, scope, 2)
        inner = dict(ctx, indent=ctx["indent"] + 1)
        looped = dict(inner, loop=True)
        kinds = ["let", "let", "print", "assign", "call"]
        if depth > 0:
            kinds += ["when", "loop", "try", "match"]
        if ctx["loop"]:
            kinds += ["stop", "skip"]
        if ctx["result"]:
            kinds += ["give"]
        if ctx.get("spawnable"):
            kinds += ["yield"]
        kind = r.choice(kinds)
        if kind == "let":
            t = r.choice(self.types)
            name = self.fresh("v")
            text = "let %s %s = %s:" % (t, name, e(t))
            if r.random() < 0.15:
                name += "_fx"
                text = "fix %s = %s:" % (name, e(t))
            scope[name] = t
            return text
        if kind == "assign":
            names = [v for v in scope if not v.endswith("_fx")]
            if not names:
                return "kvlog(%s):" % e("int")
            v = r.choice(names)
            fields = self.records.get(scope[v], [])
            if fields and r.random() < 0.5:
                ft, f = r.choice(fields)
                return "%s.%s = %s:" % (v, f, e(ft))
            if scope[v] == "list" and r.random() < 0.5:
                return r.choice(["%s{%s} = %s:" % (v, e("int"), e("int")), "push(%s, %s):" % (v, e("text"))])
            return "%s = %s:" % (v, e(scope[v]))
        if kind == "print":
            return r.choice(["println(%s):", "print(%s):", "kvlog(%s, 1):", "kvlog.warn(%s):",
                             "printout(%s, \" \", 2):"]) % e(r.choice(self.types))
        if kind == "call":
            name, params, _ = r.choice(self.functions + [(n, [(p, "") for p in ps], res) for n, ps, res in LIBRARY])
            return "%s(%s):" % (name, ", ".join(e(pt) for pt, _ in params))
        if kind == "when":
            s = "when %s %s" % (e("bool"), self.block(scope, depth - 1, inner))
            if r.random() < 0.4:
                s += " or %s %s" % (e("bool"), self.block(scope, depth - 1, inner))
            if r.random() < 0.5:
                s += " else %s" % self.block(scope, depth - 1, inner)
            return s
        if kind == "loop":
            form = r.randrange(5)
            if form == 0:
                head = "while " + e("bool")
            elif form == 1:
                head = e("int")
            else:
                var = self.fresh("i")
                source, scope[var] = [("%s to %s" % (e("int"), e("int")), "int"), (e("list"), "any"),
                                      (e("text"), "int")][form - 2]
                head = "%s in %s" % (var, source)
            return "loop %s %s" % (head, self.block(scope, depth - 1, looped))
        if kind == "try":
            return "try %s catch %s" % (self.block(scope, depth - 1, inner), self.block(scope, depth - 1, inner))
        if kind == "match":
            ints = [v for v, vt in scope.items() if vt == "int"]
            if not ints:
                return "yield:"
            arms = " ".join("%d %s" % (k, self.block(scope, depth - 1, inner)) for k in range(r.randint(1, 2)))
            return "match %s [ %s else %s ]" % (r.choice(ints), arms, self.block(scope, depth - 1, inner))
        if kind == "give":
            return "give %s:" % e(ctx["result"])
        return kind + ":"

    # ---- the unit -----------------------------------------------------------------------
    def text(self, faulty=False):
        """The unit; a faulty one has one of the faults below in one of its functions."""
        r = self.r
        out = ["rec %s [ %s ]" % (name, " ".join("%s%s %s:" % ("private " if r.random() < 0.2 else "", t, f)
                                                 for t, f in fields))
               for name, fields in self.records.items()]
        out.append("enum %s [ %s ]" % (self.enum[0], " ".join(m + ":" for m in self.enum[1])))
        scope = {}
        for _ in range(r.randint(0, 2)):
            g, t = self.fresh("g"), r.choice(SCALARS)
            out.append("let %s %s = %s:" % (t, g, self.leaf(t)))
            scope[g] = t
        bodies = []  # head, statements, scope at the end
        for name, params, result in self.functions:
            local = dict(scope, **{a: t for t, a in params})
            body = self.statements(local, 2, {"indent": 1, "loop": False, "result": result})
            if result:
                body.append("give %s:" % self.expr(result, local, 2))
            head = "fn %s(%s)%s" % (name, ", ".join("%s %s" % p for p in params), " -> " + result if result else "")
            bodies.append((head, body, local))
        ctx = {"indent": 2, "loop": False, "result": None, "spawnable": True}
        local = dict(scope)
        bodies.append(("fn %s()" % self.spawnable, self.statements(local, 1, ctx), local))
        local = dict(scope)
        main = self.statements(local, 2, {"indent": 1, "loop": False, "result": None})
        bodies.append(("fn %smain()" % self.p, main + ["spawn %s():" % self.spawnable, "run_coroutines():"], local))
        if faulty:
            k = r.randrange(len(bodies))
            others = {v: t for i, (_, _, sc) in enumerate(bodies) if i != k for v, t in sc.items() if v not in scope}
            bodies[k][1].insert(r.randint(0, len(bodies[k][1])), self.fault(bodies[k][2], others, scope))
        out += ["%s [\n%s]" % (head, "".join("    %s\n" % s for s in body)) for head, body, _ in bodies]
        return "\n".join(out) + "\n"

    def fault(self, scope, others, globals_):
        """A statement that uses the unit's own names the wrong way."""
        r = self.r
        e = lambda t: self.expr(t, scope, 1)
        of = lambda pred: [v for v, t in scope.items() if pred(t) and not v.endswith("_fx")]
        faults = [lambda: "println(%s):" % r.choice(list(others) or ["x"]),
                  lambda: "%s = %s:" % (r.choice(list(others) or ["x"]), e("int")),
                  lambda: "println(%s.%s):" % (self.enum[0], self.p + "Nope"),
                  lambda: "println(%s):" % self.enum[0],
                  lambda: "println(%s):" % r.choice(["9223372036854775808", "-(9223372036854775808)",
                                                     "0." + "1" * 53, "1..5", "{%s, 1 -> 2}" % e("int")]),
                  lambda: 'println("v ${%s}"):' % r.choice(["nosuch", "1 2", "", "(1", "%s.%s" % (self.enum[0], "x")]),
                  lambda: r.choice(["stop:", "skip:"])]
        for name, params, result in self.functions:
            args = [e(t) for t, _ in params]
            faults.append(lambda name=name, args=args: "%s(%s):" % (name, ", ".join(args + [e("int")])))
            if args:
                faults.append(lambda name=name, args=args: "%s(%s):" % (name, ", ".join(args[:-1])))
            if result in self.records:
                field = self.records[result][0][1]
                faults.append(lambda name=name, args=args, field=field:
                              "println(%s(%s).%s):" % (name, ", ".join(args), field))
        for rec, fields in self.records.items():
            faults.append(lambda rec=rec, fields=fields: "println(%s(%s)):" % (rec, ", ".join(e(t) for t, _ in fields[1:])))
            for v in of(lambda t, rec=rec: t == rec):
                faults += [lambda v=v: "println(%s.%s):" % (v, self.p + "zz"),
                           lambda v=v: "%s.%s = 1:" % (v, self.p + "zz"),
                           lambda v=v, f=fields[0][1]: "%s.%s + 1:" % (v, f)]
        for v in of(lambda t: t in SCALARS) + [v for v in scope if v.endswith("_fx")]:
            faults.append(lambda v=v: "println(%s.%s):" % (v, self.p + "f1"))
        for v in of(lambda t: t == "list"):
            faults += [lambda v=v: "%s{0}{1} = 2:" % v, lambda v=v: "println(%s{0}.f):" % v]
        for g in globals_:
            faults.append(lambda g=g: "println(%s): let int %s = 2:" % (g, g))
        return r.choice(faults)()


def mutate(rng, text, prefix):
    """One small change to a unit's text."""
    tokens = [t for t in TOKEN.findall(text) if t.strip() and not t.startswith("//")]
    at = rng.randrange(len(tokens))
    how = rng.randrange(6)
    if how == 0:
        del tokens[at]
    elif how == 1:
        tokens.insert(at, tokens[at])
    elif how == 2 and at + 1 < len(tokens):
        tokens[at], tokens[at + 1] = tokens[at + 1], tokens[at]
    elif how == 3:
        tokens[at] = rng.choice(tokens)
    elif how == 4:
        tokens[at] = rng.choice(WORDS + SYMBOLS + [prefix + "nosuch", "0", "\"s\"", "1.5"])
    else:
        # A trap goes at the start of a statement or of the unit.
        starts = [i + 1 for i, t in enumerate(tokens) if t in ("[", ":")] + [0]
        tokens.insert(rng.choice(starts), rng.choice(TRAPS).replace("nosuch", prefix + "nosuch"))
    return " ".join(t + "\n" if t in (":", "[", "]") else t for t in tokens) + "\n"


def program(units):
    calls = "".join("    %smain():\n" % p for p, _ in units)
    return "use \"std.kv\":\n\n" + "\n".join(text for _, text in units) + "\nstart [\n" + calls + "]\n"


def stage(exe, path, out):
    p = subprocess.run([exe], input=(path + "\r\n").encode(), capture_output=True, timeout=120)
    with open(out, "wb") as f:
        f.write(p.stdout)
    said = [l for l in p.stderr.decode("latin-1").splitlines()[1:] if l.strip()]
    return p.returncode, said


def vet(args, path):
    """Whether the checker accepts the program, and what it said. It answers 0 or 1."""
    p = subprocess.run([os.path.join(args.bin, "vetter")], input=(path + "\r\n").encode(),
                       capture_output=True, timeout=120)
    said = p.stderr.decode("latin-1").splitlines()
    if p.returncode not in (0, 1):
        said.insert(0, "the checker ended with status %d" % p.returncode)
    return p.returncode == 0 and not p.stderr, said


def build(args, path):
    """Nothing, or the first complaint of a stage, NASM or the linker."""
    base = os.path.splitext(path)[0]
    for exe, src, dst in (("lowerir", path, ".ir"), ("opt", base + ".ir", ".opt.ir"),
                          ("emitasm", base + ".opt.ir", ".asm")):
        code, said = stage(os.path.join(args.bin, exe), src, base + dst)
        if code != 0 or said:
            return "%s (exit %d): %s" % (exe, code, "\n".join(said[:5]))
    for cmd in (["nasm", "-f", "win64", "-o", base + ".obj", base + ".asm"],
                ["lld-link", "/nologo", "/subsystem:console", "/entry:kv_start", "/nodefaultlib",
                 base + ".obj"] + [os.path.join(args.lib, l) for l in ("libmsvcrt.a", "libkernel32.a", "libws2_32.a")]
                + ["/out:" + base + ".exe"]):
        p = subprocess.run(cmd, capture_output=True, timeout=120)
        said = (p.stdout + p.stderr).decode("latin-1").strip()
        if p.returncode != 0 or said:
            return "%s (exit %d): %s" % (cmd[0], p.returncode, said[:2000])
    for ext in (".ir", ".opt.ir", ".asm", ".obj", ".exe"):
        os.remove(base + ext)
    return None


def write(path, text):
    with open(path, "w", newline="\n") as f:
        f.write(text)


def units(args):
    """prefix, text, path, mutant: half of them mutants, each faulty or changed by a token."""
    rng = random.Random(args.seed)
    made = []
    for i in range(args.units):
        prefix, mutant = "u%d_" % i, i % 2 == 1
        faulty = mutant and rng.random() < 0.5
        text = Unit(rng, prefix).text(faulty)
        if mutant and not faulty:
            text = mutate(rng, text, prefix)
        path = os.path.join(args.work, "unit%d.kv" % i)
        write(path, program([(prefix, text)]))
        made.append((prefix, text, path, mutant))
    return made


def build_batch(args, number, batch):
    """The failures of one batch of accepted units."""
    path = os.path.join(args.work, "batch%d.kv" % number)
    write(path, program([(p, t) for p, t, _, _ in batch]))
    problem = build(args, path)
    if problem is None:
        for unit in [path] + [u[2] for u in batch]:
            os.remove(unit)
        return []
    culprits = [(u[2], build(args, u[2])) for u in batch]
    found = ["%s: accepted by the checker, then %s" % c for c in culprits if c[1]]
    return found or ["%s: its units build alone, together %s" % (path, problem)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", default="/usr/x86_64-w64-mingw32/lib")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--units", type=int, default=2000)
    ap.add_argument("--batch", type=int, default=15)
    ap.add_argument("--jobs", type=int, default=2)
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    for old in os.listdir(args.work):
        if re.fullmatch(r"(unit|batch)\d+\..*", old):
            os.remove(os.path.join(args.work, old))
    made = units(args)
    failures, accepted = [], []
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for unit, (ok, said) in zip(made, pool.map(lambda u: vet(args, u[2]), made)):
            if ok:
                accepted.append(unit)
            elif said and said[0].startswith("the checker ended"):
                failures.append("%s: %s" % (unit[2], said[0]))
            elif not unit[3]:
                failures.append("%s: the checker rejects a well-formed program:\n%s" % (unit[2], "\n".join(said[:5])))
            else:
                os.remove(unit[2])
        batches = [accepted[b:b + args.batch] for b in range(0, len(accepted), args.batch)]
        for found in pool.map(lambda nb: build_batch(args, *nb), enumerate(batches)):
            failures += found
    print("%d units (seed %d): %d accepted, %d of them mutants, built in %d batches"
          % (args.units, args.seed, len(accepted), sum(u[3] for u in accepted), len(batches)))
    for f in failures[:20]:
        print("FAIL " + f)
    if len(failures) > 20:
        print("... and %d more" % (len(failures) - 20))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
