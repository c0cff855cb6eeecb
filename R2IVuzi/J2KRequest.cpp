#include "R2IVuzi/J2KRequest.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KObserver.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/JpipParser.h"
#include "diagnostics/Logging.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KRequest")

bool processChunkBody(CJpipParser& parser, rvd_cache* cache, const uint8_t* data, size_t size, std::string* reason)
{
    try {
        parser.parse(cache, data, size);
    } catch (...) {
        if (reason) {
            try {
                throw;
            } catch (const std::exception& e) {
                *reason = e.what();
            } catch (...) {
                *reason = "unknown failure";
            }
        }
        ORBEL_LOG_AT(INFO, 52) << "Exception happened in processChunkData ";
        ORBEL_THROW_AT(CJ2KException, 54, "error when parse the databin.", "");
    }
    const JpipResponseStatus& status = parser.getStatus();
    return status.imageDone || status.windowDone;
}

CJ2KRequest::CJ2KRequest(const boost::shared_ptr<CJ2KObserver>& observer, const boost::shared_ptr<CJ2KImage>& image)
    : m_observer(observer), m_image(image)
{
}

CJ2KRequest::~CJ2KRequest() = default;

bool CJ2KRequest::acceptBody(const JpipBuffer& body, const std::string& url, bool& done)
{
    const std::string target = m_image ? m_image->getTarget() : std::string();
    try {
        done = processChunkData(body);
    } catch (const CJ2KException&) {
        ORBEL_LOG(ERROR) << "Refused JPIP reply for " << target << " to " << name() << " " << url << ": "
                         << m_lastRefusal;
        return false;
    }
    if (m_lastBodyCut)
        ORBEL_LOG(ERROR) << "Cut JPIP reply for " << target << " to " << name() << " " << url
                         << ": the body ends inside a message";
    return true;
}

bool CJ2KRequest::processChunkData(const JpipBuffer& body)
{
    m_lastBodyCut = false;
    m_lastRefusal.clear();
    boost::shared_ptr<CJpipParser> parser;
    boost::shared_ptr<CJ2KCache> cache;
    try {
        CJ2KImageLoader* loader = m_observer ? m_observer->getImageLoader() : nullptr;
        if (loader)
            parser = loader->getParser();
        if (m_image)
            cache = m_image->getCache();
    } catch (...) {
    }
    if (!parser || !cache) {
        m_lastRefusal = "no parser or cache";
        ORBEL_LOG_AT(INFO, 52) << "Exception happened in processChunkData ";
        ORBEL_THROW_AT(CJ2KException, 54, "error when parse the databin.", "");
    }
    const bool done = processChunkBody(*parser, cache.get(), reinterpret_cast<const uint8_t*>(body.data()), body.size(),
                                       &m_lastRefusal);
    m_lastBodyCut = parser->getStatus().bodyCut;
    return done;
}
