#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_streams.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <boost/thread/thread.hpp>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace block_test;

const char* const kImages[] = {"u8_64x64", "u8_61x47", "s12_64x64", "s12_61x47", "u16_64x64", "u16_61x47"};

const char* const kSegmentError =
    "Encountered incorrectly terminated codeword segment, or invalid SEGMARK symbol in code-block "
    "bit-stream.  You may like to use the \"resilient\" mode to recover from and conceal such errors.";
const char* const kCorruptWarning = "One or more corrupted block bit-streams detected.\n";

struct stream_case {
    extracted_block eb;
    std::vector<int> source;
};

// Streams are extracted once per test program.
const stream_case& load_case(const std::string& image, int mode)
{
    static std::map<std::string, stream_case> cache;
    std::string key = image + "_m" + std::to_string(mode);
    auto it = cache.find(key);
    if (it == cache.end()) {
        std::string dir = block_stream_dir();
        stream_case c;
        c.eb = extract_block(codec_test::read_file(dir + "/blk_" + key + ".j2k"));
        c.source = read_samples(dir + "/blk_" + image + ".samples");
        it = cache.emplace(key, std::move(c)).first;
    }
    return it->second;
}

std::vector<int32_t> samples_of(const rvd_block& b)
{
    return std::vector<int32_t>(b.sample_buffer, b.sample_buffer + 4 * ((b.size.y + 3) / 4) * b.size.x);
}

std::vector<int32_t> decode_clean(const extracted_block& eb, int passes)
{
    rvd_block block;
    fill_block(block, eb, passes);
    rvd_block_decoder dec;
    dec.decode(&block);
    return samples_of(block);
}

class BlockDecoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        rv_init_mq_tables();
        rv_init_context_tables();
    }
    // Held by pointer: the sinks' destructors may throw, a fixture's may not.
    std::unique_ptr<scoped_handlers> handlers{new scoped_handlers};
};

// Every mode on every image: lossless decoding gives the source back, and so does fussy
// decoding (every terminated segment and every segmentation symbol passes its check).
// Decoding only the first k passes stays within the last cleanup's bit-plane and
// raises no alarm.
TEST_F(BlockDecoder, RealBlocksDecodeBitExactInEveryMode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    rvd_block block;
    rvd_block_decoder dec;
    for (const char* image : kImages)
        for (int mode = 0; mode < 64; mode++) {
            SCOPED_TRACE(std::string(image) + " mode " + std::to_string(mode));
            const stream_case& c = load_case(image, mode);
            const extracted_block& eb = c.eb;
            ASSERT_EQ(eb.modes, mode);
            int body = 0;
            for (int32_t len : eb.pass_lengths)
                body += len;
            ASSERT_EQ(eb.header_bytes + body, eb.packet_bytes);
            int shift = eb.is_signed ? 0 : 1 << (eb.depth - 1);

            for (bool fussy : {false, true}) {
                fill_block(block, eb, eb.num_passes, false, fussy);
                ASSERT_NO_THROW(dec.decode(&block));
                ASSERT_EQ(block.num_passes, eb.num_passes);
                for (int y = 0; y < eb.height; y++)
                    for (int x = 0; x < eb.width; x++)
                        ASSERT_EQ(word_value(block.sample_buffer[y * eb.width + x], eb.kmax) + shift,
                                  c.source[static_cast<size_t>(y * eb.width + x)])
                            << "at " << y << "," << x;
            }

            for (int k = 1; k <= eb.num_passes; k++) {
                // Resilient: a valid stream cut after any pass shows no corruption.
                fill_block(block, eb, k, true, false);
                dec.decode(&block);
                ASSERT_EQ(block.num_passes, k);
                int p = 30 - eb.missing_msbs - (k - 1) / 3;
                int64_t tolerance = int64_t(1) << p;
                for (int y = 0; y < eb.height; y++)
                    for (int x = 0; x < eb.width; x++) {
                        uint32_t w = static_cast<uint32_t>(block.sample_buffer[y * eb.width + x]);
                        int truth = c.source[static_cast<size_t>(y * eb.width + x)] - shift;
                        int64_t true_mag = int64_t(std::abs(truth)) << (31 - eb.kmax);
                        int64_t mag = w & 0x7FFFFFFF;
                        ASSERT_LT(std::abs(mag - true_mag), tolerance) << "k " << k << " at " << y << "," << x;
                        if (mag != 0) {
                            ASSERT_EQ(w >> 31, truth < 0 ? 1u : 0u) << "k " << k;
                            // One pass is the first cleanup alone.
                            ASSERT_TRUE(k > 1 || mag == int64_t(3) << (p - 1));
                        }
                    }
            }
            // Rows below a partial last stripe are never written.
            for (int y = eb.height; y < 4 * ((eb.height + 3) / 4); y++)
                for (int x = 0; x < eb.width; x++)
                    ASSERT_EQ(block.sample_buffer[y * eb.width + x], 0);
        }
}

