#!/usr/bin/env python3
"""The image codecs through the real zan, checked against Pillow.

Pillow writes images of several modes and sizes (grey, palette, RGB, RGBA,
16-bit grey PNG, progressive and CMYK JPEG, GIF with a transparent index, TIFF with
LZW and with deflate, BMP of 1, 8, 24 and 32 bits); this driver writes the
forms Pillow cannot (an interlaced PNG, run-length BMPs) itself. One zan
process loads every file and writes its pixels out (img/argb: the bytes B,
G, R, A of each pixel), which must equal Pillow's decoding exactly, or
within a small error for JPEG. The same process saves a test image in the
five formats, and Pillow opens each and compares. Truncated and bit-flipped
copies of every file must give the access error (truncated) or either an
image or the error (flipped), and the process must live on to the end.
The PNG suite (../shared/conformance/pngsuite from the project root, or
ZAN_CONFORMANCE_DIR) is decoded too: valid files equal Pillow's pixels,
files starting with x are refused.

usage: run_image_codecs.py <zan>
Exits 77 (skipped) when Pillow is missing.
"""
import os
import random
import struct
import subprocess
import sys
import tempfile
import zlib

SKIP = 77
STRESS = bool(os.environ.get("ZAN_GC_STRESS"))

try:
    from PIL import Image
except ImportError:
    # The system interpreter has Debian's Pillow when another one is first
    # on the path.
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    print("skipped: Pillow is not installed")
    sys.exit(SKIP)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def pattern(w, h, alpha=True):
    """A smooth RGBA pattern with some hard edges and varied transparency."""
    px = []
    for y in range(h):
        for x in range(w):
            r = (x * 255) // max(w - 1, 1)
            g = (y * 255) // max(h - 1, 1)
            b = ((x + y) * 97) % 256 if (x // 4 + y // 4) % 2 else 40
            a = 255 if not alpha else (255 if x < w // 2 else (x * 37 + y * 11) % 256)
            px.append((r, g, b, a))
    return px


def image_of(px, w, h, mode="RGBA"):
    im = Image.new("RGBA", (w, h))
    im.putdata(px)
    return im if mode == "RGBA" else im.convert(mode)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def write_interlaced_png(path, px, w, h):
    """An 8-bit RGBA PNG with Adam7 interlacing (Pillow writes none)."""
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4),
              (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = bytearray()
    for x0, y0, dx, dy in passes:
        cols = range(x0, w, dx)
        for y in range(y0, h, dy):
            if not cols:
                continue
            raw.append(0)
            for x in cols:
                raw.extend(px[y * w + x])
    ihdr = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 1)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
                png_chunk(b"IDAT", zlib.compress(bytes(raw))) + png_chunk(b"IEND", b""))


def rle8_rows(indexes, w, h, four):
    """Run-length rows bottom up: runs of equal indexes, then end of bitmap."""
    out = bytearray()
    for y in range(h - 1, -1, -1):
        row = indexes[y * w:(y + 1) * w]
        x = 0
        while x < w:
            n = 1
            if four:
                # A 4-bit run repeats a pair of indexes; use single colours.
                while x + n < w and n < 254 and row[x + n] == row[x]:
                    n += 1
                out += bytes([n, (row[x] << 4) | row[x]])
            else:
                while x + n < w and n < 255 and row[x + n] == row[x]:
                    n += 1
                out += bytes([n, row[x]])
            x += n
        out += b"\x00\x00"
    return out + b"\x00\x01"


