// BMP decoding of untrusted bytes: the dimensions first (huge pictures are skipped), then a
// decode as BMP, or through the type-0 probe when that fails (the probe tries BMP first);
// a decoded image of at most kRoundTripPixels must encode and decode again to the same
// pixels. Small ones are also turned and drawn scaled and smoothed.
#include "fuzz/fuzz_raster.h"
#include "platform/Gdi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool SamePixels(const RxImage& a, const RxImage& b)
{
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp() ||
        a.GetPaletteSize() != b.GetPaletteSize())
        return false;
    if (a.GetPaletteSize() && std::memcmp(a.GetPalette(), b.GetPalette(), a.GetPaletteSize()) != 0)
        return false;
    return std::memcmp(a.GetBits(), b.GetBits(), size_t(a.GetEffWidth()) * a.GetHeight()) == 0;
}

void RoundTrip(RxImage& image)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.Encode(buffer, size, RXIMAGE_FORMAT_BMP))
        std::abort();
    RxImage again;
    if (!again.Decode(buffer, DWORD(size), RXIMAGE_FORMAT_BMP) || !SamePixels(image, again))
        std::abort();
    std::free(buffer);
}

void TurnAndDraw(RxImage& image)
{
    static HDC dc = [] {
        HDC memory = CreateCompatibleDC(nullptr);
        SelectObject(memory, CreateCompatibleBitmap(memory, 64, 64));
        return memory;
    }();
    if (image.GetWidth() > 256 || image.GetHeight() > 256)
        return;
    for (float angle : {90.0f, -37.5f}) {
        RxImage turned;
        if (!image.Rotate(angle, &turned) || !turned.IsValid())
            std::abort();
    }
    RECT clip{3, 5, 60, 61};
    image.Draw(dc, -7, 2, 70, 45, &clip, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<BYTE> bytes(data, data + size);
    RxImage probe;
    probe.SetEscape(-1);
    if (probe.Decode(bytes.data(), DWORD(bytes.size()), RXIMAGE_FORMAT_BMP) &&
        uint64_t(probe.GetWidth()) * probe.GetHeight() > 4096u * 4096u)
        return 0;
    for (DWORD type : {DWORD(RXIMAGE_FORMAT_BMP), DWORD(RXIMAGE_FORMAT_UNKNOWN)}) {
        RxImage image;
        if (!image.Decode(bytes.data(), DWORD(bytes.size()), type))
            continue;
        if (SmallEnough(image))
            RoundTrip(image);
        TurnAndDraw(image);
        break;
    }
    return 0;
}
