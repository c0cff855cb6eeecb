#include "platform/WindowInternal.h"

#include "platform/Gdi.h"
#include "platform/TextConv.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>

namespace platform {
namespace detail {

void Surface::resize(int w, int h)
{
    // Windows may be larger than anything shown; the surface keeps at most 2^26 pixels.
    w = std::min(std::max(w, 0), 16384);
    h = std::min(std::max(h, 0), 16384);
    if (int64_t(w) * h > (int64_t(1) << 26))
        h = int((int64_t(1) << 26) / std::max(w, 1));
    if (w == width && h == height)
        return;
    // Content stays top-left; new area is zero.
    std::vector<uint8_t> fresh(size_t(w) * size_t(h) * 4u, 0);
    int cw = std::min(w, width), ch = std::min(h, height);
    for (int y = 0; y < ch; ++y)
        std::memcpy(&fresh[size_t(y) * size_t(w) * 4u], &pixels[size_t(y) * size_t(width) * 4u], size_t(cw) * 4u);
    pixels.swap(fresh);
    width = w;
    height = h;
}

LRESULT editControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

namespace {
LRESULT scrollBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void clockMoved()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    notifyAllLocked();
}

std::u16string lower(std::u16string s)
{
    for (char16_t& c : s)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    return s;
}

std::u16string nameOf(LPCWSTR name)
{
    if (!name)
        return std::u16string();
    if (IS_INTRESOURCE(name))
        return u"#" + Utf8ToUtf16(std::to_string(uintptr_t(name)));
    return std::u16string(name);
}

// Positions and sizes are kept where their sums cannot overflow.
int clampPos(int v) { return std::max(-(1 << 28), std::min(v, 1 << 28)); }
int clampSize(int v) { return std::max(0, std::min(v, 1 << 20)); }

RECT clientRectOf(const Window& w) { return RECT{0, 0, w.rect.right - w.rect.left, w.rect.bottom - w.rect.top}; }

void preorder(State& s, HWND h, std::vector<HWND>& out)
{
    out.push_back(h);
    auto w = findLocked(h);
    if (!w)
        return;
    std::vector<HWND> kids = w->children;
    for (HWND c : kids)
        preorder(s, c, out);
}

void postorder(State& s, HWND h, std::vector<HWND>& out)
{
    auto w = findLocked(h);
    if (w) {
        std::vector<HWND> kids = w->children;
        for (HWND c : kids)
            postorder(s, c, out);
    }
    out.push_back(h);
}

// Drops everything queued for a window that is going away and releases its senders.
void detachLocked(State& s, HWND h)
{
    s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(), [h](const Timer& t) { return t.hwnd == h; }),
                   s.timers.end());
    for (auto& entry : s.queues) {
        ThreadQueue& q = *entry.second;
        q.posted.erase(std::remove_if(q.posted.begin(), q.posted.end(), [h](const MSG& m) { return m.hwnd == h; }),
                       q.posted.end());
        q.input.erase(
            std::remove_if(q.input.begin(), q.input.end(), [h](const InputEvent& e) { return e.msg.hwnd == h; }),
            q.input.end());
        for (auto it = q.sent.begin(); it != q.sent.end();) {
            if ((*it)->hwnd == h) {
                (*it)->result = 0;
                (*it)->done = true;
                if (auto sq = s.queues.find((*it)->sender); sq != s.queues.end())
                    sq->second->wake.notify_all();
                it = q.sent.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (s.focus == h)
        s.focus = nullptr;
    if (s.capture == h)
        s.capture = nullptr;
}

void registerSystemClassesLocked(State& s)
{
    auto sb = std::make_shared<WindowClass>();
    sb->name = u"SCROLLBAR";
    sb->proc = scrollBarProc;
    sb->system = true;
    s.classes[lower(sb->name)] = sb;
    auto edit = std::make_shared<WindowClass>();
    edit->name = u"EDIT";
    edit->proc = editControlProc;
    edit->system = true;
    s.classes[lower(edit->name)] = edit;
}

void sendSizeMove(HWND h, const RECT& r)
{
    callProc(h, WM_SIZE, SIZE_RESTORED, MAKELPARAM(r.right - r.left, r.bottom - r.top));
    callProc(h, WM_MOVE, 0, MAKELPARAM(r.left, r.top));
}

// The parent's client area under a window, invalidated when the window moves or hides.
void exposeParentLocked(Window& w)
{
    if (!w.parent)
        return;
    if (auto p = findLocked(w.parent))
        invalidateLocked(*p, &w.rect, true);
}
} // namespace

State& state()
{
    static State* s = [] {
        auto* st = new State();
        registerSystemClassesLocked(*st);
        platform::SetClockListener(clockMoved);
        return st;
    }();
    return *s;
}

std::shared_ptr<Window> findLocked(HWND hwnd)
{
    State& s = state();
    auto it = s.windows.find(hwnd);
    return it == s.windows.end() ? nullptr : it->second;
}

std::shared_ptr<ThreadQueue> queueLocked(DWORD thread)
{
    State& s = state();
    auto& q = s.queues[thread];
    if (!q) {
        q = std::make_shared<ThreadQueue>();
        q->thread = thread;
    }
    return q;
}

std::shared_ptr<ThreadQueue> liveQueueLocked(DWORD thread)
{
    auto it = state().queues.find(thread);
    return (it != state().queues.end() && it->second->alive) ? it->second : nullptr;
}

void notifyAllLocked()
{
    for (auto& q : state().queues)
        q.second->wake.notify_all();
}

bool visibleLocked(const Window& w)
{
    const Window* cur = &w;
    while (cur) {
        if (!(cur->style & WS_VISIBLE))
            return false;
        if (!cur->parent)
            return true;
        auto p = findLocked(cur->parent);
        cur = p.get();
    }
    return false;
}

POINT clientOriginLocked(const Window& w)
{
    POINT pt{w.rect.left, w.rect.top};
    HWND p = w.parent;
    while (p) {
        auto pw = findLocked(p);
        if (!pw)
            break;
        pt.x += pw->rect.left;
        pt.y += pw->rect.top;
        p = pw->parent;
    }
    return pt;
}

Window* topLevelOfLocked(Window* w)
{
    while (w && w->parent) {
        auto p = findLocked(w->parent);
        if (!p)
            return nullptr;
        w = p.get();
    }
    return w;
}

bool paintTarget(HWND hwnd, std::shared_ptr<Surface>& surface, POINT& origin, Region& visible)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w || !visibleLocked(*w))
        return false;
    Window* top = topLevelOfLocked(w.get());
    if (!top || !top->surface)
        return false;
    surface = top->surface;
    POINT screen = clientOriginLocked(*w);
    POINT topScreen{top->rect.left, top->rect.top};
    origin = POINT{screen.x - topScreen.x, screen.y - topScreen.y};
    // Everything in surface coordinates first.
    RECT mine = clientRectOf(*w);
    OffsetRect(&mine, origin.x, origin.y);
    visible = Region(mine);
    if (w->style & WS_CLIPCHILDREN)
        for (HWND c : w->children) {
            auto cw = findLocked(c);
            if (cw && (cw->style & WS_VISIBLE)) {
                RECT cr = cw->rect;
                OffsetRect(&cr, origin.x, origin.y);
                visible.subtract(cr);
            }
        }
    Window* cur = w.get();
    while (cur->parent) {
        auto p = findLocked(cur->parent);
        if (!p)
            return false;
        POINT ps = clientOriginLocked(*p);
        POINT po{ps.x - topScreen.x, ps.y - topScreen.y};
        RECT pr = clientRectOf(*p);
        OffsetRect(&pr, po.x, po.y);
        visible.intersect(pr);
        if (cur->style & WS_CLIPSIBLINGS)
            for (HWND sib : p->children) {
                if (sib == cur->handle)
                    break; // only siblings above this one
                auto sw = findLocked(sib);
                if (sw && (sw->style & WS_VISIBLE)) {
                    RECT sr = sw->rect;
                    OffsetRect(&sr, po.x, po.y);
                    visible.subtract(sr);
                }
            }
        cur = p.get();
    }
    visible.intersect(RECT{0, 0, surface->width, surface->height});
    visible.offset(-origin.x, -origin.y);
    return true;
}

