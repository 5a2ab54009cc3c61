#!/usr/bin/env python3
"""The web demo's memory stays bounded: builds demos/demoweb.kv, starts it on a free
loopback port for 20,000 requests and sends them one after the other from a bounded
client on 127.0.0.1, checking every status line. The server's resident memory, read
from /proc on the Linux side, may grow by at most GROWTH between request 2,000 and the
last one, and stays under LIMIT; before the collector the demo ran out of memory after
7,740 requests. The server stops by itself after the last request; if it does not, or
the exchange takes longer than DEADLINE, it is killed.

  web_memory_test.py --bin DIR --prefix DIR --work DIR --lib DIR --tools DIR <demoweb.kv>
"""
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import web_check as web  # noqa: E402

REQUESTS = 20000
EARLY = 2000          # the request after which the first measure is taken
GROWTH = 8 << 20      # bytes the resident memory may grow after it
LIMIT = 64 << 20      # bytes it must stay under
DEADLINE = 600        # seconds for the whole exchange
PATHS = [(b"/", b"HTTP/1.0 200 OK"), (b"/about", b"HTTP/1.0 200 OK"), (b"/nowhere", b"HTTP/1.0 404 Not Found")]


def resident(pid, exe_name):
    """VmRSS in bytes of the Windows program: the process started, or the one running it."""
    for p in [str(pid)] + [d for d in os.listdir("/proc") if d.isdigit()]:
        try:
            with open("/proc/%s/cmdline" % p, "rb") as f:
                cmd = f.read().split(b"\0")
            if not os.path.basename(cmd[0].replace(b"\\", b"/")).startswith(exe_name):
                continue
            with open("/proc/%s/status" % p) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1]) * 1024
        except OSError:
            continue
    raise AssertionError("no running process of %s found" % exe_name.decode())


def main():
    built = web.build_from_command_line("demoweb")
    if built is None:
        return 1
    args, exe = built
    import run_program  # on the path once the build has put --tools there

    port = web.free_port()
    log_path = os.path.join(args.work, "server.log")
    env = run_program.program_env(args, os.path.join(args.work, "none"))
    with open(log_path, "wb") as log:
        server = subprocess.Popen(["wine", exe, str(port), str(REQUESTS)], stdin=subprocess.DEVNULL,
                                  stdout=log, stderr=subprocess.STDOUT, env=env, cwd=args.work,
                                  start_new_session=True)
    problems = []
    early = late = None
    started = time.time()
    deadline = started + DEADLINE
    try:
        for k in range(REQUESTS):
            if time.time() > deadline:
                raise AssertionError("only %d requests answered in %d s" % (k, DEADLINE))
            path, status = PATHS[k % len(PATHS)]
            data = web.raw_request(port, [b"GET " + path + b" HTTP/1.0\r\n\r\n"], deadline)
            if not data.startswith(status + b"\r\n"):
                raise AssertionError("request %d (%s): %r" % (k + 1, path.decode(), data[:80]))
            if k + 1 == EARLY:
                early = resident(server.pid, b"demoweb")
            if k + 2 == REQUESTS:
                late = resident(server.pid, b"demoweb")
        server.wait(timeout=60)
        if server.returncode != 0:
            problems.append("server exit code %d" % server.returncode)
    except (AssertionError, OSError, subprocess.TimeoutExpired) as e:
        problems.append(str(e))
    finally:
        if server.poll() is None:
            os.killpg(server.pid, signal.SIGKILL)
            server.wait()
            problems.append("the server was still running and was killed")
    with open(log_path, "rb") as f:
        log = f.read()
    if not problems and not log.endswith(b"stopped after %d requests\r\n" % REQUESTS):
        problems.append("server log ends %r" % log[-200:])
    if early is not None and late is not None:
        if late - early > GROWTH or late > LIMIT:
            problems.append("resident memory %.1f MiB after %d requests, %.1f MiB after %d"
                            % (early / 2**20, EARLY, late / 2**20, REQUESTS - 1))
    if problems:
        print("FAIL %s\n%s" % (args.program, "\n".join(problems)))
        return 1
    print("ok %s: %d requests in %.0f s, resident %.1f MiB after %d, %.1f MiB after %d"
          % (args.program, REQUESTS, time.time() - started, early / 2**20, EARLY, late / 2**20, REQUESTS - 1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
