// The fit view of the 12-bit image, with the loader thread filling the cache while the
// user-interface thread decodes, at two packet sizes.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/StartupValues.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

TEST(GridConcurrency, FitViewAtTwoPacketSizes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const int saved = g_packetSize;
    for (int packet : {512, 10240}) {
        g_packetSize = packet;
        gridtest::GridHarness h;
        ASSERT_TRUE(h.show(2)) << packet;
        EXPECT_TRUE(h.grid->getImage()->isOpened());
        EXPECT_GT(h.grid->increments, 0) << packet;
    }
    g_packetSize = saved;
}
