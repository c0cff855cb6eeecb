// Failed JPIP requests end to end over the loopback server: each fault on a raw codestream
// and on a JP2 file is retried after the one-second wait and nothing is lost (the cache
// against the server's index, the pixels against opj_decompress); faults that persist end
// in a bounded give-up; each image gets retries of its own.
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/StartupValues.h"
#include "image/ImageBase.h"
#include "tests/R2IVuzi/LoaderHarness.h"
#include "tests/R2IVuzi/support/GridChecks.h"
#include "tests/R2IVuzi/support/GridHarness.h"
#include "tests/R2IVuzi/support/GridPixels.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

using gridtest::GridHarness;
using gridtest::ScopedLog;

namespace {

const char* const kConnection = "JPIP Server Connection Error";
const char* const kReply = "JPIP Server Reply Error";
const char* const kOpen = "Open JPIP file Error";

// recovery_fixture.py's folder, made from the grid corpus once per test program.
const std::string& recoveryDir()
{
    static const std::string dir = [] {
        if (gridtest::corpusDir().empty())
            return std::string();
        const std::string out = gridtest::corpusDir() + "/recovery";
        const std::string cmd =
            OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/R2IVuzi/recovery_fixture.py") + " '" +
            gridtest::corpusDir() + "' '" + out + "'";
        return std::system(cmd.c_str()) == 0 ? out : std::string();
    }();
    return dir;
}

std::string name(int n) { return "1_1_1_" + std::to_string(n); }

size_t opens(const GridHarness& h) { return harness::countKind(*h.server, "cnew"); }

// One image shown in a 520 x 400 cell (level 0, so every bin is asked for) under the
// given faults, by a grid that retries its failed opens, with a log and stalls cut at 2 s.
struct Streamed {
    explicit Streamed(const std::vector<std::string>& faults) : h(520, 400, serverArgs(faults), true, recoveryDir())
    {
        g_jpipLowSpeedSeconds = 2;
        h.grid->handleOpenErrors = true;
    }
    ~Streamed() { g_jpipLowSpeedSeconds = kDefaultJpipLowSpeedSeconds; }
    static std::vector<std::string> serverArgs(const std::vector<std::string>& faults)
    {
        std::vector<std::string> args;
        for (const std::string& f : faults)
            args.insert(args.end(), {"--fault", f});
        return args;
    }
    bool timersStopped() const { return !h.grid->getDecodeTimer() && !h.grid->getAnimationTimer(); }
    // Shows image n and pumps until its sixth failure is handled (the last the limit allows).
    bool giveUp(int n)
    {
        h.grid->showStackItem(h.item(n));
        return h.until([&] { return h.grid->errorReports >= 6 && timersStopped(); });
    }
    // Retry records for image n ("Retrying: <number>"; any number when empty).
    size_t retries(const std::string& text, int n, const std::string& number = "")
    {
        return ScopedLog::count(log.text(), "J2KGrid", 0,
                                text + " When handling " + h.item(n).objectFile + " Retrying: " + number);
    }
    // Everything arrived and decoded: the cache against the server's index, the level-0
    // pixels against opj_decompress.
    void expectComplete(int n)
    {
        CJ2KImage& image = *h.grid->getImage();
        gridtest::expectCacheHoldsIndex(*image.getCache(),
                                        gridtest::slurp(recoveryDir() + "/" + name(n) + ".index.json"));
        int32_t c[7];
        image.getImageBase().GetTransformRegion(c);
        EXPECT_EQ(c[6], 0);
        gridtest::expectSamples(image.getImageBase(), gridtest::corpusDir(), name(n), c);
    }

    // The cell shows the failure mark, and none of the overlay's or rulers' text lies under
    // it: the pixels the texts change (overlay on against off, both without the mark) all
    // fall outside the mark's box.
    void expectFailureMark()
    {
        h.paint();
        const RECT mark = h.grid->getFailureMarkRect();
        ASSERT_FALSE(IsRectEmpty(&mark));
        EXPECT_TRUE(gridtest::showsBitmap(h.frame->m_hWnd, 229, mark.left, mark.top, true));
        const std::string failure = h.grid->getImage() ? h.grid->getImage()->getFailure() : std::string();
        const bool annotationFailed = h.grid->isAnnotationFailed();
        if (h.grid->getImage())
            h.grid->getImage()->setFailure("");
        h.grid->setAnnotationFailed(false);
        const bool overlayWas = g_showOverlay;
        std::vector<COLORREF> shown[2];
        for (int overlay = 0; overlay < 2; ++overlay) {
            g_showOverlay = overlay == 1;
            h.paint();
            for (int y = mark.top; y < mark.bottom; ++y)
                for (int x = mark.left; x < mark.right; ++x)
                    shown[overlay].push_back(gridtest::pixelAt(h.frame->m_hWnd, x, y));
        }
        g_showOverlay = overlayWas;
        EXPECT_EQ(shown[0], shown[1]) << "text under the failure mark";
        if (h.grid->getImage())
            h.grid->getImage()->setFailure(failure);
        h.grid->setAnnotationFailed(annotationFailed);
    }

