// Accessors, palette, pixels, alpha plane, selection and the whole-image operations.
#include "imagelib/RxImage.h"

#include "imagelib/RxAllocation.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

RGBQUAD* RxImage::GetPalette() const
{
    if (!pDib || head.biClrUsed == 0)
        return nullptr;
    return reinterpret_cast<RGBQUAD*>(static_cast<BYTE*>(pDib) + sizeof(BITMAPINFOHEADER));
}

BYTE* RxImage::GetBits(DWORD row) const
{
    if (!pDib)
        return nullptr;
    if (row == 0)
        return pBits;
    if (row < GetHeight())
        return pBits + size_t(info.dwEffWidth) * row;
    return nullptr;
}

bool RxImage::IsInside(long x, long y) const
{
    return x >= 0 && y >= 0 && x < long(head.biWidth) && y < long(head.biHeight);
}

void RxImage::SetOffset(long x, long y)
{
    info.xOffset = x;
    info.yOffset = y;
}

DWORD RxImage::GetCodecOption(DWORD type) const
{
    if (type == 0)
        type = info.dwType;
    return type < RXIMAGE_FORMATS ? info.dwCodecOpt[type] : 0;
}

void RxImage::SetCodecOption(DWORD option, DWORD type)
{
    if (type == 0)
        type = info.dwType;
    if (type < RXIMAGE_FORMATS)
        info.dwCodecOpt[type] = option;
}

void RxImage::SetTransColor(RGBQUAD color)
{
    color.rgbReserved = 0;
    info.nBkgndColor = color;
}

RGBQUAD RxImage::GetTransColor() const
{
    if (head.biBitCount < 24 && info.nBkgndIndex != -1)
        return GetPaletteColor(BYTE(info.nBkgndIndex));
    return info.nBkgndColor;
}

// ---- alpha plane and selection ------------------------------------------------------

static size_t PlaneSize(const BITMAPINFOHEADER& h)
{
    return size_t(DWORD(h.biWidth)) * DWORD(h.biHeight);
}

bool RxImage::AlphaCreate()
{
    if (!pAlpha && pDib) {
        pAlpha = static_cast<BYTE*>(RxAllocate(PlaneSize(head)));
        if (pAlpha)
            std::memset(pAlpha, 255, PlaneSize(head));
    }
    return pAlpha != nullptr;
}

void RxImage::AlphaDelete()
{
    std::free(pAlpha);
    pAlpha = nullptr;
}

void RxImage::AlphaClear()
{
    if (pAlpha)
        std::memset(pAlpha, 0, PlaneSize(head));
}

BYTE* RxImage::AlphaGetPointer(long x, long y) const
{
    if (!pAlpha || !IsInside(x, y))
        return nullptr;
    return pAlpha + size_t(head.biWidth) * size_t(y) + size_t(x);
}

void RxImage::AlphaSet(long x, long y, BYTE a)
{
    if (BYTE* p = AlphaGetPointer(x, y))
        *p = a;
}

BYTE RxImage::AlphaGet(long x, long y) const
{
    const BYTE* p = AlphaGetPointer(x, y);
    return p ? *p : 0;
}

void RxImage::AlphaFlip()
{
    if (!pAlpha)
        return;
    const size_t w = size_t(head.biWidth), h = size_t(head.biHeight);
    BYTE* flipped = static_cast<BYTE*>(RxAllocate(w * h));
    if (!flipped)
        return;
    for (size_t y = 0; y < h; ++y)
        std::memcpy(flipped + (h - 1 - y) * w, pAlpha + y * w, w);
    std::free(pAlpha);
    pAlpha = flipped;
}

void RxImage::AlphaMirror()
{
    if (!pAlpha)
        return;
    const size_t w = size_t(head.biWidth), h = size_t(head.biHeight);
    BYTE* mirrored = static_cast<BYTE*>(RxAllocate(w * h));
    if (!mirrored)
        return;
    for (size_t y = 0; y < h; ++y)
        std::reverse_copy(pAlpha + y * w, pAlpha + (y + 1) * w, mirrored + y * w);
    std::free(pAlpha);
    pAlpha = mirrored;
}

void RxImage::SelectionDelete()
{
    std::free(pSelection);
    pSelection = nullptr;
    info.rSelectionBox.left = head.biWidth;
    info.rSelectionBox.top = 0;
    info.rSelectionBox.right = 0;
    info.rSelectionBox.bottom = head.biHeight;
}

bool RxImage::SelectionIsInside(long x, long y) const
{
    if (!IsInside(x, y))
        return false;
    return !pSelection || pSelection[size_t(head.biWidth) * size_t(y) + size_t(x)] != 0;
}

bool RxImage::IsPaletteAlpha() const
{
    const RGBQUAD* pal = GetPalette();
    for (DWORD i = 0; pal && i < head.biClrUsed; ++i)
        if (pal[i].rgbReserved)
            return true;
    return false;
}

// ---- palette --------------------------------------------------------------------------

RGBQUAD RxImage::GetPaletteColor(BYTE index) const
{
    const RGBQUAD* pal = GetPalette();
    if (!pal || index >= head.biClrUsed)
        return RGBQUAD{0, 0, 0, 0};
    return pal[index];
}

