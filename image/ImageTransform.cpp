#include "image/ImageTransform.h"

#include "platform/Win32.h"

#include <algorithm>
#include <cmath>

static_assert(sizeof(RECT) == 16, "RECT is four 32-bit values");

namespace {

const RECT kEmpty = {0, 0, 0, 0};
const int kMaxLevel = 15;

int Quarter(int rotation) { return ((rotation % 4) + 4) % 4; }

// Mirrors [lo, hi) within [0, extent): the new start is extent - hi, the width is kept.
void Mirror(LONG& lo, LONG& hi, int extent)
{
    const LONG width = hi - lo;
    lo = extent - hi;
    hi = lo + width;
}

} // namespace

int TruncToInt(double v)
{
    const double limit = 1073741824.0;
    if (std::isnan(v))
        return 0;
    if (v > limit)
        return static_cast<int>(limit);
    if (v < -limit)
        return -static_cast<int>(limit);
    return static_cast<int>(v);
}

CImageTransform::CImageTransform() { Reset(); }

CImageTransform::~CImageTransform() = default;

void CImageTransform::Reset()
{
    zoomX = zoomY = 1.0;
    effectiveZoomX = effectiveZoomY = 1.0;
    fullRect = levelRect = sourceRect = scaledRect = viewRect = destRect = kEmpty;
    rotatedScaledRect = visiblePart = placedView = placedImage = emptyRect = kEmpty;
    scaledHalfWidth = scaledHalfHeight = 0.0f;
    viewHalfWidth = viewHalfHeight = 0.0f;
    panY = panX = 0;
    fitType = 2;
    horizontalFlip = verticalFlip = false;
    levelCount = 0;
    rotation = 0;
    level = 0;
    levelHeight = levelWidth = 0;
    fullHeight = fullWidth = 0;
    viewHeight = viewWidth = 0;
}

void CImageTransform::Init(int height, int width, int count)
{
    Reset();
    fullHeight = std::max(height, 0);
    fullWidth = std::max(width, 0);
    fullRect = RECT{0, 0, fullWidth, fullHeight};
    // Deeper levels would divide by zero or leave an empty level image.
    int deepest = 0;
    while (deepest < kMaxLevel && (fullWidth >> (deepest + 1)) >= 1 && (fullHeight >> (deepest + 1)) >= 1)
        ++deepest;
    levelCount = std::max(0, std::min(count, deepest));
    levelHeight = fullHeight;
    levelWidth = fullWidth;
}

void CImageTransform::SetView(int left, int top, int right, int bottom)
{
    viewRect = RECT{left, top, right, bottom};
    viewWidth = right - left + 1;
    viewHeight = bottom - top + 1;
    viewHalfWidth = static_cast<float>((static_cast<double>(right) - left) * 0.5);
    viewHalfHeight = static_cast<float>((static_cast<double>(bottom) - top) * 0.5);
}

void CImageTransform::ComputeFitZoom(int fit, double& outX, double& outY, const RECT& source, const RECT& view)
{
    const double rx = (static_cast<double>(view.right) - view.left + 1) / (static_cast<double>(source.right) - source.left + 1);
    const double ry = (static_cast<double>(view.bottom) - view.top + 1) / (static_cast<double>(source.bottom) - source.top + 1);
    switch (fit) {
    case 1:
        zoomX = zoomY = 1.0;
        break;
    case 2:
        outX = outY = ry < rx ? ry : rx;
        break;
    case 3:
        outX = outY = ry;
        break;
    case 4:
        outX = outY = rx;
        break;
    case 5:
        outX = rx;
        outY = ry;
        break;
    default:
        break;
    }
}

void CImageTransform::ChooseLevel()
{
    // At or above full size the full-resolution level is needed, whatever zoom y says.
    if (zoomX >= 1.0) {
        level = 0;
        return;
    }
    level = levelCount;
    for (int i = 0; i < levelCount; ++i) {
        const double upper = 1.0 / static_cast<double>(1 << i);
        const double lower = upper * 0.5;
        if (lower <= zoomX && zoomX < upper)
            level = i;
    }
}

void CImageTransform::ResetFullRect()
{
    fullRect = Quarter(rotation) % 2 ? RECT{0, 0, fullHeight, fullWidth} : RECT{0, 0, fullWidth, fullHeight};
}

void CImageTransform::ResetLevelRect()
{
    levelRect = Quarter(rotation) % 2 ? RECT{0, 0, levelHeight, levelWidth} : RECT{0, 0, levelWidth, levelHeight};
}

