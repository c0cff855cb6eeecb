// The control in-process for the frame and command suites: a freshly loaded module, the
// control in place over a top-level parent, a sink writing each event as text
// ("SetLayout(3,2)": arguments in declaration order, booleans 1 or 0), the log in a
// scratch drive of this process, and PSSI documents from tools/make_pssi.py.
#pragma once

#include "facade/OrbelViewer.h"
#include "facade/OrbelViewerIds.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"
#include "platform/TextConv.h"
#include "tests/support/TestTools.h"

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace viewertest {

using Events = std::vector<std::string>;

// make_pssi.py's document, every element annotated (no annotation requests). Without an
// object base the ObjectFile elements go, so the grids open nothing.
inline std::string makePssi(const std::string& args, const std::string& objectBase = "")
{
    std::string text;
    const std::string cmd = OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tools/make_pssi.py") +
                            " --annotated --tags 0 " + args +
                            (objectBase.empty() ? "" : " --object-base '" + objectBase + "'");
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
            text.append(buf, n);
        pclose(p);
    }
    for (size_t at; objectBase.empty() && (at = text.find("<ObjectFile>")) != std::string::npos;)
        text.erase(at, text.find('\n', at) - at);
    return text;
}

// grid_fixture.py's images, made once for every suite that uses them.
inline const std::string& corpus()
{
    static const std::string dir = [] {
        const std::string out = ORBEL_BINARY_DIR "/tests/R2IVuzi/grid-corpus";
        const std::string cmd = OrbelTest::pythonCommand(ORBEL_SOURCE_DIR "/tests/R2IVuzi/grid_fixture.py") + " '" +
                                out + "'";
        return std::system(cmd.c_str()) == 0 ? out : std::string();
    }();
    return dir;
}

inline std::string images(int n) { return "--patients 1 --studies 1 --series 1 --images " + std::to_string(n); }

inline std::string config(const std::string& settings, const std::string& menu = "")
{
    return "<root><configuration>" + settings + "</configuration><menu>" + menu + "</menu></root>";
}

inline platform::BStr bstr(const std::string& utf8) { return platform::BStr(Utf8ToUtf16(utf8)); }

// The text of a PSSI element's own UID ("PatientUID" of a Patient...); "Root", or "" for none.
inline std::string uidOf(const TiXmlNode* node)
{
    const TiXmlElement* e = node ? node->ToElement() : nullptr;
    if (!e || e->ValueStr() == "Root")
        return e ? "Root" : "";
    const TiXmlElement* uid = e->FirstChildElement(e->ValueStr() + "UID");
    return uid && uid->GetText() ? uid->GetText() : "?";
}

// Threads of this process (one thread is made first: the thread sanitizer starts its own
// at the first), once they reach `expected` or after 5 s, as a joined thread's task may
// stay listed for a moment.
inline int threadsSettledAt(int expected = -1)
{
    static const bool warmed = (boost::thread([] {}).join(), true);
    (void)warmed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(expected < 0 ? 0 : 5);
    for (;;) {
        auto d = std::filesystem::directory_iterator("/proc/self/task");
        const int n = int(std::distance(begin(d), end(d)));
        if (n == expected || std::chrono::steady_clock::now() >= deadline)
            return n;
        boost::this_thread::yield();
    }
}

struct EventSink : IDispatch {
    Events events;
    std::function<void(const std::string&)> hook; // runs inside the event, once it is recorded

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
        static const char* const names[] = {"?", "SetWorkingTool", "SetHangingMode", "SetSelectMode", "SetFitType",
            "SetLayout", "Turn", "TotalPagesChanged", "CurrentPageChanged", "ImageStatusModified", "ShowRuler",
            "ShowAnnotation", "ShowOverlay", "InitFinished", "LoadDataFinished", "ConfigStampFinished"};
        std::string text = std::string(names[id > 0 && id <= 15 ? id : 0]) + "(";
        for (UINT i = p->cArgs; i-- > 0;) {
            const VARIANT& v = p->rgvarg[i];
            text += std::to_string(v.vt == VT_BOOL ? (v.boolVal ? 1 : 0) : v.lVal) + (i ? "," : "");
        }
        events.push_back(text + ")");
        if (hook)
            hook(events.back());
        return S_OK;
    }
    Events take() { return std::exchange(events, {}); }
};

