// Resizing a showing grid, and closing it while a region request is still running.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

using gridtest::GridHarness;

TEST(GridLayout, ResizeRendersAndRequestsTheNewView)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    GridHarness h;
    ASSERT_TRUE(h.show(1));
    const size_t regions = h.serverLines("\"kind\": \"region\"").size();
    SetWindowPos(h.frame->m_hWnd, nullptr, 0, 0, 480, 360, SWP_NOZORDER);
    SetWindowPos(h.grid->m_hWnd, nullptr, 0, 0, 480, 360, SWP_NOZORDER);
    h.grid->layout();
    EXPECT_EQ(h.grid->getViewRect().right, 480);
    EXPECT_EQ(h.grid->getViewRect().bottom, 360);
    EXPECT_EQ(h.grid->getImage()->getImageBase().ViewWidth(), 481);
    // The larger cell needs the full-resolution level: a new window is asked for.
    EXPECT_NE(h.grid->getAnimationTimer(), 0u);
    ASSERT_TRUE(h.settleView());
    // The server writes its record once the reply is out.
    EXPECT_TRUE(h.until([&] { return h.serverLines("\"kind\": \"region\"").size() > regions; }));
    int32_t c[7];
    h.grid->getImage()->getImageBase().GetTransformRegion(c);
    EXPECT_EQ(c[6], 0);
    // For a look: the resized cell with its rulers.
    h.paint();
    EXPECT_TRUE(platform::SavePng(h.frame->m_hWnd, gridtest::corpusDir() + "/painted-resized.png"));
}

TEST(GridLayout, ClosingWhileARequestLoopsEndsTheLoader)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const int saved = g_packetSize;
    g_packetSize = 64;
    {
        GridHarness h;
        h.grid->showStackItem(h.item(4));
        ASSERT_TRUE(h.until([&] { return h.grid->getDecodeTimer() != 0; }));
        h.grid->DestroyWindow();
        EXPECT_EQ(h.grid->getDecodeTimer(), 0u);
        // The manager joins and deletes the loader; its stop waits for that.
        h.frame->getImageLoaderMgr()->stop(30);
    }
    g_packetSize = saved;
}
