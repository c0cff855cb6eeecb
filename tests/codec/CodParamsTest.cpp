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

// Every sub-string value: first code and as many child codes as it allows.
std::vector<int> substring_values()
{
    std::vector<int> out{0};
    for (int first = 1; first <= 3; first++) {
        int kids = (first == 3) ? 4 : 2;
        for (int combo = 0; combo < (1 << (2 * kids)); combo++)
            out.push_back(first | (combo << 2));
    }
    return out;
}

int make_decomp(int primary, const std::vector<int>& subs)
{
    int v = primary;
    for (size_t k = 0; k < subs.size(); k++)
        v |= subs[k] << (2 + 10 * int(k));
    return v;
}

// Independent split counts: walk the text form.
void count_splits(const std::string& text, int& subbands, int& hmax, int& vmax)
{
    auto splits = [](char c, int& h, int& v) {
        h = (c == 'H' || c == 'B') ? 1 : 0;
        v = (c == 'V' || c == 'B') ? 1 : 0;
    };
    int ph = 0, pv = 0;
    splits(text[0], ph, pv);
    subbands = 1;
    hmax = ph;
    vmax = pv;
    size_t pos = 2;
    int details = (text[0] == '-') ? 0 : (text[0] == 'B' ? 3 : 1);
    for (int k = 0; k < details; k++) {
        size_t end = text.find_first_of(":)", pos);
        std::string sub = text.substr(pos, end - pos);
        pos = end + 1;
        int h0 = 0, v0 = 0;
        splits(sub[0], h0, v0);
        int kids = (h0 + 1) * (v0 + 1);
        if (kids == 1) {
            subbands += 1;
            hmax = std::max(hmax, ph);
            vmax = std::max(vmax, pv);
            continue;
        }
        for (int j = 0; j < kids; j++) {
            int h1 = 0, v1 = 0;
            splits(sub[size_t(1 + j)], h1, v1);
            subbands += (h1 + 1) * (v1 + 1);
            hmax = std::max(hmax, ph + h0 + h1);
            vmax = std::max(vmax, pv + v0 + v1);
        }
    }
}

void check_value(int v)
{
    char buf[32];
    cod_params::textualize_decomp(buf, v);
    int back = -1;
    ASSERT_EQ(int(std::strlen(buf)), cod_params::parse_decomp(buf, back)) << buf;
    ASSERT_EQ(v, back) << buf;
    ASSERT_EQ(v, cod_params::transpose_decomp(cod_params::transpose_decomp(v))) << buf;
    int16_t desc[64];
    int subbands = 0, hmax = 0, vmax = 0, h = 0, vv = 0;
    count_splits(buf, subbands, hmax, vmax);
    ASSERT_EQ(subbands, cod_params::expand_decomp_bands(v, desc)) << buf;
    cod_params::get_max_decomp_levels(v, h, vv);
    ASSERT_EQ(hmax, h) << buf;
    ASSERT_EQ(vmax, vv) << buf;
    // Transposing exchanges the split counts.
    cod_params::get_max_decomp_levels(cod_params::transpose_decomp(v), h, vv);
    ASSERT_EQ(vmax, h) << buf;
    ASSERT_EQ(hmax, vv) << buf;
}

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

TEST(CodDecomp, EveryCodeRoundTripsAndCountsItsSplits)
{
    std::vector<int> subs = substring_values();
    ASSERT_EQ(289u, subs.size());
    check_value(0);
    for (int primary : {1, 2})
        for (int s : subs)
            check_value(make_decomp(primary, {s}));
    // Mallat-type levels: each detail sub-string through every value, the others fixed,
    // then a random sample of full combinations.
    for (int k = 0; k < 3; k++)
        for (int s : subs) {
            std::vector<int> three = {5, 0, 0x3FF};
            three[size_t(k)] = s;
            check_value(make_decomp(3, three));
        }
    std::mt19937 rng(77);
    for (int n = 0; n < 20000; n++) {
        auto any = [&] { return subs[std::uniform_int_distribution<size_t>(0, subs.size() - 1)(rng)]; };
        check_value(make_decomp(3, {any(), any(), any()}));
    }
}

