// WBMP, TGA, PCX and ICO: worked values, other writers' files, other readers of ours, hostile input.
#include "imagelib/RxImage.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/FailingFile.h"
#include "tests/imagelib/support/RandomImage.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <tuple>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(RxImage& image, DWORD type)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.Encode(buffer, size, type))
        return {};
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

bool Decode(RxImage& image, Bytes bytes, DWORD type)
{
    return image.Decode(bytes.data(), DWORD(bytes.size()), type);
}

// A file or an image that must fail with the given text; "" for success.
struct Case {
    const char* name;
    DWORD type;
    Bytes file;
    const char* error;
};

void Check(const Case& c)
{
    SCOPED_TRACE(c.name);
    RxImage image;
    EXPECT_EQ(Decode(image, c.file, c.type), *c.error == 0) << image.GetLastError();
    EXPECT_STREQ(image.GetLastError(), c.error);
}

Bytes TgaHeader(int mapType, int type, int mapLength, int entrySize, int w, int h, int depth, int descriptor = 0)
{
    return Bytes{0, BYTE(mapType), BYTE(type), 0, 0, BYTE(mapLength), BYTE(mapLength >> 8), BYTE(entrySize), 0, 0, 0, 0,
                 BYTE(w), BYTE(w >> 8), BYTE(h), BYTE(h >> 8), BYTE(depth), BYTE(descriptor)};
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(WbmpCodec, Values)
{
    struct Size {
        DWORD w;
        size_t bytes;
        Bytes header;
    };
    for (const Size& s : {Size{255, 5 + 32, {0, 0, 0x81, 0x7F, 1}}, Size{127, 4 + 16, {0, 0, 0x7F, 1}}}) {
        RxImage image(s.w, 1, 1);
        const Bytes file = Encode(image, RXIMAGE_FORMAT_WBMP);
        ASSERT_EQ(file.size(), s.bytes);
        EXPECT_EQ(Bytes(file.begin(), file.begin() + long(s.header.size())), s.header);
    }
    RxImage wide(256, 1, 1);
    EXPECT_TRUE(Encode(wide, RXIMAGE_FORMAT_WBMP).empty());
    EXPECT_STREQ(wide.GetLastError(), "Can't save this image as WBMP");
    for (const Case& c : {Case{"type 1", 6, {1, 0, 1, 1, 0}, "Unsupported WBMP type"},
                          Case{"3 bytes", 6, {0, 0, 5}, "Not a WBMP"},
                          Case{"5-byte integer", 6, {0, 0, 0x81, 0x81, 0x81, 0x81, 0x01, 1}, "Corrupted WBMP"},
                          Case{"width 0", 6, {0, 0, 0, 1}, "Corrupted WBMP"}})
        Check(c);
    RxImage decoded;
    ASSERT_TRUE(Decode(decoded, {0, 0, 3, 1, 0xA0}, RXIMAGE_FORMAT_WBMP));
    EXPECT_EQ(decoded.GetPaletteColor(0).rgbRed, 0);
    EXPECT_EQ(decoded.GetPaletteColor(1).rgbRed, 255);
    EXPECT_EQ(decoded.GetPixelIndex(0, 0) * 4 + decoded.GetPixelIndex(1, 0) * 2 + decoded.GetPixelIndex(2, 0), 5);
}

TEST(TgaCodec, Values)
{
    RxImage rgb(2, 2, 24);
    Bytes file = Encode(rgb, RXIMAGE_FORMAT_TGA);
    ASSERT_EQ(file.size(), 18u + 12);
    EXPECT_EQ(file[2], 2);
    EXPECT_EQ(file[16], 24);
    rgb.AlphaCreate();
    file = Encode(rgb, RXIMAGE_FORMAT_TGA);
    ASSERT_EQ(file.size(), 18u + 16);
    EXPECT_EQ(file[16], 32);
    RxImage mono(4, 4, 1);
    EXPECT_TRUE(Encode(mono, RXIMAGE_FORMAT_TGA).empty());
    EXPECT_STREQ(mono.GetLastError(), "Bit depth must be 8 or 24");

    // One repeat packet of 3 filling row 0 and the start of row 1, then a literal.
    RxImage rle;
    ASSERT_TRUE(Decode(rle, Cat(TgaHeader(0, 10, 0, 0, 2, 2, 24), {0x82, 1, 2, 3, 0x00, 7, 8, 9}), RXIMAGE_FORMAT_TGA));
    EXPECT_EQ(rle.GetPixelColor(1, 0).rgbRed, 3);
    EXPECT_EQ(rle.GetPixelColor(0, 1).rgbRed, 3);
    EXPECT_EQ(rle.GetPixelColor(1, 1).rgbRed, 9);
    RxImage white;
    ASSERT_TRUE(Decode(white, Cat(TgaHeader(0, 2, 0, 0, 1, 1, 16), {0xFF, 0x7F}), RXIMAGE_FORMAT_TGA));
    const RGBQUAD c = white.GetPixelColor(0, 0);
    EXPECT_EQ(std::vector<int>({c.rgbRed, c.rgbGreen, c.rgbBlue}), std::vector<int>({255, 255, 255})) << "a full 5-bit field is white";
    for (const Case& k : {Case{"300-entry map", 4, Cat(TgaHeader(1, 1, 300, 24, 1, 1, 8), Bytes(901)), "bad TGA header"},
                          Case{"type 4", 4, TgaHeader(0, 4, 0, 0, 1, 1, 8), "Unknown TGA image type"},
                          Case{"depth 12", 4, TgaHeader(0, 2, 0, 0, 1, 1, 12), "bad TGA header"},
                          Case{"entry size 8", 4, TgaHeader(1, 1, 2, 8, 1, 1, 8), "bad TGA header"},
                          Case{"short", 4, Bytes(17), "Not a TGA"},
                          Case{"no pixels", 4, TgaHeader(0, 2, 0, 0, 1, 1, 24), "corrupted TGA"},
                          Case{"packet past the image", 4, Cat(TgaHeader(0, 10, 0, 0, 2, 2, 24), {0xFF, 1, 2, 3}), ""}})
        Check(k);
}

// A PCX header: bits, planes, bytes per line, size.
Bytes PcxHeader(int bits, int planes, int bpl, int w, int h)
{
    Bytes b(128, 0);
    b[0] = 10, b[1] = 5, b[2] = 1, b[3] = BYTE(bits);
    b[8] = BYTE(w - 1), b[9] = BYTE((w - 1) >> 8), b[10] = BYTE(h - 1), b[11] = BYTE((h - 1) >> 8);
    b[65] = BYTE(planes), b[66] = BYTE(bpl), b[67] = BYTE(bpl >> 8);
    return b;
}

TEST(PcxCodec, Values)
{
    RxImage rgb(3, 1, 24);
    for (long x = 0; x < 3; ++x)
        rgb.SetPixelColor(x, 0, RGBQUAD{BYTE(30 + x), BYTE(20 + x), BYTE(10 + x), 0});
    Bytes file = Encode(rgb, RXIMAGE_FORMAT_PCX);
    ASSERT_EQ(file.size(), 128u + 12);
    EXPECT_EQ(file[66], 4) << "bytes per line";
    EXPECT_EQ(Bytes(file.begin() + 128, file.end()), (Bytes{10, 11, 12, 0, 20, 21, 22, 0, 30, 31, 32, 0}));
    struct Run {
        DWORD width;
        BYTE value;
        Bytes coded;
    };
    for (const Run& r : {Run{1, 0xC5, {0xC1, 0xC5, 0}}, Run{70, 9, {0xFF, 9, 0xC7, 9}}}) {
        RxImage image(r.width, 1, 8);
        image.Clear(r.value);
        file = Encode(image, RXIMAGE_FORMAT_PCX);
        EXPECT_EQ(Bytes(file.begin() + 128, file.begin() + 128 + long(r.coded.size())), r.coded);
        EXPECT_EQ(file.size(), 128 + r.coded.size() + 769);
    }
    RxImage inverted(9, 1, 1);
    inverted.SetPaletteColor(0, 255, 255, 255);
    inverted.SetPaletteColor(1, 0, 0, 0);
    inverted.SetPixelIndex(2, 0, 1);
    file = Encode(inverted, RXIMAGE_FORMAT_PCX);
    EXPECT_EQ(Bytes(file.begin() + 16, file.begin() + 22), (Bytes{0, 0, 0, 255, 255, 255}));
    EXPECT_EQ(file[128], 0xC1) << "inverted: the first byte 0xDF needs a count";
    RxImage back;
    ASSERT_TRUE(Decode(back, file, RXIMAGE_FORMAT_PCX));
    EXPECT_TRUE(rxtest::PixelsOf(back) == rxtest::PixelsOf(inverted));
    for (const Case& c : {Case{"count past the image", 5, Cat(PcxHeader(8, 1, 2, 2, 1), {0xC3, 5}), "repeat count spans end of image"},
                          Case{"palette marker", 5, Cat(PcxHeader(8, 1, 2, 2, 1), {5, 5, 11}), "bad color map signature"},
                          Case{"huge", 5, PcxHeader(8, 3, 65535, 65535, 65535), "corrupted PCX"},
                          Case{"short lines", 5, Cat(PcxHeader(8, 1, 4, 10, 1), Bytes(800)), "Can't read PCX image"},
                          Case{"no planes", 5, Cat(PcxHeader(1, 0, 2, 10, 1), Bytes(800)), "Can't read PCX image"},
                          Case{"manufacturer", 5, Bytes(128, 1), "Error: Not a PCX file"}})
        Check(c);
}

// An icon directory of n entries, each a 2 x 2 8-bit image with the given mask row bytes.
Bytes Icon(int n, BYTE maskRow0, BYTE maskRow1, BYTE firstPixel)
{
    Bytes b{0, 0, 1, 0, BYTE(n), 0};
    const size_t image = 40 + 1024 + 8 + 8;
    for (int i = 0; i < n; ++i) {
        const size_t offset = 6 + 16 * size_t(n) + image * size_t(i);
        b.insert(b.end(), {2, 2, 0, 0, 1, 0, 8, 0, BYTE(image), BYTE(image >> 8), 0, 0, BYTE(offset), BYTE(offset >> 8), 0, 0});
    }
    for (int i = 0; i < n; ++i) {
        b.insert(b.end(), {40, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 8, 0});
        b.resize(b.size() + 24, 0);
        for (int c = 0; c < 256; ++c)
            b.insert(b.end(), {BYTE(c), BYTE(c), BYTE(c), 0});
        b.insert(b.end(), {firstPixel, 1, 0, 0, 2, 3, 0, 0});
        b.insert(b.end(), {maskRow0, 0, 0, 0, maskRow1, 0, 0, 0});
    }
    return b;
}

TEST(IcoCodec, Values)
{
    RxImage wide(256, 16, 8);
    EXPECT_TRUE(Encode(wide, RXIMAGE_FORMAT_ICO).empty());
    EXPECT_STREQ(wide.GetLastError(), "Can't save this image as icon");
    RxImage third;
    third.SetFrame(3);
    EXPECT_FALSE(Decode(third, Icon(3, 0, 0, 0), RXIMAGE_FORMAT_ICO));
    EXPECT_EQ(third.GetNumFrames(), 3);
    // Indices 0 to 3 are in use: 4 is the first free one and takes the masked pixels.
    RxImage masked;
    Bytes icon = Icon(1, 0x80, 0x40, 0);
    ASSERT_TRUE(Decode(masked, icon, RXIMAGE_FORMAT_ICO));
    EXPECT_EQ(masked.GetTransIndex(), 4);
    EXPECT_EQ(masked.GetPixelIndex(0, 0), 4);
    EXPECT_EQ(masked.GetPixelIndex(1, 1), 4);
    EXPECT_EQ(masked.GetPixelIndex(1, 0), 1);
    EXPECT_FALSE(masked.AlphaIsValid());
    Bytes png = Icon(1, 0, 0, 0); // an entry holding PNG data is refused
    std::copy_n("\x89PNG", 4, png.begin() + 22);
    RxImage refused;
    EXPECT_FALSE(Decode(refused, png, RXIMAGE_FORMAT_ICO));
    RxImage rgba(3, 2, 24);
    rgba.AlphaCreate();
    rgba.AlphaSet(1, 0, 0);
    const Bytes file = Encode(rgba, RXIMAGE_FORMAT_ICO);
    ASSERT_EQ(file.size(), 22u + 40 + 3 * 2 * 4 + 8);
    EXPECT_EQ(file[12], 32) << "bits";
    EXPECT_EQ(file[file.size() - 8], 0x40) << "mask bit of pixel (1, 0), the bottom row";
}

std::vector<std::string> CodecFixtures(std::string& dir)
{
    dir = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/codec_fixtures_" + std::to_string(getpid()); // per process: CTest runs tests side by side
    static const int status = rxtest::Run(rxtest::Quote(rxtest::Python()) + " " +
                                          rxtest::Quote(rxtest::Script("make_codec_fixtures.py")) + " fixtures " +
                                          rxtest::Quote(dir));
    std::vector<std::string> names;
    std::ifstream in(dir + "/fixtures.txt");
    for (std::string n; status == 0 && in >> n;)
        names.push_back(n);
    return names;
}

DWORD TypeOf(const std::string& name)
{
    const std::string ext = name.substr(name.rfind('.'));
    return ext == ".tga" ? RXIMAGE_FORMAT_TGA
           : ext == ".pcx" ? RXIMAGE_FORMAT_PCX
           : ext == ".ico" ? RXIMAGE_FORMAT_ICO
                           : RXIMAGE_FORMAT_WBMP;
}

TEST(CodecTools, ReadsOtherWritersFiles)
{
    std::string dir;
    const std::vector<std::string> names = CodecFixtures(dir);
    RX_REQUIRE_TOOL(!names.empty(), "Pillow, netpbm or ImageMagick");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + name, file));
        RxImage image;
        ASSERT_TRUE(Decode(image, file, TypeOf(name))) << image.GetLastError();
        const std::string stem = dir + "/" + name.substr(0, name.rfind('.'));
        const rxtest::RgbImage ours = rxtest::PixelsOf(image), want = rxtest::ReadImage(stem + ".ppm");
        if (TypeOf(name) != RXIMAGE_FORMAT_ICO) {
            EXPECT_TRUE(ours == want);
            continue;
        }
        // Icons: opaque pixels by colour, masked ones transparent in our terms.
        const rxtest::RgbImage opacity = rxtest::ReadImage(stem + ".pgm");
        ASSERT_EQ(ours.width * ours.height, opacity.width * opacity.height);
        for (int i = 0; i < ours.width * ours.height; ++i) {
            const long x = i % ours.width, y = ours.height - 1 - i / ours.width;
            const RGBQUAD c = image.GetPixelColor(x, y, false), t = image.GetTransColor();
            const bool transparent = (image.AlphaIsValid() && image.AlphaGet(x, y) == 0) ||
                                     (image.IsTransparent() && (image.IsIndexed() ? image.GetPixelIndex(x, y) == image.GetTransIndex()
                                                                                   : std::memcmp(&c, &t, 3) == 0));
            if (opacity.rgb[size_t(i)])
                ASSERT_TRUE(std::equal(&ours.rgb[size_t(i) * 3], &ours.rgb[size_t(i) * 3 + 3], &want.rgb[size_t(i) * 3])) << i;
            else
                ASSERT_TRUE(transparent) << i;
        }
    }
}

