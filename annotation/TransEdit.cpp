#include "annotation/TransEdit.h"

#include "platform/ModuleStartup.h"

#include <algorithm>
#include <atomic>

namespace {

constexpr int kEditorId = 1001;

// The system edit procedure every editor hands its other messages to.
std::atomic<WNDPROC> g_editProc{nullptr};

bool keepsReturn(HWND editor)
{
    const DWORD style = DWORD(GetWindowLongPtrW(editor, GWL_STYLE));
    return (style & ES_MULTILINE) && (style & ES_WANTRETURN);
}

// Enter ends the edit: the editor has the focus, so the key would never reach the image
// window whose document commits the text. It is posted there, since committing destroys
// the editor, which must not happen inside the editor's own procedure.
LRESULT CALLBACK editorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (!keepsReturn(hwnd)) {
        if (msg == WM_KEYDOWN && wParam == VK_RETURN) {
            PostMessageW(GetParent(hwnd), WM_KEYDOWN, VK_RETURN, lParam);
            return 0;
        }
        if (msg == WM_CHAR && wParam == u'\r')
            return 0;
    }
    const WNDPROC system = g_editProc.load();
    return system ? CallWindowProcW(system, hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

bool CTransEdit::Create(HWND parent, const RECT& rc, DWORD style)
{
    m_hWnd = CreateWindowExW(WS_EX_STATICEDGE, u"EDIT", u"", style, rc.left, rc.top, rc.right - rc.left,
                             rc.bottom - rc.top, parent, reinterpret_cast<HMENU>(static_cast<intptr_t>(kEditorId)),
                             ModuleInstance(), nullptr);
    if (!m_hWnd)
        return false;
    const WNDPROC system = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&editorProc)));
    if (system != &editorProc)
        g_editProc.store(system);
    return true;
}

std::u16string CTransEdit::GetText() const
{
    if (!m_hWnd)
        return std::u16string();
    std::u16string text(size_t(std::max(GetWindowTextLengthW(m_hWnd), 0)) + 1, u'\0');
    text.resize(size_t(std::max(GetWindowTextW(m_hWnd, &text[0], int(text.size())), 0)));
    return text;
}
