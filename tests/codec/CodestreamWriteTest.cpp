// The writing pieces: COM segments, TLM reservation and rewrite, the compressed-data
// output; then whole codestreams through them, read back by outside decoders.
#include "codec/core/rv_codestream_comment.h"
#include "codec/core/rv_compressed_output.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile_writing.h"
#include "codec/core/rv_tlm_generator.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/mct_tree.h"
#include "tests/codec/support/memory_target.h"
#include "tests/codec/support/mini_writer.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

using namespace codec_test;

namespace {

uint32_t be(const std::vector<uint8_t>& b, size_t p, int n)
{
    uint32_t v = 0;
    for (int k = 0; k < n; k++)
        v = (v << 8) | b[p + size_t(k)];
    return v;
}

std::vector<uint8_t> written(const std::string& text, int force)
{
    memory_target t;
    rv_compressed_output out(&t);
    rv_codestream_comment c;
    c.put_text(text.c_str());
    EXPECT_EQ(c.write_marker(nullptr, force), c.write_marker(&out, force));
    out.flush();
    EXPECT_FALSE(c.put_text("more"));
    return t.bytes;
}

} // namespace

TEST(CodestreamWrite, CommentSegmentsAreSizedAndPadded)
{
    auto com = [](std::vector<uint8_t> body) {
        std::vector<uint8_t> s = {0xFF, 0x64, uint8_t((body.size() + 4) >> 8), uint8_t(body.size() + 4), 0, 1};
        s.reserve(s.size() + body.size()); // quiets a false array-bounds warning of g++ 12 at -O3
        s.insert(s.end(), body.begin(), body.end());
        return s;
    };
    EXPECT_EQ(written("abc", 0), com({'a', 'b', 'c'}));
    EXPECT_EQ(written("0123456789", 12), com({'0', '1', '2', '3', '4', '5'}));
    EXPECT_EQ(written("0123456789", 20), com({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 0, 0, 0, 0}));
    EXPECT_EQ(written("abc", 3), com({}));
    EXPECT_EQ(written(std::string(65531, 'x'), 0).size(), 65537u);
}

TEST(CodestreamWrite, OversizedCommentFailsBeforeAnyByte)
{
    memory_target t;
    rv_codestream_comment c;
    c.put_text(std::string(65532, 'x').c_str());
    std::string text = error_text([&] {
        rv_compressed_output out(&t);
        out.put(uint16_t(0xFF4F));
        c.write_marker(&out);
    });
    EXPECT_NE(text.find("Codestream comment of 65532 bytes is too long: a COM marker segment holds "
                        "at most 65531 bytes of text."),
              std::string::npos)
        << text;
    EXPECT_TRUE(t.bytes.empty());
    EXPECT_FALSE(c.readonly); // still writable: nothing was emitted
}

TEST(CodestreamWrite, TlmReservationArithmetic)
{
    struct {
        int tiles, tparts;
        bool ok;
        int tparts_kept, bytes;
    } cases[] = {
        {20000, 1, true, 1, 6 + 65526 + 6 + 54474},
        {1, 300, true, 255, 6 + 6 * 255},
        {1, -3, true, 1, 12},
        {65535, 255, false, 0, 0},
        {10921 * 256, 1, true, 1, 256 * (6 + 65526)},
        {10921 * 256 + 1, 1, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tiles);
        rv_tlm_generator g;
        ASSERT_EQ(c.ok, g.init(c.tiles, c.tparts));
        EXPECT_EQ(c.ok, g.exists());
        EXPECT_EQ(c.tparts_kept, g.get_tparts_per_tile());
        EXPECT_EQ(c.bytes, g.get_tlm_bytes());
        if (!c.ok || c.tiles > 20000)
            continue;
        // The reserved segments, walked by their own lengths, fill exactly tlm_bytes.
        memory_target t;
        {
            rv_compressed_output out(&t);
            g.write_dummy_tlms(&out);
        }
        ASSERT_EQ(size_t(c.bytes), t.bytes.size());
        int entries = 0;
        for (size_t p = 0, z = 0; p < t.bytes.size(); z++) {
            ASSERT_EQ(0xFF55u, be(t.bytes, p, 2));
            const uint32_t len = be(t.bytes, p + 2, 2);
            EXPECT_EQ(z, t.bytes[p + 4]);
            EXPECT_EQ(0x60, t.bytes[p + 5]);
            entries += int(len - 4) / 6;
            p += 2 + len;
        }
        EXPECT_EQ(c.tiles * c.tparts_kept, entries);
    }
}

