// PCX files with run-length coding (image type 5): 1-bit, 4-bit (packed or four bit
// planes), 8-bit with the palette after the data, 24-bit as three 8-bit planes (four with
// alpha). Decoder input is untrusted.
#pragma once

#include "imagelib/RxImage.h"

class RxImagePCX : public RxImage {
public:
    RxImagePCX() : RxImage(RXIMAGE_FORMAT_PCX) {}
    ~RxImagePCX() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);
};
