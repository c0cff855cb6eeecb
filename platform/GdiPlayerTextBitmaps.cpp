// The player's text and bitmaps: mapped here, drawn by the GDI text and blit services;
// every bitmap header is checked against the record's bytes before they see it.
#include "platform/GdiPlayer.h"
#include "platform/GdiPixels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace gdi {

using namespace play;

// ---- text -------------------------------------------------------------------------------

void Player::text(double x, double y, const std::u16string& str, UINT options, const RECT* logicalRect,
                  const std::vector<double>& dx, bool advanced)
{
    if (inPath_ || (str.empty() && !(logicalRect && (options & ETO_OPAQUE))))
        return;
    const bool updateCp = (s.textAlign & 1) != 0; // TA_UPDATECP
    PointF ref = updateCp ? s.pos : mapRound(x, y);
    LOGFONTW lf = s.font;
    const double sy = scaleY(), sx = scaleX();
    // Letters taller than twice the picture show nothing more and would cost their square.
    const double tallest = std::min(4096.0, 2.0 * std::max(rc.right - rc.left, rc.bottom - rc.top) + 2);
    lf.lfHeight = LONG(std::clamp(std::floor(lf.lfHeight * sy + (lf.lfHeight < 0 ? -0.5 : 0.5)), -tallest, tallest));
    if (lf.lfHeight == 0 && s.font.lfHeight != 0)
        lf.lfHeight = s.font.lfHeight < 0 ? -1 : 1;
    lf.lfWidth = LONG(std::clamp(std::floor(std::fabs(lf.lfWidth * sx) + 0.5), 0.0, tallest));
    // In the advanced graphics mode the escapement turns with the mapping (a flipped axis
    // mirrors it, a world rotation adds its angle); in the compatible one it is the
    // device's, text staying upright whatever the axes do.
    double esc = lf.lfEscapement;
    // A world transform exists only in the advanced mode, whatever a text record says.
    const Xform& w = s.world;
    if (advanced || w.a != 1 || w.b != 0 || w.c != 0 || w.d != 1) {
        if (full_.det() < 0)
            esc = -esc;
        esc += std::atan2(-full_.b, full_.a) * 1800 / kPi * (full_.d < 0 ? -1 : 1);
    }
    esc = std::fmod(esc, 3600);
    lf.lfEscapement = lf.lfOrientation = LONG(std::floor(esc + 0.5));
    HFONT font = CreateFontIndirectW(&lf);
    if (!font)
        return;
    const HGDIOBJ old = SelectObject(hdc, font);
    SetTextColor(hdc, colour(s.textColour));
    SetBkColor(hdc, colour(s.bkColour));
    SetBkMode(hdc, s.bkMode == 1 ? 1 : 2);
    SetTextAlign(hdc, s.textAlign & ~1u);
    RECT dev{};
    const RECT* rp = nullptr;
    if (logicalRect && (options & (ETO_OPAQUE | ETO_CLIPPED))) {
        const PointF p = mapRound(logicalRect->left, logicalRect->top),
                     q = mapRound(logicalRect->right, logicalRect->bottom);
        dev = RECT{int(std::min(p.x, q.x)), int(std::min(p.y, q.y)), int(std::max(p.x, q.x)), int(std::max(p.y, q.y))};
        rp = &dev;
    }
    std::vector<INT> adv;
    if (!dx.empty()) {
        // Advances scaled, the rounding carried so the string keeps its length.
        double sum = 0;
        int placed = 0;
        for (double d : dx) {
            sum += d * sx;
            const int at = clampInt(sum);
            adv.push_back(at - placed);
            placed = at;
        }
    }
    const UINT count = UINT(std::min<size_t>(str.size(), dx.empty() ? str.size() : adv.size()));
    ExtTextOutW(hdc, clampInt(ref.x), clampInt(ref.y), options & (ETO_OPAQUE | ETO_CLIPPED), rp,
                reinterpret_cast<LPCWSTR>(str.data()), count, adv.empty() ? nullptr : adv.data());
    if (updateCp) {
        double width = 0;
        if (!adv.empty()) {
            for (INT a : adv)
                width += a;
        } else {
            SIZE size{0, 0};
            if (GetTextExtentPoint32W(hdc, reinterpret_cast<LPCWSTR>(str.data()), int(count), &size))
                width = size.cx;
        }
        const double ang = lf.lfEscapement * kPi / 1800;
        s.pos = PointF{double(clampInt(ref.x + width * std::cos(ang))), double(clampInt(ref.y - width * std::sin(ang)))};
    }
    SelectObject(hdc, old);
    DeleteObject(font);
}

// ---- bitmaps ------------------------------------------------------------------------------

