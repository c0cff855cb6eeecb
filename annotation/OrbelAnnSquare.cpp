#include "annotation/OrbelAnnSquare.h"

#include "annotation/AnnShared.h"

#include <algorithm>

namespace {

const CString kName = u"COrbelAnnSquare";

} // namespace

COrbelAnnSquare::COrbelAnnSquare() : COrbelAnnMeasure(kAnnTypeSquare) {}

void COrbelAnnSquare::UpdateValueText()
{
    if (rect.lastDragPart < COrbelAnnRectangle::kDragCorner11 || rect.lastDragPart > COrbelAnnRectangle::kDragCorner12)
        return;
    const RECT& r = rect.imageRect;
    const int xmin = std::min(r.left, r.right), xmax = std::max(r.left, r.right);
    const int ymin = std::min(r.top, r.bottom), ymax = std::max(r.top, r.bottom);
    const double width = RulerLength(mapping, POINT{xmin, ymin}, POINT{xmax, ymin});
    const double height = RulerLength(mapping, POINT{xmax, ymin}, POINT{xmax, ymax});
    label.SetText(FormatMeasure(width * height, IsSpacingKnown(mapping) ? "mm2" : "pt2"));
}

POINT COrbelAnnSquare::LabelAnchor() const
{
    const RECT& v = rect.viewRect;
    return POINT{std::max(v.left, v.right), std::max(v.top, v.bottom)};
}

AnnCorners COrbelAnnSquare::FigureCorners() const
{
    const RECT& v = rect.viewRect;
    return {{v.left, v.top}, {v.right, v.top}, {v.right, v.bottom}, {v.left, v.bottom}};
}

void COrbelAnnSquare::Serialize(COrbelArchive& ar)
{
    SerializeRecord(ar, kName, kAnnTypeSquare, {&rect, &label});
}

