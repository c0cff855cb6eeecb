#include "annotation/AnnGeometry.h"

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
