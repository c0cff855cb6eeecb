#include "WindowTestSupport.h"

#include "platform/Gdi.h"

using namespace testsupport;

namespace {

using Windows = WindowTest;

TEST_F(Windows, CreationSendsItsMessagesAndMinusOneFails)
{
    HWND w = make(nullptr, 10, 20, 300, 200);
    ASSERT_TRUE(w);
    EXPECT_EQ(messagesFor(w), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW, WM_SIZE, WM_MOVE}));
    EXPECT_EQ(log()[3].lParam, MAKELPARAM(300, 200));
    EXPECT_EQ(log()[4].lParam, MAKELPARAM(10, 20));

    HWND child = make(w, 5, 6, 50, 40);
    RECT r;
    ASSERT_TRUE(GetWindowRect(child, &r));
    EXPECT_EQ(r.left, 15);
    EXPECT_EQ(r.top, 26);
    POINT p{1, 2};
    ClientToScreen(child, &p);
    EXPECT_EQ(p.x, 16);
    EXPECT_EQ(p.y, 28);
    EXPECT_EQ(GetParent(child), w);

    // A popup is top-level and owned: GetParent gives the owner.
    HWND popup = make(child, 0, 0, 10, 10, WS_POPUP);
    EXPECT_EQ(GetParent(popup), w);

    // WM_CREATE returning -1 fails the creation and leaves no window behind.
    log().clear();
    HWND refused = nullptr;
    handlers()[nullptr] = nullptr;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return m == WM_CREATE ? -1 : DefWindowProcW(h, m, wp, lp);
    };
    wc.lpszClassName = u"TestRefusing";
    ASSERT_TRUE(RegisterClassExW(&wc));
    classes_.push_back(u"TestRefusing");
    refused = CreateWindowExW(0, u"TestRefusing", u"", WS_VISIBLE, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(Windows, DestroyOrderAndStaleHandles)
{
    HWND p = make(nullptr, 0, 0, 100, 100);
    HWND c1 = make(p, 0, 0, 10, 10);
    HWND g = make(c1, 0, 0, 5, 5);
    HWND c2 = make(p, 20, 0, 10, 10);
    SetTimer(c1, 7, 100, nullptr);
    log().clear();
    ASSERT_TRUE(DestroyWindow(p));
    std::vector<std::pair<HWND, UINT>> seen;
    for (auto& r : log())
        if (r.message == WM_DESTROY || r.message == WM_NCDESTROY)
            seen.emplace_back(r.hwnd, r.message);
    std::vector<std::pair<HWND, UINT>> want{{p, WM_DESTROY},   {c1, WM_DESTROY},  {g, WM_DESTROY},
                                            {c2, WM_DESTROY},  {g, WM_NCDESTROY}, {c1, WM_NCDESTROY},
                                            {c2, WM_NCDESTROY}, {p, WM_NCDESTROY}};
    EXPECT_EQ(seen, want);
    for (HWND h : {p, c1, g, c2})
        EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(KillTimer(c1, 7));
    EXPECT_FALSE(PostMessageW(c1, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageW(g, WM_USER, 0, 0), 0);
    // A new window never reuses a stale handle.
    HWND again = make(nullptr, 0, 0, 1, 1);
    EXPECT_NE(again, p);
    EXPECT_NE(again, g);
}

TEST_F(Windows, HandlerDestroyingASiblingDuringTeardown)
{
    HWND p = make(nullptr, 0, 0, 100, 100);
    HWND c1 = make(p, 0, 0, 10, 10);
    HWND c2 = make(p, 20, 0, 10, 10);
    HWND other = make(nullptr, 0, 0, 10, 10);
    handlers()[c1] = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT&) {
        if (m == WM_DESTROY) {
            DestroyWindow(c2);    // part of the same teardown
            DestroyWindow(other); // unrelated: destroyed at once
        }
        return false;
    };
    ASSERT_TRUE(DestroyWindow(p));
    EXPECT_FALSE(IsWindow(c1));
    EXPECT_FALSE(IsWindow(other));
    EXPECT_FALSE(IsWindow(c2));
    EXPECT_EQ(messagesFor(c2, {WM_DESTROY, WM_NCDESTROY}), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
}

// Subclassing: B installed over A over the original O.
WNDPROC g_prevA = nullptr;
WNDPROC g_prevB = nullptr;
std::vector<std::string> g_chain;
bool g_bConsumes = false;

LRESULT procA(HWND h, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_USER || m == WM_NCDESTROY)
        g_chain.push_back("A");
    return CallWindowProcW(g_prevA, h, m, wp, lp);
}

LRESULT procB(HWND h, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_USER || m == WM_NCDESTROY)
        g_chain.push_back("B");
    if (m == WM_USER && g_bConsumes)
        return 42;
    return CallWindowProcW(g_prevB, h, m, wp, lp);
}

