// The bitmap services metafiles draw through: DIBs of every depth and compression against
// Pillow's decoding of the same bytes, all 256 raster operations against their truth
// tables, mirroring and stretching against exact index arithmetic, AlphaBlend against
// numpy, parallelograms, masks, gradients, and the clip region honoured by each of them.
#include "platform/Gdi.h"
#include "platform/GdiPixels.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <unistd.h>

namespace {

struct Memory {
    HDC dc;
    HBITMAP bm;
    int w, h;
    Memory(int width, int height) : w(width), h(height)
    {
        dc = CreateCompatibleDC(nullptr);
        bm = CreateCompatibleBitmap(dc, w, h);
        SelectObject(dc, bm);
    }
    ~Memory()
    {
        DeleteDC(dc);
        DeleteObject(bm);
    }
    std::vector<uint8_t> pixels() const { return platform::BitmapPixels(bm, nullptr, nullptr); }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    void random(uint32_t seed)
    {
        std::mt19937 rng(seed);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                SetPixel(dc, x, y, rng() & 0xFFFFFF);
    }
};

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

struct TempDir {
    std::string path;
    TempDir()
    {
        path = std::string(ORBEL_BINARY_DIR) + "/platform-blit-" + std::to_string(getpid());
        EXPECT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0);
    }
    ~TempDir() { EXPECT_EQ(std::system(("rm -rf '" + path + "'").c_str()), 0); }
};

std::string runScript(const std::string& script, const std::string& args)
{
    std::string cmd =
        OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/platform/scripts/" + script) + " " + args;
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    for (int c; (c = fgetc(p)) != EOF;)
        out.push_back(char(c));
    EXPECT_EQ(pclose(p), 0) << cmd;
    return out;
}

// Each BMP file's pixels through StretchDIBits, SetDIBitsToDevice and CreateDIBitmap,
// against Pillow's (numpy's) decoding of the same bytes.
TEST(GdiDibFormats, EveryDepthAndCompressionDecodesAsPillowDoes)
{
    ORBEL_REQUIRE_PYTHON_MODULE("PIL", "python3-pil");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    TempDir dir;
    std::istringstream list(runScript("dib_reference.py", "'" + dir.path + "'"));
    std::string name;
    int w, h, tolerance, cases = 0;
    while (list >> name >> w >> h >> tolerance) {
        SCOPED_TRACE(name);
        ++cases;
        std::vector<uint8_t> file = readFile(dir.path + "/" + name + ".bmp");
        std::vector<uint8_t> rgb = readFile(dir.path + "/" + name + ".rgb");
        ASSERT_GT(file.size(), 54u);
        ASSERT_EQ(rgb.size(), size_t(w) * size_t(h) * 3u);
        const auto* info = reinterpret_cast<const BITMAPINFO*>(&file[14]);
        const void* bits = &file[le32(&file[10])];
        Memory a(w + 2, h + 2), b(w + 2, h + 2);
        EXPECT_EQ(StretchDIBits(a.dc, 1, 1, w, h, 0, 0, w, h, bits, info, DIB_RGB_COLORS, SRCCOPY), h);
        EXPECT_EQ(SetDIBitsToDevice(b.dc, 1, 1, DWORD(w), DWORD(h), 0, 0, 0, UINT(h), bits, info, DIB_RGB_COLORS), h);
        HBITMAP made = CreateDIBitmap(nullptr, &info->bmiHeader, CBM_INIT, bits, info, DIB_RGB_COLORS);
        ASSERT_TRUE(made);
        HDC md = CreateCompatibleDC(nullptr);
        SelectObject(md, made);
        int worst = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t* want = &rgb[(size_t(y) * size_t(w) + size_t(x)) * 3];
                for (COLORREF got : {a.at(x + 1, y + 1), b.at(x + 1, y + 1), GetPixel(md, x, y)}) {
                    worst = std::max({worst, std::abs(int(GetRValue(got)) - want[0]),
                                      std::abs(int(GetGValue(got)) - want[1]), std::abs(int(GetBValue(got)) - want[2])});
                }
            }
        EXPECT_LE(worst, tolerance);
        EXPECT_EQ(a.at(0, 0), 0u); // nothing outside the destination
        DeleteDC(md);
        DeleteObject(made);
    }
    EXPECT_EQ(cases, 15);
}

