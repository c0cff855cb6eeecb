#!/usr/bin/env python3
"""Writes the metafile corpus: placeable WMF and EMF files, each on a white page that
covers the whole picture, with one or a few record kinds per file.

make_metafiles.py OUT_DIR          the corpus and its index.tsv (file, size, what it covers)
make_metafiles.py --large FILE     a large EMF (4000 x 2828, thousands of records) for the benchmark

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

SCENES = []


def scene(name, what):
    def register(fn):
        SCENES.append((name, what, fn))
        return fn
    return register


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

@scene('wmf_shapes.wmf', 'WMF: rectangle, rounded rectangle, ellipse, polygon, polyline, MoveTo/LineTo, SetPixel')
def wmf_shapes():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, shape in enumerate(('rect', 'round', 'ellipse')):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        x = u(20 + 120 * i)
        box = (x, u(20), x + u(100), u(120))
        if shape == 'rect':
            w.rectangle(*box)
        elif shape == 'round':
            w.round_rect(*box, u(30), u(20))
        else:
            w.ellipse(*box)
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
    p = w.pen(PS_INSIDEFRAME, u(10), rgb(30, 60, 200))
    b = w.brush(BS_SOLID, rgb(250, 240, 200))
    w.select(p)
    w.select(b)
    w.rectangle(u(260), u(130), u(360), u(200))
    w.ellipse(u(260), u(210), u(360), u(270))
    return w.bytes()


@scene('wmf_hatches.wmf', 'WMF: the six hatched brushes, opaque and transparent background, background colour')
def wmf_hatches():
    w, u = wmf_page()
    w.set_bk_color(rgb(255, 255, 180))
    for row, mode in enumerate((OPAQUE, TRANSPARENT)):
        w.set_bk_mode(mode)
        for i in range(6):
            b = w.brush(BS_HATCHED, COLOURS[i], i)
            w.select(b)
            x = u(15 + 60 * i)
            w.rectangle(x, u(20 + 130 * row), x + u(55), u(130 + 130 * row))
            w.delete(b)
    return w.bytes()


@scene('wmf_arcs.wmf', 'WMF: Arc, Pie and Chord in all quadrants, filled and outlined')
def wmf_arcs():
    w, u = wmf_page()
    pen = w.pen(PS_SOLID, u(2), rgb(0, 0, 0))
    w.select(pen)
    for i, (xs, ys, xe, ye) in enumerate(((100, 0, 0, 0), (0, 0, 100, 100), (0, 100, 100, 50), (50, 0, 50, 100))):
        x = 15 + 92 * i
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.arc(u(x), u(15), u(x + 80), u(85), u(x + xs * 80 // 100), u(15 + ys * 70 // 100),
              u(x + xe * 80 // 100), u(15 + ye * 70 // 100))
        w.pie(u(x), u(100), u(x + 80), u(180), u(x + xs * 80 // 100), u(100 + ys * 80 // 100),
              u(x + xe * 80 // 100), u(100 + ye * 80 // 100))
        w.chord(u(x), u(195), u(x + 80), u(275), u(x + xs * 80 // 100), u(195 + ys * 80 // 100),
                u(x + xe * 80 // 100), u(195 + ye * 80 // 100))
        w.delete(b)
    return w.bytes()


@scene('wmf_polypolygon.wmf', 'WMF: PolyPolygon and polygons under alternate and winding fill modes')
def wmf_polypolygon():
    w, u = wmf_page()
    b = w.brush(BS_SOLID, rgb(40, 90, 200))
    w.select(b)
    for i, mode in enumerate((ALTERNATE, WINDING)):
        w.set_poly_fill_mode(mode)
        cx = 95 + 190 * i
        w.polygon([(u(x), u(y)) for x, y in star(cx, 80, 65)])
        outer = [(u(x), u(y)) for x, y in ((cx - 75, 160), (cx + 75, 160), (cx + 75, 275), (cx - 75, 275))]
        inner = [(u(x), u(y)) for x, y in ((cx - 40, 185), (cx - 40, 250), (cx + 40, 250), (cx + 40, 185))]
        same = [(u(x), u(y)) for x, y in ((cx - 20, 200), (cx + 60, 200), (cx + 60, 265), (cx - 20, 265))]
        w.poly_polygon([outer, inner, same])
    return w.bytes()


@scene('wmf_rop2.wmf', 'WMF: all sixteen binary raster operations of pens and fills over coloured bands')
def wmf_rop2():
    w, u = wmf_page()
    for i in range(4):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.select(w.null)
        w.rectangle(u(0), u(20 + 60 * i), u(384), u(80 + 60 * i))
        w.delete(b)
    b = w.brush(BS_SOLID, rgb(60, 200, 120))
    w.select(b)
    for rop in range(1, 17):
        w.set_rop2(rop)
        x = 10 + 23 * (rop - 1)
        w.rectangle(u(x), u(10), u(x + 18), u(270))
    w.set_rop2(R2_COPYPEN)
    return w.bytes()


@scene('wmf_window_scale.wmf', 'WMF: window origin and extent, OffsetWindowOrg and ScaleWindowExt, negative extents (flipped y)')
def wmf_window_scale():
    w, u = wmf_page(upi=96)
    b = w.brush(BS_SOLID, COLOURS[0])
    w.select(b)
    w.rectangle(10, 10, 110, 80)
    w.offset_window_org(-130, 0)           # later shapes move right by 130
    w.rectangle(10, 10, 110, 80)
    w.scale_window_ext(2, 1, 2, 1)          # the window doubles: shapes shrink by half
    w.ellipse(10, 200, 110, 260)
    w.set_window_org(0, 288)
    w.set_window_ext(384, -288)             # y grows upwards
    b2 = w.brush(BS_SOLID, COLOURS[2])
    w.select(b2)
    w.polygon([(250, 20), (370, 20), (310, 120)])
    return w.bytes()


@scene('wmf_viewport.wmf', 'WMF: anisotropic mapping with viewport origin/extent, OffsetViewportOrg, ScaleViewportExt')
def wmf_viewport():
    w, u = wmf_page(upi=96)
    w.set_map_mode(MM_ANISOTROPIC)
    w.set_window_org(0, 0)
    w.set_window_ext(1000, 1000)
    w.set_viewport_org(0, 0)
    w.set_viewport_ext(384, 288)
    b = w.brush(BS_SOLID, COLOURS[1])
    w.select(b)
    w.rectangle(50, 50, 450, 450)
    w.offset_viewport_org(192, 0)
    w.ellipse(50, 50, 450, 450)
    w.scale_viewport_ext(1, 2, 1, 2)
    w.offset_viewport_org(-192, 144)
    b2 = w.brush(BS_SOLID, COLOURS[4])
    w.select(b2)
    w.rectangle(100, 100, 900, 900)
    return w.bytes()


@scene('wmf_save_restore.wmf', 'WMF: SaveDC/RestoreDC of pens, brushes, window origin and clipping, nested and relative')
def wmf_save_restore():
    w, u = wmf_page(upi=96)
    red = w.brush(BS_SOLID, COLOURS[0])
    w.select(red)
    w.save_dc()
    green = w.brush(BS_SOLID, COLOURS[1])
    w.select(green)
    w.set_window_org(-200, 0)
    w.intersect_clip(0, 0, 60, 300)
    w.save_dc()
    w.set_window_org(-200, -150)
    w.rectangle(10, 10, 150, 100)
    w.restore_dc(-2)                        # back to red, no clip, origin 0
    w.rectangle(10, 10, 150, 100)
    w.rectangle(10, 160, 150, 250)
    return w.bytes()


@scene('wmf_clip_rects.wmf', 'WMF: IntersectClipRect, ExcludeClipRect, OffsetClipRgn over filled shapes')
def wmf_clip_rects():
    w, u = wmf_page(upi=96)
    b = w.brush(BS_SOLID, COLOURS[2])
    w.select(b)
    w.save_dc()
    w.intersect_clip(20, 20, 170, 130)
    w.exclude_clip(60, 50, 120, 100)
    w.ellipse(0, 0, 190, 150)
    w.offset_clip(190, 130)
    b2 = w.brush(BS_SOLID, COLOURS[0])
    w.select(b2)
    w.rectangle(150, 100, 384, 288)
    w.restore_dc(-1)
    w.rectangle(20, 200, 100, 270)
    return w.bytes()


@scene('wmf_regions.wmf', 'WMF: CreateRegion with FillRegion, FrameRegion, PaintRegion, InvertRegion, SelectClipRegion')
def wmf_regions():
    w, u = wmf_page(upi=96)
    stripes = w.brush(BS_SOLID, COLOURS[3])
    w.select(stripes)
    w.rectangle(0, 200, 384, 288)
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
    w.ellipse(220, 140, 380, 288)
    return w.bytes()


@scene('wmf_text_fonts.wmf', 'WMF: TextOut in Arial, Times New Roman and Courier New, several sizes, bold, italic, underline, strike-out')
def wmf_text_fonts():
    w, u = wmf_page()
    w.set_bk_mode(TRANSPARENT)
    y = 12
    for face, family in (('Arial', FF_SWISS), ('Times New Roman', FF_ROMAN), ('Courier New', FF_MODERN | FIXED_PITCH)):
        for size, weight, italic, underline, strike in ((14, FW_NORMAL, 0, 0, 0), (20, FW_BOLD, 0, 1, 0), (26, FW_NORMAL, 1, 0, 1)):
            f = w.font(-u(size), face, weight, italic, underline, strike, pitch_family=family)
            w.select(f)
            w.set_text_color(COLOURS[(y // 10) % 8])
            w.text_out(u(10), u(y), '%s %d Hamburgefonts' % (face.split()[0], size))
            w.delete(f)
            y += size + 6
    return w.bytes()


@scene('wmf_text_align.wmf', 'WMF: ExtTextOut alignments (left/centre/right x top/baseline/bottom), opaque and clipping rectangles, advances')
def wmf_text_align():
    w, u = wmf_page()
    f = w.font(-u(16), 'Arial')
    w.select(f)
    guide = w.pen(PS_SOLID, 0, rgb(200, 200, 200))
    w.select(guide)
    for i, h in enumerate((TA_LEFT, TA_CENTER, TA_RIGHT)):
        for j, v in enumerate((TA_TOP, TA_BASELINE, TA_BOTTOM)):
            x, y = u(70 + 120 * i), u(30 + 40 * j)
            w.move_to(x - u(5), y)
            w.line_to(x + u(5), y)
            w.set_text_align(h | v)
            w.ext_text_out(x, y, 'Align')
    w.set_text_align(TA_LEFT | TA_TOP)
    w.set_bk_color(rgb(255, 230, 150))
    w.set_text_color(rgb(20, 20, 140))
    w.ext_text_out(u(20), u(160), 'Opaque box', ETO_OPAQUE, (u(10), u(155), u(180), u(185)))
    w.ext_text_out(u(200), u(160), 'Clipped text here', ETO_CLIPPED, (u(200), u(160), u(290), u(175)))
    w.ext_text_out(u(20), u(220), 'Spaced', 0, None, [u(22)] * 6)
    w.set_bk_mode(TRANSPARENT)
    w.ext_text_out(u(200), u(220), 'Both', ETO_OPAQUE | ETO_CLIPPED, (u(195), u(215), u(360), u(250)), [u(30)] * 4)
    return w.bytes()


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


@scene('wmf_dib_blits.wmf', 'WMF: DIBBitBlt, DIBStretchBlt (mirrored too) and StretchDIB of 24-bit and 8-bit pictures')
def wmf_dib_blits():
    w, u = wmf_page(upi=96)
    h24, b24 = picture(24)
    h8, b8 = picture(8)
    w.dib_bit_blt(10, 10, 32, 24, 0, 0, SRCCOPY, h24, b24)
    w.dib_stretch_blt(60, 10, 128, 96, 0, 0, 32, 24, SRCCOPY, h24, b24)
    w.dib_stretch_blt(200, 10, 160, 96, 0, 0, 32, 24, SRCCOPY, h8, b8)
    w.stretch_dib(10, 130, 170, 140, 0, 0, 32, 24, SRCCOPY, h8, b8)
    w.stretch_dib(200, 130, 160, 140, 8, 4, 16, 16, SRCCOPY, h24, b24)
    return w.bytes()


@scene('wmf_dib_depths.wmf', 'WMF: StretchDIB at 1, 4, 8, 16, 24 and 32 bits a pixel, bottom-up and top-down')
def wmf_dib_depths():
    w, u = wmf_page(upi=96)
    for i, bits in enumerate((1, 4, 8, 16, 24, 32)):
        h, b = picture(bits, top_down=(i % 2 == 1))
        x, y = 10 + 125 * (i % 3), 15 + 135 * (i // 3)
        w.stretch_dib(x, y, 112, 120, 0, 0, 32, 24, SRCCOPY, h, b)
    return w.bytes()


@scene('wmf_set_dib_to_dev.wmf', 'WMF: SetDIBitsToDevice, whole and in part (source offset, a band of scan lines)')
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


@scene('wmf_dib_rops.wmf', 'WMF: StretchDIB raster operations (AND, OR, XOR, inverted source, erase, merge) and PatBlt')
def wmf_dib_rops():
    w, u = wmf_page(upi=96)
    for i in range(3):
        b = w.brush(BS_SOLID, COLOURS[i])
        w.select(b)
        w.select(w.null)
        w.rectangle(0, 96 * i, 384, 96 * i + 96)
        w.delete(b)
    h, b = picture(24)
    pat = w.brush(BS_SOLID, rgb(255, 200, 0))
    w.select(pat)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT)
    for i, rop in enumerate(rops):
        x, y = 8 + 94 * (i % 4), 8 + 96 * (i // 4)
        if rop in (PATCOPY, PATINVERT, DSTINVERT):
            w.pat_blt(x, y, 80, 80, rop)
        else:
            w.stretch_dib(x, y, 80, 80, 0, 0, 32, 24, rop, h, b)
    return w.bytes()


@scene('wmf_pattern_brush.wmf', 'WMF: DIB pattern brushes (1-bit and 24-bit patterns) filling shapes')
def wmf_pattern_brush():
    w, u = wmf_page(upi=96)
    h1, b1 = dib(8, 8, 1, lambda x, y: 1 if (x + y) % 8 < 3 else 0, palette=[(255, 255, 255), (200, 30, 30)])
    p1 = w.dib_brush(h1, b1)
    w.select(p1)
    w.rectangle(20, 20, 180, 140)
    h24, b24 = dib(8, 8, 24, lambda x, y: (30, 60, 200) if (x // 4 + y // 4) % 2 else (240, 220, 100))
    p2 = w.dib_brush(h24, b24)
    w.select(p2)
    w.ellipse(200, 20, 370, 140)
    w.polygon([(20, 270), (190, 160), (360, 270)])
    return w.bytes()


@scene('wmf_palette.wmf', 'WMF: CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries and palette-index colours')
def wmf_palette():
    w, u = wmf_page(upi=96)
    pal = w.palette([(200, 30, 30), (30, 150, 40), (30, 60, 200), (230, 180, 20)])
    w.select_palette(pal)
    w.realize_palette()
    for i in range(4):
        b = w.brush(BS_SOLID, 0x01000000 | i)
        w.select(b)
        w.rectangle(20 + 90 * i, 20, 100 + 90 * i, 130)
        w.delete(b)
    w.set_pal_entries(0, [(150, 40, 160)])
    b = w.brush(BS_SOLID, 0x01000000)
    w.select(b)
    w.rectangle(20, 160, 360, 260)
    return w.bytes()


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

@scene('emf_map_origins.emf', 'EMF (hand-checked): window and viewport origins under MM_TEXT and MM_LOMETRIC')
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
    return e.bytes()


@scene('emf_map_scale.emf', 'EMF (hand-checked): ScaleViewportExtEx and ScaleWindowExtEx under MM_ANISOTROPIC')
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
    e.scale_window_ext(1, 2, 1, 3)          # window (50, 33): x * 4, y * 150 / 33
    green = e.brush(BS_SOLID, rgb(30, 150, 40))
    e.select(green)
    e.rectangle(40, 30, 100, 60)           # device (160, 136)-(400, 272)
    return e.bytes()


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


@scene('emf_map_flip.emf', 'EMF (hand-checked): negative viewport extents (y up) under MM_ANISOTROPIC and MM_ISOTROPIC')
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
    return e.bytes()


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


@scene('emf_save_restore.emf', 'EMF: SaveDC/RestoreDC nested (relative counts) over pens, brushes, transforms, mapping and clipping')
def emf_save_restore():
    e = emf_page()
    red = e.brush(BS_SOLID, COLOURS[0])
    e.select(red)
    e.save_dc()
    e.set_world_transform((1.0, 0.0, 0.0, 1.0, 240.0, 0.0))
    green = e.brush(BS_SOLID, COLOURS[1])
    e.select(green)
    e.intersect_clip(0, 0, 100, 360)
    e.save_dc()
    e.set_map_mode(MM_ANISOTROPIC)
    e.set_window_ext(1, 1)
    e.set_viewport_ext(2, 2)
    e.rectangle(10, 10, 100, 80)
    e.restore_dc(-1)
    e.rectangle(10, 200, 200, 340)
    e.restore_dc(-1)
    e.rectangle(10, 10, 150, 150)
    e.rectangle(10, 200, 150, 340)
    return e.bytes()


@scene('emf_pens.emf', 'EMF: CreatePen styles and widths, inside-frame, null pen, deleted and reselected pens')
def emf_pens():
    e = emf_page()
    for i, style in enumerate((PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME)):
        p = e.pen(style, 1, COLOURS[i])
        e.select(p)
        e.move_to(20, 20 + 16 * i)
        e.line_to(460, 20 + 16 * i)
        e.stock(BLACK_PEN)
        e.delete(p)
    for i, width in enumerate((2, 4, 7, 12)):
        p = e.pen(PS_SOLID, width, COLOURS[i])
        e.select(p)
        e.polyline([(20 + 60 * i, 150), (60 + 60 * i, 330), (70 + 60 * i, 160)])
    p = e.pen(PS_INSIDEFRAME, 14, rgb(30, 60, 200))
    e.select(p)
    e.stock(LTGRAY_BRUSH)
    e.rectangle(300, 150, 460, 230)
    e.ellipse(300, 250, 460, 340)
    return e.bytes()


@scene('emf_ext_pens.emf', 'EMF: ExtCreatePen geometric pens: round, square and flat caps, round, bevel and miter joins, user dashes, hatched pen')
def emf_ext_pens():
    e = emf_page()
    caps = (PS_ENDCAP_ROUND, PS_ENDCAP_SQUARE, PS_ENDCAP_FLAT)
    joins = (PS_JOIN_ROUND, PS_JOIN_BEVEL, PS_JOIN_MITER)
    for i, cap in enumerate(caps):
        for j, join in enumerate(joins):
            p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | cap | join, 14, COLOURS[(3 * i + j) % 8])
            e.select(p)
            x, y = 30 + 150 * j, 30 + 95 * i
            e.polyline([(x, y + 60), (x + 50, y), (x + 100, y + 60)])
            e.stock(BLACK_PEN)
            e.delete(p)
    e.set_miter_limit(10)
    p = e.ext_pen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 6, COLOURS[4], dashes=(18, 6, 6, 6))
    e.select(p)
    e.move_to(20, 330)
    e.line_to(460, 330)
    p2 = e.ext_pen(PS_GEOMETRIC | PS_SOLID, 10, rgb(0, 0, 0), BS_HATCHED, HS_CROSS)
    e.select(p2)
    e.move_to(20, 310)
    e.line_to(460, 310)
    return e.bytes()


@scene('emf_brushes.emf', 'EMF: solid, the six hatched, DIB pattern and monochrome brushes, stock brushes, object deletion')
def emf_brushes():
    e = emf_page()
    e.stock(NULL_PEN)
    e.set_bk_color(rgb(255, 255, 210))
    for i in range(6):
        b = e.brush(BS_HATCHED, COLOURS[i], i)
        e.select(b)
        e.rectangle(10 + 77 * i, 10, 80 + 77 * i, 100)
        e.stock(WHITE_BRUSH)
        e.delete(b)
    for i, s in enumerate((WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH)):
        e.stock(s)
        e.rectangle(10 + 77 * i, 120, 80 + 77 * i, 200)
    e.stock(BLACK_PEN)
    hp, bp = dib(8, 8, 24, lambda x, y: (220, 60, 60) if (x + y) % 8 < 4 else (250, 250, 250))
    pb = e.dib_brush(hp, bp)
    e.select(pb)
    e.ellipse(10, 220, 230, 350)
    hm, bm = dib(8, 8, 1, lambda x, y: 1 if x % 4 == 0 or y % 4 == 0 else 0, palette=[(0, 0, 0), (255, 255, 255)])
    mb = e.dib_brush(hm, bm, mono=True)
    e.set_text_color(rgb(20, 20, 160))
    e.set_bk_color(rgb(255, 240, 200))
    e.select(mb)
    e.rectangle(250, 220, 470, 350)
    return e.bytes()


@scene('emf_rop2_fill.emf', 'EMF: binary raster operations (all sixteen), background modes, alternate and winding fill')
def emf_rop2_fill():
    e = emf_page()
    e.stock(NULL_PEN)
    for i in range(4):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(0, 10 + 45 * i, 480, 55 + 45 * i)
    g = e.brush(BS_SOLID, rgb(60, 200, 120))
    e.select(g)
    for rop in range(1, 17):
        e.set_rop2(rop)
        e.rectangle(10 + 29 * (rop - 1), 5, 33 + 29 * (rop - 1), 195)
    e.set_rop2(R2_COPYPEN)
    e.stock(BLACK_PEN)
    b = e.brush(BS_SOLID, COLOURS[4])
    e.select(b)
    for i, mode in enumerate((ALTERNATE, WINDING)):
        e.set_poly_fill_mode(mode)
        e.polygon(star(120 + 240 * i, 280, 75))
    return e.bytes()


@scene('emf_shapes.emf', 'EMF: Rectangle, RoundRect, Ellipse, Polygon, Polyline, PolyPolygon, PolyPolyline, PolylineTo, SetPixelV')
def emf_shapes():
    e = emf_page()
    pen = e.pen(PS_SOLID, 2, 0)
    e.select(pen)
    emf_figures(e, 20, 20, 90)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.round_rect(330, 20, 460, 110, 40, 30)
    e.poly_polygon([regular(80, 200, 60, 6), regular(80, 200, 30, 6), regular(200, 200, 50, 3)])
    e.poly_polyline([[(280, 140), (460, 140), (370, 240)], [(280, 250), (460, 250)], [(280, 270), (300, 340), (320, 270)]])
    e.move_to(20, 340)
    e.polyline_to([(80, 280), (140, 340), (200, 280)])
    e.line_to(240, 340)
    for i in range(30):
        e.set_pixel(250 + 5 * i, 350, COLOURS[i % 6])
    return e.bytes()


@scene('emf_shapes16.emf', 'EMF: the 16-bit forms: Polygon16, Polyline16, PolyBezier16, PolyBezierTo16, PolylineTo16, PolyPolyline16, PolyPolygon16, PolyDraw16')
def emf_shapes16():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, COLOURS[7])
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
    pts = [(20, 340), (60, 240), (120, 340), (160, 250), (200, 250), (240, 340), (300, 340), (300, 260), (360, 260)]
    types = [PT_MOVETO, PT_BEZIERTO, PT_BEZIERTO, PT_BEZIERTO, PT_LINETO, PT_LINETO, PT_MOVETO, PT_LINETO,
             PT_LINETO | PT_CLOSEFIGURE]
    e.poly_draw(pts, types, short=True)
    return e.bytes()


@scene('emf_arcs.emf', 'EMF: Arc, Chord, Pie both ways (SetArcDirection), ArcTo and AngleArc joined to the current position')
def emf_arcs():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    for row, direction in enumerate((AD_COUNTERCLOCKWISE, AD_CLOCKWISE)):
        e.set_arc_direction(direction)
        y = 10 + 115 * row
        b = e.brush(BS_SOLID, COLOURS[row])
        e.select(b)
        e.arc(10, y, 110, y + 100, 110, y, 10, y + 100)
        e.chord(125, y, 225, y + 100, 225, y + 50, 125, y)
        e.pie(240, y, 340, y + 100, 340, y + 20, 240, y + 20)
        e.move_to(355, y + 50)
        e.arc_to(370, y, 470, y + 100, 470, y + 50, 370, y + 50)
        e.line_to(470, y + 100)
    e.set_arc_direction(AD_COUNTERCLOCKWISE)
    e.move_to(20, 340)
    e.angle_arc(100, 300, 40, 0.0, 270.0)
    e.line_to(200, 340)
    e.angle_arc(300, 300, 40, 90.0, -200.0)
    e.line_to(460, 340)
    return e.bytes()


@scene('emf_beziers.emf', 'EMF: PolyBezier, PolyBezierTo, PolyDraw (move, line, Bezier, close figure), PolylineTo')
def emf_beziers():
    e = emf_page()
    pen = e.pen(PS_SOLID, 4, COLOURS[2])
    e.select(pen)
    e.polybezier([(20, 150), (80, 10), (160, 290), (220, 150), (260, 60), (300, 60), (340, 150)])
    e.move_to(20, 200)
    e.polybezier_to([(120, 360), (200, 180), (300, 300)])
    e.polyline_to([(360, 200), (460, 300)])
    pen2 = e.pen(PS_SOLID, 2, COLOURS[0])
    e.select(pen2)
    pts = [(360, 20), (460, 20), (460, 120), (400, 150), (360, 120), (380, 60), (420, 60), (420, 100)]
    types = [PT_MOVETO, PT_LINETO, PT_LINETO, PT_BEZIERTO, PT_BEZIERTO, PT_BEZIERTO | PT_CLOSEFIGURE, PT_MOVETO,
             PT_LINETO]
    e.poly_draw(pts, types)
    return e.bytes()


@scene('emf_paths_fill.emf', 'EMF: paths of lines, Beziers and arcs: BeginPath/EndPath, CloseFigure, FillPath, StrokeAndFillPath, both fill modes')
def emf_paths_fill():
    e = emf_page()
    pen = e.pen(PS_SOLID, 3, 0)
    e.select(pen)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    for i, mode in enumerate((ALTERNATE, WINDING)):
        e.set_poly_fill_mode(mode)
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


@scene('emf_abort_path.emf', 'EMF: AbortPath drops the path begun (its figure is never drawn), later shapes draw as usual')
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
    return e.bytes()


@scene('emf_paths_stroke.emf', 'EMF: StrokePath with wide geometric pens, FlattenPath then StrokePath, WidenPath then FillPath')
def emf_paths_stroke():
    e = emf_page()
    p = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, 12, COLOURS[0])
    e.select(p)
    e.begin_path()
    e.move_to(30, 40)
    e.polybezier_to([(120, -20), (160, 160), (240, 60)])
    e.line_to(200, 140)
    e.end_path()
    e.stroke_path()
    p2 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_FLAT | PS_JOIN_MITER, 8, COLOURS[2])
    e.select(p2)
    e.begin_path()
    path_ellipse(e, 270, 20, 460, 150)
    e.end_path()
    e.flatten_path()
    e.stroke_path()
    p3 = e.ext_pen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_SQUARE | PS_JOIN_BEVEL, 20, 0)
    e.select(p3)
    b = e.brush(BS_SOLID, COLOURS[1])
    e.select(b)
    e.begin_path()
    e.move_to(40, 200)
    e.line_to(200, 330)
    e.line_to(300, 200)
    e.line_to(440, 320)
    e.end_path()
    e.widen_path()
    e.fill_path()
    return e.bytes()


@scene('emf_clip_path.emf', 'EMF: SelectClipPath (copy, and, or, diff) of ellipses and text-free figures over stripes')
def emf_clip_path():
    e = emf_page()
    e.stock(NULL_PEN)

    def stripes(x0, y0, w, h):
        for i in range(0, w, 12):
            b = e.brush(BS_SOLID, COLOURS[(i // 12) % 6])
            e.select(b)
            e.rectangle(x0 + i, y0, x0 + i + 12, y0 + h)
            e.stock(WHITE_BRUSH)
            e.delete(b)

    for i, mode in enumerate((RGN_COPY, RGN_AND, RGN_OR, RGN_DIFF)):
        x, y = 10 + 235 * (i % 2), 10 + 175 * (i // 2)
        e.save_dc()
        e.intersect_clip(x, y, x + 200, y + 160)
        e.begin_path()
        path_ellipse(e, x + 20, y + 10, x + 180, y + 150)
        path_polygon(e, [(x, y + 160), (x + 100, y), (x + 200, y + 160)])
        e.end_path()
        e.select_clip_path(mode)
        stripes(x, y, 216, 160)
        e.restore_dc(-1)
    return e.bytes()


@scene('emf_clip_rects.emf', 'EMF: IntersectClipRect, ExcludeClipRect, OffsetClipRgn, clip reset by ExtSelectClipRgn with no region')
def emf_clip_rects():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[2])
    e.select(b)
    e.intersect_clip(20, 20, 220, 170)
    e.exclude_clip(70, 60, 170, 130)
    e.ellipse(0, 0, 240, 190)
    e.offset_clip(240, 170)
    b2 = e.brush(BS_SOLID, COLOURS[0])
    e.select(b2)
    e.rectangle(200, 150, 480, 360)
    e.ext_select_clip_rgn([], RGN_COPY)
    e.stock(BLACK_PEN)
    b3 = e.brush(BS_SOLID, COLOURS[3])
    e.select(b3)
    e.rectangle(20, 250, 150, 340)
    return e.bytes()


@scene('emf_clip_regions.emf', 'EMF: ExtSelectClipRgn with copy, and, or, xor and diff of rectangle regions')
def emf_clip_regions():
    e = emf_page()
    e.stock(NULL_PEN)
    for i, mode in enumerate((RGN_COPY, RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF)):
        x = 10 + 93 * i
        e.ext_select_clip_rgn([(x, 20, x + 60, 200)], RGN_COPY)
        if mode != RGN_COPY:
            e.ext_select_clip_rgn([(x + 30, 100, x + 85, 300), (x + 5, 310, x + 50, 340)], mode)
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(0, 0, 480, 360)
        e.stock(WHITE_BRUSH)
        e.delete(b)
    return e.bytes()


@scene('emf_region_paint.emf', 'EMF: FillRgn, FrameRgn, PaintRgn, InvertRgn of several-rectangle regions')
def emf_region_paint():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, COLOURS[3])
    e.select(b)
    e.rectangle(0, 200, 480, 360)
    fill = e.brush(BS_SOLID, COLOURS[0])
    e.fill_rgn([(20, 20, 140, 60), (50, 60, 110, 160)], fill)
    frame = e.brush(BS_SOLID, COLOURS[2])
    e.frame_rgn([(170, 20, 300, 160)], frame, 8, 5)
    paint = e.brush(BS_SOLID, COLOURS[1])
    e.select(paint)
    e.paint_rgn([(330, 20, 460, 90), (360, 90, 430, 160)])
    e.invert_rgn([(20, 220, 240, 340), (300, 250, 460, 320)])
    return e.bytes()


@scene('emf_text_fonts.emf', 'EMF: ExtTextOutW in Arial, Times New Roman and Courier New: sizes 10-36, bold, italic, underline, strike-out')
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


@scene('emf_text_align.emf', 'EMF: text alignments (3 x 3), TA_UPDATECP runs, cell height (positive) and character height fonts, text colours')
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
    e.set_text_align(TA_UPDATECP | TA_TOP)
    e.move_to(20, 180)
    for i, word in enumerate(('Moving ', 'current ', 'position')):
        e.set_text_color(COLOURS[i])
        e.ext_text_out(0, 0, word)
    e.set_text_align(TA_LEFT | TA_TOP)
    cell = e.font(30, 'Times New Roman')
    e.select(cell)
    e.ext_text_out(20, 230, 'Cell height 30')
    char = e.font(-30, 'Times New Roman')
    e.select(char)
    e.ext_text_out(20, 280, 'Char height 30')
    return e.bytes()


@scene('emf_text_options.emf', 'EMF: ExtTextOutW/A with opaque and clipping rectangles and advances, PolyTextOutW, text under a clip')
def emf_text_options():
    e = emf_page()
    f = e.font(-20, 'Arial')
    e.select(f)
    e.set_bk_color(rgb(255, 230, 150))
    e.set_text_color(rgb(20, 20, 140))
    e.ext_text_out(20, 15, 'Opaque box', ETO_OPAQUE, (10, 10, 200, 45))
    e.ext_text_out(240, 15, 'Clipped at the box', ETO_CLIPPED, (240, 15, 360, 30))
    e.ext_text_out(20, 60, 'Spaced', 0, None, [30] * 6)
    e.set_bk_mode(TRANSPARENT)
    e.ext_text_out(240, 60, 'Narrow ANSI text', 0, None, None, wide=False)
    e.ext_text_out(20, 105, 'Dx and opaque', ETO_OPAQUE, (15, 100, 300, 135), [14] * 13, wide=False)
    e.poly_text_out([(20, 150, 'Poly one', 0, None, None), (200, 150, 'Poly two', ETO_OPAQUE, (195, 148, 300, 175), None),
                     (340, 150, 'Three', 0, None, [24] * 5)])
    e.save_dc()
    e.intersect_clip(20, 250, 200, 270)
    big = e.font(-40, 'Arial', FW_BOLD)
    e.select(big)
    e.set_text_color(COLOURS[0])
    e.ext_text_out(20, 240, 'Clip region')
    e.restore_dc(-1)
    return e.bytes()


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


@scene('emf_stretchdibits.emf', 'EMF: StretchDIBits at 1, 4, 8, 16 (555 and 565), 24 and 32 bits, top-down, stretched and mirrored')
def emf_stretchdibits():
    e = emf_page()
    cases = [dict(bits=1), dict(bits=4), dict(bits=8), dict(bits=16), dict(bits=16, bitfields=(0xF800, 0x07E0, 0x001F)),
             dict(bits=24, top_down=True), dict(bits=32), dict(bits=32, bitfields=(0xFF0000, 0x00FF00, 0x0000FF))]
    for i, c in enumerate(cases):
        src = picture(**c)
        x, y = 10 + 118 * (i % 4), 10 + 118 * (i // 4)
        e.stretch_dibits(x, y, 100, 100, 0, 0, 32, 24, SRCCOPY, src)
    src = picture(24)
    e.stretch_dibits(110, 250, -100, 100, 0, 0, 32, 24, SRCCOPY, src)
    e.stretch_dibits(130, 350, 100, -100, 0, 0, 32, 24, SRCCOPY, src)
    e.stretch_dibits(250, 250, 220, 100, 8, 4, 16, 12, SRCCOPY, src)
    return e.bytes()


@scene('emf_setdibits.emf', 'EMF: SetDIBitsToDevice whole, with a source offset and as a band of scan lines, 8 and 24 bits')
def emf_setdibits():
    e = emf_page()
    src = picture(24, 96, 72)
    e.set_dibits_to_device(20, 20, 96, 72, 0, 0, 0, 72, src)
    e.set_dibits_to_device(150, 20, 50, 40, 20, 10, 0, 72, src)
    src8 = picture(8, 96, 72)
    e.set_dibits_to_device(250, 20, 96, 72, 0, 0, 0, 72, src8)
    e.set_dibits_to_device(20, 150, 96, 72, 0, 0, 0, 72, picture(4, 96, 72))
    e.set_dibits_to_device(150, 150, 96, 72, 0, 0, 0, 72, picture(1, 96, 72))
    e.set_dibits_to_device(280, 150, 96, 72, 0, 0, 0, 72, picture(32, 96, 72, top_down=True))
    return e.bytes()


@scene('emf_blt_rops.emf', 'EMF: BitBlt and StretchBlt with source, pattern and destination raster operations, PatBlt-like BitBlt without source')
def emf_blt_rops():
    e = emf_page()
    e.stock(NULL_PEN)
    for i in range(3):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(0, 120 * i, 481, 120 * i + 120)
    pat = e.brush(BS_SOLID, rgb(255, 200, 0))
    e.select(pat)
    src = picture(24)
    rops = (SRCCOPY, SRCAND, SRCPAINT, SRCINVERT, NOTSRCCOPY, SRCERASE, NOTSRCERASE, MERGECOPY, MERGEPAINT, PATCOPY,
            PATINVERT, DSTINVERT, BLACKNESS, WHITENESS, PATPAINT)
    for i, rop in enumerate(rops):
        x, y = 10 + 93 * (i % 5), 10 + 120 * (i // 5)
        if rop in (PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS):
            e.bit_blt(x, y, 80, 100, rop)
        elif i % 2:
            e.bit_blt(x, y, 32, 24, rop, src)
            e.stretch_blt(x, y + 30, 80, 70, 0, 0, 32, 24, rop, src)
        else:
            e.stretch_blt(x, y, 80, 100, 0, 0, 32, 24, rop, src)
    return e.bytes()


@scene('emf_mask_plg.emf', 'EMF: MaskBlt with a 1-bit mask and PlgBlt into a parallelogram')
def emf_mask_plg():
    e = emf_page()
    src = picture(24, 64, 64)
    mask = dib(64, 64, 1, lambda x, y: 1 if (x - 32) ** 2 + (y - 32) ** 2 < 900 else 0,
               palette=[(0, 0, 0), (255, 255, 255)])
    b = e.brush(BS_SOLID, rgb(200, 220, 255))
    e.select(b)
    e.stock(NULL_PEN)
    e.rectangle(0, 0, 240, 361)
    e.mask_blt(40, 40, 64, 64, 0xCCAA0020, src, 0, 0, mask, 0, 0)   # source where the mask is set, else keep
    e.mask_blt(40, 180, 64, 64, 0xCCF00020, src, 0, 0, mask, 0, 0)  # source where set, else the brush
    e.plg_blt([(300, 40), (440, 80), (260, 180)], 0, 0, 64, 64, src)
    e.plg_blt([(300, 220), (460, 220), (300, 340)], 0, 0, 64, 64, src)
    return e.bytes()


@scene('emf_alpha_transparent.emf', 'EMF: AlphaBlend with constant and per-pixel alpha, TransparentBlt with a key colour')
def emf_alpha_transparent():
    e = emf_page()
    e.stock(NULL_PEN)
    b = e.brush(BS_SOLID, rgb(30, 60, 200))
    e.select(b)
    e.rectangle(0, 0, 481, 120)
    src = picture(32, 32, 24)
    e.alpha_blend(20, 10, 120, 100, 0, 0, 32, 24, src, constant_alpha=128)
    e.alpha_blend(160, 10, 120, 100, 0, 0, 32, 24, src, constant_alpha=64)
    fade = picture(32, 32, 24, alpha=lambda x, y: x * 255 // 31)
    e.alpha_blend(300, 10, 160, 100, 0, 0, 32, 24, fade, per_pixel=True)
    e.alpha_blend(300, 130, 160, 100, 0, 0, 32, 24, fade, constant_alpha=128, per_pixel=True)
    key = dib(32, 24, 24, lambda x, y: (255, 0, 255) if (x - 16) ** 2 + (y - 12) ** 2 > 100 else (220, 30, 30))
    e.rectangle(0, 250, 481, 361)
    e.transparent_blt(20, 260, 128, 96, 0, 0, 32, 24, key, rgb(255, 0, 255))
    e.transparent_blt(200, 130, 96, 72, 0, 0, 32, 24, key, rgb(255, 0, 255))
    return e.bytes()


@scene('emf_gradient.emf', 'EMF: GradientFill horizontal and vertical rectangles and triangles')
def emf_gradient():
    e = emf_page()
    e.gradient_fill([(20, 20, 255, 0, 0), (220, 120, 0, 0, 255)], [(0, 1)], GRADIENT_FILL_RECT_H)
    e.gradient_fill([(260, 20, 255, 255, 0), (460, 120, 0, 160, 0)], [(0, 1)], GRADIENT_FILL_RECT_V)
    e.gradient_fill([(20, 340, 255, 0, 0), (240, 150, 0, 255, 0), (460, 340, 0, 0, 255), (240, 250, 255, 255, 255)],
                    [(0, 1, 3), (1, 2, 3)], GRADIENT_FILL_TRIANGLE)
    return e.bytes()


@scene('emf_palette.emf', 'EMF: CreatePalette, SelectPalette, RealizePalette, SetPaletteEntries, palette-index colours, DIB_PAL_COLORS bitmap, EOF palette')
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
    return e.bytes()


@scene('emf_comments_skipped.emf', 'EMF: GDI comments, an EMF+ comment, ICM and mapper records and an unknown record are skipped; drawing goes on')
def emf_comments_skipped():
    e = emf_page()
    e.comment(b'GDIC' + u32(0x40000004) + u32(0))           # a public comment: begin group
    e.comment(b'EMF+' + b'\x01\x40\x01\x00' + u32(28) + u32(16) + u32(0xDBC01002) + u32(1) + u32(0))
    e.set_icm_mode(1)
    e.set_mapper_flags(0)
    e.rec(0x7F0, b'\x00' * 12)                               # not a record kind
    for i in range(6):
        b = e.brush(BS_SOLID, COLOURS[i])
        e.select(b)
        e.rectangle(20 + 75 * i, 40, 85 + 75 * i, 320)
        e.stock(WHITE_BRUSH)
        e.delete(b)
    return e.bytes()


@scene('emf_stock_objects.emf', 'EMF: stock pens, brushes and fonts selected by index (white, grey, black, null, default GUI font)')
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
    e.stock(DEFAULT_GUI_FONT)
    e.set_bk_mode(TRANSPARENT)
    e.ext_text_out(20, 260, 'Default GUI font')
    return e.bytes()


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
    if len(argv) == 3 and argv[1] == '--large':
        with open(argv[2], 'wb') as f:
            f.write(large_emf())
        return 0
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    lines = ['# file\twidth x height\twhat it covers']
    for name, what, fn in SCENES:
        data = fn()
        with open(os.path.join(out, name), 'wb') as f:
            f.write(data)
        size = '%dx%d' % ((WMF_W, WMF_H) if name.endswith('.wmf') else (EMF_W, EMF_H))
        lines.append('%s\t%s\t%s' % (name, size, what))
    with open(os.path.join(out, 'index.tsv'), 'w') as f:
        f.write('\n'.join(lines) + '\n')
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
