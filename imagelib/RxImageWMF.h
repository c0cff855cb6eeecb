// Metafiles (image type 7), read only: a placeable WMF or an enhanced metafile is played
// into a screen-compatible bitmap sized from its header and copied into the image.
// Decoder input is untrusted.
#pragma once

#include "imagelib/RxImage.h"

class RX_EXPORT RxImageWMF : public RxImage {
public:
    RxImageWMF() : RxImage(RXIMAGE_FORMAT_WMF) {}
    ~RxImageWMF() override { Destroy(); }

    // Non-zero maxima replace the picture's size (before the 4000-pixel limit).
    bool Decode(RxFile* file, long maxWidth = 0, long maxHeight = 0);
    bool Encode(RxFile* file);
};
