// Four-thread decodes under the sanitizers: small streams with tiles, colour with double
// buffering, work-ahead subband decoders and a persistent codestream on a data-bin cache
// that is decoded again after more data arrived, each equal to its unthreaded decode; a
// damaged stream fails or conceals exactly as unthreaded; thread environments and their
// buffer stores leave codestreams cleanly, whichever goes first.
#include "codec/coding/rvd_multi_synthesis.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_line_buf.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/grey_streams.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <memory>

namespace {

using namespace codec_test;

// Threads of this process. One thread is started and joined first: the thread sanitizer
// starts a background thread of its own at the process's first thread creation.
int process_threads()
{
    static const bool warmed = [] {
        boost::thread([] {}).join();
        return true;
    }();
    (void)warmed;
    auto d = std::filesystem::directory_iterator("/proc/self/task");
    return int(std::distance(begin(d), end(d)));
}

// The count once it reaches `expected`, or after 5 s: a joined thread's task can stay listed
// for a moment after the join returns.
int threads_settled_at(int expected)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int n = process_threads();
    while (n != expected && std::chrono::steady_clock::now() < end) {
        boost::this_thread::yield();
        n = process_threads();
    }
    return n;
}

TEST(ThreadedDecodeConcurrency, SmallStreamsOnFourThreadsDecodeAsUnthreaded)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("input");
    stream_dir("multi");
    struct row {
        std::string stream;
        bool double_buffer;
        int stripe;
    };
    const row rows[] = {
        {dir + "/plt_rpcl.j2k", false, 1},      // tiles and precincts
        {dir + "/mc_rgb8_ict.j2k", true, 4},    // colour transform, double buffered
        {dir + "/small_sop_eph.j2k", true, 1},
        // Every subband decoder of several block rows works one row ahead.
        {grey_stream("ahead_128x512", 128, 512, [](int x, int y) { return x * 5 + y * 3 + (x * y) % 13; },
                     "-b 32,32 -n 3 -I"),
         false, 1},
    };
    for (const row& r : rows) {
        decode_settings s;
        const std::vector<pgx_image> ref = decode_file(r.stream, s);
        s.threads = 4;
        s.double_buffer = r.double_buffer;
        s.stripe = r.stripe;
        const std::vector<pgx_image> got = decode_file(r.stream, s);
        ASSERT_EQ(got.size(), ref.size()) << r.stream;
        for (size_t k = 0; k < ref.size(); k++)
            EXPECT_TRUE(got[k].samples == ref[k].samples) << r.stream << " component " << k;
    }
}

// The open codestream's tiles through the network, with or without an environment.
std::vector<std::vector<int32_t>> decode_open(rvd_codestream& cs, rvd_thread_env* env)
{
    const int n = cs.get_num_components(true);
    std::vector<std::vector<int32_t>> out(static_cast<size_t>(n));
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++) {
            const rvd_coords idx(tiles.pos.y + ty, tiles.pos.x + tx);
            rvd_tile t = cs.open_tile(idx, env);
            rvd_thread_queue* q = env ? env->add_queue(nullptr, nullptr, "tile") : nullptr;
            {
                rvd_multi_synthesis net;
                net.create(cs, t, false, false, false, 2, env, q, true);
                for (int c = 0; c < n; c++) {
                    rvd_dims d;
                    cs.get_tile_dims(idx, c, d, true);
                    for (int y = 0; y < d.size.y; y++) {
                        rvd_line_buf* line = net.get_line(c, env);
                        for (int x = 0; x < d.size.x; x++)
                            out[size_t(c)].push_back(line->is_shorts() ? line->get_buf16()[x]
                                                                       : line->get_buf32()[x].ival);
                    }
                }
                net.destroy();
            }
            if (env)
                env->terminate(q, false);
            t.close(env);
        }
    return out;
}

TEST(ThreadedDecodeConcurrency, PersistentCachedCodestreamDecodedAgainAfterMoreData)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const stream_layout layout = parse_layout(read_file(stream_dir("input") + "/plt_rpcl.j2k"));
    split_options first;
    first.max_packets = 1;
    first.complete = false;
    fake_cache_source plain, threaded;
    split_into_databins(layout, plain, first);
    split_into_databins(layout, threaded, first);

    rvd_thread_env env;
    env.create();
    for (int i = 1; i < 4; i++)
        env.add_thread();
    rvd_codestream a, b;
    a.create(&plain);
    b.create(&threaded, &env);
    a.set_persistent();
    b.set_persistent();
    EXPECT_EQ(decode_open(b, &env), decode_open(a, nullptr));
    split_into_databins(layout, plain);
    split_into_databins(layout, threaded);
    const auto whole = decode_open(a, nullptr);
    EXPECT_EQ(decode_open(b, &env), whole);
    a.destroy();
    b.destroy();
    EXPECT_TRUE(no_warnings());
}

