// JP2 family source and input boxes over the data-bin cache: every error text, the
// placeholder forms, prefix arrival and reading through a codestream box.
#include "tests/codec/support/jp2_errors.h"
#include "codec/core/rvd_message.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_input_box.h"
#include "codec/jp2/rvd_cache.h"
#include "tests/codec/support/jp2_box_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

using namespace jp2_test;

namespace {

class Jp2Box : public ::testing::Test {
public:
    void SetUp() override { old = rvd_customize_errors(&throwing_sink()); }
    void TearDown() override { rvd_customize_errors(old); }

    // Meta-data bin 0 of a fresh cache, complete or not, and a family source on it.
    void meta(const bytes& data, bool complete = true)
    {
        cache.reset(new rvd_cache);
        if (!data.empty() || complete)
            cache->add_to_databin(4, 0, 0, data.data(), 0, int(data.size()), complete);
        src.reset(new jp2_family_src);
        src->open(cache.get());
    }
    jp2_locator start() { return jp2_locator(); }

    // The error text, lead-in checked and whitespace normalised; "" when none was raised.
    std::string error(const std::function<void()>& f)
    {
        return format_error(f);
    }

    rvd_message* old = nullptr;
    std::unique_ptr<rvd_cache> cache;
    std::unique_ptr<jp2_family_src> src;
};

const char kIllegalLength[] = "Illegal box length field encountered in JP2 file.";
const char kPlaceholder[] = "Illegal placeholder box encountered. Placeholders must not use the extended length "
                            "field and must have a length of at least 28 bytes!";

} // namespace

