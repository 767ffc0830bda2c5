#!/usr/bin/env python3
"""The image codecs under Wine, against ImageMagick.

Makes fixtures in a temporary folder (a PNG with alpha and a 1-bit BMP by
hand with zlib and struct, a two-frame GIF, a TIFF and a JPEG with
ImageMagick), with the pixels ImageMagick reads from each, and hostile
inputs (garbage behind a signature, every cut of a PNG before its first
IDAT, a PNG declaring 65535x65535). Then runs the ImageCodecs tests of the
Windows test program on them (decoding, encoding to the five formats and
decoding back, the hostile inputs), and checks what they wrote: `identify`
and `file` recognise every encoded file, and ImageMagick reads back the
pixels for BMP, PNG and TIFF exactly. The test program's peak memory stays
far below what the 65535x65535 PNG would ask for.

    image_codecs.py KEL_TESTS_EXE KEL_WINE
"""
import os
import random
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
IDENTIFY = "/usr/bin/identify" if os.path.exists("/usr/bin/identify") else "identify"
FORMATS = ["bmp", "png", "gif", "jpeg", "tiff"]  # the encoder index order
PEAK_LIMIT_KB = 1024 * 1024  # 1 GiB


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png_rgba(width, height, pixels, declared=None):
    """A PNG of 8-bit RGBA rows; `declared` overrides the size in IHDR."""
    w, h = declared or (width, height)
    raw = b"".join(b"\0" + bytes(v for p in pixels[y * width:(y + 1) * width] for v in p) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def bmp_1bit(width, height, bits):
    """A bottom-up 1-bit BMP, palette black then white; bits[y][x] top row first."""
    stride = (width + 31) // 32 * 4
    rows = []
    for y in reversed(range(height)):
        row = bytearray(stride)
        for x in range(width):
            if bits[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    palette = b"\0\0\0\0" + b"\xff\xff\xff\0"
    offset = 14 + 40 + len(palette)
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, len(data), 2835, 2835, 2, 2)
    return header + info + palette + data


def rgba_of(path):
    return subprocess.run([CONVERT, path + "[0]", "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout


def size_of(path):
    out = subprocess.run([IDENTIFY, "-format", "%w %h\n", path], check=True, capture_output=True, text=True).stdout
    return tuple(int(v) for v in out.split("\n")[0].split())


def make_fixtures(d):
    fixtures = []  # name, tolerance

    pixels = [(x * 50, y * 100, 255 - x * 40, (0, 128, 255)[y]) for y in range(3) for x in range(5)]
    open(os.path.join(d, "alpha.png"), "wb").write(png_rgba(5, 3, pixels))
    fixtures.append(("alpha.png", 0))

    bits = [[(x + y) % 3 == 0 for x in range(9)] for y in range(4)]
    open(os.path.join(d, "mono.bmp"), "wb").write(bmp_1bit(9, 4, bits))
    fixtures.append(("mono.bmp", 0))

    run = lambda *args: subprocess.run([CONVERT, *args], check=True, capture_output=True)
    run("-size", "4x3", "xc:red", "xc:blue", "-delay", "10", os.path.join(d, "frames.gif"))
    fixtures.append(("frames.gif", 0))
    run("-size", "6x5", "gradient:red-blue", "-depth", "8", "-type", "TrueColor", "-compress", "None",
        os.path.join(d, "plain.tiff"))
    fixtures.append(("plain.tiff", 0))
    run("-size", "16x16", "gradient:yellow-navy", "-quality", "95", os.path.join(d, "photo.jpg"))
    fixtures.append(("photo.jpg", 12))

    with open(os.path.join(d, "manifest.txt"), "w") as m:
        for name, tolerance in fixtures:
            path = os.path.join(d, name)
            open(path + ".rgba", "wb").write(rgba_of(path))
            w, h = size_of(path + "[0]")
            m.write("%s %d %d %d\n" % (name, w, h, tolerance))
    return fixtures


def make_hostile(d):
    valid = png_rgba(4, 4, [(1, 2, 3, 255)] * 16)
    first_idat = valid.index(b"IDAT") - 4
    cases = []
    for n in range(8, first_idat + 1):
        cases.append(("cut-%03d.png" % n, valid[:n]))
    rng = random.Random(25)
    garbage = bytes(rng.randrange(256) for _ in range(300))
    for sig in [b"\x89PNG", b"\xff\xd8\xff", b"BM", b"GIF89a", b"II*\0", b"MM\0*"]:
        cases.append(("garbage-%s.bin" % sig[:2].hex(), sig + garbage))
    cases.append(("huge.png", png_rgba(1, 1, [(0, 0, 0, 255)], declared=(65535, 65535))))
    os.makedirs(os.path.join(d, "hostile"))
    for name, data in cases:
        open(os.path.join(d, "hostile", name), "wb").write(data)
    open(os.path.join(d, "hostile", "short.bin"), "wb").write(b"\x89PN")
    with open(os.path.join(d, "hostile", "list.txt"), "w") as f:
        f.write("".join(name + "\n" for name, _ in cases))
    return len(cases)


def wine_path(p):
    return "Z:" + p.replace("/", "\\")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    exe, kel_wine = sys.argv[1], sys.argv[2]
    failures = []
    d = tempfile.mkdtemp(prefix="kel-image-codecs-")
    try:
        fixtures = make_fixtures(d)
        hostile = make_hostile(d)
        env = dict(os.environ, KEL_IMAGE_FIXTURES=wine_path(d))
        run = subprocess.run([kel_wine, exe, "--gtest_filter=ImageCodecs.*"], env=env, capture_output=True,
                             text=True, errors="replace")
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        sys.stdout.write(run.stdout)
        sys.stderr.write(run.stderr)
        if run.returncode != 0 or "[  PASSED  ] 2 tests" not in run.stdout or "SKIPPED" in run.stdout:
            failures.append("the ImageCodecs tests did not pass (status %d)" % run.returncode)
        if peak > PEAK_LIMIT_KB:
            failures.append("peak memory %d KiB" % peak)
        print("peak memory of the test program: %d KiB; %d hostile inputs" % (peak, hostile))

        # What the test program encoded: recognised, and read back by ImageMagick.
        magick = {"bmp": "BMP", "png": "PNG", "gif": "GIF", "jpeg": "JPEG", "tiff": "TIFF"}
        libmagic = {"bmp": "PC bitmap", "png": "PNG image data", "gif": "GIF image data",
                    "jpeg": "JPEG image data", "tiff": "TIFF image data"}
        checked = 0
        for name, _ in fixtures:
            source = open(os.path.join(d, name + ".rgba"), "rb").read()
            opaque = all(source[i] == 255 for i in range(3, len(source), 4))
            for fmt in FORMATS:
                out = os.path.join(d, "out-%s.%s" % (name.replace(".", "-"), fmt))
                if not os.path.exists(out):
                    failures.append("%s: no %s written" % (name, fmt))
                    continue
                checked += 1
                kind = subprocess.run([IDENTIFY, "-format", "%m\n", out], capture_output=True,
                                      text=True).stdout.split("\n")[0]
                if not kind.startswith(magick[fmt]):
                    failures.append("%s: identify says %r" % (out, kind))
                described = subprocess.run(["file", "-b", out], capture_output=True, text=True).stdout
                if libmagic[fmt] not in described:
                    failures.append("%s: file says %r" % (out, described.strip()))
                if fmt in ("png", "tiff") or (fmt == "bmp" and opaque):
                    back = rgba_of(out)
                    if name != "photo.jpg" and back != source:
                        failures.append("%s: ImageMagick reads other pixels back" % out)
        print("%d encoded files checked" % checked)
    finally:
        shutil.rmtree(d, ignore_errors=True)
    for f in failures:
        print("FAIL", f)
    print("%d passed, %d failed" % (0 if failures else 1, 1 if failures else 0))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
