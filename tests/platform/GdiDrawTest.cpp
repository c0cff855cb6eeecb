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

} // namespace
