// Icon and cursor files (image type 3): one image read out of a file, single-image icons
// written; the AND mask becomes the library's transparency (background index, transparent
// colour or alpha plane) and back. Decoder input is untrusted.
#pragma once

#include "imagelib/RxImage.h"

class RxImageICO : public RxImage {
public:
    RxImageICO() : RxImage(RXIMAGE_FORMAT_ICO) {}
    ~RxImageICO() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);

private:
    const char* DecodeEntry(RxFile* file);
    void ApplyMask(const BYTE* mask, size_t rowBytes, int fileBits);
    int BackgroundIndex(const BYTE* mask, size_t rowBytes) const;
};
