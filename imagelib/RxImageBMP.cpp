#include "imagelib/RxImageBMP.h"

#include "imagelib/RxAllocation.h"
#include "imagelib/RxBytes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr WORD kSignature = 0x4D42; // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr DWORD kRle8 = 1;
constexpr DWORD kRle4 = 2;
constexpr DWORD kBitFields = 3;
constexpr const char* kDimensionsReturned = "output dimensions returned";
constexpr const char* kUnsupportedHeader = "unsupported BMP header";

// Decoding stops by throwing its message; Decode catches it.
struct BmpError {
    const char* text;
};
[[noreturn]] void Fail(const char* text)
{
    throw BmpError{text};
}

// Bytes of pixel data for the file's depth, wide enough for any header's fields.
__int128 FileImageBytes(WORD bitCount, LONG width, LONG height)
{
    return __int128((int64_t(bitCount) * width + 31) / 32) * 4 * height;
}

bool KnownBitCount(WORD bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Refuses, before anything is allocated, pixels the file cannot hold: uncompressed data must
// hold at least one row and not far less than it declares (a truncated file keeps the rows it
// has); run-length data moves at most 255 rows down per 4-byte delta, so it reaches at most
// 64 rows per byte.
void CheckDeclaredSize(RxFile* file, const BITMAPINFOHEADER& bih, long dataStart)
{
    const long size = file->Size();
    if (size < 0 || bih.biWidth <= 0 || bih.biHeight <= 0)
        return; // unknown size, or dimensions that Create refuses anyway
    const int64_t left = std::max<int64_t>(0, int64_t(size) - dataStart);
    const bool rle = bih.biCompression == kRle8 || bih.biCompression == kRle4;
    const __int128 declared = FileImageBytes(bih.biBitCount, bih.biWidth, bih.biHeight);
    const bool refused = rle ? int64_t(bih.biHeight) > 1 + 64 * left
                             : __int128(left) < FileImageBytes(bih.biBitCount, bih.biWidth, 1) ||
                                   !RxMayDecodeDeclared(uint64_t(std::min<__int128>(declared, UINT64_MAX)), uint64_t(left));
    if (refused)
        Fail("Corrupted BMP: the file cannot hold the declared pixels");
}

int CountBits16(DWORD mask)
{
    return __builtin_popcount(mask & 0xFFFF);
}

} // namespace

bool RxImageBMP::Encode(RxFile* file)
{
    if (CheckEncodeTarget(file))
        return false;
    BYTE header[kFileHeaderSize + kInfoHeaderSize];
    BYTE* p = header;
    p = RxPut16(p, kSignature);
    p = RxPut32(p, DWORD(kFileHeaderSize) + GetSize());
    p = RxPut16(p, 0);
    p = RxPut16(p, 0);
    p = RxPut32(p, DWORD(kFileHeaderSize + kInfoHeaderSize) + GetPaletteSize());
    p = RxPut32(p, head.biSize);
    p = RxPut32(p, DWORD(head.biWidth));
    p = RxPut32(p, DWORD(head.biHeight));
    p = RxPut16(p, head.biPlanes);
    p = RxPut16(p, head.biBitCount);
    p = RxPut32(p, head.biCompression);
    p = RxPut32(p, head.biSizeImage);
    p = RxPut32(p, DWORD(head.biXPelsPerMeter));
    p = RxPut32(p, DWORD(head.biYPelsPerMeter));
    p = RxPut32(p, head.biClrUsed);
    p = RxPut32(p, head.biClrImportant);
    std::memcpy(pDib, &head, sizeof head); // drawing reads the in-memory copy
    const BYTE* rest = static_cast<const BYTE*>(pDib) + kInfoHeaderSize;
    const size_t restSize = GetSize() - kInfoHeaderSize;
    if (file->Write(header, 1, sizeof header) != sizeof header || file->Write(rest, 1, restSize) != restSize) {
        SetLastError("Write Error in BMP file");
        return false;
    }
    return true;
}

