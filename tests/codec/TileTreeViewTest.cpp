// The tile tree under views and restrictions: apparent geometry for every transpose and
// flip, precinct ids and areas, discarded levels and regions, the error texts, and
// open/close/teardown cycles that must leave nothing behind.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace codec_test;

namespace {

struct opened {
    explicit opened(std::vector<uint8_t> bytes) : src(std::move(bytes)) { cs.create(&src); }
    ~opened() { cs.destroy(); }
    memory_source src;
    rvd_codestream cs;
};

// COD: one layer, no MCT unless asked, 64x64 blocks, the given transform and precinct
// exponent bytes (PPx in the low nibble), lowest resolution first.
std::vector<uint8_t> cod_with(int levels, int transform, const std::vector<uint8_t>& pp,
                              int mct = 0)
{
    std::vector<uint8_t> b = {uint8_t(pp.empty() ? 0 : 1), 0, 0, 1, uint8_t(mct),
                              uint8_t(levels), 4, 4, 0, uint8_t(transform)};
    b.insert(b.end(), pp.begin(), pp.end());
    return segment(0xFF52, b);
}

siz_geometry geometry(uint32_t w, uint32_t h, uint32_t tw, uint32_t th, int comps)
{
    siz_geometry g;
    g.xsiz = w;
    g.ysiz = h;
    g.xtsiz = tw;
    g.ytsiz = th;
    g.comps.assign(size_t(comps), siz_geometry::comp());
    return g;
}

bool contains(const rvd_dims& outer, const rvd_dims& inner)
{
    if (inner.is_empty())
        return true;
    return inner.pos.y >= outer.pos.y && inner.pos.x >= outer.pos.x &&
           inner.pos.y + inner.size.y <= outer.pos.y + outer.size.y &&
           inner.pos.x + inner.size.x <= outer.pos.x + outer.size.x;
}

using key = std::tuple<int, int, int, int>; // tile, component, resolution, band (-1: level)

// Everything the handles of every tile report, keyed in real geometry.
std::map<key, std::vector<rvd_dims>> walk(rvd_codestream& cs, bool t, bool v, bool h)
{
    std::map<key, std::vector<rvd_dims>> out;
    cs.change_appearance(t, v, h);
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++) {
            rvd_tile tile = cs.open_tile(rvd_coords(tiles.pos.y + y, tiles.pos.x + x));
            for (int c = 0; c < tile.get_num_components(); c++) {
                rvd_tile_comp tc = tile.access_component(c);
                for (int r = 0; r < tc.get_num_resolutions(); r++) {
                    rvd_resolution res = tc.access_resolution(r);
                    rvd_dims d, p;
                    res.get_dims(d);
                    res.get_valid_precincts(p);
                    d.from_apparent(t, v, h);
                    p.from_apparent(t, v, h);
                    out[key(tile.get_tnum(), c, r, -1)] = {d, p};
                    int min_b = 0;
                    const int nb = res.get_valid_band_indices(min_b);
                    for (int b = min_b; b < min_b + nb; b++) {
                        rvd_subband band = res.access_subband(b);
                        // Under transposition apparent HL is real LH.
                        const int real_b = (t && b > 0 && b < 3) ? 3 - b : b;
                        rvd_dims bd, bb;
                        band.get_dims(bd);
                        band.get_valid_blocks(bb);
                        // A flipped high-pass band is reported one sample back.
                        const bool high_y = r > 0 && (real_b >> 1) != 0;
                        const bool high_x = r > 0 && (real_b & 1) != 0;
                        if (v && (t ? high_x : high_y))
                            bd.pos.y++;
                        if (h && (t ? high_y : high_x))
                            bd.pos.x++;
                        bd.from_apparent(t, v, h);
                        bb.from_apparent(t, v, h);
                        rvd_coords nominal, first;
                        band.get_block_size(nominal, first);
                        if (t)
                            nominal.transpose();
                        out[key(tile.get_tnum(), c, r, real_b)] = {bd, bb,
                                                                   rvd_dims(nominal, nominal)};
                    }
                    // Node children swap their bits under transposition.
                    if (r > 0) {
                        rvd_node node = res.access_node();
                        rvd_subband hl = node.access_child(1).access_subband();
                        EXPECT_EQ(hl.get_band_idx(), t ? 2 : 1);
                    }
                }
            }
            tile.close();
        }
    return out;
}

} // namespace

TEST(TileTreeViews, EveryTransposeAndFlipMapsBackToTheRealGeometry)
{
    siz_geometry g = geometry(127, 126, 37, 29, 2);
    g.comps[1].xr = 2;
    const std::vector<uint8_t> bytes =
        build_stream(g, {cod_with(3, 1, {0x33, 0x44, 0x45, 0x55}), qcd_segment(3)});
    // Each pass its own codestream: a non-persistent tile is opened once.
    std::map<key, std::vector<rvd_dims>> identity;
    {
        opened o(bytes);
        identity = walk(o.cs, false, false, false);
    }
    ASSERT_GT(identity.size(), 100u);
    for (int m = 1; m < 8; m++) {
        SCOPED_TRACE("view " + std::to_string(m));
        opened o(bytes);
        EXPECT_EQ(walk(o.cs, m & 1, (m & 2) != 0, (m & 4) != 0), identity);
    }
}

