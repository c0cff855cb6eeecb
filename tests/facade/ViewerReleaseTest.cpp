// A server that stalls in the middle of a reply (the channel open, a region, the annotation
// reply) must not hold the page: releasing the control, or replacing its document, cuts the
// transfer short and returns within two seconds, with every loader thread ended.
#include "tests/facade/ViewerHarness.h"

#include "tests/support/JpipTestServer.h"

#include <chrono>
#include <cstdlib>

using namespace viewertest;

namespace {

class ViewerRelease : public ViewerTest {
protected:
    // Seconds the call takes.
    template <typename Call>
    static double timed(Call call)
    {
        const auto start = std::chrono::steady_clock::now();
        call();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    void release()
    {
        disp.reset();
        DestroyWindow(parent);
        parent = nullptr;
        platform::PumpPending();
    }
};

} // namespace

TEST_F(ViewerRelease, StalledRequestsHoldNeitherReleaseNorANewDocument)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(corpus().empty());
    const int threads = threadsSettledAt();
    for (const char* on : {"cnew", "region", "annotation"})
        for (bool replace : {false, true}) {
            SCOPED_TRACE(std::string("stall on ") + on + (replace ? ", LoadData" : ", release"));
            restart();
            OrbelTest::JpipTestServer server(corpus(), {"--fault", std::string("stall:secs=60,on=") + on});
            ASSERT_EQ(init(config("")), S_OK);
            ASSERT_EQ(control->SetAnnotationServerAddress(bstr(server.annotationAddress()).get()), S_OK);
            std::string pssi = makePssi(images(2), server.imageTarget(""));
            // Images not yet annotated ask the annotation server first.
            if (std::string(on) == "annotation")
                for (size_t at; (at = pssi.find("annotated=\"True\"")) != std::string::npos;)
                    pssi.replace(at, 16, "annotated=\"False\"");
            ASSERT_EQ(loadData(pssi), S_OK);
            // The server logs a stalled reply once its first bytes are out.
            ASSERT_TRUE(platform::PumpUntil(
                [&] {
                    for (const std::string& line : server.logLines())
                        if (line.find("\"stall\"") != std::string::npos)
                            return true;
                    return false;
                },
                20000));
            double seconds = 0;
            if (replace) {
                seconds = timed([&] { EXPECT_EQ(loadData(pssi), S_OK); });
                EXPECT_LT(seconds, 2.0);
                seconds = timed([&] { release(); });
            } else {
                seconds = timed([&] { release(); });
            }
            RecordProperty(std::string("release_after_") + on + (replace ? "_loaddata" : ""), int(seconds * 1000));
            EXPECT_LT(seconds, 2.0);
            // Every loader thread has ended, without waiting for the server.
            EXPECT_EQ(threadsSettledAt(threads), threads);
            server.stop();
        }
}
