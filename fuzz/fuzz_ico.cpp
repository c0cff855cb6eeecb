// ICO decoding of untrusted bytes: headers declaring more than 4096 x 4096 pixels are
// skipped; a decoded image of at most kRoundTripPixels that the encoder accepts must decode
// again to the same colours.
#include "fuzz/fuzz_raster.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

uint64_t Declared(const uint8_t*, size_t)
{
    return 0; // icon entries hold at most 256 x 256
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (Declared(data, size) > 4096u * 4096u)
        return 0;
    std::vector<BYTE> bytes(data, data + size);
    RxImage image;
    if (!image.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_ICO))
        return 0;
    BYTE* buffer = nullptr;
    long length = 0;
    if (!0 || !image.Encode(buffer, length, RXIMAGE_FORMAT_ICO))
        return 0;
    RxImage again;
    if (!again.Decode(buffer, DWORD(length), RXIMAGE_FORMAT_ICO) || again.GetWidth() != image.GetWidth() ||
        again.GetHeight() != image.GetHeight())
        std::abort();
    for (long y = 0; y < long(image.GetHeight()); ++y)
        for (long x = 0; x < long(image.GetWidth()); ++x) {
            const RGBQUAD a = image.GetPixelColor(x, y, false), b = again.GetPixelColor(x, y, false);
            if (a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue)
                std::abort();
        }
    std::free(buffer);
    return 0;
}
