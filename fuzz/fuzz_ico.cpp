// ICO decoding of untrusted bytes: headers declaring more than 4096 x 4096 pixels are
// skipped; a decoded image of at most kRoundTripPixels that the encoder accepts must decode
// again to the same colours.
#include "fuzz/fuzz_raster.h"

#include <cstdint>

namespace {

uint64_t Declared(const uint8_t*, size_t)
{
    return 0; // icon entries hold at most 256 x 256
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return DecodeAndRoundTrip(data, size, Declared(data, size), RXIMAGE_FORMAT_ICO);
}
