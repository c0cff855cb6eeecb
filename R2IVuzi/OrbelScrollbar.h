// The vertical scroll bar beside a sub-frame: takes over a window of the system class
// "SCROLLBAR", paints it from the module's bitmaps 209-223, and turns presses and thumb
// drags into WM_VSCROLL for the notification window (and WM_APP + 9 on every press, so
// the sub-frame selects itself). Its range is a page count and a current page that the
// owner writes; the bar never pages by itself. An arrow held down repeats its line
// message while the pointer stays on it.
//
// User-interface thread only: subclass, use and destroy the object on the thread of the
// window. The object never destroys the window; either may go first (a destroyed window
// unhooks itself, a destroyed object hands the window its system procedure back).
// The notification window may repaint or re-range the bar while it handles a message,
// but must not delete this object then.
#pragma once

#include "platform/Gdi.h"
#include "platform/Win32.h"

class COrbelScrollbar {
public:
    // Messages sent to the notification window.
    static constexpr UINT kSelectMessage = WM_APP + 9;  // wParam 0, lParam 0, on every press

    // Loads the bitmaps.
    COrbelScrollbar();
    // Restores the window procedure if still subclassed, deletes the bitmaps.
    ~COrbelScrollbar();
    COrbelScrollbar(const COrbelScrollbar&) = delete;
    COrbelScrollbar& operator=(const COrbelScrollbar&) = delete;

    // Takes over a "SCROLLBAR" window; false for no window or when this bar already
    // holds one.
    bool SubclassWindow(HWND hwnd);
    HWND hwnd() const { return m_hwnd; }
    // The sub-frame's window; null: the bar's parent.
    void setNotifyWindow(HWND window) { m_notify = window; }

    // The owner writes the page count and the current page, then invalidates the bar.
    // A count below 2 (0 included) shows and behaves as one page; negatives count as 0.
    void setPages(int pageCount, int currentPage);
    int pageCount() const { return int(m_info.nPage); }
    int currentPage() const { return m_info.nPos; }

private:
    enum Hit { HitNone = -1, HitUp = 1, HitDown = 2, HitThumb = 3, HitAbove = 4, HitBelow = 5 };
    // Bitmap slots, id - 209.
    enum Picture {
        NormalThumb, NormalDown, NormalTrack, NormalUp,
        PressedThumb, PressedDown, PressedUp, PressedTrack,
        Spare217, Spare218, Spare219, Spare220,
        SingleDown, SingleTrack, SingleUp,
        PictureCount
    };
    static_assert(NormalUp == 212 - 209 && PressedTrack == 216 - 209 && SingleUp == 223 - 209 && PictureCount == 15,
                  "slots follow the bitmap ids");
    struct Geometry {
        RECT up, down, track, thumb;
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void unhook();

    LRESULT OnPaint();
    void OnPress(int x, int y);
    void OnMove(int x, int y);
    void OnRelease();
    // The held arrow's next line message.
    void OnRepeat();
    void stopRepeat();

    // Fewer than two pages draw and behave as one, so no step divides by zero.
    bool singlePage() const { return m_info.nPage < 2; }
    void selectPictures(bool pressed);
    Geometry geometry() const;
    // The page holding y on the track, stored as the current page.
    int pageAt(int y, const Geometry& g);
    // The page of a dragged thumb top: its lowest place is the last page.
    int dragPage(int top, const Geometry& g);
    void notify(UINT msg, WPARAM wParam, LPARAM lParam);
    void scroll(int code, int position);

    HBITMAP m_pictures[PictureCount] = {};
    HBITMAP m_track = nullptr, m_up = nullptr, m_down = nullptr, m_thumb = nullptr;
    // nPage holds the page count and nPos the current page.
    SCROLLINFO m_info = {sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE | SIF_POS, 0, 0, 1, 0, 0};
    int m_hit = HitNone;
    int m_dragOffset = 0;
    int m_dragTop = 0;
    bool m_pressed = false;
    bool m_repeating = false;  // the first delay is over
    POINT m_pointer = {-1, -1};
    HWND m_hwnd = nullptr;
    HWND m_notify = nullptr;
    WNDPROC m_previous = nullptr;
};
