// The BMP codec: worked values, other writers' files, other readers of ours, hostile files.
#include "imagelib/RxImage.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/FailingFile.h"
#include "tests/imagelib/support/RandomImage.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(RxImage& image)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.Encode(buffer, size, RXIMAGE_FORMAT_BMP))
        return {};
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

bool Decode(RxImage& image, Bytes bytes, DWORD type = RXIMAGE_FORMAT_BMP)
{
    return image.Decode(bytes.data(), DWORD(bytes.size()), type);
}

DWORD Le32(const Bytes& b, size_t at)
{
    return DWORD(b[at]) | DWORD(b[at + 1]) << 8 | DWORD(b[at + 2]) << 16 | DWORD(b[at + 3]) << 24;
}

void Put(Bytes& b, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A file header and a 40-byte information header, then the given bytes.
Bytes Bmp(int32_t width, int32_t height, int bpp, DWORD compression, const Bytes& rest, DWORD clrUsed = 0,
          DWORD sizeImage = 0)
{
    Bytes b{'B', 'M'};
    Put(b, 54 + rest.size(), 4);
    Put(b, 0, 4);
    Put(b, 0, 4); // pixels follow the palette
    Put(b, 40, 4);
    Put(b, uint32_t(width), 4);
    Put(b, uint32_t(height), 4);
    Put(b, 1, 2);
    Put(b, uint32_t(bpp), 2);
    Put(b, compression, 4);
    Put(b, sizeImage, 4);
    Put(b, 2835, 4);
    Put(b, 2835, 4);
    Put(b, clrUsed, 4);
    Put(b, 0, 4);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

TEST(BmpCodec, Values)
{
    RxImage rgb(2, 2, 24);
    rxtest::FillRandom(rgb, 1, false);
    const Bytes small = Encode(rgb);
    ASSERT_EQ(small.size(), 70u);
    EXPECT_EQ(Le32(small, 2), 70u);
    EXPECT_EQ(Le32(small, 10), 54u);
    RxImage back;
    ASSERT_TRUE(Decode(back, small));
    EXPECT_TRUE(rxtest::PixelsOf(back) == rxtest::PixelsOf(rgb));

    RxImage indexed(3, 3, 8);
    EXPECT_EQ(Le32(Encode(indexed), 10), 1078u);

    RxImage dpi;
    ASSERT_TRUE(Decode(dpi, Bmp(1, 1, 24, 0, Bytes(4)))); // 2835 per metre
    EXPECT_EQ(dpi.GetXDPI(), 72);
    rgb.SetXDPI(96); // 3780 per metre
    ASSERT_TRUE(Decode(dpi, Encode(rgb)));
    EXPECT_EQ(dpi.GetXDPI(), 96);

    RxImage failing;
    EXPECT_FALSE(Decode(failing, Bmp(2, 2, 32, 1, Bytes(16))));
    EXPECT_STREQ(failing.GetLastError(), "unknown compression");

    RxImage sizeOnly;
    sizeOnly.SetEscape(-1);
    EXPECT_TRUE(Decode(sizeOnly, Bmp(300, -200, 24, 0, {})));
    EXPECT_STREQ(sizeOnly.GetLastError(), "output dimensions returned");
    EXPECT_EQ(sizeOnly.GetWidth(), 300u);
    EXPECT_EQ(sizeOnly.GetHeight(), 200u);
    EXPECT_FALSE(sizeOnly.IsValid());
    EXPECT_FALSE(Decode(sizeOnly, Bytes(5))) << "no BMP, no dimensions";

    for (RxImage* image : {&rgb, &indexed}) {
        const size_t total = Encode(*image).size();
        for (size_t n = 0; n < total; ++n) {
            FailingFile file(n);
            EXPECT_FALSE(image->Encode(&file, RXIMAGE_FORMAT_BMP)) << n << " of " << total;
            EXPECT_STREQ(image->GetLastError(), "Write Error in BMP file");
        }
    }
}

// Fixtures of other writers, made once into the build tree; an empty name list: tools missing.
std::vector<std::string> Fixtures(std::string& dir)
{
    dir = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/bmp_fixtures_" + std::to_string(getpid()); // per process: CTest runs tests side by side
    static const int status = rxtest::Run(rxtest::Quote(rxtest::Python()) + " " +
                                          rxtest::Quote(rxtest::Script("make_bmp_fixtures.py")) + " fixtures " +
                                          rxtest::Quote(dir));
    std::vector<std::string> names;
    std::ifstream list(dir + "/fixtures.txt");
    for (std::string name; status == 0 && list >> name;)
        names.push_back(name);
    return names;
}

TEST(BmpTools, OthersReadOurFiles)
{
    RX_REQUIRE_TOOL(rxtest::HavePillow(), "Pillow");
    RX_REQUIRE_TOOL(rxtest::HaveTool("bmptopnm"), "bmptopnm");
    const std::string dir = rxtest::ScratchDir() + "/ours";
    ASSERT_EQ(rxtest::Run("mkdir -p " + rxtest::Quote(dir)), 0);
    std::vector<std::pair<std::string, rxtest::RgbImage>> written;
    unsigned seed = 100;
    for (DWORD bpp : {1u, 4u, 8u, 24u})
        for (DWORD w = 1; w <= 9; ++w) {
            RxImage image(w, 1 + 2 * (seed % 4), bpp);
            rxtest::FillRandom(image, seed, w % 3 == 0);
            const Bytes bytes = Encode(image);
            RxImage again;
            ASSERT_TRUE(Decode(again, bytes));
            EXPECT_EQ(Encode(again), bytes) << "encode, decode, encode at " << bpp << " bits, width " << w;
            const std::string name = dir + "/w" + std::to_string(seed++);
            ASSERT_TRUE(rxtest::WriteFile(name + ".bmp", bytes));
            written.emplace_back(name, rxtest::PixelsOf(image));
        }
    ASSERT_EQ(rxtest::Run(rxtest::Quote(rxtest::Python()) + " " + rxtest::Quote(rxtest::Script("make_bmp_fixtures.py")) +
                          " read " + rxtest::Quote(dir)),
              0);
    ASSERT_EQ(rxtest::Run("cd " + rxtest::Quote(dir) +
                          " && for f in *.bmp; do bmptopnm $f 2>/dev/null | ppmtoppm > ${f%.bmp}.nb.ppm || exit 1; done"),
              0);
    for (const auto& [name, pixels] : written) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(rxtest::ReadImage(name + ".pil.ppm") == pixels);
        EXPECT_TRUE(rxtest::ReadImage(name + ".nb.ppm") == pixels);
    }
}

// Hostile files: no sanitizer report, nothing written outside the image, a clean result.
TEST(BmpHostile, MalformedFiles)
{
    const Bytes palette16(16 * 4, 0x40);
    Bytes pastRows = palette16; // RLE8: end-of-line codes and runs beyond the last row
    for (int i = 0; i < 6; ++i)
        pastRows.insert(pastRows.end(), {0, 0, 3, 9});
    Bytes deltas = palette16; // deltas far past the image, then runs and literals
    for (int i = 0; i < 4; ++i)
        deltas.insert(deltas.end(), {0, 2, 255, 255, 2, 7, 0, 3, 1, 2, 3, 0});
    Bytes rle8In4 = palette16; // byte runs as long as the rows have pixels, not bytes
    rle8In4.insert(rle8In4.end(), {7, 5, 0, 0, 7, 6, 0, 1});
    const Bytes masks0 = {0, 0, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0, 1, 2, 3, 4};
    const Bytes masksHuge = {0xFF, 0xFF, 0xFF, 0xFF, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0, 1, 2, 3, 4};
    struct Row {
        const char* name;
        Bytes file;
        bool ok;
        const char* error;
    };
    const Row rows[] = {
        {"rle8 past the last row", Bmp(4, 2, 8, 1, pastRows, 16), true, ""},
        {"rle8 deltas", Bmp(5, 3, 8, 1, deltas, 16), true, ""},
        {"rle4 past the last row", Bmp(5, 2, 4, 2, pastRows, 16), true, ""},
        {"rle4 deltas", Bmp(3, 3, 4, 2, deltas, 16), true, ""},
        {"rle8 data in a 4-bit image", Bmp(7, 2, 4, 1, rle8In4, 16), true, ""},
        {"zero 16-bit mask", Bmp(2, 1, 16, 3, masks0), false, "unknown compression"},
        {"oversized 16-bit mask", Bmp(2, 1, 16, 3, masksHuge), false, "unknown compression"},
        {"size field beyond the image", Bmp(2, 2, 24, 0, Bytes(64, 7), 0, 0x7FFFFFF0), true, ""},
        {"height INT32_MIN", Bmp(2, INT32_MIN, 24, 0, Bytes(16)), false, "Error reading BMP info"},
        {"colours used 2^32-1", Bmp(2, 2, 8, 0, Bytes(2000, 1), 0xFFFFFFFF), true, ""},
        {"width 0", Bmp(0, 2, 24, 0, Bytes(16)), false, "Can't allocate memory"},
        {"negative width", Bmp(-4, 2, 24, 0, Bytes(16)), false, "Can't allocate memory"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RxImage image;
        EXPECT_EQ(Decode(image, r.file), r.ok) << image.GetLastError();
        if (!r.ok) {
            EXPECT_STREQ(image.GetLastError(), r.error);
        }
    }
    RxImage rle;
    ASSERT_TRUE(Decode(rle, rows[0].file));
    EXPECT_EQ(rle.GetPixelIndex(2, 1), 9) << "the runs inside the image still land";
    Bytes runs = palette16; // a run filling row 0, one passing row 1's end (cut there), then row 2
    runs.insert(runs.end(), {4, 1, 0, 0, 5, 2, 0, 0, 4, 3});
    ASSERT_TRUE(Decode(rle, Bmp(4, 3, 8, 1, runs, 16)));
    EXPECT_EQ(std::vector<int>({rle.GetPixelIndex(3, 0), rle.GetPixelIndex(3, 1), rle.GetPixelIndex(0, 2)}),
              std::vector<int>({1, 2, 3}));
}

// Other writers' files read as the tools agree, by type and by detection; every prefix
// decodes or fails cleanly, and for plain bottom-up files the pixels whose bytes were cut
// off read 0 and the others as in the whole file.
TEST(BmpTools, OtherWritersFilesAndEveryPrefix)
{
    std::string dir;
    const std::vector<std::string> names = Fixtures(dir);
    RX_REQUIRE_TOOL(!names.empty(), "Pillow, netpbm or ImageMagick");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + name + ".bmp", file));
        RxImage whole, detected;
        ASSERT_TRUE(Decode(whole, file)) << whole.GetLastError();
        ASSERT_TRUE(Decode(detected, file, RXIMAGE_FORMAT_UNKNOWN)) << detected.GetLastError();
        const rxtest::RgbImage agreed = rxtest::ReadImage(dir + "/" + name + ".ppm");
        EXPECT_TRUE(rxtest::PixelsOf(whole) == agreed);
        EXPECT_TRUE(rxtest::PixelsOf(detected) == agreed);
        const bool plain = file.size() > 54 && file[0] == 'B' && Le32(file, 14) == 40 && Le32(file, 30) == 0 &&
                           int32_t(Le32(file, 22)) > 0 && whole.GetBpp() == (file[28] | file[29] << 8);
        const size_t offset = plain ? Le32(file, 10) : 0;
        for (size_t n = 0; n < file.size(); ++n) {
            RxImage part;
            const bool ok = Decode(part, Bytes(file.begin(), file.begin() + long(n)));
            if (!plain || !ok)
                continue;
            const BYTE* bits = part.GetBits();
            const BYTE* full = whole.GetBits();
            for (size_t k = 0; k < whole.GetEffWidth() * whole.GetHeight(); ++k)
                ASSERT_EQ(bits[k], offset + k < n ? full[k] : 0) << "prefix " << n << ", byte " << k;
        }
    }
}

} // namespace
