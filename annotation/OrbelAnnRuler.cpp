#include "annotation/OrbelAnnRuler.h"

#include "annotation/AnnShared.h"

#include <charconv>
#include <cmath>

namespace {

const CString kName = u"COrbelAnnRuler";

int Rounded(double v) { return AnnToInt(v + 0.5); }

double Distance(const POINT& a, const POINT& b) { return std::hypot(double(a.x) - b.x, double(a.y) - b.y); }

} // namespace

bool IsSpacingKnown(const AnnViewMapping* m) { return m && m->scaleA > 0 && m->scaleB > 0; }

double RulerLength(const AnnViewMapping* m, const POINT& a, const POINT& b)
{
    const bool known = IsSpacingKnown(m);
    const double sx = known ? m->scaleA : 1.0, sy = known ? m->scaleB : 1.0;
    return std::hypot(sx * (double(a.x) - b.x), sy * (double(a.y) - b.y));
}

CString FormatMeasure(double value, const char* unit)
{
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer - 8, value, std::chars_format::fixed, 2);
    std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    text += unit;
    return CString(text.begin(), text.end());
}

COrbelAnnRuler::COrbelAnnRuler() : COrbelAnnComposite(kAnnTypeRuler) {}

void COrbelAnnRuler::DrawMembers(HDC dc)
{
    if (!visible)
        return;
    measured.Draw(dc);
    tick1.Draw(dc);
    tick2.Draw(dc);
    label.Draw(dc);
}

void COrbelAnnRuler::Draw(HDC dc)
{
    if (!visible)
        return;
    if (marked) {
        DrawMembers(dc);
        marked = 0;
    } else if (creating && activePart == 1) {
        {
            AnnRopScope rop(dc, R2_XORPEN);
            measured.Draw(dc);
            tick1.Draw(dc);
            tick2.Draw(dc);
        }
        label.Draw(dc);
    } else {
        DrawMembers(dc);
    }
}

void COrbelAnnRuler::BeginCreate(int x, int y)
{
    creating = 1;
    if (activePart == 1)
        measured.BeginCreate(x, y);
    else if (activePart == 2)
        label.BeginCreate(x, y);
}

void COrbelAnnRuler::DragTo(int x, int y)
{
    if (activePart == 1)
        measured.DragTo(x, y);
    else if (activePart == 2)
        label.DragTo(x, y);
    UpdateTicks();
}

void COrbelAnnRuler::EndCreate(int x, int y)
{
    creating = 0;
    lengthDue = 0;
    if (activePart == 1) {
        if (measured.dragPart == COrbelAnnLine::kDragStart || measured.dragPart == COrbelAnnLine::kDragEnd)
            lengthDue = measured.dragPart;
        measured.EndCreate(x, y);
        measured.ViewToImage();
        UpdateTicks();
        UpdateLengthText();
        PlaceRulerLabel();
    } else if (activePart == 2) {
        label.EndCreate(x, y);
        UpdateLengthText();
        PlaceRulerLabel();
    }
    label.ViewToImage();
    complete = 1;
    activePart = 0;
}

COrbelAnnObject* COrbelAnnRuler::HitTest(int x, int y)
{
    activePart = HitPart({{&measured, 1}, {&label, 2}}, x, y);
    return activePart ? Hold(x, y) : nullptr;
}

void COrbelAnnRuler::UpdateTicks()
{
    const POINT s = measured.viewStart, e = measured.viewEnd;
    const double sn = DirectionSine(e, s), cs = DirectionCosine(e, s);
    const int ends[8] = {Rounded(s.x - 5 * sn), Rounded(s.y + 5 * cs), Rounded(s.x + 5 * sn), Rounded(s.y - 5 * cs),
                         Rounded(e.x + 5 * sn), Rounded(e.y - 5 * cs), Rounded(e.x - 5 * sn), Rounded(e.y + 5 * cs)};
    std::copy(ends, ends + 8, tickEnds);
    tick1.SetEnds(POINT{ends[0], ends[1]}, POINT{ends[2], ends[3]}, false);
    tick2.SetEnds(POINT{ends[4], ends[5]}, POINT{ends[6], ends[7]}, false);
}

void COrbelAnnRuler::UpdateLengthText()
{
    if (lengthDue != 1 && lengthDue != 2)
        return;
    const double length = RulerLength(mapping, measured.imageStart, measured.imageEnd);
    label.SetText(FormatMeasure(length, IsSpacingKnown(mapping) ? "mm" : "pt"));
}

void COrbelAnnRuler::PlaceRulerLabel()
{
    const POINT s = measured.viewStart, e = measured.viewEnd;
    if (!complete) {
        double dx = double(e.x) - s.x;
        if (dx == 0)
            dx = 0.001;
        const bool flat = std::fabs((double(e.y) - s.y) / dx) <= 1.0;
        const POINT anchor = flat ? (e.x > s.x ? e : s) : (e.y > s.y ? e : s);
        label.PlaceAt(AnnOffset(anchor.x, 10), AnnOffset(anchor.y, 10), anchor.x, anchor.y);
        return;
    }
    const RECT& r = label.text.viewRect;
    const POINT corners[4] = {{r.left, r.top}, {r.right, r.top}, {r.right, r.bottom}, {r.left, r.bottom}};
    POINT bestEnd = s, bestCorner = corners[0];
    double best = -1;
    for (const POINT& end : {s, e})
        for (const POINT& corner : corners) {
            const double d = Distance(end, corner);
            if (best < 0 || d < best) {
                best = d;
                bestEnd = end;
                bestCorner = corner;
            }
        }
    label.SetLeader(bestCorner.x, bestCorner.y, bestEnd.x, bestEnd.y);
}

void COrbelAnnRuler::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        int storedType = 0;
        ar >> storedType >> complete >> selected;
    } else {
        ar << kName << int(kAnnTypeRuler) << complete << selected;
    }
    SerializeMembers(ar, {&measured, &tick1, &tick2, &label});
}

void COrbelAnnRuler::ImageToView()
{
    COrbelAnnComposite::ImageToView();
    UpdateTicks();
}
