#include "platform/GdiInternal.h"

#include <algorithm>
#include <cstring>

using namespace platform::gdi;
using platform::Region;

namespace {

// Coordinates this far out are refused, so no arithmetic on them can overflow.
const int kFar = 1 << 28;
bool far(int v) { return v > kFar || v < -kFar; }

enum class Op { Copy, Invert, And, Paint, NotCopy, DstInvert, Black, White, Bad };

Op opOf(DWORD rop)
{
    switch (rop) {
    case SRCCOPY:
        return Op::Copy;
    case SRCINVERT:
        return Op::Invert;
    case SRCAND:
        return Op::And;
    case SRCPAINT:
        return Op::Paint;
    case NOTSRCCOPY:
        return Op::NotCopy;
    case DSTINVERT:
        return Op::DstInvert;
    case BLACKNESS:
        return Op::Black;
    case WHITENESS:
        return Op::White;
    default:
        return Op::Bad;
    }
}

bool needsSource(Op op) { return op != Op::DstInvert && op != Op::Black && op != Op::White; }

inline uint32_t apply(Op op, uint32_t s, uint32_t d)
{
    switch (op) {
    case Op::Copy:
        return s;
    case Op::Invert:
        return s ^ d;
    case Op::And:
        return s & d;
    case Op::Paint:
        return s | d;
    case Op::NotCopy:
        return ~s & 0xFFFFFF;
    case Op::DstInvert:
        return ~d & 0xFFFFFF;
    case Op::Black:
        return 0;
    case Op::White:
        return 0xFFFFFF;
    default:
        return d;
    }
}

// Pixels as 0x00RRGGBB words for arithmetic.
inline uint32_t load(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
inline void store(uint8_t* p, uint32_t v, int bpp)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    if (bpp == 32)
        p[3] = 0;
}

// The source side: its own bounds, never its clip region.
bool resolveSource(DC& d, Target& t)
{
    bool hadClip = d.hasClip;
    d.hasClip = false;
    bool ok = resolve(d, t);
    d.hasClip = hadClip;
    return ok;
}

// A copy of the source rectangle, so blits within one surface may overlap.
struct SourceCopy {
    std::vector<uint32_t> px;
    std::vector<uint8_t> valid;
    int x0 = 0, y0 = 0, w = 0, h = 0;
    bool get(int x, int y, uint32_t& v) const
    {
        x -= x0;
        y -= y0;
        if (x < 0 || y < 0 || x >= w || y >= h)
            return false;
        size_t i = size_t(y) * size_t(w) + size_t(x);
        v = px[i];
        return valid[i] != 0;
    }
};

bool copySource(const Target& s, int x0, int y0, int w, int h, SourceCopy& out)
{
    if (int64_t(w) * h > (int64_t(1) << 28))
        return false;
    out.x0 = x0;
    out.y0 = y0;
    out.w = w;
    out.h = h;
    out.px.assign(size_t(w) * size_t(h), 0);
    out.valid.assign(size_t(w) * size_t(h), 0);
    Region area(RECT{x0, y0, x0 + w, y0 + h});
    area.intersect(s.allowed);
    for (const RECT& r : area.rects())
        for (int y = r.top; y < r.bottom; ++y) {
            const uint8_t* p = s.at(r.left, y);
            size_t i = size_t(y - y0) * size_t(w) + size_t(r.left - x0);
            for (int x = r.left; x < r.right; ++x, p += s.bpp / 8, ++i) {
                out.px[i] = load(p);
                out.valid[i] = 1;
            }
        }
    return true;
}

} // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop)
{
    Op op = opOf(rop);
    auto d = dc(dst);
    if (!d || op == Op::Bad || width < 0 || height < 0 || far(x) || far(y) || far(width) || far(height) ||
        far(xSrc) || far(ySrc))
        return FALSE;
    std::shared_ptr<DC> s;
    if (needsSource(op)) {
        s = dc(src);
        if (!s)
            return FALSE;
    }
    Target dt;
    if (!resolve(*d, dt) || width == 0 || height == 0)
        return TRUE;
    Region area(RECT{x, y, x + width, y + height});
    area.intersect(dt.allowed);
    if (!s) {
        for (const RECT& r : area.rects())
            for (int yy = r.top; yy < r.bottom; ++yy) {
                uint8_t* p = dt.at(r.left, yy);
                for (int xx = r.left; xx < r.right; ++xx, p += dt.bpp / 8)
                    store(p, apply(op, 0, load(p)), dt.bpp);
            }
        return TRUE;
    }
    Target st;
    if (!resolveSource(*s, st))
        return TRUE;
    int dx = xSrc - x, dy = ySrc - y;
    Region fromSource = st.allowed;
    fromSource.offset(-dx, -dy);
    area.intersect(fromSource);
    bool sameMemory = st.top == dt.top;
    if (!sameMemory && op == Op::Copy && st.bpp == 32 && dt.bpp == 32) {
        // Fast path: row copies; the fourth byte is stored as 0 whatever a DIB section held.
        for (const RECT& r : area.rects())
            for (int yy = r.top; yy < r.bottom; ++yy) {
                uint8_t* out = dt.at(r.left, yy);
                const uint8_t* in = st.at(r.left + dx, yy + dy);
                size_t n = size_t(r.right - r.left);
                for (size_t i = 0; i < n; ++i) {
                    uint32_t v;
                    std::memcpy(&v, in + i * 4, 4);
                    v &= 0x00FFFFFFu; // little-endian: the fourth byte is the top one
                    std::memcpy(out + i * 4, &v, 4);
                }
            }
        return TRUE;
    }
    SourceCopy copy;
    if (sameMemory) {
        if (!copySource(st, xSrc, ySrc, width, height, copy))
            return FALSE;
    }
    for (const RECT& r : area.rects())
        for (int yy = r.top; yy < r.bottom; ++yy) {
            uint8_t* p = dt.at(r.left, yy);
            for (int xx = r.left; xx < r.right; ++xx, p += dt.bpp / 8) {
                uint32_t sv;
                if (sameMemory) {
                    if (!copy.get(xx + dx, yy + dy, sv))
                        continue;
                } else {
                    sv = load(st.at(xx + dx, yy + dy));
                }
                store(p, apply(op, sv, load(p)), dt.bpp);
            }
        }
    return TRUE;
}

