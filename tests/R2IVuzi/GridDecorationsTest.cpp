// Decorations worked out by hand: ruler sizes and labels, date and time texts, the
// tooltip's placement, the drag feedback and the annotation geometry.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KToolTip.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using gridtest::GridHarness;

TEST(GridDecorations, RulerTextSizeDatesAndTimes)
{
    EXPECT_EQ(CJ2KGrid::rulerTextSize(400, 2.0), 20);
    EXPECT_EQ(CJ2KGrid::rulerTextSize(100, 2.0), 6);
    EXPECT_EQ(CJ2KGrid::rulerTextSize(400, std::nan("")), 20);
    EXPECT_EQ(CJ2KGrid::rulerTextSize(400, -1e9), 20);
    // 1.1 squared of 20 is 24, past the top; a huge size gives 0, below the bottom.
    EXPECT_EQ(CJ2KGrid::rulerTextSize(400, 0.0), 20);
    EXPECT_EQ(CJ2KGrid::rulerTextSize(400, 1e9), 6);
    const struct {
        const char *in, *date, *time;
    } cases[] = {{"20240105", "2024/01/05", "20:24:0105"}, {"093000.25", "0930/00/.25", "09:30:00"},
                 {"0930", "0930//", "09:30:"}, {"202401", "2024/01/", "20:24:01"}, {"2024", "2024//", "20:24:"},
                 {"", "", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(CJ2KGrid::formatDate(c.in), c.date) << c.in;
        EXPECT_EQ(CJ2KGrid::formatTime(c.in), c.time) << c.in;
    }
}

TEST(GridDecorations, RulerLabelsFollowSpacingZoomAndTurns)
{
    GridHarness h(400, 300);
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("t", "u", nullptr));
    CImageBase& base = image->getImageBase();
    base.InitImage(300, 400, 5, 8, true, false);
    image->setOpened(true);
    h.grid->setImage(image);
    h.grid->layout();
    base.Zoom(1.0f, true, true);
    double zoom[2];
    base.GetZoomFactors(zoom);
    ASSERT_DOUBLE_EQ(zoom[0], 1.0);
    EXPECT_EQ(h.grid->rulerLabel(true), "99pt");
    base.GetPhotometricInterpretation().pixelSpacingRow = 1.0;
    base.GetPhotometricInterpretation().pixelSpacingColumn = 0.25;
    EXPECT_EQ(h.grid->rulerLabel(true), "10cm");
    EXPECT_EQ(h.grid->rulerLabel(false), "3cm");
    base.Rotate(true, true);
    EXPECT_EQ(h.grid->rulerLabel(true), "2cm");
    EXPECT_EQ(h.grid->rulerLabel(false), "13cm");
    // One spacing unknown: points.
    base.GetPhotometricInterpretation().pixelSpacingColumn = 0.0;
    EXPECT_EQ(h.grid->rulerLabel(false), "132pt");
}

TEST(GridDecorations, ToolTipShownOnTheEdgeHiddenPastIt)
{
    GridHarness h;
    CJ2KToolTip tip;
    tip.CreateToolTip(h.grid->m_hWnd);
    tip.SetText(u"1234");
    // The extent measured independently with a 30-pixel font.
    HDC dc = GetDC(tip.m_hWnd);
    HFONT font = CreateFontW(30, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0, u"Arial");
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent;
    GetTextExtentPoint32W(dc, u"1234", 4, &extent);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(tip.m_hWnd, dc);
    POINT screen = {240, 90};
    ClientToScreen(h.grid->m_hWnd, &screen);
    tip.SetPoint(240, 90);
    tip.Update();
    EXPECT_TRUE(IsWindowVisible(tip.m_hWnd));
    RECT r;
    GetWindowRect(tip.m_hWnd, &r);
    // Right of the pointer it would cross the edge: it sits left of it instead.
    EXPECT_EQ(r.right, screen.x - 10);
    EXPECT_EQ(r.top, screen.y + 1);
    EXPECT_EQ(r.right - r.left, extent.cx + 7);
    EXPECT_EQ(r.bottom - r.top, extent.cy + 2);
    POINT corner = {0, 0};
    ClientToScreen(h.grid->m_hWnd, &corner);
    tip.SetPoint(0, 0);
    tip.Update();
    GetWindowRect(tip.m_hWnd, &r);
    EXPECT_EQ(r.left, corner.x + 10);
    EXPECT_EQ(r.top, corner.y + 1);
    tip.SetPoint(241, 90);
    tip.Update();
    EXPECT_FALSE(IsWindowVisible(tip.m_hWnd));
    tip.DestroyWindow();
}

