// SIZ and CBD: reading, finalizing, feature detection, writing, copying and round trips.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

void put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// A SIZ body: Rsiz, the eight canvas fields (x before y), then components.
std::vector<uint8_t> siz_body(uint16_t rsiz, std::vector<uint32_t> canvas,
                              std::vector<std::array<uint8_t, 3>> comps)
{
    std::vector<uint8_t> b;
    put16(b, rsiz);
    for (uint32_t v : canvas)
        put32(b, v);
    put16(b, static_cast<uint32_t>(comps.size()));
    for (auto& c : comps)
        b.insert(b.end(), c.begin(), c.end());
    return b;
}

const std::vector<uint32_t> plain_canvas = {1000, 800, 0, 0, 1000, 800, 0, 0};

class SizParams : public ::testing::Test {
protected:
    void SetUp() override { root = make_test_tree<siz_params>(4, 3); }
    bool read(uint16_t code, const std::vector<uint8_t>& body)
    {
        return root->translate_marker_segment(code, static_cast<int>(body.size()), body.data(), -1, 0);
    }
    int iget(const char* name, int r = 0, int f = 0)
    {
        int v = -12345;
        root->get(name, r, f, v);
        return v;
    }
    std::unique_ptr<siz_params> root;
};
} // namespace

TEST_F(SizParams, RsizAndCanvasFieldsRead)
{
    ASSERT_TRUE(read(0xFF51, siz_body(0, plain_canvas, {{0x07, 1, 1}})));
    EXPECT_EQ(2, iget("Sprofile"));
    EXPECT_EQ(0, iget("Scap"));
    EXPECT_EQ(800, iget("Ssize", 0, 0));
    EXPECT_EQ(1000, iget("Ssize", 0, 1));
    EXPECT_EQ(8, iget("Sprecision"));

    struct { uint16_t rsiz; int profile, cap, ext; } cases[] = {
        {0x4001, 0, 1, 0}, {0x0002, 1, 0, 0}, {0x0003, 4, 0, 0}, {0x8120, 3, 0, 0x120}};
    for (auto& c : cases) {
        root = make_test_tree<siz_params>(0, 0);
        ASSERT_TRUE(read(0xFF51, siz_body(c.rsiz, plain_canvas, {{0x07, 1, 1}})));
        EXPECT_EQ(c.profile, iget("Sprofile")) << c.rsiz;
        EXPECT_EQ(c.cap, iget("Scap")) << c.rsiz;
        EXPECT_EQ(c.ext, iget("Sextensions")) << c.rsiz;
    }
    root = make_test_tree<siz_params>(0, 0);
    EXPECT_EQ(lead + "Invalid SIZ marker segment encountered!",
              error_text([&] { read(0xFF51, siz_body(5, plain_canvas, {{0x07, 1, 1}})); }));

    // A tile size with bit 31 set means one tile across the canvas.
    root = make_test_tree<siz_params>(0, 0);
    ASSERT_TRUE(read(0xFF51, siz_body(0, {1000, 800, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0}, {{0x07, 1, 1}})));
    EXPECT_EQ(1000, iget("Stiles", 0, 1));
    EXPECT_EQ(800, iget("Stiles", 0, 0));
}