// Every predictably terminated segment passes its test; most single-byte flips fail it.
TEST_F(BlockDecoder, PredictableTerminationDetectsMostFlips)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::mt19937 rng(77);
    rvd_block block;
    rvd_block_decoder dec;
    int all_detected = 0, all_flips = 0;
    for (int mode : {16, 17}) {
        int detected = 0, flips = 0;
        for (const char* image : kImages) {
            const extracted_block& eb = load_case(image, mode).eb;
            fill_block(block, eb, eb.num_passes, false, true);
            ASSERT_NO_THROW(dec.decode(&block)) << image << " mode " << mode;
            for (int n = 0; n < 17; n++) {
                fill_block(block, eb, eb.num_passes, true, false);
                size_t at = rng() % eb.body.size();
                block.byte_buffer[at] ^= static_cast<uint8_t>(1 + rng() % 255);
                dec.decode(&block);
                flips++;
                detected += block.num_passes < eb.num_passes;
            }
        }
        // Raw segments carry no redundancy beyond their last byte, so bypass detects less.
        std::cout << "mode " << mode << ": predictable termination detected " << detected << " of " << flips
                  << " flips\n";
        RecordProperty("flips_detected_mode" + std::to_string(mode), detected);
        all_detected += detected;
        all_flips += flips;
    }
    EXPECT_GT(all_detected * 2, all_flips);
}

// Resilient decoding conceals a corrupt segment by dropping passes; the warning comes
// once per record; fussy decoding raises the error; fast decoding sees nothing.
TEST_F(BlockDecoder, ResilienceOnCorruptSegments)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::mt19937 rng(2024);
    rvd_block resilient, fussy, fast;
    rvd_block_decoder dec;
    struct counts {
        int detected = 0, exact = 0;
    };
    std::map<int, counts> per_mode;
    int detected = 0, trials = 0;
    for (int mode : {20, 16, 48})
        for (const char* image : kImages) {
            const extracted_block& eb = load_case(image, mode).eb;
            for (int n = 0; n < 40; n++) {
                size_t at = rng() % eb.body.size();
                uint8_t flip = static_cast<uint8_t>(1 + rng() % 255);
                trials++;

                fill_block(resilient, eb, eb.num_passes, true, false);
                resilient.byte_buffer[at] ^= flip;
                dec.decode(&resilient);
                int lowered = resilient.num_passes;
                if (lowered < eb.num_passes) {
                    detected++;
                    // The segment holding the flipped byte.
                    size_t seg = 0;
                    int start = 0;
                    for (size_t i = 0; i < eb.segment_first.size(); i++) {
                        if (static_cast<size_t>(start) > at)
                            break;
                        seg = i;
                        start += eb.pass_lengths[static_cast<size_t>(eb.segment_first[i])];
                    }
                    int seg_first = eb.segment_first[seg];
                    bool same = samples_of(resilient) == decode_clean(eb, lowered);
                    // Detected in the segment that holds the byte: only passes before
                    // that segment are kept, and they are clean. (With segmentation
                    // symbols the one segment holds every pass, and a symbol may pass
                    // by chance after a corrupted plane, so that mode only counts.)
                    if (mode != 48 && lowered <= seg_first) {
                        EXPECT_TRUE(same) << image << " mode " << mode << " byte " << at;
                    }
                    per_mode[mode].detected++;
                    per_mode[mode].exact += same;

                    fill_block(fussy, eb, eb.num_passes, false, true);
                    fussy.byte_buffer[at] ^= flip;
                    try {
                        dec.decode(&fussy);
                        ADD_FAILURE() << "fussy decoding raised no error";
                    } catch (const block_error& e) {
                        EXPECT_EQ(e.text, std::string("Ravade Core Error:\n") + kSegmentError);
                    }
                }
                fill_block(fast, eb, eb.num_passes);
                fast.byte_buffer[at] ^= flip;
                dec.decode(&fast);
                EXPECT_EQ(fast.num_passes, eb.num_passes);
            }
        }
    for (const auto& m : per_mode)
        std::cout << "mode " << m.first << ": resilient decoding detected " << m.second.detected << " of "
                  << trials / 3 << " flips, " << m.second.exact << " concealed exactly\n";
    EXPECT_GT(detected, trials / 2);
    ASSERT_EQ(handlers->warnings.size(), 1u);
    EXPECT_EQ(handlers->warnings[0], std::string("Ravade Core Warning:\n") + kCorruptWarning);
    EXPECT_TRUE(resilient.errors_reported);
    EXPECT_FALSE(fast.errors_reported);
}

// The start-up tables are only read: decoders on two threads, each with its own record,
// give the single-threaded results.
// Named for the thread-sanitizer run of CI, which picks suites ending in Concurrency.
using BlockDecoderConcurrency = BlockDecoder;

TEST_F(BlockDecoderConcurrency, TwoThreadsDecodeAtOnce)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::vector<const extracted_block*> blocks;
    std::vector<std::vector<int32_t>> expected;
    for (int mode : {0, 1, 4, 63}) {
        blocks.push_back(&load_case("s12_64x64", mode).eb);
        expected.push_back(decode_clean(*blocks.back(), blocks.back()->num_passes));
    }
    int mismatches[2] = {0, 0};
    auto work = [&](int id) {
        rvd_block block;
        rvd_block_decoder dec;
        for (int round = 0; round < 10; round++)
            for (size_t i = 0; i < blocks.size(); i++) {
                fill_block(block, *blocks[i], blocks[i]->num_passes);
                dec.decode(&block);
                mismatches[id] += samples_of(block) != expected[i];
            }
    };
    boost::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

} // namespace
