// Drawing checked on the painted surface of a stand-in memory bitmap, and rotation checked
// against the quarter turns of the pixel grid read in display order.
#include "imagelib/RxImage.h"
#include "tests/imagelib/support/RandomImage.h"
#include "tests/imagelib/support/RxTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A 64 x 64 memory context over a 32-bit bitmap with a seeded pattern.
struct Canvas {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 64, 64);
    HGDIOBJ old = SelectObject(dc, bitmap);
    explicit Canvas(uint32_t seed = 7)
    {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                seed = seed * 1664525u + 1013904223u;
                SetPixel(dc, x, y, seed >> 8 & 0xFFFFFF);
            }
    }
    ~Canvas()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    std::vector<COLORREF> Pixels() const
    {
        std::vector<COLORREF> v;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                v.push_back(GetPixel(dc, x, y));
        return v;
    }
};

COLORREF Ref(RGBQUAD c) { return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue); }

// The colour shown by the pixel at display row r (top first), column c.
RGBQUAD Shown(const RxImage& im, long c, long r)
{
    RGBQUAD q = im.GetPixelColor(c, long(im.GetHeight()) - 1 - r, false);
    q.rgbReserved = 0;
    return q;
}

RxImage RandomImage(DWORD w, DWORD h, WORD bpp, unsigned seed)
{
    RxImage im(w, h, bpp);
    rxtest::FillRandom(im, seed, false);
    return im;
}

// Expects the canvas to show expected(c, r) over the w x h box at (x, y), the pattern elsewhere.
template <class F>
void ExpectPainted(const Canvas& canvas, const std::vector<COLORREF>& before, long x, long y, long w, long h, F expected,
                   const char* what)
{
    const std::vector<COLORREF> after = canvas.Pixels();
    int bad = 0;
    for (long py = 0; py < 64; ++py)
        for (long px = 0; px < 64; ++px) {
            const bool in = px >= x && px < x + w && py >= y && py < y + h;
            const COLORREF want = in ? expected(px - x, py - y) : before[size_t(py * 64 + px)];
            if (after[size_t(py * 64 + px)] != want && ++bad <= 5)
                ADD_FAILURE() << what << " at " << px << "," << py;
        }
}

TEST(Draw, OwnSizeShowsPixelsUprightAndScaledUsesSourceIndices)
{
    const int live = platform::LiveGdiObjects();
    for (WORD bpp : {1, 4, 8, 24}) {
        RxImage im = RandomImage(10, 10, bpp, bpp);
        {
            Canvas canvas;
            const auto before = canvas.Pixels();
            EXPECT_EQ(im.Draw(canvas.dc, 5, 7), 1);
            ExpectPainted(canvas, before, 5, 7, 10, 10, [&](long c, long r) { return Ref(Shown(im, c, r)); }, "own size");
        }
        {
            Canvas canvas;
            const auto before = canvas.Pixels();
            EXPECT_EQ(im.Draw(canvas.dc, RECT{3, 4, 23, 24}), 1);
            ExpectPainted(canvas, before, 3, 4, 20, 20, [&](long c, long r) { return Ref(Shown(im, c / 2, r / 2)); },
                          "doubled");
        }
        for (auto size : {std::pair<long, long>{7, 13}, {31, 4}}) {
            Canvas canvas;
            const auto before = canvas.Pixels();
            const long cx = size.first, cy = size.second;
            EXPECT_EQ(im.Draw(canvas.dc, 2, 3, cx, cy), 1);
            const float fx = 10.0f / float(cx), fy = 10.0f / float(cy);
            ExpectPainted(canvas, before, 2, 3, cx, cy, [&](long c, long r) {
                const long k = cy - 1 - r; // row from the bottom
                const long sy = std::min(9L, long(std::floor(10.0f - float(cy - k) * fy)));
                const long sx = std::min(9L, long(std::floor(float(c) * fx)));
                return Ref(im.GetPixelColor(sx, sy, false));
            }, "scaled");
        }
        {
            Canvas canvas;
            const auto before = canvas.Pixels();
            EXPECT_EQ(im.Draw(canvas.dc, 1, 2, 17, 9, nullptr, true), 1);
            const float fx = 10.0f / 17, fy = 10.0f / 9;
            ExpectPainted(canvas, before, 1, 2, 17, 9, [&](long c, long r) {
                const long k = 9 - 1 - r;
                RGBQUAD q = im.SampleInterpolated(float(c) * fx - 0.5f, 10.0f - float(9 - k) * fy - 0.5f, 2, 5);
                return Ref(q);
            }, "smooth");
        }
    }
    EXPECT_EQ(platform::LiveGdiObjects(), live);
}

