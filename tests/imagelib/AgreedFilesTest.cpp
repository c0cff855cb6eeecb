// Hand-made files of the kinds real files showed the decoders wrong on, read as outside
// decoders agree (opacity included); the refusals of what stays unsupported, with their
// texts; the last error after a success.
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/ExternalTools.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool Decode(RxImage& image, Bytes bytes, DWORD type)
{
    return image.Decode(bytes.data(), DWORD(bytes.size()), type);
}

DWORD TypeOf(const std::string& name)
{
    const std::string ext = name.substr(name.rfind('.'));
    return ext == ".bmp" ? RXIMAGE_FORMAT_BMP
           : ext == ".gif" ? RXIMAGE_FORMAT_GIF
           : ext == ".pcx" ? RXIMAGE_FORMAT_PCX
                           : RXIMAGE_FORMAT_ICO;
}

// What a pixel shows in our terms: the alpha plane, else the transparent index or colour.
BYTE Opacity(const RxImage& image, long x, long y)
{
    if (image.AlphaIsValid())
        return image.AlphaGet(x, y);
    if (!image.IsTransparent())
        return 255;
    if (image.IsIndexed())
        return image.GetPixelIndex(x, y) == image.GetTransIndex() ? 0 : 255;
    const RGBQUAD c = image.GetPixelColor(x, y, false), t = image.GetTransColor();
    return std::memcmp(&c, &t, 3) == 0 ? 0 : 255;
}

struct Agreed {
    std::string file;
    long frame;
    std::string tools;
};

// Made once per process into the build tree; an empty list: tools missing.
std::vector<Agreed> AgreedFixtures(std::string& dir)
{
    dir = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/agreed_fixtures_" + std::to_string(getpid());
    static const int status = rxtest::Run(rxtest::Quote(rxtest::Python()) + " " +
                                          rxtest::Quote(rxtest::Script("make_agreed_fixtures.py")) + " fixtures " +
                                          rxtest::Quote(dir));
    std::vector<Agreed> list;
    std::ifstream in(dir + "/fixtures.txt");
    for (Agreed a; status == 0 && in >> a.file >> a.frame >> a.tools;)
        list.push_back(a);
    return list;
}

TEST(AgreedFiles, DecodeAsOutsideReadersAgree)
{
    std::string dir;
    const std::vector<Agreed> fixtures = AgreedFixtures(dir);
    RX_REQUIRE_TOOL(!fixtures.empty(), "Pillow, netpbm or ImageMagick");
    for (const Agreed& a : fixtures) {
        SCOPED_TRACE(a.file + " frame " + std::to_string(a.frame) + ", agreed by " + a.tools);
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + a.file, file));
        RxImage image;
        image.SetFrame(a.frame);
        if (!Decode(image, file, TypeOf(a.file))) {
            ADD_FAILURE() << "refused: " << image.GetLastError();
            continue;
        }
        EXPECT_STREQ(image.GetLastError(), "");
        const std::string stem = dir + "/" + a.file.substr(0, a.file.rfind('.')) + "." + std::to_string(a.frame);
        const rxtest::RgbImage colours = rxtest::ReadImage(stem + ".ppm"), opacity = rxtest::ReadImage(stem + ".pgm");
        const rxtest::RgbImage ours = rxtest::PixelsOf(image);
        if (ours.width != colours.width || ours.height != colours.height) {
            ADD_FAILURE() << "size " << ours.width << " x " << ours.height;
            continue;
        }
        int wrong = 0;
        for (int i = 0; i < ours.width * ours.height; ++i) {
            const long x = i % ours.width, y = ours.height - 1 - i / ours.width;
            const BYTE alpha = Opacity(image, x, y);
            const bool ok = alpha == opacity.rgb[size_t(i)] &&
                            (alpha == 0 || std::memcmp(&ours.rgb[size_t(i) * 3], &colours.rgb[size_t(i) * 3], 3) == 0);
            if (!ok && wrong++ < 3)
                ADD_FAILURE() << "pixel " << x << "," << ours.height - 1 - y;
        }
        EXPECT_EQ(wrong, 0) << "of " << ours.width * ours.height;
    }
}

