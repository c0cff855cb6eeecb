// Paging a frame's sub-frames the way a user does: the wheel over a focused grid, presses
// and drags on the scroll bar, a double click for single view. Each cell's centre pixel
// names the image it shows: seven 64 x 48 images, image k holding 16 k + x / 4, served
// over loopback JPIP. The test thread is the user-interface thread and never sleeps.
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KSubFrameHangingStackManager.h"
#include "R2IVuzi/OrbelScrollbar.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "annotation/OrbelAnnWrapper.h"
#include "codec/core/rvd_message.h"
#include "platform/Kernel.h"
#include "platform/ModuleStartup.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/support/JpipTestServer.h"
#include "tests/support/TestTools.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Made once per test process, in a folder of its own: CTest runs many processes at once.
struct Corpus {
    Corpus()
    {
        std::string folder = (std::filesystem::current_path() / "paging-corpus-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return;
        for (int k = 1; k <= 7; ++k) {
            const std::string stem = folder + "/1_1_1_" + std::to_string(k);
            std::ofstream raw(stem + ".raw", std::ios::binary);
            for (int i = 0; i < 64 * 48; ++i)
                raw.put(char(16 * k + i % 64 / 4));
            raw.close();
            const std::string cmd =
                "opj_compress -i '" + stem + ".raw' -o '" + stem + ".j2k' -F 64,48,1,8,u -PLT >/dev/null 2>&1";
            if (std::system(cmd.c_str()) != 0)
                return;
            std::filesystem::rename(stem + ".j2k", stem + "_1.jp2");
        }
        dir = folder;
    }
    ~Corpus() { std::filesystem::remove_all(dir, ignored); }
    std::error_code ignored;
    std::string dir;
};

// What the sub-frame windows receive from their scroll bars (code -1: WM_APP + 9).
struct Sent {
    HWND to;
    int code, position;
    bool operator==(const Sent& o) const { return to == o.to && code == o.code && position == o.position; }
};
std::ostream& operator<<(std::ostream& out, const Sent& s) { return out << "(" << s.code << ", " << s.position << ")"; }
std::vector<Sent> g_sent;
std::map<HWND, WNDPROC> g_spied;

LRESULT CALLBACK spyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_VSCROLL)
        g_sent.push_back({hwnd, LOWORD(wParam), HIWORD(wParam)});
    else if (msg == COrbelScrollbar::kSelectMessage)
        g_sent.push_back({hwnd, -1, -1});
    return CallWindowProcW(g_spied.at(hwnd), hwnd, msg, wParam, lParam);
}

struct Owner : IJ2KFrameOwner {
    std::vector<std::string> events;
    HRESULT Fire_OnSetWorkingTool(LONG tool) override { return record("tool ", tool); }
    HRESULT Fire_OnSetFitType(LONG type) override { return record("fit ", type); }
    HRESULT Fire_OnTotalPagesChanged(LONG pages) override { return record("total ", pages); }
    HRESULT Fire_OnCurrentPageChanged(LONG page) override { return record("page ", page); }
    HRESULT Fire_OnSetSelectMode(LONG mode) override { return record("select ", mode); }
    HRESULT Fire_OnShowRuler(VARIANT_BOOL show) override { return record("ruler ", show); }
    HRESULT Fire_OnShowAnnotation(VARIANT_BOOL show) override { return record("annotation ", show); }
    HRESULT Fire_OnShowOverlay(VARIANT_BOOL show) override { return record("overlay ", show); }
    HRESULT record(const std::string& what, LONG value)
    {
        events.push_back(what + std::to_string(value));
        return S_OK;
    }
};

// A 300 x 234 frame: a single row of sub-frames has 232-pixel bars, their track 200.
constexpr int kTrackTop = 16;

