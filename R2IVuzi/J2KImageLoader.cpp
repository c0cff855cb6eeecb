#include "R2IVuzi/J2KImageLoader.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KRequest.h"
#include "R2IVuzi/JpipParser.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "diagnostics/Logging.h"

#include <boost/thread/exceptions.hpp>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KImageLoader")

std::function<void()> CJ2KImageLoader::s_beforeThreadStart;

CJ2KImageLoader::CJ2KImageLoader()
    : m_parser(new CJpipParser), m_region(new rvd_region_decompressor), m_stripe(new rvd_stripe_decompressor)
{
    m_channel.setCancelFlag(cancelFlag());
    start();
}

CJ2KImageLoader::~CJ2KImageLoader()
{
    closeChannel();
}

void CJ2KImageLoader::start()
{
    try {
        if (s_beforeThreadStart)
            s_beforeThreadStart();
        m_worker.start();
    } catch (const boost::thread_resource_error&) {
        ORBEL_LOG_AT(INFO, 133) << "Exception happened in CJ2KImageLoader.start ";
        ORBEL_THROW_AT(CJ2KCreateNewThreadException, 134, "Can't create new thread !", "");
    }
}

void CJ2KImageLoader::postRequest(const boost::shared_ptr<CJ2KRequest>& request)
{
    m_worker.post(request);
}

bool CJ2KImageLoader::isReady()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_ready;
}

void CJ2KImageLoader::setReady(bool ready)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_ready = ready;
}

std::string CJ2KImageLoader::getChannelId()
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    return m_cid;
}

void CJ2KImageLoader::setChannelId(const std::string& cid)
{
    boost::lock_guard<boost::mutex> lock(m_mutex);
    m_cid = cid;
}

void CJ2KImageLoader::closeChannel()
{
    m_channel.reset();
    m_path.clear();
    setChannelId(std::string());
}

void CJ2KImageLoader::quit()
{
    m_worker.quit();
}

void CJ2KImageLoader::join()
{
    m_worker.join();
}
