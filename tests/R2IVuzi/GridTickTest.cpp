// A decode tick that finds an end of request waiting stops after its first increment (the
// end's own step decodes the same region at once); without one it paints them all. Both
// leave the pixel buffer as the end's step does. The image is wide enough (1536 x 1024)
// for a complete decode to take two increments.
#include "R2IVuzi/J2KImage.h"
#include "image/ImageBase.h"
#include "platform/Win32.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

// Folder with 1_1_1_1_1.jp2, a 1536 x 1024 8-bit ramp with noise; empty when making it failed.
std::string wideImageDir()
{
    const std::string dir = (std::filesystem::current_path() / "grid-tick-corpus").string();
    std::filesystem::create_directories(dir);
    const std::string raw = dir + "/wide.raw";
    const std::string cmd = "'" + OrbelTest::python() +
                            "' -c \"import numpy as np, sys; r = np.random.default_rng(3); "
                            "y, x = np.mgrid[0:1024, 0:1536]; "
                            "np.clip((x // 7 + y // 5) % 256 + r.integers(-9, 10, (1024, 1536)), 0, 255)"
                            ".astype(np.uint8).tofile(sys.argv[1])\" '" + raw + "' && opj_compress -i '" + raw +
                            "' -F 1536,1024,1,8,u -o '" + dir + "/wide.j2k' -n 5 -PLT >/dev/null && mv '" + dir +
                            "/wide.j2k' '" + dir + "/1_1_1_1_1.jp2'";
    return std::system(cmd.c_str()) == 0 ? dir : std::string();
}

std::vector<uint8_t> pixels(gridtest::GridHarness& h)
{
    size_t bytes = 0;
    const uint8_t* p = h.grid->getImage()->getImageBase().GetPixelBuffer(bytes);
    return p ? std::vector<uint8_t>(p, p + bytes) : std::vector<uint8_t>();
}

TEST(GridTick, WaitingEndOfRequestCutsTheTickAfterOneIncrement)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    // The grid tests' corpus also loads the module's start-up steps.
    ASSERT_FALSE(gridtest::corpusDir().empty());
    const std::string dir = wideImageDir();
    ASSERT_FALSE(dir.empty());
    gridtest::GridHarness h(1536, 1024, {}, true, dir);
    ASSERT_TRUE(h.show(1));
    const std::vector<uint8_t> shown = pixels(h);
    ASSERT_EQ(shown.size(), size_t(1536) * 1024);
    const std::string target = h.grid->getTarget();
    SendMessageW(h.grid->m_hWnd, WM_J2K_START_RENDER_TIMER, reinterpret_cast<WPARAM>(&target), 0);
    const UINT_PTR timer = h.grid->getDecodeTimer();
    ASSERT_NE(timer, 0u);

    // Nothing waiting: the tick paints every increment.
    h.grid->OnTimer(timer);
    ASSERT_FALSE(h.grid->stepIncrements.empty());
    const int whole = h.grid->stepIncrements.back().first;
    EXPECT_GE(whole, 2);
    EXPECT_EQ(pixels(h), shown);

    // A loader thread's end of request waits on this thread while the tick runs.
    const int region[5] = {-1, 0, 0, 0, 0};
    std::thread loader([&] { h.grid->dataArrived(target, region); });
    ASSERT_TRUE(platform::WaitForSentMessage(10000));
    const int steps = h.grid->steps;
    h.grid->OnTimer(timer);
    EXPECT_EQ(h.grid->steps, steps + 1);
    EXPECT_EQ(h.grid->stepIncrements.back().first, 1);
    // The end's step then decodes it all.
    ASSERT_TRUE(h.until([&] { return h.grid->steps == steps + 2; }));
    loader.join();
    EXPECT_EQ(h.grid->stepIncrements.back().first, whole);
    EXPECT_EQ(h.grid->getDecodeTimer(), 0u);
    EXPECT_EQ(pixels(h), shown);
}

} // namespace