class Paging : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
        static const Corpus corpus;
        ASSERT_FALSE(corpus.dir.empty());
        // As the control does: codec errors become CJ2KException.
        if (!StartupRegistry::global().loaded() && StartupRegistry::global().load())
            rvd_customize_errors(&GetCodecErrorFormatter());
        setenv("ORBEL_RESOURCES", ORBEL_SOURCE_DIR "/resources", 1);
        platform::ResetInput();
        savedLayout_ = GetLayoutMap();
        savedPacket_ = g_packetSize;
        started_ = true;
        // The annotation layer's pens, kept for the process, made as a grid that opens an
        // image makes them: only the first setting makes pens, so pens of any other style
        // made here would be the ones every later grid of the program draws with.
        OrbelAnnWrapper::SetPen(0, 1);
        liveGdi_ = platform::LiveGdiObjects();
        server.reset(new OrbelTest::JpipTestServer(corpus.dir));
        frame = boost::make_shared<CJ2KFrame>(&owner);
        std::string pssi;
        const std::string cmd = OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tools/make_pssi.py") +
                                " --patients 1 --studies 1 --series 1 --images 7 --tags 0 --annotated --object-base '" +
                                server->imageTarget("") + "'";
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
                pssi.append(buf, n);
            pclose(p);
        }
        CPssiXmlDao& dao = *frame->getPssiXmlDao();
        dao.parsePssi(pssi);
        TiXmlElement* root = dao.getRootElement();
        ASSERT_NE(root, nullptr);
        dao.setHangingDownward(root, 5, "True");
        TiXmlHandle series = TiXmlHandle(root).FirstChild("Patient").FirstChild("Study").FirstChild("Series");
        for (TiXmlElement* i = series.FirstChild("Image").ToElement(); i; i = i->NextSiblingElement("Image"))
            images.push_back(i);
        ASSERT_EQ(images.size(), 7u);
        ASSERT_TRUE(frame->Create(nullptr, RECT{0, 0, 300, 234}, WS_POPUP | WS_VISIBLE));
    }
    void TearDown() override
    {
        if (!started_)
            return; // skipped before the module was loaded: nothing to put back
        if (frame) {
            frame->destroyFrameWindow();
            platform::PumpPending();
            frame.reset();
        }
        server.reset();
        g_spied.clear();
        GetLayoutMap() = savedLayout_;
        g_selectMode = 0;
        g_linkFlag = false;
        g_packetSize = savedPacket_;
        platform::ResetInput();
        // Bars, grids and the frame gave back every bitmap, DC, pen and font they made.
        EXPECT_EQ(platform::LiveGdiObjects(), liveGdi_);
    }

    // Lays the frame out and shows its first page, as the control does after loading.
    void build(int rows, int columns, int subRows, int subColumns, int hangingLevel = 3)
    {
        GetLayoutMap()[0] = {rows, columns};
        GetLayoutMap()[1] = {subRows, subColumns};
        frame->setHangingLevel(hangingLevel);
        frame->applyLayout(true);
        frame->distribute();
        frame->showCurrentPage();
        frame->arrangeWindows();
        for (const auto& s : frame->getSubFrames())
            g_spied[s->m_hWnd] = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(s->m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&spyProc)));
        g_sent.clear();
    }
    boost::shared_ptr<CJ2KSubFrame> sub(size_t i = 0) const { return frame->getSubFrames().at(i); }
    COLORREF pixelAt(HWND window, bool leftEdge) const
    {
        RECT r;
        GetWindowRect(window, &r);
        return gridtest::pixelAt(frame->m_hWnd, leftEdge ? r.left : (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    // Per grid in (row, column) order, the image its centre shows: 0 black, -1 other.
    std::vector<int> shown(size_t s = 0) const
    {
        std::vector<int> out;
        for (const auto& grid : sub(s)->getGrids()) {
            const COLORREF c = pixelAt(grid->m_hWnd, false);
            int k = 7;
            // Image k's centre under the default full-range window, shown as MONOCHROME1.
            while (k > 0 && std::fabs(255.0 - (16.0 * k + 8.0) * 255.0 / 256.0 - GetRValue(c)) > 1.0)
                --k;
            const bool grey = GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
            out.push_back(c == RGB(0, 0, 0) ? 0 : grey && k ? k : -1);
        }
        return out;
    }
    // Every grid with an image has it open, its loader idle and no decode pending.
    bool settled(size_t s = 0) const
    {
        for (const auto& grid : sub(s)->getGrids()) {
            CJ2KImageLoader* loader = grid->getImageLoader();
            if (!grid->getTarget().empty() && (!loader || !loader->isReady() || grid->getDecodeTimer()))
                return false;
        }
        return true;
    }
    // Pumps, moving the clock on whenever idle, until the condition holds (30 s at most).
    static bool until(const std::function<bool()>& condition)
    {
        for (int i = 0; i < 600; ++i) {
            if (platform::PumpUntil(condition, 50))
                return true;
            platform::AdvanceClock(100);
        }
        return false;
    }
    bool shows(const std::vector<int>& expected, size_t s = 0)
    {
        const bool ok = until([&] { return settled(s) && shown(s) == expected; });
        EXPECT_EQ(shown(s), expected);
        return ok;
    }

    void notch(int notches)
    {
        SetFocus(sub()->getGrids().front()->m_hWnd);
        platform::InjectWheel(notches);
        platform::PumpPending();
    }
    // Presses sub-frame s's bar at y, drags along the path, holds, releases.
    void press(int y, const std::vector<int>& path = {}, DWORD holdMs = 0, size_t s = 0)
    {
        platform::AdvanceClock(600);  // never a double click with the last press
        RECT bar;
        GetWindowRect(sub(s)->getScrollBarWindow(), &bar);
        const int x = (bar.left + bar.right) / 2;
        platform::InjectMouseMove(x, bar.top + y);
        platform::InjectButton(platform::MouseButton::Left, true);
        platform::PumpPending();
        for (int to : path) {
            platform::InjectMouseMove(x, bar.top + to);
            platform::PumpPending();
        }
        platform::AdvanceClock(holdMs);
        platform::PumpPending();
        platform::InjectButton(platform::MouseButton::Left, false);
        platform::PumpPending();
    }
    Sent sent(int code, int position = 0, size_t s = 0) const { return {sub(s)->m_hWnd, code, position}; }

    Owner owner;
    std::unique_ptr<OrbelTest::JpipTestServer> server;
    boost::shared_ptr<CJ2KFrame> frame;
    std::vector<TiXmlNode*> images;

private:
    LayoutMap savedLayout_;
    int savedPacket_ = 0;
    bool started_ = false;
    int liveGdi_ = 0;
};

} // namespace

TEST_F(Paging, SubLayoutReadBackFromWindows)
{
    auto s = boost::make_shared<CJ2KSubFrame>(frame, 0, 0);
    ASSERT_TRUE(s->CreateSubFrameWindow(frame->m_hWnd, RECT{0, 0, 301, 301}));
    struct Step {
        int columns, rows;
        std::vector<int> columnEdges, rowEdges;  // cells inside the 1-pixel border
        size_t kept;                             // leading grids keeping their windows
        bool remembers;                          // the frame's record for (0, 0) is written
    };
    const Step steps[] = {
        {2, 2, {1, 151, 300}, {1, 151, 300}, 0, true},
        {2, 1, {1, 151, 300}, {1, 300}, 2, false},
        {2, 2, {1, 151, 300}, {1, 151, 300}, 2, true},
        {4, 1, {1, 76, 151, 225, 300}, {1, 300}, 4, false},
        {0, 0, {1, 300}, {1, 300}, 1, false},
        {3, 3, {1, 101, 200, 300}, {1, 101, 200, 300}, 1, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.columns) + " x " + std::to_string(step.rows));
        std::vector<HWND> before;
        for (const auto& g : s->getGrids())
            before.push_back(g->m_hWnd);
        frame->clearSavedStates();
        s->setSubLayout(step.columns, step.rows);
        s->layOut();
        const size_t columns = step.columnEdges.size() - 1;
        const auto& grids = s->getGrids();
        ASSERT_EQ(grids.size(), columns * (step.rowEdges.size() - 1));
        for (size_t i = 0; i < grids.size(); ++i) {
            const size_t r = i / columns, c = i % columns;
            EXPECT_TRUE(IsWindow(grids[i]->m_hWnd)) << i;
            EXPECT_EQ(i < step.kept, i < before.size() && grids[i]->m_hWnd == before[i]) << i;
            RECT rect;
            GetWindowRect(grids[i]->m_hWnd, &rect);
            MapWindowPoints(nullptr, s->m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
            EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right, rect.bottom}),
                      std::vector<LONG>({step.columnEdges[c], step.rowEdges[r], step.columnEdges[c + 1],
                                         step.rowEdges[r + 1]}))
                << "grid " << i;
        }
        for (size_t i = grids.size(); i < before.size(); ++i)
            EXPECT_FALSE(IsWindow(before[i])) << "dropped grid " << i;
        const auto saved = frame->getSavedStates().find({0, 0});
        ASSERT_EQ(saved != frame->getSavedStates().end(), step.remembers);
        if (step.remembers) {
            EXPECT_EQ(saved->second.subColumns * 10 + saved->second.subRows, step.columns * 10 + step.rows);
        }
    }
    s->destroyWindows();
}