void RxImage::SetPaletteColor(BYTE index, BYTE red, BYTE green, BYTE blue, BYTE alpha)
{
    SetPaletteColor(index, RGBQUAD{blue, green, red, alpha});
}

void RxImage::SetPaletteColor(BYTE index, RGBQUAD color)
{
    if (RGBQUAD* pal = GetPalette(); pal && index < head.biClrUsed)
        pal[index] = color;
    info.last_c_isvalid = false;
}

void RxImage::SetPalette(const RGBQUAD* colors, DWORD count)
{
    RGBQUAD* pal = GetPalette();
    if (!pal || !colors)
        return;
    std::memcpy(pal, colors, std::min<size_t>(GetPaletteSize(), size_t(count) * 4));
    info.last_c_isvalid = false;
}

void RxImage::SetPalette(DWORD count, const BYTE* red, const BYTE* green, const BYTE* blue)
{
    RGBQUAD* pal = GetPalette();
    if (!pal || !red)
        return;
    green = green ? green : red;
    blue = blue ? blue : green;
    count = std::min(count, DWORD(head.biClrUsed));
    for (DWORD i = 0; i < count; ++i)
        pal[i] = RGBQUAD{blue[i], green[i], red[i], pal[i].rgbReserved};
    info.last_c_isvalid = false;
}

void RxImage::SetGrayPalette()
{
    RGBQUAD* pal = GetPalette();
    const DWORD n = head.biClrUsed;
    if (!pal || n < 2)
        return;
    const DWORD step = 255 / (n - 1);
    for (DWORD i = 0; i < n; ++i) {
        const BYTE v = BYTE(step * i);
        pal[i] = RGBQUAD{v, v, v, 0};
    }
    info.last_c_isvalid = false;
}

bool RxImage::IsGrayScale() const
{
    const RGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (DWORD i = 0; i < head.biClrUsed; ++i)
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    return true;
}

BYTE RxImage::GetNearestIndex(RGBQUAD c)
{
    const RGBQUAD* pal = GetPalette();
    if (!pal)
        return 0;
    if (info.last_c_isvalid && std::memcmp(&info.last_c, &c, sizeof c) == 0)
        return info.last_c_index;
    DWORD n = head.biClrImportant ? head.biClrImportant : head.biClrUsed;
    n = std::min(n, DWORD(head.biClrUsed));
    long best = 200000;
    BYTE found = 0;
    for (DWORD i = 0; i < n; ++i) {
        const long db = long(pal[i].rgbBlue) - c.rgbBlue;
        const long dg = long(pal[i].rgbGreen) - c.rgbGreen;
        const long dr = long(pal[i].rgbRed) - c.rgbRed;
        const long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            found = BYTE(i);
            break;
        }
        if (d < best) { // strict: the first of equal entries wins
            best = d;
            found = BYTE(i);
        }
    }
    info.last_c = c;
    info.last_c_index = found;
    info.last_c_isvalid = true;
    return found;
}

// ---- pixels ---------------------------------------------------------------------------

BYTE RxImage::GetPixelIndex(long x, long y) const
{
    if (!pDib || head.biClrUsed == 0)
        return 0;
    if (!IsInside(x, y))
        return info.nBkgndIndex >= 0 ? BYTE(info.nBkgndIndex) : *pBits;
    const BYTE* row = pBits + size_t(info.dwEffWidth) * size_t(y);
    switch (head.biBitCount) {
    case 8: return row[x];
    case 4: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default: return 0;
    }
}

void RxImage::SetPixelIndex(long x, long y, BYTE index)
{
    if (!pDib || head.biClrUsed == 0 || !IsInside(x, y))
        return;
    BYTE* row = pBits + size_t(info.dwEffWidth) * size_t(y);
    switch (head.biBitCount) {
    case 8: row[x] = index; break;
    case 4: {
        BYTE& b = row[x >> 1];
        b = (x & 1) ? BYTE((b & 0xF0) | (index & 0x0F)) : BYTE((b & 0x0F) | ((index & 0x0F) << 4));
        break;
    }
    case 1: {
        const BYTE bit = BYTE(0x80 >> (x & 7));
        row[x >> 3] = (index & 1) ? BYTE(row[x >> 3] | bit) : BYTE(row[x >> 3] & ~bit);
        break;
    }
    default: break;
    }
}

RGBQUAD RxImage::GetPixelColor(long x, long y, bool withAlpha) const
{
    if (!IsInside(x, y)) {
        if (info.nBkgndIndex < 0 && pDib)
            return GetPixelColor(0, 0, withAlpha);
        if (info.nBkgndIndex >= 0 && head.biBitCount < 24)
            return GetPaletteColor(BYTE(info.nBkgndIndex));
        return info.nBkgndColor;
    }
    RGBQUAD c{0, 0, 0, 0};
    if (!pDib)
        return c;
    if (head.biClrUsed) {
        c = GetPaletteColor(GetPixelIndex(x, y));
    } else {
        const BYTE* p = pBits + size_t(info.dwEffWidth) * size_t(y) + size_t(x) * 3;
        c = RGBQUAD{p[0], p[1], p[2], 0};
    }
    if (withAlpha && pAlpha)
        c.rgbReserved = AlphaGet(x, y);
    return c;
}

