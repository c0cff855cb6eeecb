#include "annotation/OrbelAnnArrow.h"

#include "annotation/AnnShared.h"

namespace {

const CString kName = u"COrbelAnnArrow";

} // namespace

void COrbelAnnArrow::Draw(HDC dc)
{
    if (creating) {
        AnnRopScope rop(dc, R2_XORPEN);
        DrawMembers(dc);
    } else if (complete) {
        DrawMembers(dc);
    }
}

void COrbelAnnArrow::DrawMembers(HDC dc)
{
    if (visible)
        DrawEach(dc, {&shaft, &wing1, &wing2});
}

void COrbelAnnArrow::BeginCreate(int x, int y)
{
    creating = 1;
    complete = 0;
    shaft.BeginCreate(x, y);
}

void COrbelAnnArrow::DragTo(int x, int y)
{
    shaft.DragTo(x, y);
    UpdateHead(true);
}

void COrbelAnnArrow::EndCreate(int x, int y)
{
    creating = 0;
    complete = 1;
    shaft.EndCreate(x, y);
    UpdateHead(false);
}

COrbelAnnObject* COrbelAnnArrow::HitTest(int x, int y)
{
    return shaft.HitTest(x, y) ? Hold(x, y) : nullptr;
}

void COrbelAnnArrow::UpdateHead(bool creatingNow)
{
    const POINT e = shaft.viewEnd;
    const double c = DirectionCosine(e, shaft.viewStart);
    const double s = DirectionSine(e, shaft.viewStart);
    wing1Tip = POINT{AnnToInt(e.x + 10 * c - 5 * s + 0.5), AnnToInt(e.y + 10 * s + 5 * c + 0.5)};
    wing2Tip = POINT{AnnToInt(e.x + 10 * c + 5 * s + 0.5), AnnToInt(e.y + 10 * s - 5 * c + 0.5)};
    wing1.SetEnds(e, wing1Tip, creatingNow);
    wing2.SetEnds(e, wing2Tip, creatingNow);
}

void COrbelAnnArrow::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading())
        ar >> complete >> selected;
    else
        ar << kName << complete << selected;
    SerializeMembers(ar, {&shaft, &wing1, &wing2});
}

void COrbelAnnArrow::ViewToImage() { shaft.ViewToImage(); }

void COrbelAnnArrow::ImageToView()
{
    shaft.ImageToView();
    UpdateHead(false);
}

void COrbelAnnArrow::SetGeometry(AnnViewMapping* m)
{
    mapping = m;
    shaft.SetGeometry(m);
}

void COrbelAnnArrow::SetSelected(bool on)
{
    shaft.SetSelected(on);
    wing1.SetSelected(on);
    wing2.SetSelected(on);
}
