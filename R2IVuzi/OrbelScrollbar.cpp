#include "R2IVuzi/OrbelScrollbar.h"

#include "platform/Gdi.h"
#include "platform/ModuleStartup.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace {

constexpr int kFirstPicture = 209;
// A held arrow waits as long as a deliberate click takes, then steps ten times a second.
constexpr UINT_PTR kRepeatTimer = 1;
constexpr UINT kRepeatDelayMs = 400;
constexpr UINT kRepeatIntervalMs = 100;

// The bar of each subclassed window, for the shared window procedure.
boost::mutex g_barsLock;
std::map<HWND, COrbelScrollbar*> g_bars;

COrbelScrollbar* barOf(HWND hwnd)
{
    boost::lock_guard<boost::mutex> g(g_barsLock);
    auto it = g_bars.find(hwnd);
    return it == g_bars.end() ? nullptr : it->second;
}

// For a window whose procedure still leads here after its bar let go of it (another
// subclass was set over ours): the system control's own handling.
LRESULT systemScrollBar(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    if (GetClassInfoExW(nullptr, u"SCROLLBAR", &wc) && wc.lpfnWndProc)
        return CallWindowProcW(wc.lpfnWndProc, hwnd, msg, wParam, lParam);
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

SIZE pictureSize(HBITMAP picture)
{
    BITMAP info = {};
    if (!picture || !GetObjectW(picture, sizeof(info), &info))
        return SIZE{0, 0};
    return SIZE{info.bmWidth, std::abs(info.bmHeight)};
}

// Copies picture at r's corner in its own size, or stretched over r.
void drawPicture(HDC dc, HDC source, HBITMAP picture, const RECT& r, bool stretch)
{
    const SIZE size = pictureSize(picture);
    if (size.cx <= 0 || size.cy <= 0 || r.right <= r.left || r.bottom <= r.top)
        return;
    HGDIOBJ old = SelectObject(source, picture);
    if (stretch)
        StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, source, 0, 0, size.cx, size.cy, SRCCOPY);
    else
        BitBlt(dc, r.left, r.top, size.cx, size.cy, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
}

} // namespace

COrbelScrollbar::COrbelScrollbar()
{
    for (int i = 0; i < PictureCount; ++i)
        m_pictures[i] = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(kFirstPicture + i));
    selectPictures(false);
}

COrbelScrollbar::~COrbelScrollbar()
{
    unhook();
    for (HBITMAP picture : m_pictures)
        if (picture)
            DeleteObject(picture);
}

bool COrbelScrollbar::SubclassWindow(HWND hwnd)
{
    if (m_hwnd || !IsWindow(hwnd))
        return false;
    {
        boost::lock_guard<boost::mutex> g(g_barsLock);
        if (!g_bars.emplace(hwnd, this).second)
            return false;  // another bar holds it
    }
    m_hwnd = hwnd;
    m_previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&COrbelScrollbar::WindowProc)));
    return true;
}

void COrbelScrollbar::unhook()
{
    if (!m_hwnd)
        return;
    // Under a procedure set over ours the window keeps reaching WindowProc, which then
    // hands everything to the system control.
    if (IsWindow(m_hwnd) &&
        GetWindowLongPtrW(m_hwnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&COrbelScrollbar::WindowProc))
        SetWindowLongPtrW(m_hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
    // The system control would never let go of a capture taken for a drag of ours.
    if (m_pressed && GetCapture() == m_hwnd)
        ReleaseCapture();
    stopRepeat();
    {
        boost::lock_guard<boost::mutex> g(g_barsLock);
        g_bars.erase(m_hwnd);
    }
    m_hwnd = nullptr;
    m_pressed = false;
    m_hit = HitNone;
}

void COrbelScrollbar::setPages(int pageCount, int currentPage)
{
    m_info.nPage = UINT(std::max(pageCount, 0));
    m_info.nPos = currentPage;
}

LRESULT CALLBACK COrbelScrollbar::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    COrbelScrollbar* bar = barOf(hwnd);
    if (!bar)
        return systemScrollBar(hwnd, msg, wParam, lParam);
    return bar->OnMessage(msg, wParam, lParam);
}

