// The shared codec test handlers, and that parameter-tree operations raising errors
// part-way leave trees that destroy cleanly (LeakSanitizer checks the leaks).
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

using namespace codec_test;

namespace {
void raise_in_pieces(bool& after)
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "first " << 42 << " second " << -7;
        e.set_hex_mode(true);
        e << 255;
    }
    after = true;
}
} // namespace

TEST(CodecMessages, ErrorsThrowTheirTextAndNeverReturn)
{
    bool after = false;
    std::string text = error_text([&] { raise_in_pieces(after); });
    EXPECT_EQ("Ravade Core Error:\nfirst 42 second -7ff", text);
    EXPECT_FALSE(after);
}

TEST(CodecMessages, WarningsAreCapturedAndProcessingGoesOn)
{
    EXPECT_TRUE(no_warnings());
    bool after = false;
    {
        rvd_warning w("Ravade Core Warning:\n");
        w << "watch out " << 3u;
    }
    after = true;
    EXPECT_TRUE(after);
    ASSERT_EQ(1u, captured_warnings().size());
    EXPECT_EQ("Ravade Core Warning:\nwatch out 3", captured_warnings()[0]);
    EXPECT_TRUE(warning_seen("watch out"));
    EXPECT_FALSE(warning_seen("nothing like this"));
    EXPECT_FALSE(no_warnings());
}

TEST(CodecMessages, ErrorsHalfWayThroughTreeOperationsLeaveDestroyableTrees)
{
    std::unique_ptr<test_params> root = make_test_tree(3, 3);
    // Parsing creates tile 1, component 2 objects (and companions) before failing on
    // the record text.
    std::string text = error_text([&] { root->parse_string("Cblk:T1C2={32,x}"); });
    EXPECT_NE(std::string::npos, text.find("Expected an integer field."));
    rvd_params* cod = root->access_cluster("COD");
    ASSERT_NE(nullptr, cod->access_unique(1, 2, 0));
    // A second record that fails after the first was stored.
    error_text([&] { root->parse_string("cod_i:T2=1,2,x"); });
    // Relation access that fails while making companions and rewiring inheritance:
    // the objects made so far belong to the tree. A new tile object of COD needs the
    // tile's component objects (a main-header component object exists) and the QCD
    // companions, so several budgets fail at different points.
    int failures = 0;
    for (int budget = 0; budget < 12; budget++) {
        std::unique_ptr<test_params> tree = make_test_tree(3, 3);
        rvd_params* c = tree->access_cluster("COD");
        c->access_relation(-1, 0, 0, false);
        test_params::object_budget() = budget;
        try {
            c->access_relation(2, -1, 0, false);
        } catch (const codec_error& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find("budget"));
            failures++;
        }
        test_params::object_budget() = -1;
    }
    EXPECT_GE(failures, 3);
    // An error during a link leaves the object with its owner.
    std::unique_ptr<test_params> extra(new test_params(5));
    error_text([&] { extra->link(root.get(), -1, -1, 4, 3); });
    root.reset();
}
