// Measuring objects: the ruler (a line's length) and the area square (an axis-aligned
// rectangle's area), each with its value in a label. Values are in millimetres when the
// image's pixel spacing is known, in pixels ("pt") otherwise.
#pragma once

#include "annotation/OrbelAnnComposite.h"
#include "annotation/OrbelAnnLabel.h"
#include "annotation/OrbelAnnLine.h"

// Length between two image points in millimetres (or pixels when the spacing is unknown).
double RulerLength(const AnnViewMapping* mapping, const POINT& a, const POINT& b);
// Spacing counts as known only when both directions have a positive one.
bool IsSpacingKnown(const AnnViewMapping* mapping);
// value with two decimals and the unit, whatever the process's locale.
CString FormatMeasure(double value, const char* unit);

class COrbelAnnRuler : public COrbelAnnComposite {
public:
    COrbelAnnRuler();

    void Draw(HDC dc) override;
    void DrawMembers(HDC dc) override;
    bool IsComplete() override { return true; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ImageToView() override;
    void SetMarked(bool on) override { label.SetMarked(on); }

    COrbelAnnLine measured;
    COrbelAnnLine tick1;
    COrbelAnnLine tick2;
    COrbelAnnLabel label;
    int activePart = 1; // 1 the line, 2 the label, 0 nothing
    int lengthDue = 0;
    int tickEnds[8] = {};

protected:
    AnnMembers Members() override { return {&measured, &label}; }
    AnnMembers SelectedMembers() override { return {&measured, &tick1, &tick2, &label}; }

private:
    void UpdateTicks();
    void UpdateLengthText();
    void PlaceRulerLabel();
};
