#include "R2IVuzi/J2KAnnotationLoader.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KRequest.h"
#include "R2IVuzi/JpipHttp.h"
#include "diagnostics/Logging.h"

#include <boost/thread/exceptions.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KAnnotationLoader")

// Shared with the thread, so a thread left running after a timed-out stop never
// touches freed memory.
struct CJ2KAnnotationLoader::State {
    std::atomic<int> retries{0};
    // The worker's interruption flag, which the handle's transfers watch: a reply the
    // server stalls on must not hold a stop or a new document. Set before the thread starts.
    const std::atomic<bool>* cancel = nullptr;
    mutable boost::mutex mutex; // the address
    JpipCurlHandle curl;
    std::string address;
};

namespace {

CJ2KRequestWorker::Hooks curlHooks(const boost::shared_ptr<CJ2KAnnotationLoader::State>& s)
{
    // Without a handle the requests fail in their own way; the queue is still served.
    return CJ2KRequestWorker::Hooks{[s] {
                                        s->curl.setCancelFlag(s->cancel);
                                        s->curl.open();
                                    },
                                    [s] { s->curl.reset(); }};
}

} // namespace

CJ2KAnnotationLoader::CJ2KAnnotationLoader()
    : m_state(new State), m_worker(CJ2KRequestWorker::NewestFirst, curlHooks(m_state))
{
    m_state->cancel = m_worker.interruptFlag();
    try {
        m_worker.start();
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
    m_worker.post(request);
}

void CJ2KAnnotationLoader::stop(int waitSeconds)
{
    const bool own = m_worker.onOwnThread();
    if (!m_worker.stop(waitSeconds) && !own)
        ORBEL_LOG(ERROR) << "Annotation Loader did not quit within " << waitSeconds << " seconds; left running";
}

void CJ2KAnnotationLoader::interruptRunning()
{
    m_worker.interrupt();
}

bool CJ2KAnnotationLoader::isStopping() const
{
    return m_worker.quitting();
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