TEST_F(Jp2Box, EveryErrorFiresForItsOwnInput)
{
    const bytes ftyp = box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0});
    struct Case {
        const char* name;
        bytes meta;
        std::function<void(Jp2Box&, jp2_input_box&)> act;
        std::string text;
    };
    auto openTop = [](Jp2Box& t, jp2_input_box& b) { b.open(t.src.get(), t.start()); };
    bytes twoByteWordBox = box("test", {1, 2, 3, 4, 5});
    std::vector<Case> cases = {
        {"placeholder LBox 27", placeholder(0, 1, header(8, "xml "), 0, bytes(8, 0), 0, 0, 27), openTop, kPlaceholder},
        {"placeholder LBox 1", placeholder(0, 1, header(8, "xml "), 0, bytes(8, 0), 0, 0, 1), openTop, kPlaceholder},
        {"LBox 4", header(4, "ftyp"), openTop, kIllegalLength},
        {"XLBox 2^64-1", long_box("ftyp", {}, ~uint64_t(0)), openTop, kIllegalLength},
        {"XLBox below its header", long_box("ftyp", {}, 12), openTop, kIllegalLength},
        {"placeholder original shorter than its header", placeholder(1, 1, header(5, "xml ")), openTop, kIllegalLength},
        {"equivalent shorter than its header", placeholder(2, 1, header(20, "xml "), 2, header(3, "xml ")), openTop,
         "Illegal box length field encountered in stream equivalent box header embedded within a JP2 placeholder box."},
        {"nothing offered", placeholder(0, 1, header(20, "xml ")), openTop,
         "Unable to open the box identified by the `jp2_locator' object supplied to `jp2_input_box::open'. The server is "
         "deliberately preventing access to the the box or any stream equivalent."},
        {"open twice", ftyp,
         [](Jp2Box& t, jp2_input_box& b) {
             b.open(t.src.get(), t.start());
             b.open(t.src.get(), t.start());
         },
         "Attempting to call `jp2_input_box::open' without first closing the box."},
        {"sub-box of a closed box", ftyp,
         [](Jp2Box&, jp2_input_box& b) {
             jp2_input_box sub;
             sub.open(&b);
         },
         "Attempting to open a sub-box of a box which is not itself open, or which has already been locked by another "
         "open sub-box which has not yet been closed."},
        {"sub-box of a codestream box", server_placeholder(100),
         [](Jp2Box& t, jp2_input_box& b) {
             b.open(t.src.get(), t.start());
             jp2_input_box sub;
             sub.open(&b);
         },
         "Attempting to open a sub-box of a contiguous codestream box (may be a stream equivalent contiguous codestream "
         "for a real original box, which might have had sub-boxes), but you should have checked."},
        {"open_next unused", ftyp, [](Jp2Box&, jp2_input_box& b) { b.open_next(); },
         "You may not use `jp2_input_box::open_next' unless the object has been previously used to open and then close a "
         "box within the source."},
        {"read closed", ftyp,
         [](Jp2Box&, jp2_input_box& b) {
             uint8_t x;
             b.read(&x, 1);
         },
         "Illegal attempt to read from a JP2 box which is either not open or else has an open sub-box."},
        {"seek closed", ftyp, [](Jp2Box&, jp2_input_box& b) { b.seek(0); },
         "Attempting to seek inside a JP2 box which is not open, or is sharing its read pointer with an open sub-box."},
        {"transplant", ftyp,
         [](Jp2Box&, jp2_input_box& b) {
             jp2_input_box other;
             b.transplant(&other);
         },
         "Attempting to invoke `jp2_input_box::transplant' on a box which is currently open, or using a donor which is "
         "not currently open."},
        {"complete but short", bytes{0, 0, 0, 40, 'x', 'm', 'l', ' ', 1, 2, 3},
         [](Jp2Box& t, jp2_input_box& b) {
             b.open(t.src.get(), t.start());
             uint8_t buf[40];
             b.read(buf, 40);
         },
         "Cached data-bin appears to be complete yet terminates prior to the end of the current JP2 box."},
        {"2-byte word after a partial 4-byte word", bytes(twoByteWordBox.begin(), twoByteWordBox.end() - 4),
         [](Jp2Box& t, jp2_input_box& b) {
             t.meta(bytes(), false);
             bytes head = box("test", {1, 2, 3, 4, 5});
             t.cache->add_to_databin(4, 0, 0, head.data(), 0, 9, false);
             b.open(t.src.get(), t.start());
             uint32_t w32;
             EXPECT_FALSE(b.read_word32(w32));
             uint16_t w16;
             b.read_word16(w16);
         },
         "Attempting to read a 2-byte word from a JP2 box, after first reading a partial 4-byte word!"},
        {"locator inside a header", cat({ftyp, box("jp2h", box("ihdr", bytes(14, 0)))}),
         [](Jp2Box& t, jp2_input_box& b) {
             jp2_locator l;
             l.set_file_pos(16 + 4);
             b.open(t.src.get(), l);
         },
         "Invoking `jp2_input_box::open' with a `jp2_locator' object which references an invalid original file location."},
        {"locator past a rubber box", rubber_box("xml ", {1, 2, 3}),
         [](Jp2Box& t, jp2_input_box& b) {
             jp2_locator l;
             l.set_file_pos(50);
             b.open(t.src.get(), l);
         },
         "Invoking `jp2_input_box::open' with a `jp2_locator' object which references an invalid original file location."},
        {"locator inside an equivalent", placeholder(2, 1, header(100, "jp2h"), 2, header(100, "jp2h")),
         [](Jp2Box& t, jp2_input_box& b) {
             jp2_locator l;
             l.set_file_pos(30);
             b.open(t.src.get(), l);
         },
         "Unable to dereference file offset in the `jp2_locator' object supplied to `jp2_input_box::open'. The server "
         "is deliberately preventing access to the original box in which the file offset resides."},
        {"family source opened twice", ftyp, [](Jp2Box& t, jp2_input_box&) { t.src->open(t.cache.get()); },
         "Attempting to open a `jp2_family_src' object which is already open."},
    };
    for (auto& c : cases) {
        meta(c.meta);
        jp2_input_box b;
        EXPECT_EQ(error([&] { c.act(*this, b); }), c.text) << c.name;
    }
}

