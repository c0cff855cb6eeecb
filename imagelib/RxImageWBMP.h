// Wireless bitmaps (image type 6): 1-bit images after a small header whose width and
// height are multi-byte integers (7 bits a byte, most significant first). Untrusted input.
#pragma once

#include "imagelib/RxImage.h"

class RxImageWBMP : public RxImage {
public:
    RxImageWBMP() : RxImage(RXIMAGE_FORMAT_WBMP) {}
    ~RxImageWBMP() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);
};
