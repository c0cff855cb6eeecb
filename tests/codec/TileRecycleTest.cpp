// Tile records reused for later tiles: every handle answer and every decoded block equal
// those of records built fresh; a record keeps its tree when the new tile's parameters
// allow (only geometry, or also quantisation, changes) and is rebuilt otherwise.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/test_sources.h"
#include "tests/codec/support/tile_cache_split.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

void add(std::string& s, const rvd_dims& d)
{
    s += " " + std::to_string(d.pos.y) + "," + std::to_string(d.pos.x) + "+" +
         std::to_string(d.size.y) + "x" + std::to_string(d.size.x);
}

// Every handle answer of an open tile as text.
std::string dump_tile(rvd_tile t)
{
    std::string s = "tile " + std::to_string(t.get_tnum());
    // Transform stages and blocks with their offsets.
    for (int st = 0; st < 4; st++)
        for (int b = 0; b < 4; b++) {
            int si = 0, so = 0, bi = 0, bo = 0;
            float offsets[64] = {};
            if (!t.get_mct_block_info(st, b, si, so, bi, bo, nullptr, nullptr, offsets))
                break;
            s += " mct" + std::to_string(si) + ":" + std::to_string(so) + ":" +
                 std::to_string(bi) + ":" + std::to_string(bo);
            for (int o = 0; o < bo && o < 64; o++)
                s += "/" + std::to_string(offsets[o]);
        }
    rvd_dims d;
    for (int c = 0; c < t.get_num_components(); c++) {
        rvd_tile_comp tc = t.access_component(c);
        tc.get_dims(d);
        add(s, d);
        s += tc.get_reversible() ? " rev" : " irr";
        for (int r = 0; r < tc.get_num_resolutions(); r++) {
            rvd_resolution res = tc.access_resolution(r);
            res.get_dims(d);
            add(s, d);
            rvd_dims p;
            res.get_valid_precincts(p);
            add(s, p);
            for (int y = p.pos.y; y < p.pos.y + p.size.y; y++)
                for (int x = p.pos.x; x < p.pos.x + p.size.x; x++)
                    s += " p" + std::to_string(res.get_precinct_id(rvd_coords(y, x))) + "/" +
                         std::to_string(res.get_precinct_samples(rvd_coords(y, x))) + "/" +
                         std::to_string(res.get_precinct_relevance(rvd_coords(y, x)));
            // The level's kernel and lifting gains, both directions.
            rvd_node node = res.access_node();
            s += " k" + std::to_string(node.get_kernel_id());
            for (const bool vert : {false, true}) {
                int steps = 0, lmin = 0, lmax = 0, hmin = 0, hmax = 0;
                float ls = 0, hs = 0;
                bool sym = false, sym_ext = false;
                node.get_kernel_info(steps, ls, hs, sym, sym_ext, lmin, lmax, hmin, hmax, vert);
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
                add(s, d);
                band.get_valid_blocks(d);
                add(s, d);
                rvd_coords nominal, first;
                band.get_block_size(nominal, first);
                add(s, rvd_dims(nominal, first));
                float roi = 0;
                band.get_roi_weight(roi);
                s += " K" + std::to_string(band.get_K_max()) + "/" +
                     std::to_string(band.get_K_max_prime()) + " d" +
                     std::to_string(band.get_delta()) + " w" + std::to_string(roi);
            }
        }
    }
    return s;
}

// What a tile's record was: its address and that of its first component's resolutions,
// which stay only when the tree is kept.
struct record_use {
    const rv_tile* record = nullptr;
    const rv_resolution* resolutions = nullptr;
    size_t levels = 0;
};

record_use record_of(rvd_tile t)
{
    const rv_tile* r = t.get_state();
    return {r, r->comps.at(0).resolutions.data(), r->comps.at(0).resolutions.size()};
}

struct tile_run {
    std::vector<std::string> dumps;
    std::vector<record_use> uses;
};

// Opens the first `max_tiles` tiles one after another on a persistent codestream over the
// fake cache and hands each to `f`. With `unload_each` every closed tile is unloaded
// before the next opens, so that records are recycled; otherwise each tile gets a fresh
// record.
template <class F>
void each_tile(const fake_cache_source& bins, bool unload_each, int max_tiles, F&& f,
               const rvd_dims* region = nullptr)
{
    fake_cache_source src = bins;
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    // A view of part of the image with the highest level discarded.
    if (region != nullptr)
        cs.apply_input_restrictions(0, 0, 1, 0, region);
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int n = 0; n < tiles.size.y * tiles.size.x && n < max_tiles; n++) {
        if (unload_each)
            cs.set_tile_unloading_threshold(0);
        rvd_tile t = cs.open_tile(
            rvd_coords(tiles.pos.y + n / tiles.size.x, tiles.pos.x + n % tiles.size.x));
        f(t);
        t.close();
    }
    cs.destroy();
}

