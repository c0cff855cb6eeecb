// The display geometry of an image as callers outside the image need it (the annotation
// layer's mapping, the display-state text's orientation words).
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>

struct ImageDisplayState {
    int32_t mirrored = 0;     // 0 or 1
    int32_t quarterTurns = 0; // clockwise, 0..3, flips folded in
    double zoomX = 1.0;
    double zoomY = 1.0;
    int32_t panX = 0;
    int32_t panY = 0;
    RECT placedImage = {0, 0, 0, 0}; // the scaled image in view coordinates
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    float spacingRow = -1.0f;    // (0028,0030) first value: between rows (y)
    float spacingColumn = -1.0f; // second value: between columns (x)
};
