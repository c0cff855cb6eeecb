// The JPIP client against the loopback server, over real channels: whole images fetched
// until the server ends the window, recovery on retry after injected faults, the wire
// text byte for byte, failures by fault switch, and loops that must end.
#include "R2IVuzi/J2KROIRequest.h"
#include "R2IVuzi/StartupValues.h"
#include "tests/R2IVuzi/LoaderHarness.h"

#include <curl/curl.h>

using namespace harness;
using OrbelTest::JpipTestServer;

namespace {

class JpipLive : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
        ASSERT_FALSE(fixtureDir().empty()) << "needs python3 and libopenjp2-tools";
    }
    void TearDown() override
    {
        g_packetSize = kDefaultPacketSize;
        g_jpipLowSpeedSeconds = kDefaultJpipLowSpeedSeconds;
    }
    static std::unique_ptr<JpipTestServer> serve(std::vector<std::string> faults = {})
    {
        std::vector<std::string> args;
        for (const std::string& f : faults) {
            args.push_back("--fault");
            args.push_back(f);
        }
        return std::unique_ptr<JpipTestServer>(new JpipTestServer(fixtureDir(), args));
    }
    // Adds a fault to a running server.
    static void addFault(const JpipTestServer& server, const std::string& spec)
    {
        CURL* c = curl_easy_init();
        const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/fault?spec=" + spec;
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
        ASSERT_EQ(curl_easy_perform(c), CURLE_OK);
        curl_easy_cleanup(c);
    }
};

using JpipChannel = JpipLive;
using JpipWire = JpipLive;
using JpipFailure = JpipLive;
using JpipLoops = JpipLive;

const int kComponents[3] = {1, 3, 1};
const char* const kCorpus[3] = {"grey", "rgb", "odd"};

} // namespace

// Each image at both packet sizes and levels 0 and 2 ends with window done; at level 0
// the cache holds the index's bins and a fresh channel told the full model gets no bin.
// Renders equal opj_decompress; at 512 bytes a render from the first timer notification
// (data still arriving) ends without failure.
TEST_F(JpipChannel, RealChannelsUntilComplete)
{
    auto server = serve();
    for (int i = 0; i < 3; ++i)
        for (int packet : {10240, 512})
            for (int level : {0, 2}) {
                SCOPED_TRACE(std::string(kCorpus[i]) + " packet " + std::to_string(packet) + " level " +
                             std::to_string(level));
                g_packetSize = packet;
                const size_t before = records(*server).size();
                Harness h(server->imageTarget(kCorpus[i]), level);
                bool earlyEnded = false;
                if (packet == 512)
                    h.grid->onFirstRenderTimer = [&](TestGrid&) { earlyEnded = h.render(level).ended; };
                h.commence();
                // The model update marks the loader ready after delivering the window.
                ASSERT_TRUE(h.until([&] { return h.grid->loaderReady > 0 || !h.grid->errors.empty(); }));
                ASSERT_TRUE(h.grid->errors.empty()) << h.grid->errors[0].message;
                ASSERT_EQ(h.grid->arrivals.size(), 1u);
                EXPECT_EQ(h.grid->arrivals[0][0], level);
                EXPECT_EQ(h.grid->loaderReady, 1);
                const std::vector<ServerRecord> recs = records(*server);
                ASSERT_GT(recs.size(), before + 1);
                EXPECT_EQ(recs.back().eor, level == 0 ? 1 : 2);
                if (packet == 512) {
                    EXPECT_TRUE(earlyEnded);
                }
                if (level == 0)
                    expectIndexedBins(*h.image->getCache(), kCorpus[i]);
                expectExact(h.render(level), kCorpus[i], level, kComponents[i]);
            }
    // A new channel whose model update carries the full cache's model text.
    Harness full(server->imageTarget("grey"));
    full.commence();
    ASSERT_TRUE(full.until([&] { return full.grid->delivered(); }));
    Harness again(server->imageTarget("grey"));
    std::string model;
    full.image->buildCacheModelUpdateString(model);
    const size_t before = records(*server).size();
    again.image = full.image;
    again.grid->setImage(full.image);
    again.commence();
    ASSERT_TRUE(again.until([&] { return again.grid->delivered(); }));
    ASSERT_EQ(again.grid->models.size(), 1u);
    EXPECT_EQ(again.grid->models[0], model);
    const std::vector<ServerRecord> recs = records(*server);
    ASSERT_EQ(recs.size(), before + 2);
    EXPECT_EQ(recs.back().kind, "region");
    EXPECT_TRUE(recs.back().bins.empty()) << recs.back().line;
}

