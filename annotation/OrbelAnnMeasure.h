// The base of the measuring objects (ruler, area square): a figure and a label showing
// its value. A hit picks one of the two and the mouse works on that one alone; releasing
// it updates the value and places the label. Values are in millimetres when the image's
// pixel spacing is known, in pixels ("pt") otherwise.
#pragma once

#include "annotation/OrbelAnnComposite.h"
#include "annotation/OrbelAnnLabel.h"

#include <boost/container/static_vector.hpp>

// Length between two image points in millimetres (or pixels when the spacing is unknown).
double RulerLength(const AnnViewMapping* mapping, const POINT& a, const POINT& b);
// Spacing counts as known only when both directions have a positive one.
bool IsSpacingKnown(const AnnViewMapping* mapping);
// value with two decimals and the unit, whatever the process's locale.
CString FormatMeasure(double value, const char* unit);

using AnnCorners = boost::container::static_vector<POINT, 4>;

class COrbelAnnMeasure : public COrbelAnnComposite {
public:
    using COrbelAnnComposite::COrbelAnnComposite;

    void Draw(HDC dc) override;
    void DrawMembers(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void SetMarked(bool on) override { label.SetMarked(on); }

    COrbelAnnLabel label;
    int activePart = 1; // 1 the figure, 2 the label, 0 nothing

protected:
    // The figure's strokes, drawn and rubber-banded together. The first is the figure a
    // hit moves, and the only one with image coordinates.
    virtual AnnMembers Strokes() = 0;
    AnnMembers Members() override { return {Strokes().front(), &label}; }
    AnnMembers SelectedMembers() override;

    // After the figure moved: by a drag step, or released.
    virtual void Reshaped() {}
    virtual void UpdateValueText() = 0;
    // Where a new label's leader points; the label sits 10 pixels right of and below it.
    virtual POINT LabelAnchor() const = 0;
    // The points a placed label's leader may start from: the nearest to the label wins.
    virtual AnnCorners FigureCorners() const = 0;

private:
    void PlaceLabel();
};
