// The control as a container holds it (ViewerHarness.h's control in place, focused, Init
// done), showing input_fixture.py's documents served by the loopback JPIP server. Messages
// are pumped the way orbel-host does, key messages offered to TranslateAccelerator first;
// the manual clock moves only when a test or a settling wait moves it.
#pragma once

#include "tests/facade/ViewerHarness.h"

#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "image/ImageBase.h"
#include "platform/Kernel.h"
#include "tests/support/JpipTestServer.h"

#include <map>
#include <memory>

namespace inputtest {

using namespace viewertest;
using platform::MouseButton;
using Pixels = std::vector<uint32_t>;

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline const std::string& fixtureDir()
{
    static const std::string dir = [] {
        const std::string out = (std::filesystem::current_path() / "input-fixture").string();
        const std::string cmd =
            OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tests/facade/input_fixture.py") + " '" + out + "'";
        return std::system(cmd.c_str()) == 0 ? out : std::string();
    }();
    return dir;
}

// The messages a spied window received ("command:10001", "key:34", "paint:0") and its own
// procedure.
inline std::map<HWND, std::pair<WNDPROC, Events>>& spies()
{
    static std::map<HWND, std::pair<WNDPROC, Events>> all;
    return all;
}

inline LRESULT CALLBACK spyProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    auto& spy = spies()[h];
    if (m == WM_COMMAND || m == WM_KEYDOWN || m == WM_PAINT)
        spy.second.push_back((m == WM_COMMAND ? "command:" : m == WM_PAINT ? "paint:" : "key:") + std::to_string(w));
    return CallWindowProcW(spy.first, h, m, w, l);
}

// Hands every spied window its own procedure back: a spy forgotten while its window lives
// would swallow the window's WM_DESTROY (its grid would never hand its loader on).
inline void unspyAll()
{
    for (auto& entry : spies())
        if (IsWindow(entry.first) && GetWindowLongPtrW(entry.first, GWLP_WNDPROC) == LONG_PTR(spyProc))
            SetWindowLongPtrW(entry.first, GWLP_WNDPROC, LONG_PTR(entry.second.first));
    spies().clear();
}

class ContainerPump : public ViewerTest {
protected:
    // Derived fixtures return from their SetUp when this one skipped or failed.
    void SetUp() override
    {
        ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
        ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
        ORBEL_REQUIRE_PYTHON_MODULE("pydicom", "python3-pydicom");
        ASSERT_FALSE(fixtureDir().empty()) << "input_fixture.py failed";
        server.reset(new OrbelTest::JpipTestServer(fixtureDir() + "/images"));
        platform::SetManualClock(100000);
        platform::ResetInput();
        viewerStarted_ = true;
        ViewerTest::SetUp();
        initControl();
    }
    void TearDown() override
    {
        if (!viewerStarted_)
            return; // skipped or failed before anything was made
        unspyAll();
        ViewerTest::TearDown();
        server.reset();
        platform::UseRealClock();
    }
    void initControl()
    {
        SetFocus(window);
        ASSERT_EQ(init(readFile(fixtureDir() + "/config.xml")), S_OK);
        ASSERT_EQ(control->ConfigStamp(bstr(readFile(fixtureDir() + "/stamps.xml")).get()), S_OK);
        pump();
        sink.events.clear();
    }
    bool setUpStopped() const { return IsSkipped() || HasFatalFailure(); }
    // A fresh control with the document loaded and settled.
    void restart()
    {
        unspyAll();
        stop();
        platform::ResetInput();
        start();
        initControl();
        load();
    }
    // The PSSI document, settled unless told not to: every image shown, decoded and its
    // loader ready.
    void load(bool settled = true)
    {
        std::string pssi = readFile(fixtureDir() + "/pssi.xml");
        for (size_t at; (at = pssi.find("@BASE@")) != std::string::npos;)
            pssi.replace(at, 6, server->imageTarget(""));
        ASSERT_EQ(loadData(pssi), S_OK);
        ASSERT_TRUE(!settled || settle());
        sink.events.clear();
    }