inline LRESULT CALLBACK parentProc(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drive = (std::filesystem::temp_directory_path() / "orbel-viewer-XXXXXX").string();
        ASSERT_NE(mkdtemp(drive.data()), nullptr);
        setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        start();
    }
    void TearDown() override
    {
        stop();
        std::error_code ec;
        std::filesystem::remove_all(drive, ec);
    }
    // A new control over width x height in a freshly loaded module: the settings start over.
    void start(int width = 240, int height = 180)
    {
        ASSERT_TRUE(ModuleLoad());
        ASSERT_EQ(COrbelViewer::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(disp.out())), S_OK);
        control = static_cast<COrbelViewer*>(disp.get());
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = parentProc;
        wc.lpszClassName = u"ViewerTestParent";
        RegisterClassExW(&wc);
        parent = CreateWindowExW(0, u"ViewerTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                 nullptr, nullptr, nullptr);
        const RECT r = {0, 0, width, height};
        ASSERT_EQ(control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, parent, &r), S_OK);
        ASSERT_EQ(control->GetWindow(&window), S_OK);
        platform::ComPtr<IConnectionPoint> cp;
        DWORD cookie = 0;
        ASSERT_EQ(control->FindConnectionPoint(DIID__IOrbelViewerEvents, cp.out()), S_OK);
        ASSERT_EQ(cp->Advise(static_cast<IDispatch*>(&sink), &cookie), S_OK);
    }
    void stop()
    {
        disp.reset();
        if (parent)
            DestroyWindow(parent);
        parent = nullptr;
        platform::PumpPending();
        initLogFile(nullptr, 0, 1, 1);
        ModuleUnload();
        sink = EventSink();
    }
    void restart(int width = 240, int height = 180)
    {
        stop();
        start(width, height);
    }
    // Init with the settings, LoadData with the document; the events are dropped.
    void load(const std::string& settings, const std::string& pssiArgs)
    {
        ASSERT_EQ(init(config(settings)), S_OK);
        ASSERT_EQ(loadData(makePssi(pssiArgs)), S_OK);
        sink.take();
    }

    HRESULT init(const std::string& xml) { return control->Init(bstr(xml).get()); }
    HRESULT loadData(const std::string& xml) { return control->LoadData(bstr(xml).get()); }
    HRESULT workingRoot(const std::string& p, const std::string& st, const std::string& se, const std::string& i)
    {
        return control->SetWorkingRoot(bstr(p).get(), bstr(st).get(), bstr(se).get(), bstr(i).get());
    }
    CJ2KFrame& frame() { return *control->getFrame(); }
    CPssiXmlDao& dao() { return *frame().getPssiXmlDao(); }
    boost::shared_ptr<CJ2KSubFrame> at(int c, int r) { return frame().findAt(c, r); }
    // The UID of the image the first grid of the cell (c, r) shows, "" for none.
    std::string shownAt(int c, int r)
    {
        auto sub = at(c, r);
        return sub && !sub->getGrids().empty() ? uidOf(sub->getGrids()[0]->getStackManager()->currentItem().node)
                                                : "no cell";
    }
    std::vector<std::pair<int, int>> positions()
    {
        std::vector<std::pair<int, int>> out;
        for (const auto& s : frame().getSubFrames())
            out.emplace_back(s->getColumn(), s->getRow());
        return out;
    }
    std::string logText()
    {
        closeLogFile(); // the next record opens it again
        std::ifstream in(drive + "/Quillon.Log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The log's WARNING, ERROR and FATAL records as "ERROR text".
    Events records()
    {
        Events out;
        std::istringstream in(logText());
        for (std::string line; std::getline(in, line);) {
            line.erase(line.find_last_not_of('\r') + 1);
            for (const char* severity : {"WARNING", "ERROR", "FATAL"})
                if (line.rfind(std::string("[") + severity + ":", 0) == 0)
                    out.push_back(severity + (" " + line.substr(line.find(")] ") + 3)));
        }
        return out;
    }

    std::string drive;
    EventSink sink; // outlives the control, which holds it
    platform::ComPtr<IDispatch> disp;
    COrbelViewer* control = nullptr;
    HWND parent = nullptr;
    HWND window = nullptr;
};

} // namespace viewertest
