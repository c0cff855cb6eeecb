"""Record writers for Windows metafiles (placeable WMF and EMF), written field by field.

Wmf and Emf collect records through one method per record kind and hand back the file's
bytes. Object slots are tracked as a player fills them: a WMF object takes the lowest free
slot, an EMF object the index its creating record names. Coordinates are logical units.
"""
import struct

# Stock objects (EMF: SelectObject(0x80000000 | n)).
WHITE_BRUSH, LTGRAY_BRUSH, GRAY_BRUSH, DKGRAY_BRUSH, BLACK_BRUSH, NULL_BRUSH = 0, 1, 2, 3, 4, 5
WHITE_PEN, BLACK_PEN, NULL_PEN = 6, 7, 8
DEVICE_DEFAULT_FONT, DEFAULT_PALETTE, DEFAULT_GUI_FONT, DC_BRUSH, DC_PEN = 14, 15, 17, 18, 19

MM_TEXT, MM_LOMETRIC, MM_HIMETRIC, MM_LOENGLISH, MM_HIENGLISH, MM_TWIPS, MM_ISOTROPIC, MM_ANISOTROPIC = range(1, 9)
TRANSPARENT, OPAQUE = 1, 2
ALTERNATE, WINDING = 1, 2
PS_SOLID, PS_DASH, PS_DOT, PS_DASHDOT, PS_DASHDOTDOT, PS_NULL, PS_INSIDEFRAME, PS_USERSTYLE = 0, 1, 2, 3, 4, 5, 6, 7
PS_ENDCAP_ROUND, PS_ENDCAP_SQUARE, PS_ENDCAP_FLAT = 0x000, 0x100, 0x200
PS_JOIN_ROUND, PS_JOIN_BEVEL, PS_JOIN_MITER = 0x0000, 0x1000, 0x2000
PS_COSMETIC, PS_GEOMETRIC = 0x00000, 0x10000
BS_SOLID, BS_NULL, BS_HATCHED, BS_PATTERN, BS_DIBPATTERN, BS_DIBPATTERNPT = 0, 1, 2, 3, 5, 6
HS_HORIZONTAL, HS_VERTICAL, HS_FDIAGONAL, HS_BDIAGONAL, HS_CROSS, HS_DIAGCROSS = range(6)
TA_LEFT, TA_RIGHT, TA_CENTER = 0, 2, 6
TA_TOP, TA_BOTTOM, TA_BASELINE = 0, 8, 24
TA_NOUPDATECP, TA_UPDATECP = 0, 1
ETO_OPAQUE, ETO_CLIPPED, ETO_PDY = 0x2, 0x4, 0x2000
RGN_AND, RGN_OR, RGN_XOR, RGN_DIFF, RGN_COPY = 1, 2, 3, 4, 5
SRCCOPY, SRCPAINT, SRCAND, SRCINVERT, SRCERASE = 0xCC0020, 0xEE0086, 0x8800C6, 0x660046, 0x440328
NOTSRCCOPY, NOTSRCERASE, MERGECOPY, MERGEPAINT = 0x330008, 0x1100A6, 0xC000CA, 0xBB0226
PATCOPY, PATPAINT, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS = 0xF00021, 0xFB0A09, 0x5A0049, 0x550009, 0x42, 0xFF0062
R2_BLACK, R2_NOTMERGEPEN, R2_MASKNOTPEN, R2_NOTCOPYPEN, R2_MASKPENNOT, R2_NOT, R2_XORPEN, R2_NOTMASKPEN = range(1, 9)
R2_MASKPEN, R2_NOTXORPEN, R2_NOP, R2_MERGENOTPEN, R2_COPYPEN, R2_MERGEPENNOT, R2_MERGEPEN, R2_WHITE = range(9, 17)
DIB_RGB_COLORS, DIB_PAL_COLORS = 0, 1
PT_CLOSEFIGURE, PT_LINETO, PT_BEZIERTO, PT_MOVETO = 1, 2, 4, 6
AD_COUNTERCLOCKWISE, AD_CLOCKWISE = 1, 2
MWT_IDENTITY, MWT_LEFTMULTIPLY, MWT_RIGHTMULTIPLY, MWT_SET = 1, 2, 3, 4
GRADIENT_FILL_RECT_H, GRADIENT_FILL_RECT_V, GRADIENT_FILL_TRIANGLE = 0, 1, 2
STRETCH_ANDSCANS, STRETCH_ORSCANS, STRETCH_DELETESCANS, STRETCH_HALFTONE = 1, 2, 3, 4
FW_NORMAL, FW_BOLD = 400, 700
ANSI_CHARSET = 0
FF_ROMAN, FF_SWISS, FF_MODERN = 0x10, 0x20, 0x30
FIXED_PITCH, VARIABLE_PITCH = 1, 2