tile_run run_tiles(const fake_cache_source& bins, bool unload_each, int max_tiles = 1 << 30,
                   const rvd_dims* region = nullptr)
{
    tile_run out;
    each_tile(
        bins, unload_each, max_tiles,
        [&](rvd_tile t) {
            out.dumps.push_back(dump_tile(t));
            out.uses.push_back(record_of(t));
        },
        region);
    return out;
}

fake_cache_source header_bins(const std::vector<uint8_t>& bytes)
{
    fake_cache_source src;
    split_into_cache(bytes, src);
    // A server sends every tile's header bin, empty when the tile has no segments.
    for (int t = 0; t < 64; t++)
        src.tile_headers[t].complete = true;
    return src;
}

// 200x150 at offset (3,5) in 64x48 tiles; component 1 sub-sampled horizontally.
std::vector<uint8_t> built_tiles(int levels)
{
    siz_geometry g;
    g.xsiz = 205, g.ysiz = 153, g.xosiz = 5, g.yosiz = 3;
    g.xtsiz = 64, g.ytsiz = 48, g.xtosiz = 0, g.ytosiz = 0;
    g.comps.resize(2);
    g.comps[1].xr = 2;
    return build_stream(g, {cod_segment(levels), qcd_segment(levels)});
}

// A QCD without quantisation for `levels` levels: `guard` guard bits, `range` range bits.
std::vector<uint8_t> qcd_with(int levels, int guard, int range)
{
    std::vector<uint8_t> body = {uint8_t(guard << 5)};
    for (int i = 0; i < 3 * levels + 1; i++)
        body.push_back(uint8_t(range << 3));
    return segment(0xFF5C, body);
}

} // namespace

TEST(TileRecycle, TileHeaderParametersDecideWhatIsRebuilt)
{
    // Main header: 3 levels, one guard bit, 9 range bits. Tile 1 changes only QCD; tile 2
    // has its own COD with 1 level; tile 3 and on are typical again.
    fake_cache_source bins = header_bins(built_tiles(3));
    bins.tile_headers[1].bytes = qcd_with(3, 4, 9);
    bins.tile_headers[2].bytes = segment(0xFF52, {0, 0, 0, 1, 0, 1, 4, 4, 0, 1});
    bins.tile_headers[1].complete = bins.tile_headers[2].complete = true;
    const tile_run fresh = run_tiles(bins, false, 5);
    const tile_run reused = run_tiles(bins, true, 5);
    EXPECT_EQ(reused.dumps, fresh.dumps);
    for (const record_use& u : reused.uses)
        EXPECT_EQ(u.record, reused.uses[0].record);
    // Tile 1 keeps the tree; its K_max is 3 guard bits higher (4 + 9 - 1 against 1 + 9 - 1).
    EXPECT_EQ(reused.uses[1].resolutions, reused.uses[0].resolutions);
    EXPECT_NE(fresh.dumps[0].find(" K9/9 "), std::string::npos);
    EXPECT_EQ(fresh.dumps[1].find(" K9/9 "), std::string::npos);
    EXPECT_NE(fresh.dumps[1].find(" K12/12 "), std::string::npos);
    // Tile 2 is built from scratch with 2 resolutions, and so is tile 3 after it (a
    // record whose tree differs from the main header's parks without its tree).
    EXPECT_EQ(reused.uses[2].levels, 2u);
    EXPECT_EQ(reused.uses[3].levels, 4u);
    // Tile 4 follows a typical tile 3: its tree is kept again.
    EXPECT_EQ(reused.uses[4].resolutions, reused.uses[3].resolutions);

    // Too few step values for the kept tree's bands: the error leaves the codestream
    // whole, the tile is tried again, and later tiles still open.
    bins.tile_headers[5].bytes = qcd_with(1, 2, 9);
    fake_cache_source src = bins;
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    for (const int x : {0, 1, 1, 2}) {
        cs.set_tile_unloading_threshold(0);
        if (x != 1) {
            rvd_tile t = cs.open_tile(rvd_coords(1, x));
            EXPECT_EQ(t.access_component(0).get_num_resolutions(), 4);
            t.close();
            continue;
        }
        EXPECT_NE(error_text([&] { cs.open_tile(rvd_coords(1, 1)); })
                      .find("Insufficient quantization parameters found in QCD/QCC marker "
                            "segments for the number of subbands in some tile-component."),
                  std::string::npos);
    }
    cs.destroy();
}

