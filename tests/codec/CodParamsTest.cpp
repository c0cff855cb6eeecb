// Coding style: the Cdecomp codec, COD/COC reading with the decided rejections,
// writing, finalizing defaults and copying.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

struct cod_tree {
    explicit cod_tree(int comps, int tiles = 3)
    {
        root = make_param_tree(tiles, comps, true);
        set_simple_siz(root.get(), comps);
        cod = root->access_cluster("COD");
    }
    bool read(uint16_t code, std::vector<uint8_t> body, int tile = -1)
    {
        return root->translate_marker_segment(code, int(body.size()), body.data(), tile, 0);
    }
    std::string read_error(uint16_t code, std::vector<uint8_t> body, int tile = -1)
    {
        return error_text([&] { read(code, body, tile); });
    }
    int iget(rvd_params* obj, const char* name, int r = 0, int f = 0)
    {
        int v = -12345;
        obj->get(name, r, f, v);
        return v;
    }
    std::unique_ptr<siz_params> root;
    rvd_params* cod;
};

const std::vector<uint8_t> plain_cod = {0x00, 0x00, 0x00, 0x01, 0x00, 0x05, 0x04, 0x04, 0x00, 0x01};
} // namespace

TEST(CodParams, ReadingAndTheDecidedRejections)
{
    cod_tree t(3);
    ASSERT_TRUE(t.read(0xFF52, {0x1F, 0x02, 0x00, 0x03, 0x01, 0x02, 0x04, 0x04, 0x00, 0x00, 0x77, 0x88, 0x99}));
    bool b = false;
    for (const char* name : {"Cuse_precincts", "Cuse_sop", "Cuse_eph"})
        EXPECT_TRUE(t.cod->get(name, 0, 0, b) && b) << name;
    EXPECT_TRUE(t.cod->get("Calign_blk_last", 0, 0, b) && b);
    EXPECT_TRUE(t.cod->get("Calign_blk_last", 0, 1, b) && b);
    EXPECT_EQ(3, t.iget(t.cod, "Clayers"));
    EXPECT_EQ(2, t.iget(t.cod, "Corder"));
    EXPECT_EQ(64, t.iget(t.cod, "Cblk", 0, 0));
    EXPECT_EQ(0, t.iget(t.cod, "Ckernels"));
    EXPECT_EQ(512, t.iget(t.cod, "Cprecincts", 0, 0)); // highest resolution: last byte 0x99
    EXPECT_EQ(512, t.iget(t.cod, "Cprecincts", 0, 1));
    EXPECT_EQ(128, t.iget(t.cod, "Cprecincts", 2, 0));
    // A main COC with a DFS index keeps the inherited levels.
    ASSERT_TRUE(t.read(0xFF53, {0x01, 0x00, 0x83, 0x02, 0x03, 0x00, 0x01}));
    rvd_params* coc = t.cod->access_unique(-1, 1, 0);
    EXPECT_EQ(3, t.iget(coc, "Cdfs"));
    EXPECT_EQ(2, t.iget(coc, "Clevels"));
    int own = 0;
    EXPECT_FALSE(coc->get("Clevels", 0, 0, own, false));

    EXPECT_EQ(lead + "Malformed COD marker segment encountered. Invalid \"Scod\" value!",
              cod_tree(1).read_error(0xFF52, {0x20, 0, 0, 1, 0, 5, 4, 4, 0, 1}));
    EXPECT_EQ(lead + "Malformed COC marker segment. Invalid \"Scoc\" value!",
              cod_tree(1).read_error(0xFF53, {0, 2, 5, 4, 4, 0, 1}));
    EXPECT_EQ(lead + "Illegal number of DWT levels, 33. Legal range is 0 to 32!",
              cod_tree(1).read_error(0xFF52, {0, 0, 0, 1, 0, 33, 4, 4, 0, 1}));
    EXPECT_EQ(lead + "Maximum code-block dimensions must be no less than 4 and the maximum "
                     "code-block area must not exceed 4096 samples!",
              cod_tree(1).read_error(0xFF52, {0, 0, 0, 1, 0, 5, 5, 4, 0, 1}));
    EXPECT_EQ(lead + "Illegal number of quality layers, 0",
              cod_tree(1).read_error(0xFF52, {0, 0, 0, 0, 0, 5, 4, 4, 0, 1}));
    EXPECT_EQ(lead + "Malformed COD/COC marker segment encountered. A decomposition style index "
                     "is given where no number of DWT levels is known.",
              cod_tree(1).read_error(0xFF52, {0, 0, 0, 1, 0, 0x81, 4, 4, 0, 1}));
    EXPECT_EQ(lead + "Malformed COD marker segment encountered. Marker segment is too small.",
              cod_tree(1).read_error(0xFF52, {0, 0, 0}));
    EXPECT_EQ(lead + "Malformed COD/COC marker segment encountered. Marker segment is too small.",
              cod_tree(1).read_error(0xFF52, {1, 0, 0, 1, 0, 2, 4, 4, 0, 1, 0x44}));
    EXPECT_EQ(lead + "Malformed COD/COC marker segment encountered. The final 2 bytes were not consumed!",
              cod_tree(1).read_error(0xFF52, {0, 0, 0, 1, 0, 5, 4, 4, 0, 1, 9, 9}));

    // 300 components: COC indices take two bytes.
    cod_tree big(300, 0);
    ASSERT_TRUE(big.read(0xFF53, {0x01, 0x2B, 0x00, 0x02, 0x04, 0x04, 0x00, 0x01}));
    EXPECT_EQ(2, big.iget(big.cod->access_unique(-1, 299, 0), "Clevels"));
    EXPECT_EQ(1, big.iget(big.cod->access_unique(-1, 299, 0), "Ckernels"));
}
