// Placeholder until the scroll bar lands: the interface the sub-frame uses.
#pragma once

#include "platform/Win32.h"

class COrbelScrollbar {
public:
    COrbelScrollbar() = default;
    ~COrbelScrollbar() = default;
    bool SubclassWindow(HWND hwnd)
    {
        m_hwnd = hwnd;
        return hwnd != nullptr;
    }
    HWND hwnd() const { return m_hwnd; }
    void setNotifyWindow(HWND window) { m_notify = window; }
    void setPages(int pageCount, int currentPage)
    {
        m_pages = pageCount;
        m_current = currentPage;
        if (m_hwnd)
            InvalidateRect(m_hwnd, nullptr, FALSE);
    }
    int pageCount() const { return m_pages; }
    int currentPage() const { return m_current; }

private:
    HWND m_hwnd = nullptr;
    HWND m_notify = nullptr;
    int m_pages = 1;
    int m_current = 0;
};