TEST_F(SizParams, MalformedSegmentsAreRefused)
{
    auto fresh_error = [](uint16_t code, const std::vector<uint8_t>& body) {
        std::unique_ptr<siz_params> r = make_test_tree<siz_params>(0, 0);
        return error_text([&] { r->translate_marker_segment(code, static_cast<int>(body.size()), body.data(), -1, 0); });
    };
    std::vector<uint8_t> extra = siz_body(0, plain_canvas, {{0x07, 1, 1}});
    extra.push_back(0);
    EXPECT_EQ(lead + "Malformed SIZ marker segment encountered. The final 1 bytes were not consumed!",
              fresh_error(0xFF51, extra));
    std::vector<uint8_t> cut = siz_body(0, plain_canvas, {{0x07, 1, 1}, {0x07, 1, 1}});
    cut.pop_back();
    EXPECT_EQ(lead + "Malformed SIZ marker segment encountered. Marker segment is too small.",
              fresh_error(0xFF51, cut));
    EXPECT_EQ(lead + "Illegal image sample bit-depth, 39. Legal range is from 1 to 38 bits per sample.",
              fresh_error(0xFF51, siz_body(0, plain_canvas, {{0x26, 1, 1}})));
    EXPECT_EQ(lead + "Illegal number of image components! Must be in the range 1 to 16384.",
              fresh_error(0xFF51, siz_body(0, plain_canvas, {})));
    std::vector<uint8_t> many = siz_body(0, plain_canvas, {});
    many[many.size() - 2] = 0x40;
    many[many.size() - 1] = 0x01; // 16385
    EXPECT_EQ(lead + "Illegal number of image components! Must be in the range 1 to 16384.",
              fresh_error(0xFF51, many));
    EXPECT_EQ(lead + "Invalid SIZ marker segment encountered!",
              fresh_error(0xFF51, siz_body(0, {0x80000000u, 800, 0, 0, 1000, 800, 0, 0}, {{7, 1, 1}})));
    EXPECT_EQ(lead + "Invalid SIZ marker segment encountered!",
              fresh_error(0xFF51, siz_body(0, {1000, 800, 1000, 0, 1000, 800, 0, 0}, {{7, 1, 1}})));
    EXPECT_EQ(lead + "Malformed CBD marker segment encountered. Marker segment is too small.",
              fresh_error(0xFF78, {0x00, 0x03, 0x07}));
    EXPECT_EQ(lead + "Malformed CBD marker segment encountered. The final 2 bytes were not consumed!",
              fresh_error(0xFF78, {0x80, 0x03, 0x07, 1, 2}));
    EXPECT_EQ(lead + "Illegal number of MCT output components, `Mcomponents'! Must be in the range 0 to 16384.",
              fresh_error(0xFF78, {0x7F, 0xFF, 0x07}));
    EXPECT_EQ(lead + "Illegal precision for MCT output component, 39. Legal range is from 1 to 38 bits per sample.",
              fresh_error(0xFF78, {0x00, 0x01, 0x26}));
    // Tile-part headers never carry SIZ.
    std::vector<uint8_t> body = siz_body(0, plain_canvas, {{7, 1, 1}});
    EXPECT_FALSE(root->translate_marker_segment(0xFF51, static_cast<int>(body.size()), body.data(), -1, 1));
}

TEST_F(SizParams, CbdFollowsSizIntoTheSameObject)
{
    ASSERT_TRUE(read(0xFF51, siz_body(0x8100, plain_canvas, {{0x07, 1, 1}})));
    ASSERT_TRUE(read(0xFF78, {0x80, 0x03, 0x07}));
    EXPECT_EQ(3, iget("Mcomponents"));
    for (int c = 0; c < 3; c++) {
        EXPECT_EQ(8, iget("Mprecision", c));
        EXPECT_EQ(0, iget("Msigned", c));
    }
    EXPECT_FALSE(read(0xFF78, {0x80, 0x03, 0x87})); // a second CBD is a repeat
    EXPECT_TRUE(warning_seen("Ignoring a repeated marker segment"));
    root = make_test_tree<siz_params>(0, 0);
    ASSERT_TRUE(read(0xFF51, siz_body(0x8100, plain_canvas, {{0x07, 1, 1}})));
    ASSERT_TRUE(read(0xFF78, {0x80, 0x03, 0x87}));
    EXPECT_EQ(1, iget("Msigned", 2));
    root = make_test_tree<siz_params>(0, 0);
    ASSERT_TRUE(read(0xFF51, siz_body(0x8100, plain_canvas, {{0x07, 1, 1}})));
    ASSERT_TRUE(read(0xFF78, {0x00, 0x02, 0x07, 0x8B}));
    EXPECT_EQ(8, iget("Mprecision", 0));
    EXPECT_EQ(12, iget("Mprecision", 1));
    EXPECT_EQ(1, iget("Msigned", 1));
}

