#include "annotation/OrbelAnnRuler.h"

#include "annotation/AnnShared.h"

#include <algorithm>
#include <cmath>

namespace {

const CString kName = u"COrbelAnnRuler";

int Rounded(double v) { return AnnToInt(v + 0.5); }

} // namespace

COrbelAnnRuler::COrbelAnnRuler() : COrbelAnnMeasure(kAnnTypeRuler) {}

void COrbelAnnRuler::EndCreate(int x, int y)
{
    // Only a moved end changes the length; a moved line or label keeps its text.
    const int part = measured.dragPart;
    const bool endMoved = part == COrbelAnnLine::kDragStart || part == COrbelAnnLine::kDragEnd;
    lengthDue = activePart == 1 && endMoved ? part : 0;
    COrbelAnnMeasure::EndCreate(x, y);
}

void COrbelAnnRuler::Reshaped()
{
    const POINT s = measured.viewStart, e = measured.viewEnd;
    const double sn = DirectionSine(e, s), cs = DirectionCosine(e, s);
    const int ends[8] = {Rounded(s.x - 5 * sn), Rounded(s.y + 5 * cs), Rounded(s.x + 5 * sn), Rounded(s.y - 5 * cs),
                         Rounded(e.x + 5 * sn), Rounded(e.y - 5 * cs), Rounded(e.x - 5 * sn), Rounded(e.y + 5 * cs)};
    std::copy(ends, ends + 8, tickEnds);
    tick1.SetEnds(POINT{ends[0], ends[1]}, POINT{ends[2], ends[3]}, false);
    tick2.SetEnds(POINT{ends[4], ends[5]}, POINT{ends[6], ends[7]}, false);
}

void COrbelAnnRuler::UpdateValueText()
{
    if (lengthDue != 1 && lengthDue != 2)
        return;
    const double length = RulerLength(mapping, measured.imageStart, measured.imageEnd);
    label.SetText(FormatMeasure(length, IsSpacingKnown(mapping) ? "mm" : "pt"));
}

POINT COrbelAnnRuler::LabelAnchor() const
{
    const POINT s = measured.viewStart, e = measured.viewEnd;
    double dx = double(e.x) - s.x;
    if (dx == 0)
        dx = 0.001;
    const bool flat = std::fabs((double(e.y) - s.y) / dx) <= 1.0;
    return flat ? (e.x > s.x ? e : s) : (e.y > s.y ? e : s);
}

void COrbelAnnRuler::Serialize(COrbelArchive& ar)
{
    SerializeRecord(ar, kName, kAnnTypeRuler, {&measured, &tick1, &tick2, &label});
}

void COrbelAnnRuler::ImageToView()
{
    COrbelAnnComposite::ImageToView();
    Reshaped();
}