TEST_F(Jp2Box, HeadersArrivingByteByByteOpenOnlyWhenComplete)
{
    bytes file = cat({box("ftyp", {'j', 'p', '2', ' '}), long_box("xml ", {'<', 'a', '/', '>'}),
                      server_placeholder(1000)});
    meta(bytes(), false);
    jp2_input_box b;
    // Each box opens exactly when its whole header has arrived: ftyp at 8 bytes, the
    // long box at 12 + 16, the placeholder at 32 + 52.
    const size_t opensAt[] = {8, 28, 84};
    size_t n = 0;
    for (int k = 0; k < 3; ++k) {
        bool opened = false;
        while (!opened) {
            ASSERT_LT(n, file.size());
            cache->add_to_databin(4, 0, 0, file.data() + n, int(n), 1, n + 1 == file.size());
            ++n;
            opened = k == 0 ? b.open(src.get(), start()) : b.open_next();
            EXPECT_EQ(opened, n == opensAt[k]) << n;
        }
        if (k == 1) {
            uint8_t buf[8];
            EXPECT_EQ(b.read(buf, 8), 0); // the contents have not arrived yet
            EXPECT_FALSE(b.close());      // the box was left unread
        } else if (k == 0) {
            b.close();
        }
    }
    // The placeholder stands for the codestream box of codestream 0.
    EXPECT_EQ(b.get_box_type(), fourcc("jp2c"));
    EXPECT_EQ(b.get_databin_class(), 3);
    EXPECT_EQ(b.get_codestream_first(), 0);
    EXPECT_EQ(b.get_codestream_limit(), 1);
    EXPECT_EQ(b.get_capabilities(), 6);
    b.close();
    EXPECT_FALSE(b.open_next()); // nothing more has arrived
}

TEST_F(Jp2Box, PlaceholderFlagsChooseWhatOpens)
{
    // Flags 12: codestreams 7 to 7 + 3.
    meta(placeholder(12, 0, header(0, "jp2c"), 0, bytes(8, 0), 7, 3));
    jp2_input_box b;
    ASSERT_TRUE(b.open(src.get(), start()));
    EXPECT_EQ(b.get_box_type(), fourcc("jp2c"));
    EXPECT_EQ(b.get_codestream_first(), 7);
    EXPECT_EQ(b.get_codestream_limit(), 10);
    EXPECT_TRUE(b.select_codestream(9, false));
    EXPECT_FALSE(b.select_codestream(10, false));
    EXPECT_FALSE(b.select_codestream(9, true)); // no main header held
    b.close();
    // Flags 1: the original's contents in bin 5; Flags 2: the stream equivalent in bin 6.
    bytes five = {1, 2, 3, 4}, six = {9, 9};
    meta(cat({placeholder(1, 5, header(12, "xml ")), placeholder(2, 5, header(12, "xml "), 6, header(10, "xml "))}));
    cache->add_to_databin(4, 0, 5, five.data(), 0, 4, true);
    cache->add_to_databin(4, 0, 6, six.data(), 0, 2, true);
    ASSERT_TRUE(b.open(src.get(), start()));
    uint8_t buf[8];
    EXPECT_EQ(b.read(buf, 8), 4);
    EXPECT_EQ(buf[3], 4);
    EXPECT_TRUE(b.close());
    ASSERT_TRUE(b.open_next());
    EXPECT_EQ(b.get_databin_id(), 6);
    EXPECT_EQ(b.read(buf, 8), 2);
    b.close();

    // Inside a super-box and with open_next, a box with nothing offered is skipped.
    bytes inner = cat({placeholder(0, 9, header(20, "xml ")), box("ihdr", bytes(14, 7))});
    meta(cat({box("jp2h", inner), placeholder(0, 9, header(20, "xml ")), box("free", {})}));
    ASSERT_TRUE(b.open(src.get(), start()));
    jp2_input_box sub;
    ASSERT_TRUE(sub.open(&b));
    EXPECT_EQ(sub.get_box_type(), fourcc("ihdr"));
    EXPECT_EQ(error([&] { b.read(buf, 1); }),
              "Illegal attempt to read from a JP2 box which is either not open or else has an open sub-box.");
    EXPECT_EQ(sub.read(buf, 8), 8);
    EXPECT_FALSE(sub.close());
    b.close();
    ASSERT_TRUE(b.open_next());
    EXPECT_EQ(b.get_box_type(), fourcc("free"));
}