bool RxImageBMP::ReadBitmapInfo(RxFile* file, BITMAPINFOHEADER* out)
{
    if (!file || !out)
        return false;
    BYTE b[kInfoHeaderSize];
    if (file->Read(b, 1, sizeof b) != sizeof b)
        return false;
    BITMAPINFOHEADER h;
    h.biSize = RxGet32(b);
    h.biWidth = LONG(RxGet32(b + 4));
    h.biHeight = LONG(RxGet32(b + 8));
    h.biPlanes = RxGet16(b + 12);
    h.biBitCount = RxGet16(b + 14);
    h.biCompression = RxGet32(b + 16);
    h.biSizeImage = RxGet32(b + 20);
    h.biXPelsPerMeter = LONG(RxGet32(b + 24));
    h.biYPelsPerMeter = LONG(RxGet32(b + 28));
    h.biClrUsed = RxGet32(b + 32);
    h.biClrImportant = RxGet32(b + 36);
    if (h.biSize == 12) {
        h.biWidth = RxGet16(b + 4);
        h.biHeight = RxGet16(b + 6);
        h.biPlanes = RxGet16(b + 8);
        h.biBitCount = RxGet16(b + 10);
        h.biCompression = h.biSizeImage = 0;
        h.biXPelsPerMeter = h.biYPelsPerMeter = 0;
        h.biClrUsed = h.biClrImportant = 0;
        if (!file->Seek(-28, 1))
            return false;
    } else if (h.biSize == 64) {
        if (!file->Seek(24, 1))
            return false;
    } else if (h.biSize > 40) {
        const bool plain = h.biCompression == BI_RGB && h.biPlanes == 1 && h.biClrUsed == 0 &&
                           __int128(h.biSizeImage) == FileImageBytes(h.biBitCount, h.biWidth, h.biHeight);
        if (!plain) {
            SetLastError(kUnsupportedHeader); // masks, colour counts or compression in a newer header
            return false;
        }
        if (!file->Seek(long(h.biSize) - 40, 1))
            return false;
    } else if (h.biSize != 40) {
        return false;
    }
    if (h.biSizeImage == 0)
        h.biSizeImage = DWORD(FileImageBytes(h.biBitCount, h.biWidth, h.biHeight)); // later capped
    if (h.biClrUsed == 0)
        h.biClrUsed = h.biBitCount <= 8 ? 1u << h.biBitCount : 0;
    *out = h;
    return true;
}

namespace {

// Run-length decoders: every step consumes at least one byte, so the end of the stream
// ends them. Positions count pixels; pixels past the row's end, or outside the image, are
// dropped and decoding goes on (encoders pad runs to the row's stored width).
class RleTarget {
public:
    RleTarget(BYTE* bits, DWORD effWidth, DWORD width, DWORD height)
        : bits(bits), eff(effWidth), width(width), height(height)
    {
    }
    void Put8(int64_t x, int64_t y, long value) const
    {
        if (Inside(x, y, x))
            bits[y * eff + x] = BYTE(value);
    }
    // 4-bit pixel: the high nibble of its byte for even x.
    void Put4(int64_t x, int64_t y, long value) const
    {
        if (!Inside(x, y, x / 2))
            return;
        BYTE& b = bits[y * eff + x / 2];
        b = (x & 1) ? BYTE((b & 0xF0) | (value & 0x0F)) : BYTE((b & 0x0F) | (value & 0x0F) << 4);
    }

private:
    // Also inside the row's bytes: run-length 8-bit data may come with a 1- or 4-bit image.
    bool Inside(int64_t x, int64_t y, int64_t byte) const
    {
        return x >= 0 && x < width && byte < eff && y >= 0 && y < height;
    }
    BYTE* bits;
    int64_t eff, width, height;
};

// Pixel k of a run or of an absolute block: the high nibble of its byte for even k.
long Nibble(long b, long k)
{
    return (k & 1) ? b & 0x0F : b >> 4;
}

// Shared by both depths: end of line, end of bitmap, delta. False when decoding ends.
bool Escape(RxFile* f, long c, int64_t& x, int64_t& y)
{
    if (c == 0) {
        x = 0;
        ++y;
        return true;
    }
    if (c == 1)
        return false;
    const long dx = f->GetC(), dy = f->GetC(); // c == 2: a delta, counted in pixels
    if (dx < 0 || dy < 0)
        return false;
    x += dx;
    y += dy;
    return true;
}

void DecodeRle8(RxFile* f, const RleTarget& t)
{
    int64_t x = 0, y = 0;
    for (;;) {
        const long n = f->GetC();
        if (n < 0)
            return;
        if (n > 0) {
            const long v = f->GetC();
            if (v < 0)
                return;
            for (long i = 0; i < n; ++i)
                t.Put8(x + i, y, v);
            x += n;
            continue;
        }
        const long c = f->GetC();
        if (c < 0)
            return;
        if (c <= 2) {
            if (!Escape(f, c, x, y))
                return;
            continue;
        }
        for (long i = 0; i < c; ++i) {
            const long v = f->GetC();
            if (v < 0)
                return;
            t.Put8(x + i, y, v);
        }
        if ((c & 1) && f->GetC() < 0) // blocks are padded to 16 bits
            return;
        x += c;
    }
}

void DecodeRle4(RxFile* f, const RleTarget& t)
{
    int64_t x = 0, y = 0;
    for (;;) {
        const long n = f->GetC();
        if (n < 0)
            return;
        if (n > 0) {
            const long b = f->GetC();
            if (b < 0)
                return;
            for (long k = 0; k < n; ++k)
                t.Put4(x + k, y, Nibble(b, k));
            x += n;
            continue;
        }
        const long c = f->GetC();
        if (c < 0)
            return;
        if (c <= 2) {
            if (!Escape(f, c, x, y))
                return;
            continue;
        }
        long b = 0;
        for (long k = 0; k < c; ++k) {
            if (!(k & 1) && (b = f->GetC()) < 0)
                return;
            t.Put4(x + k, y, Nibble(b, k));
        }
        if ((((c + 1) / 2) & 1) && f->GetC() < 0) // (c + 1) / 2 bytes, padded to 16 bits
            return;
        x += c;
    }
}

} // namespace

