// Painting an image into a device context (unscaled, scaled through a 24-bit DIB section, or
// blended over the screen for transparent and alpha images) and turning it by any angle.
#include "imagelib/RxImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// A 24-bit bottom-up DIB section selected into a memory context; released on scope exit.
struct DibCanvas {
    BITMAPINFO bi{};
    HDC mem = nullptr;
    HBITMAP dib = nullptr;
    HGDIOBJ old = nullptr;
    BYTE* bits = nullptr;
    size_t stride = 0;

    DibCanvas(HDC dc, long w, long h)
    {
        bi.bmiHeader.biSize = 40;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        stride = size_t((w * 24 + 31) / 32) * 4;
        mem = CreateCompatibleDC(dc);
        void* p = nullptr;
        dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
        bits = static_cast<BYTE*>(p);
        if (mem && dib)
            old = SelectObject(mem, dib);
    }
    ~DibCanvas()
    {
        if (old)
            SelectObject(mem, old);
        if (dib)
            DeleteObject(dib);
        if (mem)
            DeleteDC(mem);
    }
    bool ok() const { return mem && dib && bits; }
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;
};

long ClampIndex(float v, long size)
{
    if (!(v >= 0))
        return 0;
    const long i = long(std::floor(v));
    return i >= size ? size - 1 : i;
}

} // namespace

long RxImage::Draw(HDC dc, const RECT& rect, RECT* clip, bool smooth)
{
    return Draw(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, clip, smooth);
}

long RxImage::Draw(HDC dc, long x, long y, long cx, long cy, RECT* clip, bool smooth)
{
    if (!pDib || !dc || cx == 0 || cy == 0 || !info.bEnabled)
        return 0;
    const long width = head.biWidth, height = head.biHeight;
    if (cx < 0)
        cx = width;
    if (cy < 0)
        cy = height;
    const bool transparent = info.nBkgndIndex != -1;
    const bool alpha = pAlpha != nullptr;

    // The caller's clip region is saved whole, so a clip of several rectangles comes back intact.
    HRGN saved = nullptr;
    bool hadClip = false;
    if (clip) {
        saved = CreateRectRgn(0, 0, 0, 0);
        hadClip = saved && GetClipRgn(dc, saved) == 1;
        if (HRGN r = CreateRectRgnIndirect(clip)) {
            ExtSelectClipRgn(dc, r, RGN_AND);
            DeleteObject(r);
        }
    }

    RECT box{};
    GetClipBox(dc, &box);
    const long left = std::min(std::max(long(box.left), x), long(box.right));
    const long top = std::min(std::max(long(box.top), y), long(box.bottom));
    const long right = std::max(long(box.left), std::min(long(box.right), x + cx));
    const long bottom = std::max(long(box.top), std::min(long(box.bottom), y + cy));
    const long pw = right - left, ph = bottom - top;
    const bool unscaled = cx == width && cy == height;
    const float fx = float(width) / float(cx), fy = float(height) / float(cy);
    auto sourceRow = [&](long k) { return ClampIndex(float(height) - float(bottom - y - k) * fy, height); };
    auto sourceCol = [&](long j) { return ClampIndex(float(left - x + j) * fx, width); };
    auto smoothAt = [&](long j, long k) {
        return SampleInterpolated(float(left - x + j) * fx - 0.5f, float(height) - float(bottom - y - k) * fy - 0.5f, 2, 5);
    };

    if (pw > 0 && ph > 0) {
        if (!transparent && !alpha && !info.bAlphaPaletteEnabled) {
            if (unscaled) {
                SetStretchBltMode(dc, COLORONCOLOR);
                SetDIBitsToDevice(dc, x, y, DWORD(cx), DWORD(cy), 0, 0, 0, UINT(cy), pBits,
                                  static_cast<const BITMAPINFO*>(pDib), DIB_RGB_COLORS);
            } else {
                DibCanvas canvas(dc, pw, ph);
                if (canvas.ok()) {
                    for (long k = 0; k < ph; ++k) {
                        BYTE* out = canvas.bits + canvas.stride * size_t(k);
                        const long sy = sourceRow(k);
                        for (long j = 0; j < pw; ++j, out += 3) {
                            const RGBQUAD c = smooth ? smoothAt(j, k) : PixelColorInside(sourceCol(j), sy);
                            out[0] = c.rgbBlue;
                            out[1] = c.rgbGreen;
                            out[2] = c.rgbRed;
                        }
                    }
                    SetDIBitsToDevice(dc, int(left), int(top), DWORD(pw), DWORD(ph), 0, 0, 0, UINT(ph), canvas.bits,
                                      &canvas.bi, DIB_RGB_COLORS);
                }
            }
        } else {
            const RGBQUAD trans = GetTransColor();
            const long transIndex = info.nBkgndIndex;
            DibCanvas canvas(dc, pw, ph);
            if (canvas.ok()) {
                BitBlt(canvas.mem, 0, 0, int(pw), int(ph), dc, int(left), int(top), SRCCOPY);
                for (long k = 0; k < ph; ++k) {
                    BYTE* out = canvas.bits + canvas.stride * size_t(k);
                    const long sy = unscaled ? std::clamp(height - (bottom - y) + k, 0L, height - 1) : sourceRow(k);
                    for (long j = 0; j < pw; ++j, out += 3) {
                        const long sx = unscaled ? std::clamp(left - x + j, 0L, width - 1) : sourceCol(j);
                        long a = alpha ? pAlpha[size_t(width) * size_t(sy) + size_t(sx)] : 255;
                        a = ((long(info.nAlphaMax) + 1) * a) >> 8;
                        RGBQUAD c;
                        bool skip = false;
                        if (head.biClrUsed) {
                            const BYTE index = GetPixelIndex(sx, sy);
                            c = (smooth && !unscaled) ? smoothAt(j, k) : GetPaletteColor(index);
                            if (info.bAlphaPaletteEnabled)
                                a = ((long(c.rgbReserved) + 1) * a) >> 8;
                            skip = transparent && long(index) == transIndex;
                        } else {
                            c = (smooth && !unscaled) ? smoothAt(j, k) : PixelColorInside(sx, sy);
                            skip = transparent && c.rgbBlue == trans.rgbBlue && c.rgbGreen == trans.rgbGreen &&
                                   c.rgbRed == trans.rgbRed;
                        }
                        if (skip || a == 0)
                            continue;
                        if (a == 255) {
                            out[0] = c.rgbBlue;
                            out[1] = c.rgbGreen;
                            out[2] = c.rgbRed;
                        } else {
                            out[0] = BYTE((c.rgbBlue * a + out[0] * (255 - a)) >> 8);
                            out[1] = BYTE((c.rgbGreen * a + out[1] * (255 - a)) >> 8);
                            out[2] = BYTE((c.rgbRed * a + out[2] * (255 - a)) >> 8);
                        }
                    }
                }
                SetDIBitsToDevice(dc, int(left), int(top), DWORD(pw), DWORD(ph), 0, 0, 0, UINT(ph), canvas.bits,
                                  &canvas.bi, DIB_RGB_COLORS);
            }
        }
    }

    if (clip) {
        SelectClipRgn(dc, hadClip ? saved : nullptr);
        if (saved)
            DeleteObject(saved);
    }
    return 1;
}

