// Marker-segment routing and generation, field readers, copying and the typical-tile
// test, on the stand-in classes of the test tree.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

int spec_index(const char* name)
{
    for (int n = 0; n < num_cluster_specs; n++)
        if (std::string(cluster_specs()[n].name) == name)
            return n;
    return -1;
}

// One stand-in segment body: index byte then 16-bit values.
std::vector<uint8_t> body(int idx, std::vector<int> values)
{
    std::vector<uint8_t> b{static_cast<uint8_t>(idx < 0 ? 0xFF : idx)};
    for (int v : values) {
        b.push_back(static_cast<uint8_t>(v >> 8));
        b.push_back(static_cast<uint8_t>(v));
    }
    return b;
}

class RvdParamsMarkers : public ::testing::Test {
protected:
    void SetUp() override { root = make_test_tree(4, 3); }
    rvd_params* cluster(const char* name) { return root->access_cluster(name); }
    bool translate(const char* name, int idx, std::vector<int> values, int tile, int tpart = 0)
    {
        std::vector<uint8_t> b = body(idx, values);
        return root->translate_marker_segment(test_params::test_code(spec_index(name)),
                                              static_cast<int>(b.size()), b.data(), tile, tpart);
    }
    int value(rvd_params* obj, const char* name, int r = 0)
    {
        int v = -12345;
        if (obj == nullptr || !obj->get(generic_name(spec_index(name), GK_INT), r, 0, v, true, false))
            return -12345;
        return v;
    }
    std::unique_ptr<test_params> root;
};
} // namespace

TEST(RvFieldReader, ShortReadsThrowBeforeConsumingAndValuesAreBigEndian)
{
    const uint8_t data[] = {0x3F, 0x80, 0x00, 0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 0xAB};
    const uint8_t* bp = data;
    const uint8_t* end = data + sizeof(data);
    EXPECT_EQ(1.0f, rv_read_float(bp, end));
    EXPECT_EQ(1.0, rv_read_double(bp, end));
    const uint8_t* before = bp;
    try {
        rv_read_big(bp, end, 2);
        ADD_FAILURE();
    } catch (const rv_short_body& e) {
        EXPECT_EQ(before, e.pos);
    }
    EXPECT_EQ(before, bp);
    EXPECT_EQ(0xABu, rv_read_big(bp, end, 1));
    const uint8_t word[] = {0xFF, 0xFE, 0xFD, 0xFC};
    bp = word;
    EXPECT_EQ(0xFFFEFDFCu, rv_read_big(bp, word + 4, 4));
    bp = word;
    EXPECT_EQ(0xFFFEFDu, rv_read_big(bp, word + 4, 3));
    EXPECT_THROW(rv_read_double(bp, word + 4), rv_short_body);
    EXPECT_EQ(0, rv_int_log2(1));
    EXPECT_EQ(6, rv_int_log2(64));
    EXPECT_EQ(30, rv_int_log2(1 << 30));
    EXPECT_EQ(0, rv_int_log2(48));
    EXPECT_EQ(0, rv_int_log2(0));
    EXPECT_EQ(0, rv_int_log2(-4));
}

TEST_F(RvdParamsMarkers, SegmentsReachTheirObjects)
{
    // A component segment in the main header creates and marks only that object; the
    // companion object is created unmarked.
    ASSERT_TRUE(translate("COD", 2, {7}, -1));
    rvd_params* coc = cluster("COD")->access_unique(-1, 2, 0);
    ASSERT_NE(nullptr, coc);
    EXPECT_TRUE(coc->is_marked());
    EXPECT_FALSE(coc->is_empty());
    EXPECT_FALSE(cluster("COD")->is_marked());
    rvd_params* qcc = cluster("QCD")->access_unique(-1, 2, 0);
    ASSERT_NE(nullptr, qcc);
    EXPECT_FALSE(qcc->is_marked());
    EXPECT_EQ(7, value(cluster("COD")->access_relation(3, 2, 0, true), "COD"));

    // Three tile-parts of one tile fill the tile's POC instances in turn.
    for (int p = 0; p < 3; p++)
        ASSERT_TRUE(translate("POC", -1, {10 + p}, 1, p));
    rvd_params* poc = cluster("POC")->access_unique(1, -1, 0);
    for (int p = 0; p < 3; p++) {
        ASSERT_NE(nullptr, poc);
        EXPECT_EQ(p, poc->get_instance());
        EXPECT_EQ(10 + p, value(poc, "POC"));
        poc = poc->access_next_inst();
    }
    ASSERT_NE(nullptr, poc); // the place for a fourth is already there
    EXPECT_TRUE(poc->is_empty());

    // The index of an instance-indexed class names the instance.
    ASSERT_TRUE(translate("MCT", 3, {5}, 1));
    rvd_params* mct = cluster("MCT")->access_unique(1, -1, 3);
    ASSERT_NE(nullptr, mct);
    EXPECT_TRUE(mct->is_marked());
    EXPECT_EQ(nullptr, cluster("MCT")->access_unique(1, -1, 1));

    // Unclaimed codes and tile-part headers of clusters without tiles.
    uint8_t b[] = {0xFF, 0, 1};
    EXPECT_FALSE(root->translate_marker_segment(0xFF90, 3, b, -1, 0));
    EXPECT_FALSE(root->translate_marker_segment(test_params::test_code(spec_index("CRG")), 3, b, 0, 0));
    EXPECT_TRUE(no_warnings());
}

