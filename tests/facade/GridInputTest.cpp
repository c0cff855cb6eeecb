// The grids' mouse and keyboard tools through injected input, judged by the painted cells,
// the window text, the tooltip and the events against the same CImageBase operation applied
// directly in a fresh control, or against pydicom's reading of the CT.
#include "tests/facade/ContainerPump.h"

#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KToolTip.h"
#include "R2IVuzi/PssiXmlDao.h"

#include <tinyxml.h>

#include <algorithm>
#include <set>
#include <cstdio>
#include <unistd.h>

using namespace inputtest;

namespace {

class GridInput : public ContainerPump {
protected:
    void SetUp() override
    {
        ContainerPump::SetUp();
        if (setUpStopped())
            return;
        load();
    }
    // Press at from, one move per step (relative to from), optionally release.
    void drag(POINT from, std::initializer_list<POINT> steps, bool release = true,
              MouseButton b = MouseButton::Left)
    {
        move(from);
        button(true, b);
        for (POINT s : steps)
            move(POINT{from.x + s.x, from.y + s.y});
        if (release)
            button(false, b);
    }
    POINT client(CJ2KGrid& g, POINT screen)
    {
        ScreenToClient(g.m_hWnd, &screen);
        return screen;
    }
    // The distinct windows (offset, size, frame size) asked for in the server's records from `from` on;
    // a window's data may take several replies.
    std::set<std::string> windows(size_t from)
    {
        const std::vector<std::string> lines = server->logLines();
        std::set<std::string> out;
        for (size_t i = from; i < lines.size(); ++i)
            if (size_t at = lines[i].find("roff="); at != std::string::npos)
                out.insert(lines[i].substr(at, lines[i].find(',', lines[i].find("fsiz=", at) + 9) - at));
        return out;
    }
    bool border(CJ2KGrid& g) { return pixels(g.m_hWnd)[0] == 0xFFFF00u; }  // 0x00FFFF as COLORREF
    static int green(const Pixels& p) { return int(std::count(p.begin(), p.end(), 0x00FF00u)); }
};

} // namespace

TEST_F(GridInput, WindowLevelAppliesAtNinePixelsToTheSelectedGridOnly)
{
    CJ2KGrid &ct = grid(0, 0), &ramp = grid(0, 1);
    control->SetWorkingTool(1);
    const POINT p = at(ct);
    move(p);
    button(true);
    for (int i = 1; i <= 16; ++i) {
        move(POINT{p.x + std::min(i, 8), p.y + std::max(0, i - 8)});
        EXPECT_EQ(windowText(ct), "W : 400, L : 40") << i;
    }
    move(POINT{p.x + 9, p.y + 8});
    button(false);
    EXPECT_EQ(windowText(ct), "W : 436, L : 72");  // step 4 above 12 bits stored
    EXPECT_EQ(windowText(ramp), "W : 256, L : 128");
}

