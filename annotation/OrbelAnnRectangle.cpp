#include "annotation/OrbelAnnRectangle.h"

#include "annotation/AnnShared.h"

#include <algorithm>

namespace {

const CString kName = u"COrbelAnnRectangle";

} // namespace

void COrbelAnnRectangle::Outline(HDC dc, int offset) const
{
    const RECT& r = viewRect;
    const int left = AnnOffset(std::min(r.left, r.right), offset), right = AnnOffset(std::max(r.left, r.right), offset);
    const int top = AnnOffset(std::min(r.top, r.bottom), offset), bottom = AnnOffset(std::max(r.top, r.bottom), offset);
    MoveToEx(dc, left, top, nullptr);
    LineTo(dc, right, top);
    LineTo(dc, right, bottom);
    LineTo(dc, left, bottom);
    LineTo(dc, left, top);
}

void COrbelAnnRectangle::Draw(HDC dc)
{
    const bool normal = marked || !creating;
    marked = 0;
    if (!visible)
        return;
    AnnPenScope pen(dc);
    if (normal) {
        pen.Use(selected ? kAnnPenDottedBlack : kAnnPenBlack);
        Outline(dc, 1);
        pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
        Outline(dc, 0);
    } else {
        AnnRopScope rop(dc, R2_XORPEN);
        pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
        Outline(dc, 0);
    }
}

void COrbelAnnRectangle::BeginCreate(int x, int y)
{
    viewRect = RECT{x, y, x, y};
    dragPart = kDragCorner22;
    creating = 1;
}

void COrbelAnnRectangle::DragTo(int x, int y)
{
    if (MoveRectCorner(viewRect, dragPart, x, y) || dragPart <= kDragNone || dragPart > kDragBottom)
        return;
    viewRect = ShiftedRect(viewRect, int64_t(x) - lastPoint.x, int64_t(y) - lastPoint.y);
    lastPoint = POINT{x, y};
}

void COrbelAnnRectangle::EndCreate(int x, int y)
{
    DragTo(x, y);
    creating = 0;
    complete = 1;
    lastDragPart = dragPart;
    dragPart = kDragNone;
}

COrbelAnnObject* COrbelAnnRectangle::HitTest(int x, int y)
{
    const POINT p{x, y};
    dragPart = RectPartAt(viewRect, p);
    if (dragPart == kDragNone)
        return nullptr;
    creating = 1;
    lastPoint = p;
    marked = 1;
    return this;
}

void COrbelAnnRectangle::Serialize(COrbelArchive& ar)
{
    RECT& r = imageRect;
    if (ar.IsLoading()) {
        ar >> complete >> creating >> selected >> r.left >> r.top >> r.right >> r.bottom;
    } else {
        ar << kName << complete << creating << selected;
        ar << int(r.left) << int(r.top) << int(r.right) << int(r.bottom);
    }
}

void COrbelAnnRectangle::ViewToImage()
{
    if (!mapping)
        return;
    const POINT a = MapViewToImage(*mapping, viewRect.left, viewRect.top);
    const POINT b = MapViewToImage(*mapping, viewRect.right, viewRect.bottom);
    imageRect = RECT{a.x, a.y, b.x, b.y};
}

void COrbelAnnRectangle::ImageToView()
{
    if (!mapping)
        return;
    const POINT a = MapImageToView(*mapping, imageRect.left, imageRect.top);
    const POINT b = MapImageToView(*mapping, imageRect.right, imageRect.bottom);
    viewRect = RECT{a.x, a.y, b.x, b.y};
}
