// The grid's observer face: notifications sent from worker threads run on the window's
// thread while the sender waits; routing of window messages; the parent walks; and the
// frame's start and end.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_exceptionsAlive{0};

class CountedException : public CJ2KConnectionException {
public:
    explicit CountedException(const std::string& m) : CJ2KConnectionException(m, "test", 1, "") { ++g_exceptionsAlive; }
    CountedException(const CountedException& o) : CJ2KConnectionException(o) { ++g_exceptionsAlive; }
    ~CountedException() override { --g_exceptionsAlive; }
};

// Records what its handlers receive; "w<worker>:<n>" texts identify each call.
class RecordingGrid : public CJ2KGrid {
public:
    using CJ2KGrid::CJ2KGrid;
    static const int kWorkers = 4;

    std::thread::id uiThread = std::this_thread::get_id();
    int wrongThread = 0, badData = 0;
    std::array<std::array<int, 7>, kWorkers> last{};  // per worker, per operation: last n seen
    std::vector<int> commands;
    std::vector<bool> paints;
    bool recordTimers = true;

    void note(int op, const std::string& text, const int* region)
    {
        wrongThread += std::this_thread::get_id() != uiThread;
        int w = -1, n = -1;
        if (sscanf(text.c_str(), "w%d:%d", &w, &n) != 2 || w < 0 || w >= kWorkers) {
            ++badData;
            return;
        }
        if (region && (region[0] != w || region[1] != n || region[4] != n + 4))
            ++badData;
        last[size_t(w)][size_t(op)] = n;
    }

protected:
    LRESULT OnStartRenderTimer(const std::string& t) override
    {
        if (!recordTimers)
            return CJ2KGrid::OnStartRenderTimer(t);
        note(0, t, nullptr);
        return 0;
    }
    LRESULT OnDataArrived(const std::string& t, const int r[5]) override { return note(1, t, r), 0; }
    LRESULT OnStartProcess(const std::string& t) override { return note(2, t, nullptr), 0; }
    LRESULT OnStartPresentation(const std::string& t) override { return note(3, t, nullptr), 0; }
    LRESULT OnUpdateRegion(const std::string& t, const int r[5]) override { return note(4, t, r), 0; }
    LRESULT OnLoaderReady(const std::string& t) override
    {
        if (t.empty() || t[0] != 'w')
            return CJ2KGrid::OnLoaderReady(t);
        return note(5, t, nullptr), 0;
    }
    LRESULT OnError(int kind, std::unique_ptr<CJ2KException> e) override
    {
        if (!e || kind != 0)
            ++badData;
        else
            note(6, e->what(), nullptr);
        return 0;
    }
    LRESULT OnPaint(bool refresh) override
    {
        paints.push_back(refresh);
        return 0;
    }
    bool OnCommand(UINT id) override
    {
        commands.push_back(int(id));
        return true;
    }
};

struct Cell {
    Cell()
    {
        frame.reset(new CJ2KFrame(nullptr));
        const RECT rect = {0, 0, 64, 64};
        frame->Create(nullptr, rect, WS_OVERLAPPED | WS_VISIBLE);
        subFrame.reset(new CJ2KSubFrame(frame, 0, 0));
        grid.reset(new RecordingGrid(subFrame, 0, 0));
        grid->CreateGridWindow(frame->m_hWnd, rect);
        grid->setTarget("t");
        grid->setImageElement(&element);
    }
    ~Cell() { frame->DestroyWindow(); }
    TiXmlElement element{"Image"};
    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> subFrame;
    boost::shared_ptr<RecordingGrid> grid;
};