def write_rle_bmp(path, w, h, four):
    palette = [(i * 16 % 256, 255 - i * 9 % 256, i * 5 % 256) for i in range(16 if four else 256)]
    indexes = [((x // 3) + (y // 2)) % len(palette) for y in range(h) for x in range(w)]
    data = rle8_rows(indexes, w, h, four)
    pal = b"".join(bytes([b, g, r, 0]) for r, g, b in palette)
    offset = 14 + 40 + len(pal)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4 if four else 8, 2 if four else 1,
                       len(data), 2835, 2835, len(palette), 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + pal + data)


def make_inputs(d):
    """Writes the files zan decodes; returns [(name, tolerance)]."""
    files = []

    def save(name, im, tol=0, **kw):
        im.save(os.path.join(d, name), **kw)
        files.append((name, tol))

    w, h = (9, 7) if STRESS else (37, 23)
    rgba = pattern(w, h)
    im = image_of(rgba, w, h)
    save("grey.png", im.convert("L"))
    save("la.png", im.convert("LA"))
    save("palette.png", im.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=16))
    trns = im.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=8)
    save("palette-trns.png", trns, transparency=3)
    save("rgb.png", im.convert("RGB"))
    save("rgba.png", im)
    grey16 = Image.new("I;16", (w, h))
    grey16.putdata([(i * 2749) % 65536 for i in range(w * h)])
    save("grey16.png", grey16)
    write_interlaced_png(os.path.join(d, "interlaced.png"), rgba, w, h)
    files.append(("interlaced.png", 0))
    save("base.jpg", im.convert("RGB"), tol=3, quality=90)
    save("progressive.jpg", im.convert("RGB"), tol=3, quality=90, progressive=True)
    save("grey.jpg", im.convert("L"), tol=3, quality=90)
    # CMYK as common tools write it (Adobe marker, inverted ink), with black
    # ink in use: compared with Pillow's own conversion to RGB.
    cmyk = Image.new("CMYK", (w, h))
    cmyk.putdata([(x * 255 // (w - 1), y * 255 // (h - 1), (x * y * 7) % 256, (x + 2 * y) * 5 % 256)
                  for y in range(h) for x in range(w)])
    save("cmyk.jpg", cmyk, tol=4, quality=95)
    save("transparent.gif", trns, transparency=2)
    save("grey.gif", im.convert("L"))
    save("lzw.tif", im.convert("RGB"), compression="tiff_lzw")
    save("deflate.tif", im, compression="tiff_adobe_deflate")
    save("grey-lzw.tif", im.convert("L"), compression="tiff_lzw")
    save("palette.tif", im.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=16))
    save("rgb.bmp", im.convert("RGB"))
    save("palette.bmp", im.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=64))
    save("mono.bmp", im.convert("1"))
    save("rgba.bmp", im)
    write_rle_bmp(os.path.join(d, "rle8.bmp"), w, h, False)
    write_rle_bmp(os.path.join(d, "rle4.bmp"), w, h, True)
    files += [("rle8.bmp", 0), ("rle4.bmp", 0)]
    return files


def png_depth(path):
    with open(path, "rb") as f:
        head = f.read(25)
    return head[24] if head[:4] == b"\x89PNG" else 8


