#include "image/ImageInterpolation.h"

#include "image/WarpAffine.h"
#include "platform/ModuleStartup.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<CImageInterpolation>& ResamplerSlot()
{
    static std::unique_ptr<CImageInterpolation> instance;
    return instance;
}

// Only torn down at unload: it needs no construction order, so it sits in slot 0.
const StartupRegistrar kResamplerRegistrar(
    0, 0, "image resampler",
    [] {
        if (!ResamplerSlot())
            ResamplerSlot().reset(new CImageInterpolation());
    },
    [] { ResamplerSlot().reset(); });

bool NearOne(double v) { return std::fabs(v - 1.0) < 1e-10; }

template <typename T>
void ResampleNearestT(const void* srcv, int srcRowLength, int srcHeight, int sl, int st, int sr, int sb, void* dstv,
                      int dstRowLength, int dstHeight, int dl, int dt, int dr, int db, int stride, bool grey)
{
    const int sw = sr - sl, sh = sb - st, dw = dr - dl, dh = db - dt;
    if (!srcv || !dstv || sw < 1 || sh < 1 || dw < 1 || dh < 1 || sl < 0 || st < 0 || dl < 0 || dt < 0 ||
        sr > srcRowLength || sb > srcHeight || dr > dstRowLength || db > dstHeight)
        return;
    // Colour copies three samples; the fourth is written only where a pixel has one.
    if (!grey && stride < 3)
        return;
    const ptrdiff_t pixelStep = grey ? 1 : stride;
    const ptrdiff_t srcRowStep = static_cast<ptrdiff_t>(srcRowLength) * pixelStep;
    const ptrdiff_t dstRowStep = static_cast<ptrdiff_t>(dstRowLength) * pixelStep;
    const double sx = static_cast<double>(dw) / sw;
    const double sy = static_cast<double>(dh) / sh;
    // The last source row and column are never read; a one-pixel extent reads its only one.
    const int rowLimit = std::max(sh - 2, 0);
    const int colLimit = std::max(sw - 2, 0);
    const T* src = static_cast<const T*>(srcv);
    T* dst = static_cast<T*>(dstv);
    for (int r = 0; r < dh; ++r) {
        const int srow = std::min(static_cast<int>(static_cast<float>(r) / static_cast<float>(sy)), rowLimit);
        const T* srcRow = src + (static_cast<ptrdiff_t>(srow) + st) * srcRowStep;
        T* dstRow = dst + (static_cast<ptrdiff_t>(r) + dt) * dstRowStep;
        for (int c = 0; c < dw; ++c) {
            const int scol = std::min(static_cast<int>(static_cast<float>(c) / static_cast<float>(sx)), colLimit);
            const T* s = srcRow + (static_cast<ptrdiff_t>(scol) + sl) * pixelStep;
            T* d = dstRow + (static_cast<ptrdiff_t>(c) + dl) * pixelStep;
            if (grey) {
                d[0] = s[0];
            } else {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                if (stride >= 4)
                    d[3] = 255;
            }
        }
    }
}

