#!/usr/bin/env python3
"""Writes the grid's bitmaps: 229 (loading failed) and 240-247 (the frames of the loading
animation), 24-bit BMPs drawn on black, which painting treats as transparent; and 226, the
overlay's picture item, drawn on pure green, its transparent colour.

    make_resources.py [resources-folder]   (default: the project's resources/)
"""
import math
import os
import struct
import sys

SIZE = 20


def bmp(pixels, width, height):
    """pixels[y][x] = (r, g, b), top row first."""
    row_bytes = (width * 3 + 3) // 4 * 4
    body = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        body += row + bytes(row_bytes - len(row))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    return header + info + bytes(body)


def blank():
    return [[(0, 0, 0)] * SIZE for _ in range(SIZE)]


def disc(pixels, cx, cy, radius, colour):
    for y in range(SIZE):
        for x in range(SIZE):
            if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                pixels[y][x] = colour


def failure():
    """A red cross in a red ring."""
    p = blank()
    c = SIZE / 2
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x + 0.5 - c, y + 0.5 - c)
            on_ring = c - 2.5 <= d <= c - 0.5
            on_cross = d <= c - 3 and (abs(x - y) <= 1 or abs(x + y - (SIZE - 1)) <= 1)
            if on_ring or on_cross:
                p[y][x] = (230, 30, 30)
    return p


def spinner(step):
    """Eight dots on a circle; the one at `step` bright, its two predecessors fading."""
    p = blank()
    c = SIZE / 2
    for i in range(8):
        a = 2 * math.pi * i / 8 - math.pi / 2
        age = (step - i) % 8
        level = {0: 255, 1: 170, 2: 110}.get(age, 60)
        disc(p, c + 7 * math.cos(a), c + 7 * math.sin(a), 2.0, (level, level, level))
    return p


def picture():
    """A sheet with a folded corner and three text lines, on pure green."""
    p = [[(0, 255, 0)] * SIZE for _ in range(SIZE)]
    for y in range(2, SIZE - 2):
        for x in range(4, SIZE - 4):
            if x - (SIZE - 9) > y - 2:
                continue  # the folded corner
            edge = y in (2, SIZE - 3) or x in (4, SIZE - 5) or x - (SIZE - 9) == y - 2
            p[y][x] = (40, 40, 40) if edge else (250, 250, 250)
    for y in (8, 11, 14):
        for x in range(7, SIZE - 7):
            p[y][x] = (30, 90, 200)
    return p


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources")
    folder = os.path.join(root, "bitmaps")
    os.makedirs(folder, exist_ok=True)
    images = {226: picture(), 229: failure()}
    for step in range(8):
        images[240 + step] = spinner(step)
    for ident, pixels in images.items():
        with open(os.path.join(folder, "%d.bmp" % ident), "wb") as f:
            f.write(bmp(pixels, SIZE, SIZE))


if __name__ == "__main__":
    main()
