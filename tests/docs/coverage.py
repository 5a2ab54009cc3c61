#!/usr/bin/env python3
"""Fails unless every built-in function and every function of the given Kavel
libraries (except the helpers named std_...) is called in at least one Kavel
example of the guides.

  coverage.py <library.kv>... <guide.md>...
"""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import doc_examples  # noqa: E402

BUILTINS = """len toint tofloat int_to_float float_to_int totext ask sub readfile writefile
file_open file_read_chunk file_eof file_close push quit ord chr clock argc argv lasterror
sock_listen sock_accept sock_recv sock_send sock_close map_new map_set map_get_text
map_get_int map_get_float map_has map_keys print println printout run_coroutines system
getenv exedir pop abs min max""".split()


def main():
    libraries = [a for a in sys.argv[1:] if a.endswith(".kv")]
    guides = [a for a in sys.argv[1:] if a.endswith(".md")]
    wanted = {name: "built-in" for name in BUILTINS}
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
