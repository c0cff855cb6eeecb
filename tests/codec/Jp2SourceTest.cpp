// JP2 source and header boxes from hand-built meta-data bins: the error table, stage
// resumption, palette, component map, channels, resolution and ICC profiles.
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

// A minimal ICC profile: header, tag table, tags laid out behind it.
struct Icc {
    const char* device = "mntr";
    const char* space = "RGB ";
    const char* pcs = "XYZ ";
    std::vector<std::pair<const char*, bytes>> tags;
    int declared = -1;
    bytes build() const
    {
        bytes out(128, 0);
        auto set32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
        };
        set32(12, fourcc(device));
        set32(16, fourcc(space));
        set32(20, fourcc(pcs));
        put32(out, uint32_t(tags.size()));
        size_t data = 132 + 12 * tags.size();
        bytes body;
        for (auto& t : tags) {
            put32(out, fourcc(t.first));
            put32(out, uint32_t(data + body.size()));
            put32(out, uint32_t(t.second.size()));
            body.insert(body.end(), t.second.begin(), t.second.end());
        }
        out.insert(out.end(), body.begin(), body.end());
        set32(0, declared >= 0 ? uint32_t(declared) : uint32_t(out.size()));
        return out;
    }
};

bytes curv(std::vector<uint16_t> points)
{
    bytes b;
    put32(b, fourcc("curv"));
    put32(b, 0);
    put32(b, uint32_t(points.size()));
    for (auto p : points)
        put16(b, p);
    return b;
}

bytes xyz(int32_t x, int32_t y, int32_t z)
{
    bytes b;
    put32(b, fourcc("XYZ "));
    put32(b, 0);
    put32(b, uint32_t(x));
    put32(b, uint32_t(y));
    put32(b, uint32_t(z));
    return b;
}

