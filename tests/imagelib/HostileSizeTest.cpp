// Headers that declare huge pictures over a few bytes of data: every decoder refuses them or
// decodes them cheaply, measured through what the library allocates; files that hold what
// they declare, even truncated after a row, still decode.
#include "imagelib/RxAllocation.h"
#include "imagelib/RxIOFile.h"
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/MetafileBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kMostBytes = 64u << 20;
const Bytes kData(8, 0x55); // "a few data bytes" after every header

void Put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Bmp(uint32_t w, uint32_t h, int bits, uint32_t compression, const Bytes& data = kData)
{
    const uint32_t palette = bits <= 8 ? 4u << bits : 0;
    Bytes b{'B', 'M'};
    Put32(b, 54 + palette + uint32_t(data.size()));
    Put32(b, 0);
    Put32(b, 54 + palette);
    for (uint32_t v : {40u, w, h})
        Put32(b, v);
    Put16(b, 1);
    Put16(b, uint32_t(bits));
    for (uint32_t v : {compression, 0u, 0u, 0u, 0u, 0u})
        Put32(b, v);
    return Cat(Cat(b, Bytes(palette, 0x80)), data);
}

// A 12-byte header of the older form, with no file header: the pixels follow the palette.
Bytes BmpCore(uint32_t w, uint32_t h, int bits)
{
    Bytes b;
    Put32(b, 12);
    for (uint32_t v : {w, h, 1u, uint32_t(bits)})
        Put16(b, v);
    return Cat(Cat(b, Bytes(bits <= 8 ? 3u << bits : 0, 0x80)), kData);
}

void PutMultiByte(Bytes& b, uint32_t v)
{
    Bytes groups;
    do {
        groups.insert(groups.begin(), uint8_t(v & 0x7F));
        v >>= 7;
    } while (v);
    for (size_t i = 0; i + 1 < groups.size(); ++i)
        groups[i] |= 0x80;
    b.insert(b.end(), groups.begin(), groups.end());
}

Bytes Wbmp(uint32_t w, uint32_t h, const Bytes& data = kData)
{
    Bytes b{0, 0};
    PutMultiByte(b, w);
    PutMultiByte(b, h);
    return Cat(b, data);
}

Bytes Tga(int type, uint32_t w, uint32_t h, int depth, const Bytes& data = kData)
{
    Bytes b{0, uint8_t(type == 1 || type == 9), uint8_t(type), 0, 0};
    Put16(b, type == 1 || type == 9 ? 2 : 0);
    b.push_back(type == 1 || type == 9 ? 24 : 0);
    for (uint32_t v : {0u, 0u, w, h})
        Put16(b, v);
    b.push_back(uint8_t(depth));
    b.push_back(0);
    return Cat(Cat(b, Bytes(type == 1 || type == 9 ? 6 : 0, 0x40)), data);
}

