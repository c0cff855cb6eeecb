#include "R2IVuzi/J2KROIRequest.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KObserver.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"

#include <algorithm>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KROIRequest")

namespace {
struct Interrupted {};

// The library's failures: a time-out (the connect limit, or the low-speed limit on a
// stalled reply) apart from the rest.
J2KFailureCause curlCause(CURLcode rc)
{
    return rc == CURLE_OPERATION_TIMEDOUT ? J2KFailureCause::TimedOut : J2KFailureCause::Transfer;
}
} // namespace

CJ2KROIRequest::CJ2KROIRequest(const boost::shared_ptr<CJ2KObserver>& observer,
                               const boost::shared_ptr<CJ2KImage>& image, const int32_t window[5])
    : CJ2KRequest(observer, image)
{
    std::copy(window, window + 5, m_window);
}

void CJ2KROIRequest::Execute() { fetch(nullptr, 345, 357); }

bool CJ2KROIRequest::fetch(const std::string* model, int curlLine, int statusLine)
{
    CJ2KImageLoader* loader = m_observer->getImageLoader();
    if (!loader || !m_image)
        return false;
    const std::string target = m_image->getTarget();
    const boost::shared_ptr<CJ2KCache> cache = m_image->getCache();
    JpipBuffer headers(kJpipHeaderLimit), body(kJpipBodyLimit);
    m_done = false;
    try {
        int frameW = 0, frameH = 0;
        if (!m_image->getFrameSize(m_window[0], frameW, frameH)) {
            // Before the codestream is open the window's own size is all there is.
            frameW = std::max(m_window[3], m_window[1] + 1) - m_window[1] + 1;
            frameH = std::max(m_window[4], m_window[2] + 1) - m_window[2] + 1;
        }
        const std::string windowText = jpipWindowText(m_window, frameW, frameH);
        bool timerStarted = false, first = true;
        int empty = 0;
        while (!m_done) {
            if (loader->isInterrupted())
                throw Interrupted();
            std::string url = target + "_1.jp2/" + loader->getChannelPath() + "?cid=" + loader->getChannelId() +
                              "&len=" + std::to_string(g_packetSize.load());
            if (model && first)
                url += "&model=" + *model;
            url += "&type=jpp-stream" + windowText;
            first = false;
            JpipCurlHandle& channel = loader->getChannelHandle();
            if (!channel)
                ORBEL_THROW_BECAUSE(CJ2KConnectionException, curlLine, J2KFailureCause::Transfer, "no channel open",
                                    curl_easy_strerror(CURLE_BAD_FUNCTION_ARGUMENT), target);
            const CURLcode rc = channel.perform(url, headers, body);
            if (rc != CURLE_OK && loader->isInterrupted())
                throw Interrupted();
            if (rc != CURLE_OK)
                ORBEL_THROW_BECAUSE(CJ2KConnectionException, curlLine, curlCause(rc), curl_easy_strerror(rc),
                                    curl_easy_strerror(rc), target);
            const long code = channel.responseCode();
            if (code != 200)
                ORBEL_THROW_BECAUSE(CJ2KConnectionException, statusLine, J2KFailureCause::HttpStatus,
                                    std::to_string(code), "Invalid status code:" + std::to_string(code) + " returned.",
                                    target);
            if (!timerStarted && body.size() >= 4) {
                timerStarted = true;
                m_observer->startRenderTimer(target);
            }
            const uint64_t before = cache->get_total_new_bytes();
            if (!acceptBody(body, url, m_done))
                ORBEL_THROW_BECAUSE(CJ2KConnectionException, curlLine, J2KFailureCause::RefusedBody, lastRefusal(),
                                    "The JPIP server's reply is not a well-formed JPP-stream: " + lastRefusal(),
                                    target);
            // The server counts a cut message as sent; only a new channel's model
            // update gets it back.
            if (lastBodyCut())
                ORBEL_THROW_BECAUSE(CJ2KConnectionException, curlLine, J2KFailureCause::CutReply, "",
                                    "The JPIP server's reply ended inside a message.", target);
            if (!m_done) {
                empty = cache->get_total_new_bytes() == before ? empty + 1 : 0;
                if (empty >= g_jpipEmptyExchangeLimit)
                    ORBEL_THROW_BECAUSE(CJ2KConnectionException, curlLine, J2KFailureCause::NoNewData, "",
                                        "The JPIP server sent no new data.", target);
            }
        }
        headers.release();
        body.release();
        m_observer->dataArrived(target, m_window);
        return true;
    } catch (const CJ2KConnectionException& e) {
        loader->closeChannel();
        m_window[0] = -1;
        m_observer->dataArrived(target, m_window);
        headers.release();
        body.release();
        m_observer->reportError(errorKind(J2KErrorKind::Connection), std::unique_ptr<CJ2KException>(new CJ2KConnectionException(e)));
    } catch (...) {
        loader->closeChannel();
        m_window[0] = -1;
        m_observer->dataArrived(target, m_window);
        headers.release();
        body.release();
    }
    return false;
}
