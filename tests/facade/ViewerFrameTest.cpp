// Init, LoadData, the automatic layout, and the frame's layout and paging as a page sees
// them: events, the frame's and cells' windows in the stand-in, what each grid shows.
#include "tests/facade/ViewerHarness.h"

#include "R2IVuzi/JpipHttp.h"
#include "R2IVuzi/StartupValues.h"
#include "platform/Gdi.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>

using namespace viewertest;

namespace {

RECT windowRect(HWND w)
{
    RECT r{};
    GetWindowRect(w, &r);
    return r;
}

std::vector<HWND> windowsOf(const CJ2KFrame& frame)
{
    std::vector<HWND> out = {frame.m_hWnd};
    for (const auto& s : frame.getSubFrames()) {
        out.insert(out.end(), {s->m_hWnd, s->getScrollBarWindow()});
        for (const auto& g : s->getGrids())
            out.push_back(g->m_hWnd);
    }
    return out;
}

class ViewerFrame : public ViewerTest {};

} // namespace

TEST_F(ViewerFrame, AutomaticLayoutFollowsItemCountAndCap)
{
    const struct {
        int items;
        const char* cap;
        int c, r;
    } cases[] = {{1, "20", 1, 1}, {3, "20", 2, 2}, {5, "20", 3, 2}, {10, "20", 4, 3},
                 {70, "20", 8, 8}, {10, "3", 3, 3}, {10, nullptr, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.items) + " items, cap " + (c.cap ? c.cap : "none"));
        restart();
        ASSERT_EQ(init(config(std::string("<hangmode>1</hangmode>") +
                              (c.cap ? std::string("<maxlayout>") + c.cap + "</maxlayout>" : ""))),
                  S_OK);
        GetLayoutMap()[1] = {2, 2};
        sink.take();
        ASSERT_EQ(loadData(makePssi(images(c.items))), S_OK);
        EXPECT_EQ(sink.events.at(0), "SetLayout(" + std::to_string(c.c) + "," + std::to_string(c.r) + ")");
        EXPECT_EQ(GetLayoutMap(), (LayoutMap{{0, {c.r, c.c}}, {1, {1, 1}}}));
        EXPECT_EQ(frame().getSubFrames().size(), size_t(c.r * c.c));
    }
}