TEST_F(RvdParamsMarkers, RepeatedAndMalformedSegments)
{
    ASSERT_TRUE(translate("COD", -1, {1, 2}, 2));
    EXPECT_FALSE(translate("COD", -1, {9}, 2));
    EXPECT_TRUE(warning_seen("Ravade Core Warning:\nIgnoring a repeated marker segment for the "
                             "same tile and component within one header; the first one is kept."));
    rvd_params* tile = cluster("COD")->access_unique(2, -1, 0);
    EXPECT_EQ(1, value(tile, "COD", 0));
    EXPECT_EQ(2, value(tile, "COD", 1));
    EXPECT_EQ(-12345, value(tile, "COD", 2));

    EXPECT_EQ(lead + "Codestream contains a parameter marker segment with an invalid image "
                     "component or tile index: parameter type is \"COD\"; tile number is 1 "
                     "(starting from 0); component index is 7 (starting from 0).",
              error_text([&] { translate("COD", 7, {1}, 1); }));
    EXPECT_EQ(lead + "Codestream contains a parameter marker segment with an invalid image "
                     "component or tile index: parameter type is \"RGN\"; tile number is -1 "
                     "[i.e., global]; component index is 3 (starting from 0).",
              error_text([&] { translate("RGN", 3, {1}, -1); }));
    std::vector<uint8_t> odd = {1, 0x00};
    EXPECT_EQ(lead + "Malformed QCD marker segment encountered. Marker segment is too small.",
              error_text([&] {
                  root->translate_marker_segment(test_params::test_code(spec_index("QCD")), 2,
                                                 odd.data(), -1, 0);
              }));
}

TEST_F(RvdParamsMarkers, GenerationWritesOnlyWhatDiffersFromTheSegmentInForce)
{
    rvd_params* cod = cluster("COD");
    cod->set("cod_i", 0, 0, 5);
    cod->access_relation(-1, 1, 0, false)->set("cod_i", 0, 0, 6);
    cod->access_relation(2, -1, 0, false)->set("cod_i", 0, 0, 7);
    cod->access_relation(2, 0, 0, false)->set("cod_i", 0, 0, 7); // equals its tile
    cod->access_relation(2, 2, 0, false)->set("cod_i", 0, 0, 8);
    root->finalize_all(false);

    // A sizing pass, then a writing pass without clear_marks writes nothing new.
    int main_size = root->generate_marker_segments(nullptr, -1, 0);
    EXPECT_EQ(2 * 7, main_size); // COD and the COC of component 1
    EXPECT_EQ(0, root->generate_marker_segments(nullptr, -1, 0));
    root->clear_marks();
    vector_output out;
    EXPECT_EQ(main_size, root->generate_marker_segments(&out, -1, 0));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x45, 0, 5, 0xFF, 0, 5, 0xFF, 0x45, 0, 5, 1, 0, 6}),
              out.finish());

    // A tile that only inherits writes nothing; tile 2 writes its COD and the
    // component that differs from it (component 1 inherits the tile object, whose
    // value is what counts once the tile's COD is written).
    EXPECT_EQ(0, root->generate_marker_segments(nullptr, 1, 0));
    vector_output tile_out;
    EXPECT_EQ(14, root->generate_marker_segments(&tile_out, 2, 0));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x45, 0, 5, 0xFF, 0, 7, 0xFF, 0x45, 0, 5, 2, 0, 8}),
              tile_out.finish());

    // RGN is component-forced: a tile with an RGN object offers every component.
    rvd_params* rgn = cluster("RGN");
    rgn->access_relation(3, -1, 0, false)->set("rgn_i", 0, 0, 4);
    root->clear_marks();
    root->generate_marker_segments(nullptr, 3, 0);
    for (int c = 0; c < 3; c++) {
        rvd_params* own = rgn->access_unique(3, c, 0);
        ASSERT_NE(nullptr, own) << c;
        EXPECT_EQ(1, as_test(own)->offered) << c;
        EXPECT_EQ(rgn->access_unique(3, -1, 0), as_test(own)->last_ref) << c;
        EXPECT_FALSE(own->is_marked()); // same shift as the tile's segment: nothing written
    }
}

