#!/usr/bin/env python3
"""HTTP reads and writes through the real zan against servers on 127.0.0.1.

Starts a small HTTP server on a free loopback port (and, when openssl is
there, an https server with a self-signed certificate), runs
host/http-client.zan once, and checks every line it prints against what the
server sent or received. Every server is
stopped at the end; the whole run is bounded in time.

usage: run_host_http.py <zan>
"""
import contextlib
import hashlib
import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))
BIG = 200_000 if STRESS else 10 * 1024 * 1024
TEXT = "h\u00e9llo w\u00f6rld\nsecond line\n"
BIN = bytes(range(256)) * 4


def big_body():
    # Deterministic and not repetitive at short range.
    return hashlib.shake_256(b"zan").digest(BIG)


BIG_BODY = big_body()
received = []


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, ctype="text/plain; charset=utf-8", extra=()):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        for name, value in extra:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        p = self.path
        if p == "/text":
            self.reply(200, TEXT.encode())
        elif p == "/bin":
            self.reply(200, BIN, "application/octet-stream")
        elif p == "/cookies":
            self.reply(200, b"c", extra=[("Set-Cookie", "a=1; Path=/"),
                                         ("X-Single", "one"),
                                         ("Set-Cookie", "b=2")])
        elif p == "/tight":
            self.send_response(200)
            # Written by hand: no space after the colon, colons in values.
            self._headers_buffer.append(b"X-Tight:value\r\n")
            self._headers_buffer.append(b"X-Date: Thu, 10 Dec 2026 00:12:10 GMT\r\n")
            self._headers_buffer.append(b"X-Link:http://example.test:8080/a\r\n")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif p == "/odd-headers":
            self.send_response(200)
            # Names that are no UTF-8, or no words, written by hand.
            self._headers_buffer.append(b"X-Caf\xe9: v\xe9\r\n")
            self._headers_buffer.append(b"[x]: 1\r\n")
            self._headers_buffer.append(b"1234: 2\r\n")
            self._headers_buffer.append(b"X-Ok: 3\r\n")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif p == "/request-headers":
            names = ["Content-Type", "Accept-Charset", "User-Agent", "Accept"]
            text = "|".join(f"{n}={self.headers.get(n)}" for n in names)
            self.reply(200, text.encode())
        elif p == "/inject":
            received.append(("inject", dict(self.headers), b""))
            self.reply(200, b"should not come")
        elif p == "/a%2Fb?q=x%26y":
            self.reply(200, b"escapes kept")
        elif p == "/data":
            self.reply(200, b"[1 2 three]")
        elif p == "/missing":
            self.reply(404, b"no such page")
        elif p == "/moved":
            self.reply(301, b"", extra=[("Location", "/text"), ("X-Hop", "1")])
        elif p == "/found":
            self.reply(302, b"", extra=[("Location", "/moved"), ("X-Hop", "2")])
        elif p == "/big":
            self.reply(200, BIG_BODY, "application/octet-stream")
        elif p == "/chunked":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for part in (b"first ", b"second ", b"third"):
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.reply(500, b"unexpected path " + p.encode())

    def echo(self):
        n = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(n)
        received.append((self.command, dict(self.headers), body))
        text = f"{self.command} {self.headers.get('Content-Type')} {body.hex()}"
        self.reply(200, text.encode())

    def do_POST(self):
        if self.path == "/inject":
            self.do_GET()
        else:
            self.echo()

    do_PUT = do_PATCH = echo


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def mold(s):
    """The molded form of a one-line string! as zan prints it: quoted, or
    in braces from 51 characters on."""
    inner = s.replace("^", "^^").replace("\n", "^/")
    if len(s) > 50:
        return "{" + inner + "}"
    return '"' + inner.replace('"', '^"') + '"'


def run_zan(zan, script, env, timeout=120):
    with tempfile.TemporaryDirectory() as home:
        e = dict(os.environ, HOME=home)
        e.update(env)
        return run_in(zan, script, e, timeout)


