// The arrow the user draws by itself (tool 10): an arrow that can be selected and
// deleted and keeps its image coordinates in step when drawn out.
#pragma once

#include "annotation/OrbelAnnArrow.h"
#include "annotation/OrbelAnnComposite.h"

class COrbelAnnArrowMark : public COrbelAnnComposite {
public:
    COrbelAnnArrowMark() : COrbelAnnComposite(kAnnTypeArrowMark) {}

    void Draw(HDC dc) override { arrow.Draw(dc); }
    void BeginCreate(int x, int y) override { arrow.BeginCreate(x, y); }
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override { arrow.DragTo(x, y); }
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;

    COrbelAnnArrow arrow;

protected:
    AnnMembers Members() override { return {&arrow}; }
};