void RxImage::SetPixelColor(long x, long y, RGBQUAD color, bool setAlpha)
{
    if (!pDib || !IsInside(x, y))
        return;
    if (head.biClrUsed) {
        SetPixelIndex(x, y, GetNearestIndex(color));
    } else {
        BYTE* p = pBits + size_t(info.dwEffWidth) * size_t(y) + size_t(x) * 3;
        p[0] = color.rgbBlue;
        p[1] = color.rgbGreen;
        p[2] = color.rgbRed;
    }
    if (setAlpha)
        AlphaSet(x, y, color.rgbReserved);
}

void RxImage::SetPixelColor(long x, long y, COLORREF color)
{
    SetPixelColor(x, y, RGBQUAD{BYTE(color >> 16), BYTE(color >> 8), BYTE(color), 0});
}

void RxImage::Clear(BYTE value)
{
    if (!pDib)
        return;
    if (head.biBitCount == 1)
        value = value ? 255 : 0;
    else if (head.biBitCount == 4)
        value = BYTE((value & 15) * 17);
    std::memset(pBits, value, head.biSizeImage);
}

// ---- whole-image operations ---------------------------------------------------------

bool RxImage::Flip()
{
    if (!pDib)
        return false;
    RxImage flipped;
    flipped.Copy(*this, false, false, true);
    if (!flipped.pDib)
        return false;
    const DWORD h = GetHeight();
    for (DWORD y = 0; y < h; ++y)
        std::memcpy(flipped.GetBits(h - 1 - y), GetBits(y), info.dwEffWidth);
    flipped.AlphaFlip();
    return TakeOver(flipped);
}

bool RxImage::Mirror()
{
    if (!pDib)
        return false;
    const long w = head.biWidth, h = head.biHeight;
    for (long y = 0; y < h; ++y) {
        BYTE* row = GetBits(DWORD(y));
        if (head.biBitCount == 8) {
            std::reverse(row, row + w);
        } else if (head.biBitCount == 24) {
            for (long l = 0, r = w - 1; l < r; ++l, --r)
                std::swap_ranges(row + l * 3, row + l * 3 + 3, row + r * 3);
        } else {
            for (long l = 0, r = w - 1; l < r; ++l, --r) {
                const BYTE a = GetPixelIndex(l, y);
                SetPixelIndex(l, y, GetPixelIndex(r, y));
                SetPixelIndex(r, y, a);
            }
        }
    }
    AlphaMirror();
    return true;
}

bool RxImage::Negative()
{
    if (!pDib)
        return false;
    const RECT& box = info.rSelectionBox;
    const long x0 = std::max(0L, long(std::min(box.left, box.right)));
    const long x1 = std::min(long(head.biWidth) - 1, long(std::max(box.left, box.right)));
    const long y0 = std::max(0L, long(std::min(box.top, box.bottom)));
    const long y1 = std::min(long(head.biHeight) - 1, long(std::max(box.top, box.bottom)));
    if (head.biBitCount == 24) {
        if (pSelection) {
            for (long y = y1; y >= y0; --y)
                for (long x = x0; x <= x1; ++x)
                    if (SelectionIsInside(x, y)) {
                        BYTE* p = pBits + size_t(info.dwEffWidth) * size_t(y) + size_t(x) * 3;
                        p[0] = BYTE(~p[0]), p[1] = BYTE(~p[1]), p[2] = BYTE(~p[2]);
                    }
        } else {
            for (DWORD i = 0; i < head.biSizeImage; ++i)
                pBits[i] = BYTE(~pBits[i]);
        }
        RGBQUAD& bg = info.nBkgndColor;
        bg.rgbBlue = BYTE(~bg.rgbBlue), bg.rgbGreen = BYTE(~bg.rgbGreen), bg.rgbRed = BYTE(~bg.rgbRed);
    } else if (!IsGrayScale()) {
        RGBQUAD* pal = GetPalette();
        for (DWORD i = 0; pal && i < head.biClrUsed; ++i)
            pal[i] = RGBQUAD{BYTE(~pal[i].rgbBlue), BYTE(~pal[i].rgbGreen), BYTE(~pal[i].rgbRed), pal[i].rgbReserved};
        info.last_c_isvalid = false;
    } else if (pSelection) {
        const BYTE mask = BYTE((1u << head.biBitCount) - 1);
        for (long y = y0; y <= y1; ++y)
            for (long x = x0; x <= x1; ++x)
                if (SelectionIsInside(x, y))
                    SetPixelIndex(x, y, BYTE(~GetPixelIndex(x, y) & mask));
    } else {
        // Every index of the depth inverted at once: whole bytes hold whole pixels.
        for (DWORD i = 0; i < head.biSizeImage; ++i)
            pBits[i] = BYTE(~pBits[i]);
    }
    return true;
}