TEST_F(Paging, WheelAndBarTurnPages)
{
    build(1, 1, 2, 2);
    ASSERT_TRUE(shows({1, 2, 3, 4}));
    const std::vector<int> first = {1, 2, 3, 4}, second = {5, 6, 7, 0};
    struct Step {
        const char* name;
        std::function<void()> act;
        std::vector<Sent> sent;
        const std::vector<int>& shown;
        bool refreshes;
    };
    // The thumb covers track rows 0-99 on page 0 and 100-199 on page 1.
    const Step steps[] = {
        {"one notch down", [&] { notch(-1); }, {}, second, true},
        {"a notch down on the last page", [&] { notch(-1); }, {}, second, false},
        {"one notch up", [&] { notch(1); }, {}, first, true},
        {"track below the thumb, held 500 ms", [&] { press(kTrackTop + 150, {}, 500); },
         {sent(-1, -1), sent(SB_PAGEDOWN)}, second, true},
        {"track above the thumb", [&] { press(kTrackTop + 50); }, {sent(-1, -1), sent(SB_PAGEUP)}, first, true},
        {"down arrow", [&] { press(kTrackTop + 205); }, {sent(-1, -1), sent(SB_LINEDOWN)}, second, true},
        {"down arrow on the last page", [&] { press(kTrackTop + 205); }, {sent(-1, -1), sent(SB_LINEDOWN)},
         second, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        g_sent.clear();
        const size_t requests = server->logLines().size();
        step.act();
        EXPECT_EQ(g_sent, step.sent);
        EXPECT_TRUE(shows(step.shown));
        // A refresh re-opens every shown image; the server logs a request before its reply.
        EXPECT_EQ(server->logLines().size() > requests, step.refreshes);
    }
}

TEST_F(Paging, ThumbDragTurnsToThePageUnderItAtRelease)
{
    build(1, 1, 1, 1);  // 7 pages: the thumb is 28.6 rows high
    ASSERT_TRUE(shows({1}));
    const size_t requests = server->logLines().size();
    press(kTrackTop + 10, {kTrackTop + 45, kTrackTop + 75});
    EXPECT_EQ(g_sent, (std::vector<Sent>{sent(-1, -1), sent(SB_THUMBTRACK, 1), sent(SB_THUMBTRACK, 2),
                                         sent(SB_THUMBPOSITION, 2)}));
    EXPECT_EQ(sub()->getStackManager()->currentPage(), 2);
    EXPECT_TRUE(shows({3}));
    EXPECT_GT(server->logLines().size(), requests);
    // Dragged to the bottom: the last page; back to the top: the first.
    press(kTrackTop + 70, {kTrackTop + 199});
    EXPECT_EQ(sub()->getStackManager()->currentPage(), 6);
    EXPECT_TRUE(shows({7}));
    press(kTrackTop + 190, {kTrackTop});
    EXPECT_EQ(sub()->getStackManager()->currentPage(), 0);
    EXPECT_TRUE(shows({1}));
    // A single cell has no single view to switch to.
    PostMessageW(sub()->m_hWnd, WM_LBUTTONDBLCLK, 0, 0);
    platform::PumpPending();
    EXPECT_FALSE(sub()->isSingleView());
}

TEST_F(Paging, SinglePageBarOnlySelects)
{
    build(1, 2, 1, 1, 2);  // image roots: one page a bar
    ASSERT_TRUE(shows({1}, 0));
    ASSERT_TRUE(shows({2}, 1));
    struct Case {
        int mode;
        bool link;
        UINT ctrl;  // key held, 0 none
        bool otherBefore, otherAfter;  // the first sub-frame's selection
    };
    const Case cases[] = {
        {0, false, 0, true, false},      {3, true, 0, true, true}, {4, false, VK_RCONTROL, true, true},
        {0, false, VK_LCONTROL, true, true}, {1, false, 0, false, true}, {2, false, 0, false, true},
    };
    const COLORREF green = RGB(0, 255, 0), grey = RGB(0x4B, 0x4B, 0x4B);
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " link " + std::to_string(c.link) + " key " +
                     std::to_string(c.ctrl));
        g_selectMode = c.mode;
        g_linkFlag = c.link;
        frame->deselectAll();
        sub(0)->setSelected(c.otherBefore);
        frame->repaint();
        if (c.ctrl)
            platform::InjectKey(c.ctrl, true);
        g_sent.clear();
        press(kTrackTop + 100, {kTrackTop + 150}, 0, 1);
        if (c.ctrl)
            platform::InjectKey(c.ctrl, false);
        EXPECT_EQ(g_sent, std::vector<Sent>{sent(-1, -1, 1)});
        EXPECT_TRUE(sub(1)->isSelected() && sub(1)->getGrids().front()->isSelected());
        EXPECT_EQ(sub(0)->isSelected(), c.otherAfter);
        EXPECT_EQ(pixelAt(sub(1)->m_hWnd, true), green);
        EXPECT_EQ(pixelAt(sub(0)->m_hWnd, true), c.otherAfter ? green : grey);
        EXPECT_EQ(shown(1), std::vector<int>{2});
    }
}

