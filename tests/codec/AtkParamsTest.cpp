// Arbitrary kernels: the 5/3 kernel as an ATK segment, finalize checks, and random
// kernels written and read back.
#include "codec/core/rvd_kernels.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";
const std::vector<uint8_t> atk53 = {0xFF, 0x79, 0x00, 0x11, 0x59, 0x02, 0x02, 0x02, 0x00, 0x02,
                                    0x01, 0x00, 0x01, 0x01, 0x00, 0x01, 0x01, 0xFF, 0xFF};

std::unique_ptr<siz_params> atk_tree()
{
    std::unique_ptr<siz_params> root = make_param_tree(2, 1, true);
    set_simple_siz(root.get(), 1);
    return root;
}

bool read_segment(rvd_params* root, const std::vector<uint8_t>& seg, int tile = -1)
{
    return root->translate_marker_segment(uint16_t((seg[0] << 8) | seg[1]), int(seg.size() - 4),
                                          seg.data() + 4, tile, 0);
}

std::vector<std::vector<int>> steps_of(rvd_params* k)
{
    std::vector<std::vector<int>> out;
    int v = 0;
    for (int s = 0; k->get("Ksteps", s, 0, v, false, false); s++) {
        std::vector<int> rec(4);
        for (int f = 0; f < 4; f++)
            k->get("Ksteps", s, f, rec[size_t(f)], false, false);
        out.push_back(rec);
    }
    return out;
}

std::vector<float> coeffs_of(rvd_params* k)
{
    std::vector<float> out;
    float f = 0;
    for (int i = 0; k->get("Kcoeffs", i, 0, f, false, false); i++)
        out.push_back(f);
    return out;
}
} // namespace

