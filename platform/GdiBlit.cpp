// Blits between contexts: every ternary raster operation, stretching and mirroring,
// colour keys, masks, parallelograms and alpha blending, all through one walk
// (GdiPixels.h) that clips to the source's bounds and the destination's allowed region.
#include "platform/GdiPixels.h"

#include <cmath>
#include <climits>

using namespace platform::gdi;
using platform::Region;

namespace {

// Stands in for the source of operations that read none.
struct NullSource : PixelSource {
    NullSource() { bounds = RECT{-2 * kFarCoordinate, -2 * kFarCoordinate, 2 * kFarCoordinate, 2 * kFarCoordinate}; }
    void row(int, int, int n, uint32_t* out) override { std::fill(out, out + n, 0u); }
};

RECT normalized(int x, int y, int w, int h)
{
    return RECT{std::min(x, x + w), std::min(y, y + h), std::max(x, x + w), std::max(y, y + h)};
}

BOOL ropBlit(HDC dst, const BlitGeometry& g, HDC src, DWORD rop, bool stretchMode)
{
    auto d = dc(dst);
    if (!d || geometryFar(g))
        return FALSE;
    const uint8_t code = ropCode(rop);
    std::shared_ptr<DC> s;
    if (ropUsesSource(code)) {
        s = dc(src);
        if (!s)
            return FALSE;
    }
    Target dt;
    if (!resolve(*d, dt))
        return TRUE;
    RopOp op{code, patternOf(dst, *d), dt.bpp, {}};
    if (!s) {
        NullSource none;
        blitWalk(dt, none, BlitGeometry{g.x, g.y, g.w, g.h, 0, 0, g.w, g.h}, COLORONCOLOR, op);
        return TRUE;
    }
    SurfaceSource ss;
    if (!ss.init(*s, &dt, normalized(g.xs, g.ys, g.ws, g.hs)))
        return TRUE;
    blitWalk(dt, ss, g, stretchMode ? d->stretchMode : COLORONCOLOR, op);
    return TRUE;
}

std::shared_ptr<Bitmap> maskBitmap(HBITMAP mask)
{
    auto o = object(mask);
    return o && o->kind == Kind::Bitmap ? o->bitmap : nullptr;
}

// A mask pixel selects the foreground operation unless it is black; outside the mask, foreground.
inline bool maskBit(Bitmap& m, int x, int y)
{
    if (x < 0 || y < 0 || x >= m.width || y >= m.height)
        return true;
    return (loadPixel(m.rowPtr(y) + size_t(x) * size_t(m.bpp / 8)) & 0x00FFFFFFu) != 0;
}

} // namespace

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop)
{
    if (width < 0 || height < 0)
        return FALSE;
    return ropBlit(dst, BlitGeometry{x, y, width, height, xSrc, ySrc, width, height}, src, rop, false);
}

BOOL StretchBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                DWORD rop)
{
    return ropBlit(dst, BlitGeometry{x, y, width, height, xSrc, ySrc, wSrc, hSrc}, src, rop, true);
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop)
{
    if (ropUsesSource(ropCode(rop)))
        return FALSE;
    return ropBlit(hdc, BlitGeometry{x, y, width, height, 0, 0, width, height}, nullptr, rop, false);
}

BOOL TransparentBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                    UINT transparent)
{
    auto d = dc(dst);
    auto s = dc(src);
    const BlitGeometry g{x, y, width, height, xSrc, ySrc, wSrc, hSrc};
    if (!d || !s || geometryFar(g))
        return FALSE;
    Target dt;
    SurfaceSource ss;
    if (!resolve(*d, dt) || !ss.init(*s, &dt, normalized(xSrc, ySrc, wSrc, hSrc)))
        return TRUE;
    const uint32_t key = toWord(transparent);
    const int bpp = dt.bpp;
    blitWalk(dt, ss, g, COLORONCOLOR, [&](uint8_t* p, const uint32_t* sv, int n, int, int) {
        for (int i = 0; i < n; ++i, p += bpp / 8)
            if ((sv[i] & 0x00FFFFFFu) != key)
                storePixel(p, sv[i], bpp);
    });
    return TRUE;
}

BOOL MaskBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, HBITMAP mask, int xMask,
             int yMask, DWORD rop)
{
    if (!mask)
        return BitBlt(dst, x, y, width, height, src, xSrc, ySrc, rop & 0x00FFFFFFu);
    auto m = maskBitmap(mask);
    auto d = dc(dst);
    const BlitGeometry g{x, y, width, height, xSrc, ySrc, width, height};
    if (!m || !d || width < 0 || height < 0 || geometryFar(g) || farCoordinate(xMask) || farCoordinate(yMask))
        return FALSE;
    const uint8_t fore = ropCode(rop), back = uint8_t(rop >> 24);
    std::shared_ptr<DC> s;
    if (ropUsesSource(fore) || ropUsesSource(back)) {
        s = dc(src);
        if (!s)
            return FALSE;
    }
    Target dt;
    if (!resolve(*d, dt))
        return TRUE;
    Pattern pattern = patternOf(dst, *d);
    std::vector<uint32_t> a, b;
    auto op = [&](uint8_t* p, const uint32_t* sv, int n, int X, int Y) {
        a.resize(size_t(n));
        b.resize(size_t(n));
        loadRun(p, dt.bpp, n, a.data());
        b = a;
        const uint32_t* rows = ropUsesPattern(fore) || ropUsesPattern(back) ? pattern.at(X, Y, n) : nullptr;
        ropRun(fore, pattern.solid, rows, sv, a.data(), n);
        ropRun(back, pattern.solid, rows, sv, b.data(), n);
        for (int i = 0; i < n; ++i)
            if (!maskBit(*m, xMask + X + i - x, yMask + Y - y))
                a[size_t(i)] = b[size_t(i)];
        storeRun(p, dt.bpp, n, a.data());
    };
    if (!s) {
        NullSource none;
        blitWalk(dt, none, g, COLORONCOLOR, op);
        return TRUE;
    }
    SurfaceSource ss;
    if (!ss.init(*s, &dt, normalized(xSrc, ySrc, width, height)))
        return TRUE;
    blitWalk(dt, ss, g, COLORONCOLOR, op);
    return TRUE;
}

