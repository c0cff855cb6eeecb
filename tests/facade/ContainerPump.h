// The control in-process as a container holds it: a fresh module, the control in place and
// focused in a top-level window at the screen origin, its events recorded as text
// ("SetWorkingTool(2)"), input_fixture.py's documents served by the loopback JPIP server.
// Messages are pumped the way orbel-host does (key messages offered to TranslateAccelerator
// first); the manual clock moves on only when a test or a settling wait moves it.
#pragma once

#include "facade/OrbelViewer.h"
#include "facade/OrbelViewerIds.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "tests/support/JpipTestServer.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

namespace inputtest {

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

// Messages a spied window received, as "message:wParam".
inline std::map<HWND, std::pair<WNDPROC, std::vector<std::string>>>& spies()
{
    static std::map<HWND, std::pair<WNDPROC, std::vector<std::string>>> all;
    return all;
}

inline LRESULT CALLBACK spyProc(HWND h, UINT m, WPARAM w, LPARAM l)
{
    auto& spy = spies()[h];
    if (m == WM_COMMAND || m == WM_KEYDOWN || m == WM_PAINT)
        spy.second.push_back((m == WM_COMMAND ? "command:" : m == WM_PAINT ? "paint:" : "key:") + std::to_string(w));
    return CallWindowProcW(spy.first, h, m, w, l);
}

struct EventSink : IDispatch {
    std::vector<std::string> events;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_IDispatch && riid != DIID__IOrbelViewerEvents)
            return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        std::string text = (id == 1 ? "SetWorkingTool" : "Event" + std::to_string(id)) + "(";
        for (UINT i = p->cArgs; i-- > 0;)
            text += std::to_string(p->rgvarg[i].vt == VT_BOOL ? !!p->rgvarg[i].boolVal : p->rgvarg[i].lVal) +
                    (i ? "," : "");
        events.push_back(text + ")");
        return S_OK;
    }
};

inline LRESULT CALLBACK parentProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

class ContainerPump : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(fixtureDir().empty()) << "input_fixture.py failed";
        drive = (std::filesystem::temp_directory_path() / "orbel-input-XXXXXX").string();
        ASSERT_NE(mkdtemp(drive.data()), nullptr);
        setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        server.reset(new OrbelTest::JpipTestServer(fixtureDir() + "/images"));
        platform::SetManualClock(100000);
        start();
    }
    void TearDown() override
    {
        stop();
        server.reset();
        platform::UseRealClock();
        unsetenv("ORBEL_DRIVE_C");
        std::filesystem::remove_all(drive);
    }
    // A new control in a white parent, Init done.
    void start(int width = 240, int height = 180)
    {
        platform::ResetInput();
        ASSERT_TRUE(ModuleLoad());
        ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(disp.out())), S_OK);
        control = static_cast<COrbelViewer*>(disp.get());
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = parentProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = u"InputTestParent";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, u"InputTestParent", u"", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, width + 100, height + 100,
                                 nullptr, nullptr, nullptr, nullptr);
        const RECT r = {0, 0, width, height};
        ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &r), S_OK);
        ASSERT_EQ(control->GetWindow(&window), S_OK);
        SetFocus(window);
        platform::ComPtr<IConnectionPoint> cp;
        ASSERT_EQ(control->FindConnectionPoint(DIID__IOrbelViewerEvents, cp.out()), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
        ASSERT_EQ(control->Init(platform::BStr(Utf8ToUtf16(readFile(fixtureDir() + "/config.xml"))).get()), S_OK);
        ASSERT_EQ(control->ConfigStamp(platform::BStr(Utf8ToUtf16(readFile(fixtureDir() + "/stamps.xml"))).get()),
                  S_OK);
        pump();
        sink.events.clear();
    }
    void stop()
    {
        disp.reset();
        control = nullptr;
        if (parent)
            DestroyWindow(parent);
        parent = window = nullptr;
        platform::PumpPending();
        spies().clear();
        initLogFile(nullptr, 0, 1, 1);
        ModuleUnload();
    }
    void restart()
    {
        stop();
        start();
        load();
    }
    // The PSSI document, settled unless told not to: every image shown, decoded and its
    // loader ready.
    void load(bool settled = true)
    {
        std::string pssi = readFile(fixtureDir() + "/pssi.xml");
        for (size_t at; (at = pssi.find("@BASE@")) != std::string::npos;)
            pssi.replace(at, 6, server->imageTarget(""));
        ASSERT_EQ(control->LoadData(platform::BStr(Utf8ToUtf16(pssi)).get()), S_OK);
        ASSERT_TRUE(!settled || settle());
        sink.events.clear();
    }

    int pump()
    {
        int n = 0;
        for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++n) {
            if (msg.message >= WM_KEYDOWN && msg.message <= WM_SYSCHAR && control &&
                control->TranslateAccelerator(&msg) == S_OK)
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return n;
    }
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
                    if (g->getTarget().empty())
                        continue;
                    CJ2KImageLoader* loader = g->getImageLoader();
                    if (!g->getImage() || !g->getImage()->isOpened() || g->getDecodeTimer() ||
                        g->getAnimationTimer() || !loader || !loader->isReady())
                        return false;
                }
            return !platform::ThreadHasPendingMessages();
        });
    }

    CJ2KFrame& frame() { return *control->getFrame(); }
    CJ2KGrid& grid(int column, int row, size_t i = 0) { return *frame().findAt(column, row)->getGrids().at(i); }
    CImageBase& base(CJ2KGrid& g) { return g.getImage()->getImageBase(); }
    std::string windowText(CJ2KGrid& g)
    {
        std::string t;
        return base(g).GetWindowLevelText(t);
    }
    // Screen point (x, y) from the grid's centre.
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
    void spy(HWND h) { spies()[h].first = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, LONG_PTR(spyProc))); }
    std::vector<std::string>& seen(CJ2KGrid& g) { return spies()[g.m_hWnd].second; }
    Pixels pixels(HWND h)
    {
        UpdateWindow(h);
        pump();
        RECT r;
        GetWindowRect(h, &r);
        const platform::SurfaceView s = platform::SurfaceOf(parent);
        Pixels out;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                out.push_back(*reinterpret_cast<const uint32_t*>(s.pixels + y * s.stride + x * 4) & 0xFFFFFF);
        return out;
    }
    // The grid's cell in a fresh control after op on its image, repainted and settled.
    Pixels reference(int column, int row, const std::function<void(CImageBase&)>& op)
    {
        restart();
        CJ2KGrid& g = grid(column, row);
        op(base(g));
        g.updateView();
        InvalidateRect(g.m_hWnd, nullptr, FALSE);
        EXPECT_TRUE(settle());
        Pixels p = pixels(g.m_hWnd);
        restart();
        return p;
    }

    std::string drive;
    std::unique_ptr<OrbelTest::JpipTestServer> server;
    EventSink sink;  // outlives the control, which holds it
    platform::ComPtr<IDispatch> disp;
    COrbelViewer* control = nullptr;
    HWND parent = nullptr;
    HWND window = nullptr;
};

} // namespace inputtest
