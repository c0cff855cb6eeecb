#include "R2IVuzi/J2KToolTip.h"

#include "platform/Gdi.h"

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
    // Sized first, so the drawing below lands inside the window.
    SetWindowPos(h, nullptr, screen.x + 10, screen.y + 1, width, height,
                 SWP_NOOWNERZORDER | SWP_SHOWWINDOW | SWP_NOACTIVATE);
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

void CJ2KToolTip::Hide()
{
    if (m_hWnd)
        ShowWindow(m_hWnd, SW_HIDE);
}
