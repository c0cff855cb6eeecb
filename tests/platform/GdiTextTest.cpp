#include "platform/Gdi.h"
#include "platform/TextConv.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string fontFile()
{
    for (const char* dir : {"/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/liberation2"}) {
        std::string p = std::string(dir) + "/LiberationSans-Regular.ttf";
        if (std::ifstream(p))
            return p;
    }
    return "";
}

struct Memory {
    HDC dc;
    HBITMAP bm;
    Memory(int w, int h)
    {
        dc = CreateCompatibleDC(nullptr);
        bm = CreateCompatibleBitmap(dc, w, h);
        SelectObject(dc, bm);
    }
    ~Memory()
    {
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteDC(dc);
        DeleteObject(bm);
    }
    std::vector<uint8_t> pixels() const { return platform::BitmapPixels(bm, nullptr, nullptr); }
};

HFONT arial(int height, int escapement = 0)
{
    return CreateFontW(height, 0, escapement, escapement, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, u"Arial");
}

TEST(GdiText, ExtentsMatchAnIndependentReadingOfTheFont)
{
    std::string font = fontFile();
    ASSERT_FALSE(font.empty()) << "fonts-liberation is not installed";
    std::vector<std::pair<int, std::u16string>> cases;
    const std::u16string samples[] = {u"W : 400, L : 40", u"Patient 12345", u"Zoom x1.25 (ww/wl)", u"\u00c9t\u00e9"};
    for (int h = 6; h <= 30; ++h)
        cases.emplace_back(h, samples[h % 4]);
    for (int h : {-7, -11, -13, -16, -24})
        cases.emplace_back(h, samples[-h % 4]);
    std::string input = std::string(ORBEL_BINARY_DIR) + "/platform-extents.txt";
    {
        std::ofstream f(input);
        for (auto& c : cases)
            f << c.first << '\t' << Utf16ToUtf8(c.second) << '\n';
    }
    std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/platform/scripts/font_extents.py") + " " + font +
                      " < " + input;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    Memory m(10, 10);
    for (auto& c : cases) {
        int w = 0, h = 0;
        ASSERT_EQ(fscanf(p, "%d %d", &w, &h), 2);
        HFONT f = arial(c.first);
        HGDIOBJ old = SelectObject(m.dc, f);
        SIZE size;
        ASSERT_TRUE(GetTextExtentPoint32W(m.dc, c.second.c_str(), int(c.second.size()), &size));
        EXPECT_EQ(size.cx, w) << "height " << c.first;
        EXPECT_EQ(size.cy, h) << "height " << c.first;
        SelectObject(m.dc, old);
        DeleteObject(f);
    }
    EXPECT_EQ(pclose(p), 0);

    HFONT f = arial(20);
    SelectObject(m.dc, f);
    SIZE size;
    GetTextExtentPoint32W(m.dc, u"W : 400, L : 40", 15, &size);
    EXPECT_EQ(size.cx, 117);
    EXPECT_EQ(size.cy, 20);
    RECT r{5, 7, 5, 7};
    EXPECT_EQ(DrawTextW(m.dc, u"W : 400, L : 40", -1, &r, DT_CALCRECT | DT_SINGLELINE), 20);
    EXPECT_EQ(r.right, 5 + 117);
    EXPECT_EQ(r.bottom, 7 + 20);
    r = RECT{0, 0, 0, 0};
    EXPECT_EQ(DrawTextW(m.dc, u"ab\r\nlonger line\nc", -1, &r, DT_CALCRECT), 60);
    SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(f);
}