void CImageTransform::ApplyFit()
{
    if (fitType == 0) {
        Update();
        return;
    }
    if (fitType == 1) {
        zoomX = zoomY = effectiveZoomX = effectiveZoomY = 1.0;
        level = 0;
        levelWidth = fullWidth;
        levelHeight = fullHeight;
        Update();
        return;
    }
    ResetFullRect();
    ComputeFitZoom(fitType, zoomX, zoomY, fullRect, viewRect);
    ChooseLevel();
    levelWidth = fullWidth / LevelFactor();
    levelHeight = fullHeight / LevelFactor();
    ResetLevelRect();
    ComputeFitZoom(fitType, effectiveZoomX, effectiveZoomY, levelRect, viewRect);
    Update();
}

void CImageTransform::RefitAtLevel()
{
    if (fitType == 0) {
        Update();
        return;
    }
    if (fitType == 1) {
        zoomX = zoomY = 1.0;
        level = 0;
        Update();
        return;
    }
    levelWidth = fullWidth / LevelFactor();
    levelHeight = fullHeight / LevelFactor();
    ResetLevelRect();
    ComputeFitZoom(fitType, effectiveZoomX, effectiveZoomY, levelRect, viewRect);
    Update();
}

void CImageTransform::Zoom(float factor)
{
    zoomX *= factor;
    zoomY *= factor;
    const double smallest = static_cast<double>(0.02f);
    if (zoomX > 10.0 || zoomY > 10.0) {
        zoomX = zoomY = 10.0;
    } else if (zoomX < smallest || zoomY < smallest || std::isnan(zoomX) || std::isnan(zoomY)) {
        zoomX = zoomY = smallest;
    }
    ChooseLevel();
    effectiveZoomX = LevelFactor() * zoomX;
    effectiveZoomY = LevelFactor() * zoomY;
    levelHeight = fullHeight / LevelFactor();
    levelWidth = fullWidth / LevelFactor();
    fitType = 0;
    Update();
}

void CImageTransform::RefreshScale()
{
    effectiveZoomX = LevelFactor() * zoomX;
    effectiveZoomY = LevelFactor() * zoomY;
    levelHeight = fullHeight / LevelFactor();
    levelWidth = fullWidth / LevelFactor();
    Update();
}

void CImageTransform::ComputeScaledSize()
{
    const int scaledHeight = std::max(TruncToInt(levelHeight * effectiveZoomY), 0);
    const int scaledWidth = std::max(TruncToInt(levelWidth * effectiveZoomX), 0);
    scaledRect = RECT{0, 0, scaledWidth, scaledHeight};
}

void CImageTransform::Pan(int dx, int dy)
{
    ComputeScaledSize();
    const double halfX = (static_cast<double>(viewWidth) + rotatedScaledRect.right) * 0.5;
    const double halfY = (static_cast<double>(viewHeight) + rotatedScaledRect.bottom) * 0.5;
    const double px = static_cast<double>(panX) + dx;
    const double py = static_cast<double>(panY) + dy;
    panX = TruncToInt(std::max(-halfX, std::min(px, halfX)));
    panY = TruncToInt(std::max(-halfY, std::min(py, halfY)));
    Update();
    fitType = 0;
}

void CImageTransform::Flip(bool horizontal)
{
    if (horizontal)
        horizontalFlip = !horizontalFlip;
    else
        verticalFlip = !verticalFlip;
    Update();
    fitType = 0;
}

void CImageTransform::Update()
{
    ComputeScaledSize();
    ResetLevelRect();
    rotatedScaledRect = Quarter(rotation) % 2 ? RECT{0, 0, scaledRect.bottom, scaledRect.right} : scaledRect;
    UpdateVisibleRects(rotatedScaledRect, panY, panX);
}

