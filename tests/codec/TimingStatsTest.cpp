// Timing statistics gathered while a codestream is decoded: the coder's share is positive
// and within the whole, each code-block's samples count once however often it is decoded
// for timing, and the repeats leave the samples as an untimed decode gives them.
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

using namespace codec_test;
using namespace multi_test;

namespace {

struct timed_decode {
    std::vector<plane> planes;
    double coder = 0, whole = 0;
    int64_t coder_samples = 0, whole_samples = 0;
};

// -1 iterations: statistics never asked for.
timed_decode decode_timed(const std::string& path, int discard, int iterations)
{
    memory_source src(read_file(path));
    codestream_guard g;
    g.cs.create(&src);
    g.cs.apply_input_restrictions(0, 0, discard, 0, nullptr);
    if (iterations >= 0)
        g.cs.collect_timing_stats(iterations);
    timed_decode t;
    t.planes = decode_through_network(g.cs, network_options());
    t.coder = g.cs.get_timing_stats(&t.coder_samples, true);
    t.whole = g.cs.get_timing_stats(&t.whole_samples, false);
    return t;
}

} // namespace

TEST(TimingStats, CoderTimeWithinWholeAndEveryBlockCountedOnce)
{
    struct timing_case {
        const char* stream;
        int discard, iterations;
    };
    const timing_case cases[] = {
        {"p0_01", 0, 1}, {"p0_03", 0, 3}, {"p0_10", 1, 2}, {"p1_02", 0, 4}, {"p0_14", 2, 1},
    };
    for (const timing_case& c : cases) {
        SCOPED_TRACE(std::string(c.stream) + " discarding " + std::to_string(c.discard) +
                     " levels, each block decoded " + std::to_string(c.iterations) + " times");
        const std::string path = conformance_dir() + "/" + c.stream + ".j2k";
        const timed_decode plain = decode_timed(path, c.discard, -1);
        const timed_decode t = decode_timed(path, c.discard, c.iterations);
        ASSERT_FALSE(plain.planes.empty());
        ASSERT_EQ(t.planes.size(), plain.planes.size());
        int64_t visible = 0;
        for (size_t k = 0; k < t.planes.size(); k++) {
            EXPECT_EQ(t.planes[k].samples, plain.planes[k].samples) << "component " << k;
            visible += int64_t(plain.planes[k].width) * plain.planes[k].height;
        }
        EXPECT_GT(t.coder, 0.0);
        EXPECT_LE(t.coder, t.whole);
        // Each decoded block counts its samples once, however often it is decoded: as many
        // as a single timed decode counts, and no more than the image holds (blocks without
        // coded passes are not decoded at all).
        const timed_decode once = decode_timed(path, c.discard, 1);
        EXPECT_EQ(t.coder_samples, once.coder_samples);
        EXPECT_GT(t.coder_samples, visible / 2);
        EXPECT_LE(t.coder_samples, visible);
        EXPECT_EQ(t.whole_samples, visible);
        // Without statistics nothing is timed.
        EXPECT_EQ(plain.coder, 0.0);
        EXPECT_EQ(plain.coder_samples, 0);
        EXPECT_EQ(plain.whole_samples, visible);
    }
}

TEST(TimingStats, NoIterationsOrNegativeMeansUntimedAndRestartClearsTheCoder)
{
    const std::string path = conformance_dir() + "/p0_01.j2k";
    for (int n : {0, -3}) {
        SCOPED_TRACE(n);
        const timed_decode t = decode_timed(path, 0, n);
        EXPECT_EQ(t.coder, 0.0);
        EXPECT_EQ(t.coder_samples, 0);
        EXPECT_GE(t.whole, 0.0);
    }
    memory_source src(read_file(path));
    codestream_guard g;
    g.cs.create(&src);
    g.cs.collect_timing_stats(2);
    ASSERT_FALSE(decode_through_network(g.cs, network_options()).empty());
    int64_t samples = 0;
    ASSERT_GT(g.cs.get_timing_stats(&samples, true), 0.0);
    ASSERT_GT(samples, 0);
    // Collecting again starts from nothing: the earlier blocks are not counted twice.
    g.cs.collect_timing_stats(2);
    EXPECT_EQ(g.cs.get_timing_stats(&samples, true), 0.0);
    EXPECT_EQ(samples, 0);
}
