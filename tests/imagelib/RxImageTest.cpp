// The image object: creation limits, whole-image operations against Pillow, palette
// search, copies, and the codec dispatch seen through recording fakes.
#include "imagelib/RxImage.h"
#include "imagelib/RxImageCodec.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/RandomImage.h"
#include "tests/imagelib/support/RxTestAccess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

using rxtest::RgbImage;

TEST(RxImageObject, CreateTable)
{
    struct Row {
        DWORD w, h, bpp;
        WORD bits;       // 0: Create must fail
        DWORD colours, effWidth;
        const char* error;
    };
    const Row rows[] = {
        {10, 10, 3, 4, 16, 8, ""},
        {10, 10, 16, 24, 0, 32, ""},
        {0, 5, 8, 0, 0, 0, "RxImage::Create : width and height must be greater than zero"},
        {50000, 50000, 24, 0, 0, 0, "RXIMAGE_MAX_MEMORY exceeded"},
        {46341, 46341, 8, 0, 0, 0, "RXIMAGE_MAX_MEMORY exceeded"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.w) + "x" + std::to_string(r.h) + "x" + std::to_string(r.bpp));
        RxImage image;
        const bool made = image.Create(r.w, r.h, r.bpp) != nullptr;
        ASSERT_EQ(made, r.bits != 0);
        EXPECT_EQ(image.IsValid(), made);
        if (!made) {
            EXPECT_STREQ(image.GetLastError(), r.error);
            continue;
        }
        EXPECT_EQ(image.GetBpp(), r.bits);
        EXPECT_EQ(image.GetPaletteSize() / 4, r.colours);
        EXPECT_EQ(image.GetEffWidth(), r.effWidth);
    }
    // Fresh pixels are zero even where the heap held other bytes before.
    RxImage dirty(64, 64, 24);
    dirty.Clear(0xAB);
    dirty.Destroy();
    RxImage fresh(64, 64, 24);
    const BYTE* bits = fresh.GetBits();
    EXPECT_TRUE(std::all_of(bits, bits + fresh.GetEffWidth() * 64, [](BYTE b) { return b == 0; }));
}

bool WriteBmp(RxImage& image, const std::string& path)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.Encode(buffer, size, RXIMAGE_FORMAT_BMP))
        return false;
    const bool ok = rxtest::WriteFile(path, std::vector<uint8_t>(buffer, buffer + size));
    std::free(buffer);
    return ok;
}

TEST(RxImageObject, FlipMirrorNegativeMatchPillow)
{
    RX_REQUIRE_TOOL(rxtest::HavePillow(), "Pillow");
    const std::string dir = rxtest::ScratchDir();
    struct Case {
        std::string name, op;
        RxImage result;
    };
    std::vector<Case> cases;
    std::string list;
    unsigned seed = 1;
    for (DWORD bpp : {1u, 4u, 8u, 24u})
        for (DWORD w = 1; w <= 9; ++w)
            for (const char* op : {"flip", "mirror", "negative"}) {
                RxImage image(w, 1 + 2 * (seed % 3), bpp);
                rxtest::FillRandom(image, seed, w % 2 == 0);
                const std::string name = dir + "/op" + std::to_string(seed++);
                ASSERT_TRUE(WriteBmp(image, name + ".bmp"));
                const bool done = op[0] == 'f' ? image.Flip() : op[0] == 'm' ? image.Mirror() : image.Negative();
                ASSERT_TRUE(done);
                cases.push_back({name, op, image});
                list += std::string(op) + " " + name + ".bmp " + name + ".ppm\n";
            }
    ASSERT_TRUE(rxtest::WriteFile(dir + "/ops.txt", std::vector<uint8_t>(list.begin(), list.end())));
    ASSERT_EQ(rxtest::Run(rxtest::Quote(rxtest::Python()) + " " + rxtest::Quote(rxtest::Script("make_bmp_fixtures.py")) +
                          " apply " + rxtest::Quote(dir + "/ops.txt")),
              0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.op + " at " + std::to_string(c.result.GetBpp()) + " bits");
        std::vector<uint8_t> bytes;
        RgbImage expected;
        ASSERT_TRUE(rxtest::ReadFile(c.name + ".ppm", bytes));
        ASSERT_TRUE(rxtest::ReadPpm(std::string(bytes.begin(), bytes.end()), expected));
        EXPECT_TRUE(rxtest::PixelsOf(c.result) == expected);
    }
    RxImage colour(3, 3, 24);
    colour.SetTransColor(RGBQUAD{1, 2, 3, 9});
    ASSERT_TRUE(colour.Negative());
    const RGBQUAD bg = colour.GetTransColor();
    EXPECT_EQ(std::vector<int>({bg.rgbBlue, bg.rgbGreen, bg.rgbRed, bg.rgbReserved}), std::vector<int>({254, 253, 252, 0}));
}