namespace {

// A DIB checked against its bytes: header fields and where its colours and rows are.
struct DibView {
    int width = 0, height = 0, bits = 0;
    bool topDown = false;
    uint32_t compression = 0;
    size_t colours = 0; // table entries
    size_t stride = 0;
    std::vector<uint8_t> info; // BITMAPINFO: the 40-byte header, masks and colour table
};

// The largest source a record may expand: the pixels a 4000 x 4000 picture could need.
const int64_t kMaxDibPixels = int64_t(4096) * 4096;

bool viewDib(const uint8_t* bmi, size_t bmiBytes, size_t bitsBytes, unsigned usage, const std::vector<PALETTEENTRY>& pal,
             DibView& v)
{
    if (!bmi || bmiBytes < 12)
        return false;
    const uint32_t hsize = le32(bmi);
    if (hsize == 12) { // the old core header: 16-bit sizes, three-byte colours
        v.width = le16(bmi + 4);
        v.height = s16(bmi + 6);
        v.bits = le16(bmi + 10);
    } else if (hsize >= 40 && hsize <= bmiBytes) {
        v.width = s32(bmi + 4);
        v.height = s32(bmi + 8);
        v.bits = le16(bmi + 14);
        v.compression = le32(bmi + 16);
    } else {
        return false;
    }
    if (v.width <= 0 || v.height == 0 || v.height == INT32_MIN)
        return false;
    if (v.bits != 1 && v.bits != 4 && v.bits != 8 && v.bits != 16 && v.bits != 24 && v.bits != 32)
        return false;
    // Run-length bits are as long as the header says, and must be there.
    const bool rle = (v.compression == 1 && v.bits == 8) || (v.compression == 2 && v.bits == 4);
    if (v.compression != 0 && v.compression != 3 && !rle)
        return false;
    if (v.compression == 3 && ((v.bits != 16 && v.bits != 32) || (hsize != 40 && hsize < 52)))
        return false;
    const uint32_t sizeImage = hsize >= 40 ? le32(bmi + 20) : 0;
    if (rle && (v.height < 0 || sizeImage == 0 || sizeImage > bitsBytes))
        return false;
    v.topDown = v.height < 0;
    const int64_t h = std::llabs(int64_t(v.height));
    if (int64_t(v.width) * h > kMaxDibPixels)
        return false;
    v.stride = size_t((int64_t(v.width) * v.bits + 31) / 32 * 4);
    if (!rle && v.stride * size_t(h) > bitsBytes)
        return false;
    size_t used = hsize >= 40 && le32(bmi + 32) ? le32(bmi + 32) : 0;
    if (v.bits <= 8)
        v.colours = used ? std::min<size_t>(used, size_t(1) << v.bits) : size_t(1) << v.bits;
    const size_t entry = hsize == 12 ? 3 : (usage == 1 ? 2 : 4);
    const size_t masks = (v.compression == 3 && hsize == 40) ? 12 : 0;
    const size_t tableAt = hsize + masks;
    if (tableAt > bmiBytes || v.colours * entry > bmiBytes - tableAt)
        return false;
    // A BITMAPINFO the stand-in reads: 40-byte header, masks, RGB table.
    v.info.assign(40 + 12 + v.colours * 4, 0);
    uint8_t* o = v.info.data();
    auto put32 = [](uint8_t* p, uint32_t x) {
        p[0] = uint8_t(x), p[1] = uint8_t(x >> 8), p[2] = uint8_t(x >> 16), p[3] = uint8_t(x >> 24);
    };
    put32(o, 40);
    put32(o + 4, uint32_t(v.width));
    put32(o + 8, uint32_t(v.height));
    o[12] = 1;
    o[14] = uint8_t(v.bits);
    put32(o + 16, v.compression);
    put32(o + 20, sizeImage);
    put32(o + 32, uint32_t(v.colours));
    size_t at = 40;
    if (v.compression == 3) { // the masks: inside a larger header, or right after the 40-byte one
        std::memcpy(o + 40, bmi + 40, 12);
        at = 52;
    }
    const uint8_t* table = bmi + tableAt;
    for (size_t i = 0; i < v.colours; ++i) {
        uint8_t* e = o + at + i * 4;
        if (usage == 1) { // indexes into the logical palette
            const size_t k = le16(table + i * 2);
            if (k < pal.size()) {
                e[0] = pal[k].peBlue, e[1] = pal[k].peGreen, e[2] = pal[k].peRed;
            }
        } else {
            e[0] = table[i * entry], e[1] = table[i * entry + 1], e[2] = table[i * entry + 2];
        }
    }
    v.info.resize(at + v.colours * 4);
    return true;
}

} // namespace

