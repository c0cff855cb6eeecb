// Seeded random pictures of every depth for round trips and oracle comparisons.
#pragma once

#include "imagelib/RxImage.h"

#include <random>

namespace rxtest {

// Palette images get a grey ramp or random colours; 24-bit images random bytes.
inline void FillRandom(RxImage& image, unsigned seed, bool greyPalette)
{
    std::mt19937 rng(seed);
    auto byte = [&] { return BYTE(rng() & 0xFF); };
    if (image.IsIndexed()) {
        if (greyPalette)
            image.SetGrayPalette();
        else
            for (DWORD i = 0; i < image.GetPaletteSize() / 4; ++i)
                image.SetPaletteColor(BYTE(i), byte(), byte(), byte());
    }
    const DWORD colours = image.IsIndexed() ? image.GetPaletteSize() / 4 : 0;
    for (long y = 0; y < long(image.GetHeight()); ++y)
        for (long x = 0; x < long(image.GetWidth()); ++x)
            if (colours)
                image.SetPixelIndex(x, y, BYTE(rng() % colours));
            else
                image.SetPixelColor(x, y, RGBQUAD{byte(), byte(), byte(), 0});
}

} // namespace rxtest