TEST(CodestreamWrite, TlmLengthLimitsAndRefusedRewrite)
{
    rv_tlm_generator g;
    ASSERT_TRUE(g.init(1, 2));
    EXPECT_NO_THROW(g.add_tpart_length(0, 0xFFFFFFFFll));
    EXPECT_NE(error_text([&] { g.add_tpart_length(0, 0x100000000ll); })
                  .find("one tile-part's length cannot be represented as an unsigned 32-bit value."),
              std::string::npos);
    memory_target refusing(false);
    EXPECT_NE(error_text([&] { g.write_final_tlms(&refusing, 0, 0); })
                  .find("with a compressed data target which does not support repositioning."),
              std::string::npos);
}

// Whole codestreams: comments after the main header and one tile-part per layer with
// TLM. Outside decoders give back the source; each TLM entry equals its SOT's Psot; our
// reading side finds the comments.
TEST(CodestreamWrite, TilePartsWithTlmDecodeOutside)
{
    ORBEL_REQUIRE_TOOL("opj_decompress", "libopenjp2-tools");
    ORBEL_REQUIRE_TOOL("grk_decompress", "grokj2k-tools");
    struct {
        int height, width, comps, precision;
        bool is_signed;
        int layers;
        bool tlm;
    } cases[] = {
        {61, 47, 1, 12, false, 1, true}, {64, 64, 3, 8, false, 3, true},
        {33, 70, 2, 16, true, 5, true},  {40, 40, 1, 8, false, 2, false},
    };
    const std::string dir = std::string(ORBEL_BINARY_DIR) + "/codestream_write";
    std::system(("mkdir -p " + dir).c_str());
    std::mt19937 rng(50);
    const std::vector<std::string> comments = {"first comment", std::string(300, 'c')};
    for (const auto& c : cases) {
        const std::string name = dir + "/s" + std::to_string(c.height) + "_" + std::to_string(c.layers);
        SCOPED_TRACE(name);
        std::vector<std::vector<int32_t>> src(size_t(c.comps));
        const int64_t lo = c.is_signed ? -(int64_t(1) << (c.precision - 1)) : 0;
        for (auto& v : src)
            for (int k = 0; k < c.height * c.width; k++)
                v.push_back(int32_t(lo + int64_t(rng() % (1u << c.precision))));
        std::ostringstream attrs;
        attrs << "Ssize={" << c.height << "," << c.width << "} Scomponents=" << c.comps
              << " Sprecision=" << c.precision << " Ssigned=" << (c.is_signed ? "yes" : "no")
              << " Clevels=0 Clayers=" << c.layers << " Cblk={32,32} Creversible=yes";
        memory_target t;
        ASSERT_NO_THROW(write_mini_codestream(&t, attrs.str(), src, comments, c.tlm));
        const std::vector<uint8_t>& b = t.bytes;
        EXPECT_EQ(c.tlm ? 1 : 0, t.num_rewrites);

        // TLM entries against the SOTs found by walking Psot from the first SOT.
        std::vector<uint32_t> tlm, psot;
        size_t p = 2;
        while (p + 4 <= b.size() && be(b, p, 2) != 0xFF90) {
            const uint32_t code = be(b, p, 2), len = be(b, p + 2, 2);
            if (code == 0xFF55)
                for (size_t e = p + 6; e < p + 2 + len; e += 6)
                    tlm.push_back(be(b, e + 2, 4));
            p += 2 + len;
        }
        while (p + 12 <= b.size() && be(b, p, 2) == 0xFF90) {
            psot.push_back(be(b, p + 6, 4));
            EXPECT_EQ(uint32_t(c.layers), b[p + 11]);
            p += psot.back();
        }
        EXPECT_EQ(p + 2, b.size());
        EXPECT_EQ(0xFFD9u, be(b, b.size() - 2, 2));
        EXPECT_EQ(size_t(c.layers), psot.size());
        if (c.tlm)
            EXPECT_EQ(psot, tlm);
        else
            EXPECT_TRUE(tlm.empty());

        {
            memory_source ms(b);
            rvd_codestream cs;
            cs.create(&ms);
            std::vector<std::string> got;
            for (auto k = cs.get_comment(rvd_codestream_comment()); k.exists(); k = cs.get_comment(k))
                got.push_back(k.get_text());
            cs.destroy();
            EXPECT_EQ(comments, got);
        }

        const std::string path = name + ".j2k";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
        for (const std::string& tool : {std::string("opj_decompress"), std::string("grk_decompress")}) {
            ASSERT_EQ(0, std::system((tool + " -i " + path + " -o " + name + "_" + tool +
                                      ".pgx > /dev/null 2>&1")
                                         .c_str()))
                << tool;
            for (int k = 0; k < c.comps; k++) {
                std::string out = name + "_" + tool + "_" + std::to_string(k) + ".pgx";
                if (c.comps == 1 && !std::ifstream(out))
                    out = name + "_" + tool + ".pgx";
                EXPECT_EQ(src[size_t(k)], read_pgx(out).samples) << tool << " component " << k;
            }
        }
        std::vector<pgx_image> ours = decode_file(path, decode_settings());
        ASSERT_EQ(size_t(c.comps), ours.size());
        for (int k = 0; k < c.comps; k++)
            EXPECT_EQ(src[size_t(k)], ours[size_t(k)].samples);
    }
}

