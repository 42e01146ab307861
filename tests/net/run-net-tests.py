#!/usr/bin/env python3
"""Runs the case files of tests/net against a loopback HTTP server of its own.

The server listens on 127.0.0.1 at a free port for as long as the case runner
runs; the cases find it through KEL_TEST_HTTP (its base URL, ending with "/")
and KEL_TEST_REFUSED (a URL on a port where nothing listens).

Usage: run-net-tests.py CASE-RUNNER CASE-DIR [HOME]
"""
import http.server
import os
import socket
import subprocess
import sys
import threading

BINARY_BODY = bytes(range(256))
hits = {}
hits_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    # HTTP/1.1, so that the client's header names and ours keep their spelling
    # and a body's length is announced.
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, content_type="text/plain; charset=utf-8", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def request_body(self):
        length = int(self.headers.get("Content-Length", "0"))
        return self.rfile.read(length) if length else b""

    def echo(self):
        # The method, each header field in the order it came (Host's value,
        # which holds the port, as "*"), then the body as it came.
        lines = [self.command]
        for name, value in self.headers.items():
            lines.append("%s: %s" % (name, "*" if name.lower() == "host" else value))
        text = "\n".join(lines).encode() + b"\n\n" + self.request_body()
        self.send_body(200, text)

    def route(self):
        path = self.path
        if path.startswith("/count/"):
            with hits_lock:
                hits[path] = hits.get(path, 0) + 1
            path = path[len("/count"):]
        if path.startswith("/hits/"):
            with hits_lock:
                count = hits.get("/count/" + path[len("/hits/"):], 0)
            return self.send_body(200, str(count).encode())
        if path.startswith("/echo"):
            return self.echo()
        if path.startswith("/path/"):
            return self.send_body(200, path.encode())
        if path == "/text":
            return self.send_body(200, "héllo\r\nwörld\n".encode())
        if path == "/lines":
            return self.send_body(200, b"one\r\ntwo\nthree")
        if path == "/binary":
            return self.send_body(200, BINARY_BODY, "application/octet-stream")
        if path == "/code":
            return self.send_body(200, b"[1 2] three", "text/plain")
        if path == "/script":
            return self.send_body(200, b"1 + 2")
        if path == "/json":
            return self.send_body(200, b'{"a": [1, 2.5, null]}', "application/json; charset=utf-8")
        if path == "/typed":
            return self.send_body(200, b"[1 2] three", "text/x-kel-test; charset=utf-8")
        if path == "/twice":
            return self.send_body(200, b"ok", extra=(("X-Twice", "first"), ("X-Twice", "second"),
                                                     ("X-Spaced", "   padded value")))
        if path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/text")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        if path.startswith("/big/"):
            size = int(path[len("/big/"):])
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            chunk = bytes(range(256)) * 4096
            left = size
            while left > 0:
                piece = chunk[: min(left, len(chunk))]
                self.wfile.write(piece)
                left -= len(piece)
            return None
        return self.send_body(404, b"not here")

    do_GET = route
    do_HEAD = route

    def do_POST(self):
        self.route() if not self.path.startswith("/echo") else self.echo()

    def do_PUT(self):
        self.echo()

    def do_PATCH(self):
        self.echo()

    def do_DELETE(self):
        self.echo()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    runner, case_dir = sys.argv[1], sys.argv[2]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    env = dict(os.environ)
    env["KEL_TEST_HTTP"] = "http://127.0.0.1:%d/" % server.server_address[1]
    env["KEL_TEST_REFUSED"] = "http://127.0.0.1:%d/" % free_port()
    # The loopback server is reached directly, whatever proxy the machine
    # names.
    env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1,localhost"
    if len(sys.argv) > 3:
        os.makedirs(sys.argv[3], exist_ok=True)
        env["HOME"] = sys.argv[3]
    try:
        result = subprocess.run([runner, case_dir], env=env, timeout=600)
        code = result.returncode
    finally:
        server.shutdown()
        server.server_close()
    sys.exit(code)


if __name__ == "__main__":
    main()