LRESULT callProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WNDPROC proc = nullptr;
    {
        State& s = state();
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return 0;
        proc = w->proc;
    }
    return proc ? proc(hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

void invalidateLocked(Window& w, const RECT* rc, bool erase)
{
    RECT client = clientRectOf(w);
    RECT area = rc ? rectIntersect(*rc, client) : client;
    if (rectEmpty(area))
        return;
    if (w.updatePending) {
        RECT u;
        UnionRect(&u, &w.update, &area);
        w.update = u;
    } else {
        w.update = area;
        w.updatePending = true;
    }
    w.erasePending = w.erasePending || erase;
    ++w.paintGeneration;
    // Without WS_CLIPCHILDREN the children under the area repaint too.
    if (!(w.style & WS_CLIPCHILDREN))
        for (HWND c : w.children) {
            auto cw = findLocked(c);
            if (!cw)
                continue;
            RECT cr = rectIntersect(area, cw->rect);
            if (rectEmpty(cr))
                continue;
            OffsetRect(&cr, -cw->rect.left, -cw->rect.top);
            invalidateLocked(*cw, &cr, erase);
        }
    if (auto q = state().queues.find(w.thread); q != state().queues.end())
        q->second->wake.notify_all();
}

namespace {
LRESULT scrollBarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    State& s = state();
    switch (msg) {
    case SBM_SETSCROLLINFO: {
        auto* in = reinterpret_cast<const SCROLLINFO*>(lParam);
        if (!in)
            return 0;
        int pos;
        {
            boost::lock_guard<boost::mutex> g(s.lock);
            auto w = findLocked(hwnd);
            if (!w)
                return 0;
            SCROLLINFO& si = w->scroll;
            if (in->fMask & SIF_RANGE) {
                si.nMin = in->nMin;
                si.nMax = in->nMax;
            }
            if (in->fMask & SIF_PAGE)
                si.nPage = in->nPage;
            if (in->fMask & SIF_POS)
                si.nPos = in->nPos;
            // The page never exceeds the range and the position stays where a page fits.
            int64_t span = int64_t(si.nMax) - si.nMin + 1;
            if (span < 0)
                span = 0;
            if (int64_t(si.nPage) > span)
                si.nPage = UINT(span);
            int64_t maxPos = int64_t(si.nMax) - std::max<int64_t>(int64_t(si.nPage) - 1, 0);
            if (si.nPos > maxPos)
                si.nPos = int(std::max<int64_t>(maxPos, si.nMin));
            if (si.nPos < si.nMin)
                si.nPos = si.nMin;
            pos = si.nPos;
            if (wParam)
                invalidateLocked(*w, nullptr, true);
        }
        return pos;
    }
    case SBM_GETSCROLLINFO: {
        auto* out = reinterpret_cast<SCROLLINFO*>(lParam);
        if (!out)
            return FALSE;
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return FALSE;
        const SCROLLINFO& si = w->scroll;
        if (out->fMask & SIF_RANGE) {
            out->nMin = si.nMin;
            out->nMax = si.nMax;
        }
        if (out->fMask & SIF_PAGE)
            out->nPage = si.nPage;
        if (out->fMask & SIF_POS)
            out->nPos = si.nPos;
        if (out->fMask & SIF_TRACKPOS)
            out->nTrackPos = si.nTrackPos;
        return TRUE;
    }
    case SBM_SETPOS: {
        SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, int(wParam), 0};
        int old;
        {
            boost::lock_guard<boost::mutex> g(s.lock);
            auto w = findLocked(hwnd);
            if (!w)
                return 0;
            old = w->scroll.nPos;
        }
        scrollBarProc(hwnd, SBM_SETSCROLLINFO, lParam, reinterpret_cast<LPARAM>(&si));
        return old;
    }
    case SBM_GETPOS: {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        return w ? w->scroll.nPos : 0;
    }
    case SBM_SETRANGE: {
        SCROLLINFO si{sizeof(SCROLLINFO), SIF_RANGE, int(wParam), int(lParam), 0, 0, 0};
        return scrollBarProc(hwnd, SBM_SETSCROLLINFO, FALSE, reinterpret_cast<LPARAM>(&si));
    }
    case SBM_GETRANGE: {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return 0;
        if (wParam)
            *reinterpret_cast<int*>(wParam) = w->scroll.nMin;
        if (lParam)
            *reinterpret_cast<int*>(lParam) = w->scroll.nMax;
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}
} // namespace

} // namespace detail
} // namespace platform