void CImageTransform::UpdateVisibleRects(const RECT& rs, int panYValue, int panXValue)
{
    const int sw = rs.right, sh = rs.bottom;
    const float hw = static_cast<float>(sw) * 0.5f;
    const float hh = static_cast<float>(sh) * 0.5f;
    const int q = Quarter(rotation);
    scaledHalfWidth = q % 2 ? hh : hw;
    scaledHalfHeight = q % 2 ? hw : hh;

    placedView.left = TruncToInt(hw - viewHalfWidth - static_cast<float>(panXValue));
    placedView.top = TruncToInt(hh - viewHalfHeight - static_cast<float>(panYValue));
    placedView.right = placedView.left + viewWidth;
    placedView.bottom = placedView.top + viewHeight;
    placedImage.left = TruncToInt(viewHalfWidth - hw + static_cast<float>(panXValue));
    placedImage.top = TruncToInt(viewHalfHeight - hh + static_cast<float>(panYValue));
    placedImage.right = placedImage.left + sw;
    placedImage.bottom = placedImage.top + sh;

    const RECT image = {0, 0, sw, sh};
    if (!IntersectRect(&visiblePart, &image, &placedView)) {
        sourceRect = emptyRect;
        destRect = emptyRect;
        return;
    }
    destRect = RECT{visiblePart.left - placedView.left, visiblePart.top - placedView.top,
                    visiblePart.right - placedView.left, visiblePart.bottom - placedView.top};

    const float iw = static_cast<float>(visiblePart.right - visiblePart.left);
    const float ih = static_cast<float>(visiblePart.bottom - visiblePart.top);
    const float lw = static_cast<float>(levelWidth), lh = static_cast<float>(levelHeight);
    const float ex = static_cast<float>(effectiveZoomX), ey = static_cast<float>(effectiveZoomY);
    const float fsw = static_cast<float>(sw), fsh = static_cast<float>(sh);
    RECT s;
    if (q == 0) {
        const float sx = lw / fsw, sy = lh / fsh;
        const float left = (static_cast<float>(visiblePart.left) - fsw / 2.0f) * sx + lw / 2.0f;
        const float top = (static_cast<float>(visiblePart.top) - fsh / 2.0f) * sy + lh / 2.0f;
        s.left = TruncToInt(left);
        s.right = TruncToInt(left + sx * iw);
        s.top = TruncToInt(top);
        s.bottom = TruncToInt(top + sy * ih);
        if (horizontalFlip)
            Mirror(s.left, s.right, levelWidth);
        if (verticalFlip)
            Mirror(s.top, s.bottom, levelHeight);
    } else {
        float left, top, extentX, extentY;
        if (q == 1) {
            left = lw / 2.0f - (fsh / 2.0f - static_cast<float>(visiblePart.top)) / ex;
            extentX = ih / ex;
            top = lh / 2.0f - (fsw / 2.0f - (fsw - static_cast<float>(visiblePart.right))) / ey;
            extentY = iw / ey;
        } else if (q == 2) {
            left = lw / 2.0f - (fsw / 2.0f - (fsw - static_cast<float>(visiblePart.right))) / ex;
            extentX = iw / ex;
            top = lh / 2.0f - (fsh / 2.0f - (fsh - static_cast<float>(visiblePart.bottom))) / ey;
            extentY = ih / ey;
        } else {
            left = lw / 2.0f - (fsh / 2.0f - (fsh - static_cast<float>(visiblePart.bottom))) / ex;
            extentX = ih / ex;
            top = lh / 2.0f - (fsw / 2.0f - static_cast<float>(visiblePart.left)) / ey;
            extentY = iw / ey;
        }
        s.left = TruncToInt(left);
        s.top = TruncToInt(top);
        s.right = TruncToInt(left + extentX + 0.5f);
        s.bottom = TruncToInt(top + extentY + 0.5f);
        // Flips act in view axes: for odd turns the view's x runs along the level's y.
        const bool mirrorX = q == 2 ? horizontalFlip : verticalFlip;
        const bool mirrorY = q == 2 ? verticalFlip : horizontalFlip;
        if (mirrorX)
            Mirror(s.left, s.right, levelWidth);
        if (mirrorY)
            Mirror(s.top, s.bottom, levelHeight);
    }
    s.bottom = std::min<LONG>(s.bottom, levelHeight);
    s.top = std::max<LONG>(s.top, 0);
    s.right = std::min<LONG>(s.right, levelWidth);
    s.left = std::max<LONG>(s.left, 0);
    sourceRect = s;
}

void CImageTransform::ViewToImage(float x, float y, float out[2]) const
{
    MapViewPoint(x, y, levelWidth, levelHeight, out);
}

void CImageTransform::ViewToFullImage(float x, float y, float out[2]) const
{
    MapViewPoint(x, y, fullWidth, fullHeight, out);
}

void CImageTransform::MapViewPoint(float x, float y, int width, int height, float out[2]) const
{
    const float px = x + static_cast<float>(placedView.left);
    const float py = y + static_cast<float>(placedView.top);
    const int q = Quarter(rotation);
    const double tw = q % 2 ? height : width;
    const double th = q % 2 ? width : height;
    const double sw = rotatedScaledRect.right, sh = rotatedScaledRect.bottom;
    const float a = static_cast<float>((tw + 1) / (sw + 1) * (px - sw * 0.5) + tw * 0.5);
    const float b = static_cast<float>((th + 1) / (sh + 1) * (py - sh * 0.5) + th * 0.5);
    const float lw = static_cast<float>(width), lh = static_cast<float>(height);
    float u, v;
    switch (q) {
    case 0:
        u = a;
        v = b;
        break;
    case 1:
        u = b;
        v = lh - static_cast<float>(TruncToInt(a));
        break;
    case 2:
        u = lw - a;
        v = lh - b;
        break;
    default:
        u = lw - b;
        v = static_cast<float>(TruncToInt(a));
        break;
    }
    // Flips act in view axes, as for the source rectangle and the display matrix.
    const bool mirrorU = q % 2 ? verticalFlip : horizontalFlip;
    const bool mirrorV = q % 2 ? horizontalFlip : verticalFlip;
    if (mirrorU)
        u = lw - u;
    if (mirrorV)
        v = lh - v;
    out[0] = u;
    out[1] = v;
}
