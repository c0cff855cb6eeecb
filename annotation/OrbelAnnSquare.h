// The area square: a rectangle whose area its label shows.
#pragma once

#include "annotation/OrbelAnnRectangle.h"
#include "annotation/OrbelAnnRuler.h"

class COrbelAnnSquare : public COrbelAnnObject {
public:
    COrbelAnnSquare();

    void Draw(HDC dc) override;
    void DrawMembers(HDC dc) override;
    bool IsComplete() override { return true; }
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
    void SetMarked(bool on) override { label.SetMarked(on); }

    COrbelAnnRectangle rect;
    COrbelAnnLabel label;
    int activePart = 1; // 1 the rectangle, 2 the label

private:
    void UpdateAreaText();
    void PlaceSquareLabel();
};
