// A tile's components get their levels only when something reaches them: a request
// through the tile's handles or a packet the reader comes to. Until then their geometry,
// precinct counts and the header checks come from arithmetic, which must agree with the
// levels once built.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile.h"
#include "codec/core/rvd_block.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/opened_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

using namespace codec_test;

namespace {


// COD with 64x64 blocks, one layer, the 5/3 kernel and the given precinct bytes (PPx in
// the low nibble), lowest resolution first.
std::vector<uint8_t> cod_precincts(int levels, const std::vector<uint8_t>& pp)
{
    std::vector<uint8_t> b = {uint8_t(pp.empty() ? 0 : 1), 0, 0, 1, 0, uint8_t(levels), 4, 4, 0, 1};
    b.insert(b.end(), pp.begin(), pp.end());
    return segment(0xFF52, b);
}

struct lazy_case {
    const char* name;
    siz_geometry g;
    int levels;
    std::vector<uint8_t> precincts;
    rvd_coords tile;
    rvd_dims region; // empty: the whole image
};

siz_geometry geometry(uint32_t w, uint32_t h, uint32_t tw, uint32_t th, int comps,
                      uint32_t ox = 0, uint32_t oy = 0)
{
    siz_geometry g;
    g.xsiz = w;
    g.ysiz = h;
    g.xtsiz = tw;
    g.ytsiz = th;
    g.xosiz = g.xtosiz = ox;
    g.yosiz = g.ytosiz = oy;
    g.comps.assign(size_t(comps), siz_geometry::comp());
    return g;
}

std::vector<lazy_case> lazy_cases()
{
    siz_geometry sub = geometry(200, 150, 200, 150, 3);
    sub.comps[1].xr = 2;
    sub.comps[2].yr = 3;
    return {
        {"four components, five levels", geometry(128, 96, 128, 96, 4), 5, {}, {0, 0}, {}},
        {"sub-sampled, precincts per level", sub, 3, {0x33, 0x44, 0x55, 0x65}, {0, 0}, {}},
        {"an inner tile with an offset", geometry(300, 260, 100, 90, 2, 17, 5), 4,
         {0x44, 0x44, 0x55, 0x55, 0x66}, {1, 1}, {}},
        {"a region of interest", geometry(256, 256, 256, 256, 3), 4, {0x33, 0x33, 0x44, 0x44, 0x44},
         {0, 0}, rvd_dims(rvd_coords(70, 90), rvd_coords(40, 30))},
    };
}

int64_t tree_precincts(const rv_tile_comp& tc)
{
    int64_t n = 0;
    for (const rv_resolution& res : tc.resolutions)
        n += int64_t(res.precinct_indices.size.y) * res.precinct_indices.size.x;
    return n;
}

// A 64x48 three-component 8-bit stream of three levels in the given progression order,
// coded by opj_compress into the build tree's stream folder.
std::string three_component_stream(const std::string& order)
{
    const std::string dir = stream_dir("input");
    const std::string own = dir + "/lazy_" + order + "." + std::to_string(::getpid());
    const std::string raw = own + ".raw", j2k = dir + "/lazy_" + order + ".j2k";
    std::ofstream out(raw, std::ios::binary);
    for (int c = 0; c < 3; c++)
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++)
                out.put(char((x * (c + 1) + y * 3) & 0xFF));
    out.close();
    const std::string cmd = "opj_compress -F 64,48,3,8,u -mct 0 -n 4 -p " + order + " -i '" +
                            raw + "' -o '" + own + ".j2k' > /dev/null 2>&1";
    const bool made = std::system(cmd.c_str()) == 0;
    std::remove(raw.c_str());
    if (!made || std::rename((own + ".j2k").c_str(), j2k.c_str()) != 0)
        throw std::runtime_error("opj_compress failed: " + cmd);
    return j2k;
}

} // namespace

