// RGN, POC, CRG and ORG on a tree with the real SIZ class.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"

#include <gtest/gtest.h>

#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

struct tree_fixture {
    explicit tree_fixture(int comps, int tiles = 4)
    {
        root = make_param_tree(tiles, comps);
        set_simple_siz(root.get(), comps);
    }
    bool read(uint16_t code, std::vector<uint8_t> body, int tile = -1, int tpart = 0)
    {
        return root->translate_marker_segment(code, static_cast<int>(body.size()), body.data(),
                                              tile, tpart);
    }
    std::string read_error(uint16_t code, std::vector<uint8_t> body, int tile = -1)
    {
        return error_text([&] { read(code, body, tile); });
    }
    // The header's segments without the SIZ segment that every main header starts with.
    std::vector<uint8_t> header(int tile, int tpart = 0)
    {
        vector_output out;
        int n = root->generate_marker_segments(&out, tile, tpart);
        EXPECT_EQ(static_cast<size_t>(n), out.finish().size());
        std::vector<uint8_t> kept;
        size_t pos = 0;
        while (pos + 4 <= out.bytes.size()) {
            size_t len = 2 + ((size_t(out.bytes[pos + 2]) << 8) | out.bytes[pos + 3]);
            if (!(out.bytes[pos] == 0xFF && out.bytes[pos + 1] == 0x51))
                kept.insert(kept.end(), out.bytes.begin() + long(pos), out.bytes.begin() + long(pos + len));
            pos += len;
        }
        return kept;
    }
    std::unique_ptr<siz_params> root;
};

int porder(rvd_params* obj, int r, int f)
{
    int v = -1;
    obj->get("Porder", r, f, v, false, false);
    return v;
}
} // namespace

TEST(RgnParams, ReadingWritingAndLimits)
{
    tree_fixture t(3);
    ASSERT_TRUE(t.read(0xFF5E, {1, 0, 20}));
    rvd_params* rgn = t.root->access_cluster("RGN");
    int v = 0;
    EXPECT_TRUE(rgn->access_unique(-1, 1, 0)->get("Rshift", 0, 0, v));
    EXPECT_EQ(20, v);
    EXPECT_TRUE(t.header(-1).empty()); // already read: not written again until cleared
    t.root->clear_marks();
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5E, 0, 5, 1, 0, 20}), t.header(-1));
    // A tile-component with the main component's shift writes nothing.
    rgn->access_relation(2, 1, 0, false)->set("Rshift", 0, 0, 20);
    rgn->access_relation(2, 0, 0, false)->set("Rshift", 0, 0, 0);
    EXPECT_TRUE(t.header(2).empty());
    rgn->access_relation(2, 0, 0, false)->set("Rshift", 0, 0, 5);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5E, 0, 5, 0, 0, 5}), t.header(2));

    EXPECT_EQ(lead + "Encountered non-Part1 RGN marker segment!", tree_fixture(3).read_error(0xFF5E, {0, 1, 4}));
    EXPECT_EQ(lead + "Malformed RGN marker segment encountered. The final 2 bytes were not consumed!",
              tree_fixture(3).read_error(0xFF5E, {0, 0, 4, 9, 9}));
    EXPECT_EQ(lead + "Malformed RGN marker segment encountered. Marker segment is too small.",
              tree_fixture(3).read_error(0xFF5E, {0, 0}));
    EXPECT_FALSE(tree_fixture(3).read(0xFF5E, {1, 0, 4}, -1, 1)); // not the first tile-part

    tree_fixture w(3);
    rvd_params* r = w.root->access_cluster("RGN")->access_relation(-1, 0, 0, false);
    r->set("Rshift", 0, 0, 38);
    w.root->finalize_all(false);
    EXPECT_TRUE(warning_seen("Ravade Core Warning:\nUp-shift values in the RGN marker segment "
                             "should not need to exceed 37 under any circumstances.  The use of "
                             "a larger value, 38 in this case, may cause problems."));
    r->set("Rshift", 0, 0, 256);
    EXPECT_EQ(lead + "Illegal ROI up-shift, 256. Legal range is from 0 to 255!",
              error_text([&] { w.header(-1); }));
    int levels = 0;
    EXPECT_TRUE(r->get("Rlevels", 0, 0, levels));
    EXPECT_EQ(4, levels);

    // More than 256 components: 2-byte component fields.
    tree_fixture big(300, 0);
    ASSERT_TRUE(big.read(0xFF5E, {0x01, 0x2B, 0, 11}));
    EXPECT_TRUE(big.root->access_cluster("RGN")->access_unique(-1, 299, 0)->get("Rshift", 0, 0, v));
    EXPECT_EQ(11, v);
    big.root->clear_marks();
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5E, 0, 6, 0x01, 0x2B, 0, 11}), big.header(-1));
}