    int pump()
    {
        int n = 0;
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
            if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSCHAR && control->TranslateAccelerator(&msg) == S_OK)
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return n;
    }
    // Pumps, moving the clock 100 ms whenever idle, until the condition holds (at most 120 s).
    bool until(const std::function<bool()>& condition)
    {
        for (int i = 0; i < 1200; ++i) {
            pump();
            if (platform::PumpUntil(condition, 50))
                return true;
            platform::AdvanceClock(100);
        }
        return false;
    }
    bool settle()
    {
        return until([this] {
            for (const auto& s : frame().getSubFrames())
                for (const auto& g : s->getGrids()) {
                    CJ2KImageLoader* loader = g->getImageLoader();
                    if (!g->getTarget().empty() && (!g->getImage() || !g->getImage()->isOpened() ||
                                                    g->getDecodeTimer() || g->getAnimationTimer() || !loader ||
                                                    !loader->isReady()))
                        return false;
                }
            return !platform::ThreadHasPendingMessages();
        });
    }

    CJ2KGrid& grid(int column, int row, size_t i = 0) { return *frame().findAt(column, row)->getGrids().at(i); }
    CImageBase& base(CJ2KGrid& g) { return g.getImage()->getImageBase(); }
    std::string windowText(CJ2KGrid& g)
    {
        std::string t;
        return base(g).GetWindowLevelText(t);
    }
    // The screen point (dx, dy) from the grid's centre.
    POINT at(CJ2KGrid& g, int dx = 0, int dy = 0)
    {
        RECT r;
        GetWindowRect(g.m_hWnd, &r);
        return POINT{(r.left + r.right) / 2 + dx, (r.top + r.bottom) / 2 + dy};
    }
    void move(POINT p)
    {
        platform::InjectMouseMove(p.x, p.y);
        pump();
    }
    // Every press comes 600 ms after the last event: no double click.
    void button(bool down, MouseButton b = MouseButton::Left)
    {
        if (down)
            platform::AdvanceClock(600);
        platform::InjectButton(b, down);
        pump();
    }
    void click(POINT p, MouseButton b = MouseButton::Left)
    {
        move(p);
        button(true, b);
        button(false, b);
    }
    void key(UINT vk, bool down = true)
    {
        platform::InjectKey(vk, down);
        pump();
    }
    void spy(HWND h) { spies()[h].first = WNDPROC(SetWindowLongPtrW(h, GWLP_WNDPROC, LONG_PTR(spyProc))); }
    Events& seen(CJ2KGrid& g) { return spies()[g.m_hWnd].second; }
    // The window's painted pixels (0x00RRGGBB), row by row.
    Pixels pixels(HWND h)
    {
        UpdateWindow(h);
        pump();
        RECT r;
        GetWindowRect(h, &r);
        const platform::SurfaceView s = platform::SurfaceOf(parent);
        Pixels out;
        for (int y = std::max(0, int(r.top)); y < std::min(s.height, int(r.bottom)); ++y)
            for (int x = std::max(0, int(r.left)); x < std::min(s.width, int(r.right)); ++x)
                out.push_back(*reinterpret_cast<const uint32_t*>(s.pixels + y * s.stride + x * 4) & 0xFFFFFF);
        return out;
    }
    // The grid's cell in a fresh control after op on its image, repainted and settled; the
    // control is fresh again afterwards.
    Pixels reference(int column, int row, const std::function<void(CImageBase&)>& op)
    {
        restart();
        CJ2KGrid& g = grid(column, row);
        op(base(g));
        g.updateView();
        InvalidateRect(g.m_hWnd, nullptr, FALSE);
        EXPECT_TRUE(settle());
        const Pixels p = pixels(g.m_hWnd);
        restart();
        return p;
    }

    std::unique_ptr<OrbelTest::JpipTestServer> server;

private:
    bool viewerStarted_ = false;
};

} // namespace inputtest
