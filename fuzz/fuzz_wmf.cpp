// Metafile decoding of untrusted bytes into pictures of 16 x 16 pixels: a placeable WMF or an
// EMF is parsed and every record played (mapping, paths, clipping, regions, text, bitmaps);
// nothing may read outside the input or leak objects. The picture stays small so that each
// input plays quickly under the sanitizers; the records' checks do not depend on its size.
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
