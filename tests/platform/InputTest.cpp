#include "WindowTestSupport.h"

using namespace testsupport;

namespace {

using Input = WindowTest;
using platform::MouseButton;

std::vector<Received> mouseLog(std::initializer_list<UINT> only)
{
    std::vector<Received> out;
    for (const Received& r : log())
        for (UINT m : only)
            if (r.message == m)
                out.push_back(r);
    return out;
}

TEST_F(Input, PressGoesToTheDeepestWindowInClientCoordinates)
{
    HWND top = make(nullptr, 100, 100, 200, 200);
    HWND child = make(top, 50, 40, 60, 60);
    platform::PumpPending();
    log().clear();
    platform::InjectMouseMove(160, 150);
    platform::InjectKey(VK_SHIFT, true);
    platform::InjectButton(MouseButton::Left, true);
    platform::PumpPending();
    std::vector<Received> got;
    for (const Received& r : mouseLog({WM_SETCURSOR, WM_LBUTTONDOWN}))
        if (r.hwnd == child) // the parent sees WM_SETCURSOR too, through DefWindowProcW
            got.push_back(r);
    ASSERT_EQ(got.size(), 3u); // the move's WM_SETCURSOR, the press's, the press
    EXPECT_EQ(got[1].message, UINT(WM_SETCURSOR));
    EXPECT_EQ(got[1].hwnd, child);
    EXPECT_EQ(LOWORD(got[1].lParam), HTCLIENT);
    EXPECT_EQ(HIWORD(got[1].lParam), WM_LBUTTONDOWN);
    EXPECT_EQ(got[2].message, UINT(WM_LBUTTONDOWN));
    EXPECT_EQ(got[2].hwnd, child);
    EXPECT_EQ(GET_X_LPARAM(got[2].lParam), 10);
    EXPECT_EQ(GET_Y_LPARAM(got[2].lParam), 10);
    EXPECT_EQ(got[2].wParam, WPARAM(MK_LBUTTON | MK_SHIFT)); // no focus: the key went nowhere, its state holds
    EXPECT_TRUE(GetAsyncKeyState(VK_SHIFT) & 0x8000);
    platform::InjectButton(MouseButton::Left, false);
    platform::InjectKey(VK_SHIFT, false);

    // Outside the child, the parent gets it.
    log().clear();
    platform::InjectMouseMove(105, 105);
    platform::PumpPending();
    auto moves = mouseLog({WM_MOUSEMOVE});
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].hwnd, top);
}

TEST_F(Input, DoubleClicksOnlyForTheClassThatAsksCloseInTimeAndSpace)
{
    HWND plain = make(nullptr, 0, 0, 100, 100);
    HWND dbl = make(nullptr, 200, 0, 100, 100, WS_VISIBLE, u"TestDblClk");
    platform::PumpPending();
    auto click = [](int x, int y, DWORD wait) {
        platform::AdvanceClock(wait);
        platform::InjectMouseMove(x, y);
        platform::InjectButton(MouseButton::Left, true);
        platform::InjectButton(MouseButton::Left, false);
    };
    auto downs = [](HWND h) {
        std::vector<UINT> out;
        for (UINT m : messagesFor(h, {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK}))
            out.push_back(m);
        return out;
    };
    click(10, 10, 0);
    click(10, 10, 100);
    platform::PumpPending();
    EXPECT_EQ(downs(plain), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));

    click(210, 10, 1000);
    click(214, 14, 500); // at the limits
    click(214, 14, 100); // a third press starts over
    click(219, 14, 100); // too far
    click(219, 14, 501); // too late
    platform::PumpPending();
    EXPECT_EQ(downs(dbl), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN, WM_LBUTTONDOWN,
                                             WM_LBUTTONDOWN}));
}

TEST_F(Input, WheelAndKeysGoToTheFocusWindow)
{
    HWND top = make(nullptr, 0, 0, 100, 100);
    HWND child = make(top, 0, 0, 50, 50);
    platform::PumpPending();
    SetFocus(child);
    log().clear();
    platform::InjectMouseMove(70, 70);
    platform::InjectKey(VK_RCONTROL, true);
    platform::PumpPending();
    EXPECT_TRUE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
    EXPECT_TRUE(GetKeyState(VK_RCONTROL) & 0x8000);
    EXPECT_FALSE(GetAsyncKeyState(VK_LCONTROL) & 0x8000);
    platform::InjectWheel(-2);
    platform::PumpPending();
    auto wheels = mouseLog({WM_MOUSEWHEEL});
    // The child leaves it to DefWindowProcW, which hands it to the parent.
    ASSERT_EQ(wheels.size(), 2u);
    EXPECT_EQ(wheels[0].hwnd, child);
    EXPECT_EQ(wheels[1].hwnd, top);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheels[0].wParam), -240);
    EXPECT_EQ(GET_KEYSTATE_WPARAM(wheels[0].wParam), MK_CONTROL);
    EXPECT_EQ(GET_X_LPARAM(wheels[0].lParam), 70); // screen coordinates
    platform::InjectKey(VK_RCONTROL, false);
    EXPECT_FALSE(GetAsyncKeyState(VK_CONTROL) & 0x8000);
    platform::PumpPending();

    // Keys: WM_KEYDOWN, a character through TranslateMessage, and system keys under Alt.
    log().clear();
    platform::InjectKey('A', true, u'a');
    platform::InjectKey('A', false);
    platform::InjectKey(VK_MENU, true);
    platform::InjectKey('F', true);
    platform::InjectKey('F', false);
    platform::InjectKey(VK_MENU, false);
    platform::PumpPending();
    EXPECT_EQ(messagesFor(child, {WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN, WM_SYSKEYUP}),
              (std::vector<UINT>{WM_KEYDOWN, WM_CHAR, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYDOWN, WM_SYSKEYUP,
                                 WM_SYSKEYUP}));
    auto chars = mouseLog({WM_CHAR});
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].wParam, WPARAM(u'a'));
}

} // namespace