TEST_F(SizParams, FinalizeDerivesTheMissingGeometry)
{
    ASSERT_TRUE(root->parse_string("Sdims={1000,1000},{500,500}"));
    root->finalize(false);
    EXPECT_EQ(1000, iget("Ssize", 0, 0));
    EXPECT_EQ(1000, iget("Ssize", 0, 1));
    EXPECT_EQ(1, iget("Ssampling", 0, 0));
    EXPECT_EQ(2, iget("Ssampling", 1, 1));
    EXPECT_EQ(2, iget("Scomponents"));
    EXPECT_EQ(1000, iget("Stiles", 0, 1));
    EXPECT_EQ(2, iget("Sprofile"));

    // Canvas from factors and dimensions: the largest low end over components.
    root = make_test_tree<siz_params>(0, 0);
    ASSERT_TRUE(root->parse_string("Sdims={100,75},{50,38}"));
    ASSERT_TRUE(root->parse_string("Ssampling={1,1},{2,2}"));
    root->finalize(false);
    EXPECT_EQ(100, iget("Ssize", 0, 0));
    EXPECT_EQ(75, iget("Ssize", 0, 1));

    // Factors from the canvas and dimensions, with an origin.
    root = make_test_tree<siz_params>(0, 0);
    ASSERT_TRUE(root->parse_string("Ssize={301,203}"));
    ASSERT_TRUE(root->parse_string("Sorigin={1,3}"));
    ASSERT_TRUE(root->parse_string("Sdims={300,200},{100,67}"));
    root->finalize(false);
    EXPECT_EQ(3, iget("Ssampling", 1, 0));
    EXPECT_EQ(3, iget("Ssampling", 1, 1));
    EXPECT_EQ(1, iget("Stile_origin", 0, 0));

    auto finalize_error = [](std::vector<const char*> strings) {
        std::unique_ptr<siz_params> r = make_test_tree<siz_params>(0, 0);
        for (const char* s : strings)
            r->parse_string(s);
        return error_text([&] { r->finalize(false); });
    };
    EXPECT_EQ(0u, finalize_error({"Ssize={100,100}", "Ssampling={1,1}", "Sdims={99,100}"})
                      .find(lead + "Problem trying to finalize SIZ information. Dimensions are "
                                   "inconsistent.  Available information is as follows:\n\nSsize={100,100}\n"));
    EXPECT_EQ(lead + "Image component sub-sampling factors must be strictly positive!",
              finalize_error({"Ssize={100,100}", "Ssampling={0,1}"}));
    EXPECT_EQ(lead + "Problem trying to finalize SIZ information. Must have either the individual "
                     "component dimensions or the component sub-sampling factors.",
              finalize_error({"Scomponents=2", "Ssize={100,100}"}));
    EXPECT_EQ(0u, finalize_error({"Ssize={100,100}"}).find(lead + "Problem trying to finalize SIZ information. "
                                                          "Insufficient data supplied"));
    EXPECT_EQ(0u, finalize_error({"Ssize={100,100}", "Sdims={100,100}", "Stile_origin={5,0}"})
                      .find(lead + "Problems trying to finalize SIZ information. Illegal tile origin"));
    EXPECT_EQ(0u, finalize_error({"Sdims={10,10},{7,10}", "Ssampling={1,1},{2,1}"})
                      .find(lead + "Problem trying to finalize SIZ information. Vertical component "
                                   "dimensions and sub-sampling factors are incompatible."));
}

TEST_F(SizParams, FeatureDetectionReadsTheOtherClusters)
{
    auto prepare = [](siz_params* r) {
        r->parse_string("Sdims={64,64}");
        r->parse_string("Scomponents=3");
    };
    prepare(root.get());
    ASSERT_TRUE(root->parse_string("Mcomponents=3"));
    rvd_params* cod = root->access_cluster("COD");
    cod->set("Cdecomp", 0, 0, 3);
    cod->set("Cdecomp", 1, 0, 3);
    root->finalize(false);
    EXPECT_EQ(3, iget("Sprofile"));
    EXPECT_EQ(RVD_SIZ_EXT_MCT, iget("Sextensions"));

    root = make_test_tree<siz_params>(4, 3);
    prepare(root.get());
    root->access_cluster("COD")->access_relation(2, 1, 0, false)->set("Cdecomp", 0, 0, 1); // H(-)
    root->finalize(false);
    EXPECT_EQ(3, iget("Sprofile"));
    EXPECT_EQ(RVD_SIZ_EXT_DECOMP, iget("Sextensions"));

    root = make_test_tree<siz_params>(4, 3);
    prepare(root.get());
    root->access_cluster("COD")->set("Catk", 0, 0, 2);
    root->access_cluster("ATK")->access_relation(-1, -1, 2, false)->set("Ksymmetric", 0, 0, true);
    root->finalize(false);
    EXPECT_EQ(RVD_SIZ_EXT_SYM_KNL, iget("Sextensions"));
    root = make_test_tree<siz_params>(4, 3);
    prepare(root.get());
    root->access_cluster("COD")->set("Catk", 0, 0, 4);
    root->finalize(false);
    EXPECT_EQ(RVD_SIZ_EXT_ANY_KNL, iget("Sextensions"));
    // After reading nothing is detected.
    root = make_test_tree<siz_params>(4, 3);
    prepare(root.get());
    root->parse_string("Mcomponents=2");
    root->finalize(true);
    EXPECT_EQ(2, iget("Sprofile"));
}

