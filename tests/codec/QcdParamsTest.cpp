// Quantisation: step-size form, reading and writing, derivation of ranges and steps
// from the kernels, and the decided check on too few values.
#include "codec/core/rvd_kernels.h"
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

// Written fields have their widths: three bits of guard count, five bits of range.
TEST(QcdParams, WritingRefusesValuesWiderThanTheirFields)
{
    const struct {
        int guard, range;
        std::string error; // empty: written
    } cases[] = {
        {7, 31, ""},
        {8, 11, lead + "Illegal number of guard bits, 8. Legal range is from 0 to 7."},
        {2, 32, lead + "Absolute ranging parameters for reversibly compressed subbands must be non-negative, "
                       "no larger than 31!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.guard * 100 + c.range);
        qcd_tree t(1);
        ASSERT_TRUE(t.read(0xFF52, {0, 0, 0, 1, 0, 3, 4, 4, 0, 1}));
        ASSERT_TRUE(t.read(0xFF5C, {0x40, 0x48, 0x50, 0x50, 0x58, 0x50, 0x50, 0x58, 0x50, 0x50, 0x58}));
        t.root->finalize_all(true);
        t.root->clear_marks();
        t.qcd->set("Qguard", 0, 0, c.guard);
        t.qcd->set("Qabs_ranges", 9, 0, c.range);
        if (c.error.empty()) {
            const std::vector<uint8_t> s = t.qcd_segment();
            ASSERT_EQ(15u, s.size());
            EXPECT_EQ(0xE0, s[4]);      // Sqcd: guard bits above the style
            EXPECT_EQ(31 << 3, s[14]); // the last band's range
        } else {
            EXPECT_EQ(c.error, error_text([&] { t.qcd_segment(); }));
        }
    }
}