TEST_F(Windows, SubclassChainRunsNewestFirstAndCanStop)
{
    HWND w = make(nullptr, 0, 0, 10, 10);
    handlers()[w] = [](HWND, UINT m, WPARAM, LPARAM, LRESULT& r) {
        if (m == WM_USER || m == WM_NCDESTROY)
            g_chain.push_back("O");
        r = 7;
        return m == WM_USER;
    };
    g_chain.clear();
    g_bConsumes = false;
    g_prevA = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procA)));
    EXPECT_EQ(g_prevA, &recordingProc);
    g_prevB = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procB)));
    EXPECT_EQ(g_prevB, &procA);
    EXPECT_EQ(SendMessageW(w, WM_USER, 0, 0), 7);
    EXPECT_EQ(g_chain, (std::vector<std::string>{"B", "A", "O"}));
    g_chain.clear();
    g_bConsumes = true;
    EXPECT_EQ(SendMessageW(w, WM_USER, 0, 0), 42);
    EXPECT_EQ(g_chain, (std::vector<std::string>{"B"}));
    g_chain.clear();
    DestroyWindow(w);
    EXPECT_EQ(g_chain, (std::vector<std::string>{"B", "A", "O"}));
}

TEST_F(Windows, GeometryTextAndLongs)
{
    HWND w = make(nullptr, 100, 50, 200, 100);
    HWND c = make(w, 10, 10, 30, 30);
    ASSERT_TRUE(SetWindowPos(c, nullptr, 20, 25, 40, 45, SWP_NOZORDER));
    RECT r;
    GetClientRect(c, &r);
    EXPECT_EQ(r.right, 40);
    EXPECT_EQ(r.bottom, 45);
    log().clear();
    SetWindowPos(c, nullptr, 0, 0, 41, 45, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_EQ(messagesFor(c, {WM_SIZE, WM_MOVE}), (std::vector<UINT>{WM_SIZE}));
    SetWindowPos(c, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_HIDEWINDOW);
    EXPECT_FALSE(IsWindowVisible(c));
    EXPECT_FALSE(ShowWindow(c, SW_SHOW));
    EXPECT_TRUE(IsWindowVisible(c));
    ShowWindow(w, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(c)); // a hidden parent hides the child

    POINT pts[2] = {{0, 0}, {5, 5}};
    MapWindowPoints(c, nullptr, pts, 2);
    EXPECT_EQ(pts[1].x, 125);
    EXPECT_EQ(pts[1].y, 80);
    POINT back{125, 80};
    ScreenToClient(c, &back);
    EXPECT_EQ(back.x, 5);

    EXPECT_TRUE(SetWindowTextW(w, u"caption \u00e9"));
    char16_t buf[5];
    EXPECT_EQ(GetWindowTextW(w, buf, 5), 4);
    EXPECT_EQ(std::u16string(buf), u"capt");
    EXPECT_EQ(GetWindowTextLengthW(w), 9);

    SetWindowLongPtrW(c, GWLP_USERDATA, 1234);
    SetWindowLongPtrW(c, GWLP_ID, 77);
    EXPECT_EQ(GetWindowLongPtrW(c, GWLP_USERDATA), 1234);
    EXPECT_EQ(GetWindowLongPtrW(c, GWLP_ID), 77);
    EXPECT_TRUE(GetWindowLongPtrW(c, GWL_STYLE) & WS_CHILD);

    RECT a{0, 0, 10, 10}, b{5, 5, 20, 20}, out;
    EXPECT_TRUE(IntersectRect(&out, &a, &b));
    EXPECT_EQ(out.left, 5);
    EXPECT_EQ(out.right, 10);
    RECT far{30, 30, 40, 40};
    EXPECT_FALSE(IntersectRect(&out, &a, &far));
    EXPECT_TRUE(IsRectEmpty(&out));
    EXPECT_TRUE(PtInRect(&a, POINT{0, 9}));
    EXPECT_FALSE(PtInRect(&a, POINT{10, 5}));
    EXPECT_EQ(GET_X_LPARAM(MAKELPARAM(-3, -4)), -3);
    EXPECT_EQ(GET_Y_LPARAM(MAKELPARAM(-3, -4)), -4);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(MAKEWPARAM(MK_SHIFT, -240)), -240);
    EXPECT_EQ(GET_KEYSTATE_WPARAM(MAKEWPARAM(MK_SHIFT, -240)), MK_SHIFT);
}

