// The parameter database: structure, fall-back reads, type rules, change flags,
// companions, finalization order and every misuse text.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

class RvdParams : public ::testing::Test {
protected:
    void SetUp() override { root = make_test_tree(4, 3); }
    rvd_params* cluster(const char* name) { return root->access_cluster(name); }
    std::unique_ptr<test_params> root;
};
} // namespace

TEST_F(RvdParams, ClustersAreListedInLinkOrderWithTheirCounts)
{
    for (int n = 0; n < num_cluster_specs; n++) {
        rvd_params* h = root->access_cluster(n);
        ASSERT_NE(nullptr, h);
        EXPECT_STREQ(cluster_specs()[n].name, h->get_cluster_name());
        EXPECT_EQ(h, root->access_cluster(cluster_specs()[n].name));
        EXPECT_EQ(cluster_specs()[n].tiles ? 4 : 0, h->get_num_tiles());
        EXPECT_EQ(cluster_specs()[n].comps ? 3 : 0, h->get_num_comps());
    }
    EXPECT_EQ(nullptr, root->access_cluster(13));
    EXPECT_EQ(nullptr, root->access_cluster("XYZ"));
    EXPECT_EQ(root.get(), cluster("QCD")->access_cluster(nullptr));
    // Out-of-range lookups are no error.
    EXPECT_EQ(nullptr, cluster("COD")->access_relation(4, 0, 0, false));
    EXPECT_EQ(nullptr, cluster("COD")->access_relation(0, 3, 0, true));
    EXPECT_EQ(nullptr, cluster("COD")->access_unique(-2, 0, 0));
}

TEST_F(RvdParams, ExtrapolationReturnsTheLastRecordOnlyWhenAsked)
{
    rvd_params* cod = cluster("COD");
    cod->set("cod_i", 0, 0, 10);
    cod->set("cod_i", 1, 0, 20);
    int v = 0;
    EXPECT_TRUE(cod->get("cod_i", 5, 0, v));
    EXPECT_EQ(20, v);
    EXPECT_FALSE(cod->get("cod_i", 5, 0, v, true, false));
    EXPECT_FALSE(cod->get("cod_i", -1, 0, v));
    // Without the extrapolate flag a read past the end fails.
    cod->set("cod_a", 0, 0, 1);
    cod->set("cod_a", 0, 1, 2);
    EXPECT_FALSE(cod->get("cod_a", 1, 0, v));
}

TEST_F(RvdParams, ReadsFallBackInTheDocumentedOrderAndStopAtAHolder)
{
    rvd_params* cod = cluster("COD");
    rvd_params* tc = cod->access_relation(1, 2, 0, false);
    rvd_params* tile = cod->access_unique(1, -1, 0);
    rvd_params* mc = cod->access_relation(-1, 2, 0, false);
    ASSERT_NE(nullptr, tile);
    ASSERT_EQ(tc, cod->access_unique(1, 2, 0));
    int v = 0;
    EXPECT_FALSE(tc->get("cod_e", 0, 0, v));
    cod->set("cod_e", 0, 0, 0);
    EXPECT_TRUE(tc->get("cod_e", 0, 0, v));
    EXPECT_EQ(0, v);
    mc->set("cod_e", 0, 0, 1);
    EXPECT_TRUE(tc->get("cod_e", 0, 0, v));
    EXPECT_EQ(1, v);
    tile->set("cod_e", 0, 0, 2);
    EXPECT_TRUE(tc->get("cod_e", 0, 0, v));
    EXPECT_EQ(2, v);
    tc->set("cod_e", 0, 0, 0);
    EXPECT_TRUE(tc->get("cod_e", 0, 0, v));
    EXPECT_EQ(0, v);
    tc->delete_unparsed_attribute("cod_e");
    EXPECT_FALSE(tc->get("cod_e", 0, 0, v, false));
    tc->set("cod_e", 0, 0, 0);
    // Other components of tile 1 see the tile object; other tiles see the main
    // component object or the main object.
    EXPECT_TRUE(cod->access_relation(1, 0, 0, true)->get("cod_e", 0, 0, v));
    EXPECT_EQ(2, v);
    EXPECT_TRUE(cod->access_relation(3, 2, 0, true)->get("cod_e", 0, 0, v));
    EXPECT_EQ(1, v);
    EXPECT_TRUE(cod->access_relation(3, 1, 0, true)->get("cod_e", 0, 0, v));
    EXPECT_EQ(0, v);

    // A tile object that holds the attribute with the field unset gives false.
    cod->set("cod_a", 0, 0, 5);
    cod->set("cod_a", 0, 1, 6);
    tile->set("cod_a", 0, 0, 7);
    EXPECT_FALSE(tile->get("cod_a", 0, 1, v));
    EXPECT_TRUE(tile->get("cod_a", 0, 0, v));
    EXPECT_EQ(7, v);
    // Derived values are skipped when not wanted: the read falls back.
    tile->set("cod_i", 0, 0, 99);
    tile->set_derived("cod_i");
    cod->set("cod_i", 0, 0, 3);
    EXPECT_TRUE(tile->get("cod_i", 0, 0, v, true, true, true));
    EXPECT_EQ(99, v);
    EXPECT_TRUE(tile->get("cod_i", 0, 0, v, true, true, false));
    EXPECT_EQ(3, v);
}

