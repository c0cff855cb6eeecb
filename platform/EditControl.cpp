// The "EDIT" system class: one line (or several, with ES_MULTILINE) of text held as the
// window text, a selection and a caret at the selection's end. Positions count UTF-16
// units; a surrogate pair is moved over, typed and deleted as one character.
#include "platform/Gdi.h"
#include "platform/WindowInternal.h"

#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <map>
#include <string>

namespace platform {
namespace detail {

namespace {

struct Selection {
    int start = 0; // anchor
    int end = 0;   // caret
};

// Edit windows may live on any thread; their selections share one lock.
boost::mutex selectionLock;
std::map<HWND, Selection> selections;

Selection selectionOf(HWND h)
{
    boost::lock_guard<boost::mutex> g(selectionLock);
    return selections[h];
}

void setSelection(HWND h, int start, int end)
{
    boost::lock_guard<boost::mutex> g(selectionLock);
    selections[h] = Selection{start, end};
}

std::u16string textOf(HWND h)
{
    std::u16string text(size_t(std::max(GetWindowTextLengthW(h), 0)) + 1, u'\0');
    text.resize(size_t(std::max(GetWindowTextW(h, &text[0], int(text.size())), 0)));
    return text;
}

bool isHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// The position one character before or after pos.
int stepBack(const std::u16string& t, int pos)
{
    if (pos <= 0)
        return 0;
    return pos >= 2 && isLow(t[size_t(pos - 1)]) && isHigh(t[size_t(pos - 2)]) ? pos - 2 : pos - 1;
}

int stepForward(const std::u16string& t, int pos)
{
    const int n = int(t.size());
    if (pos >= n)
        return n;
    return pos + 1 < n && isHigh(t[size_t(pos)]) && isLow(t[size_t(pos + 1)]) ? pos + 2 : pos + 1;
}

// Replaces [a, b) by what and leaves the caret after it, selection empty.
void replaceRange(HWND h, std::u16string text, int a, int b, const std::u16string& what)
{
    text.replace(size_t(a), size_t(b - a), what);
    DefWindowProcW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    const int caret = a + int(what.size());
    setSelection(h, caret, caret);
    InvalidateRect(h, nullptr, TRUE);
}

void replaceSelection(HWND h, const std::u16string& what)
{
    const std::u16string text = textOf(h);
    const Selection s = selectionOf(h);
    const int n = int(text.size());
    const int a = std::min(std::max(std::min(s.start, s.end), 0), n);
    const int b = std::min(std::max(std::max(s.start, s.end), 0), n);
    replaceRange(h, text, a, b, what);
}

void typeChar(HWND h, char16_t c)
{
    const DWORD style = DWORD(GetWindowLongPtrW(h, GWL_STYLE));
    const bool multiline = (style & ES_MULTILINE) != 0;
    if (c == u'\r' || c == u'\n') {
        if (multiline && (style & ES_WANTRETURN) && c == u'\r')
            replaceSelection(h, u"\r\n");
        return;
    }
    if (c == VK_BACK) {
        const std::u16string text = textOf(h);
        const Selection s = selectionOf(h);
        const int n = int(text.size());
        const int a = std::min(std::max(std::min(s.start, s.end), 0), n);
        const int b = std::min(std::max(std::max(s.start, s.end), 0), n);
        if (a != b)
            replaceRange(h, text, a, b, u"");
        else if (a > 0)
            replaceRange(h, text, stepBack(text, a), a, u"");
        return;
    }
    if (c < 0x20)
        return;
    replaceSelection(h, std::u16string(1, c));
}

void keyDown(HWND h, WPARAM vk)
{
    const std::u16string text = textOf(h);
    const int n = int(text.size());
    Selection s = selectionOf(h);
    s.start = std::min(std::max(s.start, 0), n);
    s.end = std::min(std::max(s.end, 0), n);
    int caret = s.end;
    switch (vk) {
    case VK_LEFT:
        caret = s.start != s.end ? std::min(s.start, s.end) : stepBack(text, caret);
        break;
    case VK_RIGHT:
        caret = s.start != s.end ? std::max(s.start, s.end) : stepForward(text, caret);
        break;
    case VK_HOME:
        caret = 0;
        break;
    case VK_END:
        caret = n;
        break;
    case VK_DELETE:
        if (s.start != s.end)
            replaceRange(h, text, std::min(s.start, s.end), std::max(s.start, s.end), u"");
        else if (caret < n)
            replaceRange(h, text, caret, stepForward(text, caret), u"");
        return;
    default:
        return;
    }
    setSelection(h, caret, caret);
    InvalidateRect(h, nullptr, TRUE);
}

void paint(HWND h)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(h, &ps);
    if (!dc)
        return;
    RECT client{};
    GetClientRect(h, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    int margin = 1;
    if (DWORD(GetWindowLongPtrW(h, GWL_EXSTYLE)) & WS_EX_STATICEDGE) {
        HBRUSH grey = CreateSolidBrush(RGB(128, 128, 128));
        const LONG r = client.right, b = client.bottom;
        const RECT edges[4] = {{0, 0, r, 1}, {0, b - 1, r, b}, {0, 0, 1, b}, {r - 1, 0, r, b}};
        for (const RECT& e : edges)
            FillRect(dc, &e, grey);
        DeleteObject(grey);
        margin = 2;
    }
    const std::u16string text = textOf(h);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    // Scrolled so that the caret stays inside the box.
    const int caret = std::min(std::max(selectionOf(h).end, 0), int(text.size()));
    SIZE upToCaret{0, 0};
    if (caret > 0)
        GetTextExtentPoint32W(dc, text.c_str(), caret, &upToCaret);
    const int room = std::max(int(client.right) - 2 * margin, 0);
    const int scroll = std::max(int(upToCaret.cx) - room, 0);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    TextOutW(dc, margin - scroll, margin, text.c_str(), int(text.size()));
    SelectObject(dc, oldFont);
    EndPaint(h, &ps);
}

} // namespace

LRESULT editControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case EM_GETSEL: {
        const Selection s = selectionOf(hwnd);
        const DWORD a = DWORD(std::min(s.start, s.end)), b = DWORD(std::max(s.start, s.end));
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = a;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = b;
        return LRESULT(MAKELPARAM(a, b));
    }
    case EM_SETSEL: {
        const int n = GetWindowTextLengthW(hwnd);
        int start = int(wParam), end = int(lParam);
        if (start == -1) {
            // No selection: the caret stays where it was.
            const int caret = std::min(std::max(selectionOf(hwnd).end, 0), n);
            setSelection(hwnd, caret, caret);
        } else {
            end = end < 0 || end > n ? n : end;
            start = start < 0 || start > n ? n : start;
            setSelection(hwnd, start, end);
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case EM_SCROLLCARET:
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case EM_REPLACESEL: {
        const auto* what = reinterpret_cast<const char16_t*>(lParam);
        replaceSelection(hwnd, what ? std::u16string(what) : std::u16string());
        return 0;
    }
    case WM_SETTEXT: {
        const LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
        setSelection(hwnd, 0, 0);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case WM_CHAR:
        typeChar(hwnd, char16_t(wParam));
        return 0;
    case WM_KEYDOWN:
        keyDown(hwnd, wParam);
        return 0;
    case WM_PAINT:
        paint(hwnd);
        return 0;
    case WM_NCDESTROY: {
        {
            boost::lock_guard<boost::mutex> g(selectionLock);
            selections.erase(hwnd);
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace detail
} // namespace platform
