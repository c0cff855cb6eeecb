// The plane geometry of view points that the annotation objects share: nearness, points on
// segments, directions and crossings. Coordinates are view pixels within the drawing
// layer's limit, so sums of squares fit in 64 bits.
#pragma once

#include "platform/Win32.h"

#include <cstdint>

bool SamePoint(const POINT& a, const POINT& b);
// q within the 4 x 4 box around p (left and top inclusive, right and bottom exclusive).
bool IsNearPoint(const POINT& p, const POINT& q);
// p on segment ab: the detour |pa| + |pb| - |ab| is at most 0.1.
bool IsOnSegment(const POINT& a, const POINT& b, const POINT& p);
// Sine and cosine of the direction p1 -> p2; 0.0 for a segment shorter than 1e-10.
double DirectionSine(const POINT& p1, const POINT& p2);
double DirectionCosine(const POINT& p1, const POINT& p2);
// The length of segment ab.
double SegmentLength(const POINT& a, const POINT& b);
// f lies between a and b on their segment, within half a pixel of path length.
bool IsOnLine(const POINT& a, const POINT& b, const POINT& f);
// The segments p1-p2 and p3-p4 cross or touch (the touching rule is asymmetric).
bool SegmentsCross(const POINT& p1, const POINT& p2, const POINT& p3, const POINT& p4);

// The parts of a rectangle a drag can hold. The numbers are the ones boxes have always
// kept in their drag state.
enum AnnRectPart {
    kAnnRectNone = 0,
    kAnnRectLeft = 1,
    kAnnRectRight = 2,
    kAnnRectTop = 3,
    kAnnRectBottom = 4,
    kAnnRectLeftTop = 5,
    kAnnRectRightBottom = 6,
    kAnnRectRightTop = 7,
    kAnnRectLeftBottom = 8,
    kAnnRectWhole = 9 // inside a box that moves as a whole (text, stamp)
};
// The part of r at p: a corner near p (left-top, right-bottom, right-top, left-bottom
// first), else a side p lies on (left, top, right, bottom), else kAnnRectNone.
int RectPartAt(const RECT& r, const POINT& p);
// Moves the corner `part` names to (x, y); false when it names no corner.
bool MoveRectCorner(RECT& r, int part, int x, int y);
// r moved by (dx, dy), each side clamped as AnnToInt does.
RECT ShiftedRect(const RECT& r, int64_t dx, int64_t dy);
// r with left <= right and top <= bottom.
RECT SortedRect(const RECT& r);
// A box kept as two corners in the order drawn: (left, top) is the first, (right, bottom)
// the second.
inline POINT FirstCorner(const RECT& r) { return POINT{r.left, r.top}; }
inline POINT SecondCorner(const RECT& r) { return POINT{r.right, r.bottom}; }
inline RECT CornerRect(const POINT& first, const POINT& second) { return RECT{first.x, first.y, second.x, second.y}; }