TEST(ThreadedDecodeConcurrency, DamagedSopStreamFailsOrConcealsAsUnthreaded)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("packet_matrix");
    std::ifstream list(dir + "/packets.list");
    std::string line, name;
    while (std::getline(list, line))
        if (line.find("-SOP") != std::string::npos) {
            name = line.substr(0, line.find('\t'));
            break;
        }
    ASSERT_FALSE(name.empty());
    std::vector<uint8_t> bytes = read_file(dir + "/" + name + ".j2k");
    // The sequence number of an SOP marker two thirds in: fussy reading stops there.
    size_t at = bytes.size() * 2 / 3;
    while (at + 6 < bytes.size() && !(bytes[at] == 0xFF && bytes[at + 1] == 0x91))
        at++;
    ASSERT_LT(at + 6, bytes.size());
    bytes[at + 5] ^= 0x01;
    const std::string damaged = stream_dir("input") + "/threads_damaged.j2k";
    std::ofstream(damaged, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    const int before = process_threads();
    for (decode_parse_mode mode : {decode_parse_mode::fussy, decode_parse_mode::resilient}) {
        decode_settings s;
        s.mode = mode;
        std::string ref_error, got_error;
        std::vector<pgx_image> ref, got;
        try {
            ref = decode_file(damaged, s);
        } catch (const std::exception& e) {
            ref_error = e.what();
        }
        s.threads = 4;
        try {
            got = decode_file(damaged, s);
        } catch (const std::exception& e) {
            got_error = e.what();
        }
        EXPECT_EQ(got_error, ref_error);
        if (mode == decode_parse_mode::fussy) {
            EXPECT_FALSE(ref_error.empty()) << "the flipped byte went unnoticed";
        }
        ASSERT_EQ(got.size(), ref.size());
        for (size_t k = 0; k < ref.size(); k++)
            EXPECT_TRUE(got[k].samples == ref[k].samples) << "component " << k;
    }
    EXPECT_EQ(threads_settled_at(before), before);
}

// Opens and closes the first blocks of the highest resolution's first subband.
void open_and_close(rvd_tile t, rvd_thread_env* env, int count)
{
    rvd_resolution res = t.access_component(0).access_resolution();
    rvd_subband band = res.access_subband(1);
    rvd_dims blocks;
    band.get_valid_blocks(blocks);
    for (int i = 0; i < count && i < blocks.size.x; i++) {
        rvd_block* b = band.open_block(rvd_coords(blocks.pos.y, blocks.pos.x + i), nullptr, env);
        band.close_block(b, env);
    }
}

int64_t full_groups(rvd_codestream& cs) { return cs.get_state()->buf_server->get_full_groups(); }

TEST(ThreadedDecodeConcurrency, EnvironmentsLeaveCodestreamsCleanly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Lossless noise in 64 x 64 blocks: every block holds thousands of bytes.
    uint32_t seed = 12345;
    const std::vector<uint8_t> bytes = read_file(grey_stream(
        "noise_256", 256, 256, [&](int, int) { return int((seed = seed * 1103515245u + 12345u) >> 24); },
        "-b 64,64 -n 2"));
    // What closing three blocks leaves behind without an environment.
    memory_source s0(bytes);
    rvd_codestream ref;
    ref.create(&s0);
    open_and_close(ref.open_tile(rvd_coords(0, 0)), nullptr, 3);
    const int64_t settled = full_groups(ref);
    ref.destroy();

    for (bool discard : {true, false}) {
        rvd_thread_env env;
        env.create();
        env.add_thread();
        memory_source src(bytes);
        rvd_codestream cs;
        cs.create(&src, &env);
        rvd_tile t = cs.open_tile(rvd_coords(0, 0), &env);
        open_and_close(t, &env, 3);
        EXPECT_TRUE(env.need_sync());
        EXPECT_GT(full_groups(cs), settled);
        if (discard)
            env.do_sync(true);
        else
            env.get_state()->flush(true);
        EXPECT_FALSE(env.need_sync());
        EXPECT_EQ(full_groups(cs), settled);
        t.close(&env);
        cs.destroy();
    }

    // Destroyed from a thread outside the group while a store is attached: refused, and
    // the codestream stays whole for the owner to destroy.
    {
        rvd_thread_env env;
        env.create();
        memory_source src(bytes);
        rvd_codestream cs;
        cs.create(&src, &env);
        open_and_close(cs.open_tile(rvd_coords(0, 0), &env), &env, 1);
        std::string text;
        boost::thread outsider([&] { text = error_text([&] { cs.destroy(); }); });
        outsider.join();
        EXPECT_NE(text.find("You have invoked `rvd_codestream::destroy' from one thread, thread "
                            "queues remain"),
                  std::string::npos)
            << text;
        EXPECT_TRUE(cs.exists());
        cs.destroy();
    }

    // The environment destroyed before its codestream, and after it.
    for (bool env_first : {true, false}) {
        std::unique_ptr<rvd_thread_env> env(new rvd_thread_env);
        env->create();
        env->add_thread();
        env->add_thread();
        memory_source src(bytes);
        rvd_codestream cs;
        cs.create(&src, env.get());
        cs.set_persistent();
        decode_open(cs, env.get());
        open_and_close(cs.open_tile(rvd_coords(0, 0), env.get()), env.get(), 2);
        if (env_first)
            env.reset();
        cs.destroy();
        env.reset();
    }
    EXPECT_TRUE(no_warnings());
}

} // namespace
