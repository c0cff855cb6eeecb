#include "annotation/OrbelAnnProtractor.h"

#include "annotation/AnnShared.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

const CString kName = u"COrbelAnnProtractor";
constexpr int kArcRadius = 15;

// The point 15 pixels from `from` toward `to`; `from` itself for an arm of no length.
POINT AlongArm(const POINT& from, const POINT& to)
{
    const double c = DirectionCosine(from, to), s = DirectionSine(from, to);
    return POINT{AnnOffset(from.x, AnnToInt(kArcRadius * c)), AnnOffset(from.y, AnnToInt(kArcRadius * s))};
}

} // namespace

CString FormatDegrees(double value)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    CString text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    text += char16_t(0x00B0);
    return text;
}

COrbelAnnProtractor::COrbelAnnProtractor() : COrbelAnnComposite(kAnnTypeProtractor) { creating = 1; }

void COrbelAnnProtractor::Draw(HDC dc)
{
    if (!visible)
        return;
    if (!hideArms) {
        arm1.Draw(dc);
        arm2.Draw(dc);
    }
    label.Draw(dc);
    if (!creating)
        DrawArc(dc);
}

void COrbelAnnProtractor::DrawArc(HDC dc)
{
    // An arm of no length leaves the arc without a direction.
    if (SamePoint(arcStart.view, arm1.viewStart) || SamePoint(arcEnd.view, arm2.viewStart))
        return;
    const int left = std::min(arcBoxMin.view.x, arcBoxMax.view.x), right = std::max(arcBoxMin.view.x, arcBoxMax.view.x);
    const int top = std::min(arcBoxMin.view.y, arcBoxMax.view.y), bottom = std::max(arcBoxMin.view.y, arcBoxMax.view.y);
    AnnPenScope pen(dc);
    const auto pass = [&](int d) {
        Arc(dc, AnnOffset(left, d), AnnOffset(top, d), AnnOffset(right, d), AnnOffset(bottom, d),
            AnnOffset(arcStart.view.x, d), AnnOffset(arcStart.view.y, d), AnnOffset(arcEnd.view.x, d),
            AnnOffset(arcEnd.view.y, d));
    };
    pen.Use(selected ? kAnnPenDottedBlack : kAnnPenBlack);
    pass(1);
    pen.Use(selected ? kAnnPenDottedWhite : kAnnPenWhite);
    pass(0);
}

void COrbelAnnProtractor::BeginCreate(int x, int y)
{
    switch (step) {
    case 0:
        arm1.BeginCreate(x, y);
        arm2.BeginCreate(x, y);
        creating = 1;
        step = 1;
        break;
    case 1:
        arm1.EndCreate(x, y);
        step = 2;
        break;
    case 2:
        arm2.EndCreate(x, y);
        creating = 0;
        complete = 1;
        step = 3;
        break;
    default:
        break;
    }
}

void COrbelAnnProtractor::DragArm(COrbelAnnLine& arm, COrbelAnnLine& other, int x, int y)
{
    arm.DragTo(x, y);
    if (arm.dragPart == COrbelAnnLine::kDragWhole) {
        const int64_t dx = int64_t(x) - lastPoint.x, dy = int64_t(y) - lastPoint.y;
        other.viewStart = POINT{AnnOffset(other.viewStart.x, dx), AnnOffset(other.viewStart.y, dy)};
        other.viewEnd = POINT{AnnOffset(other.viewEnd.x, dx), AnnOffset(other.viewEnd.y, dy)};
    } else if (arm.dragPart == COrbelAnnLine::kDragStart) {
        other.viewStart = POINT{x, y};
    }
    other.creating = 1;
}

void COrbelAnnProtractor::DragTo(int x, int y)
{
    switch (hitPart) {
    case kPartArm1:
        DragArm(arm1, arm2, x, y);
        break;
    case kPartArm2:
        DragArm(arm2, arm1, x, y);
        break;
    case kPartLabel:
        label.DragTo(x, y);
        break;
    default:
        if (step == 1)
            arm1.DragTo(x, y);
        else if (step == 2)
            arm2.DragTo(x, y);
        break;
    }
    lastPoint = POINT{x, y};
}