// One image per run: each fault costs a retry's wait and a stall its cut-off, in real time.
class JpipRecoveryOf : public JpipLive, public ::testing::WithParamInterface<int> {};

// One failure of each kind is reported once; the retry's model update gets only bins that
// were incomplete at the failure, each from no earlier than what the cache then held;
// the image then completes and renders exactly.
TEST_P(JpipRecoveryOf, RecoveredOnRetryNothingLost)
{
    const char* faults[] = {"drop:on=region,after=400,times=1", "stall:on=region,times=1",
                            "status:code=404,on=region,times=1", "status:code=500,on=cnew,times=1",
                            "cut:on=region,times=1"};
    const int i = GetParam();
    for (const char* fault : faults) {
        SCOPED_TRACE(std::string(fault) + " " + kCorpus[i]);
        g_jpipLowSpeedSeconds = 2;
        auto server = serve({fault});
        Harness h(server->imageTarget(kCorpus[i]));
        h.grid->retryOnError = true;
        h.commence();
        ASSERT_TRUE(h.until([&] { return h.grid->delivered(); }));
        ASSERT_EQ(h.grid->errors.size(), 1u);
        EXPECT_EQ(h.grid->errors[0].kind, std::string(fault).find("cnew") != std::string::npos ? 2 : 0);
        // Region records after the last channel open belong to the retry.
        const std::vector<ServerRecord> recs = records(*server);
        size_t lastOpen = 0;
        for (size_t k = 0; k < recs.size(); ++k)
            if (recs[k].kind == "cnew")
                lastOpen = k;
        ASSERT_GE(std::count_if(recs.begin(), recs.end(), [](const ServerRecord& r) { return r.kind == "cnew"; }),
                  2);
        for (size_t k = lastOpen + 1; k < recs.size(); ++k)
            for (const auto& b : recs[k].bins) {
                const auto held = h.grid->atError.find({int(b[0]), b[2]});
                if (held == h.grid->atError.end())
                    continue;
                EXPECT_FALSE(held->second.second) << "resent complete bin " << b[0] << "/" << b[2];
                EXPECT_GE(b[3], held->second.first) << "resent held bytes of bin " << b[0] << "/" << b[2];
            }
        expectIndexedBins(*h.image->getCache(), kCorpus[i]);
        expectExact(h.render(0), kCorpus[i], 0, kComponents[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(GreyAndColour, JpipRecoveryOf, ::testing::Values(0, 1));

// The channel open and the model update as sent; the render timer starts once, at the
// first body of 4 bytes or more.
TEST_F(JpipWire, ByteForByte)
{
    auto server = serve({"body:hex=000300,on=region,times=1"});
    g_packetSize = 512;
    Harness h(server->imageTarget("grey"));
    size_t regionAtTimer = 0;
    h.grid->onFirstRenderTimer = [&](TestGrid&) { regionAtTimer = countKind(*server, "region"); };
    h.commence();
    ASSERT_TRUE(h.until([&] { return h.grid->delivered(); }));
    EXPECT_EQ(h.grid->renderTimers, 1);
    EXPECT_EQ(regionAtTimer, 2u);
    const std::vector<ServerRecord> recs = records(*server);
    ASSERT_GT(recs.size(), 3u);
    EXPECT_EQ(recs[0].target, "/jpip/grey_1.jp2?cnew=http&type=jpp-stream&len=2048");
    for (const char* header : {"\"User-Agent\": \"libcurl-agent/1.0\"", "\"Cache-Control\": \"no-cache\"",
                               "\"Connection\": \"keep-alive\""})
        EXPECT_NE(recs[0].line.find(header), std::string::npos) << header;
    ASSERT_EQ(h.grid->models.size(), 1u);
    const boost::regex first("/jpip/grey_1\\.jp2/(ch\\d+)\\?cid=(JPH[0-9A-F]+)&len=512&model=(.*)&type=jpp-stream"
                             "&roff=0,0&rsiz=512,384&fsiz=512,384,closest");
    boost::smatch m;
    ASSERT_TRUE(boost::regex_match(recs[1].target, m, first)) << recs[1].target;
    EXPECT_EQ(m[2], recs[1].cid);
    EXPECT_EQ(m[3], h.grid->models[0]);
    const std::string later = "/jpip/grey_1.jp2/" + m[1] + "?cid=" + m[2] +
                              "&len=512&type=jpp-stream&roff=0,0&rsiz=512,384&fsiz=512,384,closest";
    for (size_t k = 2; k < recs.size(); ++k)
        EXPECT_EQ(recs[k].target, later) << k;
    // A region request on the same channel sends exactly that text.
    const size_t before = recs.size();
    const int32_t window[5] = {0, 0, 0, 511, 383};
    h.post(new CJ2KROIRequest(h.grid, h.image, window));
    ASSERT_TRUE(h.until([&] { return h.grid->arrivals.size() == 2; }));
    const std::vector<ServerRecord> after = records(*server);
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back().target, later);
}

// Faults at the channel open report kind 2 and leave nothing in the loader; faults in
// the region exchanges report kind 0, a refused body too; every failure delivers
// level -1, and a failed model update does not mark the loader ready.
TEST_F(JpipFailure, ByFaultSwitch)
{
    struct Case {
        std::string fault;
        bool roi;   // fail a region request after the model update, not the model update
        int kind;   // -1: nothing reported
        int line;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"no-cnew:on=cnew", false, 2, 122, "The header 'jpip-cnew' was not sent by the server. "},
        {"no-cid:on=cnew", false, 2, 155, "The channel id was not sent by the server. "},
        {"not-chunked:on=cnew", false, 2, 165, "Only chunked responses are supported"},
        {"status:code=404,on=cnew", false, 2, 109, "Invalid status code:404 returned."},
        {"", false, 2, 96, curl_easy_strerror(CURLE_COULDNT_CONNECT)},
        {"status:code=404,on=region", false, 0, 156, "Invalid status code:404 returned."},
        {"status:code=404,on=region", true, 0, 357, "Invalid status code:404 returned."},
        {"drop:on=region,after=400", false, 0, 144, ""},
        {"drop:on=region,after=400", true, 0, 345, ""},
        // A refused body is a failed exchange, retried like a cut one.
        {"body:hex=05,on=region", false, 0, 144,
         "The JPIP server's reply is not a well-formed JPP-stream: Invalid Bin-ID."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault + (c.roi ? " (region request)" : ""));
        auto server = serve(c.roi || c.fault.empty() ? std::vector<std::string>() : std::vector<std::string>{c.fault});
        // A region request after a level-2 model update still has data to come.
        Harness h(server->imageTarget("grey"), c.roi ? 2 : 0);
        if (c.fault.empty())
            server->stop();
        h.commence();
        const bool open = c.fault.find("cnew") != std::string::npos || c.fault.empty();
        if (c.roi) {
            ASSERT_TRUE(h.until([&] { return h.grid->delivered(); }));
            addFault(*server, c.fault);
            const int32_t window[5] = {0, 0, 0, 511, 383};
            h.post(new CJ2KROIRequest(h.grid, h.image, window));
            ASSERT_TRUE(h.until([&] { return h.grid->arrivals.size() == 2 && !h.grid->errors.empty(); }));
        } else if (open) {
            ASSERT_TRUE(h.until([&] { return !h.grid->errors.empty(); }));
        } else {
            // The window goes out before the error.
            ASSERT_TRUE(h.until([&] { return !h.grid->arrivals.empty() && (c.kind < 0 || !h.grid->errors.empty()); }));
            EXPECT_EQ(h.grid->loaderReady, 0);
        }
        if (!open) {
            EXPECT_EQ(h.grid->arrivals.back()[0], -1);
        }
        if (c.kind < 0) {
            EXPECT_TRUE(h.grid->errors.empty());
        } else {
            ASSERT_EQ(h.grid->errors.size(), 1u);
            EXPECT_EQ(h.grid->errors[0].kind, c.kind);
            EXPECT_EQ(h.grid->errors[0].line, c.line);
            if (!c.text.empty())
                EXPECT_EQ(h.grid->errors[0].message, c.text);
            else
                EXPECT_FALSE(h.grid->errors[0].message.empty());
        }
        // The channel is closed (or was never kept).
        EXPECT_EQ(h.loader->getChannelId(), "");
        EXPECT_EQ(h.loader->getChannelPath(), "");
        EXPECT_FALSE(h.loader->getChannelHandle());
    }
}

// A server that never ends the window is given up after three exchanges in a row that
// bring nothing new; an abort posted while data flows ends the request within one more
// exchange, and the kill's join returns; a request on the closed channel fails at once.
TEST_F(JpipLoops, LoopsEnd)
{
    {
        auto server = serve({"no-eor:on=region"});
        Harness h(server->imageTarget("odd"));
        h.commence();
        ASSERT_TRUE(h.until([&] { return !h.grid->errors.empty(); }));
        EXPECT_EQ(h.grid->errors[0].kind, 0);
        EXPECT_EQ(h.grid->errors[0].message, "The JPIP server sent no new data.");
        EXPECT_EQ(h.grid->errors[0].line, 144);
        std::vector<ServerRecord> regions;
        for (const ServerRecord& r : records(*server))
            if (r.kind == "region")
                regions.push_back(r);
        ASSERT_GE(regions.size(), 4u);
        for (size_t k = regions.size() - 3; k < regions.size(); ++k)
            EXPECT_TRUE(regions[k].bins.empty()) << k;
        EXPECT_FALSE(regions[regions.size() - 4].bins.empty());
    }
    {
        auto server = serve();
        g_packetSize = 64;
        Harness h(server->imageTarget("grey"));
        size_t atAbort = 0;
        h.grid->onFirstRenderTimer = [&](TestGrid& g) {
            atAbort = countKind(*server, "region");
            h.post(new CJ2KAbortRequest(g.self(), 0, g.getTarget()));
        };
        h.commence();
        ASSERT_TRUE(h.until([&] { return !h.grid->arrivals.empty(); }));
        EXPECT_EQ(h.grid->arrivals[0][0], -1);
        EXPECT_TRUE(h.grid->errors.empty());
        EXPECT_LE(countKind(*server, "region"), atAbort + 1);
        // The abort closed the channel: a region request fails without reaching libcurl.
        const size_t sent = records(*server).size();
        const int32_t window[5] = {0, 0, 0, 511, 383};
        h.post(new CJ2KROIRequest(h.grid, h.image, window));
        ASSERT_TRUE(h.until([&] { return !h.grid->errors.empty(); }));
        EXPECT_EQ(h.grid->errors[0].message, curl_easy_strerror(CURLE_BAD_FUNCTION_ARGUMENT));
        EXPECT_EQ(h.grid->errors[0].line, 345);
        EXPECT_EQ(records(*server).size(), sent);
    }
}
