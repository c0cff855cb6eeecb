// The pixel-value tool's pop-up window: a framed text beside the pointer, shown only
// while the point lies in the parent's client area, and kept inside the control's.
#pragma once

#include "platform/AtlWindow.h"

#include <string>

class CJ2KToolTip : public CWindowImplBase {
public:
    // A pop-up owned by parent.
    HWND CreateToolTip(HWND parent);
    void SetText(const std::u16string& text) { m_text = text; }
    // In the parent's client coordinates.
    void SetPoint(int x, int y) { m_point = POINT{x, y}; }
    // The window whose client area the tooltip stays in (the control's); the parent when
    // none is given.
    void SetBounds(HWND bounds) { m_bounds = bounds; }
    // Sizes, paints and places the window beside the point, moved to the point's left or
    // above it where it would cross the bounds' edge, or hides it when the point is outside
    // the parent's client rectangle.
    void Update();
    void Hide();

    std::u16string m_text;
    POINT m_point = {0, 0};
    HWND m_parent = nullptr;
    HWND m_bounds = nullptr;

protected:
    // The window's screen position for a pointer at `screen`.
    POINT Placement(const POINT& screen, int width, int height) const;
    ClassInfo GetWndClassInfo() const override
    {
        ClassInfo info;
        info.name = u"J2KToolTip";
        return info;
    }
};
