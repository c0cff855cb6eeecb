// JP2 source and header boxes from hand-built meta-data bins: stage resumption as bins
// arrive, palette, component map, channels and resolution.
#include "tests/codec/support/jp2_errors.h"
#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"
#include "codec/jp2/rvd_cache.h"
#include "tests/codec/support/jp2_box_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

using namespace jp2_test;

namespace {

const bytes kSignature = box("jP  ", {0x0D, 0x0A, 0x87, 0x0A});

bytes ftyp(const char* brand = "jp2 ", std::vector<const char*> compat = {"jp2 "})
{
    bytes b;
    put32(b, fourcc(brand));
    put32(b, 0);
    for (auto c : compat)
        put32(b, fourcc(c));
    return box("ftyp", b);
}

bytes ihdr(uint32_t h, uint32_t w, uint16_t nc, uint8_t bpc, uint8_t c = 7, uint8_t unk = 0, uint8_t ipr = 0)
{
    bytes b;
    put32(b, h);
    put32(b, w);
    put16(b, nc);
    b.insert(b.end(), {bpc, c, unk, ipr});
    return box("ihdr", b);
}

bytes colr_enum(uint32_t e, std::vector<uint32_t> extra = {})
{
    bytes b = {1, 0, 0};
    put32(b, e);
    for (auto x : extra)
        put32(b, x);
    return box("colr", b);
}

bytes res_sub(const char* type, uint16_t vn, uint16_t vd, uint16_t hn, uint16_t hd, int8_t ve, int8_t he)
{
    bytes b;
    put16(b, vn);
    put16(b, vd);
    put16(b, hn);
    put16(b, hd);
    b.push_back(uint8_t(ve));
    b.push_back(uint8_t(he));
    return box(type, b);
}

class Jp2Source : public ::testing::Test {
public:
    void SetUp() override { old = rvd_customize_errors(&throwing_sink()); }
    void TearDown() override { rvd_customize_errors(old); }

    // A file of these boxes plus the server's placeholder, and a complete main header.
    void load(const bytes& boxes, bool mainHeader = true)
    {
        source.reset(); // its boxes refer to the family source and the cache
        family.reset();
        cache.reset(new rvd_cache);
        bytes meta = cat({boxes, server_placeholder(1000)});
        cache->add_to_databin(4, 0, 0, meta.data(), 0, int(meta.size()), true);
        if (mainHeader) {
            bytes mh = {0xFF, 0x4F, 0xFF, 0x51};
            cache->add_to_databin(3, 0, 0, mh.data(), 0, 4, true);
        }
        family.reset(new jp2_family_src);
        family->open(cache.get());
        source.reset(new jp2_source);
    }
    bool header() { return source->open(family.get(), jp2_locator()) && source->read_header(); }

    std::string error(const std::function<void()>& f)
    {
        return format_error(f);
    }

    rvd_message* old = nullptr;
    std::unique_ptr<rvd_cache> cache;
    std::unique_ptr<jp2_family_src> family;
    std::unique_ptr<jp2_source> source;
};

bytes grey(std::vector<bytes> extra = {}, bytes colr = colr_enum(17))
{
    bytes jp2h = cat({ihdr(10, 20, 1, 7), colr});
    for (auto& e : extra)
        jp2h = cat({jp2h, e});
    return cat({kSignature, ftyp(), box("jp2h", jp2h)});
}

} // namespace

namespace {

// Counts scope selections of meta-data bin 0 at position 0: each is a read of the signature box.
class CountingCache : public rvd_cache {
public:
    void set_read_scope(int cls, int64_t cs, int64_t id) override
    {
        scopes += cls == 4 && id == 0;
        rvd_cache::set_read_scope(cls, cs, id);
    }
    int scopes = 0;
};

} // namespace

TEST_F(Jp2Source, ResumesAsBinsArriveByteByByte)
{
    bytes meta = cat({grey({box("res ", res_sub("resd", 3, 1, 6, 1, 2, 2))}), server_placeholder(500)});
    CountingCache counting;
    jp2_family_src fam;
    fam.open(&counting);
    jp2_source src;
    int signatureReads = 0;
    bool opened = false;
    for (size_t n = 1; n <= meta.size(); ++n) {
        counting.add_to_databin(4, 0, 0, meta.data() + n - 1, int(n - 1), 1, n == meta.size());
        if (!opened)
            opened = src.open(&fam, jp2_locator());
        if (opened) {
            int before = counting.scopes;
            EXPECT_FALSE(src.read_header()) << n;
            if (n < 12)
                signatureReads += counting.scopes > before;
        }
        if (n < kSignature.size() + 60) {
            EXPECT_FALSE(src.get_dimensions().exists());
        }
    }
    EXPECT_TRUE(src.get_dimensions().exists());
    bytes mh = {0xFF, 0x4F, 0xFF, 0x51, 0, 9};
    for (size_t n = 1; n <= mh.size(); ++n) {
        counting.add_to_databin(3, 0, 0, mh.data() + n - 1, int(n - 1), 1, n == mh.size());
        EXPECT_EQ(src.read_header(), n == mh.size()) << n;
    }
    EXPECT_TRUE(src.read_header());
    EXPECT_EQ(src.get_header_bytes(), int64_t(meta.size() - 52));
    // The resolution: display only, so the capture ratio is the display ratio.
    auto res = src.get_resolution();
    EXPECT_FLOAT_EQ(res.get_aspect_ratio(true), 2.0f);
    EXPECT_FLOAT_EQ(res.get_aspect_ratio(false), 2.0f);
    EXPECT_FLOAT_EQ(res.get_resolution(true), 300.0f);
    // The codestream box reads the main header.
    uint8_t buf[10];
    EXPECT_EQ(src.read(buf, 10), 6);
    EXPECT_EQ(buf[5], 9);

    // Reopening on the same family source keeps the stages; after the source is reopened
    // everything starts again.
    src.close();
    ASSERT_TRUE(src.open(&fam, jp2_locator()));
    EXPECT_TRUE(src.get_dimensions().exists());
    src.close();
    fam.close();
    fam.open(&counting);
    ASSERT_TRUE(src.open(&fam, jp2_locator()));
    EXPECT_FALSE(src.get_dimensions().exists());
    EXPECT_TRUE(src.read_header());
}