// Moves and odd 4-bit literal runs, worked by hand (Pillow stops at a move and loses its
// place after an odd 4-bit literal run). Pixels a move skips take the table's first colour.
TEST(GdiDibFormats, RleMovesAndOddLiteralRunsAsTheFormatDefines)
{
    const uint8_t table[16] = {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}; // black, red, green, blue
    const COLORREF colour[4] = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
    struct Case {
        const char* name;
        int bpp, w, h;
        std::vector<uint8_t> data;
        std::vector<std::vector<int>> rows; // top-down indices
    } cases[] = {
        {"8-bit runs, a literal run and a move", 8, 5, 3,
         {2, 1, 0, 3, 2, 3, 2, 0, 0, 0, /* next row */ 1, 3, 0, 2, 2, 1, /* on row 2 at x 3 */ 2, 2, 0, 1},
         {{0, 0, 0, 2, 2}, {3, 0, 0, 0, 0}, {1, 1, 2, 3, 2}}},
        {"4-bit odd literal run", 4, 5, 1, {0, 5, 0x12, 0x31, 0x20, 0, 0, 1}, {{1, 2, 3, 1, 2}}},
        {"4-bit run alternating its two indices", 4, 5, 1, {5, 0x13, 0, 1}, {{1, 3, 1, 3, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> info(40 + sizeof table);
        BITMAPINFOHEADER hdr{40, c.w, c.h, 1, WORD(c.bpp), DWORD(c.bpp == 8 ? BI_RLE8 : BI_RLE4), DWORD(c.data.size()),
                             0, 0, 4, 0};
        std::memcpy(info.data(), &hdr, 40);
        std::memcpy(info.data() + 40, table, sizeof table);
        Memory m(c.w, c.h);
        ASSERT_EQ(StretchDIBits(m.dc, 0, 0, c.w, c.h, 0, 0, c.w, c.h, c.data.data(),
                                reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS, SRCCOPY),
                  c.h);
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                EXPECT_EQ(m.at(x, y), colour[c.rows[size_t(y)][size_t(x)]]) << x << "," << y;
    }
    // A picture cut short keeps what its bytes hold and reads nothing past them.
    const uint8_t cut[] = {5, 1, 0, 0, 3};
    auto* header = new uint8_t[40 + sizeof table];
    BITMAPINFOHEADER hdr{40, 5, 2, 1, 8, BI_RLE8, sizeof cut, 0, 0, 4, 0};
    std::memcpy(header, &hdr, 40);
    std::memcpy(header + 40, table, sizeof table);
    auto* bytes = new uint8_t[sizeof cut];
    std::memcpy(bytes, cut, sizeof cut);
    Memory m(5, 2);
    EXPECT_EQ(StretchDIBits(m.dc, 0, 0, 5, 2, 0, 0, 5, 2, bytes, reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS,
                            SRCCOPY),
              2);
    EXPECT_EQ(m.at(4, 1), RGB(255, 0, 0));
    delete[] bytes;
    delete[] header;
}

// 5- and 6-bit channels widen by repeating their top bits, as worked here by hand.
TEST(GdiDibFormats, SixteenBitChannelsWidenByBitRepetition)
{
    struct Case {
        uint16_t pixel;
        bool fields565;
        COLORREF want;
    } cases[] = {
        {0x7FFF, false, RGB(255, 255, 255)}, {0x0000, false, RGB(0, 0, 0)},
        {0x4210, false, RGB(132, 132, 132)}, // 10000 -> 10000100
        {0x0421, false, RGB(8, 8, 8)},       // 00001 -> 00001000
        {0xFFFF, true, RGB(255, 255, 255)},  {0x0820, true, RGB(8, 4, 0)}, // 00001, 000001
        {0x8410, true, RGB(132, 130, 132)},  // 10000, 100000 -> 10000010
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pixel) + (c.fields565 ? " 565" : " 555"));
        uint8_t info[52] = {};
        BITMAPINFOHEADER hdr{40, 1, 1, 1, 16, DWORD(c.fields565 ? BI_BITFIELDS : BI_RGB), 0, 0, 0, 0, 0};
        std::memcpy(info, &hdr, 40);
        const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
        std::memcpy(info + 40, masks, 12);
        uint8_t bits[4] = {uint8_t(c.pixel), uint8_t(c.pixel >> 8), 0, 0};
        Memory m(1, 1);
        StretchDIBits(m.dc, 0, 0, 1, 1, 0, 0, 1, 1, bits, reinterpret_cast<BITMAPINFO*>(info), DIB_RGB_COLORS, SRCCOPY);
        EXPECT_EQ(m.at(0, 0), c.want);
    }
}

// DIB_PAL_COLORS tables index the selected palette.
TEST(GdiDibFormats, PaletteIndicesResolveThroughTheSelectedPalette)
{
    std::vector<uint8_t> lp(4 + 3 * 4);
    lp[0] = 0x00;
    lp[1] = 0x03; // version 0x300
    lp[2] = 3;    // three entries
    const PALETTEENTRY entries[3] = {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}};
    std::memcpy(&lp[4], entries, sizeof entries);
    HPALETTE pal = CreatePalette(reinterpret_cast<const LOGPALETTE*>(lp.data()));
    ASSERT_TRUE(pal);
    Memory m(4, 1);
    SelectPalette(m.dc, pal, FALSE);
    uint8_t info[40 + 4 * 2] = {};
    BITMAPINFOHEADER hdr{40, 4, 1, 1, 8, BI_RGB, 0, 0, 0, 4, 0};
    std::memcpy(info, &hdr, 40);
    const uint16_t table[4] = {2, 0, 1, 7}; // 7: past the palette
    std::memcpy(info + 40, table, sizeof table);
    const uint8_t bits[4] = {0, 1, 2, 3};
    EXPECT_EQ(StretchDIBits(m.dc, 0, 0, 4, 1, 0, 0, 4, 1, bits, reinterpret_cast<BITMAPINFO*>(info), DIB_PAL_COLORS,
                            SRCCOPY),
              1);
    EXPECT_EQ(m.at(0, 0), RGB(70, 80, 90));
    EXPECT_EQ(m.at(1, 0), RGB(10, 20, 30));
    EXPECT_EQ(m.at(2, 0), RGB(40, 50, 60));
    EXPECT_EQ(m.at(3, 0), RGB(0, 0, 0));
    SelectPalette(m.dc, nullptr, FALSE);
    DeleteObject(pal);
}

