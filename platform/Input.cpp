#include "platform/WindowInternal.h"

#include "platform/TextConv.h"

#include <algorithm>
#include <fstream>
#include <map>

using namespace platform::detail;

namespace {

struct Cursor {
    UINT id = 0;
    bool system = false;
};

// Input state, guarded by the window lock.
struct InputState {
    POINT cursor{0, 0};
    bool clipped = false;
    RECT clip{};
    BYTE keys[256] = {};
    // The last left or right press, for double clicks.
    DWORD lastPressTime = 0;
    POINT lastPressPoint{0, 0};
    HWND lastPressWindow = nullptr;
    UINT lastPressMessage = 0;
    bool lastPressValid = false;
    std::vector<platform::Monitor> monitors;
    std::map<HCURSOR, Cursor> cursors;
    std::map<UINT, HCURSOR> loadedById;
    uintptr_t nextCursor = 0x9000;
    HCURSOR current = nullptr;
};

InputState& input()
{
    static InputState* st = new InputState();
    return *st;
}

std::vector<platform::Monitor> defaultMonitors()
{
    return {platform::Monitor{RECT{0, 0, 1920, 1080}, RECT{0, 0, 1920, 1040}}};
}

const std::vector<platform::Monitor>& monitorsLocked()
{
    InputState& in = input();
    if (in.monitors.empty())
        in.monitors = defaultMonitors();
    return in.monitors;
}

bool keyDown(int vk) { return (input().keys[vk & 0xFF] & 0x80) != 0; }

WPARAM mouseKeysLocked()
{
    WPARAM k = 0;
    if (keyDown(VK_LBUTTON))
        k |= MK_LBUTTON;
    if (keyDown(VK_RBUTTON))
        k |= MK_RBUTTON;
    if (keyDown(VK_MBUTTON))
        k |= MK_MBUTTON;
    if (keyDown(VK_SHIFT))
        k |= MK_SHIFT;
    if (keyDown(VK_CONTROL))
        k |= MK_CONTROL;
    return k;
}

HWND windowAtLocked(POINT screen)
{
    State& s = state();
    for (HWND top : s.topLevels) {
        auto w = findLocked(top);
        if (!w || !(w->style & WS_VISIBLE) || w->destroying)
            continue;
        if (!PtInRect(&w->rect, screen))
            continue;
        // Descend to the deepest visible child under the point.
        POINT local{screen.x - w->rect.left, screen.y - w->rect.top};
        for (;;) {
            std::shared_ptr<Window> hit;
            for (HWND c : w->children) {
                auto cw = findLocked(c);
                if (cw && (cw->style & WS_VISIBLE) && !cw->destroying && PtInRect(&cw->rect, local)) {
                    hit = cw;
                    break;
                }
            }
            if (!hit)
                return w->handle;
            local.x -= hit->rect.left;
            local.y -= hit->rect.top;
            w = hit;
        }
    }
    return nullptr;
}

void queueInputLocked(HWND target, UINT message, WPARAM wParam, LPARAM lParam, bool setCursor, char16_t ch = 0)
{
    auto w = findLocked(target);
    if (!w || w->destroying)
        return;
    auto q = liveQueueLocked(w->thread);
    if (!q)
        return;
    InputEvent e;
    e.msg = MSG{target, message, wParam, lParam, GetTickCount(), input().cursor};
    e.setCursor = setCursor;
    e.ch = ch;
    q->input.push_back(e);
    q->wake.notify_all();
}

void postMouseLocked(UINT message)
{
    State& s = state();
    InputState& in = input();
    HWND target = s.capture ? s.capture : windowAtLocked(in.cursor);
    if (!target)
        return;
    auto w = findLocked(target);
    if (!w)
        return;
    POINT o = clientOriginLocked(*w);
    int cx = in.cursor.x - o.x, cy = in.cursor.y - o.y;
    // Double clicks: same button, same window, class asks for them, close in time and space.
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN) {
        DWORD now = GetTickCount();
        bool dbl = in.lastPressValid && in.lastPressMessage == message && in.lastPressWindow == target &&
                   (w->cls->style & CS_DBLCLKS) && DWORD(now - in.lastPressTime) <= 500 &&
                   std::abs(in.cursor.x - in.lastPressPoint.x) <= 4 && std::abs(in.cursor.y - in.lastPressPoint.y) <= 4;
        if (dbl) {
            message = message == WM_LBUTTONDOWN ? WM_LBUTTONDBLCLK : WM_RBUTTONDBLCLK;
            in.lastPressValid = false;
        } else {
            in.lastPressValid = true;
            in.lastPressMessage = message;
            in.lastPressTime = now;
            in.lastPressPoint = in.cursor;
            in.lastPressWindow = target;
        }
    }
    queueInputLocked(target, message, mouseKeysLocked(), MAKELPARAM(cx, cy), s.capture == nullptr);
}