TEST_F(Jp2Source, DimensionsPaletteChannelsAndResolution)
{
    // BPC 255 with bpcc depths; brand jpx with jp2 compatibility is accepted.
    load(cat({kSignature, ftyp("jpx ", {"jpx ", "jp2 "}),
              box("jp2h", cat({ihdr(5, 6, 2, 255), box("bpcc", {0x8B, 3}), colr_enum(17)}))}));
    ASSERT_TRUE(header());
    auto d = source->get_dimensions();
    EXPECT_EQ(d.get_bit_depth(0), 12);
    EXPECT_TRUE(d.get_signed(0));
    EXPECT_EQ(d.get_bit_depth(1), 4);
    EXPECT_FALSE(d.get_signed(1));
    EXPECT_EQ(d.get_height(), 5u);

    // Palette of 1024 8-bit entries and a 16-bit signed table; cmap: component 0 via table 1.
    bytes pclr;
    put16(pclr, 1024);
    pclr.push_back(2);
    pclr.push_back(7);
    pclr.push_back(0x8F);
    for (int e = 0; e < 1024; ++e) {
        pclr.push_back(uint8_t(e * 7));
        put16(pclr, uint32_t(int16_t(e * 31 - 16000)) & 0xFFFF);
    }
    load(grey({box("pclr", pclr), box("cmap", {0, 0, 1, 1})}));
    ASSERT_TRUE(header());
    auto p = source->get_palette();
    EXPECT_EQ(p.get_num_entries(), 1024);
    EXPECT_EQ(p.get_bit_depth(1), 16);
    EXPECT_TRUE(p.get_signed(1));
    auto lut0 = p.get_lut(0);
    auto lut1 = p.get_lut(1);
    for (int e = 0; e < 1024; e += 37) {
        EXPECT_EQ(lut0[size_t(e)], (uint8_t(e * 7) - 128) * 32) << e;
        EXPECT_EQ(lut1[size_t(e)], std::floor((int16_t(e * 31 - 16000) + 4) / 8.0)) << e;
    }
    int comp, lut, cs;
    auto ch = source->get_channels();
    ASSERT_TRUE(ch.get_colour_mapping(0, comp, lut, cs));
    EXPECT_EQ(std::make_tuple(comp, lut, cs), std::make_tuple(0, 1, 0));
    EXPECT_FALSE(ch.get_opacity_mapping(0, comp, lut, cs));

    // No pclr, cmap or cdef and three colours: colours on components 0, 1, 2, direct.
    load(cat({kSignature, ftyp(), box("jp2h", cat({ihdr(2, 2, 3, 7), colr_enum(16)}))}));
    ASSERT_TRUE(header());
    ch = source->get_channels();
    for (int c = 0; c < 3; ++c) {
        ASSERT_TRUE(ch.get_colour_mapping(c, comp, lut, cs));
        EXPECT_EQ(std::make_tuple(comp, lut, cs), std::make_tuple(c, -1, 0));
    }
    EXPECT_EQ(source->get_colour().get_space(), 16);

    // RGBA: an opacity of Asoc 0 belongs to every colour.
    load(cat({kSignature, ftyp(),
              box("jp2h", cat({ihdr(2, 2, 4, 7), colr_enum(16),
                               box("cdef", {0, 4, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 3, 0, 3, 0, 1, 0, 0})}))}));
    ASSERT_TRUE(header());
    ch = source->get_channels();
    for (int c = 0; c < 3; ++c) {
        ASSERT_TRUE(ch.get_opacity_mapping(c, comp, lut, cs));
        EXPECT_EQ(comp, 3);
    }

    // An unknown enumerated space is skipped and a later colr read; Lab without EP values.
    load(cat({kSignature, ftyp(), box("jp2h", cat({ihdr(2, 2, 3, 7), colr_enum(2), colr_enum(16)}))}));
    ASSERT_TRUE(header());
    EXPECT_EQ(source->get_colour().get_num_colours(), 3);
    load(cat({kSignature, ftyp(), box("jp2h", cat({ihdr(2, 2, 3, 7), colr_enum(14)}))}));
    ASSERT_TRUE(header());
    auto lab = source->get_colour();
    EXPECT_EQ(std::make_tuple(lab.get_range(0), lab.get_range(1), lab.get_range(2)), std::make_tuple(100, 170, 200));
    EXPECT_EQ(std::make_tuple(lab.get_offset(1), lab.get_offset(2)), std::make_tuple(128, 96));
    EXPECT_EQ(lab.get_illuminant(), 0x443530u);

    // Resolution exponents that overflow the float give ratio 1.
    load(grey({box("res ", res_sub("resc", 1, 1, 1, 1, 0, 127))}));
    ASSERT_TRUE(header());
    EXPECT_EQ(source->get_resolution().get_aspect_ratio(false), 1.0f);
}
