// The grid's view commands over its selected stack items: the shown image renders at
// once, the others keep the change in their registered images until a grid opens them.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "image/ImageDisplayState.h"
#include "support/GridHarness.h"
#include "tests/support/TestTools.h"
#include "support/GridPixels.h"
#include "tests/diagnostics/LogTestSupport.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using gridtest::GridHarness;

namespace {

class ViewCommands : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        savedMode_ = g_selectMode;
        ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
        ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
        ASSERT_FALSE(gridtest::corpusDir().empty()) << "grid corpus not made";
        g_selectMode = 1;  // every stack item selected
    }
    void TearDown() override
    {
        g_selectMode = savedMode_;
        LogFileFixture::TearDown();
    }

    // Stacks images 1 to 3 on the grid and shows image 1.
    static bool stackAndShow(GridHarness& h)
    {
        for (int n = 1; n <= 3; ++n) {
            HangingItem it = h.item(n);
            h.grid->getStackManager()->update(0, n - 1, it.node, it.objectFile, it.instanceUID);
        }
        return h.show(1);
    }
    static boost::shared_ptr<CJ2KImage> registered(GridHarness& h, int n)
    {
        return boost::dynamic_pointer_cast<CJ2KImage>(h.frame->getPssiXmlDao()->findImage(h.item(n).objectFile));
    }
    static int turns(const boost::shared_ptr<CJ2KImage>& image)
    {
        ImageDisplayState state;
        image->getImageBase().GetDisplayState(state);
        return state.quarterTurns;
    }
    static std::vector<COLORREF> pixels(GridHarness& h)
    {
        h.paint();
        std::vector<COLORREF> out;
        for (int y = 0; y < 180; y += 7)
            for (int x = 0; x < 240; x += 7)
                out.push_back(gridtest::pixelAt(h.grid->m_hWnd, x, y));
        return out;
    }

    int savedMode_ = 0;
};

} // namespace

TEST_F(ViewCommands, RotateReachesShownAndLaterImages)
{
    GridHarness h;
    ASSERT_TRUE(stackAndShow(h));
    EXPECT_EQ(registered(h, 2), nullptr);
    h.grid->getStackManager()->update(1, 0, nullptr, "", "");  // an empty cell: nothing registered

    h.grid->rotate(true);
    EXPECT_EQ(turns(h.grid->getImage()), 1);
    ASSERT_TRUE(h.settleView());
    for (int n : {2, 3}) {
        boost::shared_ptr<CJ2KImage> image = registered(h, n);
        ASSERT_NE(image, nullptr) << n;
        EXPECT_FALSE(image->isOpened());
        EXPECT_EQ(turns(image), 1) << n;
    }
    EXPECT_EQ(h.frame->getPssiXmlDao()->findImage(""), nullptr);

}

// Paging to image 2 paints what opening it and then giving the command paints.
TEST_F(ViewCommands, PagingMatchesOpenThenCommand)
{
    const std::function<void(CJ2KGrid&)> commands[] = {
        [](CJ2KGrid& g) { g.invertGrey(); },
        [](CJ2KGrid& g) { g.flip(true); },
        [](CJ2KGrid& g) { g.rotate(true); },
    };
    for (const auto& command : commands) {
        GridHarness h;
        ASSERT_TRUE(stackAndShow(h));
        command(*h.grid);
        ASSERT_TRUE(h.settleView());
        ASSERT_TRUE(h.show(2));
        const std::vector<COLORREF> paged = pixels(h);
        GridHarness fresh;
        const HangingItem two = fresh.item(2);
        fresh.grid->getStackManager()->update(0, 0, two.node, two.objectFile, two.instanceUID);
        ASSERT_TRUE(fresh.show(2));
        const std::vector<COLORREF> plain = pixels(fresh);
        command(*fresh.grid);
        ASSERT_TRUE(fresh.settleView());
        EXPECT_NE(plain, paged);
        EXPECT_EQ(paged, pixels(fresh));
    }
}

TEST_F(ViewCommands, UnselectedGridAndFailuresStop)
{
    GridHarness h;
    ASSERT_TRUE(stackAndShow(h));
    h.grid->setSelected(false);
    h.grid->flip(true);
    EXPECT_EQ(turns(h.grid->getImage()), 0);
    EXPECT_EQ(registered(h, 2), nullptr);

    // With its sub-frame gone the registry is out of reach: the shown image (first in the
    // stack) still turns, the rest are skipped and the failure is logged.
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    h.grid->setSelected(true);
    boost::shared_ptr<CJ2KSubFrame> keep = h.subFrame;
    h.subFrame.reset();
    keep.reset();
    h.grid->rotate(true);
    EXPECT_EQ(turns(h.grid->getImage()), 1);
    // The grid can no longer hand its loader on when its window goes: do it here, ending
    // the loader's queue first as the grid does, or the manager waits on it for good.
    CJ2KImageLoader* loader = h.grid->getImageLoader();
    ASSERT_NE(loader, nullptr);
    loader->quit();
    h.frame->getImageLoaderMgr()->postRequest(boost::make_shared<CJ2KKillImageLoaderRequest>(loader));
    h.grid->setImageLoader(nullptr);
    closeLogFile();
    EXPECT_NE(readLog().find("Unknown Error occurs when Handling " + h.item(1).objectFile), std::string::npos);
}

