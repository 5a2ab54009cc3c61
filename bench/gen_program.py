#!/usr/bin/env python3
"""Generates a well-formed Kavel program of about N lines for benchmarks.

The program repeats one unit per index k: a record with a private field, an enum, a
function with counted, ranged and while loops, when/or/else chains and nested
arithmetic, and a function that builds texts with interpolation, lists and maps. A
start block at the end calls every unit and logs the result.

    import gen_program
    text = gen_program.generate(200000)          # the program as a str
    gen_program.write("big.kv", 200000)          # or straight into a file

Command line: gen_program.py LINES [-o FILE] (standard output without -o).
"""
import argparse
import sys

UNIT = """\
rec Item{k} [
  int id:
  text name:
  private float weight:
]

enum Mode{k} [ Fast: Slow: Off: ]

fn calc{k}(int a, int b) -> int [
  let int total = 0:
  loop i in 1 to a [
    when i % 3 == 0 [
      total = total + (a * i - b) / (i + 1):
    ] or i % 3 == 1 [
      total = total - ((a + b) * (i - 2) + {k}) % 7:
    ] else [
      skip:
    ]
  ]
  let int n = 0:
  loop while n < b and total > -1000 or n == 0 [
    n = n + 1:
  ]
  loop 2 [ total = total + Mode{k}.Slow: ]
  give total + n * (3 - -b):
]

fn describe{k}(int v) -> text [
  let Item{k} it = Item{k}(v, "item {k}", 1.5):
  let text s = "item ${{it.name}} has id ${{it.id}} and value ${{v * 2 + 1}}":
  let list xs = {{1, 2, 3, v}}:
  let map m = {{"a" -> 1, "b" -> v}}:
  loop x in xs [
    s = s + "<${{x}}>":
  ]
  try [
    s = s + totext(xs{{v % 4}}):
  ] catch [
    kvlog.warn("index", v):
  ]
  give s:
]

"""
UNIT_LINES = UNIT.count("\n")


def units_for(lines):
    """Number of units so that the whole program has about `lines` lines."""
    # Each unit also adds two lines to the start block.
    return max(1, round((lines - 4) / (UNIT_LINES + 2)))


def generate(lines):
    """The program text with about `lines` lines (LF line ends)."""
    n = units_for(lines)
    parts = [UNIT.format(k=k) for k in range(n)]
    parts.append("start [\n  let int acc = 0:\n")
    for k in range(n):
        parts.append(f"  acc = acc + calc{k}({k % 9 + 1}, {k % 5}):\n")
        parts.append(f"  kvlog(describe{k}(acc % 100)):\n")
    parts.append('  kvlog("done ${acc}"):\n]\n')
    return "".join(parts)


def write(path, lines):
    """Writes the program to `path`; returns the number of lines written."""
    text = generate(lines)
    with open(path, "w", newline="\n") as f:
        f.write(text)
    return text.count("\n")


def main(argv=None):
    parser = argparse.ArgumentParser(description="Generate a Kavel benchmark program.")
    parser.add_argument("lines", type=int, help="about how many lines")
    parser.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = parser.parse_args(argv)
    if args.output:
        write(args.output, args.lines)
    else:
        sys.stdout.write(generate(args.lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
