// The blade: a closed outline of four sides that stays closed while a side is dragged.
// It only arrives in stored annotations and is kept hidden.
#pragma once

#include "annotation/OrbelAnnLine.h"

class COrbelAnnBlade : public COrbelAnnObject {
public:
    COrbelAnnBlade();

    bool IsComplete() override { return step == 4; }
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
    void SetMarked(bool on) override { marked = on; }

    COrbelAnnLine sides[4];
    COrbelAnnLine closing;
    int step = 0;
    int hitPart = 0; // 1..4 the side the mouse works on

private:
    void AdjustSides(bool dragging, int x, int y);
};
