"""The metafile corpus's common ground: the registry of files (compared with an outside
renderer, or checked by hand against worked expectations), the white page every file starts
with, test pictures and figures, and the worked values of raster operations.

The page matters to the outside renderers: one of them sizes its picture by what is drawn,
so every file draws its page first and nothing beyond it.
"""
import math

from metafile_records import *  # noqa: F401,F403

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