// ---- surfaces -------------------------------------------------------------------------

uint32_t pixel(HWND h, int x, int y)
{
    platform::SurfaceView v = platform::SurfaceOf(h);
    const uint8_t* p = v.pixels + size_t(y) * size_t(v.stride) + size_t(x) * 4u;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST_F(Windows, SurfacesEraseClipAndFollowTheWindowSize)
{
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    registerClass(u"TestRed", 0, red);
    registerClass(u"TestBlue", 0, blue);
    HWND top = make(nullptr, 0, 0, 40, 30, WS_VISIBLE | WS_CLIPCHILDREN, u"TestRed");
    HWND child = make(top, 10, 10, 10, 10, WS_VISIBLE, u"TestBlue");
    platform::SurfaceView v = platform::SurfaceOf(child);
    EXPECT_EQ(v.width, 40);
    EXPECT_EQ(v.height, 30);
    platform::PumpPending();
    // B, G, R, 0 in memory: red is 0x00FF0000 read little-endian.
    EXPECT_EQ(pixel(top, 0, 0), 0x00FF0000u);
    EXPECT_EQ(pixel(top, 10, 10), 0x000000FFu);
    EXPECT_EQ(pixel(top, 19, 19), 0x000000FFu);
    EXPECT_EQ(pixel(top, 20, 20), 0x00FF0000u);

    // WS_CLIPCHILDREN keeps the parent's erase off the child.
    InvalidateRect(top, nullptr, TRUE);
    platform::PumpPending();
    EXPECT_EQ(pixel(top, 15, 15), 0x000000FFu);

    // A child paints clipped to its client area.
    HDC dc = GetDC(child);
    RECT big{-50, -50, 100, 100};
    HBRUSH green = CreateSolidBrush(RGB(0, 255, 0));
    FillRect(dc, &big, green);
    ReleaseDC(child, dc);
    EXPECT_EQ(pixel(top, 9, 9), 0x00FF0000u);
    EXPECT_EQ(pixel(top, 10, 10), 0x0000FF00u);
    EXPECT_EQ(pixel(top, 20, 10), 0x00FF0000u);

    // BeginPaint outside WM_PAINT covers the whole client.
    PAINTSTRUCT ps;
    HDC pdc = BeginPaint(top, &ps);
    EXPECT_EQ(ps.rcPaint.right, 40);
    EXPECT_EQ(ps.rcPaint.bottom, 30);
    HBRUSH black = reinterpret_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    FillRect(pdc, &big, black);
    EndPaint(top, &ps);
    EXPECT_EQ(pixel(top, 39, 29), 0u);
    EXPECT_EQ(pixel(top, 15, 15), 0x0000FF00u); // still clipped around the child

    // Growing keeps the content top-left and zeroes the new area.
    MoveWindow(top, 0, 0, 50, 35, FALSE);
    v = platform::SurfaceOf(top);
    EXPECT_EQ(v.width, 50);
    EXPECT_EQ(pixel(top, 15, 15), 0x0000FF00u);
    EXPECT_EQ(pixel(top, 45, 32), 0u);

    // A hidden window draws nothing.
    ShowWindow(child, SW_HIDE);
    dc = GetDC(child);
    FillRect(dc, &big, red);
    ReleaseDC(child, dc);
    EXPECT_EQ(pixel(top, 15, 15), 0x0000FF00u);

    DestroyWindow(top);
    int live = platform::LiveGdiObjects();
    DeleteObject(green);
    DeleteObject(red);
    DeleteObject(blue);
    EXPECT_EQ(platform::LiveGdiObjects(), live - 3);
    EXPECT_EQ(GetSysColor(COLOR_MENU), 0xF0F0F0u);
    EXPECT_EQ(GetSysColor(COLOR_WINDOW), 0xFFFFFFu);
}

TEST_F(Windows, HugeSizesAreBoundedAndFarTextIsRefused)
{
    HWND top = make(nullptr, 0, 0, 10, 10);
    MoveWindow(top, 2000000000, 0, 2000000000, 2000000000, TRUE);
    RECT r;
    GetWindowRect(top, &r);
    EXPECT_GT(r.right, r.left); // no overflow
    platform::SurfaceView v = platform::SurfaceOf(top);
    EXPECT_LE(int64_t(v.width) * v.height, int64_t(1) << 26);
    platform::PumpPending();
    HDC dc = GetDC(top);
    EXPECT_FALSE(TextOutW(dc, 2147483647, 0, u"x", 1));
    RECT far{-2147483647, 0, 2147483647, 10};
    EXPECT_EQ(DrawTextW(dc, u"x", 1, &far, DT_SINGLELINE), 0);
    ReleaseDC(top, dc);
}

TEST_F(Windows, PaintComesParentsFirstAndOnlyOnce)
{
    HWND top = make(nullptr, 0, 0, 40, 30);
    HWND child = make(top, 0, 0, 10, 10);
    platform::PumpPending();
    log().clear();
    InvalidateRect(child, nullptr, FALSE);
    InvalidateRect(top, nullptr, FALSE);
    platform::PumpPending();
    std::vector<HWND> order;
    for (auto& r : log())
        if (r.message == WM_PAINT)
            order.push_back(r.hwnd);
    EXPECT_EQ(order, (std::vector<HWND>{top, child}));
    RECT u;
    EXPECT_FALSE(GetUpdateRect(top, &u, FALSE));

    // A procedure that ignores WM_PAINT does not get it for ever.
    handlers()[top] = [](HWND, UINT m, WPARAM, LPARAM, LRESULT&) { return m == WM_PAINT; };
    InvalidateRect(top, nullptr, FALSE);
    EXPECT_LE(platform::PumpPending(), 2);
}

TEST_F(Windows, ScrollBarSubclassSeesTheMessageFirst)
{
    HWND top = make(nullptr, 0, 0, 100, 100);
    HWND sb = CreateWindowExW(0, u"ScrollBar", u"", WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0, 16, 100, top, nullptr,
                              nullptr, nullptr);
    ASSERT_TRUE(sb);
    made_.push_back(sb);
    static WNDPROC system = nullptr;
    static std::vector<UINT> seen;
    seen.clear();
    system = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        sb, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back(m);
            return CallWindowProcW(system, h, m, wp, lp);
        })));
    SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, 99, 10, 95, 0};
    EXPECT_EQ(SetScrollInfo(sb, SB_CTL, &si, TRUE), 90); // the position stays where a page fits
    EXPECT_EQ(seen.front(), UINT(SBM_SETSCROLLINFO));
    SCROLLINFO only{sizeof only, SIF_POS, 0, 0, 0, 5, 0};
    SetScrollInfo(sb, SB_CTL, &only, FALSE);
    SCROLLINFO out{sizeof out, SIF_ALL, -1, -1, 0, -1, -1};
    ASSERT_TRUE(GetScrollInfo(sb, SB_CTL, &out));
    EXPECT_EQ(out.nMin, 0);
    EXPECT_EQ(out.nMax, 99);
    EXPECT_EQ(out.nPage, 10u);
    EXPECT_EQ(out.nPos, 5);
}

