// TGA decoding of untrusted bytes: headers declaring more than 4096 x 4096 pixels are
// skipped; a decoded image of at most kRoundTripPixels that the encoder accepts must decode
// again to the same colours.
#include "fuzz/fuzz_raster.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

uint64_t Declared(const uint8_t* d, size_t n)
{
    return n < 16 ? 0 : uint64_t(d[12] | d[13] << 8) * uint64_t(d[14] | d[15] << 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (Declared(data, size) > 4096u * 4096u)
        return 0;
    std::vector<BYTE> bytes(data, data + size);
    RxImage image;
    if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_TGA))
        return 0;
    BYTE* buffer = nullptr;
    long length = 0;
    if (!SmallEnough(image) || !image.Encode(buffer, length, RXIMAGE_FORMAT_TGA))
        return 0;
    RxImage again;
    const bool decoded = again.Decode(buffer, DWORD(length), RXIMAGE_FORMAT_TGA);
    std::free(buffer);
    if (!decoded || !SameColours(image, again))
        std::abort();
    return 0;
}
