// Channels of 5 and 6 bits in hand-made BMP and TGA files, every value of each, read by us
// and by two outside decoders. ImageMagick and Pillow differ between themselves by up to 1
// inside the range (one repeats the bits downward, the other scales), but agree that 0 is
// black and a full field is 255; ours repeats the bits, so it must agree with both at the
// ends and stay within 1 of each everywhere.
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/MetafileBuilder.h"
#include "tests/imagelib/support/ExternalTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using rxtest::Put16;
using rxtest::Put32;

// One row of 16-bit pixels, bottom-up (a single row), with bit-field masks when given.
Bytes Bmp16(const std::vector<unsigned>& words, const std::vector<unsigned>& masks)
{
    Bytes row;
    for (unsigned w : words)
        Put16(row, w);
    while (row.size() % 4)
        row.push_back(0);
    const unsigned offset = 14 + 40 + unsigned(masks.size()) * 4;
    Bytes b{'B', 'M'};
    Put32(b, offset + unsigned(row.size()));
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40), Put32(b, unsigned(words.size())), Put32(b, 1), Put16(b, 1), Put16(b, 16);
    Put32(b, masks.empty() ? 0 : 3), Put32(b, unsigned(row.size()));
    Put32(b, 2835), Put32(b, 2835), Put32(b, 0), Put32(b, 0);
    for (unsigned m : masks)
        Put32(b, m);
    b.insert(b.end(), row.begin(), row.end());
    return b;
}

// One top-down row: true colour of 16 bits, or 8-bit indices into a 16-bit colour map.
Bytes Tga16(const std::vector<unsigned>& words, bool mapped)
{
    const unsigned n = unsigned(words.size());
    Bytes b{0, uint8_t(mapped ? 1 : 0), uint8_t(mapped ? 1 : 2)};
    Put16(b, 0), Put16(b, mapped ? n : 0);
    b.push_back(mapped ? 16 : 0);
    Put16(b, 0), Put16(b, 0), Put16(b, n), Put16(b, 1);
    b.push_back(mapped ? 8 : 16);
    b.push_back(0x20);
    for (unsigned w : words)
        Put16(b, w);
    if (mapped)
        for (unsigned i = 0; i < n; ++i)
            b.push_back(uint8_t(i));
    return b;
}

rxtest::RgbImage Outside(const std::string& command)
{
    std::string out;
    rxtest::RgbImage image;
    if (rxtest::Run(command, &out) != 0 || !rxtest::ReadPpm(out, image))
        return {};
    return image;
}

} // namespace

TEST(Widening, FiveAndSixBitChannelsAgreeWithTwoDecoders)
{
    RX_REQUIRE_TOOL(rxtest::HaveImageMagick(), "ImageMagick");
    RX_REQUIRE_TOOL(rxtest::HavePillow(), "Pillow");
    std::vector<unsigned> grey555, grey565;
    for (unsigned v = 0; v < 32; ++v)
        grey555.push_back(v << 10 | v << 5 | v);
    for (unsigned v = 0; v < 64; ++v) // green takes every 6-bit value, red and blue its top 5 bits
        grey565.push_back((v >> 1) << 11 | v << 5 | v >> 1);
    struct Case {
        const char* name;
        DWORD type;
        Bytes file;
        const char* extension;
    };
    const Case cases[] = {
        {"BMP 5-5-5", RXIMAGE_FORMAT_BMP, Bmp16(grey555, {}), "bmp"},
        {"BMP 5-6-5 bit fields", RXIMAGE_FORMAT_BMP, Bmp16(grey565, {0xF800, 0x07E0, 0x001F}), "bmp"},
        {"TGA 16-bit true colour", RXIMAGE_FORMAT_TGA, Tga16(grey555, false), "tga"},
        {"TGA 16-bit colour map", RXIMAGE_FORMAT_TGA, Tga16(grey555, true), "tga"},
    };
    const std::string dir = rxtest::ScratchDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/widening." + c.extension;
        ASSERT_TRUE(rxtest::WriteFile(path, c.file));
        RxImage image;
        ASSERT_TRUE(image.Decode(const_cast<uint8_t*>(c.file.data()), DWORD(c.file.size()), c.type))
            << image.GetLastError();
        const rxtest::RgbImage ours = rxtest::PixelsOf(image);
        const rxtest::RgbImage magick =
            Outside("convert-im6.q16 " + rxtest::Quote(path) + " -depth 8 ppm:- 2>/dev/null");
        const rxtest::RgbImage pillow =
            Outside(rxtest::Quote(rxtest::Python()) +
                    " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB')"
                    ".save(sys.stdout.buffer, 'PPM')\" " + rxtest::Quote(path));
        ASSERT_EQ(magick.width, ours.width);
        ASSERT_EQ(pillow.width, ours.width);
        ASSERT_EQ(ours.rgb.size(), magick.rgb.size());
        ASSERT_EQ(ours.rgb.size(), pillow.rgb.size());
        const size_t last = ours.rgb.size() - 3;
        for (size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(ours.rgb[k], 0);
            EXPECT_EQ(ours.rgb[last + k], 255) << "white stays white";
            EXPECT_EQ(magick.rgb[last + k], 255);
            EXPECT_EQ(pillow.rgb[last + k], 255);
        }
        for (size_t i = 0; i < ours.rgb.size(); ++i) {
            EXPECT_LE(std::abs(int(ours.rgb[i]) - int(magick.rgb[i])), 1) << "sample " << i;
            EXPECT_LE(std::abs(int(ours.rgb[i]) - int(pillow.rgb[i])), 1) << "sample " << i;
        }
        // ImageMagick repeats the bits of a BMP field as we do: the same to the byte.
        if (c.type == RXIMAGE_FORMAT_BMP) {
            EXPECT_TRUE(ours == magick);
        }
    }
}