// A matrix that only shifts by whole pixels maps each source sample onto one destination
// pixel: the warp then fills exactly the shifted source rectangle (its last row and column
// included) clipped to the destination, with the samples themselves, whatever the
// interpolation; the fourth byte of four-byte colour is kept. Done here as a row copy;
// false leaves every other case, and every refusal, to the warp.
bool CopyShifted(const double* m, const void* src, int srcWidth, int srcHeight, int srcStep, int pixelBytes,
                 bool keepFourth, int sx, int sy, int sw, int sh, void* dst, int dstStep, int dx, int dy, int dw,
                 int dh)
{
    const double limit = 1 << 29;
    if (m[0] != 1.0 || m[1] != 0.0 || m[3] != 0.0 || m[4] != 1.0 || !(std::fabs(m[2]) < limit) ||
        !(std::fabs(m[5]) < limit) || m[2] != std::floor(m[2]) || m[5] != std::floor(m[5]))
        return false;
    if (!src || !dst || srcWidth < 1 || srcHeight < 1 || srcStep < 1 || dstStep < 1 || sx < 0 || sy < 0 ||
        sw < 1 || sh < 1 || dx < 0 || dy < 0 || dw < 1 || dh < 1 || sx >= srcWidth || sy >= srcHeight ||
        sw >= limit || sh >= limit || dx >= limit || dy >= limit || dw >= limit || dh >= limit)
        return false;
    const int64_t w = std::min(srcWidth - sx, sw), h = std::min(srcHeight - sy, sh);
    if (w < 2 || h < 2)
        return false;
    const int64_t tx = static_cast<int64_t>(m[2]), ty = static_cast<int64_t>(m[5]);
    const int64_t x0 = std::max<int64_t>(sx + tx, dx), x1 = std::min<int64_t>(sx + w - 1 + tx, int64_t(dx) + dw - 1);
    const int64_t y0 = std::max<int64_t>(sy + ty, dy), y1 = std::min<int64_t>(sy + h - 1 + ty, int64_t(dy) + dh - 1);
    if (x0 > x1 || y0 > y1)
        return false;
    const size_t count = static_cast<size_t>(x1 - x0 + 1);
    for (int64_t y = y0; y <= y1; ++y) {
        const uint8_t* in = static_cast<const uint8_t*>(src) + (y - ty) * srcStep + (x0 - tx) * pixelBytes;
        uint8_t* out = static_cast<uint8_t*>(dst) + y * dstStep + x0 * pixelBytes;
        if (!keepFourth) {
            std::memcpy(out, in, count * static_cast<size_t>(pixelBytes));
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            uint32_t a, b;
            std::memcpy(&a, in + i * 4, 4);
            std::memcpy(&b, out + i * 4, 4);
            const uint32_t pixel = (a & 0x00FFFFFFu) | (b & 0xFF000000u);
            std::memcpy(out + i * 4, &pixel, 4);
        }
    }
    return true;
}

} // namespace

CImageInterpolation& ImageResampler()
{
    if (!ResamplerSlot())
        ResamplerSlot().reset(new CImageInterpolation());
    return *ResamplerSlot();
}

int CImageInterpolation::Warp(const double* matrix, int mode, const void* src, int srcWidth, int srcHeight,
                              int bytesPerPixel, int channels, int srcLeft, int srcTop, int srcRight,
                              int srcBottom, void* dst, int dstWidth, int dstHeight, int dstLeft, int dstTop,
                              int dstRight, int dstBottom)
{
    srcPixels_ = src;
    dstPixels_ = dst;
    bytesPerPixel_ = bytesPerPixel;
    channels_ = channels;
    srcWidth_ = srcWidth;
    srcHeight_ = srcHeight;
    srcRect_[0] = srcLeft;
    srcRect_[1] = srcTop;
    srcRect_[2] = static_cast<int>(std::max<int64_t>(std::min<int64_t>(int64_t(srcRight) - srcLeft, INT_MAX), INT_MIN));
    srcRect_[3] = static_cast<int>(std::max<int64_t>(std::min<int64_t>(int64_t(srcBottom) - srcTop, INT_MAX), INT_MIN));
    // Only pixels inside the destination buffer may be written.
    const int64_t l = std::max<int64_t>(dstLeft, 0);
    const int64_t t = std::max<int64_t>(dstTop, 0);
    const int64_t r = std::min<int64_t>(dstRight, dstWidth);
    const int64_t b = std::min<int64_t>(dstBottom, dstHeight);
    dstRect_[0] = static_cast<int>(l);
    dstRect_[1] = static_cast<int>(t);
    dstRect_[2] = static_cast<int>(std::max<int64_t>(r - l, 0));
    dstRect_[3] = static_cast<int>(std::max<int64_t>(b - t, 0));
    dstWidth_ = dstWidth;
    dstHeight_ = dstHeight;
    for (int i = 0; i < 6; ++i)
        matrix_[i] = matrix ? matrix[i] : 0.0;
    status_ = 1;
    if (!matrix)
        return status_;

    if (NearOne(matrix_[0]) || NearOne(matrix_[1]) || NearOne(matrix_[3]) || NearOne(matrix_[4]))
        mode = 0;
    if (mode < 0 || mode > 2 || (channels != 1 && channels != 3 && channels != 4))
        return status_;
    if (dstRect_[2] < 1 || dstRect_[3] < 1) {
        status_ = warp_nothing_to_do;
        return status_;
    }
    switch (mode) {
    case 0:
        return WarpNearest();
    case 1:
        return WarpLinear();
    default:
        return WarpCubic();
    }
}

