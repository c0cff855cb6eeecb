#include "annotation/OrbelAnnCobbAngle.h"

#include <cmath>

namespace {

const CString kName = u"COrbelAnnCobbAngle";

} // namespace

POINT PerpendicularFoot(const COrbelAnnLine& line, const POINT& p)
{
    const POINT a = line.viewStart, b = line.viewEnd;
    const double c = DirectionCosine(a, b), s = DirectionSine(a, b);
    const double t = std::trunc((double(p.x) - a.x) * c + (double(p.y) - a.y) * s);
    return POINT{AnnOffset(a.x, AnnToInt(t * c)), AnnOffset(a.y, AnnToInt(t * s))};
}

COrbelAnnCobbAngle::COrbelAnnCobbAngle() : COrbelAnnComposite(kAnnTypeCobbAngle)
{
    creating = 1;
    gauge.hideArms = 1;
}

void COrbelAnnCobbAngle::Draw(HDC dc)
{
    if (!visible)
        return;
    DrawEach(dc, {&line1, &perp1, &line2, &perp2});
    if (gaugeShown)
        gauge.Draw(dc);
}

bool COrbelAnnCobbAngle::DropPerpendicular(const COrbelAnnLine& line, COrbelAnnLine& perp, int x, int y,
                                           bool creatingNow)
{
    const POINT foot = PerpendicularFoot(line, POINT{x, y});
    if (!IsOnLine(line.viewStart, line.viewEnd, foot))
        return false;
    perp.SetEnds(POINT{x, y}, foot, creatingNow);
    return true;
}

void COrbelAnnCobbAngle::BeginCreate(int x, int y)
{
    // Three clicks a line: its start, its end, the perpendicular's foot.
    if (step < 0 || step > 5)
        return;
    COrbelAnnLine& line = step < 3 ? line1 : line2;
    if (step % 3 == 0)
        line.BeginCreate(x, y);
    else if (step % 3 == 1)
        line.EndCreate(x, y);
    else if (!DropPerpendicular(line, step < 3 ? perp1 : perp2, x, y, false))
        return;
    if (++step == 6) {
        creating = 0;
        complete = 1;
        Recompute(false);
    }
}

void COrbelAnnCobbAngle::DragTo(int x, int y)
{
    if (step != 6) {
        if (step >= 0 && step <= 5) {
            COrbelAnnLine& line = step < 3 ? line1 : line2;
            if (step % 3 == 1)
                line.DragTo(x, y);
            else if (step % 3 == 2)
                DropPerpendicular(line, step < 3 ? perp1 : perp2, x, y, true);
        }
        lastPoint = POINT{x, y};
        return;
    }
    if (hitPart == kPartLabel) {
        gauge.hitPart = COrbelAnnProtractor::kPartLabel;
        gauge.DragTo(x, y);
        lastPoint = POINT{x, y};
        return;
    }
    COrbelAnnLine* lines[4] = {&line1, &perp1, &line2, &perp2};
    const COrbelAnnLine saved[4] = {line1, perp1, line2, perp2};
    const int parts[4] = {kPartLine1, kPartPerp1, kPartLine2, kPartPerp2};
    for (int i = 0; i < 4; ++i)
        if (hitPart == parts[i])
            lines[i]->DragTo(x, y);
    if (!RefitPerpendiculars())
        for (int i = 0; i < 4; ++i)
            *lines[i] = saved[i];
    Recompute(true);

    for (COrbelAnnLine* line : lines)
        line->creating = 1;
    switch (hitPart) {
    case kPartLine1:
        line2.creating = perp2.creating = 0;
        if (line1.dragPart == COrbelAnnLine::kDragWhole)
            perp1.creating = 0;
        break;
    case kPartLine2:
        line1.creating = perp1.creating = 0;
        if (line2.dragPart == COrbelAnnLine::kDragWhole)
            perp2.creating = 0;
        break;
    case kPartPerp1:
        line1.creating = line2.creating = perp2.creating = 0;
        break;
    case kPartPerp2:
        line1.creating = line2.creating = perp1.creating = 0;
        break;
    default:
        break;
    }
    lastPoint = POINT{x, y};
}

void COrbelAnnCobbAngle::EndCreate(int x, int y)
{
    if (step != 6) {
        hitPart = kPartNone;
        return;
    }
    if (hitPart == kPartLabel) {
        gauge.hitPart = COrbelAnnProtractor::kPartLabel;
        gauge.label.EndCreate(x, y);
        return;
    }
    COrbelAnnLine* lines[4] = {&line1, &perp1, &line2, &perp2};
    const COrbelAnnLine saved[4] = {line1, perp1, line2, perp2};
    if (RefitPerpendiculars()) {
        Recompute(false);
    } else {
        for (int i = 0; i < 4; ++i)
            *lines[i] = saved[i];
    }
    for (COrbelAnnLine* line : lines)
        line->creating = 0;
    hitPart = kPartNone;
}

