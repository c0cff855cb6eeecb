#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// A memory context with a w x h bitmap selected; cleaned up with the test.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    int w, h;
    Canvas(int width, int height) : w(width), h(height)
    {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, w, h);
        old = SelectObject(dc, bitmap);
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    std::vector<uint8_t> pixels() const { return platform::BitmapPixels(bitmap, nullptr, nullptr); }
    uint32_t at(int x, int y) const { return GetPixel(dc, x, y); }
    void randomise(uint32_t seed)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                seed = seed * 1664525u + 1013904223u;
                SetPixel(dc, x, y, seed >> 8 & 0xFFFFFF);
            }
    }
};

using Shape = std::function<void(HDC)>;

std::vector<std::pair<const char*, Shape>> shapes()
{
    return {
        {"line", [](HDC dc) { MoveToEx(dc, 3, 4, nullptr); LineTo(dc, 40, 27); }},
        {"outline",
         [](HDC dc) {
             MoveToEx(dc, 5, 5, nullptr);
             LineTo(dc, 30, 5);
             LineTo(dc, 30, 20);
             LineTo(dc, 5, 20);
             LineTo(dc, 5, 5);
         }},
        {"rectangle", [](HDC dc) { Rectangle(dc, 2, 3, 33, 29); }},
        {"ellipse", [](HDC dc) { Ellipse(dc, 4, 6, 41, 30); }},
        {"arc", [](HDC dc) { Arc(dc, 1, 2, 38, 31, 40, 2, 0, 30); }},
        {"whole arc", [](HDC dc) { Arc(dc, 6, 6, 26, 22, 30, 10, 30, 10); }},
        {"focus", [](HDC dc) {
             RECT r{7, 8, 29, 21};
             DrawFocusRect(dc, &r);
         }},
        {"wide dot line",
         [](HDC dc) {
             MoveToEx(dc, 2, 30, nullptr);
             LineTo(dc, 44, 3);
         }},
    };
}

TEST(GdiRop2, ShapesDrawnTwiceUnderXorVanish)
{
    for (bool notXor : {false, true}) {
        Canvas c(48, 36);
        c.randomise(notXor ? 7 : 3);
        std::vector<uint8_t> before = c.pixels();
        HPEN pen = CreatePen(PS_SOLID, 1, notXor ? RGB(0, 0, 0) : RGB(255, 255, 255));
        HPEN wide = CreatePen(PS_DOT, 3, notXor ? RGB(0, 0, 0) : RGB(255, 255, 255));
        HGDIOBJ oldPen = SelectObject(c.dc, pen);
        SelectObject(c.dc, GetStockObject(NULL_BRUSH));
        SetROP2(c.dc, notXor ? R2_NOTXORPEN : R2_XORPEN);
        for (auto& s : shapes()) {
            if (std::string(s.first) == "wide dot line")
                SelectObject(c.dc, wide);
            s.second(c.dc);
            EXPECT_NE(c.pixels(), before) << s.first;
            s.second(c.dc);
            EXPECT_EQ(c.pixels(), before) << s.first << (notXor ? " under R2_NOTXORPEN" : " under R2_XORPEN");
            SelectObject(c.dc, pen);
        }
        SelectObject(c.dc, oldPen);
        DeleteObject(pen);
        DeleteObject(wide);
    }
}

