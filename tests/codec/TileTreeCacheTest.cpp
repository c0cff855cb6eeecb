// Tiles over a cached source: a tile whose header bin is missing is built from the main
// header, read again once the bin arrives, and a bad bin raises its error texts.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/tile_cache_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Main-header bin (SOC up to the first SOT) of a 64x48 single-tile stream, 2 levels.
void load_main_header(fake_cache_source& src)
{
    siz_geometry g;
    std::vector<uint8_t> bytes = build_stream(g, {cod_segment(2), qcd_segment(2)}, false);
    src.main_header.bytes = bytes;
    src.main_header.complete = true;
}

// A tile COD with 16x16 code-blocks instead of 64x64.
std::vector<uint8_t> small_block_cod()
{
    return segment(0xFF52, {0, 0, 0, 1, 0, 2, 2, 2, 0, 1});
}

rvd_coords nominal_block(rvd_tile t)
{
    rvd_coords nominal, first;
    t.access_component(0).access_resolution(2).access_subband(3).get_block_size(nominal, first);
    return nominal;
}

} // namespace

TEST(TileTreeCache, MissingTileHeaderIsReadOnceItArrives)
{
    fake_cache_source src;
    load_main_header(src);
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    ASSERT_TRUE(t.exists());
    EXPECT_EQ(nominal_block(t), rvd_coords(64, 64)); // main-header parameters
    EXPECT_TRUE(t.get_state()->needs_reinitialization);
    t.close();

    // Still missing: opened again with the same parameters.
    t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(nominal_block(t), rvd_coords(64, 64));
    t.close();

    src.tile_headers[0].bytes = small_block_cod();
    src.tile_headers[0].complete = true;
    t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(nominal_block(t), rvd_coords(16, 16));
    EXPECT_FALSE(t.get_state()->needs_reinitialization);
    t.close();
    cs.destroy();
}

TEST(TileTreeCache, BadTileHeaderBinsRaiseTheirTexts)
{
    struct c {
        std::vector<uint8_t> bin;
        const char* text;
    };
    std::vector<uint8_t> junk = small_block_cod();
    junk.push_back(0x12);
    junk.push_back(0x34);
    junk.push_back(0x56);
    junk.push_back(0x78);
    const c cases[] = {
        {junk, "Found non-marker code while parsing tile header marker segments.  Chances are "
               "that a marker segment length field is incorrect!"},
        {segment(0xFF61, {0, 1, 2, 3}),
         "You cannot use PPM or PPT marker segments (packed packet headers) with cached "
         "compressed data sources."},
    };
    for (const c& k : cases) {
        fake_cache_source src;
        load_main_header(src);
        src.tile_headers[0].bytes = k.bin;
        src.tile_headers[0].complete = true;
        rvd_codestream cs;
        cs.create(&src);
        for (int i = 0; i < 2; i++) // refused again when retried, and nothing leaks
            EXPECT_NE(error_text([&] { cs.open_tile(rvd_coords(0, 0)); }).find(k.text),
                      std::string::npos)
                << k.text;
        cs.destroy();
    }
}