COrbelAnnObject* COrbelAnnCobbAngle::HitTest(int x, int y)
{
    hitPart = HitPart({{&line1, kPartLine1},
                       {&perp1, kPartPerp1},
                       {&line2, kPartLine2},
                       {&perp2, kPartPerp2},
                       {&gauge.label, kPartLabel}},
                      x, y);
    return hitPart != kPartNone ? Hold(x, y) : nullptr;
}

bool COrbelAnnCobbAngle::RefitPerpendiculars()
{
    const POINT f1 = PerpendicularFoot(line1, perp1.viewStart);
    if (!IsOnLine(line1.viewStart, line1.viewEnd, f1))
        return false;
    perp1.viewEnd = f1;
    perp1.complete = 1;
    const POINT f2 = PerpendicularFoot(line2, perp2.viewStart);
    if (!IsOnLine(line2.viewStart, line2.viewEnd, f2))
        return false;
    perp2.viewEnd = f2;
    perp2.complete = 1;
    return true;
}

void COrbelAnnCobbAngle::Recompute(bool dragging)
{
    // Parallel perpendiculars (on one straight line, say) meet nowhere: no gauge.
    const int64_t rx = int64_t(perp1.viewEnd.x) - perp1.viewStart.x, ry = int64_t(perp1.viewEnd.y) - perp1.viewStart.y;
    const int64_t sx = int64_t(perp2.viewEnd.x) - perp2.viewStart.x, sy = int64_t(perp2.viewEnd.y) - perp2.viewStart.y;
    const bool parallel = rx * sy - ry * sx == 0;
    const bool cross = !parallel && SegmentsCross(perp2.viewEnd, perp2.viewStart, perp1.viewEnd, perp1.viewStart);
    if (cross && !dragging) {
        UpdateCobbAngle();
        SyncCoordinates(true);
        gaugeShown = 1;
        angleValid = 1;
    } else {
        angleValid = 0;
        SyncCoordinates(true);
        gaugeShown = 0;
    }
}

void COrbelAnnCobbAngle::UpdateCobbAngle()
{
    const POINT p1 = perp1.viewStart, f1 = perp1.viewEnd, p2 = perp2.viewStart, f2 = perp2.viewEnd;
    const double rx = double(f1.x) - p1.x, ry = double(f1.y) - p1.y;
    const double sx = double(f2.x) - p2.x, sy = double(f2.y) - p2.y;
    const double t = ((double(p2.x) - p1.x) * sy - (double(p2.y) - p1.y) * sx) / (rx * sy - ry * sx);
    const POINT x{AnnToInt(p1.x + t * rx + 0.5), AnnToInt(p1.y + t * ry + 0.5)};

    const POINT s1 = line1.viewStart, e1 = line1.viewEnd, s2 = line2.viewStart, e2 = line2.viewEnd;
    const double k = ViewAspect(mapping);
    const double b2 = std::atan2((double(e2.y) - s2.y) * k, double(s2.x) - e2.x) * kAnnDegreesPerRadian;
    const double b1 = std::atan2((double(e1.y) - s1.y) * k, double(s1.x) - e1.x) * kAnnDegreesPerRadian;
    double theta = std::fabs(b2 - b1);
    if (theta > 180)
        theta = 360 - theta;
    const double shown = theta - 90 <= 0.01 ? theta : 180 - theta;

    const bool obtuse = theta > 90.01;
    gauge.arm1.SetEnds(x, obtuse ? p1 : f1, false);
    gauge.arm2.SetEnds(x, p2, false);
    gauge.OrderArms();
    gauge.UpdateAngle();
    if (gauge.angle - 90 > 0.01) {
        gauge.arm1.SetEnds(x, obtuse ? f1 : p1, false);
        gauge.arm2.SetEnds(x, p2, false);
    }
    gauge.step = 3;
    gauge.OrderArms();
    gauge.label.SetText(FormatDegrees(shown));
    creating = 0;
    gauge.creating = 0;
    gauge.hitPart = COrbelAnnProtractor::kPartNone;
    if (!labelPlaced) {
        gauge.label.PlaceAt(AnnOffset(x.x, 35), AnnOffset(x.y, -35), x.x, x.y);
        labelPlaced = 1;
    } else {
        gauge.label.PointLeaderAt(x.x, x.y);
    }
    gauge.ViewToImage();
}

void COrbelAnnCobbAngle::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> gaugeShown >> step >> labelPlaced >> selected;
    } else {
        ar << kName << int(kAnnTypeCobbAngle) << complete << gaugeShown << step << labelPlaced << selected;
    }
    SerializeMembers(ar, {&line1, &perp1, &line2, &perp2, &gauge});
}

void COrbelAnnCobbAngle::ImageToView()
{
    COrbelAnnComposite::ImageToView();
    gauge.label.AttachLeaderToText();
}
