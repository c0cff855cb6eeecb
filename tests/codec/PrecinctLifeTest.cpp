// The precinct life cycle: reference words, release, blocks to close,
// re-reading by address, unloading, and the errors of code-block access.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_precinct.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/packet_read.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace codec_test;
using namespace packet_test;

namespace {

// 128x128 grey, 64x64 tiles, 32x32 precincts, three layers, RPCL, PLT in every tile-part.
std::vector<uint8_t> plt_stream()
{
    return read_file(stream_dir("input") + "/plt_rpcl.j2k");
}

struct ref_census {
    int untouched = 0, in_memory = 0, parked = 0, addressed = 0, gone = 0;
};

ref_census census(rv_tile* t)
{
    ref_census c;
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t ref : res.precinct_refs) {
                if (ref == 0)
                    c.untouched++;
                else if (ref == RV_PRECINCT_RELEASED_FOR_GOOD)
                    c.gone++;
                else if (ref & 1)
                    c.addressed++;
                else if (rv_precinct::from_ref(ref)->inactive)
                    c.parked++;
                else
                    c.in_memory++;
            }
    return c;
}

int total_precincts(rv_tile* t)
{
    int n = 0;
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            n += int(res.precinct_refs.size());
    return n;
}

rvd_subband top_band(rvd_tile t)
{
    rvd_tile_comp tc = t.access_component(0);
    return tc.access_resolution(tc.get_num_resolutions() - 1).access_subband(1);
}

} // namespace

TEST(PrecinctLife, PacketLengthsAddressPrecinctsThatAreReadOnlyWhenOpened)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    memory_source src(plt_stream());
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rv_tile* rt = t.get_state();
    // Reaching the band builds the component's levels: count the precincts after it.
    rvd_subband band = top_band(t);
    const int n = total_precincts(rt);
    rvd_block* b = band.open_block(rvd_coords(0, 0));
    EXPECT_GT(b->num_passes, 0);
    // Every precinct before it in the tile-part (RPCL: all lower levels) was stepped
    // over by its length; only the one opened was read, and it stays in memory while its
    // block is open. The other three of the top level come after it.
    ref_census c = census(rt);
    EXPECT_EQ(c.in_memory, 1);
    EXPECT_EQ(c.untouched, 3);
    EXPECT_EQ(c.addressed, n - 4);
    EXPECT_EQ(c.gone + c.parked, 0);
    band.close_block(b);
    t.close();
    // Closed, fully read and re-readable: parked, not lost.
    rt = cs.get_state()->ref_of(rvd_coords(0, 0))->tile;
    ASSERT_NE(rt, rv_tile_expired());
    ASSERT_NE(rt, nullptr);
    c = census(rt);
    EXPECT_EQ(c.parked, 1);
    EXPECT_EQ(c.addressed, n - 4);
    cs.destroy();
    EXPECT_TRUE(no_warnings()); // every buffer and every record went back
}

TEST(PrecinctLife, SequentialPrecinctsAreReleasedForGoodAndCannotBeOpenedTwice)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    sequential_source src(plt_stream());
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_subband band = top_band(t);
    rvd_dims valid;
    band.get_valid_blocks(valid);
    rvd_block* b = band.open_block(valid.pos);
    const int passes = b->num_passes;
    EXPECT_GT(passes, 0);
    band.close_block(b);
    // With 32x32 precincts and 64x64 blocks each precinct of the top level holds one
    // block per band: closing the three bands' blocks gives the precinct up for good.
    rvd_resolution res = band.access_resolution();
    for (int k = 2; k <= 3; k++) {
        rvd_subband other = res.access_subband(k);
        other.close_block(other.open_block(valid.pos));
    }
    const std::string text = error_text([&] { band.open_block(valid.pos); });
    EXPECT_NE(text.find("open each code-block only once"), std::string::npos) << text;
    t.close();
    cs.destroy();
}

TEST(PrecinctLife, PrecinctsOutsideTheRegionLeaveAsSoonAsTheyAreRead)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    sequential_source src(plt_stream());
    rvd_codestream cs;
    cs.create(&src);
    const rvd_dims roi(rvd_coords(0, 0), rvd_coords(16, 16));
    cs.apply_input_restrictions(0, 0, 0, 0, &roi);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rv_tile* rt = t.get_state();
    // The last block of the top level's region: RPCL reads the level's precincts in
    // order before it, most of them outside the region.
    rvd_subband band = top_band(t);
    rvd_dims valid;
    band.get_valid_blocks(valid);
    EXPECT_EQ(valid.size, rvd_coords(1, 1));
    rvd_block* b = band.open_block(valid.pos);
    const ref_census c = census(rt);
    // Read but never wanted: gone at once. Wanted: in memory until its blocks close.
    EXPECT_GT(c.gone, 0);
    EXPECT_GT(c.in_memory, 0);
    int in_region_blocks_open = 0;
    for (rv_tile_comp& tc : rt->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t ref : res.precinct_refs)
                if (rv_precinct::ref_in_memory(ref)) {
                    const rv_precinct* p = rv_precinct::from_ref(ref);
                    EXPECT_TRUE(p->relevant);
                    EXPECT_GT(p->num_outstanding_blocks, 0);
                    in_region_blocks_open++;
                }
    EXPECT_EQ(in_region_blocks_open, c.in_memory);
    band.close_block(b);
    t.close();
    cs.destroy();
    EXPECT_TRUE(no_warnings());
}

TEST(PrecinctLife, PersistentReopeningAndUnloadingGiveTheSameBlocks)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        memory_source mem(plt_stream());
        sequential_source seq(plt_stream());
        rvd_codestream cs;
        cs.create(seekable ? static_cast<rvd_compressed_source*>(&mem)
                           : static_cast<rvd_compressed_source*>(&seq));
        cs.set_persistent();
        const std::vector<block_data> first = collect_blocks(cs);
        EXPECT_TRUE(collect_blocks(cs) == first);
        if (seekable) {
            // Unloading drops whole tiles; touched again they are read again.
            cs.set_tile_unloading_threshold(0);
            EXPECT_EQ(cs.get_state()->num_unloadable_tiles, 0);
            EXPECT_TRUE(collect_blocks(cs) == first);
        }
        cs.destroy();
        EXPECT_TRUE(no_warnings());
    }
}

TEST(PrecinctLife, DamagedCachedPrecinctBinsGiveErrorsOrBlocksNeverCrashes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const stream_layout layout = parse_layout(plt_stream());
    fake_cache_source clean;
    split_into_databins(layout, clean);
    ASSERT_FALSE(clean.precincts.empty());
    std::vector<int64_t> ids;
    for (const auto& kv : clean.precincts)
        if (!kv.second.bytes.empty())
            ids.push_back(kv.first);
    std::mt19937 rng(2026);
    int truncation_errors = 0;
    for (int k = 0; k < 120; k++) {
        fake_cache_source src = clean;
        std::vector<uint8_t>& bin = src.precincts[ids[rng() % ids.size()]].bytes;
        if (k % 3 == 0)
            bin.resize(rng() % bin.size());
        else
            for (int n = 0; n < 3; n++)
                bin[rng() % bin.size()] ^= uint8_t(1u << (rng() % 8));
        rvd_codestream cs;
        cs.create(&src);
        if (k % 2)
            cs.set_resilient();
        try {
            collect_blocks(cs);
        } catch (const codec_error&) {
            truncation_errors += k % 3 == 0;
        }
        cs.destroy();
    }
    // A bin cut short only ends its precinct's data; flipped bits may raise codec errors
    // (the only way out of the loop besides success).
    EXPECT_EQ(truncation_errors, 0);
}
