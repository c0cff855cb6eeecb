#include "imagelib/RxImage.h"

#include "imagelib/RxAllocation.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

RxImage::RxImage(DWORD type)
{
    InitFields(type);
}

RxImage::RxImage(DWORD width, DWORD height, DWORD bpp, DWORD type)
{
    InitFields(type);
    Create(width, height, bpp, type);
}

RxImage::RxImage(const RxImage& src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    InitFields(src.info.dwType);
    Copy(src, copyPixels, copySelection, copyAlpha);
}

RxImage::~RxImage()
{
    Destroy();
}

RxImage& RxImage::operator=(const RxImage& src)
{
    if (this != &src)
        Copy(src, true, true, true);
    return *this;
}

void RxImage::InitFields(DWORD type)
{
    pDib = nullptr;
    pBits = nullptr;
    pBorrowedFrom = nullptr;
    pSelection = nullptr;
    pAlpha = nullptr;
    pLayers = nullptr;
    std::memset(&head, 0, sizeof head);
    std::memset(&info, 0, sizeof info);
    info.dwType = type;
    info.nQuality = 90;
    info.nAlphaMax = 255;
    info.nBkgndIndex = -1;
    info.bEnabled = true;
    SetXDPI(96);
    SetYDPI(96);
}

void* RxImage::Create(DWORD width, DWORD height, DWORD bpp, DWORD type)
{
    if (!Destroy())
        return nullptr;
    if (width == 0 || height == 0) {
        SetLastError("RxImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    bpp = bpp <= 1 ? 1 : bpp <= 4 ? 4 : bpp <= 8 ? 8 : 24;
    // Sizes in 64 bits: the header's 32-bit fields would wrap on hostile dimensions and a
    // truncated size would reach malloc.
    const uint64_t limit = 0x7FFFFFFF;
    const uint64_t effWidth = ((uint64_t(width) * bpp + 31) / 32) * 4;
    const uint64_t imageSize = effWidth * height;
    const unsigned __int128 product = (unsigned __int128)width * height * bpp;
    if (width > limit || height > limit || effWidth > limit || imageSize > limit || product / 256 > 256000000) {
        SetLastError("RXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }
    head.biClrUsed = bpp == 1 ? 2 : bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
    info.dwEffWidth = DWORD(effWidth);
    info.dwType = type;
    head.biSize = sizeof(BITMAPINFOHEADER);
    head.biWidth = LONG(width);
    head.biHeight = LONG(height);
    head.biPlanes = 1;
    head.biBitCount = WORD(bpp);
    head.biCompression = BI_RGB;
    head.biSizeImage = DWORD(imageSize);
    head.biClrImportant = 0;
    // Zeroed pixels too: a truncated file must not leave heap bytes for a later encode.
    pDib = RxAllocate(size_t(GetSize()), true);
    if (!pDib) {
        SetLastError("RxImage::Create can't allocate memory");
        return nullptr;
    }
    if (pSelection)
        SelectionDelete();
    if (pAlpha) {
        std::free(pAlpha);
        pAlpha = nullptr;
    }
    std::memcpy(pDib, &head, sizeof head);
    pBits = static_cast<BYTE*>(pDib) + sizeof head + GetPaletteSize();
    return pDib;
}

bool RxImage::Destroy()
{
    if (pBorrowedFrom)
        return false;
    if (pLayers) {
        for (long i = 0; i < info.nNumLayers; ++i)
            delete pLayers[i];
        std::free(pLayers);
        pLayers = nullptr;
        info.nNumLayers = 0;
    }
    std::free(pSelection);
    std::free(pAlpha);
    std::free(pDib);
    pSelection = nullptr;
    pAlpha = nullptr;
    pDib = nullptr;
    pBits = nullptr;
    return true;
}

static BYTE* DuplicatePlane(const BYTE* plane, size_t size)
{
    BYTE* copy = static_cast<BYTE*>(RxAllocate(size));
    if (copy)
        std::memcpy(copy, plane, size);
    return copy;
}

void RxImage::Copy(const RxImage& src, bool copyPixels, bool copySelection, bool copyAlpha)
{
    if (&src == this)
        return;
    info = src.info;
    info.nNumLayers = 0; // layers stay with their owner
    if (!Create(src.GetWidth(), src.GetHeight(), src.GetBpp(), src.GetType()))
        return;
    if (copyPixels && src.pDib)
        std::memcpy(pDib, src.pDib, GetSize());
    else if (src.GetPalette())
        SetPalette(src.GetPalette(), src.head.biClrUsed); // never past the source's palette
    const size_t plane = size_t(GetWidth()) * GetHeight();
    if (copySelection && src.pSelection)
        pSelection = DuplicatePlane(src.pSelection, plane);
    if (copyAlpha && src.pAlpha)
        pAlpha = DuplicatePlane(src.pAlpha, plane);
}

void RxImage::CopySettings(const RxImage& src)
{
    if (!pDib)
        info = src.info;
}

void RxImage::BorrowFrom(RxImage& src)
{
    head = src.head;
    info = src.info;
    pDib = src.pDib;
    pBits = src.pBits;
    pSelection = src.pSelection;
    pAlpha = src.pAlpha;
    pLayers = src.pLayers;
    pBorrowedFrom = &src;
}

bool RxImage::TakeOver(RxImage& donor)
{
    if (!Destroy())
        return false;
    head = donor.head;
    info = donor.info;
    pDib = donor.pDib;
    pBits = donor.pBits;
    pSelection = donor.pSelection;
    pAlpha = donor.pAlpha;
    pLayers = donor.pLayers;
    std::memset(&donor.head, 0, sizeof donor.head);
    std::memset(&donor.info, 0, sizeof donor.info);
    donor.pDib = nullptr;
    donor.pBits = nullptr;
    donor.pSelection = nullptr;
    donor.pAlpha = nullptr;
    donor.pLayers = nullptr;
    return true;
}

bool RxImage::CheckEncodeTarget(RxFile* file)
{
    if (!file) {
        SetLastError("null file handler");
        return true;
    }
    if (!pDib) {
        SetLastError("null image!!!");
        return true;
    }
    return false;
}

void RxImage::SetLastError(const char* text)
{
    std::strncpy(info.szLastError, text, sizeof info.szLastError - 1);
    info.szLastError[sizeof info.szLastError - 1] = 0;
}

DWORD RxImage::GetSize() const
{
    return DWORD(sizeof(BITMAPINFOHEADER)) + head.biSizeImage + GetPaletteSize();
}

static LONG PixelsPerMetre(long dpi)
{
    const double ppm = std::floor(double(dpi) * 10000.0 / 254.0 + 0.5);
    return ppm > 2147483647.0 ? LONG(2147483647) : LONG(ppm);
}

void RxImage::SetXDPI(long dpi)
{
    if (dpi < 1)
        dpi = 96;
    info.xDPI = dpi;
    head.biXPelsPerMeter = PixelsPerMetre(dpi);
}

void RxImage::SetYDPI(long dpi)
{
    if (dpi < 1)
        dpi = 96;
    info.yDPI = dpi;
    head.biYPelsPerMeter = PixelsPerMetre(dpi);
}