TEST(GdiText, DeterministicRotatedShadowedAndOpaque)
{
    const int W = 90, H = 90, x0 = 45, y0 = 45;
    auto draw = [&](int escapement, Memory& m) {
        HFONT f = arial(18, escapement);
        SelectObject(m.dc, f);
        SetBkMode(m.dc, TRANSPARENT);
        SetTextColor(m.dc, RGB(255, 255, 255));
        TextOutW(m.dc, x0, y0, u"Lg7", 3);
        SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
    };
    Memory a(W, H), b(W, H);
    draw(0, a);
    draw(0, b);
    EXPECT_EQ(a.pixels(), b.pixels());
    draw(0, a); // again over itself: nothing changes
    EXPECT_EQ(a.pixels(), b.pixels());
    std::vector<uint8_t> flat = a.pixels();
    auto on = [&](const std::vector<uint8_t>& px, int x, int y) {
        return x >= 0 && y >= 0 && x < W && y < H && px[(size_t(y) * W + size_t(x)) * 4] != 0;
    };
    int lit = 0;
    for (int v = 0; v < H - y0; ++v)
        for (int u = 0; u < W - x0; ++u)
            lit += on(flat, x0 + u, y0 + v);
    EXPECT_GT(lit, 20);

    struct Turn {
        int escapement;
        int (*x)(int, int, int);
        int (*y)(int, int, int);
    } turns[] = {
        {-900, [](int x, int, int v) { return x - 1 - v; }, [](int y, int u, int) { return y + u; }},
        {1800, [](int x, int u, int) { return x - 1 - u; }, [](int y, int, int v) { return y - 1 - v; }},
        {-2700, [](int x, int, int v) { return x + v; }, [](int y, int u, int) { return y - 1 - u; }},
        {900, [](int x, int, int v) { return x + v; }, [](int y, int u, int) { return y - 1 - u; }},
    };
    for (const Turn& t : turns) {
        Memory r(W, H);
        draw(t.escapement, r);
        std::vector<uint8_t> px = r.pixels();
        int count = 0, mismatches = 0;
        for (int v = -y0; v < H - y0; ++v)
            for (int u = -x0; u < W - x0; ++u) {
                bool want = on(flat, x0 + u, y0 + v);
                int X = t.x(x0, u, v), Y = t.y(y0, u, v);
                if (X < 0 || Y < 0 || X >= W || Y >= H)
                    continue;
                count += want;
                mismatches += want != on(px, X, Y);
            }
        EXPECT_EQ(count, lit) << t.escapement;
        EXPECT_EQ(mismatches, 0) << t.escapement;
    }

    // Shadowed text: black one pixel down-right, then white on top.
    Memory s(W, H);
    RECT all{0, 0, W, H};
    HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
    FillRect(s.dc, &all, grey);
    HFONT f = arial(18);
    SelectObject(s.dc, f);
    SetBkMode(s.dc, TRANSPARENT);
    SetTextColor(s.dc, RGB(0, 0, 0));
    TextOutW(s.dc, 11, 11, u"Lg7", 3);
    SetTextColor(s.dc, RGB(255, 255, 255));
    TextOutW(s.dc, 10, 10, u"Lg7", 3);
    // The L's stem: white at its column, black just right of it where no white lands.
    bool shadow = false;
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x)
            if (GetPixel(s.dc, x, y) == RGB(255, 255, 255) && GetPixel(s.dc, x + 1, y + 1) == 0)
                shadow = true;
    EXPECT_TRUE(shadow);

    // OPAQUE fills exactly the cell box.
    Memory o(W, H);
    SelectObject(o.dc, f);
    SetBkMode(o.dc, OPAQUE);
    SetBkColor(o.dc, RGB(0, 0, 255));
    SetTextColor(o.dc, RGB(0, 0, 255));
    TextOutW(o.dc, 7, 9, u"Lg7", 3);
    SIZE ext;
    GetTextExtentPoint32W(o.dc, u"Lg7", 3, &ext);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            bool inside = x >= 7 && x < 7 + ext.cx && y >= 9 && y < 9 + ext.cy;
            ASSERT_EQ(GetPixel(o.dc, x, y), inside ? RGB(0, 0, 255) : 0u) << x << "," << y;
        }
    // ETO_OPAQUE fills its rectangle with no text at all.
    RECT band{0, 80, 90, 90};
    ExtTextOutW(o.dc, 0, 0, ETO_OPAQUE, &band, nullptr, 0, nullptr);
    EXPECT_EQ(GetPixel(o.dc, 50, 85), RGB(0, 0, 255));
    SelectObject(s.dc, GetStockObject(SYSTEM_FONT));
    SelectObject(o.dc, GetStockObject(SYSTEM_FONT));
    DeleteObject(f);
    DeleteObject(grey);
}

