#include "WindowTestSupport.h"

#include "platform/KernelTestHooks.h"

#include <boost/thread/thread.hpp>

using namespace testsupport;

namespace {

using Messages = WindowTest;

std::vector<UINT> dispatchedFor(HWND h)
{
    std::vector<UINT> out;
    for (auto& r : log())
        if (r.hwnd == h && (r.message == WM_TIMER || r.message == WM_PAINT || r.message == WM_LBUTTONDOWN ||
                            r.message == WM_USER || r.message == WM_USER + 1 || r.message == WM_SETCURSOR))
            out.push_back(r.message);
    return out;
}

TEST_F(Messages, RetrievalOrderIsSentPostedInputPaintTimer)
{
    HWND w = make(nullptr, 0, 0, 50, 50);
    platform::PumpPending();
    log().clear();
    SetTimer(w, 1, 10, nullptr);
    platform::AdvanceClock(20);
    InvalidateRect(w, nullptr, FALSE);
    platform::InjectMouseMove(5, 5);
    platform::PumpPending();
    log().clear();
    SetTimer(w, 1, 10, nullptr);
    platform::AdvanceClock(20);
    InvalidateRect(w, nullptr, FALSE);
    platform::InjectButton(platform::MouseButton::Left, true);
    PostMessageW(w, WM_USER + 1, 0, 0);
    // A sender on another thread, queued before we start pumping.
    bool sent = false;
    boost::thread sender([&] {
        SendMessageW(w, WM_USER, 0, 0);
        sent = true;
    });
    ASSERT_TRUE(platform::WaitForSentMessage(10000));
    ASSERT_TRUE(platform::PumpUntil([&] { return !messagesFor(w, {WM_USER}).empty(); }, 10000));
    sender.join();
    EXPECT_TRUE(sent);
    platform::PumpPending();
    platform::InjectButton(platform::MouseButton::Left, false);
    EXPECT_EQ(dispatchedFor(w), (std::vector<UINT>{WM_USER, WM_USER + 1, WM_SETCURSOR, WM_LBUTTONDOWN, WM_PAINT,
                                                    WM_TIMER}));
}

TEST_F(Messages, TimersFollowTheManualClockWithoutBacklog)
{
    HWND w = make(nullptr, 0, 0, 10, 10);
    platform::PumpPending();
    auto ticks = [&] { return messagesFor(w, {WM_TIMER}).size(); };
    EXPECT_EQ(SetTimer(w, 3, 100, nullptr), 3u);
    platform::AdvanceClock(99);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 0u);
    platform::AdvanceClock(251); // 350 ms in all: one tick, not three
    platform::PumpPending();
    EXPECT_EQ(ticks(), 1u);

    // A handler that takes 300 ms leaves one tick behind it, not three.
    bool slow = true;
    handlers()[w] = [&](HWND, UINT m, WPARAM, LPARAM, LRESULT&) {
        if (m == WM_TIMER && slow) {
            slow = false;
            platform::AdvanceClock(300);
        }
        return false;
    };
    platform::AdvanceClock(100);
    EXPECT_EQ(platform::PumpPending(), 2);
    EXPECT_EQ(ticks(), 3u);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 3u);

    // KillTimer after the due time: nothing comes.
    platform::AdvanceClock(500);
    EXPECT_TRUE(KillTimer(w, 3));
    EXPECT_EQ(platform::PumpPending(), 0);
    EXPECT_EQ(ticks(), 3u);

    // The same id restarts the period; below 10 ms counts as 10.
    SetTimer(w, 4, 100, nullptr);
    platform::AdvanceClock(60);
    SetTimer(w, 4, 100, nullptr);
    platform::AdvanceClock(60);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 3u);
    platform::AdvanceClock(40);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 4u);
    EXPECT_EQ(log().back().wParam, 4u);
    SetTimer(w, 5, 1, nullptr);
    platform::AdvanceClock(9);
    KillTimer(w, 4);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 4u);
    platform::AdvanceClock(1);
    platform::PumpPending();
    EXPECT_EQ(ticks(), 5u);

    // Destroying the window kills its timers.
    DestroyWindow(w);
    EXPECT_FALSE(KillTimer(w, 5));
}

TEST_F(Messages, PeekFiltersAndQuit)
{
    HWND a = make(nullptr, 0, 0, 10, 10);
    HWND b = make(nullptr, 0, 0, 10, 10);
    platform::PumpPending();
    PostMessageW(a, WM_USER, 1, 0);
    PostMessageW(b, WM_USER + 1, 2, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageW(&m, b, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(m.hwnd, b);
    ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_REMOVE));
    EXPECT_EQ(m.wParam, 2u);
    PostQuitMessage(3);
    ASSERT_TRUE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, UINT(WM_USER));
    EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_FALSE(PostMessageW(reinterpret_cast<HWND>(uintptr_t(0x7777777)), WM_USER, 0, 0));
}

} // namespace
