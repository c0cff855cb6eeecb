// Pixel sources and the blit walk shared by the bitmap services. A source hands out rows
// of 0xAARRGGBB words (alpha: the fourth byte of a 32-bit surface, 0 for DIBs); the walk
// maps each destination row of a (possibly mirrored, stretched) blit to its source row,
// clips to the source's bounds and the destination's allowed region, and gives an
// operation whole runs of destination pixels with their source pixels beside them.
#pragma once

#include "platform/GdiInternal.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace platform {
namespace gdi {

struct PixelSource {
    RECT bounds{0, 0, 0, 0}; // the pixels that exist
    virtual ~PixelSource() = default;
    // Pixels [x0, x0 + n) of row y, all inside bounds.
    virtual void row(int y, int x0, int n, uint32_t* out) = 0;
};

// A device-independent bitmap as the caller's memory holds it: header, masks and colour
// table already read, pixels decoded a row at a time (RLE pictures decoded once, whole).
struct DibImage : PixelSource {
    int width = 0;
    int height = 0; // absolute
    bool topDown = false;
    int bpp = 0;
    int stride = 0;
    uint32_t compression = 0;
    const uint8_t* bits = nullptr;
    int firstStored = 0;     // stored row that bits begins with (banded SetDIBitsToDevice)
    uint32_t lut[256] = {};  // colour table as 0x00RRGGBB
    int colors = 0;
    uint32_t masks[3] = {};  // red, green, blue for 16 and 32 bits
    int shifts[3] = {};
    int widths[3] = {};
    std::vector<uint8_t> expanded; // RLE: one index a pixel, top-down

    // Row y counted from the picture's top; rows outside the band or the picture read black.
    void row(int y, int x0, int n, uint32_t* out) override;
    // Pixels [x0, x0 + n) of one stored row's bytes.
    void decode(const uint8_t* rowBytes, int x0, int n, uint32_t* out) const;
};

// Reads a BITMAPINFO field by field. DIB_PAL_COLORS tables index the context's palette
// (the default one when none is selected). RLE data is bounded by biSizeImage. False for
// anything malformed or unsupported.
bool readDib(const BITMAPINFO* info, UINT usage, const DC* dc, const void* bits, DibImage& out);

// A context's surface read as a source; a copy of the rectangle first when it shares
// memory with the destination, so overlapping blits read what was there before.
struct SurfaceSource : PixelSource {
    Target t;
    std::vector<uint32_t> copy;
    RECT copied{0, 0, 0, 0};
    bool init(DC& d, const Target* destination, const RECT& wanted);
    void row(int y, int x0, int n, uint32_t* out) override;
};

inline uint32_t loadPixel(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16; }
inline void storePixel(uint8_t* p, uint32_t v, int bpp)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    if (bpp == 32)
        p[3] = 0;
}
inline uint32_t toWord(COLORREF c) { return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16; }

// A destination rectangle and its source rectangle, extents signed: where the signs
// differ on an axis the picture is mirrored on it.
struct BlitGeometry {
    int x, y, w, h;
    int xs, ys, ws, hs;
};

// Coordinates this far out are refused, so no arithmetic on them can overflow.
const int kFarCoordinate = 1 << 28;
inline bool farCoordinate(int v) { return v > kFarCoordinate || v < -kFarCoordinate; }
bool geometryFar(const BlitGeometry& g);

