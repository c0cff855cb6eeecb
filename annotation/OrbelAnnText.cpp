#include "annotation/OrbelAnnText.h"

#include "annotation/AnnShared.h"

#include <algorithm>
#include <cstdlib>

namespace {

const CString kName = u"COrbelAnnText";

HFONT MakeFont(HDC dc, int height, int weight, int escapement)
{
    return CreateFontW(height, 0, escapement, 0, weight, 0, 0, 0, DWORD(GetTextCharset(dc)), 0, 0, 0, 0, u"Arial");
}

} // namespace

HWND COrbelAnnText::Window() const
{
    // The document's own window, so that sizes do not depend on where the mouse was last.
    if (mapping && mapping->window)
        return mapping->window;
    return annShared.currentWindow;
}

int COrbelAnnText::FontHeight() const
{
    RECT rc{0, 0, 0, 0};
    HWND w = Window();
    if (!w || !GetClientRect(w, &rc))
        return 6;
    return std::min(std::max(int((rc.bottom - rc.top) / 20), 6), 20);
}

int COrbelAnnText::RelativeTurns()
{
    const int turns = mapping ? mapping->quarterTurns : 0;
    if (!turnsCaptured) {
        storedTurns = turns;
        turnsCaptured = 1;
    }
    // Stored turns come from texts; computed wide so that no value overflows.
    return int(((int64_t(turns) - storedTurns) % 4 + 4) % 4);
}

RECT COrbelAnnText::Normalised() const { return SortedRect(viewRect); }

void COrbelAnnText::FitToText(int x, int y)
{
    const int r = RelativeTurns();
    viewRect.left = x;
    viewRect.top = y;
    HWND w = Window();
    HDC dc = w ? GetDC(w) : CreateCompatibleDC(nullptr);
    const int h = FontHeight();
    int width = 0;
    if (dc) {
        HFONT font = MakeFont(dc, h, 0, 0);
        HGDIOBJ old = SelectObject(dc, font);
        RECT calc{0, 0, 0, 0};
        DrawTextW(dc, text.c_str(), int(text.size()), &calc, DT_CALCRECT | DT_SINGLELINE);
        width = calc.right - calc.left;
        SelectObject(dc, old);
        DeleteObject(font);
        if (w)
            ReleaseDC(w, dc);
        else
            DeleteDC(dc);
    }
    // A quarter turn either way lays the box on its side.
    const bool turned = r == 1 || r == 3;
    viewRect.right = AnnOffset(x, turned ? h : width);
    viewRect.bottom = AnnOffset(y, r == 2 ? -int64_t(h) : int64_t(turned ? width : h));
    ViewToImage();
}

void COrbelAnnText::DrawTextProper(HDC dc)
{
    if (text.empty())
        return;
    const int r = RelativeTurns();
    RECT box = Normalised();
    POINT a, b;
    if (MapImageToView(mapping, imageCorner1, imageCorner2, a, b))
        box = SortedRect(CornerRect(a, b));
    POINT origin{box.left, box.top};
    int escapement = 0;
    if (r == 1) {
        origin = POINT{box.right, box.top};
        escapement = -900;
    } else if (r == 3) {
        origin = POINT{box.left, box.bottom};
        escapement = -2700;
    }
    const int h = FontHeight() - (r == 1 || r == 3 ? 1 : 0);
    HFONT font = MakeFont(dc, h, 100, escapement);
    HGDIOBJ oldFont = SelectObject(dc, font);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColor = SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, AnnOffset(origin.x, 1), AnnOffset(origin.y, 1), text.c_str(), int(text.size()));
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutW(dc, origin.x, origin.y, text.c_str(), int(text.size()));
    SetTextColor(dc, oldColor);
    SetBkMode(dc, oldMode);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

void COrbelAnnText::DrawBody(HDC dc, bool shadow)
{
    if (!visible)
        return;
    {
        AnnPenScope pen(dc);
        if (shadow) {
            pen.Use(kAnnPenBlack);
            DrawTextProper(dc);
        }
        pen.Use(kAnnPenWhite);
        if (creating) {
            DrawBoxOutline(dc, Normalised());
        }
    }
    if (!creating)
        DrawTextProper(dc);
}

void COrbelAnnText::Draw(HDC dc)
{
    if (marked) {
        DrawBody(dc, true);
        marked = 0;
    } else if (!creating) {
        DrawBody(dc, false);
    } else {
        AnnRopScope rop(dc, R2_XORPEN);
        DrawBody(dc, false);
    }
}

void COrbelAnnText::BeginCreate(int x, int y)
{
    viewRect = RECT{x, y, x, y};
    dragMode = kAnnRectRightBottom;
    creating = 1;
    ViewToImage();
}

void COrbelAnnText::EndCreate(int x, int y)
{
    DragTo(x, y);
    creating = 0;
    dragMode = kAnnRectNone;
    complete = 1;
    ViewToImage();
}

void COrbelAnnText::DragTo(int x, int y)
{
    if (!MoveRectCorner(viewRect, dragMode, x, y) && dragMode > kAnnRectNone && dragMode <= kAnnRectWhole) {
        const int64_t dx = int64_t(x) - lastPoint.x, dy = int64_t(y) - lastPoint.y;
        // Small jitter of the hand does not move the box.
        if (std::llabs(dx) >= 6 || std::llabs(dy) >= 6) {
            viewRect = ShiftedRect(viewRect, dx, dy);
            lastPoint = POINT{x, y};
        }
    }
    ViewToImage();
}

COrbelAnnObject* COrbelAnnText::HitTest(int x, int y)
{
    dragMode = kAnnRectNone;
    const RECT b = Normalised();
    if (x < b.left || x >= b.right || y < b.top || y >= b.bottom)
        return nullptr;
    dragMode = kAnnRectWhole;
    return Hold(x, y);
}

void COrbelAnnText::Serialize(COrbelArchive& ar)
{
    if (ar.IsLoading()) {
        ar >> complete >> creating >> selected;
        ar >> imageCorner2.x >> imageCorner2.y >> imageCorner1.x >> imageCorner1.y;
        ar >> text >> turnsCaptured >> storedTurns;
    } else {
        ar << kName << complete << creating << selected;
        ar << int(imageCorner2.x) << int(imageCorner2.y) << int(imageCorner1.x) << int(imageCorner1.y);
        ar << text << turnsCaptured << storedTurns;
    }
}

void COrbelAnnText::ViewToImage()
{
    MapViewToImage(mapping, FirstCorner(viewRect), SecondCorner(viewRect), imageCorner1, imageCorner2);
}

void COrbelAnnText::ImageToView()
{
    POINT a, b;
    if (!MapImageToView(mapping, imageCorner1, imageCorner2, a, b))
        return;
    viewRect = CornerRect(a, b);
    // The anchor stays as stored: mapped to the view and back it may land a pixel off
    // (the view rounds toward zero), and every view change would move it again.
    const POINT anchor = imageCorner1;
    FitToText(a.x, a.y);
    imageCorner1 = anchor;
}
