// The codec table behind RxImage::Encode and RxImage::Decode: one entry per image type 1
// to 7. An entry without a factory is a format not built in: Encode fails with
// "Encode: Unknown format" and the type-0 probe skips it.
#pragma once

#include "imagelib/RxImage.h"

struct RxCodecEntry {
    RxImage* (*create)();                        // a fresh codec object
    bool (*encode)(RxImage& codec, RxFile* file); // on an object borrowing the image
    bool (*decode)(RxImage& codec, RxFile* file); // on a fresh object
};

// The entry for a type, or an empty one outside 1 to 7.
RxCodecEntry RxCodecFor(DWORD type);

// Test hook: puts entry in the table for type (1 to 7) and returns the entry it replaced.
RxCodecEntry RxSwapCodecForTest(DWORD type, const RxCodecEntry& entry);
