// The DICOM window as the grey table and the texts show it, and the pixel readout, through
// the rendering path. Expected values are worked out by hand from the DICOM definitions.
#include "tests/image/RenderTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <string>

using render_test::Cell;

namespace {

std::string WindowText(CImageBase& b)
{
    std::string t;
    return b.GetWindowLevelText(t);
}

// The double at a byte offset of the display-state text (hexadecimal, little-endian).
double DisplayStateDouble(CImageBase& b, size_t offset)
{
    std::string text;
    b.GetDisplayStateText(text);
    uint8_t bytes[8] = {};
    for (size_t i = 0; i < 8 && 2 * (offset + i) + 2 <= text.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::strtoul(text.substr(2 * (offset + i), 2).c_str(), nullptr, 16));
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

const size_t kCentreAt = 16, kWidthAt = 24;

// A 12-bit grey cell, 1:1, whose every sample is the stored value.
void ShowConstant(Cell& cell, uint32_t stored, const char* photometric = "MONOCHROME2")
{
    cell.image.GetPhotometricInterpretation().photometricInterpretation = photometric;
    cell.Init(40, 30, 1, 12, true, false, [stored](int, int) { return stored; });
}

} // namespace

// A second DICOM window with the width unchanged and only the centre moved replaces the
// first: the table, the window text and the stored display state all follow the centre.
TEST(DicomWindow, SecondWindowMovingOnlyTheCentre)
{
    Cell cell(41, 31);
    ShowConstant(cell, 1000);
    DicomRecord& d = cell.image.GetPhotometricInterpretation();
    d.windowWidth = 400;
    d.windowCentre = 40;
    cell.image.ApplyDicomWindow();
    cell.Render();
    ASSERT_EQ("W : 400, L : 40", WindowText(cell.image));
    ASSERT_EQ(127, cell.image.GreyTable().data.at(40));

    d.windowCentre = 1040;
    cell.image.ApplyDicomWindow();
    cell.Render();
    EXPECT_EQ(400.0f, cell.image.WindowWidth());
    EXPECT_EQ(1040.0f, cell.image.WindowCentre());
    EXPECT_EQ("W : 400, L : 1040", WindowText(cell.image));
    EXPECT_EQ(400.0, DisplayStateDouble(cell.image, kWidthAt));
    EXPECT_EQ(1040.0, DisplayStateDouble(cell.image, kCentreAt));
    // Window 840..1240: (s - 1040) * 255 / 400 + 127.5, clipped to 0..255 and truncated.
    const struct {
        int stored, grey;
    } entries[] = {{0, 0},      {40, 0},     {839, 0},    {840, 0},    {940, 63},   {1000, 102},
                   {1040, 127}, {1140, 191}, {1239, 254}, {1240, 255}, {1300, 255}, {4095, 255}};
    for (const auto& e : entries)
        EXPECT_EQ(e.grey, cell.image.GreyTable().data.at(static_cast<size_t>(e.stored))) << e.stored;
    // The painted cell shows stored 1000 at its new grey.
    EXPECT_EQ(102, cell.Grey(cell.Pixels(), 20, 15));
}

// The level in the text is counted from the top of the stored range for MONOCHROME1.
TEST(DicomWindow, LevelTextForInvertedGreys)
{
    const struct {
        const char* photometric;
        int bits;
        float width, centre;
        const char* text;
    } cases[] = {
        {"MONOCHROME1", 8, 400, 40, "W : 400, L : 216"},   {"MONOCHROME1", 12, 400, 40, "W : 400, L : 4056"},
        {"MONOCHROME1", 12, 2000, 1000, "W : 2000, L : 3096"}, {"MONOCHROME1", 16, 600, 1000, "W : 600, L : 64536"},
        {"MONOCHROME2", 12, 400, 40, "W : 400, L : 40"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(::testing::Message() << k.photometric << " " << k.bits << " bits");
        Cell cell(41, 31);
        cell.image.GetPhotometricInterpretation().photometricInterpretation = k.photometric;
        cell.image.GetPhotometricInterpretation().windowWidth = k.width;
        cell.image.GetPhotometricInterpretation().windowCentre = k.centre;
        cell.Init(40, 30, 1, k.bits, true, false, [](int, int) { return 7u; });
        cell.image.ApplyDicomWindow();
        cell.Render();
        EXPECT_EQ(k.text, WindowText(cell.image));
    }
}

// Slope 0.5 and intercept -1024.5: the readout shows the modality value truncated toward
// zero (not rounded, not floored).
TEST(PixelReadout, FractionalRescaleIsTruncated)
{
    const struct {
        uint32_t stored;
        const char* shown;
    } cases[] = {{1001, "-524"}, {1000, "-524"}, {999, "-525"}, {2046, "-1"}, {2048, "0"},
                 {2049, "0"},    {2050, "0"},    {2051, "1"},   {3000, "475"}, {3001, "476"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.stored);
        Cell cell(41, 31);
        cell.image.GetPhotometricInterpretation().rescaleSlope = 0.5f;
        cell.image.GetPhotometricInterpretation().rescaleIntercept = -1024.5f;
        ShowConstant(cell, k.stored);
        cell.image.ApplyDicomWindow();
        cell.Render();
        PixelReadout r;
        EXPECT_EQ(k.shown, cell.image.GetPixelReadout(r, 20, 15, "MR").value);
        EXPECT_EQ(std::string("X=20, Y=15, Hounsfield= ") + k.shown, cell.image.GetPixelReadout(r, 20, 15, "CT").value);
    }
}

// Points whose X and Y differ read the sample at column X, row Y, and say so in that order.
TEST(PixelReadout, PositionsKeepColumnAndRowApart)
{
    Cell cell(41, 31);
    cell.Init(40, 30, 1, 12, true, false, [](int x, int y) { return static_cast<uint32_t>(x + 100 * y); });
    cell.Render();
    const struct {
        int x, y;
    } points[] = {{5, 17}, {17, 5}, {39, 0}, {0, 29}, {33, 2}, {1, 28}};
    for (const auto& p : points) {
        SCOPED_TRACE(::testing::Message() << p.x << "," << p.y);
        PixelReadout r;
        cell.image.GetPixelReadout(r, p.x, p.y, "MR");
        EXPECT_EQ("X=" + std::to_string(p.x) + ", Y=" + std::to_string(p.y), r.position);
        EXPECT_EQ(std::to_string(p.x + 100 * p.y), r.value);
        cell.image.GetPixelReadout(r, p.x, p.y, "CT");
        EXPECT_EQ("X=" + std::to_string(p.x) + ", Y=" + std::to_string(p.y) +
                      ", Hounsfield= " + std::to_string(p.x + 100 * p.y),
                  r.value);
    }
}
