// The sub-frame's scroll bar over a real "SCROLLBAR" window of the stand-in: injected
// presses and drags against what reaches the notification window, and the painted pixels
// against the resource bitmaps.
#include "R2IVuzi/OrbelScrollbar.h"
#include "platform/Kernel.h"
#include "tests/R2IVuzi/support/GridPixels.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Bar client: up arrow rows 0-15, track 16-215 (200 pixels), down arrow 216-231.
constexpr int kTrackTop = 16, kBarHeight = 232, kBarX = 20, kBarY = 10;

struct Sent {
    UINT message;
    int code;
    int position;
    bool operator==(const Sent& o) const { return message == o.message && code == o.code && position == o.position; }
};
std::ostream& operator<<(std::ostream& out, const Sent& s)
{
    return out << (s.message == WM_VSCROLL ? "WM_VSCROLL(" : "WM_APP+9(") << s.code << ", " << s.position << ")";
}
std::vector<Sent> g_sent;

LRESULT CALLBACK recordProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == COrbelScrollbar::kSelectMessage || msg == WM_VSCROLL)
        g_sent.push_back({msg, msg == WM_VSCROLL ? LOWORD(wParam) : -1, msg == WM_VSCROLL ? HIWORD(wParam) : -1});
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

const Sent kSelect = {COrbelScrollbar::kSelectMessage, -1, -1};
Sent vscroll(int code, int position) { return {WM_VSCROLL, code, position}; }

class Scrollbar : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        platform::ResetInput();
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = recordProc;
        wc.lpszClassName = u"ScrollbarTestWindow";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, u"ScrollbarTestWindow", u"", WS_POPUP | WS_VISIBLE, 0, 0, 100, 300, nullptr,
                                 nullptr, nullptr, nullptr);
        notifyWindow = CreateWindowExW(0, u"ScrollbarTestWindow", u"", WS_POPUP, 200, 0, 10, 10, nullptr, nullptr,
                                       nullptr, nullptr);
        HWND window = CreateWindowExW(0, u"SCROLLBAR", u"", WS_CHILD | WS_VISIBLE | SBS_VERT, kBarX, kBarY, 16,
                                      kBarHeight, parent, nullptr, nullptr, nullptr);
        bar.reset(new COrbelScrollbar());
        ASSERT_TRUE(bar->SubclassWindow(window));
        bar->setNotifyWindow(notifyWindow);
        platform::PumpPending();
        g_sent.clear();
    }
    void TearDown() override
    {
        bar.reset();
        DestroyWindow(parent);
        DestroyWindow(notifyWindow);
        platform::PumpPending();
        UnregisterClassW(u"ScrollbarTestWindow", nullptr);
        platform::ResetInput();
    }
    void setPages(int pages, int page)
    {
        bar->setPages(pages, page);
        InvalidateRect(bar->hwnd(), nullptr, FALSE);
        platform::PumpPending();
    }
    // Screen coordinates of a point on the bar's centre column.
    static void pointer(int y) { platform::InjectMouseMove(kBarX + 8, kBarY + y); }
    static void button(bool down) { platform::InjectButton(platform::MouseButton::Left, down); }
    // Rows of the track whose centre pixel is not the track's own colour.
    std::vector<int> thumbRows(int trackBitmap) const
    {
        const gridtest::Bitmap track = gridtest::readBitmap(trackBitmap);
        std::vector<int> rows;
        for (int y = kTrackTop; y < kBarHeight - 16; ++y)
            if (gridtest::pixelAt(parent, kBarX + 8, kBarY + y) != track.pixels[8 * track.width + 8])
                rows.push_back(y);
        return rows;
    }

    HWND parent = nullptr, notifyWindow = nullptr;
    std::unique_ptr<COrbelScrollbar> bar;
};

std::vector<int> range(int from, int to)
{
    std::vector<int> r;
    for (int y = from; y < to; ++y)
        r.push_back(y);
    return r;
}

} // namespace

