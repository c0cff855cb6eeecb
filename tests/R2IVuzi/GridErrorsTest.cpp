// The grid's failure reports: dispatch by kind, bounded retries, giving up, the counter
// reset for a new image, the annotation retries end to end, and the new-handler.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"
#include "tests/R2IVuzi/support/GridChecks.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

// A grid whose reopen paths only count, so dispatch is seen without a server.
class CountingGrid : public CJ2KGrid {
public:
    using CJ2KGrid::CJ2KGrid;
    using CJ2KGrid::OnError;
    using CJ2KGrid::OnStartRenderTimer;
    int reopens = 0;
    int overlays = 0;
    void openTargetImage(bool retry) override { reopens += retry; }
    void openTargetOverlay() override { ++overlays; }
};

struct Cell {
    Cell()
    {
        frame.reset(new CJ2KFrame(nullptr));
        const RECT rect = {0, 0, 64, 64};
        frame->Create(nullptr, rect, WS_OVERLAPPED | WS_VISIBLE);
        subFrame.reset(new CJ2KSubFrame(frame, 0, 0));
        grid.reset(new CountingGrid(subFrame, 0, 0));
        grid->CreateGridWindow(frame->m_hWnd, rect);
        grid->setTarget("t");
    }
    ~Cell() { frame->DestroyWindow(); }
    // Both timers running, as during a decode.
    void runTimers()
    {
        grid->startAnimation();
        grid->OnStartRenderTimer(grid->getTarget());
    }
    void report(int kind, const char* context)
    {
        std::unique_ptr<CJ2KException> e;
        if (context)
            e.reset(new CJ2KException("failed", "src", 1, context));
        grid->OnError(kind, std::move(e));
    }
    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> subFrame;
    boost::shared_ptr<CountingGrid> grid;
};

} // namespace

TEST(GridErrors, DispatchesByKind)
{
    struct Case {
        int kind;
        const char* context; // null: no object
        int reopens;
        bool decodeRuns;
        bool animationRuns;
    } cases[] = {
        {0, "t", 1, false, true},      {0, "other", 0, false, false}, {2, "t", 1, true, true},
        {2, "other", 0, true, true},   {3, "t", 0, false, false},     {4, "t", 0, false, false},
        {5, "t", 0, false, false},     {7, "t", 0, false, false},     {0, nullptr, 0, false, false},
        {1, nullptr, 0, true, true},   {2, nullptr, 0, true, true},   {3, nullptr, 0, false, false},
        {5, nullptr, 0, false, false}, {6, nullptr, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + (c.context ? c.context : "(null)"));
        Cell cell;
        cell.runTimers();
        ASSERT_NE(cell.grid->getDecodeTimer(), 0u);
        cell.report(c.kind, c.context);
        EXPECT_EQ(cell.grid->reopens, c.reopens);
        EXPECT_EQ(cell.grid->getDecodeTimer() != 0, c.decodeRuns);
        EXPECT_EQ(cell.grid->getAnimationTimer() != 0, c.animationRuns);
        EXPECT_EQ(cell.grid->getTarget(), "t");
    }
    // Only the animation runs after an early error: both kinds of stop still work.
    Cell cell;
    cell.grid->startAnimation();
    cell.report(4, "t");
    EXPECT_EQ(cell.grid->getAnimationTimer(), 0u);
}

TEST(GridErrors, RetriesAreBoundedAndRestartForAnotherImage)
{
    for (int kind : {0, 2}) {
        SCOPED_TRACE(kind);
        Cell cell;
        for (int i = 0; i < 7; ++i)
            cell.report(kind, "t");
        EXPECT_EQ(cell.grid->reopens, 5);
        // Past the limit the cell keeps the image, so its overlay still names it.
        EXPECT_EQ(cell.grid->getTarget(), "t");

        HangingItem next;
        next.selected = true;
        next.objectFile = "u";
        cell.grid->showStackItem(next);
        cell.report(kind, "u");
        EXPECT_EQ(cell.grid->reopens, 6);
    }
}

