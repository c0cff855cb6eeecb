// The control's window as a container drives it: keys through TranslateAccelerator, the
// wheel to the focused control, resizing and drawing.
#include "tests/facade/ContainerPump.h"

#include <algorithm>

using namespace inputtest;

namespace {

class ControlWindow : public ContainerPump {
protected:
    int count(CJ2KGrid& g, const std::string& what)
    {
        const auto& s = seen(g);
        return int(std::count(s.begin(), s.end(), what));
    }
    std::string shown(CJ2KGrid& g) { return g.getTarget().substr(g.getTarget().rfind('/') + 1); }
};

} // namespace

TEST_F(ControlWindow, KeysAreDampedPagedAndHandedToTheSelectedGrid)
{
    load();
    CJ2KGrid& ct = grid(0, 0);
    spy(ct.m_hWnd);
    // Key-ups come at the press's tick, so only the press pairs count.
    const struct {
        const char* name;
        DWORD first, second;
        int commands;
    } repeats[] = {{"349 ms apart", 10000, 10349, 1}, {"350 ms apart", 20000, 20350, 2},
                   {"across the tick count's wrap", 0xFFFFFF00u, 0xF0, 2}};
    for (const auto& c : repeats) {
        SCOPED_TRACE(c.name);
        seen(ct).clear();
        for (DWORD tick : {c.first, c.second}) {
            platform::SetManualClock(tick);
            key('A');
            key('A', false);
        }
        EXPECT_EQ(count(ct, "command:10001"), c.commands);
    }

    click(at(ct));
    const Pixels first = pixels(ct.m_hWnd);
    platform::AdvanceClock(600);
    key(VK_NEXT);
    ASSERT_TRUE(settle());
    EXPECT_EQ(shown(ct), "ct2");
    EXPECT_NE(pixels(ct.m_hWnd), first);
    control->SetWorkingTool(3);
    seen(ct).clear();
    platform::AdvanceClock(600);
    key(VK_NEXT);
    platform::AdvanceClock(600);
    key(VK_NUMPAD0 + 5);
    EXPECT_EQ(seen(ct), (std::vector<std::string>{"key:" + std::to_string(VK_NEXT), "key:" + std::to_string('5')}));
    EXPECT_EQ(shown(ct), "ct2");

    // Nothing selected: nothing is sent, and the keys are still consumed.
    control->SetWorkingTool(0);
    frame().deselectAll();
    seen(ct).clear();
    for (UINT vk : {UINT(VK_NEXT), UINT('A')}) {
        platform::AdvanceClock(600);
        MSG msg = {window, WM_KEYDOWN, vk, 1, GetTickCount(), {0, 0}};
        EXPECT_EQ(control->TranslateAccelerator(&msg), S_OK);
    }
    EXPECT_TRUE(seen(ct).empty());
    EXPECT_EQ(shown(ct), "ct2");
}

TEST_F(ControlWindow, WheelPagesTheSelectionOrStepsTheMagnifier)
{
    load();
    CJ2KGrid& ct = grid(0, 0);
    click(at(ct));
    platform::InjectWheel(-1);
    pump();
    ASSERT_TRUE(settle());
    EXPECT_EQ(shown(ct), "ct2");

    control->SetWorkingTool(8);
    move(at(ct));
    button(true);
    const struct {
        const char* name;
        UINT held;  // a key or button held meanwhile, 0 for none
        int notches, repeat, step;
    } steps[] = {{"away from the user", 0, 1, 3, 2},   {"toward the user", 0, -1, 20, 16},
                 {"right button held", VK_RBUTTON, 1, 1, 16}, {"shift held", VK_SHIFT, 1, 1, 16},
                 {"zero delta", 0, 0, 1, 16}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.held == VK_RBUTTON)
            button(true, MouseButton::Right);
        else if (s.held)
            key(s.held);
        for (int i = 0; i < s.repeat; ++i) {
            platform::InjectWheel(s.notches);
            pump();
        }
        if (s.held == VK_RBUTTON)
            button(false, MouseButton::Right);
        else if (s.held)
            key(s.held, false);
        EXPECT_EQ(frame().getMagnification(), s.step);
    }
    const Pixels wheeled = pixels(ct.m_hWnd);
    button(false);
    button(true);
    frame().setMagnification(16);
    InvalidateRect(ct.m_hWnd, nullptr, FALSE);
    EXPECT_EQ(pixels(ct.m_hWnd), wheeled);
    button(false);
}

TEST_F(ControlWindow, KeepsTheFrameOverItsClientAreaAndIsBlackBeforeIt)
{
    HDC dc = GetDC(parent);
    const RECT all = {0, 0, 240, 180};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    ReleaseDC(parent, dc);
    MoveWindow(window, 0, 0, 200, 150, TRUE);
    const Pixels before = pixels(window);
    EXPECT_EQ(before.size(), 200u * 150u);
    EXPECT_TRUE(std::all_of(before.begin(), before.end(), [](uint32_t p) { return p == 0; }));
    EXPECT_EQ(pixels(parent).back(), 0xFFFFFFu);  // beside the control, still white

    load();
    MoveWindow(window, 0, 0, 230, 170, TRUE);
    ASSERT_TRUE(settle());
    RECT r = {};
    GetWindowRect(frame().m_hWnd, &r);
    EXPECT_EQ(r.right - r.left, 230);
    EXPECT_EQ(r.bottom - r.top, 170);
    for (int c = 0; c < 2; ++c)
        for (int row = 0; row < 2; ++row)
            spy(grid(c, row).m_hWnd);
    InvalidateRect(window, nullptr, TRUE);
    pump();
    for (int c = 0; c < 2; ++c)
        for (int row = 0; row < 2; ++row)
            EXPECT_EQ(count(grid(c, row), "paint:0"), 1) << c << "," << row;
}
