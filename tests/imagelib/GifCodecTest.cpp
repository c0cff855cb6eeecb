// The GIF codec: exact code streams read back by an independent code reader, the decoder's
// documented behaviour, round trips, other readers of our files, hostile input.
#include "imagelib/RxImageGIF.h"
#include "imagelib/RxMemFile.h"
#include "tests/imagelib/support/ExternalTools.h"
#include "tests/imagelib/support/FailingFile.h"
#include "tests/imagelib/support/RandomImage.h"

#include <unistd.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
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

// Other writers' files, made once into the build tree; an empty list: tools missing.
struct Fixture {
    std::string name;
    long frames;
    std::string kind;
};
std::vector<Fixture> GifFixtures(std::string& dir)
{
    dir = std::string(ORBEL_BINARY_DIR) + "/tests/imagelib/gif_fixtures_" + std::to_string(getpid()); // per process: CTest runs tests side by side
    static const int status = rxtest::Run(rxtest::Quote(rxtest::Python()) + " " +
                                          rxtest::Quote(rxtest::Script("make_gif_fixtures.py")) + " fixtures " +
                                          rxtest::Quote(dir));
    std::vector<Fixture> list;
    std::ifstream in(dir + "/fixtures.txt");
    for (Fixture f; status == 0 && in >> f.name >> f.frames >> f.kind;)
        list.push_back(f);
    return list;
}

TEST(GifTools, ReadsOtherWritersFiles)
{
    std::string dir;
    const std::vector<Fixture> fixtures = GifFixtures(dir);
    RX_REQUIRE_TOOL(!fixtures.empty(), "Pillow, netpbm or giflib-tools");
    for (const Fixture& fx : fixtures) {
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + fx.name + ".gif", file));
        for (long n = 0; n < fx.frames; ++n) {
            SCOPED_TRACE(fx.name + " frame " + std::to_string(n) + " against " + fx.kind);
            RxImage image;
            image.SetFrame(n);
            ASSERT_TRUE(DecodeGif(image, file));
            EXPECT_EQ(image.GetNumFrames(), fx.frames);
            const std::string stem = dir + "/" + fx.name + "." + std::to_string(n);
            const rxtest::RgbImage colours = rxtest::ReadImage(stem + ".ppm"), mask = rxtest::ReadImage(stem + ".pgm");
            const rxtest::RgbImage ours = rxtest::PixelsOf(image);
            ASSERT_EQ(ours.width, colours.width);
            ASSERT_EQ(ours.height, colours.height);
            for (int y = 0; y < ours.height; ++y)
                for (int x = 0; x < ours.width; ++x) {
                    const size_t i = size_t(y) * size_t(ours.width) + size_t(x);
                    if (mask.rgb[i])
                        ASSERT_TRUE(std::equal(&ours.rgb[i * 3], &ours.rgb[i * 3 + 3], &colours.rgb[i * 3]))
                            << "colour at " << x << "," << y;
                    else
                        ASSERT_EQ(image.GetPixelIndex(x, ours.height - 1 - y), image.GetTransIndex())
                            << "transparent at " << x << "," << y;
                }
        }
    }
}