TEST_F(GridInput, ZoomPanAndZoomRectangleDragsMatchTheirReferenceRuns)
{
    const float ten = [] {
        float f = 1.0f;
        for (int i = 0; i < 10; ++i)
            f *= 1.005f;
        return f;
    }();
    const struct {
        const char* name;
        int tool;
        MouseButton b;
        std::vector<POINT> steps;
        std::function<void(CImageBase&, POINT, POINT)> reference;  // press and release, in the grid
    } cases[] = {
        {"zoom", 2, MouseButton::Left, {{9, 1}, {18, -8}},
         [&](CImageBase& b, POINT, POINT) { b.Zoom(ten, true, false); b.Zoom(1.0f, true, false); b.Zoom(1.0f, true, true); }},
        {"right drag of 7 pixels", 0, MouseButton::Right, {{7, 0}},
         [](CImageBase& b, POINT, POINT) { b.Pan(7, 0, true); }},
        {"zoom to a rectangle", 6, MouseButton::Left, {{10, 5}, {30, 20}},
         [](CImageBase& b, POINT p, POINT q) { b.ZoomToRect(p.x, p.y, q.x, q.y); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CJ2KGrid& ct = grid(0, 0);
        const POINT from = at(ct, -20, -15), to = {from.x + c.steps.back().x, from.y + c.steps.back().y};
        const POINT p = client(ct, from), q = client(ct, to);
        const Pixels expected = reference(0, 0, [&](CImageBase& b) { c.reference(b, p, q); });
        CJ2KGrid& g = grid(0, 0);
        EXPECT_NE(pixels(g.m_hWnd), expected);
        control->SetWorkingTool(c.tool);
        sink.events.clear();
        double before[2], after[2];
        base(g).GetZoomFactors(before);
        const size_t records = server->logLines().size();
        move(from);
        button(true, c.b);
        move(POINT{from.x + c.steps[0].x, from.y + c.steps[0].y});
        base(g).GetZoomFactors(after);
        EXPECT_NEAR(after[0], before[0] * (c.tool == 2 ? ten : 1.0f), 1e-6 * before[0]);
        EXPECT_EQ(frame().getWorkingTool(), c.tool == 0 ? 3 : c.tool);
        move(to);
        button(false, c.b);
        EXPECT_EQ(frame().getWorkingTool(), c.tool);
        ASSERT_TRUE(settle());
        EXPECT_EQ(pixels(g.m_hWnd), expected);
        EXPECT_TRUE(sink.events.empty());
        if (c.tool == 6) {
            EXPECT_EQ(windows(records).size(), 1u);
        }

    }
}

TEST_F(GridInput, RightButtonAndBothButtons)
{
    CJ2KGrid& ct = grid(0, 0);
    const Pixels first = pixels(ct.m_hWnd);
    drag(at(ct), {{3, 3}, {6, 0}}, true, MouseButton::Right);  // a click: no pan
    EXPECT_EQ(frame().getWorkingTool(), 0);
    EXPECT_EQ(pixels(ct.m_hWnd), first);

    // A left press during a right press drags, and the capture waits for both.
    control->SetWorkingTool(6);
    move(at(ct));
    button(true, MouseButton::Right);
    drag(at(ct), {{4, 4}}, false);  // within the right click's 6 pixels

    EXPECT_NE(pixels(ct.m_hWnd), first);  // the focus rectangle
    button(false);
    EXPECT_EQ(GetCapture(), ct.m_hWnd);
    button(false, MouseButton::Right);
    EXPECT_EQ(GetCapture(), nullptr);

    // A right press during a left drag is ignored: no switch to panning.
    control->SetWorkingTool(1);
    sink.events.clear();
    drag(at(ct), {}, false);
    button(true, MouseButton::Right);
    move(at(ct, 9, 0));
    button(false, MouseButton::Right);
    EXPECT_EQ(GetCapture(), ct.m_hWnd);
    button(false);
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_EQ(windowText(ct), "W : 436, L : 40");
    EXPECT_TRUE(sink.events.empty());
}

TEST_F(GridInput, RegionWindowPixelValueAndMagnifierTools)
{
    // At actual size the readout's samples are the image's own.
    control->SetFitType(1);
    ASSERT_TRUE(settle());
    control->SetWorkingTool(5);
    const std::string hu = readFile(fixtureDir() + "/ct1_hu.raw");
    for (CJ2KGrid* g : {&grid(0, 0), &grid(0, 1)}) {
        drag(at(*g, 7, -3), {}, false);
        int x = -1, y = -1, v = -1;
        const std::string text = Utf16ToUtf8(g->getToolTip()->m_text);
        if (g == &grid(0, 0)) {
            ASSERT_EQ(std::sscanf(text.c_str(), "X=%d, Y=%d, Hounsfield= %d", &x, &y, &v), 3) << text;
            EXPECT_EQ(v, reinterpret_cast<const int16_t*>(hu.data())[y * 256 + x]) << text;
        } else {
            ASSERT_EQ(std::sscanf(text.c_str(), "X=%d, Y=%d, Wert= %d", &x, &y, &v), 3) << text;
            EXPECT_EQ(v, x) << text;  // the ramp's value is its column
        }
        EXPECT_TRUE(IsWindowVisible(g->getToolTip()->m_hWnd));
        ClipCursor(nullptr);  // as when another window takes the screen
        move(at(*g, -150, 0));
        EXPECT_FALSE(IsWindowVisible(g->getToolTip()->m_hWnd));
        button(false);
    }

    const POINT p = client(grid(0, 1), at(grid(0, 1), -20, -5)), q = client(grid(0, 1), at(grid(0, 1), 25, 5));
    std::string expected;
    reference(0, 1, [&](CImageBase& b) { b.SetWindowFromRegion(p.x, p.y, q.x, q.y), b.GetWindowLevelText(expected); });
    CJ2KGrid &ct = grid(0, 0), &rgb = grid(1, 0), &ramp = grid(0, 1);
    EXPECT_NE(windowText(ramp), expected);
    control->SetWorkingTool(4);
    drag(at(ramp, -20, -5), {}, false);
    const Pixels plain = pixels(ramp.m_hWnd);
    move(at(ramp, 25, 5));
    EXPECT_NE(pixels(ramp.m_hWnd), plain);  // the focus rectangle
    button(false);
    EXPECT_EQ(windowText(ramp), expected);
    drag(at(rgb), {}, false);
    const Pixels pressed = pixels(rgb.m_hWnd);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_NO));
    move(at(rgb, 30, 20));
    EXPECT_EQ(pixels(rgb.m_hWnd), pressed);
    button(false);

    for (int tool : {7, 8, 9}) {
        SCOPED_TRACE(tool);
        control->SetWorkingTool(tool);
        drag(at(ct), {{2, 2}}, false);
        EXPECT_EQ(GetCursor(), nullptr);
        EXPECT_EQ(frame().getMagnification(), 2 << (tool - 7));
        const Pixels shown = pixels(ct.m_hWnd);
        EXPECT_GT(green(shown), 0);
        move(at(ct, -40, 0));
        EXPECT_NE(pixels(ct.m_hWnd), shown);  // the box follows the pointer to the edge
        button(false);
        EXPECT_EQ(green(pixels(ct.m_hWnd)), 0);
    }
}

