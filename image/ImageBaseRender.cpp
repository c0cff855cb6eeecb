// Rendering of a grid cell: the view buffers, the region the decoder is asked for, the copy
// of decoded pixels into the view samples and their conversion into the cell bitmap.
#include "image/ImageBase.h"

#include "image/ImageBaseConvert.h"
#include "image/ImageInterpolation.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Source buffers at or above this size are never made: the level stays coarser.
const double kMaxSourceBytes = 1e8;
// The zoomed image is made only up to this size.
const double kMaxZoomedBytes = 5e7;
// Views recorded before the source is known; later ones merge into the last.
const size_t kMaxDeferred = 64;
// Far beyond any cell: a larger view is not held.
const int64_t kMaxViewPixels = int64_t(1) << 26;
// The cubic kernel reads two samples beyond its rectangle: the sample bias covers three.
const int kBiasGrowth = 3;

bool IsZero(const RECT& r) { return r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0; }
bool IsEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

RECT RegionRect(const int32_t region[7])
{
    return RECT{region[kRegionLeft], region[kRegionTop], region[kRegionRight], region[kRegionBottom]};
}

int KernelReach(int mode)
{
    if (mode >= 0 && mode <= 2)
        return 1;
    if (mode == 3)
        return 3;
    if (mode == 4)
        return 4;
    return 0;
}

// Centre-based scaling of r from a (fw x fh) frame into a (tw x th) frame.
RECT MapRect(const RECT& r, int fw, int fh, int tw, int th)
{
    const float fwf = static_cast<float>(fw), fhf = static_cast<float>(fh);
    const float twf = static_cast<float>(tw), thf = static_cast<float>(th);
    const float sx = fwf > 0 ? twf / fwf : 0.0f;
    const float sy = fhf > 0 ? thf / fhf : 0.0f;
    const float left = (static_cast<float>(r.left) - fwf * 0.5f) * sx + twf * 0.5f;
    const float top = (static_cast<float>(r.top) - fhf * 0.5f) * sy + thf * 0.5f;
    return RECT{TruncToInt(left), TruncToInt(top), TruncToInt(left + static_cast<float>(r.right - r.left) * sx),
                TruncToInt(top + static_cast<float>(r.bottom - r.top) * sy)};
}

template <typename T>
T* As(std::vector<uint8_t>& v)
{
    return reinterpret_cast<T*>(v.data());
}

} // namespace

size_t CImageBase::SampleBytes() const
{
    if (!grey_)
        return 4;
    return signedSamples_ || bitsStored_ > 8 ? 2 : 1;
}

