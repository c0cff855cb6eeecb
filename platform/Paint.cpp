#include "platform/WindowInternal.h"

#include <cstring>

using namespace platform::detail;

BOOL InvalidateRect(HWND hwnd, const RECT* rc, BOOL erase)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return FALSE;
    invalidateLocked(*w, rc, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT* rc)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return FALSE;
    // The update region is kept as a box: it goes once the validated area covers it.
    if (!rc || (rc->left <= w->update.left && rc->top <= w->update.top && rc->right >= w->update.right &&
                rc->bottom >= w->update.bottom)) {
        w->updatePending = false;
        w->erasePending = false;
    }
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd)
{
    bool pending;
    {
        State& s = state();
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return FALSE;
        pending = w->updatePending && visibleLocked(*w);
    }
    if (pending) {
        MSG m{hwnd, WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
        DispatchMessageW(&m);
    }
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, RECT* rc, BOOL)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return FALSE;
    if (rc)
        *rc = w->updatePending ? w->update : RECT{0, 0, 0, 0};
    return w->updatePending ? TRUE : FALSE;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps)
{
    if (!ps)
        return nullptr;
    RECT area;
    bool erase;
    {
        State& s = state();
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return nullptr;
        // Outside WM_PAINT there is no update region: painting covers the client, so
        // a paint handler called directly still shows what it draws.
        area = w->updatePending ? w->update : RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
        erase = w->erasePending;
        w->updatePending = false;
        w->erasePending = false;
    }
    std::memset(ps, 0, sizeof *ps);
    ps->rcPaint = area;
    ps->hdc = createWindowDC(hwnd, true, &area);
    ps->fErase = TRUE;
    if (erase)
        ps->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(ps->hdc), 0) ? FALSE : TRUE;
    return ps->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* ps)
{
    if (ps && ps->hdc)
        releaseWindowDC(ps->hdc);
    return TRUE;
}

HDC GetDC(HWND hwnd)
{
    if (hwnd && !IsWindow(hwnd))
        return nullptr;
    return createWindowDC(hwnd, false, nullptr);
}

int ReleaseDC(HWND, HDC hdc)
{
    if (!hdc)
        return 0;
    releaseWindowDC(hdc);
    return 1;
}