TEST_F(SizParams, WritingChecksAndLayout)
{
    ASSERT_TRUE(root->parse_string("Sdims={48,61}"));
    ASSERT_TRUE(root->parse_string("Sprecision=12"));
    ASSERT_TRUE(root->parse_string("Ssigned=yes"));
    ASSERT_TRUE(root->parse_string("Sprofile=PROFILE1"));
    root->finalize(false);
    EXPECT_EQ(43, root->write_marker_segment(nullptr, nullptr, 0));
    EXPECT_EQ(0, root->write_marker_segment(nullptr, nullptr, 1));
    vector_output out;
    EXPECT_EQ(43, root->write_marker_segment(&out, nullptr, 0));
    std::vector<uint8_t> expect = {0xFF, 0x51, 0, 41, 0, 2};
    for (uint32_t v : {61u, 48u, 0u, 0u, 61u, 48u, 0u, 0u})
        put32(expect, v);
    put16(expect, 1);
    expect.insert(expect.end(), {0x8B, 1, 1});
    EXPECT_EQ(expect, out.finish());

    root = make_test_tree<siz_params>(0, 0);
    root->parse_string("Sdims={4,4}");
    root->parse_string("Scomponents=16385");
    EXPECT_EQ(lead + "Illegal number of image components! Must be in the range 1 to 16384.",
              error_text([&] { root->finalize(false); }));
    root = make_test_tree<siz_params>(0, 0);
    EXPECT_EQ(lead + "Unable to write SIZ marker segment yet!",
              error_text([&] { root->write_marker_segment(nullptr, nullptr, 0); }));
    root = make_test_tree<siz_params>(0, 0);
    root->parse_string("Sdims={4,4}");
    root->parse_string("Sprecision=39");
    root->parse_string("Ssigned=no");
    root->finalize(false);
    vector_output o2;
    EXPECT_EQ(lead + "Illegal image sample bit-depth, 39. Legal range is from 1 to 38 bits per sample.",
              error_text([&] { root->write_marker_segment(&o2, nullptr, 0); }));
}

TEST(SizParamsRoundTrip, RandomGeometriesRegenerateTheSameBytes)
{
    std::mt19937 rng(2718);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 60; trial++) {
        std::unique_ptr<siz_params> a = make_test_tree<siz_params>(0, 0);
        int comps = (trial % 5 == 0) ? pick(257, 300) : pick(1, 8);
        int size[2], origin[2], tiles[2], torg[2];
        for (int d = 0; d < 2; d++) {
            size[d] = pick(1, 1 << 20);
            origin[d] = pick(0, size[d] - 1);
            torg[d] = pick(0, origin[d]);
            tiles[d] = pick(origin[d] - torg[d] + 1, size[d]);
            a->set("Ssize", 0, d, size[d]);
            a->set("Sorigin", 0, d, origin[d]);
            a->set("Stiles", 0, d, tiles[d]);
            a->set("Stile_origin", 0, d, torg[d]);
        }
        a->set("Scomponents", 0, 0, comps);
        for (int c = 0; c < comps; c++) {
            a->set("Sprecision", c, 0, pick(1, 38));
            a->set("Ssigned", c, 0, pick(0, 1) == 1);
            a->set("Ssampling", c, 0, pick(1, 255));
            a->set("Ssampling", c, 1, pick(1, 255));
        }
        if (pick(0, 2) == 0) {
            int m = pick(1, 20);
            a->set("Mcomponents", 0, 0, m);
            for (int c = 0; c < m; c++) {
                a->set("Mprecision", c, 0, pick(1, 38));
                a->set("Msigned", c, 0, pick(0, 1) == 1);
            }
        }
        a->finalize(false);
        vector_output first;
        int n = a->generate_marker_segments(&first, -1, 0);
        ASSERT_EQ(static_cast<size_t>(n), first.finish().size());
        std::unique_ptr<siz_params> b = make_test_tree<siz_params>(0, 0);
        translate_all(b.get(), first.bytes, -1, 0);
        b->finalize_all(true);
        b->clear_marks();
        vector_output second;
        b->generate_marker_segments(&second, -1, 0);
        ASSERT_EQ(first.bytes, second.finish()) << "trial " << trial;
    }
    // CBD with the shared-depth bit reads into extrapolated records and is written out
    // component by component.
    std::unique_ptr<siz_params> c = make_test_tree<siz_params>(0, 0);
    std::vector<uint8_t> siz = siz_body(0x8100, plain_canvas, {{0x07, 1, 1}});
    c->translate_marker_segment(0xFF51, static_cast<int>(siz.size()), siz.data(), -1, 0);
    std::vector<uint8_t> cbd = {0x80, 0x02, 0x8F};
    c->translate_marker_segment(0xFF78, 3, cbd.data(), -1, 0);
    c->finalize_all(true);
    c->clear_marks();
    vector_output out;
    c->generate_marker_segments(&out, -1, 0);
    const std::vector<uint8_t>& all = out.finish();
    std::vector<uint8_t> tail(all.end() - 8, all.end());
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x78, 0, 6, 0, 2, 0x8F, 0x8F}), tail);
}

