#include "platform/GdiPixels.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace platform::gdi;
using platform::Region;

namespace {

const int64_t kMaxPixels = int64_t(1) << 28; // 1 GiB at 32 bits

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A validated device-independent bitmap description; the pixels stay in caller memory.
// Legacy readers (bitmap resources, DIB sections, GetDIBits) go through it.
struct Dib {
    int width = 0;
    int height = 0; // absolute
    bool topDown = false;
    int bpp = 0;
    int stride = 0;
    const uint8_t* palette = nullptr;
    int colors = 0;

    // Colour of pixel x in a stored row.
    COLORREF pixel(const uint8_t* row, int x) const
    {
        switch (bpp) {
        case 32:
        case 24: {
            const uint8_t* p = row + size_t(x) * size_t(bpp / 8);
            return RGB(p[2], p[1], p[0]);
        }
        default: {
            int bit = x * bpp;
            int v = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1);
            if (v >= colors)
                return 0; // past the palette: black
            const uint8_t* q = palette + size_t(v) * 4u;
            return RGB(q[2], q[1], q[0]);
        }
        }
    }
};

// Reads a header field by field; false for anything but what the stand-in supports.
bool parseHeader(const uint8_t* h, size_t available, Dib& out, bool needPalette)
{
    if (available < 40)
        return false;
    uint32_t size = le32(h);
    int32_t width = int32_t(le32(h + 4));
    int32_t height = int32_t(le32(h + 8));
    uint16_t planes = le16(h + 12);
    uint16_t bpp = le16(h + 14);
    uint32_t compression = le32(h + 16);
    uint32_t clrUsed = le32(h + 32);
    if (size < 40 || planes != 1 || compression != BI_RGB)
        return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return false;
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return false;
    int64_t absH = height < 0 ? -int64_t(height) : height;
    if (int64_t(width) * absH > kMaxPixels)
        return false;
    out.width = width;
    out.height = int(absH);
    out.topDown = height < 0;
    out.bpp = bpp;
    out.stride = int(((int64_t(width) * bpp + 31) / 32) * 4);
    out.colors = 0;
    out.palette = nullptr;
    if (bpp <= 8) {
        uint32_t maxColors = 1u << bpp;
        if (clrUsed > maxColors)
            return false;
        out.colors = int(clrUsed ? clrUsed : maxColors);
        if (needPalette) {
            if (available < size_t(size) + size_t(out.colors) * 4u)
                return false;
            out.palette = h + size;
        }
    }
    return true;
}

bool parseInfo(const BITMAPINFO* info, Dib& out)
{
    if (!info)
        return false;
    // The header is read field by field; the palette follows it in the caller's memory.
    const auto* h = reinterpret_cast<const uint8_t*>(info);
    if (le32(h) < 40)
        return false;
    return parseHeader(h, SIZE_MAX, out, true);
}

std::shared_ptr<Bitmap> newBitmap(int w, int h, int bpp, bool topDown)
{
    if (w < 0 || h < 0 || int64_t(w) * h > kMaxPixels)
        return nullptr;
    auto b = std::make_shared<Bitmap>();
    b->width = w;
    b->height = h;
    b->bpp = bpp;
    b->stride = int(((int64_t(w) * bpp + 31) / 32) * 4);
    b->topDown = topDown;
    b->storage.assign(size_t(b->stride) * size_t(h), 0);
    return b;
}

HBITMAP addBitmap(std::shared_ptr<Bitmap> b, bool dibSection)
{
    auto o = std::make_shared<Object>();
    o->kind = Kind::Bitmap;
    o->bitmap = std::move(b);
    o->style = dibSection ? 1 : 0;
    return reinterpret_cast<HBITMAP>(addObject(o));
}

std::shared_ptr<Bitmap> bitmapOf(HBITMAP h)
{
    auto o = object(h);
    return (o && o->kind == Kind::Bitmap) ? o->bitmap : nullptr;
}

void putBitmapPixel(Bitmap& b, int x, int y, COLORREF c) { putPixel(b.rowPtr(y) + size_t(x) * size_t(b.bpp / 8), c, b.bpp); }

} // namespace

HBITMAP CreateCompatibleBitmap(HDC, int width, int height)
{
    // Contents are zero and a zero side gives a valid empty bitmap.
    auto b = newBitmap(width, height, 32, true);
    return b ? addBitmap(b, false) : nullptr;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD)
{
    if (bits)
        *bits = nullptr;
    Dib dib;
    if (usage != DIB_RGB_COLORS || !parseInfo(info, dib) || (dib.bpp != 24 && dib.bpp != 32))
        return nullptr;
    auto b = newBitmap(dib.width, dib.height, dib.bpp, dib.topDown);
    if (!b)
        return nullptr;
    if (bits)
        *bits = b->storage.data();
    return addBitmap(b, true);
}