// The row of the walk: destination pixels [x, x + n) of row y with their source pixels.
// Merge is the stretch mode's way of shrinking: BLACKONWHITE ANDs the source pixels
// a destination pixel covers, WHITEONBLACK ORs them, the others take the nearest.
template <class Op>
void blitWalk(const Target& t, PixelSource& s, const BlitGeometry& g, int mode, Op&& op)
{
    const int dx0 = std::min(g.x, g.x + g.w), dw = std::abs(g.w);
    const int dy0 = std::min(g.y, g.y + g.h), dh = std::abs(g.h);
    const int sx0 = std::min(g.xs, g.xs + g.ws), sw = std::abs(g.ws);
    const int sy0 = std::min(g.ys, g.ys + g.hs), sh = std::abs(g.hs);
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0 || rectEmpty(s.bounds))
        return;
    const bool flipX = (g.w < 0) != (g.ws < 0), flipY = (g.h < 0) != (g.hs < 0);
    Region area(RECT{dx0, dy0, dx0 + dw, dy0 + dh});
    area.intersect(t.allowed);
    if (area.empty())
        return;
    const RECT ab = area.bounds();
    const int cols = ab.right - ab.left;
    // Source span [first, last] of each destination column, in source coordinates.
    std::vector<int> first(static_cast<size_t>(cols)), last(static_cast<size_t>(cols));
    int lo = INT32_MAX, hi = INT32_MIN;
    for (int X = ab.left; X < ab.right; ++X) {
        int i = X - dx0, k = flipX ? dw - 1 - i : i;
        int a = sx0 + int(int64_t(k) * sw / dw);
        int b = std::max(a, sx0 + int(int64_t(k + 1) * sw / dw) - 1);
        first[size_t(X - ab.left)] = a;
        last[size_t(X - ab.left)] = b;
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    }
    lo = std::max<int>(lo, s.bounds.left);
    hi = std::min<int>(hi, s.bounds.right - 1);
    if (lo > hi)
        return;
    const bool merge = (mode == BLACKONWHITE || mode == WHITEONBLACK) && (sw > dw || sh > dh);
    const bool andMerge = mode == BLACKONWHITE;
    const bool identityX = sw == dw && !flipX;
    std::vector<uint32_t> line(static_cast<size_t>(hi - lo + 1)), run(static_cast<size_t>(cols));
    int cached = INT32_MIN;
    for (const RECT& r : area.rects())
        for (int Y = r.top; Y < r.bottom; ++Y) {
            int j = Y - dy0, k = flipY ? dh - 1 - j : j;
            int ya = sy0 + int(int64_t(k) * sh / dh);
            int yb = merge ? std::max(ya, sy0 + int(int64_t(k + 1) * sh / dh) - 1) : ya;
            ya = std::max<int>(ya, s.bounds.top);
            yb = std::min<int>(yb, s.bounds.bottom - 1);
            if (ya > yb)
                continue;
            int x = r.left;
            while (x < r.right) {
                // A run of columns whose source pixels exist.
                auto inside = [&](int X) {
                    size_t c = size_t(X - ab.left);
                    return merge ? (last[c] >= lo && first[c] <= hi) : (first[c] >= lo && first[c] <= hi);
                };
                while (x < r.right && !inside(x))
                    ++x;
                int end = x;
                while (end < r.right && inside(end))
                    ++end;
                if (end == x)
                    break;
                const int n = end - x;
                if (!merge) {
                    if (cached != ya) {
                        s.row(ya, lo, hi - lo + 1, line.data());
                        cached = ya;
                    }
                    if (identityX) { // the source run lies in the row as it is
                        op(t.at(x, Y), &line[size_t(first[size_t(x - ab.left)] - lo)], n, x, Y);
                        x = end;
                        continue;
                    }
                    for (int X = x; X < end; ++X)
                        run[size_t(X - x)] = line[size_t(first[size_t(X - ab.left)] - lo)];
                } else {
                    std::fill(run.begin(), run.begin() + n, andMerge ? 0xFFFFFFFFu : 0u);
                    for (int sy = ya; sy <= yb; ++sy) {
                        if (cached != sy) {
                            s.row(sy, lo, hi - lo + 1, line.data());
                            cached = sy;
                        }
                        for (int X = x; X < end; ++X) {
                            size_t c = size_t(X - ab.left);
                            int a = std::max(first[c], lo), b = std::min(last[c], hi);
                            uint32_t v = run[size_t(X - x)];
                            for (int sx = a; sx <= b; ++sx)
                                v = andMerge ? (v & line[size_t(sx - lo)]) : (v | line[size_t(sx - lo)]);
                            run[size_t(X - x)] = v;
                        }
                    }
                }
                op(t.at(x, Y), run.data(), n, x, Y);
                x = end;
            }
        }
}

