#!/usr/bin/env python3
"""Draw the program's icons and write res/app.ico and res/small.ico.

The artwork is a rounded square in a blue gradient carrying a white compass
rose inside a ring. Everything is computed here with the standard library so
the icons can be remade anywhere, and the output is byte-identical on every
run (no time stamps, no randomness).

Images are stored as classic 32-bit DIB entries with an AND mask: windres and
every Windows version read those, PNG entries need Vista or later.

    python3 res/make_icons.py [--preview DIR]

--preview also writes each size as an enlarged PNG, for looking at.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

APP_SIZES = (64, 48, 32, 16)
SMALL_SIZES = (48, 32, 16)

# Top-left and bottom-right ends of the background gradient (R, G, B).
LIGHT = (0x5B, 0xB4, 0xFA)
DARK = (0x14, 0x4C, 0xB4)
WHITE = (0xFF, 0xFF, 0xFF)

SUPERSAMPLE = 8  # samples per pixel along each axis


def _in_rounded_square(x, y, inset, radius):
    """True if (x, y), in unit coordinates, lies in the rounded square."""
    lo, hi = inset + radius, 1.0 - inset - radius
    dx = max(lo - x, 0.0, x - hi)
    dy = max(lo - y, 0.0, y - hi)
    if x < inset or x > 1.0 - inset or y < inset or y > 1.0 - inset:
        return False
    return dx * dx + dy * dy <= radius * radius


def _in_polygon(x, y, pts):
    inside = False
    j = len(pts) - 1
    for i in range(len(pts)):
        xi, yi = pts[i]
        xj, yj = pts[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def _rose(cx, cy, outer, inner):
    """Four-pointed star: points N, E, S, W, waist on the diagonals."""
    pts = []
    for k in range(8):
        angle = math.pi / 2 - k * math.pi / 4
        r = outer if k % 2 == 0 else inner
        pts.append((cx + r * math.cos(angle), cy - r * math.sin(angle)))
    return pts


def _geometry(size):
    """Shape parameters; small sizes get bolder strokes so they stay legible."""
    px = 1.0 / size
    # A margin of whole pixels keeps the square's edges crisp.
    inset = (size // 32) * px
    return {
        "inset": inset,
        "radius": 0.22,
        "ring_r": 0.30,
        "ring_w": max(0.055, 1.1 * px),
        "rose": _rose(0.5, 0.5, 0.40, max(0.075, 1.2 * px)),
    }


def _sample(x, y, g):
    """Straight RGBA of one sample point, alpha 0 or 255."""
    if not _in_rounded_square(x, y, g["inset"], g["radius"]):
        return None
    d = math.hypot(x - 0.5, y - 0.5)
    if abs(d - g["ring_r"]) <= g["ring_w"] / 2 or _in_polygon(x, y, g["rose"]):
        return WHITE
    t = (x + y) / 2.0
    return tuple(LIGHT[c] + (DARK[c] - LIGHT[c]) * t for c in range(3))


def render(size):
    """Rows top to bottom of (R, G, B, A) tuples, antialiased by supersampling."""
    g = _geometry(size)
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    c = _sample(x, y, g)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += c[k]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(acc[k] / hits + 0.5) for k in range(3))
                           + (int(255 * hits / (n * n) + 0.5),))
        rows.append(row)
    return rows


def dib_entry(rows):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + 1-bit AND mask."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (r, g, b, a) in enumerate(row):
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def ico(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images in that order."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for size, rows in images:
        blob = dib_entry(rows)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    return out + b"".join(blobs)


def png(rows, scale=1):
    """RGBA PNG of the image, each pixel blown up to scale x scale."""
    width = len(rows[0]) * scale
    raw = bytearray()
    for row in rows:
        line = bytearray(b"\0")
        for px in row:
            line += bytes(px) * scale
        raw += bytes(line) * scale

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    ihdr = struct.pack(">IIBBBBB", width, len(rows) * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main(argv):
    preview = None
    if len(argv) == 3 and argv[1] == "--preview":
        preview = argv[2]
    elif len(argv) != 1:
        print("usage: make_icons.py [--preview DIR]", file=sys.stderr)
        return 2

    images = {size: render(size) for size in sorted(set(APP_SIZES + SMALL_SIZES))}
    for name, sizes in (("app.ico", APP_SIZES), ("small.ico", SMALL_SIZES)):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(ico([(s, images[s]) for s in sizes]))
    if preview:
        os.makedirs(preview, exist_ok=True)
        for size, rows in images.items():
            with open(os.path.join(preview, "icon%d.png" % size), "wb") as f:
                f.write(png(rows, max(1, 256 // size)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