TEST(CodestreamWrite, VersionAndLayerInformationComments)
{
    const std::vector<std::vector<int32_t>> src = {std::vector<int32_t>(64, 7)};
    const std::string attrs = "Ssize={8,8} Scomponents=1 Sprecision=8 Ssigned=no Clevels=0 Clayers=1 Creversible=yes";
    for (const std::vector<std::string>& given : {std::vector<std::string>{"x"}, {"Ravade-v6.0"}}) {
        memory_target t;
        write_mini_codestream(&t, attrs, src, given, false);
        memory_source ms(t.bytes);
        rvd_codestream cs;
        cs.create(&ms);
        rv_codestream_writing w;
        rv_add_version_comment(cs.get_state(), w);
        rv_add_version_comment(cs.get_state(), w);
        const int64_t sizes[3] = {1234, 56789, 1234567};
        const uint16_t thresholds[3] = {60000, 50000, 0};
        for (int round = 0; round < 2; round++) {
            rv_reserve_layer_info_comment(cs.get_state(), w, 3);
            rv_write_layer_info_comment(cs.get_state(), w, 3, sizes, thresholds);
        }
        int versions = 0, infos = 0;
        for (auto c = cs.get_comment(rvd_codestream_comment()); c.exists(); c = cs.get_comment(c)) {
            const std::string text = c.get_text();
            versions += text == "Ravade-v6.0";
            if (text.rfind("Rvd-Layer-Info: ", 0) != 0)
                continue;
            infos++;
            EXPECT_EQ(125, c.get_state()->write_marker(nullptr));
            std::istringstream lines(text);
            std::string line;
            std::getline(lines, line);
            for (int l = 0; l < 3; l++) {
                ASSERT_TRUE(std::getline(lines, line));
                EXPECT_EQ(16u, line.size());
                double slope = 0, bytes = 0;
                ASSERT_EQ(2, std::sscanf(line.c_str(), "%lf, %lf", &slope, &bytes));
                EXPECT_NEAR((thresholds[l] - 65536.0) / 256.0, slope, 0.05);
                EXPECT_NEAR(double(sizes[l]), bytes, 0.05 * double(sizes[l]));
            }
        }
        EXPECT_EQ(1, versions);
        EXPECT_EQ(1, infos);
        cs.destroy();
    }
}

// A POC read with one-byte component fields is written back byte for byte, except that
// CEpoc 0 (standing for 256) goes out as the component count; with three components
// CEpoc 4 is kept as it stands.
TEST(CodestreamWrite, PocRecordsSurviveReadThenWrite)
{
    const std::vector<uint8_t> bodies[] = {
        {0, 0, 0, 1, 3, 0, 4, 3, 0, 0, 2, 6, 0, 0},
        {0, 1, 0, 7, 5, 4, 1},
    };
    for (std::vector<uint8_t> body : bodies) {
        std::unique_ptr<siz_params> root = make_mct_tree(1, 3);
        set_simple_siz(root.get(), 3);
        ASSERT_TRUE(root->translate_marker_segment(0xFF5F, int(body.size()), body.data(), -1, 0));
        root->clear_marks();
        vector_output out;
        ASSERT_NO_THROW(root->access_cluster("POC")->write_marker_segment(&out, nullptr, 0));
        for (size_t k = 5; k < body.size(); k += 7)
            if (body[k] == 0)
                body[k] = 3;
        std::vector<uint8_t> expected = {0xFF, 0x5F, 0, uint8_t(body.size() + 2)};
        expected.insert(expected.end(), body.begin(), body.end());
        EXPECT_EQ(expected, out.finish());
    }
}