TEST(GdiRop2, LineAndClosedOutlineInvertEachPixelOnce)
{
    Canvas c(20, 12);
    RECT all{0, 0, 20, 12};
    HBRUSH grey = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
    FillRect(c.dc, &all, grey);
    SelectObject(c.dc, GetStockObject(WHITE_PEN));
    SetROP2(c.dc, R2_XORPEN);
    MoveToEx(c.dc, 2, 5, nullptr);
    LineTo(c.dc, 10, 5);
    const COLORREF inverted = RGB(0xED, 0xCB, 0xA9);
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(c.at(x, 5), (x >= 2 && x <= 9) ? inverted : RGB(0x12, 0x34, 0x56)) << x;

    FillRect(c.dc, &all, grey);
    MoveToEx(c.dc, 3, 2, nullptr);
    LineTo(c.dc, 12, 2);
    LineTo(c.dc, 12, 8);
    LineTo(c.dc, 3, 8);
    LineTo(c.dc, 3, 2);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) {
            bool border = ((y == 2 || y == 8) && x >= 3 && x <= 12) || ((x == 3 || x == 12) && y >= 2 && y <= 8);
            EXPECT_EQ(c.at(x, y), border ? inverted : RGB(0x12, 0x34, 0x56)) << x << "," << y;
        }
    DeleteObject(grey);
}

TEST(GdiRop2, FillsTextBlitsAndDibsIgnoreIt)
{
    std::vector<uint8_t> reference;
    for (int rop = R2_BLACK; rop <= R2_WHITE; ++rop) {
        Canvas c(40, 30);
        Canvas src(10, 10);
        c.randomise(11);
        src.randomise(5);
        SetROP2(c.dc, rop);
        RECT r{1, 1, 9, 9};
        HBRUSH b = CreateSolidBrush(RGB(10, 200, 30));
        FillRect(c.dc, &r, b);
        DeleteObject(b);
        SetTextColor(c.dc, RGB(1, 2, 3));
        TextOutW(c.dc, 10, 0, u"Ab", 2);
        BitBlt(c.dc, 25, 15, 10, 10, src.dc, 0, 0, SRCCOPY);
        uint32_t dib[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00FFFFFF};
        BITMAPINFO bi{};
        bi.bmiHeader = BITMAPINFOHEADER{40, 2, 2, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        SetDIBitsToDevice(c.dc, 0, 20, 2, 2, 0, 0, 0, 2, dib, &bi, DIB_RGB_COLORS);
        RECT f{20, 2, 30, 10};
        DrawFocusRect(c.dc, &f);
        if (reference.empty())
            reference = c.pixels();
        else
            EXPECT_EQ(c.pixels(), reference) << "ROP2 " << rop;
    }
}

TEST(GdiShapes, PensBrushesAndOutlines)
{
    Canvas c(30, 20);
    RECT all{0, 0, 30, 20};
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    SelectObject(c.dc, red);
    Rectangle(c.dc, 2, 2, 8, 7);
    // Outline on 2..7 x 2..6, interior 3..6 x 3..5.
    EXPECT_EQ(c.at(2, 2), 0u);
    EXPECT_EQ(c.at(7, 6), 0u);
    EXPECT_EQ(c.at(8, 6), 0xFFFFFFu);
    EXPECT_EQ(c.at(3, 3), RGB(255, 0, 0));
    EXPECT_EQ(c.at(6, 5), RGB(255, 0, 0));

    // Dots: 3 on, 3 off, running on along the path.
    HPEN dot = CreatePen(PS_DOT, 0, RGB(0, 0, 255));
    HGDIOBJ old = SelectObject(c.dc, dot);
    EXPECT_EQ(old, GetStockObject(BLACK_PEN));
    MoveToEx(c.dc, 10, 10, nullptr);
    LineTo(c.dc, 14, 10);
    LineTo(c.dc, 24, 10);
    std::string seen;
    for (int x = 10; x < 25; ++x)
        seen += c.at(x, 10) == RGB(0, 0, 255) ? '#' : '.';
    EXPECT_EQ(seen, "###...###...##.");

    // A wide pen stamps a square starting width/2 before each pixel.
    HPEN wide = CreatePen(PS_SOLID, 3, RGB(0, 255, 0));
    SelectObject(c.dc, wide);
    MoveToEx(c.dc, 20, 3, nullptr);
    LineTo(c.dc, 21, 3);
    for (int y = 1; y <= 5; ++y)
        for (int x = 18; x <= 22; ++x)
            EXPECT_EQ(c.at(x, y) == RGB(0, 255, 0), x >= 19 && x <= 21 && y >= 2 && y <= 4) << x << "," << y;

    // An ellipse stays in its box, touching each side.
    SelectObject(c.dc, GetStockObject(BLACK_PEN));
    SelectObject(c.dc, GetStockObject(NULL_BRUSH));
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    Ellipse(c.dc, 4, 4, 15, 11);
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            if (c.at(x, y) == 0) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
            }
    EXPECT_EQ(minX, 4);
    EXPECT_EQ(maxX, 14);
    EXPECT_EQ(minY, 4);
    EXPECT_EQ(maxY, 10);
    EXPECT_EQ(c.at(9, 7), 0xFFFFFFu); // hollow

    // A polygon fills alternately.
    SelectObject(c.dc, GetStockObject(NULL_PEN));
    SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    POINT tri[3] = {{0, 0}, {10, 0}, {0, 10}};
    Polygon(c.dc, tri, 3);
    EXPECT_EQ(c.at(1, 1), 0u);
    EXPECT_EQ(c.at(8, 8), 0xFFFFFFu);

    SelectObject(c.dc, GetStockObject(BLACK_PEN));
    SelectObject(c.dc, GetStockObject(WHITE_BRUSH));
    DeleteObject(red);
    DeleteObject(dot);
    DeleteObject(wide);
}