TEST(GifTools, OthersReadOurFiles)
{
    RX_REQUIRE_TOOL(rxtest::HavePillow(), "Pillow");
    RX_REQUIRE_TOOL(rxtest::HaveTool("giftopnm") && rxtest::HaveTool("giftext"), "netpbm or giflib-tools");
    const std::string dir = rxtest::ScratchDir() + "/gif";
    ASSERT_EQ(rxtest::Run("mkdir -p " + rxtest::Quote(dir)), 0);
    struct Written {
        std::string path;
        std::vector<int> indices;
        Bytes palette;
        rxtest::RgbImage colours;
        std::string comment;
        int delay, disposal, trans;
    };
    std::vector<Written> written;
    std::mt19937 rng(46);
    int n = 0;
    for (int option = 0; option < 3; ++option)
        for (int bpp : {1, 4, 8})
            for (const auto& [w, h] : {std::pair<long, long>{1, 1}, {7, 3}, {33, 5}, {300, 7}}) {
                std::vector<int> px(size_t(w * h));
                for (size_t i = 0; i < px.size(); ++i)
                    px[i] = n % 2 && i && rng() % 5 ? px[i - 1] : int(rng() % (1u << bpp));
                RxImageGIF gif;
                Fill(gif, w, h, bpp, px, option);
                const std::string comment = n % 3 ? "case " + std::to_string(n) : "";
                const int trans = n % 2 ? 1 : -1;
                gif.SetComment(comment.c_str());
                gif.SetTransIndex(trans);
                gif.SetFrameDelay(DWORD(n * 10));
                gif.SetDisposalMethod(n % 4);
                const std::string path = dir + "/g" + std::to_string(n++);
                ASSERT_TRUE(rxtest::WriteFile(path + ".gif", EncodeGif(gif)));
                const BYTE* pal = reinterpret_cast<const BYTE*>(gif.GetPalette());
                Bytes rgb;
                for (int i = 0; i < (1 << bpp); ++i)
                    rgb.insert(rgb.end(), {pal[i * 4 + 2], pal[i * 4 + 1], pal[i * 4]});
                written.push_back({path, px, rgb, rxtest::PixelsOf(gif), comment, n * 10 - 10, (n - 1) % 4, trans});
            }
    // 24-bit pictures go out as mosaics of 17 x 15 tiles: many tiles, and at most one tile
    // wide or high (the first tile then differs from the screen in one side only), read back
    // whole by us and by Pillow's composition of the last frame.
    std::vector<std::pair<std::string, rxtest::RgbImage>> mosaics;
    for (const auto& [w, h] : {std::pair<DWORD, DWORD>{40, 33}, {10, 40}, {1, 16}, {17, 31}, {18, 15}, {40, 1}, {16, 15}}) {
        RxImage mosaic(w, h, 24);
        rxtest::FillRandom(mosaic, 47, false);
        const std::string name = "mosaic" + std::to_string(w) + "x" + std::to_string(h);
        SCOPED_TRACE(name);
        BYTE* buffer = nullptr;
        long size = 0;
        ASSERT_TRUE(mosaic.Encode(buffer, size, RXIMAGE_FORMAT_GIF));
        ASSERT_TRUE(rxtest::WriteFile(dir + "/" + name + ".gif", Bytes(buffer, buffer + size)));
        RxImage back;
        EXPECT_TRUE(back.Decode(buffer, DWORD(size), RXIMAGE_FORMAT_GIF));
        std::free(buffer);
        EXPECT_TRUE(rxtest::PixelsOf(back) == rxtest::PixelsOf(mosaic));
        mosaics.emplace_back(name, rxtest::PixelsOf(mosaic));
    }
    ASSERT_EQ(rxtest::Run(rxtest::Quote(rxtest::Python()) + " " + rxtest::Quote(rxtest::Script("make_gif_fixtures.py")) +
                          " read " + rxtest::Quote(dir)),
              0);
    for (const auto& [name, pixels] : mosaics)
        EXPECT_TRUE(rxtest::ReadImage(dir + "/" + name + ".last.ppm") == pixels)
            << name << ": Pillow's composition";
    for (const Written& wr : written) {
        SCOPED_TRACE(wr.path);
        Bytes idx, comment;
        ASSERT_TRUE(rxtest::ReadFile(wr.path + ".idx", idx));
        ASSERT_TRUE(rxtest::ReadFile(wr.path + ".txt", comment));
        ASSERT_EQ(idx.size(), wr.indices.size() + 768);
        EXPECT_TRUE(std::equal(wr.indices.begin(), wr.indices.end(), idx.begin())) << "Pillow's indices";
        EXPECT_TRUE(std::equal(wr.palette.begin(), wr.palette.end(), idx.begin() + long(wr.indices.size())));
        EXPECT_EQ(std::string(comment.begin(), comment.end()), wr.comment);
        EXPECT_TRUE(rxtest::ReadImage(wr.path + ".nb.ppm") == wr.colours) << "giftopnm's colours";
        std::string text;
        ASSERT_EQ(rxtest::Run("giftext " + rxtest::Quote(wr.path + ".gif"), &text), 0);
        for (const std::string& line : {"DelayTime: " + std::to_string(wr.delay), "Disposal Mode: " + std::to_string(wr.disposal),
                                        "Transparent Index: " + std::to_string(wr.trans)})
            EXPECT_NE(text.find(line), std::string::npos) << line;
    }
}