// Evaluates ternary raster operation code (the truth table byte) on n pixels: d holds the
// destination's words and receives the result; s may be null when the code ignores it,
// rows (the pattern pixel by pixel) null when the pattern is the one colour.
void ropRun(uint8_t code, uint32_t pattern, const uint32_t* rows, const uint32_t* s, uint32_t* d, int n);
inline bool ropUsesSource(uint8_t code) { return ((code >> 2) & 0x33) != (code & 0x33); }
inline bool ropUsesDest(uint8_t code) { return ((code >> 1) & 0x55) != (code & 0x55); }
inline bool ropUsesPattern(uint8_t code) { return ((code >> 4) & 0x0F) != (code & 0x0F); }
inline uint8_t ropCode(DWORD rop) { return uint8_t(rop >> 16); }

// Fills out with the pattern's 0x00RRGGBB words for device pixels [x, x + n) of row y.
using PatternRows = std::function<void(int x, int y, int n, uint32_t* out)>;

// While it lives, the raster operations drawn into hdc take their pattern from rows
// instead of the context's brush: brushes the stand-in's objects do not describe
// (hatches, tiled pictures) painted by whoever holds them.
class PatternScope {
public:
    PatternScope(HDC hdc, PatternRows rows);
    ~PatternScope();
    PatternScope(const PatternScope&) = delete;
    PatternScope& operator=(const PatternScope&) = delete;

private:
    HDC hdc_;
    PatternRows previous_;
};

// The pattern of one blit: the brush's colour, or the installed rows read a run at a time.
struct Pattern {
    uint32_t solid = 0;
    PatternRows rows;
    std::vector<uint32_t> buffer;
    // The words for device pixels [x, x + n) of row y; null when the pattern is solid.
    const uint32_t* at(int x, int y, int n)
    {
        if (!rows)
            return nullptr;
        buffer.resize(size_t(n));
        rows(x, y, n, buffer.data());
        return buffer.data();
    }
};
Pattern patternOf(HDC hdc, const DC& d);

// Reads n destination pixels into words, and writes words back.
inline void loadRun(const uint8_t* p, int bpp, int n, uint32_t* out)
{
    const int step = bpp / 8;
    for (int i = 0; i < n; ++i, p += step)
        out[i] = loadPixel(p);
}
inline void storeRun(uint8_t* p, int bpp, int n, const uint32_t* in)
{
    if (bpp == 32) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        for (int i = 0; i < n; ++i) { // a word's bytes are B, G, R, 0 in memory order
            const uint32_t v = in[i] & 0x00FFFFFFu;
            std::memcpy(p + size_t(i) * 4u, &v, 4);
        }
#else
        for (int i = 0; i < n; ++i, p += 4) {
            uint32_t v = in[i] & 0x00FFFFFFu;
            p[0] = uint8_t(v);
            p[1] = uint8_t(v >> 8);
            p[2] = uint8_t(v >> 16);
            p[3] = 0;
        }
#endif
    } else {
        for (int i = 0; i < n; ++i, p += 3)
            storePixel(p, in[i], 24);
    }
}

// Runs the raster operation over the walk; the destination is read only when the code uses it.
struct RopOp {
    uint8_t code;
    Pattern pattern;
    int bpp;
    std::vector<uint32_t> buffer;
    void operator()(uint8_t* p, const uint32_t* s, int n, int x, int y)
    {
        if (code == 0xCC) {
            storeRun(p, bpp, n, s);
            return;
        }
        if (buffer.size() < size_t(n))
            buffer.resize(size_t(n));
        if (ropUsesDest(code))
            loadRun(p, bpp, n, buffer.data());
        const uint32_t* rows = ropUsesPattern(code) ? pattern.at(x, y, n) : nullptr;
        ropRun(code, pattern.solid, rows, s, buffer.data(), n);
        storeRun(p, bpp, n, buffer.data());
    }
};

} // namespace gdi
} // namespace platform
