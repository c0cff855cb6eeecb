// Each annotation document's mapping between view coordinates (client pixels of the
// image window) and image coordinates (image pixels). Stored coordinates are untrusted: every conversion computes in
// double, truncates toward zero and clamps to the drawing layer's coordinate limit.
#pragma once

#include "annotation/AnnGeometry.h"
#include "annotation/AnnViewGeometry.h"
#include "platform/Win32.h"

#include <cstdint>

// The viewer core's geometry record as last handed over, at each view change; until then
// a mapping that maps the image 1:1 with the mirror set and the spacing unknown. Only the
// mirror's low byte is tested; a scale below 0 is an unknown spacing.
struct AnnViewMapping : AnnViewGeometry {
    AnnViewMapping() : AnnViewGeometry{1, 0, 1.0, 1.0, 0, 0, 0, 0, 0, 0, -1.0, -1.0} {}

    HWND window = nullptr; // the document's window; not part of the geometry record
};

// The largest coordinate magnitude any conversion yields.
constexpr int kAnnCoordinateLimit = 1 << 28;

// Truncates toward zero and clamps to +-kAnnCoordinateLimit; NaN gives 0.
int AnnToInt(double value);
// a + d, clamped as AnnToInt does.
int AnnOffset(int a, int64_t d);

// What a view step down is worth against one to the right, in millimetres on the patient
// (in image pixels while the spacing is unknown): angles are measured on the anatomy, not
// on the screen. 1 without a mapping, for square pixels shown at equal zooms, and for any
// value that could not come from a real view.
double ViewAspect(const AnnViewMapping* mapping);

POINT MapViewToImage(const AnnViewMapping& mapping, int x, int y);
POINT MapImageToView(const AnnViewMapping& mapping, int x, int y);
// Both ends of a segment (or corners of a box) mapped into `to`; false, and nothing
// written, without a mapping.
bool MapViewToImage(const AnnViewMapping* mapping, const POINT& a, const POINT& b, POINT& toA, POINT& toB);
bool MapImageToView(const AnnViewMapping* mapping, const POINT& a, const POINT& b, POINT& toA, POINT& toB);
