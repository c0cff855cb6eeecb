#!/usr/bin/python3
"""Text drawn by Pillow as a reference: for each job line on stdin,
"<font file>\t<em>\t<tenths of a degree>\t<text>", prints "width height ox oy bits": the
bilevel ink of the text set on a baseline starting at the origin (ox, oy), then turned
counter-clockwise about the origin by the angle (the upright bitmap turned, nearest
pixel), bits one '0' or '1' a pixel, rows top-down. Pillow lays the text out with
FreeType's hinted monochrome glyphs and the basic layout (advances and kerning).
With "grey" for the angle the text is drawn upright and anti-aliased, and the bits are
two hexadecimal digits a pixel (its coverage). With "metrics" it prints instead "width
ascent cell upm underlinePosition underlineThickness strikeoutPosition strikeoutSize
averageWidth", the last six in font units from the font's head, post and OS/2 tables,
read here."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import font_extents  # noqa: E402

from PIL import Image, ImageDraw, ImageFont


def metrics(path, em, text):
    f = font_extents.Font(path)
    t = font_extents.tables(f.data)
    post = t["post"][0]
    os2 = t["OS/2"][0]
    ul_pos, ul_thick = struct.unpack_from(">hh", f.data, post + 8)
    st_size, st_pos = struct.unpack_from(">hh", f.data, os2 + 26)
    _, cell = f.em_and_cell(-em)
    ascent = int(em * f.win_asc / f.upm + 0.5)
    avg = struct.unpack_from(">h", f.data, os2 + 2)[0]
    print(f.pens(em, text)[1], ascent, cell, f.upm, ul_pos, ul_thick, st_pos, st_size, avg)


def grey(font, em, text):
    side = 4 * em * (len(text) + 2)
    ox = oy = side // 2
    img = Image.new("L", (side, side), 0)
    ImageDraw.Draw(img).text((ox, oy), text, font=font, fill=255, anchor="ls")
    box = img.getbbox()
    crop = img.crop(box)
    print(crop.size[0], crop.size[1], ox - box[0], oy - box[1], crop.tobytes().hex())


def main():
    fonts = {}
    for line in sys.stdin:
        line = line.rstrip("\n")
        if not line:
            continue
        path, em, angle, text = line.split("\t", 3)
        em = int(em)
        if angle == "metrics":
            metrics(path, em, text)
            continue
        key = (path, em)
        if key not in fonts:
            fonts[key] = ImageFont.truetype(path, em, layout_engine=ImageFont.Layout.BASIC)
        font = fonts[key]
        if angle == "grey":
            grey(font, em, text)
            continue
        angle = int(angle)
        side = 4 * em * (len(text) + 2)
        ox = oy = side // 2
        img = Image.new("1", (side, side), 0)
        draw = ImageDraw.Draw(img)
        draw.fontmode = "1"
        draw.text((ox, oy), text, font=font, fill=1, anchor="ls")
        if angle:
            img = img.rotate(angle / 10.0, resample=Image.NEAREST, center=(ox, oy))
        box = img.getbbox()
        if not box:
            print(0, 0, 0, 0, "-")
            continue
        crop = img.crop(box)
        w, h = crop.size
        data = crop.tobytes("raw", "1")
        stride = (w + 7) // 8
        bits = "".join("1" if data[y * stride + x // 8] >> (7 - x % 8) & 1 else "0" for y in range(h) for x in range(w))
        print(w, h, ox - box[0], oy - box[1], bits)
    sys.stdout.flush()


if __name__ == "__main__":
    main()
