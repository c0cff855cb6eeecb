// A grid cell as the grid drives it: view rectangle, region request, a stand-in decoder that
// writes level samples into the pixel buffer, decoded-region reports and drawing into a
// memory bitmap one pixel smaller than the inclusive view.
#pragma once

#include "image/ImageBase.h"
#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace render_test {

// Raw bits of the stored sample at full-resolution (x, y): 8-bit, 16-bit (signed as its
// two's complement), or colour packed as 0xXXRRGGBB.
using SampleFn = std::function<uint32_t(int x, int y)>;

class Cell {
public:
    Cell(int viewWidth, int viewHeight) : vw_(viewWidth), vh_(viewHeight)
    {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = NewBitmap(32);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Cell()
    {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Cell(const Cell&) = delete;
    Cell& operator=(const Cell&) = delete;

    // A bitmap of the cell's size as the grid makes it: (right - left) x (bottom - top).
    HBITMAP NewBitmap(int bits) const
    {
        if (bits == 32)
            return CreateCompatibleBitmap(dc_, vw_ - 1, vh_ - 1);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = 40;
        info.bmiHeader.biWidth = vw_ - 1;
        info.bmiHeader.biHeight = -(vh_ - 1);
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(bits);
        void* storage = nullptr;
        return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &storage, nullptr, 0);
    }

    void Init(int width, int height, int levels, int bits, bool grey, bool isSigned, SampleFn sample)
    {
        sample_ = std::move(sample);
        image.GetPhotometricInterpretation().pixelRepresentation = isSigned ? 1 : 0;
        image.InitImage(height, width, levels, bits, grey, isSigned);
    }
    void SetSample(SampleFn sample) { sample_ = std::move(sample); }

    void SetView(bool render) { image.SetViewRect(0, 0, vh_ - 1, vw_ - 1, nullptr, render); }

    // Decodes what the image asks for and reports it as the grid does.
    void Decode()
    {
        int32_t p[7];
        image.GetPendingRegion(p);
        size_t size = 0;
        uint8_t* buffer = image.GetPixelBuffer(size);
        const int lw = p[kRegionWidth], lh = p[kRegionHeight], level = p[kRegionLevel];
        const size_t pixels = static_cast<size_t>(lw) * static_cast<size_t>(lh);
        if (p[kRegionRight] > p[kRegionLeft] && p[kRegionBottom] > p[kRegionTop] && buffer && pixels > 0) {
            ASSERT_EQ(0u, size % pixels);
            const size_t bpp = size / pixels;
            for (int y = p[kRegionTop]; y < p[kRegionBottom]; ++y)
                for (int x = p[kRegionLeft]; x < p[kRegionRight]; ++x) {
                    const uint32_t v = sample_(x << level, y << level);
                    std::memcpy(buffer + (static_cast<size_t>(y) * lw + x) * bpp, &v, bpp);
                }
            image.SetDecodedRegion(p[0], p[1], p[2], p[3], level, true);
        }
        sourceAfterFill.assign(buffer, buffer + size);
        int32_t c[7];
        image.GetTransformRegion(c);
        if (c[kRegionRight] > c[kRegionLeft] && c[kRegionBottom] > c[kRegionTop])
            image.OnRegionDecoded(c[0], c[1], c[2], c[3]);
    }

    void Draw(HBITMAP target = nullptr)
    {
        HBITMAP b = target ? target : bitmap_;
        HGDIOBJ old = target ? SelectObject(dc_, b) : nullptr;
        image.DrawToBitmap(dc_, b, true, 0, 0, vw_ - 1, vh_ - 1);
        if (target)
            SelectObject(dc_, old);
    }

    void Render()
    {
        SetView(true);
        Decode();
        Draw();
    }

    // B, G, R, 0 per pixel, top-down, (vw - 1) x (vh - 1).
    std::vector<uint8_t> Pixels(HBITMAP b = nullptr) const
    {
        return platform::BitmapPixels(b ? b : bitmap_, nullptr, nullptr);
    }

    template <typename T>
    T ViewSample(int x, int y) const
    {
        T v;
        std::memcpy(&v, image.ViewSamples().data() + (static_cast<size_t>(y) * vw_ + x) * sizeof(T), sizeof(T));
        return v;
    }

    RECT Dest() { return image.Transform().destRect; }

    CImageBase image;
    std::vector<uint8_t> sourceAfterFill;
    int vw_, vh_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;

private:
    HGDIOBJ old_ = nullptr;
    SampleFn sample_;
};

// Deterministic noise in [lo, hi].
inline uint32_t Noise(uint32_t seed, int x, int y, int64_t lo, int64_t hi)
{
    uint32_t h = seed * 0x9E3779B1u ^ static_cast<uint32_t>(x) * 0x85EBCA77u ^ static_cast<uint32_t>(y) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return static_cast<uint32_t>(lo + static_cast<int64_t>(h % static_cast<uint32_t>(hi - lo + 1)));
}

} // namespace render_test
