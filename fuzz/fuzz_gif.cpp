// GIF decoding of untrusted bytes: the screen size first (screens above kGifScreenPixels are
// skipped: composing frames on them, pixel by pixel, takes seconds under the sanitizer), then
// frame 0 and the last frame; a decoded image of at most kGifRoundTripPixels must encode with
// one code writer, picked by the input's length, and decode again to the same colours.
#include "fuzz/fuzz_raster.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// Reading the library's own output back, a code at a time, costs most of a round trip: at
// 128 x 128 every code writer still fills its table and clears it, and a run keeps its pace.
constexpr uint64_t kGifRoundTripPixels = 128 * 128, kGifScreenPixels = 256 * 256;

void RoundTrip(RxImage& image, DWORD option)
{
    if (uint64_t(image.GetWidth()) * image.GetHeight() > kGifRoundTripPixels)
        return;
    image.SetCodecOption(option, RXIMAGE_FORMAT_GIF);
    RxImage again;
    if (!EncodeAndDecode(image, RXIMAGE_FORMAT_GIF, again))
        std::abort();
    if (!SameColours(image, again))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes(data, data + size);
    RxImage probe;
    probe.SetEscape(-1);
    if (!probe.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF) ||
        uint64_t(probe.GetWidth()) * probe.GetHeight() > kGifScreenPixels)
        return 0;
    RxImage first;
    if (!first.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF))
        return 0;
    const DWORD option = DWORD(size % 3);
    RoundTrip(first, option);
    if (first.GetNumFrames() > 1) {
        RxImage last;
        last.SetFrame(first.GetNumFrames() - 1);
        if (last.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF))
            RoundTrip(last, option);
    }
    return 0;
}
