// A straight line, the primitive most measuring objects are built from. Drawn out as an
// exclusive-or rubber band, then as a black stroke one pixel off (below a shallow line,
// right of a steep one) under a white one. A hit near an end drags that end; a hit on
// the line drags the whole line.
#pragma once

#include "annotation/OrbelAnnObject.h"

class COrbelAnnLine : public COrbelAnnObject {
public:
    enum DragPart { kDragNone = 0, kDragStart = 1, kDragEnd = 2, kDragWhole = 3 };

    COrbelAnnLine();

    void Draw(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ViewToImage() override;
    void ImageToView() override;

    // Places both ends at once (composite objects); creating as given.
    void SetEnds(const POINT& start, const POINT& end, bool creatingNow);
    void UpdateShadow();

    int dragPart = kDragNone;
    POINT imageStart{0, 0};
    POINT imageEnd{0, 0};
    POINT viewEnd{0, 0};
    POINT viewStart{0, 0};
    int shadowDx = 0;
    int shadowDy = 0;
    int lastX = 0; // the line's own previous point of a whole-line drag
    int lastY = 0;

private:
    void DrawNormal(HDC dc);
};
