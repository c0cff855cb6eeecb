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
#include "support/GridPixels.h"
#include "tests/diagnostics/LogTestSupport.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

using gridtest::GridHarness;

namespace {

class ViewCommands : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        if (gridtest::corpusDir().empty())
            GTEST_SKIP() << "grid corpus not made";
        savedMode_ = g_selectMode;
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
