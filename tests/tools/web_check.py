"""What the tests of Kavel web servers share: a free loopback port, the server started
under Wine and stopped for sure, and the check of one HTTP/1.0 response."""
import argparse
import os
import signal
import socket
import subprocess
import sys
import time


def build_from_command_line(name):
    """Parses the tests' common options (--bin --prefix --work --lib --tools, the program)
    and builds the program as name.exe; returns (args, exe), or None after saying why the
    build failed."""
    ap = argparse.ArgumentParser()
    for opt in ("--bin", "--prefix", "--work", "--lib", "--tools"):
        ap.add_argument(opt, required=True)
    ap.add_argument("--timeout", type=float, default=60)
    ap.add_argument("program")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    sys.path.insert(0, args.tools)
    import run_program  # the shared build steps: lowerir, emitasm, nasm, lld-link
    try:
        return args, run_program.build(args, os.path.abspath(args.program), name)
    except run_program.Failure as e:
        print("FAIL build of %s\n%s" % (args.program, e))
        return None


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, deadline):
    """A connection to the server on 127.0.0.1, retried until it listens or the deadline."""
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=20)
        except OSError:
            if time.time() > deadline:
                raise AssertionError("the server never accepted a connection")
            time.sleep(0.3)


def raw_request(port, pieces, deadline):
    """Sends the pieces with pauses between them and returns everything until close."""
    s = connect(port, deadline)
    with s:
        for k, piece in enumerate(pieces):
            if k:
                time.sleep(0.3)
            s.sendall(piece)
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk


def start_server(args, exe, program_args):
    """Runs exe under the test run's Wine prefix, in args.work, with the given arguments."""
    env = dict(os.environ)
    env.update({"WINEPREFIX": os.path.abspath(args.prefix), "WINEDEBUG": "-all",
                "WINEDLLOVERRIDES": "mscoree,mshtml="})
    env.pop("DISPLAY", None)
    return subprocess.Popen(["wine", exe] + [str(a) for a in program_args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=args.work,
                            start_new_session=True)


def stop_server(server, problems):
    """Kills a server that is still running (and says so in problems)."""
    if server.poll() is None:
        os.killpg(server.pid, signal.SIGKILL)
        server.wait()
        problems.append("the server was still running and was killed")


def parse_response(data):
    """(status line, headers by lower-case name, body) of a raw HTTP response."""
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        raise AssertionError("no header block in %r" % data[:200])
    lines = head.decode("latin-1").split("\r\n")
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    return lines[0], headers, body


def check_response(what, response, status, content_type, body):
    """Problems with a parsed response; body is the exact bytes or a test on them."""
    line, headers, got = response
    problems = []
    if line != status:
        problems.append("status line %r, expected %r" % (line, status))
    if headers.get("content-type") != content_type:
        problems.append("Content-Type %r, expected %r" % (headers.get("content-type"), content_type))
    if headers.get("content-length") != str(len(got)):
        problems.append("Content-Length %r but the body has %d bytes" % (headers.get("content-length"), len(got)))
    if not (body(got) if callable(body) else got == body):
        problems.append("unexpected body %r..." % got[:200])
    return ["%s: %s" % (what, p) for p in problems]