int CImageInterpolation::WarpNearest() { return Run(1); }
int CImageInterpolation::WarpLinear() { return Run(2); }
int CImageInterpolation::WarpCubic() { return Run(4); }

int CImageInterpolation::Run(int interpolation)
{
    warp_entry entry = nullptr;
    if (channels_ == 4)
        entry = warp_affine_rgbx8;
    else if (channels_ == 3)
        entry = warp_affine_rgb8;
    else if (channels_ == 1)
        entry = bytesPerPixel_ == 2 ? warp_affine_gray16 : warp_affine_gray8;
    if (!entry)
        return status_;
    const int64_t srcStep = int64_t(srcWidth_) * bytesPerPixel_;
    const int64_t dstStep = int64_t(dstWidth_) * bytesPerPixel_;
    if (srcStep > INT_MAX || dstStep > INT_MAX) {
        status_ = warp_bad_size;
        return status_;
    }
    const int pixelBytes = channels_ == 4 ? 4 : channels_ == 3 ? 3 : bytesPerPixel_ == 2 ? 2 : 1;
    if (CopyShifted(matrix_, srcPixels_, srcWidth_, srcHeight_, static_cast<int>(srcStep), pixelBytes, channels_ == 4,
                    srcRect_[0], srcRect_[1], srcRect_[2], srcRect_[3], dstPixels_, static_cast<int>(dstStep),
                    dstRect_[0], dstRect_[1], dstRect_[2], dstRect_[3])) {
        status_ = warp_ok;
        return status_;
    }
    status_ = entry(srcPixels_, srcWidth_, srcHeight_, static_cast<int>(srcStep), srcRect_[0], srcRect_[1],
                    srcRect_[2], srcRect_[3], dstPixels_, static_cast<int>(dstStep), dstRect_[0], dstRect_[1],
                    dstRect_[2], dstRect_[3], matrix_, interpolation);
    return status_;
}

void CImageInterpolation::ResampleNearest(int sampleSize, const void* src, int srcRowLength, int srcHeight,
                                          int srcLeft, int srcTop, int srcRight, int srcBottom, void* dst,
                                          int dstRowLength, int dstHeight, int dstLeft, int dstTop, int dstRight,
                                          int dstBottom, int stride, bool grey)
{
    if (sampleSize == 1 || sampleSize == 4)
        ResampleNearest8(src, srcRowLength, srcHeight, srcLeft, srcTop, srcRight, srcBottom, dst, dstRowLength,
                         dstHeight, dstLeft, dstTop, dstRight, dstBottom, stride, grey);
    else if (sampleSize == 2)
        ResampleNearest16(src, srcRowLength, srcHeight, srcLeft, srcTop, srcRight, srcBottom, dst, dstRowLength,
                          dstHeight, dstLeft, dstTop, dstRight, dstBottom, stride, grey);
}

void CImageInterpolation::ResampleNearest8(const void* src, int srcRowLength, int srcHeight, int srcLeft,
                                           int srcTop, int srcRight, int srcBottom, void* dst, int dstRowLength,
                                           int dstHeight, int dstLeft, int dstTop, int dstRight, int dstBottom,
                                           int stride, bool grey)
{
    ResampleNearestT<uint8_t>(src, srcRowLength, srcHeight, srcLeft, srcTop, srcRight, srcBottom, dst,
                              dstRowLength, dstHeight, dstLeft, dstTop, dstRight, dstBottom, stride, grey);
}

void CImageInterpolation::ResampleNearest16(const void* src, int srcRowLength, int srcHeight, int srcLeft,
                                            int srcTop, int srcRight, int srcBottom, void* dst, int dstRowLength,
                                            int dstHeight, int dstLeft, int dstTop, int dstRight, int dstBottom,
                                            int stride, bool grey)
{
    ResampleNearestT<uint16_t>(src, srcRowLength, srcHeight, srcLeft, srcTop, srcRight, srcBottom, dst,
                               dstRowLength, dstHeight, dstLeft, dstTop, dstRight, dstBottom, stride, grey);
}
