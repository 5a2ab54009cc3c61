#!/usr/bin/env python3
"""Fails unless every built-in function (common/builtins.def) and every function of the given Kavel
libraries (except the helpers named std_...) is called in at least one Kavel
example of the guides.

  coverage.py <library.kv>... <guide.md>...
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import doc_examples  # noqa: E402

BUILTINS_DEF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "common", "builtins.def")


def builtins():
    """The names of the built-in table, in its order."""
    with open(BUILTINS_DEF, encoding="latin-1") as f:
        return re.findall(r"^KV_BUILTIN\(\s*([A-Za-z_][A-Za-z0-9_]*)\s*,", f.read(), re.M)


def main():
    libraries = [a for a in sys.argv[1:] if a.endswith(".kv")]
    guides = [a for a in sys.argv[1:] if a.endswith(".md")]
    wanted = {name: "built-in" for name in builtins()}
    for lib in libraries:
        with open(lib, encoding="latin-1") as f:
            for name in re.findall(r"^fn\s+([A-Za-z_][A-Za-z0-9_]*)\s*\(", f.read(), re.M):
                if not name.startswith("std_"):  # the library's own helpers
                    wanted[name] = os.path.basename(lib)
    code = ""
    for guide in guides:
        code += "".join(ex["source"] for ex in doc_examples.examples(guide))
    missing = [n for n in wanted if not re.search(r"\b%s\s*\(" % re.escape(n), code)]
    if missing:
        print("FAIL no example calls: " + ", ".join("%s (%s)" % (n, wanted[n]) for n in missing))
        return 1
    print("ok: %d functions, each called in an example" % len(wanted))
    return 0


if __name__ == "__main__":
    sys.exit(main())