TEST(PocParams, RecordsFieldWidthsAndChecks)
{
    tree_fixture t(3);
    ASSERT_TRUE(t.read(0xFF5F, {0, 0, 0, 1, 3, 3, 4, 3, 0, 0, 2, 6, 0, 0}));
    rvd_params* poc = t.root->access_cluster("POC");
    EXPECT_EQ(3, porder(poc, 0, 4));
    EXPECT_EQ(4, porder(poc, 0, 5));
    EXPECT_EQ(256, porder(poc, 1, 4)); // CEpoc 0 in one byte
    EXPECT_EQ(6, porder(poc, 1, 3));
    EXPECT_EQ(lead + "Malformed POC marker segment encountered. The final 1 bytes were not consumed!",
              tree_fixture(3).read_error(0xFF5F, std::vector<uint8_t>(15, 0)));
    EXPECT_EQ(lead + "Malformed POC marker segment encountered. Marker segment is too small.",
              tree_fixture(3).read_error(0xFF5F, std::vector<uint8_t>(6, 0)));

    // CEpoc equal to the component count is written as 0 in one byte.
    tree_fixture w(3);
    ASSERT_TRUE(w.root->parse_string("Porder={0,0,1,3,3,CPRL},{3,0,1,6,3,LRCP}"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5F, 0, 16, 0, 0, 0, 1, 3, 0, 4, 3, 0, 0, 1, 6, 0, 0}),
              w.header(-1));
    // In 300 components CEpoc 300 takes two bytes.
    tree_fixture big(300);
    ASSERT_TRUE(big.root->parse_string("Porder={0,0,1,3,300,RLCP}"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5F, 0, 11, 0, 0, 0, 0, 1, 3, 0x01, 0x2C, 1}),
              big.header(-1));

    // A tile repeating the main header's records writes nothing; one that differs does.
    w.root->parse_string("Porder:T1={0,0,1,3,3,CPRL},{3,0,1,6,3,LRCP}");
    EXPECT_TRUE(w.header(1).empty());
    w.root->parse_string("Porder:T2={0,0,1,2,3,CPRL}");
    EXPECT_EQ(11u, w.header(2).size());
    // Several tile-parts: instance k writes in tile-part k.
    w.root->parse_string("Porder:T3={0,0,1,1,3,LRCP}");
    w.root->parse_string("Porder:T3={1,0,1,2,3,LRCP}");
    EXPECT_EQ(11u, w.header(3, 0).size());
    EXPECT_EQ(11u, w.header(3, 1).size());

    struct { const char* s; std::string text; } bad[] = {
        {"Porder={2,0,1,2,3,LRCP}", "Illegal upper bound (exclusive), 2, for resolution level indices in progression order change attribute.  Legal range is from the lower bound + 1 to 33."},
        {"Porder={33,0,1,34,3,LRCP}", "Illegal lower bound, 33, for resolution level indices in progression order change attribute.  Legal range is from 0 to 32."},
        {"Porder={0,3,1,2,3,LRCP}", "Illegal lower bound, 3, for component indices in progression order change attribute.  Legal range is from 0 to 2."},
        {"Porder={0,1,1,2,257,LRCP}", "Illegal upper bound (exclusive), 257, for component indices in progression order change attribute.  Legal range is from the lower bound + 1 to 256."},
        {"Porder={0,0,65536,2,3,LRCP}", "Illegal upper bound (exclusive), 65536, for layer indices in progression order change attribute.  Legal range is from 0 to 65535."},
    };
    for (auto& b : bad) {
        tree_fixture f(3);
        ASSERT_TRUE(f.root->parse_string(b.s));
        EXPECT_EQ(lead + b.text, error_text([&] { f.header(-1); })) << b.s;
    }

    // Copying with 2 components skipped.
    tree_fixture src(4), dst(2);
    src.root->parse_string("Porder={0,0,5,3,2,LRCP},{0,2,7,3,4,RLCP}");
    dst.root->access_cluster("POC")->copy_from(src.root->access_cluster("POC"), -1, -1, -1, 2);
    rvd_params* d = dst.root->access_cluster("POC");
    EXPECT_EQ((std::vector<int>{0, 0, 0, 3, 1, 0}),
              (std::vector<int>{porder(d, 0, 0), porder(d, 0, 1), porder(d, 0, 2), porder(d, 0, 3), porder(d, 0, 4), porder(d, 0, 5)}));
    EXPECT_EQ(0, porder(d, 1, 1));
    EXPECT_EQ(2, porder(d, 1, 4));
    EXPECT_EQ(7, porder(d, 1, 2));
}

