// The GIF codec: exact code streams read back by an independent code reader, the decoder's
// documented behaviour, round trips, other readers of our files, hostile input.
#include "imagelib/RxImageGIF.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/FailingFile.h"
#include "tests/imagelib/support/RandomImage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <random>
#include <tuple>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes EncodeGif(RxImageGIF& gif)
{
    RxMemFile file;
    file.Open();
    if (!gif.Encode(&file))
        return {};
    BYTE* p = file.GetBuffer(false);
    return Bytes(p, p + file.Size());
}

// An 8-bit (or other depth) GIF codec object holding the given indices, rows top-down.
void Fill(RxImageGIF& gif, long w, long h, int bpp, const std::vector<int>& indices, int option)
{
    gif.Create(DWORD(w), DWORD(h), DWORD(bpp), RXIMAGE_FORMAT_GIF);
    for (int i = 0; i < (1 << bpp); ++i)
        gif.SetPaletteColor(BYTE(i), BYTE(i * 3), BYTE(255 - i), BYTE(i * 7));
    for (long i = 0; i < w * h; ++i)
        gif.SetPixelIndex(i % w, h - 1 - i / w, BYTE(indices[size_t(i)]));
    gif.SetCodecOption(DWORD(option), RXIMAGE_FORMAT_GIF);
}

// Where the first image's data starts (its code-size byte), walking the blocks.
size_t ImageData(const Bytes& g)
{
    size_t p = 13 + ((g[10] & 0x80) ? 3u * (2u << (g[10] & 7)) : 0);
    while (p < g.size() && g[p] == 0x21) {
        p += 2;
        while (p < g.size() && g[p])
            p += g[p] + 1u;
        ++p;
    }
    const BYTE packed = g[p + 9];
    return p + 10 + ((packed & 0x80) ? 3u * (2u << (packed & 7)) : 0);
}

struct Codes {
    int codeSize = 0;
    std::vector<int> blockSizes;
    std::vector<std::pair<int, int>> codes; // code, width
};

// An independent code reader: LSB first at the current width, following clear and the
// decoder's table growth (no entry after a clear's first code, width up once full).
Codes ReadCodes(const Bytes& g)
{
    Codes out;
    size_t p = ImageData(g);
    out.codeSize = g[p++];
    Bytes data;
    while (p < g.size() && g[p]) {
        out.blockSizes.push_back(g[p]);
        data.insert(data.end(), g.begin() + long(p) + 1, g.begin() + long(p) + 1 + g[p]);
        p += g[p] + 1u;
    }
    const int clear = 1 << out.codeSize;
    int width = out.codeSize + 1, next = clear + 2;
    bool first = true;
    for (size_t bit = 0; bit + size_t(width) <= data.size() * 8;) {
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((data[bit / 8] >> (bit % 8)) & 1) << i;
        out.codes.emplace_back(code, width);
        if (code == clear + 1)
            break;
        if (code == clear) {
            width = out.codeSize + 1, next = clear + 2, first = true;
            continue;
        }
        if (!first && next < 4096 && ++next == (1 << width) && width < 12)
            ++width;
        first = false;
    }
    return out;
}

std::vector<int> JustCodes(const Codes& c)
{
    std::vector<int> v;
    for (const auto& [code, width] : c.codes)
        v.push_back(code);
    return v;
}

