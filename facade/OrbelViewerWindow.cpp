// The control's own window: the frame window kept over its client area, black while
// there is no frame window, the wheel routed to paging or to the magnifier, and keys
// pre-translated before the container dispatches them.
#include "facade/OrbelViewer.h"

#include "annotation/OrbelAnnWrapper.h"
#include "platform/Gdi.h"

namespace {

// The same key again within this time is a repeat and is swallowed.
const DWORD kKeyRepeatMs = 350;
// The wheel never takes the magnifier below this step (it stops there going down).
const int32_t kWheelFloor = 2;
const int32_t kPanTool = 3;

bool isMagnifierTool(int32_t tool) { return tool >= 7 && tool <= 9; }

bool isKeyMessage(UINT msg) { return msg >= WM_KEYDOWN && msg <= WM_SYSCHAR; }

bool isKeyStroke(UINT msg)
{
    return msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP;
}

} // namespace

LRESULT COrbelViewer::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    switch (msg) {
    case WM_SIZE:
        handled = true;
        return onSize();
    case WM_DESTROY:
        handled = true;
        return 0;
    case WM_MOUSEWHEEL:
        handled = true;
        return onMouseWheel(wParam, lParam);
    default:
        return OleControlBase::ProcessWindowMessage(hwnd, msg, wParam, lParam, handled);
    }
}

LRESULT COrbelViewer::onSize()
{
    if (!frameHasWindow() || !m_hWnd)
        return 0;
    RECT client = {0, 0, 0, 0};
    GetClientRect(m_hWnd, &client);
    MoveWindow(m_frame->m_hWnd, client.left, client.top, client.right - client.left, client.bottom - client.top,
               TRUE);
    return 0;
}

void COrbelViewer::OnDraw(const OleDrawInfo&)
{
    if (frameHasWindow()) {
        m_frame->repaint();
        return;
    }
    // Until LoadData makes the frame window, the control shows black.
    HWND window = m_hWnd;
    if (!window)
        return;
    HDC dc = GetDC(window);
    if (!dc)
        return;
    RECT client = {0, 0, 0, 0};
    GetClientRect(window, &client);
    const COLORREF previous = SetBkColor(dc, RGB(0, 0, 0));
    if (previous != CLR_INVALID) {
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, nullptr, 0, nullptr);
        SetBkColor(dc, previous);
    }
    ReleaseDC(window, dc);
}

LRESULT COrbelViewer::onMouseWheel(WPARAM wParam, LPARAM lParam)
{
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    if (!frame)
        return 0;
    if (!isMagnifierTool(frame->getWorkingTool())) {
        // Paging: the last selected sub-frame turns every selected one.
        frame->selectGridsOfSelected();
        if (HWND target = frame->lastSelectedWindow())
            SendMessageW(target, WM_MOUSEWHEEL, wParam, lParam);
        return 0;
    }
    // The magnifier's step follows the wheel only while the left button alone is held.
    const short delta = GET_WHEEL_DELTA_WPARAM(wParam);
    if (GET_KEYSTATE_WPARAM(wParam) != MK_LBUTTON || delta == 0)
        return 0;
    const int32_t step = frame->getWheelStep();
    if (delta < 0)
        frame->setWheelStep(step + 1);
    else if (step != kWheelFloor)
        frame->setWheelStep(step - 1);
    frame->repaint();
    return 0;
}

bool COrbelViewer::PreTranslateAccelerator(MSG* msg)
{
    if (!msg || !isKeyMessage(msg->message))
        return false;
    const DWORD previousTime = m_previousKeyTime;
    const DWORD previousKey = m_previousKeyCode;
    m_previousKeyTime = msg->time;
    m_previousKeyCode = DWORD(msg->wParam);
    // An open text editor takes every key but the tab.
    if (OrbelAnnWrapper::IsTextEditing())
        return msg->wParam == VK_TAB;
    // The unsigned difference survives the tick count's wrap.
    if (msg->wParam == previousKey && DWORD(msg->time - previousTime) < kKeyRepeatMs)
        return true;
    const boost::shared_ptr<CJ2KFrame> frame = m_frame;
    // Only a key press pages: a release or a character with the same code must not.
    const bool press = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
    if (frame && press && frame->getWorkingTool() != kPanTool && (msg->wParam == VK_PRIOR || msg->wParam == VK_NEXT)) {
        if (HWND target = frame->lastSelectedWindow())
            SendMessageW(target, WM_VSCROLL, msg->wParam == VK_PRIOR ? SB_LINEUP : SB_LINEDOWN, 0);
        return true;
    }
    WPARAM key = msg->wParam;
    if (isKeyStroke(msg->message) && key >= VK_NUMPAD0 && key <= VK_NUMPAD9)
        key = '0' + (key - VK_NUMPAD0);
    msg->wParam = key;
    if (frame)
        if (HWND grid = frame->firstSelectedGridWindow())
            SendMessageW(grid, msg->message, key, msg->lParam);
    return true;
}