TEST(CodecTools, OthersReadOurFiles)
{
    RX_REQUIRE_TOOL(rxtest::HavePillow(), "Pillow");
    RX_REQUIRE_TOOL(rxtest::HaveTool("tgatoppm") && rxtest::HaveTool("wbmptopbm"), "netpbm");
    const std::string dir = rxtest::ScratchDir() + "/codecs";
    ASSERT_EQ(rxtest::Run("mkdir -p " + rxtest::Quote(dir)), 0);
    std::vector<std::pair<std::string, rxtest::RgbImage>> written;
    std::vector<std::string> noPillow, noNetpbm;
    unsigned seed = 300;
    for (DWORD w : {1u, 8u, 127u, 200u}) {
        RxImage mono(w, 1 + w % 5, 1);
        rxtest::FillRandom(mono, seed, false);
        mono.SetGrayPalette(); // WBMP stores indices: 0 black, 1 white
        const std::string name = dir + "/w" + std::to_string(seed++);
        ASSERT_TRUE(rxtest::WriteFile(name + ".wbmp", Encode(mono, RXIMAGE_FORMAT_WBMP)));
        written.emplace_back(name, rxtest::PixelsOf(mono));
    }
    for (int kind = 0; kind < 3; ++kind)
        for (DWORD w : {1u, 9u, 33u}) {
            RxImage image(w, 3 + w % 4, kind == 0 ? 8 : 24);
            rxtest::FillRandom(image, seed, false);
            if (kind == 2) {
                image.AlphaCreate();
                image.AlphaSet(0, 0, 255);
            }
            const std::string name = dir + "/t" + std::to_string(seed++);
            ASSERT_TRUE(rxtest::WriteFile(name + ".tga", Encode(image, RXIMAGE_FORMAT_TGA)));
            written.emplace_back(name, rxtest::PixelsOf(image));
        }
    for (DWORD bpp : {1u, 4u, 8u, 24u})
        for (DWORD w : {1u, 9u, 33u}) {
            RxImage image(w, 3 + w % 4, bpp);
            rxtest::FillRandom(image, seed, bpp == 1); // 1-bit PCX is black and white
            const std::string name = dir + "/p" + std::to_string(seed++);
            ASSERT_TRUE(rxtest::WriteFile(name + ".pcx", Encode(image, RXIMAGE_FORMAT_PCX)));
            written.emplace_back(name, rxtest::PixelsOf(image));
            if (bpp == 4 || bpp == 24) // Pillow takes a plane's pad byte for the next plane's first value
                noPillow.push_back(name);
        }
    for (DWORD bpp : {1u, 4u, 8u, 24u}) {
        RxImage icon(5 + bpp, 7, bpp);
        rxtest::FillRandom(icon, seed, false);
        const std::string name = dir + "/i" + std::to_string(seed++);
        ASSERT_TRUE(rxtest::WriteFile(name + ".ico", Encode(icon, RXIMAGE_FORMAT_ICO)));
        written.emplace_back(name, rxtest::PixelsOf(icon));
        noNetpbm.push_back(name); // checked against winicontopam by the script
    }
    ASSERT_EQ(rxtest::Run(rxtest::Quote(rxtest::Python()) + " " + rxtest::Quote(rxtest::Script("make_codec_fixtures.py")) +
                          " read " + rxtest::Quote(dir)),
              0);
    for (const auto& [name, pixels] : written) {
        SCOPED_TRACE(name);
        if (std::count(noNetpbm.begin(), noNetpbm.end(), name) == 0) {
            EXPECT_TRUE(rxtest::ReadImage(name + ".nb.ppm") == pixels);
        }
        if (name[name.rfind('/') + 1] != 'w' && std::count(noPillow.begin(), noPillow.end(), name) == 0) {
            EXPECT_TRUE(rxtest::ReadImage(name + ".pil.ppm") == pixels);
        }
    }
}

