// Two grids of two frames whose annotation and image loaders both report failures, retried
// on the user-interface thread while it pumps; for the thread sanitizer.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

TEST(GridErrorConcurrency, TwoGridsRetryAnnotationAndImageFailuresAtOnce)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const std::string reply = gridtest::corpusDir() + "/concurrency-reply-" + std::to_string(getpid()) + ".xml";
    std::ofstream(reply) << "<Root><Image><ImageUID>@UID@</ImageUID><Tag>I</Tag></Image></Root>";
    const std::vector<std::string> faults[] = {
        {"status:code=500,on=annotation,times=2", "drop:on=region,after=400,times=1"},
        {"drop:on=annotation,after=140,times=1", "status:code=500,on=region,times=1", "no-cnew:on=cnew,times=1"},
    };
    std::unique_ptr<gridtest::GridHarness> cells[2];
    for (int i = 0; i < 2; ++i) {
        std::vector<std::string> args = {"--annotation-default", reply};
        for (const std::string& f : faults[i])
            args.insert(args.end(), {"--fault", f});
        cells[i].reset(new gridtest::GridHarness(240, 180, args, false));
        cells[i]->frame->getAnnotationLoader()->setServerAddress(cells[i]->server->annotationAddress());
        cells[i]->grid->handleOpenErrors = true;
    }
    for (int i = 0; i < 2; ++i)
        cells[i]->grid->showStackItem(cells[i]->item(i == 0 ? 2 : 5));
    auto done = [&](gridtest::GridHarness& h) {
        CJ2KImageLoader* loader = h.grid->getImageLoader();
        return h.grid->presentations == 1 && loader && loader->isReady();
    };
    ASSERT_TRUE(cells[0]->until([&] { return done(*cells[0]) && done(*cells[1]); }));
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        gridtest::GridHarness& h = *cells[i];
        EXPECT_EQ(h.grid->errorReports, int(faults[i].size()) + (i == 0 ? 1 : 0));
        EXPECT_TRUE(h.grid->getImage()->isOpened());
        EXPECT_FALSE(h.grid->isAnnotationFailed());
        EXPECT_TRUE(h.frame->getPssiXmlDao()->isAnnotated(h.item(i == 0 ? 2 : 5).node));
    }
    std::filesystem::remove(reply);
}
