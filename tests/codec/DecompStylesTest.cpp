// ADS and DFS segments: packing, reading, writing, and derivation from Ddecomp.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"

#include <gtest/gtest.h>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

std::unique_ptr<siz_params> styles_tree()
{
    std::unique_ptr<siz_params> root = make_param_tree(2, 1, true);
    set_simple_siz(root.get(), 1);
    return root;
}

std::vector<int> records(rvd_params* obj, const char* name)
{
    std::vector<int> out;
    int v = 0;
    for (int r = 0; obj != nullptr && obj->get(name, r, 0, v, false, false); r++)
        out.push_back(v);
    return out;
}

std::vector<uint8_t> written(rvd_params* obj, rvd_params* ref = nullptr)
{
    vector_output out;
    obj->write_marker_segment(&out, ref, 0);
    return out.finish();
}
} // namespace

TEST(DfsParams, PackedSplitCodes)
{
    std::unique_ptr<siz_params> t = styles_tree();
    std::vector<uint8_t> body = {0x00, 0x02, 0x03, 0x6C};
    ASSERT_TRUE(t->translate_marker_segment(0xFF72, 4, body.data(), -1, 0));
    rvd_params* dfs = t->access_cluster("DFS")->access_unique(-1, -1, 2);
    EXPECT_EQ((std::vector<int>{3, 1, 2}), records(dfs, "DSdfs"));
    t->clear_marks();
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x72, 0x00, 0x06, 0x00, 0x02, 0x03, 0x6C}), written(dfs));

    std::unique_ptr<siz_params> w = styles_tree();
    ASSERT_TRUE(w->parse_string("DSdfs:I1=B,B,H,X,V"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x72, 0x00, 0x07, 0x00, 0x01, 0x05, 0x58, 0xC0}),
              written(w->access_cluster("DFS")->access_unique(-1, -1, 1)));
    uint8_t zero[2] = {0, 0};
    int idx = 0;
    EXPECT_FALSE(t->access_cluster("DFS")->check_marker_segment(0xFF72, 2, zero, idx));
    std::unique_ptr<siz_params> e = styles_tree();
    std::vector<uint8_t> cut = {0x00, 0x01, 0x05, 0x58};
    EXPECT_EQ(lead + "Malformed DFS marker segment encountered. Marker segment is too small.",
              error_text([&] { e->translate_marker_segment(0xFF72, 4, cut.data(), -1, 0); }));
    std::vector<uint8_t> extra = {0x00, 0x01, 0x01, 0x40, 0x00};
    std::unique_ptr<siz_params> e2 = styles_tree();
    EXPECT_EQ(lead + "Malformed DFS marker segment encountered. The final 1 bytes were not consumed!",
              error_text([&] { e2->translate_marker_segment(0xFF72, 5, extra.data(), -1, 0); }));
}

TEST(AdsParams, DerivedListsAndSegments)
{
    std::unique_ptr<siz_params> t = styles_tree();
    rvd_params* ads = t->access_cluster("ADS")->access_relation(-1, -1, 1, false);
    int v = 0;
    // B(-:-:-): no sub-levels.
    ads->set("Ddecomp", 0, 0, 3);
    ads->finalize(false);
    EXPECT_EQ((std::vector<int>{1}), records(ads, "DOads"));
    EXPECT_TRUE(records(ads, "DSads").empty());
    // B(H--:V--:B----), then H(-): own splits only, then a first level with children.
    rvd_params* a2 = t->access_cluster("ADS")->access_relation(-1, -1, 2, false);
    cod_params::parse_decomp("B(H--:V--:B----)", v);
    a2->set("Ddecomp", 0, 0, v);
    cod_params::parse_decomp("H(HHV)", v);
    a2->set("Ddecomp", 1, 0, v);
    a2->finalize(false);
    EXPECT_EQ((std::vector<int>{2, 3}), records(a2, "DOads"));
    // Level 0: groups from the last (B), then V, then H; level 1: H then its children V, H.
    EXPECT_EQ((std::vector<int>{3, 2, 1, 1, 2, 1}), records(a2, "DSads"));
    std::vector<uint8_t> seg = written(a2);
    // Read back into a fresh tree: the same lists.
    std::unique_ptr<siz_params> back = styles_tree();
    ASSERT_TRUE(back->translate_marker_segment(0xFF73, int(seg.size() - 4), seg.data() + 4, -1, 0));
    rvd_params* b2 = back->access_cluster("ADS")->access_unique(-1, -1, 2);
    EXPECT_EQ(records(a2, "DOads"), records(b2, "DOads"));
    EXPECT_EQ(records(a2, "DSads"), records(b2, "DSads"));
    // A tile object equal to the main-header one writes nothing.
    rvd_params* tile2 = t->access_cluster("ADS")->access_relation(1, -1, 2, false);
    tile2->set("Ddecomp", 0, 0, a2->get("Ddecomp", 0, 0, v) ? v : 0);
    cod_params::parse_decomp("H(HHV)", v);
    tile2->set("Ddecomp", 1, 0, v);
    tile2->finalize(false);
    EXPECT_TRUE(written(tile2, a2).empty());

    uint8_t zero[2] = {0, 0};
    int idx = 0;
    EXPECT_FALSE(t->access_cluster("ADS")->check_marker_segment(0xFF73, 2, zero, idx));
    rvd_params* bad = t->access_cluster("ADS")->access_relation(-1, -1, 3, false);
    bad->set("Ddecomp", 0, 0, 1 | (1 << 12));
    EXPECT_EQ(lead + "Encountered invalid `Ddecomp' attribute value, 0x1001",
              error_text([&] { bad->finalize(false); }));
    string_message out;
    a2->textualize_attributes(out);
    EXPECT_NE(std::string::npos, out.text.find("Ddecomp:I2=B(H--:V--:B----),H(HHV)\n"));
}

