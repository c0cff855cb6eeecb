// Windows-metafile records decoded field by field and played. Parameters are 16-bit words,
// most of them in reverse order (y before x, bottom-right before top-left). A record whose
// counts or sizes do not fit inside it is skipped whole.
#include "platform/GdiPlayer.h"

#include <algorithm>
#include <cstring>

namespace platform {
namespace gdi {

namespace {

std::u16string ansi(const uint8_t* p, size_t count)
{
    std::u16string s;
    for (size_t i = 0; i < count; ++i)
        s.push_back(fromAnsi(p[i]));
    return s;
}

bool points16(const uint8_t* p, size_t n, size_t at, uint64_t count, std::vector<PointF>& out)
{
    if (at > n || count > (n - at) / 4)
        return false;
    out.resize(size_t(count));
    for (size_t i = 0; i < count; ++i)
        out[i] = PointF{double(s16(p + at + i * 4)), double(s16(p + at + i * 4 + 2))};
    return true;
}

LOGFONTW font16(const uint8_t* p, size_t n)
{
    LOGFONTW lf{};
    lf.lfHeight = s16(p);
    lf.lfWidth = s16(p + 2);
    lf.lfEscapement = s16(p + 4);
    lf.lfOrientation = s16(p + 6);
    lf.lfWeight = s16(p + 8);
    lf.lfItalic = p[10];
    lf.lfUnderline = p[11];
    lf.lfStrikeOut = p[12];
    lf.lfCharSet = p[13];
    lf.lfOutPrecision = p[14];
    lf.lfClipPrecision = p[15];
    lf.lfQuality = p[16];
    lf.lfPitchAndFamily = p[17];
    for (size_t i = 0; i < 31 && 18 + i < n && p[18 + i]; ++i)
        lf.lfFaceName[i] = fromAnsi(p[18 + i]);
    return lf;
}

// A region object: its scans turned into rectangles (logical units).
bool region16(const uint8_t* p, size_t n, std::vector<RECT>& rects)
{
    // next, type, count (4 bytes), size, scans, largest scan, bounds (8 bytes), then the scans
    if (n < 22)
        return false;
    const size_t scans = le16(p + 10);
    size_t at = 22;
    for (size_t i = 0; i < scans; ++i) {
        if (n - at < 6)
            return false;
        const size_t count = le16(p + at);
        const int top = s16(p + at + 2), bottom = s16(p + at + 4);
        // count is of coordinates: left, right pairs.
        if ((n - at - 6) / 2 < count + 1)
            return false;
        for (size_t k = 0; k + 1 < count; k += 2)
            rects.push_back(RECT{s16(p + at + 6 + k * 2), top, s16(p + at + 8 + k * 2), bottom});
        at += 6 + count * 2 + 2;
    }
    return true;
}

// A device-dependent bitmap (type, width, height, bytes a row, planes, bits a pixel, then
// its rows top first) as colours, top row first; false unless all its rows are in the
// record. A monochrome bitmap meeting a colour device takes the text colour for its 0 bits
// and the background colour for its 1 bits; raw keeps them as 0 and 1. Colour bitmaps carry
// no table: 4 bits index the sixteen standard colours, 8 bits the selected palette.
bool deviceBitmap(const Player& pl, const uint8_t* head, const uint8_t* rows, size_t bytes, bool raw, int& w, int& h,
                  std::vector<COLORREF>& out)
{
    static const COLORREF vga[16] = {0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                                     0x808000, 0xC0C0C0, 0x808080, 0x0000FF, 0x00FF00, 0x00FFFF,
                                     0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    w = s16(head + 2);
    h = s16(head + 4);
    const size_t stride = le16(head + 6);
    const unsigned bpp = head[9];
    if (head[8] != 1 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) || w <= 0 ||
        h <= 0 || stride < (size_t(w) * bpp + 7) / 8 || bytes / stride < size_t(h))
        return false;
    const COLORREF zero = raw ? 0 : pl.colour(pl.s.textColour), one = raw ? 1 : pl.colour(pl.s.bkColour);
    const std::vector<PALETTEENTRY>& pal = pl.palette();
    out.resize(size_t(w) * size_t(h));
    for (size_t y = 0; y < size_t(h); ++y) {
        const uint8_t* row = rows + y * stride;
        for (size_t x = 0; x < size_t(w); ++x) {
            COLORREF c;
            switch (bpp) {
            case 1: c = (row[x / 8] >> (7 - x % 8)) & 1 ? one : zero; break;
            case 4: c = vga[(row[x / 2] >> (x % 2 ? 0 : 4)) & 15]; break;
            case 8: {
                const size_t i = row[x];
                c = i < pal.size() ? RGB(pal[i].peRed, pal[i].peGreen, pal[i].peBlue) : i < 16 ? vga[i] : 0;
                break;
            }
            case 16: { // 5 bits each of red, green, blue, widened to 8
                const unsigned v = le16(row + x * 2);
                const unsigned r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
                c = RGB(r << 3 | r >> 2, g << 3 | g >> 2, b << 3 | b >> 2);
                break;
            }
            default: { // blue, green, red (and a spare byte)
                const uint8_t* q = row + x * (bpp / 8);
                c = RGB(q[2], q[1], q[0]);
                break;
            }
            }
            out[y * size_t(w) + x] = c;
        }
    }
    return true;
}

// Object-creating records that take a table slot even when nothing of them is kept.
bool createsObject(unsigned fn)
{
    return fn == 0x02FA || fn == 0x02FC || fn == 0x02FB || fn == 0x00F7 || fn == 0x06FF || fn == 0x0142 ||
           fn == 0x01F9;
}

bool makeObject(Player& pl, unsigned fn, const uint8_t* p, size_t n, MetaObject& o)
{
    switch (fn) {
    case 0x02FA: { // CREATEPENINDIRECT: style, width (x, y), colour
        if (n < 10)
            return false;
        const int style = le16(p);
        o.kind = MetaObject::Pen;
        o.pen.style = style & 0x0F;
        o.pen.null = o.pen.style == 5;
        o.pen.width = s16(p + 2);
        o.pen.cosmetic = o.pen.width == 0;
        o.pen.colour = le32(p + 6);
        const int cap = style & 0x0F00, join = style & 0xF000;
        o.pen.cap = cap == 0x0100 ? Cap::Square : cap == 0x0200 ? Cap::Flat : Cap::Round;
        o.pen.join = join == 0x1000 ? Join::Bevel : join == 0x2000 ? Join::Miter : Join::Round;
        return true;
    }
    case 0x02FC: { // CREATEBRUSHINDIRECT: style, colour, hatch
        if (n < 8)
            return false;
        const int style = le16(p);
        o.kind = MetaObject::Brush;
        if (style != 1) {
            o.brush.paint.colour = le32(p + 2);
            o.brush.paint.kind = style == 2 && le16(p + 6) <= 5 ? Paint::Hatch : Paint::Solid;
            o.brush.paint.hatch = le16(p + 6);
        }
        return true;
    }
    case 0x02FB: { // short font records still take their slot
        uint8_t f[50] = {};
        std::memcpy(f, p, std::min<size_t>(n, sizeof f));
        o.kind = MetaObject::Font;
        o.font = font16(f, sizeof f);
        return true;
    }
    case 0x00F7: { // CREATEPALETTE: version, count, entries
        o.kind = MetaObject::Palette;
        if (n < 4)
            return true;
        const size_t count = le16(p + 2);
        for (size_t i = 0; i < count && 4 + i * 4 + 4 <= n; ++i)
            o.palette.push_back(PALETTEENTRY{p[4 + i * 4], p[5 + i * 4], p[6 + i * 4], p[7 + i * 4]});
        return true;
    }
    case 0x06FF:
        o.kind = MetaObject::Region;
        if (!region16(p, n, o.rects))
            o.rects.clear();
        return true;
    case 0x0142: { // DIBCREATEPATTERNBRUSH: style, usage, packed DIB
        o.kind = MetaObject::Brush;
        size_t off;
        if (n < 4 || !Player::packedBits(p + 4, n - 4, le16(p + 2), off))
            return true;
        o.brush.paint = pl.brushFromDib(p + 4, off, p + 4 + off, n - 4 - off, le16(p) == 3 ? 0 : le16(p + 2));
        return true;
    }
    case 0x01F9: { // CREATEPATTERNBRUSH: a device bitmap's head, 18 reserved bytes, its rows
        o.kind = MetaObject::Brush;
        if (n < 32 || le16(p + 2) > 256 || le16(p + 4) > 256)
            return true;
        int w, h;
        std::vector<COLORREF> bits;
        // Monochrome patterns keep 0 and 1 and take the colours of the moment they paint.
        const bool mono = p[9] == 1;
        if (!deviceBitmap(pl, p, p + 32, n - 32, mono, w, h, bits))
            return true;
        o.brush.paint.kind = Paint::Pattern;
        o.brush.paint.width = w;
        o.brush.paint.height = h;
        o.brush.paint.pixels = std::make_shared<const std::vector<COLORREF>>(std::move(bits));
        o.brush.paint.mono = mono;
        return true;
    }
    default:
        o.kind = MetaObject::Other;
        return true;
    }
}

void text(Player& pl, const uint8_t* p, size_t n, bool ext)
{
    if (!ext) { // TEXTOUT: count, string (padded to words), y, x
        if (n < 2)
            return;
        const size_t count = le16(p), padded = (count + 1) & ~size_t(1);
        if (n < 2 + padded + 4)
            return;
        pl.text(s16(p + 2 + padded + 2), s16(p + 2 + padded), ansi(p + 2, count), 0, nullptr, {});
        return;
    }
    // EXTTEXTOUT: y, x, count, options, [rectangle], string, [advances]
    if (n < 8)
        return;
    const int y = s16(p), x = s16(p + 2);
    const size_t count = le16(p + 4);
    const UINT options = le16(p + 6);
    size_t at = 8;
    RECT box{};
    const bool hasRect = (options & (ETO_OPAQUE | ETO_CLIPPED)) != 0;
    if (hasRect) {
        if (n < 16)
            return;
        box = RECT{s16(p + 8), s16(p + 10), s16(p + 12), s16(p + 14)};
        at = 16;
    }
    if (n - at < count)
        return;
    std::vector<double> dx;
    const size_t after = at + ((count + 1) & ~size_t(1));
    if (after <= n && (n - after) / 2 >= count)
        for (size_t i = 0; i < count; ++i)
            dx.push_back(s16(p + after + i * 2));
    if (count == 0) {
        if (hasRect && (options & ETO_OPAQUE))
            pl.text(x, y, u"", options, &box, {});
        return;
    }
    pl.text(x, y, ansi(p + at, count), options, hasRect ? &box : nullptr, dx);
}

// A packed DIB at p + at playing into destination (x, y, w, h) from source (xs, ys, ws, hs).
void packedDib(Player& pl, const uint8_t* p, size_t n, size_t at, unsigned usage, int x, int y, int w, int h, int xs,
               int ys, int ws, int hs, DWORD rop, bool fromContext)
{
    size_t off;
    if (at > n || !Player::packedBits(p + at, n - at, usage, off))
        return;
    BlitExtra extra;
    extra.fromContext = fromContext;
    pl.dib(DibSource{p + at, off, p + at + off, n - at - off, usage}, x, y, w, h, xs, ys, ws, hs, rop, extra);
}

// A device bitmap at p + at (n >= at + 10) drawn as a top-down 32-bit DIB of its colours.
void deviceBlit(Player& pl, const uint8_t* p, size_t n, size_t at, int x, int y, int w, int h, int xs, int ys, int ws,
                int hs, DWORD rop)
{
    int bw, bh;
    std::vector<COLORREF> px;
    if (!deviceBitmap(pl, p + at, p + at + 10, n - at - 10, false, bw, bh, px))
        return;
    BITMAPINFOHEADER head{};
    head.biSize = sizeof head;
    head.biWidth = bw;
    head.biHeight = -bh;
    head.biPlanes = 1;
    head.biBitCount = 32;
    std::vector<uint8_t> bits(px.size() * 4);
    for (size_t i = 0; i < px.size(); ++i) {
        bits[i * 4] = GetBValue(px[i]);
        bits[i * 4 + 1] = GetGValue(px[i]);
        bits[i * 4 + 2] = GetRValue(px[i]);
    }
    BlitExtra extra;
    extra.fromContext = true;
    pl.dib(DibSource{reinterpret_cast<const uint8_t*>(&head), sizeof head, bits.data(), bits.size(), DIB_RGB_COLORS},
           x, y, w, h, xs, ys, ws, hs, rop, extra);
}

void bitmapRecord(Player& pl, unsigned fn, const uint8_t* p, size_t n, size_t words)
{
    // Without a bitmap a blit has a reserved word and paints with the brush.
    const bool noBitmap = words == size_t((fn >> 8) + 3);
    switch (fn) {
    case 0x0940: // DIBBITBLT: rop, ySrc, xSrc, height, width, yDest, xDest, DIB
        if (n < 16)
            return;
        if (noBitmap) {
            if (n >= 18)
                pl.patBlt(s16(p + 16), s16(p + 14), s16(p + 12), s16(p + 10), le32(p));
            return;
        }
        packedDib(pl, p, n, 16, 0, s16(p + 14), s16(p + 12), s16(p + 10), s16(p + 8), s16(p + 6), s16(p + 4),
                  s16(p + 10), s16(p + 8), le32(p), true);
        return;
    case 0x0B41: // DIBSTRETCHBLT: rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest, DIB
        if (n < 20)
            return;
        if (noBitmap) {
            if (n >= 22)
                pl.patBlt(s16(p + 20), s16(p + 18), s16(p + 16), s16(p + 14), le32(p));
            return;
        }
        packedDib(pl, p, n, 20, 0, s16(p + 18), s16(p + 16), s16(p + 14), s16(p + 12), s16(p + 10), s16(p + 8),
                  s16(p + 6), s16(p + 4), le32(p), true);
        return;
    case 0x0F43: // STRETCHDIB: rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest, DIB
        if (n < 22)
            return;
        packedDib(pl, p, n, 22, le16(p + 4), s16(p + 20), s16(p + 18), s16(p + 16), s16(p + 14), s16(p + 12),
                  s16(p + 10), s16(p + 8), s16(p + 6), le32(p), false);
        return;
    case 0x0D33: // SETDIBTODEV: usage, scans, start, ySrc, xSrc, height, width, yDest, xDest, DIB
        if (n < 18)
            return;
        packedDib(pl, p, n, 18, le16(p), s16(p + 16), s16(p + 14), s16(p + 12), s16(p + 10), s16(p + 8), s16(p + 6),
                  s16(p + 12), s16(p + 10), SRCCOPY, false);
        return;
    case 0x061D: // PATBLT: rop, height, width, y, x
        if (n >= 12)
            pl.patBlt(s16(p + 10), s16(p + 8), s16(p + 6), s16(p + 4), le32(p));
        return;
    case 0x0922: // BITBLT: rop, ySrc, xSrc, height, width, yDest, xDest, [device bitmap]
    case 0x0B23: // STRETCHBLT: rop, srcH, srcW, ySrc, xSrc, [destH, destW,] yDest, xDest, [device bitmap]
        if (noBitmap) {
            const size_t at = fn == 0x0922 ? 8 : 12;
            if (n >= at + 10)
                pl.patBlt(s16(p + at + 8), s16(p + at + 6), s16(p + at + 4), s16(p + at + 2), le32(p));
            return;
        }
        if (fn == 0x0922 && n >= 26)
            deviceBlit(pl, p, n, 16, s16(p + 14), s16(p + 12), s16(p + 10), s16(p + 8), s16(p + 6), s16(p + 4),
                       s16(p + 10), s16(p + 8), le32(p));
        else if (fn == 0x0B23 && n >= 30)
            deviceBlit(pl, p, n, 20, s16(p + 18), s16(p + 16), s16(p + 14), s16(p + 12), s16(p + 10), s16(p + 8),
                       s16(p + 6), s16(p + 4), le32(p));
        return;
    default:
        return;
    }
}

} // namespace

void playWmfRecord(Player& pl, unsigned fn, const uint8_t* r, size_t size)
{
    const uint8_t* p = r + 6;
    const size_t n = size - 6; // parameter bytes
    PlayState& s = pl.s;
    std::vector<PointF> pts;
    if (createsObject(fn)) {
        MetaObject o;
        if (!makeObject(pl, fn, p, n, o))
            return;
        const int slot = pl.wmfFreeSlot();
        if (slot >= 0)
            pl.put(size_t(slot), std::move(o));
        return;
    }
    auto arg = [&](size_t i) { return double(s16(p + 2 * i)); };
    auto has = [&](size_t words) { return n >= 2 * words; };
    switch (fn) {
    case 0x0103: if (has(1)) pl.setMapMode(s16(p)); break;
    case 0x0102: if (has(1) && (le16(p) == 1 || le16(p) == 2)) s.bkMode = le16(p); break;
    case 0x0104: if (has(1) && le16(p) >= 1 && le16(p) <= 16) s.rop2 = le16(p); break;
    case 0x0106: if (has(1)) s.winding = le16(p) == 2; break;
    case 0x0107: if (has(1)) s.stretchMode = le16(p); break;
    case 0x012E: if (has(1)) s.textAlign = le16(p); break;
    case 0x0201: if (has(2)) s.bkColour = le32(p); break;
    case 0x0209: if (has(2)) s.textColour = le32(p); break;
    case 0x020B: if (has(2)) pl.setWindowOrg(arg(1), arg(0)); break;
    case 0x020C: if (has(2)) pl.setWindowExt(arg(1), arg(0)); break;
    case 0x020D: if (has(2)) pl.setViewportOrg(arg(1), arg(0)); break;
    case 0x020E: if (has(2)) pl.setViewportExt(arg(1), arg(0)); break;
    case 0x020F: if (has(2)) pl.offsetWindowOrg(arg(1), arg(0)); break;
    case 0x0211: if (has(2)) pl.offsetViewportOrg(arg(1), arg(0)); break;
    case 0x0410: if (has(4)) pl.scaleWindowExt(arg(3), arg(2), arg(1), arg(0)); break;
    case 0x0412: if (has(4)) pl.scaleViewportExt(arg(3), arg(2), arg(1), arg(0)); break;
    case 0x0213: if (has(2)) pl.lineTo(arg(1), arg(0)); break;
    case 0x0214: if (has(2)) pl.moveTo(arg(1), arg(0)); break;
    case 0x0220: if (has(2)) pl.offsetClip(arg(1), arg(0)); break;
    case 0x0415: if (has(4)) pl.excludeClip(arg(3), arg(2), arg(1), arg(0)); break;
    case 0x0416: if (has(4)) pl.intersectClip(arg(3), arg(2), arg(1), arg(0)); break;
    case 0x041B: if (has(4)) pl.box(Player::Box::Rect, arg(3), arg(2), arg(1), arg(0)); break;
    case 0x0418: if (has(4)) pl.box(Player::Box::Ellipse, arg(3), arg(2), arg(1), arg(0)); break;
    case 0x061C:
        if (has(6))
            pl.box(Player::Box::RoundRect, arg(5), arg(4), arg(3), arg(2), arg(1), arg(0));
        break;
    case 0x0817: case 0x081A: case 0x0830:
        if (has(8)) {
            const Player::Box k = fn == 0x0817 ? Player::Box::Arc : fn == 0x081A ? Player::Box::Pie : Player::Box::Chord;
            pl.box(k, arg(7), arg(6), arg(5), arg(4), arg(3), arg(2), arg(1), arg(0));
        }
        break;
    case 0x041F: if (has(4)) pl.setPixel(arg(3), arg(2), le32(p)); break;
    case 0x0419: if (has(4)) pl.floodFill(arg(3), arg(2), le32(p), false); break; // FLOODFILL: colour, y, x
    case 0x0548: // EXTFLOODFILL: mode, colour, y, x
        if (has(5))
            pl.floodFill(arg(4), arg(3), le32(p + 2), le16(p) == 1);
        break;
    case 0x0324: case 0x0325:
        if (has(1) && points16(p, n, 2, le16(p), pts)) {
            if (fn == 0x0324)
                pl.polygons({pts}, true);
            else
                pl.polyline(pts, false);
        }
        break;
    case 0x0538: { // POLYPOLYGON: count, counts, points
        if (!has(1))
            return;
        const size_t polys = le16(p);
        if ((n - 2) / 2 < polys)
            return;
        uint64_t total = 0;
        for (size_t i = 0; i < polys; ++i)
            total += le16(p + 2 + i * 2);
        if (!points16(p, n, 2 + polys * 2, total, pts))
            return;
        std::vector<std::vector<PointF>> all;
        size_t at = 0;
        for (size_t i = 0; i < polys; ++i) {
            const size_t c = le16(p + 2 + i * 2);
            all.emplace_back(pts.begin() + long(at), pts.begin() + long(at + c));
            at += c;
        }
        pl.polygons(all, true);
        break;
    }
    case 0x001E: pl.save(); break;
    case 0x0127: if (has(1)) pl.restore(s16(p)); break;
    case 0x012D: case 0x0234: if (has(1)) pl.select(le16(p)); break;
    case 0x01F0: if (has(1)) pl.erase(le16(p)); break;
    case 0x0037: { // SETPALENTRIES: start, count, entries
        if (!has(2))
            return;
        // Applies to the palette selected last: the one the player holds.
        const size_t start = le16(p), count = le16(p + 2);
        if ((n - 4) / 4 < count)
            return;
        std::vector<PALETTEENTRY> pal = pl.palette();
        if (pal.size() < start + count)
            pal.resize(start + count);
        for (size_t i = 0; i < count; ++i)
            pal[start + i] = PALETTEENTRY{p[4 + i * 4], p[5 + i * 4], p[6 + i * 4], 0};
        s.palette = std::make_shared<const std::vector<PALETTEENTRY>>(std::move(pal));
        break;
    }
    case 0x0521: text(pl, p, n, false); break;
    case 0x0A32: text(pl, p, n, true); break;
    case 0x0228: case 0x0429: case 0x012A: case 0x012B: case 0x012C: { // region records
        if (!has(1))
            return;
        const MetaObject* rg = pl.slot(le16(p));
        if (fn == 0x012C) {
            if (!rg || rg->kind != MetaObject::Region) {
                pl.selectClip(nullptr, RGN_COPY);
                return;
            }
            const Region r = pl.regionFromRects(rg->rects, true);
            pl.selectClip(&r, RGN_COPY);
            return;
        }
        if (!rg || rg->kind != MetaObject::Region)
            return;
        const Region r = pl.regionFromRects(rg->rects, true);
        if (fn == 0x012A) {
            Paint solid;
            solid.kind = Paint::Solid;
            pl.fillRegion(r, solid, R2_NOT);
        } else if (fn == 0x012B) {
            pl.fillRegion(r, s.brush.paint, s.rop2);
        } else if (has(2)) {
            const MetaObject* br = pl.slot(le16(p + 2));
            if (!br || br->kind != MetaObject::Brush)
                return;
            if (fn == 0x0228)
                pl.fillRegion(r, br->brush.paint, s.rop2);
            else if (has(4))
                pl.frameRegion(r, br->brush.paint, arg(3), arg(2));
        }
        break;
    }
    case 0x0940: case 0x0B41: case 0x0F43: case 0x0D33: case 0x061D: case 0x0922: case 0x0B23:
        bitmapRecord(pl, fn, p, n, size / 2);
        break;
    default:
        break; // draws nothing, or unknown: skipped by its size
    }
}

} // namespace gdi
} // namespace platform
