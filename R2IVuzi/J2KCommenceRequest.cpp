#include "R2IVuzi/J2KCommenceRequest.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KObserver.h"
#include "R2IVuzi/JpipHttp.h"
#include "diagnostics/Logging.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KCommenceRequest")

namespace {
// Ends a request cut short by a newer abort or commence.
struct Interrupted {};

const char kOpenQuery[] = "_1.jp2?cnew=http&type=jpp-stream&len=2048";

J2KFailureCause curlCause(CURLcode rc)
{
    return rc == CURLE_OPERATION_TIMEDOUT ? J2KFailureCause::TimedOut : J2KFailureCause::Transfer;
}
} // namespace

CJ2KCommenceRequest::CJ2KCommenceRequest(const boost::shared_ptr<CJ2KObserver>& observer,
                                         const boost::shared_ptr<CJ2KImage>& image, bool retry)
    : CJ2KRequest(observer, image), m_retry(retry)
{
}

void CJ2KCommenceRequest::handleOpenReply(long status, const JpipBuffer& headers, const JpipBuffer& body,
                                          std::string& cid, std::string& path)
{
    const std::string target = m_image->getTarget();
    if (status != 200)
        ORBEL_THROW_BECAUSE(CJ2KOpenStreamException, 109, J2KFailureCause::HttpStatus, std::to_string(status),
                            "Invalid status code:" + std::to_string(status) + " returned.", target);
    const std::string block(headers.data(), headers.size());
    const std::string cnew = jpipHeaderValue(block, "jpip-cnew");
    if (cnew.empty())
        ORBEL_THROW_AT(CJ2KOpenStreamException, 122, "The header 'jpip-cnew' was not sent by the server. ", target);
    cid.clear();
    path.clear();
    jpipParseCnew(cnew, cid, path);
    if (cid.empty())
        ORBEL_THROW_AT(CJ2KOpenStreamException, 155, "The channel id was not sent by the server. ", target);
    if (!jpipIsChunked(jpipHeaderValue(block, "Transfer-Encoding")))
        ORBEL_THROW_AT(CJ2KOpenStreamException, 165, "Only chunked responses are supported", target);
    bool done = false;
    if (!acceptBody(body, target + kOpenQuery, done))
        ORBEL_THROW_BECAUSE(CJ2KOpenStreamException, __LINE__, J2KFailureCause::RefusedBody, lastRefusal(),
                            "The JPIP server's reply is not a well-formed JPP-stream: " + lastRefusal(), target);
    // The server counts a cut message as sent and never resends it on this channel.
    if (lastBodyCut())
        ORBEL_THROW_BECAUSE(CJ2KOpenStreamException, __LINE__, J2KFailureCause::CutReply, "",
                            "The JPIP server's reply ended inside a message.", target);
}

void CJ2KCommenceRequest::Execute()
{
    CJ2KImageLoader* loader = m_observer->getImageLoader();
    if (!loader || !m_image)
        return;
    const std::string target = m_image->getTarget();
    JpipCurlHandle handle;
    JpipBuffer headers(kJpipHeaderLimit), body(kJpipBodyLimit);
    try {
        loader->closeChannel();
        if (m_retry && loader->waitInterruptible(1000))
            throw Interrupted();
        handle.setCancelFlag(loader->cancelFlag());
        if (!handle.open())
            ORBEL_THROW_BECAUSE(CJ2KOpenStreamException, 96, J2KFailureCause::Transfer,
                                curl_easy_strerror(CURLE_FAILED_INIT), curl_easy_strerror(CURLE_FAILED_INIT), target);
        const CURLcode rc = handle.perform(target + kOpenQuery, headers, body);
        if (rc != CURLE_OK && loader->isInterrupted())
            throw Interrupted();
        if (rc != CURLE_OK)
            ORBEL_THROW_BECAUSE(CJ2KOpenStreamException, 96, curlCause(rc), curl_easy_strerror(rc),
                                curl_easy_strerror(rc), target);
        std::string cid, path;
        handleOpenReply(handle.responseCode(), headers, body, cid, path);
        headers.release();
        body.release();
        if (loader->isInterrupted())
            throw Interrupted();
        loader->setChannelId(cid);
        loader->setChannelPath(path);
        loader->getChannelHandle() = std::move(handle);
        m_observer->startProcess(target);
    } catch (const CJ2KOpenStreamException& e) {
        handle.reset();
        loader->closeChannel();
        headers.release();
        body.release();
        m_observer->reportError(errorKind(J2KErrorKind::OpenStream), std::unique_ptr<CJ2KException>(new CJ2KOpenStreamException(e)));
    } catch (const CJ2KConnectionException& e) {
        handle.reset();
        loader->closeChannel();
        headers.release();
        body.release();
        m_observer->reportError(errorKind(J2KErrorKind::Connection), std::unique_ptr<CJ2KException>(new CJ2KConnectionException(e)));
    } catch (const Interrupted&) {
        handle.reset();
        loader->closeChannel();
    } catch (...) {
        ORBEL_LOG_AT(INFO, 258) << "Exception happened in CJ2KCommenceRequest::Execute";
        handle.reset();
        loader->closeChannel();
    }
}
