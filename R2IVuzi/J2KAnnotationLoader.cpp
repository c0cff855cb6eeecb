#include "R2IVuzi/J2KAnnotationLoader.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KRequest.h"
#include "R2IVuzi/JpipHttp.h"
#include "diagnostics/Logging.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <deque>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KAnnotationLoader")

// Shared with the thread, so a thread left running after a timed-out stop never
// touches freed memory.
struct CJ2KAnnotationLoader::State {
    std::atomic<int> retries{0};
    mutable boost::mutex mutex;
    boost::condition_variable condition;
    bool quit = false;
    boost::shared_ptr<boost::thread> thread;
    std::deque<boost::shared_ptr<CJ2KRequest>> queue;
    JpipCurlHandle curl;
    std::string address;
};

namespace {

void openCurl(CJ2KAnnotationLoader::State& s)
{
    // Without a handle the requests fail in their own way; the queue is still served.
    s.curl.open();
}

void closeCurl(CJ2KAnnotationLoader::State& s) { s.curl.reset(); }

void runAnnotations(const boost::shared_ptr<CJ2KAnnotationLoader::State>& s)
{
    openCurl(*s);
    for (;;) {
        boost::shared_ptr<CJ2KRequest> request;
        {
            boost::unique_lock<boost::mutex> lock(s->mutex);
            if (s->quit)
                break;
            while (s->queue.empty() && !s->quit)
                s->condition.wait(lock);
            if (s->quit)
                break;
            request = s->queue.back();
            s->queue.pop_back();
        }
        try {
            request->Execute();
        } catch (...) {
        }
    }
    closeCurl(*s);
}

} // namespace

CJ2KAnnotationLoader::CJ2KAnnotationLoader() : m_state(new State)
{
    boost::shared_ptr<State> s = m_state;
    try {
        s->thread.reset(new boost::thread([s] { runAnnotations(s); }));
    } catch (const boost::thread_resource_error&) {
        ORBEL_THROW(CJ2KCreateNewThreadException, "Can't create new thread !", "");
    }
}

CJ2KAnnotationLoader::~CJ2KAnnotationLoader()
{
    stop();
    ORBEL_LOG_AT(INFO, 40) << "Annotation Loader Quit Safely!";
}

void CJ2KAnnotationLoader::postRequest(const boost::shared_ptr<CJ2KRequest>& request)
{
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        m_state->queue.push_back(request);
    }
    m_state->condition.notify_all();
}

void CJ2KAnnotationLoader::stop(int waitSeconds)
{
    {
        boost::lock_guard<boost::mutex> lock(m_state->mutex);
        m_state->quit = true;
    }
    m_state->condition.notify_all();
    boost::shared_ptr<boost::thread> thread = m_state->thread;
    if (!thread || !thread->joinable())
        return;
    // A request that held the last reference to its loader ends it on the loader's own
    // thread, which cannot join itself: it leaves its loop once the request returns.
    if (thread->get_id() == boost::this_thread::get_id()) {
        thread->detach();
        return;
    }
    if (!thread->try_join_for(boost::chrono::seconds(waitSeconds))) {
        thread->detach();
        ORBEL_LOG(ERROR) << "Annotation Loader did not quit within " << waitSeconds << " seconds; left running";
        return;
    }
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->queue.clear();
}

bool CJ2KAnnotationLoader::isStopping() const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->quit;
}

std::string CJ2KAnnotationLoader::getServerAddress() const
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    return m_state->address;
}

void CJ2KAnnotationLoader::setServerAddress(const std::string& address)
{
    boost::lock_guard<boost::mutex> lock(m_state->mutex);
    m_state->address = address;
}

std::atomic<int>& CJ2KAnnotationLoader::retryCounter() { return m_state->retries; }

JpipCurlHandle* CJ2KAnnotationLoader::getCurl() { return &m_state->curl; }