TEST(Draw, TransparencyAlphaAndRefusals)
{
    const int live = platform::LiveGdiObjects();
    RxImage pal = RandomImage(10, 10, 8, 3);
    pal.SetTransIndex(0);
    for (long x = 0; x < 10; ++x)
        pal.SetPixelIndex(x, x, 0);
    {
        Canvas canvas;
        const auto before = canvas.Pixels();
        pal.Draw(canvas.dc, 0, 0);
        ExpectPainted(canvas, before, 0, 0, 10, 10, [&](long c, long r) {
            const long sy = 9 - r;
            return pal.GetPixelIndex(c, sy) == 0 ? before[size_t(r * 64 + c)] : Ref(Shown(pal, c, r));
        }, "background index");
    }
    RxImage ramp = RandomImage(16, 4, 24, 5);
    ramp.AlphaCreate();
    for (long x = 0; x < 16; ++x)
        for (long y = 0; y < 4; ++y)
            ramp.AlphaSet(x, y, BYTE(x * 17));
    for (BYTE alphaMax : {255, 128, 0}) {
        RxTestAccess::Settings(ramp).nAlphaMax = alphaMax;
        Canvas canvas;
        const auto before = canvas.Pixels();
        ramp.Draw(canvas.dc, 4, 4);
        ExpectPainted(canvas, before, 4, 4, 16, 4, [&](long c, long r) {
            const unsigned a = ((alphaMax + 1u) * unsigned(c * 17)) >> 8;
            const RGBQUAD src = Shown(ramp, c, r);
            const COLORREF scr = before[size_t((r + 4) * 64 + c + 4)];
            if (a == 0)
                return scr;
            auto mix = [&](unsigned s, unsigned d) { return a == 255 ? s : (s * a + d * (255 - a)) >> 8; };
            return RGB(mix(src.rgbRed, GetRValue(scr)), mix(src.rgbGreen, GetGValue(scr)), mix(src.rgbBlue, GetBValue(scr)));
        }, "alpha");
    }

    RxImage im = RandomImage(10, 10, 24, 9), empty;
    {
    Canvas canvas;
    const auto before = canvas.Pixels();
    RECT outside{50, 50, 60, 60};
    EXPECT_EQ(im.Draw(canvas.dc, 0, 0, 10, 10, &outside), 1);
    EXPECT_EQ(im.Draw(canvas.dc, 0, 0, 20, 20, &outside), 1);
    EXPECT_EQ(canvas.Pixels(), before);
    EXPECT_EQ(empty.Draw(canvas.dc, 0, 0), 0);
    EXPECT_EQ(im.Draw(nullptr, 0, 0), 0);
    EXPECT_EQ(im.Draw(canvas.dc, 0, 0, 0, 5), 0);
    EXPECT_EQ(im.Draw(canvas.dc, 0, 0, 5, 0), 0);
    RxTestAccess::Settings(im).bEnabled = false;
    EXPECT_EQ(im.Draw(canvas.dc, 0, 0), 0);
    EXPECT_EQ(canvas.Pixels(), before);
    }
    EXPECT_EQ(platform::LiveGdiObjects(), live);
}

// A caller's clip of two rectangles survives a Draw with its own clip rectangle.
TEST(Draw, RestoresACallersClipOfSeveralRectangles)
{
    const int live = platform::LiveGdiObjects();
    RxImage im = RandomImage(10, 10, 24, 4);
    auto clipAndFill = [&](bool drawBetween) {
        Canvas canvas;
        HRGN a = CreateRectRgn(0, 0, 20, 20), b = CreateRectRgn(40, 40, 60, 60);
        SelectClipRgn(canvas.dc, a);
        ExtSelectClipRgn(canvas.dc, b, RGN_OR);
        DeleteObject(a);
        DeleteObject(b);
        if (drawBetween) {
            RECT clip{5, 5, 50, 50};
            im.Draw(canvas.dc, 0, 0, 30, 30, &clip);
        }
        HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
        RECT all{0, 0, 64, 64};
        FillRect(canvas.dc, &all, brush);
        DeleteObject(brush);
        std::vector<bool> reached;
        for (COLORREF c : canvas.Pixels())
            reached.push_back(c == RGB(1, 2, 3));
        return reached;
    };
    EXPECT_EQ(clipAndFill(true), clipAndFill(false));
    EXPECT_EQ(platform::LiveGdiObjects(), live);
}

