#!/usr/bin/env python3
"""Writes the metafile corpus: placeable WMF and EMF files, each on a white page that
covers the whole picture, with one or a few record kinds per file.

make_metafiles.py OUT_DIR          the corpus and its index.tsv (file, size, what it covers)
make_metafiles.py --large FILE     a large EMF (4000 x 2828, thousands of records) for the benchmark
make_metafiles.py --seeds DIR      small files by groups of record kinds, seeds of fuzz_wmf

The page matters to the outside renderers: one of them sizes its picture by what is drawn,
so every file draws its page first and nothing beyond it.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from metafile_records import *  # noqa: E402,F403

WMF_W, WMF_H = 384, 288          # pixels at 96 DPI
EMF_W, EMF_H = 480, 360

SCENES = []  # (file name, what it covers, maker, why it is checked by hand or None)


def scene(name, what):
    """A file compared with the outside renderer; the maker returns its bytes."""
    def register(fn):
        SCENES.append((name, what, fn, None))
        return fn
    return register


def checked(name, what, reason):
    """A file an outside renderer draws against the formats' meaning (the reason says how):
    the maker returns its bytes and the expectations worked out by hand, made with pixel()
    and share()."""
    def register(fn):
        SCENES.append((name, what, fn, reason))
        return fn
    return register


def pixel(x, y, colour, tolerance=8):
    """The pixel (x, y), top row 0, is this (r, g, b) colour within the tolerance."""
    return 'pixel\t%d\t%d\t%d\t%d\t%d\t%d' % ((x, y) + tuple(colour) + (tolerance,))


def share(box, colour, low, high):
    """Between low and high of the pixels of box (x0, y0, x1, y1; x1, y1 excluded) are within
    48 levels of the colour."""
    return 'share\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%.3f\t%.3f' % (tuple(box) + tuple(colour) + (low, high))


def channels(c):
    return (c & 0xFF, c >> 8 & 0xFF, c >> 16 & 0xFF)


def rop3(rop, p, s, d):
    """A ternary raster operation on three colours, bit by bit from its truth table."""
    table = rop >> 16 & 0xFF
    out = []
    for pc, sc, dc in zip(p, s, d):
        v = 0
        for bit in range(8):
            index = (pc >> bit & 1) << 2 | (sc >> bit & 1) << 1 | (dc >> bit & 1)
            v |= (table >> index & 1) << bit
        out.append(v)
    return tuple(out)


def rop2(code, p, d):
    """A binary raster operation (R2_BLACK = 1 ... R2_WHITE = 16) on pen and destination."""
    table = code - 1
    out = []
    for pc, dc in zip(p, d):
        v = 0
        for bit in range(8):
            v |= (table >> ((pc >> bit & 1) << 1 | (dc >> bit & 1)) & 1) << bit
        out.append(v)
    return tuple(out)


WHITE = (255, 255, 255)


# --- pages and pictures ------------------------------------------------------------------

def wmf_page(upi=1440, width=WMF_W, height=WMF_H, origin=(0, 0)):
    """A WMF whose logical units are 1/upi inch, window = page; returns (wmf, unit) where
    unit(px) turns picture pixels into logical units."""
    lw, lh = width * upi // 96, height * upi // 96
    x0, y0 = origin
    w = Wmf((x0, y0, x0 + lw, y0 + lh), upi)
    w.set_window_org(x0, y0)
    w.set_window_ext(lw, lh)
    pen = w.pen(PS_NULL, 0, 0)
    brush = w.brush(BS_SOLID, rgb(255, 255, 255))
    w.select(pen)
    w.select(brush)
    w.rectangle(x0, y0, x0 + lw + upi // 96, y0 + lh + upi // 96)
    w.null, w.white = pen, brush
    w.black = w.pen(PS_SOLID, 0, 0)
    w.select(w.black)
    return w, (lambda px: px * upi // 96)


def emf_page(width=EMF_W, height=EMF_H):
    e = Emf(width, height)
    e.stock(NULL_PEN)
    e.stock(WHITE_BRUSH)
    e.rectangle(0, 0, width + 1, height + 1)
    e.stock(BLACK_PEN)
    return e


PALETTE16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
             (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
             (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def picture(bits, width=32, height=24, top_down=False, bitfields=None, alpha=None):
    """A test picture: colour bands, a diagonal and a border, at any depth."""
    def colour(x, y):
        if x == 0 or y == 0 or x == width - 1 or y == height - 1:
            return (0, 0, 0)
        if abs(x - y * width // height) <= 1:
            return (255, 255, 255)
        band = x * 4 // width
        return [(220, 30, 30), (30, 160, 40), (40, 60, 220), (240, 200, 20)][band]

    if bits == 1:
        return dib(width, height, 1, lambda x, y: 1 if (x // 4 + y // 4) % 2 else 0,
                   palette=[(20, 20, 120), (250, 230, 120)], top_down=top_down)
    if bits == 4:
        return dib(width, height, 4, lambda x, y: (x * 16 // width + y // 6) % 16, palette=PALETTE16,
                   top_down=top_down)
    if bits == 8:
        pal = [(i, 255 - i, (i * 3) % 256) for i in range(256)]
        return dib(width, height, 8, lambda x, y: (x * 255 // max(1, width - 1)) if y < height // 2 else
                   (y * 255 // max(1, height - 1)), palette=pal, top_down=top_down)
    if bits == 32 and alpha is not None:
        def premultiplied(x, y):
            a = alpha(x, y)
            r, g, b = colour(x, y)
            return (r * a // 255, g * a // 255, b * a // 255, a)
        return dib(width, height, 32, premultiplied, top_down=top_down)
    return dib(width, height, bits, colour, top_down=top_down, bitfields=bitfields)


def star(cx, cy, r, n=5, step=2):
    return [(int(cx + r * math.sin(2 * math.pi * i * step / n)), int(cy - r * math.cos(2 * math.pi * i * step / n)))
            for i in range(n)]


def regular(cx, cy, r, n, phase=0.0):
    return [(int(round(cx + r * math.cos(phase + 2 * math.pi * i / n))),
             int(round(cy + r * math.sin(phase + 2 * math.pi * i / n)))) for i in range(n)]


COLOURS = [rgb(200, 30, 30), rgb(30, 150, 40), rgb(30, 60, 200), rgb(230, 180, 20), rgb(150, 40, 160),
           rgb(20, 160, 170), rgb(90, 90, 90), rgb(0, 0, 0)]


# --- WMF scenes --------------------------------------------------------------------------

@scene('wmf_shapes.wmf', 'WMF: rectangle, rounded rectangles, polygon, polyline, MoveTo/LineTo, SetPixel')
def wmf_shapes():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, corner in enumerate((0, 30, 100)):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        x = u(20 + 120 * i)
        if corner:
            w.round_rect(x, u(20), x + u(100), u(120), u(corner), u(corner * 2 // 3))
        else:
            w.rectangle(x, u(20), x + u(100), u(120))
        w.delete(b)
    b = w.brush(BS_SOLID, COLOURS[3])
    w.select(b)
    w.polygon([(u(x), u(y)) for x, y in ((30, 260), (90, 150), (150, 260), (90, 220))])
    w.polyline([(u(x), u(y)) for x, y in ((180, 160), (220, 260), (260, 160), (300, 260), (360, 170))])
    w.move_to(u(180), u(140))
    w.line_to(u(370), u(140))
    for i in range(20):
        w.set_pixel(u(190 + 8 * i), u(275), COLOURS[i % 6])
    return w.bytes()


@scene('wmf_pen_styles.wmf', 'WMF: cosmetic pen styles (solid, dash, dot, dash-dot, dash-dot-dot, null, inside-frame), widths 1-8')
def wmf_pen_styles():
    w, u = wmf_page()
    styles = [PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME]
    for i, style in enumerate(styles):
        p = w.pen(style, 0, COLOURS[i])
        w.select(p)
        w.move_to(u(20), u(20 + 14 * i))
        w.line_to(u(360), u(20 + 14 * i))
        w.select(w.black)  # the page's pen back before deleting
        w.delete(p)
    for i, width in enumerate((2, 3, 5, 8)):
        p = w.pen(PS_SOLID, u(width), COLOURS[i])
        w.select(p)
        w.move_to(u(20), u(130 + 18 * i))
        w.line_to(u(200), u(130 + 18 * i))
        w.line_to(u(200 + 20 * i), u(270))
        w.select(w.black)
        w.delete(p)
    return w.bytes()


@checked('wmf_hatches.wmf', 'WMF (hand-checked): the six hatched brushes over an opaque background of two colours',
         'the formats leave the row of a hatch line in its 8-pixel cell to the drawing system, and wmf2gd draws it four rows off: the shares of line and background colour and the line directions are checked instead')
def wmf_hatches():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    w.set_bk_mode(OPAQUE)
    checks = []
    for row, bk in enumerate(((255, 255, 180), (0, 0, 0))):
        w.set_bk_color(rgb(*bk))
        for i in range(6):
            b = w.brush(BS_HATCHED, COLOURS[i], i)
            w.select(b)
            x, y = 15 + 60 * i, 20 + 130 * row
            w.rectangle(x, y, x + 56, y + 110)
            w.select(w.white)
            w.delete(b)
            box = (x + 4, y + 6, x + 52, y + 102)        # 48 x 96: whole cells
            c = channels(COLOURS[i])
            checks += [share(box, c, 0.10, 0.28), share(box, bk, 0.72, 0.90)]
            if i == HS_HORIZONTAL:
                checks.append(share((x + 10, y + 6, x + 11, y + 102), c, 0.10, 0.15))
            if i == HS_VERTICAL:
                checks.append(share((x + 4, y + 50, x + 52, y + 51), c, 0.10, 0.15))
    return w.bytes(), checks


@scene('wmf_arcs.wmf', 'WMF: Arc and Pie in all quadrants, outlined and filled')
def wmf_arcs():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, (xs, ys, xe, ye) in enumerate(((100, 0, 0, 0), (0, 0, 100, 100), (0, 100, 100, 50), (50, 0, 50, 100))):
        x = 15 + 92 * i
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.arc(u(x), u(15), u(x + 80), u(105), u(x + xs * 80 // 100), u(15 + ys * 90 // 100),
              u(x + xe * 80 // 100), u(15 + ye * 90 // 100))
        w.pie(u(x), u(130), u(x + 80), u(260), u(x + xs * 80 // 100), u(130 + ys * 130 // 100),
              u(x + xe * 80 // 100), u(130 + ye * 130 // 100))
        w.delete(b)
    return w.bytes()


@scene('wmf_polypolygon.wmf', 'WMF: PolyPolygon and a self-crossing polygon under the alternate fill mode')
def wmf_polypolygon():
    w, u = wmf_page()
    b = w.brush(BS_SOLID, rgb(40, 90, 200))
    w.select(b)
    w.set_poly_fill_mode(ALTERNATE)
    for i in range(2):
        cx = 95 + 190 * i
        w.polygon([(u(x), u(y)) for x, y in star(cx, 80, 65, 7 if i else 5, 3 if i else 2)])
        outer = [(u(x), u(y)) for x, y in ((cx - 75, 160), (cx + 75, 160), (cx + 75, 275), (cx - 75, 275))]
        inner = [(u(x), u(y)) for x, y in ((cx - 40, 185), (cx - 40, 250), (cx + 40, 250), (cx + 40, 185))]
        same = [(u(x), u(y)) for x, y in ((cx - 20, 200), (cx + 60, 200), (cx + 60, 265), (cx - 20, 265))]
        w.poly_polygon([outer, inner, same] if i else [outer, inner])
    return w.bytes()


@checked('wmf_rop2.wmf', 'WMF (hand-checked): the sixteen binary raster operations of a fill over coloured bands',
         'wmf2gd draws every binary raster operation as R2_COPYPEN')
def wmf_rop2():
    w, u = wmf_page(upi=96)
    bands = [COLOURS[i] for i in range(4)]
    w.select(w.null)
    for i, c in enumerate(bands):
        b = w.brush(BS_SOLID, c)
        w.select(b)
        w.rectangle(0, 20 + 60 * i, 385, 80 + 60 * i)
        w.select(w.white)
        w.delete(b)
    pen_colour = rgb(60, 200, 120)
    b = w.brush(BS_SOLID, pen_colour)
    w.select(b)
    checks = []
    for code in range(1, 17):
        w.set_rop2(code)
        x = 10 + 23 * (code - 1)
        w.rectangle(x, 10, x + 18, 270)
        for j, c in enumerate(bands):
            checks.append(pixel(x + 9, 50 + 60 * j, rop2(code, channels(pen_colour), channels(c))))
        checks.append(pixel(x + 9, 14, rop2(code, channels(pen_colour), WHITE)))
    w.set_rop2(R2_COPYPEN)
    checks.append(pixel(380, 50, channels(bands[0])))
    return w.bytes(), checks


@scene('wmf_window_org.wmf', 'WMF: SetWindowOrg and OffsetWindowOrg between figures')
def wmf_window_org():
    w, u = wmf_page(upi=96)
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(10, 10, 110, 80)
    w.offset_window_org(-130, 0)           # later shapes move right by 130
    w.round_rect(10, 10, 110, 80, 20, 20)
    w.set_window_org(-50, -150)
    b2 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b2)
    w.polygon([(250, 20), (320, 120), (180, 120)])
    w.offset_window_org(-100, 0)
    w.rectangle(10, 10, 60, 60)             # device (160, 160)-(210, 210)
    return w.bytes()


@checked('wmf_window_ext.wmf', 'WMF (hand-checked): SetWindowExt and ScaleWindowExt between figures, a negative extent (y up)',
         'wmf2gd keeps the first window extent for the whole file and draws nothing under a negative one')
def wmf_window_ext():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red, green, blue, yellow = (channels(COLOURS[i]) for i in range(4))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(10, 10, 110, 80)                # device (10, 10)-(110, 80)
    w.set_window_ext(768, 576)                  # twice the window: half the size
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.rectangle(300, 20, 500, 120)              # device (150, 10)-(250, 60)
    w.scale_window_ext(1, 2, 1, 2)              # back to one unit a pixel
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.rectangle(300, 150, 360, 200)             # device (300, 150)-(360, 200)
    w.set_window_org(0, 288)
    w.set_window_ext(384, -288)                 # y up from the bottom edge
    b4 = w.brush(BS_SOLID, COLOURS[3])
    w.select(b4)
    w.rectangle(20, 20, 120, 80)                # device (20, 208)-(120, 268)
    checks = [pixel(60, 45, red), pixel(200, 35, green), pixel(245, 55, green), pixel(330, 175, blue),
              pixel(70, 238, yellow), pixel(25, 264, yellow), pixel(200, 100, WHITE), pixel(70, 120, WHITE),
              pixel(300, 270, WHITE), pixel(280, 40, WHITE)]
    return w.bytes(), checks


@checked('wmf_viewport.wmf', 'WMF (hand-checked): MM_ANISOTROPIC with SetViewportOrg/Ext, OffsetViewportOrg and ScaleViewportExt in picture pixels',
         'wmf2gd sizes the picture by what is drawn and draws a changed viewport elsewhere')
def wmf_viewport():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    w.set_map_mode(MM_ANISOTROPIC)
    w.set_window_org(0, 0)
    w.set_window_ext(1000, 1000)
    w.set_viewport_org(0, 0)
    w.set_viewport_ext(384, 288)            # the whole picture: 0.384 and 0.288 pixels a unit
    red, green, blue = (channels(COLOURS[i]) for i in range(3))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(50, 50, 450, 450)           # (19, 14)-(173, 130)
    w.offset_viewport_org(192, 0)
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.rectangle(50, 50, 450, 450)           # (211, 14)-(365, 130)
    w.scale_viewport_ext(1, 2, 1, 2)        # (192, 144)
    w.offset_viewport_org(-192, 144)        # origin (0, 144)
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.rectangle(100, 100, 900, 900)         # (19, 158)-(173, 274)
    checks = [pixel(96, 72, red), pixel(22, 17, red), pixel(170, 127, red), pixel(288, 72, green),
              pixel(362, 127, green), pixel(192, 72, WHITE), pixel(96, 216, blue), pixel(22, 161, blue),
              pixel(170, 271, blue), pixel(288, 216, WHITE), pixel(96, 144, WHITE)]
    return w.bytes(), checks


@checked('wmf_save_restore.wmf', 'WMF (hand-checked): SaveDC/RestoreDC of brushes, window origin and clipping, nested, restored two levels at once',
         'wmf2gd restores nothing when RestoreDC counts back more than one level')
def wmf_save_restore():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red = w.brush(BS_SOLID, COLOURS[0])
    w.select(red)
    w.save_dc()
    green = w.brush(BS_SOLID, COLOURS[1])
    w.select(green)
    w.set_window_org(-200, 0)
    w.intersect_clip(0, 0, 60, 300)            # device (200, 0)-(260, 300)
    w.save_dc()
    w.set_window_org(-200, -150)
    w.rectangle(10, 10, 150, 100)              # device (210, 160)-(350, 250), clipped at 260
    w.restore_dc(-2)                           # red, origin 0, no clip
    w.rectangle(10, 10, 150, 100)
    w.rectangle(10, 160, 150, 250)
    r, g = channels(COLOURS[0]), channels(COLOURS[1])
    checks = [pixel(235, 200, g), pixel(300, 200, WHITE), pixel(230, 100, WHITE), pixel(80, 55, r),
              pixel(80, 205, r), pixel(140, 95, r)]
    return w.bytes(), checks


@checked('wmf_clip_rects.wmf', 'WMF (hand-checked): IntersectClipRect, ExcludeClipRect and OffsetClipRgn over filled shapes, the clip dropped by RestoreDC',
         'wmf2gd moves the clip region of OffsetClipRgn to the wrong place')
def wmf_clip_rects():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    b = w.brush(BS_SOLID, COLOURS[2])
    w.select(b)
    w.save_dc()
    w.intersect_clip(20, 20, 170, 130)
    w.exclude_clip(60, 50, 120, 100)
    w.polygon([(0, 0), (190, 10), (150, 150), (10, 140)])
    w.offset_clip(190, 130)                    # (210, 150)-(360, 260) less (250, 180)-(310, 230)
    b2 = w.brush(BS_SOLID, COLOURS[0])
    w.select(b2)
    w.rectangle(150, 100, 385, 289)
    w.restore_dc(-1)
    w.rectangle(20, 200, 100, 270)
    blue, red = channels(COLOURS[2]), channels(COLOURS[0])
    checks = [pixel(40, 40, blue), pixel(150, 100, blue), pixel(90, 75, WHITE), pixel(180, 60, WHITE),
              pixel(220, 160, red), pixel(355, 255, red), pixel(280, 205, WHITE), pixel(365, 200, WHITE),
              pixel(205, 200, WHITE), pixel(60, 235, blue)]
    return w.bytes(), checks


@checked('wmf_regions.wmf', 'WMF (hand-checked): CreateRegion with FillRegion, FrameRegion, PaintRegion, InvertRegion, SelectClipRegion',
         'wmf2gd frames regions in black, paints InvertRegion with the brush and ignores SelectClipRegion')
def wmf_regions():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    stripes = w.brush(BS_SOLID, COLOURS[3])
    w.select(stripes)
    w.rectangle(0, 200, 385, 289)
    r1 = w.region([(20, 20, 120, 60), (40, 60, 100, 120)])
    brush = w.brush(BS_SOLID, COLOURS[0])
    w.fill_region(r1, brush)
    r2 = w.region([(150, 20, 250, 120)])
    edge = w.brush(BS_SOLID, COLOURS[2])
    w.frame_region(r2, edge, 6, 4)
    r3 = w.region([(280, 20, 370, 120)])
    fill = w.brush(BS_SOLID, COLOURS[1])
    w.select(fill)
    w.paint_region(r3)
    r4 = w.region([(20, 180, 200, 260)])
    w.invert_region(r4)
    r5 = w.region([(240, 150, 300, 280), (300, 200, 370, 240)])
    w.select_clip_region(r5)
    blue = w.brush(BS_SOLID, COLOURS[4])
    w.select(blue)
    w.rectangle(220, 140, 380, 289)
    red, green, blue_, yellow, purple = (channels(COLOURS[i]) for i in range(5))
    inverted_yellow = tuple(255 - v for v in yellow)
    checks = [pixel(70, 40, red), pixel(70, 100, red), pixel(30, 100, WHITE), pixel(152, 70, blue_),
              pixel(200, 21, blue_), pixel(200, 70, WHITE), pixel(325, 70, green), pixel(100, 190, (0, 0, 0)),
              pixel(100, 240, inverted_yellow), pixel(270, 160, purple), pixel(330, 220, purple),
              pixel(330, 170, WHITE), pixel(330, 260, yellow), pixel(230, 260, yellow)]
    return w.bytes(), checks


@scene('wmf_text_fonts.wmf', 'WMF: TextOut in Arial, Times New Roman and Courier New, several sizes, bold, italic')
def wmf_text_fonts():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    y = 12
    for face, family in (('Arial', FF_SWISS), ('Times New Roman', FF_ROMAN), ('Courier New', FF_MODERN | FIXED_PITCH)):
        for size, weight, italic in ((14, FW_NORMAL, 0), (20, FW_BOLD, 0), (26, FW_NORMAL, 1)):
            f = w.font(-u(size), face, weight, italic, pitch_family=family)
            w.select(f)
            w.set_text_color(COLOURS[(y // 10) % 8])
            w.text_out(u(10), u(y), '%s %d Fox' % (face.split()[0], size))
            w.delete(f)
            y += size + 6
    return w.bytes()


@checked('wmf_text_align.wmf', 'WMF (hand-checked): ExtTextOut alignments (left/centre/right x top/baseline/bottom), clipping and opaque rectangles, underline and strike-out',
         'wmf2gd ignores horizontal text alignment, the clipping rectangle, an opaque rectangle in transparent mode, underline and strike-out')
def wmf_text_align():
    w, u = wmf_page(upi=96)
    ink = (0, 0, 0)
    f = w.font(-20, 'Arial')
    w.select(f)
    w.set_bk_mode(TRANSPARENT)
    checks = []

    def ink_in(box):
        return share(box, ink, 0.05, 1.0)

    def clear(box):
        return share(box, WHITE, 1.0, 1.0)
    for i, h in enumerate((TA_LEFT, TA_CENTER, TA_RIGHT)):
        for j, v in enumerate((TA_TOP, TA_BASELINE, TA_BOTTOM)):
            x, y = 70 + 120 * i, 30 + 40 * j
            w.set_text_align(h | v)
            w.ext_text_out(x, y, 'HHH')               # about 43 pixels wide, caps 14 high
            left = (x - 40, y - 18, x - 4, y + 18)
            right = (x + 4, y - 18, x + 40, y + 18)
            checks += [ink_in(right) if h != TA_RIGHT else clear(right), ink_in(left) if h != TA_LEFT else clear(left)]
            band = (x - 60, y - 2, x + 60, y + 2)
            above, below = (x - 60, y - 16, x + 60, y - 4), (x - 60, y + 4, x + 60, y + 16)
            if v == TA_TOP:
                checks += [clear(above), ink_in(below)]
            elif v == TA_BASELINE:
                checks += [ink_in(above), clear(below), ink_in((x - 60, y - 4, x + 60, y))]
            else:
                checks += [ink_in(above), clear(below)]
            del band
    w.set_text_align(TA_LEFT | TA_TOP)
    bk = (255, 230, 150)
    w.set_bk_color(rgb(*bk))
    w.set_bk_mode(OPAQUE)
    w.ext_text_out(20, 160, 'Clipped text here', ETO_CLIPPED, (20, 160, 90, 175))
    checks += [clear((92, 150, 200, 190)), clear((20, 176, 90, 190)), ink_in((20, 160, 90, 175))]
    w.set_bk_mode(TRANSPARENT)
    w.ext_text_out(220, 160, 'Both', ETO_OPAQUE | ETO_CLIPPED, (215, 155, 360, 185), [30] * 4)
    checks += [pixel(355, 180, bk), pixel(217, 157, bk), pixel(365, 180, WHITE)]
    # Underline below the baseline and strike-out through the middle run across the gaps of wide advances.
    lined = w.font(-30, 'Arial', underline=1, strike=1)
    w.select(lined)
    w.set_text_align(TA_LEFT | TA_BASELINE)
    w.ext_text_out(20, 250, 'IIII', 0, None, [50] * 4)
    for k in range(3):
        gap = 20 + 50 * k + 20
        checks += [ink_in((gap, 251, gap + 20, 258)), ink_in((gap, 236, gap + 20, 248)),
                   clear((gap, 220, gap + 20, 232))]
    return w.bytes(), checks


@scene('wmf_text_escapement.wmf', 'WMF: text at escapements 0, 45, 90, 180, 270 and 30 degrees')
def wmf_text_escapement():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    for i, (angle, x, y) in enumerate(((0, 20, 30), (450, 40, 200), (900, 180, 260), (1800, 360, 250), (2700, 360, 40),
                                       (300, 150, 150))):
        f = w.font(-u(18), 'Arial' if i % 2 else 'Times New Roman', escapement=angle)
        w.select(f)
        w.set_text_color(COLOURS[i])
        w.text_out(u(x), u(y), 'Turned %d' % (angle // 10))
        w.delete(f)
    return w.bytes()


@scene('wmf_dib_blits.wmf', 'WMF: DIBBitBlt, DIBStretchBlt and StretchDIB of 24-bit and 8-bit pictures, whole and in part')
def wmf_dib_blits():
    w, u = wmf_page(upi=96)
    h24, b24 = picture(24, 96, 72)
    h8, b8 = picture(8, 96, 72)
    w.dib_bit_blt(10, 10, 96, 72, 0, 0, SRCCOPY, h24, b24)
    w.dib_bit_blt(130, 10, 60, 40, 20, 16, SRCCOPY, h24, b24)           # a part, from (20, 16)
    w.dib_stretch_blt(220, 10, 96, 72, 0, 0, 96, 72, SRCCOPY, h8, b8)
    w.stretch_dib(10, 130, 96, 72, 0, 0, 96, 72, SRCCOPY, h8, b8)
    w.stretch_dib(200, 130, 48, 48, 24, 12, 48, 48, SRCCOPY, h24, b24)  # a part, from (24, 12)
    return w.bytes()


@scene('wmf_dib_depths.wmf', 'WMF: StretchDIB of bottom-up pictures at 1, 4, 8, 16 and 24 bits a pixel')
def wmf_dib_depths():
    w, u = wmf_page(upi=96)
    for i, bits in enumerate((1, 4, 8, 16, 24)):
        h, b = picture(bits, 96, 72)
        x, y = 10 + 125 * (i % 3), 15 + 135 * (i // 3)
        w.stretch_dib(x, y, 96, 72, 0, 0, 96, 72, SRCCOPY, h, b)
    return w.bytes()


def quadrants(bits=24, size=16, top_down=False, bitfields=None):
    """A picture of four one-colour quarters: red top left, green top right, blue bottom
    left, yellow bottom right (as seen, whatever the row order)."""
    colours = [[(220, 30, 30), (30, 160, 40)], [(40, 60, 220), (240, 200, 20)]]
    half = size // 2
    return dib(size, size, bits, lambda x, y: colours[y // half][x // half], top_down=top_down, bitfields=bitfields)


QUADRANTS = ((220, 30, 30), (30, 160, 40), (40, 60, 220), (240, 200, 20))


def quadrant_checks(x, y, w, h, mirror_x=False, mirror_y=False, tolerance=8):
    """The centres of the four quarters of a quadrants() picture drawn into (x, y, w, h)."""
    checks = []
    for qy in range(2):
        for qx in range(2):
            sx = 1 - qx if mirror_x else qx
            sy = 1 - qy if mirror_y else qy
            checks.append(pixel(x + w * sx // 2 + w // 4, y + h * sy // 2 + h // 4, QUADRANTS[2 * qy + qx], tolerance))
    return checks


@checked('wmf_dib_topdown.wmf', 'WMF (hand-checked): StretchDIB and DIBStretchBlt of top-down and 32-bit pictures',
         'wmf2gd leaves out top-down and 32-bit pictures')
def wmf_dib_topdown():
    w, u = wmf_page(upi=96)
    checks = []
    for i, (bits, top_down) in enumerate(((24, True), (32, False), (32, True), (8, True))):
        h, b = quadrants(bits, top_down=top_down) if bits != 8 else \
            dib(16, 16, 8, lambda x, y: (y // 8) * 2 + x // 8, palette=list(QUADRANTS), top_down=True)
        x, y = 20 + 180 * (i % 2), 20 + 140 * (i // 2)
        if i % 2:
            w.dib_stretch_blt(x, y, 160, 120, 0, 0, 16, 16, SRCCOPY, h, b)
        else:
            w.stretch_dib(x, y, 160, 120, 0, 0, 16, 16, SRCCOPY, h, b)
        checks += quadrant_checks(x, y, 160, 120)
    return w.bytes(), checks


@scene('wmf_set_dib_to_dev.wmf', 'WMF: SetDIBitsToDevice of 24, 4 and 1-bit pictures, whole and from a source offset')
def wmf_set_dib_to_dev():
    w, u = wmf_page(upi=96)
    h, b = picture(24, 64, 48)
    w.set_dib_to_dev(20, 20, 64, 48, 0, 0, 0, 48, h, b)
    w.set_dib_to_dev(120, 20, 40, 30, 10, 10, 0, 48, h, b)
    h4, b4 = picture(4, 64, 48)
    w.set_dib_to_dev(200, 120, 64, 48, 0, 0, 0, 48, h4, b4)
    h1, b1 = picture(1, 64, 48)
    w.set_dib_to_dev(40, 180, 64, 48, 0, 0, 0, 48, h1, b1)
    return w.bytes()


@checked('wmf_dib_rops.wmf', 'WMF (hand-checked): StretchDIB and DIBBitBlt raster operations (AND, OR, XOR, inverted source, erase, merge) and PatBlt',
         'wmf2gd copies every source as SRCCOPY and draws every PatBlt as PATCOPY')
def wmf_dib_rops():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    bands = [COLOURS[i] for i in range(3)]
    for i, c in enumerate(bands):
        b = w.brush(BS_SOLID, c)
        w.select(b)
        w.rectangle(0, 96 * i, 385, 96 * i + 96)
        w.select(w.white)
        w.delete(b)
    source = (40, 170, 230)
    h, b = dib(16, 16, 24, lambda x, y: source)
    pattern = rgb(255, 200, 0)
    pat = w.brush(BS_SOLID, pattern)
    w.select(pat)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT)
    checks = []
    for i, rop in enumerate(rops):
        x, y = 8 + 94 * (i % 4), 8 + 96 * (i // 4)
        if rop in (PATCOPY, PATINVERT, DSTINVERT):
            w.pat_blt(x, y, 80, 80, rop)
        elif i % 2:
            w.dib_bit_blt(x, y, 16, 16, 0, 0, rop, h, b)
            w.stretch_dib(x, y + 30, 80, 50, 0, 0, 16, 16, rop, h, b)
            checks.append(pixel(x + 8, y + 8, rop3(rop, channels(pattern), source, channels(bands[i // 4]))))
        else:
            w.stretch_dib(x, y, 80, 80, 0, 0, 16, 16, rop, h, b)
        checks.append(pixel(x + 40, y + 60, rop3(rop, channels(pattern), source, channels(bands[i // 4]))))
    checks.append(pixel(380, 40, channels(bands[0])))
    return w.bytes(), checks


@checked('wmf_pattern_brush.wmf', 'WMF (hand-checked): DIB pattern brushes (1-bit and 24-bit) tiled from the device origin over three shapes',
         'wmf2gd starts the pattern elsewhere than the device origin')
def wmf_pattern_brush():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    red, sand, blue = (200, 30, 30), (240, 220, 100), (30, 60, 200)

    def stripes(x, y):
        return 1 if (x + 2 * y) % 8 < 3 else 0

    def checker(x, y):
        return blue if (x // 4 + y // 4) % 2 else sand
    h1, b1 = dib(8, 8, 1, stripes, palette=[WHITE, red])
    p1 = w.dib_brush(h1, b1)
    w.select(p1)
    w.rectangle(20, 20, 180, 140)
    h24, b24 = dib(8, 8, 24, checker)
    p2 = w.dib_brush(h24, b24)
    w.select(p2)
    w.round_rect(200, 20, 370, 140, 50, 50)
    w.polygon([(20, 270), (190, 160), (360, 270)])
    # Pattern pixel (x mod 8, y mod 8), rows counted from the pattern's top, at device (x, y).
    checks = [pixel(x, y, red if stripes(x % 8, y % 8) else WHITE, 0) for x, y in
              ((40, 40), (41, 40), (42, 40), (43, 40), (44, 41), (45, 41), (100, 77), (101, 77), (102, 77))]
    checks += [pixel(x, y, checker(x % 8, y % 8), 0) for x, y in
               ((250, 60), (251, 60), (252, 60), (253, 60), (254, 60), (250, 64), (254, 64), (190, 250), (194, 250))]
    return w.bytes(), checks


@checked('wmf_hatch_transparent.wmf', 'WMF (hand-checked): hatched brushes in transparent background mode leave the page between their lines',
         'wmf2gd paints the background colour between hatch lines in transparent mode too')
def wmf_hatch_transparent():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    bk = (0, 0, 0)
    w.set_bk_color(rgb(*bk))
    w.set_bk_mode(TRANSPARENT)
    checks = []
    for i in range(6):
        b = w.brush(BS_HATCHED, COLOURS[i], i)
        w.select(b)
        x = 15 + 60 * i
        w.rectangle(x, 20, x + 56, 270)
        box = (x + 4, 28, x + 52, 260)
        checks += [share(box, bk, 0.0, 0.0), share(box, WHITE, 0.70, 0.92), share(box, channels(COLOURS[i]), 0.08, 0.30)]
        w.select(w.white)
        w.delete(b)
    return w.bytes(), checks


@checked('wmf_fills.wmf', 'WMF (hand-checked): filled ellipse and chord, polygons and PolyPolygon under the winding fill mode, an inside-frame pen',
         'wmf2gd draws ellipses and chords without their fill, fills every polygon by the alternate rule and centres inside-frame pens on the outline')
def wmf_fills():
    w, u = wmf_page(upi=96)
    red, green, blue = (channels(COLOURS[i]) for i in range(3))
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.ellipse(20, 20, 180, 140)
    b2 = w.brush(BS_SOLID, COLOURS[1])
    w.select(b2)
    w.chord(200, 20, 360, 140, 360, 80, 200, 80)      # the upper half
    b3 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b3)
    w.set_poly_fill_mode(WINDING)
    w.polygon(star(90, 215, 65))
    outer = [(210, 160), (300, 160), (300, 275), (210, 275)]
    inner = [(235, 190), (275, 190), (275, 245), (235, 245)]   # the same way round: no hole
    w.poly_polygon([outer, inner])
    checks = [pixel(100, 80, red), pixel(30, 30, WHITE), pixel(280, 50, green), pixel(280, 110, WHITE),
              pixel(90, 215, blue), pixel(90, 160, blue), pixel(255, 215, blue), pixel(215, 165, blue),
              pixel(288, 215, blue)]
    # An inside-frame pen keeps the whole width of its line inside the figure.
    frame = w.pen(PS_INSIDEFRAME, 10, COLOURS[4])
    w.select(frame)
    w.select(w.white)
    w.rectangle(310, 160, 380, 280)
    purple = channels(COLOURS[4])
    checks += [pixel(312, 220, purple), pixel(377, 220, purple), pixel(345, 162, purple), pixel(307, 220, WHITE),
               pixel(345, 220, WHITE)]
    return w.bytes(), checks


@checked('wmf_palette.wmf', 'WMF (hand-checked): CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries and palette-index colours',
         'wmf2gd draws palette-index colours black')
def wmf_palette():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    entries = [(200, 30, 30), (30, 150, 40), (30, 60, 200), (230, 180, 20)]
    pal = w.palette(entries)
    w.select_palette(pal)
    w.realize_palette()
    for i in range(4):
        b = w.brush(BS_SOLID, 0x01000000 | i)
        w.select(b)
        w.rectangle(20 + 90 * i, 20, 100 + 90 * i, 130)
        w.select(w.white)
        w.delete(b)
    w.set_pal_entries(0, [(150, 40, 160)])
    b = w.brush(BS_SOLID, 0x01000000)
    w.select(b)
    w.rectangle(20, 160, 360, 260)
    checks = [pixel(60 + 90 * i, 75, entries[i]) for i in range(4)] + [pixel(190, 210, (150, 40, 160)),
                                                                       pixel(190, 145, WHITE)]
    return w.bytes(), checks


@scene('wmf_bk_text.wmf', 'WMF: background modes and colours under text, dashed pens and hatches; text colours; character extra')
def wmf_bk_text():
    w, u = wmf_page()
    f = w.font(-u(22), 'Arial', FW_BOLD)
    w.select(f)
    for i, (mode, bk, fg) in enumerate(((OPAQUE, rgb(255, 255, 0), rgb(0, 0, 160)), (TRANSPARENT, rgb(255, 0, 0), rgb(160, 0, 0)),
                                         (OPAQUE, rgb(180, 230, 255), rgb(0, 100, 0)))):
        w.set_bk_mode(mode)
        w.set_bk_color(bk)
        w.set_text_color(fg)
        w.text_out(u(20), u(20 + 40 * i), 'Background %d' % i)
    w.set_text_char_extra(u(4))
    w.text_out(u(20), u(140), 'Extra')
    w.set_text_char_extra(0)
    w.set_bk_mode(OPAQUE)
    w.set_bk_color(rgb(255, 220, 220))
    p = w.pen(PS_DASH, 0, rgb(0, 0, 200))
    w.select(p)
    w.move_to(u(20), u(190))
    w.line_to(u(360), u(190))
    hb = w.brush(BS_HATCHED, rgb(0, 120, 0), HS_DIAGCROSS)
    w.select(hb)
    w.rectangle(u(20), u(205), u(360), u(270))
    return w.bytes()


@scene('wmf_escape_unknown.wmf', 'WMF: escapes, an unknown record and object slots reused after deletion; drawing goes on')
def wmf_escape_unknown():
    w, u = wmf_page(upi=96)
    w.escape(15, b'comment text')          # MFCOMMENT
    w.rec(0x0999, b'\1\2\3\4')              # not a record kind
    for i in range(6):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.rectangle(20 + 58 * i, 30, 70 + 58 * i, 250)
        w.select(w.white)
        w.delete(b)
    return w.bytes()


# --- EMF scenes --------------------------------------------------------------------------

def path_polygon(e, pts):
    """A closed figure of a path from lines (a recorder's Polygon inside a path)."""
    e.move_to(*pts[0])
    e.polyline_to(pts[1:])
    e.close_figure()


def path_ellipse(e, l, t, r, b):
    """An ellipse inside a path as four Bezier quarters."""
    cx, cy, rx, ry = (l + r) / 2, (t + b) / 2, (r - l) / 2, (b - t) / 2
    k = 0.5523
    e.move_to(int(r), int(cy))
    pts = [(r, cy + k * ry), (cx + k * rx, b), (cx, b), (cx - k * rx, b), (l, cy + k * ry), (l, cy),
           (l, cy - k * ry), (cx - k * rx, t), (cx, t), (cx + k * rx, t), (r, cy - k * ry), (r, cy)]
    e.polybezier_to([(int(round(x)), int(round(y))) for x, y in pts])
    e.close_figure()


def emf_figures(e, x0, y0, s, flip=1):
    """A rectangle, an ellipse and a triangle in logical units (s a cell, flip=-1 for y up)."""
    for i, shape in enumerate(('rect', 'ellipse', 'triangle')):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        x = x0 + i * s * 11 // 10
        y1, y2 = y0, y0 + flip * s
        if shape == 'rect':
            e.rectangle(x, y1, x + s, y2)
        elif shape == 'ellipse':
            e.ellipse(x, y1, x + s, y2)
        else:
            e.polygon([(x, y2), (x + s // 2, y1), (x + s, y2)])
        e.stock(WHITE_BRUSH)
        e.delete(b)


def mapping_scene(mode, units_per_inch):
    """Y grows upwards in the metric modes: the drawing sits at negative y."""
    def make():
        e = emf_page()
        e.set_map_mode(mode)
        s = units_per_inch  # an inch
        pen = e.pen(PS_SOLID, s // 48, rgb(0, 0, 0))
        e.select(pen)
        emf_figures(e, s // 4, -s // 4, s, -1)
        emf_figures(e, s, -s * 2, s * 3 // 4, -1)
        return e.bytes()
    return make


for _mode, _name, _upi in ((MM_LOMETRIC, 'lometric', 254), (MM_HIMETRIC, 'himetric', 2540),
                           (MM_LOENGLISH, 'loenglish', 100), (MM_HIENGLISH, 'hienglish', 1000),
                           (MM_TWIPS, 'twips', 1440)):
    scene('emf_map_%s.emf' % _name, 'EMF: mapping mode %s (y up), an inch and three quarters of an inch' %
          _name.upper())(mapping_scene(_mode, _upi))


# Files whose meaning an outside renderer does not follow carry fixed pictures: blocks of
# one colour on the page, checked pixel by pixel against where the formats put them.

@checked('emf_map_origins.emf', 'EMF (hand-checked): window and viewport origins under MM_TEXT and MM_LOMETRIC',
         'emf2svg-conv leaves out window and viewport origins under MM_TEXT and the metric modes')
def emf_map_origins():
    e = emf_page()
    e.stock(NULL_PEN)
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.set_window_org(-40, -30)             # logical (0, 0) lands at device (40, 30)
    e.rectangle(0, 0, 100, 80)             # device (40, 30)-(140, 110)
    e.set_window_org(0, 0)
    e.set_viewport_org(300, 200)
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.rectangle(0, 0, 120, 100)            # device (300, 200)-(420, 300)
    e.set_map_mode(MM_LOMETRIC)            # 254 units an inch, y up
    e.set_viewport_org(0, 360)
    e.set_window_org(-254, 0)              # an inch to the right
    blue = e.brush(BS_SOLID, rgb(30, 60, 200))
    e.select(blue)
    e.rectangle(0, 254, 254, 127)          # device (96, 264)-(192, 312)
    checks = [pixel(90, 70, (200, 30, 30)), pixel(45, 35, (200, 30, 30)), pixel(20, 15, WHITE),
              pixel(360, 250, (30, 150, 40)), pixel(415, 295, (30, 150, 40)), pixel(60, 50, (200, 30, 30)),
              pixel(144, 288, (30, 60, 200)), pixel(100, 268, (30, 60, 200)), pixel(144, 330, WHITE),
              pixel(200, 150, WHITE), pixel(10, 10, WHITE)]
    return e.bytes(), checks


@checked('emf_map_scale.emf', 'EMF (hand-checked): ScaleViewportExtEx and ScaleWindowExtEx under MM_ANISOTROPIC',
         'emf2svg-conv ignores ScaleViewportExtEx and ScaleWindowExtEx')
def emf_map_scale():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(100, 100)
    e.scale_viewport_ext(2, 1, 3, 2)        # viewport (200, 150): x * 2, y * 1.5
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.rectangle(10, 10, 60, 50)            # device (20, 15)-(120, 75)
    e.scale_window_ext(1, 2, 1, 4)          # window (50, 25): x * 4, y * 6
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.rectangle(40, 25, 100, 50)           # device (160, 150)-(400, 300)
    checks = [pixel(70, 45, (200, 30, 30)), pixel(115, 70, (200, 30, 30)), pixel(15, 12, WHITE),
              pixel(280, 225, (30, 150, 40)), pixel(395, 295, (30, 150, 40)), pixel(150, 140, WHITE),
              pixel(90, 100, WHITE)]
    return e.bytes(), checks


@scene('emf_map_isotropic.emf', 'EMF: MM_ISOTROPIC, extents of different aspect (the taller viewport side shrinks to keep it)')
def emf_map_isotropic():
    e = emf_page()
    e.set_map_mode(MM_ISOTROPIC)
    e.set_window_ext(1000, 1000)
    e.set_viewport_ext(360, 480)
    e.set_viewport_org(240, 180)
    pen = e.pen(PS_SOLID, 10, 0)
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[2])
    e.select(b)
    e.ellipse(-450, -450, 450, 450)
    b2 = e.brush(BS_SOLID, COLOURS[3])
    e.select(b2)
    e.polygon([(0, -400), (300, 300), (-300, 300)])
    return e.bytes()


@checked('emf_map_flip.emf', 'EMF (hand-checked): negative viewport extents (y up) under MM_ANISOTROPIC and MM_ISOTROPIC, the isotropic scale taken from the narrower side',
         'emf2svg-conv draws nothing under a negative viewport extent')
def emf_map_flip():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(240, -180)          # y up from the viewport origin
    e.set_viewport_org(0, 180)
    red = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(red)
    e.rectangle(10, 10, 50, 90)            # device (24, 18)-(120, 162)
    e.set_map_mode(MM_ISOTROPIC)
    e.set_window_ext(1000, 1000)
    e.set_viewport_ext(480, -360)          # 0.36 both ways, y up
    e.set_viewport_org(240, 360)
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.polygon([(200, 100), (600, 100), (400, 450)])   # apex up at device (384, 198)
    checks = [pixel(72, 90, (200, 30, 30)), pixel(30, 25, (200, 30, 30)), pixel(115, 155, (200, 30, 30)),
              pixel(72, 250, WHITE), pixel(72, 170, WHITE), pixel(384, 300, (30, 150, 40)),
              pixel(384, 215, (30, 150, 40)), pixel(440, 318, (30, 150, 40)), pixel(384, 180, WHITE),
              pixel(470, 318, WHITE), pixel(300, 200, WHITE)]
    return e.bytes(), checks


@scene('emf_map_anisotropic.emf', 'EMF: MM_ANISOTROPIC with window and viewport extents and origins changed between figures')
def emf_map_anisotropic():
    e = emf_page()
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(100, 100)
    e.set_viewport_ext(240, 120)
    emf_figures(e, 5, 5, 60)
    e.set_viewport_ext(120, 180)
    e.set_viewport_org(0, 130)
    emf_figures(e, 5, 5, 60)
    e.set_window_ext(200, 200)
    e.set_window_org(-20, 0)
    e.set_viewport_org(300, 0)
    emf_figures(e, 5, 5, 40)
    return e.bytes()


@scene('emf_world_transform.emf', 'EMF: SetWorldTransform and ModifyWorldTransform (identity, left, right multiply, set): rotation, shear, scale')
def emf_world_transform():
    e = emf_page()
    pen = e.pen(PS_SOLID, 2, 0)
    e.select(pen)
    a = math.radians(30)
    e.set_world_transform((math.cos(a), math.sin(a), -math.sin(a), math.cos(a), 120.0, 30.0))
    emf_figures(e, 0, 0, 50)
    e.modify_world_transform(IDENTITY, MWT_IDENTITY)
    e.modify_world_transform((1.0, 0.0, 0.5, 1.0, 0.0, 0.0), MWT_SET)          # shear
    e.modify_world_transform((1.0, 0.0, 0.0, 1.0, 200.0, 150.0), MWT_RIGHTMULTIPLY)
    emf_figures(e, 0, 0, 40)
    e.modify_world_transform((0.5, 0.0, 0.0, 1.5, 0.0, 0.0), MWT_LEFTMULTIPLY)
    b = e.brush(BS_SOLID, COLOURS[4])
    e.select(b)
    e.rectangle(-300, 40, -100, 100)
    e.modify_world_transform(IDENTITY, MWT_IDENTITY)
    e.ellipse(400, 280, 470, 350)
    return e.bytes()


@checked('emf_save_restore.emf', 'EMF (hand-checked): SaveDC/RestoreDC nested over brushes, world transform, window origin and clipping',
         'emf2svg-conv keeps the clipping of a restored context')
def emf_save_restore():
    e = emf_page()
    e.stock(NULL_PEN)
    red = e.brush(BS_SOLID, COLOURS[0])
    e.select(red)
    e.save_dc()
    green = e.brush(BS_SOLID, COLOURS[1])
    e.select(green)
    e.intersect_clip(240, 0, 340, 360)
    e.set_world_transform((1.0, 0.0, 0.0, 1.0, 0.0, 40.0))
    e.save_dc()
    e.set_window_org(-100, 0)
    e.rectangle(150, 0, 400, 100)              # device (250, 40)-(500, 140), clipped at 340
    e.restore_dc(-1)
    e.rectangle(200, 200, 400, 300)            # device (200, 240)-(400, 340), clipped to 240-340
    e.restore_dc(-1)
    e.rectangle(20, 20, 120, 120)
    e.rectangle(360, 200, 460, 300)
    r, g = channels(COLOURS[0]), channels(COLOURS[1])
    checks = [pixel(300, 90, g), pixel(255, 45, g), pixel(245, 90, WHITE), pixel(400, 90, WHITE),
              pixel(300, 300, g), pixel(300, 220, WHITE), pixel(220, 300, WHITE), pixel(70, 70, r),
              pixel(410, 250, r), pixel(200, 170, WHITE)]
    return e.bytes(), checks


@scene('emf_pens.emf', 'EMF: CreatePen styles of one pixel, null pen, deleted and reselected pens, stock pens')
def emf_pens():
    e = emf_page()
    for i, style in enumerate((PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME)):
        p = e.pen(style, 1, COLOURS[i])
        e.select(p)
        e.move_to(20, 20 + 16 * i)
        e.line_to(460, 20 + 16 * i)
        e.stock(BLACK_PEN)
        e.delete(p)
    for i in range(4):
        p = e.pen(PS_SOLID, 0, COLOURS[i])
        e.select(p)
        e.polyline([(20 + 60 * i, 150), (60 + 60 * i, 330), (70 + 60 * i, 160)])
    e.stock(BLACK_PEN)
    e.stock(LTGRAY_BRUSH)
    e.rectangle(300, 150, 460, 230)
    e.stock(WHITE_PEN)
    e.stock(GRAY_BRUSH)
    e.rectangle(300, 250, 460, 340)
    return e.bytes()


@checked('emf_pen_widths.emf', 'EMF (hand-checked): CreatePen widths 1 to 12 and an inside-frame pen',
         'emf2svg-conv draws every CreatePen pen one pixel wide')
def emf_pen_widths():
    e = emf_page()
    checks = []
    for i, width in enumerate((1, 2, 4, 7, 12)):
        x = 40 + 60 * i
        p = e.pen(PS_SOLID, width, COLOURS[i])
        e.select(p)
        e.move_to(x, 30)
        e.line_to(x, 330)
        c = channels(COLOURS[i])
        checks += [pixel(x, 180, c), pixel(x - width // 2 - 3, 180, WHITE), pixel(x + width // 2 + 3, 180, WHITE)]
        if width >= 4:
            checks += [pixel(x - width // 2 + 1, 180, c), pixel(x + (width - 1) // 2 - 1, 180, c)]
        e.stock(BLACK_PEN)
        e.delete(p)
    frame = e.pen(PS_INSIDEFRAME, 14, COLOURS[4])
    e.select(frame)
    e.stock(LTGRAY_BRUSH)
    e.rectangle(340, 40, 460, 160)
    purple = channels(COLOURS[4])
    checks += [pixel(343, 100, purple), pixel(452, 100, purple), pixel(400, 43, purple), pixel(336, 100, WHITE),
               pixel(400, 100, (192, 192, 192)), pixel(400, 36, WHITE)]
    return e.bytes(), checks


@scene('emf_ext_pens.emf', 'EMF: ExtCreatePen geometric pens: round, square and flat caps with round, bevel and miter joins, miter limit')
def emf_ext_pens():
    e = emf_page()
    caps = (PS_ENDCAP_ROUND, PS_ENDCAP_SQUARE, PS_ENDCAP_FLAT)
    joins = (PS_JOIN_ROUND, PS_JOIN_BEVEL, PS_JOIN_MITER)
    e.set_miter_limit(10)
    for i, cap in enumerate(caps):
        for j, join in enumerate(joins):
            p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | cap | join, 14, COLOURS[(3 * i + j) % 8])
            e.select(p)
            x, y = 30 + 150 * j, 30 + 105 * i
            e.polyline([(x, y + 70), (x + 50, y), (x + 100, y + 70)])
            e.stock(BLACK_PEN)
            e.delete(p)
    return e.bytes()


@checked('emf_hatch_brushes.emf', 'EMF (hand-checked): the six hatched brushes (opaque and transparent), a DIB pattern brush and a monochrome pattern brush',
         'emf2svg-conv fills hatched and pattern brushes with one solid colour')
def emf_hatch_brushes():
    e = emf_page()
    e.stock(NULL_PEN)
    bk = (0, 0, 0)
    e.set_bk_color(rgb(*bk))
    checks = []
    for row, mode in enumerate((OPAQUE, TRANSPARENT)):
        e.set_bk_mode(mode)
        for i in range(6):
            b = e.brush(BS_HATCHED, COLOURS[i], i)
            e.select(b)
            x, y = 10 + 77 * i, 10 + 110 * row
            e.rectangle(x, y, x + 70, y + 100)
            e.stock(WHITE_BRUSH)
            e.delete(b)
            box = (x + 3, y + 6, x + 67, y + 94)    # 64 x 88: whole 8 x 8 cells
            c = channels(COLOURS[i])
            checks.append(share(box, c, 0.10, 0.28))
            checks.append(share(box, bk if mode == OPAQUE else WHITE, 0.72, 0.90))
            if i == HS_HORIZONTAL:
                checks.append(share((x + 10, y + 6, x + 11, y + 94), c, 0.10, 0.15))
            if i == HS_VERTICAL:
                checks.append(share((x + 3, y + 50, x + 67, y + 51), c, 0.10, 0.15))
    e.set_bk_mode(OPAQUE)
    hp, bp = dib(8, 8, 24, lambda x, y: (220, 60, 60) if (x + y) % 8 < 4 else (250, 250, 250))
    pb = e.dib_brush(hp, bp)
    e.select(pb)
    e.rectangle(10, 230, 230, 350)
    checks += [share((18, 238, 218, 342), (220, 60, 60), 0.45, 0.55)]
    hm, bm = dib(8, 8, 1, lambda x, y: 1 if x % 4 == 0 or y % 4 == 0 else 0, palette=[(0, 0, 0), (255, 255, 255)])
    mb = e.dib_brush(hm, bm, mono=True)
    text, back = (20, 20, 160), (255, 200, 60)
    e.set_text_color(rgb(*text))
    e.set_bk_color(rgb(*back))
    e.select(mb)
    e.rectangle(250, 230, 470, 350)
    # Bits of 0 take the text colour, bits of 1 the background colour.
    checks += [share((258, 238, 458, 342), back, 0.40, 0.48), share((258, 238, 458, 342), text, 0.52, 0.60)]
    return e.bytes(), checks


@checked('emf_rop2.emf', 'EMF (hand-checked): the sixteen binary raster operations of fills and of a wide pen over coloured bands',
         'emf2svg-conv draws every binary raster operation as R2_COPYPEN')
def emf_rop2():
    e = emf_page()
    e.stock(NULL_PEN)
    bands = [COLOURS[i] for i in range(4)]
    for i, c in enumerate(bands):
        b = e.brush(BS_SOLID, c)
        e.select(b)
        e.rectangle(0, 10 + 45 * i, 481, 55 + 45 * i)
    fill = rgb(60, 200, 120)
    g = e.brush(BS_SOLID, fill)
    e.select(g)
    pen = rgb(250, 120, 200)
    p = e.pen(PS_SOLID, 9, pen)
    checks = []
    for code in range(1, 17):
        e.set_rop2(code)
        x = 10 + 29 * (code - 1)
        e.stock(NULL_PEN)
        e.rectangle(x, 5, x + 23, 195)
        e.select(p)
        e.move_to(x + 11, 230)
        e.line_to(x + 11, 340)
        for j, c in enumerate(bands):
            checks.append(pixel(x + 11, 32 + 45 * j, rop2(code, channels(fill), channels(c))))
        checks.append(pixel(x + 11, 285, rop2(code, channels(pen), WHITE)))
    e.set_rop2(R2_COPYPEN)
    return e.bytes(), checks


@checked('emf_fill_modes.emf', 'EMF (hand-checked): alternate and winding fill of a star polygon, a PolyPolygon and a path',
         'emf2svg-conv fills polygons, poly-polygons and paths by the non-zero rule whatever the fill mode')
def emf_fill_modes():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[4])
    e.select(b)
    purple = channels(COLOURS[4])
    checks = []
    for i, mode in enumerate((ALTERNATE, WINDING)):
        e.set_poly_fill_mode(mode)
        cx = 80 + 160 * i
        e.polygon(star(cx, 90, 70))
        filled_middle = purple if mode == WINDING else WHITE
        checks += [pixel(cx, 90, filled_middle), pixel(cx, 35, purple), pixel(cx + 50, 73, purple)]
        outer = [(cx - 70, 190), (cx + 70, 190), (cx + 70, 340), (cx - 70, 340)]
        inner = [(cx - 35, 225), (cx + 35, 225), (cx + 35, 305), (cx - 35, 305)]
        e.poly_polygon([outer, inner])
        checks += [pixel(cx, 265, filled_middle), pixel(cx - 55, 265, purple)]
    e.set_poly_fill_mode(ALTERNATE)
    e.begin_path()
    path_polygon(e, star(410, 90, 60))
    e.end_path()
    e.fill_path()
    checks += [pixel(410, 90, WHITE), pixel(410, 40, purple)]
    e.set_poly_fill_mode(WINDING)
    e.begin_path()
    path_polygon(e, star(410, 260, 60))
    e.end_path()
    e.fill_path()
    checks += [pixel(410, 260, purple), pixel(410, 210, purple)]
    return e.bytes(), checks


@scene('emf_shapes.emf', 'EMF: Rectangle, RoundRect, Ellipse, Polygon, Polyline, PolyPolygon, PolyPolyline, PolylineTo, SetPixelV')
def emf_shapes():
    e = emf_page()
    pen = e.pen(PS_SOLID, 1, 0)
    e.select(pen)
    emf_figures(e, 20, 20, 90)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.round_rect(330, 20, 460, 110, 40, 30)
    # The inner hexagon runs the other way round: a hole by either fill rule.
    e.poly_polygon([regular(80, 200, 60, 6), regular(80, 200, 30, 6)[::-1], regular(200, 200, 50, 3)])
    e.poly_polyline([[(280, 140), (460, 140), (370, 240)], [(280, 250), (460, 250)], [(280, 270), (300, 340), (320, 270)]])
    e.move_to(20, 340)
    e.polyline_to([(80, 280), (140, 340), (200, 280)])
    e.line_to(240, 340)
    for i in range(30):
        e.set_pixel(250 + 5 * i, 350, COLOURS[i % 6])
    return e.bytes()


@scene('emf_shapes16.emf', 'EMF: the 16-bit forms: Polygon16, Polyline16, PolyBezier16, PolyBezierTo16, PolylineTo16, PolyPolyline16, PolyPolygon16')
def emf_shapes16():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, COLOURS[7])
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[0])
    e.select(b)
    e.polygon([(20, 100), (70, 10), (120, 100)], short=True)
    e.polyline([(140, 100), (170, 10), (200, 100), (230, 10)], short=True)
    e.polybezier([(250, 100), (280, 0), (330, 150), (360, 20)], short=True)
    e.move_to(380, 100)
    e.polybezier_to([(400, 0), (440, 150), (460, 20)], short=True)
    e.move_to(20, 130)
    e.polyline_to([(60, 200), (100, 130), (140, 200)], short=True)
    e.poly_polyline([[(160, 130), (220, 200)], [(160, 200), (220, 130)]], short=True)
    b2 = e.brush(BS_SOLID, COLOURS[2])
    e.select(b2)
    e.poly_polygon([regular(300, 170, 40, 5), regular(400, 170, 40, 4, 0.3)], short=True)
    e.polygon(regular(240, 290, 60, 8), short=True)
    return e.bytes()


@scene('emf_arcs.emf', 'EMF: Arc, Chord and Pie counter-clockwise and clockwise (SetArcDirection)')
def emf_arcs():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, 0)
    e.select(pen)
    for row, direction in enumerate((AD_COUNTERCLOCKWISE, AD_CLOCKWISE)):
        e.set_arc_direction(direction)
        y = 20 + 170 * row
        b = e.brush(BS_SOLID, COLOURS[row])
        e.select(b)
        e.arc(10, y, 150, y + 140, 150, y, 10, y + 140)
        e.chord(170, y, 310, y + 140, 310, y + 70, 170, y)
        e.pie(330, y, 470, y + 140, 470, y + 30, 330, y + 30)
    return e.bytes()


@checked('emf_arcto_anglearc.emf', 'EMF (hand-checked): ArcTo and AngleArc joined to the current position and moving it',
         'emf2svg-conv neither joins ArcTo and AngleArc to the current position nor moves it')
def emf_arcto_anglearc():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    ink = (0, 0, 0)
    e.move_to(40, 100)
    e.arc_to(100, 40, 220, 160, 260, 100, 40, 100)   # the line to (220, 100), the upper half to (100, 100)
    e.line_to(160, 180)
    e.move_to(260, 300)
    e.angle_arc(360, 250, 50, 0.0, 270.0)             # the line to (410, 250), three quarters to (360, 300)
    e.line_to(460, 340)

    def ink_near(x, y):
        return share((x - 3, y - 3, x + 4, y + 4), ink, 0.08, 1.0)

    def blank(x, y):
        return share((x - 4, y - 4, x + 5, y + 5), WHITE, 1.0, 1.0)
    checks = [ink_near(60, 100), ink_near(200, 100), ink_near(160, 40), ink_near(130, 140), blank(160, 160),
              blank(100, 140), ink_near(335, 275), ink_near(360, 200), ink_near(310, 250), ink_near(410, 320),
              blank(395, 285), blank(340, 240)]
    return e.bytes(), checks


@scene('emf_beziers.emf', 'EMF: PolyBezier, PolyBezierTo and PolylineTo from the current position')
def emf_beziers():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, COLOURS[2])
    e.select(pen)
    e.polybezier([(20, 150), (80, 10), (160, 290), (220, 150), (260, 60), (300, 60), (340, 150)])
    e.move_to(20, 200)
    e.polybezier_to([(120, 360), (200, 180), (300, 300)])
    e.polyline_to([(360, 200), (460, 300)])
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.begin_path()
    e.move_to(360, 20)
    e.polybezier_to([(480, 20), (460, 160), (360, 120)])
    e.close_figure()
    e.end_path()
    e.stroke_and_fill_path()
    return e.bytes()


@checked('emf_polydraw.emf', 'EMF (hand-checked): PolyDraw and PolyDraw16: moves, lines, a Bezier and closed figures',
         'emf2svg-conv leaves out PolyDraw')
def emf_polydraw():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    ink = (0, 0, 0)
    pts = [(40, 40), (200, 40), (200, 140), (40, 40), (260, 40), (300, 140), (420, 140), (440, 40)]
    types = [PT_MOVETO, PT_LINETO, PT_LINETO | PT_CLOSEFIGURE, PT_MOVETO, PT_MOVETO, PT_BEZIERTO, PT_BEZIERTO,
             PT_BEZIERTO]
    e.poly_draw(pts, types)
    e.poly_draw([(40, 200), (200, 200), (200, 320), (260, 200), (440, 320)],
                [PT_MOVETO, PT_LINETO, PT_LINETO | PT_CLOSEFIGURE, PT_MOVETO, PT_LINETO], short=True)

    def ink_near(x, y):
        return share((x - 3, y - 3, x + 4, y + 4), ink, 0.08, 1.0)
    checks = [ink_near(120, 40), ink_near(200, 90), ink_near(120, 90), ink_near(357, 115), ink_near(120, 200),
              ink_near(200, 260), ink_near(120, 260), ink_near(350, 260),
              share((60, 110, 100, 130), WHITE, 1.0, 1.0), share((80, 280, 120, 310), WHITE, 1.0, 1.0)]
    return e.bytes(), checks


@scene('emf_paths_fill.emf', 'EMF: paths of lines, Beziers and arcs: BeginPath/EndPath, CloseFigure, FillPath, StrokeAndFillPath under the winding rule')
def emf_paths_fill():
    e = emf_page()
    pen = e.pen(PS_SOLID, 0, 0)
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    e.set_poly_fill_mode(WINDING)
    for i in range(2):
        x = 10 + 120 * i
        e.begin_path()
        path_polygon(e, star(x + 55, 70, 55))
        e.move_to(x, 130)
        e.line_to(x + 110, 130)
        e.polybezier_to([(x + 110, 200), (x, 160), (x, 230)])
        e.close_figure()
        e.end_path()
        if i == 0:
            e.fill_path()
        else:
            e.stroke_and_fill_path()
    e.begin_path()
    path_polygon(e, [(260, 20), (460, 20), (460, 120), (260, 120)])
    path_ellipse(e, 290, 40, 430, 100)
    e.end_path()
    e.stroke_and_fill_path()
    e.begin_path()
    e.move_to(260, 250)
    e.arc_to(260, 150, 460, 350, 460, 250, 260, 250)
    e.close_figure()
    e.end_path()
    e.fill_path()
    return e.bytes()


@checked('emf_abort_path.emf', 'EMF (hand-checked): AbortPath drops the path begun (its figure is never drawn), later shapes draw as usual',
         'emf2svg-conv writes a broken picture after AbortPath')
def emf_abort_path():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, rgb(200, 30, 30))
    e.select(b)
    e.begin_path()
    path_polygon(e, [(40, 40), (440, 40), (240, 320)])
    e.abort_path()
    e.fill_path()                  # no path: nothing to fill
    e.rectangle(160, 200, 320, 330)
    checks = [pixel(240, 265, (200, 30, 30)), pixel(240, 100, WHITE), pixel(100, 60, WHITE)]
    return e.bytes(), checks


@scene('emf_paths_stroke.emf', 'EMF: StrokePath of closed figures with wide geometric pens, FlattenPath then StrokePath')
def emf_paths_stroke():
    e = emf_page()
    p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 12, COLOURS[0])
    e.select(p)
    e.begin_path()
    e.move_to(30, 60)
    e.polybezier_to([(120, 0), (160, 180), (240, 80)])
    e.line_to(200, 160)
    e.close_figure()
    e.end_path()
    e.stroke_path()
    p2 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER, 8, COLOURS[2])
    e.select(p2)
    e.begin_path()
    path_ellipse(e, 270, 20, 460, 150)
    e.end_path()
    e.flatten_path()
    e.stroke_path()
    p3 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 16, COLOURS[1])
    e.select(p3)
    e.begin_path()
    e.move_to(40, 220)
    e.line_to(200, 330)
    e.line_to(300, 220)
    e.line_to(440, 320)
    e.close_figure()
    e.end_path()
    e.stroke_path()
    return e.bytes()


