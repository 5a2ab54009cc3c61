#!/usr/bin/env python3
"""Runtime tests that need more than fixed expected output; built with the program
harness (tests/tools/run_program.py) and run under the same Wine prefix.

  run_scenario.py socket  --bin DIR --prefix DIR --work DIR --lib DIR program.kv
      The program is a server: it gets a free loopback port (+ 65536) as its argument;
      a client here connects to 127.0.0.1 only, sends "ping", checks the answer, ends
      its sending and reads to the end. Standard output must equal <program>.expected.
  run_scenario.py overrun --bin DIR --prefix DIR --work DIR --lib DIR program.kv
      The program must be stopped (non-zero exit code) right after printing "start",
      with nothing printed after it.
  run_scenario.py busy    --bin DIR --prefix DIR --work DIR --lib DIR program.kv
      A socket here listens on a free loopback port; the program gets that port (+ 65536)
      and must print "-1" and end with exit code 1 and "[err] cannot listen on port
      <port>" on standard error.
"""
import argparse
import os
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import run_program  # noqa: E402

LIMIT = 60  # seconds for the whole exchange


def wine_env(prefix):
    env = dict(os.environ)
    env["WINEPREFIX"] = os.path.abspath(prefix)
    env["WINEDEBUG"] = "-all"
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env.pop("DISPLAY", None)
    return env


def free_port():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def client(port, deadline):
    while True:
        try:
            c = socket.create_connection(("127.0.0.1", port), timeout=5)
            break
        except OSError:
            if time.time() > deadline:
                raise run_program.Failure("the program never accepted on port %d" % port)
            time.sleep(0.2)
    with c:
        c.settimeout(max(1, deadline - time.time()))
        c.sendall(b"ping")
        answer = b""
        while len(answer) < 10:
            part = c.recv(100)
            if not part:
                break
            answer += part
        if answer != b"echo: ping":
            raise run_program.Failure("answer %r, expected b'echo: ping'" % answer)
        c.shutdown(socket.SHUT_WR)
        tail = c.recv(100)
        if tail:
            raise run_program.Failure("unexpected bytes after the answer: %r" % tail)


def run_socket(args, exe, stem):
    expected = run_program.read_bytes(stem + ".expected")
    port = free_port()
    deadline = time.time() + LIMIT
    p = subprocess.Popen(["wine", exe, str(port + 65536)], stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         env=wine_env(args.prefix), cwd=args.work)
    try:
        client(port, deadline)
        out, err = p.communicate(timeout=max(1, deadline - time.time()))
    except subprocess.TimeoutExpired:
        raise run_program.Failure("the server did not finish in time")
    finally:
        if p.poll() is None:
            p.kill()
            p.communicate()
    problems = [run_program.compare("standard output", expected, out),
                run_program.compare("standard error", b"", err)]
    if p.returncode != 0:
        problems.append("exit code %d" % p.returncode)
    problems = [x for x in problems if x]
    if problems:
        raise run_program.Failure("\n".join(problems))


def run_overrun(args, exe, stem):
    try:
        p = subprocess.run(["wine", exe], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=wine_env(args.prefix), cwd=args.work,
                           timeout=LIMIT)
    except subprocess.TimeoutExpired:
        raise run_program.Failure("the program did not finish in time")
    if p.returncode == 0:
        raise run_program.Failure("the overrun went on to a normal end:\n%s" % p.stdout.decode("latin-1"))
    if p.stdout != b"start\r\n":
        raise run_program.Failure("output after the overrun: %r" % p.stdout)


def run_busy(args, exe, stem):
    holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        holder.bind(("127.0.0.1", 0))
        holder.listen(1)
        port = holder.getsockname()[1]
        try:
            p = subprocess.run(["wine", exe, str(port + 65536)], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=wine_env(args.prefix), cwd=args.work, timeout=LIMIT)
        except subprocess.TimeoutExpired:
            raise run_program.Failure("the program went on to wait on a port it does not hold")
    finally:
        holder.close()
    problems = [run_program.compare("standard output", b"-1\r\n", p.stdout),
                run_program.compare("standard error",
                                    b"[err] cannot listen on port %d\r\n" % port, p.stderr)]
    if p.returncode != 1:
        problems.append("exit code %d, expected 1" % p.returncode)
    problems = [x for x in problems if x]
    if problems:
        raise run_program.Failure("\n".join(problems))


MODES = {"socket": run_socket, "overrun": run_overrun, "busy": run_busy}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=sorted(MODES))
    ap.add_argument("--bin", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--lib", default="/usr/x86_64-w64-mingw32/lib")
    ap.add_argument("--timeout", type=float, default=30)
    ap.add_argument("program")
    args = ap.parse_args()
    src = os.path.abspath(args.program)
    stem = os.path.splitext(src)[0]
    try:
        exe = run_program.build(args, src, os.path.basename(stem))
        MODES[args.mode](args, exe, stem)
    except run_program.Failure as e:
        print("FAIL %s\n%s" % (args.program, e))
        return 1
    print("ok %s" % args.program)
    return 0


if __name__ == "__main__":
    sys.exit(main())
