// Metafile decoding of untrusted bytes into pictures of at most 64 x 64 pixels: a placeable
// WMF or an EMF is parsed and played; nothing may read outside the input or leak objects.
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
        if (image.Decode(&file, 64, 64) && (image.GetWidth() != 64 || image.GetHeight() != 64))
            std::abort();
    }
    if (platform::LiveGdiObjects() != live)
        std::abort();
    return 0;
}