TEST_F(Scrollbar, PressesAndDragsNotify)
{
    struct Case {
        const char* name;
        int pages, page;
        std::vector<int> path;  // press at the first row, move along the others, release
        std::vector<Sent> sent;
        int pageAfter;
    };
    const int track = kTrackTop;
    const Case cases[] = {
        {"up arrow", 4, 2, {5}, {kSelect, vscroll(SB_LINEUP, 0)}, 2},
        {"down arrow", 4, 2, {kBarHeight - 5}, {kSelect, vscroll(SB_LINEDOWN, 0)}, 2},
        {"track above the thumb", 4, 2, {track + 99}, {kSelect, vscroll(SB_PAGEUP, 0)}, 2},
        {"track below the thumb, held", 4, 0, {track + 50, track + 120}, {kSelect, vscroll(SB_PAGEDOWN, 0)}, 0},
        {"thumb across two boundaries", 4, 0, {track + 10, track + 60, track + 80, track + 115},
         {kSelect, vscroll(SB_THUMBTRACK, 1), vscroll(SB_THUMBTRACK, 2), vscroll(SB_THUMBPOSITION, 2)}, 2},
        {"thumb held still", 4, 1, {track + 60}, {kSelect, vscroll(SB_THUMBPOSITION, 1)}, 1},
        {"thumb past the top", 4, 1, {track + 60, track}, {kSelect, vscroll(SB_THUMBTRACK, 0), vscroll(SB_THUMBPOSITION, 0)}, 0},
        // The rounded thumb of 3 pages stops at 133, below 2 x 66.67: still the last page.
        {"thumb to the bottom of 3 pages", 3, 0, {track + 5, track + 199},
         {kSelect, vscroll(SB_THUMBTRACK, 2), vscroll(SB_THUMBPOSITION, 2)}, 2},
        {"one page", 1, 0, {track + 10, track + 150}, {kSelect}, 0},
        {"no pages, like one", 0, 0, {track + 10, track + 150}, {kSelect}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setPages(c.pages, c.page);
        g_sent.clear();
        pointer(c.path.front());
        button(true);
        platform::PumpPending();
        EXPECT_EQ(GetCapture(), c.pages > 1 ? bar->hwnd() : nullptr);
        // Only a held arrow repeats.
        EXPECT_EQ(platform::ThreadTimerCount(), c.path.size() == 1 && (c.path[0] < track || c.path[0] >= kBarHeight - 16)
                                                    ? 1 : 0);
        for (size_t i = 1; i < c.path.size(); ++i) {
            pointer(c.path[i]);
            platform::PumpPending();
        }
        button(false);
        platform::PumpPending();
        EXPECT_EQ(g_sent, c.sent);
        EXPECT_EQ(bar->currentPage(), c.pageAfter);
        EXPECT_EQ(GetCapture(), nullptr);
    }
}

TEST_F(Scrollbar, PaintsPicturesAndThumb)
{
    struct Case {
        int pages, page;
        int up, down, track;  // bitmap ids
        std::vector<int> thumb;
    };
    // In order on one bar: from one page to three the normal pictures and the thumb return.
    const Case cases[] = {
        {1, 0, 223, 221, 222, {}},
        {3, 1, 212, 210, 211, range(kTrackTop + 67, kTrackTop + 134)},
        {4, 2, 212, 210, 211, range(kTrackTop + 100, kTrackTop + 150)},
        {4, 3, 212, 210, 211, range(kTrackTop + 150, kTrackTop + 200)},
        {0, 0, 223, 221, 222, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pages) + " pages at " + std::to_string(c.page));
        setPages(c.pages, c.page);
        EXPECT_TRUE(gridtest::showsBitmap(parent, c.up, kBarX, kBarY));
        EXPECT_TRUE(gridtest::showsBitmap(parent, c.down, kBarX, kBarY + kBarHeight - 16));
        EXPECT_EQ(thumbRows(c.track), c.thumb);
    }
    // The pressed set shows while the button is down.
    setPages(4, 0);
    pointer(kTrackTop + 150);
    button(true);
    platform::PumpPending();
    EXPECT_TRUE(gridtest::showsBitmap(parent, 215, kBarX, kBarY));
    EXPECT_EQ(thumbRows(216), range(kTrackTop, kTrackTop + 50));
    button(false);
    platform::PumpPending();
    EXPECT_TRUE(gridtest::showsBitmap(parent, 212, kBarX, kBarY));
}

TEST_F(Scrollbar, HandsTheWindowBack)
{
    WNDCLASSEXW system = {};
    system.cbSize = sizeof(system);
    ASSERT_TRUE(GetClassInfoExW(nullptr, u"SCROLLBAR", &system));
    HWND window = bar->hwnd();
    bar.reset();
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(system.lpfnWndProc));

    // A window destroyed first unhooks itself; the bar then outlives it safely.
    COrbelScrollbar second;
    HWND other = CreateWindowExW(0, u"SCROLLBAR", u"", WS_CHILD | SBS_VERT, 0, 0, 16, 100, parent, nullptr,
                                 nullptr, nullptr);
    ASSERT_TRUE(second.SubclassWindow(other));
    EXPECT_FALSE(second.SubclassWindow(other));
    DestroyWindow(other);
    EXPECT_EQ(second.hwnd(), nullptr);
}

// A held arrow steps again after 400 ms and then every 100 ms, pauses while the pointer is
// off the arrow, and stops at the release.
TEST_F(Scrollbar, HeldArrowRepeats)
{
    struct ManualClock {
        ManualClock() { platform::SetManualClock(5000); }
        ~ManualClock() { platform::UseRealClock(); }
    } clock;
    const struct {
        const char* name;
        int row;
        int code;
    } arrows[] = {{"up", 5, SB_LINEUP}, {"down", kBarHeight - 5, SB_LINEDOWN}};
    for (const auto& a : arrows) {
        SCOPED_TRACE(a.name);
        setPages(4, 2);
        g_sent.clear();
        const Sent line = vscroll(a.code, 0);
        auto wait = [](DWORD ms) {
            platform::AdvanceClock(ms);
            platform::PumpPending();
        };
        pointer(a.row);
        button(true);
        platform::PumpPending();
        EXPECT_EQ(g_sent, (std::vector<Sent>{kSelect, line}));
        wait(399);
        EXPECT_EQ(g_sent.size(), 2u);
        wait(1);
        EXPECT_EQ(g_sent.size(), 3u);
        wait(100);
        wait(100);
        EXPECT_EQ(g_sent, (std::vector<Sent>{kSelect, line, line, line, line}));
        pointer(kTrackTop + 100); // off the arrow, button still down
        platform::PumpPending();
        wait(300);
        EXPECT_EQ(g_sent.size(), 5u);
        pointer(a.row);
        platform::PumpPending();
        wait(100);
        EXPECT_EQ(g_sent.size(), 6u);
        button(false);
        platform::PumpPending();
        EXPECT_EQ(platform::ThreadTimerCount(), 0);
        wait(1000);
        EXPECT_EQ(g_sent.size(), 6u);
        EXPECT_EQ(GetCapture(), nullptr);
    }
}
