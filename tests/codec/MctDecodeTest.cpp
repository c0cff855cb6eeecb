// Part-2 multi-component transforms end to end, on opj_compress codestreams into which the
// stream generator inserted transform segments written byte by byte (the "mct" group):
// the headers must describe the transform the generator meant, and decoding must give
// the generator's expected output components.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

struct expected_image {
    int width = 0, height = 0, tolerance = 0;
    std::vector<std::vector<int>> comps;
};

expected_image read_expected(const std::string& name)
{
    expected_image e;
    std::ifstream in(stream_dir("mct") + "/mct_" + name + ".exp");
    int n = 0;
    in >> n >> e.width >> e.height >> e.tolerance;
    e.comps.assign(size_t(n), std::vector<int>(size_t(e.width) * size_t(e.height)));
    for (auto& c : e.comps)
        for (int& v : c)
            in >> v;
    if (!in)
        ADD_FAILURE() << "unreadable expectations for " << name;
    return e;
}

struct generated {
    memory_source src;
    rvd_codestream cs;
    rvd_tile tile;
    explicit generated(const std::string& name)
        : src(read_file(stream_dir("mct") + "/mct_" + name + ".j2k"))
    {
        cs.create(&src);
        tile = cs.open_tile(rvd_coords(0, 0));
    }
    ~generated()
    {
        tile.close();
        cs.destroy();
    }
};

} // namespace

TEST(MctDecode, GeneratedHeadersDescribeTheirTransforms)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    {
        generated g("matrix34");
        EXPECT_EQ(4, g.cs.get_num_components(true));
        const int depths[] = {8, 9, 8, 10};
        for (int c = 0; c < 4; c++) {
            EXPECT_EQ(depths[c], g.cs.get_bit_depth(c, true));
            EXPECT_EQ(c == 1 || c == 2, g.cs.get_signed(c, true));
        }
        std::vector<float> m(12);
        ASSERT_TRUE(g.tile.get_mct_matrix_info(0, 0, m.data()));
        EXPECT_FLOAT_EQ(0.587f, m[1]);
        EXPECT_FLOAT_EQ(-0.75f, m[8]);
        int si = 0, so = 0, bi = 0, bo = 0;
        std::vector<float> off(4);
        ASSERT_TRUE(g.tile.get_mct_block_info(0, 0, si, so, bi, bo, nullptr, nullptr, off.data()));
        EXPECT_EQ((std::vector<float>{120.0f, 3.25f, -40.0f, 500.0f}), off);
    }
    // Both layouts of the reversible matrix give the same factors.
    const std::vector<int> rx = {1, 2, 1, 3, 3, 2, 1, 1, 4, 1, 2, -8};
    for (const char* name : {"rxform", "rxform_old"}) {
        generated g(name);
        std::vector<int> c(12);
        ASSERT_TRUE(g.tile.get_mct_rxform_info(0, 0, c.data())) << name;
        EXPECT_EQ(rx, c) << name;
    }
    {
        generated g("dependency");
        bool rev = false;
        std::vector<int> c(5), off(3);
        ASSERT_TRUE(g.tile.get_mct_dependency_info(0, 0, rev, nullptr, nullptr, c.data(),
                                                   off.data()));
        EXPECT_TRUE(rev);
        EXPECT_EQ((std::vector<int>{-1, 2, 1, -1, 4}), c);
        EXPECT_EQ((std::vector<int>{5, -3, 7}), off);
    }
    for (int levels = 1; levels <= 2; levels++)
        for (int origin = 0; origin <= 1; origin++) {
            generated g("dwt53_l" + std::to_string(levels) + "_o" + std::to_string(origin));
            bool rev = false, sym = false, ext = false;
            int lv = 0, lo = 0, hi = 0, steps = 0;
            const float* coeffs = nullptr;
            ASSERT_NE(nullptr, g.tile.get_mct_dwt_info(0, 0, rev, lv, lo, hi, steps, sym, ext,
                                                       coeffs));
            EXPECT_TRUE(rev);
            EXPECT_EQ(levels, lv);
            EXPECT_EQ(origin, lo);
            EXPECT_EQ(origin + 5, hi);
        }
    {
        generated g("null");
        int si = 0, so = 0, bi = 0, bo = 0;
        std::vector<int> off(5);
        ASSERT_TRUE(g.tile.get_mct_block_info(0, 0, si, so, bi, bo, nullptr, nullptr, nullptr,
                                              off.data()));
        EXPECT_EQ(3, bi);
        EXPECT_EQ(5, bo);
        EXPECT_EQ((std::vector<int>{128, 100, -20, 77, 300}), off);
        EXPECT_FALSE(g.tile.get_mct_matrix_info(0, 0));
    }
    expected_image e = read_expected("null");
    EXPECT_EQ(5u, e.comps.size());
}

