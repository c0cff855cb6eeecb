#!/usr/bin/python3
"""Independent text extents: for each "height<TAB>text" line on stdin, prints "width height"
in pixels. The height and the em size come from the font's head and OS/2 tables, read here
with the standard library; each glyph's advance is FreeType's hinted monochrome advance as
Pillow measures the glyph alone; each pair's kerning comes from the font's kern table, read
here, brought to pixels as FreeType's default kerning does (scaled down below 25 pixels
per em, rounded to whole pixels)."""
import struct
import sys
import math


def tables(data):
    num = struct.unpack_from(">H", data, 4)[0]
    out = {}
    for i in range(num):
        tag, _, off, length = struct.unpack_from(">4sIII", data, 12 + 16 * i)
        out[tag.decode("latin-1")] = (off, length)
    return out


def cmap4(data, off):
    count = struct.unpack_from(">H", data, off + 2)[0]
    for i in range(count):
        plat, enc, sub = struct.unpack_from(">HHI", data, off + 4 + 8 * i)
        if plat == 3 and enc == 1 and struct.unpack_from(">H", data, off + sub)[0] == 4:
            return off + sub
    raise SystemExit("no format-4 cmap")


def glyph_index(data, sub, ch):
    segx2 = struct.unpack_from(">H", data, sub + 6)[0]
    ends = sub + 14
    starts = ends + segx2 + 2
    deltas = starts + segx2
    ranges = deltas + segx2
    for s in range(segx2 // 2):
        end = struct.unpack_from(">H", data, ends + 2 * s)[0]
        if ch > end:
            continue
        start = struct.unpack_from(">H", data, starts + 2 * s)[0]
        if ch < start:
            return 0
        delta = struct.unpack_from(">h", data, deltas + 2 * s)[0]
        ro = struct.unpack_from(">H", data, ranges + 2 * s)[0]
        if ro == 0:
            return (ch + delta) & 0xFFFF
        addr = ranges + 2 * s + ro + 2 * (ch - start)
        g = struct.unpack_from(">H", data, addr)[0]
        return (g + delta) & 0xFFFF if g else 0
    return 0


def kern_pairs(data, t):
    """The format-0 pairs of the kern table: (left, right) glyph -> value in font units."""
    pairs = {}
    if "kern" not in t:
        return pairs
    off = t["kern"][0]
    count = struct.unpack_from(">H", data, off + 2)[0]
    pos = off + 4
    for _ in range(count):
        length, coverage = struct.unpack_from(">HH", data, pos + 2)
        if coverage >> 8 == 0 and coverage & 1:  # format 0, horizontal
            n = struct.unpack_from(">H", data, pos + 6)[0]
            for i in range(n):
                left, right, value = struct.unpack_from(">HHh", data, pos + 14 + 6 * i)
                pairs[(left, right)] = value
        pos += length
    return pairs


class Font:
    def __init__(self, path):
        self.path = path
        self.data = open(path, "rb").read()
        t = tables(self.data)
        self.upm = struct.unpack_from(">H", self.data, t["head"][0] + 18)[0]
        self.win_asc, self.win_desc = struct.unpack_from(">HH", self.data, t["OS/2"][0] + 74)
        self.cmap = cmap4(self.data, t["cmap"][0])
        self.pairs = kern_pairs(self.data, t)
        self.sized = {}

    def em_and_cell(self, h):
        if h > 0:
            return math.floor(h * self.upm / (self.win_asc + self.win_desc) + 0.5), h
        em = -h
        return em, math.floor(self.win_asc * em / self.upm + 0.5) + math.floor(self.win_desc * em / self.upm + 0.5)

    def pillow(self, em):
        from PIL import ImageFont
        if em not in self.sized:
            self.sized[em] = ImageFont.truetype(self.path, em, layout_engine=ImageFont.Layout.BASIC)
        return self.sized[em]

    def advance(self, em, ch):
        return int(round(self.pillow(em).getlength(ch, mode="1")))

    def kerning(self, em, left, right):
        value = self.pairs.get((glyph_index(self.data, self.cmap, ord(left)),
                                glyph_index(self.data, self.cmap, ord(right))), 0)
        x = value * em * 64 / self.upm  # 26.6
        if em < 25:
            x = x * em / 25
        return math.floor((x + 32) / 64)

    def pens(self, em, text):
        """Each glyph's pen position from the start of the text, in pixels."""
        out, pen = [], 0
        for i, ch in enumerate(text):
            out.append(pen)
            pen += self.advance(em, ch) + (self.kerning(em, ch, text[i + 1]) if i + 1 < len(text) else 0)
        return out, pen


def main():
    font = Font(sys.argv[1])
    for line in sys.stdin:
        line = line.rstrip("\n")
        if not line:
            continue
        h, text = line.split("\t", 1)
        em, cell = font.em_and_cell(int(h))
        print(font.pens(em, text)[1], cell)


if __name__ == "__main__":
    main()