using namespace platform::detail;

// ---- rectangles ------------------------------------------------------------------

BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b)
{
    if (!dst || !a || !b)
        return FALSE;
    *dst = platform::rectIntersect(*a, *b);
    return !platform::rectEmpty(*dst);
}

BOOL UnionRect(RECT* dst, const RECT* a, const RECT* b)
{
    if (!dst || !a || !b)
        return FALSE;
    bool ea = platform::rectEmpty(*a), eb = platform::rectEmpty(*b);
    if (ea && eb) {
        *dst = RECT{0, 0, 0, 0};
        return FALSE;
    }
    if (ea) {
        *dst = *b;
        return TRUE;
    }
    if (eb) {
        *dst = *a;
        return TRUE;
    }
    *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
    return TRUE;
}

BOOL PtInRect(const RECT* r, POINT pt)
{
    return r && pt.x >= r->left && pt.x < r->right && pt.y >= r->top && pt.y < r->bottom;
}

BOOL SetRect(RECT* r, int left, int top, int right, int bottom)
{
    if (!r)
        return FALSE;
    *r = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL SetRectEmpty(RECT* r) { return SetRect(r, 0, 0, 0, 0); }

BOOL OffsetRect(RECT* r, int dx, int dy)
{
    if (!r)
        return FALSE;
    r->left += dx;
    r->right += dx;
    r->top += dy;
    r->bottom += dy;
    return TRUE;
}

BOOL InflateRect(RECT* r, int dx, int dy)
{
    if (!r)
        return FALSE;
    r->left -= dx;
    r->right += dx;
    r->top -= dy;
    r->bottom += dy;
    return TRUE;
}

BOOL IsRectEmpty(const RECT* r) { return !r || platform::rectEmpty(*r); }

BOOL EqualRect(const RECT* a, const RECT* b)
{
    return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}

BOOL CopyRect(RECT* dst, const RECT* src)
{
    if (!dst || !src)
        return FALSE;
    *dst = *src;
    return TRUE;
}

// ---- classes ---------------------------------------------------------------------

ATOM RegisterClassExW(const WNDCLASSEXW* wc)
{
    if (!wc || !wc->lpszClassName || wc->cbSize != sizeof(WNDCLASSEXW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    std::u16string key = lower(nameOf(wc->lpszClassName));
    auto it = s.classes.find(key);
    if (it != s.classes.end() && !it->second->system) {
        SetLastError(1410); // ERROR_CLASS_ALREADY_EXISTS
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = nameOf(wc->lpszClassName);
    cls->style = wc->style;
    cls->proc = wc->lpfnWndProc;
    cls->cursor = wc->hCursor;
    cls->background = wc->hbrBackground;
    cls->instance = wc->hInstance;
    s.classes[key] = cls;
    static ATOM next = 0xC000;
    return next++;
}

BOOL GetClassInfoExW(HINSTANCE, LPCWSTR className, WNDCLASSEXW* wc)
{
    if (!className || !wc)
        return FALSE;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto it = s.classes.find(lower(nameOf(className)));
    if (it == s.classes.end()) {
        SetLastError(1411); // ERROR_CLASS_DOES_NOT_EXIST
        return FALSE;
    }
    const WindowClass& c = *it->second;
    wc->style = c.style;
    wc->lpfnWndProc = c.proc;
    wc->cbClsExtra = 0;
    wc->cbWndExtra = 0;
    wc->hInstance = c.instance;
    wc->hIcon = nullptr;
    wc->hCursor = c.cursor;
    wc->hbrBackground = c.background;
    wc->lpszMenuName = nullptr;
    wc->lpszClassName = className;
    wc->hIconSm = nullptr;
    return TRUE;
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE)
{
    if (!className)
        return FALSE;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto it = s.classes.find(lower(nameOf(className)));
    if (it == s.classes.end() || it->second->system)
        return FALSE;
    for (auto& w : s.windows)
        if (w.second->cls == it->second)
            return FALSE; // still in use
    s.classes.erase(it);
    return TRUE;
}

int platform::UnregisterClassesOfCode(const void* codeAddress)
{
    Dl_info mine{};
    if (!codeAddress || !dladdr(codeAddress, &mine) || !mine.dli_fbase)
        return 0;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    int removed = 0;
    for (auto it = s.classes.begin(); it != s.classes.end();) {
        Dl_info where{};
        bool inModule = !it->second->system && it->second->proc &&
                        dladdr(reinterpret_cast<const void*>(it->second->proc), &where) &&
                        where.dli_fbase == mine.dli_fbase;
        if (inModule) {
            it = s.classes.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

// ---- windows ---------------------------------------------------------------------

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE inst, LPVOID param)
{
    State& s = state();
    HWND h;
    RECT rect;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto it = s.classes.find(lower(nameOf(className)));
        if (it == s.classes.end()) {
            SetLastError(1407); // ERROR_CANNOT_FIND_WND_CLASS
            return nullptr;
        }
        std::shared_ptr<Window> parentWindow;
        if (parent) {
            parentWindow = findLocked(parent);
            if (!parentWindow || parentWindow->destroying) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
        } else if (style & WS_CHILD) {
            SetLastError(1406); // ERROR_TLW_WITH_WSCHILD
            return nullptr;
        }
        if (x == CW_USEDEFAULT)
            x = y = 0;
        if (width == CW_USEDEFAULT)
            width = height = 0;
        auto w = std::make_shared<Window>();
        w->handle = h = reinterpret_cast<HWND>(s.nextHandle);
        s.nextHandle += 4; // never reused
        w->thread = GetCurrentThreadId();
        w->cls = it->second;
        w->style = style;
        w->exStyle = exStyle;
        x = clampPos(x);
        y = clampPos(y);
        w->rect = rect = RECT{x, y, x + clampSize(width), y + clampSize(height)};
        w->proc = it->second->proc;
        w->text = windowName ? std::u16string(windowName) : std::u16string();
        if (style & WS_CHILD) {
            w->parent = parent;
            w->id = LONG_PTR(reinterpret_cast<uintptr_t>(menu));
            // Children go below their earlier siblings, so creation order is z-order.
            parentWindow->children.push_back(h);
        } else {
            // A top-level window's parent argument is its owner.
            Window* owner = parentWindow ? topLevelOfLocked(parentWindow.get()) : nullptr;
            w->owner = owner ? owner->handle : nullptr;
            w->surface = std::make_shared<Surface>();
            w->surface->resize(rect.right - rect.left, rect.bottom - rect.top);
            s.topLevels.insert(s.topLevels.begin(), h);
        }
        s.windows[h] = w;
        myQueueLocked();
    }
    CREATESTRUCTW cs{param, inst, menu, parent, height, width, y, x, LONG(style), windowName, className, exStyle};
    if (!callProc(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) ||
        callProc(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        SetLastError(1400);
        return nullptr;
    }
    if (!IsWindow(h))
        return nullptr;
    bool visible;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(h);
        visible = w && (w->style & WS_VISIBLE);
        if (w && visibleLocked(*w))
            invalidateLocked(*w, nullptr, true);
    }
    if (visible)
        callProc(h, WM_SHOWWINDOW, TRUE, 0);
    sendSizeMove(h, rect);
    return h;
}

BOOL DestroyWindow(HWND hwnd)
{
    State& s = state();
    std::vector<HWND> owned;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->thread != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying)
            return TRUE; // an enclosing destruction finishes it
        for (auto& o : s.windows)
            if (o.second->owner == hwnd && !o.second->destroying)
                owned.push_back(o.first);
    }
    for (HWND o : owned)
        DestroyWindow(o);

    std::vector<HWND> pre, post;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w || w->destroying)
            return TRUE;
        preorder(s, hwnd, pre);
        for (HWND h : pre)
            if (auto d = findLocked(h))
                d->destroying = true;
        if (w->style & WS_VISIBLE)
            exposeParentLocked(*w);
    }
    for (HWND h : pre)
        callProc(h, WM_DESTROY, 0, 0);
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        postorder(s, hwnd, post);
        for (HWND h : post)
            detachLocked(s, h);
    }
    for (HWND h : post) {
        callProc(h, WM_NCDESTROY, 0, 0);
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(h);
        if (!w)
            continue;
        detachLocked(s, h); // anything the handler queued meanwhile
        if (w->parent) {
            if (auto p = findLocked(w->parent))
                p->children.erase(std::remove(p->children.begin(), p->children.end(), h), p->children.end());
        } else {
            s.topLevels.erase(std::remove(s.topLevels.begin(), s.topLevels.end(), h), s.topLevels.end());
        }
        s.windows.erase(h);
    }
    return TRUE;
}