BOOL PlgBlt(HDC dst, const POINT* points, HDC src, int xSrc, int ySrc, int width, int height, HBITMAP mask,
            int xMask, int yMask)
{
    auto d = dc(dst);
    auto s = dc(src);
    if (!d || !s || !points || width <= 0 || height <= 0 || farCoordinate(xSrc) || farCoordinate(ySrc) ||
        farCoordinate(width) || farCoordinate(height) || farCoordinate(xMask) || farCoordinate(yMask))
        return FALSE;
    for (int i = 0; i < 3; ++i)
        if (farCoordinate(points[i].x) || farCoordinate(points[i].y))
            return FALSE;
    std::shared_ptr<Bitmap> m = mask ? maskBitmap(mask) : nullptr;
    if (mask && !m)
        return FALSE;
    // Source (u, v) lands at P0 + u * e1 + v * e2; each destination pixel's centre is mapped back.
    const double p0x = points[0].x, p0y = points[0].y;
    const double e1x = double(points[1].x - points[0].x) / width, e1y = double(points[1].y - points[0].y) / width;
    const double e2x = double(points[2].x - points[0].x) / height, e2y = double(points[2].y - points[0].y) / height;
    const double det = e1x * e2y - e1y * e2x;
    Target dt;
    SurfaceSource ss;
    if (det == 0 || !resolve(*d, dt) || !ss.init(*s, &dt, RECT{xSrc, ySrc, xSrc + width, ySrc + height}))
        return TRUE;
    const double cx[4] = {p0x, double(points[1].x), double(points[2].x), double(points[1].x + points[2].x) - p0x};
    const double cy[4] = {p0y, double(points[1].y), double(points[2].y), double(points[1].y + points[2].y) - p0y};
    RECT box{int(std::floor(*std::min_element(cx, cx + 4))), int(std::floor(*std::min_element(cy, cy + 4))),
             int(std::ceil(*std::max_element(cx, cx + 4))), int(std::ceil(*std::max_element(cy, cy + 4)))};
    Region area(box);
    area.intersect(dt.allowed);
    // The source rectangle read once, so the per-pixel walk indexes memory.
    const RECT have = platform::rectIntersect(ss.bounds, RECT{xSrc, ySrc, xSrc + width, ySrc + height});
    const int hw = have.right - have.left, hh = have.bottom - have.top;
    if (hw <= 0 || hh <= 0)
        return TRUE;
    std::vector<uint32_t> pixels(size_t(hw) * size_t(hh));
    for (int y = 0; y < hh; ++y)
        ss.row(have.top + y, have.left, hw, &pixels[size_t(y) * size_t(hw)]);
    for (const RECT& r : area.rects())
        for (int Y = r.top; Y < r.bottom; ++Y) {
            uint8_t* p = dt.at(r.left, Y);
            for (int X = r.left; X < r.right; ++X, p += dt.bpp / 8) {
                const double qx = X + 0.5 - p0x, qy = Y + 0.5 - p0y;
                const double u = (qx * e2y - qy * e2x) / det, w = (e1x * qy - e1y * qx) / det;
                if (!(u >= 0 && u < width && w >= 0 && w < height))
                    continue;
                const int iu = int(u), iv = int(w);
                const int sx = xSrc + iu, sy = ySrc + iv;
                if (sx < have.left || sx >= have.right || sy < have.top || sy >= have.bottom)
                    continue;
                if (m && !maskBit(*m, xMask + iu, yMask + iv))
                    continue;
                storePixel(p, pixels[size_t(sy - have.top) * size_t(hw) + size_t(sx - have.left)], dt.bpp);
            }
        }
    return TRUE;
}

BOOL AlphaBlend(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, int wSrc, int hSrc,
                BLENDFUNCTION blend)
{
    auto d = dc(dst);
    auto s = dc(src);
    const BlitGeometry g{x, y, width, height, xSrc, ySrc, wSrc, hSrc};
    if (!d || !s || width < 0 || height < 0 || wSrc < 0 || hSrc < 0 || geometryFar(g) || blend.BlendOp != AC_SRC_OVER)
        return FALSE;
    Target dt;
    SurfaceSource ss;
    if (!resolve(*d, dt) || !ss.init(*s, &dt, normalized(xSrc, ySrc, wSrc, hSrc)))
        return TRUE;
    const uint32_t k = blend.SourceConstantAlpha;
    const bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) != 0;
    const int bpp = dt.bpp;
    auto scale = [](uint32_t v, uint32_t a) { return (v * a + 127) / 255; };
    blitWalk(dt, ss, g, COLORONCOLOR, [&](uint8_t* p, const uint32_t* sv, int n, int, int) {
        for (int i = 0; i < n; ++i, p += bpp / 8) {
            const uint32_t sp = sv[i];
            // Premultiplied source over the destination: d = s * k + d * (1 - alpha * k).
            const uint32_t a = perPixel ? scale(sp >> 24, k) : k;
            for (int c = 0; c < 3; ++c) {
                const uint32_t sc = (sp >> (8 * c)) & 0xFF;
                p[c] = uint8_t(std::min<uint32_t>(255, scale(sc, k) + scale(p[c], 255 - a)));
            }
            if (bpp == 32)
                p[3] = 0;
        }
    });
    return TRUE;
}
