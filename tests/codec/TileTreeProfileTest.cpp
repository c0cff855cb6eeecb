// Profile checks made while a tile's tree is built: code-block sizes and modes, the lowest
// resolution's size, precincts in small resolutions and the ROI up-shift. Each kind warns
// once per codestream because a violation raises the codestream's profile value.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Rsiz: 1 is profile 0, 2 profile 1, 0 the unrestricted profile 2. Profile 0 needs
// 128x128 tiles and profile 1 square ones, or creation itself warns.
siz_geometry geometry(int rsiz, uint32_t w, uint32_t h, uint32_t tw, uint32_t th)
{
    siz_geometry g;
    g.rsiz = rsiz;
    g.xsiz = w;
    g.ysiz = h;
    g.xtsiz = tw;
    g.ytsiz = th;
    return g;
}

// COD: one layer, 5/3; block exponents as signalled (size = 2^(e + 2)); precinct bytes
// (PPy << 4 | PPx), lowest resolution first, switch precincts on.
std::vector<uint8_t> cod(int levels, int xcb, int ycb, int modes,
                         const std::vector<uint8_t>& pp = {})
{
    std::vector<uint8_t> b = {uint8_t(pp.empty() ? 0 : 1), 0, 0, 1, 0, uint8_t(levels),
                              uint8_t(xcb), uint8_t(ycb), uint8_t(modes), 1};
    b.insert(b.end(), pp.begin(), pp.end());
    return segment(0xFF52, b);
}

std::vector<uint8_t> rgn(int shift) { return segment(0xFF5E, {0, 0, uint8_t(shift)}); }

struct run {
    int profile = -1;
    int warnings = 0;
};

// Creates the codestream, opens and closes every tile, and counts the warnings holding
// the fragment.
run open_all(const siz_geometry& g, const std::vector<std::vector<uint8_t>>& segs,
             const std::string& fragment)
{
    clear_captured_warnings();
    memory_source src(build_stream(g, segs));
    rvd_codestream cs;
    cs.create(&src);
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int y = 0; y < tiles.size.y; y++)
        for (int x = 0; x < tiles.size.x; x++) {
            rvd_tile t = cs.open_tile(rvd_coords(tiles.pos.y + y, tiles.pos.x + x));
            t.close();
        }
    run r;
    r.profile = cs.get_state()->profile;
    r.warnings = warning_count(fragment);
    cs.destroy();
    return r;
}

const std::string square = "Profile-0 code-streams must have nominally square code-block "
                           "dimensions, measuring 32x32 or 64x64.";
const std::string modes = "Profile-0 code-streams may not use the BYPASS, RESET or CAUSAL";
const std::string large = "Profile-1 code-streams may not have code-block dimensions larger "
                          "than 64.";
const std::string low_res = "Profile-0 and Profile-1 code-streams must have sufficient DWT "
                            "levels to permit extraction of a low resolution image which is "
                            "no larger than 128x128.   Try setting a larger value for "
                            "\"Clevels\" or else set \"Sprofile\" to 2.";
const std::string precincts = "Profile-0 code-streams may have multiple precincts only in "
                              "those tile-component resolutions whose dimensions are greater "
                              "than 128x128.";
const std::string rshift = "The \"Rshift\" attribute may not exceed 37, except in Profile-2 "
                           "(the unrestricted profile).";

} // namespace

