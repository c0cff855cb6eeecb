#include "platform/Gdi.h"

#include "WindowTestSupport.h"

#include "tests/support/TestTools.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

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
    // A pattern whose every pixel differs: R = x, G = y, B = x + y.
    void pattern()
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                SetPixel(dc, x, y, RGB(x, y, x + y));
    }
};

TEST(GdiBlit, BitBltCopiesClipsAndHandlesOverlap)
{
    Memory src(20, 10), dst(12, 12);
    src.pattern();
    ASSERT_TRUE(BitBlt(dst.dc, -2, 3, 30, 30, src.dc, 15, 1, SRCCOPY));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            int sx = x + 17, sy = y - 2; // inside both surfaces only
            COLORREF want = (y >= 3 && sx < 20 && sy < 10) ? RGB(sx, sy, sx + sy) : 0;
            EXPECT_EQ(GetPixel(dst.dc, x, y), want) << x << "," << y;
        }
    // Within one bitmap, overlapping to the right and down.
    Memory m(16, 16);
    m.pattern();
    ASSERT_TRUE(BitBlt(m.dc, 2, 3, 10, 10, m.dc, 0, 0, SRCCOPY));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(GetPixel(m.dc, x + 2, y + 3), RGB(x, y, x + y));
    m.pattern();
    ASSERT_TRUE(BitBlt(m.dc, 0, 0, 10, 10, m.dc, 3, 2, SRCCOPY));
    EXPECT_EQ(GetPixel(m.dc, 9, 9), RGB(12, 11, 23));

    // Raster codes.
    Memory a(1, 1), b(1, 1);
    auto one = [&](DWORD rop, COLORREF s, COLORREF d) {
        SetPixel(a.dc, 0, 0, s);
        SetPixel(b.dc, 0, 0, d);
        EXPECT_TRUE(BitBlt(b.dc, 0, 0, 1, 1, a.dc, 0, 0, rop));
        return GetPixel(b.dc, 0, 0);
    };
    EXPECT_EQ(one(SRCINVERT, 0x0F0F0F, 0xFF00FF), 0xF00FF0u);
    EXPECT_EQ(one(SRCAND, 0x0F0F0F, 0xFF00FF), 0x0F000Fu);
    EXPECT_EQ(one(SRCPAINT, 0x0F0F0F, 0xFF00F0), 0xFF0FFFu);
    EXPECT_EQ(one(NOTSRCCOPY, 0x0F0F0F, 0), 0xF0F0F0u);
    EXPECT_EQ(one(DSTINVERT, 0, 0x123456), 0xEDCBA9u);
    EXPECT_EQ(one(BLACKNESS, 0, 0x123456), 0u);
    EXPECT_EQ(one(WHITENESS, 0, 0x123456), 0xFFFFFFu);
    EXPECT_TRUE(BitBlt(b.dc, 0, 0, 1, 1, a.dc, 0, 0, 0x00AA0029)); // the code that keeps the destination
    EXPECT_EQ(GetPixel(b.dc, 0, 0), 0xFFFFFFu);
}