// Result of a raster operation worked bit by bit from its truth table: bit (p s d) of the code.
uint32_t truthTable(uint8_t code, uint32_t p, uint32_t s, uint32_t d)
{
    uint32_t out = 0;
    for (int bit = 0; bit < 24; ++bit) {
        const int index = int((p >> bit) & 1) << 2 | int((s >> bit) & 1) << 1 | int((d >> bit) & 1);
        out |= uint32_t((code >> index) & 1) << bit;
    }
    return out;
}

TEST(GdiRasterOps, All256CodesFollowTheirTruthTables)
{
    const int W = 19; // past any unrolled run
    Memory src(W, 1), dst(W, 1);
    src.random(1);
    std::mt19937 rng(2);
    std::vector<COLORREF> before(W);
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        const COLORREF pattern = rng() & 0xFFFFFF;
        HBRUSH brush = CreateSolidBrush(pattern);
        HGDIOBJ old = SelectObject(dst.dc, brush);
        for (int x = 0; x < W; ++x)
            SetPixel(dst.dc, x, 0, before[size_t(x)] = rng() & 0xFFFFFF);
        const DWORD rop = DWORD(code) << 16;
        ASSERT_TRUE(BitBlt(dst.dc, 0, 0, W, 1, src.dc, 0, 0, rop));
        auto word = [](COLORREF c) { return uint32_t(GetBValue(c)) | uint32_t(GetGValue(c)) << 8 | uint32_t(GetRValue(c)) << 16; };
        auto colour = [](uint32_t v) { return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); };
        for (int x = 0; x < W; ++x)
            ASSERT_EQ(dst.at(x, 0), colour(truthTable(uint8_t(code), word(pattern), word(src.at(x, 0)), word(before[size_t(x)]))))
                << "pixel " << x;
        // PatBlt takes the codes that read no source, and refuses the others.
        for (int x = 0; x < W; ++x)
            SetPixel(dst.dc, x, 0, before[size_t(x)]);
        const bool readsSource = ((code >> 2) & 0x33) != (code & 0x33);
        EXPECT_EQ(PatBlt(dst.dc, 0, 0, W, 1, rop), readsSource ? FALSE : TRUE);
        for (int x = 0; x < W && !readsSource; ++x) {
            ASSERT_EQ(dst.at(x, 0), colour(truthTable(uint8_t(code), word(pattern), 0, word(before[size_t(x)]))));
        }
        SelectObject(dst.dc, old);
        DeleteObject(brush);
    }
    // The named codes mean what their names say.
    struct Named {
        DWORD rop;
        std::function<uint32_t(uint32_t, uint32_t, uint32_t)> f;
    } named[] = {
        {SRCCOPY, [](uint32_t, uint32_t s, uint32_t) { return s; }},
        {SRCPAINT, [](uint32_t, uint32_t s, uint32_t d) { return s | d; }},
        {SRCAND, [](uint32_t, uint32_t s, uint32_t d) { return s & d; }},
        {SRCINVERT, [](uint32_t, uint32_t s, uint32_t d) { return s ^ d; }},
        {SRCERASE, [](uint32_t, uint32_t s, uint32_t d) { return s & ~d; }},
        {NOTSRCCOPY, [](uint32_t, uint32_t s, uint32_t) { return ~s; }},
        {NOTSRCERASE, [](uint32_t, uint32_t s, uint32_t d) { return ~(s | d); }},
        {MERGECOPY, [](uint32_t p, uint32_t s, uint32_t) { return p & s; }},
        {MERGEPAINT, [](uint32_t, uint32_t s, uint32_t d) { return ~s | d; }},
        {PATCOPY, [](uint32_t p, uint32_t, uint32_t) { return p; }},
        {PATPAINT, [](uint32_t p, uint32_t s, uint32_t d) { return p | ~s | d; }},
        {PATINVERT, [](uint32_t p, uint32_t, uint32_t d) { return p ^ d; }},
        {DSTINVERT, [](uint32_t, uint32_t, uint32_t d) { return ~d; }},
        {BLACKNESS, [](uint32_t, uint32_t, uint32_t) { return 0u; }},
        {WHITENESS, [](uint32_t, uint32_t, uint32_t) { return ~0u; }},
        {0x00B8074Au, [](uint32_t p, uint32_t s, uint32_t d) { return (s & d) | (~s & p); }},
        {0x00E20746u, [](uint32_t p, uint32_t s, uint32_t d) { return (s & p) | (~s & d); }},
    };
    for (const auto& n : named) {
        const uint32_t p = 0x5A3C0F, s = 0x33CC96, d = 0x0FF0A5;
        EXPECT_EQ(truthTable(uint8_t(n.rop >> 16), p, s, d), n.f(p, s, d) & 0xFFFFFF) << std::hex << n.rop;
    }
}