// Small overlay text keeps the spacing FreeType's own layout gives: each glyph's first ink
// column, measured as the ink it adds to the text before it, against Pillow's basic layout
// (hinted monochrome advances and kerning) on the same font, within one pixel of the
// first glyph and of its neighbour.
TEST(GdiText, GlyphsSitWhereFreeTypeAdvancesAndKerningPutThem)
{
    std::string font = fontFile();
    ASSERT_FALSE(font.empty()) << "fonts-liberation is not installed";
    ORBEL_REQUIRE_PYTHON_MODULE("PIL", "python3-pil");
    const std::u16string texts[] = {u"CompressedSamples ^CT 1", u"W : 400, L : 40 Zoom 1.25", u"AVAWTo Te Ty LT"};
    std::vector<std::pair<int, std::u16string>> cases;
    for (int em : {6, 8, 12})
        for (const auto& t : texts)
            cases.emplace_back(em, t);
    const std::string input = std::string(ORBEL_BINARY_DIR) + "/platform-glyph-edges-" + std::to_string(getpid()) + ".txt";
    struct Removed {
        std::string path;
        ~Removed() { std::remove(path.c_str()); }
    } removed{input};
    {
        std::ofstream f(input);
        for (auto& c : cases)
            f << c.first << '\t' << Utf16ToUtf8(c.second) << '\n';
    }
    std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/platform/scripts/glyph_edges.py") +
                      " " + font + " < " + input;
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buffer[4096];
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + " px: " + Utf16ToUtf8(c.second));
        ASSERT_NE(fgets(buffer, sizeof buffer, p), nullptr);
        std::istringstream line(buffer);
        const int W = 16 + c.first * 2 * int(c.second.size()), H = 8 + c.first * 2;
        Memory m(W, H);
        HFONT f = arial(-c.first);
        SelectObject(m.dc, f);
        SetBkMode(m.dc, TRANSPARENT);
        SetTextColor(m.dc, RGB(255, 255, 255));
        std::vector<uint8_t> before(size_t(W) * H * 4, 0);
        int firstOurs = -1, firstTheirs = -1, lastOurs = -1, lastTheirs = -1;
        for (size_t k = 1; k <= c.second.size(); ++k) {
            std::string theirs;
            ASSERT_TRUE(line >> theirs);
            RECT all{0, 0, W, H};
            FillRect(m.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            TextOutW(m.dc, 4, 2, c.second.c_str(), int(k));
            std::vector<uint8_t> now = m.pixels();
            int ours = -1;
            for (int x = 0; x < W && ours < 0; ++x)
                for (int y = 0; y < H; ++y) {
                    size_t i = (size_t(y) * W + size_t(x)) * 4;
                    if (now[i] && !before[i]) {
                        ours = x;
                        break;
                    }
                }
            before = now;
            ASSERT_EQ(ours < 0, theirs == "-") << "glyph " << k - 1;
            if (ours < 0)
                continue;
            const int them = std::stoi(theirs);
            if (firstOurs < 0) {
                firstOurs = ours;
                firstTheirs = them;
            } else {
                EXPECT_NEAR(ours - firstOurs, them - firstTheirs, 1) << "glyph " << k - 1 << " from the first";
                EXPECT_NEAR(ours - lastOurs, them - lastTheirs, 1) << "glyph " << k - 1 << " from the one before";
            }
            lastOurs = ours;
            lastTheirs = them;
        }
        SelectObject(m.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(f);
    }
    EXPECT_EQ(pclose(p), 0);
}

} // namespace