    ScopedLog log;
    GridHarness h;
};

} // namespace

// One image per run: the retries wait a second each in real time.
class GridJpipRecoveryOf : public ::testing::TestWithParam<int> {};

TEST_P(GridJpipRecoveryOf, EachFaultIsRetriedAfterASecondAndNothingIsLost)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(recoveryDir().empty());
    // Each retry record says why, in the words of what happened: only a failed transfer is
    // a connection error.
    const struct {
        const char* fault;
        const char* text;
        int retries;
        const char* why;
    } cases[] = {
        {"drop:on=region,after=400,times=1", kConnection, 1, "transfer failed: "},
        {"status:code=500,on=region,times=2", kReply, 2, "HTTP status 500)"},
        {"stall:on=region,times=1", kConnection, 1, "timed out: Timeout was reached)"},
        {"cut:on=region,times=1", kReply, 1, "reply cut inside a message)"},
        {"no-cnew:on=cnew,times=1", kOpen, 1, "The header 'jpip-cnew' was not sent by the server. )"},
        {"status:code=503,on=cnew,times=3", kOpen, 3, "HTTP status 503)"},
    };
    const int n = GetParam();
    for (const auto& c : cases) {
        SCOPED_TRACE(name(n) + " under " + c.fault);
        Streamed r({c.fault});
        ASSERT_TRUE(r.h.show(n));
        EXPECT_EQ(r.retries(c.text, n), size_t(c.retries));
        EXPECT_EQ(r.retries(c.text, n, std::to_string(c.retries)), 1u);
        EXPECT_EQ(r.retries(c.text, n, std::to_string(c.retries) + " (" + c.why), 1u);
        // The retry flag's wait, measured by the server: every failed request is
        // followed by a channel open at least a second later.
        const std::vector<harness::ServerRecord> seen = harness::records(*r.h.server);
        int faulted = 0;
        for (size_t i = 0; i < seen.size(); ++i) {
            if (!seen[i].faulted)
                continue;
            ++faulted;
            size_t next = i + 1;
            while (next < seen.size() && seen[next].kind != "cnew")
                ++next;
            ASSERT_LT(next, seen.size()) << "no channel open after failure " << faulted;
            EXPECT_GE(seen[next].time - seen[i].time, 1.0) << "failure " << faulted;
        }
        EXPECT_EQ(faulted, c.retries);
        r.expectComplete(n);
    }
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, GridJpipRecoveryOf, ::testing::Values(1, 5));

// Giving up is bounded and keeps what arrived; one test per way of failing, each waits
// out its retries in real time.
TEST(GridJpipRecovery, GivingUpOnAMissingFileKeepsTheImageMarked)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(recoveryDir().empty());
    // Image 2 is missing from the folder served.
    {
        SCOPED_TRACE("missing file");
        Streamed r({});
        // A test message posted after the first failure is handled while the retries run.
        bool posted = false;
        size_t opensAtTestMessage = 0;
        r.h.grid->showStackItem(r.h.item(2));
        ASSERT_TRUE(r.h.until([&] {
            if (!posted && r.h.grid->errorReports >= 1)
                posted = PostMessageW(r.h.grid->m_hWnd, WM_APP + 100, 0, 0);
            if (posted && r.h.grid->testMessageArrivals >= 0 && !opensAtTestMessage)
                opensAtTestMessage = opens(r.h);
            return r.h.grid->errorReports >= 6 && r.timersStopped();
        }));
        EXPECT_GE(opensAtTestMessage, 1u);
        EXPECT_LT(opensAtTestMessage, 6u);
        EXPECT_EQ(opens(r.h), 6u);
        // The failed image stays, marked, so the cell still says which image it was.
        EXPECT_EQ(r.h.grid->getTarget(), r.h.item(2).objectFile);
        ASSERT_NE(r.h.grid->getImage(), nullptr);
        EXPECT_TRUE(r.h.grid->getImage()->hasFailed());
        EXPECT_EQ(r.retries(kOpen, 2), 5u);
        r.expectFailureMark();
        // A seventh open would come a second after the last failure.
        EXPECT_FALSE(platform::PumpUntil([&] { return opens(r.h) > 6; }, 1500));
    }
}

