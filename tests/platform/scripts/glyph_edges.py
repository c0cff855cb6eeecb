#!/usr/bin/python3
"""Where each glyph of a text belongs: for each "em<TAB>text" line on stdin, prints for every
glyph the column of its first ink when the text starts at x = 0, or "-" for a glyph without
ink (a blank). The pen positions are font_extents.py's (FreeType's hinted advances through
Pillow, the kern table's pairs read here); the ink's offset from the pen is Pillow's drawing
of the glyph alone."""
import os
import sys

sys.dont_write_bytecode = True  # nothing lands in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from font_extents import Font  # noqa: E402
from PIL import Image, ImageDraw  # noqa: E402


def bearing(font, em, ch, cache={}):
    """The first ink column of ch drawn alone at x = 0, or None."""
    key = (em, ch)
    if key not in cache:
        size = 4 * em + 8
        image = Image.new("1", (size, size), 0)
        draw = ImageDraw.Draw(image)
        draw.fontmode = "1"
        draw.text((em, 2), ch, fill=1, font=font.pillow(em))
        box = image.getbbox()
        cache[key] = None if box is None else box[0] - em
    return cache[key]


def main():
    font = Font(sys.argv[1])
    for line in sys.stdin:
        line = line.rstrip("\n")
        if not line:
            continue
        em, text = line.split("\t", 1)
        em = int(em)
        pens, _ = font.pens(em, text)
        edges = []
        for pen, ch in zip(pens, text):
            b = bearing(font, em, ch)
            edges.append("-" if b is None else str(pen + b))
        print(" ".join(edges))


if __name__ == "__main__":
    main()
