// A grid cell as the grid drives it: view rectangle, region request, a stand-in decoder
// writing level samples into the pixel buffer, region reports, and drawing into a memory
// bitmap one pixel smaller than the inclusive view.
#pragma once

#include "image/ImageBase.h"
#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace render_test {

// Raw bits of the sample at full-resolution (x, y): 8 or 16 bits, or colour as 0xXXRRGGBB.
using SampleFn = std::function<uint32_t(int x, int y)>;

struct Cell {
    Cell(int w, int h) : vw(w), vh(h), dc(CreateCompatibleDC(nullptr)), bitmap(NewBitmap(32))
    {
        old = SelectObject(dc, bitmap);
    }
    ~Cell()
    {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HBITMAP NewBitmap(int bits) const
    {
        if (bits == 32)
            return CreateCompatibleBitmap(dc, vw - 1, vh - 1);
        BITMAPINFO info = {{40, vw - 1, -(vh - 1), 1, static_cast<WORD>(bits), 0, 0, 0, 0, 0, 0}, {}};
        void* storage = nullptr;
        return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &storage, nullptr, 0);
    }
    void Init(int w, int h, int levels, int bits, bool grey, bool isSigned, SampleFn fn)
    {
        sample = std::move(fn);
        image.GetPhotometricInterpretation().pixelRepresentation = isSigned;
        image.InitImage(h, w, levels, bits, grey, isSigned);
    }
    void SetView(bool render) { image.SetViewRect(0, 0, vh - 1, vw - 1, nullptr, render); }
    // Decodes what the image asks for and reports it as the grid does.
    void Decode()
    {
        int32_t p[7], c[7];
        image.GetPendingRegion(p);
        size_t size = 0;
        uint8_t* buffer = image.GetPixelBuffer(size);
        const size_t lw = p[kRegionWidth], pixels = lw * p[kRegionHeight];
        if (p[2] > p[0] && p[3] > p[1] && buffer && pixels > 0) {
            for (int y = p[1]; y < p[3]; ++y)
                for (int x = p[0]; x < p[2]; ++x) {
                    const uint32_t v = sample(x << p[kRegionLevel], y << p[kRegionLevel]);
                    std::memcpy(buffer + (y * lw + x) * (size / pixels), &v, size / pixels);
                }
            image.AdoptDecodedSamples(p[0], p[1], p[2], p[3]);
            image.SetDecodedRegion(p[0], p[1], p[2], p[3], p[kRegionLevel], true);
        }
        sourceAfterFill.assign(buffer, buffer + size);
        image.GetTransformRegion(c);
        if (c[2] > c[0] && c[3] > c[1])
            image.OnRegionDecoded(c[0], c[1], c[2], c[3]);
    }
    void Draw(HBITMAP target = nullptr)
    {
        HGDIOBJ before = target ? SelectObject(dc, target) : nullptr;
        image.DrawToBitmap(dc, target ? target : bitmap, true, 0, 0, vw - 1, vh - 1);
        if (target)
            SelectObject(dc, before);
    }
    void Render()
    {
        SetView(true);
        Decode();
        Draw();
    }
    // B, G, R, 0 per pixel, top-down.
    std::vector<uint8_t> Pixels(HBITMAP b = nullptr) const { return platform::BitmapPixels(b ? b : bitmap, nullptr, nullptr); }
    int Grey(const std::vector<uint8_t>& pixels, int x, int y) const { return pixels[(size_t(y) * (vw - 1) + x) * 4 + 1]; }
    uint16_t Sample16(int x, int y) const
    {
        uint16_t v;
        std::memcpy(&v, image.ViewSamples().data() + (size_t(y) * vw + x) * 2, 2);
        return v;
    }
    RECT Dest() { return image.Transform().destRect; }

    CImageBase image;
    int vw, vh;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old = nullptr;
    SampleFn sample;
    std::vector<uint8_t> sourceAfterFill;
};

// Deterministic noise in [lo, hi].
inline uint32_t Noise(uint32_t seed, int x, int y, int64_t lo, int64_t hi)
{
    uint32_t h = seed * 0x9E3779B1u ^ uint32_t(x) * 0x85EBCA77u ^ uint32_t(y) * 0xC2B2AE3Du;
    h = (h ^ h >> 15) * 0x2C1B3C6Du;
    h = (h ^ h >> 12) * 0x297A2D39u;
    return uint32_t(lo + int64_t((h ^ h >> 15) % uint32_t(hi - lo + 1)));
}

} // namespace render_test
