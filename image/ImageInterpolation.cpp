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
// interpolation; the fourth byte of four-byte colour is kept. The rectangle is worked out
// here and copied row by row (CopyShifted); false leaves every other case, and every
// refusal, to the warp.
struct ShiftedArea {
    int64_t x0, y0, x1, y1; // destination, inclusive
    int64_t tx, ty;         // the shift
};

bool FindShiftedArea(const double* m, const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy,
                     int sw, int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, ShiftedArea& a)
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
    a.tx = static_cast<int64_t>(m[2]);
    a.ty = static_cast<int64_t>(m[5]);
    a.x0 = std::max<int64_t>(sx + a.tx, dx);
    a.x1 = std::min<int64_t>(sx + w - 1 + a.tx, int64_t(dx) + dw - 1);
    a.y0 = std::max<int64_t>(sy + a.ty, dy);
    a.y1 = std::min<int64_t>(sy + h - 1 + a.ty, int64_t(dy) + dh - 1);
    return a.x0 <= a.x1 && a.y0 <= a.y1;
}

void CopyShifted(const ShiftedArea& a, const void* src, int srcStep, int pixelBytes, bool keepFourth, void* dst,
                 int dstStep)
{
    const size_t count = static_cast<size_t>(a.x1 - a.x0 + 1);
    for (int64_t y = a.y0; y <= a.y1; ++y) {
        const uint8_t* in = static_cast<const uint8_t*>(src) + (y - a.ty) * srcStep + (a.x0 - a.tx) * pixelBytes;
        uint8_t* out = static_cast<uint8_t*>(dst) + y * dstStep + a.x0 * pixelBytes;
        if (!keepFourth) {
            std::memcpy(out, in, count * static_cast<size_t>(pixelBytes));
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            uint32_t p, q;
            std::memcpy(&p, in + i * 4, 4);
            std::memcpy(&q, out + i * 4, 4);
            const uint32_t pixel = (p & 0x00FFFFFFu) | (q & 0xFF000000u);
            std::memcpy(out + i * 4, &pixel, 4);
        }
    }
}

bool SpanOf(const warp_span_table& t, int y, int64_t& first, int64_t& last)
{
    if (!t.spans || y < t.firstRow || y > t.lastRow)
        return false;
    first = t.spans[2 * (y - t.firstRow)];
    last = t.spans[2 * (y - t.firstRow) + 1];
    return true;
}

// Zeroes the pixels of rows 0 .. height - 1 outside each row's span; span(y, first, last)
// gives a row's inclusive columns, false (or first > last) for a row with none.
template <class Span>
void ZeroOutsideSpans(void* buffer, size_t rowBytes, int width, int height, size_t pixelBytes, Span span)
{
    uint8_t* base = static_cast<uint8_t*>(buffer);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = base + static_cast<size_t>(y) * rowBytes;
        int64_t first = 0, last = -1;
        if (!span(y, first, last) || first > last || first < 0 || last >= width) {
            std::memset(row, 0, rowBytes);
            continue;
        }
        std::memset(row, 0, static_cast<size_t>(first) * pixelBytes);
        const size_t end = static_cast<size_t>(last + 1) * pixelBytes;
        std::memset(row + end, 0, rowBytes - end);
    }
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
                              int dstRight, int dstBottom, bool zeroRest)
{
    zeroRest_ = zeroRest;
    Start(matrix, mode, src, srcWidth, srcHeight, bytesPerPixel, channels, srcLeft, srcTop, srcRight, srcBottom, dst,
          dstWidth, dstHeight, dstLeft, dstTop, dstRight, dstBottom);
    // Whatever wrote nothing leaves the destination to be zeroed whole.
    if (zeroRest_)
        ZeroDestination();
    return status_;
}