TEST(GdiShapes, ArcRunsCounterClockwiseFromStartToEnd)
{
    Canvas c(40, 40);
    RECT all{0, 0, 40, 40};
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    // From the ray to the right, counter-clockwise on screen, to the ray upwards: the
    // top-right quarter only.
    Arc(c.dc, 0, 0, 31, 31, 40, 15, 15, -10);
    bool topRight = false, other = false;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (c.at(x, y) == 0) {
                if (x >= 15 && y <= 15)
                    topRight = true;
                else
                    other = true;
            }
    EXPECT_TRUE(topRight);
    EXPECT_FALSE(other);
    EXPECT_EQ(c.at(30, 15), 0u);
    EXPECT_EQ(c.at(15, 0), 0u);
}

TEST(GdiShapes, FocusRectInvertsEverySecondBorderPixel)
{
    Canvas c(10, 10);
    RECT r{1, 1, 6, 4}; // border 5 x 3: 12 pixels
    DrawFocusRect(c.dc, &r);
    std::string top, bottom;
    for (int x = 0; x < 7; ++x) {
        top += c.at(x, 1) ? '#' : '.';
        bottom += c.at(x, 3) ? '#' : '.';
    }
    EXPECT_EQ(top, ".#.#.#.");
    EXPECT_EQ(bottom, ".#.#.#.");
    EXPECT_EQ(c.at(5, 2), 0u);  // 6th pixel of the walk
    EXPECT_EQ(c.at(1, 2), 0u);  // 12th
}

TEST(GdiShapes, HostileCoordinatesCostNothingOutsideTheTarget)
{
    Canvas c(16, 16);
    HPEN wide = CreatePen(PS_SOLID, 500, RGB(255, 255, 255));
    SelectObject(c.dc, wide);
    SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
    const int big = 2000000000;
    Rectangle(c.dc, -big, -big, big, big);
    Ellipse(c.dc, -big, -big, big, big);
    Arc(c.dc, -big, -big, big, big, 0, 0, 0, 0);
    POINT poly[3] = {{-big, -big}, {big, 0}, {0, big}};
    Polygon(c.dc, poly, 3);
    MoveToEx(c.dc, -big, -big, nullptr);
    LineTo(c.dc, big, big);
    RECT huge{-big, -big, big, big};
    DrawFocusRect(c.dc, &huge);
    SelectObject(c.dc, GetStockObject(BLACK_PEN));
    DeleteObject(wide);
    SUCCEED(); // finishing at all, without memory growth, is the point
}

} // namespace
