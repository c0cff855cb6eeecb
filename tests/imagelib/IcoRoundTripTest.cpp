// Icons through their own round trip: what a decoded icon shows (the colour of every pixel
// and which pixels are transparent) survives encoding and decoding again, twice over.
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/MetafileBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

using rxtest::Put16;
using rxtest::Put32;

// A single-image icon file, written field by field. Pixels and mask are given in the
// library's coordinates, row 0 at the bottom as the file holds it; `pixel` gives an index
// (bits <= 8) or 0x00RRGGBB.
struct IconSpec {
    int width = 0, height = 0, bits = 8;
    std::vector<uint32_t> palette; // 0xAARRGGBB, AA the reserved byte; 2^bits entries
    std::function<uint32_t(int x, int y)> pixel;
    std::function<bool(int x, int y)> masked;
};

Bytes IconFile(const IconSpec& s)
{
    const int rowBytes = ((s.width * s.bits + 31) / 32) * 4, maskRow = ((s.width + 31) / 32) * 4;
    Bytes pixels(size_t(rowBytes) * size_t(s.height), 0), mask(size_t(maskRow) * size_t(s.height), 0);
    for (int y = 0; y < s.height; ++y) {
        const size_t fileRow = size_t(y);
        for (int x = 0; x < s.width; ++x) {
            const uint32_t v = s.pixel(x, y);
            uint8_t* row = &pixels[fileRow * size_t(rowBytes)];
            if (s.bits == 24) {
                row[x * 3] = uint8_t(v), row[x * 3 + 1] = uint8_t(v >> 8), row[x * 3 + 2] = uint8_t(v >> 16);
            } else {
                const int perByte = 8 / s.bits, shift = 8 - s.bits * (x % perByte + 1);
                row[x / perByte] |= uint8_t(v << shift);
            }
            if (s.masked(x, y))
                mask[fileRow * size_t(maskRow) + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        }
    }
    const unsigned colours = unsigned(s.palette.size());
    Bytes b;
    Put16(b, 0), Put16(b, 1), Put16(b, 1);
    b.insert(b.end(), {uint8_t(s.width), uint8_t(s.height), uint8_t(colours), 0});
    Put16(b, 1), Put16(b, unsigned(s.bits));
    Put32(b, 40 + colours * 4 + unsigned(pixels.size() + mask.size())), Put32(b, 22);
    Put32(b, 40), Put32(b, unsigned(s.width)), Put32(b, unsigned(s.height) * 2), Put16(b, 1), Put16(b, unsigned(s.bits));
    Put32(b, 0), Put32(b, unsigned(pixels.size()));
    b.resize(b.size() + 16, 0);
    for (uint32_t c : s.palette)
        Put32(b, c);
    b.insert(b.end(), pixels.begin(), pixels.end());
    b.insert(b.end(), mask.begin(), mask.end());
    return b;
}

bool Transparent(const RxImage& image, long x, long y)
{
    if (image.AlphaIsValid() && image.AlphaGet(x, y) == 0)
        return true;
    if (!image.IsTransparent())
        return false;
    if (image.IsIndexed())
        return image.GetPixelIndex(x, y) == image.GetTransIndex();
    const RGBQUAD c = image.GetPixelColor(x, y, false), t = image.GetTransColor();
    return std::memcmp(&c, &t, 3) == 0;
}

// Per pixel its colour, with bit 24 set where it is transparent: masked pixels too must
// keep their colour, which readers without transparency show.
std::vector<uint32_t> Shown(const RxImage& image)
{
    std::vector<uint32_t> shown;
    for (long y = 0; y < long(image.GetHeight()); ++y)
        for (long x = 0; x < long(image.GetWidth()); ++x) {
            const RGBQUAD c = image.GetPixelColor(x, y, false);
            shown.push_back(uint32_t(Transparent(image, x, y)) << 24 | uint32_t(c.rgbRed) << 16 |
                            uint32_t(c.rgbGreen) << 8 | c.rgbBlue);
        }
    return shown;
}

bool Decode(RxImage& image, Bytes bytes)
{
    return image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_ICO);
}

Bytes Encode(RxImage& image)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.Encode(buffer, size, RXIMAGE_FORMAT_ICO))
        return {};
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::vector<uint32_t> GreyPalette(int n)
{
    std::vector<uint32_t> p;
    for (int i = 0; i < n; ++i) {
        const uint32_t v = uint32_t(i * 255 / (n - 1));
        p.push_back(v << 16 | v << 8 | v);
    }
    return p;
}

} // namespace

