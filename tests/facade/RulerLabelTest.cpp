// The rulers' labels in a fitted 2 x 2 layout of 800 x 600, as the README's example shows
// the demo's images: each label is found whole, every fully lit pixel of its text white,
// inside its cell's visible area (the grid, left of its sub-frame's scroll bar and above
// the bottom edge), also when a ruler of one unit is longer than the cell.
#include "tests/facade/ContainerPump.h"

#include "R2IVuzi/StartupValues.h"
#include "tests/R2IVuzi/support/OverlayReference.h"

#include <cstdlib>
#include <utility>

using namespace inputtest;

namespace {

// A label as the stand-in draws it alone, white on black in the rulers' font: its size
// and the pixels it lights fully (only those are white whatever lies under the text).
struct Glyphs {
    int width = 0, height = 0;
    std::vector<std::pair<int, int>> lit;
};

Glyphs glyphsOf(const std::string& label, int size)
{
    const std::u16string text(label.begin(), label.end());
    gridtest::Surface probe(1, 1);
    HFONT font = CreateFontW(size, 0, 0, 0, 400, 0, 0, 0, 1, 0, 0, 0, 0, u"Arial");
    HGDIOBJ old = SelectObject(probe.dc, font);
    SIZE extent = {0, 0};
    GetTextExtentPoint32W(probe.dc, text.c_str(), int(text.size()), &extent);
    SelectObject(probe.dc, old);
    Glyphs g;
    g.width = extent.cx;
    g.height = extent.cy;
    gridtest::Surface s(g.width, g.height);
    old = SelectObject(s.dc, font);
    SetBkMode(s.dc, TRANSPARENT);
    SetTextColor(s.dc, RGB(255, 255, 255));
    TextOutW(s.dc, 0, 0, text.c_str(), int(text.size()));
    SelectObject(s.dc, old);
    DeleteObject(font);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            if (s.white(x, y))
                g.lit.emplace_back(x, y);
    return g;
}

// Where the label stands whole in a cell of width w painted with the rulers (on) and
// without them (off): its lit pixels all white with the rulers, most of them not white
// without (so a white patch of the image, a ruler's line across it, is no match).
std::vector<POINT> findLabel(const Glyphs& g, const Pixels& on, const Pixels& off, int w, int h)
{
    std::vector<POINT> found;
    for (int y = 0; y + g.height <= h; ++y)
        for (int x = 0; x + g.width <= w; ++x) {
            bool all = true;
            size_t whiteBefore = 0;
            for (const auto& p : g.lit) {
                const size_t at = size_t(y + p.second) * size_t(w) + size_t(x + p.first);
                all = all && on[at] == 0xFFFFFF;
                whiteBefore += off[at] == 0xFFFFFF;
                if (!all)
                    break;
            }
            const bool before = 2 * whiteBefore >= g.lit.size();
            // A text's fully lit pixels may run along its strokes: a match one pixel off
            // the last one is the same label.
            const bool same = !found.empty() && std::abs(found.back().x - x) < g.width &&
                              std::abs(found.back().y - y) < g.height;
            if (all && !before && !same)
                found.push_back(POINT{x, y});
        }
    return found;
}

class RulerLabels : public ContainerPump {};

} // namespace

TEST_F(RulerLabels, WholeInsideTheCellLeftOfTheScrollBar)
{
    unspyAll();
    stop();
    platform::ResetInput();
    start(800, 600);
    initControl();
    load();
    CJ2KGrid& g = grid(0, 0);
    // The first cell holds a series of three images: its sub-frame shows a scroll bar, and
    // the grid ends left of it.
    const HWND bar = frame().findAt(0, 0)->getScrollBarWindow();
    ASSERT_TRUE(bar && IsWindowVisible(bar));
    RECT barRect, cell;
    GetWindowRect(bar, &barRect);
    GetWindowRect(g.m_hWnd, &cell);
    ASSERT_LE(cell.right, barRect.left);
    const int w = cell.right - cell.left, h = cell.bottom - cell.top;
    ASSERT_GT(w, 300);
    const bool overlayWas = g_showOverlay, rulerWas = g_showRuler;
    g_showOverlay = false;
    const struct {
        const char* name;
        double spacing; // mm, both ways; 0: uncalibrated
        bool longer;    // one unit of the ruler is longer than the cell
    } cases[] = {
        {"uncalibrated", 0.0, false},
        {"calibrated", 0.5, false},
        {"one centimetre longer than the cell", 0.02, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DicomRecord& dicom = base(g).GetPhotometricInterpretation();
        dicom.pixelSpacingRow = dicom.pixelSpacingColumn = c.spacing;
        double zoom[2];
        base(g).GetZoomFactors(zoom);
        EXPECT_EQ(c.longer, c.spacing > 0 && 10.0 * zoom[1] / c.spacing > h);
        Pixels shown[2];
        for (int on = 0; on < 2; ++on) {
            g_showRuler = on == 1;
            InvalidateRect(g.m_hWnd, nullptr, FALSE);
            shown[on] = pixels(g.m_hWnd);
            ASSERT_EQ(shown[on].size(), size_t(w) * size_t(h));
        }
        const int size = CJ2KGrid::rulerTextSize(h, g_overlayTextSize);
        const std::string vertical = g.rulerLabel(true), horizontal = g.rulerLabel(false);
        const Glyphs vg = glyphsOf(vertical, size), hg = glyphsOf(horizontal, size);
        ASSERT_FALSE(vg.lit.empty());
        const std::vector<POINT> v = findLabel(vg, shown[1], shown[0], w, h), hz = findLabel(hg, shown[1], shown[0], w, h);
        if (vertical == horizontal) {
            // Two places, apart: the labels do not meet in the corner.
            ASSERT_EQ(v.size(), 2u) << vertical;
            EXPECT_TRUE(std::abs(v[0].x - v[1].x) >= vg.width || std::abs(v[0].y - v[1].y) >= vg.height);
        } else {
            EXPECT_EQ(v.size(), 1u) << vertical;
            EXPECT_EQ(hz.size(), 1u) << horizontal;
        }
    }
    g_showOverlay = overlayWas;
    g_showRuler = rulerWas;
}
