#include "annotation/OrbelAnnMeasure.h"

#include "annotation/AnnShared.h"

#include <charconv>
#include <cmath>

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

AnnMembers COrbelAnnMeasure::SelectedMembers()
{
    AnnMembers members = Strokes();
    members.push_back(&label);
    return members;
}

void COrbelAnnMeasure::DrawMembers(HDC dc)
{
    if (!visible)
        return;
    for (COrbelAnnObject* member : SelectedMembers())
        member->Draw(dc);
}

void COrbelAnnMeasure::Draw(HDC dc)
{
    if (!visible)
        return;
    if (marked) {
        DrawMembers(dc);
        marked = 0;
    } else if (creating && activePart == 1) {
        {
            AnnRopScope rop(dc, R2_XORPEN);
            for (COrbelAnnObject* stroke : Strokes())
                stroke->Draw(dc);
        }
        label.Draw(dc);
    } else {
        DrawMembers(dc);
    }
}

void COrbelAnnMeasure::BeginCreate(int x, int y)
{
    creating = 1;
    if (activePart == 1)
        Strokes().front()->BeginCreate(x, y);
    else if (activePart == 2)
        label.BeginCreate(x, y);
}

void COrbelAnnMeasure::DragTo(int x, int y)
{
    if (activePart == 1)
        Strokes().front()->DragTo(x, y);
    else if (activePart == 2)
        label.DragTo(x, y);
    Reshaped();
}

void COrbelAnnMeasure::EndCreate(int x, int y)
{
    creating = 0;
    if (activePart == 1) {
        COrbelAnnObject* figure = Strokes().front();
        figure->EndCreate(x, y);
        figure->ViewToImage();
        Reshaped();
    } else if (activePart == 2) {
        label.EndCreate(x, y);
    }
    if (activePart == 1 || activePart == 2) {
        UpdateValueText();
        PlaceLabel();
    }
    label.ViewToImage();
    complete = 1;
    activePart = 0;
}

COrbelAnnObject* COrbelAnnMeasure::HitTest(int x, int y)
{
    activePart = HitPart({{Strokes().front(), 1}, {&label, 2}}, x, y);
    return activePart ? Hold(x, y) : nullptr;
}

void COrbelAnnMeasure::PlaceLabel()
{
    if (!complete) {
        const POINT a = LabelAnchor();
        label.PlaceAt(AnnOffset(a.x, 10), AnnOffset(a.y, 10), a.x, a.y);
        return;
    }
    const RECT& t = label.text.viewRect;
    const POINT theirs[4] = {{t.left, t.top}, {t.right, t.top}, {t.right, t.bottom}, {t.left, t.bottom}};
    const AnnCorners ours = FigureCorners();
    POINT bestOurs = ours.front(), bestTheirs = theirs[0];
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
