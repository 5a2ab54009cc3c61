#!/usr/bin/env python3
"""Kavel programs for the checker benchmark.

    checker_gen.py clean  <lines> <out.kv>           a program that checks clean
    checker_gen.py errors <lines> <errors> <out.kv>  the same shape with <errors> type errors
                                                     spread evenly over the file
    checker_gen.py shared <lines> <out.kv> <dir>     the front end's generator (<dir>/gen_program.py)
                                                     when it offers one, else "clean"

Every unit declares its own record and functions, so the tables grow with the file."""
import sys


def unit(k, bad):
    """One 20-line unit. `bad` is how many of its lines (0 to 5) carry a type error."""
    e = [i < bad for i in range(5)]
    return [
        f"rec R{k} [",
        f"    int a{k}:",
        f"    private text t{k}:",
        f"]",
        f"fn f{k}(int x, text s, R{k} r) -> int [",
        f"    let int n = x * 2 + r.a{k}:" if not e[0] else f"    let int n = s + \"!\":",
        f"    let text label = s + totext(n):" if not e[4] else f"    let bool label = s + totext(n):",
        f"    loop i in 0 to n [",
        f"        when i % 3 == 0 [ n = n + i: ] else [ n = n - 1: ]" if not e[1]
        else f"        when i % 3 == 0 [ n = \"three\": ] else [ n = n - 1: ]",
        f"    ]",
        f"    give n + len(label):" if not e[2] else f"    give \"x\" + label:",
        f"]",
        f"fn g{k}(int y) -> text [",
        f"    let R{k} r = R{k}(y, \"v\"):",
        f"    let int m = f{k}(y, \"w\", r):" if not e[3] else f"    let int m = f{k}(y, y, r):",
        f"    let list xs = {{m, y, 3}}:",
        f"    let map ms = {{\"k\" -> m}}:",
        f"    push(xs, m):",
        f"    give totext(xs{{0}}) + map_get_text(ms, \"k\"):",
        f"]",
    ]


def program(lines, errors=0):
    units = max(1, lines // 20)
    out = []
    placed = 0
    for k in range(units):
        # Errors spread evenly: unit k gets the ones that fall into its share.
        due = (errors * (k + 1)) // units
        bad = min(5, due - placed)
        placed += bad
        out.extend(unit(k, bad))
    out.append("start [")
    out.append("    println(g0(1)):")
    out.append("]")
    if placed != errors:
        raise SystemExit(f"cannot place {errors} errors in {units} units")
    return "\n".join(out) + "\n"


def shared_program(lines, folder):
    sys.path.insert(0, folder)
    try:
        import gen_program
        for name in ("program", "generate", "gen_program", "make_program"):
            fn = getattr(gen_program, name, None)
            if callable(fn):
                text = fn(lines)
                return text if isinstance(text, str) else "\n".join(text) + "\n"
    except Exception as e:  # the peer generator is optional
        print(f"checker_gen: gen_program.py not usable ({e}); using our own", file=sys.stderr)
    return program(lines)


def main():
    mode = sys.argv[1]
    if mode == "clean":
        text = program(int(sys.argv[2]))
        path = sys.argv[3]
    elif mode == "shared":
        text = shared_program(int(sys.argv[2]), sys.argv[4])
        path = sys.argv[3]
    elif mode == "errors":
        text = program(int(sys.argv[2]), int(sys.argv[3]))
        path = sys.argv[4]
    else:
        raise SystemExit(__doc__)
    with open(path, "w", newline="\n") as f:
        f.write(text)


if __name__ == "__main__":
    main()
