// Timing statistics gathered while a codestream is decoded: the coder's share is positive
// and within the whole, each code-block's samples count once however often it is decoded
// for timing, and the repeats leave the samples as an untimed decode gives them.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_thread_env.h"
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

// The same on a pool of `threads` threads, every tile's network driven by it: each worker
// times its own blocks, so their sum may not pass the process's time.
timed_decode decode_timed_on_threads(const std::string& path, int iterations, int threads)
{
    ensure_decoding_tables();
    memory_source src(read_file(path));
    rvd_thread_env env;
    env.create();
    for (int k = 1; k < threads; k++)
        EXPECT_TRUE(env.add_thread());
    timed_decode t;
    {
        codestream_guard g;
        g.cs.create(&src, &env);
        g.cs.collect_timing_stats(iterations);
        const int n = g.cs.get_num_components(true);
        t.planes.resize(size_t(n));
        rvd_dims tiles;
        g.cs.get_valid_tiles(tiles);
        for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ++ty)
            for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; ++tx) {
                const rvd_coords idx(ty, tx);
                rvd_tile tile = g.cs.open_tile(idx, &env);
                rvd_thread_queue* queue = env.add_queue(nullptr, nullptr, "tile");
                rvd_multi_synthesis net;
                net.create(g.cs, tile, false, false, false, 4, &env, queue);
                std::vector<rvd_dims> td(static_cast<size_t>(n));
                int rows = 0;
                for (int c = 0; c < n; ++c) {
                    g.cs.get_tile_dims(idx, c, td[size_t(c)], true);
                    rows = std::max(rows, td[size_t(c)].size.y);
                }
                // Row by row across the components: a colour transform hands out its
                // outputs' rows together.
                for (int y = 0; y < rows; ++y)
                    for (int c = 0; c < n; ++c) {
                        if (y >= td[size_t(c)].size.y)
                            continue;
                        const rvd_line_buf* line = net.get_line(c, &env);
                        if (line == nullptr)
                            continue;
                        std::vector<int32_t> row(size_t(line->get_width()));
                        convert_line(*line, g.cs.get_bit_depth(c, true), g.cs.get_signed(c, true), row.data());
                        t.planes[size_t(c)].samples.insert(t.planes[size_t(c)].samples.end(), row.begin(), row.end());
                    }
                env.terminate(queue, false);
                net.destroy();
                tile.close(&env);
            }
        t.coder = g.cs.get_timing_stats(&t.coder_samples, true);
        t.whole = g.cs.get_timing_stats(&t.whole_samples, false);
    }
    env.destroy();
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

TEST(TimingStats, FourThreadsTimeNoMoreThanTheProcess)
{
    // One tile, so that rows of every component come in one run whatever the order.
    for (const char* stream : {"p0_04", "p1_02"}) {
        SCOPED_TRACE(stream);
        const std::string path = conformance_dir() + "/" + stream + ".j2k";
        const timed_decode alone = decode_timed(path, 0, 2);
        const timed_decode pooled = decode_timed_on_threads(path, 2, 4);
        EXPECT_GT(pooled.coder, 0.0);
        EXPECT_LE(pooled.coder, pooled.whole);
        EXPECT_EQ(pooled.coder_samples, alone.coder_samples);
        EXPECT_EQ(pooled.whole_samples, alone.whole_samples);
        ASSERT_EQ(pooled.planes.size(), alone.planes.size());
        for (size_t c = 0; c < alone.planes.size(); c++)
            EXPECT_EQ(pooled.planes[c].samples, alone.planes[c].samples) << "component " << c;
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