void COrbelAnnProtractor::ReleaseArm(COrbelAnnLine& arm, COrbelAnnLine& other, int x, int y)
{
    if (arm.dragPart == COrbelAnnLine::kDragStart)
        other.viewStart = POINT{x, y};
    // The other arm followed the drag as a rubber band whatever part moved; it is drawn
    // normally again from here.
    other.SetEnds(other.viewStart, other.viewEnd, false);
    arm.EndCreate(x, y);
    creating = 0;
}

void COrbelAnnProtractor::EndCreate(int x, int y)
{
    if (hitPart == kPartArm1)
        ReleaseArm(arm1, arm2, x, y);
    else if (hitPart == kPartArm2)
        ReleaseArm(arm2, arm1, x, y);
    if (step == 3) {
        OrderArms();
        UpdateAngle();
        const POINT v = arm1.viewStart;
        const POINT& onBox = label.arrow.shaft.viewStart;
        if (hitPart == kPartLabel)
            label.EndCreate(x, y);
        else if (onBox.x == 0 && onBox.y == 0)
            label.PlaceAt(AnnOffset(v.x, 35), AnnOffset(v.y, -35), v.x, v.y);
        else
            label.PointLeaderAt(v.x, v.y);
        SyncCoordinates(true);
        creating = 0;
    }
    hitPart = kPartNone;
}

COrbelAnnObject* COrbelAnnProtractor::HitTest(int x, int y)
{
    hitPart = HitPart({{&arm1, kPartArm1}, {&arm2, kPartArm2}, {&label, kPartLabel}}, x, y);
    return hitPart != kPartNone ? Hold(x, y) : nullptr;
}

void COrbelAnnProtractor::OrderArms()
{
    const POINT v = arm1.viewStart, a = arm1.viewEnd, w = arm2.viewStart, b = arm2.viewEnd;
    const double s = DirectionSine(v, a), c = DirectionCosine(v, a);
    const double t = std::trunc(c * (double(w.y) - b.y) + s * (double(b.x) - w.x));
    if (t < 0) {
        arm1.SetEnds(v, b, false);
        arm2.SetEnds(w, a, false);
    }
    UpdateArc();
}

void COrbelAnnProtractor::UpdateArc()
{
    const POINT v = arm1.viewStart;
    arcBoxMin.view = POINT{AnnOffset(v.x, -kArcRadius), AnnOffset(v.y, -kArcRadius)};
    arcBoxMax.view = POINT{AnnOffset(v.x, kArcRadius), AnnOffset(v.y, kArcRadius)};
    arcStart.view = AlongArm(v, arm1.viewEnd);
    arcEnd.view = AlongArm(arm2.viewStart, arm2.viewEnd);
}

void COrbelAnnProtractor::UpdateAngle()
{
    const POINT v = arm1.viewStart, a = arm1.viewEnd, b = arm2.viewEnd;
    const double k = ViewAspect(mapping);
    const double a1 = std::atan2((double(a.y) - v.y) * k, double(v.x) - a.x) * kAnnDegreesPerRadian;
    const double a2 = std::atan2((double(v.y) - b.y) * k, double(b.x) - v.x) * kAnnDegreesPerRadian;
    angle = std::fabs(180 - std::fabs(a1 - a2));
    label.SetText(FormatDegrees(angle));
}

void COrbelAnnProtractor::Serialize(COrbelArchive& ar)
{
    COrbelAnnPoint* points[4] = {&arcStart, &arcEnd, &arcBoxMin, &arcBoxMax};
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> creating >> selected >> hideArms >> step >> angle;
        for (COrbelAnnPoint* p : points)
            ar >> p->image.x >> p->image.y;
    } else {
        ar << kName << int(kAnnTypeProtractor) << complete << creating << selected << hideArms << step << angle;
        for (COrbelAnnPoint* p : points)
            ar << int(p->image.x) << int(p->image.y);
    }
    SerializeMembers(ar, {&arm1, &arm2, &label});
}

void COrbelAnnProtractor::ImageToView()
{
    COrbelAnnComposite::ImageToView();
    OrderArms();
}