TEST_F(ViewerFrame, InitAndLoadDataCases)
{
    const std::string good = config("<hangmode>1</hangmode><maxlayout>4</maxlayout>"), five = makePssi(images(5));
    const Events loaded = {"SetLayout(3,2)", "TotalPagesChanged(1)", "LoadDataFinished(1)"};
    const struct {
        const char* name;
        std::string config; // empty: no Init
        bool address;
        std::string pssi;
        HRESULT initHr, loadHr;
        Events events, records;
        int rows, columns; // 0: no frame window
    } cases[] = {
        // Nothing loads on a configuration that did not: no placeholders in the cells.
        {"broken configuration", "<root><configuration>", true, five, S_FALSE, S_FALSE, {},
         {"FATAL Parse Configuration  Error: Config.xml line 1, column 22: Error reading Element value.",
          "ERROR LoadData refused: the configuration did not load"},
         0, 0},
        {"LoadData before Init", "", false, five, S_OK, S_FALSE, {}, {"ERROR LoadData refused: Init has not run"}, 0,
         0},
        {"no annotation server", good, false, five, S_OK, S_OK, loaded,
         {"ERROR The Annotation Server Address is not set"}, 2, 3},
        {"broken PSSI", good, true, "<Root><Patient>", S_OK, S_FALSE, {},
         {"FATAL Parse PSSI Error: BasePssi.xml line 1, column 16: Error reading Element value."}, 0, 0},
        {"five images", good, true, five, S_OK, S_OK, loaded, {}, 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
        if (!c.config.empty()) {
            EXPECT_EQ(init(c.config), c.initHr);
            EXPECT_EQ(sink.take(), c.initHr == S_OK ? Events{"InitFinished(1)"} : Events{});
        }
        if (c.address)
            control->SetAnnotationServerAddress(bstr("http://127.0.0.1:1/annotation").get());
        EXPECT_EQ(loadData(c.pssi), c.loadHr);
        EXPECT_EQ(sink.take(), c.events);
        EXPECT_EQ(records(), c.records);
        if (c.config.empty())
            continue;
        HWND w = frame().m_hWnd;
        ASSERT_EQ(w != nullptr, c.rows != 0);
        if (!w)
            continue;
        EXPECT_EQ(GetParent(w), window);
        EXPECT_EQ(DWORD(GetWindowLongPtrW(w, GWL_STYLE)), 0x56000000u);
        const RECT frameRect = windowRect(w), controlRect = windowRect(window);
        EXPECT_TRUE(EqualRect(&frameRect, &controlRect));
        std::set<std::pair<int, int>> expected;
        for (int i = 0; i < c.rows * c.columns; ++i)
            expected.insert({i % c.columns, i / c.columns});
        const auto cells = positions();
        EXPECT_EQ(cells.size(), expected.size());
        EXPECT_EQ((std::set<std::pair<int, int>>(cells.begin(), cells.end())), expected);
    }
}

TEST_F(ViewerFrame, LaterLoadDataAndInitTearDownWhatCameBefore)
{
    const int threads = threadsSettledAt(), curl = jpipGlobalInitCount();
    load("<hangmode>1</hangmode><maxlayout>4</maxlayout>", images(5));
    std::vector<HWND> before = windowsOf(frame());
    ASSERT_EQ(loadData(makePssi(images(2))), S_OK);
    EXPECT_EQ(sink.take(), (Events{"SetLayout(2,1)", "TotalPagesChanged(1)", "LoadDataFinished(1)"}));
    for (HWND w : before)
        EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(IsChild(window, frame().m_hWnd));
    EXPECT_EQ(positions(), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
    // Both loaders and one image loader per grid.
    EXPECT_EQ(threadsSettledAt(threads + 2 + 2), threads + 2 + 2);

    before = windowsOf(frame());
    const boost::weak_ptr<CJ2KFrame> old = control->getFrame();
    ASSERT_EQ(init(config("")), S_OK);
    for (HWND w : before)
        EXPECT_FALSE(IsWindow(w));
    EXPECT_TRUE(old.expired());
    EXPECT_EQ(frame().m_hWnd, nullptr);
    // Every loader of the old frame ended within Init; the new frame runs its two.
    EXPECT_EQ(threadsSettledAt(threads + 2), threads + 2);
    EXPECT_EQ(jpipGlobalInitCount(), curl + 1);
    // The log started over after the tear-down: the old loaders' last records are not in it.
    EXPECT_EQ(logText().find("Quit Safely"), std::string::npos);
}

TEST_F(ViewerFrame, FiveItemsInTwoByTwoPageOnToItemFour)
{
    load("<hangmode>1</hangmode><maxlayout>2</maxlayout>", images(5));
    auto shown = [&] { return Events{shownAt(0, 0), shownAt(1, 0), shownAt(0, 1), shownAt(1, 1)}; };
    EXPECT_EQ(frame().getTotalPages(), 2);
    EXPECT_EQ(shown(), (Events{"1.1.1.1.1", "1.1.1.1.2", "1.1.1.1.3", "1.1.1.1.4"}));
    EXPECT_EQ(control->TurnLayoutPage(VARIANT_FALSE), S_OK);
    EXPECT_EQ(sink.take(), (Events{"CurrentPageChanged(1)", "Turn(1)"}));
    EXPECT_EQ(shown(), (Events{"1.1.1.1.5", "", "", ""}));
    // Past the last page: the page is announced unchanged and the turn reports no move.
    EXPECT_EQ(control->TurnLayoutPage(VARIANT_FALSE), S_FALSE);
    EXPECT_EQ(sink.take(), (Events{"CurrentPageChanged(1)", "Turn(0)"}));
    EXPECT_EQ(shown(), (Events{"1.1.1.1.5", "", "", ""}));
}

TEST_F(ViewerFrame, ShrinkGrowBackAndReassign)
{
    load("<hangmode>1</hangmode><maxlayout>3</maxlayout>", images(9));
    // (2, 0) survives the shrink to 2 x 2, (2, 2) does not; each has its own sub-layout.
    for (auto [c, r, rows, columns] : {std::array<int, 4>{2, 0, 1, 2}, {2, 2, 2, 1}}) {
        control->SetSelectMode(0);
        at(c, r)->setSelected(true);
        ASSERT_EQ(control->SetSubLayout(rows, columns), S_OK);
    }
    auto subLayouts = [&] {
        std::map<std::pair<int, int>, std::pair<int, int>> out;
        for (const auto& s : frame().getSubFrames())
            out[{s->getColumn(), s->getRow()}] = {s->getSubRows(), s->getSubColumns()};
        return out;
    };
    const auto before = subLayouts();
    ASSERT_EQ(before.at({2, 0}), std::make_pair(1, 2));
    ASSERT_EQ(before.at({2, 2}), std::make_pair(2, 1));
    const CJ2KFrame::SubFrames nine = frame().getSubFrames();
    std::map<CJ2KSubFrame*, std::array<HWND, 2>> windows;
    for (const auto& s : nine)
        windows[s.get()] = {s->m_hWnd, s->getScrollBarWindow()};

    ASSERT_EQ(control->SetLayout(2, 2), S_OK);
    const CJ2KFrame::SubFrames four = frame().getSubFrames();
    ASSERT_EQ(four.size(), 4u);
    int destroyed = 0;
    for (const auto& s : nine) {
        const bool kept = std::find(four.begin(), four.end(), s) != four.end();
        for (HWND w : windows[s.get()])
            EXPECT_EQ(bool(IsWindow(w)), kept);
        destroyed += !kept;
    }
    EXPECT_EQ(destroyed, 5);

    ASSERT_EQ(control->SetLayout(3, 3), S_OK);
    const CJ2KFrame::SubFrames again = frame().getSubFrames();
    for (const auto& s : four)
        EXPECT_NE(std::find(again.begin(), again.end(), s), again.end());
    EXPECT_EQ(subLayouts(), before);

    // 2 x 3 to 3 x 2: the same sub-frames and windows, placed anew.
    ASSERT_EQ(control->SetLayout(2, 3), S_OK);
    const CJ2KFrame::SubFrames six = frame().getSubFrames();
    sink.take();
    ASSERT_EQ(control->SetLayout(3, 2), S_OK);
    EXPECT_EQ(frame().getSubFrames(), six);
    for (const auto& s : six)
        EXPECT_TRUE(IsWindow(s->m_hWnd) && IsWindow(s->getScrollBarWindow()));
    EXPECT_EQ(positions(), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}, {1, 2}}));
    EXPECT_EQ(sink.take(), Events{"TotalPagesChanged(2)"});
}

