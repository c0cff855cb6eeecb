#include "annotation/OrbelAnnLine.h"

#include "annotation/AnnShared.h"

#include <cmath>

namespace {

const CString kName = u"COrbelAnnLine";

void Stroke(HDC dc, const POINT& a, const POINT& b, int dx, int dy)
{
    MoveToEx(dc, AnnOffset(a.x, dx), AnnOffset(a.y, dy), nullptr);
    LineTo(dc, AnnOffset(b.x, dx), AnnOffset(b.y, dy));
}

} // namespace

COrbelAnnLine::COrbelAnnLine() { creating = 1; }

void COrbelAnnLine::Draw(HDC dc)
{
    if (marked) {
        DrawNormal(dc);
        marked = 0;
    } else if (creating) {
        AnnRopScope rop(dc, R2_XORPEN);
        if (visible) {
            AnnPenScope pen(dc);
            pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
            Stroke(dc, viewStart, viewEnd, 0, 0);
        }
    } else if (complete) {
        DrawNormal(dc);
    }
}

void COrbelAnnLine::DrawNormal(HDC dc)
{
    if (!visible)
        return;
    AnnPenScope pen(dc);
    pen.Use(selected ? kAnnPenDottedBlack : kAnnPenBlack);
    Stroke(dc, viewStart, viewEnd, shadowDx, shadowDy);
    pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
    Stroke(dc, viewStart, viewEnd, 0, 0);
}

void COrbelAnnLine::BeginCreate(int x, int y)
{
    creating = 1;
    complete = 0;
    viewStart = viewEnd = POINT{x, y};
    dragPart = kDragEnd;
    lastX = x;
    lastY = y;
}

void COrbelAnnLine::DragTo(int x, int y)
{
    switch (dragPart) {
    case kDragEnd:
        viewEnd = POINT{x, y};
        break;
    case kDragStart:
        viewStart = POINT{x, y};
        break;
    case kDragWhole: {
        const int64_t dx = int64_t(x) - lastX, dy = int64_t(y) - lastY;
        viewStart = POINT{AnnOffset(viewStart.x, dx), AnnOffset(viewStart.y, dy)};
        viewEnd = POINT{AnnOffset(viewEnd.x, dx), AnnOffset(viewEnd.y, dy)};
        lastX = x;
        lastY = y;
        break;
    }
    default:
        break;
    }
}

void COrbelAnnLine::EndCreate(int x, int y)
{
    creating = 0;
    complete = 1;
    UpdateShadow(); // from the points before this last move
    DragTo(x, y);
    dragPart = kDragNone;
}

COrbelAnnObject* COrbelAnnLine::HitTest(int x, int y)
{
    const POINT p{x, y};
    dragPart = kDragNone;
    if (IsNearPoint(viewStart, p))
        dragPart = kDragStart;
    else if (IsNearPoint(viewEnd, p))
        dragPart = kDragEnd;
    else if (IsOnSegment(viewStart, viewEnd, p))
        dragPart = kDragWhole;
    else
        return nullptr;
    lastX = x;
    lastY = y;
    return Hold(x, y);
}

void COrbelAnnLine::UpdateShadow()
{
    const int64_t dx = int64_t(viewEnd.x) - viewStart.x;
    const int64_t dy = int64_t(viewEnd.y) - viewStart.y;
    const bool shallow = dx != 0 && std::fabs(float(dy) / float(dx)) <= 1.0f;
    shadowDx = shallow ? 0 : 1;
    shadowDy = shallow ? 1 : 0;
}

void COrbelAnnLine::SetEnds(const POINT& start, const POINT& end, bool creatingNow)
{
    viewStart = start;
    viewEnd = end;
    UpdateShadow();
    dragPart = kDragNone;
    creating = creatingNow ? 1 : 0;
    complete = creatingNow ? 0 : 1;
}

void COrbelAnnLine::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        ar >> complete >> creating >> selected;
        ar >> imageStart.x >> imageStart.y >> imageEnd.x >> imageEnd.y;
    } else {
        ar << kName << complete << creating << selected;
        ar << int(imageStart.x) << int(imageStart.y) << int(imageEnd.x) << int(imageEnd.y);
    }
}

void COrbelAnnLine::ViewToImage() { MapViewToImage(mapping, viewStart, viewEnd, imageStart, imageEnd); }

void COrbelAnnLine::ImageToView()
{
    if (MapImageToView(mapping, imageStart, imageEnd, viewStart, viewEnd))
        UpdateShadow();
}
