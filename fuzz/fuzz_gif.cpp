// GIF decoding of untrusted bytes: the screen size first (huge screens are skipped), then
// frame 0 and the last frame; every decoded image must encode with each code writer and
// decode again to the same colours.
#include "imagelib/RxImage.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void RoundTrip(RxImage& image)
{
    for (DWORD option = 0; option < 3; ++option) {
        image.SetCodecOption(option, RXIMAGE_FORMAT_GIF);
        BYTE* buffer = nullptr;
        long size = 0;
        if (!image.Encode(buffer, size, RXIMAGE_FORMAT_GIF))
            std::abort();
        RxImage again;
        if (!again.Decode(buffer, DWORD(size), RXIMAGE_FORMAT_GIF) || again.GetWidth() != image.GetWidth() ||
            again.GetHeight() != image.GetHeight())
            std::abort();
        for (long y = 0; y < long(image.GetHeight()); ++y)
            for (long x = 0; x < long(image.GetWidth()); ++x) {
                const RGBQUAD a = image.GetPixelColor(x, y, false), b = again.GetPixelColor(x, y, false);
                if (a.rgbRed != b.rgbRed || a.rgbGreen != b.rgbGreen || a.rgbBlue != b.rgbBlue)
                    std::abort();
            }
        std::free(buffer);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes(data, data + size);
    RxImage probe;
    probe.SetEscape(-1);
    if (!probe.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF) ||
        uint64_t(probe.GetWidth()) * probe.GetHeight() > 4096u * 4096u)
        return 0;
    RxImage first;
    if (!first.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF))
        return 0;
    RoundTrip(first);
    if (first.GetNumFrames() > 1) {
        RxImage last;
        last.SetFrame(first.GetNumFrames() - 1);
        if (last.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_GIF))
            RoundTrip(last);
    }
    return 0;
}
