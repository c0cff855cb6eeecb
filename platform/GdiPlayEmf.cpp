// Enhanced-metafile records decoded field by field and played. A record whose sizes,
// counts, offsets or indexes do not fit inside it is skipped whole.
#include "platform/GdiPlayer.h"

#include <cmath>
#include <cstring>

namespace platform {
namespace gdi {

namespace {

float f32(const uint8_t* p)
{
    const uint32_t v = le32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

// count points of 16 or 32-bit coordinates at offset 'at', when they fit in the record.
bool points(const uint8_t* r, size_t n, size_t at, uint64_t count, int bytes, std::vector<PointF>& out)
{
    if (at > n || count > (n - at) / (2 * uint64_t(bytes)))
        return false;
    out.resize(size_t(count));
    const uint8_t* p = r + at;
    for (size_t i = 0; i < count; ++i, p += 2 * bytes)
        out[i] = bytes == 2 ? PointF{double(s16(p)), double(s16(p + 2))} : PointF{double(s32(p)), double(s32(p + 4))};
    return true;
}

// Poly-poly records: nPolys at 24, total points at 28, counts from 32, then the points.
bool polyPolys(const uint8_t* r, size_t n, int bytes, std::vector<std::vector<PointF>>& out)
{
    if (n < 32)
        return false;
    const uint64_t polys = le32(r + 24), total = le32(r + 28);
    if (polys > (n - 32) / 4)
        return false;
    std::vector<PointF> all;
    if (!points(r, n, 32 + size_t(polys) * 4, total, bytes, all))
        return false;
    uint64_t sum = 0;
    for (size_t i = 0; i < polys; ++i)
        sum += le32(r + 32 + i * 4);
    if (sum != total)
        return false;
    size_t at = 0;
    for (size_t i = 0; i < polys; ++i) {
        const size_t c = le32(r + 32 + i * 4);
        out.emplace_back(all.begin() + long(at), all.begin() + long(at + c));
        at += c;
    }
    return true;
}

// A piece [off, off + size) of the record; false when it lies outside.
bool piece(size_t n, uint64_t off, uint64_t size)
{
    return off <= n && size <= n - off;
}

// Region data: a 32-byte header (size, type, count, bytes, bounds) and its rectangles.
bool regionData(const uint8_t* d, size_t bytes, std::vector<RECT>& rects)
{
    if (bytes < 32)
        return false;
    const uint64_t count = le32(d + 8);
    if (le32(d) < 32 || count > (bytes - 32) / 16)
        return false;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* q = d + 32 + i * 16;
        rects.push_back(RECT{s32(q), s32(q + 4), s32(q + 8), s32(q + 12)});
    }
    return true;
}

std::u16string emfString(const uint8_t* r, size_t n, uint64_t off, uint64_t chars, bool wide)
{
    std::u16string s;
    if (!piece(n, off, chars * (wide ? 2 : 1)))
        return s;
    for (size_t i = 0; i < chars; ++i)
        s.push_back(wide ? char16_t(le16(r + off + i * 2)) : fromAnsi(r[off + i]));
    return s;
}

// One EMRTEXT at 'at': reference point, string, options, rectangle, advances.
void emrText(Player& p, const uint8_t* r, size_t n, size_t at, bool wide)
{
    const bool advanced = n >= 28 && le32(r + 24) == 2; // the record's GM_ADVANCED
    if (!piece(n, at, 40))
        return;
    const uint8_t* t = r + at;
    const uint64_t chars = le32(t + 8), offString = le32(t + 12), options = le32(t + 16), offDx = le32(t + 36);
    std::u16string str = emfString(r, n, offString, chars, wide);
    if (str.size() != chars)
        return;
    const RECT box{s32(t + 20), s32(t + 24), s32(t + 28), s32(t + 32)};
    // Glyph indexes name glyphs of the writer's font, not characters: only the box is drawn.
    if (options & 0x10)
        str.clear();
    if (str.empty()) {
        if (options & ETO_OPAQUE)
            p.text(s32(t), s32(t + 4), str, UINT(options), &box, {}, advanced);
        return;
    }
    std::vector<double> dx;
    const uint64_t per = (options & 0x2000) ? 2 : 1; // ETO_PDY: x, y pairs
    if (offDx && piece(n, offDx, chars * 4 * per))
        for (size_t i = 0; i < chars; ++i)
            dx.push_back(s32(r + offDx + i * 4 * per));
    p.text(s32(t), s32(t + 4), str, UINT(options), &box, dx, advanced);
}

// A bitmap carried in the record: offsets and sizes of its header and bits at 'fields'.
bool carried(const uint8_t* r, size_t n, size_t fields, unsigned usage, DibSource& c)
{
    const uint64_t offBmi = le32(r + fields), cbBmi = le32(r + fields + 4), offBits = le32(r + fields + 8),
                   cbBits = le32(r + fields + 12);
    if (cbBmi == 0 || !piece(n, offBmi, cbBmi) || !piece(n, offBits, cbBits))
        return false;
    c = DibSource{r + offBmi, size_t(cbBmi), r + offBits, size_t(cbBits), usage};
    return true;
}

PenDesc penFrom(uint32_t style, double width, COLORREF colour)
{
    PenDesc pen;
    pen.style = int(style & 0x0F);
    pen.null = pen.style == 5;
    pen.colour = colour;
    pen.width = width;
    pen.cosmetic = width == 0;
    const uint32_t cap = style & 0x0F00, join = style & 0xF000;
    pen.cap = cap == 0x0100 ? Cap::Square : cap == 0x0200 ? Cap::Flat : Cap::Round;
    pen.join = join == 0x1000 ? Join::Bevel : join == 0x2000 ? Join::Miter : Join::Round;
    return pen;
}

BrushDesc brushFrom(uint32_t style, COLORREF colour, uint32_t hatch)
{
    BrushDesc b;
    if (style == 1)
        return b;
    b.paint.colour = colour;
    if (style == 2 && hatch <= 5) {
        b.paint.kind = Paint::Hatch;
        b.paint.hatch = int(hatch);
    } else {
        b.paint.kind = Paint::Solid;
    }
    return b;
}

void bitmapRecord(Player& p, unsigned type, const uint8_t* r, size_t n)
{
    DibSource c;
    BlitExtra extra;
    extra.fromContext = true;
    if (type == 76 || type == 77 || type == 78 || type == 114 || type == 116) {
        // BITBLT, STRETCHBLT, MASKBLT, ALPHABLEND, TRANSPARENTBLT: destination, raster
        // operation (blend function, key colour), source origin and transform, the bitmap.
        if (n < 100)
            return;
        const int x = s32(r + 24), y = s32(r + 28), w = s32(r + 32), h = s32(r + 36);
        const DWORD rop = le32(r + 40);
        const int xs = s32(r + 44), ys = s32(r + 48);
        int ws = w, hs = h;
        if ((type == 77 || type == 114 || type == 116) && n >= 108) {
            ws = s32(r + 100);
            hs = s32(r + 104);
        }
        if (!carried(r, n, 84, le32(r + 80), c)) {
            if (type == 76 || type == 77)
                p.patBlt(x, y, w, h, rop);
            return;
        }
        if (type == 114)
            extra.kind = BlitExtra::Alpha;
        else if (type == 116)
            extra.kind = BlitExtra::Transparent;
        else if (type == 78) {
            extra.kind = BlitExtra::Mask;
            if (n >= 128 && carried(r, n, 112, le32(r + 108), extra.mask)) {
                extra.maskX = s32(r + 100);
                extra.maskY = s32(r + 104);
            } else {
                extra.mask = DibSource();
            }
        }
        p.dib(c, x, y, w, h, xs, ys, ws, hs, rop, extra);
        return;
    }
    if (type == 79) { // PLGBLT: three corners, source rectangle, the bitmap (and a mask, not used)
        if (n < 140 || !carried(r, n, 96, le32(r + 92), c))
            return;
        extra.kind = BlitExtra::Plg;
        for (int i = 0; i < 3; ++i)
            extra.plg[i] = PointF{double(s32(r + 24 + 8 * i)), double(s32(r + 28 + 8 * i))};
        p.dib(c, 0, 0, 0, 0, s32(r + 48), s32(r + 52), s32(r + 56), s32(r + 60), SRCCOPY, extra);
        return;
    }
    extra.fromContext = false;
    if (type == 80) { // SETDIBITSTODEVICE: the source rectangle drawn at its size
        if (n < 76 || !carried(r, n, 48, le32(r + 64), c))
            return;
        const int w = s32(r + 40), h = s32(r + 44);
        p.dib(c, s32(r + 24), s32(r + 28), w, h, s32(r + 32), s32(r + 36), w, h, SRCCOPY, extra);
        return;
    }
    if (type == 81) { // STRETCHDIBITS
        if (n < 80 || !carried(r, n, 48, le32(r + 64), c))
            return;
        p.dib(c, s32(r + 24), s32(r + 28), s32(r + 72), s32(r + 76), s32(r + 32), s32(r + 36), s32(r + 40),
              s32(r + 44), le32(r + 68), extra);
        return;
    }
    if (type == 118) { // GRADIENTFILL: vertices, then rectangles or triangles of their indexes
        if (n < 36)
            return;
        const uint64_t verts = le32(r + 24), count = le32(r + 28);
        const ULONG mode = le32(r + 32);
        const uint64_t each = mode == GRADIENT_FILL_TRIANGLE ? 12 : 8;
        if (mode > GRADIENT_FILL_TRIANGLE || !piece(n, 36, verts * 16) || !piece(n, 36 + verts * 16, count * each))
            return;
        std::vector<TRIVERTEX> v(size_t(verts), TRIVERTEX{});
        for (size_t i = 0; i < verts; ++i) {
            const uint8_t* q = r + 36 + i * 16;
            v[i] = TRIVERTEX{s32(q), s32(q + 4), le16(q + 8), le16(q + 10), le16(q + 12), le16(q + 14)};
        }
        std::vector<ULONG> mesh(size_t(count * each / 4));
        for (size_t i = 0; i < mesh.size(); ++i) {
            mesh[i] = le32(r + 36 + verts * 16 + i * 4);
            if (mesh[i] >= verts)
                return;
        }
        p.gradient(v, mesh.data(), ULONG(count), mode);
    }
}

void objectRecord(Player& p, unsigned type, const uint8_t* r, size_t n)
{
    MetaObject o;
    const size_t index = n >= 12 ? le32(r + 8) : size_t(-1);
    switch (type) {
    case 38: // CREATEPEN
        if (n < 28)
            return;
        o.kind = MetaObject::Pen;
        o.pen = penFrom(le32(r + 12), s32(r + 16), le32(r + 24));
        o.pen.cap = Cap::Round;
        o.pen.join = Join::Round;
        break;
    case 95: { // EXTCREATEPEN
        if (n < 52)
            return;
        const uint32_t style = le32(r + 28), brushStyle = le32(r + 36);
        o.kind = MetaObject::Pen;
        o.pen = penFrom(style, double(le32(r + 32)), le32(r + 40));
        o.pen.cosmetic = (style & 0x000F0000) == 0 || le32(r + 32) == 0;
        if (brushStyle == 1)
            o.pen.null = true;
        const uint64_t entries = le32(r + 48);
        if ((style & 0x0F) == 7 && piece(n, 52, entries * 4))
            for (size_t i = 0; i < entries && i < 16; ++i)
                o.pen.user.push_back(le32(r + 52 + i * 4));
        if ((style & 0x0F) == 7 && o.pen.user.empty())
            o.pen.style = 0;
        break;
    }
    case 39: // CREATEBRUSHINDIRECT
        if (n < 24)
            return;
        o.kind = MetaObject::Brush;
        o.brush = brushFrom(le32(r + 12), le32(r + 16), le32(r + 20));
        break;
    case 93: // CREATEMONOBRUSH
    case 94: { // CREATEDIBPATTERNBRUSHPT
        if (n < 32)
            return;
        DibSource c;
        if (!carried(r, n, 16, le32(r + 12), c))
            return;
        o.kind = MetaObject::Brush;
        o.brush.paint = p.brushFromDib(c.bmi, c.bmiBytes, c.bits, c.bitsBytes, c.usage);
        if (type == 93 && o.brush.paint.kind == Paint::Pattern) {
            // A monochrome brush paints its dark bits in the text colour, the others in the background.
            std::vector<COLORREF> bits = *o.brush.paint.pixels;
            for (COLORREF& px : bits)
                px = px == 0 ? 0 : 1;
            o.brush.paint.pixels = std::make_shared<const std::vector<COLORREF>>(std::move(bits));
            o.brush.paint.mono = true;
        }
        break;
    }
    case 82: // EXTCREATEFONTINDIRECTW
        if (n < 12 + 92)
            return;
        o.kind = MetaObject::Font;
        {
            const uint8_t* f = r + 12;
            LOGFONTW& lf = o.font;
            lf.lfHeight = s32(f);
            lf.lfWidth = s32(f + 4);
            lf.lfEscapement = s32(f + 8);
            lf.lfOrientation = s32(f + 12);
            lf.lfWeight = s32(f + 16);
            lf.lfItalic = f[20];
            lf.lfUnderline = f[21];
            lf.lfStrikeOut = f[22];
            lf.lfCharSet = f[23];
            lf.lfOutPrecision = f[24];
            lf.lfClipPrecision = f[25];
            lf.lfQuality = f[26];
            lf.lfPitchAndFamily = f[27];
            for (int i = 0; i < 31; ++i)
                lf.lfFaceName[i] = char16_t(le16(f + 28 + i * 2));
            lf.lfFaceName[31] = 0;
        }
        break;
    case 49: { // CREATEPALETTE
        if (n < 16)
            return;
        const uint64_t count = le16(r + 14);
        if (!piece(n, 16, count * 4))
            return;
        o.kind = MetaObject::Palette;
        for (size_t i = 0; i < count; ++i)
            o.palette.push_back(PALETTEENTRY{r[16 + i * 4], r[17 + i * 4], r[18 + i * 4], r[19 + i * 4]});
        break;
    }
    default:
        return;
    }
    p.put(index, std::move(o));
}

} // namespace

void playEmfRecord(Player& p, unsigned type, const uint8_t* r, size_t n)
{
    std::vector<PointF> pts;
    std::vector<std::vector<PointF>> polys;
    switch (type) {
    case 2: case 3: case 4: case 5: case 6:
    case 85: case 86: case 87: case 88: case 89: {
        if (n < 28)
            return;
        const int bytes = type >= 85 ? 2 : 4;
        if (!points(r, n, 28, le32(r + 24), bytes, pts))
            return;
        switch (type >= 85 ? type - 83 : type) {
        case 2: p.bezier(pts, false); break;
        case 3: p.polygons({pts}, true); break;
        case 4: p.polyline(pts, false); break;
        case 5: p.bezier(pts, true); break;
        case 6: p.polyline(pts, true); break;
        }
        return;
    }
    case 7: case 8: case 90: case 91:
        if (!polyPolys(r, n, type >= 90 ? 2 : 4, polys))
            return;
        if (type == 8 || type == 91)
            p.polygons(polys, true);
        else
            p.polylines(polys);
        return;
    case 56: case 92: { // POLYDRAW, POLYDRAW16
        if (n < 28)
            return;
        const int bytes = type == 92 ? 2 : 4;
        const uint64_t count = le32(r + 24);
        if (!points(r, n, 28, count, bytes, pts) || !piece(n, 28 + count * 2 * bytes, count))
            return;
        const uint8_t* t = r + 28 + count * 2 * bytes;
        p.polyDraw(pts, std::vector<uint8_t>(t, t + count));
        return;
    }
    default:
        break;
    }
    if (n < 12 && type != 33 && type != 28 && type != 59 && type != 60 && type != 61 && type != 65 && type != 66 &&
        type != 68)
        return;
    switch (type) {
    case 9: p.setWindowExt(s32(r + 8), n >= 16 ? s32(r + 12) : 0); break;
    case 10: if (n >= 16) p.setWindowOrg(s32(r + 8), s32(r + 12)); break;
    case 11: if (n >= 16) p.setViewportExt(s32(r + 8), s32(r + 12)); break;
    case 12: if (n >= 16) p.setViewportOrg(s32(r + 8), s32(r + 12)); break;
    case 13: if (n >= 16) p.s.brushOrg = POINT{s32(r + 8), s32(r + 12)}; break;
    case 15: if (n >= 20) p.setPixel(s32(r + 8), s32(r + 12), le32(r + 16)); break;
    case 17: p.setMapMode(s32(r + 8)); break;
    case 18: if (le32(r + 8) == 1 || le32(r + 8) == 2) p.s.bkMode = int(le32(r + 8)); break;
    case 19: p.s.winding = le32(r + 8) == 2; break;
    case 20: if (le32(r + 8) >= 1 && le32(r + 8) <= 16) p.s.rop2 = int(le32(r + 8)); break;
    case 21: p.s.stretchMode = int(le32(r + 8)); break;
    case 22: p.s.textAlign = le32(r + 8); break;
    case 24: p.s.textColour = le32(r + 8); break;
    case 25: p.s.bkColour = le32(r + 8); break;
    case 26: if (n >= 16) p.offsetClip(s32(r + 8), s32(r + 12)); break;
    case 27: if (n >= 16) p.moveTo(s32(r + 8), s32(r + 12)); break;
    case 28: p.setMetaRegion(); break;
    case 29: if (n >= 24) p.excludeClip(s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 30: if (n >= 24) p.intersectClip(s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 31: if (n >= 24) p.scaleViewportExt(s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 32: if (n >= 24) p.scaleWindowExt(s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 33: p.save(); break;
    case 34: p.restore(s32(r + 8)); break;
    case 35:
    case 36:
        if (n >= 32) {
            const Xform x{f32(r + 8), f32(r + 12), f32(r + 16), f32(r + 20), f32(r + 24), f32(r + 28)};
            if (type == 35)
                p.setWorld(x);
            else if (n >= 36)
                p.modifyWorld(x, int(le32(r + 32)));
        }
        break;
    case 37: {
        const uint32_t index = le32(r + 8);
        if (index & 0x80000000u)
            p.selectStock(index & 0x7FFFFFFFu);
        else
            p.select(index);
        break;
    }
    case 40: p.erase(le32(r + 8)); break;
    case 38: case 39: case 49: case 82: case 93: case 94: case 95: objectRecord(p, type, r, n); break;
    case 48: {
        const uint32_t index = le32(r + 8);
        if (!(index & 0x80000000u))
            p.select(index);
        break;
    }
    case 50: { // SETPALETTEENTRIES
        if (n < 20)
            return;
        MetaObject* o = p.slot(le32(r + 8));
        const uint64_t start = le32(r + 12), count = le32(r + 16);
        if (!o || o->kind != MetaObject::Palette || !piece(n, 20, count * 4) || start > 0xFFFF || count > 0xFFFF)
            return;
        if (o->palette.size() < start + count)
            o->palette.resize(size_t(start + count));
        for (size_t i = 0; i < count; ++i)
            o->palette[size_t(start) + i] = PALETTEENTRY{r[20 + i * 4], r[21 + i * 4], r[22 + i * 4], 0};
        if (p.s.paletteIndex == int64_t(le32(r + 8)))
            p.s.palette = std::make_shared<const std::vector<PALETTEENTRY>>(o->palette);
        break;
    }
    case 41: if (n >= 28) p.angleArc(s32(r + 8), s32(r + 12), le32(r + 16), f32(r + 20), f32(r + 24)); break;
    case 42: if (n >= 24) p.box(Player::Box::Ellipse, s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 43: if (n >= 24) p.box(Player::Box::Rect, s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20)); break;
    case 44:
        if (n >= 32)
            p.box(Player::Box::RoundRect, s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20), s32(r + 24), s32(r + 28));
        break;
    case 45: case 46: case 47: case 55:
        if (n >= 40) {
            const Player::Box k = type == 45 ? Player::Box::Arc : type == 46 ? Player::Box::Chord
                                  : type == 47 ? Player::Box::Pie : Player::Box::ArcTo;
            p.box(k, s32(r + 8), s32(r + 12), s32(r + 16), s32(r + 20), s32(r + 24), s32(r + 28), s32(r + 32),
                  s32(r + 36));
        }
        break;
    case 53: if (n >= 24) p.floodFill(s32(r + 8), s32(r + 12), le32(r + 16), le32(r + 20) == 1); break; // EXTFLOODFILL
    case 54: if (n >= 16) p.lineTo(s32(r + 8), s32(r + 12)); break;
    case 57: p.s.clockwise = le32(r + 8) == 2; break;
    case 58: {
        // Written as a whole number by some and as a float by others.
        const uint32_t v = le32(r + 8);
        const double limit = v < 0x10000 ? double(v) : double(f32(r + 8));
        if (limit >= 1 && limit < 1e6)
            p.s.miterLimit = limit;
        break;
    }
    case 59: p.beginPath(); break;
    case 60: p.endPath(); break;
    case 61: p.closeFigure(); break;
    case 62: p.fillPath(); break;
    case 63: p.strokeAndFillPath(); break;
    case 64: p.strokePath(); break;
    case 65: p.flattenPath(); break;
    case 66: p.widenPath(); break;
    case 67: p.selectClipPath(int(le32(r + 8))); break;
    case 68: p.abortPath(); break;
    case 71: case 72: case 73: case 74: { // FILLRGN, FRAMERGN, INVERTRGN, PAINTRGN
        if (n < 28)
            return;
        const uint64_t cb = le32(r + 24);
        const size_t at = type == 71 ? 32 : type == 72 ? 40 : 28;
        std::vector<RECT> rects;
        if (n < at || !piece(n, at, cb) || !regionData(r + at, size_t(cb), rects))
            return;
        const Region region = p.regionFromRects(rects, true);
        if (type == 73) {
            Paint solid;
            solid.kind = Paint::Solid;
            p.fillRegion(region, solid, R2_NOT);
        } else if (type == 74) {
            p.fillRegion(region, p.s.brush.paint, p.s.rop2);
        } else {
            const MetaObject* o = p.slot(le32(r + 28));
            if (!o || o->kind != MetaObject::Brush)
                return;
            if (type == 71)
                p.fillRegion(region, o->brush.paint, p.s.rop2);
            else
                p.frameRegion(region, o->brush.paint, s32(r + 32), s32(r + 36));
        }
        break;
    }
    case 75: { // EXTSELECTCLIPRGN
        if (n < 16)
            return;
        const uint64_t cb = le32(r + 8);
        const int mode = int(le32(r + 12));
        if (cb == 0 || mode == RGN_COPY) {
            std::vector<RECT> rects;
            if (cb == 0 || !piece(n, 16, cb) || !regionData(r + 16, size_t(cb), rects)) {
                if (mode == RGN_COPY && cb == 0)
                    p.selectClip(nullptr, RGN_COPY);
                return;
            }
            const Region region = p.regionFromRects(rects, false);
            p.selectClip(&region, mode);
            return;
        }
        std::vector<RECT> rects;
        if (!piece(n, 16, cb) || !regionData(r + 16, size_t(cb), rects))
            return;
        const Region region = p.regionFromRects(rects, false);
        p.selectClip(&region, mode);
        break;
    }
    case 76: case 77: case 78: case 79: case 80: case 81: case 114: case 116: case 118:
        bitmapRecord(p, type, r, n);
        break;
    case 83: case 84: // EXTTEXTOUTA, EXTTEXTOUTW
        emrText(p, r, n, 36, type == 84);
        break;
    case 108: { // SMALLTEXTOUT: point, count, options, mode, scales, [clip box], 8 or 16-bit characters
        if (n < 36)
            return;
        const uint64_t chars = le32(r + 16);
        const UINT options = le32(r + 20);
        const bool noRect = (options & 0x100) != 0, narrow = (options & 0x200) != 0;
        const size_t at = noRect ? 36 : 52;
        if (n < at || chars == 0)
            return;
        const RECT box = noRect ? RECT{} : RECT{s32(r + 36), s32(r + 40), s32(r + 44), s32(r + 48)};
        const std::u16string str = emfString(r, n, at, chars, !narrow);
        if (str.size() == chars)
            p.text(s32(r + 8), s32(r + 12), str, noRect ? 0 : options, noRect ? nullptr : &box, {}, le32(r + 24) == 2);
        break;
    }
    case 96: case 97: { // POLYTEXTOUTA, POLYTEXTOUTW
        if (n < 40)
            return;
        const uint64_t count = le32(r + 36);
        if (!piece(n, 40, count * 40))
            return;
        for (size_t i = 0; i < count; ++i)
            emrText(p, r, n, 40 + i * 40, type == 97);
        break;
    }
    default:
        break; // draws nothing, or unknown: skipped by its size
    }
}

} // namespace gdi
} // namespace platform