// Display-order grid of an image (top row first) and the quarter turns of such grids.
using Grid = std::vector<std::vector<COLORREF>>;
Grid Display(const RxImage& im, bool alpha = false)
{
    Grid g(im.GetHeight(), std::vector<COLORREF>(im.GetWidth()));
    for (long r = 0; r < long(im.GetHeight()); ++r)
        for (long c = 0; c < long(im.GetWidth()); ++c)
            g[size_t(r)][size_t(c)] = alpha ? im.AlphaGet(c, long(im.GetHeight()) - 1 - r) : Ref(Shown(im, c, r));
    return g;
}
Grid Clockwise(const Grid& g)
{
    Grid o(g[0].size(), std::vector<COLORREF>(g.size()));
    for (size_t r = 0; r < o.size(); ++r)
        for (size_t c = 0; c < o[0].size(); ++c)
            o[r][c] = g[g.size() - 1 - c][r];
    return o;
}
Grid Anticlockwise(const Grid& g)
{
    Grid o(g[0].size(), std::vector<COLORREF>(g.size()));
    for (size_t r = 0; r < o.size(); ++r)
        for (size_t c = 0; c < o[0].size(); ++c)
            o[r][c] = g[c][g[0].size() - 1 - r];
    return o;
}

TEST(Rotate, QuarterTurnsAndZero)
{
    for (WORD bpp : {1, 4, 8, 24}) {
        const long W = 100, H = 50;
        RxImage src = RandomImage(W, H, bpp, 20 + bpp);
        src.AlphaCreate();
        for (long y = 0; y < H; ++y)
            for (long x = 0; x < W; ++x)
                src.AlphaSet(x, y, BYTE(x * 3 + y + 1));
        for (bool alpha : {false, true}) {
            const Grid g = Display(src, alpha);
            RxImage cw, ccw, zero;
            ASSERT_TRUE(src.Rotate(90, &cw));
            ASSERT_TRUE(src.Rotate(-90, &ccw));
            ASSERT_TRUE(src.Rotate(0, &zero));
            ASSERT_EQ(cw.GetWidth(), 52u);
            ASSERT_EQ(cw.GetHeight(), 102u);
            ASSERT_EQ(ccw.GetWidth(), 52u);
            ASSERT_EQ(zero.GetWidth(), 102u);
            ASSERT_EQ(zero.GetHeight(), 52u);
            const Grid c = Display(cw, alpha), a = Display(ccw, alpha), z = Display(zero, alpha);
            const Grid rc = Clockwise(g), ra = Anticlockwise(g);
            int bad = 0;
            // By 90: columns 1..H and rows 2..W+1 hold the clockwise turn; column 0 and row 1 repeat.
            for (long r = 1; r <= W + 1; ++r)
                for (long col = 0; col <= H; ++col)
                    bad += c[size_t(r)][size_t(col)] != rc[size_t(std::max(r, 2L) - 2)][size_t(std::max(col, 1L) - 1)];
            // By -90: columns 0..H-1 and rows 1..W hold the anticlockwise turn; column H and row W+1 repeat.
            for (long r = 1; r <= W + 1; ++r)
                for (long col = 0; col <= H; ++col)
                    bad += a[size_t(r)][size_t(col)] != ra[size_t(std::min(r, W) - 1)][size_t(std::min(col, H - 1))];
            // By 0, in storage order: new column/row i shows source i - 1, 0 and 1 both show 0.
            for (long y = 0; y <= H; ++y)
                for (long x = 0; x <= W; ++x)
                    bad += z[size_t(51 - y)][size_t(x)] != g[size_t(H - 1 - std::max(y - 1, 0L))][size_t(std::max(x - 1, 0L))];
            EXPECT_EQ(bad, 0) << bpp << " bits" << (alpha ? " alpha" : "");
            if (alpha) { // the outside rule of the alpha plane is 0
                EXPECT_EQ(zero.AlphaGet(101, 10), 0);
            }
        }
        if (src.IsIndexed()) {
            RxImage cw;
            src.Rotate(90, &cw);
            for (int i = 0; i < (1 << bpp); ++i)
                EXPECT_EQ(Ref(cw.GetPaletteColor(BYTE(i))), Ref(src.GetPaletteColor(BYTE(i))));
        }
    }
}

TEST(Rotate, FailureAndEscapeKeepImages)
{
    RxImage src = RandomImage(20, 10, 24, 1), dest = RandomImage(3, 3, 8, 2);
    const Grid before = Display(src), destBefore = Display(dest);
    ASSERT_TRUE(src.Rotate(33, &dest));
    EXPECT_EQ(Display(src), before);

    RxImage tall(1, 1u << 20, 24);
    RxImage keep = RandomImage(3, 3, 8, 2);
    EXPECT_FALSE(tall.Rotate(45, &keep));
    EXPECT_STRNE(tall.GetLastError(), "");
    EXPECT_EQ(Display(keep), destBefore);
    EXPECT_EQ(tall.GetHeight(), 1u << 20);
    EXPECT_FALSE(keep.Rotate(std::nanf("")));
    EXPECT_EQ(Display(keep), destBefore);

    RxImage stop = RandomImage(40, 40, 24, 3);
    stop.SetEscape(1);
    ASSERT_TRUE(stop.Rotate(10));
    EXPECT_TRUE(stop.IsValid());
    EXPECT_LT(RxTestAccess::Settings(stop).nProgress, 100);
}

} // namespace