HBITMAP LoadBitmapW(HINSTANCE inst, LPCWSTR name)
{
    if (!IS_INTRESOURCE(name))
        return nullptr;
    std::string path = platform::ResourceFolder(inst) + "/bitmaps/" + std::to_string(uintptr_t(name)) + ".bmp";
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return nullptr;
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M')
        return nullptr;
    uint32_t offBits = le32(&file[10]);
    Dib dib;
    if (!parseHeader(&file[14], file.size() - 14, dib, true))
        return nullptr;
    if (offBits > file.size() || file.size() - offBits < size_t(dib.stride) * size_t(dib.height))
        return nullptr;
    auto b = newBitmap(dib.width, dib.height, 32, true);
    if (!b)
        return nullptr;
    for (int y = 0; y < dib.height; ++y) {
        const uint8_t* row = &file[offBits + size_t(dib.topDown ? y : dib.height - 1 - y) * size_t(dib.stride)];
        for (int x = 0; x < dib.width; ++x)
            putBitmapPixel(*b, x, y, dib.pixel(row, x));
    }
    return addBitmap(b, false);
}

int SetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, const void* bits, const BITMAPINFO* info, UINT usage)
{
    auto b = bitmapOf(bitmap);
    Dib dib;
    if (!b || !bits || usage != DIB_RGB_COLORS || !parseInfo(info, dib))
        return 0;
    if (start >= UINT(dib.height))
        return 0;
    lines = std::min<UINT>(lines, UINT(dib.height) - start);
    const auto* src = static_cast<const uint8_t*>(bits);
    int copied = 0;
    for (UINT i = 0; i < lines; ++i) {
        int stored = int(start + i);
        // Bottom-up: stored row j is image row H - 1 - j, top-aligned on the bitmap.
        int y = dib.topDown ? stored : dib.height - 1 - stored;
        if (y < 0 || y >= b->height)
            continue;
        const uint8_t* row = src + size_t(i) * size_t(dib.stride);
        int w = std::min(dib.width, b->width);
        if (dib.bpp == 32 && b->bpp == 32) {
            // One pass over the row: whole pixels, the fourth byte cleared.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            const uint32_t keep = 0xFFFFFF00u;
#else
            const uint32_t keep = 0x00FFFFFFu;
#endif
            uint8_t* out = b->rowPtr(y);
            for (int x = 0; x < w; ++x) {
                uint32_t p;
                std::memcpy(&p, row + size_t(x) * 4u, 4);
                p &= keep;
                std::memcpy(out + size_t(x) * 4u, &p, 4);
            }
        } else {
            for (int x = 0; x < w; ++x)
                putBitmapPixel(*b, x, y, dib.pixel(row, x));
        }
        ++copied;
    }
    return copied;
}

int GetDIBits(HDC, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info, UINT usage)
{
    auto b = bitmapOf(bitmap);
    if (!b || !info || usage != DIB_RGB_COLORS)
        return 0;
    auto* h = reinterpret_cast<uint8_t*>(info);
    if (!bits) {
        if (le32(h) < 40)
            return 0;
        BITMAPINFOHEADER hdr{40, b->width, b->height, 1, WORD(b->bpp), BI_RGB, DWORD(b->stride * b->height), 0, 0, 0, 0};
        std::memcpy(h, &hdr, sizeof hdr);
        return 1;
    }
    Dib dib;
    if (!parseHeader(h, SIZE_MAX, dib, false) || (dib.bpp != 24 && dib.bpp != 32))
        return 0;
    if (start >= UINT(dib.height))
        return 0;
    lines = std::min<UINT>(lines, UINT(dib.height) - start);
    auto* dst = static_cast<uint8_t*>(bits);
    int copied = 0;
    for (UINT i = 0; i < lines; ++i) {
        int stored = int(start + i);
        int y = dib.topDown ? stored : dib.height - 1 - stored;
        uint8_t* row = dst + size_t(i) * size_t(dib.stride);
        if (y < 0 || y >= b->height)
            continue;
        int w = std::min(dib.width, b->width);
        const uint8_t* in = b->rowPtr(y);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        if (b->bpp == 32 && dib.bpp == 32) {
            // Whole pixels, the fourth byte cleared: one pass a row.
            for (int x = 0; x < w; ++x) {
                uint32_t v;
                std::memcpy(&v, in + size_t(x) * 4u, 4);
                v &= 0x00FFFFFFu;
                std::memcpy(row + size_t(x) * 4u, &v, 4);
            }
            ++copied;
            continue;
        }
#endif
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = in + size_t(x) * size_t(b->bpp / 8);
            uint8_t* q = row + size_t(x) * size_t(dib.bpp / 8);
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
            if (dib.bpp == 32)
                q[3] = 0;
        }
        ++copied;
    }
    return copied;
}