Bytes Gif(uint32_t w, uint32_t h)
{
    Bytes b{'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, w);
    Put16(b, h);
    for (uint8_t v : {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C})
        b.push_back(v);
    for (uint32_t v : {0u, 0u, w, h})
        Put16(b, v);
    for (uint8_t v : {0, 2, 4, 0x84, 0x8D, 0x8F, 0x01, 0})
        b.push_back(v);
    b.push_back(0x3B);
    return b;
}

Bytes Pcx(uint32_t w, uint32_t h, int planes)
{
    Bytes b(128, 0);
    b[0] = 10, b[1] = 5, b[2] = 1, b[3] = 8;
    const uint32_t fields[] = {0, 0, w - 1, h - 1};
    for (int i = 0; i < 4; ++i)
        b[4 + 2 * i] = uint8_t(fields[i]), b[5 + 2 * i] = uint8_t(fields[i] >> 8);
    b[65] = uint8_t(planes);
    b[66] = uint8_t(w), b[67] = uint8_t(w >> 8); // line bytes, 0 for 65,536 (refused as short)
    return Cat(b, Bytes{0xFF, 0x00, 0xFF, 0x00, 0xC1, 0x7F, 0x00, 0x00});
}

Bytes Ico(int bits)
{
    Bytes b{0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, uint8_t(bits), 0};
    Put32(b, 40 + (bits <= 8 ? 4u << bits : 0) + 8);
    Put32(b, 22);
    for (uint32_t v : {40u, 256u, 512u})
        Put32(b, v);
    Put16(b, 1);
    Put16(b, uint32_t(bits));
    for (int i = 0; i < 6; ++i)
        Put32(b, 0);
    return Cat(Cat(b, Bytes(bits <= 8 ? 4u << bits : 0, 0x20)), kData);
}

Bytes Wmf()
{
    rxtest::MetaBytes m = rxtest::WmfBuilder().bytes(true, -32768, -32768, 32767, 32767, 1);
    return Bytes(m.begin(), m.end());
}

struct Declared {
    const char* name;
    DWORD type;
    Bytes file;
    const char* refusal; // the expected text when refused; null when a cheap decode is fine
};

std::vector<Declared> HugeHeaders()
{
    const uint32_t bmpMost = 0x7FFFFFFF, wbmpMost = (1u << 28) - 1;
    return {
        {"BMP 24-bit 65535^2", RXIMAGE_FORMAT_BMP, Bmp(65535, 65535, 24, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP 1-bit 65535^2", RXIMAGE_FORMAT_BMP, Bmp(65535, 65535, 1, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP 32-bit 65535 x 1", RXIMAGE_FORMAT_BMP, Bmp(65535, 1, 32, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP 16-bit fields 65535^2", RXIMAGE_FORMAT_BMP, Bmp(65535, 65535, 16, 3), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP 1-bit 32 x 2^29 rows", RXIMAGE_FORMAT_BMP, Bmp(32, 1u << 29, 1, 0, Bytes(2, 0)), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP run-length 8 65535^2", RXIMAGE_FORMAT_BMP, Bmp(65535, 65535, 8, 1), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP run-length 4 8 x 65535", RXIMAGE_FORMAT_BMP, Bmp(8, 65535, 4, 2), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP 8-bit top-down 65535^2", RXIMAGE_FORMAT_BMP, Bmp(65535, uint32_t(-65535), 8, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP most", RXIMAGE_FORMAT_BMP, Bmp(bmpMost, bmpMost, 1, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"BMP core 65535^2", RXIMAGE_FORMAT_BMP, BmpCore(65535, 65535, 8), "Corrupted BMP: the file cannot hold the declared pixels"},
        // Narrow and very tall: the few bytes hold a row, not the 64th part of the pixels.
        {"BMP 1-bit 1 x 2^28 rows", RXIMAGE_FORMAT_BMP, Bmp(1, 1u << 28, 1, 0), "Corrupted BMP: the file cannot hold the declared pixels"},
        {"WBMP 1 x most", RXIMAGE_FORMAT_WBMP, Wbmp(1, wbmpMost), "Corrupted WBMP: the file cannot hold the declared pixels"},
        {"WBMP a byte short of 1/64", RXIMAGE_FORMAT_WBMP, Wbmp(8, 1u << 27, Bytes((1u << 21) - 1, 0x55)), "Corrupted WBMP: the file cannot hold the declared pixels"},
        {"TGA 32-bit 512 x 65535, one row", RXIMAGE_FORMAT_TGA, Tga(2, 512, 65535, 32, Bytes(2048, 0x55)), "corrupted TGA"},
        {"WBMP 65535^2", RXIMAGE_FORMAT_WBMP, Wbmp(65535, 65535), "Corrupted WBMP: shorter than one row"},
        {"WBMP most", RXIMAGE_FORMAT_WBMP, Wbmp(wbmpMost, wbmpMost), "Corrupted WBMP: shorter than one row"},
        {"TGA 24-bit 65535^2", RXIMAGE_FORMAT_TGA, Tga(2, 65535, 65535, 24), "corrupted TGA"},
        {"TGA mapped 65535^2", RXIMAGE_FORMAT_TGA, Tga(1, 65535, 65535, 8), "corrupted TGA"},
        {"TGA grey 65535 x 2", RXIMAGE_FORMAT_TGA, Tga(3, 65535, 2, 8), "corrupted TGA"},
        {"TGA run-length 65535^2", RXIMAGE_FORMAT_TGA, Tga(10, 65535, 65535, 16), "corrupted TGA"},
        {"TGA run-length mapped 4 x 65535", RXIMAGE_FORMAT_TGA, Tga(9, 4, 65535, 8), "corrupted TGA"},
        {"GIF 65535^2", RXIMAGE_FORMAT_GIF, Gif(65535, 65535), "Corrupted GIF: a screen larger than its data can cover"},
        {"GIF 65535 x 4096", RXIMAGE_FORMAT_GIF, Gif(65535, 4096), "Corrupted GIF: a screen larger than its data can cover"},
        {"PCX 65535^2", RXIMAGE_FORMAT_PCX, Pcx(65535, 65535, 1), "corrupted PCX"},
        {"PCX 24-bit 65535^2", RXIMAGE_FORMAT_PCX, Pcx(65535, 65535, 3), "corrupted PCX"},
        {"PCX most", RXIMAGE_FORMAT_PCX, Pcx(65536, 65536, 4), "Can't read PCX image"},
        {"ICO 32-bit most", RXIMAGE_FORMAT_ICO, Ico(32), "corrupted icon"},
        {"ICO 8-bit most", RXIMAGE_FORMAT_ICO, Ico(8), "corrupted icon"},
        {"WMF most", RXIMAGE_FORMAT_WMF, Wmf(), nullptr}, // drawn, at most 4000 x 4000
        // Once taken for a WBMP of 268,435,328 x 59 by the probe (1,979,710,592 bytes).
        {"fuzz find", RXIMAGE_FORMAT_UNKNOWN,
         Bytes{0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x3B, 0x00, 0x47, 0x49, 0x46, 0x38, 0x18, 0x00},
         "Decode: Unknown or wrong format"},
    };
}

TEST(HostileSizes, RefusedOrCheapFromMemoryAndFile)
{
    for (const Declared& d : HugeHeaders())
        for (bool fromFile : {false, true}) {
            SCOPED_TRACE(std::string(d.name) + (fromFile ? " from a file" : " from memory"));
            RxImage image;
            const uint64_t before = RxAllocatedBytes();
            bool decoded;
            if (fromFile) {
                FILE* stream = std::tmpfile();
                ASSERT_NE(stream, nullptr);
                ASSERT_EQ(std::fwrite(d.file.data(), 1, d.file.size(), stream), d.file.size());
                std::rewind(stream);
                RxIOFile file(stream);
                decoded = image.Decode(&file, d.type);
                std::fclose(stream);
            } else {
                Bytes copy = d.file;
                decoded = image.Decode(copy.data(), DWORD(copy.size()), d.type);
            }
            const uint64_t cost = RxAllocatedBytes() - before;
            EXPECT_LT(cost, kMostBytes) << image.GetLastError();
            if (d.refusal) {
                EXPECT_FALSE(decoded);
                EXPECT_STREQ(image.GetLastError(), d.refusal);
            } else if (decoded) {
                EXPECT_LE(uint64_t(image.GetSize()), cost);
            }
        }
}

// Files that hold what they declare, at the edges of the rules above, keep decoding.
TEST(HostileSizes, FilesThatHoldTheirRowsDecode)
{
    struct Held {
        const char* name;
        DWORD type;
        Bytes file;
        uint32_t width, height;
    };
    // Run-length 8-bit: k deltas of 255 rows, a pixel, the end: 4k + 6 bytes reach row 255k.
    Bytes deltas;
    for (int k = 0; k < 40; ++k)
        deltas.insert(deltas.end(), {0, 2, 0, 255});
    const Bytes reach = Cat(deltas, Bytes{1, 7, 0, 1, 0, 0});
    const std::vector<Held> cases = {
        {"WBMP one row of three", RXIMAGE_FORMAT_WBMP, Wbmp(16, 3, Bytes{0xA5, 0x0F}), 16, 3},
        {"BMP one row of 1000", RXIMAGE_FORMAT_BMP, Bmp(3, 1000, 24, 0, Bytes(12, 0x33)), 3, 1000},
        {"BMP deltas to the last row", RXIMAGE_FORMAT_BMP, Bmp(1, 255 * 40 + 1, 8, 1, reach), 1, 255 * 40 + 1},
        // Declared pixels beyond 64 MiB decode while the file holds a 64th part of them.
        {"WBMP holding 1/64 of 128 MiB", RXIMAGE_FORMAT_WBMP, Wbmp(8, 1u << 27, Bytes(1u << 21, 0x55)), 8, 1u << 27},
    };
    for (const Held& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes copy = c.file;
        RxImage image;
        ASSERT_TRUE(image.Decode(copy.data(), DWORD(copy.size()), c.type)) << image.GetLastError();
        EXPECT_EQ(image.GetWidth(), c.width);
        EXPECT_EQ(image.GetHeight(), c.height);
    }
    Bytes wbmp = cases[0].file, bmp = cases[1].file, rle = cases[2].file;
    RxImage w, b, r;
    ASSERT_TRUE(w.Decode(wbmp.data(), DWORD(wbmp.size()), RXIMAGE_FORMAT_WBMP));
    EXPECT_EQ(w.GetPixelIndex(0, 2), 1); // top row from the file: 0xA5 0x0F
    EXPECT_EQ(w.GetPixelIndex(1, 2), 0);
    EXPECT_EQ(w.GetPixelIndex(15, 2), 1);
    EXPECT_EQ(w.GetPixelIndex(0, 1), 0); // rows the file does not hold stay 0
    ASSERT_TRUE(b.Decode(bmp.data(), DWORD(bmp.size()), RXIMAGE_FORMAT_BMP));
    EXPECT_EQ(b.GetPixelColor(2, 0).rgbRed, 0x33);
    EXPECT_EQ(b.GetPixelColor(2, 1).rgbRed, 0);
    ASSERT_TRUE(r.Decode(rle.data(), DWORD(rle.size()), RXIMAGE_FORMAT_BMP));
    EXPECT_EQ(r.GetPixelIndex(0, 255 * 40), 7);
    EXPECT_EQ(r.GetPixelIndex(0, 0), 0);
}

} // namespace
