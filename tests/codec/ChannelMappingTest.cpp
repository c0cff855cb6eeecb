// Channel mapping from hand-built JP2 headers and from opj_compress files: direct
// components and their conversion, alpha channels, and both forms agreeing on real files.
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"
#include "codec/jp2/rvd_cache.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/codestream_bytes.h"
#include "tests/codec/support/jp2_box_writer.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

using namespace codec_test;
using jp2_test::box;
using jp2_test::bytes;
using jp2_test::cat;

namespace {

bytes ihdr(uint32_t h, uint32_t w, uint16_t nc, uint8_t bpc)
{
    bytes b;
    jp2_test::put32(b, h);
    jp2_test::put32(b, w);
    jp2_test::put16(b, nc);
    b.insert(b.end(), {bpc, 7, 0, 0});
    return box("ihdr", b);
}

bytes colr(uint32_t space)
{
    bytes b = {1, 0, 0};
    jp2_test::put32(b, space);
    return box("colr", b);
}

// Each definition: channel, type (0 colour, 1 opacity, 2 premultiplied), association.
bytes cdef(const std::vector<std::array<uint16_t, 3>>& defs)
{
    bytes b;
    jp2_test::put16(b, uint32_t(defs.size()));
    for (auto& d : defs)
        for (auto v : d)
            jp2_test::put16(b, v);
    return box("cdef", b);
}

// A JP2 header read from a meta-data bin, as the streamed image opens it.
struct header_source {
    explicit header_source(const bytes& top_boxes)
    {
        bytes meta = cat({top_boxes, jp2_test::server_placeholder(1000)});
        cache.add_to_databin(4, 0, 0, meta.data(), 0, int(meta.size()), true);
        bytes mh = {0xFF, 0x4F, 0xFF, 0x51};
        cache.add_to_databin(3, 0, 0, mh.data(), 0, 4, true);
        family.open(&cache);
        EXPECT_TRUE(source.open(&family, jp2_locator()));
        EXPECT_TRUE(source.read_header());
    }
    rvd_cache cache;
    jp2_family_src family;
    jp2_source source;
};

bytes jp2_file(const bytes& header_boxes)
{
    bytes ftyp;
    jp2_test::put32(ftyp, jp2_test::fourcc("jp2 "));
    jp2_test::put32(ftyp, 0);
    jp2_test::put32(ftyp, jp2_test::fourcc("jp2 "));
    return cat({box("jP  ", {0x0D, 0x0A, 0x87, 0x0A}), box("ftyp", ftyp), box("jp2h", header_boxes)});
}

} // namespace

TEST(ChannelMapping, Jp2FormDirectComponentsAndConversion)
{
    // RGB, 12-bit: three direct channels, sRGB needs no conversion work.
    {
        header_source h(jp2_file(cat({ihdr(4, 4, 3, 11), colr(16)})));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.num_channels, 3);
        EXPECT_EQ(m.source_components, (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(m.default_rendering_precision, (std::vector<int>{12, 12, 12}));
        EXPECT_EQ(m.palette_bits, 0);
        ASSERT_NE(m.colour_converter.get_state(), nullptr);
        EXPECT_FALSE(m.colour_converter.is_non_trivial());
    }
    // sYCC is converted; cdef reorders the colours onto other components.
    {
        header_source h(jp2_file(cat({ihdr(4, 4, 3, 7), colr(18), cdef({{0, 0, 3}, {1, 0, 1}, {2, 0, 2}})})));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.source_components, (std::vector<int>{1, 2, 0}));
        EXPECT_TRUE(m.colour_converter.is_non_trivial());
    }
}

TEST(ChannelMapping, AlphaChannels)
{
    // Grey plus opacity on component 1.
    auto grey_alpha = [](uint16_t type) {
        return jp2_file(cat({ihdr(4, 4, 2, 7), colr(17), cdef({{0, 0, 1}, {1, type, 0}})}));
    };
    {
        header_source h(grey_alpha(1));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.num_channels, 2);
        EXPECT_EQ(m.num_colour_channels, 1);
        EXPECT_EQ(m.source_components, (std::vector<int>{0, 1}));
        // Ignoring alpha leaves the colour channel only; adding it again replaces it.
        ASSERT_TRUE(m.configure(&h.source, true));
        EXPECT_EQ(m.num_channels, 1);
        EXPECT_TRUE(m.add_alpha_to_configuration(h.source.get_channels(), 0, h.source.get_palette(),
                                                 h.source.get_dimensions(), true));
        EXPECT_TRUE(m.add_alpha_to_configuration(h.source.get_channels(), 0, h.source.get_palette(),
                                                 h.source.get_dimensions(), true));
        EXPECT_EQ(m.num_channels, 2);
        // Another codestream's opacity is not this one's.
        EXPECT_FALSE(m.add_alpha_to_configuration(h.source.get_channels(), 1, h.source.get_palette(),
                                                  h.source.get_dimensions(), true));
        EXPECT_EQ(m.num_channels, 1);
    }
    {
        // Premultiplied opacity counts only when not ignored; the viewer ignores it.
        header_source h(grey_alpha(2));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.num_channels, 1);
        EXPECT_TRUE(m.add_alpha_to_configuration(h.source.get_channels(), 0, h.source.get_palette(),
                                                 h.source.get_dimensions(), false));
        EXPECT_EQ(m.num_channels, 2);
        EXPECT_EQ(m.source_components[1], 1);
    }
    {
        // RGB with opacity for red only: no shared alpha channel.
        header_source h(jp2_file(
            cat({ihdr(4, 4, 4, 7), colr(16), cdef({{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 1, 1}})})));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.num_channels, 3);
    }
    {
        // RGB with a whole-image opacity.
        header_source h(jp2_file(
            cat({ihdr(4, 4, 4, 7), colr(16), cdef({{0, 0, 1}, {1, 0, 2}, {2, 0, 3}, {3, 1, 0}})})));
        rvd_channel_mapping m;
        ASSERT_TRUE(m.configure(&h.source, false));
        EXPECT_EQ(m.num_channels, 4);
        EXPECT_EQ(m.source_components[3], 3);
    }
}

