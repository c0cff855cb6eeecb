// The in-place editor of a text mark: a child "EDIT" window. The wrapper does not own
// the window; whoever holds the wrapper destroys the window first.
#pragma once

#include "platform/Win32.h"

#include <string>

class CTransEdit {
public:
    // Creates the editor over rc (client coordinates of parent); m_hWnd stays null on failure.
    bool Create(HWND parent, const RECT& rc, DWORD style);
    std::u16string GetText() const;

    HWND m_hWnd = nullptr;
};