TEST(CodecHostile, PrefixesAndShortWrites)
{
    std::string dir;
    const std::vector<std::string> names = CodecFixtures(dir);
    RX_REQUIRE_TOOL(!names.empty(), "Pillow, netpbm or ImageMagick");
    for (const std::string& name : names) {
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + name, file));
        for (size_t n = 0; n < file.size(); ++n) {
            RxImage image;
            Decode(image, Bytes(file.begin(), file.begin() + long(n)), TypeOf(name));
        }
    }
    RxImage mono(20, 3, 1), indexed(5, 3, 8), rgba(4, 3, 24);
    rgba.AlphaCreate();
    for (const auto& [image, type, text] : {std::tuple<RxImage*, DWORD, const char*>{&mono, 6, "Write Error in WBMP file"},
                                           {&indexed, 4, "Write Error in TGA file"}, {&rgba, 4, "Write Error in TGA file"},
                                           {&mono, 5, "cannot write PCX header"}, {&indexed, 5, "cannot write PCX header"},
                                           {&rgba, 5, "cannot write PCX header"}, {&indexed, 3, "Write Error in ICO file"},
                                           {&rgba, 3, "Write Error in ICO file"}}) {
        const size_t total = Encode(*image, type).size();
        for (size_t n = 0; n < total; ++n) {
            FailingFile file(n);
            EXPECT_FALSE(image->Encode(&file, type)) << n;
            EXPECT_STREQ(image->GetLastError(), text);
        }
    }
}

} // namespace