TEST_F(GridInput, SelectionByModeAndDoubleClicks)
{
    click(at(grid(0, 0)));
    ASSERT_EQ(control->SetSubLayout(2, 2), S_OK);  // the CT's cell alone is selected
    ASSERT_TRUE(settle());
    const struct {
        const char* name;
        int mode;
        bool ctrl, link;
        int column, row, index;
        std::vector<bool> selected;  // CT grids 0-3, RGB, ramp, empty
    } cases[] = {
        {"mode 0", 0, false, false, 0, 0, 1, {false, true, false, false, false, false, false}},
        {"mode 0 with Ctrl", 0, true, false, 1, 0, 0, {false, true, false, false, true, false, false}},
        {"mode 0 linked", 0, false, true, 0, 1, 0, {false, true, false, false, true, true, false}},
        {"mode 1", 1, false, false, 1, 1, 0, {true, true, true, true, true, true, true}},
        {"mode 4", 4, false, false, 0, 0, 2, {true, true, true, true, false, false, false}},
        {"mode 4 with Ctrl", 4, true, false, 1, 1, 0, {true, true, true, true, false, false, true}},
    };
    int mode = -1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mode != mode) {
            control->SetSelectMode(mode = c.mode);
            frame().deselectAll();  // each mode starts from nothing selected
        }
        control->SetLink(c.link ? VARIANT_TRUE : VARIANT_FALSE);
        if (c.ctrl)
            key(VK_LCONTROL);
        click(at(grid(c.column, c.row, c.index)));
        if (c.ctrl)
            key(VK_LCONTROL, false);
        std::vector<bool> got;
        for (size_t i = 0; i < 4; ++i)
            got.push_back(border(grid(0, 0, i)));
        for (auto cell : {std::make_pair(1, 0), std::make_pair(0, 1), std::make_pair(1, 1)})
            got.push_back(border(grid(cell.first, cell.second)));
        EXPECT_EQ(got, c.selected);
    }

    // Presses within 500 ms: single view in 2 x 2, nothing in 1 x 1 or with an annotation tool.
    auto doubleClick = [&](CJ2KGrid& g) {
        move(at(g));
        for (bool down : {true, false, true, false})
            platform::InjectButton(MouseButton::Left, down), pump();
        pump();
    };
    doubleClick(grid(1, 0));
    EXPECT_FALSE(frame().findAt(1, 0)->isSingleView());
    doubleClick(grid(0, 0, 1));
    EXPECT_TRUE(frame().findAt(0, 0)->isSingleView());
    control->SetWorkingTool(11);
    doubleClick(grid(0, 0));
    EXPECT_TRUE(frame().findAt(0, 0)->isSingleView());
}

TEST_F(GridInput, KeysBecomeHotkeyCommandsDumpsAndArrowPans)
{
    CJ2KGrid& ct = grid(0, 0);
    spy(ct.m_hWnd);
    key(VK_LCONTROL);
    key('S');
    key(VK_LCONTROL, false);
    EXPECT_EQ(std::count(seen(ct).begin(), seen(ct).end(), "command:10002"), 1);
    EXPECT_EQ(GetCursor(), frame().getToolCursor());

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(drive.c_str()), 0);
    platform::AdvanceClock(600);
    key(VK_F12);
    key(VK_F12, false);
    ASSERT_EQ(chdir(cwd), 0);
    TiXmlDocument dumped;
    ASSERT_TRUE(dumped.LoadFile(drive + "/pssi.xml"));
    TiXmlPrinter a, b;
    dumped.RootElement()->Accept(&a);
    frame().getPssiXmlDao()->getRootElement()->Accept(&b);
    EXPECT_EQ(std::string(a.CStr()), b.CStr());

    const Pixels expected = reference(0, 0, [](CImageBase& b) { b.Pan(1, 0, true); });
    EXPECT_NE(pixels(grid(0, 0).m_hWnd), expected);
    control->SetWorkingTool(3);
    key(VK_RIGHT);
    ASSERT_TRUE(settle());
    EXPECT_EQ(pixels(grid(0, 0).m_hWnd), expected);
}

TEST_F(GridInput, AnAnnotationCreatedSelectsToolEleven)
{
    control->SetWorkingTool(16);
    sink.events.clear();
    drag(at(grid(0, 0), -20, -10), {{10, 5}, {30, 10}});
    EXPECT_EQ(sink.events, std::vector<std::string>{"SetWorkingTool(11)"});
    EXPECT_EQ(frame().getWorkingTool(), 11);
}