TEST(SizParamsCopy, FlippedCopiesShiftIntoNonNegativeCoordinates)
{
    std::unique_ptr<siz_params> src = make_test_tree<siz_params>(6, 2);
    src->parse_string("Ssize={300,500}");
    src->parse_string("Sorigin={10,20}");
    src->parse_string("Stiles={100,128}");
    src->parse_string("Stile_origin={0,0}");
    src->parse_string("Ssampling={1,1},{2,2}");
    src->parse_string("Sprecision=8");
    src->parse_string("Ssigned=no");
    src->finalize(false);
    std::unique_ptr<siz_params> dst = make_test_tree<siz_params>(6, 2);
    dst->copy_all(src.get(), 0, 0, false, true, true);
    // The coding style the shift must respect (the stand-in COD does not copy it).
    rvd_params* cod = dst->access_cluster("COD");
    cod->set("Clevels", 0, 0, 2);
    cod->access_relation(-1, 1, 0, false)->set("Cuse_precincts", 0, 0, true);
    cod->access_relation(-1, 1, 0, false)->set("Cprecincts", 0, 0, 32);
    cod->access_relation(-1, 1, 0, false)->set("Cprecincts", 0, 1, 64);
    int o[2], s[2], to[2];
    for (int d = 0; d < 2; d++) {
        dst->get("Sorigin", 0, d, o[d]);
        dst->get("Ssize", 0, d, s[d]);
        dst->get("Stile_origin", 0, d, to[d]);
    }
    EXPECT_EQ(-299, o[0]);
    EXPECT_EQ(-9, s[0]);
    EXPECT_EQ(3, [&] { int p = 0; dst->get("Sprofile", 0, 0, p); return p; }());
    vector_output out;
    dst->write_marker_segment(&out, nullptr, 0);
    const std::vector<uint8_t>& b = out.finish();
    auto field = [&](int k) {
        size_t p = 6 + 4 * static_cast<size_t>(k);
        return (uint32_t(b[p]) << 24) | (uint32_t(b[p + 1]) << 16) | (uint32_t(b[p + 2]) << 8) | b[p + 3];
    };
    int64_t xs = field(0), ys = field(1), xo = field(2), yo = field(3), xto = field(6), yto = field(7);
    EXPECT_EQ(500 - 20, xs - xo); // image extent unchanged
    EXPECT_EQ(300 - 10, ys - yo);
    for (int64_t v : {xs, ys, xo, yo, xto, yto})
        EXPECT_GE(v, 0);
    int64_t shift_y = yo - o[0], shift_x = xo - o[1];
    EXPECT_EQ(0, shift_y % 100);
    EXPECT_EQ(0, shift_x % 128);
    // Component 1 (factor 2) has 32 x 64 precincts at three resolutions; component 0
    // uses the default 2^15.
    EXPECT_EQ(0, shift_y % (int64_t(1) << 17));
    EXPECT_EQ(0, shift_x % (int64_t(1) << 17));
    EXPECT_EQ(0, shift_y % (2 * 32 * 4));
}
