// Metafile reader: sizes from the headers, pixels played, an independent renderer's
// pixels, leaks over every path, and truncated or hostile files.
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/MetafileBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

using rxtest::EmfBuilder;
using rxtest::MetaBytes;
using rxtest::WmfBuilder;

// Window (0, 0) extent (1000, 500), black solid pen and brush.
WmfBuilder BlackShapes()
{
    WmfBuilder w;
    w.objects = 2;
    w.rec(0x020B, {0, 0}).rec(0x020C, {500, 1000});
    w.rec(0x02FA, {0, 1, 0, 0, 0}).rec(0x02FC, {0, 0, 0, 0}).rec(0x012D, {0}).rec(0x012D, {1});
    return w;
}

MetaBytes RectangleWmf() { return BlackShapes().rec(0x041B, {400, 600, 100, 200}).bytes(); }

// For the outside renderer, which sizes its picture by what is drawn: a white backdrop
// over the whole window, then a black rectangle, a red polygon with a thick green pen, a
// polyline and a line; an ellipse for our own reader only.
MetaBytes ShapesWmf(bool ellipse)
{
    WmfBuilder w;
    w.objects = 6;
    w.rec(0x020B, {0, 0}).rec(0x020C, {500, 1000});
    w.rec(0x02FA, {0, 1, 0, 0xFFFF, 0xFF}).rec(0x02FC, {0, 0xFFFF, 0xFF, 0}).rec(0x012D, {0}).rec(0x012D, {1});
    w.rec(0x041B, {500, 1000, 0, 0});
    w.rec(0x02FA, {0, 1, 0, 0, 0}).rec(0x02FC, {0, 0, 0, 0}).rec(0x012D, {2}).rec(0x012D, {3});
    w.rec(0x041B, {400, 600, 100, 200});
    w.rec(0x02FC, {0, 0x00FF, 0, 0}).rec(0x012D, {4});
    if (ellipse)
        w.rec(0x0418, {450, 450, 50, 50});
    w.rec(0x02FA, {0, 30, 0, 0xFF00, 0}).rec(0x012D, {5});
    w.rec(0x0324, {3, 600, 50, 950, 250, 600, 450});
    w.rec(0x0325, {3, 100, 480, 500, 480, 900, 20});
    w.rec(0x0214, {20, 20}).rec(0x0213, {20, 980});
    return w.bytes();
}

struct Decoded {
    bool ok;
    std::string error;
    rxtest::RgbImage pixels;
};

Decoded DecodeWmf(MetaBytes file, long maxWidth = 0, long maxHeight = 0, long start = 0)
{
    RxMemFile f(file.data(), DWORD(file.size()));
    f.Seek(start, 0);
    RxImageWMF image;
    const bool ok = image.Decode(&f, maxWidth, maxHeight);
    return Decoded{ok, image.GetLastError(), ok ? rxtest::PixelsOf(image) : rxtest::RgbImage()};
}