void CImageBase::BuildDisplayMatrix(int mode, int sx0, int sy0, int dx0, int dy0, int sw, int sh, int dw, int dh,
                                    int mirrorHeight, int mirrorWidth, bool oriented)
{
    const int r = KernelReach(mode);
    const double fsw = static_cast<float>(sw), fsh = static_cast<float>(sh);
    const double fdw = static_cast<float>(dw), fdh = static_cast<float>(dh);
    // A margin of the kernel's reach on each side keeps the kernel on real samples.
    auto scale = [r](double d, double s, bool margin) {
        if (margin && s - 2 * r > 0)
            return d / (s - 2 * r);
        return s != 0 ? d / s : 0.0;
    };
    double kx = scale(fdw, fsw, false), ky = scale(fdh, fsh, false);
    const bool margin = kx != 1.0 || ky != 1.0;
    if (margin) {
        kx = scale(fdw, fsw, true);
        ky = scale(fdh, fsh, true);
    }
    const double x0 = static_cast<float>(dx0), y0 = static_cast<float>(dy0);
    double* m = displayMatrix_;
    m[0] = kx;
    m[1] = 0;
    m[2] = x0 - sx0 * kx;
    m[3] = 0;
    m[4] = ky;
    m[5] = y0 - sy0 * ky;
    if (!oriented || rotation_ % 4 < 0)
        return;
    const int q = rotation_ % 4;
    bool mirrorX, mirrorY;
    switch (q) {
    case 0:
        mirrorX = horizontalFlip_;
        mirrorY = verticalFlip_;
        break;
    case 1:
        mirrorX = !horizontalFlip_;
        mirrorY = verticalFlip_;
        break;
    case 2:
        mirrorX = !horizontalFlip_;
        mirrorY = !verticalFlip_;
        break;
    default:
        mirrorX = horizontalFlip_;
        mirrorY = !verticalFlip_;
        break;
    }
    // The source's y runs along the view's x for odd quarter turns.
    double a = kx, b = ky;
    if (q % 2 != 0) {
        a = scale(fdw, fsh, false);
        b = scale(fdh, fsw, false);
        if (a != 1.0 || b != 1.0) {
            a = scale(fdw, fsh, true);
            b = scale(fdh, fsw, true);
        }
    }
    // Pixel for pixel, a mirror maps the first sample onto the last pixel (W - 1), not one
    // past it: otherwise the picture moves a pixel, its edge sample falls outside the
    // rectangle and the rectangle's first row or column stays unpainted.
    const double W = mirrorWidth - (a == 1.0 ? 1 : 0), H = mirrorHeight - (b == 1.0 ? 1 : 0);
    // x' = dx0 + u or dx0 + W - u; y' = dy0 + v or dy0 + H - v.
    const double sx = mirrorX ? -1.0 : 1.0, sy = mirrorY ? -1.0 : 1.0;
    const double bx = mirrorX ? x0 + W : x0, by = mirrorY ? y0 + H : y0;
    if (q % 2 == 0) {
        m[0] = sx * kx;
        m[1] = 0;
        m[2] = bx - sx * kx * sx0;
        m[3] = 0;
        m[4] = sy * ky;
        m[5] = by - sy * ky * sy0;
    } else {
        m[0] = 0;
        m[1] = sx * a;
        m[2] = bx - sx * a * sy0;
        m[3] = sy * b;
        m[4] = 0;
        m[5] = by - sy * b * sx0;
    }
}

void CImageBase::SetViewRect(int top, int left, int bottom, int right, HWND, bool render)
{
    viewRect_ = RECT{left, top, right, bottom};
    renderFlag_ = render;
    CImageTransform& t = *transform_;
    if (!initialised_) {
        RecordView(viewRect_);
        return;
    }
    if (!render) {
        t.SetView(left, top, right, bottom);
        t.ApplyFit();
        return;
    }
    if (!ResizeViewBuffers(viewRect_))
        return;
    ReplayDeferred();
    // A drag gathered before the first render is folded once.
    if (grey_ && drag_.IsPending() && !drag_.resetRequest) {
        float dx, dy;
        drag_.GetPendingDelta(dx, dy);
        windowWidth_ += dx;
        windowCentre_ += dy;
    }
    if (grey_)
        drag_.resetRequest = true;
    // A colour drag is folded here, once.
    AdjustWindowLevel(0, 0, render, false);
    drag_.resetRequest = true;
    t.SetView(left, top, right, bottom);
    t.ApplyFit();
    AdaptToLevel();
    t.RefreshScale();
    UpdateViewBuffers(false);
    UpdateRegionRequest();
}

// Before the source is known only the command is kept, for the first render. Each zoom
// factor is replayed once, at the view it was given in.
void CImageBase::RecordView(const RECT& r)
{
    const bool same = recording_ && EqualRect(&r, &lastRecordedRect_);
    if (!deferredQueue_.empty() && (same || deferredQueue_.size() >= kMaxDeferred)) {
        DeferredCommand& last = deferredQueue_.back();
        last.zoom *= deferredRecord_.zoom;
        if (deferredRecord_.kind == 0)
            last.kind = 0;
        last.view = r;
    } else {
        deferredRecord_.view = r;
        deferredQueue_.push_back(deferredRecord_);
    }
    transform_->SetView(r.left, r.top, r.right, r.bottom);
    recording_ = true;
    lastRecordedRect_ = r;
    deferredRecord_.zoom = 1.0;
}