Paint Player::brushFromDib(const uint8_t* bmi, size_t bmiBytes, const uint8_t* bits, size_t bitsBytes, unsigned usage) const
{
    Paint p;
    DibView v;
    if (!viewDib(bmi, bmiBytes, bitsBytes, usage, palette(), v) || int64_t(v.width) * std::llabs(int64_t(v.height)) > 256 * 256)
        return p;
    const int h = int(std::llabs(int64_t(v.height)));
    p.kind = Paint::Pattern;
    p.width = v.width;
    p.height = h;
    std::vector<COLORREF> pixels(size_t(v.width) * size_t(h));
    const uint8_t* table = v.info.data() + (v.compression == 3 ? 52 : 40);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = bits + size_t(v.topDown ? y : h - 1 - y) * v.stride;
        for (int x = 0; x < v.width; ++x) {
            COLORREF c = 0;
            if (v.bits <= 8) {
                const int per = 8 / v.bits;
                const unsigned idx = (row[x / per] >> ((per - 1 - x % per) * v.bits)) & ((1u << v.bits) - 1);
                if (idx < v.colours)
                    c = RGB(table[idx * 4 + 2], table[idx * 4 + 1], table[idx * 4]);
            } else if (v.bits == 16) {
                const unsigned w = le16(row + x * 2);
                c = RGB(((w >> 10) & 31) * 255 / 31, ((w >> 5) & 31) * 255 / 31, (w & 31) * 255 / 31);
            } else {
                const uint8_t* q = row + x * (v.bits / 8);
                c = RGB(q[2], q[1], q[0]);
            }
            pixels[size_t(y) * size_t(v.width) + size_t(x)] = c;
        }
    }
    p.pixels = std::make_shared<const std::vector<COLORREF>>(std::move(pixels));
    return p;
}

namespace {

// A DIB turned into a bitmap selected into a memory context: the source of the blits
// that take a context.
struct SourceDC {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    SourceDC(HDC like, const DibView& v, const uint8_t* bits)
    {
        const auto* info = reinterpret_cast<const BITMAPINFO*>(v.info.data());
        bitmap = CreateDIBitmap(like, &info->bmiHeader, CBM_INIT, bits, info, DIB_RGB_COLORS);
        dc = bitmap ? CreateCompatibleDC(like) : nullptr;
        if (dc)
            old = SelectObject(dc, bitmap);
    }
    ~SourceDC()
    {
        if (dc) {
            SelectObject(dc, old);
            DeleteDC(dc);
        }
        if (bitmap)
            DeleteObject(bitmap);
    }
};

// The player's brush as the context's, for the raster operations that read the pattern;
// hatches and patterns stand in by their colour.
struct BrushScope {
    HDC dc;
    HBRUSH brush = nullptr;
    HGDIOBJ old = nullptr;
    BrushScope(HDC d, const Paint& p) : dc(d)
    {
        brush = p.kind == Paint::None ? nullptr : CreateSolidBrush(p.colour);
        old = SelectObject(dc, brush ? static_cast<HGDIOBJ>(brush) : GetStockObject(NULL_BRUSH));
    }
    ~BrushScope()
    {
        SelectObject(dc, old);
        if (brush)
            DeleteObject(brush);
    }
};

} // namespace

