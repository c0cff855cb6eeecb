#!/usr/bin/python3
"""Independent text extents: reads a TrueType font's head, OS/2, hhea, cmap (format 4)
and hmtx tables with the standard library and prints, for each "height<TAB>text" line
on stdin, "width height" in pixels."""
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


def main():
    data = open(sys.argv[1], "rb").read()
    t = tables(data)
    upm = struct.unpack_from(">H", data, t["head"][0] + 18)[0]
    win_asc, win_desc = struct.unpack_from(">HH", data, t["OS/2"][0] + 74)
    nhm = struct.unpack_from(">H", data, t["hhea"][0] + 34)[0]
    hmtx = t["hmtx"][0]
    sub = cmap4(data, t["cmap"][0])

    def advance(g):
        return struct.unpack_from(">H", data, hmtx + 4 * min(g, nhm - 1))[0]

    for line in sys.stdin:
        line = line.rstrip("\n")
        if not line:
            continue
        h, text = line.split("\t", 1)
        h = int(h)
        if h > 0:
            em = math.floor(h * upm / (win_asc + win_desc) + 0.5)
            cell = h
        else:
            em = -h
            cell = math.floor(win_asc * em / upm + 0.5) + math.floor(win_desc * em / upm + 0.5)
        width = sum(math.floor(advance(glyph_index(data, sub, ord(c))) * em / upm + 0.5) for c in text)
        print(width, cell)


if __name__ == "__main__":
    main()
