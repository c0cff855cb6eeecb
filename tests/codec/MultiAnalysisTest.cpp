// The multi-component analysis: rows held for the colour transform, rows past the end,
// and whole codestreams through the analysis equal, byte for byte, to the block feeder's
// (reference wavelet and colour transform) for reversible geometries.
#include "codec/coding/rvd_multi_analysis.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/block_feeder.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/memory_target.h"
#include "tools/encode/image_encoder.h"

#include <gtest/gtest.h>

#include <random>

using namespace codec_test;

namespace {

std::vector<encode_component> random_image(std::mt19937& rng, int comps, int h, int w, int depth,
                                           bool is_signed, std::vector<std::pair<int, int>> sampling = {})
{
    std::vector<encode_component> img(static_cast<size_t>(comps));
    for (int c = 0; c < comps; c++) {
        encode_component& ec = img[size_t(c)];
        ec.dy = sampling.empty() ? 1 : sampling[size_t(c)].first;
        ec.dx = sampling.empty() ? 1 : sampling[size_t(c)].second;
        ec.height = (h + ec.dy - 1) / ec.dy;
        ec.width = (w + ec.dx - 1) / ec.dx;
        ec.depth = depth;
        ec.is_signed = is_signed;
        const int64_t lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
        const uint64_t span = uint64_t(1) << depth;
        // Smooth with noise, so that every plane and band carries something.
        ec.samples.resize(size_t(ec.height) * size_t(ec.width));
        for (int y = 0; y < ec.height; y++)
            for (int x = 0; x < ec.width; x++) {
                const uint64_t v = (uint64_t(y * 37 + x * 11 + c * 101) * (span / 256 + 1) + rng() % 64) % span;
                ec.samples[size_t(y) * size_t(ec.width) + size_t(x)] = int32_t(lo + int64_t(v));
            }
    }
    return img;
}

std::vector<uint8_t> through_feeder(const std::vector<encode_component>& img, const encode_settings& s)
{
    memory_target t;
    siz_params siz;
    rvd_codestream cs;
    open_codestream(cs, siz, img, encode_attributes(img, s), &t);
    std::vector<std::vector<int32_t>> samples;
    for (const encode_component& c : img)
        samples.push_back(c.samples);
    feed_blocks(cs, samples);
    int64_t bytes[1] = {0};
    cs.flush(bytes, 1);
    cs.destroy();
    return t.bytes;
}

std::vector<uint8_t> through_analysis(const std::vector<encode_component>& img, const encode_settings& s)
{
    memory_target t;
    encode_components(img, s, &t);
    return t.bytes;
}

} // namespace

TEST(MultiAnalysis, WritesTheFeedersStreamForReversibleGeometries)
{
    encode_library_startup();
    struct {
        const char* name;
        int comps, h, w, depth;
        bool is_signed;
        const char* attributes;
        std::vector<std::pair<int, int>> sampling;
    } cases[] = {
        {"grey, no levels", 1, 37, 53, 8, false, "Clevels=0 Cblk={16,16}", {}},
        {"grey, one level", 1, 37, 53, 8, false, "Clevels=1 Cblk={16,16}", {}},
        {"grey, five levels", 1, 61, 47, 8, false, "Clevels=5 Cblk={8,16}", {}},
        {"1 x 33", 1, 1, 33, 8, false, "Clevels=3", {}},
        {"33 x 1", 1, 33, 1, 8, false, "Clevels=3", {}},
        {"signed 10 bits", 1, 40, 40, 10, true, "Clevels=2 Cblk={32,32}", {}},
        {"16 bits", 1, 40, 36, 16, false, "Clevels=3 Cblk={16,16}", {}},
        {"RGB", 3, 61, 47, 8, false, "Clevels=2 Cblk={16,16}", {}},
        {"RGB 12 bits, tiles", 3, 70, 90, 12, false, "Clevels=3 Stiles={32,40} Cblk={16,16}", {}},
        {"origins", 3, 50, 45, 8, false,
         "Clevels=4 Sorigin={3,5} Stiles={20,24} Stile_origin={1,2} Cblk={8,8}", {}},
        {"4 components, no colour", 4, 30, 30, 8, false, "Clevels=2 Cycc=no Cblk={16,16}", {}},
        {"sub-sampled", 3, 41, 39, 8, false, "Clevels=2 Cblk={16,16}", {{1, 1}, {2, 2}, {1, 2}}},
        {"layers and modes", 1, 64, 64, 8, false, "Clevels=3 Clayers=3 Cmodes=BYPASS|RESET|CAUSAL Cblk={16,16}", {}},
    };
    std::mt19937 rng(52);
    for (const auto& c : cases) {
        const auto img = random_image(rng, c.comps, c.h, c.w, c.depth, c.is_signed, c.sampling);
        for (int precise = 0; precise < 2; precise++) {
            SCOPED_TRACE(testing::Message() << c.name << (precise ? ", 32-bit lines" : ", 16-bit lines"));
            encode_settings s;
            std::istringstream in(c.attributes);
            for (std::string a; in >> a;)
                s.attributes.push_back(a);
            s.precise = precise != 0;
            const auto expected = through_feeder(img, s);
            const auto got = through_analysis(img, s);
            EXPECT_GT(expected.size(), 40u);
            EXPECT_TRUE(expected == got) << expected.size() << " bytes expected, " << got.size() << " written";
        }
    }
}

// With the colour transform, a row of component 0 waits for components 1 and 2; a row
// past the component's height is refused without effect.
TEST(MultiAnalysis, ColourRowsWaitAndRowsEnd)
{
    encode_library_startup();
    std::mt19937 rng(53);
    const auto img = random_image(rng, 3, 2, 8, 8, false);
    encode_settings s;
    s.attributes = {"Clevels=0"};
    memory_target t;
    siz_params siz;
    rvd_codestream cs;
    open_codestream(cs, siz, img, encode_attributes(img, s), &t);
    rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
    rvd_multi_analysis a;
    a.create(cs, tile);
    auto fill = [](rvd_line_buf* l) {
        for (int x = 0; x < l->get_width(); x++)
            l->get_buf16()[x] = int16_t(x);
    };
    rvd_line_buf* l0 = a.exchange_line(0, false);
    ASSERT_NE(nullptr, l0);
    fill(l0);
    EXPECT_EQ(nullptr, a.exchange_line(0, true)); // held for the colour transform
    EXPECT_EQ(nullptr, a.exchange_line(0, false));
    for (int c = 1; c < 3; c++) {
        rvd_line_buf* l = a.exchange_line(c, false);
        ASSERT_NE(nullptr, l);
        fill(l);
        // Component 1 waits too; component 2 completes the row, which goes through.
        EXPECT_EQ(c == 2, a.exchange_line(c, true) != nullptr) << c;
    }
    EXPECT_NE(nullptr, a.exchange_line(0, false)); // row 0 went through
    for (int c = 0; c < 3; c++) {
        fill(a.exchange_line(c, false));
        EXPECT_EQ(nullptr, a.exchange_line(c, true)); // component's last row given
        EXPECT_EQ(nullptr, a.exchange_line(c, true)); // nothing beyond it
    }
    EXPECT_EQ(nullptr, a.exchange_line(3, false));
    a.destroy();
    tile.close();
    int64_t bytes[1] = {0};
    cs.flush(bytes, 1);
    cs.destroy();
    EXPECT_GT(t.bytes.size(), 20u);
}