// The 32-bit bit-field file without its file header: the masks are stepped past, not read
// as pixels. A graphic control with no data blocks ends there.
TEST(AgreedFiles, BareHeaderAndEmptyGraphicControl)
{
    std::string dir;
    const std::vector<Agreed> fixtures = AgreedFixtures(dir);
    RX_REQUIRE_TOOL(!fixtures.empty(), "Pillow, netpbm or ImageMagick");
    Bytes file;
    ASSERT_TRUE(rxtest::ReadFile(dir + "/bitfields32.bmp", file));
    RxImage whole, bare;
    ASSERT_TRUE(Decode(whole, file, RXIMAGE_FORMAT_BMP));
    ASSERT_TRUE(Decode(bare, Bytes(file.begin() + 14, file.end()), RXIMAGE_FORMAT_BMP)) << bare.GetLastError();
    EXPECT_TRUE(rxtest::PixelsOf(bare) == rxtest::PixelsOf(whole));

    ASSERT_TRUE(rxtest::ReadFile(dir + "/empty_comment.gif", file));
    Bytes gce = file;
    gce[13 + 48 + 1] = 0xF9; // the comment's label: now a graphic control without data
    RxImage plain, withGce;
    ASSERT_TRUE(Decode(plain, file, RXIMAGE_FORMAT_GIF));
    ASSERT_TRUE(Decode(withGce, gce, RXIMAGE_FORMAT_GIF)) << withGce.GetLastError();
    EXPECT_TRUE(rxtest::PixelsOf(withGce) == rxtest::PixelsOf(plain));
}