bytes colr_icc(const bytes& profile, uint8_t meth = 2)
{
    bytes b = {meth, 0, 0};
    b.insert(b.end(), profile.begin(), profile.end());
    return box("colr", b);
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

TEST_F(Jp2Source, EveryHeaderErrorFiresForItsOwnBoxes)
{
    const bytes rgbHead = cat({kSignature, ftyp()});
    auto rgb = [&](std::vector<bytes> subs) {
        bytes jp2h;
        for (auto& s : subs)
            jp2h = cat({jp2h, s});
        return cat({rgbHead, box("jp2h", jp2h)});
    };
    bytes pclr8 = box("pclr", {0, 2, 1, 7, 10, 20});
    bytes cmap1 = box("cmap", {0, 0, 1, 0});
    Icc noGreen;
    noGreen.tags = {{"rTRC", curv({})}, {"bTRC", curv({})}, {"rXYZ", xyz(1, 2, 3)}, {"gXYZ", xyz(1, 2, 3)},
                    {"bXYZ", xyz(1, 2, 3)}};
    Icc noColorant;
    noColorant.tags = {{"rTRC", curv({})}, {"gTRC", curv({})}, {"bTRC", curv({})}, {"rXYZ", xyz(1, 2, 3)}};
    bytes cut = curv({1, 2});
    cut.resize(cut.size() - 2);
    Icc shortCurve;
    shortCurve.tags = {{"rTRC", cut}};
    bytes icc131 = [] {
        Icc i;
        i.declared = 131;
        bytes b = i.build();
        b.resize(131);
        return b;
    }();
    Icc badCurve;
    badCurve.tags = {{"rTRC", xyz(1, 1, 1)}};
    Icc badXyz;
    badXyz.tags = {{"rXYZ", curv({})}};
    Icc badSpace;
    badSpace.space = "ZZZZ";
    Icc badPcs;
    badPcs.pcs = "RGB ";
    Icc truncated;
    truncated.declared = 1000;
    bytes pastEnd = Icc{}.build();
    pastEnd[131] = 1; // one tag whose entry is missing
    bytes tagPast = Icc{"scnr", "GRAY", "XYZ ", {{"kTRC", curv({})}}}.build();
    tagPast[132 + 8 + 3] = 200; // length far past the end
    bytes xyzPast = Icc{"scnr", "RGB ", "XYZ ", {{"rXYZ", xyz(1, 2, 3)}}}.build();
    xyzPast[132 + 8 + 3] = 200;

    struct Case {
        const char* name;
        bytes file;
        std::string text;
    };
    std::vector<Case> cases = {
        {"ftyp first", cat({ftyp(), kSignature}), "Source supplied to `jp2_source::open' does not contain a valid JP2 header."},
        {"long signature", cat({box("jP  ", {0x0D, 0x0A, 0x87, 0x0A, 0, 0, 0, 0}), ftyp()}),
         "JP2 source does not commence with a valid signature box."},
        {"bad signature word", cat({box("jP  ", {0x0D, 0x0A, 0x87, 0x0B}), ftyp()}),
         "JP2 source does not commence with a valid signature box."},
        {"no jp2 compatibility", cat({kSignature, ftyp("jp2 ", {"jpx "})}),
         "JP2 source contains a file type box whose compatibility list does not include JP2."},
        {"malformed ftyp", cat({kSignature, box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' ', 1})}),
         "JP2 source contains a malformed file type box."},
        {"jp2c before jp2h", cat({kSignature, ftyp()}),
         "A contiguous codestream box has been encountered within the JP2 source without first finding both the "
         "file-type box and the image header box."},
        {"ihdr twice", rgb({ihdr(1, 1, 1, 7), ihdr(1, 1, 1, 7)}),
         "Attempting to read a JP2 image header box (ihdr) into a `jp2_dimensions' object which has previously been "
         "initialized!"},
        {"ihdr short", rgb({box("ihdr", bytes(13, 0))}),
         "Malformed image header box (ihdr) found in JP2-family data source. Not all fields were present."},
        {"ihdr long", rgb({box("ihdr", {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 7, 7, 0, 0, 9})}),
         "Malformed image header box (ihdr) found in JP2-family data source. The box appears to be too long."},
        {"ihdr range", rgb({ihdr(1, 1, 1, 7, 10)}),
         "Malformed image header box (ihdr) found in JP2-family data source. The box contains fields which do not "
         "conform to their legal range."},
        {"ihdr huge", rgb({ihdr(0x80000000u, 1, 1, 7)}),
         "Sorry: Cannot process JP2-family data sources whose image header box contains height or width values larger "
         "than 2^{31}-1."},
        {"bpcc short", rgb({ihdr(1, 1, 2, 255), box("bpcc", {7})}),
         "Malformed bits per component (bpcc) box found in JP2-family data source. The box contains insufficient "
         "bit-depth specifiers."},
        {"bpcc illegal", rgb({ihdr(1, 1, 1, 255), box("bpcc", {38})}),
         "Malformed bits per component (bpcc) box found in JP2-family data source. The box contains an illegal "
         "bit-depth specifier. Bit depths may not exceed 38 bits per sample."},
        {"bpcc long", rgb({ihdr(1, 1, 1, 255), box("bpcc", {7, 7})}),
         "Malformed bits per component (bpcc) box found in JP2-family data source. The box appears to be too long."},
        {"BPC 255 without bpcc", rgb({ihdr(1, 1, 1, 255), colr_enum(17)}),
         "Incomplete or invalid dimensional information provided when initializing a `jp2_dimensions' object."},
        {"no ihdr", rgb({colr_enum(17)}),
         "Incomplete or invalid dimensional information provided when initializing a `jp2_dimensions' object."},
        {"two res", rgb({ihdr(1, 1, 1, 7), box("res ", res_sub("resd", 1, 1, 1, 1, 0, 0)),
                         box("res ", res_sub("resd", 1, 1, 1, 1, 0, 0))}),
         "JP2-family data source contains multiple instances of the resolution (res) box within the same JP2 header box "
         "or compositing layer header box!"},
        {"empty res", rgb({ihdr(1, 1, 1, 7), box("res ", box("free", {}))}),
         "The JP2 resolution box must contain at least one of the capture or display resolution sub-boxes."},
        {"res sub zero", rgb({ihdr(1, 1, 1, 7), box("res ", res_sub("resc", 1, 0, 1, 1, 0, 0))}),
         "Malformed capture or display resolution sub-box found in JP2-family data source. Insufficient or illegal data "
         "fields."},
        {"res sub long", rgb({ihdr(1, 1, 1, 7), box("res ", box("resc", {0, 1, 0, 1, 0, 1, 0, 1, 0, 0, 5}))}),
         "Malformed capture or display resolution sub-box found in JP2-family data source. Box appears to be too long."},
        {"jp2h trailing bytes", rgb({ihdr(1, 1, 1, 7), colr_enum(17), bytes{1, 2, 3}}),
         "Encountered a JP2 Header box having data which does not belong to any defined sub-box."},
        {"pclr twice", rgb({ihdr(1, 1, 1, 7), pclr8, pclr8}),
         "Attempting to read a JP2 palette box (pclr) into a `jp2_palette' object which has already been initialized."},
        {"pclr NE 1025", rgb({ihdr(1, 1, 1, 7), box("pclr", {4, 1, 1, 7})}),
         "Malformed palette (pclr) box found in JP2-family data source. Insufficient or illegal fields encountered."},
        {"pclr depths", rgb({ihdr(1, 1, 1, 7), box("pclr", {0, 1, 2, 7})}),
         "Malformed palette (pclr) box found in JP2-family data source. The box contains insufficient bit-depth "
         "specifiers."},
        {"pclr depth 39", rgb({ihdr(1, 1, 1, 7), box("pclr", {0, 1, 1, 38})}),
         "Malformed palette (pclr) box found in JP2-family data. source. The box contains an illegal bit-depth specifier. "
         "Bit depths may not exceed 38 bits per sample."},
        {"pclr entries", rgb({ihdr(1, 1, 1, 7), box("pclr", {0, 2, 1, 7, 1})}),
         "Malformed palette (pclr) box found in JP2-family data source. The box contains insufficient palette entries."},
        {"pclr long", rgb({ihdr(1, 1, 1, 7), box("pclr", {0, 1, 1, 7, 1, 9})}),
         "Malformed palette (pclr) box encountered in JP2-family data source. Box appears to be too long."},
        {"cmap twice", rgb({ihdr(1, 1, 1, 7), cmap1, cmap1}),
         "Attempting to initialize a `j2_component_map' object multiple times. Problem encountered while parsing a JP2 "
         "Component Mapping (cmap) box!"},
        {"cmap 6 bytes", rgb({ihdr(1, 1, 1, 7), box("cmap", {0, 0, 1, 0, 0, 0})}),
         "Malformed component mapping (cmap) box encountered in JP2-family data source. The body of any such box must "
         "contain exactly four bytes for each cmap-channel and there must be at least one cmap-channel."},
        {"cmap empty", rgb({ihdr(1, 1, 1, 7), box("cmap", {})}),
         "Malformed component mapping (cmap) box encountered in JP2-family data source. The body of the box does not "
         "appear to contain any channel mappings."},
        {"cmap MTYP 2", rgb({ihdr(1, 1, 1, 7), box("cmap", {0, 0, 2, 0})}),
         "Malformed component mapping (cmap) box encountered in JP2-family data source. Invalid or truncated mapping "
         "specs."},
        {"cmap without pclr", rgb({ihdr(1, 1, 1, 7), colr_enum(17), cmap1}),
         "JP2-family data source appears to contain a Component Mapping (cmap) box without any matching Palette (pclr) "
         "box. Palette and Component Mapping boxes must be in one-to-one correspondence."},
        {"pclr without cmap", rgb({ihdr(1, 1, 1, 7), colr_enum(17), pclr8}),
         "JP2-family data source appears to contain a Component Mapping (cmap) box without any matching Palette (pclr) "
         "box. Palette and Component Mapping boxes must be in one-to-one correspondence."},
        {"cmap bad table", rgb({ihdr(1, 1, 1, 7), colr_enum(17), pclr8, box("cmap", {0, 0, 1, 1})}),
         "JP2-family data source appears to contain an illegal Component Mapping (cmap) box, one of whose channels "
         "refers to a non-existent image component or palette lookup table."},
        {"cmap bad component", rgb({ihdr(1, 1, 1, 7), colr_enum(17), pclr8, box("cmap", {0, 1, 1, 0})}),
         "JP2-family data source appears to contain an illegal Component Mapping (cmap) box, one of whose channels "
         "refers to a non-existent image component or palette lookup table."},
        {"cdef twice", rgb({ihdr(1, 1, 1, 7), box("cdef", {0, 1, 0, 0, 0, 0, 0, 1}), box("cdef", {0, 1, 0, 0, 0, 0, 0, 1})}),
         "Attempting to read a JP2 channel definitions (cdef) or JPX opacity (opct) box into a `j2_channels' object "
         "which has already been initialized."},
        {"cdef N 0", rgb({ihdr(1, 1, 1, 7), box("cdef", {0, 0})}),
         "Malformed channel definition (cdef) box found in JP2-family data source. Missing or invalid fields."},
        {"cdef Typ 3", rgb({ihdr(1, 1, 1, 7), box("cdef", {0, 1, 0, 0, 0, 3, 0, 1})}),
         "Malformed channel definition (cdef) box found in JP2-family data source. Missing or invalid channel "
         "association information."},
        {"cdef same", rgb({ihdr(1, 1, 2, 7), box("cdef", {0, 2, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1})}),
         "Malformed channel definition (cdef) box found in JP2-family data source. The box appears to provide multiple "
         "channels with the same Assoc/Typ values."},
        {"cdef long", rgb({ihdr(1, 1, 1, 7), box("cdef", {0, 1, 0, 0, 0, 0, 0, 1, 5})}),
         "Malformed channel definition (cdef) box found in JP2-family data source. The box appears to be too long."},
        {"cdef Asoc 4 of 3", rgb({ihdr(1, 1, 4, 7), colr_enum(16), box("cdef", {0, 1, 0, 0, 0, 0, 0, 4})}),
         "A `jp2_channels' object indicates the presence of more colour channels than the number which is associated "
         "with the specified colour space. This may happen while reading a JP2-family data source which contains an "
         "illegal channel definitions (cdef) box, or it may happen while writing a JP2-family file if the `jp2_channels' "
         "object has been incorrectly initialized."},
        {"cdef missing colour 2", rgb({ihdr(1, 1, 3, 7), colr_enum(16), box("cdef", {0, 2, 0, 0, 0, 0, 0, 1, 0, 2, 0, 0, 0, 3})}),
         "Incomplete set of colour channel definitions found in a `jp2_channels' object. This is likely due to a "
         "malformed channel definitions (cdef) box in the JP2-family data source."},
        {"cdef whole and own", rgb({ihdr(1, 1, 3, 7), colr_enum(16),
                                    box("cdef", {0, 4, 0, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 2, 0, 2, 0, 0, 0, 3, 0, 2, 0, 1, 0, 0})}),
         ""},
        {"no colr", rgb({ihdr(1, 1, 1, 7)}),
         "No colour description found in JP2-family data source, or provided for generating a JP2-family file!"},
        {"colr METH 5", rgb({ihdr(1, 1, 1, 7), box("colr", {5, 0, 0, 0, 0, 0, 17})}),
         "Malformed colour description (colr) box found in JP2-family data source. Insufficient fields, or illegal "
         "`approx' or `meth' field found in box."},
        {"colr short", rgb({ihdr(1, 1, 1, 7), box("colr", {1, 0, 0, 0, 0})}),
         "Malformed colour description (colr) box found in JP2-family data source. Box appears to terminate "
         "prematurely."},
        {"colr long", rgb({ihdr(1, 1, 1, 7), box("colr", {1, 0, 0, 0, 0, 0, 17, 9})}),
         "Malformed JP2 colour description (colr) box found in JP2-family data source. The box appears to be too large."},
        {"Lab EP partial", rgb({ihdr(1, 1, 3, 7), colr_enum(14, {1, 2, 3, 4})}),
         "JP2-family data source terminated unexpectedly; unable to read all EP parameter fields for CIELab or CIEJab "
         "enumerated colour space."},
        {"vendor short", rgb({ihdr(1, 1, 1, 7), box("colr", {4, 0, 0, 1, 2, 3})}),
         "JP2-family data source terminated unexpectedly inside the colour specification (colr) box."},
        {"ICC 131 bytes", rgb({ihdr(1, 1, 1, 7), colr_icc(icc131)}),
         "Embedded ICC profile in JP2 colour description box does not have a complete header."},
        {"ICC declared 1000", rgb({ihdr(1, 1, 3, 7), colr_icc(truncated.build())}),
         "Embedded ICC profile in JP2 colour description box appears to have been truncated!"},
        {"ICC tag table past end", rgb({ihdr(1, 1, 3, 7), colr_icc(pastEnd)}),
         "Embedded ICC profile in JP2 colour description box appears to have been truncated!"},
        {"ICC space", rgb({ihdr(1, 1, 3, 7), colr_icc(badSpace.build())}),
         "Unknown colour space signature found in embedded ICC profile within a JP2-family data source's colour "
         "description (colr) box."},
        {"ICC PCS", rgb({ihdr(1, 1, 3, 7), colr_icc(badPcs.build())}),
         "Unknown PCS signature found in embedded ICC profile within a JP2-family data source's colour description (colr) "
         "box."},
        {"ICC curve offset", rgb({ihdr(1, 1, 1, 7), colr_icc(tagPast)}),
         "Illegal tag offset or length value supplied in the JP2 embedded icc profile."},
        {"ICC colorant offset", rgb({ihdr(1, 1, 3, 7), colr_icc(xyzPast)}),
         "Illegal tag offset or length value supplied in JP2 embedded icc profile."},
        {"ICC curve type", rgb({ihdr(1, 1, 3, 7), colr_icc(badCurve.build())}),
         "Did not find a valid `curv' data type in the embedded ICC profile's tone reproduction curve tag."},
        {"ICC curve truncated", rgb({ihdr(1, 1, 3, 7), colr_icc(shortCurve.build())}),
         "The `curv' data type used to represent an embedded ICC profile's tone reproduction curve appears to have been "
         "truncated."},
        {"ICC XYZ type", rgb({ihdr(1, 1, 3, 7), colr_icc(badXyz.build())}),
         "Did not find a valid `XYZ ' data type in the embedded ICC profile's colorant description tag."},
        {"ICC display without gTRC", rgb({ihdr(1, 1, 3, 7), colr_icc(noGreen.build())}),
         "Embedded ICC profile in JP2 colour description box specifies a display profile, but does not contain a "
         "complete set of tone reproduction curves! This condition is not compatible with any legal ICC profile."},
        {"ICC display without colorants", rgb({ihdr(1, 1, 3, 7), colr_icc(noColorant.build())}),
         "Embedded ICC profile in JP2 colour description box specifies a 3 colour display profile, but does not contain "
         "a complete set of primary colorant specifications."},
    };
    for (auto& c : cases) {
        load(c.file);
        EXPECT_EQ(error([&] { header(); }), c.text) << c.name;
    }
    // Misuse: read_header before a successful open.
    load(grey());
    EXPECT_EQ(error([&] { source->read_header(); }),
              "Unable to open JP2 file. Perhaps the file contains no box headers, or perhaps you forgot to call or check "
              "the return value from `jp2_source::open' before invoking `jp2_source::read_header'.");
}

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

