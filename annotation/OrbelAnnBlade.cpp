#include "annotation/OrbelAnnBlade.h"

namespace {

const CString kName = u"COrbelAnnBlade";

} // namespace

COrbelAnnBlade::COrbelAnnBlade() { creating = 1; }

void COrbelAnnBlade::BeginCreate(int x, int y)
{
    switch (step) {
    case 0:
        sides[0].BeginCreate(x, y);
        closing.BeginCreate(x, y);
        step = 1;
        break;
    case 1:
        sides[0].EndCreate(x, y);
        sides[1].BeginCreate(x, y);
        step = 2;
        break;
    case 2:
        sides[1].EndCreate(x, y);
        sides[2].BeginCreate(x, y);
        closing.EndCreate(x, y);
        step = 3;
        break;
    case 3: {
        sides[2].EndCreate(x, y);
        const POINT first = sides[0].viewStart;
        sides[3].SetEnds(POINT{x, y}, first, false);
        closing.SetEnds(first, first, false);
        creating = 0;
        complete = 1;
        step = 4;
        break;
    }
    default:
        break;
    }
}

void COrbelAnnBlade::EndCreate(int x, int y)
{
    if (step == 4) {
        AdjustSides(false, x, y);
        SyncCoordinates(true);
    }
    hitPart = 0;
}

void COrbelAnnBlade::DragTo(int x, int y)
{
    if (step >= 1 && step <= 3)
        sides[step - 1].DragTo(x, y);
    else if (step == 4)
        AdjustSides(true, x, y);
    lastPoint = POINT{x, y};
}

void COrbelAnnBlade::AdjustSides(bool dragging, int x, int y)
{
    if (hitPart < 1 || hitPart > 4)
        return;
    const int k = hitPart - 1;
    COrbelAnnLine& side = sides[k];
    COrbelAnnLine& next = sides[(k + 1) % 4];
    COrbelAnnLine& previous = sides[(k + 3) % 4];
    COrbelAnnLine& opposite = sides[(k + 2) % 4];
    side.DragTo(x, y);
    next.SetEnds(side.viewEnd, next.viewEnd, dragging);
    previous.SetEnds(previous.viewStart, side.viewStart, dragging);
    opposite.SetEnds(opposite.viewStart, opposite.viewEnd, false);
}

COrbelAnnObject* COrbelAnnBlade::HitTest(int x, int y)
{
    hitPart = HitPart({{&sides[0], 1}, {&sides[1], 2}, {&sides[2], 3}, {&sides[3], 4}}, x, y);
    return hitPart ? Hold(x, y) : nullptr;
}

void COrbelAnnBlade::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> visible;
        // A stored blade is kept but never shown.
        visible = 0;
    } else {
        ar << kName << int(kAnnTypeNone) << complete << visible;
    }
    SerializeMembers(ar, {&sides[0], &sides[1], &sides[2], &sides[3], &closing});
}

