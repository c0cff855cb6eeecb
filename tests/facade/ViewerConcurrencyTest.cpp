// The control with images streaming in over loopback JPIP while the page changes the
// layout under them and then starts over with Init: every loader thread ends within Init
// and libcurl's global calls balance. Built for the thread sanitizer pass too.
#include "tests/facade/ViewerHarness.h"

#include "R2IVuzi/JpipHttp.h"
#include "tests/support/JpipTestServer.h"

#include <cstdlib>

using namespace viewertest;

#if defined(__SANITIZE_THREAD__)
// The loaders parse the channel-open reply with Boost.Regex, whose matcher hands memory
// blocks between threads through a cache partly inside the uninstrumented library: the
// sanitizer misses that hand-over and reports the block's reuse (also in a program of
// two threads and one regular expression).
extern "C" const char* __tsan_default_suppressions() { return "race:boost::re_detail_\n"; }
#endif

namespace {

class ViewerConcurrency : public ViewerTest {};

} // namespace

TEST_F(ViewerConcurrency, LayoutChangesWhileImagesLoadThenInit)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(corpus().empty());
    OrbelTest::JpipTestServer server(corpus());
    const int threads = threadsSettledAt();
    const int curl = jpipGlobalInitCount();

    ASSERT_EQ(init(config("<hangmode>1</hangmode><maxlayout>4</maxlayout>")), S_OK);
    ASSERT_EQ(loadData(makePssi(images(6), server.imageTarget(""))), S_OK);
    std::vector<HWND> windows = {frame().m_hWnd};
    size_t requests = 0;
    // Each change lands once the server has seen more of the images' requests (or all
    // have been served).
    for (auto [rows, columns] : {std::pair{1, 1}, {3, 3}, {2, 2}}) {
        platform::PumpUntil([&] { return server.logLines().size() > requests; }, 3000);
        requests = server.logLines().size();
        ASSERT_EQ(control->SetLayout(rows, columns), S_OK);
        for (const auto& s : frame().getSubFrames())
            windows.push_back(s->m_hWnd);
    }
    EXPECT_GT(requests, 0u);
    EXPECT_EQ(frame().getSubFrames().size(), 4u);

    ASSERT_EQ(init(config("")), S_OK);
    for (HWND w : windows)
        EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(threadsSettledAt(threads + 2), threads + 2);
    EXPECT_EQ(jpipGlobalInitCount(), curl + 1);
    server.stop();
}
