// Targa files (image type 4): uncompressed and run-length, colour-mapped, true-colour and
// grey. Written uncompressed from 8-bit (colour-mapped) and 24- or 32-bit images. Targa
// has no signature, so the type-0 probe may take another format's file for one.
#pragma once

#include "imagelib/RxImage.h"

class RxImageTGA : public RxImage {
public:
    RxImageTGA() : RxImage(RXIMAGE_FORMAT_TGA) {}
    ~RxImageTGA() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);
};