def run_in(zan, script, e, timeout):
    r = subprocess.run([zan, os.path.join(HERE, "host", script)], capture_output=True,
                       env=e, timeout=timeout, stdin=subprocess.DEVNULL)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def check_plain(zan, failures):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    port = server.server_address[1]
    t = threading.Thread(target=server.serve_forever, daemon=True)
    t.start()
    closed = free_port()
    try:
        with https_server() as https:
            env = {"ZAN_TEST_HTTP": f"http://127.0.0.1:{port}",
                   "ZAN_TEST_CLOSED_PORT": str(closed)}
            if https:
                env["ZAN_TEST_HTTPS"] = https
            else:
                print("https case skipped: no openssl")
            rc, out, err = run_zan(zan, "http-client.zan", env)
    finally:
        server.shutdown()
        server.server_close()
    got = {}
    for line in out.split("\n"):
        label, sep, value = line.partition(": ")
        if sep and label not in got:
            got[label] = value
    big_sha = "#{" + hashlib.sha256(BIG_BODY).hexdigest().upper() + "}"
    want = {
        "text": mold(TEXT),
        "lines": '["h\u00e9llo w\u00f6rld" "second line"]',
        "bin-length": str(len(BIN)),
        "bin-sha": "#{" + hashlib.sha256(BIN).hexdigest().upper() + "}",
        "info-status": "200",
        "info-type": '"text/plain; charset=utf-8"',
        "info-body": mold(TEXT),
        "set-cookie": '["a=1; Path=/" "b=2"]',
        "x-single": '"one"',
        "tight": '"value"',
        "date": '"Thu, 10 Dec 2026 00:12:10 GMT"',
        "link": '"http://example.test:8080/a"',
        "head-status": "200",
        "head-length": mold(str(len(TEXT.encode()))),
        "head-body": '""',
        "post": mold("POST application/x-www-form-urlencoded " + "na\u00efve=1&b=2".encode().hex()),
        "post-binary": mold("POST application/x-www-form-urlencoded 00ff10"),
        "put": mold("PUT text/x-mine " + b"put body".hex()),
        "custom-method": mold("PATCH None " + b"patched".hex()),
        "default-headers": mold("Content-Type=application/x-www-form-urlencoded|"
                                "Accept-Charset=UTF-8|User-Agent=Mozilla/5.0 (X11; Linux x86_64)|"
                                "Accept=None"),
        "no-headers": mold("Content-Type=None|Accept-Charset=None|User-Agent=None|Accept=None"),
        "accept-given": mold("Content-Type=None|Accept-Charset=None|User-Agent=None|"
                             "Accept=text/x-zan"),
        "missing-status": "404",
        "missing-body": '"no such page"',
        "missing-plain": '"no such page"',
        "moved-status": "200",
        "moved-body": mold(TEXT),
        "moved-hop-header": "none",
        "found-status": "200",
        "found-body": mold(TEXT),
        "big-length": str(BIG),
        "big-sha": big_sha,
        "chunked-encoding": '"chunked"',
        "chunked-body": '"first second third"',
        "part": "[internal not-done]",
        "load": "[1 2 three]",
        "escaped-delimiters": '"escapes kept"',
        "load-missing": "none",
        "read-thru": '"[1 2 three]"',
        "cached": "true",
        "refused": '[access no-connect "connection refused"]',
        "odd-keys": "[word! word! word! string! string! word! word!]",
        "odd-values": '["1" "2" "3"]',
        "odd-reloads": "true",
        "injected": '[[invalid-arg [X-Bad: "a^/X-Injected: 1"]] '
                    '[invalid-arg ["X-A^M^/X-B" "1"]] [invalid-arg [X-Nul "a^@b"]]]',
    }
    for label, value in want.items():
        if got.get(label) != value:
            failures.append(f"{label}: want {value!r}, got {got.get(label)!r}")
    if any("X-Injected" in r[1] or "X-B" in r[1] for r in received):
        failures.append("an injected header reached the server")
    if any(r[0] == "inject" for r in received):
        failures.append(f"a refused request was sent: {received}")
    put = [r for r in received if r[0] == "PUT"]
    if not put or put[0][1].get("X-Extra") != "42":
        failures.append(f"PUT request headers: {put[0][1] if put else None}")
    if f"cannot connect: http://127.0.0.1:{closed}/ reason: \"connection refused\"" not in out:
        failures.append("the refused connection's message")
    if https:
        if got.get("https") != "[access no-connect]":
            failures.append(f"https: {got.get('https')!r}")
        reason = got.get("https-reason") or ""
        if reason[1:12] != "TLS failure" or "certificate" not in reason:
            failures.append(f"https reason: {reason!r}")
    if rc != 0:
        failures.append(f"exit status {rc}: {err}")


@contextlib.contextmanager
def https_server():
    """An https server with a self-signed certificate on loopback; yields
    its URL, or None when openssl is missing."""
    openssl = shutil.which("openssl")
    if not openssl:
        yield None
        return
    with tempfile.TemporaryDirectory() as d:
        key, cert = os.path.join(d, "key.pem"), os.path.join(d, "cert.pem")
        subprocess.run([openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "1", "-subj", "/CN=127.0.0.1"],
                       check=True, capture_output=True, timeout=30)
        port = free_port()
        server = subprocess.Popen([openssl, "s_server", "-accept", f"127.0.0.1:{port}",
                                   "-cert", cert, "-key", key, "-www", "-quiet"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            deadline = time.time() + 10
            while time.time() < deadline:
                try:
                    socket.create_connection(("127.0.0.1", port), timeout=1).close()
                    break
                except OSError:
                    time.sleep(0.05)
            yield f"https://127.0.0.1:{port}/"
        finally:
            server.terminate()
            server.wait(timeout=10)


def main():
    zan = sys.argv[1]
    failures = []
    check_plain(zan, failures)
    for f in failures:
        print("FAIL", f)
    if failures:
        sys.exit(1)
    print("ok")


if __name__ == "__main__":
    main()
