// Regions of interest below the top level grow by the kernel's synthesis supports: each
// low-pass sample reaches its neighbours one (5/3) or three (9/7) positions away, each
// high-pass sample two or four. Expected ranges are worked out by hand below.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <vector>

using namespace codec_test;

namespace {

// 64x48, one component, one tile; COD with `levels` levels and the given transform.
std::vector<uint8_t> stream(int levels, int transform)
{
    siz_geometry g;
    g.rsiz = 0;
    std::vector<uint8_t> qcd;
    if (transform == 1) {
        qcd = qcd_segment(levels);
    } else {
        // Expounded steps: one guard bit, exponent 8, mantissa 0 for every band.
        std::vector<uint8_t> b = {0x22};
        for (int i = 0; i < 3 * levels + 1; i++)
            put16(b, 8u << 11);
        qcd = segment(0xFF5C, b);
    }
    return build_stream(g, {segment(0xFF52, {0, 0, 0, 1, 0, uint8_t(levels), 4, 4, 0,
                                             uint8_t(transform)}),
                            qcd});
}

struct columns {
    int first, end;
};

// Column range of the region of interest of each band of the top level (HL, LH, HH) and
// of the lowest resolution, for the view of columns [20, 30).
std::vector<columns> band_columns(int levels, int transform)
{
    memory_source src(stream(levels, transform));
    rvd_codestream cs;
    cs.create(&src);
    const rvd_dims view(rvd_coords(0, 20), rvd_coords(48, 10));
    cs.apply_input_restrictions(0, 0, 0, 0, &view, RVD_WANT_CODESTREAM_COMPONENTS);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_tile_comp tc = t.access_component(0);
    std::vector<columns> out;
    rvd_dims d;
    rvd_resolution top = tc.access_resolution(levels);
    for (int b = 1; b <= 3; b++) {
        top.access_subband(b).get_dims(d);
        out.push_back({d.pos.x, d.pos.x + d.size.x});
        EXPECT_EQ(d.size.y, 24) << b; // every row is wanted
    }
    tc.access_resolution(0).get_dims(d);
    out.push_back({d.pos.x, d.pos.x + d.size.x});
    t.close();
    cs.destroy();
    return out;
}

} // namespace

TEST(TileTreeSupports, RegionsGrowByTheKernelsSynthesisReach)
{
    // Parent columns [20, 30). Low-pass n at 2n reaches 2n + [-1, 1] (5/3) or [-3, 3]
    // (9/7): n from ceil((20 - max) / 2) to floor((29 - min) / 2). High-pass n at 2n + 1
    // reaches [-2, 2] or [-4, 4]: n from ceil((19 - max) / 2) to floor((28 - min) / 2).
    std::vector<columns> c = band_columns(1, 1);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].first, 9); // HL: [9, 16)
    EXPECT_EQ(c[0].end, 16);
    EXPECT_EQ(c[1].first, 10); // LH: low-pass columns [10, 16)
    EXPECT_EQ(c[1].end, 16);
    EXPECT_EQ(c[2].first, 9);
    EXPECT_EQ(c[2].end, 16);
    EXPECT_EQ(c[3].first, 10); // LL
    EXPECT_EQ(c[3].end, 16);

    c = band_columns(1, 0);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].first, 8); // high-pass [8, 17)
    EXPECT_EQ(c[0].end, 17);
    EXPECT_EQ(c[1].first, 9); // low-pass [9, 17)
    EXPECT_EQ(c[1].end, 17);
    EXPECT_EQ(c[3].first, 9);
    EXPECT_EQ(c[3].end, 17);

    // Two levels of 5/3: level 1 gets [10, 16); below it low-pass n reaches [9, 16) by
    // the same rule: ceil((10 - 1) / 2) = 5 to floor((15 + 1) / 2) = 8, so [5, 9); its
    // high-pass bands ceil((9 - 2) / 2) = 4 to floor((14 + 2) / 2) = 8, so [4, 9).
    c = band_columns(2, 1);
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[3].first, 5);
    EXPECT_EQ(c[3].end, 9);
    memory_source src(stream(2, 1));
    rvd_codestream cs;
    cs.create(&src);
    const rvd_dims view(rvd_coords(0, 20), rvd_coords(48, 10));
    cs.apply_input_restrictions(0, 0, 0, 0, &view, RVD_WANT_CODESTREAM_COMPONENTS);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_dims d;
    t.access_component(0).access_resolution(1).access_subband(1).get_dims(d);
    EXPECT_EQ(d.pos.x, 4);
    EXPECT_EQ(d.size.x, 5);
    t.close();
    cs.destroy();
}

