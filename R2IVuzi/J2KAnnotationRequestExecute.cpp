#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KAnnotationRequest.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KObserver.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"

#include <tinyxml.h>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KAnnotationRequest")

namespace {

// A query value as the server reads it back: every byte but the unreserved ones as %XX,
// so a "&", "#" or blank in a UID cannot end or cut the query.
std::string queryValue(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                           c == '.' || c == '_' || c == '~';
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

} // namespace

void CJ2KAnnotationRequest::handleReply(const char* body)
{
    boost::shared_ptr<CPssiXmlDao> dao = m_observer->getPssiXmlDao();
    TiXmlDocument reply;
    CPssiXmlDao::parseXmlText(reply, body);
    if (reply.Error()) {
        ORBEL_LOG_AT(ERROR, 107) << "Error when parse annotation XML for image " << m_key;
        return;
    }
    const TiXmlNode* node = dao->findNodeByUID(&reply, "//Image", m_uid);
    const TiXmlElement* element = node ? node->ToElement() : nullptr;
    // The merge finds the PSSI image itself, under the document's lock.
    if (m_detail)
        dao->configureImageAnnotation(m_uid, element);
    else
        dao->configureImageAnnotationTree(m_uid, element);
    ORBEL_LOG_AT(INFO, 141) << "Configure PSSI with required annotation done!";
}

void CJ2KAnnotationRequest::Execute()
{
    boost::shared_ptr<CJ2KAnnotationLoader> loader;
    try {
        boost::shared_ptr<CPssiXmlDao> dao = m_observer->getPssiXmlDao();
        {
            CPssiXmlDao::Lock lock(*dao);
            if (dao->isAnnotated(dao->findNodeByUID(dao->getRootElement(), "//Image", m_uid)))
                return;
        }
        loader = m_observer->getAnnotationLoader();
        const std::string url = loader->getServerAddress() + "?UID=" + queryValue(m_uid) +
                                (m_detail ? "&Detail=0,0,0,1" : "&Detail=1,1,1,1") + "&Language=" +
                                queryValue(GetAnnotationLanguage());
        long status = 0;
        {
            // Released on every path, the failures included.
            JpipBuffer headers(kJpipHeaderLimit), body(kJpipBodyLimit);
            JpipCurlHandle* curl = loader->getCurl();
            const CURLcode rc = curl && *curl ? curl->perform(url, headers, body) : CURLE_FAILED_INIT;
            ORBEL_LOG_AT(INFO, 83) << "Get reply from annotation server!";
            // A transfer that broke after the status line still reads 200: its cut body
            // must count as no reply, so the grid asks again.
            if (rc == CURLE_OK)
                status = curl->responseCode();
            if (status != 200) {
                ORBEL_LOG_AT(ERROR, 92) << "Error to receive response from annotation server for " << m_uid;
                if (rc != CURLE_OK)
                    ORBEL_THROW_BECAUSE(CJ2KOverlayConnectionException, 93,
                                        rc == CURLE_OPERATION_TIMEDOUT ? J2KFailureCause::TimedOut
                                                                       : J2KFailureCause::Transfer,
                                        curl_easy_strerror(rc), "Connection to Annotation server failed.", m_key);
                ORBEL_THROW_BECAUSE(CJ2KOverlayConnectionException, 93, J2KFailureCause::HttpStatus,
                                    std::to_string(status), "Connection to Annotation server failed.", m_key);
            }
            handleReply(body.data());
        }
        // Also after a reply that is not XML: the image is then presented from what
        // the document holds, rather than never.
        m_observer->startPresentation(m_key);
    } catch (const CJ2KOverlayConnectionException& e) {
        if (loader) {
            if (JpipCurlHandle* curl = loader->getCurl()) {
                curl->reset();
                curl->open();
            }
        }
        try {
            m_observer->reportError(errorKind(J2KErrorKind::AnnotationConnection), std::unique_ptr<CJ2KException>(new CJ2KOverlayConnectionException(e)));
        } catch (const CJ2KWeakPtrCastingException&) {
        } catch (...) {
            ORBEL_LOG_AT(INFO, 182) << "Exception happened in CJ2KAnnotationRequest::Execute";
        }
    } catch (const CJ2KWeakPtrCastingException&) {
        // The grid or its parents are gone: nobody waits for this reply.
    } catch (...) {
        ORBEL_LOG_AT(INFO, 182) << "Exception happened in CJ2KAnnotationRequest::Execute";
    }
}
