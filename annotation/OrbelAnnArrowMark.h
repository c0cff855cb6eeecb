// The arrow the user draws by itself (tool 10): an arrow that can be selected and
// deleted and keeps its image coordinates in step when drawn out.
#pragma once

#include "annotation/OrbelAnnArrow.h"

class COrbelAnnArrowMark : public COrbelAnnObject {
public:
    COrbelAnnArrowMark() : COrbelAnnObject(kAnnTypeArrowMark) {}

    void Draw(HDC dc) override { arrow.Draw(dc); }
    bool IsSelected() override { return selected != 0; }
    void BeginCreate(int x, int y) override { arrow.BeginCreate(x, y); }
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override { arrow.DragTo(x, y); }
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SyncCoordinates(bool fromView) override;
    void ViewToImage() override { arrow.ViewToImage(); }
    void ImageToView() override { arrow.ImageToView(); }
    void SetGeometry(AnnViewMapping* m) override;
    void SetSelected(bool on) override;

    COrbelAnnArrow arrow;
};
