// A rectangle kept as two corners in the order drawn. Corners resize it; a hit on an
// edge moves the whole rectangle. Drawn like the line: a black outline one pixel right
// and down under a white one, or a single exclusive-or outline while dragged.
#pragma once

#include "annotation/OrbelAnnObject.h"

class COrbelAnnRectangle : public COrbelAnnObject {
public:
    enum DragPart {
        kDragNone = kAnnRectNone,
        kDragLeft = kAnnRectLeft,
        kDragRight = kAnnRectRight,
        kDragTop = kAnnRectTop,
        kDragBottom = kAnnRectBottom,
        kDragCorner11 = kAnnRectLeftTop,     // (x1, y1)
        kDragCorner22 = kAnnRectRightBottom, // (x2, y2)
        kDragCorner21 = kAnnRectRightTop,    // (x2, y1)
        kDragCorner12 = kAnnRectLeftBottom   // (x1, y2)
    };

    void Draw(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetMarked(bool on) override { marked = on; }

    RECT imageRect{0, 0, 0, 0}; // x1, y1, x2, y2 as left, top, right, bottom
    RECT viewRect{0, 0, 0, 0};  // corners in the order drawn, not sorted
    int dragPart = kDragNone;
    int lastDragPart = kDragNone;

private:
    void Outline(HDC dc, int offset) const;
};