TEST_F(Jp2Box, RubberSubBoxClosesItsSuperBoxAndWordsResume)
{
    meta(cat({box("jp2h", cat({box("ihdr", bytes(14, 1)), rubber_box("colr", {1, 0, 0, 0, 0, 16})})), box("free", {})}));
    jp2_input_box b, sub;
    ASSERT_TRUE(b.open(src.get(), start()));
    ASSERT_TRUE(sub.open(&b));
    sub.close();
    ASSERT_TRUE(sub.open_next());
    EXPECT_EQ(sub.get_box_type(), fourcc("colr"));
    uint8_t m;
    EXPECT_TRUE(sub.read_byte(m));
    EXPECT_EQ(sub.bytes_left(), -1);
    sub.close();
    EXPECT_FALSE(b.is_open());

    // A short read_word32 completes on the next call once the bytes arrive.
    meta(bytes(), false);
    bytes data = box("test", {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    cache->add_to_databin(4, 0, 0, data.data(), 0, 10, false);
    jp2_input_box w;
    ASSERT_TRUE(w.open(src.get(), start()));
    uint32_t v = 0;
    EXPECT_FALSE(w.read_word32(v));
    EXPECT_EQ(w.get_pos(), 0);
    cache->add_to_databin(4, 0, 0, data.data() + 10, 10, 4, true);
    EXPECT_TRUE(w.read_word32(v));
    EXPECT_EQ(v, 0x12345678u);
    uint16_t h = 0;
    EXPECT_TRUE(w.read_word16(h));
    EXPECT_EQ(h, 0x9ABC);
    EXPECT_TRUE(w.seek(1));
    EXPECT_TRUE(w.read_word16(h));
    EXPECT_EQ(h, 0x3456);
}

TEST_F(Jp2Box, CodestreamBoxReadsMainHeaderTileHeadersAndPrecincts)
{
    meta(cat({box("ftyp", {'j', 'p', '2', ' '}), server_placeholder(5000)}));
    bytes mainHeader(300), tile(70), precinct(500);
    for (size_t i = 0; i < mainHeader.size(); ++i)
        mainHeader[i] = uint8_t(i * 7);
    for (size_t i = 0; i < precinct.size(); ++i)
        precinct[i] = uint8_t(i * 3 + 1);
    cache->add_to_databin(3, 0, 0, mainHeader.data(), 0, 300, true);
    cache->add_to_databin(1, 0, 2, tile.data(), 0, 70, true);
    cache->add_to_databin(1, 0, 3, tile.data(), 0, 30, false);
    cache->add_to_databin(0, 0, 41, precinct.data(), 0, 500, false);
    jp2_input_box b;
    ASSERT_TRUE(b.open(src.get(), start()));
    b.close();
    ASSERT_TRUE(b.open_next());
    EXPECT_TRUE(b.select_codestream(0, true));
    bytes got(400);
    EXPECT_EQ(b.read(got.data(), 400), 300);
    got.resize(300);
    EXPECT_EQ(got, mainHeader);
    EXPECT_TRUE(b.set_tileheader_scope(2, 4));
    EXPECT_EQ(b.read(got.data(), 300), 70);
    EXPECT_FALSE(b.set_tileheader_scope(3, 4));
    EXPECT_TRUE(b.set_precinct_scope(41));
    EXPECT_TRUE(b.seek(123));
    EXPECT_EQ(b.read(got.data(), 300), 300);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), precinct.begin() + 123));
    EXPECT_EQ(b.get_pos(), 423);
}

TEST_F(Jp2Box, LocatorWalksByFilePosition)
{
    // The jp2h super-box's contents sit in bin 3 behind a placeholder; the walk finds the
    // colr box at its original file position.
    bytes ihdr = box("ihdr", bytes(14, 2)), colr = box("colr", {1, 0, 0, 0, 0, 16});
    bytes jp2h = cat({ihdr, colr});
    bytes ftyp = box("ftyp", {'j', 'p', '2', ' '});
    meta(cat({ftyp, placeholder(1, 3, header(uint32_t(8 + jp2h.size()), "jp2h"))}));
    cache->add_to_databin(4, 0, 3, jp2h.data(), 0, int(jp2h.size()), true);
    jp2_input_box b;
    jp2_locator l;
    l.set_file_pos(int64_t(ftyp.size() + 8 + ihdr.size()));
    ASSERT_TRUE(b.open(src.get(), l));
    EXPECT_EQ(b.get_box_type(), fourcc("colr"));
    EXPECT_EQ(b.get_locator().get_databin_id(), 3);
    EXPECT_EQ(b.get_locator().get_databin_pos(), int(ihdr.size()));
    uint8_t buf[6];
    EXPECT_EQ(b.read(buf, 6), 6);
    EXPECT_EQ(buf[5], 16);
}