@checked('emf_widen_path.emf', 'EMF (hand-checked): WidenPath with a 20-pixel pen, then FillPath; StrokePath of an open figure',
         'emf2svg-conv fills the path itself after WidenPath and closes open figures at StrokePath')
def emf_widen_path():
    e = emf_page()
    p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_ROUND, 20, 0)
    e.select(p)
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    e.select(p)
    e.begin_path()
    e.move_to(40, 100)
    e.line_to(240, 300)
    e.line_to(440, 100)
    e.end_path()
    e.widen_path()
    e.set_poly_fill_mode(WINDING)   # the outline of a stroke may cross itself at a join
    e.fill_path()
    g = channels(COLOURS[1])
    # Along each leg, its middle and 6 pixels to either side are inside the band of 20; 16 are out.
    checks = [pixel(140, 200, g), pixel(144, 196, g), pixel(136, 204, g), pixel(151, 189, WHITE),
              pixel(129, 211, WHITE), pixel(340, 200, g), pixel(336, 196, g), pixel(344, 204, g),
              pixel(329, 189, WHITE), pixel(240, 200, WHITE), pixel(240, 300, g)]
    # StrokePath leaves an open figure open.
    red = e.pen(PS_SOLID, 3, COLOURS[0])
    e.select(red)
    e.begin_path()
    e.move_to(40, 20)
    e.line_to(440, 20)
    e.line_to(440, 60)
    e.end_path()
    e.stroke_path()
    checks += [pixel(240, 20, channels(COLOURS[0])), pixel(440, 40, channels(COLOURS[0])),
               share((200, 34, 280, 46), WHITE, 1.0, 1.0)]
    return e.bytes(), checks