TEST(GridJpipRecovery, GivingUpAfterTwoRegionRequestsKeepsWhatArrived)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(recoveryDir().empty());
    // Region requests fail for good after two: the image stays with what those brought.
    {
        SCOPED_TRACE("status 500 after two region requests");
        Streamed r({"status:code=500,on=region,skip=2"});
        ASSERT_TRUE(r.giveUp(1));
        EXPECT_EQ(r.retries(kReply, 1), 5u);
        EXPECT_EQ(r.retries(kConnection, 1), 0u);
        EXPECT_EQ(r.h.grid->getTarget(), r.h.item(1).objectFile);
        ASSERT_NE(r.h.grid->getImage(), nullptr);
        CImageBase& base = r.h.grid->getImage()->getImageBase();
        int32_t c[7];
        base.GetTransformRegion(c);
        // The decode of part of the data: near the full image, nowhere near an empty buffer.
        const gridtest::SampleDiff part =
            gridtest::compareSamples(base, gridtest::corpusDir() + "/" + name(1) + "_r0", c);
        EXPECT_GT(part.differing, 0u);
        EXPECT_LT(part.meanAbs, 16.0);
        EXPECT_GT(part.compared, 512u * 384 - 1);
        // Given up: the partial image carries the failure mark.
        r.expectFailureMark();
    }
}

TEST(GridJpipRecovery, GivingUpOnRepliesThatNeverEndKeepsTheImage)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(recoveryDir().empty());
    // Replies never end the request: every exchange after the data runs dry fails.
    {
        SCOPED_TRACE("permanent no-eor");
        Streamed r({"no-eor:on=region"});
        ASSERT_TRUE(r.giveUp(5));
        EXPECT_LE(opens(r.h), 6u);
        EXPECT_EQ(r.h.grid->getTarget(), r.h.item(5).objectFile);
        r.expectComplete(5);
    }
}

// An image that used up a counter leaves the next image its own retries: its failure of the
// same kind is retried, and it completes.
TEST(GridJpipRecovery, TheNextImageGetsItsOwnRetries)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ORBEL_REQUIRE_PYTHON_MODULE("numpy", "python3-numpy");
    ASSERT_FALSE(recoveryDir().empty());
    const struct {
        int first;
        std::vector<std::string> faults;
        int next;
        const char* text;     // the first image's retries
        const char* nextText; // the next one's
    } cases[] = {
        {2, {"status:code=503,on=cnew,skip=6,times=1"}, 1, kOpen, kOpen},
        {1, {"status:code=500,on=region,times=6", "drop:on=region,after=400,skip=6,times=1"}, 5, kReply, kConnection},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(name(c.first) + " then " + name(c.next));
        Streamed r(c.faults);
        ASSERT_TRUE(r.giveUp(c.first));
        EXPECT_EQ(r.retries(c.text, c.first), 5u);
        ASSERT_TRUE(r.h.show(c.next));
        EXPECT_EQ(r.retries(c.nextText, c.next), 1u);
        EXPECT_EQ(r.h.grid->errorReports, 7);
        r.expectComplete(c.next);
    }
}

