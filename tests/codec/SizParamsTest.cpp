// SIZ and CBD: reading, finalizing, feature detection, writing, copying and round trips.
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_clusters.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

using namespace codec_test;

namespace {
const std::string lead = "Ravade Core Error:\n";

void put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
void put32(std::vector<uint8_t>& b, uint32_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// A SIZ body: Rsiz, the eight canvas fields (x before y), then components.
std::vector<uint8_t> siz_body(uint16_t rsiz, std::vector<uint32_t> canvas,
                              std::vector<std::array<uint8_t, 3>> comps)
{
    std::vector<uint8_t> b;
    put16(b, rsiz);
    for (uint32_t v : canvas)
        put32(b, v);
    put16(b, static_cast<uint32_t>(comps.size()));
    for (auto& c : comps)
        b.insert(b.end(), c.begin(), c.end());
    return b;
}

const std::vector<uint32_t> plain_canvas = {1000, 800, 0, 0, 1000, 800, 0, 0};

class SizParams : public ::testing::Test {
protected:
    void SetUp() override { root = make_test_tree<siz_params>(4, 3); }
    bool read(uint16_t code, const std::vector<uint8_t>& body)
    {
        return root->translate_marker_segment(code, static_cast<int>(body.size()), body.data(), -1, 0);
    }
    int iget(const char* name, int r = 0, int f = 0)
    {
        int v = -12345;
        root->get(name, r, f, v);
        return v;
    }
    std::unique_ptr<siz_params> root;
};
} // namespace

TEST_F(SizParams, MalformedSegmentsAreRefused)
{
    auto fresh_error = [](uint16_t code, const std::vector<uint8_t>& body) {
        std::unique_ptr<siz_params> r = make_test_tree<siz_params>(0, 0);
        return error_text([&] { r->translate_marker_segment(code, static_cast<int>(body.size()), body.data(), -1, 0); });
    };
    std::vector<uint8_t> extra = siz_body(0, plain_canvas, {{0x07, 1, 1}});
    extra.push_back(0);
    EXPECT_EQ(lead + "Malformed SIZ marker segment encountered. The final 1 bytes were not consumed!",
              fresh_error(0xFF51, extra));
    std::vector<uint8_t> cut = siz_body(0, plain_canvas, {{0x07, 1, 1}, {0x07, 1, 1}});
    cut.pop_back();
    EXPECT_EQ(lead + "Malformed SIZ marker segment encountered. Marker segment is too small.",
              fresh_error(0xFF51, cut));
    EXPECT_EQ(lead + "Illegal image sample bit-depth, 39. Legal range is from 1 to 38 bits per sample.",
              fresh_error(0xFF51, siz_body(0, plain_canvas, {{0x26, 1, 1}})));
    EXPECT_EQ(lead + "Illegal number of image components! Must be in the range 1 to 16384.",
              fresh_error(0xFF51, siz_body(0, plain_canvas, {})));
    std::vector<uint8_t> many = siz_body(0, plain_canvas, {});
    many[many.size() - 2] = 0x40;
    many[many.size() - 1] = 0x01; // 16385
    EXPECT_EQ(lead + "Illegal number of image components! Must be in the range 1 to 16384.",
              fresh_error(0xFF51, many));
    EXPECT_EQ(lead + "Invalid SIZ marker segment encountered!",
              fresh_error(0xFF51, siz_body(0, {0x80000000u, 800, 0, 0, 1000, 800, 0, 0}, {{7, 1, 1}})));
    EXPECT_EQ(lead + "Invalid SIZ marker segment encountered!",
              fresh_error(0xFF51, siz_body(0, {1000, 800, 1000, 0, 1000, 800, 0, 0}, {{7, 1, 1}})));
    EXPECT_EQ(lead + "Malformed CBD marker segment encountered. Marker segment is too small.",
              fresh_error(0xFF78, {0x00, 0x03, 0x07}));
    EXPECT_EQ(lead + "Malformed CBD marker segment encountered. The final 2 bytes were not consumed!",
              fresh_error(0xFF78, {0x80, 0x03, 0x07, 1, 2}));
    EXPECT_EQ(lead + "Illegal number of MCT output components, `Mcomponents'! Must be in the range 0 to 16384.",
              fresh_error(0xFF78, {0x7F, 0xFF, 0x07}));
    EXPECT_EQ(lead + "Illegal precision for MCT output component, 39. Legal range is from 1 to 38 bits per sample.",
              fresh_error(0xFF78, {0x00, 0x01, 0x26}));
    // Tile-part headers never carry SIZ.
    std::vector<uint8_t> body = siz_body(0, plain_canvas, {{7, 1, 1}});
    EXPECT_FALSE(root->translate_marker_segment(0xFF51, static_cast<int>(body.size()), body.data(), -1, 1));
}
