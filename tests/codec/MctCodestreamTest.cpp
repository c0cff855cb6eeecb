#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Three 8-bit components, the third sub-sampled horizontally by 2, flagged as using a
// multi-component transform; four output components described by CBD.
siz_geometry part2_geometry()
{
    siz_geometry g;
    g.rsiz = 0x8100;
    g.comps.resize(3);
    g.comps[2].xr = 2;
    return g;
}

std::vector<uint8_t> cbd_segment()
{
    // 8 unsigned, 9 signed, 10 unsigned, 12 unsigned.
    return segment(0xFF78, {0, 4, 7, 0x80 | 8, 9, 11});
}

std::vector<uint8_t> mct_segment(int index, int kind, const std::vector<int>& values)
{
    std::vector<uint8_t> b;
    put16(b, 0);                                               // Zmct
    put16(b, uint32_t(index | (kind << 8) | (1 << 10)));       // 32-bit integer elements
    put16(b, 0);                                               // Ymct: last segment
    for (int v : values)
        put32(b, uint32_t(v));
    return segment(0xFF74, b);
}

// One matrix collection from `inputs` to `outputs`, coefficient and offset indices given.
std::vector<uint8_t> mcc_segment(const std::vector<uint8_t>& inputs,
                                 const std::vector<uint8_t>& outputs, int coeff, int offset)
{
    std::vector<uint8_t> b = {0, 0, 1, 0, 0, 0, 1, 1}; // Zmcc, Imcc 1, Ymcc, Qmcc 1, Xmcc
    put16(b, uint32_t(inputs.size()));
    b.insert(b.end(), inputs.begin(), inputs.end());
    put16(b, uint32_t(outputs.size()));
    b.insert(b.end(), outputs.begin(), outputs.end());
    b.push_back(0);
    b.push_back(uint8_t(offset));
    b.push_back(uint8_t(coeff));
    return segment(0xFF75, b);
}

std::vector<uint8_t> cod_with_mct()
{
    return segment(0xFF52, {0, 0, 0, 1, 2, 3, 4, 4, 0, 1});
}

std::vector<std::vector<uint8_t>> matrix_header(const std::vector<uint8_t>& inputs)
{
    return {cbd_segment(),
            cod_with_mct(),
            mct_segment(1, 1, {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1}),
            mct_segment(2, 2, {10, 20, 30, 40}),
            mcc_segment(inputs, {0, 1, 2, 3}, 1, 2),
            segment(0xFF77, {1, 1})};
}

} // namespace

TEST(MctCodestream, MainHeaderStagesSetOutputGeometry)
{
    memory_source src(build_stream(part2_geometry(), matrix_header({2, 0, 1})));
    rvd_codestream cs;
    cs.create(&src);
    EXPECT_EQ(4, cs.get_num_components(true));
    const int depths[] = {8, 9, 10, 12};
    for (int n = 0; n < 4; n++) {
        EXPECT_EQ(depths[n], cs.get_bit_depth(n, true)) << n;
        EXPECT_EQ(n == 1, cs.get_signed(n, true)) << n;
    }
    // The stage reads components 2, 0, 1: output 0 takes the sub-sampled component 2,
    // output 3 (beyond the inputs) keeps the last input's component 1. Without the stages
    // the outputs would follow components 0, 1, 2, 2.
    const int widths[] = {32, 64, 64, 64};
    for (int n = 0; n < 4; n++) {
        rvd_dims d;
        cs.get_dims(n, d, true);
        EXPECT_EQ(widths[n], d.size.x) << n;
        EXPECT_EQ(48, d.size.y) << n;
    }
    cs.destroy();
}

TEST(MctCodestream, InvalidMainHeaderStagesFailCreation)
{
    // The stage reads components 0 and 1 only: component 2 is left out.
    std::vector<std::vector<uint8_t>> header = matrix_header({0, 1, 1});
    memory_source src(build_stream(part2_geometry(), header));
    rvd_codestream cs;
    std::string text = error_text([&] { cs.create(&src); });
    EXPECT_NE(std::string::npos, text.find("Multi-component transform does not satisfy the "
                                           "constraints imposed by Part 2"))
        << text;
    EXPECT_FALSE(cs.exists());

    // No MCO: the output components follow the codestream components.
    header.pop_back();
    memory_source plain(build_stream(part2_geometry(), header));
    rvd_codestream cs2;
    cs2.create(&plain);
    rvd_dims d;
    cs2.get_dims(3, d, true);
    EXPECT_EQ(32, d.size.x);
    cs2.destroy();
}