// The display buffer and the view samples for the view's size, remade zeroed when the size
// or the sample size changed. False for an empty view, which holds and draws nothing.
bool CImageBase::ResizeViewBuffers(const RECT& r)
{
    const int64_t vw = int64_t(r.right) - r.left + 1, vh = int64_t(r.bottom) - r.top + 1;
    if (vw < 1 || vh < 1) {
        ++viewSamplesGeneration_;
        viewWidth_ = viewHeight_ = allocWidth_ = allocHeight_ = 0;
        std::vector<uint8_t>().swap(displayBuffer_);
        std::vector<uint8_t>().swap(viewSamples_);
        return false;
    }
    if (vw * vh > kMaxViewPixels)
        return false;
    viewWidth_ = static_cast<int32_t>(vw);
    viewHeight_ = static_cast<int32_t>(vh);
    displayRowBytes_ = static_cast<int32_t>(((vw * 32 + 31) / 32 * 32) / 8);
    displayHeader_.planes = 1;
    displayHeader_.bitCount = 32;
    const size_t pixels = static_cast<size_t>(vw) * static_cast<size_t>(vh);
    if (viewWidth_ != allocWidth_ || viewHeight_ != allocHeight_ || viewSamples_.size() != pixels * SampleBytes()) {
        ++viewSamplesGeneration_;
        displayBuffer_.assign(static_cast<size_t>(displayRowBytes_) * static_cast<size_t>(vh), 0);
        viewSamples_.assign(pixels * SampleBytes(), 0);
        allocWidth_ = viewWidth_;
        allocHeight_ = viewHeight_;
    }
    return true;
}

void CImageBase::ReplayDeferred()
{
    CImageTransform& t = *transform_;
    bool allRefit = !deferredQueue_.empty();
    for (const DeferredCommand& c : deferredQueue_)
        allRefit = allRefit && c.kind == 2;
    for (size_t i = 0; i < deferredQueue_.size(); ++i) {
        const DeferredCommand& c = deferredQueue_[i];
        t.SetView(c.view.left, c.view.top, c.view.right, c.view.bottom);
        if (i == 0 && allRefit)
            t.ApplyFit();
        if (c.kind == 0)
            t.Zoom(static_cast<float>(c.zoom));
        else
            t.ApplyFit();
    }
    deferredQueue_.clear();
    deferredRecord_ = DeferredCommand();
    recording_ = false;
}

void CImageBase::AdaptToLevel()
{
    if (!initialised_)
        return;
    CImageTransform& t = *transform_;
    const int bpp = static_cast<int>(SampleBytes());
    auto bytesAt = [&](int level) {
        const int f = 1 << std::max(0, std::min(level, 15));
        return static_cast<double>(t.fullWidth / f) * static_cast<double>(t.fullHeight / f) * bpp;
    };
    auto setBack = [&]() {
        if (t.level != heldLevel_) {
            t.level = heldLevel_;
            t.RefreshScale();
        }
    };
    // Only a finer level replaces the buffer; no buffer counts as coarser than every level.
    if (heldLevel_ >= 0 && t.level >= heldLevel_) {
        setBack();
        return;
    }
    int level = t.level;
    if (bytesAt(level) >= kMaxSourceBytes) {
        if (heldLevel_ >= 0) {
            setBack();
            return;
        }
        while (level < t.levelCount && bytesAt(level) >= kMaxSourceBytes)
            ++level;
        if (bytesAt(level) >= kMaxSourceBytes)
            return;
        t.level = level;
        t.RefreshScale();
    }
    const int f = 1 << level;
    const int lw = t.fullWidth / f, lh = t.fullHeight / f;
    std::vector<uint8_t> fresh(static_cast<size_t>(lw) * static_cast<size_t>(lh) * static_cast<size_t>(bpp), 0);
    if (!sourcePixels_.empty() && levelWidth_ > 0 && levelHeight_ > 0)
        ImageResampler().ResampleNearest(bpp == 2 ? 2 : 1, sourcePixels_.data(), levelWidth_, levelHeight_, 0, 0,
                                         levelWidth_, levelHeight_, fresh.data(), lw, lh, 0, 0, lw, lh,
                                         grey_ ? 1 : 4, grey_);
    sourcePixels_.swap(fresh);
    heldLevel_ = level;
    levelWidth_ = lw;
    levelHeight_ = lh;
    knownGood_ = RECT{0, 0, 0, 0};
    decodedValid_ = false;
}

