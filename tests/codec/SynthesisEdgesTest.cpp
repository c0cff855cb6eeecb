// The inverse wavelet on tiny and edge geometries (tools/make_test_streams.py, group
// "edges"): images one sample wide or tall, 1x1 and 2x2, short last tiles under many
// levels, odd image and tile-grid offsets, against opj_decompress's decodes through the
// decode library and the multi-component network, on 16- and 32-bit lines.
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"
#include "tools/decode/image_decoder.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace codec_test;

// edge_cases.txt has the lines of decode_cases.txt.
const std::vector<decode_case>& cases()
{
    static const std::vector<decode_case> all = [] {
        const std::string dir = stream_dir("edges");
        std::ifstream in(dir + "/edge_cases.txt");
        std::vector<decode_case> out;
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            decode_case c;
            std::string x0, y0, x1, y1;
            if (!(ls >> c.kind >> c.stream >> c.depth >> c.reduce >> x0 >> y0 >> x1 >> y1 >>
                  c.reference))
                continue;
            c.stream = dir + "/" + c.stream + ".j2k";
            c.reference = dir + "/" + c.reference;
            if (x0 != "-") {
                c.has_region = true;
                c.region = rvd_dims(rvd_coords(std::stoi(y0), std::stoi(x0)),
                                    rvd_coords(std::stoi(y1) - std::stoi(y0),
                                               std::stoi(x1) - std::stoi(x0)));
            }
            out.push_back(c);
        }
        return out;
    }();
    return all;
}

const char* lines_of(bool precise) { return precise ? " (32-bit lines)" : " (16-bit lines)"; }

// Our decode of a case, or a failure naming the case and the error.
bool decode(const decode_case& c, bool precise, pgx_image& out)
{
    try {
        std::vector<pgx_image> images = decode_file(c.stream, settings_for(c, precise));
        if (images.size() != 1) {
            ADD_FAILURE() << c.name() << lines_of(precise) << ": " << images.size()
                          << " components";
            return false;
        }
        out = images[0];
        return true;
    } catch (const std::exception& e) {
        ADD_FAILURE() << c.name() << lines_of(precise) << ": " << e.what();
        return false;
    }
}

// "lost" streams do not give opj_compress's source back: their lone odd columns hold odd
// values, which our halving rounds down where opj rounds towards zero.
TEST(SynthesisEdges, ReversibleDecodesEqualTheReference)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    ASSERT_GT(cases().size(), 60u);
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.kind == "irr")
            continue;
        const pgx_image ref = read_pgx(c.reference);
        for (bool precise : {false, true}) {
            pgx_image ours;
            if (!decode(c, precise, ours))
                continue;
            const image_diff d = compare_images(ref, ours);
            EXPECT_TRUE(d.same_size && d.peak <= (c.kind == "lost" ? 1 : 0))
                << c.name() << lines_of(precise) << ": " << describe(d);
            checked++;
        }
    }
    EXPECT_GT(checked, 150);
}

TEST(SynthesisEdges, IrreversibleDecodesStayNearTheReference)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Within 1 of opj on 32-bit lines and 2 on 16-bit lines; 8 bits also 50 dB.
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.kind != "irr")
            continue;
        const pgx_image ref = read_pgx(c.reference);
        for (bool precise : {false, true}) {
            if (!precise && c.depth > 8)
                continue;
            pgx_image ours;
            if (!decode(c, precise, ours))
                continue;
            const image_diff d = compare_images(ref, ours);
            EXPECT_TRUE(d.same_size && d.peak <= (precise ? 1 : 2))
                << c.name() << lines_of(precise) << ": " << describe(d);
            if (c.depth == 8) {
                EXPECT_GE(d.psnr(8), 50.0) << c.name() << lines_of(precise) << ": " << describe(d);
            }
            checked++;
        }
    }
    EXPECT_GT(checked, 30);
}

// The network builds one engine per tile-component, so each short last tile meets the
// inverse wavelet on its own.
TEST(SynthesisEdges, NetworkDecodesEqualTheReference)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.has_region || c.reduce != 0)
            continue;
        const pgx_image ref = read_pgx(c.reference);
        for (bool precise : {false, true}) {
            multi_test::codestream_guard g;
            memory_source src(read_file(c.stream));
            g.cs.create(&src);
            multi_test::network_options opt;
            opt.force_precise = precise;
            std::vector<multi_test::plane> planes;
            try {
                planes = multi_test::decode_through_network(g.cs, opt);
            } catch (const std::exception& e) {
                ADD_FAILURE() << c.name() << lines_of(precise) << ": " << e.what();
                continue;
            }
            ASSERT_EQ(planes.size(), 1u) << c.name();
            const multi_test::plane& p = planes[0];
            ASSERT_EQ(p.width, ref.width) << c.name();
            ASSERT_EQ(p.height, ref.height) << c.name();
            const int64_t allowed = c.kind == "rev" ? 0 : c.kind == "lost" || precise ? 1 : 2;
            int64_t peak = 0;
            for (size_t i = 0; i < p.samples.size(); i++)
                peak = std::max<int64_t>(peak, std::abs(int64_t(p.samples[i]) - ref.samples[i]));
            EXPECT_LE(peak, allowed) << c.name() << lines_of(precise);
            checked++;
        }
    }
    EXPECT_GT(checked, 30);
}

// The sample of the identity view that apparent sample (y, x) of a view shows.
int32_t identity_sample(const pgx_image& id, const pgx_image& view, int y, int x, bool t,
                        bool v, bool h)
{
    rvd_coords p(view.y0 + y, view.x0 + x);
    p.from_apparent(t, v, h);
    const int iy = p.y - id.y0, ix = p.x - id.x0;
    if (iy < 0 || iy >= id.height || ix < 0 || ix >= id.width)
        return INT32_MIN;
    return id.samples[size_t(iy) * size_t(id.width) + size_t(ix)];
}

// Flips and transposition turn odd node positions even and rows into columns: each view
// of a lossless case is the identity decode rearranged.
TEST(SynthesisEdges, ViewsRearrangeTheIdentityDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.kind == "irr" || c.reduce > 1)
            continue;
        pgx_image id;
        if (!decode(c, false, id))
            continue;
        for (int combo = 1; combo < 8; combo++) {
            decode_settings s = settings_for(c, combo % 2 == 0);
            s.transpose = (combo & 1) != 0;
            s.vflip = (combo & 2) != 0;
            s.hflip = (combo & 4) != 0;
            std::vector<pgx_image> views;
            try {
                views = decode_file(c.stream, s);
            } catch (const std::exception& e) {
                ADD_FAILURE() << c.name() << " view " << combo << ": " << e.what();
                continue;
            }
            ASSERT_EQ(views.size(), 1u);
            const pgx_image& view = views[0];
            ASSERT_EQ(view.width, s.transpose ? id.height : id.width) << c.name() << " view " << combo;
            ASSERT_EQ(view.height, s.transpose ? id.width : id.height) << c.name() << " view " << combo;
            int64_t wrong = 0;
            for (int y = 0; y < view.height; y++)
                for (int x = 0; x < view.width; x++)
                    wrong += view.samples[size_t(y) * size_t(view.width) + size_t(x)] !=
                             identity_sample(id, view, y, x, s.transpose, s.vflip, s.hflip);
            EXPECT_EQ(wrong, 0) << c.name() << " view " << combo;
            checked++;
        }
    }
    EXPECT_GT(checked, 200);
}

} // namespace