TEST_F(ViewerFrame, ThreeColumnsOf301Pixels)
{
    restart(301, 60);
    load("<hangmode>1</hangmode><maxlayout>3</maxlayout>", images(3));
    ASSERT_EQ(control->SetLayout(1, 3), S_OK);
    int bar = 0; // the scroll bar column is as wide as bitmap 212, when there is one
    if (HBITMAP b = LoadBitmapW(ModuleInstance(), MAKEINTRESOURCEW(kScrollBarBitmap))) {
        BITMAP info{};
        GetObjectW(b, sizeof info, &info);
        bar = info.bmWidth;
        DeleteObject(b);
    }
    const RECT f = windowRect(frame().m_hWnd);
    EXPECT_EQ(f.right - f.left, 301);
    const int edges[] = {1, 101, 200, 300};
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE("column " + std::to_string(c));
        const RECT cell = windowRect(at(c, 0)->m_hWnd), scroll = windowRect(at(c, 0)->getScrollBarWindow());
        EXPECT_EQ((std::array<LONG, 4>{cell.left - f.left, cell.right - f.left, cell.top - f.top, cell.bottom - f.top}),
                  (std::array<LONG, 4>{edges[c], edges[c + 1] - bar, 1, 59}));
        EXPECT_EQ((std::array<LONG, 2>{scroll.left - f.left, scroll.right - f.left}),
                  (std::array<LONG, 2>{edges[c + 1] - bar, edges[c + 1]}));
    }
}

TEST_F(ViewerFrame, WorkingRootsPageOnToTheFollowingRoots)
{
    load("<hangmode>6</hangmode><workingmode>1</workingmode><maxlayout>2</maxlayout>",
         "--patients 5 --studies 1 --series 1 --images 1");
    for (int p = 1; p <= 5; ++p)
        ASSERT_EQ(workingRoot("1." + std::to_string(p), "", "", ""), S_OK);
    ASSERT_EQ(positions().size(), 4u);
    EXPECT_EQ(frame().getTotalPages(), 2);
    auto rootsOn = [&](int page) {
        Events out;
        for (auto [c, r] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
            const auto& records = at(c, r)->getStackManager()->records();
            out.push_back(records.count(page) ? uidOf(records.at(page).root) : "missing");
        }
        return out;
    };
    EXPECT_EQ(rootsOn(0), (Events{"Root", "1.1", "1.2", "1.3"}));
    EXPECT_EQ(rootsOn(1), (Events{"1.4", "1.5", "", ""}));
    // The last root chosen is on page 1, which the frame shows.
    EXPECT_EQ(frame().getCurrentPage(), 1);
    EXPECT_EQ((Events{shownAt(0, 0), shownAt(1, 0), shownAt(0, 1)}), (Events{"1.4.1.1.1", "1.5.1.1.1", ""}));
}
