#include "imagelib/RxImageWMF.h"

#include "imagelib/RxBytes.h"
#include "platform/Win32.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

const long kMaxSide = 4000;
const size_t kPlaceableSize = 22;
const size_t kWmfHeaderSize = 18;

struct Placeable {
    int16_t left, top, right, bottom;
    uint16_t unitsPerInch;
};

// Everything the decoder makes, released on every path.
struct Resources {
    HDC screen = nullptr;
    HENHMETAFILE metafile = nullptr;
    HBITMAP bitmap = nullptr;
    HDC memory = nullptr;
    HGDIOBJ oldBitmap = nullptr;
    HGLOBAL paletteMemory = nullptr;
    HPALETTE palette = nullptr;
    ~Resources()
    {
        if (memory && oldBitmap)
            SelectObject(memory, oldBitmap);
        if (memory)
            DeleteDC(memory); // first: it holds the palette
        if (palette)
            DeleteObject(palette);
        if (paletteMemory)
            GlobalFree(paletteMemory);
        if (bitmap)
            DeleteObject(bitmap);
        if (metafile)
            DeleteEnhMetaFile(metafile);
        if (screen)
            ReleaseDC(nullptr, screen);
    }
};

HENHMETAFILE LoadPlaceable(RxFile* f, long start, HDC screen, Placeable& box)
{
    BYTE head[kPlaceableSize];
    if (f->Read(head, 1, sizeof head) != sizeof head || RxGet32(head) != 0x9AC6CDD7u)
        return nullptr;
    uint16_t check = 0;
    for (int i = 0; i < 10; ++i)
        check ^= RxGet16(head + 2 * i);
    box = Placeable{int16_t(RxGet16(head + 6)), int16_t(RxGet16(head + 8)), int16_t(RxGet16(head + 10)),
                    int16_t(RxGet16(head + 12)), RxGet16(head + 14)};
    if (check != RxGet16(head + 20) || box.unitsPerInch == 0 || box.unitsPerInch >= 2541)
        return nullptr;
    BYTE mh[kWmfHeaderSize];
    if (f->Read(mh, 1, sizeof mh) != sizeof mh || (RxGet16(mh) != 1 && RxGet16(mh) != 2))
        return nullptr;
    const uint64_t bytes = uint64_t(RxGet32(mh + 6)) * 2;
    const long streamSize = f->Size();
    if (bytes < kWmfHeaderSize || streamSize < 0 || bytes > uint64_t(streamSize))
        return nullptr;
    std::vector<BYTE> data;
    try {
        data.resize(size_t(bytes));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    // The records start right after the placeable header, wherever the file begins.
    if (!f->Seek(start + long(kPlaceableSize), 0) || f->Read(data.data(), 1, data.size()) != data.size())
        return nullptr;
    METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    int64_t x = std::llabs(int64_t(box.right) - box.left) * GetDeviceCaps(screen, LOGPIXELSX) / box.unitsPerInch;
    int64_t y = std::llabs(int64_t(box.bottom) - box.top) * GetDeviceCaps(screen, LOGPIXELSY) / box.unitsPerInch;
    while (x > 0 && y > 0 && x < 6554 && y < 6554) {
        x *= 10;
        y *= 10;
    }
    picture.xExt = LONG(x);
    picture.yExt = LONG(y);
    HENHMETAFILE h = SetWinMetaFileBits(UINT(data.size()), data.data(), screen, &picture);
    if (!h) {
        picture.mm = MM_TEXT;
        h = SetWinMetaFileBits(UINT(data.size()), data.data(), screen, &picture);
    }
    return h;
}

HENHMETAFILE LoadEnhanced(RxFile* f, long start, ENHMETAHEADER& header)
{
    const long size = f->Size();
    if (size <= start || uint64_t(size - start) > 0xFFFFFFFFu)
        return nullptr;
    std::vector<BYTE> data;
    try {
        data.resize(size_t(size - start));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    if (f->Read(data.data(), 1, data.size()) != data.size())
        return nullptr;
    HENHMETAFILE h = SetEnhMetaFileBits(UINT(data.size()), data.data());
    if (h && GetEnhMetaFileHeader(h, sizeof header, &header) != sizeof header) {
        DeleteEnhMetaFile(h);
        return nullptr;
    }
    return h;
}

} // namespace

bool RxImageWMF::Decode(RxFile* f, long maxWidth, long maxHeight)
{
    if (!f)
        return false;
    const long start = f->Tell();
    Resources res;
    res.screen = GetDC(nullptr);
    Placeable box{};
    int64_t width = 0, height = 0;
    res.metafile = LoadPlaceable(f, start, res.screen, box);
    if (res.metafile) {
        width = std::llabs(int64_t(box.right) - box.left) * GetDeviceCaps(res.screen, LOGPIXELSX) / box.unitsPerInch;
        height = std::llabs(int64_t(box.bottom) - box.top) * GetDeviceCaps(res.screen, LOGPIXELSY) / box.unitsPerInch;
    } else {
        ENHMETAHEADER header{};
        f->Seek(start, 0);
        res.metafile = LoadEnhanced(f, start, header);
        if (!res.metafile) {
            SetLastError("corrupted WMF");
            return false;
        }
        const RECT& b = header.rclBounds;
        width = std::max<int64_t>(0, int64_t(b.right) - b.left);
        height = std::max<int64_t>(0, int64_t(b.bottom) - b.top);
    }
    if (info.nEscape) {
        SetLastError("Cancelled");
        return false;
    }
    if (width == 0 || height == 0) {
        SetLastError("empty WMF");
        return false;
    }
    if (maxWidth > 0 && maxHeight > 0) {
        width = maxWidth;
        height = maxHeight;
    }
    if (width > kMaxSide) {
        height = std::max<int64_t>(1, height * kMaxSide / width);
        width = kMaxSide;
    }
    if (height > kMaxSide) {
        width = std::max<int64_t>(1, width * kMaxSide / height);
        height = kMaxSide;
    }
    res.bitmap = CreateCompatibleBitmap(res.screen, int(width), int(height));
    res.memory = res.bitmap ? CreateCompatibleDC(res.screen) : nullptr;
    if (!res.memory)
        return false;
    res.oldBitmap = SelectObject(res.memory, res.bitmap);
    const RECT rc{0, 0, LONG(width), LONG(height)};
    const COLORREF oldBk = SetBkColor(res.memory, GetSysColor(COLOR_WINDOW));
    ExtTextOutW(res.memory, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    SetBkColor(res.memory, oldBk);

    const UINT entries = GetEnhMetaFilePaletteEntries(res.metafile, 0, nullptr);
    if (entries > 0 && entries != GDI_ERROR) {
        res.paletteMemory = GlobalAlloc(GHND, sizeof(LOGPALETTE) + entries * sizeof(PALETTEENTRY));
        auto* lp = res.paletteMemory ? static_cast<LOGPALETTE*>(GlobalLock(res.paletteMemory)) : nullptr;
        if (!lp) {
            SetLastError("Cancelled");
            return false;
        }
        lp->palVersion = 0x300;
        lp->palNumEntries = WORD(entries);
        GetEnhMetaFilePaletteEntries(res.metafile, entries, lp->palPalEntry);
        res.palette = CreatePalette(lp);
        GlobalUnlock(res.paletteMemory);
        if (res.palette) {
            SelectPalette(res.memory, res.palette, FALSE);
            RealizePalette(res.memory);
        }
    }

    PlayEnhMetaFile(res.memory, res.metafile, &rc);
    SelectObject(res.memory, res.oldBitmap);
    res.oldBitmap = nullptr;
    DeleteEnhMetaFile(res.metafile);
    res.metafile = nullptr;

    if (info.nEscape) {
        SetLastError("Cancelled");
        return false;
    }
    if (!Create(DWORD(width), DWORD(height), DWORD(GetDeviceCaps(res.memory, BITSPIXEL)), RXIMAGE_FORMAT_WMF))
        return false;
    if (!GetDIBits(res.memory, res.bitmap, 0, UINT(height), pBits, static_cast<BITMAPINFO*>(pDib), DIB_RGB_COLORS)) {
        Destroy();
        return false;
    }
    return true;
}

bool RxImageWMF::Encode(RxFile* f)
{
    if (f)
        SetLastError("Save WMF not supported");
    return false;
}