void CImageInterpolation::Start(const double* matrix, int mode, const void* src, int srcWidth, int srcHeight,
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
        return;

    if (NearOne(matrix_[0]) || NearOne(matrix_[1]) || NearOne(matrix_[3]) || NearOne(matrix_[4]))
        mode = 0;
    if (mode < 0 || mode > 2 || (channels != 1 && channels != 3 && channels != 4))
        return;
    if (dstRect_[2] < 1 || dstRect_[3] < 1) {
        status_ = warp_nothing_to_do;
        return;
    }
    switch (mode) {
    case 0:
        WarpNearest();
        break;
    case 1:
        WarpLinear();
        break;
    default:
        WarpCubic();
        break;
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
    // Four-byte colour keeps each written pixel's fourth byte, which must be zero too; rows
    // are zeroed around the spans only where the warp's pixels are the buffer's.
    const bool zeroSpans = zeroRest_ && channels_ != 4 && dstPixels_ && pixelBytes == bytesPerPixel_;
    if (zeroRest_ && !zeroSpans)
        ZeroDestination();
    ShiftedArea a;
    if (FindShiftedArea(matrix_, srcPixels_, srcWidth_, srcHeight_, static_cast<int>(srcStep), srcRect_[0],
                        srcRect_[1], srcRect_[2], srcRect_[3], dstPixels_, static_cast<int>(dstStep), dstRect_[0],
                        dstRect_[1], dstRect_[2], dstRect_[3], a)) {
        if (zeroSpans)
            ZeroOutsideSpans(dstPixels_, static_cast<size_t>(dstStep), dstWidth_, dstHeight_, pixelBytes,
                             [&](int y, int64_t& first, int64_t& last) {
                                 first = a.x0;
                                 last = a.x1;
                                 return y >= a.y0 && y <= a.y1;
                             });
        zeroRest_ = false;
        CopyShifted(a, srcPixels_, static_cast<int>(srcStep), pixelBytes, channels_ == 4, dstPixels_,
                    static_cast<int>(dstStep));
        status_ = warp_ok;
        return status_;
    }
    warp_span_table spans;
    if (zeroSpans) {
        if (warp_affine_spans(srcWidth_, srcHeight_, srcRect_[0], srcRect_[1], srcRect_[2], srcRect_[3], dstRect_[0],
                              dstRect_[1], dstRect_[2], dstRect_[3], matrix_, spans) != warp_ok)
            spans.lastRow = spans.firstRow - 1;
        ZeroOutsideSpans(dstPixels_, static_cast<size_t>(dstStep), dstWidth_, dstHeight_, pixelBytes,
                         [&](int y, int64_t& first, int64_t& last) { return SpanOf(spans, y, first, last); });
    }
    zeroRest_ = false;
    status_ = entry(srcPixels_, srcWidth_, srcHeight_, static_cast<int>(srcStep), srcRect_[0], srcRect_[1],
                    srcRect_[2], srcRect_[3], dstPixels_, static_cast<int>(dstStep), dstRect_[0], dstRect_[1],
                    dstRect_[2], dstRect_[3], matrix_, interpolation);
    // A refusing warp wrote nothing: its spans are still to be zeroed.
    if (zeroSpans && status_ != warp_ok)
        for (int y = spans.firstRow; y <= spans.lastRow; ++y) {
            int64_t first = 0, last = -1;
            if (SpanOf(spans, y, first, last) && first <= last && first >= 0 && last < dstWidth_ && y >= 0 &&
                y < dstHeight_)
                std::memset(static_cast<uint8_t*>(dstPixels_) + y * dstStep + first * pixelBytes, 0,
                            static_cast<size_t>(last - first + 1) * pixelBytes);
        }
    return status_;
}

void CImageInterpolation::ZeroDestination()
{
    zeroRest_ = false;
    if (dstPixels_ && dstWidth_ > 0 && dstHeight_ > 0 && bytesPerPixel_ > 0)
        std::memset(dstPixels_, 0,
                    static_cast<size_t>(dstWidth_) * static_cast<size_t>(dstHeight_) * static_cast<size_t>(bytesPerPixel_));
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
