// A file or memory codestream cut short ends its data where it stops, in every parsing
// mode: no error, tiles wholly before the cut decode as from the whole stream, and a
// persistent codestream gives the same image each time it is decoded.
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "platform/ModuleStartup.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

enum mode { FAST, FUSSY, RESILIENT };
const char* const mode_names[] = {"fast", "fussy", "resilient"};

void set_mode(rvd_codestream& cs, mode m)
{
    if (m == FUSSY)
        cs.set_fussy();
    else if (m == RESILIENT)
        cs.set_resilient(false);
}

// Tile t's rectangle of every component, on the whole stream's codestream.
std::vector<rvd_dims> tile_rects(rvd_codestream& cs, int t)
{
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    const rvd_coords idx(tiles.pos.y + t / tiles.size.x, tiles.pos.x + t % tiles.size.x);
    std::vector<rvd_dims> out(size_t(cs.get_num_components(true)));
    for (size_t c = 0; c < out.size(); ++c) {
        rvd_dims whole, d;
        cs.get_dims(int(c), whole, true);
        cs.get_tile_dims(idx, int(c), d, true);
        out[c] = rvd_dims(rvd_coords(d.pos.y - whole.pos.y, d.pos.x - whole.pos.x), d.size);
    }
    return out;
}

bool same_in(const multi_test::plane& a, const multi_test::plane& b, const rvd_dims& r)
{
    for (int y = r.pos.y; y < r.pos.y + r.size.y; ++y)
        for (int x = r.pos.x; x < r.pos.x + r.size.x; ++x)
            if (a.samples[size_t(y) * size_t(a.width) + size_t(x)] !=
                b.samples[size_t(y) * size_t(b.width) + size_t(x)])
                return false;
    return true;
}

} // namespace

TEST(TruncatedStreams, CutsAnywhereEndTheDataQuietlyInEveryMode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string path = stream_dir("views") + "/pv_rpcl.j2k";
    const std::vector<uint8_t> bytes = read_file(path);
    const stream_facts facts = load_facts(stream_dir("views") + "/pv_rpcl.facts");
    ASSERT_EQ(facts.sots.size(), 4u);
    std::vector<multi_test::plane> whole;
    std::vector<std::vector<rvd_dims>> rects;
    {
        memory_source src(bytes);
        multi_test::codestream_guard g;
        g.cs.create(&src);
        whole = multi_test::decode_through_network(g.cs, multi_test::network_options());
        for (int t = 0; t < 4; ++t)
            rects.push_back(tile_rects(g.cs, t));
    }
    ASSERT_EQ(whole.size(), 3u);

    // Inside the main header once its coding parameters are whole (before that, the
    // tiles' missing parameters are the error), every tile-part header, and packet bodies.
    ASSERT_GE(facts.markers.size(), 5u);
    ASSERT_EQ(facts.markers[4].code, 0xFF55); // TLM, after COD and QCD
    std::vector<size_t> cuts;
    for (size_t p = size_t(facts.markers[4].offset); p < size_t(facts.sots[0].offset); p += 7)
        cuts.push_back(p);
    for (size_t t = 0; t < 4; ++t)
        for (size_t p = size_t(facts.sots[t].offset); p < size_t(facts.sods[t]) + 3; p += 5)
            cuts.push_back(p);
    std::mt19937 rng(77);
    for (int k = 0; k < 24; ++k)
        cuts.push_back(size_t(facts.sods[0]) + rng() % (bytes.size() - size_t(facts.sods[0])));

    int checked_tiles = 0;
    for (size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
        for (int kind = 0; kind < 3; ++kind) {
            const mode m = mode(kind);
            SCOPED_TRACE(mode_names[m]);
            // Sequential sources copy bodies into chains; memory sources read them in place
            // (fast mode) and, persistent, unload closed tiles and read them again.
            for (int src_kind = 0; src_kind < 2; ++src_kind) {
                std::unique_ptr<rvd_compressed_source> src(
                    src_kind == 0 ? static_cast<rvd_compressed_source*>(new sequential_source(part))
                                  : static_cast<rvd_compressed_source*>(new memory_source(part)));
                multi_test::codestream_guard g;
                std::vector<multi_test::plane> got, again;
                ASSERT_NO_THROW({
                    g.cs.create(src.get());
                    set_mode(g.cs, m);
                    if (src_kind == 1)
                        g.cs.set_persistent();
                    got = multi_test::decode_through_network(g.cs, multi_test::network_options());
                    if (src_kind == 1)
                        again = multi_test::decode_through_network(g.cs, multi_test::network_options());
                }) << (src_kind == 0 ? "sequential" : "memory, persistent");
                ASSERT_EQ(got.size(), whole.size());
                for (int t = 0; t < 4; ++t) {
                    const int64_t end = facts.sots[size_t(t)].offset + facts.sots[size_t(t)].psot;
                    if (end > int64_t(cut))
                        continue;
                    for (size_t c = 0; c < whole.size(); ++c)
                        EXPECT_TRUE(same_in(got[c], whole[c], rects[size_t(t)][c]))
                            << "tile " << t << " component " << c;
                    checked_tiles++;
                }
                if (src_kind == 1) {
                    ASSERT_EQ(again.size(), got.size());
                    for (size_t c = 0; c < whole.size(); ++c)
                        EXPECT_TRUE(again[c].samples == got[c].samples) << "component " << c;
                }
            }
        }
    }
    EXPECT_GT(checked_tiles, 100);
    EXPECT_TRUE(no_warnings());
}

