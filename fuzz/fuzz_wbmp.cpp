// WBMP decoding of untrusted bytes: headers declaring more than 4096 x 4096 pixels are
// skipped; a decoded image of at most kRoundTripPixels that the encoder accepts must decode
// again to the same colours.
#include "fuzz/fuzz_raster.h"

#include <cstdint>

namespace {

// The declared size: two multi-byte integers after the type and header bytes.
uint64_t Declared(const uint8_t* d, size_t n)
{
    uint64_t dims[2] = {0, 0};
    size_t p = 2;
    for (uint64_t& v : dims)
        for (int i = 0; i < 4 && p < n; ++i) {
            v = (v << 7) | (d[p] & 0x7F);
            if (!(d[p++] & 0x80))
                break;
        }
    return dims[0] * dims[1];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return DecodeAndRoundTrip(data, size, Declared(data, size), RXIMAGE_FORMAT_WBMP);
}