TEST(GdiBlit, StretchModesAndTransparency)
{
    Memory src(4, 2);
    src.pattern();
    for (int mode : {BLACKONWHITE, WHITEONBLACK, COLORONCOLOR, HALFTONE}) {
        Memory dst(8, 4);
        SetStretchBltMode(dst.dc, mode);
        EXPECT_EQ(GetStretchBltMode(dst.dc), mode);
        ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 8, 4, src.dc, 0, 0, 4, 2, SRCCOPY));
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                ASSERT_EQ(GetPixel(dst.dc, x, y), RGB(x / 2, y / 2, x / 2 + y / 2)) << mode;
    }
    // Halving: each destination pixel merges a 2 x 2 block.
    Memory big(4, 4);
    COLORREF vals[4][4] = {{0x0F, 0xF0, 1, 2}, {0x3C, 0xFF, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            SetPixel(big.dc, x, y, vals[y][x]);
    auto halve = [&](int mode) {
        Memory d(2, 2);
        SetStretchBltMode(d.dc, mode);
        StretchBlt(d.dc, 0, 0, 2, 2, big.dc, 0, 0, 4, 4, SRCCOPY);
        return GetPixel(d.dc, 0, 0);
    };
    EXPECT_EQ(halve(COLORONCOLOR), 0x0Fu);
    EXPECT_EQ(halve(HALFTONE), 0x0Fu);
    EXPECT_EQ(halve(BLACKONWHITE), COLORREF(0x0F & 0xF0 & 0x3C & 0xFF));
    EXPECT_EQ(halve(WHITEONBLACK), COLORREF(0x0F | 0xF0 | 0x3C | 0xFF));
    // A negative destination width mirrors the picture across the same pixels.
    Memory d(2, 2);
    SetStretchBltMode(d.dc, COLORONCOLOR);
    EXPECT_TRUE(StretchBlt(d.dc, 2, 0, -2, 2, big.dc, 0, 0, 4, 4, SRCCOPY));
    EXPECT_EQ(GetPixel(d.dc, 1, 0), 0x0Fu);
    EXPECT_EQ(GetPixel(d.dc, 0, 0), 0x01u);

    // TransparentBlt skips exactly the key pixels, stretched too.
    for (COLORREF key : {RGB(0, 255, 0), RGB(0, 0, 0)}) {
        Memory s(3, 1), t(6, 2);
        SetPixel(s.dc, 0, 0, RGB(10, 20, 30));
        SetPixel(s.dc, 1, 0, key);
        SetPixel(s.dc, 2, 0, RGB(0, 254, 0));
        RECT all{0, 0, 6, 2};
        HBRUSH bg = CreateSolidBrush(RGB(200, 100, 50));
        FillRect(t.dc, &all, bg);
        DeleteObject(bg);
        ASSERT_TRUE(TransparentBlt(t.dc, 0, 0, 6, 2, s.dc, 0, 0, 3, 1, key));
        for (int y = 0; y < 2; ++y) {
            EXPECT_EQ(GetPixel(t.dc, 0, y), RGB(10, 20, 30));
            EXPECT_EQ(GetPixel(t.dc, 1, y), RGB(10, 20, 30));
            EXPECT_EQ(GetPixel(t.dc, 2, y), RGB(200, 100, 50));
            EXPECT_EQ(GetPixel(t.dc, 3, y), RGB(200, 100, 50));
            EXPECT_EQ(GetPixel(t.dc, 4, y), RGB(0, 254, 0));
        }
    }
}

TEST(GdiDib, SetDibitsToDeviceReadsEveryDepthAndOrder)
{
    // 2 x 2 image, top row (A, B), bottom row (C, D), through each depth.
    const COLORREF A = RGB(255, 0, 0), B = RGB(0, 255, 0), C = RGB(0, 0, 255), D = RGB(255, 255, 0);
    struct Case {
        int bpp;
        int colours;
        std::vector<uint8_t> palette;
        std::vector<uint8_t> top, bottom; // rows, padded to 4 bytes
        COLORREF a, b, c, d;
    };
    std::vector<uint8_t> pal4 = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 255, 255, 0}; // A, B, C, D
    std::vector<Case> cases = {
        {1, 2, {0, 0, 255, 0, 0, 255, 0, 0}, {0x40, 0, 0, 0}, {0x80, 0, 0, 0}, A, B, B, A},
        {4, 4, pal4, {0x01, 0, 0, 0}, {0x23, 0, 0, 0}, A, B, C, D},
        {8, 4, pal4, {0, 1, 0, 0}, {2, 3, 0, 0}, A, B, C, D},
        {8, 2, pal4, {0, 9, 0, 0}, {1, 0, 0, 0}, A, 0, B, A}, // 9 is past the palette: black
        {24, 0, {}, {0, 0, 255, 0, 255, 0, 0, 0}, {255, 0, 0, 0, 255, 255, 0, 0}, A, B, C, D},
        {32, 0, {}, {0, 0, 255, 0, 0, 255, 0, 0}, {255, 0, 0, 0, 0, 255, 255, 0}, A, B, C, D},
    };
    for (const Case& c : cases)
        for (bool topDown : {false, true}) {
            std::vector<uint8_t> info(40 + c.palette.size());
            BITMAPINFOHEADER h{40, 2, topDown ? -2 : 2, 1, WORD(c.bpp), BI_RGB, 0, 0, 0, DWORD(c.colours), 0};
            std::memcpy(info.data(), &h, 40);
            if (!c.palette.empty())
                std::memcpy(info.data() + 40, c.palette.data(), c.palette.size());
            std::vector<uint8_t> bits = topDown ? c.top : c.bottom;
            const std::vector<uint8_t>& second = topDown ? c.bottom : c.top;
            bits.insert(bits.end(), second.begin(), second.end());
            Memory m(4, 4);
            int lines = SetDIBitsToDevice(m.dc, 1, 1, 2, 2, 0, 0, 0, 2, bits.data(),
                                          reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS);
            EXPECT_EQ(lines, 2);
            EXPECT_EQ(GetPixel(m.dc, 1, 1), c.a) << c.bpp << " bits, top-down " << topDown;
            EXPECT_EQ(GetPixel(m.dc, 2, 1), c.b) << c.bpp << " bits, top-down " << topDown;
            EXPECT_EQ(GetPixel(m.dc, 1, 2), c.c) << c.bpp << " bits, top-down " << topDown;
            EXPECT_EQ(GetPixel(m.dc, 2, 2), c.d) << c.bpp << " bits, top-down " << topDown;
            EXPECT_EQ(GetPixel(m.dc, 0, 0), 0u);
        }
    // Malformed headers fail without reading past them.
    Memory m(4, 4);
    uint8_t pixels[16] = {};
    for (BITMAPINFOHEADER bad : {BITMAPINFOHEADER{12, 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
                                 BITMAPINFOHEADER{40, 2, 2, 2, 32, BI_RGB, 0, 0, 0, 0, 0},
                                 BITMAPINFOHEADER{40, 2, 2, 1, 2, BI_RGB, 0, 0, 0, 0, 0},
                                 BITMAPINFOHEADER{40, 2, 2, 1, 32, 1, 0, 0, 0, 0, 0},
                                 BITMAPINFOHEADER{40, 2, 2, 1, 8, BI_RGB, 0, 0, 0, 257, 0},
                                 BITMAPINFOHEADER{40, 0, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0},
                                 BITMAPINFOHEADER{40, 70000, 70000, 1, 32, BI_RGB, 0, 0, 0, 0, 0}}) {
        auto* header = new BITMAPINFOHEADER(bad); // exactly the header: ASan sees any over-read
        EXPECT_EQ(SetDIBitsToDevice(m.dc, 0, 0, 2, 2, 0, 0, 0, 2, pixels, reinterpret_cast<BITMAPINFO*>(header),
                                    DIB_RGB_COLORS),
                  0);
        EXPECT_EQ(SetDIBits(m.dc, m.bm, 0, 2, pixels, reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS), 0);
        EXPECT_EQ(CreateDIBSection(m.dc, reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS, nullptr, nullptr, 0),
                  nullptr);
        delete header;
    }
}

TEST(GdiDib, BlitIntoA24BitDibSectionKeepsItsLayout)
{
    BITMAPINFO bi{};
    bi.bmiHeader = BITMAPINFOHEADER{40, 3, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* raw = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &raw, nullptr, 0);
    ASSERT_TRUE(dib);
    auto* bits = static_cast<uint8_t*>(raw);
    std::memset(bits, 0xAB, 24); // rows of 12 bytes: 9 of pixels, 3 of padding
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, dib);
    Memory src(3, 2);
    src.pattern();
    ASSERT_TRUE(BitBlt(dc, 0, 0, 3, 2, src.dc, 0, 0, SRCCOPY));
    // Bottom-up: stored row 0 is image row 1.
    const uint8_t want[24] = {1, 1, 0, 2, 1, 1, 3, 1, 2, 0xAB, 0xAB, 0xAB,
                              0, 0, 0, 1, 0, 1, 2, 0, 2, 0xAB, 0xAB, 0xAB};
    EXPECT_EQ(std::vector<uint8_t>(bits, bits + 24), std::vector<uint8_t>(want, want + 24));
    BITMAP bm;
    ASSERT_EQ(GetObjectW(dib, sizeof bm, &bm), int(sizeof bm));
    EXPECT_EQ(bm.bmBitsPixel, 24);
    EXPECT_EQ(bm.bmWidthBytes, 12);
    EXPECT_EQ(bm.bmBits, raw);
    DeleteDC(dc);
    DeleteObject(dib);

    // A 32-bit DIB section whose caller filled the fourth byte: copies store 0 there.
    BITMAPINFO bi32{};
    bi32.bmiHeader = BITMAPINFOHEADER{40, 2, -1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* srcBits = nullptr;
    void* dstBits = nullptr;
    HBITMAP dib32 = CreateDIBSection(nullptr, &bi32, DIB_RGB_COLORS, &srcBits, nullptr, 0);
    HBITMAP out32 = CreateDIBSection(nullptr, &bi32, DIB_RGB_COLORS, &dstBits, nullptr, 0);
    ASSERT_TRUE(dib32 && out32);
    std::memset(srcBits, 0xFF, 8);
    HDC dc32 = CreateCompatibleDC(nullptr);
    HDC outDc = CreateCompatibleDC(nullptr);
    SelectObject(dc32, dib32);
    SelectObject(outDc, out32);
    ASSERT_TRUE(BitBlt(outDc, 0, 0, 2, 1, dc32, 0, 0, SRCCOPY));
    auto* o = static_cast<uint8_t*>(dstBits);
    EXPECT_EQ(std::vector<uint8_t>(o, o + 8), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0}));
    DeleteDC(outDc);
    DeleteObject(out32);
    DeleteDC(dc32);
    DeleteObject(dib32);
}

