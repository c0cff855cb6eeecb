#include "imagelib/RxImagePCX.h"

#include "imagelib/RxBytes.h"
#include "imagelib/RxMemFile.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct PcxError {
    const char* text;
};

// Run-length coding of one plane line: runs of at most 63, a marked count before a value
// that repeats or that could be taken for a count.
void CodeLine(std::vector<BYTE>& out, const BYTE* values, size_t count)
{
    for (size_t i = 0; i < count;) {
        size_t run = 1;
        while (i + run < count && run < 63 && values[i + run] == values[i])
            ++run;
        if (run > 1 || (values[i] & 0xC0) == 0xC0)
            out.push_back(BYTE(0xC0 | run));
        out.push_back(values[i]);
        i += run;
    }
}

} // namespace

bool RxImagePCX::Decode(RxFile* f)
{
    if (!f)
        return false;
    try {
        BYTE h[128];
        if (f->Read(h, 1, 128) != 128)
            throw PcxError{"Can't read PCX image"};
        if (h[0] != 10)
            throw PcxError{"Error: Not a PCX file"};
        if (h[2] != 1)
            throw PcxError{"PCX file has unknown encoding scheme"};
        const int bpp = h[3], planes = h[65], bpl = RxGet16(h + 66);
        const long width = long(RxGet16(h + 8)) - RxGet16(h + 4) + 1;
        const long height = long(RxGet16(h + 10)) - RxGet16(h + 6) + 1;
        if (planes > 4)
            throw PcxError{"Can't handle image with more than 4 planes"};
        // Lines shorter than their pixels, or depths the unpacking does not know.
        if ((bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) || planes < 1 || (width > 0 && bpl < (width * bpp + 7) / 8))
            throw PcxError{"Can't read PCX image"};
        // A run pair yields at most 63 bytes: data the file cannot hold is refused before
        // anything is allocated.
        const long rest = f->Size() - f->Tell();
        const uint64_t dataSize = uint64_t(bpl) * uint64_t(planes) * uint64_t(height > 0 ? height : 0);
        if (dataSize > 32 * uint64_t(rest > 0 ? rest : 0))
            throw PcxError{"corrupted PCX"};
        SetXDPI(RxGet16(h + 12));
        SetYDPI(RxGet16(h + 14));
        // Two to four one-bit planes make up to 16 colours.
        const DWORD depth = (planes >= 3 && bpp == 8) ? 24 : (planes >= 2 && bpp == 1) ? 4 : DWORD(bpp);
        if (!Create(DWORD(width), DWORD(height), depth, RXIMAGE_FORMAT_PCX))
            return false; // Create's text stays
        if (planes == 4 && bpp == 8)
            AlphaCreate();
        if (info.nEscape)
            throw PcxError{"Cancelled"};
        std::vector<BYTE> data(static_cast<size_t>(dataSize));
        for (size_t i = 0; i < data.size();) {
            const long c = f->GetC();
            if (c < 0)
                throw PcxError{"corrupted PCX"};
            if ((c & 0xC0) != 0xC0) {
                data[i++] = BYTE(c);
                continue;
            }
            const size_t count = size_t(c & 0x3F);
            const long v = f->GetC();
            if (v < 0)
                throw PcxError{"corrupted PCX"};
            if (count > data.size() - i)
                throw PcxError{"repeat count spans end of image"};
            std::memset(data.data() + i, int(v), count);
            i += count;
        }
        RGBQUAD pal[256] = {};
        for (int i = 0; i < 16; ++i)
            pal[i] = RGBQUAD{h[16 + i * 3 + 2], h[16 + i * 3 + 1], h[16 + i * 3], 0};
        if (bpp == 8 && planes == 1) {
            if (f->GetC() != 12)
                throw PcxError{"bad color map signature"};
            BYTE rgb[768] = {};
            f->Read(rgb, 1, sizeof rgb);
            for (int i = 0; i < 256; ++i)
                pal[i] = RGBQUAD{rgb[i * 3 + 2], rgb[i * 3 + 1], rgb[i * 3], 0};
        } else if (bpp == 1 && planes == 1) {
            pal[0] = RGBQUAD{0, 0, 0, 0};
            pal[1] = RGBQUAD{255, 255, 255, 0};
        }
        SetPalette(pal, 256);
        const size_t line = size_t(bpl) * size_t(planes);
        for (long y = 0; y < height; ++y) {
            if (info.nEscape)
                throw PcxError{"Cancelled"};
            const BYTE* row = data.data() + size_t(y) * line;
            const long iy = height - 1 - y;
            if (planes >= 3 && bpp == 8) {
                for (long x = 0; x < width; ++x) {
                    SetPixelColor(x, iy, RGBQUAD{row[2 * bpl + x], row[bpl + x], row[x], 0});
                    if (planes == 4)
                        AlphaSet(x, iy, row[3 * bpl + x]);
                }
            } else if (planes == 1) {
                const int mask = (1 << bpp) - 1, perByte = 8 / bpp;
                for (long x = 0; x < width; ++x)
                    SetPixelIndex(x, iy, BYTE((row[x / perByte] >> (bpp * (perByte - 1 - x % perByte))) & mask));
            } else {
                if (bpp > 1)
                    throw PcxError{"Can't handle more than 1 bit per pixel"};
                for (long x = 0; x < width; ++x) {
                    int index = 0;
                    for (int p = 0; p < planes; ++p)
                        index |= ((row[p * bpl + x / 8] >> (7 - x % 8)) & 1) << p;
                    SetPixelIndex(x, iy, BYTE(index));
                }
            }
        }
        return true;
    } catch (const PcxError& e) {
        SetLastError(e.text);
        Destroy();
        return false;
    }
}

