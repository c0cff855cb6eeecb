#include "imagelib/RxImageBMP.h"

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

// Decoding stops by throwing its message; Decode catches it.
struct BmpError {
    const char* text;
};
[[noreturn]] void Fail(const char* text)
{
    throw BmpError{text};
}

WORD Get16(const BYTE* p)
{
    return WORD(p[0] | (p[1] << 8));
}
DWORD Get32(const BYTE* p)
{
    return DWORD(p[0]) | (DWORD(p[1]) << 8) | (DWORD(p[2]) << 16) | (DWORD(p[3]) << 24);
}
void Put16(BYTE*& p, WORD v)
{
    *p++ = BYTE(v);
    *p++ = BYTE(v >> 8);
}
void Put32(BYTE*& p, DWORD v)
{
    Put16(p, WORD(v));
    Put16(p, WORD(v >> 16));
}

// Bytes of pixel data for the file's depth, wide enough for any header's fields.
__int128 FileImageBytes(WORD bitCount, LONG width, LONG height)
{
    return __int128((int64_t(bitCount) * width + 31) / 32) * 4 * height;
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
    Put16(p, kSignature);
    Put32(p, DWORD(kFileHeaderSize) + GetSize());
    Put16(p, 0);
    Put16(p, 0);
    Put32(p, DWORD(kFileHeaderSize + kInfoHeaderSize) + GetPaletteSize());
    Put32(p, head.biSize);
    Put32(p, DWORD(head.biWidth));
    Put32(p, DWORD(head.biHeight));
    Put16(p, head.biPlanes);
    Put16(p, head.biBitCount);
    Put32(p, head.biCompression);
    Put32(p, head.biSizeImage);
    Put32(p, DWORD(head.biXPelsPerMeter));
    Put32(p, DWORD(head.biYPelsPerMeter));
    Put32(p, head.biClrUsed);
    Put32(p, head.biClrImportant);
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
    h.biSize = Get32(b);
    h.biWidth = LONG(Get32(b + 4));
    h.biHeight = LONG(Get32(b + 8));
    h.biPlanes = Get16(b + 12);
    h.biBitCount = Get16(b + 14);
    h.biCompression = Get32(b + 16);
    h.biSizeImage = Get32(b + 20);
    h.biXPelsPerMeter = LONG(Get32(b + 24));
    h.biYPelsPerMeter = LONG(Get32(b + 28));
    h.biClrUsed = Get32(b + 32);
    h.biClrImportant = Get32(b + 36);
    if (h.biSize == 12) {
        h.biWidth = Get16(b + 4);
        h.biHeight = Get16(b + 6);
        h.biPlanes = Get16(b + 8);
        h.biBitCount = Get16(b + 10);
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
        if (!plain || !file->Seek(long(h.biSize) - 40, 1))
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
// ends them; a write whose byte lies outside the pixel data is dropped.
class RleTarget {
public:
    RleTarget(BYTE* bits, DWORD effWidth, DWORD height) : bits(bits), eff(effWidth), height(height) {}
    BYTE* At(int64_t x, int64_t y) const
    {
        if (y < 0 || y >= int64_t(height) || x < 0)
            return nullptr;
        const int64_t pos = y * int64_t(eff) + x;
        return pos < int64_t(eff) * int64_t(height) ? bits + pos : nullptr;
    }

private:
    BYTE* bits;
    int64_t eff;
    DWORD height;
};

void DecodeRle8(RxFile* f, const RleTarget& t, DWORD effWidth)
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
            for (long i = 0; i < n; ++i) {
                // A run passing the row's end ends the bitmap; one that only fills the
                // row, as encoders write rows of a multiple of 4 pixels, goes on.
                if (x >= int64_t(effWidth))
                    return;
                if (BYTE* p = t.At(x, y))
                    *p = BYTE(v);
                ++x;
            }
            continue;
        }
        const long c = f->GetC();
        if (c < 0 || c == 1)
            return;
        if (c == 0) {
            x = 0;
            ++y;
        } else if (c == 2) {
            const long dx = f->GetC(), dy = f->GetC();
            if (dx < 0 || dy < 0)
                return;
            x += dx;
            y += dy;
        } else {
            for (long i = 0; i < c; ++i) {
                const long v = f->GetC();
                if (v < 0)
                    return;
                if (BYTE* p = t.At(x + i, y))
                    *p = BYTE(v);
            }
            if ((c & 1) && f->GetC() < 0)
                return;
            x += c;
        }
    }
}