// Region replies that are no JPP-stream at all (400 bytes of noise): each is refused and
// logged with the image, the request and the parser's reason, asked again as a cut reply
// would be, and once the retries are spent the cell is marked and the status document
// names the failure.
TEST(GridJpipRecovery, RefusedRepliesAreRetriedThenMarked)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ASSERT_FALSE(recoveryDir().empty());
    std::mt19937 rng(400);
    // Led by a header byte no message can start with, so every reply is refused whole.
    std::string hex = "05";
    for (int i = 1; i < 400; ++i) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", unsigned(rng() & 0xFF));
        hex += b;
    }
    Streamed r({"body:on=region,hex=" + hex});
    ASSERT_TRUE(r.giveUp(1));
    const std::string target = r.h.item(1).objectFile;
    // A garbled body is no connection failure: each retry names the parser's reason.
    EXPECT_EQ(r.retries(kReply, 1), 5u);
    EXPECT_EQ(r.retries(kConnection, 1), 0u);
    for (int n = 1; n <= 5; ++n)
        EXPECT_EQ(r.retries(kReply, 1, std::to_string(n) + " (body refused: Invalid Bin-ID.)"), 1u) << n;
    EXPECT_EQ(r.h.serverLines("\"kind\": \"region\"").size(), 6u);
    const std::string refused = "Refused JPIP reply for " + target + " to UpdateServerModelRequest " + target +
                                "_1.jp2/";
    const std::string text = r.log.text();
    EXPECT_EQ(ScopedLog::count(text, "J2KRequest", 0, refused), 6u);
    EXPECT_NE(text.find("&type=jpp-stream&roff=0,0&rsiz=512,384&fsiz=512,384,closest: Invalid Bin-ID."),
              std::string::npos);
    ASSERT_NE(r.h.grid->getImage(), nullptr);
    const std::string failure = "The JPIP server's reply is not a well-formed JPP-stream: Invalid Bin-ID.";
    EXPECT_EQ(r.h.grid->getImage()->getFailure(), failure);
    // An attribute after the ones existing readers know, its text escaped as XML.
    const std::string status = r.h.frame->getPssiXmlDao()->getImageStatus();
    EXPECT_NE(status.find("\" Failed=\"The JPIP server&apos;s reply is not a well-formed JPP-stream: Invalid Bin-ID.\" />"),
              std::string::npos)
        << status;
    r.expectFailureMark();
    // No image data came: the image's place stays black, not a picture decoded from nothing.
    {
        const bool overlayWas = g_showOverlay, rulerWas = g_showRuler;
        g_showOverlay = g_showRuler = false;
        r.h.paint();
        int32_t rect[4];
        r.h.grid->getImage()->getImageBase().GetImageRectInView(rect);
        const RECT mark = r.h.grid->getFailureMarkRect();
        size_t lit = 0, seen = 0;
        // Inside the cell's selection border.
        for (int y = rect[1] + 4; y < rect[3] - 4; y += 3)
            for (int x = rect[0] + 4; x < rect[2] - 4; x += 3) {
                if (PtInRect(&mark, POINT{x, y}))
                    continue;
                ++seen;
                lit += gridtest::pixelAt(r.h.frame->m_hWnd, x, y) != RGB(0, 0, 0);
            }
        g_showOverlay = overlayWas;
        g_showRuler = rulerWas;
        EXPECT_GT(seen, 1000u);
        EXPECT_EQ(lit, 0u);
    }
    // Showing the image again is a new attempt: the mark and the status entry go.
    r.h.grid->openTargetImage(false);
    EXPECT_FALSE(r.h.grid->getImage()->hasFailed());
    EXPECT_EQ(r.h.frame->getPssiXmlDao()->getImageStatus().find("Failed="), std::string::npos);
}

// A channel-open reply that is a well-formed JPP-stream whose main header the codestream
// refuses: logged with the image and the request that brought it, retried as a failed
// open, and marked once the retries are spent.
TEST(GridJpipRecovery, DataTheCodestreamRefusesIsRetriedThenMarked)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ASSERT_FALSE(recoveryDir().empty());
    // Main header bin 0, complete, three bytes that are no SOC marker; then "image done".
    Streamed r({"body:on=cnew,hex=7006000003AABBCC000100"});
    r.h.grid->showStackItem(r.h.item(1));
    ASSERT_TRUE(r.h.until([&] {
        return r.h.grid->getImage() && r.h.grid->getImage()->hasFailed() && r.timersStopped();
    }));
    const std::string target = r.h.item(1).objectFile;
    EXPECT_EQ(r.retries(kOpen, 1), 5u);
    EXPECT_EQ(r.retries(kOpen, 1, "5 (body refused: the codestream refused its data: "), 1u);
    EXPECT_EQ(ScopedLog::count(r.log.text(), "J2KGrid", 0,
                               "Refused JPIP data for " + target + " from CJ2KCommenceRequest: "),
              6u);
    EXPECT_FALSE(r.h.grid->getImage()->isOpened());
    EXPECT_NE(r.h.frame->getPssiXmlDao()->getImageStatus().find(" Failed=\""), std::string::npos);
    r.expectFailureMark();
}