void RxImageBMP::ReadPalette(RxFile* file, const BITMAPINFOHEADER& bih)
{
    RGBQUAD* pal = GetPalette();
    if (!pal)
        return;
    // Never more entries than the palette holds, whatever the file claims.
    const size_t n = std::min<size_t>(bih.biClrUsed, head.biClrUsed);
    BYTE* bytes = reinterpret_cast<BYTE*>(pal);
    if (bih.biSize == 12) {
        file->Read(bytes, 3, n);
        for (size_t i = n; i-- > 0;) // in place, last entry first
            pal[i] = RGBQUAD{bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2], 0};
    } else {
        file->Read(bytes, 4, n);
        for (size_t i = 0; i < n; ++i)
            pal[i].rgbReserved = 0;
    }
}

void RxImageBMP::ReadPixels(RxFile* file, const BITMAPINFOHEADER& bih, long start, DWORD dataOffset)
{
    auto seekData = [&] {
        if (dataOffset)
            file->Seek(start + long(dataOffset), 0);
    };
    // The file's size field is not trusted beyond the image created.
    const size_t fileSize = std::min<size_t>(bih.biSizeImage, head.biSizeImage);
    switch (bih.biBitCount) {
    case 1:
    case 4:
    case 8:
        seekData();
        if (bih.biCompression == BI_RGB)
            file->Read(pBits, 1, fileSize);
        else if (bih.biCompression == kRle8)
            DecodeRle8(file, RleTarget(pBits, info.dwEffWidth, GetWidth(), GetHeight()));
        else if (bih.biCompression == kRle4)
            DecodeRle4(file, RleTarget(pBits, info.dwEffWidth, GetWidth(), GetHeight()));
        else
            Fail("compression type not supported");
        break;
    case 24:
        seekData();
        if (bih.biCompression != BI_RGB)
            Fail("unknown compression");
        file->Read(pBits, 1, fileSize);
        break;
    case 16:
        Read16(file, bih, start, dataOffset);
        break;
    case 32: {
        if (bih.biCompression != BI_RGB && bih.biCompression != kBitFields)
            Fail("unknown compression");
        DWORD masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
        if (bih.biCompression == kBitFields && !ReadMasks(file, masks))
            Fail("unknown compression");
        seekData();
        Read32(file, masks);
        break;
    }
    default:
        Fail("unsupported bit count"); // Decode refuses these before creating the image
    }
}

// Red, green and blue masks after the information header: reading them also steps past
// them when the pixels follow without a data offset. False when a mask is 0.
bool RxImageBMP::ReadMasks(RxFile* file, DWORD masks[3])
{
    BYTE m[12] = {};
    file->Read(m, 1, sizeof m);
    for (int i = 0; i < 3; ++i)
        masks[i] = RxGet32(m + 4 * i);
    return masks[0] && masks[1] && masks[2];
}