// The pixel-value tool at the four corners of a fitted 512 x 512 image shown at a reduced
// level, in a control with room to spare right of the cell but little below it: the
// readout names the image's own corner pixels and its window stays in the control.
TEST(GridDecorations, ReadoutNamesImagePixelsInsideTheControl)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    static const std::string root = gridtest::makeFixture("readout_fixture.py", "readout-corpus");
    ASSERT_FALSE(root.empty());
    GridHarness h(240, 180, {}, true, root);
    ASSERT_TRUE(h.show(1));
    const int controlWidth = 560, controlHeight = 200;
    SetWindowPos(h.frame->m_hWnd, nullptr, 0, 0, controlWidth, controlHeight, SWP_NOZORDER | SWP_NOMOVE);
    CImageBase& base = h.grid->getImage()->getImageBase();
    int32_t region[7], d[4];
    base.GetTransformRegion(region);
    ASSERT_GT(region[kRegionLevel], 0);
    base.GetImageRectInView(d);
    h.frame->setWorkingTool(5, false);
    RECT control;
    GetClientRect(h.frame->m_hWnd, &control);
    MapWindowPoints(h.frame->m_hWnd, nullptr, reinterpret_cast<POINT*>(&control), 2);
    const struct {
        int x, y, column, row;
    } corners[] = {{d[0], d[1], 0, 0}, {d[2], d[1], 511, 0}, {d[0], d[3], 0, 511}, {d[2], d[3], 511, 511}};
    int movedLeft = 0, movedUp = 0;
    for (const auto& c : corners) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        SendMessageW(h.grid->m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.x, c.y));
        CJ2KToolTip* tip = h.grid->getToolTip();
        ASSERT_NE(tip, nullptr);
        ASSERT_TRUE(IsWindowVisible(tip->m_hWnd));
        const std::string text(tip->m_text.begin(), tip->m_text.end());
        int column = -1, row = -1;
        EXPECT_EQ(std::sscanf(text.c_str(), "X=%d, Y=%d", &column, &row), 2) << text;
        EXPECT_EQ(column, c.column) << text;
        EXPECT_EQ(row, c.row) << text;
        RECT r;
        GetWindowRect(tip->m_hWnd, &r);
        POINT pointer = {c.x, c.y};
        ClientToScreen(h.grid->m_hWnd, &pointer);
        EXPECT_TRUE(r.left >= control.left && r.top >= control.top && r.right <= control.right &&
                    r.bottom <= control.bottom)
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        movedLeft += r.right <= pointer.x;
        movedUp += r.bottom <= pointer.y;
        SendMessageW(h.grid->m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(c.x, c.y));
        EXPECT_FALSE(IsWindowVisible(tip->m_hWnd));
    }
    // Right of the image there is room; below it there is none.
    EXPECT_EQ(movedLeft, 0);
    EXPECT_EQ(movedUp, 2);
}

TEST(GridDecorations, FocusRectangleWhileDraggingButNotWindowToolOnColour)
{
    GridHarness h;
    HWND w = h.frame->m_hWnd;
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("t", "u", nullptr));
    h.grid->setImage(image);
    h.grid->setInputState(true, RECT{40, 40, 100, 100}, POINT{100, 100});
    const struct {
        int tool, channels;
        bool drawn;
    } cases[] = {{4, 1, true}, {6, 1, true}, {6, 3, true}, {4, 3, false}, {5, 1, false}};
    for (const auto& c : cases) {
        h.frame->setWorkingTool(c.tool);
        image->getChannelMapping()->num_channels = c.channels;
        h.paint();
        int lit = 0;
        for (int x = 40; x < 100; ++x)
            lit += gridtest::pixelAt(w, x, 40) != RGB(0, 0, 0);
        EXPECT_EQ(lit > 0, c.drawn) << "tool " << c.tool << " channels " << c.channels;
    }
}

TEST(GridDecorations, AnnotationGeometryFollowsTheDisplayState)
{
    GridHarness h;
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("t", "u", nullptr));
    CImageBase& base = image->getImageBase();
    base.InitImage(384, 512, 5, 12, true, false);
    base.GetPhotometricInterpretation().pixelSpacingRow = 0.5;
    base.GetPhotometricInterpretation().pixelSpacingColumn = 0.25;
    image->setOpened(true);
    h.grid->setImage(image);
    h.grid->layout();
    base.Rotate(true, true);
    base.Zoom(2.0f, true, false);
    h.grid->syncAnnotationGeometry();
    ImageDisplayState s;
    base.GetDisplayState(s);
    const AnnViewGeometry& g = *image->getAnnWrapper().GetViewGeometry();
    EXPECT_EQ(g.quarterTurns, 1);
    EXPECT_EQ(g.mirror, s.mirrored);
    EXPECT_DOUBLE_EQ(g.zoomX, s.zoomX);
    EXPECT_DOUBLE_EQ(g.zoomY, s.zoomY);
    EXPECT_EQ(g.originX, s.placedImage.left);
    EXPECT_EQ(g.originY, s.placedImage.top);
    EXPECT_EQ(g.rect2, s.placedImage.right);
    EXPECT_EQ(g.rect3, s.placedImage.bottom);
    EXPECT_EQ(g.extentX, s.imageWidth);
    EXPECT_EQ(g.extentY, s.imageHeight);
    EXPECT_DOUBLE_EQ(g.scaleA, 0.25);
    EXPECT_DOUBLE_EQ(g.scaleB, 0.5);
}

TEST(GridDecorations, MagnifierBoxClippedToTheViewFramedInGreen)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    GridHarness h;
    ASSERT_TRUE(h.show(1));
    h.frame->setWorkingTool(7);
    h.grid->setInputState(true, RECT{0, 0, 0, 0}, POINT{230, 90});
    h.paint();
    const RECT& box = h.grid->getDragRect();
    EXPECT_EQ(box.left, 155);
    EXPECT_EQ(box.top, 15);
    EXPECT_EQ(box.right, 240);
    EXPECT_EQ(box.bottom, 165);
    HWND w = h.frame->m_hWnd;
    const COLORREF green = RGB(0, 255, 0);
    EXPECT_EQ(gridtest::pixelAt(w, 200, 15), green);
    EXPECT_EQ(gridtest::pixelAt(w, 155, 90), green);
    EXPECT_EQ(gridtest::pixelAt(w, 200, 165), green);
    // The factor's text, green, at (left + 4, bottom - 16).
    int text = 0;
    for (int y = 149; y < 164; ++y)
        for (int x = 159; x < 170; ++x)
            text += gridtest::pixelAt(w, x, y) == green;
    EXPECT_GT(text, 3);
}
