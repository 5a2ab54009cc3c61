#!/usr/bin/env python3
"""kavelweb.kv against real clients on 127.0.0.1: builds web/web_server.kv, starts it on
a free port for five requests and checks what curl and a raw socket client get back:
a 320 000-byte body sent over several sends with the right Content-Length, a request
that arrives in three pieces, a query echoed into HTML with escaping, a request with
another method, and an empty request. The server stops by itself; if it does not, it
is killed.

  web_test.py --bin DIR --prefix DIR --work DIR --lib DIR --tools DIR <web_server.kv>
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import web_check as web  # noqa: E402
import time


def expect(what, data, status, content_type, body):
    return web.check_response(what, web.parse_response(data), status, content_type, body)


def main():
    built = web.build_from_command_line("web_server")
    if built is None:
        return 1
    args, exe = built

    port = web.free_port()
    server = web.start_server(args, exe, [5, port])
    deadline = time.time() + 60
    problems = []
    try:
        curl = subprocess.run(["curl", "--silent", "--show-error", "--http1.0", "--max-time", "30",
                               "--retry", "30", "--retry-connrefused", "--retry-delay", "1",
                               "--include", "http://127.0.0.1:%d/big" % port],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=90)
        if curl.returncode != 0:
            raise AssertionError("curl failed: %s" % curl.stderr.decode("latin-1"))
        problems += expect("/big", curl.stdout, "HTTP/1.0 200 OK",
                           "application/octet-stream", b"0123456789abcdef" * 20000)
        pieces = web.raw_request(port, [b"GET /ec", b"ho?a<b&c HTTP/1.0\r\nHost: x\r\n", b"\r\n"], deadline)
        page = (b"<!DOCTYPE html>\n<html><head><title>Echo</title></head>\n<body>\n<h1>Echo</h1>\n"
                b"a&lt;b&amp;c\n</body></html>\n")
        problems += expect("/echo in pieces", pieces, "HTTP/1.0 200 OK",
                           "text/html", page)
        post = web.raw_request(port, [b"POST /echo HTTP/1.0\r\nContent-Length: 0\r\n\r\n"], deadline)
        problems += expect("POST", post, "HTTP/1.0 405 Method Not Allowed", "text/plain",
                           b"Method Not Allowed\n")
        missing = web.raw_request(port, [b"GET /nowhere HTTP/1.0\r\n\r\n"], deadline)
        problems += expect("/nowhere", missing, "HTTP/1.0 404 Not Found", "text/plain",
                           b"no page at /nowhere\n")
        empty = web.raw_request(port, [b"\r\n\r\n"], deadline)
        problems += expect("empty", empty, "HTTP/1.0 400 Bad Request", "text/plain",
                           b"empty request\n")
        out, err = server.communicate(timeout=60)
        log = (b"ready\r\nGET /big HTTP/1.0\r\nGET /echo?a<b&c HTTP/1.0\r\nPOST /echo HTTP/1.0\r\n"
               b"GET /nowhere HTTP/1.0\r\n\r\n")
        if out != log:
            problems.append("server log %r, expected %r" % (out, log))
        if err or server.returncode != 0:
            problems.append("server exit %d, standard error %r" % (server.returncode, err))
    except (AssertionError, OSError, subprocess.TimeoutExpired) as e:
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