TEST(CrgParams, OffsetsInSixteenthsOfABit)
{
    tree_fixture t(2);
    ASSERT_TRUE(t.read(0xFF63, {0x80, 0x00, 0x40, 0x00, 0x00, 0x01, 0xFF, 0xFF}));
    rvd_params* crg = t.root->access_cluster("CRG");
    float f = 0;
    EXPECT_TRUE(crg->get("CRGoffset", 0, 1, f));
    EXPECT_EQ(0.5f, f);
    EXPECT_TRUE(crg->get("CRGoffset", 0, 0, f));
    EXPECT_EQ(0.25f, f);
    EXPECT_TRUE(crg->get("CRGoffset", 1, 0, f));
    EXPECT_EQ(65535.0f / 65536.0f, f);
    t.root->clear_marks();
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x63, 0, 10, 0x80, 0x00, 0x40, 0x00, 0x00, 0x01, 0xFF, 0xFF}),
              t.header(-1));
    EXPECT_EQ(lead + "Malformed CRG marker segment encountered. The final 1 bytes were not consumed!",
              tree_fixture(2).read_error(0xFF63, std::vector<uint8_t>(9, 0)));
    EXPECT_EQ(lead + "Malformed CRG marker segment encountered. Marker segment is too small.",
              tree_fixture(2).read_error(0xFF63, std::vector<uint8_t>(7, 0)));

    tree_fixture w(1);
    w.root->parse_string("CRGoffset={0.5,1.0}");
    EXPECT_EQ(lead + "Illegal component registration offsets, {0.500000,1.000000}.  Legal range is "
                     "from 0.0 to 1.0 (exclusive).",
              error_text([&] { w.header(-1); }));
    tree_fixture near_one(1);
    near_one.root->parse_string("CRGoffset={0.99999,0}");
    std::vector<uint8_t> h = near_one.header(-1);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x63, 0, 6, 0, 0, 0xFF, 0xFF}), h);

    // A flipped copy drops the offsets; a plain one keeps them past the skipped ones.
    tree_fixture src(3), flipped(3), plain(2);
    src.root->parse_string("CRGoffset={0.25,0.5},{0.125,0.75}");
    flipped.root->copy_all(src.root.get(), 0, 0, false, true, false);
    EXPECT_FALSE(flipped.root->access_cluster("CRG")->get("CRGoffset", 0, 0, f));
    plain.root->access_cluster("CRG")->copy_from(src.root->access_cluster("CRG"), -1, -1, -1, 1);
    EXPECT_TRUE(plain.root->access_cluster("CRG")->get("CRGoffset", 0, 1, f));
    EXPECT_EQ(0.75f, f);
}

