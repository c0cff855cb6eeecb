// Buffers and random maps shared by the warp tests.
#pragma once

#include "image/WarpAffine.h"
#include "image/WarpVariants.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace warptest {

inline int SampleBytes(int format) { return (format >> 3) == 0 ? 1 : (format >> 3) == 1 ? 4 : 2; }
inline int Layout(int format) { return format & 7; }
inline bool Planar(int format) { return Layout(format) == 3 || Layout(format) == 5; }
inline int PlaneCount(int format) { return Layout(format) == 5 ? 4 : 3; }
// Samples per pixel in an interleaved buffer (1 per plane for planar layouts).
inline int Stride(int format)
{
    switch (Layout(format)) {
    case 1:
        return 3;
    case 2:
    case 4:
        return 4;
    default:
        return 1;
    }
}

// An image of one of the 18 formats: one byte block per plane (one block when interleaved),
// allocated to its exact size so the sanitizer sees any stray access.
struct Image {
    int format = 0;
    int width = 0;
    int height = 0;
    int step = 0;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<void*> pointers;

    Image(int fmt, int w, int h) : format(fmt), width(w), height(h)
    {
        step = w * Stride(fmt) * SampleBytes(fmt);
        const int count = Planar(fmt) ? PlaneCount(fmt) : 1;
        planes.assign(count, std::vector<uint8_t>(static_cast<size_t>(step) * h));
        for (auto& p : planes)
            pointers.push_back(p.data());
    }
    // What the warp takes: the origin, or the plane-pointer array.
    void* arg() { return Planar(format) ? static_cast<void*>(pointers.data()) : pointers[0]; }
    int channelsStored() const { return Planar(format) ? PlaneCount(format) : Stride(format); }

    // Sample value of channel c at (x, y), as a double.
    double get(int x, int y, int c) const
    {
        const uint8_t* base;
        size_t index;
        if (Planar(format)) {
            base = planes[c].data() + static_cast<size_t>(y) * step;
            index = x;
        } else {
            base = planes[0].data() + static_cast<size_t>(y) * step;
            index = static_cast<size_t>(x) * Stride(format) + c;
        }
        switch (format >> 3) {
        case 0:
            return base[index];
        case 1: {
            float f;
            std::memcpy(&f, base + index * 4, 4);
            return f;
        }
        default: {
            uint16_t v;
            std::memcpy(&v, base + index * 2, 2);
            return v;
        }
        }
    }
    void set(int x, int y, int c, double v)
    {
        uint8_t* base;
        size_t index;
        if (Planar(format)) {
            base = planes[c].data() + static_cast<size_t>(y) * step;
            index = x;
        } else {
            base = planes[0].data() + static_cast<size_t>(y) * step;
            index = static_cast<size_t>(x) * Stride(format) + c;
        }
        switch (format >> 3) {
        case 0:
            base[index] = static_cast<uint8_t>(v);
            break;
        case 1: {
            const float f = static_cast<float>(v);
            std::memcpy(base + index * 4, &f, 4);
            break;
        }
        default: {
            const uint16_t s = static_cast<uint16_t>(v);
            std::memcpy(base + index * 2, &s, 2);
            break;
        }
        }
    }
    void fillRandom(std::mt19937& rng, double maxValue)
    {
        std::uniform_real_distribution<double> d(0.0, maxValue);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channelsStored(); ++c)
                    set(x, y, c, (format >> 3) == 1 ? d(rng) : std::floor(d(rng)));
    }
    void fill(double v)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < channelsStored(); ++c)
                    set(x, y, c, v);
    }
};

typedef int (*WarpDriver)(const void*, int, int, int, int, int, int, int, void*, int, int, int, int, int, int,
                          const double*, int);
// The driver of each variant index.
const WarpDriver kWarpDrivers[warp_variant_count] = {warp_affine_generic, warp_affine_sse, warp_affine_sse2,
                                                     warp_affine_sse3, warp_affine_ssse3};

inline WarpDriver CurrentDriver()
{
    const int i = warp_variant_index();
    return kWarpDrivers[i >= 0 && i < warp_variant_count ? i : 0];
}

// Any format through the driver of the current variant index.
inline int Warp(Image& src, int sx, int sy, int sw, int sh, Image& dst, int dx, int dy, int dw, int dh,
                const double* c, int interp)
{
    return CurrentDriver()(src.arg(), src.width, src.height, src.step, sx, sy, sw, sh, dst.arg(), dst.step, dx, dy,
                           dw, dh, src.format, c, interp);
}

// Sets the variant index for a scope.
class ScopedWarpVariant {
public:
    explicit ScopedWarpVariant(int index) : saved_(warp_variant_index()) { warp_store_variant_index(index); }
    ~ScopedWarpVariant() { warp_store_variant_index(saved_); }
    ScopedWarpVariant(const ScopedWarpVariant&) = delete;
    ScopedWarpVariant& operator=(const ScopedWarpVariant&) = delete;

private:
    int saved_;
};

// Forward matrix: rotate by angle, scale each axis, shear, optional mirrors, translate.
inline void MakeMap(double angle, double scaleX, double scaleY, double shear, bool mirrorX, bool mirrorY,
                    double tx, double ty, double out[6])
{
    const double ca = std::cos(angle), sa = std::sin(angle);
    // A = R * [[sx, shear*sx],[0, sy]] with optional mirrors applied to the source axes.
    double m00 = scaleX * (mirrorX ? -1 : 1), m01 = shear * scaleY, m10 = 0.0, m11 = scaleY * (mirrorY ? -1 : 1);
    out[0] = ca * m00 - sa * m10;
    out[1] = ca * m01 - sa * m11;
    out[3] = sa * m00 + ca * m10;
    out[4] = sa * m01 + ca * m11;
    out[2] = tx;
    out[5] = ty;
}

} // namespace warptest
