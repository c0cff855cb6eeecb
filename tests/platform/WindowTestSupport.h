// A window class whose procedure records what it receives and lets each test override
// the handling of chosen windows; windows made through it are destroyed after the test.
#pragma once

#include "platform/Kernel.h"
#include "platform/Win32.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Returns true when it handled the message (and sets result).
using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT& result)>;

inline std::vector<Received>& log()
{
    static std::vector<Received> l;
    return l;
}

inline std::map<HWND, Handler>& handlers()
{
    static std::map<HWND, Handler> h;
    return h;
}

inline LRESULT recordingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    log().push_back(Received{hwnd, msg, wp, lp});
    auto it = handlers().find(hwnd);
    if (it != handlers().end()) {
        Handler h = it->second; // the handler may replace itself
        LRESULT r = 0;
        if (h(hwnd, msg, wp, lp, r))
            return r;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

inline std::vector<UINT> messagesFor(HWND h, std::initializer_list<UINT> only = {})
{
    std::vector<UINT> out;
    for (const Received& r : log())
        if (r.hwnd == h) {
            bool keep = only.size() == 0;
            for (UINT m : only)
                keep = keep || m == r.message;
            if (keep)
                out.push_back(r.message);
        }
    return out;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log().clear();
        handlers().clear();
        platform::SetManualClock(1000);
        platform::ResetInput();
        SetFocus(nullptr);
        registerClass(u"TestRecording", 0, nullptr);
        registerClass(u"TestDblClk", CS_DBLCLKS, nullptr);
    }
    void TearDown() override
    {
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            if (IsWindow(*it))
                DestroyWindow(*it);
        platform::PumpPending();
        for (auto& c : classes_)
            UnregisterClassW(c.c_str(), nullptr);
        handlers().clear();
        platform::SetMenuChooser(nullptr);
        platform::UseRealClock();
        platform::ResetInput();
    }
    void registerClass(const std::u16string& name, UINT style, HBRUSH background)
    {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = style;
        wc.lpfnWndProc = recordingProc;
        wc.hbrBackground = background;
        wc.lpszClassName = name.c_str();
        if (RegisterClassExW(&wc))
            classes_.push_back(name);
    }
    HWND make(HWND parent, int x, int y, int w, int h, DWORD style = WS_VISIBLE,
              const char16_t* cls = u"TestRecording")
    {
        if (parent && !(style & WS_POPUP))
            style |= WS_CHILD;
        HWND hwnd = CreateWindowExW(0, cls, u"", style, x, y, w, h, parent, nullptr, nullptr, nullptr);
        if (hwnd)
            made_.push_back(hwnd);
        return hwnd;
    }
    std::vector<std::u16string> classes_;
    std::vector<HWND> made_;
};

} // namespace testsupport
