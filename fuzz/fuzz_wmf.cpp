// Metafile decoding of untrusted bytes into pictures of 16 x 16 pixels: a placeable WMF or an
// EMF is parsed and played; nothing may read outside the input or leak objects. Every pixel a
// wide pen or a fill reaches inside the picture is gathered and sorted: at 64 x 64 that took
// seconds per input under the sanitizer.
#include "imagelib/RxImageWMF.h"
#include "imagelib/RxMemFile.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes(data, data + size);
    const int live = platform::LiveGdiObjects();
    {
        RxMemFile file(bytes.data(), DWORD(bytes.size()));
        RxImageWMF image;
        if (image.Decode(&file, 16, 16) && (image.GetWidth() != 16 || image.GetHeight() != 16))
            std::abort();
    }
    if (platform::LiveGdiObjects() != live)
        std::abort();
    return 0;
}
