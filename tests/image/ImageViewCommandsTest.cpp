#include "tests/image/RenderTestSupport.h"

#include "diagnostics/Logging.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using render_test::Cell;
using render_test::Noise;

namespace {

void Shown(Cell& cell, int bits, bool grey)
{
    cell.Init(200, 150, 1, bits, grey, false, [](int x, int y) { return Noise(9, x, y, 0, 255); });
    cell.Render();
}

} // namespace

TEST(ImageViewCommands, RotationsAndInversion)
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
    struct {
        int bits;
        bool fine;
        float dw, dc;
    } cases[] = {{16, true, 10, -5}, {16, false, 40, -20}, {8, false, 30, -15}, {12, false, 30, -15}, {13, false, 40, -20}};
    for (const auto& k : cases) {
        Cell cell(257, 191);
        Shown(cell, k.bits, true);
        const float w = cell.image.WindowWidth(), c = cell.image.WindowCentre();
        cell.image.AdjustWindowLevel(10, -5, true, k.fine);
        EXPECT_EQ(w + k.dw, cell.image.WindowWidth()) << k.bits;
        EXPECT_EQ(c + k.dc, cell.image.WindowCentre()) << k.bits;
    }
    // Colour: brightness follows y, contrast x; a drag gathered without rendering folds once,
    // by the next rendered drag or the next render.
    Cell cell(257, 191);
    Shown(cell, 8, false);
    CImageBase& b = cell.image;
    const struct {
        int dx, dy;
        bool render, view;
        float brightness, contrast;
    } steps[] = {{2, 3, true, false, 3, 3}, {5, 7, false, false, 3, 3}, {2, 3, true, false, 11, 12},
                 {2, 3, true, false, 14, 14}, {4, 6, false, true, 18, 20}, {0, 0, false, true, 18, 20}};
    for (const auto& s : steps) {
        if (s.dx || s.dy)
            b.AdjustWindowLevel(s.dx, s.dy, s.render, false);
        if (s.view)
            cell.SetView(true);
        EXPECT_EQ(s.brightness, b.Brightness());
        EXPECT_EQ(s.contrast, b.Contrast());
    }
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
    EXPECT_FALSE(cell.image.IsInverted() || cell.image.IsUserAdjusted());
}

TEST(ImageViewCommands, ZoomToRect)
{
    const struct {
        int x0, y0, x1, y1;
        bool zooms;
    } cases[] = {{-5, 20, 60, 80, false},  {20, 20, 20, 80, false}, {20, 40, 60, 40, false},
                 {60, 80, 20, 20, false},  {59, 20, 60, 80, true},  {200, 20, 258, 80, false},
                 {150, 40, 200, 90, true}};
    for (const auto& k : cases) {
        Cell cell(257, 191);
        Shown(cell, 8, true);
        const double before = cell.image.Transform().zoomX;
        float target[2], centre[2], a[2], b[2], top[2], bottom[2];
        cell.image.Transform().ViewToImage((k.x0 + k.x1) / 2.0f, (k.y0 + k.y1) / 2.0f, target);
        cell.image.Transform().ViewToImage(float(k.x0), float(k.y0), a);
        cell.image.Transform().ViewToImage(float(k.x1), float(k.y1), b);
        cell.image.ZoomToRect(k.x0, k.y0, k.x1, k.y1);
        EXPECT_EQ(k.zooms, cell.image.Transform().zoomX != before) << k.x0 << "," << k.x1;
        if (!k.zooms)
            continue;
        // The rectangle comes to the middle of the view.
        cell.image.Transform().ViewToImage(128.0f, 95.0f, centre);
        EXPECT_NEAR(target[0], centre[0], 2.0);
        EXPECT_NEAR(target[1], centre[1], 2.0);
        // The whole rectangle fits: the view spans at least its height in the image.
        cell.image.Transform().ViewToImage(128.0f, 0.0f, top);
        cell.image.Transform().ViewToImage(128.0f, 190.0f, bottom);
        EXPECT_GE(std::fabs(bottom[1] - top[1]) + 1.0f, std::fabs(b[1] - a[1]));
    }
}

// A zero or non-finite rescale from the DICOM record counts as no rescale, said once in the log.
TEST(ImageViewCommands, RescaleSlopeZeroMeansNoRescale)
{
    const std::string drive = std::string(ORBEL_BINARY_DIR) + "/tests/image/log_drive";
    mkdir(drive.c_str(), 0755);
    setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    for (float slope : {0.0f, std::nanf(""), INFINITY}) {
        Cell cell(257, 191);
        DicomRecord& d = cell.image.GetPhotometricInterpretation();
        d.rescaleSlope = slope;
        d.rescaleIntercept = 50;
        cell.Init(200, 150, 1, 12, true, false, [](int, int) { return 1000u; });
        cell.image.ApplyDicomWindow();
        cell.image.ApplyDicomWindow();
        cell.Render();
        PixelReadout r;
        EXPECT_EQ("1000", cell.image.GetPixelReadout(r, 128, 95, "MR").value) << slope;
        EXPECT_NE(cell.image.GreyTable().data.front(), cell.image.GreyTable().data.back()) << slope;
    }
    closeLogFile();
    initLogFile(nullptr, 0, 1, 1);
    unsetenv("ORBEL_DRIVE_C");
    std::stringstream log;
    log << std::ifstream(drive + "/Quillon.Log").rdbuf();
    size_t records = 0;
    for (size_t at = log.str().find("rescale slope"); at != std::string::npos; at = log.str().find("rescale slope", at + 1))
        ++records;
    EXPECT_EQ(3u, records) << log.str();
}
