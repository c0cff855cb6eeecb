#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_extract.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>
#include <boost/thread/thread.hpp>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace codec_test;

namespace {

struct block_image {
    const char* name;
    int depth;
    bool is_signed;
};
const block_image images[] = {{"u8_64x64", 8, false},  {"u8_61x47", 8, false},
                              {"s12_64x64", 12, true}, {"s12_61x47", 12, true},
                              {"u16_64x64", 16, false}, {"u16_61x47", 16, false}};

std::vector<int> load_samples(const std::string& path)
{
    std::ifstream in(path);
    std::vector<int> v;
    int x;
    while (in >> x)
        v.push_back(x);
    return v;
}

std::string block_stream(const std::string& image, int mode)
{
    return stream_dir("blocks") + "/blk_" + image + "_m" + std::to_string(mode) + ".j2k";
}

// Sample value of a decoded word: sign x magnitude at integer scale.
int value_of(int32_t word, int k_max)
{
    uint32_t w = uint32_t(word);
    int mag = int((w & 0x7FFFFFFFu) >> (31 - k_max));
    return (w >> 31) ? -mag : mag;
}

TEST(BlockDecoder, PacketHeadersAccountForEveryByte)
{
    for (int mode : {0, 1, 4, 5, 16, 32, 63}) {
        extracted_block b = extract_single_block(read_file(block_stream("u8_61x47", mode)));
        size_t total = b.header_bytes;
        for (int l : b.pass_lengths)
            total += size_t(l);
        EXPECT_EQ(total, b.packet_bytes) << "mode " << mode;
        EXPECT_EQ(b.modes, mode);
    }
}

// Every image, every mode: the decoded samples are the source samples.
TEST(BlockDecoder, BitExactOnEncodedBlocksInEveryMode)
{
    rvd_block blk;
    rvd_block_decoder dec;
    for (const block_image& im : images) {
        std::vector<int> src = load_samples(stream_dir("blocks") + "/blk_" + im.name + ".samples");
        int shift = im.is_signed ? 0 : (1 << (im.depth - 1));
        for (int mode = 0; mode < 64; mode++) {
            extracted_block b = extract_single_block(read_file(block_stream(im.name, mode)));
            ASSERT_EQ(size_t(b.width * b.height), src.size());
            fill_block(blk, b);
            dec.decode(&blk);
            ASSERT_EQ(blk.num_passes, b.num_passes);
            int bad = 0;
            for (int y = 0; y < b.height; y++)
                for (int x = 0; x < b.width; x++)
                    if (value_of(blk.sample_buffer[y * b.width + x], b.k_max) + shift !=
                        src[size_t(y * b.width + x)])
                        bad++;
            ASSERT_EQ(bad, 0) << im.name << " mode " << mode;
        }
    }
}

// Decoding only the first k passes stays within the precision of the last cleanup.
TEST(BlockDecoder, PartialDecodesStayWithinTheirPrecision)
{
    rvd_block blk;
    rvd_block_decoder dec;
    for (const char* name : {"u8_61x47", "s12_64x64"})
        for (int mode = 0; mode < 64; mode += (name[0] == 'u') ? 1 : 7) {
            std::vector<int> src = load_samples(stream_dir("blocks") + "/blk_" + name + ".samples");
            extracted_block b = extract_single_block(read_file(block_stream(name, mode)));
            int shift = (name[0] == 'u') ? 128 : 0;
            for (int k = 1; k <= b.num_passes; k++) {
                fill_block(blk, b, k);
                dec.decode(&blk);
                int p = 30 - b.missing_msbs - (k - 1) / 3;
                int64_t tol = int64_t(1) << p;
                for (size_t i = 0; i < src.size(); i++) {
                    int64_t want = src[i] - shift;
                    int64_t want_word = (want < 0 ? -want : want) << (31 - b.k_max);
                    uint32_t w = uint32_t(blk.sample_buffer[i]);
                    int64_t got_word = w & 0x7FFFFFFFu;
                    ASSERT_LE(std::abs(got_word - want_word), tol)
                        << name << " mode " << mode << " k " << k << " i " << i;
                    if (got_word != 0 && want != 0) {
                        ASSERT_EQ(w >> 31, uint32_t(want < 0));
                    }
                }
            }
        }
}

TEST(BlockDecoder, TerminatedSegmentsPassTheTest)
{
    // Predictable termination on every segment, and most single-byte flips detected.
    rvd_block blk;
    rvd_block_decoder dec;
    boost::random::mt19937 rng(5102);
    int flips = 0, detected = 0;
    for (const block_image& im : images)
        for (int mode : {16, 17, 20, 21, 52}) {
            extracted_block b = extract_single_block(read_file(block_stream(im.name, mode)));
            fill_block(blk, b);
            blk.resilient = true;
            blk.errors_reported = false;
            dec.decode(&blk);
            EXPECT_EQ(blk.num_passes, b.num_passes) << im.name << " mode " << mode;
            EXPECT_FALSE(blk.errors_reported) << im.name << " mode " << mode;
            for (int f = 0; f < 8 && !b.bytes.empty(); f++) {
                extracted_block c = b;
                size_t at = boost::random::uniform_int_distribution<size_t>(0, c.bytes.size() - 1)(rng);
                c.bytes[at] ^= uint8_t(1 << boost::random::uniform_int_distribution<int>(0, 7)(rng));
                fill_block(blk, c);
                blk.resilient = true;
                blk.errors_reported = false;
                dec.decode(&blk);
                flips++;
                if (blk.errors_reported)
                    detected++;
            }
        }
    std::printf("single-byte flips detected: %d of %d\n", detected, flips);
    EXPECT_GT(detected * 2, flips);
}

// Segment index holding byte `at` and the first pass of that segment.
int segment_of(const extracted_block& b, size_t at, int& first_pass)
{
    size_t pos = 0;
    int seg = 0;
    for (int z = 0; z < b.num_passes; z++) {
        if (b.pass_lengths[size_t(z)] == 0 && z > 0)
            continue;
        size_t len = size_t(b.pass_lengths[size_t(z)]);
        if (at < pos + len) {
            first_pass = z;
            return seg;
        }
        pos += len;
        seg++;
    }
    first_pass = b.num_passes;
    return seg;
}

TEST(BlockDecoder, ResilientDecodingConcealsCorruptSegments)
{
    rvd_block blk, clean;
    rvd_block_decoder dec;
    boost::random::mt19937 rng(20);
    int exact = 0, detected_in_segment = 0;
    for (const block_image& im : images)
        for (int mode : {20, 16, 48}) {
            extracted_block b = extract_single_block(read_file(block_stream(im.name, mode)));
            for (int trial = 0; trial < 10; trial++) {
                extracted_block c = b;
                size_t at = boost::random::uniform_int_distribution<size_t>(0, c.bytes.size() - 1)(rng);
                c.bytes[at] ^= uint8_t(1 + boost::random::uniform_int_distribution<int>(0, 254)(rng));
                clear_captured_warnings();
                fill_block(blk, c);
                blk.resilient = true;
                blk.errors_reported = false;
                dec.decode(&blk);
                // A second corrupt block on the same record warns no more.
                fill_block(blk, c);
                dec.decode(&blk);
                EXPECT_LE(warning_count("One or more corrupted block bit-streams detected.\n"), 1);
                if (!blk.errors_reported)
                    continue;
                int first_pass = 0;
                segment_of(c, at, first_pass);
                if (blk.num_passes < first_pass)
                    continue; // detected later than the segment holding the flip
                fill_block(clean, b, blk.num_passes);
                dec.decode(&clean);
                int n = b.width * b.height;
                bool same = std::equal(blk.sample_buffer, blk.sample_buffer + n, clean.sample_buffer);
                // With one pass per segment the damage cannot reach the passes kept. In one
                // long segment a corrupted bit-plane can pass its segmentation symbol by
                // chance (1 in 16) and be kept.
                if (mode == 20) {
                    ASSERT_TRUE(same) << im.name << " mode " << mode << " passes " << blk.num_passes;
                }
                detected_in_segment++;
                exact += same;

                // Fussy mode raises the error; fast mode sees nothing.
                fill_block(blk, c);
                blk.resilient = false;
                blk.fussy = true;
                std::string text = error_text([&] { dec.decode(&blk); });
                EXPECT_NE(text.find("Encountered incorrectly terminated codeword segment, or "
                                    "invalid SEGMARK symbol in code-block bit-stream.  You may "
                                    "like to use the \"resilient\" mode to recover from and "
                                    "conceal such errors."),
                          std::string::npos);
                blk.fussy = false;
                blk.errors_reported = false;
                fill_block(blk, c);
                dec.decode(&blk);
                EXPECT_FALSE(blk.errors_reported);
                EXPECT_EQ(blk.num_passes, c.num_passes);
            }
        }
    std::printf("concealed exactly: %d of %d detections in the corrupt segment\n", exact,
                detected_in_segment);
    EXPECT_GT(exact * 10, detected_in_segment * 8);
}

// A hand-built record for the edge cases: random bytes in one segment.
void fill_random(rvd_block& blk, int height, int width, int modes, int missing, int planes,
                 int passes, uint32_t seed)
{
    boost::random::mt19937 rng(seed);
    blk.size = rvd_coords(height, width);
    blk.modes = modes;
    blk.orientation = int(seed % 4);
    blk.missing_msbs = missing;
    blk.magnitude_planes = planes;
    blk.num_passes = passes;
    blk.set_max_passes(passes + 1, false);
    blk.set_max_bytes(4000, false);
    for (int i = 0; i < passes; i++)
        blk.pass_lengths[i] = 0;
    blk.pass_lengths[0] = 3000;
    for (int i = 0; i < 3000; i++)
        blk.byte_buffer[i] = uint8_t(rng());
    blk.resilient = blk.fussy = false;
}

TEST(BlockDecoder, EdgeCases)
{
    rvd_block blk;
    rvd_block_decoder dec;
    // Height 5: two stripes; rows 5 to 7 stay zero.
    fill_random(blk, 5, 16, 0, 0, 12, 20, 1);
    dec.decode(&blk);
    int nonzero = 0;
    for (int i = 0; i < 5 * 16; i++)
        nonzero += blk.sample_buffer[i] != 0;
    EXPECT_GT(nonzero, 0);
    for (int i = 5 * 16; i < 8 * 16; i++)
        EXPECT_EQ(blk.sample_buffer[i], 0);
    // One pass: only the first cleanup, so every nonzero magnitude is 3 << (p0 - 1).
    fill_random(blk, 16, 16, 0, 2, 12, 1, 2);
    dec.decode(&blk);
    for (int i = 0; i < 256; i++) {
        uint32_t m = uint32_t(blk.sample_buffer[i]) & 0x7FFFFFFFu;
        EXPECT_TRUE(m == 0 || m == (3u << 27)) << m;
    }
    // 29 missing planes: one cleanup at p = 1 however many passes are offered.
    fill_random(blk, 8, 8, 0, 29, 31, 10, 3);
    dec.decode(&blk);
    for (int i = 0; i < 64; i++) {
        uint32_t m = uint32_t(blk.sample_buffer[i]) & 0x7FFFFFFFu;
        EXPECT_TRUE(m == 0 || m == 3u);
    }
    // No decodable plane, or plane counts no parser could give: all zero.
    for (auto mp : {std::make_pair(5, 5), std::make_pair(-3, 12), std::make_pair(30, 40),
                    std::make_pair(0, 2147483647)}) {
        fill_random(blk, 8, 8, 0, mp.first, mp.second, 10, 4);
        dec.decode(&blk);
        int nonzero = 0;
        for (int i = 0; i < 64; i++)
            nonzero += blk.sample_buffer[i] != 0;
        EXPECT_EQ(nonzero, mp.second == 2147483647 ? nonzero : 0) << mp.first;
    }
    // Pass lengths reaching beyond the buffer with its fence: those passes are absent.
    fill_random(blk, 8, 8, RVD_MODE_RESTART, 0, 10, 5, 5);
    for (int i = 0; i < 5; i++)
        blk.pass_lengths[i] = 1000;
    blk.pass_lengths[3] = 1999; // 3000 + 1999 + 2 > 4000
    dec.decode(&blk);
    rvd_block three;
    fill_random(three, 8, 8, RVD_MODE_RESTART, 0, 10, 3, 5);
    for (int i = 0; i < 3; i++)
        three.pass_lengths[i] = 1000;
    dec.decode(&three);
    EXPECT_TRUE(std::equal(blk.sample_buffer, blk.sample_buffer + 64, three.sample_buffer));
}

TEST(BlockDecoder, CausalModeLeavesTheStripeAboveAlone)
{
    // The same bytes decoded with and without causal mode: with it, a second stripe's
    // significance cannot reach back into the first stripe's contexts, so with one pass
    // only (the first cleanup) the first stripe decodes the same either way and the
    // words of the stripe above the second stay free of bits from below.
    rvd_block a, b;
    rvd_block_decoder dec;
    fill_random(a, 8, 32, RVD_MODE_CAUSAL, 0, 12, 1, 9);
    dec.decode(&a);
    // Row 3 (last row of stripe 0) never sees the sign of row 4 in causal mode: its
    // context words carry no bits 15..17 or 31.
    const uint32_t* ctx = reinterpret_cast<const uint32_t*>(a.context_buffer);
    int stride = 32 + 3;
    for (int c = 0; c < 32; c++) {
        uint32_t w = ctx[stride + 1 + c];
        EXPECT_EQ(w & ((7u << 15) | (1u << 31)), 0u) << c;
    }
    fill_random(b, 8, 32, 0, 0, 12, 1, 9);
    dec.decode(&b);
    int differs = 0;
    const uint32_t* bctx = reinterpret_cast<const uint32_t*>(b.context_buffer);
    for (int c = 0; c < 32; c++)
        differs += (bctx[stride + 1 + c] & ((7u << 15) | (1u << 31))) != 0;
    EXPECT_GT(differs, 0); // without causal mode the stripe above is updated
}

TEST(BlockDecoder, BypassSegmentsSplitAtPassTen)
{
    extracted_block b = extract_single_block(read_file(block_stream("s12_64x64", 1)));
    ASSERT_GT(b.num_passes, 13);
    EXPECT_GT(b.pass_lengths[10], 0); // passes 10 and 11: one raw segment
    EXPECT_EQ(b.pass_lengths[11], 0);
    EXPECT_GT(b.pass_lengths[12], 0); // pass 12: its own MQ segment
    for (int z = 1; z < 10; z++)
        EXPECT_EQ(b.pass_lengths[size_t(z)], 0);
}

TEST(BlockDecoder, CapacitiesGrowAndKeep)
{
    rvd_block blk;
    blk.set_max_passes(4);
    for (int i = 0; i < 4; i++)
        blk.pass_lengths[i] = i + 1;
    blk.set_max_passes(10, true);
    EXPECT_EQ(blk.pass_lengths[3], 4);
    blk.set_max_passes(5, true); // already enough: unchanged
    EXPECT_EQ(blk.max_passes, 10);
    blk.set_max_bytes(3);
    blk.byte_buffer[-1] = 9; // the byte before the first may be written
    blk.byte_buffer[2] = 7;
    blk.set_max_bytes(100, true);
    EXPECT_EQ(blk.byte_buffer[2], 7);
    blk.set_max_samples(33);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(blk.sample_buffer) % 16, 0u);
    blk.sample_buffer[32] = 1;
    blk.set_max_contexts(7);
    EXPECT_EQ(blk.max_contexts, 7);
}

