#!/usr/bin/env python3
"""Generate Revuzada's 32x32 RGBA tray/window icon and print it as base64.

A blue rounded square with a white down-pointing arrow over a tray line,
written with the standard library only (zlib + struct).

Usage: python3 res/make_icon.py [out.png]
"""
import base64
import struct
import sys
import zlib

SIZE = 32


def pixel(x, y):
    cx, cy = x + 0.5, y + 0.5
    # Rounded square: inset 1 px, corner radius 7.
    lo, hi, r = 1.0, 31.0, 7.0
    qx = min(max(cx, lo + r), hi - r)
    qy = min(max(cy, lo + r), hi - r)
    d = ((cx - qx) ** 2 + (cy - qy) ** 2) ** 0.5
    if d > r:
        return (0, 0, 0, 0)
    alpha = 255 if d <= r - 1 else int(255 * (r - d))
    # Vertical gradient, deeper blue towards the bottom.
    t = cy / SIZE
    base = (int(40 - 20 * t), int(130 - 50 * t), int(220 - 40 * t), alpha)
    white = (255, 255, 255, alpha)
    # Arrow shaft.
    if 13 <= cx <= 19 and 6 <= cy <= 17:
        return white
    # Arrow head: triangle from y=15 (width 16) to tip at y=23.
    if 15 <= cy <= 23 and abs(cx - 16) <= (23 - cy):
        return white
    # Tray line.
    if 25 <= cy <= 27 and 7 <= cx <= 25:
        return white
    return base


def chunk(kind, data):
    body = kind + data
    return (struct.pack(">I", len(data)) + body
            + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))


def make_png():
    raw = bytearray()
    for y in range(SIZE):
        raw.append(0)  # filter: none
        for x in range(SIZE):
            raw.extend(pixel(x, y))
    ihdr = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    png = make_png()
    if len(sys.argv) > 1:
        with open(sys.argv[1], "wb") as f:
            f.write(png)
    print(base64.b64encode(png).decode("ascii"))
