// The blade: a closed outline of four sides that stays closed while a side is dragged.
// It only arrives in stored annotations and is kept hidden.
#pragma once

#include "annotation/OrbelAnnComposite.h"
#include "annotation/OrbelAnnLine.h"

class COrbelAnnBlade : public COrbelAnnComposite {
public:
    COrbelAnnBlade();

    bool IsComplete() override { return step == 4; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SetMarked(bool on) override { marked = on; }

    COrbelAnnLine sides[4];
    COrbelAnnLine closing;
    int step = 0;
    int hitPart = 0; // 1..4 the side the mouse works on

protected:
    AnnMembers Members() override { return {&sides[0], &sides[1], &sides[2], &sides[3], &closing}; }
    // A blade stays hidden: its sides never show a selection.
    AnnMembers SelectedMembers() override { return {}; }

private:
    void AdjustSides(bool dragging, int x, int y);
};
