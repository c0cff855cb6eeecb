#include "platform/WindowInternal.h"

#include <boost/thread/thread_time.hpp>

#include <algorithm>
#include <atomic>

using namespace platform::detail;

namespace {

struct ThreadInfo {
    DWORD lastTime = 0;
    // The last key press retrieved and its character, for TranslateMessage.
    MSG lastKey{};
    char16_t lastChar = 0;
    // Paint generation when a WM_PAINT was retrieved (see DispatchMessageW).
    ~ThreadInfo()
    {
        // A thread that ends releases everybody waiting in a send to it.
        State& s = state();
        boost::lock_guard<boost::mutex> g(s.lock);
        auto it = s.queues.find(GetCurrentThreadId());
        if (it == s.queues.end())
            return;
        ThreadQueue& q = *it->second;
        q.alive = false;
        for (auto& m : q.sent) {
            m->result = 0;
            m->done = true;
            if (auto sq = s.queues.find(m->sender); sq != s.queues.end())
                sq->second->wake.notify_all();
        }
        q.sent.clear();
        q.posted.clear();
        q.input.clear();
        s.queues.erase(it);
    }
};

ThreadInfo& threadInfo()
{
    thread_local ThreadInfo info;
    return info;
}

}

std::shared_ptr<ThreadQueue> platform::detail::myQueueLocked()
{
    threadInfo(); // registers the exit clean-up
    return queueLocked(GetCurrentThreadId());
}

namespace {

POINT cursorNow();

// Handles one sent message from the queue; lock held on entry and exit.
void handleSent(boost::unique_lock<boost::mutex>& lock, ThreadQueue& q)
{
    State& s = state();
    std::shared_ptr<SentMessage> m = q.sent.front();
    q.sent.pop_front();
    auto w = findLocked(m->hwnd);
    LRESULT result = 0;
    if (w && !w->destroying) {
        lock.unlock();
        result = callProc(m->hwnd, m->message, m->wParam, m->lParam);
        lock.lock();
    }
    m->result = result;
    m->done = true;
    if (auto sq = s.queues.find(m->sender); sq != s.queues.end())
        sq->second->wake.notify_all();
}

bool matches(HWND filter, UINT min, UINT max, const MSG& m)
{
    if (min != 0 || max != 0)
        if (m.message < min || m.message > max)
            return false;
    if (!filter)
        return true;
    if (filter == reinterpret_cast<HWND>(LONG_PTR(-1)))
        return m.hwnd == nullptr;
    if (m.hwnd == filter)
        return true;
    auto w = findLocked(m.hwnd);
    while (w && w->parent) {
        if (w->parent == filter)
            return true;
        w = findLocked(w->parent);
    }
    return false;
}

bool isDue(DWORD now, DWORD due) { return int32_t(now - due) >= 0; }

HWND paintCandidateLocked(DWORD thread, HWND filter)
{
    State& s = state();
    std::vector<HWND> order;
    // Parents before children: top-levels in z-order, each tree in pre-order.
    std::vector<HWND> stack(s.topLevels.rbegin(), s.topLevels.rend());
    while (!stack.empty()) {
        HWND h = stack.back();
        stack.pop_back();
        auto w = findLocked(h);
        if (!w)
            continue;
        if (w->thread == thread && w->updatePending && !w->destroying && visibleLocked(*w)) {
            MSG probe{h, WM_PAINT, 0, 0, 0, {0, 0}};
            if (matches(filter, 0, 0, probe))
                return h;
        }
        for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
            stack.push_back(*it);
    }
    return nullptr;
}

// One retrieval: true with *out filled, false when nothing matched (and !wait) or
// the wait was cut short by the deadline.
bool retrieve(MSG* out, HWND filter, UINT min, UINT max, bool remove, bool wait)
{
    State& s = state();
    boost::unique_lock<boost::mutex> lock(s.lock);
    std::shared_ptr<ThreadQueue> q = myQueueLocked();
    DWORD me = GetCurrentThreadId();
    for (;;) {
        while (!q->sent.empty())
            handleSent(lock, *q);

        for (auto it = q->posted.begin(); it != q->posted.end(); ++it)
            if (matches(filter, min, max, *it)) {
                *out = *it;
                if (remove)
                    q->posted.erase(it);
                threadInfo().lastTime = out->time;
                return true;
            }
        if (q->quit && (min == 0 && max == 0 ? true : (WM_QUIT >= min && WM_QUIT <= max))) {
            *out = MSG{nullptr, WM_QUIT, WPARAM(q->quitCode), 0, GetTickCount(), cursorNow()};
            if (remove)
                q->quit = false;
            return true;
        }
        for (auto it = q->input.begin(); it != q->input.end(); ++it)
            if (matches(filter, min, max, it->msg)) {
                InputEvent e = *it;
                if (remove) {
                    q->input.erase(it);
                    threadInfo().lastTime = e.msg.time;
                    if (e.msg.message == WM_KEYDOWN || e.msg.message == WM_SYSKEYDOWN) {
                        threadInfo().lastKey = e.msg;
                        threadInfo().lastChar = e.ch;
                    }
                    if (e.setCursor) {
                        lock.unlock();
                        callProc(e.msg.hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(e.msg.hwnd),
                                 MAKELPARAM(HTCLIENT, e.msg.message));
                        lock.lock();
                    }
                }
                *out = e.msg;
                return true;
            }
        if ((min == 0 && max == 0) || (WM_PAINT >= min && WM_PAINT <= max))
            if (HWND h = paintCandidateLocked(me, filter)) {
                *out = MSG{h, WM_PAINT, 0, 0, GetTickCount(), cursorNow()};
                return true;
            }
        if ((min == 0 && max == 0) || (WM_TIMER >= min && WM_TIMER <= max)) {
            DWORD now = GetTickCount();
            Timer* best = nullptr;
            for (Timer& t : s.timers)
                if (t.thread == me && isDue(now, t.due)) {
                    MSG probe{t.hwnd, WM_TIMER, 0, 0, 0, {0, 0}};
                    if (matches(filter, 0, 0, probe) && (!best || int32_t(t.due - best->due) < 0))
                        best = &t;
                }
            if (best) {
                *out = MSG{best->hwnd, WM_TIMER, best->id, reinterpret_cast<LPARAM>(best->proc), now, cursorNow()};
                if (remove) {
                    // No backlog: the next tick is a full period after this one.
                    best->due = DWORD(now + best->period);
                    threadInfo().lastTime = now;
                }
                return true;
            }
        }
        if (!wait)
            return false;
        // Sleep until something arrives or the next timer is due.
        bool haveDue = false;
        DWORD next = 0;
        for (Timer& t : s.timers)
            if (t.thread == me && (!haveDue || int32_t(t.due - next) < 0)) {
                next = t.due;
                haveDue = true;
            }
        if (haveDue && !platform::ClockIsManual()) {
            DWORD delta = DWORD(next - GetTickCount());
            if (int32_t(delta) > 0)
                q->wake.timed_wait(lock, boost::posix_time::milliseconds(delta));
        } else {
            q->wake.wait(lock);
        }
    }
}

} // namespace

