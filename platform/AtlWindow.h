// A window implemented by a C++ object: the class registration, creation, and a virtual
// message handler that says whether it handled the message (else default processing).
#pragma once

#include "platform/Win32.h"

#include <atomic>
#include <string>

class CWindowImplBase {
public:
    CWindowImplBase() = default;
    // Never touches the window (safe on any thread): destroy the window first.
    virtual ~CWindowImplBase() = default;
    CWindowImplBase(const CWindowImplBase&) = delete;
    CWindowImplBase& operator=(const CWindowImplBase&) = delete;

    // Registers the class under ModuleInstance() when it is not yet, then creates the
    // window with this object as its handler. Null on failure.
    HWND Create(HWND parent, const RECT& rect, DWORD style, DWORD exStyle = 0, LPCWSTR name = nullptr);
    BOOL DestroyWindow();

    // Null until the window exists and again once it is gone; read on any thread.
    std::atomic<HWND> m_hWnd{nullptr};

    // Sets handled false to leave the message to default processing.
    virtual LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);

protected:
    struct ClassInfo {
        std::u16string name;
        UINT style = 0;
        HBRUSH background = nullptr;
        HCURSOR cursor = nullptr;
    };
    virtual ClassInfo GetWndClassInfo() const = 0;
    // After WM_NCDESTROY, when m_hWnd is already null.
    virtual void OnFinalMessage(HWND) {}

private:
    static LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};
