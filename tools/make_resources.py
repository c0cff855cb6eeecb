#!/usr/bin/env python3
"""Writes the grid's bitmaps: 229 (loading failed) and 240-247 (the frames of the loading
animation), 24-bit BMPs drawn on black, which painting treats as transparent; and 226, the
overlay's picture item, drawn on pure green, its transparent colour.
The sub-frame scroll bar's bitmaps 209-223 (normal, pressed, spare and single-page sets;
the frame sizes the bar's column by the width of the up arrow 212, so arrows are 16 wide)
and the tool cursors cursors/1000-1009.cur and 1011-1018.cur (tool 10 has none).

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


BAR = 16  # the scroll bar's width: arrows, track and thumb


def shade(colour, factor):
    return tuple(int(c * factor) for c in colour)


def bar_track(fill, edge):
    """Vertical strips only, so stretching keeps its look."""
    return [[edge if x in (0, BAR - 1) else fill for x in range(BAR)] for _ in range(BAR)]


def bar_thumb(fill, edge):
    return [[edge if x in (0, BAR - 1) or y in (0, BAR - 1) else fill for x in range(BAR)] for y in range(BAR)]


def bar_arrow(fill, edge, glyph, up):
    """A framed button holding a triangle pointing up or down."""
    p = bar_thumb(fill, edge)
    for row in range(5):  # the triangle's rows, tip first
        y = 5 + row if up else BAR - 6 - row
        for x in range(BAR // 2 - 1 - row, BAR // 2 + 1 + row):
            p[y][x] = glyph
    return p


def scroll_bar_set(factor):
    """Thumb, down arrow, track, up arrow (in the order of their ids) scaled by factor."""
    fill, edge, glyph = shade((192, 192, 192), factor), shade((96, 96, 96), factor), shade((40, 40, 40), factor)
    return [bar_thumb(shade((128, 128, 128), factor), edge), bar_arrow(fill, edge, glyph, False),
            bar_track(shade((224, 224, 224), factor), shade((176, 176, 176), factor)), bar_arrow(fill, edge, glyph, True)]


def scroll_bar():
    normal, pressed = scroll_bar_set(1.0), scroll_bar_set(0.8)
    flat, faint = (208, 208, 208), (176, 176, 176)
    images = dict(zip(range(209, 213), normal))
    # The pressed set's ids run thumb, down, up, track.
    images.update(zip(range(213, 217), (pressed[0], pressed[1], pressed[3], pressed[2])))
    images.update(zip(range(217, 221), normal))  # loaded with the others, never drawn
    images[221] = bar_arrow(flat, flat, faint, False)
    images[222] = bar_track(flat, flat)
    images[223] = bar_arrow(flat, flat, faint, True)
    return images


# 3 x 5 digits, rows top first, for telling the tool cursors apart.
DIGITS = ["111101101101111", "010110010010111", "111001111100111", "111001111001111", "101101111001001",
          "111100111001111", "111100111101111", "111001001001001", "111101111101111", "111101111001111"]
CURSOR = 32


def cur(black, white, hotspot):
    """A monochrome 32 x 32 .cur: black and white are sets of (x, y); the rest is transparent."""
    row_bytes = CURSOR // 8
    xor, mask = bytearray(), bytearray()
    for y in range(CURSOR - 1, -1, -1):  # bottom-up
        x_row, m_row = bytearray(row_bytes), bytearray(row_bytes)
        for x in range(CURSOR):
            bit = 0x80 >> (x % 8)
            if (x, y) in white:
                x_row[x // 8] |= bit
            elif (x, y) not in black:
                m_row[x // 8] |= bit
        xor += x_row
        mask += m_row
    palette = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    info = struct.pack("<IiiHHIIiiII", 40, CURSOR, 2 * CURSOR, 1, 1, 0, len(xor) + len(mask), 0, 0, 2, 0)
    image = info + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", CURSOR, CURSOR, 0, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


def outlined(points):
    """Black points with a white rim, so the glyph shows on any image."""
    black = set(points)
    white = {(x + dx, y + dy) for x, y in black for dx in (-1, 0, 1) for dy in (-1, 0, 1)}
    return black, {(x, y) for x, y in white - black if 0 <= x < CURSOR and 0 <= y < CURSOR}


# The plain pointer: W white rim, B black body.
ARROW = ["W", "WW", "WBW", "WBBW", "WBBBW", "WBBBBW", "WBBBBBW", "WBBBBBBW", "WBBBBBBBW", "WBBBBBBBBW",
         "WBBBBBBBBBW", "WBBBBBWWWWW", "WBBWBBW", "WBW WBBW", "WW  WBBW", "W    WBBW", "     WBBW", "      WW"]


def tool_cursor(tool):
    """Tool 0, the plain pointer, is an arrow; the others a cross hair with the tool's number."""
    if tool == 0:
        black = {(x, y) for y, row in enumerate(ARROW) for x, c in enumerate(row) if c == "B"}
        white = {(x, y) for y, row in enumerate(ARROW) for x, c in enumerate(row) if c == "W"}
        return cur(black, white, (0, 0))
    points = [(15, y) for y in range(6, 25) if abs(y - 15) > 1] + [(x, 15) for x in range(6, 25) if abs(x - 15) > 1]
    for i, ch in enumerate(str(tool)):
        bits = DIGITS[int(ch)]
        points += [(19 + 4 * i + k % 3, 19 + k // 3) for k in range(15) if bits[k] == "1"]
    black, white = outlined(points)
    return cur(black, white, (15, 15))


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
    for ident, pixels in scroll_bar().items():
        with open(os.path.join(folder, "%d.bmp" % ident), "wb") as f:
            f.write(bmp(pixels, BAR, BAR))
    cursors = os.path.join(root, "cursors")
    os.makedirs(cursors, exist_ok=True)
    for tool in list(range(10)) + list(range(11, 19)):
        with open(os.path.join(cursors, "%d.cur" % (1000 + tool)), "wb") as f:
            f.write(tool_cursor(tool))


if __name__ == "__main__":
    main()
