// The view record the viewer core hands to an image's annotations whenever the view
// changes: how image pixels map to the cell's view. 64 bytes, fields in this order.
#pragma once

#include <cstdint>

struct AnnViewGeometry {
    int32_t mirror;       // 0 or 1: the combined horizontal mirror
    int32_t quarterTurns; // 0..3, clockwise
    double zoomX;         // view pixels per image pixel
    double zoomY;
    int32_t originX;      // the image's placement rectangle in the view; origin is the
    int32_t originY;      // view position of the image's corner
    int32_t rect2;
    int32_t rect3;
    int32_t extentX;      // image width and height across which mirroring and
    int32_t extentY;      // rotation reflect
    double scaleA;        // pixel spacing along x and y, millimetres per image pixel
    double scaleB;
};

static_assert(sizeof(AnnViewGeometry) == 64, "AnnViewGeometry is 64 bytes");
