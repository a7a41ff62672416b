#!/usr/bin/env python3
"""The clipboard of an X display, through the real zan and xclip.

Starts a virtual X server (Xvfb) of its own, then checks both directions
against xclip run by this driver: text written by zan is read by xclip
unchanged (LF line ends, UTF-8), text and file lists put by xclip are read
by zan, and a block of files written by zan is offered as a text/uri-list.
The server is stopped at the end. Exits 77 (skipped) when Xvfb or xclip is
missing.

usage: run_host_clipboard_x.py <zan>
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import struct
import zlib

SKIP = 77
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))


def start_display():
    r, w = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp",
                               "-screen", "0", "320x240x24"],
                              pass_fds=(w,), stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    number = b""
    deadline = time.time() + 20
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(r, 16)
        if not chunk:
            break
        number += chunk
    os.close(r)
    if not number.strip():
        server.kill()
        server.wait()
        return None, None
    return server, ":" + number.decode().strip()


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def rgba_png(w, h, pixels):
    """An 8-bit RGBA PNG, every row unfiltered."""
    raw = b"".join(b"\0" + bytes(c for p in pixels[y * w:(y + 1) * w] for c in p) for y in range(h))
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(raw)) + png_chunk(b"IEND", b""))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def png_rgba(data):
    """The pixels of an 8-bit RGBA or RGB PNG without interlacing, or None."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    pos, idat, head = 8, b"", None
    while pos + 8 <= len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    w, h, depth, colour, _, _, interlace = head
    if depth != 8 or colour not in (2, 6) or interlace:
        return None
    bpp = 4 if colour == 6 else 3
    raw, prev, out = zlib.decompress(idat), bytes(w * bpp), []
    for y in range(h):
        f, line = raw[y * (w * bpp + 1)], bytearray(raw[y * (w * bpp + 1) + 1:(y + 1) * (w * bpp + 1)])
        for i in range(len(line)):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            pred = [0, a, b, (a + b) // 2, paeth(a, b, c)][f]
            line[i] = (line[i] + pred) & 255
        out += [tuple(line[x * bpp:(x + 1) * bpp]) + ((255,) if bpp == 3 else ()) for x in range(w)]
        prev = bytes(line)
    return out


def main():
    zan = sys.argv[1]
    if not shutil.which("Xvfb") or not shutil.which("xclip"):
        print("skipped: Xvfb or xclip is not installed")
        return SKIP
    server, display = start_display()
    if not server:
        print("FAIL: the virtual X server did not start")
        return 1
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    failures = []

    def zan_eval(code):
        with tempfile.NamedTemporaryFile("w", suffix=".zan", delete=False) as f:
            f.write("Zan []\n" + code + "\n")
        try:
            r = subprocess.run([zan, f.name], capture_output=True, env=env, timeout=60,
                               stdin=subprocess.DEVNULL)
        finally:
            os.unlink(f.name)
        return r.stdout.decode("utf-8", "replace").rstrip("\n")

    def xclip_out(target, want):
        # The xclip that zan ran hands the selection to a process of its own,
        # which takes it over a moment later: read until it is there, or up
        # to 3 seconds.
        deadline = time.time() + 3
        while True:
            got = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", target],
                                 capture_output=True, env=env, timeout=30).stdout
            if got == want or time.time() > deadline:
                return got
            time.sleep(0.05)

    def xclip_in(target, data):
        # xclip stays to serve the selection; its streams must not be ours.
        subprocess.run(["xclip", "-selection", "clipboard", "-t", target, "-i"], input=data,
                       env=env, timeout=30, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        if xclip_out(target, data) != data:
            failures.append(f"xclip did not take the clipboard for {target}")

    def check(label, got, want):
        if got != want:
            failures.append(f"{label}: want {want!r}, got {got!r}")

    try:
        # Text both ways, and emptying, in one run.
        xclip_in("UTF8_STRING", "from xclip\nline \u00e9".encode())
        check("text run", zan_eval('print mold read-clipboard print write-clipboard none '
                                   'print mold read-clipboard '
                                   'print write-clipboard "one^/two \u20ac^/"'),
              '"from xclip^/line \u00e9"\ntrue\nnone\ntrue')
        want = "one\ntwo \u20ac\n".encode()
        check("xclip reads", xclip_out("UTF8_STRING", want), want)
        # Files both ways: a start-up of zan costs much under the stressed
        # collector, so that run only checks text.
        if not STRESS:
            xclip_in("text/uri-list", b"# copied\r\nfile:///srv/x%20y.png\r\nfile:///srv/z\r\n")
            check("files run", zan_eval('print mold read-clipboard '
                                        'print write-clipboard [%/tmp/a.txt %"/tmp/b c/d"]'),
                  '[%"/srv/x y.png" %/srv/z]\ntrue')
            want = b"file:///tmp/a.txt\r\nfile:///tmp/b%20c/d\r\n"
            check("uri-list", xclip_out("text/uri-list", want), want)
            # Images both ways as image/png.
            xclip_in("image/png", rgba_png(2, 1, [(1, 2, 3, 255), (4, 5, 6, 127)]))
            check("image run", zan_eval('print mold/flat read-clipboard print write-clipboard '
                                        'make image! [1x2 #{0A0B0C 0D0E0F} #{00 FF}]'),
                  "make image! [2x1 #{010203040506} #{0080}]\ntrue")
            deadline, got = time.time() + 3, b""
            while not got.startswith(b"\x89PNG") and time.time() < deadline:
                got = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", "image/png"],
                                     capture_output=True, env=env, timeout=30).stdout
                time.sleep(0.05)
            check("image/png", png_rgba(got), [(10, 11, 12, 255), (13, 14, 15, 0)])
        else:
            print("under ZAN_GC_STRESS: text only")
    finally:
        server.terminate()
        server.wait(timeout=10)
    for f in failures:
        print("FAIL", f)
    if failures:
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
