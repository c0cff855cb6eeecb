// Annotation documents on stand-in windows: a window fixture, mouse gestures sent as
// messages, view geometry records and surface read-back.
#pragma once

#include "annotation/AnnShared.h"
#include "annotation/OrbelAnnMgr.h"
#include "annotation/OrbelAnnWrapper.h"
#include "tests/platform/WindowTestSupport.h"

#include <string>
#include <vector>

namespace anntest {

inline LPARAM At(int x, int y) { return MAKELPARAM(x & 0xFFFF, y & 0xFFFF); }

inline AnnViewGeometry Geometry(int turns, int mirror, double zoom, int w, int h, double scaleA, double scaleB)
{
    AnnViewGeometry g{};
    g.mirror = mirror;
    g.quarterTurns = turns;
    g.zoomX = g.zoomY = zoom;
    g.extentX = w;
    g.extentY = h;
    g.scaleA = scaleA;
    g.scaleB = scaleB;
    return g;
}

inline std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

class AnnWindowTest : public testsupport::WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        annShared.currentWindow = nullptr;
        OrbelAnnWrapper::SetPen(0, 1);
        OrbelAnnWrapper::SetObjectCreatedCallback(nullptr, nullptr);
    }
    HWND Window(int w, int h) { return make(nullptr, 0, 0, w, h, WS_VISIBLE | WS_POPUP, u"TestDblClk"); }
    static void Press(HWND h, int x, int y) { SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, At(x, y)); }
    static void Move(HWND h, int x, int y) { SendMessageW(h, WM_MOUSEMOVE, MK_LBUTTON, At(x, y)); }
    static void Release(HWND h, int x, int y) { SendMessageW(h, WM_LBUTTONUP, 0, At(x, y)); }
    // Press at a, three moves along the way, release at b.
    static void Gesture(HWND h, POINT a, POINT b)
    {
        Press(h, a.x, a.y);
        for (int i = 1; i <= 3; ++i)
            Move(h, a.x + (b.x - a.x) * i / 3, a.y + (b.y - a.y) * i / 3);
        Release(h, b.x, b.y);
    }
    static COrbelAnnDicom* Doc(OrbelAnnWrapper& w) { return COrbelAnnMgr::GetInstance()->Document(&w); }
    static std::vector<uint8_t> Surface(HWND h)
    {
        const platform::SurfaceView s = platform::SurfaceOf(h);
        std::vector<uint8_t> out;
        for (int y = 0; y < s.height; ++y)
            out.insert(out.end(), s.pixels + y * s.stride, s.pixels + y * s.stride + s.width * 4);
        return out;
    }
};

} // namespace anntest