TEST(TileTreeViews, NodeDimsMoveBackUnderFlipsOnlyForHighPassBands)
{
    opened o(build_stream(geometry(64, 48, 64, 48, 1), {cod_segment(2), qcd_segment(2)}));
    o.cs.change_appearance(false, false, true);
    rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
    rvd_resolution res = t.access_component(0).access_resolution(2);
    rvd_dims d;
    res.get_dims(d); // real columns 0..63
    EXPECT_EQ(d, rvd_dims(rvd_coords(0, -63), rvd_coords(48, 64)));
    res.access_subband(1).get_dims(d); // HL: real columns 0..31, one back
    EXPECT_EQ(d, rvd_dims(rvd_coords(0, -32), rvd_coords(24, 32)));
    res.access_subband(2).get_dims(d); // LH: low-pass horizontally
    EXPECT_EQ(d, rvd_dims(rvd_coords(0, -31), rvd_coords(24, 32)));
    t.close();
}

TEST(TileTreeViews, PrecinctIdsSamplesAndRelevance)
{
    // 6 tiles of 64x64, 3 components, 16-sample precincts: 1, 2x2 and 4x4 per level.
    {
        opened o(build_stream(geometry(192, 128, 64, 64, 3),
                              {cod_with(2, 1, {0x44, 0x44, 0x44}), qcd_segment(2)}));
        rvd_tile t = o.cs.open_tile(rvd_coords(1, 1));
        ASSERT_EQ(t.get_tnum(), 4);
        rvd_resolution res = t.access_component(2).access_resolution(2);
        rvd_dims p;
        res.get_valid_precincts(p);
        EXPECT_EQ(p, rvd_dims(rvd_coords(4, 4), rvd_coords(4, 4)));
        // Precinct (1,1) of the tile's level: 1 + 4 precincts below, then 4 + 1.
        EXPECT_EQ(res.get_precinct_id(rvd_coords(5, 5)), ((10 * 3 + 2) * 6) + 4);
        EXPECT_EQ(t.access_component(0).access_resolution(0).get_precinct_id(rvd_coords(1, 1)),
                  4);
        t.close();
    }
    {
        opened o(build_stream(geometry(40, 40, 40, 40, 1), {cod_segment(1), qcd_segment(1)}));
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_resolution res = t.access_component(0).access_resolution(1);
        EXPECT_EQ(res.get_precinct_samples(rvd_coords(0, 0)), 1200);
        EXPECT_EQ(t.access_component(0).access_resolution(0).get_precinct_samples(
                      rvd_coords(0, 0)),
                  0); // resolution 0 does not split
        EXPECT_DOUBLE_EQ(res.get_precinct_relevance(rvd_coords(0, 0)), 1.0);
        EXPECT_DOUBLE_EQ(res.get_precinct_relevance(rvd_coords(3, 0)), 0.0);
        t.close();
    }
}

TEST(TileTreeViews, DiscardedLevelsAndRegionsRestrictTheValidRanges)
{
    const std::vector<uint8_t> bytes = build_stream(
        geometry(200, 150, 200, 150, 1), {cod_with(3, 1, {0x33, 0x33, 0x33, 0x33}), qcd_segment(3)});
    const std::string nonexistent = "Attempting to access a non-existent resolution level";
    {
        opened o(bytes);
        o.cs.apply_input_restrictions(0, 0, 1, 0, nullptr, RVD_WANT_CODESTREAM_COMPONENTS);
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        EXPECT_EQ(tc.get_num_resolutions(), 3);
        EXPECT_EQ(tc.access_resolution().get_res_level(), 2);
        EXPECT_NE(error_text([&] { tc.access_resolution(3); }).find(nonexistent),
                  std::string::npos);
        EXPECT_NE(error_text([&] { tc.access_resolution(-1); }).find(nonexistent),
                  std::string::npos);
        t.close();
    }
    // A larger region never gives smaller valid ranges; a region gives no more than all.
    std::vector<rvd_dims> small, large, full;
    const rvd_dims regions[3] = {rvd_dims(rvd_coords(40, 50), rvd_coords(20, 30)),
                                 rvd_dims(rvd_coords(30, 20), rvd_coords(60, 90)),
                                 rvd_dims(rvd_coords(0, 0), rvd_coords(150, 200))};
    std::vector<rvd_dims>* outs[3] = {&small, &large, &full};
    for (int i = 0; i < 3; i++) {
        opened o(bytes);
        o.cs.apply_input_restrictions(0, 0, 0, 0, &regions[i], RVD_WANT_CODESTREAM_COMPONENTS);
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        for (int r = 0; r < tc.get_num_resolutions(); r++) {
            rvd_resolution res = tc.access_resolution(r);
            rvd_dims d;
            res.get_valid_precincts(d);
            outs[i]->push_back(d);
            int min_b = 0;
            const int nb = res.get_valid_band_indices(min_b);
            for (int b = min_b; b < min_b + nb; b++) {
                res.access_subband(b).get_valid_blocks(d);
                outs[i]->push_back(d);
            }
        }
        t.close();
    }
    ASSERT_EQ(small.size(), full.size());
    for (size_t k = 0; k < full.size(); k++) {
        EXPECT_FALSE(small[k].is_empty()) << k;
        EXPECT_TRUE(contains(large[k], small[k])) << k;
        EXPECT_TRUE(contains(full[k], large[k])) << k;
    }
    EXPECT_NE(small, full);
}