LRESULT COrbelScrollbar::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    const HWND hwnd = m_hwnd;
    switch (msg) {
    case WM_PAINT:
        return OnPaint();
    case WM_LBUTTONDOWN:
        OnPress(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_MOUSEMOVE:
        OnMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    case WM_TIMER:
        if (wParam != kRepeatTimer)
            return CallWindowProcW(m_previous, hwnd, msg, wParam, lParam);
        OnRepeat();
        return 0;
    case WM_LBUTTONUP:
        OnRelease();
        return 0;
    case WM_LBUTTONDBLCLK:
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the paint covers everything
    case SBM_SETSCROLLINFO: {
        // The system control must not draw over our pictures.
        const LRESULT result = CallWindowProcW(m_previous, hwnd, msg, 0, lParam);
        if (wParam)
            InvalidateRect(hwnd, nullptr, FALSE);
        return result;
    }
    case WM_SHOWWINDOW:
        SetScrollInfo(hwnd, SB_CTL, &m_info, TRUE);
        return 0;
    case WM_NCDESTROY: {
        const WNDPROC previous = m_previous;
        unhook();
        return CallWindowProcW(previous, hwnd, msg, wParam, lParam);
    }
    default:
        return CallWindowProcW(m_previous, hwnd, msg, wParam, lParam);
    }
}

void COrbelScrollbar::selectPictures(bool pressed)
{
    if (singlePage()) {
        m_track = m_pictures[SingleTrack];
        m_up = m_pictures[SingleUp];
        m_down = m_pictures[SingleDown];
        m_thumb = nullptr;
    } else if (pressed) {
        m_track = m_pictures[PressedTrack];
        m_up = m_pictures[PressedUp];
        m_down = m_pictures[PressedDown];
        m_thumb = m_pictures[PressedThumb];
    } else {
        m_track = m_pictures[NormalTrack];
        m_up = m_pictures[NormalUp];
        m_down = m_pictures[NormalDown];
        m_thumb = m_pictures[NormalThumb];
    }
}

COrbelScrollbar::Geometry COrbelScrollbar::geometry() const
{
    Geometry g = {};
    RECT client = {};
    GetClientRect(m_hwnd, &client);
    const SIZE up = pictureSize(m_up), down = pictureSize(m_down);
    g.up = RECT{client.left, client.top, client.left + up.cx, client.top + up.cy};
    g.down = RECT{client.left, client.bottom - down.cy, client.left + down.cx, client.bottom};
    g.track = RECT{g.up.left, g.up.bottom, g.up.right, g.down.top};
    const int height = g.track.bottom - g.track.top;
    if (height < 1)
        return g;
    const double step = double(height) / std::max<UINT>(m_info.nPage, 1);
    const int top = int(m_info.nPos * step + g.track.top + 0.5);
    g.thumb = RECT{g.track.left, top, g.track.right, int(top + step + 0.5)};
    return g;
}

int COrbelScrollbar::pageAt(int y, const Geometry& g)
{
    const int height = g.track.bottom - g.track.top;
    const int pages = int(std::max<UINT>(m_info.nPage, 1));
    const int page = height < 1 ? 0 : int((y - g.track.top) / (double(height) / pages));
    m_info.nPos = std::min(std::max(page, 0), pages - 1);
    return m_info.nPos;
}

int COrbelScrollbar::dragPage(int top, const Geometry& g)
{
    // The thumb is rounded to whole pixels: at its lowest place its top may lie a fraction
    // above the last page's start, which the plain division would call the page before.
    if (top >= g.track.bottom - (g.thumb.bottom - g.thumb.top)) {
        m_info.nPos = int(std::max<UINT>(m_info.nPage, 1)) - 1;
        return m_info.nPos;
    }
    return pageAt(top, g);
}

void COrbelScrollbar::notify(UINT msg, WPARAM wParam, LPARAM lParam)
{
    HWND target = m_notify ? m_notify : GetParent(m_hwnd);
    if (target)
        SendMessageW(target, msg, wParam, lParam);
}

void COrbelScrollbar::scroll(int code, int position)
{
    notify(WM_VSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(m_hwnd));
}

LRESULT COrbelScrollbar::OnPaint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    RECT client = {};
    GetClientRect(m_hwnd, &client);
    const int width = client.right - client.left, height = client.bottom - client.top;
    if (dc && width > 0 && height > 0) {
        selectPictures(m_pressed);
        const Geometry g = geometry();
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP canvas = CreateCompatibleBitmap(dc, width, height);
        HGDIOBJ oldCanvas = SelectObject(memory, canvas);
        HDC source = CreateCompatibleDC(dc);
        SetStretchBltMode(memory, COLORONCOLOR);
        drawPicture(memory, source, m_up, g.up, false);
        drawPicture(memory, source, m_down, g.down, false);
        drawPicture(memory, source, m_track, g.track, true);
        if (m_thumb) {
            RECT thumb = g.thumb;
            if (m_hit == HitThumb)
                OffsetRect(&thumb, 0, m_dragTop - thumb.top);
            drawPicture(memory, source, m_thumb, thumb, true);
        }
        BitBlt(dc, client.left, client.top, width, height, memory, client.left, client.top, SRCCOPY);
        DeleteDC(source);
        SelectObject(memory, oldCanvas);
        DeleteObject(canvas);
        DeleteDC(memory);
    }
    EndPaint(m_hwnd, &ps);
    return 0;
}