BOOL IsWindow(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return findLocked(hwnd) != nullptr;
}

HWND GetParent(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return nullptr;
    return w->parent ? w->parent : w->owner;
}

BOOL IsChild(HWND parent, HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    while (w && w->parent) {
        if (w->parent == parent)
            return TRUE;
        w = findLocked(w->parent);
    }
    return FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return 0;
    if (processId)
        *processId = GetCurrentProcessId();
    return w->thread;
}

BOOL GetClientRect(HWND hwnd, RECT* rc)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w || !rc)
        return FALSE;
    *rc = clientRectOf(*w);
    return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rc)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w || !rc)
        return FALSE;
    POINT o = clientOriginLocked(*w);
    *rc = RECT{o.x, o.y, o.x + w->rect.right - w->rect.left, o.y + w->rect.bottom - w->rect.top};
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    State& s = state();
    bool sized = false, moved = false, shown = false, hidden = false;
    RECT now;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        bool wasVisible = (w->style & WS_VISIBLE) != 0;
        if (wasVisible)
            exposeParentLocked(*w);
        RECT r = w->rect;
        if (!(flags & SWP_NOMOVE))
            OffsetRect(&r, clampPos(x) - r.left, clampPos(y) - r.top);
        if (!(flags & SWP_NOSIZE)) {
            r.right = r.left + clampSize(cx);
            r.bottom = r.top + clampSize(cy);
        }
        sized = (r.right - r.left) != (w->rect.right - w->rect.left) || (r.bottom - r.top) != (w->rect.bottom - w->rect.top);
        moved = r.left != w->rect.left || r.top != w->rect.top;
        w->rect = now = r;
        if (w->surface)
            w->surface->resize(r.right - r.left, r.bottom - r.top);
        if (!(flags & SWP_NOZORDER)) {
            std::vector<HWND>* list = &s.topLevels;
            if (w->parent)
                if (auto p = findLocked(w->parent))
                    list = &p->children;
            list->erase(std::remove(list->begin(), list->end(), hwnd), list->end());
            auto pos = list->begin();
            if (insertAfter == HWND_BOTTOM) {
                pos = list->end();
            } else if (insertAfter != HWND_TOP && insertAfter != HWND_TOPMOST && insertAfter != HWND_NOTOPMOST) {
                auto at = std::find(list->begin(), list->end(), insertAfter);
                pos = at == list->end() ? list->begin() : at + 1;
            }
            list->insert(pos, hwnd);
        }
        if ((flags & SWP_SHOWWINDOW) && !wasVisible) {
            w->style |= WS_VISIBLE;
            shown = true;
        }
        if ((flags & SWP_HIDEWINDOW) && wasVisible) {
            w->style &= ~DWORD(WS_VISIBLE);
            hidden = true;
        }
        if ((w->style & WS_VISIBLE) && !(flags & SWP_NOREDRAW)) {
            exposeParentLocked(*w);
            invalidateLocked(*w, nullptr, true);
        }
    }
    if (shown)
        callProc(hwnd, WM_SHOWWINDOW, TRUE, 0);
    if (hidden)
        callProc(hwnd, WM_SHOWWINDOW, FALSE, 0);
    if (sized)
        callProc(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(now.right - now.left, now.bottom - now.top));
    if (moved)
        callProc(hwnd, WM_MOVE, 0, MAKELPARAM(now.left, now.top));
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint)
{
    return SetWindowPos(hwnd, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : UINT(SWP_NOREDRAW)));
}