TEST(GifCodec, RunLengthAndUncompressedStreams)
{
    RxImageGIF sixteen;
    Fill(sixteen, 16, 1, 8, std::vector<int>(16, 7), 2);
    const Bytes g = EncodeGif(sixteen);
    const size_t data = ImageData(g);
    EXPECT_EQ(Bytes(g.begin() + long(data), g.begin() + long(data) + 12),
              (Bytes{8, 9, 0x00, 0x0F, 0x08, 0x1C, 0x48, 0xB0, 0xE0, 0x81, 0x80, 0}));
    const Codes c16 = ReadCodes(g);
    EXPECT_EQ(JustCodes(c16), (std::vector<int>{256, 7, 258, 259, 260, 261, 7, 257}));

    struct Row {
        const char* name;
        std::vector<int> pixels;
        std::vector<int> codes;
    };
    const Row rows[] = {
        {"run of four after others", {1, 2, 2, 2, 2}, {256, 1, 2, 2, 2, 2, 257}},
        {"run of five, no table", {1, 2, 2, 2, 2, 2}, {256, 1, 256, 2, 258, 258, 257}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        RxImageGIF gif;
        Fill(gif, long(r.pixels.size()), 1, 8, r.pixels, 2);
        EXPECT_EQ(JustCodes(ReadCodes(EncodeGif(gif))), r.codes);
    }

    std::vector<int> differ(1000);
    for (size_t i = 0; i < differ.size(); ++i)
        differ[i] = int(i % 256);
    RxImageGIF allDiffer;
    Fill(allDiffer, 1000, 1, 8, differ, 2);
    const Codes cd = ReadCodes(EncodeGif(allDiffer));
    int sinceClear = 0;
    for (size_t i = 1; i + 1 < cd.codes.size(); ++i) {
        ASSERT_EQ(cd.codes[i].second, 9) << "code " << i;
        if (cd.codes[i].first == 256) {
            EXPECT_EQ(sinceClear, 254);
            sinceClear = 0;
        } else {
            ++sinceClear;
        }
    }

    std::vector<int> noise(4200);
    std::mt19937 rng(5);
    for (int& v : noise)
        v = int(rng() % 256);
    RxImageGIF plain;
    Fill(plain, 4200, 1, 8, noise, 1);
    const Codes cu = ReadCodes(EncodeGif(plain));
    ASSERT_EQ(cu.codes.size(), 4200u + 3);
    for (size_t k = 1; k <= 3839; ++k) {
        const int want = k <= 255 ? 9 : k <= 767 ? 10 : k <= 1791 ? 11 : 12;
        ASSERT_EQ(cu.codes[k], std::make_pair(noise[k - 1], want)) << "pixel code " << k;
    }
    EXPECT_EQ(cu.codes[3840], std::make_pair(256, 12));
    EXPECT_EQ(cu.codes[3841], std::make_pair(noise[3839], 9));
}

TEST(GifCodec, FileStructure)
{
    struct Row {
        int bpp, codeSize;
        BYTE packed;
    };
    for (const Row& r : {Row{1, 2, 0x80}, Row{4, 4, 0xE3}, Row{8, 8, 0xE7}}) {
        RxImageGIF gif;
        Fill(gif, 3, 2, r.bpp, std::vector<int>(6, 1), 0);
        const Bytes g = EncodeGif(gif);
        EXPECT_EQ(g[10], r.packed) << r.bpp << " bits";
        EXPECT_EQ(g[ImageData(g)], r.codeSize) << r.bpp << " bits";
    }
    RxImageGIF big;
    std::vector<int> noise(200 * 50);
    std::mt19937 rng(6);
    for (int& v : noise)
        v = int(rng() % 256);
    Fill(big, 200, 50, 8, noise, 0);
    big.SetComment(std::string(300, 'c').c_str());
    const Bytes g = EncodeGif(big);
    const Codes c = ReadCodes(g);
    for (size_t i = 0; i + 1 < c.blockSizes.size(); ++i)
        EXPECT_EQ(c.blockSizes[i], 254);
    const size_t comment = 13 + 768 + 8;
    EXPECT_EQ(Bytes(g.begin() + long(comment), g.begin() + long(comment) + 3), (Bytes{0x21, 0xFE, 255}));
}

// Decodes through the library's type-based entry, as callers do.
bool DecodeGif(RxImage& image, Bytes bytes)
{
    return image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF);
}

std::vector<int> IndicesOf(const RxImage& image)
{
    std::vector<int> v;
    for (long y = long(image.GetHeight()) - 1; y >= 0; --y)
        for (long x = 0; x < long(image.GetWidth()); ++x)
            v.push_back(image.GetPixelIndex(x, y));
    return v;
}

