// The decode library on colour and multi-component streams, against opj_decompress's
// output components (RGB after the colour transform): lossless ones exact at every
// discard level and over regions, on 16-bit and 32-bit lines; irreversible colour
// within 2 on 16-bit lines and 1 on 32-bit lines.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct colour_case {
    std::string kind, stream, tag;
    decode_settings settings;
    int ncomp = 0;
};

// The "multi" group's manifest: kind stream reduce x0 y0 x1 y1 (or - - - -) ncomp tag.
std::vector<colour_case> read_cases()
{
    std::vector<colour_case> out;
    std::ifstream in(codec_test::stream_dir("multi") + "/multi_cases.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        colour_case c;
        std::string x0, y0, x1, y1;
        if (!(s >> c.kind >> c.stream >> c.settings.reduce >> x0 >> y0 >> x1 >> y1 >> c.ncomp >> c.tag))
            continue;
        if (x0 != "-") {
            c.settings.has_region = true;
            c.settings.region.pos = rvd_coords(std::stoi(y0), std::stoi(x0));
            c.settings.region.size = rvd_coords(std::stoi(y1) - std::stoi(y0), std::stoi(x1) - std::stoi(x0));
        }
        out.push_back(c);
    }
    return out;
}

// Largest difference from the reference over every output component; -1 when the
// component count or a shape differs.
int64_t peak_error(const colour_case& c, bool precise)
{
    const std::string dir = codec_test::stream_dir("multi");
    decode_settings s = c.settings;
    s.precise = precise;
    s.fastest = !precise; // 16-bit lines wherever the depth allows
    const std::vector<pgx_image> got = codec_test::decode_file(dir + "/" + c.stream + ".j2k", s);
    if (int(got.size()) != c.ncomp)
        return -1;
    int64_t peak = 0;
    for (int k = 0; k < c.ncomp; ++k) {
        const multi_test::plane ref =
            multi_test::read_samples(dir + "/" + c.tag + "_" + std::to_string(k) + ".samples");
        const pgx_image& p = got[size_t(k)];
        if (ref.width != p.width || ref.height != p.height || ref.samples.empty())
            return -1;
        for (size_t i = 0; i < p.samples.size(); ++i)
            peak = std::max<int64_t>(peak, std::abs(int64_t(p.samples[i]) - ref.samples[i]));
    }
    return peak;
}

} // namespace

TEST(DecodeColour, OutputComponentsMatchTheReferenceDecoder)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::vector<colour_case> cases = read_cases();
    ASSERT_GE(cases.size(), 46u);
    int rev = 0, irr = 0;
    for (const colour_case& c : cases) {
        if (c.kind == "rev") {
            ++rev;
            EXPECT_EQ(peak_error(c, false), 0) << c.tag << " (16-bit lines)";
            EXPECT_EQ(peak_error(c, true), 0) << c.tag << " (32-bit lines)";
        } else if (c.kind == "irr") {
            ++irr;
            const int64_t p16 = peak_error(c, false), p32 = peak_error(c, true);
            EXPECT_TRUE(p16 >= 0 && p16 <= 2) << c.tag << " (16-bit lines): peak " << p16;
            EXPECT_TRUE(p32 >= 0 && p32 <= 1) << c.tag << " (32-bit lines): peak " << p32;
        }
    }
    // RGB 8 and 12 bits with RCT and without, four components (also sub-sampled), -s 2,2,
    // tiles with offsets: each at every level and over two regions; ICT likewise.
    EXPECT_GE(rev, 40);
    EXPECT_GE(irr, 6);
}
