#include "annotation/OrbelAnnLabel.h"

#include <algorithm>

namespace {

const CString kName = u"COrbelAnnLabel";

} // namespace

void COrbelAnnLabel::SettleArrow()
{
    COrbelAnnLine& shaft = arrow.shaft;
    shaft.UpdateShadow();
    shaft.creating = 0;
    shaft.dragPart = COrbelAnnLine::kDragNone;
    shaft.complete = 1;
    arrow.creating = 0;
    arrow.complete = 1;
    arrow.UpdateHead(false);
}

void COrbelAnnLabel::Draw(HDC dc)
{
    if (!complete)
        return;
    arrow.Draw(dc);
    text.Draw(dc);
}

void COrbelAnnLabel::BeginCreate(int x, int y)
{
    creating = 1;
    complete = 0;
    text.BeginCreate(x, y);
}

void COrbelAnnLabel::EndCreate(int x, int y)
{
    creating = 0;
    text.EndCreate(x, y);
    AttachLeaderToText();
}

void COrbelAnnLabel::PlaceAt(int x, int y, int targetX, int targetY)
{
    text.FitToText(x, y);
    const RECT& r = text.viewRect;
    const int x2 = x < targetX ? std::max(r.left, r.right) : x;
    const int y2 = y < targetY ? std::min(r.top, r.bottom) : y;
    SetLeader(x2, y2, targetX, targetY);
    complete = 1;
}

void COrbelAnnLabel::SetLeader(int x2, int y2, int x1, int y1)
{
    arrow.shaft.viewStart = POINT{x2, y2};
    arrow.shaft.viewEnd = POINT{x1, y1};
    SettleArrow();
}

void COrbelAnnLabel::PointLeaderAt(int x1, int y1)
{
    arrow.shaft.viewEnd = POINT{x1, y1};
    SettleArrow();
}

void COrbelAnnLabel::AttachLeaderToText()
{
    arrow.shaft.viewStart = POINT{text.viewRect.left, text.viewRect.top};
    SettleArrow();
}

void COrbelAnnLabel::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading())
        ar >> complete >> selected;
    else
        ar << kName << complete << selected;
    SerializeMembers(ar, {&arrow, &text});
}

void COrbelAnnLabel::ViewToImage()
{
    arrow.ViewToImage();
    text.ViewToImage();
}

void COrbelAnnLabel::ImageToView()
{
    arrow.ImageToView();
    text.ImageToView();
    AttachLeaderToText();
}

void COrbelAnnLabel::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    arrow.SetGeometry(m);
    text.SetGeometry(m);
}
