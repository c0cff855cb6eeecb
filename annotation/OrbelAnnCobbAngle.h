// The Cobb angle: two measured lines, a perpendicular dropped onto each, and where the
// perpendiculars cross a protractor with hidden arms showing the acute angle between the
// lines.
#pragma once

#include "annotation/OrbelAnnProtractor.h"

// The foot of the perpendicular from p onto the straight line through the line's ends.
POINT PerpendicularFoot(const COrbelAnnLine& line, const POINT& p);
// f lies between a and b on their segment, within half a pixel of path length.
bool IsOnLine(const POINT& a, const POINT& b, const POINT& f);
// The segments p1-p2 and p3-p4 cross or touch (the touching rule is asymmetric).
bool SegmentsCross(const POINT& p1, const POINT& p2, const POINT& p3, const POINT& p4);

class COrbelAnnCobbAngle : public COrbelAnnObject {
public:
    enum Part { kPartNone = 0, kPartLine1 = 6, kPartPerp1 = 7, kPartLine2 = 12, kPartPerp2 = 13, kPartLabel = 14 };

    COrbelAnnCobbAngle();

    void Draw(HDC dc) override;
    bool IsComplete() override { return step == 6; }
    bool IsSelected() override { return selected != 0; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SyncCoordinates(bool fromView) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;
    void SetSelected(bool on) override;

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

private:
    bool DropPerpendicular(const COrbelAnnLine& line, COrbelAnnLine& perp, int x, int y, bool creatingNow);
    bool RefitPerpendiculars();
    void Recompute(bool dragging);
    void UpdateCobbAngle();
};
