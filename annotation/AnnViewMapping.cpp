#include "annotation/AnnViewMapping.h"

#include <cmath>
#include <cstddef>

namespace {

// A zoom that could not have come from a real view counts as 1:1.
double UsableZoom(double zoom) { return zoom == 0.0 || !std::isfinite(zoom) ? 1.0 : zoom; }

int Rotation(int quarterTurns) { return ((quarterTurns % 4) + 4) % 4; }

} // namespace

int AnnToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= kAnnCoordinateLimit)
        return kAnnCoordinateLimit;
    if (value <= -kAnnCoordinateLimit)
        return -kAnnCoordinateLimit;
    return static_cast<int>(value);
}

int AnnOffset(int a, int64_t d) { return AnnToInt(double(int64_t(a) + d)); }

double ViewAspect(const AnnViewMapping* m)
{
    if (!m)
        return 1.0;
    const bool known = m->scaleA > 0 && m->scaleB > 0;
    // Columns are spaced by scaleA, rows by scaleB; an odd turn lays the image's rows
    // along the view's x.
    const bool odd = Rotation(m->quarterTurns) % 2 != 0;
    const double alongX = known ? (odd ? m->scaleB : m->scaleA) : 1.0;
    const double alongY = known ? (odd ? m->scaleA : m->scaleB) : 1.0;
    const double aspect = (alongY / UsableZoom(m->zoomY)) / (alongX / UsableZoom(m->zoomX));
    return std::isfinite(aspect) && aspect > 0 ? aspect : 1.0;
}

POINT MapViewToImage(const AnnViewMapping& m, int x, int y)
{
    const int x1 = AnnToInt((double(x) - m.originX) / UsableZoom(m.zoomX) + 0.5);
    const int y1 = AnnToInt((double(y) - m.originY) / UsableZoom(m.zoomY) + 0.5);
    int x2 = x1, y2 = y1;
    switch (Rotation(m.quarterTurns)) {
    case 1:
        x2 = y1;
        y2 = AnnOffset(m.extentY, -int64_t(x1));
        break;
    case 2:
        x2 = AnnOffset(m.extentX, -int64_t(x1));
        y2 = AnnOffset(m.extentY, -int64_t(y1));
        break;
    case 3:
        x2 = AnnOffset(m.extentX, -int64_t(y1));
        y2 = x1;
        break;
    default:
        break;
    }
    if (m.mirror & 0xFF)
        x2 = AnnOffset(m.extentX, -int64_t(x2));
    return POINT{x2, y2};
}

POINT MapImageToView(const AnnViewMapping& m, int x, int y)
{
    if (m.mirror & 0xFF)
        x = AnnOffset(m.extentX, -int64_t(x));
    int x1 = x, y1 = y;
    switch (Rotation(m.quarterTurns)) {
    case 1:
        x1 = AnnOffset(m.extentY, -int64_t(y));
        y1 = x;
        break;
    case 2:
        x1 = AnnOffset(m.extentX, -int64_t(x));
        y1 = AnnOffset(m.extentY, -int64_t(y));
        break;
    case 3:
        x1 = y;
        y1 = AnnOffset(m.extentX, -int64_t(x));
        break;
    default:
        break;
    }
    return POINT{AnnToInt(x1 * UsableZoom(m.zoomX) + m.originX + 0.5),
                 AnnToInt(y1 * UsableZoom(m.zoomY) + m.originY + 0.5)};
}

namespace {

using PointMap = POINT (*)(const AnnViewMapping&, int, int);

bool MapPair(PointMap map, const AnnViewMapping* m, const POINT& a, const POINT& b, POINT& toA, POINT& toB)
{
    if (!m)
        return false;
    toA = map(*m, a.x, a.y);
    toB = map(*m, b.x, b.y);
    return true;
}

} // namespace

bool MapViewToImage(const AnnViewMapping* m, const POINT& a, const POINT& b, POINT& toA, POINT& toB)
{
    return MapPair(MapViewToImage, m, a, b, toA, toB);
}

bool MapImageToView(const AnnViewMapping* m, const POINT& a, const POINT& b, POINT& toA, POINT& toB)
{
    return MapPair(MapImageToView, m, a, b, toA, toB);
}

// The viewer core fills the record field by field; its layout is fixed all the same.
static_assert(offsetof(AnnViewGeometry, zoomX) == 8 && offsetof(AnnViewGeometry, zoomY) == 16 &&
                  offsetof(AnnViewGeometry, scaleA) == 48 && offsetof(AnnViewGeometry, scaleB) == 56,
              "AnnViewGeometry keeps its doubles at 8, 16, 48 and 56");
