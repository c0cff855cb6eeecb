// The JPP-stream parser: listed edge cases, a round trip with an independent writer,
// cut bodies and hostile headers.
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/JpipParser.h"
#include "diagnostics/Logging.h"
#include "tests/R2IVuzi/JppStreamWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using JppTest::Writer;

namespace {

struct Call {
    int cls;
    int64_t cs, id;
    int offset;
    std::vector<uint8_t> data;
    bool final, newest, markAug;
    bool operator==(const Call& o) const
    {
        return std::tie(cls, cs, id, offset, data, final, newest, markAug) ==
               std::tie(o.cls, o.cs, o.id, o.offset, o.data, o.final, o.newest, o.markAug);
    }
};

class RecordingCache : public rvd_cache {
public:
    void add_to_databin(int cls, int64_t cs, int64_t id, const uint8_t* data, int offset, int n, bool final,
                        bool newest, bool markAug) override
    {
        calls.push_back({cls, cs, id, offset, std::vector<uint8_t>(data, data + n), final, newest, markAug});
    }
    std::vector<Call> calls;
};

std::vector<Call> expectedCalls(const Writer& w, size_t cut)
{
    std::vector<Call> out;
    for (auto& m : w.messages)
        if (m.endsAt <= cut)
            out.push_back({m.cls, m.codestream, m.id, m.offset, m.data, m.final, true, false});
    return out;
}

JpipResponseStatus expectedStatus(const Writer& w, size_t cut)
{
    JpipResponseStatus s;
    for (auto& e : w.eors) {
        if (e.endsAt > cut)
            continue;
        s.imageDone |= e.reason == 1;
        s.windowDone |= e.reason == 1 || e.reason == 2;
        s.byteLimitReached |= e.reason == 4;
        s.qualityLimitReached |= e.reason == 5;
        s.sessionLimitReached |= e.reason == 6;
    }
    return s;
}

void expectStatus(const JpipResponseStatus& a, const JpipResponseStatus& b)
{
    EXPECT_EQ(std::make_tuple(a.imageDone, a.windowDone, a.byteLimitReached, a.qualityLimitReached, a.sessionLimitReached),
              std::make_tuple(b.imageDone, b.windowDone, b.byteLimitReached, b.qualityLimitReached, b.sessionLimitReached));
}

// The exception's text, source and line, or "none".
std::string raised(rvd_cache* cache, const std::vector<uint8_t>& body, CJpipParser& p)
{
    try {
        p.parse(cache, body.data(), body.size());
    } catch (const CJ2KException& e) {
        return std::string(e.what()) + "|" + e.getSourceFile() + "|" + std::to_string(e.getLine());
    }
    return "none";
}

const std::string kIllegal = "Received a JPIP stream message containing an illegal header or one which contains a "
                             "ridiculously large parameter.|.\\R2IVuzi\\JpipParser|276";


} // namespace

TEST(JpipParser, ListedEdgeCases)
{
    CJpipParser p;
    RecordingCache c;
    auto parse = [&](std::vector<uint8_t> body) { return raised(&c, body, p); };
    EXPECT_EQ(parse({0x00, 0x01, 0x00}), "none");
    expectStatus(p.getStatus(), {true, true, false, false, false});
    EXPECT_EQ(parse({0x00, 0x02, 0x00}), "none");
    expectStatus(p.getStatus(), {false, true, false, false, false});
    EXPECT_EQ(parse({0x00, 0x03, 0x00}), "none");
    expectStatus(p.getStatus(), {});
    EXPECT_TRUE(c.calls.empty());
    EXPECT_EQ(parse({0x70, 0x06, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC}), "none");
    ASSERT_EQ(c.calls.size(), 1u);
    EXPECT_EQ(c.calls[0], (Call{3, 0, 0, 0, {0xAA, 0xBB, 0xCC}, true, true, false}));
    EXPECT_EQ(parse({0x71, 0x06, 0x00, 0x00, 0x03, 0xAA, 0xBB, 0xCC}), kIllegal);
    EXPECT_EQ(parse({0x05, 0x00}), "Invalid Bin-ID.|.\\R2IVuzi\\JpipParser|107");
    // Cut inside the second message's data: the first stays, no flag for what was cut.
    c.calls.clear();
    EXPECT_EQ(parse({0x00, 0x04, 0x00, 0x70, 0x06, 0x00, 0x00, 0x01, 0x11, 0x20, 0x00, 0x05, 0x01, 0x00, 0x01, 0x00}), "none");
    EXPECT_EQ(c.calls.size(), 1u);
    expectStatus(p.getStatus(), {false, false, true, false, false});
    EXPECT_EQ(parse({0x00, 0x02, 0x00, 0x00, 0x01, 0x00}), "none");
    expectStatus(p.getStatus(), {true, true, false, false, false});
    // Inherited class and codestream at the start of a body: precinct class of codestream 0.
    c.calls.clear();
    EXPECT_EQ(parse({0x23, 0x00, 0x01, 0x55}), "none");
    EXPECT_EQ(c.calls.at(0), (Call{0, 0, 3, 0, {0x55}, false, true, false}));
}

