#include "R2IVuzi/J2KToolTip.h"

#include "platform/Gdi.h"

#include <algorithm>
#include <cstdint>

HWND CJ2KToolTip::CreateToolTip(HWND parent)
{
    m_parent = parent;
    const RECT rect = {0, 0, 0, 0};
    return Create(parent, rect, WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

void CJ2KToolTip::Update()
{
    HWND h = m_hWnd;
    if (!h || !m_parent)
        return;
    RECT client = {0, 0, 0, 0};
    GetClientRect(m_parent, &client);
    // The right and bottom edges count as inside.
    if (m_point.x < client.left || m_point.x > client.right || m_point.y < client.top || m_point.y > client.bottom) {
        Hide();
        return;
    }
    HDC dc = GetDC(h);
    if (!dc)
        return;
    LOGFONTW lf = {};
    GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof(lf), &lf);
    lf.lfHeight = 30;
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SIZE extent = {0, 0};
    GetTextExtentPoint32W(dc, m_text.c_str(), int(m_text.size()), &extent);
    const int width = extent.cx + 7, height = extent.cy + 2;
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(COLOR_MENU));
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    POINT screen = m_point;
    ClientToScreen(m_parent, &screen);
    const POINT at = Placement(screen, width, height);
    // Sized first, so the drawing below lands inside the window.
    SetWindowPos(h, nullptr, at.x, at.y, width, height, SWP_NOOWNERZORDER | SWP_SHOWWINDOW | SWP_NOACTIVATE);
    Rectangle(dc, 0, 0, width, height);
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    SetTextAlign(dc, TA_LEFT);
    TextOutW(dc, 3, 1, m_text.c_str(), int(m_text.size()));
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldFont);
    DeleteObject(font);
    ReleaseDC(h, dc);
}

// Right of and below the pointer; where that would cross the bounds' right or bottom edge,
// left of or above it instead, and never past the left or top edge: a text cut off at the
// edge would hide the very value asked for.
POINT CJ2KToolTip::Placement(const POINT& screen, int width, int height) const
{
    const int64_t x = int64_t(screen.x) + 10, y = int64_t(screen.y) + 1;
    HWND bounds = m_bounds && IsWindow(m_bounds) ? m_bounds : m_parent;
    RECT area = {0, 0, 0, 0};
    if (!GetClientRect(bounds, &area))
        return POINT{LONG(x), LONG(y)};
    POINT origin = {0, 0};
    ClientToScreen(bounds, &origin);
    const int64_t left = int64_t(origin.x) + area.left, top = int64_t(origin.y) + area.top;
    const int64_t right = int64_t(origin.x) + area.right, bottom = int64_t(origin.y) + area.bottom;
    int64_t px = x + width > right ? int64_t(screen.x) - 10 - width : x;
    int64_t py = y + height > bottom ? int64_t(screen.y) - 1 - height : y;
    px = std::max(px, left);
    py = std::max(py, top);
    return POINT{LONG(px), LONG(py)};
}

void CJ2KToolTip::Hide()
{
    if (m_hWnd)
        ShowWindow(m_hWnd, SW_HIDE);
}