TEST(TileTreeProfile, BlockCoderRulesWarnOnceAndRaiseTheProfile)
{
    // Two tiles: the second one no longer warns.
    run r = open_all(geometry(1, 256, 128, 128, 128), {cod(2, 3, 2, 0), qcd_segment(2)}, square);
    EXPECT_EQ(r.warnings, 1);
    EXPECT_EQ(r.profile, 2);
    // Square 32x32 and 64x64 blocks are fine in profile 0 ...
    for (int e : {3, 4}) {
        r = open_all(geometry(1, 256, 128, 128, 128), {cod(2, e, e, 0), qcd_segment(2)},
                     "Profile violation");
        EXPECT_EQ(r.warnings, 0) << e;
        EXPECT_EQ(r.profile, 0);
    }
    // ... but not with BYPASS, RESET or CAUSAL; the other mode bits are allowed.
    for (int m : {1, 2, 8}) {
        r = open_all(geometry(1, 256, 128, 128, 128), {cod(2, 4, 4, m), qcd_segment(2)}, modes);
        EXPECT_EQ(r.warnings, 1) << m;
        EXPECT_EQ(r.profile, 2);
    }
    r = open_all(geometry(1, 64, 48, 64, 48), {cod(2, 4, 4, 4 | 16 | 32), qcd_segment(2)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);
    // Profile 1 takes non-square blocks but none above 64; profile 2 takes anything.
    r = open_all(geometry(2, 128, 64, 64, 64), {cod(2, 3, 2, 0), qcd_segment(2)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);
    r = open_all(geometry(2, 128, 64, 64, 64), {cod(2, 5, 2, 0), qcd_segment(2)}, large);
    EXPECT_EQ(r.warnings, 1);
    EXPECT_EQ(r.profile, 2);
    r = open_all(geometry(0, 128, 64, 64, 64), {cod(2, 5, 2, 1), qcd_segment(2)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);
}

TEST(TileTreeProfile, ResolutionSizeAndPrecinctRules)
{
    // 300 columns with one level leave a 150-wide lowest resolution: too wide for profiles
    // 0 and 1, fine with two levels (75) or in profile 2.
    for (int rsiz : {1, 2}) {
        run r = open_all(geometry(rsiz, 300, 100, 300, 100), {cod(1, 4, 4, 0), qcd_segment(1)},
                         low_res);
        EXPECT_EQ(r.warnings, 1) << rsiz;
        EXPECT_EQ(r.profile, 2);
    }
    run r = open_all(geometry(1, 300, 100, 300, 100), {cod(2, 4, 4, 0), qcd_segment(2)},
                     "Profile violation");
    EXPECT_EQ(r.warnings, 0);
    r = open_all(geometry(0, 300, 100, 300, 100), {cod(1, 4, 4, 0), qcd_segment(1)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);

    // 64x64 precincts in a 100x100 image: several in a small resolution, refused only in
    // profile 0. The lowest resolution (25x25 in one 64x64 cell) stays quiet.
    const std::vector<uint8_t> pp = {0x66, 0x66, 0x66};
    r = open_all(geometry(1, 100, 100, 100, 100), {cod(2, 4, 4, 0, pp), qcd_segment(2)},
                 precincts);
    EXPECT_EQ(r.warnings, 1);
    EXPECT_EQ(r.profile, 2);
    r = open_all(geometry(2, 100, 100, 100, 100), {cod(2, 4, 4, 0, pp), qcd_segment(2)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);
    // One precinct per resolution: nothing to report.
    r = open_all(geometry(1, 100, 100, 100, 100),
                 {cod(2, 4, 4, 0, {0x77, 0x77, 0x77}), qcd_segment(2)}, "Profile violation");
    EXPECT_EQ(r.warnings, 0);
}

TEST(TileTreeProfile, LargeUpShiftWarnsOutsideTheUnrestrictedProfile)
{
    run r = open_all(geometry(2, 128, 64, 64, 64), {cod(2, 4, 4, 0), qcd_segment(2), rgn(38)},
                     rshift);
    EXPECT_EQ(r.warnings, 1);
    EXPECT_EQ(r.profile, 2);
    r = open_all(geometry(2, 128, 64, 64, 64), {cod(2, 4, 4, 0), qcd_segment(2), rgn(37)},
                 "Profile violation");
    EXPECT_EQ(r.warnings, 0);
    r = open_all(geometry(0, 128, 64, 64, 64), {cod(2, 4, 4, 0), qcd_segment(2), rgn(200)},
                 rshift);
    EXPECT_EQ(r.warnings, 0);

    // The shifted magnitude bound keeps the whole up-shift.
    memory_source src(build_stream(geometry(0, 64, 48, 64, 48),
                                   {cod(2, 4, 4, 0), qcd_segment(2), rgn(200)}));
    rvd_codestream cs;
    cs.create(&src);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_subband b = t.access_component(0).access_resolution(2).access_subband(1);
    EXPECT_EQ(b.get_K_max_prime(), b.get_K_max() + 200);
    t.close();
    cs.destroy();
}