TEST(TileTreeErrors, TheirTextsAndTheTilesAfterwards)
{
    const std::string quant = "Insufficient quantization parameters found in QCD/QCC marker "
                              "segments for the number of subbands in some tile-component.";
    {
        opened o(build_stream(geometry(64, 48, 64, 48, 1), {cod_segment(2), qcd_segment(2)}));
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        EXPECT_NE(error_text([&] { o.cs.open_tile(rvd_coords(0, 0)); })
                      .find("You must close a tile before you can re-open it."),
                  std::string::npos);
        t.close();
    }
    {
        // Fewer reversible ranges than bands: the main header is refused at creation.
        memory_source src(
            build_stream(geometry(64, 48, 64, 48, 1), {cod_segment(5), qcd_segment(2)}));
        rvd_codestream cs;
        EXPECT_NE(error_text([&] { cs.create(&src); }).find(quant), std::string::npos);
        cs.destroy();
    }
    {
        // An irreversible component with only reversible ranges: refused each time the
        // tile is touched, never half-built, and the codestream stays destroyable.
        opened o(build_stream(geometry(64, 48, 64, 48, 1), {cod_with(2, 0, {}), qcd_segment(2)}));
        for (int i = 0; i < 2; i++)
            EXPECT_NE(error_text([&] { o.cs.open_tile(rvd_coords(0, 0)); })
                          .find("Tile-components which are compressed using the irreversible "
                                "processing path must have quantization parameters specified "
                                "in the QCD/QCC marker segments"),
                      std::string::npos);
    }
    {
        siz_geometry g = geometry(64, 48, 64, 48, 3);
        g.comps[2].yr = 2;
        opened o(build_stream(g, {cod_with(2, 1, {}, 1), qcd_segment(2)}));
        EXPECT_NE(error_text([&] { o.cs.open_tile(rvd_coords(0, 0)); })
                      .find("Illegal colour transform specified when image has insufficient or "
                            "incompatible colour components."),
                  std::string::npos);
    }
    {
        // No levels: one resolution holding the LL band only.
        SCOPED_TRACE("no levels");
        opened o(build_stream(geometry(61, 47, 64, 48, 1), {cod_segment(0), qcd_segment(0)}));
        rvd_tile t = o.cs.open_tile(rvd_coords(0, 0));
        rvd_tile_comp tc = t.access_component(0);
        ASSERT_EQ(tc.get_num_resolutions(), 1);
        rvd_resolution res = tc.access_resolution(0);
        int min_b = -1;
        EXPECT_EQ(res.get_valid_band_indices(min_b), 1);
        EXPECT_EQ(min_b, 0);
        rvd_dims d, p;
        res.access_subband(0).get_dims(d);
        EXPECT_EQ(d, rvd_dims(rvd_coords(0, 0), rvd_coords(47, 61)));
        res.get_valid_precincts(p);
        EXPECT_EQ(p, rvd_dims(rvd_coords(0, 0), rvd_coords(1, 1)));
        EXPECT_EQ(res.access_subband(0).get_K_max(), 1 + 9 - 1);
        EXPECT_EQ(res.access_subband(0).get_delta(), 0.0f);
        t.close();
    }
}

TEST(TileTreeLifecycle, OpenCloseReopenAndTeardownWithTilesOpen)
{
    const std::vector<uint8_t> bytes =
        build_stream(geometry(128, 96, 64, 48, 2), {cod_segment(3), qcd_segment(3)});
    {
        opened o(bytes);
        o.cs.set_persistent();
        rvd_dims first;
        for (int i = 0; i < 4; i++) {
            rvd_tile t = o.cs.open_tile(rvd_coords(0, 1));
            rvd_dims d;
            t.access_component(1).access_resolution(3).access_subband(3).get_valid_blocks(d);
            if (i == 0)
                first = d;
            EXPECT_EQ(d, first);
            t.close();
            EXPECT_FALSE(t.exists());
        }
        // Left open at teardown.
        o.cs.open_tile(rvd_coords(1, 1));
        o.cs.open_tile(rvd_coords(0, 0));
    }
    {
        opened o(bytes);
        rvd_tile t = o.cs.open_tile(rvd_coords(1, 0));
        t.close();
        EXPECT_NE(error_text([&] { o.cs.open_tile(rvd_coords(1, 0)); }).find("discarded or closed"),
                  std::string::npos);
        o.cs.open_tile(rvd_coords(0, 0));
    }
}