namespace platform {
namespace detail {
POINT currentCursorPos();
POINT cursorPosLocked();
}
}

namespace {
POINT cursorNow() { return platform::detail::cursorPosLocked(); }
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    State& s = state();
    boost::unique_lock<boost::mutex> lock(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return 0;
    DWORD me = GetCurrentThreadId();
    if (w->thread == me) {
        lock.unlock();
        return callProc(hwnd, msg, wParam, lParam);
    }
    if (w->destroying)
        return 0;
    auto target = s.queues.find(w->thread);
    if (target == s.queues.end() || !target->second->alive)
        return 0;
    auto m = std::make_shared<SentMessage>();
    m->hwnd = hwnd;
    m->message = msg;
    m->wParam = wParam;
    m->lParam = lParam;
    m->sender = me;
    target->second->sent.push_back(m);
    target->second->wake.notify_all();
    // While waiting, this thread handles what is sent to it, so two threads sending
    // to each other do not deadlock.
    std::shared_ptr<ThreadQueue> mine = myQueueLocked();
    while (!m->done) {
        if (!mine->sent.empty())
            handleSent(lock, *mine);
        else
            mine->wake.wait(lock);
    }
    return m->result;
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    POINT pt = cursorNow();
    std::shared_ptr<ThreadQueue> q;
    if (!hwnd) {
        q = myQueueLocked();
    } else {
        auto w = findLocked(hwnd);
        if (!w || w->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        q = liveQueueLocked(w->thread);
        if (!q) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE); // its thread has ended
            return FALSE;
        }
    }
    q->posted.push_back(MSG{hwnd, msg, wParam, lParam, GetTickCount(), pt});
    q->wake.notify_all();
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto q = myQueueLocked();
    q->quit = true;
    q->quitCode = exitCode;
    q->wake.notify_all();
}

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (!msg)
        return -1;
    if (hwnd && hwnd != reinterpret_cast<HWND>(LONG_PTR(-1)) && !IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    retrieve(msg, hwnd, filterMin, filterMax, true, true);
    return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (!msg)
        return FALSE;
    return retrieve(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0, false) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* msg)
{
    if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return FALSE;
    ThreadInfo& info = threadInfo();
    if (!info.lastChar || info.lastKey.hwnd != msg->hwnd || info.lastKey.wParam != msg->wParam ||
        info.lastKey.time != msg->time)
        return FALSE;
    char16_t ch = info.lastChar;
    info.lastChar = 0;
    UINT charMsg = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    // The character comes next, ahead of anything posted later.
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto q = myQueueLocked();
    q->posted.push_front(MSG{msg->hwnd, charMsg, WPARAM(ch), msg->lParam, msg->time, msg->pt});
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* msg)
{
    if (!msg || !msg->hwnd)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, UINT_PTR(msg->wParam), GetTickCount());
        return 0;
    }
    if (msg->message != WM_PAINT)
        return callProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
    State& s = state();
    unsigned generation = 0;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        if (auto w = findLocked(msg->hwnd))
            generation = w->paintGeneration;
    }
    LRESULT r = callProc(msg->hwnd, WM_PAINT, 0, 0);
    // A procedure that ignores WM_PAINT would get it for ever: its region is dropped,
    // unless the handler invalidated again on purpose.
    boost::lock_guard<boost::mutex> g(s.lock);
    if (auto w = findLocked(msg->hwnd); w && w->updatePending && w->paintGeneration == generation) {
        w->updatePending = false;
        w->erasePending = false;
    }
    return r;
}

