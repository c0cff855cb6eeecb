#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/JpipParser.h"
#include "diagnostics/Logging.h"

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KRequest")

bool processChunkBody(CJpipParser& parser, rvd_cache* cache, const uint8_t* data, size_t size)
{
    try {
        parser.parse(cache, data, size);
    } catch (...) {
        ORBEL_LOG_AT(INFO, 52) << "Exception happened in processChunkData ";
        ORBEL_THROW_AT(CJ2KException, 54, "error when parse the databin.", "");
    }
    const JpipResponseStatus& status = parser.getStatus();
    return status.imageDone || status.windowDone;
}
