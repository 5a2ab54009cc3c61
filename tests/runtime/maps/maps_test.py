#!/usr/bin/env python3
"""Maps at every size against a model (an insertion-ordered dictionary): one generated
program fills maps of many sizes, across every growth of the arrays and of the hash index
(0 to 40 entries, around each power of two, up to 20000), with values of three kinds and
every fifth key set again, and prints each map's count, its keys in order and every value.
It also puts keys whose 32-bit hashes are equal (found here by hashing many keys the way
the runtime does) into one map, keys that differ only at the end or in case, the empty
key and bytes above 127, and reads a map literal larger than a small map. The output must
be what the model writes, byte for byte.

  maps_test.py --bin DIR --prefix DIR --work DIR --lib DIR [--timeout S]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import run_program  # noqa: E402

SIZES = list(range(41)) + [63, 64, 65, 127, 128, 129, 255, 256, 257, 1000, 1023, 1025, 4097, 20000]


def key(i):
    return "k%d" % (i * 7919 % 100003)


def runtime_hash(text):
    """The runtime's hash of a key: 64-bit FNV-1a, the high half folded into the low."""
    h = 0xCBF29CE484222325
    for b in text.encode("latin-1"):
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return (h ^ (h >> 32)) & 0xFFFFFFFF


def colliding_pairs(wanted):
    seen, pairs = {}, []
    i = 0
    while len(pairs) < wanted:
        k = "c%d" % i
        h = runtime_hash(k)
        if h in seen:
            pairs.append((seen[h], k))
        else:
            seen[h] = k
        i += 1
    return pairs


def model_map(n):
    m = {}
    for i in range(n):
        m[key(i)] = str(i) if i % 3 == 0 else "t%d" % i if i % 3 == 1 else "%.1f" % (i + 0.5)
    for i in range(0, n, 5):
        m[key(i)] = str(-i)
    return m


PROGRAM_HEAD = r'''
fn key(int i) -> text [
    give "k" + (i * 7919 % 100003):
]

fn fill(map m, int n) -> int [
    let int i = 0:
    loop while i < n [
        when i % 3 == 0 [ map_set(m, key(i), i): ]
        or i % 3 == 1 [ map_set(m, key(i), "t" + i): ]
        else [ map_set(m, key(i), int_to_float(i) + 0.5): ]
        i = i + 1:
    ]
    i = 0:
    loop while i < n [
        map_set(m, key(i), 0 - i):
        i = i + 5:
    ]
    give 0:
]

fn report(map m, int n) -> int [
    let list vals = {}:
    let int absent = 0:
    let int i = 0:
    loop while i < n [
        push(vals, map_get_int(m, key(i))):
        when map_has(m, "x" + i) == 1 [ absent = absent + 1: ]
        i = i + 1:
    ]
    kvlog(n, len(m), absent, map_has(m, key(n))):
    println(text_join(map_keys(m), ",")):
    println(text_join(vals, ",")):
    give 0:
]

start [
'''


def program():
    body, expected = [], []
    body.append("    loop n in {%s} [" % ", ".join(str(n) for n in SIZES))
    body.append("        let map m = map_new():")
    body.append("        fill(m, n):")
    body.append("        report(m, n):")
    body.append("    ]")
    for n in SIZES:
        m = model_map(n)
        expected.append("%d %d 0 0\r\n" % (n, len(m)))
        expected.append(",".join(m) + "\r\n")
        expected.append(",".join(m[key(i)] for i in range(n)) + "\r\n")

    # Keys of equal hash: each pair in one map that already holds an index, the first
    # present without the second, then both with their own values.
    body.append("    let map cm = map_new():")
    body.append("    fill(cm, 100):")
    for a, b in colliding_pairs(4):
        body.append('    map_set(cm, "%s", "%s"):' % (a, a))
        body.append('    kvlog(map_has(cm, "%s"), map_has(cm, "%s")):' % (a, b))
        body.append('    map_set(cm, "%s", "%s"):' % (b, b))
        body.append('    println(map_get_text(cm, "%s") + " " + map_get_text(cm, "%s")):' % (a, b))
        expected += ["1 0\r\n", "%s %s\r\n" % (a, b)]
    body.append("    kvlog(len(cm)):")
    expected.append("%d\r\n" % (len(model_map(100)) + 8))

    # Keys that differ only at the end, in case or in a byte above 127, in a small map and
    # in a large one; the empty key among them.
    near = ['"a"', '"a "', '"A"', '""', 'chr(200)', 'chr(200) + "a"', '"k1"', '"k10"']
    for size in (0, 50):
        body.append("    let map nm%d = map_new():" % size)
        body.append("    fill(nm%d, %d):" % (size, size))
        for v, k in enumerate(near):
            body.append("    map_set(nm%d, %s, %d):" % (size, k, v))
        body.append("    kvlog(%s):" % ", ".join("map_get_int(nm%d, %s)" % (size, k) for k in near))
        body.append('    kvlog(len(nm%d), map_has(nm%d, "a  "), map_has(nm%d, chr(201))):' % (size, size, size))
        expected.append(" ".join(str(v) for v in range(len(near))) + "\r\n")
        model = model_map(size)
        for k in ["a", "a ", "A", "", "\xc8", "\xc8a", "k1", "k10"]:
            model[k] = 0
        expected.append("%d 0 0\r\n" % len(model))

    # A literal adds its pairs last first, and outgrows a small map on the way.
    pairs = ['"p%d" -> %d' % (i, i) for i in range(20)]
    body.append("    let map lit = {%s}:" % ", ".join(pairs))
    body.append('    kvlog(map_keys(lit), map_get_int(lit, "p0"), map_get_int(lit, "p19")):')
    expected.append("{%s} 0 19\r\n" % ", ".join("p%d" % i for i in reversed(range(20))))

    # A missing key in a large map is still the error it always was.
    body.append("    try [")
    body.append('        kvlog(map_get_int(cm, "k-1")):')
    body.append("    ] catch [")
    body.append("        println(lasterror()):")
    body.append("    ]")
    expected.append("runtime error: map key not found\r\n")
    return PROGRAM_HEAD.lstrip() + "\n".join(body) + "\n]\n", "".join(expected)


def main():
    ap = argparse.ArgumentParser()
    run_program.generated_arguments(ap)
    args = ap.parse_args()
    text, want = program()
    try:
        got = run_program.run_generated(args, "maps", text).split("\r\n")
    except run_program.Failure as e:
        print("FAIL %s" % e)
        return 1
    want_lines = want.split("\r\n")
    for k, (g, w) in enumerate(zip(got, want_lines)):
        if g != w:
            print("FAIL at line %d\n  expected %r\n  got      %r" % (k + 1, w[:300], g[:300]))
            return 1
    if len(got) != len(want_lines):
        print("FAIL: %d lines, expected %d" % (len(got), len(want_lines)))
        return 1
    print("ok: %d maps, %d lines as the model gives them" % (len(SIZES) + 4, len(want_lines) - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