namespace {

std::string work_dir()
{
    std::string dir = std::string(ORBEL_BINARY_DIR) + "/channel_mapping";
    EXPECT_EQ(std::system(("mkdir -p " + dir).c_str()), 0);
    return dir;
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Splits an opj JP2 file into the boxes before its codestream box and the codestream.
void split_jp2(const std::vector<uint8_t>& file, bytes& top, std::vector<uint8_t>& stream)
{
    size_t at = 0;
    while (at + 8 <= file.size()) {
        uint32_t len = be32(file, at);
        if (be32(file, at + 4) == jp2_test::fourcc("jp2c")) {
            size_t end = len ? at + len : file.size();
            ASSERT_LE(end, file.size());
            stream.assign(file.begin() + long(at + 8), file.begin() + long(end));
            return;
        }
        ASSERT_GE(len, 8u);
        ASSERT_LE(at + len, file.size());
        top.insert(top.end(), file.begin() + long(at), file.begin() + long(at + len));
        at += len;
    }
    FAIL() << "no codestream box";
}

} // namespace

TEST(ChannelMapping, OpjFilesAgreeInBothForms)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const std::string dir = work_dir();
    struct Case {
        const char* name;
        int comps, depth;
        bool is_signed;
        int channels;
    };
    for (const Case& c : {Case{"grey8", 1, 8, false, 1}, Case{"grey12s", 1, 12, true, 1},
                          Case{"rgb8", 3, 8, false, 3}, Case{"rgb16", 3, 16, false, 3}}) {
        const std::string base = dir + "/" + c.name;
        {
            std::ofstream raw(base + ".raw", std::ios::binary);
            int bytes_per = c.depth > 8 ? 2 : 1;
            raw << std::string(size_t(37 * 21 * c.comps * bytes_per), '\x11');
        }
        const std::string fmt = "37,21," + std::to_string(c.comps) + "," + std::to_string(c.depth) + "," +
                                (c.is_signed ? "s" : "u");
        ASSERT_EQ(std::system(("opj_compress -i " + base + ".raw -F " + fmt + " -n 3 -o " + base +
                               ".jp2 >/dev/null 2>&1")
                                  .c_str()),
                  0)
            << c.name;
        bytes top;
        std::vector<uint8_t> stream;
        split_jp2(read_file(base + ".jp2"), top, stream);
        ASSERT_FALSE(stream.empty());

        header_source h(top);
        rvd_channel_mapping from_jp2;
        ASSERT_TRUE(from_jp2.configure(&h.source, false)) << c.name;
        EXPECT_EQ(from_jp2.num_channels, c.channels) << c.name;
        EXPECT_NE(from_jp2.colour_converter.get_state(), nullptr) << c.name;

        memory_source src(stream);
        rvd_codestream cs;
        cs.create(&src);
        rvd_channel_mapping from_cs;
        EXPECT_TRUE(from_cs.configure(cs));
        EXPECT_EQ(from_cs.num_channels, c.channels) << c.name;
        for (int ch = 0; ch < c.channels; ++ch) {
            EXPECT_EQ(from_jp2.source_components[size_t(ch)], ch) << c.name;
            EXPECT_EQ(from_cs.source_components[size_t(ch)], ch) << c.name;
            EXPECT_EQ(from_jp2.default_rendering_precision[size_t(ch)], c.depth) << c.name;
            EXPECT_EQ(from_cs.default_rendering_precision[size_t(ch)], c.depth) << c.name;
            EXPECT_EQ(from_jp2.default_rendering_signed[size_t(ch)], c.is_signed) << c.name;
            EXPECT_EQ(from_cs.default_rendering_signed[size_t(ch)], c.is_signed) << c.name;
        }
        cs.destroy();
    }
}
