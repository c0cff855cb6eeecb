// The area square: a rectangle whose area its label shows.
#pragma once

#include "annotation/OrbelAnnMeasure.h"
#include "annotation/OrbelAnnRectangle.h"
#include "annotation/OrbelAnnRuler.h"

class COrbelAnnSquare : public COrbelAnnMeasure {
public:
    COrbelAnnSquare();

    void Serialize(COrbelArchive& ar) override;

    COrbelAnnRectangle rect;

protected:
    AnnMembers Strokes() override { return {&rect}; }
    void UpdateValueText() override;
    POINT LabelAnchor() const override;
    AnnCorners FigureCorners() const override;
};
