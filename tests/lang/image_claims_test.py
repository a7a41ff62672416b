#!/usr/bin/env python3
"""Image files whose headers claim more than their data describes, loaded
through the real zan: files of a few dozen bytes give the access error, and
an image whose data leaves most of it undescribed (a GIF's screen around a
small frame, a run-length BMP that ends at once) loads transparent there
without taking the memory of its size. The child's peak resident memory is
read from the system (wait4), never a time.

Usage: image_claims_test.py <path of zan> [unittest options]
"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

ZAN = None
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))
TIMEOUT = 600 if STRESS else 60
# Start-up takes a few megabytes (more under the sanitizers); a claim
# believed would take gigabytes.
PEAK_LIMIT_KB = 400 * 1024


def png_chunk(kind, data, length=None):
    body = kind + data
    size = len(data) if length is None else length
    return struct.pack(">I", size) + body + (struct.pack(">I", zlib.crc32(body)) if length is None else b"")


def gif_screen(w, h):
    """A GIF whose w x h screen holds a 1 x 1 frame of colour 0 (black)."""
    return (b"GIF89a" + struct.pack("<HH", w, h) + bytes([0x80, 0, 0]) + b"\0\0\0\xff\xff\xff"
            + b"\x2c\0\0\0\0\x01\0\x01\0\0" + b"\x02\x02\x44\x01\0\x3b")


def rle_bmp(w, h, palette, runs):
    """An 8-bit run-length BMP; palette is a list of (r, g, b)."""
    pal = b"".join(bytes([b, g, r, 0]) for r, g, b in palette)
    offset = 14 + 40 + len(pal)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 1, len(runs), 2835, 2835, len(palette), 0)
    return b"BM" + struct.pack("<IHHI", offset + len(runs), 0, 0, offset) + info + pal + runs


def tiff_1bit(w, h, strip):
    """A one-strip 1-bit TIFF whose strip is `strip` bytes and claims its size."""
    tags = [(256, 4, w), (257, 4, h), (258, 3, 1), (259, 3, 1), (262, 3, 1), (273, 4, None),
            (277, 3, 1), (278, 4, h), (279, 4, (w + 7) // 8 * h)]
    data_at = 8 + 2 + len(tags) * 12 + 4
    ifd = struct.pack("<H", len(tags))
    for tag, kind, value in tags:
        value = data_at if value is None else value
        ifd += struct.pack("<HHI", tag, kind, 1) + (struct.pack("<HH", value, 0) if kind == 3
                                                    else struct.pack("<I", value))
    return b"II*\0" + struct.pack("<I", 8) + ifd + b"\0\0\0\0" + b"\0" * strip


# The hostile files: name, bytes.
HOSTILE = [
    ("screen.gif", bytes.fromhex("474946383961ffff0040800000000000ffffff2c0000000001000100"
                                 "0002024401003b")),
    ("end-of-bitmap.bmp", rle_bmp(65535, 16384, [(0, 0, 0)], b"\0\x01")),
    ("one-bit.tif", tiff_1bit(32768, 32767, 1)),
    ("text-chunk.png", b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 0, 0, 0, 0))
     + png_chunk(b"iTXt", b"", 0x70000000)),
]


class ImageClaimsTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_script(self, lines):
        """Runs the script; answers its output lines and the child's peak
        resident memory in KiB."""
        script = os.path.join(self.dir, "run.zan")
        with open(script, "w") as f:
            f.write("Zan []\n" + "\n".join(lines) + "\n")
        env = dict(os.environ, HOME=self.dir)
        env.pop("ZAN_LIBRARY_DIR", None)
        with subprocess.Popen([ZAN, script], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              cwd=self.dir, env=env) as proc:
            out = proc.stdout.read().decode("utf-8", errors="replace")
            _, status, usage = os.wait4(proc.pid, 0)
            proc.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(proc.returncode, 0, out)
        return out.split("\n"), usage.ru_maxrss

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)

    def test_files_claiming_more_than_their_data_are_refused(self):
        lines = []
        for name, data in HOSTILE:
            self.write(name, data)
            codec = {"tif": "tiff"}.get(name[-3:], name[-3:])
            lines.append(f'r: try [load %{name}] print ["{name}" either error? r [r/id] [r/size]]')
            lines.append(f"r: try [load/as read/binary %{name} '{codec}] "
                         f'print ["{name}" either error? r [r/id] [r/size]]')
        out, peak = self.run_script(lines)
        for name, data in HOSTILE:
            self.assertIn(f"{name} cannot-open", out)
            self.assertIn(f"{name} bad-media", out)
        self.assertLess(peak, PEAK_LIMIT_KB)
        self.assertEqual([len(d) for _, d in HOSTILE], [35, 60, 123, 41])

    def test_undescribed_parts_are_transparent_and_cost_nothing(self):
        side = 16384
        self.write("screen.gif", gif_screen(side, side))
        # Bottom row first: three pixels of colour 1, end of bitmap.
        self.write("ends.bmp", rle_bmp(side, side, [(255, 0, 0), (255, 255, 255)], b"\x03\x01\0\x01"))
        last_row = side * (side - 1)
        out, peak = self.run_script([
            "g: load %screen.gif",
            f"print [g/size pick g 1 pick g 2 pick g {side * side}]",
            "b: load %ends.bmp",
            f"print [b/size pick b {last_row + 1} pick b {last_row + 3} pick b {last_row + 4} pick b 1]",
        ])
        self.assertEqual(out[0], f"{side}x{side} 0.0.0.0 0.0.0.255 0.0.0.255")
        self.assertEqual(out[1], f"{side}x{side} 255.255.255.0 255.255.255.0 0.0.0.255 0.0.0.255")
        self.assertLess(peak, PEAK_LIMIT_KB)


if __name__ == "__main__":
    ZAN = os.path.abspath(sys.argv.pop(1))
    unittest.main()
