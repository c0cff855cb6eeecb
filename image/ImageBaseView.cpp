// View commands of a grid cell. Each stores its render flag; rendering brings geometry,
// source level, buffers and region request up to date, an initialised image without
// rendering only geometry and source, and an image not yet initialised only stored state,
// replayed by the first rendering view rectangle.
#include "image/ImageBase.h"

#include <algorithm>
#include <cmath>

namespace {

int SaturatingAdd(int a, int b)
{
    const int64_t s = int64_t(a) + b;
    return static_cast<int>(std::max<int64_t>(INT32_MIN / 2, std::min<int64_t>(s, INT32_MAX / 2)));
}

} // namespace

void CImageBase::RebuildCurrentTable()
{
    if (grey_)
        RebuildGreyLut();
    else
        RebuildColourTable();
}

void CImageBase::Zoom(float factor, bool render, bool actualSize)
{
    actualSize_ = actualSize;
    if (actualSize)
        factor = 1.0f;
    renderFlag_ = render;
    if (!initialised_) {
        deferredRecord_.kind = 0;
        deferredRecord_.zoom *= factor;
        if (!std::isfinite(deferredRecord_.zoom))
            deferredRecord_.zoom = 1.0;
        return;
    }
    CImageTransform& t = *transform_;
    t.Zoom(factor);
    AdaptToLevel();
    t.RefreshScale();
    if (render) {
        UpdateViewBuffers(actualSize);
        UpdateRegionRequest();
    }
}

void CImageBase::SetFitMode(int mode, bool render)
{
    renderFlag_ = render;
    // A fit asks for no actual size: it draws as the first fit did.
    actualSize_ = false;
    CImageTransform& t = *transform_;
    t.fitType = mode;
    t.panX = t.panY = 0;
    if (!render || !initialised_)
        return;
    t.ApplyFit();
    AdaptToLevel();
    t.RefreshScale();
    UpdateViewBuffers(false);
    UpdateRegionRequest();
}

void CImageBase::Flip(bool horizontal, bool render)
{
    renderFlag_ = render;
    bool& flag = horizontal ? horizontalFlip_ : verticalFlip_;
    flag = !flag;
    CImageTransform& t = *transform_;
    // A mirror changes no zoom: a fitted image stays fitted, so that a later view size (or
    // the first one, for an image not yet open) fits it again like every other fitted cell.
    const int fit = t.fitType;
    if (!initialised_) {
        bool& own = horizontal ? t.horizontalFlip : t.verticalFlip;
        own = !own;
        if (fit == 0)
            deferredRecord_.kind = 0;
        return;
    }
    t.Flip(horizontal);
    t.fitType = fit;
    AdaptToLevel();
    if (render)
        UpdateRegionRequest();
}

void CImageBase::InvertGrey(bool render)
{
    renderFlag_ = render;
    inverted_ = !inverted_;
    if (render || initialised_)
        RebuildCurrentTable();
}

void CImageBase::Rotate(bool clockwise, bool render)
{
    renderFlag_ = render;
    // In a mirrored picture the turn runs the other way.
    const bool cw = (horizontalFlip_ || verticalFlip_) ? !clockwise : clockwise;
    rotation_ = (rotation_ + (cw ? 1 : 3)) % 4;
    CImageTransform& t = *transform_;
    t.rotation = rotation_;
    // A fitted image stays fitted: it is fitted to its turned size now, at its first view
    // when it is not open yet, and again at every new view size, as the other cells are.
    const bool fitted = t.fitType != 0;
    if (!initialised_) {
        if (!fitted)
            deferredRecord_.kind = 0;
        return;
    }
    if (!fitted) {
        t.Update();
        AdaptToLevel();
        if (render)
            UpdateRegionRequest();
        return;
    }
    t.ApplyFit();
    AdaptToLevel();
    t.RefreshScale();
    if (render) {
        UpdateViewBuffers(false);
        UpdateRegionRequest();
    }
}

void CImageBase::Pan(int dx, int dy, bool render)
{
    renderFlag_ = render;
    CImageTransform& t = *transform_;
    if (!initialised_) {
        t.panX = SaturatingAdd(t.panX, dx);
        t.panY = SaturatingAdd(t.panY, dy);
        t.fitType = 0;
        deferredRecord_.kind = 0;
        return;
    }
    t.Pan(dx, dy);
    AdaptToLevel();
    if (render)
        UpdateRegionRequest();
}