TEST(BlockDecoder, TimingCountsSamples)
{
    extracted_block b = extract_single_block(read_file(block_stream("u8_64x64", 0)));
    rvd_block blk;
    rvd_block_decoder dec;
    fill_block(blk, b);
    blk.timing_repeats = 3;
    dec.decode(&blk);
    EXPECT_EQ(blk.timed_samples, 3 * 64 * 64);
    EXPECT_GE(blk.timing_total, 0);
}

// Each thread with its own decoder and record; the tables are built before and only read.
TEST(BlockDecoder, ThreadsDecodeAtOnce)
{
    rv_init_block_coding_tables();
    std::vector<extracted_block> blocks;
    for (int mode : {0, 1, 4, 63})
        blocks.push_back(extract_single_block(read_file(block_stream("s12_61x47", mode))));
    std::vector<std::vector<int32_t>> results(2);
    auto work = [&](int id) {
        rvd_block blk;
        rvd_block_decoder dec;
        for (int rep = 0; rep < 5; rep++)
            for (const extracted_block& b : blocks) {
                fill_block(blk, b);
                dec.decode(&blk);
            }
        results[size_t(id)].assign(blk.sample_buffer, blk.sample_buffer + 61 * 47);
    };
    boost::thread t0(work, 0), t1(work, 1);
    t0.join();
    t1.join();
    EXPECT_EQ(results[0], results[1]);
}

} // namespace