void CImageBase::GetTransformRegion(int32_t out[7])
{
    const CImageTransform& t = *transform_;
    currentRegion_[kRegionLeft] = t.sourceRect.left;
    currentRegion_[kRegionTop] = t.sourceRect.top;
    currentRegion_[kRegionRight] = t.sourceRect.right;
    currentRegion_[kRegionBottom] = t.sourceRect.bottom;
    currentRegion_[kRegionWidth] = t.levelWidth;
    currentRegion_[kRegionHeight] = t.levelHeight;
    currentRegion_[kRegionLevel] = t.level;
    if (out)
        std::copy(currentRegion_, currentRegion_ + 7, out);
}

void CImageBase::UpdateRegionRequest()
{
    GetTransformRegion(nullptr);
    std::copy(currentRegion_, currentRegion_ + 7, pendingRegion_);
    const RECT current = RegionRect(currentRegion_);
    if (!firstRequest_ && Inside(current, knownGood_) && !IsEmpty(knownGood_)) {
        pendingRegion_[kRegionLeft] = pendingRegion_[kRegionTop] = 0;
        pendingRegion_[kRegionRight] = pendingRegion_[kRegionBottom] = 0;
        decodeNeeded_ = false;
    } else {
        decodeNeeded_ = true;
    }
    firstRequest_ = false;
}

void CImageBase::GetPendingRegion(int32_t out[7])
{
    AdaptToLevel();
    // A request made for another source buffer than the one held now is out of date too:
    // the decoder would write another level's rows into it.
    if (currentRegion_[kRegionRight] == 0 || currentRegion_[kRegionBottom] == 0 ||
        currentRegion_[kRegionLevel] != heldLevel_ || currentRegion_[kRegionWidth] != levelWidth_ ||
        currentRegion_[kRegionHeight] != levelHeight_)
        UpdateRegionRequest();
    std::copy(pendingRegion_, pendingRegion_ + 7, out);
}

void CImageBase::SetDecodedRegion(int x0, int y0, int x1, int y1, int level, bool valid)
{
    decodedValid_ = valid;
    if (!valid)
        return;
    const RECT r = {x0, y0, x1, y1};
    lastDecoded_ = r;
    if (level != currentRegion_[kRegionLevel])
        return;
    if (IsZero(knownGood_))
        knownGood_ = r;
    else if (Inside(knownGood_, r) && !IsEmpty(r))
        knownGood_ = r;
}

void CImageBase::UpdateViewBuffers(bool actualSize)
{
    GetTransformRegion(nullptr);
    const CImageTransform& t = *transform_;
    // A zoomed image left from an actual-size zoom goes once the flag is clear, even at the
    // same zoom: the cell then draws as a plain fit does.
    const bool staleZoomed = zoomedPresent_ && !actualSize_;
    if (std::fabs(t.zoomX - lastZoomX_) <= 1e-10 && std::fabs(t.zoomY - lastZoomY_) <= 1e-10 && !actualSize &&
        !staleZoomed) {
        lastZoomX_ = t.zoomX;
        lastZoomY_ = t.zoomY;
        return;
    }
    fullRecopy_ = true;
    zoomedPresent_ = false;
    if (actualSize_) {
        const int zw = TruncToInt(imageWidth_ * t.zoomX), zh = TruncToInt(imageHeight_ * t.zoomY);
        const double bytes = static_cast<double>(zw) * zh * static_cast<double>(SampleBytes());
        if (zw > 0 && zh > 0 && bytes <= kMaxZoomedBytes) {
            zoomedImage_.assign(static_cast<size_t>(bytes), 0);
            zoomedWidth_ = zw;
            zoomedHeight_ = zh;
            zoomedPresent_ = true;
        }
    }
    if (!zoomedPresent_) {
        zoomedImage_.clear();
        zoomedImage_.shrink_to_fit();
        zoomedWidth_ = zoomedHeight_ = 0;
    }
    lastZoomX_ = t.zoomX;
    lastZoomY_ = t.zoomY;
}