// A code writer for hand-made data: LSB first, widths grown as a decoder grows them.
Bytes PackCodes(const std::vector<int>& codes, int codeSize)
{
    Bytes data;
    const int clear = 1 << codeSize;
    int width = codeSize + 1, next = clear + 2;
    bool first = true;
    size_t bit = 0;
    for (int code : codes) {
        for (int i = 0; i < width; ++i, ++bit) {
            if (bit % 8 == 0)
                data.push_back(0);
            data.back() |= BYTE(((code >> i) & 1) << (bit % 8));
        }
        if (code == clear) {
            width = codeSize + 1, next = clear + 2, first = true;
            continue;
        }
        if (!first && next < 4096 && ++next == (1 << width) && width < 12)
            ++width;
        first = false;
    }
    Bytes blocks{BYTE(codeSize)};
    for (size_t i = 0; i < data.size(); i += 255) {
        const size_t n = std::min<size_t>(255, data.size() - i);
        blocks.push_back(BYTE(n));
        blocks.insert(blocks.end(), data.begin() + long(i), data.begin() + long(i + n));
    }
    blocks.push_back(0);
    return blocks;
}

// Replaces the first image's data of an encoded file.
Bytes WithData(Bytes g, const Bytes& data)
{
    const size_t at = ImageData(g);
    g.resize(at);
    g.insert(g.end(), data.begin(), data.end());
    g.push_back(0x3B);
    return g;
}