TEST_F(RvdParams, InstancesInheritOnlyInIndexedClasses)
{
    // POC: instances per tile, numbered in creation order; instance 2 never inherits.
    rvd_params* poc = cluster("POC");
    EXPECT_EQ(nullptr, poc->new_instance()); // main header of a tiled cluster
    rvd_params* p0 = poc->access_relation(1, -1, 0, false);
    rvd_params* p1 = p0->new_instance();
    rvd_params* p2 = p0->new_instance();
    ASSERT_NE(nullptr, p2);
    EXPECT_EQ(1, p1->get_instance());
    EXPECT_EQ(2, p2->get_instance());
    EXPECT_EQ(p2, poc->access_relation(1, -1, 2, true));
    EXPECT_EQ(nullptr, poc->access_relation(1, -1, 3, false));
    EXPECT_EQ(nullptr, poc->access_relation(2, -1, 1, false)); // no own object, instance 1
    poc->set("poc_b", 0, 0, true);
    p0->set("poc_b", 0, 0, false);
    bool b = true;
    EXPECT_FALSE(p2->get("poc_b", 0, 0, b));
    EXPECT_TRUE(p0->get("poc_b", 0, 0, b));
    EXPECT_FALSE(b);

    // MCT: instances are identifiers; a tile lacking instance 5 reads the main one.
    rvd_params* mct = cluster("MCT");
    rvd_params* m5 = mct->access_relation(-1, -1, 5, false);
    ASSERT_NE(nullptr, m5);
    EXPECT_EQ(5, m5->get_instance());
    m5->set("Mmatrix_size", 0, 0, 12);
    rvd_params* t3 = mct->access_relation(3, -1, 0, false);
    EXPECT_EQ(m5, mct->access_relation(3, -1, 5, true));
    EXPECT_EQ(nullptr, mct->access_relation(3, -1, 4, true));
    rvd_params* t3i5 = mct->access_relation(3, -1, 5, false);
    ASSERT_NE(nullptr, t3i5);
    EXPECT_NE(m5, t3i5);
    int v = 0;
    EXPECT_TRUE(t3i5->get("Mmatrix_size", 0, 0, v));
    EXPECT_EQ(12, v);
    // Chains stay sorted with gaps.
    mct->access_relation(3, -1, 2, false);
    mct->access_relation(3, -1, 9, false);
    std::vector<int> chain;
    for (rvd_params* p = t3; p != nullptr; p = p->access_next_inst())
        chain.push_back(p->get_instance());
    EXPECT_EQ((std::vector<int>{0, 2, 5, 9}), chain);
    // Non-indexed classes refuse instances on creation; component-specific objects
    // without a component never take a second instance.
    EXPECT_EQ(nullptr, cluster("COD")->access_relation(1, 1, 1, false));
    EXPECT_EQ(nullptr, cluster("COD")->new_instance());
}

