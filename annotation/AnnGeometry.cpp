#include "annotation/AnnGeometry.h"

#include "annotation/AnnViewMapping.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

double Length(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

int64_t Orientation(const POINT& a, const POINT& b, const POINT& c)
{
    return (int64_t(a.y) - c.y) * b.x + (int64_t(c.y) - b.y) * a.x + (int64_t(b.y) - a.y) * c.x;
}

// The two values lie on different sides (by the sign bit) or both on the line.
bool Straddles(int64_t d1, int64_t d2) { return (d1 < 0) != (d2 < 0) || (d1 == 0 && d2 == 0); }

} // namespace

bool SamePoint(const POINT& a, const POINT& b) { return a.x == b.x && a.y == b.y; }

double SegmentLength(const POINT& a, const POINT& b)
{
    // Coordinates stay within 2^28, so the squares' sum fits in 64 bits.
    const int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
    return std::sqrt(double(dx * dx + dy * dy));
}

bool IsNearPoint(const POINT& p, const POINT& q)
{
    const int64_t px = p.x, py = p.y;
    return q.x >= px - 2 && q.x < px + 2 && q.y >= py - 2 && q.y < py + 2;
}

bool IsOnSegment(const POINT& a, const POINT& b, const POINT& p)
{
    const double pa = Length(double(a.x) - p.x, double(a.y) - p.y);
    const double pb = Length(double(b.x) - p.x, double(b.y) - p.y);
    const double ab = Length(double(b.x) - a.x, double(b.y) - a.y);
    return pa + pb - ab <= 0.1;
}

double DirectionSine(const POINT& p1, const POINT& p2)
{
    const double len = Length(double(p2.x) - p1.x, double(p2.y) - p1.y);
    return len < 1e-10 ? 0.0 : (double(p2.y) - p1.y) / len;
}

double DirectionCosine(const POINT& p1, const POINT& p2)
{
    const double len = Length(double(p2.x) - p1.x, double(p2.y) - p1.y);
    return len < 1e-10 ? 0.0 : (double(p2.x) - p1.x) / len;
}

bool IsOnLine(const POINT& a, const POINT& b, const POINT& f)
{
    return std::fabs(SegmentLength(a, b) - (SegmentLength(a, f) + SegmentLength(f, b))) < 0.5;
}

bool SegmentsCross(const POINT& p1, const POINT& p2, const POINT& p3, const POINT& p4)
{
    if (SamePoint(p1, p2) || SamePoint(p3, p4))
        return false;
    return Straddles(Orientation(p1, p2, p3), Orientation(p1, p2, p4)) &&
           Straddles(Orientation(p3, p4, p1), Orientation(p3, p4, p2));
}

int RectPartAt(const RECT& r, const POINT& p)
{
    const POINT c11{r.left, r.top}, c22{r.right, r.bottom}, c21{r.right, r.top}, c12{r.left, r.bottom};
    if (IsNearPoint(c11, p))
        return kAnnRectLeftTop;
    if (IsNearPoint(c22, p))
        return kAnnRectRightBottom;
    if (IsNearPoint(c21, p))
        return kAnnRectRightTop;
    if (IsNearPoint(c12, p))
        return kAnnRectLeftBottom;
    if (IsOnSegment(c11, c12, p))
        return kAnnRectLeft;
    if (IsOnSegment(c11, c21, p))
        return kAnnRectTop;
    if (IsOnSegment(c21, c22, p))
        return kAnnRectRight;
    if (IsOnSegment(c22, c12, p))
        return kAnnRectBottom;
    return kAnnRectNone;
}

bool MoveRectCorner(RECT& r, int part, int x, int y)
{
    if (part < kAnnRectLeftTop || part > kAnnRectLeftBottom)
        return false;
    (part == kAnnRectLeftTop || part == kAnnRectLeftBottom ? r.left : r.right) = x;
    (part == kAnnRectLeftTop || part == kAnnRectRightTop ? r.top : r.bottom) = y;
    return true;
}

RECT ShiftedRect(const RECT& r, int64_t dx, int64_t dy)
{
    return RECT{AnnOffset(r.left, dx), AnnOffset(r.top, dy), AnnOffset(r.right, dx), AnnOffset(r.bottom, dy)};
}

RECT SortedRect(const RECT& r)
{
    return RECT{std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
                std::max(r.top, r.bottom)};
}