TEST(RxImageObject, PaletteSearchAndCopies)
{
    RxImage image(4, 3, 8);
    image.SetPaletteColor(3, 10, 20, 30);
    image.SetPaletteColor(5, 10, 20, 30);
    const RGBQUAD near{31, 20, 11, 0}; // blue 31: one step from entries 3 and 5
    EXPECT_EQ(image.GetNearestIndex(near), 3) << "the first of equal entries";
    image.SetPaletteColor(3, 200, 200, 200);
    EXPECT_EQ(image.GetNearestIndex(near), 5) << "the cache is forgotten";

    image.SetTransIndex(5);
    EXPECT_EQ(image.GetPixelIndex(-1, 7), 5);

    ASSERT_TRUE(image.AlphaCreate());
    image.AlphaSet(1, 2, 77);
    BYTE*& mask = RxTestAccess::Selection(image);
    mask = static_cast<BYTE*>(std::calloc(12, 1));
    mask[5] = 1;
    RxImage copy(image);
    EXPECT_EQ(copy.AlphaGet(1, 2), 77);
    EXPECT_TRUE(copy.SelectionIsInside(1, 1));
    EXPECT_FALSE(copy.SelectionIsInside(0, 0));
    EXPECT_EQ(copy.GetPaletteColor(5).rgbRed, 10);

    {
        struct Borrower : RxImage {
            using RxImage::RxImage;
        } borrower;
        borrower.BorrowFrom(image);
        EXPECT_FALSE(borrower.Destroy());
    } // frees nothing: image stays whole
    EXPECT_TRUE(image.IsValid());
    EXPECT_EQ(image.AlphaGet(1, 2), 77);
}

// Fakes standing for every codec: each records where the stream stood and fails.
struct Call {
    DWORD type;
    long position;
};
std::vector<Call> calls;

template <DWORD T> struct FakeCodec {
    static RxImage* Create() { return new RxImage(T); }
    static bool Encode(RxImage&, RxFile*) { return false; }
    static bool Decode(RxImage&, RxFile* f)
    {
        calls.push_back({T, f->Tell()});
        BYTE skip[3];
        f->Read(skip, 1, 3);
        return false;
    }
    static RxCodecEntry Entry() { return {&Create, &Encode, &Decode}; }
};

class CodecTableGuard {
public:
    CodecTableGuard() : saved{}
    {
        for (DWORD t = 1; t < RXIMAGE_FORMATS; ++t)
            saved[t] = RxCodecFor(t);
    }
    ~CodecTableGuard()
    {
        for (DWORD t = 1; t < RXIMAGE_FORMATS; ++t)
            RxSwapCodecForTest(t, saved[t]);
    }

private:
    RxCodecEntry saved[RXIMAGE_FORMATS];
};

TEST(RxImageObject, Dispatch)
{
    {
        CodecTableGuard guard;
        const RxCodecEntry fakes[] = {{}, FakeCodec<1>::Entry(), FakeCodec<2>::Entry(), FakeCodec<3>::Entry(),
                                      FakeCodec<4>::Entry(), FakeCodec<5>::Entry(), FakeCodec<6>::Entry(),
                                      FakeCodec<7>::Entry()};
        for (DWORD t = 1; t < RXIMAGE_FORMATS; ++t)
            RxSwapCodecForTest(t, fakes[t]);
        BYTE bytes[32] = {};
        RxMemFile file(bytes, sizeof bytes);
        ASSERT_TRUE(file.Seek(5, 0));
        RxImage image;
        calls.clear();
        EXPECT_FALSE(image.Decode(&file, RXIMAGE_FORMAT_UNKNOWN));
        EXPECT_STREQ(image.GetLastError(), "Decode: Unknown or wrong format");
        std::vector<DWORD> order;
        for (const Call& c : calls) {
            order.push_back(c.type);
            EXPECT_EQ(c.position, 5) << "type " << c.type;
        }
        EXPECT_EQ(order, (std::vector<DWORD>{1, 3, 2, 4, 5, 6, 7}));

        RxSwapCodecForTest(RXIMAGE_FORMAT_TGA, RxCodecEntry{});
        RxImage some(2, 2, 24);
        EXPECT_FALSE(some.Encode(&file, RXIMAGE_FORMAT_TGA));
        EXPECT_STREQ(some.GetLastError(), "Encode: Unknown format");
    }
    RxImage image(4, 4, 24);
    image.SetPixelColor(1, 1, RGBQUAD{9, 8, 7, 0});
    BYTE garbage[10] = {1, 2, 3};
    EXPECT_FALSE(image.Decode(garbage, sizeof garbage, RXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "Not a BMP");
    EXPECT_EQ(image.GetWidth(), 4u);
    EXPECT_EQ(image.GetPixelColor(1, 1).rgbRed, 7) << "the old picture stays";

    struct Expect {
        bool encode;
        DWORD type;
        const char* error;
    };
    for (const Expect& e : {Expect{true, 8, "Encode: Unknown format"}, Expect{false, 8, "Decode: Unknown or wrong format"}}) {
        RxMemFile file;
        ASSERT_TRUE(file.Open());
        EXPECT_FALSE(e.encode ? image.Encode(&file, e.type) : image.Decode(&file, e.type));
        EXPECT_STREQ(image.GetLastError(), e.error);
    }
    BYTE other = 0;
    BYTE* buffer = &other;
    long size = 12;
    EXPECT_FALSE(image.Encode(buffer, size, RXIMAGE_FORMAT_BMP));
    EXPECT_STREQ(image.GetLastError(), "the buffer must be empty");
    EXPECT_EQ(buffer, &other);
    EXPECT_EQ(size, 12);
}

} // namespace
