// Arbitrary channel-open replies through the checks that follow the transfer: the status,
// the header block and the body (parsed into a cache with a 4 MiB ceiling).
//   byte 0: even for status 200, odd for 404; bytes 1-2: header block length (big
//   endian); then the header block; the rest is the body.
#include "R2IVuzi/J2KCommenceRequest.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/JpipHttp.h"
#include "tests/R2IVuzi/NullObserver.h"

#include <cstddef>
#include <cstdint>

namespace {

// Gives the request its loader (for the parser); every notification is dropped.
class Observer : public NullObserver {
public:
    CJ2KImageLoader* getImageLoader() override
    {
        static CJ2KImageLoader* shared = new CJ2KImageLoader;
        return shared;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const long status = data[0] & 1 ? 404 : 200;
    size_t headerBytes = size_t(data[1]) << 8 | data[2];
    if (headerBytes > size - 3)
        headerBytes = size - 3;
    JpipBuffer headers(kJpipHeaderLimit), body(kJpipBodyLimit);
    if (!headers.append(reinterpret_cast<const char*>(data + 3), headerBytes) ||
        !body.append(reinterpret_cast<const char*>(data + 3 + headerBytes), size - 3 - headerBytes))
        return 0;
    static boost::shared_ptr<CJ2KObserver> observer(new Observer);
    boost::shared_ptr<CJ2KImage> image(new CJ2KImage("fuzz", "uid", nullptr));
    image->getCache()->set_memory_limit(4u << 20);
    CJ2KCommenceRequest request(observer, image, false);
    std::string cid, path;
    try {
        request.handleOpenReply(status, headers, body, cid, path);
        if (cid.empty() || status != 200)
            __builtin_trap();
    } catch (const CJ2KException&) {
    }
    return 0;
}
