// The Cobb angle: two measured lines, a perpendicular dropped onto each, and where the
// perpendiculars cross a protractor with hidden arms showing the acute angle between the
// lines.
#pragma once

#include "annotation/OrbelAnnProtractor.h"

// The foot of the perpendicular from p onto the straight line through the line's ends.
POINT PerpendicularFoot(const COrbelAnnLine& line, const POINT& p);

class COrbelAnnCobbAngle : public COrbelAnnComposite {
public:
    enum Part { kPartNone = 0, kPartLine1 = 6, kPartPerp1 = 7, kPartLine2 = 12, kPartPerp2 = 13, kPartLabel = 14 };

    COrbelAnnCobbAngle();

    void Draw(HDC dc) override;
    bool IsComplete() override { return step == 6; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ImageToView() override;

    COrbelAnnLine line1;
    COrbelAnnLine perp1;
    COrbelAnnLine line2;
    COrbelAnnLine perp2;
    COrbelAnnProtractor gauge;
    int hitPart = kPartNone;
    BYTE gaugeShown = 0;
    int step = 0;
    BYTE angleValid = 0;
    BYTE labelPlaced = 0;

protected:
    AnnMembers Members() override { return {&line1, &perp1, &line2, &perp2, &gauge}; }

private:
    bool DropPerpendicular(const COrbelAnnLine& line, COrbelAnnLine& perp, int x, int y, bool creatingNow);
    bool RefitPerpendiculars();
    void Recompute(bool dragging);
    void UpdateCobbAngle();
};
