// Display-state text from the page: each input is applied to a rendered image; the text the
// image then writes must be accepted when applied again and written back unchanged.
#include "image/ImageBase.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CImageBase image;
    image.InitImage(48, 64, 1, 12, true, size % 2 != 0);
    image.SetViewRect(0, 0, 48, 64, nullptr, true);
    int32_t region[7];
    image.GetPendingRegion(region);
    size_t bytes = 0;
    uint8_t* pixels = image.GetPixelBuffer(bytes);
    for (size_t i = 0; i < bytes; ++i)
        pixels[i] = static_cast<uint8_t>(i * 7);
    image.SetDecodedRegion(region[0], region[1], region[2], region[3], region[6], true);
    image.OnRegionDecoded(region[0], region[1], region[2], region[3]);

    image.SetDisplayStateText(std::string(reinterpret_cast<const char*>(data), size));
    std::string written, again;
    image.GetDisplayStateText(written);
    image.SetDisplayStateText(written);
    image.GetDisplayStateText(again);
    if (again != written)
        std::abort();
    return 0;
}