void Put(Bytes& b, uint64_t v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

// A file header and an information header of the given size, then the given bytes.
Bytes Bmp(DWORD headerSize, int bpp, DWORD compression, const Bytes& rest)
{
    Bytes b{'B', 'M'};
    Put(b, 14 + headerSize + rest.size(), 4);
    Put(b, 0, 4);
    Put(b, 14 + headerSize, 4);
    Put(b, headerSize, 4);
    Put(b, 2, 4); // 2 x 2
    Put(b, 2, 4);
    Put(b, 1, 2);
    Put(b, uint32_t(bpp), 2);
    Put(b, compression, 4);
    b.resize(14 + headerSize, 0); // sizes, resolutions and colour counts 0
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

// A 2 x 1 screen with a two-colour table and one image of the given code size.
Bytes Gif(BYTE codeSize, BYTE left = 0)
{
    return Bytes{'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255,
                 0x2C, left, 0, 0, 0, 2, 0, 1, 0, 0, codeSize, 2, 0x44, 0x01, 0, 0x3B};
}

Bytes Tga(int type, int depth)
{
    Bytes b{0, 0, BYTE(type), 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, BYTE(depth), 0};
    b.resize(b.size() + 4, 0x64);
    return b;
}

// One 1 x 1 icon entry whose data starts with the given bytes.
Bytes Icon(const Bytes& data, int count = 1, int type = 1)
{
    Bytes b{0, 0, BYTE(type), 0, BYTE(count), 0};
    b.reserve(b.size() + 16 * size_t(count) + data.size()); // quiets a false array-bounds warning of g++ 12 at -O3
    for (int i = 0; i < count; ++i)
        b.insert(b.end(), {1, 1, 0, 0, 1, 0, 32, 0, BYTE(data.size()), 0, 0, 0, BYTE(6 + 16 * count), 0, 0, 0});
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

TEST(Refusals, SayWhy)
{
    Bytes png{0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    png.resize(48, 0);
    Bytes header40(40, 0);
    header40[0] = 40, header40[14] = 2; // a 2-bit entry
    struct Row {
        const char* name;
        DWORD type;
        Bytes file;
        long frame;
        const char* error;
    };
    const Row rows[] = {
        {"BMP of 2 bits", RXIMAGE_FORMAT_BMP, Bmp(40, 2, 0, Bytes(32)), 0, "unsupported bit count"},
        {"BMP of 0 bits", RXIMAGE_FORMAT_BMP, Bmp(40, 0, 0, Bytes(32)), 0, "unsupported bit count"},
        {"BMP of 64 bits", RXIMAGE_FORMAT_BMP, Bmp(40, 64, 0, Bytes(64)), 0, "unsupported bit count"},
        {"BMP 32-bit zero mask", RXIMAGE_FORMAT_BMP, Bmp(40, 32, 3, Bytes(28)), 0, "unknown compression"},
        {"BMP version 5 with masks", RXIMAGE_FORMAT_BMP, Bmp(124, 32, 3, Bytes(16)), 0, "unsupported BMP header"},
        {"GIF code size 1", RXIMAGE_FORMAT_GIF, Gif(1), 0, "bad LZW code size"},
        {"GIF code size 10", RXIMAGE_FORMAT_GIF, Gif(10), 0, "bad LZW code size"},
        {"GIF signature", RXIMAGE_FORMAT_GIF, Bytes{'G', 'I', 'F', '7', '9', 'a', 0, 0, 0, 0, 0, 0, 0}, 0, "not a GIF"},
        {"GIF header cut", RXIMAGE_FORMAT_GIF, Bytes{'G', 'I', 'F', '8', '9', 'a'}, 0, "not a GIF"},
        {"GIF frame 1 of 1", RXIMAGE_FORMAT_GIF, Gif(2), 1, "bad frame number"},
        {"GIF frame -1", RXIMAGE_FORMAT_GIF, Gif(2), -1, "bad frame number"},
        {"GIF frame past the screen", RXIMAGE_FORMAT_GIF, Gif(2, 1), 0, "no frame inside the logical screen"},
        {"TGA grey of 16 bits", RXIMAGE_FORMAT_TGA, Tga(3, 16), 0, "16-bit grey TGA not supported"},
        {"TGA run-length grey of 16 bits", RXIMAGE_FORMAT_TGA, Tga(11, 16), 0, "16-bit grey TGA not supported"},
        {"TGA grey of 24 bits", RXIMAGE_FORMAT_TGA, Tga(3, 24), 0, "bad TGA header"},
        {"ICO holding PNG", RXIMAGE_FORMAT_ICO, Icon(png), 0, "PNG icon entries not supported"},
        {"ICO of type 3", RXIMAGE_FORMAT_ICO, Icon(png, 1, 3), 0, "not an icon"},
        {"ICO directory cut", RXIMAGE_FORMAT_ICO, Bytes{0, 0, 1, 0, 2, 0, 1, 1}, 0, "not an icon"},
        {"ICO frame 2 of 2", RXIMAGE_FORMAT_ICO, Icon(png, 2), 2, "bad frame number"},
        {"ICO entry of 2 bits", RXIMAGE_FORMAT_ICO, Icon(header40), 0, "unsupported icon entry"},
        {"ICO entry cut", RXIMAGE_FORMAT_ICO, Icon(Bytes(20, 0)), 0, "corrupted icon"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RxImage image;
        image.SetFrame(r.frame);
        EXPECT_FALSE(Decode(image, r.file, r.type));
        EXPECT_STREQ(image.GetLastError(), r.error);
        EXPECT_FALSE(image.IsValid());
    }
}

// A success leaves no failure text behind: neither of the codecs the type-0 probe tried
// first, nor of an earlier decode into the same image.
TEST(Refusals, SuccessClearsTheLastError)
{
    RxImage gif;
    ASSERT_TRUE(Decode(gif, Gif(2), RXIMAGE_FORMAT_UNKNOWN));
    EXPECT_EQ(gif.GetType(), DWORD(RXIMAGE_FORMAT_GIF));
    EXPECT_STREQ(gif.GetLastError(), "");
    RxImage image;
    EXPECT_FALSE(Decode(image, Gif(10), RXIMAGE_FORMAT_GIF));
    EXPECT_STREQ(image.GetLastError(), "bad LZW code size");
    ASSERT_TRUE(Decode(image, Gif(2), RXIMAGE_FORMAT_GIF));
    EXPECT_STREQ(image.GetLastError(), "");
}

} // namespace
