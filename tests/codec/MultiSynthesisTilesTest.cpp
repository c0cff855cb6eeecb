// Real tiles through the multi-component network, against opj_decompress: colour and
// multi-component codestreams at every discard level and over regions.
#include "codec/coding/rvd_multi_synthesis.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"

#include <boost/thread/thread.hpp>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace multi_test;

namespace {

struct tile_case {
    std::string kind, stream, tag;
    int reduce = 0, ncomp = 0;
    bool has_region = false;
    rvd_dims region;
};

std::vector<tile_case> read_cases()
{
    std::vector<tile_case> out;
    std::ifstream in(codec_test::stream_dir("multi") + "/multi_cases.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        tile_case c;
        std::string x0, y0, x1, y1;
        if (!(s >> c.kind >> c.stream >> c.reduce >> x0 >> y0 >> x1 >> y1 >> c.ncomp >> c.tag))
            continue;
        if (x0 != "-") {
            c.has_region = true;
            c.region.pos = rvd_coords(std::stoi(y0), std::stoi(x0));
            c.region.size = rvd_coords(std::stoi(y1) - std::stoi(y0), std::stoi(x1) - std::stoi(x0));
        }
        out.push_back(c);
    }
    return out;
}

// Largest difference from the reference over every component; -1 when the shapes differ.
int peak_error(const tile_case& c, const network_options& opt)
{
    const std::string dir = codec_test::stream_dir("multi");
    codec_test::file_source src(dir + "/" + c.stream + ".j2k");
    codestream_guard guard;
    rvd_codestream& cs = guard.cs;
    cs.create(&src);
    cs.apply_input_restrictions(0, 0, c.reduce, 0, c.has_region ? &c.region : nullptr);
    std::vector<plane> got = decode_through_network(cs, opt);
    if (int(got.size()) != c.ncomp)
        return -1;
    int peak = 0;
    for (int k = 0; k < c.ncomp; ++k) {
        plane ref = read_samples(dir + "/" + c.tag + "_" + std::to_string(k) + ".samples");
        const plane& p = got[std::size_t(k)];
        if (ref.width != p.width || ref.height != p.height || ref.samples.empty())
            return -1;
        for (std::size_t i = 0; i < p.samples.size(); ++i)
            peak = std::max(peak, std::abs(p.samples[i] - ref.samples[i]));
    }
    return peak;
}

} // namespace

TEST(MultiSynthesisTiles, LosslessColourAndMultiComponentStreamsAreExact)
{
    std::vector<tile_case> cases = read_cases();
    ASSERT_GE(cases.size(), 40u);
    int n = 0;
    for (const tile_case& c : cases) {
        if (c.kind != "rev")
            continue;
        ++n;
        // 16-bit lines, 32-bit lines, and a taller stripe.
        network_options opt;
        EXPECT_EQ(peak_error(c, opt), 0) << c.tag;
        opt.force_precise = true;
        opt.stripe = 5;
        EXPECT_EQ(peak_error(c, opt), 0) << c.tag << " precise";
    }
    EXPECT_GE(n, 40);
}

TEST(MultiSynthesisTiles, IrreversibleColourWithinOneOrTwo)
{
    int n = 0;
    for (const tile_case& c : read_cases()) {
        if (c.kind != "irr")
            continue;
        ++n;
        network_options opt;
        const int p16 = peak_error(c, opt);
        EXPECT_GE(p16, 0) << c.tag;
        EXPECT_LE(p16, 2) << c.tag;
        opt.force_precise = true;
        const int p32 = peak_error(c, opt);
        EXPECT_GE(p32, 0) << c.tag;
        EXPECT_LE(p32, 1) << c.tag;
    }
    EXPECT_GE(n, 6);
}