TEST(AtkParams, ChecksAndFinalizeRules)
{
    std::unique_ptr<siz_params> t = atk_tree();
    int idx = 0;
    uint8_t one[2] = {0x59, 0x01};
    EXPECT_FALSE(t->access_cluster("ATK")->check_marker_segment(0xFF79, 2, one, idx));
    std::vector<uint8_t> rev_float = atk53;
    rev_float[4] = 0x5A; // coefficient type 2: 4-byte floats
    EXPECT_EQ(lead + "Cannot process ATK marker segment describing a reversible transform kernel "
                     "with floating-point coefficient values.",
              error_text([&] { read_segment(atk_tree().get(), rev_float); }));
    std::vector<uint8_t> no_sym_ext = atk53;
    no_sym_ext[4] = 0x19;
    EXPECT_NE(std::string::npos, error_text([&] { read_segment(atk_tree().get(), no_sym_ext); })
                                     .find("must also use the symmetric boundary extension"));
    // A symmetric step of Latk 2 with coefficients a, b lays down b, a, a, b.
    std::vector<uint8_t> sym2 = {0xFF, 0x79, 0, 0, 0x59, 0x03, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x03};
    sym2[3] = uint8_t(sym2.size() - 2);
    std::unique_ptr<siz_params> s = atk_tree();
    ASSERT_TRUE(read_segment(s.get(), sym2));
    rvd_params* k3 = s->access_cluster("ATK")->access_unique(-1, -1, 3);
    EXPECT_EQ((std::vector<float>{3, 2, 2, 3}), coeffs_of(k3));
    EXPECT_EQ((std::vector<std::vector<int>>{{0, 0, 0, 0}, {4, -2, 0, 0}}), steps_of(k3));
    std::vector<uint8_t> cut = atk53;
    cut.pop_back();
    cut[3]--;
    EXPECT_EQ(lead + "Malformed ATK marker segment encountered.  Marker segment is too small.",
              error_text([&] { read_segment(atk_tree().get(), cut); }));

    // Finalize: DC gain, extension default, Ksymmetric consistency, coefficient counts.
    auto kernel = [](rvd_params* root, int inst, std::vector<std::vector<int>> st, std::vector<double> c) {
        rvd_params* k = root->access_cluster("ATK")->access_relation(-1, -1, inst, false);
        for (size_t s = 0; s < st.size(); s++)
            for (int f = 0; f < 4; f++)
                k->set("Ksteps", int(s), f, st[s][size_t(f)]);
        for (size_t i = 0; i < c.size(); i++)
            k->set("Kcoeffs", int(i), 0, c[i]);
        return k;
    };
    std::unique_ptr<siz_params> f = atk_tree();
    rvd_params* good = kernel(f.get(), 2, {{2, 0, 1, 1}, {2, -1, 2, 2}}, {-0.5, -0.5, 0.25, 0.25});
    good->set("Kreversible", 0, 0, true);
    good->finalize(false);
    int ext = -1;
    bool sym = false;
    EXPECT_TRUE(good->get("Kextension", 0, 0, ext));
    EXPECT_EQ(1, ext);
    EXPECT_TRUE(good->get("Ksymmetric", 0, 0, sym) && sym);
    rvd_params* bad = kernel(f.get(), 4, {{2, 0, 1, 1}, {2, -1, 2, 2}}, {-0.25, -0.25, 0.25, 0.25});
    bad->set("Kreversible", 0, 0, true);
    EXPECT_EQ(lead + "Reversible lifting steps defined by `Ksteps' and `Kcoeffs' produce a low-pass "
                     "analysis filter whose DC gain is not equal to 1.",
              error_text([&] { bad->finalize(false); }));
    rvd_params* odd = kernel(f.get(), 5, {{3, -1, 0, 0}}, {0.1, 0.2, 0.1});
    odd->set("Kreversible", 0, 0, false);
    odd->set("Ksymmetric", 0, 0, true);
    EXPECT_NE(std::string::npos, error_text([&] { odd->finalize(false); }).find("Invalid `Ksymmetric' value"));
    rvd_params* few = kernel(f.get(), 6, {{3, -1, 0, 0}}, {0.1, 0.2});
    few->set("Kreversible", 0, 0, false);
    EXPECT_NE(std::string::npos, error_text([&] { few->finalize(false); }).find("Insufficient `Kcoeffs'"));
    rvd_params* many = kernel(f.get(), 7, {{2, 0, 0, 0}}, {0.1, 0.2, 0.3});
    many->set("Kreversible", 0, 0, false);
    EXPECT_NE(std::string::npos, error_text([&] { many->finalize(false); }).find("Too many `Kcoeffs'"));
    rvd_params* deep = kernel(f.get(), 10, {{2, 0, 25, 1}, {2, -1, 2, 2}}, {-0.5, -0.5, 0.25, 0.25});
    deep->set("Kreversible", 0, 0, true);
    EXPECT_EQ(lead + "Invalid downshifting value (3'rd field) found while checking supplied `Ksteps' attributes.  "
                     "Values must be in the range 0 to 24.",
              error_text([&] { deep->finalize(false); }));
    rvd_params* nokrev = kernel(f.get(), 8, {{2, 0, 0, 0}}, {0.1, 0.2});
    EXPECT_NE(std::string::npos, error_text([&] { nokrev->finalize(false); }).find("without also providing a value for the `Kreversible'"));
    // Decided: more than 256 coefficients in all are refused, reading and finalizing.
    std::vector<std::vector<int>> big_steps(2, std::vector<int>{150, 0, 0, 0});
    rvd_params* huge = kernel(f.get(), 9, big_steps, std::vector<double>(300, 0.001));
    huge->set("Kreversible", 0, 0, false);
    EXPECT_EQ(lead + "Malformed ATK marker segment encountered.  The lifting steps hold too many "
                     "coefficients to be processed.",
              error_text([&] { huge->finalize(false); }));
    std::vector<uint8_t> big = {0xFF, 0x79, 0, 0, 0x40, 0x02, 0x01 /* K */, 0x02};
    for (int s = 0; s < 2; s++) {
        big.push_back(0);   // Oatk
        big.push_back(150); // Latk
        big.insert(big.end(), 150, 0x01);
    }
    big[2] = uint8_t((big.size() - 2) >> 8);
    big[3] = uint8_t(big.size() - 2);
    EXPECT_EQ(lead + "Malformed ATK marker segment encountered.  The lifting steps hold too many "
                     "coefficients to be processed.",
              error_text([&] { read_segment(atk_tree().get(), big); }));
}
