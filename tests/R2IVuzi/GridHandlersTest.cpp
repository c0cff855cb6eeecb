// The grid's handlers on the real road, one case per row of behaviour.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "codec/core/rvd_codestream.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using gridtest::GridHarness;
using gridtest::RecordingGrid;

TEST(GridHandlers, OpeningSharingAndReleasing)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    GridHarness h;
    // A start message for another target only stops the animation.
    h.grid->setImageElement(h.images[0]);
    h.grid->startAnimation();
    h.grid->OnStartProcess("elsewhere");
    EXPECT_EQ(h.grid->getAnimationTimer(), 0u);
    EXPECT_FALSE(h.grid->getImage());

    ASSERT_TRUE(h.show(1));
    boost::shared_ptr<CJ2KImage> image = h.grid->getImage();
    ASSERT_TRUE(image && image->isOpened());
    const rvd_codestream* codestream = image->getCodestream().get();
    CJ2KImageLoader* loader = h.grid->getImageLoader();

    // A second grid on the same target shares the image and its codestream.
    boost::shared_ptr<RecordingGrid> second(new RecordingGrid(h.subFrame, 0, 1));
    second->CreateGridWindow(h.frame->m_hWnd, RECT{0, 0, 120, 90});
    second->layout();
    second->showStackItem(h.item(1));
    ASSERT_TRUE(h.until([&] { return second->arrivals >= 1 && second->getAnimationTimer() == 0; }));
    EXPECT_EQ(second->getImage(), image);
    EXPECT_EQ(second->getImage()->getCodestream().get(), codestream);
    second->DestroyWindow();

    // An emptied target releases the image; the next image opens on the same loader.
    h.grid->showStackItem(h.item(0));
    EXPECT_FALSE(h.grid->getImage());
    ASSERT_TRUE(h.show(2));
    EXPECT_EQ(h.grid->getImageLoader(), loader);
    EXPECT_TRUE(h.grid->getImage()->isOpened());
}

TEST(GridHandlers, DecodeTimerAndEndOfRequest)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    GridHarness h;
    // Nothing opened: a step does nothing.
    h.grid->setImageElement(h.images[0]);
    h.grid->decodeStep();
    ASSERT_TRUE(h.show(1));
    const std::string target = h.grid->getTarget();
    const int steps = h.grid->steps;
    // The animation's ticks repaint only.
    h.grid->OnTimer(2);
    EXPECT_EQ(h.grid->steps, steps);
    // An end of request without a region still decodes.
    const int none[5] = {-1, 0, 0, 0, 0};
    h.grid->OnDataArrived(target, none);
    EXPECT_EQ(h.grid->steps, steps + 1);
    // One for another image decodes nothing and stops both timers.
    h.grid->startAnimation();
    h.grid->OnDataArrived("elsewhere", none);
    EXPECT_EQ(h.grid->steps, steps + 1);
    EXPECT_EQ(h.grid->getAnimationTimer(), 0u);
    EXPECT_EQ(h.grid->getDecodeTimer(), 0u);
}

TEST(GridHandlers, FailuresAndAnnotationRequests)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    {
        // No thread for a loader: nothing is shown.
        GridHarness h;
        CJ2KImageLoader::s_beforeThreadStart = [] { throw boost::thread_resource_error(); };
        h.grid->showStackItem(h.item(1));
        CJ2KImageLoader::s_beforeThreadStart = nullptr;
        EXPECT_FALSE(h.grid->getImageLoader());
        EXPECT_FALSE(h.grid->getImage());
        // A header naming channels the codestream lacks reaches the retry path.
        h.grid->presentations = 0;
        h.grid->showStackItem(h.item(8));
        ASSERT_TRUE(h.until([&] { return !h.grid->openStreamErrors.empty(); }));
        EXPECT_NE(h.grid->openStreamErrors[0].find("image components"), std::string::npos);
        // Annotated elements are presented at once, with no request.
        EXPECT_EQ(h.grid->presentations, 1);
    }
    // "False": the annotations are requested, and the reply presents.
    const std::string reply = std::filesystem::current_path().string() + "/handlers-reply-" +
                              std::to_string(getpid()) + ".xml";
    std::ofstream(reply) << "<Root><Image><ImageUID>@UID@</ImageUID></Image></Root>";
    GridHarness h(240, 180, {"--annotation-default", reply}, false);
    h.frame->getAnnotationLoader()->setServerAddress(h.server->annotationAddress());
    ASSERT_TRUE(h.show(1));
    ASSERT_TRUE(h.until([&] { return h.grid->presentations == 1; }));
    EXPECT_EQ(h.serverLines("\"kind\": \"annotation\"").size(), 1u);
    std::filesystem::remove(reply);
}