TEST(GdiClip, RememberedBoxIntersectDrawAndRestore)
{
    Memory m(20, 20);
    RECT box;
    EXPECT_EQ(GetClipBox(m.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 20);
    HRGN remembered = CreateRectRgnIndirect(&box);
    HRGN stamp = CreateRectRgn(5, 5, 10, 12);
    EXPECT_EQ(ExtSelectClipRgn(m.dc, stamp, RGN_AND), SIMPLEREGION);
    RECT all{0, 0, 20, 20};
    HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    FillRect(m.dc, &all, white);
    EXPECT_EQ(GetPixel(m.dc, 0, 0), CLR_INVALID); // outside the clip
    std::vector<uint8_t> px = platform::BitmapPixels(m.bm, nullptr, nullptr);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(px[size_t(y * 20 + x) * 4], (x >= 5 && x < 10 && y >= 5 && y < 12) ? 0xFF : 0) << x << "," << y;
    EXPECT_EQ(ExtSelectClipRgn(m.dc, remembered, RGN_OR), SIMPLEREGION);
    GetClipBox(m.dc, &box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.bottom, 20);
    HRGN hole = CreateRectRgn(0, 0, 4, 4);
    EXPECT_EQ(ExtSelectClipRgn(m.dc, hole, RGN_DIFF), COMPLEXREGION);
    SelectObject(m.dc, hole); // a copy of it becomes the clip
    EXPECT_EQ(GetClipBox(m.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 4);
    HRGN far = CreateRectRgn(100, 100, 110, 110);
    EXPECT_EQ(SelectClipRgn(m.dc, far), NULLREGION);
    EXPECT_EQ(SelectClipRgn(m.dc, nullptr), SIMPLEREGION);
    for (HRGN r : {remembered, stamp, hole, far})
        EXPECT_TRUE(DeleteObject(r));
}


TEST(GdiSave, BmpAndPngReadBackByPython)
{
    Memory m(37, 5); // odd width: no accidental alignment
    m.pattern();
    HBRUSH b = CreateSolidBrush(RGB(250, 3, 128));
    RECT r{30, 0, 37, 2};
    FillRect(m.dc, &r, b);
    DeleteObject(b);
    std::string base = std::string(ORBEL_BINARY_DIR) + "/platform-save";
    int w = 0, h = 0;
    std::vector<uint8_t> px = platform::BitmapPixels(m.bm, &w, &h);
    {
        std::ofstream raw(base + ".raw", std::ios::binary);
        uint8_t head[8] = {uint8_t(w), uint8_t(w >> 8), 0, 0, uint8_t(h), uint8_t(h >> 8), 0, 0};
        raw.write(reinterpret_cast<const char*>(head), 8);
        raw.write(reinterpret_cast<const char*>(px.data()), std::streamsize(px.size()));
    }
    ASSERT_TRUE(platform::SaveBmp(m.bm, base + ".bmp"));
    ASSERT_TRUE(platform::SavePng(m.bm, base + ".png"));
    std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/platform/scripts/check_saved.py") + " " + base +
                      ".raw " + base + ".bmp " + base + ".png";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

// BMP fixtures written byte by byte here, read by LoadBitmapW.
std::vector<uint8_t> bmpFile(int bpp, bool topDown, int w, int h, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& rows)
{
    std::vector<uint8_t> f;
    auto p16 = [&](uint32_t v) {
        f.push_back(uint8_t(v));
        f.push_back(uint8_t(v >> 8));
    };
    auto p32 = [&](uint32_t v) {
        p16(v & 0xFFFF);
        p16(v >> 16);
    };
    uint32_t off = 14 + 40 + uint32_t(palette.size());
    f.push_back('B');
    f.push_back('M');
    p32(off + uint32_t(rows.size()));
    p32(0);
    p32(off);
    p32(40);
    p32(uint32_t(w));
    p32(uint32_t(topDown ? -h : h));
    p16(1);
    p16(uint16_t(bpp));
    p32(0);
    p32(uint32_t(rows.size()));
    p32(0);
    p32(0);
    p32(uint32_t(palette.size() / 4));
    p32(0);
    f.insert(f.end(), palette.begin(), palette.end());
    f.insert(f.end(), rows.begin(), rows.end());
    return f;
}

TEST(GdiDib, LoadBitmapReadsFixturesAndRejectsDamage)
{
    std::string dir = std::string(ORBEL_BINARY_DIR) + "/platform-bitmaps";
    ASSERT_EQ(std::system(("mkdir -p " + dir + "/bitmaps").c_str()), 0);
    // 2 x 2: top row (red, green), bottom row (blue, white).
    std::vector<uint8_t> pal = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    struct Fixture {
        int id, bpp;
        bool topDown;
        std::vector<uint8_t> palette, top, bottom;
    } fixtures[] = {
        {301, 8, false, pal, {0, 1, 0, 0}, {2, 3, 0, 0}},
        {302, 8, true, pal, {0, 1, 0, 0}, {2, 3, 0, 0}},
        {303, 24, false, {}, {0, 0, 255, 0, 255, 0, 0, 0}, {255, 0, 0, 255, 255, 255, 0, 0}},
        {304, 24, true, {}, {0, 0, 255, 0, 255, 0, 0, 0}, {255, 0, 0, 255, 255, 255, 0, 0}},
        {305, 32, false, {}, {0, 0, 255, 0, 0, 255, 0, 0}, {255, 0, 0, 0, 255, 255, 255, 0}},
        {306, 32, true, {}, {0, 0, 255, 0, 0, 255, 0, 0}, {255, 0, 0, 0, 255, 255, 255, 0}},
    };
    for (const Fixture& fx : fixtures) {
        std::vector<uint8_t> rows = fx.topDown ? fx.top : fx.bottom;
        const auto& second = fx.topDown ? fx.bottom : fx.top;
        rows.insert(rows.end(), second.begin(), second.end());
        std::vector<uint8_t> file = bmpFile(fx.bpp, fx.topDown, 2, 2, fx.palette, rows);
        std::ofstream(dir + "/bitmaps/" + std::to_string(fx.id) + ".bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        if (fx.id == 301) {
            std::vector<uint8_t> cut(file.begin(), file.end() - 3);
            std::ofstream(dir + "/bitmaps/401.bmp", std::ios::binary)
                .write(reinterpret_cast<const char*>(cut.data()), std::streamsize(cut.size()));
            std::vector<uint8_t> corrupt = file;
            corrupt[14 + 14] = 13; // 13 bits a pixel
            std::ofstream(dir + "/bitmaps/402.bmp", std::ios::binary)
                .write(reinterpret_cast<const char*>(corrupt.data()), std::streamsize(corrupt.size()));
            std::vector<uint8_t> badPalette = file;
            badPalette[14 + 32] = 200; // more colours than the file holds
            std::ofstream(dir + "/bitmaps/403.bmp", std::ios::binary)
                .write(reinterpret_cast<const char*>(badPalette.data()), std::streamsize(badPalette.size()));
        }
    }
    setenv("ORBEL_RESOURCES", dir.c_str(), 1);
    HDC dc = CreateCompatibleDC(nullptr);
    for (const Fixture& fx : fixtures) {
        HBITMAP bm = LoadBitmapW(nullptr, MAKEINTRESOURCEW(fx.id));
        ASSERT_TRUE(bm) << fx.id;
        HGDIOBJ old = SelectObject(dc, bm);
        EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0)) << fx.id;
        EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 255, 0)) << fx.id;
        EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0, 255)) << fx.id;
        EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255)) << fx.id;
        BITMAP info;
        GetObjectW(bm, sizeof info, &info);
        EXPECT_EQ(info.bmBitsPixel, 32);
        SelectObject(dc, old);
        DeleteObject(bm);
    }
    for (int bad : {401, 402, 403, 999})
        EXPECT_EQ(LoadBitmapW(nullptr, MAKEINTRESOURCEW(bad)), nullptr) << bad;
    DeleteDC(dc);
    unsetenv("ORBEL_RESOURCES");
}

} // namespace

