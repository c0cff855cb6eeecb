// A text box in the view: the text member of text marks, labels and the measuring
// objects. The box follows the text's size in a font scaled to the window's height, and
// the text keeps the orientation the view had when it was first drawn, turning with the
// view from then on.
#pragma once

#include "annotation/OrbelAnnObject.h"

class COrbelAnnText : public COrbelAnnObject {
public:
    void Draw(HDC dc) override;
    void BeginCreate(int x, int y) override;
    void EndCreate(int x, int y) override;
    void DragTo(int x, int y) override;
    COrbelAnnObject* HitTest(int x, int y) override;
    void Serialize(COrbelArchive& ar) override;
    void ViewToImage() override;
    void ImageToView() override;
    void SetMarked(bool on) override { marked = on; }

    void SetText(const CString& value) { text = value; }
    CString GetText() const { return text; }
    // Corner 1 at (x, y); corner 2 where the text, in its orientation, ends.
    void FitToText(int x, int y);
    // viewRect with left <= right and top <= bottom.
    RECT Normalised() const;
    // The font height the text is measured and drawn with in its window.
    int FontHeight() const;

    POINT imageCorner1{0, 0};
    POINT imageCorner2{0, 0};
    CString text;
    RECT viewRect{0, 0, 0, 0}; // x1, y1, x2, y2 as drawn, not sorted
    int dragMode = kAnnRectNone; // the AnnRectPart held: a corner, or the whole box
    int storedTurns = 0;
    int turnsCaptured = 0;

private:
    HWND Window() const;
    int RelativeTurns();
    void DrawBody(HDC dc, bool shadow);
    void DrawTextProper(HDC dc);
};
