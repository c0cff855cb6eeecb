// The magnifier: a box over the cell showing the view samples around its centre enlarged
// by an integer factor, through the image's own tables.
#include "image/ImageBase.h"

#include "image/ImageBaseConvert.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>

namespace {

// The area of a w x h box shrunk by f about (cx, cy).
RECT ShrunkArea(float cx, float cy, int w, int h, float f)
{
    const float hw = static_cast<float>(w) / f, hh = static_cast<float>(h) / f;
    const float l = cx - hw * 0.5f, t = cy - hh * 0.5f;
    return RECT{TruncToInt(l), TruncToInt(t), TruncToInt(l + hw), TruncToInt(t + hh)};
}

bool IsEmptyRect(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

} // namespace

void CImageBase::RenderMagnifier(int, int, int left, int top, int right, int bottom, int factor)
{
    // A factor below 1 would divide by zero or shrink: it counts as 1.
    factor = std::max(factor, 1);
    const float cx = static_cast<float>((static_cast<double>(left) + right) * 0.5);
    const float cy = static_cast<float>((static_cast<double>(top) + bottom) * 0.5);
    const float f = static_cast<float>(factor);
    const int64_t mw64 = int64_t(right) - left, mh64 = int64_t(bottom) - top;
    // Far beyond any cell: such a box is not held.
    if (mw64 > 65536 || mh64 > 65536 || mw64 < -65536 || mh64 < -65536 || mw64 * mh64 > (int64_t(1) << 26))
        return;
    const int mw = static_cast<int>(mw64), mh = static_cast<int>(mh64);
    const int rowBytes = ((displayHeader_.bitCount * displayHeader_.planes * std::max(mw, 0) + 31) / 32 * 32) / 8;
    auto remakeBits = [&]() {
        magnifierRowBytes_ = rowBytes;
        magnifierBitmapSize_ = rowBytes * std::max(mh, 0);
        magnifierBits_.assign(static_cast<size_t>(magnifierBitmapSize_), 0);
        magnifierBitsWidth_ = mw;
        magnifierBitsHeight_ = mh;
    };
    const RECT& d = transform_->destRect;
    // The first test uses the size of the previous box.
    const RECT a = ShrunkArea(cx, cy, magnifierRect_.right - magnifierRect_.left,
                              magnifierRect_.bottom - magnifierRect_.top, f);
    magnifierRect_.left = left;
    magnifierRect_.top = top;
    magnifierRect_.right = right;
    magnifierRect_.bottom = bottom;
    RECT meet;
    if (!IntersectRect(&meet, &a, &d)) {
        magnifierValid_ = false;
        remakeBits();
        return;
    }
    magnifierValid_ = true;
    auto nothingToRender = [&]() {
        // A box of another size must not be drawn through the old buffers.
        if (mw != magnifierSamplesWidth_ || mh != magnifierSamplesHeight_ || mw != magnifierBitsWidth_ ||
            mh != magnifierBitsHeight_) {
            magnifierValid_ = false;
            remakeBits();
        }
    };
    const RECT s = ShrunkArea(cx, cy, mw, mh, f);
    RECT w;
    if (!IntersectRect(&w, &s, &d)) {
        nothingToRender();
        return;
    }
    w.right += 1;
    w.bottom += 1;
    const int ox = TruncToInt(cx + (static_cast<float>(w.left) - cx) * f - static_cast<float>(left));
    const int oy = TruncToInt(cy + (static_cast<float>(w.top) - cy) * f - static_cast<float>(top));
    RECT dest = {ox < 0 ? 0 : ox, oy < 0 ? 0 : oy,
                 static_cast<LONG>(std::min<int64_t>(int64_t(w.right - w.left) * factor + std::abs(ox), INT32_MAX)),
                 static_cast<LONG>(std::min<int64_t>(int64_t(w.bottom - w.top) * factor + std::abs(oy), INT32_MAX))};
    const RECT& v = decodedViewRect_;
    w.right = std::min(w.right, v.right);
    w.bottom = std::min(w.bottom, v.bottom);
    w.left = std::max(w.left, v.left);
    w.top = std::max(w.top, v.top);
    const size_t bpp = SampleBytes();
    const size_t viewPixels = static_cast<size_t>(std::max(viewWidth_, 0)) * static_cast<size_t>(std::max(viewHeight_, 0));
    if (IsEmptyRect(w) || w.left < 0 || w.top < 0 || w.right > viewWidth_ || w.bottom > viewHeight_ ||
        viewSamples_.size() != viewPixels * bpp || mw < 1 || mh < 1) {
        nothingToRender();
        return;
    }
    dest.left = std::max<LONG>(dest.left, 0);
    dest.top = std::max<LONG>(dest.top, 0);
    dest.right = std::min<LONG>(std::min<LONG>(dest.right, right), mw);
    dest.bottom = std::min<LONG>(std::min<LONG>(dest.bottom, bottom), mh);
    magnifierDestRect_ = dest;

    magnifierSamples_.assign(static_cast<size_t>(mw) * static_cast<size_t>(mh) * bpp, 0);
    magnifierSamplesWidth_ = mw;
    magnifierSamplesHeight_ = mh;
    remakeBits();
    if (IsEmptyRect(dest))
        return;

    BuildDisplayMatrix(2, w.left, w.top, dest.left, dest.top, w.right - w.left, w.bottom - w.top,
                       dest.right - dest.left, dest.bottom - dest.top, 0, 0, false);
    uint16_t* view16 = reinterpret_cast<uint16_t*>(viewSamples_.data());
    if (signedSamples_)
        AddToRegion16(view16, viewWidth_, viewHeight_, w.left, w.top, w.right, w.bottom, halfRange_, 3);
    magnifierResampler_.Warp(displayMatrix_, 2, viewSamples_.data(), viewWidth_, viewHeight_,
                             pixelFormat_.bytesPerPixel, pixelFormat_.channels, w.left, w.top, w.right, w.bottom,
                             magnifierSamples_.data(), mw, mh, dest.left, dest.top, dest.right, dest.bottom);
    if (signedSamples_) {
        SubtractFromRegion16(view16, viewWidth_, viewHeight_, w.left, w.top, w.right, w.bottom, halfRange_, 3);
        SubtractFromRegion16(reinterpret_cast<uint16_t*>(magnifierSamples_.data()), mw, mh, 0, 0, mw, mh, halfRange_,
                             0);
    }
}

bool CImageBase::DrawMagnifier(HDC dc)
{
    const int mw = magnifierRect_.right - magnifierRect_.left;
    const int mh = magnifierRect_.bottom - magnifierRect_.top;
    std::fill(magnifierBits_.begin(), magnifierBits_.end(), 0);
    if (mw < 1 || mh < 1 || mw != magnifierBitsWidth_ || mh != magnifierBitsHeight_)
        return true;
    const size_t bpp = SampleBytes();
    if (magnifierValid_ && mw == magnifierSamplesWidth_ && mh == magnifierSamplesHeight_ &&
        magnifierSamples_.size() == static_cast<size_t>(mw) * static_cast<size_t>(mh) * bpp) {
        const RECT& dr = magnifierDestRect_;
        const RECT area = {std::max<LONG>(dr.left, 0), std::max<LONG>(dr.top, 0), std::min<LONG>(dr.right, mw),
                           std::min<LONG>(dr.bottom, mh)};
        const image_display::SampleFormat f = {grey_, signedSamples_, static_cast<int>(bpp), halfRange_};
        if (area.right > area.left && area.bottom > area.top)
            image_display::SamplesToDisplay(f, magnifierSamples_.data(), static_cast<size_t>(mw), area, greyTable_,
                                            colourTable_, magnifierBits_.data(),
                                            static_cast<size_t>(magnifierRowBytes_), mh);
    }
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, mw, mh);
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = 40;
        info.bmiHeader.biWidth = mw;
        info.bmiHeader.biHeight = mh;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<WORD>(displayHeader_.bitCount * displayHeader_.planes);
        SetDIBits(memory, bitmap, 0, static_cast<UINT>(mh), magnifierBits_.data(), &info, DIB_RGB_COLORS);
        BitBlt(dc, magnifierRect_.left, magnifierRect_.top, mw, mh, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
    }
    if (memory)
        DeleteDC(memory);
    if (bitmap)
        DeleteObject(bitmap);
    return true;
}