int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
                      UINT lines, const void* bits, const BITMAPINFO* info, UINT usage)
{
    auto d = dc(hdc);
    DibImage dib;
    if (!d || !readDib(info, usage, d.get(), bits, dib))
        return 0;
    if (startScan >= UINT(dib.height) || width > uint32_t(kFarCoordinate) || height > uint32_t(kFarCoordinate) ||
        farCoordinate(xDest) || farCoordinate(yDest) || farCoordinate(xSrc) || farCoordinate(ySrc))
        return 0;
    lines = std::min<UINT>(lines, UINT(dib.height) - startScan);
    Target t;
    if (!resolve(*d, t))
        return int(lines);
    // The band of stored rows present, as picture rows counted from the top; the source
    // rectangle's rows count from the bottom of a bottom-up DIB.
    const int w = int(width), h = int(height);
    int ys = ySrc;
    if (dib.expanded.empty()) {
        dib.firstStored = int(startScan);
        if (dib.topDown)
            dib.bounds = RECT{0, int(startScan), dib.width, int(startScan + lines)};
        else
            dib.bounds = RECT{0, dib.height - int(startScan + lines), dib.width, dib.height - int(startScan)};
    }
    if (!dib.topDown)
        ys = dib.height - ySrc - h;
    const int bpp = t.bpp;
    blitWalk(t, dib, BlitGeometry{xDest, yDest, w, h, xSrc, ys, w, h}, COLORONCOLOR,
             [bpp](uint8_t* p, const uint32_t* s, int n, int, int) { storeRun(p, bpp, n, s); });
    return int(lines);
}

int StretchDIBits(HDC hdc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop)
{
    auto d = dc(hdc);
    const BlitGeometry probe{xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight};
    if (!d || geometryFar(probe))
        return 0;
    const uint8_t code = ropCode(rop);
    DibImage dib;
    if (!readDib(info, usage, d.get(), bits, dib))
        return 0;
    Target t;
    if (!resolve(*d, t))
        return dib.height;
    // A bottom-up DIB's source rectangle counts its rows from the bottom.
    const int ys = dib.topDown ? ySrc : dib.height - ySrc - srcHeight;
    const BlitGeometry g{xDest, yDest, destWidth, destHeight, xSrc, ys, srcWidth, srcHeight};
    RopOp op{code, patternOf(hdc, *d), t.bpp, {}};
    blitWalk(t, dib, g, d->stretchMode, op);
    return dib.height;
}

HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* header, DWORD init, const void* bits,
                       const BITMAPINFO* info, UINT usage)
{
    if (!header)
        return nullptr;
    const auto* h = reinterpret_cast<const uint8_t*>(header);
    const int32_t width = int32_t(le32(h + 4)), height = int32_t(le32(h + 8));
    if (le32(h) < 40 || width < 0 || height == INT32_MIN)
        return nullptr;
    auto b = newBitmap(width, height < 0 ? -height : height, 32, true);
    if (!b)
        return nullptr;
    if (init & CBM_INIT) {
        std::shared_ptr<DC> d = hdc ? dc(hdc) : nullptr;
        DibImage dib;
        if (!readDib(info, usage, d.get(), bits, dib))
            return nullptr;
        std::vector<uint32_t> row(size_t(dib.width));
        const int rows = std::min(dib.height, b->height), cols = std::min(dib.width, b->width);
        // A 32-bit picture keeps its fourth byte: AlphaBlend reads it as the pixel's alpha.
        const bool alpha = dib.bpp == 32 && dib.compression == BI_RGB;
        for (int y = 0; y < rows; ++y) {
            dib.row(y, 0, dib.width, row.data());
            uint8_t* out = b->rowPtr(y);
            storeRun(out, 32, cols, row.data());
            if (alpha) {
                const uint8_t* in = dib.bits + size_t(dib.topDown ? y : dib.height - 1 - y) * size_t(dib.stride);
                for (int x = 0; x < cols; ++x)
                    out[size_t(x) * 4u + 3u] = in[size_t(x) * 4u + 3u];
            }
        }
    }
    return addBitmap(b, false);
}

std::vector<uint8_t> platform::BitmapPixels(HBITMAP bitmap, int* width, int* height)
{
    std::vector<uint8_t> out;
    auto b = bitmapOf(bitmap);
    if (width)
        *width = b ? b->width : 0;
    if (height)
        *height = b ? b->height : 0;
    if (!b)
        return out;
    out.resize(size_t(b->width) * size_t(b->height) * 4u);
    for (int y = 0; y < b->height; ++y) {
        const uint8_t* in = b->rowPtr(y);
        for (int x = 0; x < b->width; ++x) {
            const uint8_t* p = in + size_t(x) * size_t(b->bpp / 8);
            uint8_t* q = &out[(size_t(y) * size_t(b->width) + size_t(x)) * 4u];
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
            q[3] = 0;
        }
    }
    return out;
}
