#include "annotation/OrbelAnnRectangle.h"

#include "annotation/AnnShared.h"


namespace {

const CString kName = u"COrbelAnnRectangle";

} // namespace

void COrbelAnnRectangle::Outline(HDC dc, int offset) const
{
    DrawBoxOutline(dc, ShiftedRect(SortedRect(viewRect), offset, offset));
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
    dragPart = RectPartAt(viewRect, POINT{x, y});
    return dragPart != kDragNone ? Hold(x, y) : nullptr;
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
    POINT a, b;
    if (MapViewToImage(mapping, FirstCorner(viewRect), SecondCorner(viewRect), a, b))
        imageRect = CornerRect(a, b);
}

void COrbelAnnRectangle::ImageToView()
{
    POINT a, b;
    if (MapImageToView(mapping, FirstCorner(imageRect), SecondCorner(imageRect), a, b))
        viewRect = CornerRect(a, b);
}