BOOL ShowWindow(HWND hwnd, int cmd)
{
    State& s = state();
    bool was;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return FALSE;
        was = (w->style & WS_VISIBLE) != 0;
    }
    bool want = cmd != SW_HIDE;
    if (want != was)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | (want ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    return was ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    return w && visibleLocked(*w);
}

BOOL EnableWindow(HWND hwnd, BOOL enable)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w)
        return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
        w->style &= ~DWORD(WS_DISABLED);
    else
        w->style |= WS_DISABLED;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    return w && !(w->style & WS_DISABLED);
}

BOOL ClientToScreen(HWND hwnd, POINT* pt)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w || !pt)
        return FALSE;
    POINT o = clientOriginLocked(*w);
    pt->x += o.x;
    pt->y += o.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, POINT* pt)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w || !pt)
        return FALSE;
    POINT o = clientOriginLocked(*w);
    pt->x -= o.x;
    pt->y -= o.y;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, POINT* pts, UINT count)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    POINT a{0, 0}, b{0, 0};
    if (from) {
        auto w = findLocked(from);
        if (!w)
            return 0;
        a = clientOriginLocked(*w);
    }
    if (to) {
        auto w = findLocked(to);
        if (!w)
            return 0;
        b = clientOriginLocked(*w);
    }
    int dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; pts && i < count; ++i) {
        pts[i].x += dx;
        pts[i].y += dy;
    }
    return MAKELONG(dx, dy);
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text)
{
    if (!IsWindow(hwnd))
        return FALSE;
    return SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR buffer, int maxCount)
{
    if (!buffer || maxCount <= 0)
        return 0;
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w) {
        buffer[0] = 0;
        return 0;
    }
    size_t n = std::min(w->text.size(), size_t(maxCount - 1));
    std::memcpy(buffer, w->text.data(), n * sizeof(WCHAR));
    buffer[n] = 0;
    return int(n);
}