void COrbelScrollbar::OnPress(int x, int y)
{
    const HWND hwnd = m_hwnd;
    notify(kSelectMessage, 0, 0);
    if (m_hwnd != hwnd || singlePage())
        return;  // gone while the owner selected itself, or nothing to scroll
    m_pressed = true;
    m_pointer = POINT{x, y};
    selectPictures(true);
    const Geometry g = geometry();
    const POINT at = {x, y};
    if (PtInRect(&g.up, at)) {
        m_hit = HitUp;
        scroll(SB_LINEUP, 0);
    } else if (PtInRect(&g.down, at)) {
        m_hit = HitDown;
        scroll(SB_LINEDOWN, 0);
    } else if (PtInRect(&g.thumb, at)) {
        m_hit = HitThumb;
        m_dragOffset = y - g.thumb.top;
        m_dragTop = g.thumb.top;
    } else if (!PtInRect(&g.track, at)) {
        m_hit = HitNone;
    } else if (y < g.thumb.top) {
        m_hit = HitAbove;
        scroll(SB_PAGEUP, 0);
    } else if (y >= g.thumb.bottom) {
        m_hit = HitBelow;
        scroll(SB_PAGEDOWN, 0);
    } else {
        m_hit = HitNone;
    }
    // Only an arrow repeats; a press on the track pages once.
    if (m_hwnd == hwnd) {
        SetCapture(hwnd);
        if (m_hit == HitUp || m_hit == HitDown) {
            m_repeating = false;
            SetTimer(hwnd, kRepeatTimer, kRepeatDelayMs, nullptr);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
    }
}

void COrbelScrollbar::OnRepeat()
{
    if (!m_pressed || (m_hit != HitUp && m_hit != HitDown)) {
        stopRepeat();
        return;
    }
    if (!m_repeating) {
        m_repeating = true;
        SetTimer(m_hwnd, kRepeatTimer, kRepeatIntervalMs, nullptr);
    }
    // Off the arrow the repeat pauses, as long as the button stays down.
    const Geometry g = geometry();
    if (PtInRect(m_hit == HitUp ? &g.up : &g.down, m_pointer))
        scroll(m_hit == HitUp ? SB_LINEUP : SB_LINEDOWN, 0);
}

void COrbelScrollbar::stopRepeat()
{
    if (m_hwnd && IsWindow(m_hwnd))
        KillTimer(m_hwnd, kRepeatTimer);
    m_repeating = false;
}

void COrbelScrollbar::OnMove(int x, int y)
{
    m_pointer = POINT{x, y};
    const Geometry g = geometry();
    if (m_hit == HitThumb && y >= g.track.top && y < g.track.bottom) {
        const int top = y - m_dragOffset;
        if (top != m_dragTop) {
            const int before = dragPage(m_dragTop, g);
            const int lowest = g.track.bottom - (g.thumb.bottom - g.thumb.top);
            m_dragTop = std::max(g.track.top, std::min(top, lowest));
            const int after = dragPage(m_dragTop, g);
            if (after != before)
                scroll(SB_THUMBTRACK, after);
        }
    }
    if (m_hwnd)
        InvalidateRect(m_hwnd, nullptr, FALSE);
}

void COrbelScrollbar::OnRelease()
{
    // Only a press that took the capture has anything to end, whatever the page count
    // became since.
    if (!m_pressed)
        return;
    const HWND hwnd = m_hwnd;
    m_pressed = false;
    m_pointer = POINT{-1, -1};
    stopRepeat();
    selectPictures(false);
    const int hit = m_hit;
    m_hit = HitNone;
    if (GetCapture() == hwnd)
        ReleaseCapture();
    if (hit == HitThumb)
        scroll(SB_THUMBPOSITION, dragPage(m_dragTop, geometry()));
    if (m_hwnd == hwnd)
        InvalidateRect(hwnd, nullptr, FALSE);
}