TEST(GifCodec, RoundTrips)
{
    std::mt19937 rng(45);
    for (int n = 0; n < 2000; ++n) {
        const int option = n % 3, bpp = (n / 3) % 3 == 0 ? 1 : (n / 3) % 3 == 1 ? 4 : 8;
        const long w = 1 + long(rng() % 40), h = 1 + long(rng() % 12);
        std::vector<int> px(size_t(w * h));
        // Runs of random lengths, some long enough to cross the code budget and clears.
        for (size_t i = 0; i < px.size();) {
            const int v = int(rng() % (1u << bpp));
            const size_t len = rng() % 4 == 0 ? 1 + rng() % 600 : 1 + rng() % 4;
            for (size_t k = 0; k < len && i < px.size(); ++k)
                px[i++] = v;
        }
        SCOPED_TRACE("case " + std::to_string(n));
        RxImageGIF gif;
        Fill(gif, w, h, bpp, px, option);
        RxImage back;
        ASSERT_TRUE(DecodeGif(back, EncodeGif(gif)));
        ASSERT_EQ(back.GetBpp(), bpp);
        ASSERT_EQ(IndicesOf(back), px);
        ASSERT_EQ(0, std::memcmp(back.GetPalette(), gif.GetPalette(), gif.GetPaletteSize()));
    }
    // Runs long enough to spend the whole code budget since a clear, at 1 and 8 bits.
    for (const auto& [w, h, bpp] : {std::tuple<long, long, int>{4096, 2100, 1}, {3000, 2600, 8}}) {
        RxImageGIF gif;
        Fill(gif, w, h, bpp, std::vector<int>(size_t(w * h), 1), 2);
        RxImage back;
        ASSERT_TRUE(DecodeGif(back, EncodeGif(gif)));
        const BYTE* bits = back.GetBits();
        EXPECT_TRUE(std::equal(bits, bits + back.GetEffWidth() * back.GetHeight(), gif.GetBits())) << bpp << " bits";
    }
}

// Hooks into the decoder's parts.
struct GifProbe : RxImageGIF {
    using RxImageGIF::DecodeLzw;
};

// Two images of one screen: the second is the first's data with another position and
// palette entry, cut out of another encode.
Bytes TwoFrames(RxImageGIF& first, RxImageGIF& second)
{
    Bytes a = EncodeGif(first), b = EncodeGif(second);
    a.pop_back(); // trailer
    const size_t secondStart = 13 + 3u * (2u << (b[10] & 7));
    a.insert(a.end(), b.begin() + long(secondStart), b.end());
    return a;
}

TEST(GifCodec, DecoderBehaviour)
{
    // Interlace: the file's rows in sequence land at 0, 8, 4, 2, 6, 1, 3, 5, 7, 9.
    std::vector<int> rows(10 * 3);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = int(i / 3);
    RxImageGIF source;
    Fill(source, 3, 10, 8, rows, 0);
    Bytes g = EncodeGif(source);
    g[ImageData(g) - 1] |= 0x40;
    RxImage interlaced;
    ASSERT_TRUE(DecodeGif(interlaced, g));
    const int order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(interlaced.GetPixelIndex(1, 9 - order[i]), i) << "file row " << i;

    for (BYTE size : {BYTE(1), BYTE(10)}) {
        GifProbe probe;
        BYTE data[4] = {size, 1, 0, 0};
        RxMemFile f(data, sizeof data);
        int bad = 0;
        EXPECT_EQ(probe.DecodeLzw(&f, nullptr, 4, bad), -20) << int(size);
    }

    RxImageGIF one, two;
    Fill(one, 4, 3, 8, std::vector<int>(12, 1), 0);
    Fill(two, 2, 2, 8, std::vector<int>(4, 2), 0);
    two.SetOffset(1, 1);
    const Bytes both = TwoFrames(one, two);
    RxImage composed;
    composed.SetFrame(1);
    ASSERT_TRUE(DecodeGif(composed, both));
    EXPECT_EQ(IndicesOf(composed), (std::vector<int>{1, 1, 1, 1, 1, 2, 2, 1, 1, 2, 2, 1}));
    RxImage past;
    past.SetFrame(2);
    EXPECT_FALSE(DecodeGif(past, both));
    EXPECT_EQ(past.GetNumFrames(), 2);
    RxImage sizeOnly;
    sizeOnly.SetEscape(-1);
    ASSERT_TRUE(DecodeGif(sizeOnly, both));
    EXPECT_EQ(sizeOnly.GetWidth(), 4u);
    EXPECT_EQ(sizeOnly.GetHeight(), 3u);
    EXPECT_FALSE(sizeOnly.IsValid());
}

} // namespace
