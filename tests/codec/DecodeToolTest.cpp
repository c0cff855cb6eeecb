// The decode tool's own parts: PGX reading and writing, the command line, and the walk
// to a JP2-family file's codestream.
#include "tests/codec/support/jp2_box_writer.h"
#include "tools/decode/codestream_locator.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/decode_options.h"
#include "tools/decode/pgx_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes_of(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> with_samples(const std::string& header, std::vector<uint8_t> samples)
{
    std::vector<uint8_t> b = bytes_of(header);
    b.insert(b.end(), samples.begin(), samples.end());
    return b;
}

TEST(DecodeToolPgx, HeadersInEveryFormTheReferencesUse)
{
    // Sign with or without a gap before the depth, no sign, doubled spaces.
    pgx_image a = parse_pgx(with_samples("PG ML +8 2 1\n", {0x01, 0xFF}));
    EXPECT_FALSE(a.is_signed);
    EXPECT_EQ(a.depth, 8);
    EXPECT_EQ(a.samples, (std::vector<int32_t>{1, 255}));

    pgx_image b = parse_pgx(with_samples("PG ML 8 1 2\n", {0x80, 0x7F}));
    EXPECT_FALSE(b.is_signed);
    EXPECT_EQ(b.width, 1);
    EXPECT_EQ(b.height, 2);
    EXPECT_EQ(b.samples, (std::vector<int32_t>{128, 127}));

    pgx_image c = parse_pgx(with_samples("PG ML  8 1 1\n", {0x05}));
    EXPECT_EQ(c.samples, std::vector<int32_t>{5});

    pgx_image d = parse_pgx(with_samples("PG ML -12 2 1\n", {0xFF, 0xFE, 0x07, 0xFF}));
    EXPECT_TRUE(d.is_signed);
    EXPECT_EQ(d.depth, 12);
    EXPECT_EQ(d.samples, (std::vector<int32_t>{-2, 2047}));

    pgx_image e = parse_pgx(with_samples("PG ML + 8 1 1\n", {0x09}));
    EXPECT_EQ(e.samples, std::vector<int32_t>{9});
}

TEST(DecodeToolPgx, WrittenFilesReadBackForEveryDepth)
{
    std::mt19937 rng(5);
    for (int depth = 1; depth <= 31; depth++)
        for (bool is_signed : {false, true}) {
            pgx_image img;
            img.width = 3;
            img.height = 2;
            img.depth = depth;
            img.is_signed = is_signed;
            const int64_t lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
            const int64_t span = int64_t(1) << depth;
            for (int i = 0; i < 6; i++)
                img.samples.push_back(int32_t(lo + int64_t(rng() % uint64_t(span))));
            img.samples[0] = int32_t(lo);
            img.samples[1] = int32_t(lo + span - 1);
            std::vector<uint8_t> file = format_pgx(img);
            const std::string head = std::string("PG ML ") + (is_signed ? "-" : "+") +
                                     std::to_string(depth) + " 3 2\n";
            ASSERT_EQ(std::string(file.begin(), file.begin() + long(head.size())), head);
            EXPECT_EQ(file.size(), head.size() + 6u * pgx_image::bytes_per_sample(depth));
            pgx_image back = parse_pgx(file);
            EXPECT_EQ(back.samples, img.samples) << "depth " << depth << " signed " << is_signed;
            EXPECT_EQ(back.depth, depth);
            EXPECT_EQ(back.is_signed, is_signed);
        }
}

TEST(DecodeToolPgx, MalformedFilesAreRefused)
{
    const char* bad[] = {
        "",                          // nothing
        "PX ML +8 1 1\n\x01",        // not PG
        "PG MM +8 1 1\n\x01",        // no byte order
        "PG ML +0 1 1\n\x01",        // depth 0
        "PG ML +33 1 1\n\x01\x01\x01\x01\x01", // depth above 32
        "PG ML +8 1\n\x01",          // no height
        "PG ML +8 2 2\n\x01\x02\x03", // one sample short
        "PG ML +16 1 1\n\x01",       // half a sample
        "PG ML +8 1 1",              // header never ends
        "PG ML +8 99999999999 1\n",  // width beyond 32 bits
        "PG ML +8 2147483647 2147483647\n\x01", // a count no file can hold
    };
    for (const char* text : bad) {
        std::vector<uint8_t> b(text, text + std::strlen(text));
        EXPECT_THROW(parse_pgx(b), pgx_error) << text;
    }
    pgx_image wrong;
    wrong.width = 2;
    wrong.height = 2;
    wrong.depth = 8;
    wrong.samples.resize(3);
    EXPECT_THROW(format_pgx(wrong), pgx_error);
}

codestream_location locate(const std::vector<uint8_t>& file)
{
    auto read_at = [&file](int64_t pos, uint8_t* buf, int n) -> int {
        if (pos < 0 || pos >= int64_t(file.size()))
            return 0;
        int k = int(std::min<int64_t>(n, int64_t(file.size()) - pos));
        std::memcpy(buf, file.data() + pos, size_t(k));
        return k;
    };
    return locate_codestream(read_at, int64_t(file.size()));
}

TEST(DecodeToolLocator, RawCodestreamsAndTheFirstCodestreamBox)
{
    using namespace jp2_test;
    const bytes cs = {0xFF, 0x4F, 0xFF, 0x51, 0x00, 0x02};
    codestream_location raw = locate(cs);
    EXPECT_EQ(raw.offset, 0);
    EXPECT_EQ(raw.length, 6);

    const bytes signature = box("jP  ", {0x0D, 0x0A, 0x87, 0x0A});
    const bytes ftyp = box("ftyp", bytes(12, 0x20));
    const bytes jp2h = box("jp2h", box("ihdr", bytes(14, 0)));
    bytes file = cat({signature, ftyp, jp2h, box("jp2c", cs), box("jp2c", {0xFF, 0x4F})});
    codestream_location first = locate(file);
    EXPECT_EQ(first.offset, int64_t(signature.size() + ftyp.size() + jp2h.size() + 8));
    EXPECT_EQ(first.length, 6);

    // Extended length, and a codestream box that runs to the end of the file.
    file = cat({signature, long_box("xml ", bytes(5, 'x')), rubber_box("jp2c", cs)});
    codestream_location rubber = locate(file);
    EXPECT_EQ(rubber.offset, int64_t(signature.size() + 16 + 5 + 8));
    EXPECT_EQ(rubber.length, 6);
    file = cat({signature, long_box("jp2c", cs)});
    EXPECT_EQ(locate(file).offset, int64_t(signature.size() + 16));
    EXPECT_EQ(locate(file).length, 6);
}

TEST(DecodeToolLocator, DamagedBoxSequencesAreRefused)
{
    using namespace jp2_test;
    const bytes signature = box("jP  ", {0x0D, 0x0A, 0x87, 0x0A});
    const std::vector<bytes> bad = {
        {},
        {0xFF},
        cat({signature}),                                   // no codestream box
        cat({signature, header(7, "free")}),                // length below its header
        cat({signature, header(100, "jp2c"), {0xFF, 0x4F}}), // runs past the end
        cat({signature, long_box("jp2c", {0xFF}, 9)}),      // extended length below 16
        cat({signature, {0x00, 0x00, 0x00, 0x01, 'j', 'p', '2', 'c', 0x00}}), // cut XLBox
        cat({signature, {0x00, 0x00, 0x00}}),               // cut header
    };
    for (const bytes& b : bad)
        EXPECT_THROW(locate(b), decode_error) << ::testing::PrintToString(b);
}

} // namespace