namespace {

// Shared by StretchBlt and TransparentBlt: each destination pixel takes the source
// pixels floor(d * sourceExtent / destExtent) up to the next one's, merged by mode.
BOOL stretch(HDC dst, int x, int y, int w, int h, HDC src, int xs, int ys, int ws, int hs, Op op, int mode,
             bool keyed, uint32_t key)
{
    auto d = dc(dst);
    auto s = dc(src);
    if (!d || !s || op == Op::Bad || w < 0 || h < 0 || ws < 0 || hs < 0)
        return FALSE;
    for (int v : {x, y, w, h, xs, ys, ws, hs})
        if (far(v))
            return FALSE;
    Target dt, st;
    if (w == 0 || h == 0 || ws == 0 || hs == 0 || !resolve(*d, dt) || !resolveSource(*s, st))
        return TRUE;
    SourceCopy copy;
    if (!copySource(st, xs, ys, ws, hs, copy))
        return FALSE;
    Region area(RECT{x, y, x + w, y + h});
    area.intersect(dt.allowed);
    // Source spans per destination column and row.
    std::vector<int> cx0(size_t(w) + 1), cy0(size_t(h) + 1);
    for (int i = 0; i <= w; ++i)
        cx0[size_t(i)] = int(int64_t(i) * ws / w);
    for (int j = 0; j <= h; ++j)
        cy0[size_t(j)] = int(int64_t(j) * hs / h);
    bool merge = (mode == BLACKONWHITE || mode == WHITEONBLACK) && !keyed;
    for (const RECT& r : area.rects())
        for (int yy = r.top; yy < r.bottom; ++yy) {
            int j = yy - y;
            int sy0 = cy0[size_t(j)], sy1 = std::max(cy0[size_t(j) + 1], sy0 + 1);
            for (int xx = r.left; xx < r.right; ++xx) {
                int i = xx - x;
                int sx0 = cx0[size_t(i)], sx1 = std::max(cx0[size_t(i) + 1], sx0 + 1);
                uint32_t sv = 0;
                bool any = false;
                if (!merge) {
                    any = copy.get(xs + sx0, ys + sy0, sv);
                } else {
                    uint32_t acc = mode == BLACKONWHITE ? 0xFFFFFF : 0;
                    for (int sy = sy0; sy < sy1; ++sy)
                        for (int sx = sx0; sx < sx1; ++sx) {
                            uint32_t v;
                            if (!copy.get(xs + sx, ys + sy, v))
                                continue;
                            acc = mode == BLACKONWHITE ? (acc & v) : (acc | v);
                            any = true;
                        }
                    sv = acc;
                }
                if (!any || (keyed && sv == key))
                    continue;
                uint8_t* p = dt.at(xx, yy);
                store(p, apply(op, sv, load(p)), dt.bpp);
            }
        }
    return TRUE;
}

} // namespace

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop)
{
    Op op = opOf(rop);
    if (op == Op::Bad)
        return FALSE;
    if (!needsSource(op))
        return width >= 0 && height >= 0 ? BitBlt(dst, x, y, width, height, nullptr, 0, 0, rop) : FALSE;
    auto d = dc(dst);
    if (!d)
        return FALSE;
    return stretch(dst, x, y, width, height, src, xSrc, ySrc, wSrc, hSrc, op, d->stretchMode, false, 0);
}

BOOL TransparentBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                    UINT transparent)
{
    uint32_t key = uint32_t(GetBValue(transparent)) | uint32_t(GetGValue(transparent)) << 8 |
                   uint32_t(GetRValue(transparent)) << 16;
    return stretch(dst, x, y, width, height, src, xSrc, ySrc, wSrc, hSrc, Op::Copy, COLORONCOLOR, true, key);
}