bool RxImagePCX::Encode(RxFile* f)
{
    if (CheckEncodeTarget(f))
        return false;
    const long width = long(GetWidth()), height = long(GetHeight());
    const int bits = GetBpp();
    if (width > 65536 || height > 65536) {
        SetLastError("cannot write PCX header"); // the header holds 16-bit bounds
        return false;
    }
    BYTE h[128] = {};
    h[0] = 10, h[1] = 5, h[2] = 1;
    RxPut16(h + 8, WORD(width - 1));
    RxPut16(h + 10, WORD(height - 1));
    RxPut16(h + 12, WORD(info.xDPI));
    RxPut16(h + 14, WORD(info.yDPI));
    h[68] = GetPalette() ? 0 : 1;
    int planes, bpl;
    if (bits >= 8) {
        h[3] = 8;
        planes = GetPalette() ? 1 : AlphaIsValid() ? 4 : 3;
        bpl = int(width);
    } else {
        h[3] = 1;
        planes = head.biClrUsed == 16 ? 4 : 1;
        bpl = int((width + 7) / 8);
        for (int i = 0; i < 16; ++i) {
            const RGBQUAD c = planes == 1 ? (i == 1 ? RGBQUAD{255, 255, 255, 0} : RGBQUAD{0, 0, 0, 0}) : GetPaletteColor(BYTE(i));
            h[16 + i * 3] = c.rgbRed, h[17 + i * 3] = c.rgbGreen, h[18 + i * 3] = c.rgbBlue;
        }
    }
    bpl += bpl & 1;
    h[65] = BYTE(planes);
    RxPut16(h + 66, WORD(bpl));

    std::vector<BYTE> out(h, h + 128), line(static_cast<size_t>(bpl));
    if (bits == 24) {
        for (long y = height - 1; y >= 0; --y)
            for (int p = 0; p < planes; ++p) {
                const BYTE* row = GetBits(DWORD(y));
                for (long x = 0; x < width; ++x)
                    line[size_t(x)] = p == 3 ? AlphaGet(x, y) : row[x * 3 + 2 - p];
                CodeLine(out, line.data(), size_t(width));
                if (width & 1)
                    out.push_back(0); // the pad byte of an odd line
            }
    } else if (bits == 8) {
        for (long y = height - 1; y >= 0; --y) {
            CodeLine(out, GetBits(DWORD(y)), size_t(width));
            if (width & 1)
                out.push_back(0);
        }
        out.push_back(12);
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD c = GetPaletteColor(BYTE(i));
            out.insert(out.end(), {c.rgbRed, c.rgbGreen, c.rgbBlue});
        }
    } else {
        auto luma = [this](int i) {
            const RGBQUAD c = GetPaletteColor(BYTE(i));
            return (601 * c.rgbGreen + 306 * c.rgbRed + 117 * c.rgbBlue) >> 10;
        };
        const bool invert = bits == 1 && luma(0) > luma(1);
        for (long y = height - 1; y >= 0; --y)
            for (int p = 0; p < planes; ++p) {
                std::fill(line.begin(), line.end(), 0);
                for (long x = 0; x < width; ++x) {
                    const int index = invert ? 1 - GetPixelIndex(x, y) : GetPixelIndex(x, y);
                    line[size_t(x / 8)] |= BYTE(((index >> p) & 1) << (7 - x % 8));
                }
                CodeLine(out, line.data(), line.size());
            }
    }
    // Coded in memory, written in one piece.
    RxMemFile coded;
    if (!coded.Open() || coded.Write(out.data(), 1, out.size()) != out.size() ||
        f->Write(coded.GetBuffer(false), 1, out.size()) != out.size()) {
        SetLastError("cannot write PCX header");
        return false;
    }
    return true;
}
