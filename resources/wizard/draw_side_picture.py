#!/usr/bin/env python3
"""Draws the picture at the foot of the wizard's side panel (side_picture.png).

No dependencies beyond the standard library: shapes are sampled 4x4 per pixel
for smooth edges and written as an RGBA PNG. Run it again after changing it.
"""
import math
import struct
import sys
import zlib

W, H = 177, 150
SS = 4  # samples per pixel edge

TOP = (22, 78, 99)
BOTTOM = (12, 38, 58)
DB = (242, 160, 60)
DB_DARK = (196, 116, 34)
FILE = (236, 242, 246)
FOLD = (176, 196, 208)
ARROW = (140, 214, 224)
ROWS = (92, 140, 160)


def inside_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def cylinder(x, y):
    cx, rx, ry, top, bottom = 50, 26, 8, 48, 104
    if inside_ellipse(x, y, cx, top, rx, ry):
        return DB if not inside_ellipse(x, y, cx, top, rx - 3, ry - 2) else DB_DARK
    if abs(x - cx) <= rx and top <= y <= bottom or inside_ellipse(x, y, cx, bottom, rx, ry):
        # two bands mark the stacked disks
        for band in (66, 85):
            if abs(x - cx) <= rx and 0 <= y - (band + ry * math.sqrt(max(0.0, 1 - ((x - cx) / rx) ** 2))) <= 2:
                return DB_DARK
        return DB
    return None


def document(x, y):
    left, top, right, bottom, fold = 116, 42, 152, 108, 11
    if not (left <= x <= right and top <= y <= bottom):
        return None
    if x - (right - fold) > y - top:  # cut corner
        return None
    if x >= right - fold and y <= top + fold:
        return FOLD
    for row in (62, 72, 82, 92):
        if left + 7 <= x <= right - 7 and row <= y <= row + 2.5:
            return ROWS
    return FILE


def arrow(x, y):
    if 82 <= x <= 100 and 72 <= y <= 78:
        return ARROW
    if 98 <= x <= 110 and abs(y - 75) <= (110 - x) * 0.75:
        return ARROW
    return None


def sample(x, y):
    for shape in (cylinder, document, arrow):
        c = shape(x, y)
        if c:
            return c
    t = y / H
    return tuple(round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM))


def main(path):
    raw = bytearray()
    for py in range(H):
        raw.append(0)
        for px in range(W):
            acc = [0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = sample(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    for i in range(3):
                        acc[i] += c[i]
            raw.extend(round(a / (SS * SS)) for a in acc)
            raw.append(255)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", W, H, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "side_picture.png")