TEST(GdiDib, SetDIBitsCopies32BitRowsAndClearsTheFourthByte)
{
    // A 32-bit DIB section shows the stored bytes: colours kept, every fourth byte zero, rows
    // placed by the header's direction, a wider source cut to the bitmap.
    struct Case {
        int srcWidth, srcHeight; // negative height: top-down
    };
    for (Case c : {Case{5, 2}, Case{5, -2}, Case{7, 2}}) {
        BITMAPINFO target{};
        target.bmiHeader = BITMAPINFOHEADER{40, 5, -2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* raw = nullptr;
        HBITMAP dib = CreateDIBSection(nullptr, &target, DIB_RGB_COLORS, &raw, nullptr, 0);
        ASSERT_TRUE(dib);
        std::vector<uint8_t> src(static_cast<size_t>(c.srcWidth) * 2 * 4);
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = static_cast<uint8_t>(i % 4 == 3 ? 0xFF : 1 + i);
        BITMAPINFO info{};
        info.bmiHeader = BITMAPINFOHEADER{40, c.srcWidth, c.srcHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        EXPECT_EQ(SetDIBits(nullptr, dib, 0, 2, src.data(), &info, DIB_RGB_COLORS), 2);
        const auto* bits = static_cast<const uint8_t*>(raw);
        for (int y = 0; y < 2; ++y) {
            // Stored row 0 is the top row of a top-down source, the bottom row otherwise.
            const int stored = c.srcHeight < 0 ? y : 1 - y;
            for (int x = 0; x < 5; ++x)
                for (int b = 0; b < 4; ++b)
                    EXPECT_EQ(bits[(y * 5 + x) * 4 + b],
                              b == 3 ? 0 : src[(static_cast<size_t>(stored) * c.srcWidth + x) * 4 + b])
                        << "width " << c.srcWidth << ", height " << c.srcHeight << ", pixel " << x << "," << y;
        }
        DeleteObject(dib);
    }
}
