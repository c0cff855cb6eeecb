#include "R2IVuzi/J2KAbortRequest.h"

#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KObserver.h"
#include "diagnostics/Logging.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KAbortRequest")

CJ2KAbortRequest::CJ2KAbortRequest(const boost::shared_ptr<CJ2KObserver>& observer, int32_t mode,
                                   const std::string& text)
    : CJ2KRequest(observer, boost::shared_ptr<CJ2KImage>()), m_mode(mode), m_text(text)
{
}

void CJ2KAbortRequest::Execute()
{
    try {
        CJ2KImageLoader* loader = m_observer->getImageLoader();
        if (!loader)
            return;
        loader->closeChannel();
        if (m_mode == 1)
            loader->quit();
    } catch (...) {
        ORBEL_LOG_AT(INFO, 41) << "Exception happened in CJ2KAbortRequest::Execute";
    }
}
