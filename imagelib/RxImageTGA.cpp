#include "imagelib/RxImageTGA.h"

#include "imagelib/RxAllocation.h"
#include "imagelib/RxBytes.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct TgaError {
    const char* text;
};

// One pixel of the file's depth as blue, green, red, alpha.
RGBQUAD Convert(const BYTE* p, int depth)
{
    switch (depth) {
    case 15:
    case 16: {
        const DWORD w = RxGet16(p); // 5-5-5, blue in the low bits
        return RGBQUAD{RxChannel(w, 0x001F), RxChannel(w, 0x03E0), RxChannel(w, 0x7C00), 255};
    }
    case 24: return RGBQUAD{p[0], p[1], p[2], 255};
    case 32: return RGBQUAD{p[0], p[1], p[2], p[3]};
    default: return RGBQUAD{p[0], p[0], p[0], 255};
    }
}

// Reads pixels, plain or in run-length packets whose runs may cross rows.
class PixelSource {
public:
    PixelSource(RxFile* f, int depth, bool rle) : f(f), bytes((depth + 7) / 8), rle(rle) {}
    // The next pixel's bytes; false at the end of the data.
    bool Next(BYTE* px)
    {
        if (!rle)
            return f->Read(px, 1, size_t(bytes)) == size_t(bytes);
        if (left == 0) {
            const long h = f->GetC();
            if (h < 0)
                return false;
            repeat = h >= 128;
            left = repeat ? h - 127 : h + 1;
            if (repeat && f->Read(value, 1, size_t(bytes)) != size_t(bytes))
                return false;
        }
        --left;
        if (repeat) {
            std::memcpy(px, value, size_t(bytes));
            return true;
        }
        return f->Read(px, 1, size_t(bytes)) == size_t(bytes);
    }
    bool Pending() const { return left > 0; }

private:
    RxFile* f;
    int bytes;
    bool rle, repeat = false;
    long left = 0;
    BYTE value[4] = {};
};

// Refuses, before anything is allocated, pixels the file cannot hold: plain data must hold at
// least one row and not far less than it declares (the colour map counts, to stay lenient);
// a run-length packet of 2 bytes or more yields at most 128 pixels.
void CheckDeclaredSize(RxFile* f, int width, int height, int depth, bool rle)
{
    const long left = f->BytesLeft();
    if (left < 0)
        return;
    const uint64_t pixels = uint64_t(width) * uint64_t(height), rowBytes = uint64_t(width) * uint64_t((depth + 7) / 8);
    if (!rle && (uint64_t(left) < rowBytes || !RxMayDecodeDeclared(rowBytes * uint64_t(height), uint64_t(left))))
        throw TgaError{"corrupted TGA"};
    if (rle && pixels > uint64_t(width) + 64 * uint64_t(left))
        throw TgaError{"corrupted TGA"};
}

} // namespace