// The region decompressor on a cut stream in fussy mode: the rendering ends within a few
// calls with the region complete, tiles before the cut as from the whole stream, and
// `finish` true, since the codestream reports no failure for data that simply ends.
TEST(TruncatedStreams, RegionRenderingOfACutStreamEndsWithoutFailure)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    static const bool tables = StartupRegistry::global().load();
    ASSERT_TRUE(tables);
    const std::vector<uint8_t> bytes = read_file(stream_dir("views") + "/pv_rpcl.j2k");
    const stream_facts facts = load_facts(stream_dir("views") + "/pv_rpcl.facts");
    ASSERT_EQ(facts.sots.size(), 4u);
    auto render = [](const std::vector<uint8_t>& data, bool& ended, bool& finished) {
        memory_source src(data);
        multi_test::codestream_guard g;
        g.cs.create(&src);
        g.cs.set_persistent();
        g.cs.set_fussy();
        rvd_dims full;
        g.cs.get_dims(0, full, true);
        rvd_region_decompressor d;
        std::vector<uint8_t> out(size_t(full.size.y) * size_t(full.size.x));
        ended = finished = false;
        if (!d.start(g.cs, nullptr, 1, 0, 0, full, rvd_coords(1, 1)))
            return out;
        const int offsets[1] = {0};
        rvd_dims incomplete = full, fresh;
        for (int calls = 0; calls < 100 && !ended; ++calls)
            ended = !d.process(out.data(), offsets, 1, full.pos, full.size.x, 1000000, int(out.size()),
                               incomplete, fresh, 0, true) &&
                    incomplete.is_empty();
        finished = d.finish();
        return out;
    };
    bool ended = false, finished = false;
    const std::vector<uint8_t> want = render(bytes, ended, finished);
    ASSERT_TRUE(ended && finished);
    // Tiles 0 and 1 (the top row, 48 and 48 of 96 columns, 40 rows) arrive whole.
    for (int64_t cut : {facts.sots[2].offset + 100, facts.sods[3] + 40, facts.eoc - 7}) {
        SCOPED_TRACE(cut);
        const std::vector<uint8_t> part(bytes.begin(), bytes.begin() + long(cut));
        const std::vector<uint8_t> got = render(part, ended, finished);
        EXPECT_TRUE(ended);
        EXPECT_TRUE(finished);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + 40 * 96, want.begin()));
    }
}
