// The pixel-value tool's pop-up window.
#pragma once

#include "platform/AtlWindow.h"

#include <string>

class CJ2KToolTip : public CWindowImplBase {
public:
    std::u16string m_text;
    POINT m_point = {0, 0};
    HWND m_parent = nullptr;

protected:
    ClassInfo GetWndClassInfo() const override
    {
        ClassInfo info;
        info.name = u"J2KToolTip";
        return info;
    }
};