bool RxImage::Rotate(float angle, RxImage* destination)
{
    if (!pDib)
        return false;
    if (!std::isfinite(angle)) {
        SetLastError("RxImage::Rotate : the angle is not a finite number");
        return false;
    }
    const double theta = -double(angle) * std::acos(0.0) / 90.0;
    const double c = std::cos(theta), s = std::sin(theta);
    const double width = head.biWidth, height = head.biHeight;
    const long xs[4] = {0, long(std::floor(width * c)), long(std::floor(-height * s)),
                        long(std::floor((width - 1) * c - height * s))};
    const long ys[4] = {0, long(std::floor(width * s)), long(std::floor(height * c)),
                        long(std::floor((width - 1) * s + height * c))};
    const long minx = *std::min_element(xs, xs + 4), maxx = *std::max_element(xs, xs + 4);
    const long miny = *std::min_element(ys, ys + 4), maxy = *std::max_element(ys, ys + 4);

    RxImage turned;
    turned.CopySettings(*this);
    if (!turned.Create(DWORD(maxx - minx + 2), DWORD(maxy - miny + 2), head.biBitCount, info.dwType)) {
        // Keep the reason; this image and the destination stay as they were.
        SetLastError(turned.GetLastError());
        return false;
    }
    if (head.biClrUsed)
        turned.SetPalette(GetPalette(), std::min<DWORD>(head.biClrUsed, 256));
    if (pAlpha) {
        turned.AlphaCreate();
        turned.AlphaClear();
    }
    const bool indexed = head.biClrUsed != 0;
    const long rows = maxy - miny + 2;
    for (long yy = miny; yy <= maxy + 2; ++yy) {
        info.nProgress = turned.info.nProgress = 100 * (yy - miny) / rows;
        if (info.nEscape)
            break;
        for (long xx = minx; xx <= maxx + 2; ++xx) {
            const long i = xx - minx, j = yy - miny;
            const long sx = long(double(xx) * c + double(yy) * s - 0.5);
            const long sy = long(double(yy) * c - double(xx) * s - 0.5);
            if (indexed)
                turned.SetPixelIndex(i, j, GetPixelIndex(sx, sy));
            else
                turned.SetPixelColor(i, j, GetPixelColor(sx, sy, false));
            if (pAlpha)
                turned.AlphaSet(i, j, AlphaGet(sx, sy));
        }
    }
    return (destination ? destination : this)->TakeOver(turned);
}