TEST_F(Paging, DoubleClickTogglesSingleView)
{
    build(1, 1, 2, 2);
    ASSERT_TRUE(shows({1, 2, 3, 4}));
    notch(-1);
    ASSERT_TRUE(shows({5, 6, 7, 0}));
    sub()->setNodeToShow(images[5]);
    sub()->deselectAllGrids();  // single view selects the grid holding the node
    const std::pair<std::pair<int32_t, int32_t>, std::vector<int>> steps[] = {{{1, 1}, {6}},
                                                                             {{2, 2}, {5, 6, 7, 0}}};
    for (const auto& [subLayout, expected] : steps) {
        SCOPED_TRACE(subLayout.first);
        PostMessageW(sub()->m_hWnd, WM_LBUTTONDBLCLK, 0, MAKELPARAM(10, 10));
        platform::PumpPending();
        EXPECT_EQ(GetLayoutMap()[1], subLayout);
        EXPECT_EQ(sub()->getSubRows() * 10 + sub()->getSubColumns(), subLayout.first * 11);
        EXPECT_TRUE(IsWindowVisible(sub()->m_hWnd));
        EXPECT_TRUE(shows(expected));
    }
}

TEST_F(Paging, SelectedWindowsFollowRowColumnOrder)
{
    // Without sub-frames every forwarder does nothing.
    frame->rotate(true);
    frame->zoom(2.0f, false);
    frame->selectAll();
    frame->setPageAndShow();
    EXPECT_FALSE(frame->turnHangingPage(false) || frame->pageToNode(images[0]));
    EXPECT_EQ(frame->lastSelectedWindow(), nullptr);
    EXPECT_EQ(frame->firstSelectedGridWindow(), nullptr);
    EXPECT_TRUE(owner.events.empty());

    build(2, 2, 2, 2);
    auto grid = [&](int subColumn, int subRow, int column, int row) {
        for (const auto& g : frame->findAt(subColumn, subRow)->getGrids())
            if (g->getColumn() == column && g->getRow() == row)
                return g;
        return boost::shared_ptr<CJ2KGrid>();
    };
    // Column order would put (0, 1) first in both sets.
    frame->deselectAll();
    frame->findAt(1, 0)->setSelected(true);
    frame->findAt(0, 1)->setSelected(true);
    grid(1, 0, 0, 1)->setSelected(true);
    grid(1, 0, 1, 0)->setSelected(true);
    grid(0, 1, 0, 0)->setSelected(true);
    EXPECT_EQ(frame->lastSelectedWindow(), HWND(frame->findAt(0, 1)->m_hWnd));
    EXPECT_EQ(frame->firstSelectedGridWindow(), HWND(grid(1, 0, 1, 0)->m_hWnd));
    // Grids count only in selected sub-frames.
    frame->findAt(1, 0)->setSelected(false);
    EXPECT_EQ(frame->firstSelectedGridWindow(), HWND(grid(0, 1, 0, 0)->m_hWnd));
    frame->findAt(0, 1)->setSelected(false);
    EXPECT_EQ(frame->lastSelectedWindow(), nullptr);
    EXPECT_EQ(frame->firstSelectedGridWindow(), nullptr);
}