bool RxImageTGA::Decode(RxFile* f)
{
    if (!f)
        return false;
    try {
        BYTE h[18];
        if (f->Read(h, 1, 18) != 18)
            throw TgaError{"Not a TGA"};
        const int type = h[2], first = RxGet16(h + 3), mapLength = RxGet16(h + 5), entrySize = h[7];
        const int width = RxGet16(h + 12), height = RxGet16(h + 14), depth = h[16];
        const bool rightToLeft = h[17] & 0x10, topDown = h[17] & 0x20;
        if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11)
            throw TgaError{"Unknown TGA image type"};
        const bool mapped = h[1] == 1;
        if (width == 0 || height == 0 || mapLength > 256 ||
            (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32) ||
            (mapped && entrySize != 15 && entrySize != 16 && entrySize != 24 && entrySize != 32) ||
            ((type == 3 || type == 11) && depth != 8 && depth != 16))
            throw TgaError{"bad TGA header"};
        if ((type == 3 || type == 11) && depth == 16) // grey with alpha is not read
            throw TgaError{"16-bit grey TGA not supported"};
        f->Seek(h[0], 1);
        CheckDeclaredSize(f, width, height, depth, type >= 9);
        if (!Create(DWORD(width), DWORD(height), DWORD(depth), RXIMAGE_FORMAT_TGA))
            throw TgaError{"TGA Create failed"};
        if (depth == 32)
            AlphaCreate();
        if (info.nEscape)
            throw TgaError{"Cancelled"};
        if (mapped) { // entries of the declared size; entry i is palette entry first + i
            const int size = (entrySize + 7) / 8;
            BYTE e[4];
            for (int i = 0; i < mapLength; ++i)
                if (f->Read(e, 1, size_t(size)) == size_t(size) && first + i < 256)
                    SetPaletteColor(BYTE(first + i), Convert(e, entrySize == 32 ? 24 : entrySize));
        }
        if (type == 3 || type == 11)
            SetGrayPalette();
        const bool rle = type >= 9;
        const int bytes = (depth + 7) / 8;
        PixelSource source(f, depth, rle);
        std::vector<BYTE> line(size_t(width) * size_t(bytes));
        for (int r = 0; r < height; ++r) {
            if (info.nEscape)
                throw TgaError{"Cancelled"};
            if (!source.Pending() && f->Eof())
                throw TgaError{"corrupted TGA"};
            // The row's file pixels first (a short row stays 0), then converted.
            size_t got = 0;
            if (!rle)
                got = f->Read(line.data(), size_t(bytes), size_t(width));
            else
                while (got < size_t(width) && source.Next(&line[got * size_t(bytes)]))
                    ++got;
            BYTE* row = GetBits(DWORD(topDown ? height - 1 - r : r));
            if (depth == 8 || depth == 24) {
                std::memcpy(row, line.data(), got * size_t(bytes));
                continue;
            }
            BYTE* a = depth == 32 ? AlphaGetPointer(0, r) : nullptr; // file row r: flipped below
            for (size_t x = 0; x < got; ++x) {
                const RGBQUAD c = Convert(&line[x * size_t(bytes)], depth);
                std::memcpy(row + x * 3, &c, 3);
                if (a)
                    a[x] = c.rgbReserved;
            }
        }
        if (rightToLeft)
            Mirror();
        if (topDown && depth == 32)
            AlphaFlip();
        return true;
    } catch (const TgaError& e) {
        SetLastError(e.text);
        Destroy();
        return false;
    }
}

bool RxImageTGA::Encode(RxFile* f)
{
    if (CheckEncodeTarget(f))
        return false;
    if (GetBpp() < 8) {
        SetLastError("Bit depth must be 8 or 24");
        return false;
    }
    if (GetWidth() > 65535 || GetHeight() > 65535) {
        SetLastError("Can't save this image as TGA"); // the header holds 16-bit sizes
        return false;
    }
    const bool indexed = GetBpp() == 8, alpha = !indexed && AlphaIsValid();
    const int width = int(GetWidth()), height = int(GetHeight());
    std::vector<BYTE> out(18, 0);
    out[1] = GetPalette() ? 1 : 0;
    out[2] = indexed ? 1 : 2;
    out[6] = indexed ? 1 : 0; // 256 entries
    out[7] = indexed ? 24 : 0;
    RxPut16(&out[12], WORD(width));
    RxPut16(&out[14], WORD(height));
    out[16] = BYTE(alpha ? 32 : GetBpp());
    if (indexed)
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD c = GetPaletteColor(BYTE(i));
            out.insert(out.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
        }
    const size_t pixelBytes = size_t(alpha ? 4 : indexed ? 1 : 3), start = out.size();
    out.resize(start + size_t(width) * size_t(height) * pixelBytes);
    BYTE* dst = &out[start];
    for (int y = 0; y < height; ++y) {
        const BYTE* row = GetBits(DWORD(y));
        if (!alpha) {
            std::memcpy(dst, row, size_t(width) * pixelBytes);
            dst += size_t(width) * pixelBytes;
            continue;
        }
        const BYTE* a = AlphaGetPointer(0, y);
        for (int x = 0; x < width; ++x, dst += 4) {
            std::memcpy(dst, row + x * 3, 3);
            dst[3] = BYTE(a[x] * info.nAlphaMax / 255);
        }
    }
    if (f->Write(out.data(), 1, out.size()) != out.size()) {
        SetLastError("Write Error in TGA file");
        return false;
    }
    return true;
}