void clampToClipLocked(POINT& p)
{
    InputState& in = input();
    if (!in.clipped)
        return;
    p.x = std::max(in.clip.left, std::min(p.x, in.clip.right - 1));
    p.y = std::max(in.clip.top, std::min(p.y, in.clip.bottom - 1));
}

void setKeyLocked(int vk, bool down)
{
    BYTE& k = input().keys[vk & 0xFF];
    k = down ? BYTE(k | 0x80) : BYTE(k & 0x7F);
}

void updatePairLocked(int generic, int left, int right)
{
    setKeyLocked(generic, keyDown(left) || keyDown(right));
}

} // namespace

namespace platform {
namespace detail {
POINT cursorPosLocked() { return input().cursor; }

POINT currentCursorPos()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return input().cursor;
}
} // namespace detail

void InjectMouseMove(int x, int y)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    POINT p{x, y};
    clampToClipLocked(p);
    input().cursor = p;
    postMouseLocked(WM_MOUSEMOVE);
}

void InjectButton(MouseButton button, bool down)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    int vk = button == MouseButton::Left ? VK_LBUTTON : button == MouseButton::Right ? VK_RBUTTON : VK_MBUTTON;
    setKeyLocked(vk, down);
    UINT msg = 0;
    switch (button) {
    case MouseButton::Left:
        msg = down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
        break;
    case MouseButton::Right:
        msg = down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
        break;
    case MouseButton::Middle:
        msg = down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
        break;
    }
    postMouseLocked(msg);
}

void InjectWheel(int notches)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    HWND target = s.focus ? s.focus : windowAtLocked(in.cursor);
    if (!target)
        return;
    int delta = std::max(-273, std::min(notches, 273)) * WHEEL_DELTA;
    queueInputLocked(target, WM_MOUSEWHEEL, MAKEWPARAM(mouseKeysLocked(), delta), MAKELPARAM(in.cursor.x, in.cursor.y),
                     false);
}

void InjectKey(UINT vk, bool down, char16_t ch)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    vk &= 0xFF;
    bool altBefore = keyDown(VK_MENU);
    // Generic modifier keys stand for their left key; the generic state follows both.
    UINT specific = vk == VK_CONTROL ? VK_LCONTROL : vk == VK_SHIFT ? VK_LSHIFT : vk == VK_MENU ? VK_LMENU : vk;
    setKeyLocked(int(specific), down);
    updatePairLocked(VK_CONTROL, VK_LCONTROL, VK_RCONTROL);
    updatePairLocked(VK_SHIFT, VK_LSHIFT, VK_RSHIFT);
    updatePairLocked(VK_MENU, VK_LMENU, VK_RMENU);
    UINT generic = (specific == VK_LCONTROL || specific == VK_RCONTROL) ? VK_CONTROL
                   : (specific == VK_LSHIFT || specific == VK_RSHIFT) ? VK_SHIFT
                   : (specific == VK_LMENU || specific == VK_RMENU)   ? VK_MENU
                                                                         : specific;
    bool alt = altBefore || keyDown(VK_MENU);
    if (!s.focus)
        return;
    UINT msg = alt ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (down ? WM_KEYDOWN : WM_KEYUP);
    LPARAM lp = 1;
    if (alt)
        lp |= LPARAM(1) << 29;
    if (!down)
        lp |= (LPARAM(1) << 30) | (LPARAM(1) << 31);
    queueInputLocked(s.focus, msg, generic, LPARAM(uint32_t(lp)), false, down ? ch : 0);
}

void ResetInput()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    in.cursor = POINT{0, 0};
    in.clipped = false;
    std::fill(std::begin(in.keys), std::end(in.keys), 0);
    in.lastPressValid = false;
    s.capture = nullptr;
}

void SetMonitors(const std::vector<Monitor>& monitors)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    input().monitors = monitors.empty() ? defaultMonitors() : monitors;
}

} // namespace platform

HWND SetCapture(HWND hwnd)
{
    State& s = state();
    HWND old;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        if (!findLocked(hwnd))
            return nullptr;
        old = s.capture;
        s.capture = hwnd;
    }
    if (old && old != hwnd)
        SendMessageW(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(hwnd));
    return old;
}