TEST(RvdParamsMarkersRoundTrip, GeneratedHeadersReadBackToTheSameVisibleValues)
{
    for (unsigned seed : {5u, 17u, 123u}) {
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        std::unique_ptr<test_params> a = make_test_tree(4, 3);
        for (int step = 0; step < 60; step++) {
            int n = pick(0, num_cluster_specs - 1);
            const cluster_spec& spec = cluster_specs()[n];
            int t = spec.tiles ? pick(-1, 3) : -1;
            int c = spec.comps ? pick(-1, 2) : -1;
            int inst = spec.indexed ? pick(0, 3) : 0;
            rvd_params* obj = a->access_cluster(n)->access_relation(t, c, inst, false);
            if (obj == nullptr || (spec.insts && !spec.indexed))
                continue;
            obj->delete_unparsed_attribute(generic_name(n, GK_INT));
            int records = pick(1, 3);
            for (int r = 0; r < records; r++)
                obj->set(generic_name(n, GK_INT), r, 0, pick(-300, 300));
        }
        a->finalize_all(false);
        std::unique_ptr<test_params> b = make_test_tree(4, 3);
        for (int t = -1; t < 4; t++) {
            vector_output out;
            int size = a->generate_marker_segments(&out, t, 0);
            const std::vector<uint8_t>& bytes = out.finish();
            ASSERT_EQ(static_cast<size_t>(size), bytes.size());
            translate_all(b.get(), bytes, t, 0);
        }
        for (int n = 0; n < num_cluster_specs; n++) {
            const cluster_spec& spec = cluster_specs()[n];
            if (spec.insts && !spec.indexed)
                continue;
            for (int t = -1; t < (spec.tiles ? 4 : 0); t++)
                for (int c = -1; c < (spec.comps ? 3 : 0); c++)
                    for (int i = 0; i < (spec.indexed ? 4 : 1); i++) {
                        rvd_params* pa = a->access_cluster(n)->access_relation(t, c, i, true);
                        rvd_params* pb = b->access_cluster(n)->access_relation(t, c, i, true);
                        for (int r = 0; r < 3; r++) {
                            int va = -1, vb = -1;
                            bool oka = pa != nullptr && pa->get(generic_name(n, GK_INT), r, 0, va, true, false);
                            bool okb = pb != nullptr && pb->get(generic_name(n, GK_INT), r, 0, vb, true, false);
                            ASSERT_EQ(oka, okb) << spec.name << " " << t << "," << c << "," << i << " r" << r;
                            if (oka) {
                                ASSERT_EQ(va, vb);
                            }
                        }
                    }
        }
    }
}

TEST_F(RvdParamsMarkers, CopyingPairsObjectsAndSkipsFilledOnes)
{
    std::unique_ptr<test_params> dst = make_test_tree(4, 3);
    rvd_params* scod = cluster("COD");
    rvd_params* dcod = dst->access_cluster("COD");
    scod->set("cod_i", 0, 0, 1);
    scod->access_relation(-1, 1, 0, false)->set("cod_i", 0, 0, 11);
    scod->access_relation(-1, 2, 0, false)->set("cod_i", 0, 0, 12);
    dcod->set("cod_i", 0, 0, 99); // already holds a value: kept
    dcod->copy_from(scod, -1, -1, -1, 1, 2);
    EXPECT_EQ(99, value(dcod, "COD"));
    EXPECT_EQ(11, value(dcod->access_unique(-1, 0, 0), "COD"));
    EXPECT_EQ(12, value(dcod->access_unique(-1, 1, 0), "COD"));
    EXPECT_EQ(1, as_test(dcod->access_unique(-1, 0, 0))->last_skip);
    EXPECT_EQ(2, as_test(dcod->access_unique(-1, 0, 0))->last_discard);
    EXPECT_EQ(nullptr, dcod->access_unique(-1, 2, 0));

    // Neither side has a tile-2 object: nothing is copied or created.
    dcod->copy_from(scod, 2, 2);
    EXPECT_EQ(nullptr, dcod->access_unique(2, -1, 0));
    scod->access_relation(2, -1, 0, false)->set("cod_i", 0, 0, 22);
    dcod->copy_from(scod, 2, 2);
    EXPECT_EQ(22, value(dcod->access_unique(2, -1, 0), "COD"));

    // Instances: indexed by identifier, POC by position in a tile.
    cluster("MCT")->access_relation(-1, -1, 4, false)->set("mct_i", 0, 0, 44);
    dst->access_cluster("MCT")->copy_from(cluster("MCT"), -1, -1, 4);
    EXPECT_EQ(44, value(dst->access_cluster("MCT")->access_unique(-1, -1, 4), "MCT"));
    rvd_params* poc = cluster("POC")->access_relation(1, -1, 0, false);
    poc->set("poc_i", 0, 0, 100);
    poc->new_instance()->set("poc_i", 0, 0, 101);
    poc->access_next_inst()->new_instance()->set("poc_i", 0, 0, 102);
    dst->access_cluster("POC")->copy_from(cluster("POC"), 1, 1);
    rvd_params* dpoc = dst->access_cluster("POC")->access_unique(1, -1, 0);
    for (int k = 0; k < 3; k++, dpoc = dpoc->access_next_inst()) {
        ASSERT_NE(nullptr, dpoc);
        EXPECT_EQ(100 + k, value(dpoc, "POC"));
    }

    // A marked target is refused; class and head checks.
    std::unique_ptr<test_params> dst2 = make_test_tree(4, 3);
    as_test(dst2->access_cluster("COD"))->set_marked();
    EXPECT_EQ(lead + "Illegal attempt to modify a `rvd_params' object which has already been "
                     "marked!",
              error_text([&] { dst2->access_cluster("COD")->copy_from(scod, -1, -1); }));
    EXPECT_EQ(lead + "Trying to use `rvd_params::copy_from' to copy an object to one which has "
                     "been derived differently.",
              error_text([&] { dcod->copy_from(cluster("QCD"), -1, -1); }));
    EXPECT_EQ(lead + "Trying to use `rvd_params::copy_from' to copy an object which is not a "
                     "cluster head, or to copy to another object which is not the head of its "
                     "cluster.",
              error_text([&] { dcod->copy_from(scod->access_unique(2, -1, 0), -1, -1); }));
    EXPECT_EQ(lead + "Trying to use `rvd_params::copy_all' to copy an object to one which has "
                     "been derived differently.",
              error_text([&] { dcod->copy_all(cluster("QCD")); }));
    EXPECT_EQ(lead + "Trying to use `rvd_params::copy_all' to copy an object which is not a "
                     "cluster head, or to copy to another object which is not the head of its "
                     "cluster.",
              error_text([&] { dcod->access_unique(2, -1, 0)->copy_all(scod); }));
}