// ---- menus ------------------------------------------------------------------------------

TEST_F(Windows, MenusCheckByCommandInsideSubmenus)
{
    HMENU root = CreatePopupMenu();
    HMENU sub = CreatePopupMenu();
    AppendMenuW(sub, MF_STRING, 11, u"One");
    AppendMenuW(sub, MF_STRING, 12, u"Two");
    AppendMenuW(sub, MF_STRING, 13, u"Three");
    AppendMenuW(root, MF_STRING, 1, u"Top");
    AppendMenuW(root, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(root, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub");
    InsertMenuW(root, 0, MF_BYPOSITION | MF_STRING | MF_GRAYED, 2, u"First");
    EXPECT_EQ(GetMenuItemCount(root), 4);
    EXPECT_EQ(GetMenuItemID(root, 0), 2u);
    EXPECT_EQ(GetSubMenu(root, 3), sub);
    EXPECT_EQ(GetMenuItemID(root, 3), UINT(-1));
    char16_t text[8];
    EXPECT_EQ(GetMenuStringW(root, 12, text, 8, MF_BYCOMMAND), 3);
    EXPECT_EQ(std::u16string(text), u"Two");

    EXPECT_TRUE(CheckMenuRadioItem(root, 11, 13, 12, MF_BYCOMMAND));
    EXPECT_EQ(GetMenuState(sub, 12, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_EQ(GetMenuState(sub, 11, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_TRUE(CheckMenuRadioItem(root, 11, 13, 13, MF_BYCOMMAND));
    EXPECT_EQ(GetMenuState(sub, 12, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(CheckMenuItem(root, 1, MF_CHECKED), DWORD(MF_UNCHECKED));
    EXPECT_EQ(CheckMenuItem(root, 1, MF_UNCHECKED), DWORD(MF_CHECKED));
    EXPECT_EQ(CheckMenuItem(root, 99, MF_CHECKED), DWORD(-1));
    EXPECT_EQ(GetMenuState(root, 3, MF_BYPOSITION) >> 8, 3u); // a popup reports its item count

    // RemoveMenu keeps the submenu, DeleteMenu destroys it.
    ASSERT_TRUE(RemoveMenu(root, 3, MF_BYPOSITION));
    EXPECT_TRUE(IsMenu(sub));
    AppendMenuW(root, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), u"Sub");
    ASSERT_TRUE(DeleteMenu(root, 3, MF_BYPOSITION));
    EXPECT_FALSE(IsMenu(sub));
    EXPECT_TRUE(DestroyMenu(root));
    EXPECT_FALSE(IsMenu(root));
}

TEST_F(Windows, TrackPopupMenuPostsTheChoiceAfterReturning)
{
    HWND owner = make(nullptr, 0, 0, 10, 10);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 5, u"Go");
    AppendMenuW(menu, MF_STRING | MF_GRAYED, 6, u"Off");
    platform::PumpPending();

    // No chooser: nothing happens.
    EXPECT_FALSE(TrackPopupMenu(menu, TPM_LEFTALIGN, 0, 0, 0, owner, nullptr));
    UINT wanted = 5;
    int calls = 0;
    platform::SetMenuChooser([&](HMENU m, int, int, HWND o) {
        EXPECT_EQ(m, menu);
        EXPECT_EQ(o, owner);
        ++calls;
        return wanted;
    });
    log().clear();
    EXPECT_TRUE(TrackPopupMenu(menu, TPM_LEFTALIGN, 3, 4, 0, owner, nullptr));
    EXPECT_TRUE(messagesFor(owner, {WM_COMMAND}).empty()); // not yet
    platform::PumpPending();
    ASSERT_EQ(messagesFor(owner, {WM_COMMAND}).size(), 1u);
    EXPECT_EQ(LOWORD(log().back().wParam), 5);

    EXPECT_EQ(TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr), 5);
    wanted = 6; // grayed
    log().clear();
    EXPECT_FALSE(TrackPopupMenu(menu, 0, 0, 0, 0, owner, nullptr));
    platform::PumpPending();
    EXPECT_TRUE(messagesFor(owner, {WM_COMMAND}).empty());
    EXPECT_EQ(calls, 3);
    DestroyMenu(menu);
}

} // namespace