void DecodeRle4(RxFile* f, const RleTarget& t)
{
    int64_t x = 0, y = 0;
    bool low = false; // the next pixel goes to the low nibble
    auto put = [&](long b) {
        if (BYTE* p = t.At(x, y))
            *p = low ? BYTE(*p | (b & 0x0F)) : BYTE(b & 0xF0);
        if (low)
            ++x;
        low = !low;
    };
    for (;;) {
        const long n = f->GetC();
        if (n < 0)
            return;
        if (n > 0) {
            const long b = f->GetC();
            if (b < 0)
                return;
            for (long i = 0; i < n; ++i)
                put(b);
            continue;
        }
        const long c = f->GetC();
        if (c < 0 || c == 1)
            return;
        if (c == 0) {
            x = 0;
            ++y;
            low = false;
        } else if (c == 2) {
            const long dx = f->GetC(), dy = f->GetC();
            if (dx < 0 || dy < 0)
                return;
            x += dx / 2;
            y += dy;
        } else {
            long b = f->GetC();
            if (b < 0)
                return;
            for (long i = 0; i < c; ++i) {
                const bool wasLow = low;
                put(b);
                if (wasLow && i + 1 < c && (b = f->GetC()) < 0)
                    return;
            }
            if (((c + 1) & 2) && f->GetC() < 0)
                return;
        }
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
            DecodeRle8(file, RleTarget(pBits, info.dwEffWidth, GetHeight()), info.dwEffWidth);
        else if (bih.biCompression == kRle4)
            DecodeRle4(file, RleTarget(pBits, info.dwEffWidth, GetHeight()));
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
    case 32:
        seekData();
        if (bih.biCompression != BI_RGB && bih.biCompression != kBitFields)
            Fail("unknown compression");
        Read32(file);
        break;
    default:
        break; // the pixels stay as created
    }
}

void RxImageBMP::Read16(RxFile* file, const BITMAPINFOHEADER& bih, long start, DWORD dataOffset)
{
    DWORD rMask = 0x7C00, gMask = 0x03E0, bMask = 0x001F;
    if (bih.biCompression == kBitFields) {
        BYTE m[12] = {};
        file->Read(m, 1, sizeof m);
        rMask = Get32(m), gMask = Get32(m + 4), bMask = Get32(m + 8);
    }
    const int r = CountBits16(rMask), g = CountBits16(gMask), b = CountBits16(bMask);
    const int blueShift = 8 - r, greenShift = r + g - 8, redShift = r + g + b - 8; // left, right, right
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
            const DWORD w = Get16(pBits + y * srcRow + x * 2);
            BYTE* p = pBits + y * eff + x * 3;
            p[0] = BYTE((w & bMask) << blueShift);
            p[1] = BYTE((w & gMask) >> greenShift);
            p[2] = BYTE((w & rMask) >> redShift);
        }
}

void RxImageBMP::Read32(RxFile* file)
{
    const size_t width = GetWidth(), height = GetHeight(), rowBytes = width * 4;
    BYTE* row = static_cast<BYTE*>(std::malloc(rowBytes));
    if (!row)
        Fail("can't allocate memory");
    for (size_t y = 0; y < height; ++y) {
        const size_t got = file->Read(row, 1, rowBytes);
        std::memset(row + got, 0, rowBytes - got);
        BYTE* dst = pBits + y * info.dwEffWidth;
        for (size_t x = 0; x < width; ++x)
            std::memcpy(dst + x * 3, row + x * 4, 3); // blue, green, red; the fourth dropped
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
        DWORD dataOffset = Get32(fh + 10);
        if (Get16(fh) != kSignature) {
            // A bare information header: the pixels follow the palette.
            file->Seek(start, 0);
            dataOffset = 0;
        }
        BITMAPINFOHEADER bih;
        if (!ReadBitmapInfo(file, &bih) || bih.biHeight == INT32_MIN)
            Fail("Error reading BMP info");
        const bool topDown = bih.biHeight < 0;
        if (topDown)
            bih.biHeight = -bih.biHeight;
        if (info.nEscape == -1) {
            head.biWidth = bih.biWidth;
            head.biHeight = bih.biHeight;
            Fail(kDimensionsReturned);
        }
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