TEST_F(RvdParamsMarkers, CopyAllFromTheRootCopiesEveryClusterAndTile)
{
    for (int n = 0; n < num_cluster_specs; n++) {
        const cluster_spec& spec = cluster_specs()[n];
        rvd_params* h = root->access_cluster(n);
        h->set(generic_name(n, GK_INT), 0, 0, n);
        if (spec.tiles)
            h->access_relation(3, -1, 0, false)->set(generic_name(n, GK_INT), 0, 0, 100 + n);
        if (spec.comps)
            h->access_relation(1, 2, 0, false)->set(generic_name(n, GK_INT), 0, 0, 200 + n);
    }
    std::unique_ptr<test_params> dst = make_test_tree(4, 3);
    dst->copy_all(root.get());
    for (int n = 0; n < num_cluster_specs; n++) {
        const cluster_spec& spec = cluster_specs()[n];
        rvd_params* h = dst->access_cluster(n);
        EXPECT_EQ(n, value(h, spec.name));
        if (spec.tiles) {
            EXPECT_EQ(100 + n, value(h->access_unique(3, -1, 0), spec.name));
        }
        if (spec.comps) {
            EXPECT_EQ(200 + n, value(h->access_unique(1, 2, 0), spec.name));
        }
        EXPECT_EQ(nullptr, h->access_unique(0, -1, 0));
    }
}

TEST_F(RvdParamsMarkers, TypicalTiles)
{
    rvd_params* cod = cluster("COD");
    cod->set("cod_i", 0, 0, 3);
    EXPECT_TRUE(root->check_typical_tile(1));
    rvd_params* tile = cod->access_relation(1, -1, 0, false);
    tile->set("cod_i", 0, 0, 3);
    EXPECT_TRUE(root->check_typical_tile(1));
    tile->set("cod_i", 1, 0, 3); // two records: never typical
    EXPECT_FALSE(root->check_typical_tile(1));
    tile->delete_unparsed_attribute("cod_i");
    cod->access_relation(1, 2, 0, false)->set("cod_i", 0, 0, 4);
    EXPECT_FALSE(root->check_typical_tile(1));
    cluster("QCD")->access_relation(2, -1, 0, false)->set("qcd_e", 0, 0, 1);
    cluster("RGN")->access_relation(2, 1, 0, false)->set("rgn_f", 0, 0, 0.5);
    EXPECT_FALSE(root->check_typical_tile(2));
    EXPECT_FALSE(root->check_typical_tile(2, "QCD"));
    EXPECT_TRUE(root->check_typical_tile(2, "QCD:RGN"));
    EXPECT_TRUE(root->check_typical_tile(2, "RGN:XYZ:QCD"));
    EXPECT_EQ(lead + "Invalid `tile_idx' supplied to `rvd_params::check_typical_tile'.",
              error_text([&] { root->check_typical_tile(4); }));
}
