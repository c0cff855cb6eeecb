// Angle measurement: the protractor (two arms from one vertex, an arc inside the angle and
// the value in a label) and the Cobb angle (the angle between two lines, found where a
// perpendicular dropped onto each of them crosses the other). Angles are measured on the
// view, where the image's pixels are shown square.
#pragma once

#include "annotation/OrbelAnnComposite.h"
#include "annotation/OrbelAnnLabel.h"
#include "annotation/OrbelAnnLine.h"

// Degrees per radian as stored angles have always been computed; it differs from 180/pi
// from the eighth digit, so it stays for stored values to agree.
constexpr double kAnnDegreesPerRadian = 57.29577791868205;

// value with one decimal and the degree sign, whatever the process's locale.
CString FormatDegrees(double value);

class COrbelAnnProtractor : public COrbelAnnComposite {
public:
    enum Part { kPartNone = 0, kPartArm1 = 1, kPartArm2 = 2, kPartLabel = 6 };

    COrbelAnnProtractor();

    void Draw(HDC dc) override;
    bool IsComplete() override { return step == 3; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ImageToView() override;

    // Exchanges the far ends when needed so that the arc runs counter-clockwise on the
    // screen from arm1 to arm2 through the smaller angle; then places the arc.
    void OrderArms();
    void UpdateArc();
    void UpdateAngle();

    double angle = 0.0;
    COrbelAnnPoint arcStart;
    COrbelAnnPoint arcEnd;
    COrbelAnnPoint arcBoxMin;
    COrbelAnnPoint arcBoxMax;
    COrbelAnnLine arm1;
    COrbelAnnLine arm2;
    COrbelAnnLabel label;
    BYTE hideArms = 0;
    int hitPart = kPartNone;
    int step = 0;

protected:
    AnnMembers Members() override { return {&arm1, &arm2, &arcStart, &arcEnd, &arcBoxMin, &arcBoxMax, &label}; }
    AnnMembers SelectedMembers() override { return {&arm1, &arm2, &label}; }

private:
    void DragArm(COrbelAnnLine& arm, COrbelAnnLine& other, int x, int y);
    void ReleaseArm(COrbelAnnLine& arm, COrbelAnnLine& other, int x, int y);
    void DrawArc(HDC dc);
};
