// PCX decoding of untrusted bytes: headers declaring more than 4096 x 4096 pixels are
// skipped; a decoded image of at most kRoundTripPixels that the encoder accepts must decode
// again to the same colours
// (1-bit images: to black and white in the same order of brightness).
#include "fuzz/fuzz_raster.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

uint64_t Declared(const uint8_t* d, size_t n)
{
    if (n < 12)
        return 0;
    const long w = long(d[8] | d[9] << 8) - long(d[4] | d[5] << 8) + 1;
    const long h = long(d[10] | d[11] << 8) - long(d[6] | d[7] << 8) + 1;
    return w > 0 && h > 0 ? uint64_t(w) * uint64_t(h) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    RxImage image, again;
    if (!DecodeBounded(data, size, Declared(data, size), RXIMAGE_FORMAT_PCX, image) ||
        !SmallEnough(image) || !EncodeAndDecode(image, RXIMAGE_FORMAT_PCX, again))
        return 0;
    if (again.GetWidth() != image.GetWidth() || again.GetHeight() != image.GetHeight())
        std::abort();
    // 1-bit PCX is black and white: the brighter entry comes back white, the other black.
    auto luma = [&](int i) {
        const RGBQUAD c = image.GetPaletteColor(BYTE(i));
        return (601 * c.rgbGreen + 306 * c.rgbRed + 117 * c.rgbBlue) >> 10;
    };
    const bool mono = image.GetBpp() == 1, invert = mono && luma(0) > luma(1);
    for (long y = 0; y < long(image.GetHeight()); ++y)
        for (long x = 0; x < long(image.GetWidth()); ++x) {
            if (mono) {
                if (again.GetPixelIndex(x, y) != (invert ? 1 - image.GetPixelIndex(x, y) : image.GetPixelIndex(x, y)))
                    std::abort();
                continue;
            }
            const RGBQUAD a = image.GetPixelColor(x, y, false), b = again.GetPixelColor(x, y, false);
            if (a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue)
                std::abort();
        }
    return 0;
}