// A pattern painted by its holder (a hatch, a tiled picture) stands in for the brush in
// every operation that reads one, for as long as its scope lives.
TEST(GdiRasterOps, InstalledPatternRowsReplaceTheBrush)
{
    const int W = 12, H = 6;
    auto checker = [](int x, int y) { return ((x / 2 + y / 2) % 2) ? 0x00FF8000u : 0x000040FFu; };
    auto colour = [](uint32_t v) { return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF); };
    Memory src(W, H), dst(W, H);
    src.random(13);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    SelectObject(dst.dc, brush);
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> dib(size_t(W) * H);
    for (size_t i = 0; i < dib.size(); ++i)
        dib[i] = (i % 3) ? 0x00FFFFFFu : 0; // source set in two columns of three
    struct Case {
        const char* name;
        std::function<void()> draw;
        std::function<uint32_t(uint32_t p, uint32_t s, uint32_t d)> want;
        bool usesSource;
    } cases[] = {
        {"PatBlt PATCOPY", [&] { PatBlt(dst.dc, 0, 0, W, H, PATCOPY); }, [](uint32_t p, uint32_t, uint32_t) { return p; },
         false},
        {"PatBlt PATINVERT", [&] { PatBlt(dst.dc, 0, 0, W, H, PATINVERT); },
         [](uint32_t p, uint32_t, uint32_t d) { return p ^ d; }, false},
        {"BitBlt MERGECOPY", [&] { BitBlt(dst.dc, 0, 0, W, H, src.dc, 0, 0, MERGECOPY); },
         [](uint32_t p, uint32_t s, uint32_t) { return p & s; }, true},
        {"StretchDIBits through the source as mask",
         [&] { StretchDIBits(dst.dc, 0, 0, W, H, 0, 0, W, H, dib.data(), &bi, DIB_RGB_COLORS, 0x00E20746u); },
         [](uint32_t p, uint32_t s, uint32_t d) { return (s & p) | (~s & d); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dst.random(14);
        std::vector<uint8_t> before = dst.pixels();
        {
            platform::gdi::PatternScope scope(dst.dc, [&](int x, int y, int n, uint32_t* out) {
                for (int i = 0; i < n; ++i)
                    out[i] = checker(x + i, y);
            });
            c.draw();
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const size_t i = (size_t(y) * W + size_t(x)) * 4;
                const uint32_t d = uint32_t(before[i]) | uint32_t(before[i + 1]) << 8 | uint32_t(before[i + 2]) << 16;
                const COLORREF sc = src.at(x, y);
                const uint32_t s = c.usesSource ? (uint32_t(GetBValue(sc)) | uint32_t(GetGValue(sc)) << 8 |
                                                   uint32_t(GetRValue(sc)) << 16)
                                                : dib[size_t(y) * W + size_t(x)];
                ASSERT_EQ(dst.at(x, y), colour(c.want(checker(x, y), s, d) & 0xFFFFFF)) << x << "," << y;
            }
    }
    // The scope gone, the brush is the pattern again.
    PatBlt(dst.dc, 0, 0, W, H, PATCOPY);
    EXPECT_EQ(dst.at(5, 3), RGB(1, 2, 3));
    SelectObject(dst.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
}

// Mirroring by either extent's sign reverses exactly; whole-number enlargement repeats.
TEST(GdiStretch, NegativeExtentsMirrorAndWholeFactorsRepeat)
{
    const int W = 7, H = 5;
    Memory src(W, H);
    src.random(3);
    struct Case {
        int x, y, w, h, xs, ys, ws, hs;
        bool flipX, flipY;
        int factor;
    } cases[] = {
        {0, 0, W, H, 0, 0, W, H, false, false, 1},     {W, 0, -W, H, 0, 0, W, H, true, false, 1},
        {0, H, W, -H, 0, 0, W, H, false, true, 1},     {0, 0, W, H, W, H, -W, -H, true, true, 1},
        {W, H, -W, -H, W, H, -W, -H, false, false, 1}, {0, 0, 3 * W, 2 * H, 0, 0, W, H, false, false, 0},
        {3 * W, 0, -3 * W, 2 * H, 0, 0, W, H, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " from " + std::to_string(c.ws) + " x " +
                     std::to_string(c.hs));
        const int dw = std::abs(c.w), dh = std::abs(c.h);
        for (int mode : {COLORONCOLOR, HALFTONE}) {
            Memory dst(dw, dh);
            SetStretchBltMode(dst.dc, mode);
            ASSERT_TRUE(StretchBlt(dst.dc, c.x, c.y, c.w, c.h, src.dc, c.xs, c.ys, c.ws, c.hs, SRCCOPY));
            const int fx = dw / W, fy = dh / H;
            for (int y = 0; y < dh; ++y)
                for (int x = 0; x < dw; ++x) {
                    int sx = x / fx, sy = y / fy;
                    if (c.flipX)
                        sx = W - 1 - sx;
                    if (c.flipY)
                        sy = H - 1 - sy;
                    ASSERT_EQ(dst.at(x, y), src.at(sx, sy)) << x << "," << y;
                }
        }
    }
    // The same through StretchDIBits: a bottom-up DIB's rows count from its bottom.
    const uint8_t rows[2][4] = {{0, 0, 255, 0}, {255, 0, 0, 0}}; // stored: bottom row red... as BGR0
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, 1, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Memory d(1, 2);
    StretchDIBits(d.dc, 0, 0, 1, 2, 0, 0, 1, 2, rows, &bi, DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(d.at(0, 1), RGB(255, 0, 0)); // stored first: the bottom row
    EXPECT_EQ(d.at(0, 0), RGB(0, 0, 255));
    StretchDIBits(d.dc, 0, 2, 1, -2, 0, 0, 1, 2, rows, &bi, DIB_RGB_COLORS, SRCCOPY);
    EXPECT_EQ(d.at(0, 0), RGB(255, 0, 0));
    StretchDIBits(d.dc, 0, 0, 1, 1, 0, 1, 1, 1, rows, &bi, DIB_RGB_COLORS, SRCCOPY); // the row one up from the bottom
    EXPECT_EQ(d.at(0, 0), RGB(0, 0, 255));
}

// AlphaBlend against numpy's floating-point blend of the same pixels.
TEST(GdiAlpha, ConstantAndPerPixelAlphaMatchNumpy)
{
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    const int W = 16, H = 16;
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* raw = nullptr;
    HBITMAP srcBm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &raw, nullptr, 0);
    ASSERT_TRUE(srcBm);
    auto* sp = static_cast<uint8_t*>(raw);
    std::mt19937 rng(5);
    for (int i = 0; i < W * H; ++i) { // premultiplied: no channel above alpha
        const uint8_t a = uint8_t(rng());
        sp[i * 4 + 3] = a;
        for (int c = 0; c < 3; ++c)
            sp[i * 4 + c] = uint8_t(a ? rng() % (a + 1u) : 0);
    }
    // The same pixels as a DIB section and as a bitmap made from the DIB's bytes.
    HBITMAP madeBm = CreateDIBitmap(nullptr, &bi.bmiHeader, CBM_INIT, sp, &bi, DIB_RGB_COLORS);
    ASSERT_TRUE(madeBm);
    HDC madeDc = CreateCompatibleDC(nullptr);
    SelectObject(madeDc, madeBm);
    HDC srcDc = CreateCompatibleDC(nullptr);
    SelectObject(srcDc, srcBm);
    TempDir dir;
    {
        std::ofstream f(dir.path + "/alpha.src", std::ios::binary);
        f.write(reinterpret_cast<const char*>(sp), W * H * 4);
    }
    for (int constant : {255, 128, 37})
        for (bool perPixel : {false, true})
            for (HDC from : {srcDc, madeDc}) {
                SCOPED_TRACE("constant " + std::to_string(constant) + (perPixel ? " per pixel" : "") +
                             (from == madeDc ? " from CreateDIBitmap" : " from a DIB section"));
                Memory dst(W, H);
                dst.random(6);
                std::vector<uint8_t> before = dst.pixels();
                {
                    std::ofstream f(dir.path + "/alpha.dst", std::ios::binary);
                    f.write(reinterpret_cast<const char*>(before.data()), std::streamsize(before.size()));
                }
                BLENDFUNCTION bf{AC_SRC_OVER, 0, BYTE(constant), BYTE(perPixel ? AC_SRC_ALPHA : 0)};
                ASSERT_TRUE(AlphaBlend(dst.dc, 0, 0, W, H, from, 0, 0, W, H, bf));
                std::string cmd = "'" + dir.path + "/alpha.src' '" + dir.path + "/alpha.dst' " + std::to_string(constant) +
                                  " " + (perPixel ? "1" : "0");
                std::string want = runScript("alpha_reference.py", cmd);
                std::vector<uint8_t> got = dst.pixels();
                ASSERT_EQ(want.size(), got.size());
                int worst = 0;
                for (size_t i = 0; i < got.size(); ++i)
                    if (i % 4 != 3)
                        worst = std::max(worst, std::abs(int(got[i]) - int(uint8_t(want[i]))));
                EXPECT_LE(worst, 1);
            }
    BLENDFUNCTION bad{1, 0, 255, 0};
    Memory dst(2, 2);
    EXPECT_FALSE(AlphaBlend(dst.dc, 0, 0, 2, 2, srcDc, 0, 0, 2, 2, bad));
    EXPECT_FALSE(AlphaBlend(dst.dc, 0, 0, -2, 2, srcDc, 0, 0, 2, 2, BLENDFUNCTION{AC_SRC_OVER, 0, 255, 0}));
    DeleteDC(srcDc);
    DeleteObject(srcBm);
    DeleteDC(madeDc);
    DeleteObject(madeBm);
}

// Parallelograms that are turns and mirrors of the source rectangle land pixel for pixel;
// masks choose between the two operations of MaskBlt and clip PlgBlt.
TEST(GdiShapedBlits, ParallelogramsAndMasks)
{
    const int W = 6, H = 4;
    Memory src(W, H);
    src.random(7);
    struct Case {
        POINT p[3];
        std::function<POINT(int, int)> where; // where source pixel (x, y) lands
    } cases[] = {
        {{{2, 3}, {2 + W, 3}, {2, 3 + H}}, [](int x, int y) { return POINT{2 + x, 3 + y}; }},
        {{{2 + W, 3}, {2, 3}, {2 + W, 3 + H}}, [](int x, int y) { return POINT{2 + W - 1 - x, 3 + y}; }},
        // A quarter turn counter-clockwise: the top edge runs up the left side.
        {{{1, 1 + W}, {1, 1}, {1 + H, 1 + W}}, [](int x, int y) { return POINT{1 + y, W - x}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.p[0].x) + "," + std::to_string(c.p[0].y));
        Memory dst(12, 12);
        ASSERT_TRUE(PlgBlt(dst.dc, c.p, src.dc, 0, 0, W, H, nullptr, 0, 0));
        int lit = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                POINT q = c.where(x, y);
                ASSERT_EQ(dst.at(q.x, q.y), src.at(x, y)) << x << "," << y;
            }
        std::vector<uint8_t> px = dst.pixels();
        for (size_t i = 0; i < px.size(); i += 4)
            lit += px[i] || px[i + 1] || px[i + 2];
        EXPECT_LE(lit, W * H);
    }
    // A checkerboard mask: white squares take the source, black ones keep the destination.
    Memory maskSrc(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            SetPixel(maskSrc.dc, x, y, (x + y) % 2 ? RGB(255, 255, 255) : 0);
    Memory dst(W, H), plg(W, H);
    dst.random(8);
    std::vector<uint8_t> before = dst.pixels();
    ASSERT_TRUE(MaskBlt(dst.dc, 0, 0, W, H, src.dc, 0, 0, maskSrc.bm, 0, 0, MAKEROP4(SRCCOPY, 0x00AA0029)));
    const POINT same[3] = {{0, 0}, {W, 0}, {0, H}};
    ASSERT_TRUE(PlgBlt(plg.dc, same, src.dc, 0, 0, W, H, maskSrc.bm, 0, 0));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t i = (size_t(y) * W + size_t(x)) * 4;
            const COLORREF kept = RGB(before[i + 2], before[i + 1], before[i]);
            EXPECT_EQ(dst.at(x, y), (x + y) % 2 ? src.at(x, y) : kept) << x << "," << y;
            EXPECT_EQ(plg.at(x, y), (x + y) % 2 ? src.at(x, y) : 0u) << x << "," << y;
        }
}

TEST(GdiGradient, RectanglesAndTrianglesShadeBetweenTheirCorners)
{
    Memory m(40, 30);
    TRIVERTEX v[2] = {{0, 0, 0x0000, 0x8000, 0xFF00, 0}, {40, 10, 0xFF00, 0x8000, 0x0000, 0}};
    GRADIENT_RECT r{0, 1};
    ASSERT_TRUE(GradientFill(m.dc, v, 2, &r, 1, GRADIENT_FILL_RECT_H));
    for (int x = 0; x < 40; ++x) {
        const double f = x / 40.0;
        EXPECT_NEAR(GetRValue(m.at(x, 5)), 255 * f, 1.0) << x;
        EXPECT_EQ(GetGValue(m.at(x, 5)), 128) << x;
        EXPECT_NEAR(GetBValue(m.at(x, 5)), 255 * (1 - f), 1.0) << x;
        EXPECT_EQ(m.at(x, 5), m.at(x, 9));
    }
    TRIVERTEX w[2] = {{0, 10, 0, 0, 0, 0}, {40, 20, 0xFFFF, 0xFFFF, 0xFFFF, 0}};
    ASSERT_TRUE(GradientFill(m.dc, w, 2, &r, 1, GRADIENT_FILL_RECT_V));
    for (int y = 10; y < 20; ++y)
        EXPECT_NEAR(GetRValue(m.at(7, y)), 255 * (y - 10) / 10.0, 1.0) << y;
    // A right triangle: its area in pixels, its corners' colours near its corners, and the
    // mean of the three at its centroid.
    Memory t(64, 64);
    TRIVERTEX tv[3] = {{0, 0, 0xFF00, 0, 0, 0}, {60, 0, 0, 0xFF00, 0, 0}, {0, 60, 0, 0, 0xFF00, 0}};
    GRADIENT_TRIANGLE tri{0, 1, 2};
    ASSERT_TRUE(GradientFill(t.dc, tv, 3, &tri, 1, GRADIENT_FILL_TRIANGLE));
    int lit = 0;
    std::vector<uint8_t> px = t.pixels();
    for (size_t i = 0; i < px.size(); i += 4)
        lit += px[i] || px[i + 1] || px[i + 2];
    EXPECT_NEAR(lit, 60 * 60 / 2, 60);
    EXPECT_NEAR(GetRValue(t.at(0, 0)), 255, 8);
    EXPECT_NEAR(GetGValue(t.at(57, 0)), 255, 12);
    EXPECT_NEAR(GetBValue(t.at(0, 57)), 255, 12);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR((t.at(20, 20) >> (8 * c)) & 0xFF, 85, 6);
    GRADIENT_TRIANGLE outside{0, 1, 3};
    EXPECT_FALSE(GradientFill(t.dc, tv, 3, &outside, 1, GRADIENT_FILL_TRIANGLE));
}

// Every service draws only inside the context's clip region: each is drawn once freely
// and once under a two-part region; inside the region the pictures agree, outside it
// the clipped one is untouched.
TEST(GdiClipAll, EveryBitmapAndTextServiceStaysInsideTheClipRegion)
{
    const int W = 48, H = 40;
    Memory src(W, H);
    src.random(9);
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, 4, 4, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t dib[4 * 12];
    for (size_t i = 0; i < sizeof dib; ++i)
        dib[i] = uint8_t(i * 37);
    TRIVERTEX tv[3] = {{2, 2, 0xFF00, 0, 0, 0}, {46, 6, 0, 0xFF00, 0, 0}, {10, 38, 0, 0, 0xFF00, 0}};
    GRADIENT_TRIANGLE tri{0, 1, 2};
    HFONT font = CreateFontW(-22, 0, 300, 300, FW_BOLD, 0, 1, 0, 0, 0, 0, 0, 0, u"Times New Roman");
    const POINT plg[3] = {{30, 2}, {46, 20}, {12, 20}};
    struct Op {
        const char* name;
        std::function<void(HDC)> draw;
    } ops[] = {
        {"BitBlt", [&](HDC dc) { BitBlt(dc, 3, 2, 40, 30, src.dc, 1, 1, SRCINVERT); }},
        {"StretchBlt", [&](HDC dc) { StretchBlt(dc, 45, 1, -40, 37, src.dc, 0, 0, 11, 9, SRCCOPY); }},
        {"PatBlt", [&](HDC dc) { PatBlt(dc, 0, 0, W, H, PATINVERT); }},
        {"StretchDIBits", [&](HDC dc) { StretchDIBits(dc, 1, 1, 46, 38, 0, 0, 4, 4, dib, &bi, DIB_RGB_COLORS, SRCCOPY); }},
        {"SetDIBitsToDevice", [&](HDC dc) { SetDIBitsToDevice(dc, 8, 15, 4, 4, 0, 0, 0, 4, dib, &bi, DIB_RGB_COLORS); }},
        {"TransparentBlt", [&](HDC dc) { TransparentBlt(dc, 0, 0, W, H, src.dc, 0, 0, W, H, src.at(5, 5)); }},
        {"AlphaBlend",
         [&](HDC dc) { AlphaBlend(dc, 0, 0, W, H, src.dc, 0, 0, W / 2, H / 2, BLENDFUNCTION{AC_SRC_OVER, 0, 100, 0}); }},
        {"PlgBlt", [&](HDC dc) { PlgBlt(dc, plg, src.dc, 0, 0, 20, 20, nullptr, 0, 0); }},
        {"MaskBlt", [&](HDC dc) { MaskBlt(dc, 0, 0, W, H, src.dc, 0, 0, src.bm, 0, 0, MAKEROP4(SRCCOPY, NOTSRCCOPY)); }},
        {"GradientFill", [&](HDC dc) { GradientFill(dc, tv, 3, &tri, 1, GRADIENT_FILL_TRIANGLE); }},
        {"ExtTextOutW",
         [&](HDC dc) {
             SelectObject(dc, font);
             SetBkColor(dc, RGB(0, 90, 200));
             SetTextColor(dc, RGB(250, 250, 0));
             RECT rc{4, 4, 44, 36};
             ExtTextOutW(dc, 2, 30, ETO_OPAQUE, &rc, u"Wg\u00e9", 3, nullptr);
             SelectObject(dc, GetStockObject(SYSTEM_FONT));
         }},
    };
    HBRUSH brush = CreateSolidBrush(RGB(30, 200, 90));
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        Memory free(W, H), clipped(W, H);
        free.random(10);
        clipped.random(10);
        const std::vector<uint8_t> start = clipped.pixels();
        SelectObject(free.dc, brush);
        SelectObject(clipped.dc, brush);
        HRGN a = CreateRectRgn(5, 3, 20, 30), b = CreateRectRgn(25, 10, 44, 38);
        SelectClipRgn(clipped.dc, a);
        ExtSelectClipRgn(clipped.dc, b, RGN_OR);
        op.draw(free.dc);
        op.draw(clipped.dc);
        SelectClipRgn(clipped.dc, nullptr);
        const std::vector<uint8_t> full = free.pixels(), part = clipped.pixels();
        int changedInside = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const bool inside = (x >= 5 && x < 20 && y >= 3 && y < 30) || (x >= 25 && x < 44 && y >= 10 && y < 38);
                const size_t i = (size_t(y) * W + size_t(x)) * 4;
                for (size_t c = 0; c < 3; ++c)
                    ASSERT_EQ(part[i + c], inside ? full[i + c] : start[i + c]) << x << "," << y;
                changedInside += inside && full[i] != start[i];
            }
        EXPECT_GT(changedInside, 0);
        SelectObject(free.dc, GetStockObject(WHITE_BRUSH));
        SelectObject(clipped.dc, GetStockObject(WHITE_BRUSH));
        DeleteObject(a);
        DeleteObject(b);
    }
    DeleteObject(brush);
    DeleteObject(font);
}

