// Reaches what the library keeps private, for tests only.
#pragma once

#include "imagelib/RxImage.h"
#include "imagelib/RxMemFile.h"

struct RxTestAccess {
    // The library has no selection editor yet; tests plant a mask directly.
    static BYTE*& Selection(RxImage& image) { return image.pSelection; }
    // Settings without a public setter (alpha max, enabled flag, progress).
    static RxImage::Info& Settings(RxImage& image) { return image.info; }
};
