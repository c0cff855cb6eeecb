// The tile tree under views and restrictions: apparent geometry for every transpose and
// flip, precinct ids and areas, discarded levels and regions, the error texts, and
// open/close/teardown cycles that must leave nothing behind.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/opened_codestream.h"
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

using key = std::tuple<int, int, int, int>; // tile, component, resolution, band (-1: level)

} // namespace

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