TEST(OrgParams, HasNoSegmentsAndCopiesTwoAttributes)
{
    tree_fixture t(1);
    uint8_t b[4] = {0, 0, 0, 0};
    EXPECT_FALSE(t.root->translate_marker_segment(0xFF55, 4, b, -1, 0));
    rvd_params* org = t.root->access_cluster("ORG");
    ASSERT_TRUE(t.root->parse_string("ORGtparts=R|C"));
    ASSERT_TRUE(t.root->parse_string("ORGgen_plt=yes"));
    ASSERT_TRUE(t.root->parse_string("ORGgen_tlm=3"));
    EXPECT_EQ(0, org->write_marker_segment(nullptr, nullptr, 0));
    tree_fixture d(1);
    d.root->copy_all(t.root.get());
    int v = 0;
    bool plt = false;
    rvd_params* dorg = d.root->access_cluster("ORG");
    EXPECT_TRUE(dorg->get("ORGtparts", 0, 0, v));
    EXPECT_EQ(5, v);
    EXPECT_TRUE(dorg->get("ORGgen_plt", 0, 0, plt));
    EXPECT_TRUE(plt);
    EXPECT_FALSE(dorg->get("ORGgen_tlm", 0, 0, v));
}

TEST(MarkerClassesRoundTrip, RandomSegmentsRegenerateTheSameBytes)
{
    std::mt19937 rng(31337);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 40; trial++) {
        // With one-byte component fields a CEpoc equal to the component count is written
        // as 0 and reads back as 256, which the writer refuses; such records stay out.
        int comps = (trial % 3 == 0) ? pick(257, 300) : pick(2, 20);
        int ce_limit = (comps > 256) ? comps : comps - 1;
        tree_fixture a(comps, 3);
        for (int k = 0; k < 5; k++) {
            int c = pick(0, comps - 1), tile = pick(-1, 2);
            a.root->access_cluster("RGN")->access_relation(tile, c, 0, false)->set("Rshift", 0, 0, pick(0, 255));
        }
        static const char* const orders[5] = {"LRCP", "RLCP", "RPCL", "PCRL", "CPRL"};
        std::string por = "Porder=";
        int recs = pick(1, 4);
        for (int r = 0; r < recs; r++) {
            int rs = pick(0, 32), cs = pick(0, ce_limit - 1);
            por += (r ? "," : "") + std::string("{") + std::to_string(rs) + "," + std::to_string(cs) + "," +
                   std::to_string(pick(0, 65535)) + "," + std::to_string(pick(rs + 1, 33)) + "," +
                   std::to_string(pick(cs + 1, ce_limit)) + "," + orders[pick(0, 4)] + "}";
        }
        ASSERT_TRUE(a.root->parse_string(por.c_str()));
        std::string crg = "CRGoffset=";
        for (int c = 0; c < pick(1, 3); c++)
            crg += (c ? "," : "") + std::string("{") + std::to_string(pick(0, 65535) / 65536.0) + "," +
                   std::to_string(pick(0, 65535) / 65536.0) + "}";
        ASSERT_TRUE(a.root->parse_string(crg.c_str()));
        a.root->finalize_all(false);
        tree_fixture b(comps, 3);
        for (int tile = -1; tile < 3; tile++) {
            std::vector<uint8_t> bytes = a.header(tile);
            translate_all(b.root.get(), bytes, tile, 0);
        }
        b.root->finalize_all(true);
        a.root->clear_marks();
        b.root->clear_marks();
        for (int tile = -1; tile < 3; tile++)
            ASSERT_EQ(a.header(tile), b.header(tile)) << "trial " << trial << " tile " << tile;
    }
}
