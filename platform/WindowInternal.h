// Shared state of the window stand-in: handle tables, thread queues and timers, all
// guarded by one lock. Procedures are never called with the lock held.
#pragma once

#include "platform/Region.h"
#include "platform/Win32.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
namespace detail {

// A top-level window's pixels: B, G, R, 0, top-down, stride width * 4.
struct Surface {
    std::vector<uint8_t> pixels;
    int width = 0;
    int height = 0;
    void resize(int w, int h);
};

struct WindowClass {
    std::u16string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    HINSTANCE instance = nullptr;
    bool system = false;
};

struct Window {
    HWND handle = nullptr;
    DWORD thread = 0;
    std::shared_ptr<WindowClass> cls;
    HWND parent = nullptr; // WS_CHILD parent
    HWND owner = nullptr;  // owner of a top-level popup
    std::vector<HWND> children; // front is the top of the z-order
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};           // parent client coordinates for children, screen otherwise
    WNDPROC proc = nullptr;
    LONG_PTR userData = 0;
    LONG_PTR id = 0;
    std::u16string text;
    bool destroying = false;
    bool updatePending = false;
    bool erasePending = false;
    unsigned paintGeneration = 0; // counts invalidations
    RECT update{};         // bounding box of the update region, client coordinates
    SCROLLINFO scroll{};   // the "SCROLLBAR" class's fields
    std::shared_ptr<Surface> surface; // top-level windows only
};

struct SentMessage {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
    DWORD sender = 0;
};

struct InputEvent {
    MSG msg{};
    char16_t ch = 0;       // the character of a key press, for TranslateMessage
    bool setCursor = false; // WM_SETCURSOR goes first (mouse messages outside capture)
};

struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT period = 0;
    DWORD due = 0;
    DWORD thread = 0;
    TIMERPROC proc = nullptr;
};

struct ThreadQueue {
    DWORD thread = 0;
    std::deque<std::shared_ptr<SentMessage>> sent;
    std::deque<MSG> posted;
    std::deque<InputEvent> input;
    bool quit = false;
    int quitCode = 0;
    boost::condition_variable wake;
    bool alive = true;
};

struct State {
    boost::mutex lock;
    std::unordered_map<HWND, std::shared_ptr<Window>> windows;
    std::map<std::u16string, std::shared_ptr<WindowClass>> classes; // keys lower-cased
    std::vector<HWND> topLevels; // front is the top of the z-order
    std::map<DWORD, std::shared_ptr<ThreadQueue>> queues;
    std::vector<Timer> timers;
    uintptr_t nextHandle = 0x1000;
    HWND focus = nullptr;
    HWND capture = nullptr;
};

State& state();

// With the lock held:
std::shared_ptr<Window> findLocked(HWND hwnd);
std::shared_ptr<ThreadQueue> queueLocked(DWORD thread);
// The queue of a thread that is still running, or null.
std::shared_ptr<ThreadQueue> liveQueueLocked(DWORD thread);
// The calling thread's queue, cleaned up when the thread ends.
std::shared_ptr<ThreadQueue> myQueueLocked();
bool visibleLocked(const Window& w);
POINT clientOriginLocked(const Window& w); // screen coordinates of the client's (0, 0)
Window* topLevelOfLocked(Window* w);
void notifyAllLocked();

// Where a window's client area lands in its top-level surface: the surface, the
// client's origin in it and the visible part of the client (client coordinates,
// clipped by every ancestor, minus children under WS_CLIPCHILDREN and siblings above
// under WS_CLIPSIBLINGS). False for invalid or hidden windows.
bool paintTarget(HWND hwnd, std::shared_ptr<Surface>& surface, POINT& origin, Region& visible);

// Calls a window procedure through its current procedure slot.
LRESULT callProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Flags the window's client area for repainting (client coordinates; null = all).
void invalidateLocked(Window& w, const RECT* rc, bool erase);

// Hooks from the GDI side of the stand-in.
HDC createWindowDC(HWND hwnd, bool paint, const RECT* paintClip);
void releaseWindowDC(HDC hdc);
BOOL fillRectDC(HDC hdc, const RECT* rc, HBRUSH brush);
COLORREF brushColor(HBRUSH brush, bool* isNull);

} // namespace detail
} // namespace platform
