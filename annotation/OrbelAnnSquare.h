// The area square: a rectangle whose area its label shows.
#pragma once

#include "annotation/OrbelAnnRectangle.h"
#include "annotation/OrbelAnnRuler.h"

class COrbelAnnSquare : public COrbelAnnComposite {
public:
    COrbelAnnSquare();

    void Draw(HDC dc) override;
    void DrawMembers(HDC dc) override;
    bool IsComplete() override { return true; }
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void SetMarked(bool on) override { label.SetMarked(on); }

    COrbelAnnRectangle rect;
    COrbelAnnLabel label;
    int activePart = 1; // 1 the rectangle, 2 the label

protected:
    AnnMembers Members() override { return {&rect, &label}; }

private:
    void UpdateAreaText();
    void PlaceSquareLabel();
};
