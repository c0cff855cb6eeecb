#include "annotation/OrbelAnnSquare.h"

#include "annotation/AnnShared.h"

#include <algorithm>
#include <cmath>

namespace {

const CString kName = u"COrbelAnnSquare";

} // namespace

COrbelAnnSquare::COrbelAnnSquare() : COrbelAnnComposite(kAnnTypeSquare) {}

void COrbelAnnSquare::DrawMembers(HDC dc)
{
    if (!visible)
        return;
    rect.Draw(dc);
    label.Draw(dc);
}

void COrbelAnnSquare::Draw(HDC dc)
{
    if (!visible)
        return;
    if (marked) {
        DrawMembers(dc);
        marked = 0;
    } else if (creating && activePart == 1) {
        {
            AnnRopScope rop(dc, R2_XORPEN);
            rect.Draw(dc);
        }
        label.Draw(dc);
    } else {
        DrawMembers(dc);
    }
}

void COrbelAnnSquare::BeginCreate(int x, int y)
{
    if (activePart == 1)
        rect.BeginCreate(x, y);
    else if (activePart == 2)
        label.BeginCreate(x, y);
    creating = 1;
}

void COrbelAnnSquare::DragTo(int x, int y)
{
    if (activePart == 1)
        rect.DragTo(x, y);
    else if (activePart == 2)
        label.DragTo(x, y);
}

void COrbelAnnSquare::EndCreate(int x, int y)
{
    if (activePart == 1) {
        rect.EndCreate(x, y);
        rect.ViewToImage();
        UpdateAreaText();
        PlaceSquareLabel();
    } else if (activePart == 2) {
        label.EndCreate(x, y);
        UpdateAreaText();
        PlaceSquareLabel();
    }
    creating = 0;
    activePart = 0;
    complete = 1;
    label.ViewToImage();
}

COrbelAnnObject* COrbelAnnSquare::HitTest(int x, int y)
{
    activePart = HitPart({{&rect, 1}, {&label, 2}}, x, y);
    return activePart ? Hold(x, y) : nullptr;
}

void COrbelAnnSquare::UpdateAreaText()
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

void COrbelAnnSquare::PlaceSquareLabel()
{
    const RECT& v = rect.viewRect;
    if (!complete) {
        const int ax = std::max(v.left, v.right), ay = std::max(v.top, v.bottom);
        label.PlaceAt(AnnOffset(ax, 10), AnnOffset(ay, 10), ax, ay);
        return;
    }
    const RECT& t = label.text.viewRect;
    const POINT ours[4] = {{v.left, v.top}, {v.right, v.top}, {v.right, v.bottom}, {v.left, v.bottom}};
    const POINT theirs[4] = {{t.left, t.top}, {t.right, t.top}, {t.right, t.bottom}, {t.left, t.bottom}};
    POINT bestOurs = ours[0], bestTheirs = theirs[0];
    double best = -1;
    for (const POINT& a : ours)
        for (const POINT& b : theirs) {
            const double d = std::hypot(double(a.x) - b.x, double(a.y) - b.y);
            if (best < 0 || d < best) {
                best = d;
                bestOurs = a;
                bestTheirs = b;
            }
        }
    label.SetLeader(bestTheirs.x, bestTheirs.y, bestOurs.x, bestOurs.y);
}

void COrbelAnnSquare::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> selected;
    } else {
        ar << kName << int(kAnnTypeSquare) << complete << selected;
    }
    SerializeMembers(ar, {&rect, &label});
}