// Random coordinates, extents, codes and DIB headers: every call returns, and touches no
// memory it does not own (the sanitizer builds watch).
TEST(GdiHostile, RandomArgumentsStayInsideTheirBuffers)
{
    std::mt19937 rng(11);
    Memory dst(37, 23), src(19, 13);
    src.random(12);
    auto coord = [&]() {
        switch (rng() % 4) {
        case 0:
            return int(rng() % 80) - 30;
        case 1:
            return int(rng() % 140000) - 70000;
        case 2:
            return (rng() & 1) ? (1 << 28) + 5 : -(1 << 28) - 5;
        default:
            return int(rng() % 8) - 4;
        }
    };
    std::vector<uint8_t> buffer(4096);
    for (int i = 0; i < 3000; ++i) {
        for (auto& b : buffer)
            b = uint8_t(rng());
        // A header the checks let through most of the time: small sizes, valid depths.
        const WORD depths[] = {1, 4, 8, 16, 24, 32};
        BITMAPINFOHEADER h{40, LONG(1 + rng() % 9), LONG(int(rng() % 19) - 9), 1, depths[rng() % 6],
                           DWORD(rng() % 4), DWORD(rng() % 200), 0, 0, DWORD(rng() % 3), 0};
        if (h.biBitCount == 8 && h.biCompression == BI_RLE8)
            h.biHeight = std::abs(h.biHeight);
        std::memcpy(buffer.data(), &h, sizeof h);
        const auto* info = reinterpret_cast<const BITMAPINFO*>(buffer.data());
        const uint8_t* bits = buffer.data() + 40 + 256 * 4; // past any table, with room for 9 x 9 x 32 bits
        const DWORD rop = DWORD(rng() % 256) << 16;
        switch (rng() % 9) {
        case 0:
            StretchDIBits(dst.dc, coord(), coord(), coord(), coord(), coord(), coord(), coord(), coord(), bits, info,
                          rng() % 3, rop);
            break;
        case 1:
            SetDIBitsToDevice(dst.dc, coord(), coord(), DWORD(coord()), DWORD(coord()), coord(), coord(),
                              UINT(rng() % 12), UINT(rng() % 12), bits, info, DIB_RGB_COLORS);
            break;
        case 2:
            StretchBlt(dst.dc, coord(), coord(), coord(), coord(), src.dc, coord(), coord(), coord(), coord(), rop);
            break;
        case 3:
            AlphaBlend(dst.dc, coord(), coord(), coord(), coord(), src.dc, coord(), coord(), coord(), coord(),
                       BLENDFUNCTION{0, 0, BYTE(rng()), BYTE(rng() % 2)});
            break;
        case 4: {
            const POINT p[3] = {{coord(), coord()}, {coord(), coord()}, {coord(), coord()}};
            PlgBlt(dst.dc, p, src.dc, coord(), coord(), coord(), coord(), (rng() & 1) ? src.bm : nullptr, coord(),
                   coord());
            break;
        }
        case 5:
            MaskBlt(dst.dc, coord(), coord(), coord(), coord(), src.dc, coord(), coord(), src.bm, coord(), coord(),
                    rop | (rng() << 24));
            break;
        case 6: {
            TRIVERTEX v[3];
            for (TRIVERTEX& t : v)
                t = TRIVERTEX{coord(), coord(), COLOR16(rng()), COLOR16(rng()), COLOR16(rng()), 0};
            const ULONG mesh[3] = {ULONG(rng() % 4), ULONG(rng() % 4), ULONG(rng() % 4)};
            GradientFill(dst.dc, v, 3, mesh, 1, rng() % 4);
            break;
        }
        case 7: {
            HBITMAP made = CreateDIBitmap(nullptr, &info->bmiHeader, CBM_INIT, bits, info, DIB_RGB_COLORS);
            if (made)
                DeleteObject(made);
            break;
        }
        default: {
            HFONT f = CreateFontW(int(rng() % 400) - 200, int(rng() % 300), int(rng() % 7200) - 3600, 0,
                                  int(rng() % 1000), rng() & 1, rng() & 1, rng() & 1, rng() % 3, 0, 0, rng() % 6,
                                  rng() % 256, (rng() & 1) ? u"Symbol" : u"Nowhere Sans");
            HGDIOBJ old = SelectObject(dst.dc, f);
            SetTextAlign(dst.dc, rng() % 32);
            INT dx[16];
            for (INT& d : dx)
                d = coord();
            RECT rc{coord(), coord(), coord(), coord()};
            ExtTextOutW(dst.dc, coord(), coord(), UINT(rng()) & (ETO_OPAQUE | ETO_CLIPPED | ETO_PDY), &rc, u"W\xe9g\xf061",
                        (rng() & 1) ? 4 : 0, (rng() & 1) ? dx : nullptr);
            SelectObject(dst.dc, old);
            DeleteObject(f);
            break;
        }
        }
    }
    SUCCEED();
}

} // namespace