TEST(GridErrors, AnnotationFailuresRetryThenGiveUp)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    struct Case {
        const char* fault;
        size_t requests;
        bool failed;
    } cases[] = {
        {"status:code=500,on=annotation", 6, true},
        {"status:code=500,on=annotation,times=2", 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string reply = std::filesystem::current_path().string() + "/errors-reply-" + std::to_string(getpid()) + ".xml";
        std::ofstream(reply) << "<Root><Image><ImageUID>@UID@</ImageUID><Tag>I</Tag></Image></Root>";
        gridtest::ScopedLog log;
        gridtest::GridHarness h(240, 180, {"--fault", c.fault, "--annotation-default", reply}, false);
        h.frame->getAnnotationLoader()->setServerAddress(h.server->annotationAddress());
        ASSERT_TRUE(h.show(1));
        ASSERT_TRUE(h.until([&] { return h.grid->presentations == 1; }));
        EXPECT_EQ(h.serverLines("\"kind\": \"annotation\"").size(), c.requests);
        EXPECT_EQ(h.grid->isAnnotationFailed(), c.failed);
        EXPECT_EQ(h.frame->getAnnotationLoader()->retryCounter(), int(c.requests) - 1);
        const std::string text = log.text();
        for (size_t n = 1; n <= c.requests; ++n)
            EXPECT_EQ(gridtest::ScopedLog::count(text, "J2KGrid", 890,
                                                 "Annotation Sever Connection Error When handling " +
                                                     h.item(1).objectFile + " Retrying: " + std::to_string(n)),
                      n < c.requests ? 1u : 0u)
                << n;
        // Given up, the cell shows the failure mark once the image is loaded.
        ASSERT_TRUE(h.until([&] { return !h.grid->getDecodeTimer() && !h.grid->getAnimationTimer(); }));
        h.paint();
        EXPECT_EQ(gridtest::showsBitmap(h.frame->m_hWnd, 229, 2, 180 - gridtest::readBitmap(229).height - 2, true),
                  c.failed);
        // A failure reported for an image the grid no longer shows is not retried.
        const int before = h.frame->getAnnotationLoader()->retryCounter();
        h.grid->setAnnotationFailed(false);
        std::unique_ptr<CJ2KException> stale(new CJ2KOverlayConnectionException("x", "s", 1, "gone"));
        SendMessageW(h.grid->m_hWnd, WM_APP + 6, 1, reinterpret_cast<LPARAM>(&stale));
        EXPECT_EQ(stale, nullptr);
        EXPECT_TRUE(h.grid->isAnnotationFailed());
        EXPECT_EQ(h.frame->getAnnotationLoader()->retryCounter(), before);
        EXPECT_EQ(h.grid->presentations, 1);
        std::filesystem::remove(reply);
    }
}

TEST(GridNewHandler, TurnsAFailedAllocationIntoTheGridsException)
{
    const std::new_handler previous = std::get_new_handler();
    std::string drive = (std::filesystem::temp_directory_path() / "orbel-oom-XXXXXX").string();
    ASSERT_NE(mkdtemp(drive.data()), nullptr);
    setenv("ORBEL_DRIVE_C", drive.c_str(), 1);
    setMinLogLevel(0);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    int calls = 0;
    {
        Cell cell;
        EXPECT_EQ(std::get_new_handler(), &CJ2KGrid::onOutOfMemory);
    }
    auto expectThrow = [&calls](const std::function<void()>& f) {
        ++calls;
        try {
            f();
            ADD_FAILURE() << "nothing thrown";
        } catch (const std::bad_alloc& e) {
            const auto* grid = dynamic_cast<const CJ2KMemoryExhaustedException*>(&e);
            ASSERT_NE(grid, nullptr);
            EXPECT_STREQ(grid->what(), "Memory allocation failed");
            EXPECT_EQ(grid->getLine(), 197);
        }
    };
    expectThrow(&CJ2KGrid::onOutOfMemory);
    std::thread worker([&] { expectThrow(&CJ2KGrid::onOutOfMemory); });
    worker.join();
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    volatile size_t huge = SIZE_MAX / 2;
    expectThrow([&] {
        char* volatile block = new char[huge];
        delete[] block;
    });
#endif
    {
        Cell cell;
        cell.runTimers();
        cell.grid->handleMemoryError();
        EXPECT_EQ(cell.grid->getDecodeTimer(), 0u);
        EXPECT_EQ(cell.grid->getAnimationTimer(), 0u);
    }
    std::set_new_handler(previous);
    closeLogFile();
    std::ifstream in(drive + "/Quillon.Log", std::ios::binary);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    initLogFile(nullptr, 0, 1, 1);
    std::filesystem::remove_all(drive);
    size_t records = 0;
    for (size_t at = log.find("OutOfMemory  !"); at != std::string::npos; at = log.find("OutOfMemory  !", at + 1))
        ++records;
    EXPECT_EQ(records, size_t(calls)) << log;
    EXPECT_NE(log.find("[FATAL"), std::string::npos) << log;
    EXPECT_NE(log.find("Memory Allocation Error!"), std::string::npos) << log;
}
