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

    // CEpoc equal to the component count is written as it stands, and 256 (read from 0)
    // as the component count; only with exactly 256 components does 0 go out.
    tree_fixture w(3);
    ASSERT_TRUE(w.root->parse_string("Porder={0,0,1,3,3,CPRL},{3,0,1,6,3,LRCP}"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5F, 0, 16, 0, 0, 0, 1, 3, 3, 4, 3, 0, 0, 1, 6, 3, 0}),
              w.header(-1));
    tree_fixture read_back(3);
    ASSERT_TRUE(read_back.root->parse_string("Porder={3,0,1,6,256,LRCP}"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5F, 0, 9, 3, 0, 0, 1, 6, 3, 0}), read_back.header(-1));
    tree_fixture full(256);
    ASSERT_TRUE(full.root->parse_string("Porder={0,0,1,3,256,CPRL}"));
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0x5F, 0, 9, 0, 0, 0, 1, 3, 0, 4}), full.header(-1));
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
        // One-byte fields reach 256, which reads back from 0.
        {"Porder={0,1,1,2,257,LRCP}", "Illegal upper bound (exclusive), 257, for component indices in progression order change attribute.  Legal range is from the lower bound + 1 to 256."},
        {"Porder={0,1,1,2,1,LRCP}", "Illegal upper bound (exclusive), 1, for component indices in progression order change attribute.  Legal range is from the lower bound + 1 to 256."},
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