TEST(CodDecomp, TextFormsAndTerminators)
{
    int v = -1;
    EXPECT_EQ(8, cod_params::parse_decomp("B(-:-:-)", v));
    EXPECT_EQ(3, v);
    EXPECT_EQ(4, cod_params::parse_decomp("H(-)", v));
    EXPECT_EQ(1, v);
    EXPECT_EQ(6, cod_params::parse_decomp("H(HHH)", v));
    EXPECT_EQ(8, cod_params::parse_decomp("B(H,V,B)", v)); // short sub-strings, comma separators
    char buf[32];
    cod_params::textualize_decomp(buf, v);
    EXPECT_STREQ("B(H--:V--:B----)", buf);
    for (const char* bad : {"X(-)", "B(-:-)", "H(H-)", "H(-H)", "B(-:-:-", "B-:-:-)", "V(HHHH)"})
        EXPECT_EQ(0, cod_params::parse_decomp(bad, v)) << bad;
    struct { const char* text; bool valid; } terms[] = {
        {"H(HHH)", true}, {"V(VVV)", true}, {"H(HH-)", false}, {"B(H--:V--:H--)", false},
        {"B(-:-:-)", true}, {"B(BBBBB:BBBBB:BBBBB)", true}, {"B(B-B--:B-B--:B-B--)", false},
        {"H(-)", true}, {"H(H--)", true}};
    for (auto& t : terms) {
        ASSERT_GT(cod_params::parse_decomp(t.text, v), 0) << t.text;
        EXPECT_EQ(t.valid, cod_params::is_valid_decomp_terminator(v)) << t.text;
    }
    // The attribute text goes through the class's custom field.
    cod_tree t(1);
    ASSERT_TRUE(t.root->parse_string("Cdecomp={B(-:-:-)},{H(HHH)}"));
    string_message out;
    t.cod->textualize_attributes(out);
    EXPECT_EQ("Cdecomp=B(-:-:-),H(HHH)\n", out.text);
    cod_params::parse_decomp("B(-:-:-)", v);
    int16_t desc[64];
    ASSERT_EQ(4, cod_params::expand_decomp_bands(3, desc));
    EXPECT_EQ((std::vector<int16_t>{0x0101, 0x0105, 0x0501, 0x0505}), std::vector<int16_t>(desc, desc + 4));
}

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