// A fitted cell stays fitted when turned or flipped: at once (a turned image to its turned
// size) and at every new cell size, like a cell that was only fitted; none overflows.
TEST_F(ViewCommands, ResizeRefitsTurnedAndFlippedCells)
{
    const struct {
        const char* name;
        std::function<void(CJ2KGrid&)> command;
        bool turned;
    } cases[] = {
        {"fitted", [](CJ2KGrid&) {}, false},
        {"turned", [](CJ2KGrid& g) { g.rotate(true); }, true},
        {"turned twice and flipped", [](CJ2KGrid& g) { g.rotate(false); g.flip(false); g.rotate(false); }, false},
        {"flipped", [](CJ2KGrid& g) { g.flip(true); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GridHarness h;
        ASSERT_TRUE(stackAndShow(h));
        c.command(*h.grid);
        ASSERT_TRUE(h.settleView());
        for (const SIZE size : {SIZE{240, 180}, SIZE{120, 200}, SIZE{300, 120}}) {
            SetWindowPos(h.grid->m_hWnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOZORDER | SWP_NOMOVE);
            h.grid->layout();
            ASSERT_TRUE(h.settleView());
            ImageDisplayState state;
            h.grid->getImage()->getImageBase().GetDisplayState(state);
            const RECT& p = state.placedImage;
            // 512 x 384, standing 384 x 512 when turned: whole, and touching two opposite edges.
            const int w = c.turned ? 384 : 512, h2 = c.turned ? 512 : 384;
            const double zoom = std::min((size.cx + 1.0) / (w + 1), (size.cy + 1.0) / (h2 + 1));
            EXPECT_NEAR(state.zoomX, zoom, 1e-9) << size.cx << "x" << size.cy;
            EXPECT_TRUE(p.left >= 0 && p.top >= 0 && p.right <= size.cx && p.bottom <= size.cy)
                << p.left << "," << p.top << "," << p.right << "," << p.bottom;
            EXPECT_TRUE(p.right - p.left >= size.cx - 1 || p.bottom - p.top >= size.cy - 1);
        }
    }
}

// Reset after the zoom tool (whose release zooms with the actual-size flag) draws the
// cell exactly as the first fit did, pixel blocks and all.
TEST_F(ViewCommands, ResetAfterZoomToolDrawsLikeTheFirstFit)
{
    GridHarness h;
    ASSERT_TRUE(stackAndShow(h));
    const std::vector<COLORREF> first = pixels(h);
    for (const float factor : {1.25f, 1.0f}) {
        SCOPED_TRACE(factor);
        h.grid->zoom(factor, true);
        ASSERT_TRUE(h.settleView());
        h.grid->resetView();
        ASSERT_TRUE(h.settleView());
        EXPECT_EQ(pixels(h), first);
    }
}

// A command given while the shown image is still opening is kept for its first view: the
// cell then paints what opening it and then giving the command paints.
TEST_F(ViewCommands, CommandWhileOpeningTakesEffectWhenOpen)
{
    const std::function<void(CJ2KGrid&)> commands[] = {
        [](CJ2KGrid& g) { g.rotate(true); },
        [](CJ2KGrid& g) { g.flip(false); },
        [](CJ2KGrid& g) { g.rotate(false); g.flip(true); },
    };
    for (size_t i = 0; i < sizeof commands / sizeof commands[0]; ++i) {
        SCOPED_TRACE(i);
        GridHarness early;
        for (int n = 1; n <= 3; ++n) {
            HangingItem it = early.item(n);
            early.grid->getStackManager()->update(0, n - 1, it.node, it.objectFile, it.instanceUID);
        }
        const int before = early.grid->arrivals;
        early.grid->showStackItem(early.item(1));
        ASSERT_TRUE(early.grid->getImage() && !early.grid->getImage()->isOpened());
        commands[i](*early.grid);
        ASSERT_TRUE(early.settle(before + 1));
        ASSERT_TRUE(early.settleView());
        GridHarness late;
        ASSERT_TRUE(stackAndShow(late));
        const std::vector<COLORREF> plain = pixels(late);
        commands[i](*late.grid);
        ASSERT_TRUE(late.settleView());
        const std::vector<COLORREF> turned = pixels(late);
        EXPECT_NE(plain, turned);
        EXPECT_EQ(pixels(early), turned);
    }
}