TEST(TileTreeLazy, LevelsAreBuiltWhenReachedAndAgreeWithTheirArithmetic)
{
    for (const lazy_case& c : lazy_cases()) {
        SCOPED_TRACE(c.name);
        opened o(build_stream(c.g, {cod_precincts(c.levels, c.precincts), qcd_segment(c.levels)}));
        if (!c.region.is_empty())
            o.cs.apply_input_restrictions(0, 0, 0, 0, &c.region);
        rvd_tile t = o.cs.open_tile(c.tile);
        rv_tile* rt = t.get_state();
        const int n = int(rt->comps.size());
        ASSERT_EQ(n, int(c.g.comps.size()));
        // Opening builds nothing, yet counts every precinct.
        int64_t counted = 0;
        std::vector<std::vector<rv_level_shape>> shapes(static_cast<size_t>(n), std::vector<rv_level_shape>());
        for (int k = 0; k < n; k++) {
            const rv_tile_comp& tc = rt->comps[size_t(k)];
            EXPECT_FALSE(tc.tree_built()) << "component " << k;
            counted += tc.count_precincts(tc.dwt_levels);
            for (int r = 0; r <= tc.dwt_levels; r++)
                shapes[size_t(k)].push_back(tc.level_shape(r));
        }
        EXPECT_EQ(rt->rd.total_precincts, counted);

        // A request for the last component builds it alone.
        t.access_component(n - 1);
        for (int k = 0; k < n; k++)
            EXPECT_EQ(rt->comps[size_t(k)].tree_built(), k == n - 1) << "component " << k;
        for (int k = 0; k < n; k++)
            t.access_component(k);

        int64_t built = 0;
        for (int k = 0; k < n; k++) {
            const rv_tile_comp& tc = rt->comps[size_t(k)];
            ASSERT_EQ(int(tc.resolutions.size()), c.levels + 1);
            built += tree_precincts(tc);
            for (int r = 0; r <= c.levels; r++) {
                SCOPED_TRACE("component " + std::to_string(k) + ", resolution " + std::to_string(r));
                const rv_resolution& res = tc.resolutions[size_t(r)];
                const rv_level_shape& s = shapes[size_t(k)][size_t(r)];
                EXPECT_EQ(res.dims, s.dims);
                EXPECT_EQ(res.hor_split, s.hor_split);
                EXPECT_EQ(res.vert_split, s.vert_split);
                EXPECT_EQ(res.hor_depth, s.hor_depth);
                EXPECT_EQ(res.vert_depth, s.vert_depth);
                EXPECT_EQ(res.precinct_partition, s.precinct_partition);
                EXPECT_EQ(res.precinct_indices, s.precinct_indices);
            }
        }
        EXPECT_EQ(built, counted);
        // Each component built after the reading started replaced its bound by its exact
        // share: the same total as counting the built levels afresh.
        const int64_t incremental = rt->rd.total_relevant_packets;
        rv_packet_reader::update_relevance(rt);
        EXPECT_EQ(incremental, rt->rd.total_relevant_packets);
        t.close();
    }
}

TEST(TileTreeLazy, OpeningRefusesWhatBuildingWouldRefuse)
{
    // 1x1 precincts above the lowest level leave a detail band blocks of no size: refused
    // when the tile opens, before any component is reached.
    opened o(build_stream(geometry(64, 48, 64, 48, 4),
                          {cod_precincts(2, {0x00, 0x00, 0x00}), qcd_segment(2)}));
    EXPECT_NE(error_text([&] { o.cs.open_tile(rvd_coords(0, 0)); })
                  .find("Precinct partition dimensions too small!"),
              std::string::npos);
}

TEST(TileTreeLazy, ReadingBuildsTheComponentsWhosePacketsItReaches)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    struct order {
        const char* name;
        bool others_reached; // reading component 0's top level passes the others' packets
    };
    // Three components, three levels, one precinct per level: component-major order, and
    // position-major order with its single position, hold component 0's packets first;
    // the others interleave the components at each resolution. Every order must give the
    // block the same coded passes.
    const std::vector<order> orders = {
        {"CPRL", false}, {"PCRL", false}, {"LRCP", true}, {"RLCP", true}, {"RPCL", true}};
    std::vector<uint8_t> first_bytes;
    int first_passes = -1;
    for (const order& ord : orders) {
        SCOPED_TRACE(ord.name);
        memory_source src(read_file(three_component_stream(ord.name)));
        rvd_codestream cs;
        cs.create(&src);
        rvd_tile t = cs.open_tile(rvd_coords(0, 0));
        rv_tile* rt = t.get_state();
        rvd_tile_comp tc = t.access_component(0);
        ASSERT_EQ(tc.get_num_resolutions(), 4);
        rvd_subband band = tc.access_resolution(3).access_subband(1);
        rvd_dims valid;
        band.get_valid_blocks(valid);
        rvd_block* b = band.open_block(valid.pos);
        EXPECT_GT(b->num_passes, 0);
        int length = 0;
        for (int k = 0; k < b->num_passes; k++)
            length += b->pass_lengths[k];
        const std::vector<uint8_t> bytes(b->byte_buffer, b->byte_buffer + length);
        if (first_passes < 0) {
            first_passes = b->num_passes;
            first_bytes = bytes;
        }
        EXPECT_EQ(b->num_passes, first_passes);
        EXPECT_EQ(bytes, first_bytes);
        band.close_block(b);
        ASSERT_EQ(rt->comps.size(), size_t(3));
        EXPECT_TRUE(rt->comps[0].tree_built());
        for (int k = 1; k < 3; k++)
            EXPECT_EQ(rt->comps[size_t(k)].tree_built(), ord.others_reached) << "component " << k;
        t.close();
        cs.destroy();
    }
}