std::string readLogAndClose(const std::string& drive)
{
    closeLogFile();
    std::ifstream in(drive + "/Quillon.Log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST(ObserverConcurrency, SendsRunOnTheWindowThreadWhileTheSenderWaits)
{
    Cell cell;
    RecordingGrid& grid = *cell.grid;
    const int calls = 500;
    std::atomic<int> finished{0}, unseen{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < RecordingGrid::kWorkers; ++w)
        workers.emplace_back([&, w] {
            for (int n = 1; n <= calls; ++n) {
                const std::string text = "w" + std::to_string(w) + ":" + std::to_string(n);
                const int region[5] = {w, n, n + 2, n + 3, n + 4};
                grid.startRenderTimer(text);
                grid.dataArrived(text, region);
                grid.startProcess(text);
                grid.startPresentation(text);
                grid.updateRegion(text, region);
                grid.setLoaderReady(text);
                grid.reportError(0, std::unique_ptr<CJ2KException>(new CountedException(text)));
                // Each handler has run before its send returned.
                for (int op = 0; op < 7; ++op)
                    unseen += grid.last[size_t(w)][size_t(op)] != n;
            }
            ++finished;
        });
    EXPECT_TRUE(platform::PumpUntil([&] { return finished == RecordingGrid::kWorkers; }, 120000));
    for (std::thread& t : workers)
        t.join();
    EXPECT_EQ(unseen, 0);
    EXPECT_EQ(grid.wrongThread, 0);
    EXPECT_EQ(grid.badData, 0);
    EXPECT_EQ(g_exceptionsAlive, 0);
}

TEST(GridObserver, NotificationsAndRouting)
{
    Cell cell;
    RecordingGrid& grid = *cell.grid;
    const HWND hwnd = grid.m_hWnd;

    // Presentation needs an element and a target.
    grid.setImageElement(nullptr);
    grid.startPresentation("w0:1");
    grid.setImageElement(&cell.element);
    grid.setTarget("");
    grid.startPresentation("w0:2");
    grid.setTarget("t");
    EXPECT_EQ(grid.last[0][3], 0);

    // Another target's render-timer notice stops only the animation.
    grid.recordTimers = false;
    grid.startAnimation();
    ASSERT_NE(grid.getAnimationTimer(), 0u);
    grid.startRenderTimer("other");
    EXPECT_EQ(grid.getAnimationTimer(), 0u);
    EXPECT_EQ(grid.getDecodeTimer(), 0u);
    grid.startAnimation();
    grid.startRenderTimer("t");
    EXPECT_EQ(grid.getDecodeTimer(), 1u);
    EXPECT_NE(grid.getAnimationTimer(), 0u);

    // Loader ready for the current target only.
    CJ2KImageLoader* loader = new CJ2KImageLoader;
    grid.setImageLoader(loader);
    grid.setLoaderReady("other");
    EXPECT_FALSE(loader->isReady());
    grid.setLoaderReady("t");
    EXPECT_TRUE(loader->isReady());
    loader->quit();
    CJ2KKillImageLoaderRequest(loader).execute();
    grid.setImageLoader(nullptr);

    // Painting reaches the handler with refresh, then default processing validates.
    InvalidateRect(hwnd, nullptr, FALSE);
    UpdateWindow(hwnd);
    EXPECT_EQ(grid.paints, std::vector<bool>{true});
    RECT left;
    EXPECT_FALSE(GetUpdateRect(hwnd, &left, FALSE));

    // Commands by range: every VOI table has its command, up to 40999.
    for (int id : {10011, 10118, 10010, 40012, 40999, 41000})
        SendMessageW(hwnd, WM_COMMAND, WPARAM(id), 0);
    EXPECT_EQ(grid.commands, (std::vector<int>{10011, 10118, 40012, 40999}));

    // A destroyed window gets nothing, and the exception is freed.
    DestroyWindow(hwnd);
    EXPECT_EQ(grid.m_hWnd.load(), nullptr);
    const int region[5] = {0, 7, 0, 0, 11};
    grid.dataArrived("w0:7", region);
    grid.reportError(0, std::unique_ptr<CJ2KException>(new CountedException("w0:8")));
    EXPECT_EQ(grid.last[0][1], 0);
    EXPECT_EQ(grid.last[0][6], 0);
    EXPECT_EQ(g_exceptionsAlive, 0);
}

TEST(GridObserver, ParentWalks)
{
    struct Walk {
        std::function<void()> call;
        std::string source, message;
        int line;
    };
    boost::shared_ptr<CJ2KFrame> frame(new CJ2KFrame(nullptr));
    boost::shared_ptr<CJ2KSubFrame> subFrame(new CJ2KSubFrame(frame, 0, 0));
    boost::shared_ptr<CJ2KGrid> grid(new CJ2KGrid(subFrame, 0, 0));
    EXPECT_EQ(grid->getPssiXmlDao(), frame->getPssiXmlDao());
    EXPECT_EQ(grid->getAnnotationLoader(), frame->getAnnotationLoader());
    EXPECT_EQ(grid->getImageLoaderMgr(), frame->getImageLoaderMgr());

    frame.reset();
    boost::shared_ptr<CJ2KGrid> orphan(new CJ2KGrid(boost::shared_ptr<CJ2KSubFrame>(), 0, 0));
    const std::vector<Walk> walks = {
        {[&] { grid->getPssiXmlDao(); }, ".\\R2IVuzi\\J2KSubFrame", "Parent frame invalid.", 1182},
        {[&] { subFrame->getFrame(); }, ".\\R2IVuzi\\J2KSubFrame", "Parent frame invalid.", 1182},
        {[&] { orphan->getPssiXmlDao(); }, ".\\R2IVuzi\\J2KGrid", "Parent Subframe invalid.", 3610},
        {[&] { orphan->getAnnotationLoader(); }, ".\\R2IVuzi\\J2KGrid", "Parent Sub-frame invalid.", 3624},
        {[&] { orphan->getImageLoaderMgr(); }, ".\\R2IVuzi\\J2KGrid", "Parent Sub-frame invalid.", 3638},
    };
    for (const Walk& w : walks) {
        try {
            w.call();
            ADD_FAILURE() << w.message << " not raised";
        } catch (const CJ2KWeakPtrCastingException& e) {
            EXPECT_EQ(std::string(e.what()), w.message);
            EXPECT_EQ(e.getSourceFile(), w.source);
            EXPECT_EQ(e.getLine(), w.line);
            EXPECT_EQ(e.getContext(), "");
        }
    }
}

TEST(GridObserver, WindowlessFrameStopsBothThreads)
{
    std::string drive = (std::filesystem::temp_directory_path() / "orbel-frame-XXXXXX").string();
    ASSERT_NE(mkdtemp(drive.data()), nullptr);
    setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
    setMinLogLevel(0);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    const int before = jpipGlobalInitCount();
    {
        CJ2KFrame frame(nullptr);
        EXPECT_EQ(jpipGlobalInitCount(), before + 1);
    }
    EXPECT_EQ(jpipGlobalInitCount(), before);
    const std::string log = readLogAndClose(drive);
    const size_t annotations = log.find("Annotation Loader Quit Safely!");
    const size_t manager = log.find("ImageLoader Manager Quit Safely!");
    EXPECT_NE(annotations, std::string::npos) << log;
    EXPECT_NE(manager, std::string::npos) << log;
    EXPECT_LT(annotations, manager);
    initLogFile(nullptr, 0, 1, 1);
    unsetenv("ORBEL_DRIVE_C");
    std::error_code ec;
    std::filesystem::remove_all(drive, ec);
}
