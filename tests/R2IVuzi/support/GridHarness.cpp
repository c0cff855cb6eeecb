#include "tests/R2IVuzi/support/GridHarness.h"

#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "platform/Win32.h"
#include "tests/support/TestTools.h"

#include <tinyxml.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace gridtest {

namespace {

std::string run(const std::string& cmd)
{
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

void collectImages(TiXmlNode* node, std::vector<TiXmlNode*>& out)
{
    for (TiXmlElement* e = node->FirstChildElement(); e; e = e->NextSiblingElement()) {
        if (e->ValueStr() == "Image")
            out.push_back(e);
        else
            collectImages(e, out);
    }
}

} // namespace

std::string makeFixture(const std::string& script, const std::string& folder)
{
    // The working folder is a test's build folder; a benchmark names its own.
    const char* base = std::getenv("ORBEL_FIXTURE_DIR");
    const std::string out =
        ((base && *base ? std::filesystem::path(base) : std::filesystem::current_path()) / folder).string();
    const std::string cmd =
        OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/R2IVuzi/" + script) + " '" + out + "'";
    // Loaded whether or not the images could be made: fixtures that need none still use it.
    loadModule();
    if (std::system(cmd.c_str()) != 0)
        return std::string();
    return out;
}

bool loadModule()
{
    if (StartupRegistry::global().loaded())
        return true;
    if (!StartupRegistry::global().load())
        return false;
    rvd_customize_errors(&GetCodecErrorFormatter());
    return true;
}

FreshModule::FreshModule() : wasLoaded_(StartupRegistry::global().loaded())
{
    ModuleUnload();
    loaded_ = ModuleLoad();
}

FreshModule::~FreshModule()
{
    ModuleUnload();
    if (wasLoaded_)
        loadModule();
}

const std::string& corpusDir()
{
    static const std::string dir = makeFixture("grid_fixture.py", "grid-corpus");
    return dir;
}

void RecordingGrid::decodeStep()
{
    const int before = increments;
    CJ2KGrid::decodeStep();
    stepIncrements.push_back({increments - before, arrivals});
    ++steps;
    if (afterStep)
        afterStep(steps);
}

void RecordingGrid::handleOpenStreamError(std::unique_ptr<CJ2KException> error)
{
    openStreamErrors.push_back(error ? error->what() : "");
    if (handleOpenErrors)
        CJ2KGrid::handleOpenStreamError(std::move(error));
}

LRESULT RecordingGrid::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled)
{
    if (msg == WM_APP + 100) {
        testMessageArrivals = arrivals;
        handled = true;
        return 0;
    }
    errorReports += msg == WM_APP + 6;
    return CJ2KGrid::ProcessWindowMessage(hwnd, msg, wParam, lParam, handled);
}

LRESULT RecordingGrid::OnPaint(bool refresh)
{
    increments += !refresh;
    return CJ2KGrid::OnPaint(refresh);
}

LRESULT RecordingGrid::OnDataArrived(const std::string& target, const int region[5])
{
    const LRESULT r = CJ2KGrid::OnDataArrived(target, region);
    arrivals += isCurrentTarget(target);
    return r;
}

LRESULT RecordingGrid::OnStartPresentation(const std::string& target)
{
    ++presentations;
    return CJ2KGrid::OnStartPresentation(target);
}

GridHarness::GridHarness(int width, int height, const std::vector<std::string>& serverArgs, bool annotated,
                         const std::string& root)
    : clockWasManual_(platform::ClockIsManual())
{
    // An earlier test may have unloaded the module after the corpus was made.
    loadModule();
    setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
    server.reset(new OrbelTest::JpipTestServer(root, serverArgs));
    frame.reset(new CJ2KFrame(nullptr));
    const std::string pssi = run(OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/make_pssi.py") +
                                 " --patients 1 --studies 1 --series 1 --images 8 --object-base '" +
                                 server->imageTarget("") + "'" + (annotated ? " --annotated" : ""));
    frame->getPssiXmlDao()->parsePssi(pssi);
    if (TiXmlElement* rootElement = frame->getPssiXmlDao()->getRootElement())
        collectImages(rootElement, images);
    const RECT rect = {0, 0, width, height};
    frame->Create(nullptr, rect, WS_POPUP | WS_VISIBLE);
    subFrame.reset(new CJ2KSubFrame(frame, 0, 0));
    grid.reset(new RecordingGrid(subFrame, 0, 0));
    grid->CreateGridWindow(frame->m_hWnd, rect);
    grid->layout();
}

GridHarness::~GridHarness()
{
    // Destroying the grid's window hands its loader to the frame's manager.
    frame->DestroyWindow();
    platform::PumpPending();
    grid.reset();
    subFrame.reset();
    frame.reset();
    if (!clockWasManual_)
        platform::UseRealClock();
}

HangingItem GridHarness::item(int n)
{
    HangingItem item;
    item.selected = true;
    if (n >= 1 && size_t(n) <= images.size()) {
        item.node = images[size_t(n - 1)];
        item.objectFile = server->imageTarget("1_1_1_" + std::to_string(n));
        item.instanceUID = "1.1.1.1." + std::to_string(n);
    }
    return item;
}

bool GridHarness::until(const std::function<bool()>& condition)
{
    for (int i = 0; i < 2400; ++i) {
        if (platform::PumpUntil(condition, 50))
            return true;
        platform::AdvanceClock(100);
    }
    return false;
}

bool GridHarness::settle(int arrivals)
{
    return until([&] {
        return grid->arrivals >= arrivals && grid->getDecodeTimer() == 0 && grid->getAnimationTimer() == 0;
    });
}

bool GridHarness::show(int n)
{
    const int before = grid->arrivals;
    grid->showStackItem(item(n));
    // The loader is marked ready just after the model update's end.
    return settle(before + 1) && until([&] {
               CJ2KImageLoader* loader = grid->getImageLoader();
               return loader && loader->isReady();
           });
}

void GridHarness::paint()
{
    InvalidateRect(grid->m_hWnd, nullptr, FALSE);
    UpdateWindow(grid->m_hWnd);
}

std::vector<std::string> GridHarness::serverLines(const std::string& contains) const
{
    std::vector<std::string> out;
    for (const std::string& line : server->logLines())
        if (line.find(contains) != std::string::npos)
            out.push_back(line);
    return out;
}

} // namespace gridtest