TEST(CodParams, WritingFinalizingAndCopying)
{
    cod_tree t(3);
    ASSERT_TRUE(t.read(0xFF52, plain_cod));
    t.root->finalize_all(true);
    t.root->clear_marks();
    vector_output out;
    EXPECT_EQ(14, t.cod->write_marker_segment(&out, nullptr, 0));
    std::vector<uint8_t> expect = {0xFF, 0x52, 0, 12};
    expect.insert(expect.end(), plain_cod.begin(), plain_cod.end());
    EXPECT_EQ(expect, out.finish());
    // A tile object equal to its reference writes nothing; a differing one writes.
    rvd_params* tile = t.cod->access_relation(1, -1, 0, false);
    tile->set("Clevels", 0, 0, 5);
    EXPECT_EQ(0, tile->write_marker_segment(nullptr, t.cod, 0));
    tile->set("Clevels", 0, 0, 3);
    EXPECT_EQ(14, tile->write_marker_segment(nullptr, t.cod, 0));

    struct { int h, w; bool ok; } blocks[] = {{128, 32, true}, {128, 64, false}, {2, 2048, false}, {48, 64, false}};
    for (auto& bl : blocks) {
        cod_tree f(1);
        f.cod->set("Cblk", 0, 0, bl.h);
        f.cod->set("Cblk", 0, 1, bl.w);
        f.root->finalize_all(false);
        vector_output o;
        if (bl.ok)
            EXPECT_EQ(14, f.cod->write_marker_segment(&o, nullptr, 0));
        else
            EXPECT_NE(std::string::npos, error_text([&] { f.cod->write_marker_segment(&o, nullptr, 0); }).find("Maximum code-block dimensions must be"));
    }

    // Finalize defaults: 1 layer, 5 levels, W9X7 irreversible, 64 x 64 blocks, colour
    // transform for three matching components.
    cod_tree d(3);
    d.root->finalize_all(false);
    EXPECT_EQ(1, d.iget(d.cod, "Clayers"));
    EXPECT_EQ(5, d.iget(d.cod, "Clevels"));
    EXPECT_EQ(0, d.iget(d.cod, "Ckernels"));
    EXPECT_EQ(64, d.iget(d.cod, "Cblk", 0, 1));
    EXPECT_EQ(1, d.iget(d.cod, "Cycc"));
    EXPECT_EQ(3, d.iget(d.cod, "Cdecomp"));
    cod_tree r(2);
    r.cod->set("Creversible", 0, 0, true);
    r.root->finalize_all(false);
    EXPECT_EQ(1, r.iget(r.cod, "Ckernels"));
    EXPECT_EQ(0, r.iget(r.cod, "Cycc"));
    cod_tree z(1);
    z.cod->set("Clayers", 0, 0, 0);
    EXPECT_NE(std::string::npos, error_text([&] { z.root->finalize_all(false); }).find("Illegal number of quality layers, 0"));

    // Copying: levels discarded from the front of Cdecomp and Cprecincts, transposition
    // exchanging block and precinct sides.
    cod_tree src(1), dst(1);
    src.root->parse_string("Clevels=3");
    src.root->parse_string("Cdecomp={B(-:-:-)},{H(-)},{V(-)}");
    src.root->parse_string("Cprecincts={128,256},{64,128},{32,64}");
    src.root->parse_string("Cblk={32,64}");
    dst.cod->copy_from(src.cod, -1, -1, -1, 0, 1, true);
    EXPECT_EQ(2, dst.iget(dst.cod, "Clevels"));
    EXPECT_EQ(2, dst.iget(dst.cod, "Cdecomp", 0)); // H(-) transposed
    EXPECT_EQ(1, dst.iget(dst.cod, "Cdecomp", 1));
    EXPECT_EQ(128, dst.iget(dst.cod, "Cprecincts", 0, 0));
    EXPECT_EQ(64, dst.iget(dst.cod, "Cprecincts", 0, 1));
    EXPECT_EQ(64, dst.iget(dst.cod, "Cblk", 0, 0));
    cod_tree too_far(1);
    EXPECT_EQ(lead + "Attempting to discard too many resolution levels!  Cannot discard more "
                     "resolution levels than there are DWT levels.",
              error_text([&] { too_far.cod->copy_from(src.cod, -1, -1, -1, 0, 4); }));
}

TEST(CodParams, TileHeaderCodingSegmentsWarnOnlyInProfile0)
{
    const std::vector<uint8_t> cod{0, 0, 0, 1, 0, 2, 4, 4, 0, 1};
    const std::vector<uint8_t> qcd{0x20, 0x40, 0x48, 0x48, 0x50, 0x48, 0x48, 0x50};
    for (int profile : {0, 1}) {
        cod_tree t(1);
        t.root->set("Sprofile", 0, 0, profile);
        clear_captured_warnings();
        ASSERT_TRUE(t.read(0xFF52, cod, -1)); // main header: always fine
        ASSERT_TRUE(t.read(0xFF5C, qcd, -1));
        EXPECT_TRUE(no_warnings());
        ASSERT_TRUE(t.read(0xFF52, cod, 2));
        ASSERT_TRUE(t.read(0xFF5C, qcd, 2));
        if (profile == 0) {
            EXPECT_TRUE(warning_seen("COD/COC marker segments may only appear in the main header of "
                                     "a Profile-0 code-stream.  You should set \"Sprofile\" to 1 or "
                                     "2.  Problem detected in tile 2."));
            EXPECT_TRUE(warning_seen("QCD/QCC marker segments may only appear in the main header"));
        } else {
            EXPECT_TRUE(no_warnings());
        }
    }
}
