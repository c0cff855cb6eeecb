#include "R2IVuzi/J2KRequestWorker.h"

#include "R2IVuzi/J2KRequest.h"
#include "platform/Win32.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <deque>
#include <optional>

namespace {
// A request counts as the control's work from its post until it has run or was dropped, so
// a container waiting for quiet sees a request in flight or a retry's wait on this thread.
// One that no thread will run (posted before the start or after the end) counts nothing.
// The count goes last: a request's destructor may post the next one.
struct Queued {
    std::optional<platform::PendingWork> work;
    boost::shared_ptr<CJ2KRequest> request;
};
} // namespace

struct CJ2KRequestWorker::State {
    State(Order o, Hooks h) : order(o), hooks(std::move(h)) {}
    const Order order;
    const Hooks hooks;
    mutable boost::mutex mutex;
    boost::condition_variable condition;
    bool quit = false;
    bool ended = false; // the thread has taken its last request
    std::atomic<bool> interrupt{false};
    boost::shared_ptr<boost::thread> thread;
    std::deque<Queued> queue;
};

namespace {

using State = CJ2KRequestWorker::State;

// The next request, or none once the thread is to end.
std::optional<Queued> nextRequest(State& s)
{
    boost::unique_lock<boost::mutex> lock(s.mutex);
    while (s.queue.empty() && !s.quit)
        s.condition.wait(lock);
    if (s.queue.empty() || (s.quit && s.order == CJ2KRequestWorker::NewestFirst))
        return std::nullopt;
    std::optional<Queued> next(std::move(s.queue.back()));
    s.queue.pop_back();
    s.interrupt = false;
    return next;
}

void serve(const boost::shared_ptr<State>& s)
{
    if (s->hooks.begin)
        s->hooks.begin();
    // A null request ends the thread as the end of the queue does.
    // Each request and its count go before the wait for the next.
    for (;;) {
        std::optional<Queued> next = nextRequest(*s);
        if (!next || !next->request)
            break;
        try {
            next->request->Execute();
        } catch (...) {
        }
    }
    std::deque<Queued> dropped;
    {
        boost::lock_guard<boost::mutex> lock(s->mutex);
        s->ended = true;
        dropped.swap(s->queue);
    }
    dropped.clear(); // outside the lock: a request's destructor may post again
    if (s->hooks.end)
        s->hooks.end();
}

} // namespace

CJ2KRequestWorker::CJ2KRequestWorker(Order order, Hooks hooks) : m_state(new State(order, std::move(hooks))) {}

CJ2KRequestWorker::~CJ2KRequestWorker()
{
    quit();
    boost::shared_ptr<boost::thread> thread = m_state->thread;
    if (thread && thread->joinable())
        thread->detach();
}

void CJ2KRequestWorker::start()
{
    boost::shared_ptr<State> s = m_state;
    boost::shared_ptr<boost::thread> thread(new boost::thread([s] { serve(s); }));
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->thread = thread;
}

void CJ2KRequestWorker::post(const boost::shared_ptr<CJ2KRequest>& request)
{
    std::optional<Queued> replaced;
    Queued posted{std::nullopt, request};
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        const bool served = m_state->thread && !m_state->ended &&
                            !(m_state->quit && m_state->order == NewestFirst);
        if (served)
            posted.work.emplace();
        if (m_state->order == ReplacePending && !m_state->queue.empty()) {
            replaced.emplace(std::move(m_state->queue.back())); // released outside the lock
            m_state->queue.clear();
        }
        m_state->queue.push_back(std::move(posted));
        if (request && request->interruptsRunning())
            m_state->interrupt = true;
    }
    m_state->condition.notify_all();
}

void CJ2KRequestWorker::quit()
{
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        m_state->quit = true;
        m_state->interrupt = true;
    }
    m_state->condition.notify_all();
}

bool CJ2KRequestWorker::quitting() const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->quit;
}

bool CJ2KRequestWorker::onOwnThread() const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->thread && m_state->thread->get_id() == boost::this_thread::get_id();
}

bool CJ2KRequestWorker::join(int waitSeconds)
{
    boost::shared_ptr<boost::thread> thread;
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        thread = m_state->thread;
    }
    if (!thread || !thread->joinable())
        return true;
    // A request that ends its own loader runs on the loader's thread, which cannot join
    // itself: it leaves its loop once the request returns.
    if (thread->get_id() == boost::this_thread::get_id()) {
        thread->detach();
        return false;
    }
    if (waitSeconds < 0) {
        thread->join();
        return true;
    }
    if (thread->try_join_for(boost::chrono::seconds(waitSeconds)))
        return true;
    thread->detach();
    return false;
}

bool CJ2KRequestWorker::isInterrupted() const
{
    return m_state->interrupt;
}

const std::atomic<bool>* CJ2KRequestWorker::interruptFlag() const
{
    return &m_state->interrupt;
}

void CJ2KRequestWorker::clearInterrupt()
{
    m_state->interrupt = false;
}

void CJ2KRequestWorker::interrupt()
{
    m_state->interrupt = true;
}

bool CJ2KRequestWorker::waitInterruptible(int ms)
{
    boost::unique_lock<boost::mutex> lock(m_state->mutex);
    return m_state->condition.wait_for(lock, boost::chrono::milliseconds(ms),
                                       [this] { return m_state->interrupt.load(); });
}
