#!/usr/bin/env python3
"""Fails unless the IR reference (docs/ir.md) describes every opcode of the IR table
(common/ir_ops.def) in a table row of its own.

  ir_reference.py <ir_ops.def> <ir.md>
"""
import re
import sys


def main():
    with open(sys.argv[1], encoding="latin-1") as f:
        names = re.findall(r'^KV_IR_(?:OP|EXT)\(\s*\w+\s*,\s*"([^"]+)"', f.read(), re.M)
    with open(sys.argv[2], encoding="utf-8") as f:
        rows = re.findall(r"^\| `([^` ]+)", f.read(), re.M)
    missing = [n for n in names if not any(r == n or (n == ".L" and r.startswith(".L")) for r in rows)]
    if not names or missing:
        print("FAIL docs/ir.md has no row for: " + ", ".join(missing or ["(no opcodes read)"]))
        return 1
    print("ok: %d opcodes, each with its row" % len(names))
    return 0


if __name__ == "__main__":
    sys.exit(main())