void CImageBase::AdjustWindowLevel(int dx, int dy, bool render, bool fine)
{
    renderFlag_ = render;
    const float step = fine ? 1.0f : (grey_ && bitsStored_ > 12 ? 4.0f : 3.0f);
    if (render && initialised_) {
        if (grey_) {
            windowWidth_ += step * static_cast<float>(dx);
            windowCentre_ += step * static_cast<float>(dy);
            RebuildGreyLut();
        } else {
            brightness_ += static_cast<float>(dy);
            contrast_ += static_cast<float>(dx);
            // A drag gathered without rendering counts once: add it unless already folded.
            if (drag_.IsPending() && !drag_.resetRequest) {
                float px, py;
                drag_.GetPendingDelta(px, py);
                brightness_ += px;
                contrast_ += py;
            }
            drag_.pendingX = drag_.pendingY = 0.0f;
            RebuildColourTable();
        }
    } else {
        // Not rendering, or no source yet: gather the drag for the next render.
        if (drag_.resetRequest) {
            drag_.pendingX = drag_.pendingY = 0.0f;
            drag_.resetRequest = false;
        }
        drag_.pendingX += static_cast<float>(dx);
        drag_.pendingY += static_cast<float>(dy);
    }
    if ((dx != 0 || dy != 0) && drag_.pendingX == 0.0f && drag_.pendingY == 0.0f)
        userAdjusted_ = true;
}

void CImageBase::ZoomToRect(int x0, int y0, int x1, int y1)
{
    CImageTransform& t = *transform_;
    const RECT d = t.destRect;
    if (!initialised_ || x0 >= x1 || y0 >= y1 || d.left > x0 || d.top > y0 || d.right < x1 || d.bottom < y1)
        return;
    const double vh = static_cast<double>(viewRect_.bottom) - viewRect_.top + 1;
    const double vw = static_cast<double>(viewRect_.right) - viewRect_.left + 1;
    const double factor = std::min(vh / (y1 - y0 + 1.0), vw / (x1 - x0 + 1.0));
    // The selection in scaled-image coordinates, before the zoom.
    const RECT vis = t.visiblePart;
    const float left = static_cast<float>(vis.left + (x0 - d.left));
    const float top = static_cast<float>(vis.top + (y0 - d.top));
    const float right = left + static_cast<float>(x1 - x0 + 1);
    const float bottom = top + static_cast<float>(y1 - y0 + 1);
    const float oldW = static_cast<float>(t.rotatedScaledRect.right);
    const float oldH = static_cast<float>(t.rotatedScaledRect.bottom);
    actualSize_ = false;
    renderFlag_ = true;
    Zoom(static_cast<float>(factor), true, false);
    Zoom(1.0f, true, true);
    const float newW = static_cast<float>(t.rotatedScaledRect.right);
    const float newH = static_cast<float>(t.rotatedScaledRect.bottom);
    if (oldW <= 0 || oldH <= 0)
        return;
    const float sx = newW / oldW, sy = newH / oldH;
    const float nl = (left - oldW / 2) * sx + newW / 2;
    const float nt = (top - oldH / 2) * sy + newH / 2;
    const int l2 = TruncToInt(nl), t2 = TruncToInt(nt);
    const int r2 = TruncToInt(nl + sx * (right - left)), b2 = TruncToInt(nt + sy * (bottom - top));
    const int dx = TruncToInt((t.visiblePart.left - l2) + t.viewWidth * 0.5 - (r2 - l2) * 0.5);
    const int dy = TruncToInt((t.visiblePart.top - t2) + t.viewHeight * 0.5 - (b2 - t2) * 0.5);
    Pan(dx, dy, true);
}

void CImageBase::ResetView(bool render)
{
    renderFlag_ = render;
    drag_.pendingX = drag_.pendingY = 0.0f;
    userAdjusted_ = false;
    inverted_ = false;
    horizontalFlip_ = verticalFlip_ = false;
    rotation_ = 0;
    // Back to the first fit, drawn as it was: no actual-size resampling left from a zoom.
    actualSize_ = false;
    const double identity[6] = {1, 0, 0, 0, 1, 0};
    std::copy(identity, identity + 6, displayMatrix_);
    CImageTransform& t = *transform_;
    t.panX = t.panY = 0;
    t.fitType = 2;
    t.horizontalFlip = t.verticalFlip = false;
    t.rotation = 0;
    t.level = 0;
    if (!render && !initialised_)
        return;
    if (grey_) {
        if (dicomWindowInUse_) {
            windowWidth_ = dicom_.windowWidth;
            windowCentre_ = dicom_.windowCentre;
        } else {
            windowWidth_ = range_;
            windowCentre_ = range_ / 2.0f;
        }
        AutoWindow();
        RebuildGreyLut();
    } else {
        brightness_ = 0.0f;
        contrast_ = 1.0f;
        RebuildColourTable();
    }
    if (!initialised_)
        return;
    t.ApplyFit();
    AdaptToLevel();
    t.RefreshScale();
    UpdateViewBuffers(false);
    UpdateRegionRequest();
}

void CImageBase::GetImageRectInView(int32_t out[4])
{
    const RECT& d = transform_->destRect;
    out[0] = d.left;
    out[1] = d.top;
    out[2] = d.right;
    out[3] = d.bottom;
}

void CImageBase::GetZoomFactors(double out[2])
{
    out[0] = transform_->zoomX;
    out[1] = transform_->zoomY;
}