TEST(WmfReader, Sizes)
{
    struct Case {
        const char* name;
        MetaBytes file;
        const char* error;
        int width, height;
    };
    const Case cases[] = {
        {"2540 units per inch", BlackShapes().bytes(true, 0, 0, 2540, 1270, 2540), "", 96, 48},
        {"2541 units per inch tried as EMF", BlackShapes().bytes(true, 0, 0, 2541, 1270, 2541), "corrupted WMF", 0, 0},
        {"1000 x 500 at 1000 per inch", RectangleWmf(), "", 96, 48},
        {"box right to left", BlackShapes().bytes(true, 1000, 500, 0, 0, 1000), "", 96, 48},
        {"box of zero size", BlackShapes().bytes(true, 10, 5, 10, 5, 1000), "empty WMF", 0, 0},
        {"EMF 10000 x 2000", EmfBuilder().bytes(0, 0, 10000, 2000), "", 4000, 800},
        {"EMF 2000 x 10000", EmfBuilder().bytes(0, 0, 2000, 10000), "", 800, 4000},
        {"EMF bounds (0, 0, -1, -1)", EmfBuilder().bytes(0, 0, -1, -1), "empty WMF", 0, 0},
        {"neither", MetaBytes(200, 7), "corrupted WMF", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Decoded d = DecodeWmf(c.file);
        EXPECT_EQ(d.ok, *c.error == 0);
        EXPECT_EQ(d.error, c.error);
        EXPECT_EQ(d.pixels.width, c.width);
        EXPECT_EQ(d.pixels.height, c.height);
    }
    EXPECT_EQ(DecodeWmf(RectangleWmf(), 30, 20).pixels.width, 30);
    // A metafile further into a stream: its records are found after its own header.
    MetaBytes embedded(7, 0xEE);
    rxtest::Put16(embedded, 0); // odd offsets too
    const MetaBytes rect = RectangleWmf();
    embedded.insert(embedded.end(), rect.begin(), rect.end());
    const Decoded inner = DecodeWmf(embedded, 0, 0, 9);
    EXPECT_TRUE(inner.ok) << inner.error;
    EXPECT_EQ(inner.pixels, DecodeWmf(rect).pixels);
    RxImage image(4, 4, 24);
    BYTE* buffer = nullptr;
    long size = 0;
    EXPECT_FALSE(image.Encode(buffer, size, RXIMAGE_FORMAT_WMF));
    EXPECT_STREQ(image.GetLastError(), "Save WMF not supported");
}

TEST(WmfReader, RectanglePixels)
{
    MetaBytes file = RectangleWmf();
    RxImage image;
    ASSERT_TRUE(image.Decode(file.data(), DWORD(file.size()), RXIMAGE_FORMAT_WMF)) << image.GetLastError();
    const rxtest::RgbImage p = rxtest::PixelsOf(image);
    ASSERT_EQ(p.width, 96);
    ASSERT_EQ(p.height, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 96; ++x) {
            const bool inside = x >= 19 && x <= 57 && y >= 10 && y <= 37;
            const uint8_t* px = &p.rgb[size_t(y * 96 + x) * 3];
            const uint8_t want = inside ? 0 : 255;
            ASSERT_TRUE(px[0] == want && px[1] == want && px[2] == want) << x << ", " << y;
        }
}

TEST(WmfReader, NoGdiObjectsLeft)
{
    const std::vector<MetaBytes> files = {
        RectangleWmf(), ShapesWmf(true), EmfBuilder().bytes(0, 0, 40, 30, {0x0000FF, 0x00FF00}),
        EmfBuilder().bytes(0, 0, 0, 0), BlackShapes().bytes(true, 10, 0, 10, 500, 1000), MetaBytes(100, 1)};
    const int before = platform::LiveGdiObjects();
    for (int i = 0; i < 100; ++i)
        DecodeWmf(files[size_t(i) % files.size()], i % 2 ? 20 : 0, i % 2 ? 20 : 0);
    EXPECT_EQ(platform::LiveGdiObjects(), before);
}

// Pixels of wmf2gd's rendering at our size equal ours wherever our picture is uniform
// two pixels around (edges are drawn differently by every renderer).
TEST(CodecTools, WmfAgainstWmf2gd)
{
    RX_REQUIRE_TOOL(rxtest::HaveTool("wmf2gd"), "wmf2gd");
    RX_REQUIRE_TOOL(rxtest::HaveImageMagick(), "ImageMagick");
    const std::string dir = rxtest::ScratchDir();
    // The renderer insists on loading its standard fonts: any outline font stands for them.
    std::string font = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
    if (!std::ifstream(font))
        font = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
    std::string fontmap;
    for (const char* face : {"Times-Roman", "Helvetica", "Courier", "Symbol"})
        fontmap += std::string("/") + face + " (" + font + ") ;\n";
    ASSERT_TRUE(rxtest::WriteFile(dir + "/Fontmap", MetaBytes(fontmap.begin(), fontmap.end())));
    int index = 0;
    for (const MetaBytes& file : {ShapesWmf(false)}) {
        SCOPED_TRACE(index);
        const Decoded ours = DecodeWmf(file);
        ASSERT_TRUE(ours.ok) << ours.error;
        const std::string base = dir + "/wmf" + std::to_string(index++);
        ASSERT_TRUE(rxtest::WriteFile(base + ".wmf", file));
        const std::string size = std::to_string(ours.pixels.width), height = std::to_string(ours.pixels.height);
        ASSERT_EQ(rxtest::Run("wmf2gd --wmf-gs-fontmap=" + rxtest::Quote(dir + "/Fontmap") + " --maxwidth=" + size + " --maxheight=" + height + " --maxsize -t png -o " +
                              rxtest::Quote(base + ".png") + " " + rxtest::Quote(base + ".wmf")),
                  0);
        ASSERT_EQ(rxtest::Run("convert-im6.q16 " + rxtest::Quote(base + ".png") + " -flatten ppm:" +
                              rxtest::Quote(base + ".ppm")),
                  0);
        const rxtest::RgbImage theirs = rxtest::ReadImage(base + ".ppm");
        ASSERT_EQ(theirs.width, ours.pixels.width);
        ASSERT_EQ(theirs.height, ours.pixels.height);
        const int w = theirs.width, h = theirs.height;
        auto at = [&](const rxtest::RgbImage& im, int x, int y) { return &im.rgb[size_t(y * w + x) * 3]; };
        int compared = 0;
        for (int y = 2; y < h - 2; ++y)
            for (int x = 2; x < w - 2; ++x) {
                bool uniform = true;
                for (int dy = -2; dy <= 2 && uniform; ++dy)
                    for (int dx = -2; dx <= 2 && uniform; ++dx)
                        uniform = std::equal(at(ours.pixels, x, y), at(ours.pixels, x, y) + 3,
                                             at(ours.pixels, x + dx, y + dy));
                if (!uniform)
                    continue;
                ++compared;
                ASSERT_TRUE(std::equal(at(ours.pixels, x, y), at(ours.pixels, x, y) + 3, at(theirs, x, y)))
                    << x << ", " << y;
            }
        EXPECT_GT(compared, w * h / 3);
    }
}

TEST(CodecHostile, WmfPrefixesAndBadRecords)
{
    std::vector<MetaBytes> files = {RectangleWmf(), ShapesWmf(true), EmfBuilder().bytes(0, 0, 40, 30, {0xFF})};
    // Records with sizes below their head or past the end, counts beyond their record and
    // object indices beyond the table.
    files.push_back(BlackShapes().rec(0x0324, {40000, 1, 2}).rec(0x012D, {9}).rec(0x01F0, {70}).bytes());
    WmfBuilder tooShort = BlackShapes();
    rxtest::Put32(tooShort.records, 1);
    rxtest::Put16(tooShort.records, 0x041B);
    files.push_back(tooShort.bytes());
    WmfBuilder tooLong = BlackShapes();
    rxtest::Put32(tooLong.records, 0x7FFFFFFF);
    rxtest::Put16(tooLong.records, 0x041B);
    files.push_back(tooLong.bytes());
    // Thick pens over lines reaching far outside the picture.
    WmfBuilder far;
    far.objects = 1;
    far.rec(0x020C, {1, 1}).rec(0x02FA, {0, 30000, 0, 0, 0}).rec(0x012D, {0});
    far.rec(0x0214, {-32000, -32000}).rec(0x0213, {32000, 32000});
    far.rec(0x0325, {3, -32000, 0, 32000, 1, -32000, 2}).rec(0x0324, {3, -32000, 0, 32000, 1, 0, 32000});
    files.push_back(far.bytes());
    EmfBuilder emf;
    emf.rec(38, {5, 0, 1, 1, 0}).rec(37, {0x7FFFFFFF}).rec(37, {0x80000063}).rec(86, {0, 0, 0, 0, 0x40000000});
    emf.rec(9, {0, 0}).rec(43, {0, 0, 5, 5}).rec(3, {0, 0, 0, 0, 1, 1});
    emf.rec(2, {}).records.back() = 0xFF; // a record claiming 4 GiB ends playback
    files.push_back(emf.bytes(0, 0, 40, 30));
    for (const MetaBytes& file : files) {
        for (size_t n = 0; n <= file.size(); ++n) {
            const Decoded d = DecodeWmf(MetaBytes(file.begin(), file.begin() + long(n)), 64, 64);
            EXPECT_TRUE(d.ok || !d.error.empty());
        }
    }
}

} // namespace