TEST_F(RvdParams, TypeRulesForBooleansEnumerationsAndFlags)
{
    rvd_params* cod = cluster("COD");
    EXPECT_EQ(lead + "Attempting to set a boolean code-stream parameter attribute field with an "
                     "integer not equal to 0 or 1!\nThe attribute name is \"cod_b\".",
              error_text([&] { cod->set("cod_b", 0, 0, 2); }));
    cod->set("cod_b", 0, 0, 1);
    EXPECT_EQ(lead + "Attempting to set a code-stream attribute field using an integer value "
                     "which does not match any of the defined translation values for the "
                     "field!\nThe attribute name is \"cod_e\".",
              error_text([&] { cod->set("cod_e", 0, 0, 3); }));
    cod->set("cod_e", 0, 0, 2);
    cod->set("cod_g", 0, 0, 6);
    int v = 0;
    EXPECT_TRUE(cod->get("cod_g", 0, 0, v));
    EXPECT_EQ(6, v);
    EXPECT_EQ(lead + "Attempting to set a code-stream attribute field using an integer value "
                     "which is incompatible with the flags defined for the field!\nThe "
                     "attribute name is \"cod_g\".",
              error_text([&] { cod->set("cod_g", 0, 0, 8); }));
    cod->set("cod_g", 0, 0, 0);
    // Custom and integer fields take any value; floats round to single precision.
    cod->set("cod_c", 0, 0, -123456);
    cod->set("cod_f", 0, 0, 0.1);
    float f = 0;
    EXPECT_TRUE(cod->get("cod_f", 0, 0, f));
    EXPECT_EQ(0.1f, f);
    bool b = false;
    EXPECT_TRUE(cod->get("cod_b", 0, 0, b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(cod->get("cod_b", 0, 0, v)); // the integer form reads booleans
    EXPECT_EQ(1, v);
}

TEST_F(RvdParams, ChangeFlagsRiseOnceAndClearMarksResetsThem)
{
    rvd_params* qcd = cluster("QCD");
    rvd_params* obj = qcd->access_relation(2, 1, 0, false);
    EXPECT_FALSE(root->any_changes());
    EXPECT_TRUE(obj->is_empty());
    obj->set("qcd_i", 0, 0, 4);
    EXPECT_FALSE(obj->is_empty());
    EXPECT_TRUE(obj->is_changed());
    EXPECT_TRUE(qcd->is_changed());
    EXPECT_TRUE(root->is_changed());
    EXPECT_TRUE(root->any_changes());
    EXPECT_FALSE(qcd->access_unique(2, -1, 0)->is_changed());
    as_test(obj)->set_marked();
    root->clear_marks();
    EXPECT_FALSE(obj->is_marked());
    EXPECT_FALSE(obj->is_changed());
    EXPECT_FALSE(root->any_changes());
    obj->set("qcd_i", 0, 0, 4); // same value: no change
    EXPECT_FALSE(root->any_changes());
    obj->set("qcd_i", 1, 0, 4); // a record added
    EXPECT_TRUE(root->any_changes());
    root->clear_marks();
    obj->set("qcd_i", 1, 0, 5);
    EXPECT_TRUE(root->any_changes());
    root->clear_marks();
    obj->delete_unparsed_attribute("qcd_i");
    EXPECT_TRUE(root->any_changes());
    root->clear_marks();
    obj->delete_unparsed_attribute("qcd_i"); // nothing left to remove
    EXPECT_FALSE(root->any_changes());
}

TEST_F(RvdParams, CompanionClustersGetObjectsForTheSameTileAndComponent)
{
    auto count_objects = [&](const char* name) {
        rvd_params* h = cluster(name);
        int n = 0;
        for (int t = -1; t < std::max(1, h->get_num_tiles()); t++)
            for (int c = -1; c < std::max(1, h->get_num_comps()); c++)
                for (rvd_params* p = h->access_unique(t, c, 0); p != nullptr;
                     p = p->access_next_inst())
                    n++;
        return n;
    };
    cluster("RGN")->access_relation(0, 1, 0, false);
    for (int n = 0; n < num_cluster_specs; n++) {
        const char* name = cluster_specs()[n].name;
        int expect = (std::string(name) == "RGN") ? 3 : 1; // head, tile, tile-component
        EXPECT_EQ(expect, count_objects(name)) << name;
    }
    cluster("COD")->access_relation(2, 0, 0, false);
    EXPECT_NE(nullptr, cluster("QCD")->access_unique(2, 0, 0));
    EXPECT_NE(nullptr, cluster("QCD")->access_unique(2, -1, 0));
    EXPECT_EQ(3, count_objects("QCD"));
    // QCD names COD back, so the pair stays in step either way.
    cluster("QCD")->access_relation(3, 2, 0, false);
    EXPECT_NE(nullptr, cluster("COD")->access_unique(3, 2, 0));
    // An ADS tile object brings the QCD tile object and one for every component.
    cluster("ADS")->access_relation(1, -1, 0, false);
    for (int c = -1; c < 3; c++)
        EXPECT_NE(nullptr, cluster("QCD")->access_unique(1, c, 0)) << c;
    // ... and those QCD objects bring their COD companions in turn.
    EXPECT_NE(nullptr, cluster("COD")->access_unique(1, 0, 0));
    EXPECT_EQ(nullptr, cluster("RGN")->access_unique(1, 0, 0));
}

TEST_F(RvdParams, InheritanceRewiringCreatesTileComponentObjects)
{
    rvd_params* rgn = cluster("RGN");
    rvd_params* mc = rgn->access_relation(-1, 1, 0, false);
    EXPECT_EQ(mc, rgn->access_relation(2, 1, 0, true));
    rvd_params* tile = rgn->access_relation(2, -1, 0, false);
    // The tile's component 1 now has an object of its own; component 0 follows the tile.
    rvd_params* own = rgn->access_unique(2, 1, 0);
    ASSERT_NE(nullptr, own);
    EXPECT_NE(mc, own);
    EXPECT_EQ(tile, rgn->access_relation(2, 0, 0, true));
    // A new main-header component object gives existing tiles their own objects too.
    rvd_params* mc0 = rgn->access_relation(-1, 0, 0, false);
    EXPECT_NE(nullptr, rgn->access_unique(2, 0, 0));
    EXPECT_EQ(mc0, rgn->access_relation(3, 0, 0, true));
    EXPECT_EQ(rgn, rgn->access_relation(3, -1, 0, true));
}

TEST_F(RvdParams, FinalizeAllVisitsObjectsOnceAndTileMinusOneOnlyTheMainHeader)
{
    rvd_params* cod = cluster("COD");
    cod->access_relation(-1, 1, 0, false);
    cod->access_relation(2, 0, 0, false);
    cluster("POC")->access_relation(3, -1, 0, false)->new_instance();
    cluster("MCT")->access_relation(-1, -1, 4, false);
    std::vector<test_params*> all;
    for (int n = 0; n < num_cluster_specs; n++) {
        rvd_params* h = root->access_cluster(n);
        for (int t = -1; t < std::max(1, h->get_num_tiles()); t++)
            for (int c = -1; c < std::max(1, h->get_num_comps()); c++)
                for (rvd_params* p = h->access_unique(t, c, 0); p != nullptr;
                     p = p->access_next_inst())
                    all.push_back(as_test(p));
    }
    root->finalize_all(-1, false);
    for (auto* p : all)
        EXPECT_EQ(p->get_tile_idx() == -1 ? 1 : 0, p->finalize_count)
            << p->get_cluster_name() << p->get_tile_idx() << "," << p->get_comp_idx();
    root->finalize_all(2, false);
    for (auto* p : all)
        EXPECT_EQ(p->get_tile_idx() == 2 || p->get_tile_idx() == -1 ? 1 : 0, p->finalize_count)
            << p->get_cluster_name() << p->get_tile_idx() << "," << p->get_comp_idx();
    root->finalize_all(false);
    for (auto* p : all)
        EXPECT_EQ(p->get_tile_idx() == 2 || p->get_tile_idx() == -1 ? 2 : 1, p->finalize_count)
            << p->get_cluster_name() << p->get_tile_idx() << "," << p->get_comp_idx();
}

TEST_F(RvdParams, DeletingUnparsedValuesReachesEveryInheritingObject)
{
    rvd_params* cod = cluster("COD");
    rvd_params* tc = cod->access_relation(1, 2, 0, false);
    rvd_params* mc = cod->access_relation(-1, 0, 0, false);
    cod->set("cod_i", 0, 0, 1);
    tc->set("cod_i", 0, 0, 2);
    mc->set("cod_i", 0, 0, 3);
    cod->delete_unparsed_attribute("cod_i");
    int v = 0;
    EXPECT_FALSE(tc->get("cod_i", 0, 0, v));
    EXPECT_FALSE(mc->get("cod_i", 0, 0, v));
    EXPECT_FALSE(cod->get("cod_i", 0, 0, v));
    // A value parsed in a narrower scope survives a broader string.
    ASSERT_TRUE(root->parse_string("cod_i:T1C2=7"));
    tc->set("cod_i", 1, 0, 8);
    ASSERT_TRUE(root->parse_string("cod_i=9"));
    EXPECT_TRUE(tc->get("cod_i", 0, 0, v));
    EXPECT_EQ(7, v);
}

TEST_F(RvdParams, EveryMisuseHasItsText)
{
    rvd_params* cod = cluster("COD");
    rvd_params* tc = cod->access_relation(0, 0, 0, false);
    auto expect_error = [&](const std::string& text, auto&& f) { EXPECT_EQ(lead + text, error_text(f)); };
    int v = 0;
    bool b = false;
    float f = 0;
    expect_error("Attempt to access a code-stream attribute using the invalid name, \"nope\"!",
                 [&] { cod->get("nope", 0, 0, v); });
    expect_error("Attempt to access a code-stream attribute, with an invalid field index!\nThe "
                 "attribute name is \"cod_i\".\nThe field index is 1.",
                 [&] { cod->get("cod_i", 0, 1, v); });
    expect_error("Attempting to access a floating point code-stream attribute field with the "
                 "integer access method!\nThe attribute name is \"cod_f\".",
                 [&] { cod->get("cod_f", 0, 0, v); });
    expect_error("Attempting to access a non-boolean code-stream attribute field with the "
                 "boolean access method!\nThe attribute name is \"cod_i\".",
                 [&] { cod->get("cod_i", 0, 0, b); });
    expect_error("Attempting to access an integer code-stream parameter attribute field with "
                 "the floating point access method!\nThe attribute name is \"cod_i\".",
                 [&] { cod->get("cod_i", 0, 0, f); });
    expect_error("Attempt to set a code-stream attribute using the invalid name, \"nope\"!",
                 [&] { cod->set("nope", 0, 0, 1); });
    expect_error("Attempt to set a non-tile-specific code-stream attribute in a specific "
                 "component!\nThe attribute name is \"Clayers\".",
                 [&] { tc->set("Clayers", 0, 0, 1); });
    expect_error("Attempt to set a code-stream attribute, with an invalid field index!\nThe "
                 "attribute name is \"cod_i\".\nThe field index is -1.",
                 [&] { cod->set("cod_i", 0, -1, 1); });
    expect_error("Attempting to set a floating point code-stream parameter attribute field "
                 "with the integer access method!\nThe attribute name is \"cod_f\".",
                 [&] { cod->set("cod_f", 0, 0, 1); });
    expect_error("Attempting to set a non-boolean code-stream parameter attribute field with "
                 "the boolean access method!\nThe attribute name is \"cod_i\".",
                 [&] { cod->set("cod_i", 0, 0, true); });
    expect_error("Attempting to set an integer code-stream parameter attribute field with the "
                 "floating point access method!\nThe attribute name is \"cod_i\".",
                 [&] { cod->set("cod_i", 0, 0, 1.5); });
    expect_error("Attempt to set a code-stream attribute with a negative record index!\nThe "
                 "attribute name is \"cod_i\".",
                 [&] { cod->set("cod_i", -1, 0, 1); });
    expect_error("Attempting to write multiple records to a code-stream attribute, \"cod_e\", "
                 "which can accept only single attributes!",
                 [&] { cod->set("cod_e", 1, 0, 1); });
    expect_error("Invalid attribute name, \"nope\", supplied to the `rvd_params::set_derived' "
                 "function.",
                 [&] { cod->set_derived("nope"); });
    expect_error("Attempting to delete a non-existent attribute with "
                 "\"rvd_params::delete_unparsed_attribute\".",
                 [&] { cod->delete_unparsed_attribute("nope"); });
    // Link misuse.
    std::unique_ptr<test_params> siz_like(new test_params(12)); // CRG: no tiles
    expect_error("Illegal tile or component indices supplied to `rvd_params::link'.  Probably "
                 "attempting to specialize a parameter object to a specific tile or "
                 "component, where the parameter class in questions does not support tile or "
                 "component diversity.",
                 [&] { siz_like->link(root.get(), -1, -1, 2, 0); });
    std::unique_ptr<test_params> cod2(new test_params(5));
    expect_error("Call to `rvd_params::link' specifies a different number of tiles or "
                 "components to the number with which the first parameter object of the same "
                 "class was linked.",
                 [&] { cod2->link(root.get(), -1, -1, 4, 2); });
    std::unique_ptr<test_params> cod3(new test_params(5));
    expect_error("Call to `rvd_params::link' specifies the same cluster name, tile and "
                 "component indices as an existing linked object, which does not support "
                 "multiple instances.",
                 [&] { cod3->link(root.get(), 0, 0, 4, 3); });
    // A multi-instance class takes a second linked object as the next instance.
    rvd_params* poc = cluster("POC");
    rvd_params* poc_tile = poc->access_relation(1, -1, 0, false);
    test_params* extra = new test_params(10);
    extra->link(root.get(), 1, -1, 4, 0);
    EXPECT_EQ(extra, poc_tile->access_next_inst());
    EXPECT_EQ(1, extra->get_instance());
}

TEST(RvdParamsPattern, UncountablePatternsAreProgrammingErrors)
{
    struct bad : test_params {
        explicit bad(const char* pattern) : test_params(12) { define_attribute("x", "", pattern); }
    };
    for (const char* pattern : {"IZ", "(A=1", "[A=1|B=2", ""}) {
        try {
            bad b(pattern);
            ADD_FAILURE() << pattern;
        } catch (const std::logic_error& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(pattern));
        }
    }
}