// The current region maps onto the destination rectangle; its extents along the source's
// axes are the destination's sides, exchanged for odd quarter turns.
void CImageBase::RefreshRegionViewRect()
{
    const CImageTransform& t = *transform_;
    if (IsEmpty(RegionRect(currentRegion_)) || IsEmpty(t.destRect)) {
        decodedViewRect_ = RECT{0, 0, 0, 0};
        decodedExtentX_ = decodedExtentY_ = 0;
        return;
    }
    decodedViewRect_ = t.destRect;
    const int w = t.destRect.right - t.destRect.left, h = t.destRect.bottom - t.destRect.top;
    const bool odd = rotation_ % 2 != 0;
    decodedExtentX_ = odd ? h : w;
    decodedExtentY_ = odd ? w : h;
}

void CImageBase::OnRegionDecoded(int, int, int, int y1)
{
    if (y1 != currentRegion_[kRegionBottom])
        return;
    RECT r = RegionRect(currentRegion_);
    // Only what lies in the held level can be copied.
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, levelWidth_);
    r.bottom = std::min<LONG>(r.bottom, levelHeight_);
    if (IsEmpty(r))
        return;
    decodedRect_ = r;
    RefreshRegionViewRect();
    CopyDecodedToView();
    if (!userAdjusted_)
        AutoWindow();
}

void CImageBase::CopyDecodedToView()
{
    const size_t bpp = SampleBytes();
    const size_t pixels = static_cast<size_t>(std::max(viewWidth_, 0)) * static_cast<size_t>(std::max(viewHeight_, 0));
    if (pixels == 0 || viewSamples_.size() != pixels * bpp)
        return;
    ++viewSamplesGeneration_;
    viewZeroPending_ = true;
    const double zx = transform_->zoomX, zy = transform_->zoomY;
    const bool sourceReady = !sourcePixels_.empty() && sourcePixels_.size() == static_cast<size_t>(levelWidth_) *
                                                                                    static_cast<size_t>(levelHeight_) * bpp;
    const int zw = TruncToInt(imageWidth_ * zx), zh = TruncToInt(imageHeight_ * zy);
    const bool zoomed = zoomedPresent_ && zw == zoomedWidth_ && zh == zoomedHeight_;
    if (sourceReady && !IsEmpty(decodedViewRect_)) {
        if (!zoomed)
            CopyDirect();
        else if (decodeNeeded_)
            CopyViaZoomedImage(decodedRect_);
        else if (fullRecopy_)
            CopyViaZoomedImage(RECT{0, 0, levelWidth_, levelHeight_});
        else
            CopyFromZoomedImage();
    }
    if (viewZeroPending_)
        std::fill(viewSamples_.begin(), viewSamples_.end(), 0);
    viewZeroPending_ = false;
    fullRecopy_ = false;
    lastZoomX_ = zx;
    lastZoomY_ = zy;
}

void CImageBase::CopyDirect()
{
    ++viewSamplesGeneration_;
    const int mode = actualSize_ ? 2 : 0;
    const RECT& r = decodedRect_;
    const RECT& v = decodedViewRect_;
    const int vw = v.right - v.left, vh = v.bottom - v.top;
    BuildDisplayMatrix(mode, r.left, r.top, v.left, v.top, r.right - r.left, r.bottom - r.top, vw, vh, vh, vw, true);
    const uint16_t half = halfRange_;
    if (signedSamples_)
        AddToRegion16(As<uint16_t>(sourcePixels_), levelWidth_, levelHeight_, r.left, r.top, r.right, r.bottom, half,
                      kBiasGrowth);
    ImageResampler().Warp(displayMatrix_, mode, sourcePixels_.data(), levelWidth_, levelHeight_,
                          pixelFormat_.bytesPerPixel, pixelFormat_.channels, r.left, r.top, r.right, r.bottom,
                          viewSamples_.data(), viewWidth_, viewHeight_, v.left, v.top, v.right, v.bottom,
                          viewZeroPending_);
    viewZeroPending_ = false;
    if (signedSamples_) {
        SubtractFromRegion16(As<uint16_t>(viewSamples_), viewWidth_, viewHeight_, v.left, v.top, v.right, v.bottom,
                             half, 0);
        SubtractFromRegion16(As<uint16_t>(sourcePixels_), levelWidth_, levelHeight_, r.left, r.top, r.right,
                             r.bottom, half, kBiasGrowth);
    }
}

