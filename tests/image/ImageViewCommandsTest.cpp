#include "tests/image/RenderTestSupport.h"

#include <cmath>

using render_test::Cell;
using render_test::Noise;

namespace {

void Shown(Cell& cell, int bits, bool grey)
{
    cell.Init(200, 150, 1, bits, grey, false, [](int x, int y) { return Noise(9, x, y, 0, 255); });
    cell.Render();
}

} // namespace

TEST(ImageViewCommands, RotationsFlipsAndInversion)
{
    Cell cell(257, 191);
    Shown(cell, 12, true);
    CImageBase& b = cell.image;
    for (int i = 1; i <= 4; ++i) {
        b.Rotate(true, true);
        EXPECT_EQ(i % 4, b.Rotation());
    }
    b.Flip(true, true);
    b.Rotate(true, true); // mirrored: clockwise turns the other way
    EXPECT_EQ(3, b.Rotation());
    const std::vector<int32_t> table = b.GreyTable().data;
    b.InvertGrey(true);
    EXPECT_NE(table, b.GreyTable().data);
    b.InvertGrey(true);
    EXPECT_EQ(table, b.GreyTable().data);
}

TEST(ImageViewCommands, WindowDrags)
{
    struct Case {
        int bits;
        bool fine;
        float dw, dc;
    } cases[] = {{16, true, 10, -5}, {16, false, 40, -20}, {8, false, 30, -15}, {12, false, 30, -15}, {13, false, 40, -20}};
    for (const Case& k : cases) {
        Cell cell(257, 191);
        Shown(cell, k.bits, true);
        const float w = cell.image.WindowWidth(), c = cell.image.WindowCentre();
        cell.image.AdjustWindowLevel(10, -5, true, k.fine);
        EXPECT_EQ(w + k.dw, cell.image.WindowWidth()) << k.bits;
        EXPECT_EQ(c + k.dc, cell.image.WindowCentre()) << k.bits;
        EXPECT_TRUE(cell.image.IsUserAdjusted());
    }
    // Colour: brightness follows y and contrast x; a drag gathered without rendering folds once.
    Cell cell(257, 191);
    Shown(cell, 8, false);
    CImageBase& b = cell.image;
    b.AdjustWindowLevel(2, 3, true, false);
    EXPECT_EQ(3.0f, b.Brightness());
    EXPECT_EQ(3.0f, b.Contrast());
    b.AdjustWindowLevel(5, 7, false, false);
    b.AdjustWindowLevel(2, 3, true, false);
    EXPECT_EQ(3.0f + 3 + 5, b.Brightness());
    EXPECT_EQ(3.0f + 2 + 7, b.Contrast());
    b.AdjustWindowLevel(2, 3, true, false);
    EXPECT_EQ(3.0f + 3 + 5 + 3, b.Brightness());
    EXPECT_EQ(3.0f + 2 + 7 + 2, b.Contrast());
}

TEST(ImageViewCommands, ResetRestoresDicomWindow)
{
    Cell cell(257, 191);
    cell.image.GetPhotometricInterpretation().windowWidth = 400;
    cell.image.GetPhotometricInterpretation().windowCentre = 40;
    cell.Init(200, 150, 1, 12, true, false, [](int x, int y) { return Noise(10, x, y, 0, 4095); });
    cell.image.ApplyDicomWindow();
    cell.Render();
    cell.image.AdjustWindowLevel(25, 9, true, false);
    cell.image.InvertGrey(true);
    cell.image.ResetView(true);
    EXPECT_EQ(400.0f, cell.image.WindowWidth());
    EXPECT_EQ(40.0f, cell.image.WindowCentre());
    EXPECT_FALSE(cell.image.IsInverted());
    EXPECT_FALSE(cell.image.IsUserAdjusted());
}

TEST(ImageViewCommands, ZoomToRect)
{
    Cell cell(257, 191);
    Shown(cell, 8, true);
    CImageBase& b = cell.image;
    const RECT d = cell.Dest();
    struct Rejected {
        int x0, y0, x1, y1;
    } rejected[] = {{d.left - 5, 20, 60, 80},          {20, 20, 20, 80}, {20, 40, 60, 40},
                    {60, 80, 20, 20},                  {59, 20, 60, 80}, // one pixel wide still zooms: control
                    {d.right - 10, 20, d.right + 1, 80}};
    for (const Rejected& r : rejected) {
        Cell other(257, 191);
        Shown(other, 8, true);
        const double before = other.image.Transform().zoomX;
        other.image.ZoomToRect(r.x0, r.y0, r.x1, r.y1);
        EXPECT_EQ(r.x1 - r.x0 == 1, other.image.Transform().zoomX != before) << r.x0 << "," << r.x1;
    }
    // Inside a fitted image the rectangle comes to the middle of the view.
    const int x0 = 150, y0 = 40, x1 = 200, y1 = 90;
    float target[2];
    b.Transform().ViewToImage((x0 + x1) / 2.0f, (y0 + y1) / 2.0f, target);
    b.ZoomToRect(x0, y0, x1, y1);
    float centre[2];
    b.Transform().ViewToImage(128.0f, 95.0f, centre);
    EXPECT_NEAR(target[0], centre[0], 2.0);
    EXPECT_NEAR(target[1], centre[1], 2.0);
    EXPECT_GT(b.Transform().zoomX, 3.0);
}

// A colour drag gathered before a render is folded by that render, once.
TEST(ImageViewCommands, ColourDragFoldedByNextRender)
{
    Cell cell(257, 191);
    Shown(cell, 8, false);
    cell.image.AdjustWindowLevel(4, 6, false, false);
    cell.SetView(true);
    cell.SetView(true);
    EXPECT_EQ(4.0f, cell.image.Brightness());
    EXPECT_EQ(1.0f + 6.0f, cell.image.Contrast());
}

// A zero or non-finite rescale from the DICOM record counts as no rescale.
TEST(ImageViewCommands, RescaleSlopeZeroMeansNoRescale)
{
    for (float slope : {0.0f, std::nanf(""), INFINITY}) {
        Cell cell(257, 191);
        DicomRecord& d = cell.image.GetPhotometricInterpretation();
        d.rescaleSlope = slope;
        d.rescaleIntercept = 50;
        cell.Init(200, 150, 1, 12, true, false, [](int, int) { return 1000u; });
        cell.image.ApplyDicomWindow();
        cell.Render();
        PixelReadout r;
        EXPECT_EQ("1000", cell.image.GetPixelReadout(r, 128, 95, "MR").value) << slope;
        EXPECT_NE(cell.image.GreyTable().data.front(), cell.image.GreyTable().data.back()) << slope;
    }
}
