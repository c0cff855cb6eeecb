#include "annotation/TransEdit.h"

#include "platform/ModuleStartup.h"

#include <algorithm>

namespace {

constexpr int kEditorId = 1001;

} // namespace

bool CTransEdit::Create(HWND parent, const RECT& rc, DWORD style)
{
    m_hWnd = CreateWindowExW(WS_EX_STATICEDGE, u"EDIT", u"", style, rc.left, rc.top, rc.right - rc.left,
                             rc.bottom - rc.top, parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(kEditorId)),
                             ModuleInstance(), nullptr);
    return m_hWnd != nullptr;
}

std::u16string CTransEdit::GetText() const
{
    if (!m_hWnd)
        return std::u16string();
    std::u16string text(size_t(std::max(GetWindowTextLengthW(m_hWnd), 0)) + 1, u'\0');
    text.resize(size_t(std::max(GetWindowTextW(m_hWnd, &text[0], int(text.size())), 0)));
    return text;
}
