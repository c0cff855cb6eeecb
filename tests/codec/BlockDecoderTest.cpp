#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_block_decoder.h"
#include "tests/codec/support/block_streams.h"
#include "tests/codec/support/test_sources.h"

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

// A record over random coded bytes: one segment of `bytes` bytes for all passes.
void random_block(rvd_block& block, std::mt19937& rng, int height, int width, int modes, int passes, int bytes)
{
    block.size = rvd_coords(height, width);
    block.modes = modes;
    block.orientation = static_cast<int>(rng() % 4);
    block.magnitude_planes = 12;
    block.missing_msbs = 1;
    block.num_passes = passes;
    block.set_max_passes(passes);
    block.set_max_bytes(bytes + 2);
    for (int z = 0; z < passes; z++)
        block.pass_lengths[z] = 0;
    block.pass_lengths[0] = bytes;
    for (int i = 0; i < bytes; i++)
        block.byte_buffer[i] = static_cast<uint8_t>(rng());
}

TEST_F(BlockDecoder, GeometryEdgeCases)
{
    std::mt19937 rng(5);
    rvd_block block;
    rvd_block_decoder dec;
    // (Partial last stripes are covered by the 61 x 47 streams.)
    // 29 missing MSBs: a single cleanup at p = 1, whatever num_passes says.
    random_block(block, rng, 16, 16, 0, 10, 100);
    block.magnitude_planes = 30;
    block.missing_msbs = 29;
    dec.decode(&block);
    std::vector<int32_t> all = samples_of(block);
    block.num_passes = 1;
    dec.decode(&block);
    EXPECT_EQ(samples_of(block), all);
    for (int32_t w : all)
        EXPECT_TRUE(w == 0 || (static_cast<uint32_t>(w) & 0x7FFFFFFF) == 3u);

    // No decodable plane, or plane counts no codestream can give: all zero.
    for (int planes : {29, 0, INT_MAX}) {
        for (int msbs : {29, -1, INT_MAX, INT_MIN}) {
            block.magnitude_planes = planes;
            block.missing_msbs = msbs;
            block.num_passes = INT_MAX;
            dec.decode(&block);
            bool one_plane = planes == INT_MAX && msbs == 29; // the cut at p = 1 applies
            for (int32_t w : samples_of(block))
                ASSERT_TRUE(w == 0 || (one_plane && (w & 0x7FFFFFFF) == 3)) << planes << " " << msbs;
        }
    }
    // A record larger than any code-block is refused before anything grows.
    for (rvd_coords size : {rvd_coords(1025, 1), rvd_coords(1, 1025), rvd_coords(65, 64)}) {
        rvd_block big;
        big.size = size;
        EXPECT_THROW(dec.decode(&big), block_error);
        EXPECT_EQ(big.max_samples, 0);
    }

    // Causal mode: stripe s never marks the row-below bits of stripe s - 1.
    for (bool causal : {false, true}) {
        random_block(block, rng, 16, 16, causal ? rvd_block_causal : 0, 22, 400);
        dec.decode(&block);
        uint32_t below_bits = 0;
        const uint32_t* ctx = reinterpret_cast<const uint32_t*>(block.context_buffer);
        for (int s = 0; s < 3; s++)
            for (int c = 0; c < 16; c++)
                below_bits |= ctx[(s + 1) * 19 + 1 + c] & ((7u << 15) | (1u << 31));
        if (causal)
            EXPECT_EQ(below_bits, 0u);
        else
            EXPECT_NE(below_bits, 0u);
    }
}

// Pass lengths that reach beyond the buffer (with its two fence bytes), negative lengths
// and more passes than the record holds are absent passes, never out-of-bounds access.
TEST_F(BlockDecoder, PassesOutsideTheBufferAreAbsent)
{
    const extracted_block& eb = load_case("u8_61x47", 4).eb;
    rvd_block_decoder dec;
    int bytes = 0;
    for (int z = 0; z < 6; z++)
        bytes += eb.pass_lengths[static_cast<size_t>(z)];
    // Every pass announced, with arrays allocated to exactly the given capacities, so the
    // address sanitizer sees any access beyond them.
    auto decode_with = [&](int byte_room, int pass_room, int bad_pass) {
        rvd_block b;
        b.size = rvd_coords(eb.height, eb.width);
        b.modes = eb.modes;
        b.magnitude_planes = eb.kmax;
        b.missing_msbs = eb.missing_msbs;
        b.num_passes = 1000;
        b.set_max_bytes(byte_room);
        b.set_max_passes(pass_room);
        std::copy(eb.body.begin(), eb.body.begin() + std::min<size_t>(byte_room, eb.body.size()), b.byte_buffer);
        std::copy(eb.pass_lengths.begin(), eb.pass_lengths.begin() + pass_room, b.pass_lengths);
        if (bad_pass >= 0)
            b.pass_lengths[bad_pass] = -5;
        dec.decode(&b);
        return samples_of(b);
    };
    EXPECT_EQ(decode_with(bytes + 2, eb.num_passes, -1), decode_clean(eb, 6));
    EXPECT_EQ(decode_with(bytes + 1, eb.num_passes, -1), decode_clean(eb, 5)); // no room for the fence
    EXPECT_EQ(decode_with(bytes + 2, eb.num_passes, 3), decode_clean(eb, 3));
    EXPECT_EQ(decode_with(static_cast<int>(eb.body.size()) + 2, 5, -1), decode_clean(eb, 5));

    rvd_block empty; // no arrays at all
    empty.size = rvd_coords(4, 4);
    empty.magnitude_planes = 8;
    empty.num_passes = 3;
    dec.decode(&empty);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(empty.sample_buffer[i], 0);
}

// Every predictably terminated segment passes its test; most single-byte flips fail it.
TEST_F(BlockDecoder, PredictableTerminationDetectsMostFlips)
{
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