void RxImageBMP::Read16(RxFile* file, const BITMAPINFOHEADER& bih, long start, DWORD dataOffset)
{
    DWORD masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bih.biCompression == kBitFields)
        ReadMasks(file, masks); // a zero mask is refused below
    const DWORD rMask = masks[0], gMask = masks[1], bMask = masks[2];
    const int r = CountBits16(rMask), g = CountBits16(gMask), b = CountBits16(bMask);
    // Layouts refused since this reader shifted by the red width: a red field above 8 bits,
    // or red and green together, or all three, below 8.
    const int blueShift = 8 - r, greenShift = r + g - 8, redShift = r + g + b - 8;
    const auto bad = [](int s) { return s < 0 || s >= 32; };
    if (r == 0 || g == 0 || b == 0 || bad(blueShift) || bad(greenShift) || bad(redShift))
        Fail("unknown compression");
    if (dataOffset)
        file->Seek(start + long(dataOffset), 0);
    const size_t width = GetWidth(), height = GetHeight(), eff = info.dwEffWidth;
    const size_t srcRow = ((width + 1) / 2) * 4;
    file->Read(pBits, 1, std::min<size_t>(srcRow * height, head.biSizeImage));
    // In place, from the end: every 24-bit pixel lies at or after its 16-bit source.
    for (size_t y = height; y-- > 0;)
        for (size_t x = width; x-- > 0;) {
            const DWORD w = RxGet16(pBits + y * srcRow + x * 2);
            BYTE* p = pBits + y * eff + x * 3;
            p[0] = RxChannel(w, bMask & 0xFFFF);
            p[1] = RxChannel(w, gMask & 0xFFFF);
            p[2] = RxChannel(w, rMask & 0xFFFF);
        }
}

void RxImageBMP::Read32(RxFile* file, const DWORD masks[3])
{
    const size_t width = GetWidth(), height = GetHeight(), rowBytes = width * 4;
    BYTE* row = static_cast<BYTE*>(RxAllocate(rowBytes));
    if (!row)
        Fail("can't allocate memory");
    for (size_t y = 0; y < height; ++y) {
        const size_t got = file->Read(row, 1, rowBytes);
        std::memset(row + got, 0, rowBytes - got);
        BYTE* dst = pBits + y * info.dwEffWidth;
        for (size_t x = 0; x < width; ++x) { // blue, green, red; anything else is dropped
            const DWORD p = RxGet32(row + x * 4);
            dst[x * 3] = RxChannel(p, masks[2]);
            dst[x * 3 + 1] = RxChannel(p, masks[1]);
            dst[x * 3 + 2] = RxChannel(p, masks[0]);
        }
        if (got < rowBytes)
            break; // the rest stays zero
    }
    std::free(row);
}

bool RxImageBMP::Decode(RxFile* file)
{
    if (!file)
        return false;
    try {
        const long start = file->Tell();
        BYTE fh[kFileHeaderSize];
        if (file->Read(fh, 1, sizeof fh) != sizeof fh)
            Fail("Not a BMP");
        DWORD dataOffset = RxGet32(fh + 10);
        if (RxGet16(fh) != kSignature) {
            // A bare information header: the pixels follow the palette.
            file->Seek(start, 0);
            dataOffset = 0;
        }
        BITMAPINFOHEADER bih;
        SetLastError("");
        if (!ReadBitmapInfo(file, &bih) || bih.biHeight == INT32_MIN)
            Fail(std::strcmp(GetLastError(), kUnsupportedHeader) == 0 ? kUnsupportedHeader : "Error reading BMP info");
        const bool topDown = bih.biHeight < 0;
        if (topDown)
            bih.biHeight = -bih.biHeight;
        if (info.nEscape == -1) {
            head.biWidth = bih.biWidth;
            head.biHeight = bih.biHeight;
            Fail(kDimensionsReturned);
        }
        if (!KnownBitCount(bih.biBitCount))
            Fail("unsupported bit count");
        CheckDeclaredSize(file, bih, dataOffset ? start + long(dataOffset) : file->Tell());
        if (!Create(DWORD(bih.biWidth), DWORD(bih.biHeight), bih.biBitCount, RXIMAGE_FORMAT_BMP))
            Fail("Can't allocate memory");
        head.biXPelsPerMeter = bih.biXPelsPerMeter;
        head.biYPelsPerMeter = bih.biYPelsPerMeter;
        info.xDPI = long(std::floor(double(bih.biXPelsPerMeter) * 254.0 / 10000.0 + 0.5));
        info.yDPI = long(std::floor(double(bih.biYPelsPerMeter) * 254.0 / 10000.0 + 0.5));
        if (info.nEscape)
            Fail("Cancelled");
        ReadPalette(file, bih);
        if (info.nEscape)
            Fail("Cancelled");
        ReadPixels(file, bih, start, dataOffset);
        if (topDown)
            Flip();
        return true;
    } catch (const BmpError& e) {
        SetLastError(e.text);
        // Only a dimensions request that got its dimensions succeeds; a file that is no
        // BMP at all stays a failure, or the type-0 probe would stop here.
        if (info.nEscape == -1 && std::strcmp(e.text, kDimensionsReturned) == 0)
            return true;
        Destroy();
        return false;
    }
}
