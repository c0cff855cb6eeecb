// The ruler: a measured line with a tick across each end, and its length in a label.
#pragma once

#include "annotation/OrbelAnnLine.h"
#include "annotation/OrbelAnnMeasure.h"

class COrbelAnnRuler : public COrbelAnnMeasure {
public:
    COrbelAnnRuler();

    void EndCreate(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ImageToView() override;

    COrbelAnnLine measured;
    COrbelAnnLine tick1;
    COrbelAnnLine tick2;
    int lengthDue = 0;
    int tickEnds[8] = {};

protected:
    AnnMembers Strokes() override { return {&measured, &tick1, &tick2}; }
    void Reshaped() override;
    void UpdateValueText() override;
    POINT LabelAnchor() const override;
    AnnCorners FigureCorners() const override { return {measured.viewStart, measured.viewEnd}; }
};