TEST_F(Jp2Source, IccCurvesAndColorants)
{
    Icc icc;
    icc.device = "mntr";
    std::vector<uint16_t> pl = {0, 1000, 30000, 65535};
    icc.tags = {{"rTRC", curv({})}, {"gTRC", curv({563})}, {"bTRC", curv(pl)},
                {"rXYZ", xyz(0x10000, -0x8000, 3)}, {"gXYZ", xyz(0x20000, 5, 6)}, {"bXYZ", xyz(7, 8, 0x30000)}};
    load(cat({kSignature, ftyp(), box("jp2h", cat({ihdr(2, 2, 3, 7), colr_icc(icc.build())}))}));
    ASSERT_TRUE(header());
    auto c = source->get_colour();
    EXPECT_EQ(c.get_space(), 101);
    const int k = 8, n = 1 << k;
    std::vector<float> s(n);
    ASSERT_TRUE(c.get_curve(0, k, s.data()));
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(s[size_t(i)], i / 255.0, 1e-6);
    ASSERT_TRUE(c.get_curve(1, k, s.data()));
    for (int i = 0; i < n; i += 17)
        EXPECT_NEAR(s[size_t(i)], std::pow(i / 255.0, 563.0 / 256.0), 1e-6);
    ASSERT_TRUE(c.get_curve(2, k, s.data()));
    for (int i = 0; i < n; i += 5) {
        double x = i / 255.0 * 3, frac = x - std::floor(x);
        int lo = std::min(int(x), 2);
        if (lo == 2 && x >= 3)
            frac = 1;
        EXPECT_NEAR(s[size_t(i)], (pl[size_t(lo)] * (1 - frac) + pl[size_t(lo) + 1] * frac) / 65535.0, 1e-6) << i;
    }
    float m[9];
    ASSERT_TRUE(c.get_colorant_matrix(m));
    const float want[9] = {1.0f, 2.0f, 7 / 65536.0f, -0.5f, 5 / 65536.0f, 8 / 65536.0f, 3 / 65536.0f, 6 / 65536.0f, 3.0f};
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ(m[i], want[i]) << i;

    // An input profile missing a curve is accepted as not simple.
    Icc scanner;
    scanner.device = "scnr";
    scanner.tags = {{"rTRC", curv({})}};
    load(cat({kSignature, ftyp(), box("jp2h", cat({ihdr(2, 2, 3, 7), colr_icc(scanner.build(), 3)}))}));
    ASSERT_TRUE(header());
    EXPECT_EQ(source->get_colour().get_space(), 102);
    EXPECT_TRUE(source->get_colour().get_icc_profile()->not_simple);
    EXPECT_FALSE(source->get_colour().get_curve(0, k, s.data()));
}
