#!/usr/bin/env python3
"""Every value keeps its kind, whatever way it travels: one generated program takes values
of every kind through every route a value can take (a list literal, push, element
assignment, a list parameter, a list result, a record field, a map value through each
getter, any, a loop variable, pop) into every use (kvlog, println, printout, interpolation,
"+" with a text and with a number, ==, totext), and prints each use twice: once of the
value itself and once of the value after its route. The two lines must be equal; the
value's own kvlog line must also be what its kind prints.

  kinds_test.py --bin DIR --prefix DIR --work DIR --lib DIR [--timeout S]
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import run_program  # noqa: E402


def big_float():
    x = 1.0
    for _ in range(300):
        x *= 10.0
    return str(int(x))


# (name, declared type, setup statements, the value's expression, its kvlog text or None
# when it prints an address)
VALUES = [
    ("i0", "int", "", "0", "0"),
    ("im1", "int", "", "-1", "-1"),
    ("iheap", "int", "", "16384100", "16384100"),
    ("iimage", "int", "", "5368709120", "5368709120"),
    ("i62", "int", "", "4611686018427387904", "4611686018427387904"),
    ("imin", "int", "", "-9223372036854775807 - 1", "-9223372036854775808"),
    ("f15", "float", "", "1.5", "1.5"),
    ("fneg0", "float", "", "0.0 * -1.0", "0"),
    ("fbig", "float", "let float big = 1.0:\n    loop 300 [ big = big * 10.0: ]\n", "big", big_float()),
    ("fnan", "float", "let float zero = 0.0:\n", "zero / zero", "nan"),
    ("finf", "float", "let float zero = 0.0:\n", "1.0 / zero", "inf"),
    ("btrue", "bool", "", "true", "1"),
    ("text", "text", "", '"kavel"', "kavel"),
    ("list", "list", "", '{1, "b", 2.5, {3}}', "{1, b, 2.5, {3}}"),
    ("map", "map", "", '{"k" -> 1}', None),
    ("rec", "Pair", "", "Pair(1, 2)", None),
]

# Each use is a statement that prints one line of X. An interpolation cannot hold braces or
# quotes, so it takes X from a constant of its own ({n} numbers them).
USES = {
    "kvlog": "kvlog({x}):",
    "println": "println({x}):",
    "printout": 'printout({x}):\n    println(""):',
    "interp": 'fix i_{n} = {x}:\n    println("<${{i_{n}}}>"):',
    "text_plus": 'println("<" + {x}):',
    "plus_text": 'println({x} + ">"):',
    "number": "kvlog({x} + 0):",
    "equal": "kvlog({x} == {v}):",
    "totext": "println(totext({x})):",
}

# Each route: setup statements (may use {v}), and the expression that gives the value back.
ROUTES = {
    "variable": ("", "{v}"),
    "literal": ("", "({e})"),
    "push": ("let list lp = {{}}:\n    push(lp, {v}):\n", "lp{{0}}"),
    "setidx": ("let list ls = {{0}}:\n    ls{{0}} = {v}:\n", "ls{{0}}"),
    "result": ("", "wrapped({v}){{0}}"),
    "field": ("let Holder h = Holder({v}):\n", "h.v"),
    "get_int": ("let map mi = map_new():\n    map_set(mi, \"k\", {v}):\n", 'map_get_int(mi, "k")'),
    "get_float": ("let map mf = map_new():\n    map_set(mf, \"k\", {v}):\n", 'map_get_float(mf, "k")'),
    "get_text": ("let map mt = map_new():\n    map_set(mt, \"k\", {v}):\n", 'map_get_text(mt, "k")'),
    "any": ("let any av = {v}:\n", "av"),
    "pop": ("let list lq = {{{v}}}:\n", "pop(lq)"),
}


def hide_addresses(out):
    """A map or a record prints its address, which the heap picks anew at every run."""
    return re.sub(rb"\b[1-9][0-9]{14}\b", b"<address>", out)


def program():
    """The program's text, and the cases in the order their pairs of lines come."""
    head = [
        "rec Pair [int a: int b:]",
        "rec Holder [any v:]",
        "fn wrapped(any v) -> list [ give {v}: ]",
    ]
    functions, body, cases = [], [], []
    count = [0]

    def use_of(stmt, x, v):
        count[0] += 1
        return stmt.format(x=x, v=v, n=count[0])

    for name, typ, setup, expr, _ in VALUES:
        var = "v_" + name
        body.append("    " + setup.replace("\n", "\n    ") + "let %s %s = %s:" % (typ, var, expr))
        for use, stmt in USES.items():
            for route, (rsetup, rexpr) in ROUTES.items():
                if route == "literal" and typ not in ("int", "float", "bool", "text"):
                    continue  # the literal of a list, map or record makes another one
                x = rexpr.format(v=var, e=expr)
                body.append("    " + use_of(stmt, var, var))
                body.append("    " + rsetup.format(v=var) + "    " + use_of(stmt, x, var))
                cases.append((name, route, use))
            # The list parameter and the loop variable: the use stands inside them.
            k = len(functions) + 1
            functions.append("fn param_%d(list xs, %s %s) [\n    %s\n]" % (k, typ, var, use_of(stmt, "xs{0}", var)))
            body.append("    " + use_of(stmt, var, var))
            body.append("    param_%d({%s}, %s):" % (k, var, var))
            cases.append((name, "parameter", use))
            body.append("    " + use_of(stmt, var, var))
            body.append("    loop lv in {%s} [\n    %s\n    ]" % (var, use_of(stmt, "lv", var)))
            cases.append((name, "loop", use))
    text = "\n".join(head + functions) + "\nstart [\n" + "\n".join(body) + "\n]\n"
    return text.replace("\n    \n", "\n"), cases


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", required=True)
    ap.add_argument("--timeout", type=float, default=120)
    args = ap.parse_args()
    text, cases = program()
    try:
        lines = run_program.run_generated(args, "kinds", text, same=hide_addresses).split("\r\n")
    except run_program.Failure as e:
        print("FAIL %s" % e)
        return 1
    problems = []
    if len(lines) < 2 * len(cases):
        problems.append("%d lines for %d cases" % (len(lines), len(cases)))
    own = {name: shown for name, _, _, _, shown in VALUES}
    for k, (name, route, use) in enumerate(cases[: len(lines) // 2]):
        direct, routed = lines[2 * k], lines[2 * k + 1]
        if direct != routed:
            problems.append("%s through %s into %s: %r, not %r" % (name, route, use, routed, direct))
        if use == "kvlog" and own[name] is not None and direct != own[name]:
            problems.append("%s prints %r, not %r" % (name, direct, own[name]))
    if problems:
        print("FAIL %d of %d cases\n%s" % (len(problems), len(cases), "\n".join(problems[:60])))
        return 1
    print("ok: %d cases, each value printed alike after its route" % len(cases))
    return 0


if __name__ == "__main__":
    sys.exit(main())