namespace {

// Decodes a generated stream through the multi-component network (whole image, or only
// output `only` when it is not negative) and compares with the expected outputs.
void check_decode(const std::string& name, int only = -1, bool precise = false)
{
    SCOPED_TRACE(name + (only >= 0 ? " output " + std::to_string(only) : std::string()));
    const expected_image e = read_expected(name);
    memory_source src(read_file(stream_dir("mct") + "/mct_" + name + ".j2k"));
    rvd_codestream cs;
    cs.create(&src);
    if (only >= 0)
        cs.apply_input_restrictions(only, 1, 0, 0, nullptr);
    multi_test::network_options opt;
    opt.force_precise = precise;
    const std::vector<multi_test::plane> planes = multi_test::decode_through_network(cs, opt);
    cs.destroy();
    const size_t first = only >= 0 ? size_t(only) : 0;
    const size_t count = only >= 0 ? 1 : e.comps.size();
    ASSERT_EQ(count, planes.size());
    for (size_t c = 0; c < count; c++) {
        const multi_test::plane& p = planes[c];
        ASSERT_EQ(e.width, p.width) << c;
        ASSERT_EQ(e.height, p.height) << c;
        const std::vector<int>& want = e.comps[first + c];
        int worst = 0;
        size_t at = 0;
        for (size_t i = 0; i < want.size(); i++) {
            const int d = std::abs(int(p.samples[i]) - want[i]);
            if (d > worst) {
                worst = d;
                at = i;
            }
        }
        EXPECT_LE(worst, e.tolerance) << "output " << first + c << " sample " << at << ": "
                                      << p.samples[at] << " instead of " << want[at];
    }
}

} // namespace

TEST(MctDecode, ReversibleTransformsGiveTheImageBack)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Reversible matrix (segment and older layouts), dependency, and the 5/3 wavelet
    // across five components at one and two levels from even and odd origins.
    for (const char* name : {"rxform", "rxform_old", "dependency", "dwt53_l1_o0", "dwt53_l1_o1",
                             "dwt53_l2_o0", "dwt53_l2_o1"})
        check_decode(name);
    check_decode("dwt53_l2_o1", -1, true); // 32-bit lines throughout
}

TEST(MctDecode, IrreversibleTransformsWithinOne)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Matrices on codestream samples, and the 9/7 wavelet across components: the
    // generator's analysis scales low-pass values by 1/K and high-pass values by K
    // (K = 1.230174104914001) and rounds them to integers.
    for (const char* name : {"matrix3", "matrix34", "dwt97_l1_o0", "dwt97_l2_o1"}) {
        check_decode(name);
        check_decode(name, -1, true);
    }
}

TEST(MctDecode, NullStageAndSingleOutputDecodes)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Outputs 3 and 4 come from no input: constant at their offsets.
    check_decode("null");
    // A tile whose header has no stages decodes its codestream components as they are.
    check_decode("tiles_null");
    check_decode("tiles_null", 4);
    // Each output alone equals that output of the full decode.
    for (int k = 0; k < 5; k++)
        check_decode("null", k);
    for (int k : {0, 3})
        check_decode("matrix34", k);
    for (int k : {1, 4})
        check_decode("dwt53_l2_o1", k);
    check_decode("dwt97_l2_o1", 3);
    check_decode("dependency", 2);
}