namespace {

// Every handle answer of every tile, opened one after another.
std::vector<std::string> dump_tiles(rvd_codestream& cs, bool unload_each)
{
    std::vector<std::string> out;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++) {
            if (unload_each)
                cs.set_tile_unloading_threshold(0);
            rvd_tile t = cs.open_tile(rvd_coords(tiles.pos.y + y, tiles.pos.x + x));
            std::string s = "tile " + std::to_string(t.get_tnum());
            auto add = [&s](const rvd_dims& d) {
                s += " " + std::to_string(d.pos.y) + "," + std::to_string(d.pos.x) + "+" +
                     std::to_string(d.size.y) + "x" + std::to_string(d.size.x);
            };
            for (int c = 0; c < t.get_num_components(); c++) {
                rvd_tile_comp tc = t.access_component(c);
                rvd_dims d;
                tc.get_dims(d);
                add(d);
                s += tc.get_reversible() ? " rev" : " irr";
                for (int r = 0; r < tc.get_num_resolutions(); r++) {
                    rvd_resolution res = tc.access_resolution(r);
                    res.get_dims(d);
                    add(d);
                    res.get_valid_precincts(d);
                    add(d);
                    s += " p" + std::to_string(res.get_precinct_id(d.pos));
                    // The level's kernel and lifting gains, both directions.
                    rvd_node node = res.access_node();
                    s += " k" + std::to_string(node.get_kernel_id());
                    for (const bool vert : {false, true}) {
                        int steps = 0, lmin = 0, lmax = 0, hmin = 0, hmax = 0;
                        float ls = 0, hs = 0;
                        bool sym = false, sym_ext = false;
                        node.get_kernel_info(steps, ls, hs, sym, sym_ext, lmin, lmax, hmin, hmax,
                                             vert);
                        s += " " + std::to_string(steps) + "/" + std::to_string(ls) + "/" +
                             std::to_string(hs) + "/" + std::to_string(lmin) + ":" +
                             std::to_string(lmax) + ":" + std::to_string(hmin) + ":" +
                             std::to_string(hmax);
                        int n = 0;
                        const float* gains = node.get_bibo_gains(n, vert);
                        for (int i = 0; i < n; i++)
                            s += " g" + std::to_string(gains[i]);
                    }
                    int min_b = 0;
                    const int nb = res.get_valid_band_indices(min_b);
                    for (int b = min_b; b < min_b + nb; b++) {
                        rvd_subband band = res.access_subband(b);
                        band.get_dims(d);
                        add(d);
                        band.get_valid_blocks(d);
                        add(d);
                        rvd_coords nominal, first;
                        band.get_block_size(nominal, first);
                        add(rvd_dims(nominal, first));
                        s += " K" + std::to_string(band.get_K_max()) + "/" +
                             std::to_string(band.get_K_max_prime()) + " d" +
                             std::to_string(band.get_delta());
                    }
                }
            }
            t.close();
            out.push_back(s);
        }
    return out;
}

std::vector<std::string> dump_stream(const std::vector<uint8_t>& bytes, bool unload_each,
                                     int& recycled_seen)
{
    fake_cache_source src;
    split_into_cache(bytes, src);
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    std::vector<std::string> d = dump_tiles(cs, unload_each);
    recycled_seen = cs.get_state()->recycled_tiles != nullptr ? 1 : 0;
    cs.destroy();
    return d;
}

} // namespace

TEST(TileTreeCache, RecycledRecordsEqualFreshOnes)
{
    // 200x150 with offsets in 64x48 tiles: edge tiles differ in size.
    siz_geometry g;
    g.xsiz = 205, g.ysiz = 153, g.xosiz = 5, g.yosiz = 3;
    g.xtsiz = 64, g.ytsiz = 48, g.xtosiz = 0, g.ytosiz = 0;
    g.comps.resize(2);
    g.comps[1].xr = 2;
    const std::vector<std::vector<uint8_t>> streams = {
        build_stream(g, {cod_segment(3), qcd_segment(3)}),
        read_file(conformance_dir() + "/p1_04.j2k"), // tile-header QCDs change the steps
    };
    for (const auto& bytes : streams) {
        int recycled = 0, none = 0;
        const std::vector<std::string> fresh = dump_stream(bytes, false, none);
        const std::vector<std::string> reused = dump_stream(bytes, true, recycled);
        EXPECT_GT(fresh.size(), 4u);
        EXPECT_EQ(reused, fresh);
        EXPECT_EQ(recycled, 1); // records were parked for reuse
    }
}

TEST(TileTreeCache, TileCodRebuildsTheTreeFromScratch)
{
    fake_cache_source src;
    load_main_header(src);
    src.tile_headers[0].bytes = segment(0xFF52, {0, 0, 0, 1, 0, 1, 4, 4, 0, 1});
    src.tile_headers[0].complete = true;
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    EXPECT_EQ(t.access_component(0).get_num_resolutions(), 2);
    t.close();
    cs.destroy();
}
