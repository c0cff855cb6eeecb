// A text box with a leader arrow pointing at what the text describes; the measuring
// objects show their values in one. The arrow's head (its shaft's end) is the target;
// its shaft starts on the box.
#pragma once

#include "annotation/OrbelAnnArrow.h"
#include "annotation/OrbelAnnText.h"

class COrbelAnnLabel : public COrbelAnnObject {
public:
    void Draw(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override { text.DragTo(x, y); }
    COrbelAnnObject* HitTest(int x, int y) override { return text.HitTest(x, y) ? this : nullptr; }
    void Serialize(COrbelArchive& ar) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetGeometry(AnnViewMapping* m) override;
    void SetMarked(bool on) override { text.SetMarked(on); }

    void SetText(const CString& value) { text.SetText(value); }
    // The box at (x, y), the arrow from the box's side facing the target to the target.
    void PlaceAt(int x, int y, int targetX, int targetY);
    // The arrow from (x2, y2) on the box to the target (x1, y1).
    void SetLeader(int x2, int y2, int x1, int y1);
    void PointLeaderAt(int x1, int y1);
    void AttachLeaderToText();

    COrbelAnnArrow arrow;
    COrbelAnnText text;

private:
    void SettleArrow();
};