TEST(JpipParser, RoundTripsRandomBodiesAndCutsAtEveryByte)
{
    std::mt19937_64 rng(99);
    CJpipParser p;
    for (int round = 0; round < 30; ++round) {
        Writer w;
        w.random(rng, 25);
        // Forced forms and the largest ids.
        w.data(5, 7, (int64_t(1) << 62) + 5, 3, {1, 2}, true, 3);
        w.data(5, 7, int64_t(1) << 36, 0, {}, true, 1);
        w.eor(4, 3);
        w.data(9, 7, 0, 10, {9}, false, 2);
        RecordingCache c;
        ASSERT_EQ(raised(&c, w.body, p), "none");
        ASSERT_EQ(c.calls, expectedCalls(w, w.body.size())) << "round " << round;
        expectStatus(p.getStatus(), expectedStatus(w, w.body.size()));
        for (size_t cut = 0; cut < w.body.size(); ++cut) {
            RecordingCache cc;
            std::vector<uint8_t> part(w.body.begin(), w.body.begin() + long(cut));
            ASSERT_EQ(raised(&cc, part, p), "none") << "cut " << cut;
            ASSERT_EQ(cc.calls, expectedCalls(w, cut)) << "cut " << cut;
            expectStatus(p.getStatus(), expectedStatus(w, cut));
        }
    }
}

TEST(JpipParser, HostileHeadersRaiseTheIllegalHeaderException)
{
    CJpipParser p;
    rvd_cache c;
    std::vector<uint8_t> tenContinuations = {0xF0};
    tenContinuations.insert(tenContinuations.end(), 10, 0xFF);
    tenContinuations.push_back(0x01);
    EXPECT_EQ(raised(&c, tenContinuations, p), kIllegal);
    // Offset 2^31.
    EXPECT_EQ(raised(&c, {0x70, 0x00, 0x00, 0x88, 0x80, 0x80, 0x80, 0x00, 0x00}, p), kIllegal);
    // offset + length = 2^31.
    EXPECT_EQ(raised(&c, {0x70, 0x00, 0x00, 0x87, 0xFF, 0xFF, 0xFF, 0x7F, 0x01, 0x00}, p), kIllegal);
    // Bin id 2^63: first byte nibble 8, then 9 continuation groups.
    std::vector<uint8_t> id63 = {0xF8};
    id63.insert(id63.end(), 8, 0x80);
    id63.insert(id63.end(), {0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(raised(&c, id63, p), kIllegal);
    EXPECT_EQ(raised(&c, {0x61, 0x06, 0x00, 0x01, 0x7F}, p), kIllegal);
    // Class identifiers above 9 reach the cache, which ignores them.
    EXPECT_EQ(raised(&c, {0x60, 0x0A, 0x00, 0x01, 0x7F}, p), "none");
    EXPECT_EQ(c.get_next_codestream(-1), -1);
}

// A body refused anywhere leaves the cache as it was, however much good data came first:
// the decoder never sees part of a body the parser rejected. Cut bodies still keep theirs.
TEST(JpipParser, RefusedBodiesStoreNothing)
{
    std::mt19937_64 rng(71);
    const struct {
        const char* name;
        std::vector<uint8_t> tail;
        std::string error;
    } cases[] = {
        {"bin-id form 0", {0x05, 0x00}, "Invalid Bin-ID.|.\\R2IVuzi\\JpipParser|107"},
        {"main header bin 1", {0x71, 0x06, 0x00, 0x00, 0x01, 0xAA}, kIllegal},
        {"offset 2^31", {0x70, 0x00, 0x00, 0x88, 0x80, 0x80, 0x80, 0x00, 0x00}, kIllegal},
    };
    CJpipParser p;
    for (const auto& c : cases)
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(std::string(c.name) + " after random body " + std::to_string(round));
            Writer w;
            w.random(rng, 12);
            std::vector<uint8_t> body = w.body;
            ASSERT_FALSE(expectedCalls(w, body.size()).empty());
            body.insert(body.end(), c.tail.begin(), c.tail.end());
            RecordingCache cache;
            EXPECT_EQ(raised(&cache, body, p), c.error);
            EXPECT_TRUE(cache.calls.empty());
            // The same good part with a cut last message keeps its complete messages.
            std::vector<uint8_t> cut = w.body;
            cut.push_back(0x20);
            cut.push_back(0x85);
            RecordingCache kept;
            EXPECT_EQ(raised(&kept, cut, p), "none");
            EXPECT_EQ(kept.calls, expectedCalls(w, w.body.size()));
            EXPECT_TRUE(p.getStatus().bodyCut);
        }
}
