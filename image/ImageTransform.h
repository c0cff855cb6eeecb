// View geometry of one displayed image: zoom, fit type, resolution level, pan, quarter
// turns and flips, and from these the visible source rectangle (what is decoded) and the
// destination rectangle (where it lies in the view).
#pragma once

#include "platform/WinTypes.h"

class CImageTransform {
public:
    CImageTransform();
    virtual ~CImageTransform();

    void Reset();
    // Height first. The level count is kept to 15 and to the deepest level at which both
    // sides are still at least one pixel.
    void Init(int height, int width, int levelCount);
    void SetView(int left, int top, int right, int bottom);
    void ApplyFit();
    void RefitAtLevel();
    void Zoom(float factor);
    void RefreshScale();
    void Pan(int dx, int dy);
    void Flip(bool horizontal);
    void Update();
    // Level-image coordinates of a view point.
    void ViewToImage(float x, float y, float out[2]) const;
    // Full-resolution image coordinates of a view point, whatever level is shown.
    void ViewToFullImage(float x, float y, float out[2]) const;

    void ChooseLevel();
    void ComputeFitZoom(int fit, double& outX, double& outY, const RECT& source, const RECT& view);
    void UpdateVisibleRects(const RECT& rotatedScaled, int panYValue, int panXValue);
    void ResetFullRect();
    void ResetLevelRect();

    // 2^level, in 32 bits.
    int LevelFactor() const { return 1 << level; }

    // Members in order. The owner sets rotation and pan directly, then calls Update.
    double zoomX, zoomY;
    double effectiveZoomX, effectiveZoomY;
    RECT fullRect;
    RECT levelRect;
    RECT sourceRect;
    RECT scaledRect;
    RECT viewRect;
    RECT destRect;
    RECT rotatedScaledRect;
    RECT visiblePart;
    RECT placedView;
    RECT placedImage;
    RECT emptyRect;
    float scaledHalfWidth, scaledHalfHeight;
    float viewHalfWidth, viewHalfHeight;
    int panY, panX;
    int fitType;
    bool horizontalFlip, verticalFlip;
    int levelCount;
    int rotation;
    int level;
    int levelHeight, levelWidth;
    int fullHeight, fullWidth;
    int viewHeight, viewWidth;

private:
    void ComputeScaledSize();
    // A view point mapped onto an image of w x h spanning the scaled rectangle.
    void MapViewPoint(float x, float y, int w, int h, float out[2]) const;
};

// Truncation toward zero of a value that may be out of range or not a number: kept to
// +-2^30 (NaN gives 0), so geometry never converts an unrepresentable value.
int TruncToInt(double v);
