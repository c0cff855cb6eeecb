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

// ---- menus ------------------------------------------------------------------------------

} // namespace