# Device pixels are 96 to the inch (254 mm is 960 pixels), so a frame of W * 2540 / 96
# hundredths of a millimetre is W pixels: any player sizes the picture alike.
EMF_DEVICE = (960, 960)
EMF_MILLIMETRES = (254, 254)


def rgb(r, g, b):
    return r | g << 8 | b << 16


def s16(v):
    return struct.pack('<h', v)


def u16(v):
    return struct.pack('<H', v & 0xFFFF)


def s32(v):
    return struct.pack('<i', v)


def u32(v):
    return struct.pack('<I', v & 0xFFFFFFFF)


def f32(v):
    return struct.pack('<f', v)


def pad(data, unit):
    return data + b'\0' * (-len(data) % unit)


# --- bitmaps -----------------------------------------------------------------------------

def dib(width, height, bits, pixel, palette=None, top_down=False, bitfields=None):
    """A packed DIB (BITMAPINFOHEADER, colours, rows padded to 4 bytes).

    pixel(x, y) gives a palette index (1/4/8 bits) or an (r, g, b[, a]) tuple; y counts
    from the top. 16 bits are 5-5-5 unless bitfields (r, g, b masks) ask for others."""
    colours = b''
    compression = 0
    if bits <= 8:
        palette = palette or []
        colours = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    elif bitfields:
        compression = 3
        colours = b''.join(u32(m) for m in bitfields)
    rows = []
    for row in range(height):
        y = row if top_down else height - 1 - row
        line = bytearray()
        if bits in (1, 4):
            acc, n = 0, 0
            for x in range(width):
                acc = acc << bits | pixel(x, y)
                n += bits
                if n == 8:
                    line.append(acc)
                    acc, n = 0, 0
            if n:
                line.append(acc << (8 - n))
        elif bits == 8:
            line.extend(pixel(x, y) for x in range(width))
        elif bits == 16:
            masks = bitfields or (0x7C00, 0x03E0, 0x001F)
            for x in range(width):
                r, g, b = pixel(x, y)[:3]
                v = 0
                for c, m in zip((r, g, b), masks):
                    shift = (m & -m).bit_length() - 1
                    top = m >> shift
                    v |= (c * top // 255) << shift
                line.extend(u16(v))
        elif bits == 24:
            for x in range(width):
                r, g, b = pixel(x, y)[:3]
                line.extend((b, g, r))
        elif bits == 32:
            for x in range(width):
                p = pixel(x, y)
                line.extend((p[2], p[1], p[0], p[3] if len(p) > 3 else 0))
        rows.append(pad(bytes(line), 4))
    data = b''.join(rows)
    header = struct.pack('<IiiHHIIiiII', 40, width, -height if top_down else height, 1, bits, compression,
                         len(data), 3780, 3780, len(palette or []) if bits <= 8 else 0, 0)
    return header + colours, data


# --- WMF ---------------------------------------------------------------------------------

class Wmf:
    """A placeable WMF: bbox in logical units, units_per_inch sets the picture size at 96 DPI."""

    def __init__(self, bbox, units_per_inch):
        self.bbox = bbox
        self.upi = units_per_inch
        self.records = []
        self.slots = []  # True where an object lives
        self.max_record = 3

    def rec(self, function, *payload):
        body = b''.join(payload)
        body = pad(body, 2)
        words = 3 + len(body) // 2
        self.max_record = max(self.max_record, words)
        self.records.append(u32(words) + u16(function) + body)
        return self

    def words(self, function, *params):
        return self.rec(function, b''.join(s16(p) if p < 0x8000 else u16(p) for p in params))

    def _object(self):
        for i, used in enumerate(self.slots):
            if not used:
                self.slots[i] = True
                return i
        self.slots.append(True)
        return len(self.slots) - 1

    # state
    def set_window_org(self, x, y): return self.words(0x020B, y, x)
    def set_window_ext(self, x, y): return self.words(0x020C, y, x)
    def set_viewport_org(self, x, y): return self.words(0x020D, y, x)
    def set_viewport_ext(self, x, y): return self.words(0x020E, y, x)
    def offset_window_org(self, x, y): return self.words(0x020F, y, x)
    def offset_viewport_org(self, x, y): return self.words(0x0211, y, x)
    def scale_window_ext(self, xn, xd, yn, yd): return self.words(0x0410, yd, yn, xd, xn)
    def scale_viewport_ext(self, xn, xd, yn, yd): return self.words(0x0412, yd, yn, xd, xn)
    def set_map_mode(self, m): return self.words(0x0103, m)
    def set_bk_color(self, c): return self.rec(0x0201, u32(c))
    def set_bk_mode(self, m): return self.words(0x0102, m)
    def set_rop2(self, r): return self.words(0x0104, r)
    def set_poly_fill_mode(self, m): return self.words(0x0106, m)
    def set_stretch_mode(self, m): return self.words(0x0107, m)
    def set_text_color(self, c): return self.rec(0x0209, u32(c))
    def set_text_align(self, a): return self.words(0x012E, a)
    def set_text_char_extra(self, n): return self.words(0x0108, n)
    def save_dc(self): return self.words(0x001E)
    def restore_dc(self, n=-1): return self.words(0x0127, n & 0xFFFF)
    def intersect_clip(self, l, t, r, b): return self.words(0x0416, b, r, t, l)
    def exclude_clip(self, l, t, r, b): return self.words(0x0415, b, r, t, l)
    def offset_clip(self, x, y): return self.words(0x0220, y, x)
    def escape(self, function, data): return self.rec(0x0626, u16(function) + u16(len(data)) + data)

    # objects
    def pen(self, style, width, colour):
        self.rec(0x02FA, u16(style) + s16(width) + s16(0) + u32(colour))
        return self._object()

    def brush(self, style, colour, hatch=0):
        self.rec(0x02FC, u16(style) + u32(colour) + u16(hatch))
        return self._object()

    def dib_brush(self, header, bits, usage=DIB_RGB_COLORS):
        self.rec(0x0142, u16(BS_DIBPATTERNPT) + u16(usage) + header + bits)
        return self._object()

    def font(self, height, face, weight=FW_NORMAL, italic=0, underline=0, strike=0, escapement=0,
             width=0, pitch_family=0):
        name = face.encode('latin-1')[:31] + b'\0'
        self.rec(0x02FB, s16(height) + s16(width) + s16(escapement) + s16(escapement) + s16(weight) +
                 bytes((italic, underline, strike, ANSI_CHARSET, 0, 0, 0, pitch_family)) + pad(name, 2))
        return self._object()

    def palette(self, entries):
        body = u16(0x300) + u16(len(entries)) + b''.join(bytes((r, g, b, 0)) for r, g, b in entries)
        self.rec(0x00F7, body)
        return self._object()

    def region(self, rects):
        """A region of rectangles, each its own scan (rects must not overlap vertically)."""
        scans = b''
        max_scan = 0
        for l, t, r, b in sorted(rects, key=lambda q: q[1]):
            scans += u16(2) + s16(t) + s16(b) + s16(l) + s16(r) + u16(2)
            max_scan = max(max_scan, 2)
        left = min(q[0] for q in rects)
        top = min(q[1] for q in rects)
        right = max(q[2] for q in rects)
        bottom = max(q[3] for q in rects)
        size = 22 + len(scans)
        body = (u16(0) + u16(6) + u32(0) + u16(size) + u16(len(rects)) + u16(max_scan) +
                s16(left) + s16(top) + s16(right) + s16(bottom) + scans)
        self.rec(0x06FF, body)
        return self._object()

    def select(self, i): return self.words(0x012D, i)

    def delete(self, i):
        self.slots[i] = False
        return self.words(0x01F0, i)

    def select_palette(self, i): return self.words(0x0234, i)
    def realize_palette(self): return self.words(0x0035)
    def set_pal_entries(self, start, entries):
        return self.rec(0x0037, u16(start) + u16(len(entries)) + b''.join(bytes((r, g, b, 0)) for r, g, b in entries))

    def select_clip_region(self, i): return self.words(0x012C, i)
    def fill_region(self, region, brush): return self.words(0x0228, region, brush)
    def frame_region(self, region, brush, w, h): return self.words(0x0429, region, brush, h, w)
    def invert_region(self, region): return self.words(0x012A, region)
    def paint_region(self, region): return self.words(0x012B, region)

    # drawing
    def move_to(self, x, y): return self.words(0x0214, y, x)
    def line_to(self, x, y): return self.words(0x0213, y, x)
    def rectangle(self, l, t, r, b): return self.words(0x041B, b, r, t, l)
    def round_rect(self, l, t, r, b, w, h): return self.words(0x061C, h, w, b, r, t, l)
    def ellipse(self, l, t, r, b): return self.words(0x0418, b, r, t, l)
    def arc(self, l, t, r, b, xs, ys, xe, ye): return self.words(0x0817, ye, xe, ys, xs, b, r, t, l)
    def pie(self, l, t, r, b, xs, ys, xe, ye): return self.words(0x081A, ye, xe, ys, xs, b, r, t, l)
    def chord(self, l, t, r, b, xs, ys, xe, ye): return self.words(0x0830, ye, xe, ys, xs, b, r, t, l)
    def set_pixel(self, x, y, c): return self.rec(0x041F, u32(c) + s16(y) + s16(x))
    def pat_blt(self, x, y, w, h, rop): return self.rec(0x061D, u32(rop) + s16(h) + s16(w) + s16(y) + s16(x))

    def polygon(self, pts): return self.rec(0x0324, u16(len(pts)) + b''.join(s16(x) + s16(y) for x, y in pts))
    def polyline(self, pts): return self.rec(0x0325, u16(len(pts)) + b''.join(s16(x) + s16(y) for x, y in pts))

    def poly_polygon(self, polys):
        return self.rec(0x0538, u16(len(polys)) + b''.join(u16(len(p)) for p in polys) +
                        b''.join(s16(x) + s16(y) for p in polys for x, y in p))

    def text_out(self, x, y, text):
        s = text.encode('latin-1')
        return self.rec(0x0521, u16(len(s)) + pad(s, 2) + s16(y) + s16(x))

    def ext_text_out(self, x, y, text, options=0, rect=None, dx=None):
        s = text.encode('latin-1')
        body = s16(y) + s16(x) + s16(len(s)) + u16(options)
        if rect:
            body += b''.join(s16(v) for v in rect)
        body += pad(s, 2)
        if dx:
            body += b''.join(s16(d) for d in dx)
        return self.rec(0x0A32, body)

    def dib_bit_blt(self, x, y, w, h, xs, ys, rop, header, bits):
        return self.rec(0x0940, u32(rop) + s16(ys) + s16(xs) + s16(h) + s16(w) + s16(y) + s16(x) + header + bits)

    def dib_stretch_blt(self, x, y, w, h, xs, ys, ws, hs, rop, header, bits):
        return self.rec(0x0B41, u32(rop) + s16(hs) + s16(ws) + s16(ys) + s16(xs) + s16(h) + s16(w) + s16(y) +
                        s16(x) + header + bits)

    def stretch_dib(self, x, y, w, h, xs, ys, ws, hs, rop, header, bits, usage=DIB_RGB_COLORS):
        return self.rec(0x0F43, u32(rop) + u16(usage) + s16(hs) + s16(ws) + s16(ys) + s16(xs) + s16(h) + s16(w) +
                        s16(y) + s16(x) + header + bits)

    def set_dib_to_dev(self, x, y, w, h, xs, ys, start, lines, header, bits, usage=DIB_RGB_COLORS):
        return self.rec(0x0D33, u16(usage) + u16(lines) + u16(start) + s16(ys) + s16(xs) + s16(h) + s16(w) +
                        s16(y) + s16(x) + header + bits)

    def bytes(self):
        body = b''.join(self.records) + u32(3) + u16(0)
        left, top, right, bottom = self.bbox
        head = u32(0x9AC6CDD7) + u16(0) + s16(left) + s16(top) + s16(right) + s16(bottom) + u16(self.upi) + u32(0)
        check = 0
        for i in range(0, 20, 2):
            check ^= struct.unpack_from('<H', head, i)[0]
        head += u16(check)
        words = (18 + len(body)) // 2
        meta = u16(1) + u16(9) + u16(0x300) + u32(words) + u16(len(self.slots)) + u32(self.max_record) + u16(0)
        return head + meta + body


# --- EMF ---------------------------------------------------------------------------------

def rgn_data(rects):
    body = b''.join(s32(l) + s32(t) + s32(r) + s32(b) for l, t, r, b in rects)
    bound = (min(q[0] for q in rects), min(q[1] for q in rects), max(q[2] for q in rects), max(q[3] for q in rects))
    return u32(32) + u32(1) + u32(len(rects)) + u32(len(body)) + b''.join(s32(v) for v in bound) + body


def bounds_of(pts):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return b''.join(s32(v) for v in (min(xs), min(ys), max(xs), max(ys)))


NO_BOUNDS = s32(0) + s32(0) + s32(-1) + s32(-1)
IDENTITY = (1.0, 0.0, 0.0, 1.0, 0.0, 0.0)


class Emf:
    """An EMF whose picture is width x height device pixels (96 DPI reference device)."""

    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.records = []
        self.next_handle = 1
        self.palette_entries = []

    def rec(self, kind, *payload):
        body = pad(b''.join(payload), 4)
        self.records.append(u32(kind) + u32(8 + len(body)) + body)
        return self

    def ints(self, kind, *values):
        return self.rec(kind, b''.join(s32(v) if v < 0x80000000 else u32(v) for v in values))

    def _handle(self):
        h = self.next_handle
        self.next_handle += 1
        return h

    # state
    def set_map_mode(self, m): return self.ints(17, m)
    def set_window_ext(self, x, y): return self.ints(9, x, y)
    def set_window_org(self, x, y): return self.ints(10, x, y)
    def set_viewport_ext(self, x, y): return self.ints(11, x, y)
    def set_viewport_org(self, x, y): return self.ints(12, x, y)
    def scale_viewport_ext(self, xn, xd, yn, yd): return self.ints(31, xn, xd, yn, yd)
    def scale_window_ext(self, xn, xd, yn, yd): return self.ints(32, xn, xd, yn, yd)
    def set_brush_org(self, x, y): return self.ints(13, x, y)
    def set_bk_mode(self, m): return self.ints(18, m)
    def set_poly_fill_mode(self, m): return self.ints(19, m)
    def set_rop2(self, r): return self.ints(20, r)
    def set_stretch_mode(self, m): return self.ints(21, m)
    def set_text_align(self, a): return self.ints(22, a)
    def set_text_color(self, c): return self.ints(24, c)
    def set_bk_color(self, c): return self.ints(25, c)
    def offset_clip(self, x, y): return self.ints(26, x, y)
    def exclude_clip(self, l, t, r, b): return self.ints(29, l, t, r, b)
    def intersect_clip(self, l, t, r, b): return self.ints(30, l, t, r, b)
    def save_dc(self): return self.ints(33)
    def restore_dc(self, n=-1): return self.ints(34, n & 0xFFFFFFFF)
    def set_arc_direction(self, d): return self.ints(57, d)
    def set_miter_limit(self, n): return self.ints(58, n)
    def set_icm_mode(self, m): return self.ints(98, m)
    def set_layout(self, m): return self.ints(115, m)
    def set_mapper_flags(self, f): return self.ints(16, f)

    def set_world_transform(self, xf): return self.rec(35, b''.join(f32(v) for v in xf))

    def modify_world_transform(self, xf, mode):
        return self.rec(36, b''.join(f32(v) for v in xf) + u32(mode))

    def comment(self, data): return self.rec(70, u32(len(data)) + data)

    # objects
    def pen(self, style, width, colour):
        h = self._handle()
        self.rec(38, u32(h) + u32(style) + s32(width) + s32(0) + u32(colour))
        return h

    def ext_pen(self, style, width, colour, brush_style=BS_SOLID, hatch=0, dashes=(), pattern=None):
        h = self._handle()
        elp = u32(style) + u32(width) + u32(brush_style) + u32(colour) + u32(hatch) + u32(len(dashes))
        elp += b''.join(u32(d) for d in dashes)
        if pattern:
            header, bits = pattern
            off_bmi = 8 + 20 + len(elp)
            self.rec(95, u32(h) + u32(off_bmi) + u32(len(header)) + u32(off_bmi + len(header)) + u32(len(bits)) +
                     elp + header + bits)
        else:
            self.rec(95, u32(h) + u32(0) + u32(0) + u32(0) + u32(0) + elp)
        return h

    def brush(self, style, colour, hatch=0):
        h = self._handle()
        self.rec(39, u32(h) + u32(style) + u32(colour) + u32(hatch))
        return h

    def dib_brush(self, header, bits, usage=DIB_RGB_COLORS, mono=False):
        h = self._handle()
        self.rec(93 if mono else 94, u32(h) + u32(usage) + u32(32) + u32(len(header)) + u32(32 + len(header)) +
                 u32(len(bits)) + header + bits)
        return h

    def font(self, height, face, weight=FW_NORMAL, italic=0, underline=0, strike=0, escapement=0,
             width=0, pitch_family=0, orientation=None):
        h = self._handle()
        name = face.encode('utf-16-le')[:62]
        lf = (s32(height) + s32(width) + s32(escapement) + s32(escapement if orientation is None else orientation) +
              s32(weight) + bytes((italic, underline, strike, ANSI_CHARSET, 0, 0, 0, pitch_family)) +
              name + b'\0' * (64 - len(name)))
        # The full form a recorder writes: full name, style, version fields, vendor, culture, panose.
        tail = b'\0' * 128 + b'\0' * 64 + b'\0' * 16 + b'\0' * 4 + b'\0' * 4 + b'\0' * 10 + b'\0' * 2
        self.rec(82, u32(h) + lf + tail)
        return h

    def palette(self, entries):
        h = self._handle()
        self.rec(49, u32(h) + u16(0x300) + u16(len(entries)) + b''.join(bytes((r, g, b, 0)) for r, g, b in entries))
        return h

    def set_pal_entries(self, h, start, entries):
        return self.rec(50, u32(h) + u32(start) + u32(len(entries)) + b''.join(bytes((r, g, b, 0)) for r, g, b in entries))

    def select(self, h): return self.ints(37, h)
    def stock(self, n): return self.ints(37, 0x80000000 | n)
    def delete(self, h): return self.ints(40, h)
    def select_palette(self, h): return self.ints(48, h)
    def realize_palette(self): return self.ints(52)

    # drawing
    def move_to(self, x, y): return self.ints(27, x, y)
    def line_to(self, x, y): return self.ints(54, x, y)
    def set_pixel(self, x, y, c): return self.ints(15, x, y, c)
    def rectangle(self, l, t, r, b): return self.ints(43, l, t, r, b)
    def round_rect(self, l, t, r, b, w, h): return self.ints(44, l, t, r, b, w, h)
    def ellipse(self, l, t, r, b): return self.ints(42, l, t, r, b)
    def arc(self, l, t, r, b, xs, ys, xe, ye): return self.ints(45, l, t, r, b, xs, ys, xe, ye)
    def chord(self, l, t, r, b, xs, ys, xe, ye): return self.ints(46, l, t, r, b, xs, ys, xe, ye)
    def pie(self, l, t, r, b, xs, ys, xe, ye): return self.ints(47, l, t, r, b, xs, ys, xe, ye)
    def arc_to(self, l, t, r, b, xs, ys, xe, ye): return self.ints(55, l, t, r, b, xs, ys, xe, ye)

    def angle_arc(self, x, y, radius, start, sweep):
        return self.rec(41, s32(x) + s32(y) + u32(radius) + f32(start) + f32(sweep))

    def _points(self, kind, pts, short):
        fmt = (lambda v: s16(v)) if short else (lambda v: s32(v))
        return self.rec(kind, bounds_of(pts) + u32(len(pts)) + b''.join(fmt(x) + fmt(y) for x, y in pts))

    def polyline(self, pts, short=False): return self._points(87 if short else 4, pts, short)
    def polygon(self, pts, short=False): return self._points(86 if short else 3, pts, short)
    def polybezier(self, pts, short=False): return self._points(85 if short else 2, pts, short)
    def polybezier_to(self, pts, short=False): return self._points(88 if short else 5, pts, short)
    def polyline_to(self, pts, short=False): return self._points(89 if short else 6, pts, short)

    def _poly_poly(self, kind, polys, short):
        fmt = (lambda v: s16(v)) if short else (lambda v: s32(v))
        allpts = [p for poly in polys for p in poly]
        return self.rec(kind, bounds_of(allpts) + u32(len(polys)) + u32(len(allpts)) +
                        b''.join(u32(len(p)) for p in polys) + b''.join(fmt(x) + fmt(y) for x, y in allpts))

    def poly_polyline(self, polys, short=False): return self._poly_poly(90 if short else 7, polys, short)
    def poly_polygon(self, polys, short=False): return self._poly_poly(91 if short else 8, polys, short)

    def poly_draw(self, pts, types, short=False):
        fmt = (lambda v: s16(v)) if short else (lambda v: s32(v))
        return self.rec(92 if short else 56, bounds_of(pts) + u32(len(pts)) + b''.join(fmt(x) + fmt(y) for x, y in pts) +
                        bytes(types))

    # paths
    def begin_path(self): return self.ints(59)
    def end_path(self): return self.ints(60)
    def close_figure(self): return self.ints(61)
    def fill_path(self): return self.rec(62, NO_BOUNDS)
    def stroke_and_fill_path(self): return self.rec(63, NO_BOUNDS)
    def stroke_path(self): return self.rec(64, NO_BOUNDS)
    def flatten_path(self): return self.ints(65)
    def widen_path(self): return self.ints(66)
    def select_clip_path(self, mode): return self.ints(67, mode)
    def abort_path(self): return self.ints(68)

    # regions
    def ext_select_clip_rgn(self, rects, mode):
        data = rgn_data(rects) if rects else b''
        return self.rec(75, u32(len(data)) + u32(mode) + data)

    def fill_rgn(self, rects, brush):
        data = rgn_data(rects)
        return self.rec(71, data[16:32] + u32(len(data)) + u32(brush) + data)

    def frame_rgn(self, rects, brush, w, h):
        data = rgn_data(rects)
        return self.rec(72, data[16:32] + u32(len(data)) + u32(brush) + s32(w) + s32(h) + data)

    def invert_rgn(self, rects):
        data = rgn_data(rects)
        return self.rec(73, data[16:32] + u32(len(data)) + data)

    def paint_rgn(self, rects):
        data = rgn_data(rects)
        return self.rec(74, data[16:32] + u32(len(data)) + data)

    # text
    @staticmethod
    def _emr_text(x, y, chars, off_string, options, rect, off_dx):
        return (s32(x) + s32(y) + u32(chars) + u32(off_string) + u32(options) +
                b''.join(s32(v) for v in (rect or (0, 0, -1, -1))) + u32(off_dx))

    def ext_text_out(self, x, y, text, options=0, rect=None, dx=None, wide=True, graphics_mode=1):
        s = text.encode('utf-16-le' if wide else 'latin-1')
        n = len(text)
        off_string = 76
        string = pad(s, 4)
        off_dx = off_string + len(string) if dx else 0
        emrtext = self._emr_text(x, y, n, off_string, options, rect, off_dx)
        body = NO_BOUNDS + u32(graphics_mode) + f32(1.0) + f32(1.0) + emrtext + string
        if dx:
            body += b''.join(s32(d) for d in dx)
        return self.rec(84 if wide else 83, body)

    def poly_text_out(self, items, wide=True):
        """items: (x, y, text, options, rect, dx or None)."""
        head = 8 + 16 + 12 + 4 + 40 * len(items)
        texts, emrs = b'', b''
        for x, y, text, options, rect, dx in items:
            s = pad(text.encode('utf-16-le' if wide else 'latin-1'), 4)
            off_string = head + len(texts)
            texts += s
            off_dx = 0
            if dx:
                off_dx = head + len(texts)
                texts += b''.join(s32(d) for d in dx)
            emrs += self._emr_text(x, y, len(text), off_string, options, rect, off_dx)
        return self.rec(97 if wide else 96, NO_BOUNDS + u32(1) + f32(1.0) + f32(1.0) + u32(len(items)) + emrs + texts)

    def small_text_out(self, x, y, text, options=0x100 | 0x200):
        s = text.encode('latin-1' if options & 0x200 else 'utf-16-le')
        rect = b'' if options & 0x100 else NO_BOUNDS
        return self.rec(108, s32(x) + s32(y) + u32(len(text)) + u32(options) + u32(1) + f32(1.0) + f32(1.0) + rect + s)

    # bitmaps
    def _bitmap_tail(self, fixed_size, header, bits):
        off_bmi = fixed_size
        return off_bmi, len(header), off_bmi + len(header), len(bits)

    def bit_blt(self, x, y, w, h, rop, src=None, xs=0, ys=0, xform=IDENTITY, bk=0, usage=DIB_RGB_COLORS):
        return self._blt(76, x, y, w, h, rop, src, xs, ys, None, xform, bk, usage)

    def stretch_blt(self, x, y, w, h, xs, ys, ws, hs, rop, src, xform=IDENTITY, bk=0, usage=DIB_RGB_COLORS):
        return self._blt(77, x, y, w, h, rop, src, xs, ys, (ws, hs), xform, bk, usage)

    def alpha_blend(self, x, y, w, h, xs, ys, ws, hs, src, constant_alpha=255, per_pixel=False):
        blend = 0 | 0 << 8 | constant_alpha << 16 | (1 if per_pixel else 0) << 24
        return self._blt(114, x, y, w, h, blend, src, xs, ys, (ws, hs), IDENTITY, 0, DIB_RGB_COLORS)

    def transparent_blt(self, x, y, w, h, xs, ys, ws, hs, src, key):
        return self._blt(116, x, y, w, h, key, src, xs, ys, (ws, hs), IDENTITY, 0, DIB_RGB_COLORS)

    def _blt(self, kind, x, y, w, h, rop, src, xs, ys, src_size, xform, bk, usage):
        fixed = 100 if src_size is None else 108
        header, bits = src if src else (b'', b'')
        off_bmi, cb_bmi, off_bits, cb_bits = self._bitmap_tail(fixed, header, bits) if src else (0, 0, 0, 0)
        body = (s32(x) + s32(y) + s32(x + w) + s32(y + h) + s32(x) + s32(y) + s32(w) + s32(h) + u32(rop) +
                s32(xs) + s32(ys) + b''.join(f32(v) for v in xform) + u32(bk) + u32(usage) +
                u32(off_bmi) + u32(cb_bmi) + u32(off_bits) + u32(cb_bits))
        if src_size is not None:
            body += s32(src_size[0]) + s32(src_size[1])
        return self.rec(kind, body + header + bits)

    def mask_blt(self, x, y, w, h, rop, src, xs, ys, mask, xm, ym):
        header, bits = src
        mh, mb = mask
        off_bmi = 128
        off_bits = off_bmi + len(header)
        off_mask = off_bits + len(bits)
        body = (s32(x) + s32(y) + s32(x + w) + s32(y + h) + s32(x) + s32(y) + s32(w) + s32(h) + u32(rop) +
                s32(xs) + s32(ys) + b''.join(f32(v) for v in IDENTITY) + u32(0) + u32(DIB_RGB_COLORS) +
                u32(off_bmi) + u32(len(header)) + u32(off_bits) + u32(len(bits)) +
                s32(xm) + s32(ym) + u32(DIB_RGB_COLORS) + u32(off_mask) + u32(len(mh)) + u32(off_mask + len(mh)) +
                u32(len(mb)))
        return self.rec(78, body + header + bits + mh + mb)

    def plg_blt(self, pts, xs, ys, ws, hs, src, mask=None, xm=0, ym=0):
        header, bits = src
        mh, mb = mask if mask else (b'', b'')
        off_bmi = 140
        off_bits = off_bmi + len(header)
        off_mask = off_bits + len(bits) if mask else 0
        body = (bounds_of(pts + [(pts[1][0] + pts[2][0] - pts[0][0], pts[1][1] + pts[2][1] - pts[0][1])]) +
                b''.join(s32(x) + s32(y) for x, y in pts) + s32(xs) + s32(ys) + s32(ws) + s32(hs) +
                b''.join(f32(v) for v in IDENTITY) + u32(0) + u32(DIB_RGB_COLORS) +
                u32(off_bmi) + u32(len(header)) + u32(off_bits) + u32(len(bits)) +
                s32(xm) + s32(ym) + u32(DIB_RGB_COLORS) + u32(off_mask) + u32(len(mh)) +
                u32(off_mask + len(mh) if mask else 0) + u32(len(mb)))
        return self.rec(79, body + header + bits + mh + mb)

    def set_dibits_to_device(self, x, y, w, h, xs, ys, start, lines, src, usage=DIB_RGB_COLORS):
        header, bits = src
        body = (s32(x) + s32(y) + s32(x + w) + s32(y + h) + s32(x) + s32(y) + s32(xs) + s32(ys) + s32(w) + s32(h) +
                u32(76) + u32(len(header)) + u32(76 + len(header)) + u32(len(bits)) + u32(usage) + u32(start) +
                u32(lines))
        return self.rec(80, body + header + bits)

    def stretch_dibits(self, x, y, w, h, xs, ys, ws, hs, rop, src, usage=DIB_RGB_COLORS):
        header, bits = src
        body = (s32(x) + s32(y) + s32(x + w) + s32(y + h) + s32(x) + s32(y) + s32(xs) + s32(ys) + s32(ws) + s32(hs) +
                u32(80) + u32(len(header)) + u32(80 + len(header)) + u32(len(bits)) + u32(usage) + u32(rop) +
                s32(w) + s32(h))
        return self.rec(81, body + header + bits)

    def gradient_fill(self, vertices, shapes, mode):
        """vertices: (x, y, r, g, b) with 8-bit colours; shapes: index pairs or triples."""
        body = b''.join(s32(x) + s32(y) + u16(r << 8) + u16(g << 8) + u16(b << 8) + u16(0) for x, y, r, g, b in vertices)
        body += b''.join(b''.join(u32(i) for i in s) for s in shapes)
        return self.rec(118, bounds_of([(v[0], v[1]) for v in vertices]) + u32(len(vertices)) + u32(len(shapes)) +
                        u32(mode) + body)

    def bytes(self, description='corpus'):
        desc = pad((description + '\0\0').encode('utf-16-le'), 4)
        pal = b''.join(bytes((r, g, b, 0)) for r, g, b in self.palette_entries)
        eof = u32(14) + u32(20 + len(pal)) + u32(len(self.palette_entries)) + u32(16 if pal else 0) + pal + u32(20 + len(pal))
        body = b''.join(self.records) + eof
        w, h = self.width, self.height
        frame = (0, 0, w * 2540 // 96, h * 2540 // 96)
        head_size = 108
        total = head_size + len(desc) + len(body)
        header = (u32(1) + u32(head_size + len(desc)) + s32(0) + s32(0) + s32(w) + s32(h) +
                  b''.join(s32(v) for v in frame) + u32(0x464D4520) + u32(0x10000) + u32(total) +
                  u32(len(self.records) + 2) + u16(self.next_handle) + u16(0) +
                  u32(len(description) + 2) + u32(head_size) + u32(len(self.palette_entries)) +
                  s32(EMF_DEVICE[0]) + s32(EMF_DEVICE[1]) + s32(EMF_MILLIMETRES[0]) + s32(EMF_MILLIMETRES[1]) +
                  u32(0) + u32(0) + u32(0) + s32(EMF_MILLIMETRES[0] * 1000) + s32(EMF_MILLIMETRES[1] * 1000))
        return header + desc + body