TEST(TileTreeSupports, RelevanceIsMeasuredAgainstTheBandsMappedUp)
{
    // One 5/3 level, view columns [20, 30): HL columns [9, 16) map up to [19, 32), LH
    // columns [10, 16) to [20, 31); rows [0, 24) at branch 0 and 1 give [0, 47) and
    // [1, 48). The box is 13 x 48 of the single 64 x 48 precinct.
    memory_source src(stream(1, 1));
    rvd_codestream cs;
    cs.create(&src);
    const rvd_dims view(rvd_coords(0, 20), rvd_coords(48, 10));
    cs.apply_input_restrictions(0, 0, 0, 0, &view, RVD_WANT_CODESTREAM_COMPONENTS);
    rvd_tile t = cs.open_tile(rvd_coords(0, 0));
    rvd_tile_comp tc = t.access_component(0);
    EXPECT_DOUBLE_EQ(tc.access_resolution(1).get_precinct_relevance(rvd_coords(0, 0)),
                     13.0 * 48.0 / (64.0 * 48.0));
    // The lowest level has its LL band only: columns [10, 16) of 32.
    EXPECT_DOUBLE_EQ(tc.access_resolution(0).get_precinct_relevance(rvd_coords(0, 0)),
                     6.0 / 32.0);
    t.close();
    cs.destroy();
}

TEST(TileTreeSupports, KernelInfoOfTheStandardKernels)
{
    struct expected {
        int transform, num_steps, low_max, high_max;
        std::vector<float> taps;
    };
    // Lifting taps step after step; the 9/7 ones to float precision.
    const expected cases[] = {
        {1, 2, 1, 2, {-0.5f, -0.5f, 0.25f, 0.25f}},
        {0, 4, 3, 4,
         {-1.586134342f, -1.586134342f, -0.052980118f, -0.052980118f, 0.882911076f,
          0.882911076f, 0.443506852f, 0.443506852f}},
    };
    for (const expected& e : cases) {
        SCOPED_TRACE(e.transform);
        for (bool flip : {false, true}) {
            memory_source src(stream(1, e.transform));
            rvd_codestream cs;
            cs.create(&src);
            cs.change_appearance(false, flip, flip);
            rvd_tile t = cs.open_tile(rvd_coords(0, 0));
            rvd_node n = t.access_component(0).access_resolution(1).access_node();
            for (bool vertical : {false, true}) {
                int steps = 0, lmin = 0, lmax = 0, hmin = 0, hmax = 0;
                float ls = 0, hs = 0;
                bool sym = false, symext = false;
                const rvd_kernel_step_info* info = n.get_kernel_info(
                    steps, ls, hs, sym, symext, lmin, lmax, hmin, hmax, vertical);
                ASSERT_EQ(steps, e.num_steps);
                EXPECT_TRUE(sym);
                EXPECT_TRUE(symext);
                // Symmetric responses: the bounds are the same flipped or not.
                EXPECT_EQ(lmin, -e.low_max);
                EXPECT_EQ(lmax, e.low_max);
                EXPECT_EQ(hmin, -e.high_max);
                EXPECT_EQ(hmax, e.high_max);
                const float* taps = n.get_kernel_coefficients(vertical);
                for (int s = 0; s < steps; s++) {
                    EXPECT_EQ(info[s].support_length, 2);
                    EXPECT_EQ(info[s].support_min, -(s % 2));
                    for (int k = 0; k < 2; k++)
                        EXPECT_NEAR(taps[2 * s + k], e.taps[size_t(2 * s + k)], 1e-6);
                }
                if (e.transform == 1) {
                    EXPECT_EQ(ls, 1.0f);
                    EXPECT_EQ(hs, 1.0f);
                } else {
                    // Unit gain at DC and Nyquist: 1 / K and K / 2 with K = 1.230174105.
                    EXPECT_NEAR(ls, 1.0 / 1.230174105, 1e-5);
                    EXPECT_NEAR(hs, 1.230174105 / 2.0, 1e-5);
                }
            }
            t.close();
            cs.destroy();
        }
    }
}
