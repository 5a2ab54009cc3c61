#!/usr/bin/env python3
"""Memory benchmark: allocation-heavy Kavel programs built by our stages and run under
Wine, timed beside the same work in Lua 5.4 and CPython in the same run, as ratios; the
collector's longest pause with about 100 MB live; the web demo's resident memory after
100,000 requests.

  bench/memory.py [--build DIR] [--reps N] [--requests N]

Each program runs REPS times (default 3) and the best wall time counts; "net" subtracts
each side's empty program (Wine's start-up, the interpreter's). The pause comes from
KAVEL_GC=stats; Lua's and CPython's full collection of the same live data is timed inside
their programs for comparison.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
import run_program  # noqa: E402
import wine_fixture  # noqa: E402

# name: (Kavel, Lua, Python); each prints one line, the same on all three sides
PROGRAMS = {
    "empty": ("start [\n]\n", "", ""),
    "totext_5m": (
        "start [\n  let int total = 0:\n  loop i in 1 to 5000000 [\n    let text s = totext(i):\n"
        "    total = total + len(s):\n  ]\n  kvlog(total):\n]\n",
        "local t = 0\nfor i = 1, 5000000 do\n  local s = tostring(i)\n  t = t + #s\nend\nprint(t)\n",
        "t = 0\nfor i in range(1, 5000001):\n    s = str(i)\n    t += len(s)\nprint(t)\n"),
    "appends_200k": (
        "start [\n  let list xs = {}:\n  loop i in 1 to 200000 [\n    push(xs, \"w\" + i):\n  ]\n"
        "  kvlog(len(xs)):\n]\n",
        "local xs = {}\nfor i = 1, 200000 do xs[#xs + 1] = \"w\" .. i end\nprint(#xs)\n",
        "xs = []\nfor i in range(1, 200001):\n    xs.append(\"w\" + str(i))\nprint(len(xs))\n"),
    "join_100k": (
        "use \"std.kv\":\nstart [\n  let list parts = {}:\n  loop i in 1 to 100000 [\n"
        "    push(parts, \"p\" + i):\n  ]\n  let text j = join(parts, \",\"):\n  kvlog(len(j)):\n]\n",
        "local p = {}\nfor i = 1, 100000 do p[#p + 1] = \"p\" .. i end\nprint(#table.concat(p, \",\"))\n",
        "p = [\"p\" + str(i) for i in range(1, 100001)]\nprint(len(\",\".join(p)))\n"),
    "maps_rounds": (
        "start [\n  let int total = 0:\n  loop r in 1 to 300 [\n    let map m = map_new():\n"
        "    loop i in 1 to 100 [\n      map_set(m, \"k\" + i, \"v\" + (i * r)):\n    ]\n"
        "    total = total + len(map_get_text(m, \"k50\")):\n  ]\n  kvlog(total):\n]\n",
        "local total = 0\nfor r = 1, 300 do\n  local m = {}\n  for i = 1, 100 do m[\"k\" .. i] = \"v\" .. (i * r) end\n"
        "  total = total + #m[\"k50\"]\nend\nprint(total)\n",
        "total = 0\nfor r in range(1, 301):\n    m = {}\n    for i in range(1, 101):\n"
        "        m[\"k\" + str(i)] = \"v\" + str(i * r)\n    total += len(m[\"k50\"])\nprint(total)\n"),
}

# About 100 MB live (1,000,000 texts of 90 bytes and the list), then 60 MB of garbage
# so that collections run with all of it live; the others time one full collection.
LIVE = (
    "start [\n  let text pad = \"0123456789012345678901234567890123456789012345678901234567890123456789012345678\":\n"
    "  let list keep = {}:\n  loop i in 1 to 1000000 [\n    push(keep, pad + i):\n  ]\n"
    "  let int n = 0:\n  loop i in 1 to 4000000 [\n    let text g = totext(i):\n    n = n + len(g):\n  ]\n"
    "  kvlog(len(keep), n):\n]\n",
    "local pad = string.rep(\"0123456789\", 8)\nlocal keep = {}\nfor i = 1, 1000000 do keep[i] = pad .. i end\n"
    "local t = os.clock()\ncollectgarbage(\"collect\")\nio.stderr:write(string.format(\"%d\\n\", math.floor((os.clock() - t) * 1e6)))\n"
    "print(#keep)\n",
    "import gc, time\npad = \"0123456789\" * 8\nkeep = [pad + str(i) for i in range(1, 1000001)]\n"
    "nodes = [[k] for k in keep]\nt = time.perf_counter()\ngc.collect()\n"
    "import sys\nsys.stderr.write(\"%d\\n\" % ((time.perf_counter() - t) * 1e6))\nprint(len(keep))\n")

STATS = re.compile(r"gc: (\d+) collections, (\d+) bytes allocated, peak live (\d+) bytes, longest pause (\d+) us")


def best_ms(cmd, env, reps):
    best, out, err = None, b"", b""
    for _ in range(reps):
        t = time.perf_counter()
        p = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        dt = (time.perf_counter() - t) * 1000
        if best is None or dt < best:
            best, out, err = dt, p.stdout, p.stderr
    return best, out.replace(b"\r\n", b"\n").strip(), err.decode("latin-1")


def web_resident(exe, env, work, requests):
    """The web demo's VmRSS in MiB after a number of requests from one client."""
    import web_check
    port = web_check.free_port()
    server = subprocess.Popen(["wine", exe, str(port), str(requests + 1)], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, cwd=work,
                              start_new_session=True)
    sys.path.insert(0, os.path.join(ROOT, "tests", "demos"))
    import web_memory_test as memory
    try:
        deadline = time.time() + 1800
        for _ in range(requests):
            web_check.raw_request(port, [b"GET / HTTP/1.0\r\n\r\n"], deadline)
        return memory.resident(server.pid, b"demoweb") / 2**20
    finally:
        os.killpg(server.pid, signal.SIGKILL)
        server.wait()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--requests", type=int, default=100000)
    opts = ap.parse_args()
    build = os.path.abspath(opts.build)
    prefix = os.path.join(build, "wineprefix")
    work = tempfile.mkdtemp(prefix="kavel-bench-memory.")
    args = argparse.Namespace(bin=os.path.join(build, "bin"), prefix=prefix, work=work,
                              lib=os.environ.get("KAVEL_MINGW_LIB", "/usr/x86_64-w64-mingw32/lib"),
                              timeout=600, env=[])
    env = run_program.program_env(args, os.path.join(work, "none"))
    env.pop("KAVEL_GC", None)
    env.pop("KAVEL_HEAP_MAX", None)
    wine_fixture.setup(prefix)
    try:
        for lib in ("std.kv", "kavelweb.kv"):
            shutil.copy(os.path.join(ROOT, "lib", lib), work)

        def build_kv(name, source):
            path = os.path.join(work, name + ".kv")
            with open(path, "w") as f:
                f.write(source)
            return run_program.build(args, path, name)

        def script(name, ext, source):
            path = os.path.join(work, name + ext)
            with open(path, "w") as f:
                f.write(source)
            return path

        rows, base = [], {}
        print("%-13s %9s %9s %9s %10s %10s %9s  %s" % ("program", "kavel_ms", "lua_ms", "python_ms",
                                                      "kavel/lua", "kavel/py", "net k/lua", "check"))
        for name, (kv, lua, py) in PROGRAMS.items():
            exe = build_kv(name, kv)
            k, kout, _ = best_ms(["wine", exe], env, opts.reps)
            l, lout, _ = best_ms(["lua5.4", script(name, ".lua", lua)], env, opts.reps)
            p, pout, _ = best_ms([sys.executable, script(name, ".py", py)], env, opts.reps)
            if name == "empty":
                base = {"k": k, "l": l, "p": p}
            same = "same" if kout == lout == pout else "DIFFERENT %r %r %r" % (kout, lout, pout)
            net = max(k - base["k"], 1.0) / max(l - base["l"], 1.0)
            rows.append((name, k / l, net))
            print("%-13s %9.0f %9.0f %9.0f %10.2f %10.2f %9.2f  %s" % (name, k, l, p, k / l, k / p, net, same))

        exe = build_kv("live_100mb", LIVE[0])
        stats_env = dict(env, KAVEL_GC="stats")
        _, _, err = best_ms(["wine", exe], stats_env, 1)
        m = STATS.search(err)
        _, _, lua_err = best_ms(["lua5.4", script("live", ".lua", LIVE[1])], env, 1)
        _, _, py_err = best_ms([sys.executable, script("live", ".py", LIVE[2])], env, 1)
        pause_per_100mb = None
        if m:
            count, allocated, peak, pause = (int(x) for x in m.groups())
            pause_per_100mb = pause / 1000 * 100e6 / max(peak, 1)
            print("\nlongest pause: %.1f ms with %.0f MB live (%.1f ms per 100 MB), %d collections, "
                  "%.0f MB allocated; one full collection of the same texts: Lua %.1f ms, CPython %.1f ms"
                  % (pause / 1000, peak / 1e6, pause_per_100mb, count, allocated / 1e6,
                     int(lua_err.split()[0]) / 1000, int(py_err.split()[0]) / 1000))
        else:
            print("\nno collector figures: %r" % err)

        rss = None
        if opts.requests:
            for lib in ("kavelweb.kv",):
                shutil.copy(os.path.join(ROOT, "lib", lib), work)
            exe = run_program.build(args, os.path.join(ROOT, "demos", "demoweb.kv"), "demoweb")
            rss = web_resident(exe, env, work, opts.requests)
            print("web demo: %.1f MiB resident after %d requests" % (rss, opts.requests))

        print("\ngoals:")
        totext = dict((r[0], r) for r in rows)["totext_5m"]
        print("  totext loop no slower than Lua: %.2f (net %.2f) %s"
              % (totext[1], totext[2], "met" if totext[1] <= 1.0 else "NOT MET"))
        if pause_per_100mb is not None:
            print("  pause at most 50 ms per 100 MB live: %.1f ms %s"
                  % (pause_per_100mb, "met" if pause_per_100mb <= 50 else "NOT MET"))
        if rss is not None:
            print("  web demo under 64 MiB after %d requests: %.1f MiB %s"
                  % (opts.requests, rss, "met" if rss < 64 else "NOT MET"))
        print("ratio = Kavel time / other time (below 1: Kavel is faster); net = minus the empty program's time")
    finally:
        wine_fixture.cleanup(prefix)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