def pillow_pixels(path):
    """Pillow's decoding as RGBA tuples. 16-bit grey keeps its high byte;
    the transparent key of grey below 8 bits is compared in its own scale
    (Pillow scales the samples but not the key)."""
    im = Image.open(path)
    key = im.info.get("transparency")
    if im.mode in ("I", "I;16", "I;16B"):
        return [((v >> 8),) * 3 + (0 if key is not None and v == key else 255,)
                for v in im.getdata()], im.size
    depth = png_depth(path)
    if im.mode == "L" and isinstance(key, int) and depth < 8:
        key = key * (255 // ((1 << depth) - 1))
        return [(v, v, v, 0 if v == key else 255) for v in im.getdata()], im.size
    return list(im.convert("RGBA").getdata()), im.size


def zan_pixels(path):
    with open(path, "rb") as f:
        raw = f.read()
    return [(raw[i + 2], raw[i + 1], raw[i], raw[i + 3]) for i in range(0, len(raw), 4)]


def differs(a, b, tol):
    if len(a) != len(b):
        return f"{len(a)} pixels against {len(b)}"
    worst = max((abs(p - q) for x, y in zip(a, b) for p, q in zip(x, y)), default=0)
    return None if worst <= tol else f"a sample differs by {worst}"


def zan_file(path):
    return "%" + path


def damaged_copies(d, names):
    """Truncated and bit-flipped copies: [(name, must_fail)]."""
    rng = random.Random(16)
    out = []
    for name in names:
        with open(os.path.join(d, name), "rb") as f:
            data = f.read()
        # Under the stressed collector (very slow per load) one cut each.
        cuts = [len(data) // 2] if STRESS else [12, len(data) // 3, len(data) // 2, len(data) - 3]
        for i, cut in enumerate(cuts):
            cname = f"cut{i}-{name}"
            with open(os.path.join(d, cname), "wb") as f:
                f.write(data[:cut])
            # The last four bytes of a one-image TIFF are the offset of a
            # next directory it does not have: losing them loses nothing.
            lossless = name.endswith(".tif") and cut >= len(data) - 4
            out.append((cname, not lossless))
        for i in range(0 if STRESS else 4):
            flipped = bytearray(data)
            for _ in range(6):
                pos = rng.randrange(len(flipped))
                flipped[pos] ^= 1 << rng.randrange(8)
            fname = f"flip{i}-{name}"
            with open(os.path.join(d, fname), "wb") as f:
                f.write(flipped)
            out.append((fname, False))
    return out


def suite_files():
    base = os.environ.get("ZAN_CONFORMANCE_DIR") or os.path.join(ROOT, "..", "shared", "conformance")
    folder = os.path.join(base, "pngsuite", "png")
    if not os.path.isdir(folder):
        return None, []
    names = sorted(n for n in os.listdir(folder) if n.endswith(".png"))
    if STRESS:
        names = [n for n in names if n.startswith(("basn6", "basi3", "xs", "xc"))]
    return folder, names


def main():
    zan = os.path.abspath(sys.argv[1])
    failures = []
    with tempfile.TemporaryDirectory() as d:
        inputs = make_inputs(d)
        damaged = damaged_copies(d, [n for n, _ in inputs])
        suite_dir, suite = suite_files()
        src_w, src_h = 19, 11
        src = pattern(src_w, src_h)
        rgb = bytes(c for p in src for c in p[:3])
        alpha = bytes(255 - p[3] for p in src)
        lines = ["Zan []", "decode-to: func [f out /local img][img: load f write out img/argb true]"]
        for n, _ in inputs:
            lines.append(f"decode-to {zan_file(os.path.join(d, n))} "
                         f"{zan_file(os.path.join(d, n + '.argb'))}")
        for n in suite:
            p = os.path.join(suite_dir, n)
            lines.append(f"r: try [decode-to {zan_file(p)} {zan_file(os.path.join(d, n + '.argb'))}]")
            lines.append(f"if error? r [print [\"{n}\" r/id]]")
        for n, _ in damaged:
            lines.append(f"r: try [load {zan_file(os.path.join(d, n))}]")
            lines.append(f"print [\"{n}\" either error? r [r/id][type? r]]")
        lines.append(f"binary-cut: try [load/as copy/part read/binary "
                     f"{zan_file(os.path.join(d, 'rgba.png'))} 40 'png]")
        lines.append("print ['binary-cut binary-cut/id]")
        lines.append(f"img: make image! reduce [{src_w}x{src_h} #{{{rgb.hex()}}} #{{{alpha.hex()}}}]")
        for ext in ("png", "jpg", "bmp", "gif", "tif"):
            lines.append(f"save {zan_file(os.path.join(d, 'zan.' + ext))} img")
        lines.append('print "alive"')
        script = os.path.join(d, "run.zan")
        with open(script, "w") as f:
            f.write("\n".join(lines) + "\n")
        proc = subprocess.run([zan, script], capture_output=True, text=True, timeout=3000,
                              env=dict(os.environ, HOME=d), cwd=d)
        out = proc.stdout.splitlines()
        if proc.returncode != 0 or not out or out[-1] != "alive":
            print("zan did not run to the end:", proc.returncode, proc.stdout[-2000:], proc.stderr[-2000:])
            return 1
        reported = {}
        for line in out[:-1]:
            parts = line.split()
            if len(parts) == 2:
                reported[parts[0]] = parts[1]

        # Files Pillow wrote, decoded by zan.
        for n, tol in inputs:
            want, size = pillow_pixels(os.path.join(d, n))
            got = zan_pixels(os.path.join(d, n + ".argb"))
            why = differs(got, want, tol)
            if why:
                failures.append(f"{n}: {why}")

        # The suite: valid files as Pillow decodes them, x files refused.
        for n in suite:
            if n.startswith("x"):
                if reported.get(n) != "cannot-open":
                    failures.append(f"pngsuite {n}: not refused ({reported.get(n)})")
                continue
            if n in reported:
                failures.append(f"pngsuite {n}: refused ({reported[n]})")
                continue
            want, size = pillow_pixels(os.path.join(suite_dir, n))
            why = differs(zan_pixels(os.path.join(d, n + ".argb")), want, 0)
            if why:
                failures.append(f"pngsuite {n}: {why}")

        # Damaged copies: truncated ones refused, all of them survived.
        for n, must_fail in damaged:
            r = reported.get(n)
            if r not in ("cannot-open", "image"):
                failures.append(f"{n}: unexpected result {r}")
            elif must_fail and r != "cannot-open":
                failures.append(f"{n}: a truncated file was accepted")
        if reported.get("binary-cut") != "bad-media":
            failures.append(f"truncated PNG bytes: {reported.get('binary-cut')} instead of bad-media")

        # What zan saved, opened by Pillow.
        for ext in ("png", "jpg", "bmp", "gif", "tif"):
            path = os.path.join(d, "zan." + ext)
            try:
                im = Image.open(path)
                im.load()
            except Exception as e:  # noqa: BLE001 - any refusal is the failure
                failures.append(f"zan.{ext}: Pillow cannot open it: {e}")
                continue
            if im.size != (src_w, src_h):
                failures.append(f"zan.{ext}: size {im.size}")
                continue
            got = list(im.convert("RGBA").getdata())
            if ext in ("png", "bmp", "tif"):
                why = differs(got, src, 0)
            elif ext == "gif":
                # A palette of the image's own colours; alpha below 128 is
                # the transparent index.
                want = [(p[0], p[1], p[2], 255) if p[3] >= 128 else None for p in src]
                bad = [i for i, (g, w) in enumerate(zip(got, want))
                       if (w is None and g[3] != 0) or (w is not None and g != w)]
                why = f"{len(bad)} pixels differ" if bad else None
            else:
                why = differs([g[:3] for g in got], [p[:3] for p in src], 24)
            if why:
                failures.append(f"zan.{ext}: {why}")
    for f in failures:
        print("FAIL", f)
    print(f"{len(inputs)} files, {len(suite)} suite files, {len(damaged)} damaged copies; "
          f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
