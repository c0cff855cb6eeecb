// Shared by the raster library's fuzz targets: the work per input stays bounded so that a run
// covers many inputs. Pictures above kRoundTripPixels are decoded but never encoded again;
// smaller ones go through an encode and a decode, compared colour by colour.
#pragma once

#include "imagelib/RxImage.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

constexpr uint64_t kRoundTripPixels = 512 * 512;

inline bool SmallEnough(const RxImage& image)
{
    return uint64_t(image.GetWidth()) * image.GetHeight() <= kRoundTripPixels;
}

// Same size and the same colours at every pixel, read row by row through the palette.
inline bool SameColours(const RxImage& a, const RxImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return false;
    for (long y = 0; y < long(a.GetHeight()); ++y)
        for (long x = 0; x < long(a.GetWidth()); ++x) {
            const RGBQUAD p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
            if (p.rgbRed != q.rgbRed || p.rgbGreen != q.rgbGreen || p.rgbBlue != q.rgbBlue)
                return false;
        }
    return true;
}

// Encodes image as type and decodes the result into again; false when the encoder refuses.
// A decode that fails on the library's own output aborts.
inline bool EncodeAndDecode(RxImage& image, DWORD type, RxImage& again)
{
    BYTE* buffer = nullptr;
    long length = 0;
    if (!image.Encode(buffer, length, type))
        return false;
    const bool decoded = again.Decode(buffer, DWORD(length), type);
    std::free(buffer);
    if (!decoded)
        std::abort();
    return true;
}

// Decodes untrusted bytes as `type`; false for pictures declaring more than 4096 x 4096
// pixels (skipped, to keep each run short) and for bytes the decoder refuses.
inline bool DecodeBounded(const uint8_t* data, size_t size, uint64_t declared, DWORD type,
                          RxImage& image)
{
    if (declared > 4096u * 4096u)
        return false;
    std::vector<BYTE> bytes(data, data + size);
    return image.Decode(bytes.data(), DWORD(bytes.size()), type);
}

// The common target: pictures declaring more than 4096 x 4096 pixels are skipped, the bytes
// are decoded as `type`, and a picture of at most kRoundTripPixels that the encoder accepts
// must decode again to the same colours.
inline int DecodeAndRoundTrip(const uint8_t* data, size_t size, uint64_t declared, DWORD type)
{
    RxImage image, again;
    if (!DecodeBounded(data, size, declared, type, image) || !SmallEnough(image) ||
        !EncodeAndDecode(image, type, again))
        return 0;
    if (!SameColours(image, again))
        std::abort();
    return 0;
}
