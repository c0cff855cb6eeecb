#include "R2IVuzi/J2KKillImageLoaderRequest.h"

#include "R2IVuzi/J2KImageLoader.h"
#include "diagnostics/Logging.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KKillImageLoaderRequest")

void CJ2KKillImageLoaderRequest::execute()
{
    try {
        CJ2KImageLoader* loader = m_loader;
        m_loader = nullptr;
        if (loader) {
            loader->join();
            delete loader;
        }
    } catch (...) {
        ORBEL_LOG_AT(INFO, 37) << "Exception happened in CJ2KKillImageLoaderRequest.execute ";
    }
}