bool Player::dib(const DibSource& src, double x, double y, double w, double h, int xs, int ys, int ws, int hs,
                 DWORD rop, const BlitExtra& extra)
{
    if (inPath_)
        return false;
    DibView v;
    if (!viewDib(src.bmi, src.bmiBytes, src.bitsBytes, src.usage, palette(), v))
        return false;
    const bool aligned = full_.b == 0 && full_.c == 0;
    const PointF p = mapRound(x, y), q = mapRound(x + w, y + h);
    const int dx = int(p.x), dy = int(p.y), dw = int(q.x - p.x), dh = int(q.y - p.y);
    const auto* info = reinterpret_cast<const BITMAPINFO*>(v.info.data());
    const Paint brush = resolved(s.brush.paint);
    const BrushScope pattern(hdc, brush);
    // Hatches and tiles reach the raster operations pixel by pixel, their gaps in the background.
    std::unique_ptr<PatternScope> tiles;
    if (brush.kind == Paint::Hatch || brush.kind == Paint::Pattern) {
        const COLORREF back = colour(s.bkColour);
        tiles = std::make_unique<PatternScope>(hdc, [brush, back](int x, int y, int n, uint32_t* out) {
            for (int i = 0; i < n; ++i) {
                COLORREF c;
                out[i] = toWord(brush.at(x + i, y, c) ? c : back);
            }
        });
    }
    // A bottom-up DIB's rows count from its bottom in the DIB calls, from the top in a context.
    const int64_t bh = std::llabs(int64_t(v.height));
    const int flipped = int(std::clamp<int64_t>(bh - ys - hs, INT32_MIN, INT32_MAX));
    if (extra.kind == BlitExtra::Stretch && aligned) {
        SetStretchBltMode(hdc, s.stretchMode);
        StretchDIBits(hdc, dx, dy, dw, dh, xs, extra.fromContext && !v.topDown ? flipped : ys, ws, hs, src.bits, info,
                      DIB_RGB_COLORS, rop);
        return true;
    }
    SourceDC source(hdc, v, src.bits);
    if (!source.dc)
        return false;
    const int top = !extra.fromContext && !v.topDown ? flipped : ys;
    ys = top;
    if (!aligned || extra.kind == BlitExtra::Plg) {
        POINT corners[3];
        if (extra.kind == BlitExtra::Plg) {
            for (int i = 0; i < 3; ++i) {
                const PointF c = mapRound(extra.plg[i].x, extra.plg[i].y);
                corners[i] = POINT{int(c.x), int(c.y)};
            }
        } else {
            const PointF a = mapRound(x, y), b = mapRound(x + w, y), c = mapRound(x, y + h);
            corners[0] = POINT{int(a.x), int(a.y)};
            corners[1] = POINT{int(b.x), int(b.y)};
            corners[2] = POINT{int(c.x), int(c.y)};
        }
        PlgBlt(hdc, corners, source.dc, xs, top, ws, hs, nullptr, 0, 0);
        return true;
    }
    switch (extra.kind) {
    case BlitExtra::Alpha: {
        BLENDFUNCTION blend{0, 0, BYTE(rop >> 16), BYTE(rop >> 24)};
        AlphaBlend(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, blend);
        break;
    }
    case BlitExtra::Transparent:
        TransparentBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, rop & 0xFFFFFF);
        break;
    case BlitExtra::Mask: {
        DibView mv;
        if (extra.mask.bmi && viewDib(extra.mask.bmi, extra.mask.bmiBytes, extra.mask.bitsBytes, extra.mask.usage,
                                      palette(), mv)) {
            const auto* minfo = reinterpret_cast<const BITMAPINFO*>(mv.info.data());
            HBITMAP mask = CreateDIBitmap(hdc, &minfo->bmiHeader, CBM_INIT, extra.mask.bits, minfo, DIB_RGB_COLORS);
            MaskBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, mask, extra.maskX, extra.maskY, rop);
            if (mask)
                DeleteObject(mask);
        } else {
            BitBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, rop & 0xFFFFFF);
        }
        break;
    }
    default:
        SetStretchBltMode(hdc, s.stretchMode);
        StretchBlt(hdc, dx, dy, dw, dh, source.dc, xs, ys, ws, hs, rop);
        break;
    }
    return true;
}

void Player::gradient(const std::vector<TRIVERTEX>& logical, const void* mesh, ULONG count, ULONG mode)
{
    if (inPath_)
        return;
    std::vector<TRIVERTEX> dev = logical;
    for (TRIVERTEX& t : dev) {
        const PointF p = mapRound(t.x, t.y);
        t.x = LONG(p.x);
        t.y = LONG(p.y);
    }
    GradientFill(hdc, dev.data(), ULONG(dev.size()), mesh, count, mode);
}

void Player::patBlt(double x, double y, double w, double h, DWORD rop)
{
    const PointF p = mapRound(x, y), q = mapRound(x + w, y + h);
    Outline o{Contour{{{std::min(p.x, q.x), std::min(p.y, q.y)}, {std::max(p.x, q.x), std::min(p.y, q.y)},
                       {std::max(p.x, q.x), std::max(p.y, q.y)}, {std::min(p.x, q.x), std::max(p.y, q.y)}},
                      true}};
    Target t;
    if (!target(t))
        return;
    std::vector<Span> spans;
    scanFill(o, false, t.allowed.bounds(), spans);
    // The ternary code's truth table (bit P<<2 | S<<1 | D) without a source is a binary
    // one (bit P<<1 | D), which is what the binary operations number from one.
    const unsigned table = (rop >> 16) & 0xFF;
    unsigned binary = 0;
    for (unsigned pd = 0; pd < 4; ++pd) {
        const unsigned bit = (pd >> 1) << 2 | (pd & 1);
        if (((table >> bit) & 1) != ((table >> (bit | 2)) & 1))
            return; // reads a source it does not have
        binary |= ((table >> bit) & 1) << pd;
    }
    if (binary == 0xA) // the destination kept
        return;
    Paint paint = resolved(s.brush.paint);
    if (paint.kind == Paint::None) { // a null brush paints black where the pattern is read
        paint.kind = Paint::Solid;
        paint.colour = 0;
    }
    paintSpans(t, spans, paint, background(), int(binary) + 1);
}


} // namespace gdi
} // namespace platform
