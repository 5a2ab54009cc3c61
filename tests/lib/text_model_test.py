#!/usr/bin/env python3
"""std.kv's text functions and the text built-ins under them, against a model of what each
must give: one generated program calls them on many small random texts (every edge the
alphabet reaches: empty texts and needles, overlaps, separators at the ends, white space of
each kind, bytes above 127) and on large texts that a search or a cut which reads a text
more than once would take minutes or the whole heap for (a needle "aa...ab" in "aa...a",
a megabyte split, replaced, trimmed, reversed, compared). The output must be what the
model writes, byte for byte.

  text_model_test.py --bin DIR --prefix DIR --work DIR --lib DIR [--timeout S] [--seed N] [--cases N]
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import run_program  # noqa: E402

WHITE = " \t\n\r"
HIGH = "\xc8"  # a byte above 127: chr(200)


def lit(s):
    """A Kavel expression for the text s (bytes as latin-1 characters)."""
    parts, run = [], ""
    for c in s:
        if c == HIGH:
            if run:
                parts.append('"%s"' % run)
                run = ""
            parts.append("chr(200)")
        else:
            run += {"\t": "\\t", "\n": "\\n", "\r": "\\r"}.get(c, c)
    if run or not parts:
        parts.append('"%s"' % run)
    return "(" + " + ".join(parts) + ")"


# ---- the model: what each function must give --------------------------------------------

def index_of(s, t):
    return 0 if t == "" else s.find(t)


def split(s, sep):
    return [s] if sep == "" else s.split(sep)


def substr(s, a, b):
    n = len(s)
    a = max(a, 0)
    b = min(b, n)
    a = min(a, b)
    return s[a:b]


def text_map(s, frm, to):
    table = {}
    for a, b in zip(frm, to):
        table[a] = b
    return "".join(table.get(c, c) for c in s)


def span(s, chars, from_end):
    t = s.rstrip(chars) if from_end else s.lstrip(chars)
    return len(s) - len(t)


def pad(s, width, p, left):
    if p == "" or len(s) >= width:
        return s
    k = (width - len(s) + len(p) - 1) // len(p)
    return p * k + s if left else s + p * k


UPPER = str.maketrans("abcdefghijklmnopqrstuvwxyz", "ABCDEFGHIJKLMNOPQRSTUVWXYZ")
LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")

# (call, the kind of its result, the model) for calls on random texts a, b, c and ints i, j
CALLS = [
    ("index_of({a}, {b})", "int", lambda a, b, c, i, j: index_of(a, b)),
    ("text_find({a}, {b})", "int", lambda a, b, c, i, j: index_of(a, b)),
    ("count({a}, {b})", "int", lambda a, b, c, i, j: a.count(b) if b else 0),
    ("contains({a}, {b})", "int", lambda a, b, c, i, j: int(index_of(a, b) >= 0)),
    ("starts_with({a}, {b})", "int", lambda a, b, c, i, j: int(a.startswith(b))),
    ("ends_with({a}, {b})", "int", lambda a, b, c, i, j: int(a.endswith(b))),
    ("replace({a}, {b}, {c})", "text", lambda a, b, c, i, j: a if b == "" else a.replace(b, c)),
    ("split({a}, {b})", "list", lambda a, b, c, i, j: split(a, b)),
    ("join(split({a}, {b}), {c})", "text", lambda a, b, c, i, j: c.join(split(a, b))),
    ("ltrim({a})", "text", lambda a, b, c, i, j: a.lstrip(WHITE)),
    ("rtrim({a})", "text", lambda a, b, c, i, j: a.rstrip(WHITE)),
    ("trim({a})", "text", lambda a, b, c, i, j: a.strip(WHITE)),
    ("to_upper({a})", "text", lambda a, b, c, i, j: a.translate(UPPER)),
    ("to_lower({a})", "text", lambda a, b, c, i, j: a.translate(LOWER)),
    ("reverse({a})", "text", lambda a, b, c, i, j: a[::-1]),
    ("text_less({a}, {b})", "int", lambda a, b, c, i, j: int(a.encode("latin-1") < b.encode("latin-1"))),
    ("text_greater({a}, {b})", "int", lambda a, b, c, i, j: int(a.encode("latin-1") > b.encode("latin-1"))),
    ("text_equal({a}, {b})", "int", lambda a, b, c, i, j: int(a == b)),
    ("text_compare({a}, {b})", "int",
     lambda a, b, c, i, j: (a.encode("latin-1") > b.encode("latin-1")) - (a.encode("latin-1") < b.encode("latin-1"))),
    ("repeat({a}, {i})", "text", lambda a, b, c, i, j: a * max(i, 0)),
    ("pad_left({a}, {i}, {b})", "text", lambda a, b, c, i, j: pad(a, i, b, True)),
    ("pad_right({a}, {i}, {b})", "text", lambda a, b, c, i, j: pad(a, i, b, False)),
    ("text_map({a}, {b}, {c})", "text", lambda a, b, c, i, j: text_map(a, b, c)),
    ("text_span({a}, {b}, 0)", "int", lambda a, b, c, i, j: span(a, b, False)),
    ("text_span({a}, {b}, 1)", "int", lambda a, b, c, i, j: span(a, b, True)),
    ("sub({a}, {i}, {j})", "text", lambda a, b, c, i, j: substr(a, i, j)),
]

# Large inputs, built in the program by repeat; each prints a few numbers and ends of the
# result rather than the result itself. (setup, expression, model value)
AAA = "a" * 300000
NEEDLE = "a" * 999 + "b"
BIG = "ab," * 200000
LARGE = [
    ('let text aaa = repeat("a", 300000):\n    let text needle = repeat("a", 999) + "b":',
     "index_of(aaa, needle)", index_of(AAA, NEEDLE)),
    ("", "count(aaa, needle)", 0),
    ("", 'index_of(aaa + "b", needle)', index_of(AAA + "b", NEEDLE)),
    ("", 'count(aaa + "b" + aaa + "b", needle)', 2),
    ("", 'len(split(aaa, needle))', 1),
    ("", 'count(aaa + "a", "aa")', 150000),
    ("", 'index_of(aaa, repeat("a", 2000))', 0),
    ("", 'index_of(repeat("ab", 100000) + "abb", "abb")', 200000),
    ('let text big = repeat("ab,", 200000):\n    let list pieces = split(big, ","):',
     "len(pieces)", len(BIG.split(","))),
    ("", "len(pieces{199999}) + len(pieces{200000})", 2),
    ("", 'text_equal(join(pieces, ","), big)', 1),
    ("", 'len(replace(big, "b", "xyz"))', len(BIG.replace("b", "xyz"))),
    ("", 'sub(replace(big, "ab", "-"), 0, 9)', BIG.replace("ab", "-")[:9]),
    ("", 'len(replace(big, ",", ""))', 400000),
    ("", 'count(big, "b,a")', BIG.count("b,a")),
    ("", 'text_equal(to_upper(big), repeat("AB,", 200000))', 1),
    ("", 'text_equal(reverse(big), repeat(",ba", 200000))', 1),
    ("", 'starts_with(big, "ab,ab") + ends_with(big, "b,ab,")', 2),
    ("", 'len(trim(repeat(" \\t", 250000) + big + repeat("\\r\\n", 250000)))', len(BIG)),
    ("", 'len(trim(repeat(" ", 600000)))', 0),
    ("", 'text_less(big + "a", big + "b") + text_less(big, big) + text_greater(big + "a", big)', 2),
    ('let int reads = 0:\n    loop 20000 [ reads = reads + len(sub(big, 1, 3)) + ord(big{2}): ]',
     "reads", 20000 * (2 + ord(","))),
    ("", 'len(repeat("xyz", 333333))', 999999),
    ("", 'len(pad_left("7", 500000, "ab"))', 500001),
]


def program(rng, cases_wanted):
    head = [
        'use "std.kv":',
        "",
        "fn show(list xs) -> int [",
        '    print("<" + len(xs) + ">"):',
        '    loop x in xs [ print("[" + x + "]"): ]',
        '    println(""):',
        "    give 0:",
        "]",
        "",
        "start [",
    ]
    body, expected, labels = [], [], []

    def text(maxlen, alphabet):
        return "".join(rng.choice(alphabet) for _ in range(rng.randint(0, maxlen)))

    alphabets = ["ab", "ab", "aab,", "a,b ", WHITE + "xY", "aB" + HIGH, "abc"]
    for _ in range(cases_wanted):
        call, kind, model = rng.choice(CALLS)
        alpha = rng.choice(alphabets)
        a, b, c = text(12, alpha), text(3, alpha), text(3, alpha)
        i, j = rng.randint(-3, 15), rng.randint(-3, 15)
        if call.startswith("repeat"):
            i = rng.randint(-2, 9)
        expr = call.format(a=lit(a), b=lit(b), c=lit(c), i=i, j=j)
        value = model(a, b, c, i, j)
        labels.append(expr)
        if kind == "int":
            body.append("    kvlog(%s):" % expr)
            expected.append("%d\r\n" % value)
        elif kind == "text":
            body.append('    println("[" + %s + "]"):' % expr)
            expected.append("[%s]\r\n" % value)
        else:
            body.append("    show(%s):" % expr)
            expected.append("<%d>%s\r\n" % (len(value), "".join("[%s]" % p for p in value)))
    for setup, expr, value in LARGE:
        if setup:
            body.append("    " + setup)
        labels.append(expr)
        if isinstance(value, str):
            body.append('    println("[" + %s + "]"):' % expr)
            expected.append("[%s]\r\n" % value)
        else:
            body.append("    kvlog(%s):" % expr)
            expected.append("%d\r\n" % value)
    return "\n".join(head + body) + "\n]\n", labels, expected


def main():
    ap = argparse.ArgumentParser()
    run_program.generated_arguments(ap)
    ap.add_argument("--seed", type=int, default=15)
    ap.add_argument("--cases", type=int, default=1500)
    args = ap.parse_args()
    text, labels, expected = program(random.Random(args.seed), args.cases)
    try:
        out = run_program.run_generated(args, "text_model", text)
    except run_program.Failure as e:
        print("FAIL %s" % e)
        return 1
    at = 0
    for k, line in enumerate(expected):
        if out[at:at + len(line)] != line:
            print("FAIL at case %d: %s\n  expected %r\n  got      %r"
                  % (k, labels[k], line, out[at:at + len(line) + 40]))
            return 1
        at += len(line)
    if at != len(out):
        print("FAIL: %d bytes more output than expected" % (len(out) - at))
        return 1
    print("ok: %d calls, each as the model gives it" % len(expected))
    return 0


if __name__ == "__main__":
    sys.exit(main())