@scene('emf_clip_path.emf', 'EMF: SelectClipPath (RGN_COPY, winding rule) of curved and straight figures over stripes, inside SaveDC/RestoreDC')
def emf_clip_path():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_poly_fill_mode(WINDING)

    def stripes(x0, y0, w, h):
        for i in range(0, w, 12):
            b = e.brush(BS_SOLID, COLOURS[(i // 12) % 6])
            e.select(b)
            e.rectangle(x0 + i, y0, x0 + i + 12, y0 + h)
            e.stock(WHITE_BRUSH)
            e.delete(b)

    for i in range(4):
        x, y = 10 + 235 * (i % 2), 10 + 175 * (i // 2)
        e.save_dc()
        e.begin_path()
        if i in (0, 3):
            path_ellipse(e, x + 20, y + 10, x + 180, y + 150)
        if i in (1, 3):
            path_polygon(e, [(x, y + 160), (x + 100, y), (x + 200, y + 160)])
        if i == 2:
            path_polygon(e, star(x + 100, y + 85, 80))
        e.end_path()
        e.select_clip_path(RGN_COPY)
        stripes(x, y, 216, 160)
        e.restore_dc(-1)
    return e.bytes()


@checked('emf_clip_path_modes.emf', 'EMF (hand-checked): SelectClipPath combining with the clip rectangle by and, or, diff and copy',
         'emf2svg-conv takes every SelectClipPath mode for RGN_COPY')
def emf_clip_path_modes():
    e = emf_page()
    e.stock(NULL_PEN)
    checks = []
    for i, mode in enumerate((RGN_AND, RGN_OR, RGN_DIFF, RGN_COPY)):
        x, y = 10 + 235 * (i % 2), 10 + 175 * (i // 2)
        e.save_dc()
        e.intersect_clip(x + 10, y + 10, x + 190, y + 150)
        e.begin_path()
        path_polygon(e, [(x + 20, y + 140), (x + 100, y + 20), (x + 180, y + 140)])
        e.end_path()
        e.select_clip_path(mode)
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(x, y, x + 220, y + 165)
        e.restore_dc(-1)
        c = channels(COLOURS[i])
        inside, corner, outside = (x + 100, y + 110), (x + 20, y + 20), (x + 200, y + 80)
        expect = {RGN_AND: (c, WHITE, WHITE), RGN_OR: (c, c, WHITE), RGN_DIFF: (WHITE, c, WHITE),
                  RGN_COPY: (c, WHITE, WHITE)}[mode]
        checks += [pixel(px, py, want) for (px, py), want in zip((inside, corner, outside), expect)]
    return e.bytes(), checks


@checked('emf_clip_rects.emf', 'EMF (hand-checked): IntersectClipRect, ExcludeClipRect, OffsetClipRgn, the clip reset by ExtSelectClipRgn without a region',
         'emf2svg-conv treats ExcludeClipRect as IntersectClipRect and ignores OffsetClipRgn')
def emf_clip_rects():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[2])
    e.select(b)
    e.intersect_clip(20, 20, 220, 170)
    e.exclude_clip(70, 60, 170, 130)
    e.rectangle(0, 0, 240, 190)
    e.offset_clip(240, 170)                   # (260, 190)-(460, 340) less (310, 230)-(410, 300)
    b2 = e.brush(BS_SOLID, COLOURS[0])
    e.select(b2)
    e.rectangle(200, 150, 481, 361)
    e.ext_select_clip_rgn([], RGN_COPY)
    b3 = e.brush(BS_SOLID, COLOURS[3])
    e.select(b3)
    e.rectangle(20, 250, 150, 340)
    blue, red, yellow = channels(COLOURS[2]), channels(COLOURS[0]), channels(COLOURS[3])
    checks = [pixel(40, 40, blue), pixel(200, 150, blue), pixel(120, 95, WHITE), pixel(230, 100, WHITE),
              pixel(10, 10, WHITE), pixel(280, 210, red), pixel(440, 320, red), pixel(360, 265, WHITE),
              pixel(230, 200, WHITE), pixel(470, 350, WHITE), pixel(85, 295, yellow)]
    return e.bytes(), checks


@checked('emf_clip_regions.emf', 'EMF (hand-checked): ExtSelectClipRgn with copy, and, or, xor and diff of rectangle regions',
         'emf2svg-conv ignores ExtSelectClipRgn')
def emf_clip_regions():
    e = emf_page()
    e.stock(NULL_PEN)
    checks = []
    for i, mode in enumerate((RGN_COPY, RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF)):
        x = 10 + 93 * i
        e.ext_select_clip_rgn([(x, 20, x + 60, 200)], RGN_COPY)
        if mode != RGN_COPY:
            e.ext_select_clip_rgn([(x + 30, 100, x + 85, 300), (x + 5, 310, x + 50, 340)], mode)
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(0, 0, 481, 361)
        e.stock(WHITE_BRUSH)
        e.delete(b)
        c = channels(COLOURS[i])
        first_only, both, second_only, lower = (x + 15, 50), (x + 45, 150), (x + 70, 250), (x + 25, 325)
        expect = {RGN_COPY: (c, c, WHITE, WHITE), RGN_AND: (WHITE, c, WHITE, WHITE), RGN_OR: (c, c, c, c),
                  RGN_XOR: (c, WHITE, c, c), RGN_DIFF: (c, WHITE, WHITE, WHITE)}[mode]
        checks += [pixel(px, py, want) for (px, py), want in zip((first_only, both, second_only, lower), expect)]
    e.ext_select_clip_rgn([], RGN_COPY)
    return e.bytes(), checks


@checked('emf_region_paint.emf', 'EMF (hand-checked): FillRgn, FrameRgn, PaintRgn and InvertRgn of regions of several rectangles',
         'emf2svg-conv leaves out FillRgn, FrameRgn, PaintRgn and InvertRgn')
def emf_region_paint():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.rectangle(0, 200, 481, 361)
    fill = e.brush(BS_SOLID, COLOURS[0])
    e.fill_rgn([(20, 20, 140, 60), (50, 60, 110, 160)], fill)
    frame = e.brush(BS_SOLID, COLOURS[2])
    e.frame_rgn([(170, 20, 300, 160)], frame, 8, 5)
    paint = e.brush(BS_SOLID, COLOURS[1])
    e.select(paint)
    e.paint_rgn([(330, 20, 460, 90), (360, 90, 430, 160)])
    e.invert_rgn([(20, 180, 240, 340), (300, 250, 460, 320)])
    red, green, blue, yellow = (channels(COLOURS[i]) for i in range(4))
    inverted = tuple(255 - v for v in yellow)
    checks = [pixel(80, 40, red), pixel(80, 140, red), pixel(30, 140, WHITE), pixel(173, 90, blue),
              pixel(296, 90, blue), pixel(235, 22, blue), pixel(235, 157, blue), pixel(235, 90, WHITE),
              pixel(182, 90, WHITE), pixel(395, 50, green), pixel(395, 140, green), pixel(340, 140, WHITE),
              pixel(100, 190, (0, 0, 0)), pixel(100, 300, inverted), pixel(380, 285, inverted),
              pixel(270, 285, yellow)]
    return e.bytes(), checks


@scene('emf_text_fonts.emf', 'EMF: ExtTextOutW in Arial, Times New Roman and Courier New: sizes 12, 20 and 30, bold, italic, underline, strike-out')
def emf_text_fonts():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    y = 8
    for face, family in (('Arial', FF_SWISS), ('Times New Roman', FF_ROMAN), ('Courier New', FF_MODERN | FIXED_PITCH)):
        for size, weight, italic, underline, strike in ((12, FW_NORMAL, 0, 0, 0), (20, FW_BOLD, 0, 1, 0),
                                                        (30, FW_NORMAL, 1, 0, 1)):
            f = e.font(-size, face, weight, italic, underline, strike, pitch_family=family)
            e.select(f)
            e.set_text_color(COLOURS[(y // 10) % 8])
            e.ext_text_out(10, y, '%s %d Quick fox' % (face.split()[0], size))
            e.stock(DEVICE_DEFAULT_FONT)
            e.delete(f)
            y += size + 8
    return e.bytes()


@scene('emf_text_align.emf', 'EMF: text alignments (3 x 3), cell height (positive) and character height (negative) fonts, text colours')
def emf_text_align():
    e = emf_page()
    f = e.font(-18, 'Arial')
    e.select(f)
    e.set_bk_mode(TRANSPARENT)
    guide = e.pen(PS_SOLID, 1, rgb(190, 190, 190))
    e.select(guide)
    for i, h in enumerate((TA_LEFT, TA_CENTER, TA_RIGHT)):
        for j, v in enumerate((TA_TOP, TA_BASELINE, TA_BOTTOM)):
            x, y = 80 + 160 * i, 30 + 45 * j
            e.move_to(x - 6, y)
            e.line_to(x + 6, y)
            e.set_text_align(h | v)
            e.set_text_color(COLOURS[(3 * i + j) % 8])
            e.ext_text_out(x, y, 'Align')
    e.set_text_align(TA_LEFT | TA_TOP)
    cell = e.font(30, 'Times New Roman')
    e.select(cell)
    e.ext_text_out(20, 200, 'Cell height 30')
    char = e.font(-30, 'Times New Roman')
    e.select(char)
    e.ext_text_out(20, 260, 'Char height 30')
    return e.bytes()


@checked('emf_text_options.emf', 'EMF (hand-checked): ExtTextOutW/A with opaque and clipping rectangles and advances, PolyTextOutW, TA_UPDATECP, text under a clip',
         'emf2svg-conv leaves out opaque and clipping rectangles, advances, PolyTextOut and TA_UPDATECP')
def emf_text_options():
    e = emf_page()
    f = e.font(-20, 'Arial')
    e.select(f)
    bk, ink = (255, 230, 150), (20, 20, 140)
    e.set_bk_color(rgb(*bk))
    e.set_text_color(rgb(*ink))
    checks = []
    e.ext_text_out(20, 15, 'Opaque', ETO_OPAQUE, (10, 10, 200, 45))
    checks += [pixel(190, 40, bk), pixel(12, 12, bk), pixel(205, 40, WHITE), share((20, 15, 90, 40), ink, 0.05, 0.6)]
    e.ext_text_out(240, 15, 'Clipped at the box', ETO_CLIPPED, (240, 15, 330, 30))
    checks += [share((332, 5, 480, 45), WHITE, 1.0, 1.0), share((240, 31, 330, 45), WHITE, 1.0, 1.0),
               share((240, 15, 330, 30), ink, 0.04, 0.8)]
    # Advances of 40 put each H in its own cell with a clear gap after it.
    e.set_bk_mode(TRANSPARENT)
    e.ext_text_out(20, 60, 'HHHHH', 0, None, [40] * 5)
    for k in range(5):
        checks += [share((20 + 40 * k, 62, 36 + 40 * k, 80), ink, 0.15, 0.9),
                   share((40 + 40 * k, 56, 58 + 40 * k, 86), WHITE, 1.0, 1.0)]
    e.ext_text_out(240, 60, 'HHHH', 0, None, [30] * 4, wide=False)
    for k in range(4):
        checks += [share((240 + 30 * k, 62, 256 + 30 * k, 80), ink, 0.15, 0.9),
                   share((259 + 30 * k, 56, 268 + 30 * k, 86), WHITE, 1.0, 1.0)]
    e.set_bk_mode(OPAQUE)
    e.poly_text_out([(20, 110, 'Poly one', 0, None, None), (200, 110, 'Poly two', ETO_OPAQUE, (195, 105, 320, 140), None)])
    checks += [share((20, 110, 90, 135), ink, 0.05, 0.6), share((200, 110, 270, 135), ink, 0.05, 0.6),
               pixel(315, 137, bk)]
    e.set_bk_mode(TRANSPARENT)
    e.set_text_align(TA_UPDATECP | TA_TOP)
    e.move_to(20, 170)
    for i, word in enumerate(('Moving', 'current', 'point')):
        e.set_text_color(COLOURS[i])
        e.ext_text_out(0, 0, word)
    # The words follow one another: the last one starts where 'Movingcurrent' ends.
    checks += [share((20, 170, 80, 195), channels(COLOURS[0]), 0.04, 0.6),
               share((90, 170, 140, 195), channels(COLOURS[1]), 0.04, 0.6),
               share((150, 170, 230, 195), channels(COLOURS[2]), 0.04, 0.6),
               share((0, 0, 10, 10), WHITE, 1.0, 1.0)]
    e.set_text_align(TA_LEFT | TA_TOP)
    e.save_dc()
    e.intersect_clip(20, 250, 200, 270)
    big = e.font(-40, 'Arial', FW_BOLD)
    e.select(big)
    e.set_text_color(COLOURS[0])
    e.ext_text_out(20, 240, 'Clip region')
    e.restore_dc(-1)
    checks += [share((20, 240, 240, 250), WHITE, 1.0, 1.0), share((20, 271, 240, 290), WHITE, 1.0, 1.0),
               share((20, 250, 200, 270), channels(COLOURS[0]), 0.2, 1.0)]
    return e.bytes(), checks


@scene('emf_text_escapement.emf', 'EMF: text at escapements 0, 30, 45, 90, 180, 270 degrees, sans and serif')
def emf_text_escapement():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    for i, (angle, x, y) in enumerate(((0, 20, 20), (300, 40, 250), (450, 200, 330), (900, 440, 330), (1800, 460, 180),
                                       (2700, 40, 60))):
        f = e.font(-20, 'Arial' if i % 2 else 'Times New Roman', escapement=angle, weight=FW_BOLD if i > 3 else FW_NORMAL)
        e.select(f)
        e.set_text_color(COLOURS[i])
        e.ext_text_out(x, y, 'Turned %d' % (angle // 10))
        e.stock(DEVICE_DEFAULT_FONT)
        e.delete(f)
    return e.bytes()


@scene('emf_text_mapped.emf', 'EMF: text under MM_LOENGLISH and a world transform (scaled and rotated fonts)')
def emf_text_mapped():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    e.set_map_mode(MM_LOENGLISH)
    f = e.font(-25, 'Arial')
    e.select(f)
    e.ext_text_out(20, -20, 'A quarter inch high')
    f2 = e.font(-40, 'Courier New', FW_BOLD, pitch_family=FIXED_PITCH | FF_MODERN)
    e.select(f2)
    e.ext_text_out(20, -80, 'Mono')
    e.set_map_mode(MM_TEXT)
    a = math.radians(-20)
    e.set_world_transform((1.5 * math.cos(a), 1.5 * math.sin(a), -math.sin(a), math.cos(a), 120.0, 250.0))
    f3 = e.font(-20, 'Times New Roman')
    e.select(f3)
    e.set_text_color(COLOURS[2])
    e.ext_text_out(0, 0, 'Transformed text')
    return e.bytes()


# The outside renderers smooth stretched pictures, which the formats' stretch modes never
# do: the compared files draw pictures at their own size, stretching is checked by hand.

@scene('emf_stretchdibits.emf', 'EMF: StretchDIBits at 1, 4, 8, 16 (5-5-5), 24 and 32 bits (plain and bit fields), bottom-up and top-down')
def emf_stretchdibits():
    e = emf_page()
    cases = [dict(bits=1), dict(bits=4), dict(bits=8), dict(bits=16), dict(bits=24), dict(bits=24, top_down=True),
             dict(bits=32), dict(bits=32, bitfields=(0xFF0000, 0x00FF00, 0x0000FF)), dict(bits=1, top_down=True),
             dict(bits=4, top_down=True), dict(bits=8, top_down=True), dict(bits=16, top_down=True)]
    for i, c in enumerate(cases):
        src = picture(width=96, height=72, **c)
        x, y = 10 + 118 * (i % 4), 10 + 116 * (i // 4)
        e.stretch_dibits(x, y, 96, 72, 0, 0, 96, 72, SRCCOPY, src)
    return e.bytes()


@checked('emf_dib_transforms.emf', 'EMF (hand-checked): StretchDIBits mirrored (negative extents), from a source rectangle, and 5-6-5 bit fields',
         'emf2svg-conv ignores negative extents and source rectangles of StretchDIBits and misreads 5-6-5 bit fields')
def emf_dib_transforms():
    e = emf_page()
    src = quadrants()
    checks = []
    e.stretch_dibits(150, 20, -128, 96, 0, 0, 16, 16, SRCCOPY, src)      # (22, 20)-(150, 116), left for right
    checks += quadrant_checks(22, 20, 128, 96, mirror_x=True)
    e.stretch_dibits(180, 116, 128, -96, 0, 0, 16, 16, SRCCOPY, src)     # (180, 20)-(308, 116), upside down
    checks += quadrant_checks(180, 20, 128, 96, mirror_y=True)
    # A bottom-up picture's source rows count from its last row: (8, 8) is the top right quarter.
    e.stretch_dibits(340, 20, 120, 96, 8, 8, 8, 8, SRCCOPY, src)
    checks += [pixel(400, 68, QUADRANTS[1]), pixel(345, 25, QUADRANTS[1]), pixel(455, 110, QUADRANTS[1])]
    e.stretch_dibits(22, 150, 128, 96, 0, 0, 16, 16, SRCCOPY, quadrants(16, bitfields=(0xF800, 0x07E0, 0x001F)))
    checks += quadrant_checks(22, 150, 128, 96, tolerance=10)
    e.stretch_dibits(180, 150, 128, 96, 0, 0, 8, 8, SRCCOPY, quadrants(top_down=True))   # the top left quarter
    checks += [pixel(244, 198, QUADRANTS[0]), pixel(185, 155, QUADRANTS[0]), pixel(303, 240, QUADRANTS[0])]
    return e.bytes(), checks


@checked('emf_setdibits.emf', 'EMF (hand-checked): SetDIBitsToDevice whole and from a source offset, 24, 8 and 1 bits',
         'emf2svg-conv leaves out SetDIBitsToDevice')
def emf_setdibits():
    e = emf_page()
    checks = []
    e.set_dibits_to_device(20, 20, 64, 64, 0, 0, 0, 64, quadrants(size=64))
    checks += quadrant_checks(20, 20, 64, 64)
    e.set_dibits_to_device(120, 20, 32, 32, 32, 32, 0, 64, quadrants(size=64))    # the top right quarter
    checks += [pixel(136, 36, QUADRANTS[1]), pixel(122, 22, QUADRANTS[1]), pixel(150, 50, QUADRANTS[1])]
    pal = dib(64, 64, 8, lambda x, y: (y // 32) * 2 + x // 32, palette=list(QUADRANTS))
    e.set_dibits_to_device(200, 20, 64, 64, 0, 0, 0, 64, pal)
    checks += quadrant_checks(200, 20, 64, 64)
    mono = dib(64, 32, 1, lambda x, y: 1 if x >= 32 else 0, palette=[(20, 20, 120), (250, 230, 120)])
    e.set_dibits_to_device(300, 20, 64, 32, 0, 0, 0, 32, mono)
    checks += [pixel(316, 36, (20, 20, 120)), pixel(348, 36, (250, 230, 120)), pixel(370, 36, WHITE)]
    return e.bytes(), checks


@checked('emf_blt_rops.emf', 'EMF (hand-checked): BitBlt, StretchBlt and StretchDIBits with source, pattern and destination raster operations, BitBlt without a source',
         'emf2svg-conv copies every source as SRCCOPY and draws pattern-only operations as PATCOPY')
def emf_blt_rops():
    e = emf_page()
    e.stock(NULL_PEN)
    bands = [COLOURS[i] for i in range(3)]
    for i, c in enumerate(bands):
        b = e.brush(BS_SOLID, c)
        e.select(b)
        e.rectangle(0, 120 * i, 481, 120 * i + 120)
    pattern = rgb(255, 200, 0)
    pat = e.brush(BS_SOLID, pattern)
    e.select(pat)
    source = (40, 170, 230)
    src = dib(16, 16, 24, lambda x, y: source)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT, BLACKNESS, WHITENESS, PATPAINT)
    checks = []
    for i, rop in enumerate(rops):
        x, y = 10 + 93 * (i % 5), 10 + 120 * (i // 5)
        want = rop3(rop, channels(pattern), source, channels(bands[i // 5]))
        if rop in (PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS):
            e.bit_blt(x, y, 80, 100, rop)
        elif i % 3 == 0:
            e.bit_blt(x, y, 16, 16, rop, src)
            e.stretch_blt(x, y + 30, 80, 70, 0, 0, 16, 16, rop, src)
            checks.append(pixel(x + 8, y + 8, want))
        elif i % 3 == 1:
            e.stretch_dibits(x, y, 80, 100, 0, 0, 16, 16, rop, src)
        else:
            e.stretch_blt(x, y, 80, 100, 0, 0, 16, 16, rop, src)
        checks.append(pixel(x + 40, y + 65, want))
    checks.append(pixel(475, 60, channels(bands[0])))
    return e.bytes(), checks


@checked('emf_mask_plg.emf', 'EMF (hand-checked): MaskBlt with a 1-bit mask (two raster operations) and PlgBlt into parallelograms',
         'emf2svg-conv leaves out MaskBlt and PlgBlt')
def emf_mask_plg():
    e = emf_page()
    light = (200, 220, 255)
    b = e.brush(BS_SOLID, rgb(*light))
    e.select(b)
    e.stock(NULL_PEN)
    e.rectangle(0, 0, 240, 361)
    red = (220, 30, 30)
    # MaskBlt does not stretch: source and mask are as big as the destination.
    solid = dib(64, 48, 24, lambda x, y: red)
    mask = dib(64, 48, 1, lambda x, y: 1 if x < 32 else 0, palette=[(0, 0, 0), (255, 255, 255)])
    # The mask's set bits take the foreground operation (the high byte's is the background's).
    e.mask_blt(40, 40, 64, 48, 0xAACC0020, solid, 0, 0, mask, 0, 0)     # source where set, else keep
    green = e.brush(BS_SOLID, COLOURS[1])
    e.select(green)
    e.mask_blt(40, 200, 64, 48, 0xF0CC0020, solid, 0, 0, mask, 0, 0)    # source where set, else the brush
    checks = [pixel(55, 64, red), pixel(90, 64, light), pixel(55, 224, red), pixel(90, 224, channels(COLOURS[1])),
              pixel(120, 64, light), pixel(120, 224, light)]
    src = quadrants(size=32)
    for p0, p1, p2 in (((300, 40), (440, 80), (260, 180)), ((300, 220), (460, 220), (300, 340))):
        e.plg_blt([p0, p1, p2], 0, 0, 32, 32, src)
        for qy in range(2):
            for qx in range(2):
                u, v = 0.25 + 0.5 * qx, 0.25 + 0.5 * qy
                px = p0[0] + u * (p1[0] - p0[0]) + v * (p2[0] - p0[0])
                py = p0[1] + u * (p1[1] - p0[1]) + v * (p2[1] - p0[1])
                checks.append(pixel(int(px), int(py), QUADRANTS[2 * qy + qx]))
    return e.bytes(), checks


@checked('emf_alpha.emf', 'EMF (hand-checked): AlphaBlend with per-pixel (premultiplied) alpha over two backgrounds',
         'emf2svg-conv takes premultiplied pixels for straight alpha')
def emf_alpha():
    e = emf_page()
    e.stock(NULL_PEN)
    blue = (30, 60, 200)
    b = e.brush(BS_SOLID, rgb(*blue))
    e.select(b)
    e.rectangle(0, 0, 481, 180)
    red = (220, 30, 30)

    def alpha(x):
        return x * 255 // 15

    def premultiplied(x, y):
        return tuple(c * alpha(x) // 255 for c in red) + (alpha(x),)
    fade = dib(16, 4, 32, premultiplied)
    checks = []
    for y0, page in ((40, blue), (220, WHITE)):
        e.alpha_blend(20, y0, 192, 96, 0, 0, 16, 4, fade, per_pixel=True)    # 12 x 24 pixels a source pixel
        for x in range(0, 16, 3):
            src = premultiplied(x, 0)
            want = tuple(int(s + d * (255 - src[3]) / 255 + 0.5) for s, d in zip(src[:3], page))
            checks.append(pixel(20 + 12 * x + 6, y0 + 48, want, 3))
    return e.bytes(), checks


@checked('emf_alpha_constant.emf', 'EMF (hand-checked): AlphaBlend with constant alpha (alone and with per-pixel alpha), TransparentBlt with a key colour',
         'emf2svg-conv draws AlphaBlend\'s constant alpha as opaque and leaves out TransparentBlt')
def emf_alpha_constant():
    e = emf_page()
    e.stock(NULL_PEN)
    blue = (30, 60, 200)
    b = e.brush(BS_SOLID, rgb(*blue))
    e.select(b)
    e.rectangle(0, 0, 481, 120)
    red = (220, 30, 30)
    solid = dib(8, 8, 32, lambda x, y: red + (0,))
    checks = []

    def mix(src, dst, a):
        return tuple(int(s * a / 255 + d * (255 - a) / 255 + 0.5) for s, d in zip(src, dst))
    for i, alpha in enumerate((128, 64)):
        x = 20 + 140 * i
        e.alpha_blend(x, 10, 120, 220, 0, 0, 8, 8, solid, constant_alpha=alpha)
        checks += [pixel(x + 60, 60, mix(red, blue, alpha), 6), pixel(x + 60, 180, mix(red, WHITE, alpha), 6)]
    half = dib(8, 8, 32, lambda x, y: (110, 15, 15, 128))          # red at alpha 128, premultiplied
    e.alpha_blend(300, 10, 160, 220, 0, 0, 8, 8, half, constant_alpha=128, per_pixel=True)
    # Constant and pixel alpha multiply: a quarter of the source, three quarters of the page.
    checks += [pixel(380, 60, tuple(int(s * 128 / 255 + d * (1 - 128 * 128 / 255 / 255) + 0.5)
                                    for s, d in zip((110, 15, 15), blue)), 8)]
    magenta = (255, 0, 255)
    key = dib(8, 8, 24, lambda x, y: red if 2 <= x < 6 and 2 <= y < 6 else magenta)
    e.transparent_blt(40, 250, 96, 96, 0, 0, 8, 8, key, rgb(*magenta))
    e.rectangle(200, 250, 300, 350)
    e.transparent_blt(180, 240, 96, 96, 0, 0, 8, 8, key, rgb(*magenta))
    checks += [pixel(88, 298, red), pixel(45, 255, WHITE), pixel(130, 340, WHITE), pixel(228, 288, red),
               pixel(260, 330, blue), pixel(190, 250, WHITE)]
    return e.bytes(), checks


@checked('emf_gradient.emf', 'EMF (hand-checked): GradientFill horizontal and vertical rectangles and triangles',
         'emf2svg-conv leaves out GradientFill')
def emf_gradient():
    e = emf_page()
    e.gradient_fill([(20, 20, 255, 0, 0), (220, 120, 0, 0, 255)], [(0, 1)], GRADIENT_FILL_RECT_H)
    e.gradient_fill([(260, 20, 255, 255, 0), (460, 120, 0, 160, 0)], [(0, 1)], GRADIENT_FILL_RECT_V)
    e.gradient_fill([(20, 340, 255, 0, 0), (240, 150, 0, 255, 0), (460, 340, 0, 0, 255), (240, 250, 255, 255, 255)],
                    [(0, 1, 3), (1, 2, 3)], GRADIENT_FILL_TRIANGLE)
    checks = [pixel(21, 70, (255, 0, 0), 8), pixel(120, 70, (128, 0, 128), 8), pixel(218, 70, (0, 0, 255), 8),
              pixel(360, 21, (255, 255, 0), 8), pixel(360, 70, (128, 208, 0), 8), pixel(360, 118, (0, 160, 0), 8),
              pixel(10, 70, WHITE), pixel(240, 70, WHITE),
              pixel(167, 247, (170, 170, 85), 10), pixel(313, 247, (85, 170, 170), 10), pixel(240, 280, WHITE, 10)]
    return e.bytes(), checks


@checked('emf_palette.emf', 'EMF (hand-checked): CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries, palette-index colours, a DIB_PAL_COLORS bitmap, the EOF palette',
         'emf2svg-conv draws palette-index colours black and leaves out DIB_PAL_COLORS bitmaps')
def emf_palette():
    e = emf_page()
    entries = [(200, 30, 30), (30, 150, 40), (30, 60, 200), (230, 180, 20)]
    e.palette_entries = entries
    pal = e.palette(entries)
    e.select_palette(pal)
    e.realize_palette()
    e.stock(NULL_PEN)
    for i in range(4):
        b = e.brush(BS_SOLID, 0x01000000 | i)
        e.select(b)
        e.rectangle(20 + 110 * i, 20, 120 + 110 * i, 120)
    e.set_pal_entries(pal, 3, [(150, 40, 160)])
    b = e.brush(BS_SOLID, 0x01000000 | 3)
    e.select(b)
    e.rectangle(20, 140, 460, 200)
    header, bits = dib(16, 8, 8, lambda x, y: (x // 4) % 4, palette=[(0, 0, 0)] * 4)
    # With DIB_PAL_COLORS the colour table holds 16-bit indexes into the selected palette.
    header = header[:40] + b''.join(u16(i) for i in range(4))
    e.stretch_dibits(20, 220, 440, 120, 0, 0, 16, 8, SRCCOPY, (header, bits), usage=DIB_PAL_COLORS)
    now = entries[:3] + [(150, 40, 160)]
    checks = [pixel(70 + 110 * i, 70, entries[i]) for i in range(4)] + [pixel(240, 170, now[3])]
    checks += [pixel(75 + 110 * i, 280, now[i]) for i in range(4)]
    return e.bytes(), checks


@scene('emf_comments_skipped.emf', 'EMF: GDI comments, an EMF+ comment, ICM and mapper records and an unknown record are skipped; drawing goes on')
def emf_comments_skipped():
    e = emf_page()
    e.comment(b'GDIC' + u32(0x40000004) + u32(0))           # a public comment: begin group
    e.comment(b'EMF+' + b'\x01\x40\x01\x00' + u32(28) + u32(16) + u32(0xDBC01002) + u32(1) + u32(0))
    e.set_icm_mode(1)
    e.set_mapper_flags(0)
    e.rec(0x7F0, b'\x00' * 12)                               # not a record kind
    e.stock(NULL_PEN)
    for i in range(6):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(20 + 75 * i, 40, 85 + 75 * i, 320)
        e.stock(WHITE_BRUSH)
        e.delete(b)
    return e.bytes()


@scene('emf_stock_objects.emf', 'EMF: stock pens and brushes selected by index (white, greys, black, null) over a coloured band')
def emf_stock_objects():
    e = emf_page()
    b = e.brush(BS_SOLID, rgb(40, 90, 160))
    e.select(b)
    e.rectangle(0, 0, 481, 120)
    for i, (pen, brush) in enumerate(((WHITE_PEN, BLACK_BRUSH), (BLACK_PEN, WHITE_BRUSH), (NULL_PEN, GRAY_BRUSH),
                                      (WHITE_PEN, NULL_BRUSH), (BLACK_PEN, DKGRAY_BRUSH), (BLACK_PEN, LTGRAY_BRUSH))):
        e.stock(pen)
        e.stock(brush)
        e.rectangle(15 + 77 * i, 20, 80 + 77 * i, 220)
    e.stock(NULL_BRUSH)
    e.stock(BLACK_PEN)
    e.ellipse(40, 240, 440, 340)
    return e.bytes()


# --- whole pictures, as documents draw them ------------------------------------------------

@scene('emf_bar_chart.emf', 'EMF: a bar chart as an office program writes it: axes, grid, bars, legend, labels in two faces, a rotated title')
def emf_bar_chart():
    e = emf_page()
    e.set_bk_mode(TRANSPARENT)
    grid = e.pen(PS_SOLID, 0, rgb(200, 200, 200))
    axis = e.pen(PS_SOLID, 0, rgb(0, 0, 0))
    label = e.font(-12, 'Arial')
    title = e.font(-16, 'Times New Roman', FW_BOLD)
    e.select(grid)
    for i in range(6):
        y = 300 - 50 * i
        e.move_to(60, y)
        e.line_to(440, y)
    e.select(axis)
    e.move_to(60, 40)
    e.line_to(60, 300)
    e.line_to(440, 300)
    e.select(label)
    e.set_text_align(TA_RIGHT | TA_BASELINE)
    for i in range(6):
        e.ext_text_out(54, 304 - 50 * i, str(20 * i))
    e.set_text_align(TA_CENTER | TA_TOP)
    e.stock(NULL_PEN)   # bars without outlines: a one-pixel line on a whole coordinate is smoothed over two by one renderer
    values = [(140, 200), (230, 120), (170, 90), (250, 210), (90, 160), (200, 230)]
    for i, pair in enumerate(values):
        x = 80 + 60 * i
        for k, v in enumerate(pair):
            b = e.brush(BS_SOLID, COLOURS[k * 2])
            e.select(b)
            e.rectangle(x + 22 * k, 300 - v, x + 22 * k + 20, 301)
            e.stock(WHITE_BRUSH)
            e.delete(b)
        e.ext_text_out(x + 21, 306, 'Q%d' % (i + 1))
    e.set_text_align(TA_LEFT | TA_TOP)
    for k, name in enumerate(('Last year', 'This year')):
        b = e.brush(BS_SOLID, COLOURS[k * 2])
        e.select(b)
        e.rectangle(330 + 80 * (k % 2) - 80, 16, 340 + 80 * (k % 2) - 80, 26)
        e.ext_text_out(344 + 80 * (k % 2) - 80, 14, name)
    e.select(title)
    e.set_text_align(TA_CENTER | TA_BASELINE)
    e.ext_text_out(240, 345, 'Sales by quarter')
    side = e.font(-14, 'Arial', escapement=900)
    e.select(side)
    e.ext_text_out(22, 170, 'Units')
    return e.bytes()


@scene('wmf_pie_chart.wmf', 'WMF: a pie chart with a legend: pies, outlined boxes, text in twips')
def wmf_pie_chart():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    pen = w.pen(PS_SOLID, u(1), rgb(255, 255, 255))
    w.select(pen)
    cx, cy, r = u(130), u(150), u(110)
    shares = [0.32, 0.24, 0.18, 0.14, 0.12]
    start = 0.0
    for i, part in enumerate(shares):
        end = start + part * 2 * math.pi
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.pie(cx - r, cy - r, cx + r, cy + r, int(cx + r * math.cos(start)), int(cy - r * math.sin(start)),
              int(cx + r * math.cos(end)), int(cy - r * math.sin(end)))
        w.select(w.white)
        w.delete(b)
        start = end
    f = w.font(-u(13), 'Arial')
    w.select(f)
    w.select(w.black)
    for i, part in enumerate(shares):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        y = u(60 + 34 * i)
        w.rectangle(u(270), y, u(286), y + u(16))
        w.text_out(u(294), y, '%d%%' % int(part * 100))
        w.select(w.white)
        w.delete(b)
    big = w.font(-u(18), 'Times New Roman', FW_BOLD)
    w.select(big)
    w.text_out(u(250), u(20), 'Market share')
    return w.bytes()


@scene('emf_clipart.emf', 'EMF: clip art: a house, a tree and a sun of polygons, Bezier paths, pies, rounded rectangles and wide geometric pens')
def emf_clipart():
    e = emf_page()
    e.stock(NULL_PEN)
    sky = e.brush(BS_SOLID, rgb(170, 210, 250))
    e.select(sky)
    e.rectangle(0, 0, 481, 260)
    grass = e.brush(BS_SOLID, rgb(90, 170, 70))
    e.select(grass)
    e.rectangle(0, 260, 481, 361)
    sun = e.brush(BS_SOLID, rgb(250, 210, 40))
    e.select(sun)
    e.ellipse(380, 30, 450, 100)
    rays = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND, 4, rgb(250, 210, 40))
    e.select(rays)
    for k in range(8):
        a = k * math.pi / 4
        e.move_to(int(415 + 45 * math.cos(a)), int(65 + 45 * math.sin(a)))
        e.line_to(int(415 + 60 * math.cos(a)), int(65 + 60 * math.sin(a)))
    outline = e.pen(PS_SOLID, 0, rgb(60, 40, 30))
    e.select(outline)
    wall = e.brush(BS_SOLID, rgb(230, 200, 160))
    e.select(wall)
    e.rectangle(80, 170, 260, 300)
    roof = e.brush(BS_SOLID, rgb(180, 50, 40))
    e.select(roof)
    e.polygon([(60, 175), (170, 90), (280, 175)])
    door = e.brush(BS_SOLID, rgb(120, 80, 40))
    e.select(door)
    e.round_rect(150, 220, 190, 300, 12, 12)
    glass = e.brush(BS_SOLID, rgb(200, 230, 255))
    e.select(glass)
    e.rectangle(100, 195, 135, 230)
    e.rectangle(205, 195, 240, 230)
    trunk = e.brush(BS_SOLID, rgb(110, 70, 30))
    e.select(trunk)
    e.rectangle(345, 220, 365, 300)
    leaves = e.brush(BS_SOLID, rgb(40, 120, 50))
    e.select(leaves)
    e.set_poly_fill_mode(WINDING)
    e.begin_path()
    e.move_to(355, 120)
    e.polybezier_to([(420, 120), (430, 200), (400, 230), (370, 250), (330, 250), (310, 230),
                     (280, 200), (290, 120), (355, 120)])
    e.close_figure()
    e.end_path()
    e.stroke_and_fill_path()
    e.pie(20, 300, 80, 360, 80, 330, 20, 330)
    return e.bytes()


@scene('wmf_clipart.wmf', 'WMF: clip art: a boat on waves of polygons, polylines, pies, rounded rectangles and wide pens')
def wmf_clipart():
    w, u = wmf_page(upi=96)
    w.select(w.null)
    sky = w.brush(BS_SOLID, rgb(200, 225, 250))
    w.select(sky)
    w.rectangle(0, 0, 385, 190)
    sea = w.brush(BS_SOLID, rgb(40, 90, 170))
    w.select(sea)
    w.rectangle(0, 190, 385, 289)
    hull = w.brush(BS_SOLID, rgb(140, 60, 30))
    w.select(hull)
    w.select(w.black)
    w.polygon([(90, 180), (300, 180), (270, 225), (120, 225)])
    sail = w.brush(BS_SOLID, rgb(250, 250, 240))
    w.select(sail)
    w.polygon([(200, 40), (200, 170), (110, 170)])
    w.polygon([(210, 60), (210, 170), (280, 170)])
    mast = w.pen(PS_SOLID, 4, rgb(80, 50, 20))
    w.select(mast)
    w.move_to(205, 30)
    w.line_to(205, 182)
    waves = w.pen(PS_SOLID, 3, rgb(230, 240, 255))
    w.select(waves)
    for row in range(3):
        y = 235 + 18 * row
        w.polyline([(x, y + (6 if (x // 24) % 2 else 0)) for x in range(0, 385, 24)])
    sun = w.brush(BS_SOLID, rgb(250, 200, 60))
    w.select(sun)
    w.select(w.null)
    w.pie(300, 20, 380, 100, 380, 60, 300, 60)
    w.pie(300, 20, 380, 100, 300, 60, 380, 60)
    flag = w.brush(BS_SOLID, rgb(200, 30, 30))
    w.select(flag)
    w.round_rect(205, 22, 235, 38, 6, 6)
    return w.bytes()


# --- fuzzing seeds -----------------------------------------------------------------------

def seed_files():
    """Small files, one group of record kinds each, for fuzz_wmf: 4 x 4 pictures, few records."""
    tiny24 = dib(4, 4, 24, lambda x, y: (x * 60, y * 60, 90))
    tiny1 = dib(4, 4, 1, lambda x, y: (x + y) % 2, palette=[(0, 0, 0), (255, 255, 255)])
    tiny8 = dib(4, 4, 8, lambda x, y: x + 4 * y, palette=[(i * 16, 255 - i * 16, 0) for i in range(16)])
    tiny32 = dib(4, 4, 32, lambda x, y: (x * 60, 0, 0, x * 60))
    seeds = {}

    def emf(name, draw):
        e = Emf(64, 48)
        draw(e)
        seeds['emf_' + name + '.emf'] = e.bytes()

    def wmf(name, draw):
        w = Wmf((0, 0, 64, 48), 96)
        w.set_window_org(0, 0)
        w.set_window_ext(64, 48)
        draw(w)
        seeds['wmf_' + name + '.wmf'] = w.bytes()

    emf('mapping', lambda e: (e.set_map_mode(MM_ANISOTROPIC), e.set_window_ext(10, 10), e.set_viewport_ext(64, -48),
                              e.set_window_org(1, 1), e.set_viewport_org(0, 48), e.scale_viewport_ext(1, 2, 3, 4),
                              e.scale_window_ext(2, 1, 1, 2), e.rectangle(1, 1, 8, 8), e.set_map_mode(MM_TWIPS),
                              e.ellipse(0, 0, 500, -500)))
    emf('transform', lambda e: (e.save_dc(), e.set_world_transform((0.5, 0.5, -0.5, 0.5, 10.0, 0.0)),
                                e.modify_world_transform((1.0, 0.0, 0.3, 1.0, 0.0, 0.0), MWT_LEFTMULTIPLY),
                                e.rectangle(0, 0, 30, 20), e.restore_dc(-1), e.restore_dc(5)))
    emf('objects', lambda e: (e.select(e.ext_pen(PS_GEOMETRIC | PS_ENDCAP_SQUARE | PS_JOIN_MITER, 5, 255)),
                              e.select(e.brush(BS_HATCHED, 0xFF00, HS_DIAGCROSS)), e.set_rop2(R2_XORPEN),
                              e.set_bk_mode(OPAQUE), e.set_poly_fill_mode(WINDING), e.polygon(star(32, 24, 20)),
                              e.select(e.dib_brush(*tiny8)), e.select(e.dib_brush(*tiny1, mono=True)),
                              e.round_rect(2, 2, 60, 40, 9, 9), e.delete(2), e.stock(NULL_PEN), e.stock(DC_BRUSH)))
    emf('curves', lambda e: (e.arc(0, 0, 40, 30, 40, 0, 0, 30), e.chord(5, 5, 50, 40, 0, 0, 50, 40),
                             e.pie(10, 10, 60, 45, 60, 10, 10, 10), e.move_to(2, 40), e.arc_to(10, 10, 50, 40, 0, 0, 50, 0),
                             e.angle_arc(30, 20, 15, 30.0, -300.0), e.set_arc_direction(AD_CLOCKWISE),
                             e.polybezier([(0, 0), (20, 40), (40, 0), (60, 40)]), e.polybezier_to([(1, 1), (2, 2), (3, 3)]),
                             e.poly_draw([(5, 5), (20, 5), (30, 30), (40, 5), (50, 20)],
                                         [PT_MOVETO, PT_LINETO, PT_BEZIERTO, PT_BEZIERTO, PT_BEZIERTO | PT_CLOSEFIGURE])))
    emf('short_forms', lambda e: (e.polygon([(1, 1), (30, 2), (20, 30)], short=True),
                                  e.polyline([(1, 40), (60, 40)], short=True),
                                  e.poly_polygon([[(1, 1), (9, 1), (5, 9)], [(20, 20), (30, 20), (25, 30)]], short=True),
                                  e.poly_polyline([[(1, 1), (9, 9)], [(9, 1), (1, 9)]], short=True),
                                  e.polybezier([(0, 0), (10, 40), (50, 0), (60, 40)], short=True),
                                  e.polyline_to([(5, 5), (6, 30)], short=True),
                                  e.poly_draw([(1, 1), (30, 30)], [PT_MOVETO, PT_LINETO], short=True)))
    emf('paths', lambda e: (e.begin_path(), path_polygon(e, star(32, 24, 20)), path_ellipse(e, 4, 4, 30, 30),
                            e.end_path(), e.flatten_path(), e.widen_path(), e.stroke_and_fill_path(),
                            e.begin_path(), e.move_to(0, 0), e.line_to(60, 40), e.end_path(), e.select_clip_path(RGN_AND),
                            e.begin_path(), e.abort_path(), e.fill_path(), e.stroke_path()))
    emf('clipping', lambda e: (e.intersect_clip(2, 2, 60, 40), e.exclude_clip(10, 10, 20, 20), e.offset_clip(3, -2),
                               e.ext_select_clip_rgn([(0, 0, 30, 30), (30, 10, 60, 40)], RGN_XOR),
                               e.fill_rgn([(1, 1, 20, 20)], 0x80000004), e.frame_rgn([(5, 5, 40, 40)], 1, 2, 3),
                               e.paint_rgn([(2, 2, 9, 9)]), e.invert_rgn([(0, 0, 64, 48)]),
                               e.ext_select_clip_rgn([], RGN_COPY), e.rectangle(0, 0, 64, 48)))
    emf('text', lambda e: (e.select(e.font(-12, 'Times New Roman', FW_BOLD, 1, 1, 1, 450)), e.set_text_align(TA_CENTER | TA_BASELINE),
                           e.set_text_color(255), e.ext_text_out(30, 30, 'Ab', ETO_OPAQUE | ETO_CLIPPED, (0, 0, 40, 40), [7, 7]),
                           e.ext_text_out(2, 2, 'cd', 0, None, None, wide=False), e.set_text_align(TA_UPDATECP),
                           e.poly_text_out([(1, 1, 'x', 0, None, [5]), (9, 9, 'yz', ETO_OPAQUE, (8, 8, 20, 20), None)]),
                           e.small_text_out(4, 40, 'small'), e.select(e.font(20, 'Courier New', pitch_family=FIXED_PITCH)),
                           e.ext_text_out(0, 20, 'mono')))
    emf('bitmaps', lambda e: (e.stretch_dibits(0, 0, 30, -20, 1, 1, 3, 3, NOTSRCCOPY, tiny24),
                              e.set_dibits_to_device(30, 0, 4, 4, 0, 0, 0, 4, tiny8),
                              e.bit_blt(0, 20, 4, 4, SRCINVERT, tiny1), e.bit_blt(10, 20, 9, 9, PATINVERT),
                              e.stretch_blt(20, 20, 20, 20, 0, 0, 4, 4, MERGECOPY, tiny8),
                              e.mask_blt(40, 20, 4, 4, 0xAACC0020, tiny24, 0, 0, tiny1, 0, 0),
                              e.plg_blt([(40, 0), (60, 10), (30, 20)], 0, 0, 4, 4, tiny24),
                              e.alpha_blend(0, 30, 16, 16, 0, 0, 4, 4, tiny32, 200, per_pixel=True),
                              e.transparent_blt(20, 30, 16, 16, 0, 0, 4, 4, tiny24, 0)))
    emf('gradient_palette', lambda e: (e.gradient_fill([(0, 0, 255, 0, 0), (30, 20, 0, 0, 255)], [(0, 1)], GRADIENT_FILL_RECT_V),
                                       e.gradient_fill([(0, 40, 255, 0, 0), (30, 0, 0, 255, 0), (60, 40, 0, 0, 255)],
                                                       [(0, 1, 2)], GRADIENT_FILL_TRIANGLE),
                                       e.select_palette(e.palette([(1, 2, 3), (200, 100, 50)])), e.realize_palette(),
                                       e.set_pal_entries(2, 1, [(9, 9, 9)]), e.select(e.brush(BS_SOLID, 0x01000001)),
                                       e.rectangle(0, 0, 20, 20)))
    emf('skipped', lambda e: (e.comment(b'EMF+' + u32(0x4001) + u32(12) + u32(0)), e.set_icm_mode(2), e.set_layout(0),
                              e.set_mapper_flags(1), e.rec(0x7F0, b'\1\2\3\4'), e.set_miter_limit(4),
                              e.set_stretch_mode(STRETCH_HALFTONE), e.set_brush_org(3, 3), e.set_pixel(3, 3, 255)))
    wmf('mapping', lambda w: (w.set_map_mode(MM_ANISOTROPIC), w.set_viewport_org(5, 5), w.set_viewport_ext(32, 24),
                              w.offset_viewport_org(2, 2), w.scale_viewport_ext(2, 1, 2, 1), w.offset_window_org(-3, -3),
                              w.scale_window_ext(1, 2, 1, 2), w.save_dc(), w.set_window_ext(64, -48), w.restore_dc(-1),
                              w.rectangle(1, 1, 30, 30)))
    wmf('shapes', lambda w: (w.select(w.pen(PS_DASHDOT, 0, 0xFF)), w.select(w.brush(BS_HATCHED, 0xFF00, HS_CROSS)),
                             w.set_rop2(R2_NOTXORPEN), w.set_poly_fill_mode(WINDING), w.set_bk_color(0xFFFF),
                             w.round_rect(1, 1, 40, 30, 8, 8), w.ellipse(5, 5, 60, 40), w.arc(0, 0, 30, 30, 30, 0, 0, 30),
                             w.pie(0, 0, 40, 40, 40, 0, 0, 0), w.chord(10, 10, 60, 45, 0, 45, 60, 10),
                             w.poly_polygon([[(1, 1), (20, 1), (10, 20)], [(30, 30), (50, 30), (40, 45)]]),
                             w.polyline([(0, 47), (63, 0)]), w.set_pixel(3, 3, 0xFF), w.delete(0)))
    wmf('regions', lambda w: (w.select_clip_region(w.region([(0, 0, 30, 30), (10, 30, 50, 40)])), w.intersect_clip(1, 1, 60, 40),
                              w.exclude_clip(5, 5, 9, 9), w.offset_clip(2, 2), w.fill_region(0, w.brush(BS_SOLID, 255)),
                              w.frame_region(0, 1, 2, 2), w.paint_region(0), w.invert_region(0)))
    wmf('text', lambda w: (w.select(w.font(-12, 'Arial', FW_BOLD, 1, 1, 1, 900)), w.set_text_align(TA_RIGHT | TA_BOTTOM),
                           w.set_text_color(0xFF), w.set_text_char_extra(2), w.text_out(60, 40, 'Ab'),
                           w.ext_text_out(2, 2, 'cd', ETO_OPAQUE | ETO_CLIPPED, (0, 0, 30, 20), [6, 6])))
    wmf('bitmaps', lambda w: (w.dib_bit_blt(0, 0, 4, 4, 0, 0, SRCAND, *tiny24),
                              w.dib_stretch_blt(10, 0, 20, -20, 0, 0, 4, 4, SRCPAINT, *tiny8),
                              w.stretch_dib(30, 0, 20, 20, 1, 1, 2, 2, NOTSRCERASE, *tiny1),
                              w.set_dib_to_dev(0, 30, 4, 4, 0, 0, 0, 4, *tiny32),
                              w.select(w.dib_brush(*tiny1)), w.pat_blt(40, 30, 20, 15, PATINVERT),
                              w.select_palette(w.palette([(1, 2, 3), (4, 5, 6)])), w.realize_palette(),
                              w.set_pal_entries(0, [(7, 8, 9)]), w.escape(15, b'note'), w.rec(0x0999, b'')))
    return seeds


# --- the large file of the benchmark -----------------------------------------------------

def large_emf(width=4000, height=2828, cells=(40, 28)):
    e = emf_page(width, height)
    cw, ch = width // cells[0], height // cells[1]
    src24 = picture(24, 48, 36)
    src8 = picture(8, 48, 36)
    font = e.font(-16, 'Arial')
    e.select(font)
    e.set_bk_mode(TRANSPARENT)
    n = 0
    for j in range(cells[1]):
        for i in range(cells[0]):
            x, y = i * cw, j * ch
            k = (i + j * cells[0]) % 6
            b = e.brush(BS_SOLID, COLOURS[k]) if k != 5 else e.brush(BS_HATCHED, COLOURS[k], (i + j) % 6)
            p = e.pen(PS_SOLID, 1 + k % 3, COLOURS[(k + 2) % 8])
            e.select(b)
            e.select(p)
            if k == 0:
                e.ellipse(x + 4, y + 4, x + cw - 4, y + ch // 2)
            elif k == 1:
                e.polygon([(x + 4, y + ch // 2), (x + cw // 2, y + 4), (x + cw - 4, y + ch // 2)])
            elif k == 2:
                e.round_rect(x + 4, y + 4, x + cw - 4, y + ch // 2, 12, 12)
            elif k == 3:
                e.stretch_dibits(x + 4, y + 4, cw - 8, ch // 2 - 4, 0, 0, 48, 36, SRCCOPY, src24 if n % 2 else src8)
            elif k == 4:
                e.polybezier([(x + 4, y + ch // 2), (x + cw // 3, y), (x + 2 * cw // 3, y + ch), (x + cw - 4, y + 8)])
            else:
                e.pie(x + 4, y + 4, x + cw - 4, y + ch // 2, x + cw, y, x, y)
            e.set_text_color(COLOURS[(k + 4) % 8])
            e.ext_text_out(x + 6, y + ch // 2 + 6, 'Cell %d' % n)
            e.stock(BLACK_PEN)
            e.stock(WHITE_BRUSH)
            e.delete(b)
            e.delete(p)
            n += 1
    return e.bytes()


def main(argv):
    if len(argv) == 3 and argv[1] == '--seeds':
        os.makedirs(argv[2], exist_ok=True)
        for name, data in seed_files().items():
            with open(os.path.join(argv[2], name), 'wb') as f:
                f.write(data)
        return 0
    if len(argv) == 3 and argv[1] == '--large':
        with open(argv[2], 'wb') as f:
            f.write(large_emf())
        return 0
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    lines = ['# file\twidth x height\tchecked by\twhat it covers']
    expected = ['# file\tcheck\tvalues (pixel: x y r g b tolerance; share: x0 y0 x1 y1 r g b low high)']
    for name, what, fn, reason in SCENES:
        made = fn()
        data, checks = made if reason else (made, [])
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        size = '%dx%d' % ((WMF_W, WMF_H) if name.endswith('.wmf') else (EMF_W, EMF_H))
        judge = ('hand: ' + reason) if reason else ('wmf2gd' if name.endswith('.wmf') else 'emf2svg-conv + rsvg-convert')
        lines.append('%s\t%s\t%s\t%s' % (name, size, judge, what))
        expected.extend('%s\t%s' % (name, c) for c in checks)
    with open(os.path.join(out, 'index.tsv'), 'w') as f:
        f.write('\n'.join(lines) + '\n')
    with open(os.path.join(out, 'expected.tsv'), 'w') as f:
        f.write('\n'.join(expected) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
