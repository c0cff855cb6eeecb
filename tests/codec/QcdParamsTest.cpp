// Quantisation: step-size form, reading and writing, derivation of ranges and steps
// from the kernels, and the decided check on too few values.
#include "codec/coding/rvd_kernels.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/param_tree.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

struct qcd_tree {
    explicit qcd_tree(int comps, int precision = 8)
    {
        root = make_param_tree(2, comps, true);
        set_simple_siz(root.get(), comps);
        root->set("Sprecision", 0, 0, precision);
        cod = root->access_cluster("COD");
        qcd = root->access_cluster("QCD");
    }
    bool read(uint16_t code, std::vector<uint8_t> body)
    {
        return root->translate_marker_segment(code, int(body.size()), body.data(), -1, 0);
    }
    std::vector<uint8_t> qcd_segment()
    {
        vector_output out;
        qcd->write_marker_segment(&out, nullptr, 0);
        return out.finish();
    }
    std::unique_ptr<siz_params> root;
    rvd_params* cod;
    rvd_params* qcd;
};
} // namespace

TEST(QcdParams, StepSizeForm)
{
    EXPECT_EQ(std::ldexp(1.0f, -17), qcd_params::decode_step(0x8800));
    EXPECT_EQ(0, qcd_params::encode_step(1.0f));
    EXPECT_EQ(2047, qcd_params::encode_step(2.5f));
    EXPECT_EQ((8 << 11) | 0, qcd_params::encode_step(1.0f / 256));
    EXPECT_EQ(31 << 11, qcd_params::encode_step(1e-12f));
    EXPECT_EQ(lead + "Absolute quantization step sizes must be strictly positive.",
              error_text([] { qcd_params::encode_step(0.0f); }));
    for (int word = 0; word < 0x10000; word += 7) // every representable step encodes to itself
        ASSERT_EQ(word, qcd_params::encode_step(qcd_params::decode_step(word))) << word;
}

TEST(QcdParams, ReadingStylesAndErrors)
{
    qcd_tree t(1);
    ASSERT_TRUE(t.read(0xFF52, {0, 0, 0, 1, 0, 3, 4, 4, 0, 1}));
    ASSERT_TRUE(t.read(0xFF5C, {0x40, 0x48, 0x50, 0x50, 0x58, 0x50, 0x50, 0x58, 0x50, 0x50, 0x58}));
    int v = 0;
    EXPECT_TRUE(t.qcd->get("Qguard", 0, 0, v));
    EXPECT_EQ(2, v);
    EXPECT_TRUE(t.qcd->get("Qabs_ranges", 9, 0, v));
    EXPECT_EQ(11, v);
    t.root->finalize_all(true);
    t.root->clear_marks();
    EXPECT_EQ(15u, t.qcd_segment().size()); // 3 levels: 10 range bytes

    auto fresh_error = [](std::vector<uint8_t> body) {
        qcd_tree f(1);
        return error_text([&] { f.read(0xFF5C, body); });
    };
    EXPECT_EQ(lead + "Undefined style byte found in QCD/QCC marker segment!", fresh_error({0x43, 0, 0}));
    EXPECT_EQ(lead + "Malformed QCD/QCC marker segment encountered. Marker segment is too small.",
              fresh_error({0x42}));
    EXPECT_EQ(lead + "Malformed QCD/QCC marker segment encountered. Marker segment is too small.",
              fresh_error({0x42, 0x88, 0x00, 0x40}));

    // Decided: 15 values where 5 Mallat levels need 16 are refused after reading.
    qcd_tree s(1);
    ASSERT_TRUE(s.read(0xFF52, {0, 0, 0, 1, 0, 5, 4, 4, 0, 1}));
    std::vector<uint8_t> body = {0x40};
    body.insert(body.end(), 15, 0x48);
    ASSERT_TRUE(s.read(0xFF5C, body));
    EXPECT_EQ(lead + "Insufficient quantization parameters found in QCD/QCC marker segments for the "
                     "number of subbands in some tile-component.",
              error_text([&] { s.root->finalize_all(true); }));
    // A header cut before its QCD is no error.
    qcd_tree cut(1);
    ASSERT_TRUE(cut.read(0xFF52, {0, 0, 0, 1, 0, 5, 4, 4, 0, 1}));
    cut.root->finalize_all(true);
}