int GetWindowTextLengthW(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    return w ? int(w->text.size()) : 0;
}

HWND SetFocus(HWND hwnd)
{
    State& s = state();
    HWND old;
    {
        boost::lock_guard<boost::mutex> g(s.lock);
        if (hwnd && !findLocked(hwnd))
            return nullptr;
        old = s.focus;
        if (old == hwnd)
            return old;
        s.focus = hwnd;
    }
    if (old)
        callProc(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    if (hwnd)
        callProc(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

HWND GetFocus()
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    return s.focus;
}

HWND GetDesktopWindow() { return nullptr; }

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR value)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(value);
        break;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = value;
        break;
    case GWLP_ID:
        old = w->id;
        w->id = value;
        break;
    case GWL_STYLE:
        old = LONG_PTR(w->style);
        w->style = DWORD(value);
        break;
    case GWL_EXSTYLE:
        old = LONG_PTR(w->exStyle);
        w->exStyle = DWORD(value);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    SetLastError(0);
    return old;
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (index) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_USERDATA:
        return w->userData;
    case GWLP_ID:
        return w->id;
    case GWL_STYLE:
        return LONG_PTR(w->style);
    case GWL_EXSTYLE:
        return LONG_PTR(w->exStyle);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->cls->instance);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    State& s = state();
    switch (msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_ERASEBKGND: {
        HBRUSH brush;
        RECT client;
        {
            boost::lock_guard<boost::mutex> g(s.lock);
            auto w = findLocked(hwnd);
            if (!w || !w->cls->background)
                return 0;
            brush = w->cls->background;
            client = clientRectOf(*w);
        }
        fillRectDC(reinterpret_cast<HDC>(wParam), &client, brush);
        return 1;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(hwnd, &ps))
            EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_MOUSEWHEEL: {
        HWND parent = GetParent(hwnd);
        bool child = (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) != 0;
        return child && parent ? SendMessageW(parent, msg, wParam, lParam) : 0;
    }
    case WM_SETCURSOR: {
        bool child = (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) != 0;
        HWND parent = GetParent(hwnd);
        if (child && parent && SendMessageW(parent, WM_SETCURSOR, wParam, lParam))
            return TRUE;
        HCURSOR cursor = nullptr;
        {
            boost::lock_guard<boost::mutex> g(s.lock);
            auto w = findLocked(hwnd);
            if (w)
                cursor = w->cls->cursor;
        }
        if (LOWORD(lParam) == HTCLIENT && cursor) {
            SetCursor(cursor);
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SETTEXT: {
        boost::lock_guard<boost::mutex> g(s.lock);
        auto w = findLocked(hwnd);
        if (!w)
            return FALSE;
        auto* text = reinterpret_cast<LPCWSTR>(lParam);
        w->text = text ? std::u16string(text) : std::u16string();
        return TRUE;
    }
    case WM_GETTEXT:
        return GetWindowTextW(hwnd, reinterpret_cast<LPWSTR>(lParam), int(wParam));
    case WM_GETTEXTLENGTH:
        return GetWindowTextLengthW(hwnd);
    default:
        return 0;
    }
}

int SetScrollInfo(HWND hwnd, int bar, LPCSCROLLINFO si, BOOL redraw)
{
    if (bar != SB_CTL || !si)
        return 0;
    return int(SendMessageW(hwnd, SBM_SETSCROLLINFO, WPARAM(redraw), reinterpret_cast<LPARAM>(si)));
}

BOOL GetScrollInfo(HWND hwnd, int bar, LPSCROLLINFO si)
{
    if (bar != SB_CTL || !si)
        return FALSE;
    return SendMessageW(hwnd, SBM_GETSCROLLINFO, 0, reinterpret_cast<LPARAM>(si)) ? TRUE : FALSE;
}

platform::SurfaceView platform::SurfaceOf(HWND hwnd)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    auto w = findLocked(hwnd);
    Window* top = w ? topLevelOfLocked(w.get()) : nullptr;
    SurfaceView v;
    if (!top || !top->surface)
        return v;
    v.pixels = top->surface->pixels.data();
    v.width = top->surface->width;
    v.height = top->surface->height;
    v.stride = v.width * 4;
    return v;
}

std::vector<HWND> platform::VisibleOwnedPopups(HWND owner)
{
    State& s = state();
    boost::lock_guard<boost::mutex> g(s.lock);
    std::vector<HWND> out;
    for (auto it = s.topLevels.rbegin(); it != s.topLevels.rend(); ++it) {
        auto w = findLocked(*it);
        if (w && owner && w->owner == owner && visibleLocked(*w))
            out.push_back(*it);
    }
    return out;
}
