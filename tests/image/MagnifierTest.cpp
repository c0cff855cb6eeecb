#include "tests/image/RenderTestSupport.h"

#include <cmath>

using render_test::Cell;

namespace {

// A fitted 8-bit horizontal ramp, drawn.
void Ramp(Cell& cell, int pan)
{
    cell.Init(200, 150, 1, 8, true, false, [](int x, int) { return static_cast<uint32_t>(30 + x); });
    cell.SetView(true);
    cell.image.Pan(pan, 0, true);
    cell.Decode();
    cell.Draw();
}

// Least-squares slope of a row segment of grey values.
double Slope(const std::vector<uint8_t>& pixels, const Cell& cell, int x0, int x1, int y)
{
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const int n = x1 - x0;
    for (int x = x0; x < x1; ++x) {
        const double v = cell.Grey(pixels, x, y);
        sx += x;
        sy += v;
        sxx += double(x) * x;
        sxy += x * v;
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

} // namespace

TEST(Magnifier, FirstRenderIsBlackThenShowsTheCell)
{
    Cell cell(257, 191);
    Ramp(cell, 0);
    cell.image.RenderMagnifier(128, 95, 53, 20, 203, 170, 2);
    EXPECT_TRUE(cell.image.DrawMagnifier(cell.dc));
    std::vector<uint8_t> p = cell.Pixels();
    for (int y = 20; y < 170; y += 7)
        for (int x = 53; x < 203; x += 7)
            ASSERT_EQ(0, cell.Grey(p, x, y)) << x << "," << y;
    cell.image.RenderMagnifier(128, 95, 53, 20, 203, 170, 2);
    EXPECT_TRUE(cell.image.DrawMagnifier(cell.dc));
    EXPECT_NE(0, cell.Grey(cell.Pixels(), 128, 95));
}

TEST(Magnifier, FactorOneReproducesTheCell)
{
    Cell cell(257, 191);
    Ramp(cell, 0);
    const std::vector<uint8_t> shown = cell.Pixels();
    for (int pass = 0; pass < 2; ++pass)
        cell.image.RenderMagnifier(0, 0, 53, 20, 203, 170, 1);
    cell.image.DrawMagnifier(cell.dc);
    const std::vector<uint8_t> magnified = cell.Pixels();
    const RECT d = cell.Dest();
    for (int y = std::max<int>(20, d.top + 2); y < std::min<int>(170, d.bottom - 2); ++y)
        for (int x = std::max<int>(53, d.left + 2); x < std::min<int>(203, d.right - 2); ++x)
        {
            // The area grows by one pixel and is fitted back into the box: at most one pixel of drift.
            int lo = 255, hi = 0;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) {
                    lo = std::min(lo, cell.Grey(shown, x + i, y + j));
                    hi = std::max(hi, cell.Grey(shown, x + i, y + j));
                }
            const int v = cell.Grey(magnified, x, y);
            ASSERT_TRUE(lo <= v && v <= hi) << x << "," << y;
        }
}

TEST(Magnifier, FactorTwoHalvesTheSlope)
{
    Cell cell(257, 191);
    Ramp(cell, 0);
    const std::vector<uint8_t> shown = cell.Pixels();
    for (int pass = 0; pass < 2; ++pass)
        cell.image.RenderMagnifier(0, 0, 53, 20, 203, 170, 2);
    cell.image.DrawMagnifier(cell.dc);
    const std::vector<uint8_t> magnified = cell.Pixels();
    const double viewSlope = std::fabs(Slope(shown, cell, 60, 196, 95));
    EXPECT_NEAR(viewSlope / 2, std::fabs(Slope(magnified, cell, 60, 196, 95)), viewSlope * 0.05);
    EXPECT_LE(std::abs(cell.Grey(shown, 128, 95) - cell.Grey(magnified, 128, 95)), 2 * viewSlope + 1);

    // Panned right, the box's left part lies off the image and stays black.
    Cell panned(257, 191);
    Ramp(panned, 100);
    const int left = panned.Dest().left;
    ASSERT_GT(left, 90);
    for (int pass = 0; pass < 2; ++pass)
        panned.image.RenderMagnifier(0, 0, left - 65, 20, left + 85, 170, 2);
    panned.image.DrawMagnifier(panned.dc);
    const std::vector<uint8_t> p = panned.Pixels();
    for (int x = left - 65; x < left - 15; ++x)
        ASSERT_EQ(0, panned.Grey(p, x, 95)) << x;
    for (int x = left + 10; x < left + 80; ++x)
        ASSERT_NE(0, panned.Grey(p, x, 95)) << x;
}

TEST(Magnifier, SignedSamplesAndOddBoxes)
{
    Cell cell(257, 191);
    cell.Init(200, 150, 1, 12, true, true, [](int x, int y) { return static_cast<uint32_t>(static_cast<uint16_t>(x * 20 - y * 7 - 1500)); });
    cell.SetView(true);
    cell.image.Pan(100, 0, true);
    cell.Decode();
    const std::vector<uint8_t> samples = cell.image.ViewSamples();
    for (int pass = 0; pass < 2; ++pass)
        cell.image.RenderMagnifier(0, 0, 60, 20, 210, 170, 3);
    EXPECT_EQ(samples, cell.image.ViewSamples());
    // A smaller box whose area misses the image, then factors 0 and -4: no buffer is overrun.
    cell.image.RenderMagnifier(0, 0, 75, 40, 95, 60, 3);
    EXPECT_TRUE(cell.image.DrawMagnifier(cell.dc));
    cell.image.RenderMagnifier(0, 0, 100, 20, 250, 170, 0);
    EXPECT_TRUE(cell.image.DrawMagnifier(cell.dc));
    cell.image.RenderMagnifier(0, 0, 100, 20, 250, 170, -4);
    EXPECT_TRUE(cell.image.DrawMagnifier(cell.dc));
    EXPECT_EQ(samples, cell.image.ViewSamples());
}