TEST(QcdParams, DerivedRangesAndStepsFollowTheKernelGains)
{
    // Reversible: one range per subband, B - guard plus the halvings of the BIBO gain.
    qcd_tree r(1, 8);
    r.cod->set("Creversible", 0, 0, true);
    r.cod->set("Clevels", 0, 0, 2);
    r.root->finalize_all(false);
    rvd_kernels k;
    k.init(1, true);
    int v = 0;
    int count = 0;
    while (r.qcd->get("Qabs_ranges", count, 0, v))
        count++;
    EXPECT_EQ(7, count);
    auto expect_range = [&](double gain) {
        int range = 8 - 1; // precision 8 (one component, no additions) less one guard bit
        while (gain > 0.9) {
            gain /= 2;
            range++;
        }
        return range;
    };
    bool hi = true;
    double ll = k.get_bibo_gain(2, 0, nullptr) * k.get_bibo_gain(2, 0, nullptr);
    double hh1 = k.get_bibo_gain(0, 1, &hi) * k.get_bibo_gain(0, 1, &hi);
    EXPECT_TRUE(r.qcd->get("Qabs_ranges", 0, 0, v));
    EXPECT_EQ(expect_range(ll), v);
    EXPECT_TRUE(r.qcd->get("Qabs_ranges", 6, 0, v));
    EXPECT_EQ(expect_range(hh1), v);

    // Irreversible W9X7, one level, Qstep 1/256: steps divided by the root energy gains.
    qcd_tree s(1);
    s.cod->set("Clevels", 0, 0, 1);
    s.qcd->set("Qstep", 0, 0, 1.0 / 256);
    s.root->finalize_all(false);
    const double low = 1.96591, high = 2.08087;
    double want[4] = {(1.0 / 256) / low, (1.0 / 256) / std::sqrt(low * high),
                      (1.0 / 256) / std::sqrt(low * high), (1.0 / 256) / high};
    for (int n = 0; n < 4; n++) {
        float f = 0;
        ASSERT_TRUE(s.qcd->get("Qabs_steps", n, 0, f)) << n;
        int got = qcd_params::encode_step(f);
        int ideal = qcd_params::encode_step(float(want[n]));
        EXPECT_LE(std::abs(got - ideal), 1) << n;
        EXPECT_EQ(got, qcd_params::encode_step(qcd_params::decode_step(got)));
    }
    // Written, read back into a fresh tree: every value the same.
    s.root->clear_marks();
    std::vector<uint8_t> seg = s.qcd_segment();
    ASSERT_EQ(5u + 2 * 4, seg.size());
    qcd_tree back(1);
    back.cod->set("Clevels", 0, 0, 1);
    ASSERT_TRUE(back.root->translate_marker_segment(0xFF5C, int(seg.size() - 4), seg.data() + 4, -1, 0));
    for (int n = 0; n < 4; n++) {
        float a = 0, b = 0;
        s.qcd->get("Qabs_steps", n, 0, a);
        back.qcd->get("Qabs_steps", n, 0, b);
        EXPECT_EQ(a, b) << n;
    }

    // Derived quantisation writes one value whatever the levels.
    qcd_tree d(1);
    d.cod->set("Clevels", 0, 0, 5);
    d.qcd->set("Qabs_steps", 0, 0, 0.01);
    d.root->finalize_all(false);
    d.root->clear_marks();
    EXPECT_EQ(7u, d.qcd_segment().size());
    EXPECT_EQ(lead + "Illegal number of guard bits, 8. Legal range is from 0 to 7.",
              error_text([&] { d.qcd->set("Qguard", 0, 0, 8); d.qcd_segment(); }));
}