void CImageBase::CopyViaZoomedImage(const RECT& r)
{
    const int zw = zoomedWidth_, zh = zoomedHeight_;
    const RECT z = MapRect(r, levelWidth_, levelHeight_, zw, zh);
    BuildDisplayMatrix(displayMode_, r.left, r.top, z.left, z.top, levelWidth_, levelHeight_, zw, zh, 0, 0, false);
    const uint16_t half = halfRange_;
    if (signedSamples_)
        AddToRegion16(As<uint16_t>(sourcePixels_), levelWidth_, levelHeight_, r.left, r.top, r.right, r.bottom, half,
                      kBiasGrowth);
    // The zoomed image keeps signed samples shifted into the unsigned range.
    ImageResampler().Warp(displayMatrix_, displayMode_, sourcePixels_.data(), levelWidth_, levelHeight_,
                          pixelFormat_.bytesPerPixel, pixelFormat_.channels, r.left, r.top, r.right, r.bottom,
                          zoomedImage_.data(), zw, zh, z.left, z.top, z.right, z.bottom);
    if (signedSamples_)
        SubtractFromRegion16(As<uint16_t>(sourcePixels_), levelWidth_, levelHeight_, r.left, r.top, r.right,
                             r.bottom, half, kBiasGrowth);
    CopyFromZoomedImage();
}

void CImageBase::CopyFromZoomedImage()
{
    ++viewSamplesGeneration_;
    RefreshRegionViewRect();
    const RECT v = decodedViewRect_;
    if (IsEmpty(v) || v.right > viewWidth_ || v.bottom > viewHeight_)
        return;
    const int zw = zoomedWidth_, zh = zoomedHeight_;
    const RECT z = MapRect(decodedRect_, levelWidth_, levelHeight_, zw, zh);
    int ew = z.right - z.left, eh = z.bottom - z.top;
    if (rotation_ % 2 != 0)
        std::swap(ew, eh);
    BuildDisplayMatrix(displayMode_, z.left, z.top, v.left, v.top, decodedExtentX_, decodedExtentY_, ew, eh, eh, ew,
                       true);
    // The warp must write nothing outside the view samples.
    const RECT e = {v.left, v.top, std::min<LONG>(v.left + ew, viewWidth_), std::min<LONG>(v.top + eh, viewHeight_)};
    if (IsEmpty(e))
        return;
    ImageResampler().Warp(displayMatrix_, displayMode_, zoomedImage_.data(), zw, zh, pixelFormat_.bytesPerPixel,
                          pixelFormat_.channels, z.left, z.top, z.right, z.bottom, viewSamples_.data(), viewWidth_,
                          viewHeight_, e.left, e.top, e.right, e.bottom, viewZeroPending_);
    viewZeroPending_ = false;
    if (signedSamples_)
        SubtractFromRegion16(As<uint16_t>(viewSamples_), viewWidth_, viewHeight_, e.left, e.top, e.right, e.bottom,
                             halfRange_, 0);
}

void CImageBase::ConvertToDisplay(const RECT& a)
{
    const image_display::SampleFormat f = {grey_, signedSamples_, static_cast<int>(SampleBytes()), halfRange_};
    image_display::SamplesToDisplay(f, viewSamples_.data(), static_cast<size_t>(viewWidth_), a, greyTable_,
                                    colourTable_, displayBuffer_.data(), static_cast<size_t>(displayRowBytes_),
                                    viewHeight_);
}