LONG GetMessageTime() { return LONG(threadInfo().lastTime); }

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    DWORD thread = GetCurrentThreadId();
    if (hwnd) {
        auto w = findLocked(hwnd);
        if (!w || w->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        thread = w->thread;
    } else {
        static UINT_PTR nextThreadTimer = 0x7FFF0000;
        bool known = false;
        for (Timer& t : s.timers)
            known = known || (t.hwnd == nullptr && t.id == id && id != 0);
        if (!known)
            id = ++nextThreadTimer;
    }
    elapse = std::max<UINT>(elapse, 10);
    DWORD due = DWORD(GetTickCount() + elapse);
    for (Timer& t : s.timers)
        if (t.hwnd == hwnd && t.id == id) {
            t.period = elapse;
            t.due = due;
            t.proc = proc;
            return id ? id : 1;
        }
    s.timers.push_back(Timer{hwnd, id, elapse, due, thread, proc});
    if (auto q = s.queues.find(thread); q != s.queues.end())
        q->second->wake.notify_all();
    return id ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
    if (it == s.timers.end())
        return FALSE;
    s.timers.erase(it);
    return TRUE;
}

int platform::PumpPending()
{
    int count = 0;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam)); // left for the real loop
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        ++count;
    }
    return count;
}

bool platform::PumpUntil(const std::function<bool()>& condition, DWORD limitMs)
{
    DWORD start = GetTickCount();
    boost::system_time deadline = boost::get_system_time() + boost::posix_time::milliseconds(limitMs);
    (void)start;
    for (;;) {
        PumpPending();
        if (condition())
            return true;
        State& s = state();
        boost::unique_lock<boost::mutex> lock(s.lock);
        auto q = myQueueLocked();
        bool timerDue = false;
        DWORD now = GetTickCount();
        DWORD me = GetCurrentThreadId();
        for (Timer& t : s.timers)
            timerDue = timerDue || (t.thread == me && isDue(now, t.due));
        if (!q->sent.empty() || !q->posted.empty() || !q->input.empty() || timerDue ||
            paintCandidateLocked(me, nullptr))
            continue;
        // Wake at least every 20 ms so conditions set by other threads without a
        // message are seen too.
        boost::system_time wakeAt = std::min(deadline, boost::get_system_time() + boost::posix_time::milliseconds(20));
        q->wake.timed_wait(lock, wakeAt);
        if (boost::get_system_time() >= deadline) {
            lock.unlock();
            PumpPending();
            return condition();
        }
    }
}

bool platform::WaitForSentMessage(DWORD limitMs)
{
    State& s = state();
    boost::unique_lock<boost::mutex> lock(s.lock);
    auto q = myQueueLocked();
    boost::system_time deadline = boost::get_system_time() + boost::posix_time::milliseconds(limitMs);
    while (q->sent.empty())
        if (!q->wake.timed_wait(lock, deadline))
            return !q->sent.empty();
    return true;
}

bool platform::ThreadHasPendingMessages()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto q = myQueueLocked();
    return !q->sent.empty() || !q->posted.empty() || !q->input.empty() ||
           paintCandidateLocked(GetCurrentThreadId(), nullptr);
}

namespace {
std::atomic<int> g_pendingWork{0};
} // namespace

platform::PendingWork::PendingWork() : held_(true) { ++g_pendingWork; }

platform::PendingWork::~PendingWork()
{
    if (held_)
        --g_pendingWork;
}

platform::PendingWork::PendingWork(PendingWork&& other) noexcept : held_(other.held_) { other.held_ = false; }

platform::PendingWork& platform::PendingWork::operator=(PendingWork&& other) noexcept
{
    if (this != &other) {
        if (held_)
            --g_pendingWork;
        held_ = other.held_;
        other.held_ = false;
    }
    return *this;
}

int platform::PendingWorkCount() { return g_pendingWork.load(); }

int platform::ThreadTimerCount()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    DWORD me = GetCurrentThreadId();
    int n = 0;
    for (const Timer& t : s.timers)
        n += t.thread == me && t.hwnd != nullptr;
    return n;
}
