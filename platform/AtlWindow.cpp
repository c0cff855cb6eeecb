#include "platform/AtlWindow.h"

#include "platform/ModuleStartup.h"

HWND CWindowImplBase::Create(HWND parent, const RECT& rect, DWORD style, DWORD exStyle, LPCWSTR name)
{
    const ClassInfo info = GetWndClassInfo();
    HINSTANCE instance = ModuleInstance();
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, reinterpret_cast<LPCWSTR>(info.name.c_str()), &wc)) {
        wc = WNDCLASSEXW();
        wc.cbSize = sizeof wc;
        wc.style = info.style;
        wc.lpfnWndProc = &CWindowImplBase::WindowProc;
        wc.hInstance = instance;
        wc.hCursor = info.cursor;
        wc.hbrBackground = info.background;
        wc.lpszClassName = reinterpret_cast<LPCWSTR>(info.name.c_str());
        if (!RegisterClassExW(&wc))
            return nullptr;
    }
    return CreateWindowExW(exStyle, reinterpret_cast<LPCWSTR>(info.name.c_str()), name, style, rect.left,
                           rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, instance,
                           this);
}

BOOL CWindowImplBase::DestroyWindow()
{
    HWND hwnd = m_hWnd;
    return hwnd ? ::DestroyWindow(hwnd) : FALSE;
}

LRESULT CWindowImplBase::ProcessWindowMessage(HWND, UINT, WPARAM, LPARAM, bool& handled)
{
    handled = false;
    return 0;
}

LRESULT CWindowImplBase::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CWindowImplBase* self;
    if (msg == WM_NCCREATE) {
        const CREATESTRUCTW* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowImplBase*>(cs->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self)
            self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CWindowImplBase*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    bool handled = true;
    LRESULT result = self->ProcessWindowMessage(hwnd, msg, wParam, lParam, handled);
    if (!handled)
        result = DefWindowProcW(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->m_hWnd = nullptr;
        self->OnFinalMessage(hwnd);
    }
    return result;
}