TEST(GifHostile, MalformedFrames)
{
    std::vector<int> px(3 * 20);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = int(i % 7);
    RxImageGIF tall;
    Fill(tall, 3, 20, 8, px, 1);
    const Bytes g = EncodeGif(tall);
    const size_t desc = ImageData(g) - 10; // the image separator
    auto patched = [&](size_t at, std::initializer_list<BYTE> bytes) {
        Bytes p = g;
        std::copy(bytes.begin(), bytes.end(), p.begin() + long(at));
        return p;
    };
    // More data than the frame holds: the rows past it are ignored.
    RxImage cut;
    ASSERT_TRUE(DecodeGif(cut, patched(desc + 7, {2, 0}) /* frame height */));
    const std::vector<int> cutRows = IndicesOf(cut);
    EXPECT_TRUE(std::equal(px.begin(), px.begin() + 6, cutRows.begin()));
    // Interlaced frames of 1 to 9 rows: passes start at 0, 4, 2, 1 with steps 8, 8, 4, 2.
    for (BYTE h = 1; h <= 9; ++h) {
        RxImage image;
        Bytes p = patched(desc + 7, {h, 0});
        p[desc + 9] |= 0x40;
        ASSERT_TRUE(DecodeGif(image, p)) << int(h);
        std::vector<int> order;
        for (const auto& [start, step] : {std::pair<int, int>{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int r = start; r < h; r += step)
                order.push_back(r);
        for (size_t i = 0; i < order.size(); ++i)
            EXPECT_EQ(image.GetPixelIndex(1, 19 - order[i]), px[i * 3 + 1]) << int(h) << " rows";
    }
    // A frame of width 0, and one passing the screen.
    RxImage zero, passing;
    EXPECT_TRUE(DecodeGif(zero, patched(desc + 5, {0, 0})));
    EXPECT_FALSE(DecodeGif(passing, patched(desc + 1, {1, 0})));
    EXPECT_EQ(passing.GetNumFrames(), 0);
    // A prefix chain through every table slot: each code names the slot being made.
    std::vector<int> chain{256, 1};
    for (int code = 258; code < 4096; ++code)
        chain.push_back(code);
    chain.push_back(257);
    RxImage deep;
    ASSERT_TRUE(DecodeGif(deep, WithData(g, PackCodes(chain, 8))));
    EXPECT_EQ(deep.GetPixelIndex(2, 19), 1);
    // Bad codes: the decoder goes on at the next image separator after a zero byte.
    RxImageGIF second;
    Fill(second, 3, 20, 8, std::vector<int>(60, 4), 0);
    Bytes bad = TwoFrames(tall, second);
    const Bytes junk = PackCodes({256, 1, 3000, 2, 2, 257}, 8);
    const Bytes firstFrame = WithData(g, junk);
    bad.erase(bad.begin(), bad.begin() + long(g.size() - 1));
    bad.insert(bad.begin(), firstFrame.begin(), firstFrame.end() - 1);
    RxImage resync;
    resync.SetFrame(1);
    ASSERT_TRUE(DecodeGif(resync, bad));
    EXPECT_EQ(IndicesOf(resync), std::vector<int>(60, 4));
}

TEST(GifHostile, EveryPrefixAndShortWrites)
{
    std::string dir;
    const std::vector<Fixture> fixtures = GifFixtures(dir);
    RX_REQUIRE_TOOL(!fixtures.empty(), "Pillow, netpbm or giflib-tools");
    for (const char* name : {"pil_wide", "pil_interlaced", "pil_frames", "pil_disposal2", "gb_local"}) {
        SCOPED_TRACE(name);
        Bytes file;
        ASSERT_TRUE(rxtest::ReadFile(dir + "/" + name + ".gif", file));
        RxImage whole;
        ASSERT_TRUE(DecodeGif(whole, file));
        const std::vector<int> full = IndicesOf(whole);
        for (size_t n = 0; n < file.size(); ++n)
            for (long frame : {0L, 3L}) {
                RxImage part;
                part.SetFrame(frame);
                if (!DecodeGif(part, Bytes(file.begin(), file.begin() + long(n))) || frame || name[4] != 'w')
                    continue;
                // A cut plain frame: what arrived, then index 0.
                const std::vector<int> got = IndicesOf(part);
                size_t k = 0;
                while (k < got.size() && got[k] == full[k])
                    ++k;
                ASSERT_TRUE(std::all_of(got.begin() + long(k), got.end(), [](int v) { return v == 0; })) << n;
            }
    }
    for (int option = 0; option < 3; ++option) {
        RxImageGIF gif;
        Fill(gif, 7, 3, 8, std::vector<int>(21, 3), option);
        gif.SetComment("c");
        const size_t total = EncodeGif(gif).size();
        for (size_t n = 0; n < total; ++n) {
            FailingFile file(n);
            EXPECT_FALSE(gif.Encode(&file)) << "option " << option << ", " << n << " bytes";
            EXPECT_STREQ(gif.GetLastError(), "Write Error in GIF file");
        }
    }
}


// A screen of w x h with a two-entry global table, then the given blocks.
Bytes ScreenThen(uint16_t w, uint16_t h, const Bytes& blocks)
{
    const BYTE head[] = {'G', 'I', 'F', '8', '9', 'a', BYTE(w), BYTE(w >> 8), BYTE(h), BYTE(h >> 8),
                         0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    // Sized once and filled in place: GCC 12 at -O3 misreads a grow-by-insert here as an
    // out-of-bounds copy.
    Bytes g(sizeof head + blocks.size());
    std::copy(std::begin(head), std::end(head), g.begin());
    std::copy(blocks.begin(), blocks.end(), g.begin() + long(sizeof head));
    return g;
}

// Every refusal leaves a reason: bytes in, exact text out.
TEST(GifHostile, EveryRefusalSaysWhy)
{
    const Bytes frame1x1{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0}; // codes clear, 0, end
    const Bytes frame0x0{0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0x44, 0x01, 0};
    struct Case {
        const char* name;
        Bytes file;
        long escape;
        const char* reason;
    };
    const Case cases[] = {
        {"extension cut after its introducer", ScreenThen(1, 1, {0x21}), 0, "Corrupted GIF: extension cut short"},
        {"extension cut after its label", ScreenThen(1, 1, {0x21, 0xFE}), 0, "Corrupted GIF: extension cut short"},
        {"application block cut", ScreenThen(1, 1, {0x21, 0xFF, 11, 'N', 'E'}), 0,
         "Corrupted GIF: extension cut short"},
        {"application block of 5 bytes", ScreenThen(1, 1, {0x21, 0xFF, 5, 1, 2, 3, 4, 5, 0, 0x3B}), 0,
         "Corrupted GIF: application extension block size not 11"},
        {"image descriptor cut", ScreenThen(1, 1, {0x2C, 0, 0, 0, 0}), 0, "Corrupted GIF: image descriptor cut short"},
        {"screen of no pixels", ScreenThen(0, 0, frame0x0), 0,
         "RxImage::Create : width and height must be greater than zero"},
        {"cancelled", ScreenThen(1, 1, frame1x1), 1, "Cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RxImage image;
        image.SetEscape(c.escape);
        EXPECT_FALSE(DecodeGif(image, c.file));
        EXPECT_STREQ(image.GetLastError(), c.reason);
        EXPECT_FALSE(image.IsValid());
    }
    RxImageGIF direct;
    EXPECT_FALSE(direct.Decode(nullptr));
    EXPECT_STREQ(direct.GetLastError(), "null file handler");

    // Every cut of a two-frame file with a comment decodes or says why.
    RxImageGIF one, two;
    Fill(one, 4, 3, 8, std::vector<int>(12, 1), 0);
    one.SetComment("cut");
    Fill(two, 2, 2, 8, std::vector<int>(4, 2), 0);
    const Bytes both = TwoFrames(one, two);
    for (size_t n = 0; n < both.size(); ++n)
        for (long frame : {0L, 1L}) {
            RxImage part;
            part.SetFrame(frame);
            if (!DecodeGif(part, Bytes(both.begin(), both.begin() + long(n)))) {
                EXPECT_STRNE(part.GetLastError(), "") << n << " bytes, frame " << frame;
            }
        }
}

// A later frame with a wider table deepens a 1-bit screen; at 46341 x 46341 the 8-bit screen
// passes the library's size limit, and the decode fails instead of returning no pixels.
TEST(GifHostile, ScreenThatCannotDeepenFails)
{
    Bytes wide{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x87}; // a 256-entry table starting as the global one
    Bytes table(768, 0);
    std::fill(table.begin() + 3, table.begin() + 6, 255);
    wide.insert(wide.end(), table.begin(), table.end());
    const Bytes codes = PackCodes({256, 0, 257}, 8);
    wide.insert(wide.end(), codes.begin(), codes.end());
    Bytes blocks{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0};
    blocks.insert(blocks.end(), wide.begin(), wide.end());
    // Enough data bytes, as a comment, for the screen to pass the data-size check.
    blocks.insert(blocks.end(), {0x21, 0xFE});
    for (int i = 0; i < 1100; ++i) {
        blocks.push_back(255);
        blocks.insert(blocks.end(), 255, 0);
    }
    blocks.insert(blocks.end(), {0, 0x3B});
    RxImage image;
    image.SetFrame(1);
    EXPECT_FALSE(DecodeGif(image, ScreenThen(46341, 46341, blocks)));
    EXPECT_STREQ(image.GetLastError(), "RXIMAGE_MAX_MEMORY exceeded");
    EXPECT_FALSE(image.IsValid());
}

} // namespace