namespace {
// Writes the main and tile headers of a finalized tree, reads them into a fresh tree,
// finalizes that after reading, and compares Cdecomp for every level of every
// tile-component.
void decomp_round_trip(const std::vector<const char*>& strings, int levels)
{
    std::unique_ptr<siz_params> a = make_param_tree(3, 2, true);
    set_simple_siz(a.get(), 2, 64, 64);
    for (const char* s : strings)
        ASSERT_TRUE(a->parse_string(s)) << s;
    a->finalize_all(false);
    std::unique_ptr<siz_params> b = make_param_tree(3, 2, true);
    for (int t = -1; t < 3; t++) {
        vector_output out;
        a->generate_marker_segments(&out, t, 0);
        translate_all(b.get(), out.finish(), t, 0);
    }
    b->finalize_all(true);
    for (int t = -1; t < 3; t++)
        for (int c = 0; c < 2; c++)
            for (int r = 0; r < levels + 2; r++) {
                int va = -1, vb = -2;
                ASSERT_TRUE(a->access_cluster("COD")->access_relation(t, c, 0, true)->get("Cdecomp", r, 0, va));
                ASSERT_TRUE(b->access_cluster("COD")->access_relation(t, c, 0, true)->get("Cdecomp", r, 0, vb));
                char ta[24], tb[24];
                cod_params::textualize_decomp(ta, va);
                cod_params::textualize_decomp(tb, vb);
                EXPECT_STREQ(ta, tb) << "tile " << t << " component " << c << " level " << r;
            }
}
} // namespace

TEST(DecompStyles, DfsAndAdsCarryDecompositionsThroughSegments)
{
    decomp_round_trip({"Clevels=3", "Cdecomp={V(-)},{H(-)},{B(-:-:-)}"}, 3);
    // An ADS index stands in for the level count, which therefore equals the inherited one.
    decomp_round_trip({"Clevels=2", "Cdecomp:T1C0={B(H--:H--:H--)},{B(-:-:-)}"}, 2);
    // Two tile-components with the same structure share one ADS segment.
    std::unique_ptr<siz_params> a = make_param_tree(3, 2, true);
    set_simple_siz(a.get(), 2, 64, 64);
    a->parse_string("Cdecomp:T1C0={B(H--:H--:H--)},{B(-:-:-)}");
    a->parse_string("Cdecomp:T1C1={B(H--:H--:H--)},{B(-:-:-)}");
    a->finalize_all(false);
    int ads0 = 0, ads1 = 0;
    a->access_cluster("COD")->access_unique(1, 0, 0)->get("Cads", 0, 0, ads0);
    a->access_cluster("COD")->access_unique(1, 1, 0)->get("Cads", 0, 0, ads1);
    EXPECT_EQ(1, ads0);
    EXPECT_EQ(ads0, ads1);
    vector_output out;
    a->generate_marker_segments(&out, 1, 0);
    size_t count = 0;
    const std::vector<uint8_t>& bytes = out.finish();
    for (size_t pos = 0; pos + 4 <= bytes.size(); pos += 2 + ((size_t(bytes[pos + 2]) << 8) | bytes[pos + 3]))
        count += (bytes[pos] == 0xFF && bytes[pos + 1] == 0x73) ? 1 : 0;
    EXPECT_EQ(1u, count);
    // SIZ sees the decomposition through the real coding-style class.
    int ext = 0;
    a->get("Sextensions", 0, 0, ext);
    EXPECT_EQ(RVD_SIZ_EXT_DECOMP, ext & RVD_SIZ_EXT_DECOMP);
}