TEST_F(Paging, ShowCurrentPageReturnsToFirstWhenPastTheEnd)
{
    build(1, 1, 1, 1, 2);  // one image a frame page: 7 pages
    ASSERT_TRUE(shows({1}));
    struct Case {
        int page;
        int marked;  // images 1 to marked stay hanging
        std::vector<std::string> events;
        int pageAfter;
    };
    const Case cases[] = {{3, 7, {"total 7"}, 3}, {6, 1, {"total 1", "page 0"}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        while (frame->getCurrentPage() < c.page)
            frame->turnPage(false);
        for (int k = c.marked; k < 7; ++k)
            images[size_t(k)]->ToElement()->SetAttribute("hanging", "False");
        owner.events.clear();
        frame->distribute();
        frame->showCurrentPage();
        EXPECT_EQ(owner.events, c.events);
        EXPECT_EQ(frame->getCurrentPage(), c.pageAfter);
        EXPECT_TRUE(shows({c.pageAfter + 1}));
    }
}

// Loader threads deliver while the wheel turns the pages under them.
class PagingConcurrency : public Paging {};

TEST_F(PagingConcurrency, WheelTurnsWhileLoadersDeliver)
{
    g_packetSize = 512;
    build(1, 1, 2, 2);
    // Each turn waits for a decode to begin (a loader delivered) or for every grid to
    // finish (images seen before may come from the cache at once).
    auto delivering = [&] {
        for (const auto& grid : sub()->getGrids())
            if (grid->getDecodeTimer())
                return true;
        return settled();
    };
    for (int turn = 0; turn < 9; ++turn) {
        ASSERT_TRUE(until(delivering)) << turn;
        notch(turn % 2 ? 1 : -1);
    }
    EXPECT_TRUE(shows({5, 6, 7, 0}));
}