BOOL ReleaseCapture()
{
    State& s = state();
    HWND old;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        old = s.capture;
        s.capture = nullptr;
    }
    if (old)
        SendMessageW(old, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND GetCapture()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return s.capture;
}

BOOL ClipCursor(const RECT* rc)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    if (!rc) {
        in.clipped = false;
        return TRUE;
    }
    if (platform::rectEmpty(*rc))
        return FALSE;
    in.clipped = true;
    in.clip = *rc;
    clampToClipLocked(in.cursor);
    return TRUE;
}

BOOL GetClipCursor(RECT* rc)
{
    if (!rc)
        return FALSE;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    *rc = in.clipped ? in.clip : monitorsLocked()[0].monitor;
    return TRUE;
}

BOOL GetCursorPos(POINT* pt)
{
    if (!pt)
        return FALSE;
    *pt = platform::detail::currentCursorPos();
    return TRUE;
}

BOOL SetCursorPos(int x, int y)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    POINT p{x, y};
    clampToClipLocked(p);
    input().cursor = p;
    return TRUE;
}

SHORT GetAsyncKeyState(int vk)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return keyDown(vk) ? SHORT(0x8000) : SHORT(0);
}

SHORT GetKeyState(int vk) { return GetAsyncKeyState(vk); }

HCURSOR LoadCursorW(HINSTANCE inst, LPCWSTR name)
{
    if (!IS_INTRESOURCE(name))
        return nullptr;
    UINT id = UINT(reinterpret_cast<uintptr_t>(name));
    bool system = inst == nullptr;
    if (!system) {
        std::ifstream f(platform::ResourceFolder(inst) + "/cursors/" + std::to_string(id) + ".cur", std::ios::binary);
        if (!f)
            return nullptr;
    } else if (id < 32512 || id > 32651) {
        return nullptr;
    }
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    UINT key = system ? id : id | 0x80000000u;
    auto it = in.loadedById.find(key);
    if (it != in.loadedById.end())
        return it->second;
    HCURSOR h = reinterpret_cast<HCURSOR>(in.nextCursor);
    in.nextCursor += 4;
    in.cursors[h] = Cursor{id, system};
    in.loadedById[key] = h;
    return h;
}

HCURSOR SetCursor(HCURSOR cursor)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    HCURSOR old = input().current;
    input().current = cursor;
    return old;
}

HCURSOR GetCursor()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return input().current;
}

BOOL DestroyCursor(HCURSOR cursor)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    InputState& in = input();
    auto it = in.cursors.find(cursor);
    if (it == in.cursors.end())
        return FALSE;
    // Shared cursors stay loaded; destroying them is harmless.
    return TRUE;
}

HMONITOR MonitorFromPoint(POINT pt, DWORD flags)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    const auto& mons = monitorsLocked();
    for (size_t i = 0; i < mons.size(); ++i)
        if (PtInRect(&mons[i].monitor, pt))
            return reinterpret_cast<HMONITOR>(i + 1);
    if (flags == MONITOR_DEFAULTTOPRIMARY)
        return reinterpret_cast<HMONITOR>(size_t(1));
    if (flags == MONITOR_DEFAULTTONEAREST) {
        size_t best = 0;
        int64_t bestDist = -1;
        for (size_t i = 0; i < mons.size(); ++i) {
            const RECT& r = mons[i].monitor;
            int64_t dx = pt.x < r.left ? r.left - pt.x : pt.x >= r.right ? pt.x - (r.right - 1) : 0;
            int64_t dy = pt.y < r.top ? r.top - pt.y : pt.y >= r.bottom ? pt.y - (r.bottom - 1) : 0;
            int64_t d = dx * dx + dy * dy;
            if (bestDist < 0 || d < bestDist) {
                bestDist = d;
                best = i;
            }
        }
        return reinterpret_cast<HMONITOR>(best + 1);
    }
    return nullptr;
}

HMONITOR MonitorFromWindow(HWND hwnd, DWORD flags)
{
    RECT r;
    if (!GetWindowRect(hwnd, &r))
        return flags == MONITOR_DEFAULTTONULL ? nullptr : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    return MonitorFromPoint(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}, flags);
}

BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info)
{
    if (!info)
        return FALSE;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    const auto& mons = monitorsLocked();
    size_t i = reinterpret_cast<size_t>(monitor);
    if (i == 0 || i > mons.size())
        return FALSE;
    info->rcMonitor = mons[i - 1].monitor;
    info->rcWork = mons[i - 1].work;
    info->dwFlags = i == 1 ? MONITORINFOF_PRIMARY : 0;
    return TRUE;
}
