#include "WindowTestSupport.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <cstring>
#include <vector>

using namespace testsupport;

namespace {

class MessageConcurrency : public WindowTest {};

struct Payload {
    char text[32];
    int region[5];
};

TEST_F(MessageConcurrency, WorkersSendPointersToTheirStacks)
{
    HWND grid = make(nullptr, 0, 0, 10, 10);
    const DWORD ui = GetCurrentThreadId();
    std::atomic<int> handled{0};
    std::atomic<int> bad{0};
    handlers()[grid] = [&](HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT& r) {
        if (m != WM_APP + 1)
            return false;
        if (GetCurrentThreadId() != ui)
            ++bad;
        const auto* p = reinterpret_cast<const Payload*>(lp);
        int worker = int(wp);
        char expect[32];
        std::snprintf(expect, sizeof expect, "worker %d", worker);
        int sum = 0;
        for (int v : p->region)
            sum += v;
        if (std::strcmp(p->text, expect) != 0 || sum != worker * 5 + 10)
            ++bad;
        ++handled;
        r = sum;
        return true;
    };
    log().reserve(100000);
    constexpr int kWorkers = 4, kSends = 1000;
    std::atomic<int> finished{0};
    std::atomic<int> wrongReturns{0};
    boost::thread_group workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.create_thread([&, w] {
            for (int i = 0; i < kSends; ++i) {
                Payload p;
                std::snprintf(p.text, sizeof p.text, "worker %d", w);
                for (int k = 0; k < 5; ++k)
                    p.region[k] = w + k;
                int before = handled.load();
                LRESULT r = SendMessageW(grid, WM_APP + 1, WPARAM(w), reinterpret_cast<LPARAM>(&p));
                // The handler ran before the send returned.
                if (r != w * 5 + 10 || handled.load() <= before)
                    ++wrongReturns;
                std::memset(&p, 0, sizeof p); // the data is ours again
            }
            ++finished;
        });
    ASSERT_TRUE(platform::PumpUntil([&] { return finished == kWorkers; }, 60000));
    workers.join_all();
    EXPECT_EQ(handled, kWorkers * kSends);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(wrongReturns, 0);
}

TEST_F(MessageConcurrency, BlockedSenderIsReleasedWhenTheTargetIsDestroyed)
{
    HWND grid = make(nullptr, 0, 0, 10, 10);
    platform::PumpPending();
    LRESULT got = -1;
    boost::thread loader([&] { got = SendMessageW(grid, WM_APP, 0, 0); });
    ASSERT_TRUE(platform::WaitForSentMessage(10000));
    log().clear();
    DestroyWindow(grid);
    loader.join();
    EXPECT_EQ(got, 0);
    EXPECT_TRUE(messagesFor(grid, {WM_APP}).empty());
}

std::atomic<HWND> g_back{nullptr};

LRESULT echoProc(HWND h, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_APP)
        return SendMessageW(g_back, WM_APP + 2, 0, 0) + 1; // back to the UI thread while it waits
    return DefWindowProcW(h, m, wp, lp);
}

TEST_F(MessageConcurrency, TwoThreadsSendingToEachOtherDoNotDeadlock)
{
    HWND mine = make(nullptr, 0, 0, 10, 10);
    handlers()[mine] = [](HWND, UINT m, WPARAM, LPARAM, LRESULT& r) {
        r = 41;
        return m == WM_APP + 2;
    };
    g_back = mine;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = echoProc;
    wc.lpszClassName = u"TestEcho";
    ASSERT_TRUE(RegisterClassExW(&wc));
    std::atomic<HWND> theirs{nullptr};
    std::atomic<bool> done{false};
    boost::thread other([&] {
        HWND h = CreateWindowExW(0, u"TestEcho", u"", 0, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
        theirs = h;
        platform::PumpUntil([&] { return done.load(); }, 60000);
        DestroyWindow(h);
    });
    ASSERT_TRUE(platform::PumpUntil([&] { return theirs.load() != nullptr; }, 60000));
    LRESULT answer = SendMessageW(theirs, WM_APP, 0, 0);
    done = true;
    PostMessageW(theirs, WM_NULL, 0, 0); // wake it
    other.join();
    UnregisterClassW(u"TestEcho", nullptr);
    EXPECT_EQ(answer, 42);
}

TEST_F(MessageConcurrency, WindowsOfAnEndedThreadTakeNothingMore)
{
    HWND orphan = nullptr;
    boost::thread t([&] {
        orphan = CreateWindowExW(0, u"TestRecording", u"", 0, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr);
    });
    t.join();
    ASSERT_TRUE(orphan);
    EXPECT_FALSE(PostMessageW(orphan, WM_APP, 0, 0)); // nobody would ever read it
    EXPECT_EQ(SendMessageW(orphan, WM_APP, 0, 0), 0);
}

} // namespace

// Work held on other threads is counted from any thread until its holder lets it go; a
// moved-from holder counts nothing, and an assignment lets the old work go.
TEST_F(MessageConcurrency, PendingWorkIsCountedUntilItsHoldersEnd)
{
    const int before = platform::PendingWorkCount();
    {
        std::vector<platform::PendingWork> held(3);
        EXPECT_EQ(platform::PendingWorkCount(), before + 3);
        platform::PendingWork moved(std::move(held[0]));
        EXPECT_EQ(platform::PendingWorkCount(), before + 3);
        held[1] = std::move(moved);
        EXPECT_EQ(platform::PendingWorkCount(), before + 2);
        held[2] = std::move(held[0]); // nothing held there: held[2]'s work goes
        EXPECT_EQ(platform::PendingWorkCount(), before + 1);
    }
    EXPECT_EQ(platform::PendingWorkCount(), before);

    boost::mutex lock;
    boost::condition_variable changed;
    int holding = 0;
    bool release = false;
    std::vector<boost::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] {
            platform::PendingWork work;
            boost::unique_lock<boost::mutex> g(lock);
            ++holding;
            changed.notify_all();
            changed.wait(g, [&] { return release; });
        });
    {
        boost::unique_lock<boost::mutex> g(lock);
        changed.wait(g, [&] { return holding == 4; });
        EXPECT_EQ(platform::PendingWorkCount(), before + 4);
        release = true;
        changed.notify_all();
    }
    for (boost::thread& t : threads)
        t.join();
    EXPECT_EQ(platform::PendingWorkCount(), before);
}