TEST(IcoRoundTrip, WhatAnIconShowsSurvivesTwoRoundTrips)
{
    struct Case {
        const char* name;
        IconSpec spec;
        // Pixels opaque in the file, counted after the first decode: none may be lost.
        int opaque;
    };
    std::vector<Case> cases;
    {
        // A stray reserved byte in the palette is not alpha: nothing is masked.
        IconSpec s{13, 7, 8, GreyPalette(256), [](int x, int y) { return uint32_t((x * 7 + y * 3) % 40); },
                   [](int, int) { return false; }};
        s.palette[3] |= 0x5A000000;
        cases.push_back({"reserved byte, no mask", s, 13 * 7});
    }
    // Masked pixels holding several indices take the first free one, and keep it.
    cases.push_back({"masked pixels of several indices",
                     IconSpec{9, 5, 8, GreyPalette(256), [](int x, int y) { return uint32_t(x + y); },
                              [](int x, int y) { return x == y || x == 8; }},
                     9 * 5 - 10});
    {
        // The first free index has the colour of an opaque pixel's entry: that pixel stays
        // opaque, the mask follows the index.
        IconSpec s{8, 4, 4, GreyPalette(16), [](int x, int) { return uint32_t(x % 3 == 0 ? 15 : x % 3); },
                   [](int x, int y) { return x == 0 && y < 2; }};
        s.palette[0] = s.palette[15];
        cases.push_back({"free index coloured as an opaque one", s, 8 * 4 - 2});
    }
    // Fully transparent icons whose rows need no mask padding: the palette stays as it is.
    cases.push_back({"fully transparent, 32 wide",
                     IconSpec{32, 3, 8, GreyPalette(256), [](int x, int) { return uint32_t(x); },
                              [](int, int) { return true; }},
                     0});
    cases.push_back({"fully transparent 24-bit, 64 wide",
                     IconSpec{64, 2, 24, {}, [](int x, int y) { return uint32_t(0x102030 * (x + y) & 0xFFFFFF); },
                              [](int, int) { return true; }},
                     0});
    cases.push_back({"1-bit, a masked column",
                     IconSpec{10, 3, 1, {0x000000, 0xFFFFFF}, [](int x, int) { return uint32_t(x % 2); },
                              [](int x, int) { return x == 4; }},
                     10 * 3 - 3});
    cases.push_back({"24-bit, masked pixels of one colour",
                     IconSpec{5, 5, 24, {}, [](int x, int y) { return x == y ? 0x00FF00u : uint32_t(0x010203 * (x + 5 * y)); },
                              [](int x, int y) { return x == y; }},
                     25 - 5});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RxImage first;
        ASSERT_TRUE(Decode(first, IconFile(c.spec)));
        const std::vector<uint32_t> shown = Shown(first);
        int opaque = 0;
        for (int y = 0; y < c.spec.height; ++y)
            for (int x = 0; x < c.spec.width; ++x) {
                const bool masked = c.spec.masked(x, y);
                EXPECT_EQ(Transparent(first, x, y), masked) << x << ", " << y;
                opaque += masked ? 0 : 1;
            }
        EXPECT_EQ(opaque, c.opaque);
        if (c.spec.bits <= 8) // opaque pixels show their file colour: the palette is not inverted
            for (int y = 0; y < c.spec.height; ++y)
                for (int x = 0; x < c.spec.width; ++x)
                    if (!c.spec.masked(x, y)) {
                        EXPECT_EQ(shown[size_t(y * c.spec.width + x)], c.spec.palette[c.spec.pixel(x, y)] & 0xFFFFFF)
                            << x << ", " << y;
                    }
        RxImage again = first;
        for (int trip = 1; trip <= 2; ++trip) {
            SCOPED_TRACE("round trip " + std::to_string(trip));
            const Bytes file = Encode(again);
            ASSERT_FALSE(file.empty()) << again.GetLastError();
            RxImage next;
            ASSERT_TRUE(Decode(next, file));
            EXPECT_EQ(Shown(next), shown);
            if (first.IsIndexed() && first.IsTransparent()) {
                EXPECT_EQ(next.GetTransIndex(), first.GetTransIndex());
            }
            again = next;
        }
    }
}