bool CImageBase::DisplayInputs::operator==(const DisplayInputs& o) const
{
    return samples == o.samples && EqualRect(&area, &o.area) && grey == o.grey && isSigned == o.isSigned &&
           bytes == o.bytes && halfRange == o.halfRange && width == o.width && height == o.height &&
           rowBytes == o.rowBytes;
}

void CImageBase::DrawToBitmap(HDC dc, HBITMAP bitmap, bool, int left, int top, int right, int bottom)
{
    if (viewWidth_ < 1 || viewHeight_ < 1 || int64_t(right) - left != viewWidth_ - 1 ||
        int64_t(bottom) - top != viewHeight_ - 1)
        return;
    const size_t pixels = static_cast<size_t>(viewWidth_) * static_cast<size_t>(viewHeight_);
    if (viewSamples_.size() != pixels * SampleBytes() ||
        displayBuffer_.size() != static_cast<size_t>(displayRowBytes_) * static_cast<size_t>(viewHeight_))
        return;
    RefreshRegionViewRect();
    // Every pixel of the image's rectangle is converted, its outermost rows and columns too.
    const RECT a = decodedViewRect_;
    if (IsEmpty(a) || a.left < 0 || a.top < 0 || a.right > viewWidth_ || a.bottom > viewHeight_) {
        std::fill(displayBuffer_.begin(), displayBuffer_.end(), 0);
        displayConverted_ = false;
        return;
    }
    DisplayInputs inputs;
    inputs.samples = viewSamplesGeneration_;
    inputs.area = a;
    inputs.grey = grey_;
    inputs.isSigned = signedSamples_;
    inputs.bytes = static_cast<int>(SampleBytes());
    inputs.halfRange = halfRange_;
    inputs.width = viewWidth_;
    inputs.height = viewHeight_;
    inputs.rowBytes = displayRowBytes_;
    const VoiLutEntry& table = grey_ ? greyTable_ : colourTable_;
    const bool sameTable = displayTable_.entryCount == table.entryCount && displayTable_.data == table.data;
    if (!displayConverted_ || !sameTable || !(inputs == displayInputs_)) {
        ClearOutside(a, image_display::TableSize(table) < 1);
        ConvertToDisplay(a);
        displayInputs_ = inputs;
        if (!sameTable)
            displayTable_ = table;
        displayConverted_ = true;
    }
    // The header describes the display buffer itself, whatever the bitmap's format.
    BITMAPINFO info = {};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = viewWidth_;
    info.bmiHeader.biHeight = viewHeight_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    drawingHeader_.width = viewWidth_;
    drawingHeader_.height = viewHeight_;
    SetDIBits(dc, bitmap, 0, static_cast<UINT>(viewHeight_), displayBuffer_.data(), &info, DIB_RGB_COLORS);
}

// Zeroes the display pixels outside the area the conversion writes (all of them when it
// writes none): the same buffer as zeroing it whole first, without writing the area twice.
void CImageBase::ClearOutside(const RECT& a, bool all)
{
    if (all) {
        std::fill(displayBuffer_.begin(), displayBuffer_.end(), 0);
        return;
    }
    const size_t rowBytes = static_cast<size_t>(displayRowBytes_);
    uint8_t* bits = displayBuffer_.data();
    // Rows are bottom-up: view row y is display row height - 1 - y.
    const size_t below = static_cast<size_t>(viewHeight_ - a.bottom), above = static_cast<size_t>(a.top);
    std::memset(bits, 0, below * rowBytes);
    std::memset(bits + (static_cast<size_t>(viewHeight_) - above) * rowBytes, 0, above * rowBytes);
    const size_t leftBytes = static_cast<size_t>(a.left) * 4, rightAt = static_cast<size_t>(a.right) * 4;
    for (size_t row = below; row < static_cast<size_t>(viewHeight_) - above; ++row) {
        uint8_t* r = bits + row * rowBytes;
        std::memset(r, 0, leftBytes);
        std::memset(r + rightAt, 0, rowBytes - rightAt);
    }
}
