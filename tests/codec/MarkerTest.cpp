#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_marker.h"
#include "codec/core/rvd_message.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <utility>

using namespace codec_test;

namespace {

using code_length = std::pair<int, int>;

// (code, length) of every marker from SOC up to the first SOT.
std::vector<code_length> read_main_header(const std::vector<uint8_t>& bytes)
{
    memory_source src(bytes);
    rv_compressed_input in(&src);
    rv_marker m(&in);
    std::vector<code_length> out;
    while (m.read()) {
        out.push_back({m.get_code(), m.get_length()});
        if (m.get_code() == RV_SOT)
            break;
    }
    return out;
}

std::vector<code_length> expected_main_header(const stream_facts& f)
{
    std::vector<code_length> out;
    for (const fact_marker& fm : f.markers) {
        if (fm.code >= 0xFF30 && fm.code <= 0xFF3F)
            continue;
        out.push_back({fm.code, fm.length});
        if (fm.code == RV_SOT)
            break;
    }
    return out;
}

TEST(Markers, MainHeadersOfConformanceStreams)
{
    std::string dir = stream_dir("conformance");
    std::vector<std::string> names = conformance_names();
    ASSERT_GE(names.size(), 20u);
    for (const std::string& n : names) {
        clear_captured_warnings();
        stream_facts f = load_facts(dir + "/conf_" + n + ".facts");
        std::vector<uint8_t> bytes = read_file(conformance_dir() + "/" + n + ".j2k");
        EXPECT_EQ(read_main_header(bytes), expected_main_header(f)) << n;
        bool has_skip_code = false;
        for (const fact_marker& fm : f.markers)
            if (fm.code >= 0xFF30 && fm.code <= 0xFF3F)
                has_skip_code = true;
        EXPECT_EQ(warning_count("Encountered one or more marker codes in the range 0xFF30 to "
                                 "0xFF3F.  These are to be ignored."),
                  has_skip_code ? 1 : 0)
            << n;
    }
}

TEST(Markers, MainHeadersOfGeneratedStreams)
{
    std::string dir = stream_dir("input");
    for (const char* n : {"tlm_tp_r", "plt_rpcl", "plt_cprl", "plt_lrcp1", "plt_lrcp",
                          "small_sop_eph", "small_tiles"}) {
        stream_facts f = load_facts(dir + "/" + n + ".facts");
        EXPECT_EQ(read_main_header(read_file(dir + "/" + n + ".j2k")), expected_main_header(f)) << n;
    }
}

TEST(Markers, BinaryCommentHoldingMarkerBytesIsOneSegment)
{
    stream_facts f = load_facts(stream_dir("conformance") + "/conf_p0_03.facts");
    const fact_marker* com = nullptr;
    for (const fact_marker& fm : f.markers)
        if (fm.code == RV_COM)
            com = &fm;
    ASSERT_NE(com, nullptr);
    std::string hex;
    for (uint8_t b : com->body) {
        char t[3];
        std::snprintf(t, sizeof t, "%02x", b);
        hex += t;
    }
    EXPECT_NE(hex.find("ff90"), std::string::npos);
    EXPECT_NE(hex.find("ff93"), std::string::npos);
    std::vector<uint8_t> bytes = read_file(conformance_dir() + "/p0_03.j2k");
    memory_source src(bytes);
    rv_compressed_input in(&src);
    in.seek(com->offset);
    rv_marker m(&in);
    ASSERT_TRUE(m.read());
    EXPECT_EQ(m.get_code(), RV_COM);
    ASSERT_EQ(m.get_length(), int(com->body.size()));
    EXPECT_TRUE(std::equal(com->body.begin(), com->body.end(), m.get_bytes()));
}

struct reader {
    explicit reader(std::vector<uint8_t> b) : src(std::move(b)), in(&src), m(&in) {}
    memory_source src;
    rv_compressed_input in;
    rv_marker m;
};

TEST(Markers, CorruptSotLength)
{
    std::vector<uint8_t> bytes{0xFF, 0x90, 0x00, 0x0B, 1, 2, 0xFF, 0x52, 0x00, 0x03, 7};
    {
        clear_captured_warnings();
        reader r(bytes);
        EXPECT_FALSE(r.m.read());
        EXPECT_EQ(r.m.get_code(), 0);
        EXPECT_EQ(warning_count("Skipping over corrupt SOT marker code!"), 1);
        EXPECT_EQ(r.in.get_offset(), 0); // code pushed back
    }
    {
        clear_captured_warnings();
        reader r(bytes);
        ASSERT_TRUE(r.m.read(false, true));
        EXPECT_EQ(r.m.get_code(), RV_COD);
        EXPECT_EQ(r.m.get_length(), 1);
        EXPECT_EQ(r.m.get_bytes()[0], 7);
        EXPECT_EQ(warning_count("Skipping over corrupt SOT marker code!"), 1);
    }
    {
        clear_captured_warnings();
        reader r({0xFF, 0x91, 0x00, 0x05, 0});
        EXPECT_FALSE(r.m.read());
        EXPECT_EQ(warning_count("Skipping over corrupt SOP marker code!"), 1);
    }
}

TEST(Markers, SkipCodesWarnOncePerReader)
{
    clear_captured_warnings();
    reader r({0xFF, 0x30, 0xFF, 0x52, 0x00, 0x02, 0xFF, 0x3F, 0xFF, 0x64, 0x00, 0x03, 9});
    ASSERT_TRUE(r.m.read());
    EXPECT_EQ(r.m.get_code(), RV_COD);
    EXPECT_EQ(r.m.get_length(), 0);
    ASSERT_TRUE(r.m.read());
    EXPECT_EQ(r.m.get_code(), RV_COM);
    EXPECT_EQ(warning_count("0xFF30 to 0xFF3F"), 1);
}

TEST(Markers, EndOfCodestream)
{
    {
        reader r({0xFF, 0xD9, 0x00, 0xFF, 0x52, 0x00, 0x02});
        EXPECT_FALSE(r.m.read());
        EXPECT_TRUE(r.in.is_exhausted());
    }
    {
        clear_captured_warnings();
        reader r({0xFF, 0xD9, 0xFF, 0x52, 0x00, 0x02});
        r.m.set_resilient(true);
        EXPECT_FALSE(r.m.read()); // not delivered as a marker
        EXPECT_EQ(warning_count("Disregarding non-terminal EOC marker."), 1);
        ASSERT_TRUE(r.m.read(false, true));
        EXPECT_EQ(r.m.get_code(), RV_COD);
    }
    {
        reader r({0xFF, 0xD9}); // EOC at the very end: nothing more to read
        EXPECT_FALSE(r.m.read());
    }
}

TEST(Markers, SegmentLengthsAndUnknownCodes)
{
    for (uint8_t l : {0, 1}) {
        reader r({0xFF, 0x52, 0x00, l, 1, 2, 3});
        EXPECT_FALSE(r.m.read());
        EXPECT_EQ(r.m.get_length(), 0);
    }
    {
        reader r({0xFF, 0x52, 0x00, 0x09, 1, 2}); // body cut short
        EXPECT_FALSE(r.m.read());
    }
    {
        clear_captured_warnings();
        reader r({0xFF, 0xA5, 0x00, 0x04, 1, 2});
        ASSERT_TRUE(r.m.read());
        EXPECT_EQ(r.m.get_code(), 0xFFA5);
        EXPECT_EQ(warning_count("Unrecognized/unimplemented marker code, 0xffa5, found in "
                                 "code-stream."),
                  1);
    }
    {
        // With exclusion only codes above 0xFF8F count: the scan passes over FF 10 and
        // FF 52 to the SOT.
        reader r({0xFF, 0x10, 0xFF, 0x52, 0x00, 0x02, 0xFF, 0x90, 0, 10, 0, 1, 0, 0, 0, 0, 0, 1});
        EXPECT_FALSE(r.m.read(true, false));
        EXPECT_EQ(r.in.get_offset(), 0);
        ASSERT_TRUE(r.m.read(true, true));
        EXPECT_EQ(r.m.get_code(), RV_SOT);
        EXPECT_EQ(r.m.get_length(), 8);
        reader plain({0xFF, 0x10, 0x00, 0x02});
        ASSERT_TRUE(plain.m.read());
        EXPECT_EQ(plain.m.get_code(), 0xFF10);
    }
    {
        // A long body grows the buffer.
        std::vector<uint8_t> b{0xFF, 0x64, 0x27, 0x12};
        b.resize(4 + 0x2710, 0x5A);
        reader r(b);
        ASSERT_TRUE(r.m.read());
        EXPECT_EQ(r.m.get_length(), 0x2710);
        EXPECT_EQ(r.m.get_bytes()[0x270F], 0x5A);
        rv_marker copy(r.m);
        EXPECT_EQ(copy.get_length(), 0x2710);
        EXPECT_NE(copy.get_bytes(), r.m.get_bytes());
    }
}

class text_sink : public rvd_message {
public:
    void put_text(const char* t) override { text += t; }
    std::string text;
};

TEST(Markers, CodesPrintByNameOrHex)
{
    text_sink s;
    rv_print_marker_code(RV_SOT, s);
    s << 12;
    rv_print_marker_code(0xFF3A, s);
    s << 12;
    EXPECT_EQ(s.text, "<SOT>120xff3a12");
    int known = 0;
    for (int c = 0xFF00; c <= 0xFFFF; c++)
        if (rv_marker_name(uint16_t(c)) != nullptr)
            known++;
    EXPECT_EQ(known, 27);
}

} // namespace
