#!/usr/bin/env python3
"""Builds demos/demoweb.kv, starts it on a free loopback port for three requests,
asks it with curl for its two pages and a missing one, and checks each response
(status line, Content-Type, Content-Length against the body) and the server's log.
The server stops by itself after the third request; if it does not, it is killed.

  web_test.py --bin DIR --prefix DIR --work DIR --lib DIR --tools DIR <demoweb.kv>
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import web_check as web  # noqa: E402

DEADLINE = 90  # seconds for the whole exchange


def fetch(port, path):
    """One HTTP/1.0 request with curl; retries while the server is not listening yet."""
    cmd = ["curl", "--silent", "--show-error", "--http1.0", "--max-time", "15",
           "--retry", "30", "--retry-connrefused", "--retry-delay", "1",
           "--dump-header", "-", "http://127.0.0.1:%d%s" % (port, path)]
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if p.returncode != 0:
        raise AssertionError("curl %s failed (%d): %s" % (path, p.returncode,
                                                          p.stderr.decode("latin-1")))
    return web.parse_response(p.stdout)


def main():
    built = web.build_from_command_line("demoweb")
    if built is None:
        return 1
    args, exe = built

    port = web.free_port()
    server = web.start_server(args, exe, [port, 3])
    problems = []
    try:
        home = fetch(port, "/")
        about = fetch(port, "/about")
        missing = fetch(port, "/missing?x=1")
        problems += web.check_response("GET /", home, "HTTP/1.0 200 OK", "text/html",
                          lambda b: b.startswith(b"<!DOCTYPE html>\n")
                          and b"<h1>Kavel web demo</h1>" in b and b"Visits so far: 1" in b)
        problems += web.check_response("GET /about", about, "HTTP/1.0 200 OK", "text/plain",
                          lambda b: b == b"kavelweb: HTTP/1.0 on Kavel sockets\n")
        problems += web.check_response("GET /missing", missing, "HTTP/1.0 404 Not Found", "text/plain",
                          lambda b: b == b"no page at /missing\n")
        out, err = server.communicate(timeout=DEADLINE)
        expected = ("listening on http://127.0.0.1:%d/\r\n"
                    "served: GET / HTTP/1.0\r\n"
                    "served: GET /about HTTP/1.0\r\n"
                    "served: GET /missing?x=1 HTTP/1.0\r\n"
                    "stopped after 3 requests\r\n" % port).encode()
        if out != expected:
            problems.append("server log %r, expected %r" % (out, expected))
        if err:
            problems.append("server wrote to standard error: %r" % err)
        if server.returncode != 0:
            problems.append("server exit code %d" % server.returncode)
    except (AssertionError, subprocess.TimeoutExpired) as e:
        problems.append(str(e))
    finally:
        web.stop_server(server, problems)
    if problems:
        print("FAIL %s\n%s" % (args.program, "\n".join(problems)))
        return 1
    print("ok %s (port %d)" % (args.program, port))
    return 0


if __name__ == "__main__":
    sys.exit(main())