namespace {

// Every block of the first `max_tiles` tiles, decoded, over precinct bins of the fake
// cache.
std::vector<std::vector<int32_t>> decode_tiles(const fake_cache_source& bins, bool unload_each,
                                               int max_tiles)
{
    init_block_coding_tables();
    rvd_block_decoder dec;
    std::vector<std::vector<int32_t>> out;
    each_tile(bins, unload_each, max_tiles, [&](rvd_tile t) {
        visit_tile_blocks(t, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
            dec.decode(blk);
            out.emplace_back(blk->sample_buffer, blk->sample_buffer + blk->size.y * blk->size.x);
        });
    });
    return out;
}

} // namespace

namespace {

// The first `max_tiles` tiles of a codestream read once from a sequential source, every
// block decoded. One at a time, each tile is destroyed when read and its record serves a
// later tile; with `all_open` every tile is opened before any is read, so that each has
// a fresh record.
std::vector<std::vector<int32_t>> decode_once(const std::vector<uint8_t>& bytes, int max_tiles,
                                              bool all_open, std::set<const rv_tile*>& records)
{
    init_block_coding_tables();
    sequential_source src(bytes);
    rvd_codestream cs;
    cs.create(&src);
    rvd_block_decoder dec;
    std::vector<std::vector<int32_t>> out;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    const int n = std::min(max_tiles, tiles.size.y * tiles.size.x);
    auto open = [&](int k) {
        return cs.open_tile(
            rvd_coords(tiles.pos.y + k / tiles.size.x, tiles.pos.x + k % tiles.size.x));
    };
    std::vector<rvd_tile> open_tiles;
    for (int k = 0; all_open && k < n; k++)
        open_tiles.push_back(open(k));
    for (int k = 0; k < n; k++) {
        rvd_tile t = all_open ? open_tiles[size_t(k)] : open(k);
        records.insert(t.get_state());
        visit_tile_blocks(t, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
            dec.decode(blk);
            out.emplace_back(blk->sample_buffer, blk->sample_buffer + blk->size.y * blk->size.x);
        });
        if (!all_open)
            t.close();
    }
    for (rvd_tile& t : open_tiles)
        t.close();
    cs.destroy();
    return out;
}

size_t non_zero_samples(const std::vector<std::vector<int32_t>>& blocks)
{
    size_t n = 0;
    for (const auto& b : blocks)
        for (int32_t v : b)
            n += v != 0;
    return n;
}

} // namespace

TEST(TileRecycle, BlocksDecodeAlikeFromRecycledAndFreshRecords)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = stream_dir("recycle");
    const struct {
        std::vector<uint8_t> bytes;
        int tiles;
        bool has_plt;
    } streams[] = {
        {read_file(dir + "/rc_rev.j2k"), 16, true},
        {read_file(dir + "/rc_irr.j2k"), 16, true},
        {read_file(conformance_dir() + "/p1_04.j2k"), 10, false},
    };
    for (const auto& s : streams) {
        // Read once from a sequential source: tiles end when read.
        std::set<const rv_tile*> fresh_records, reused_records;
        const auto fresh = decode_once(s.bytes, s.tiles, true, fresh_records);
        const auto reused = decode_once(s.bytes, s.tiles, false, reused_records);
        ASSERT_GT(fresh.size(), 50u);
        EXPECT_GT(non_zero_samples(fresh), fresh.size()); // real data was decoded
        EXPECT_TRUE(reused == fresh);
        EXPECT_EQ(fresh_records.size(), size_t(s.tiles));
        EXPECT_LE(reused_records.size(), 2u);
        if (!s.has_plt)
            continue;
        // Persistent over precinct bins: unloaded tiles are read again into recycled
        // records.
        fake_cache_source bins;
        split_into_databins(parse_layout(s.bytes), bins);
        EXPECT_TRUE(decode_tiles(bins, true, s.tiles) == fresh);
        EXPECT_TRUE(decode_tiles(bins, false, s.tiles) == fresh);
    }
}
