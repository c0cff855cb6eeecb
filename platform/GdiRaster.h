// The drawing core the metafile player draws through: device-space float outlines filled
// by one scan-line filler (alternate and winding), cosmetic lines by Bresenham with style
// patterns, wide geometric pens turned into outlines filled winding, brushes sampled per
// pixel (solid, hatch, pattern) and regions made from outlines.
//
// Coordinates: pixel (x, y) is the point (x, y). A fill covers pixel (x, y) when that
// point lies inside, with crossings counted half-open (xs <= x < xe, edges top-inclusive),
// so a rectangle from 10 to 40 covers pixels 10..39 as GDI's fills do. Every routine
// keeps to the box it is given; hostile coordinates cost no memory or time beyond it.
#pragma once

#include "platform/GdiInternal.h"

#include <memory>
#include <vector>

namespace platform {
namespace gdi {

struct PointF {
    double x = 0, y = 0;
};

struct Contour {
    std::vector<PointF> pts;
    bool closed = false;
};
using Outline = std::vector<Contour>;

struct Span {
    int y, x0, x1; // pixels x0 <= x < x1 of row y
};

// How a brush paints: solid, one of six hatches over the background, a tiled pattern.
struct Paint {
    enum Kind { None, Solid, Hatch, Pattern } kind = None;
    COLORREF colour = 0;
    int hatch = 0;
    int width = 0, height = 0;           // pattern
    std::shared_ptr<const std::vector<COLORREF>> pixels; // pattern, top row first
    bool mono = false;                   // pixels 0 and 1: text and background colours, when painting
    int originX = 0, originY = 0;        // the device pixel where tiles and hatches start
    // The pattern's colour at device pixel (x, y); false where a hatch leaves the background.
    bool at(int x, int y, COLORREF& c) const;
};

enum class Cap { Round, Square, Flat };
enum class Join { Round, Bevel, Miter };

struct Stroke {
    bool visible = true;
    COLORREF colour = 0;
    double width = 1;          // device pixels; 1 or less draws a cosmetic line
    std::vector<double> dash;  // on, off, ... lengths in device pixels; empty: solid
    Cap cap = Cap::Round;
    Join join = Join::Round;
    double miterLimit = 10;
};

// What a drawing call needs besides its shape.
struct Background {
    bool opaque = true;
    COLORREF colour = 0xFFFFFF;
};

// Spans of the outline's interior inside box, each pixel once, rows in order.
void scanFill(const Outline& outline, bool winding, const RECT& box, std::vector<Span>& out);

// Paints spans with a brush and a binary raster operation, inside the target's allowed area.
void paintSpans(const Target& t, const std::vector<Span>& spans, const Paint& paint, const Background& bk, int rop2);

// Strokes the outline's contours (closed ones join their ends).
void strokeOutline(const Target& t, const Outline& outline, const Stroke& pen, const Background& bk, int rop2);

// The wide pen's outline around the contours, to be filled winding (paths' widening).
Outline widen(const Outline& outline, const Stroke& pen);

// Cuts contours into the dashes of a pattern (lengths along the line).
Outline dashed(const Outline& outline, const std::vector<double>& dash);

// A region of device rectangles covering the outline's interior within box.
Region regionOf(const Outline& outline, bool winding, const RECT& box);

// Points of a cubic Bézier from p0 to p3 (p0 excluded), enough to look smooth at its size
// and at most 'most' (at least one).
void flattenBezier(const PointF& p0, const PointF& p1, const PointF& p2, const PointF& p3, std::vector<PointF>& out,
                   int most = 200);

} // namespace gdi
} // namespace platform
