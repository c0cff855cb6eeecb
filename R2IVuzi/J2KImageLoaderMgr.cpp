#include "R2IVuzi/J2KImageLoaderMgr.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "diagnostics/Logging.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <deque>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KImageLoaderMgr")

// Shared with the thread, so a thread left running after a timed-out stop never
// touches freed memory.
struct CJ2KImageLoaderMgr::State {
    boost::mutex mutex;
    boost::condition_variable condition;
    bool quit = false;
    boost::shared_ptr<boost::thread> thread;
    std::deque<boost::shared_ptr<CJ2KKillImageLoaderRequest>> queue;
};

namespace {

void runManager(const boost::shared_ptr<CJ2KImageLoaderMgr::State>& s)
{
    for (;;) {
        boost::shared_ptr<CJ2KKillImageLoaderRequest> request;
        {
            boost::unique_lock<boost::mutex> lock(s->mutex);
            while (s->queue.empty() && !s->quit)
                s->condition.wait(lock);
            if (s->queue.empty())
                return;
            request = s->queue.front();
            s->queue.pop_front();
        }
        try {
            request->execute();
        } catch (...) {
        }
    }
}

} // namespace

CJ2KImageLoaderMgr::CJ2KImageLoaderMgr() : m_state(new State)
{
    boost::shared_ptr<State> s = m_state;
    try {
        s->thread.reset(new boost::thread([s] { runManager(s); }));
    } catch (const boost::thread_resource_error&) {
        ORBEL_THROW(CJ2KCreateNewThreadException, "Can't create new thread !", "");
    }
}

CJ2KImageLoaderMgr::~CJ2KImageLoaderMgr() { stop(); }

void CJ2KImageLoaderMgr::postRequest(const boost::shared_ptr<CJ2KKillImageLoaderRequest>& request)
{
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        m_state->queue.push_back(request);
    }
    m_state->condition.notify_all();
}

void CJ2KImageLoaderMgr::stop(int waitSeconds)
{
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->condition.notify_all();
    boost::shared_ptr<boost::thread> thread = m_state->thread;
    if (!thread || !thread->joinable())
        return;
    if (thread->try_join_for(boost::chrono::seconds(waitSeconds))) {
        ORBEL_LOG_AT(INFO, 100) << "ImageLoader Manager Quit Safely!";
    } else {
        thread->detach();
        ORBEL_LOG(ERROR) << "ImageLoader Manager did not quit within " << waitSeconds << " seconds; left running";
    }
}
