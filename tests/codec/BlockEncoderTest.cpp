// The block encoder against published MQ vectors, independently evaluated table
// formulas and the block decoder.
#include "codec/encode/rv_distortion_tables.h"
#include "codec/encode/rv_mq_encoder.h"
#include "codec/encode/rv_rate_slopes.h"
#include "tests/codec/support/block_roundtrip.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/mq_vectors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

using namespace codec_test;

namespace {

class BlockEncoder : public ::testing::Test {
protected:
    void SetUp() override { init_block_coding_tables(); }
};

// Random samples of up to `bits` magnitude bits, some blocks sparse, some dense.
std::vector<int32_t> random_words(std::mt19937& rng, const block_shape& s, int style)
{
    int bits = s.kmax - s.missing;
    std::vector<int32_t> w(static_cast<size_t>(s.height * s.width));
    for (int32_t& v : w) {
        int mag = static_cast<int>(rng() & ((1u << bits) - 1));
        if (style == 1 && rng() % 8 != 0)
            mag = 0; // sparse
        else if (style == 2)
            mag >>= rng() % static_cast<unsigned>(bits + 1); // mostly small
        v = to_word((rng() & 1) ? -mag : mag, s.kmax);
    }
    return w;
}

int magnitude(int32_t w)
{
    return static_cast<int>(static_cast<uint32_t>(w) & 0x7FFFFFFF);
}

} // namespace

TEST_F(BlockEncoder, TablesAndSlopes)
{
    for (int i = 0; i < 64; i++) {
        double x = i / 32.0, xs = (i % 32 + 32) / 32.0;
        if (i < 32) {
            EXPECT_EQ(std::floor(65536 * (xs * xs - (xs - 1.5) * (xs - 1.5)) + 0.5), rv_significance_distortion_lossy[i]);
            EXPECT_EQ(std::floor(65536 * xs * xs + 0.5), rv_significance_distortion_final[i]);
        }
        double after = i < 32 ? x - 0.5 : x - 1.5;
        EXPECT_EQ(std::floor(65536 * ((x - 1) * (x - 1) - after * after) + 0.5), rv_refinement_distortion_lossy[i]);
        EXPECT_EQ(std::floor(65536 * (x - 1) * (x - 1) + 0.5), rv_refinement_distortion_final[i]);
    }
    EXPECT_EQ(49152, rv_significance_distortion_lossy[0]);
    EXPECT_EQ(239616, rv_significance_distortion_lossy[31]);
    EXPECT_EQ(65536, rv_significance_distortion_final[0]);

    struct { double s; uint16_t v; } known[] = {
        {std::ldexp(1.0, 32), 65535}, {std::ldexp(1.0, 40), 65535}, {1.0, 57344}, {1e-3, 54792}, {1e-70, 2}};
    for (auto k : known)
        EXPECT_EQ(k.v, slope_to_log(k.s)) << k.s;
    for (int e = -200; e <= 32; e++)
        for (double f : {1.0, 1.3, 1.77}) {
            double s = std::ldexp(f, e);
            if (s > std::ldexp(1.0, 32))
                continue;
            double back = log_to_slope(slope_to_log(s));
            EXPECT_LE(back, s * (1 + 1e-12)) << s;
            EXPECT_GE(back, s * std::exp2(-1.0 / 256) * (1 - 1e-12)) << s;
        }
    double d[] = {100, 10, 40, 1};
    int32_t r[] = {10, 10, 10, 10};
    uint16_t out[4];
    compute_hull_slopes(d, r, 4, out);
    EXPECT_EQ((std::vector<uint16_t>{58194, 0, 57682, 56493}), std::vector<uint16_t>(out, out + 4));
}

TEST_F(BlockEncoder, MqKnownAnswerAndTruncation)
{
    std::vector<int> bits;
    for (int i = 0; i < 256; i++)
        bits.push_back((kT88Decisions[static_cast<size_t>(i / 8)] >> (7 - i % 8)) & 1);
    std::vector<uint8_t> lengths;
    for (bool optimal : {false, true}) {
        std::vector<uint8_t> buf(64, 0xA5);
        rv_mq_encoder e;
        e.reset();
        e.start(buf.data() + 1, true);
        rv_mq_state st = rv_mq_encoder_states[0];
        for (int b : bits)
            e.encode_symbol(b, st);
        int n = static_cast<int>(e.terminate(optimal) - (buf.data() + 1));
        lengths.push_back(static_cast<uint8_t>(n));
        EXPECT_EQ(0xA5, buf[0]) << "the byte before the segment is put back";
        ASSERT_GE(n, 25);
        EXPECT_TRUE(std::equal(kT88Bytes.begin(), kT88Bytes.begin() + 25, buf.begin() + 1)) << optimal;

        rv_mq_decoder d;
        d.start(buf.data() + 1, n, true);
        rv_mq_state ds = rv_mq_decoder_state(0, 0);
        for (size_t i = 0; i < bits.size(); i++) {
            int sym;
            d.decode(sym, ds);
            ASSERT_EQ(bits[i], sym) << "decision " << i << " optimal " << optimal;
        }
        d.finish();
    }
    EXPECT_LE(lengths[1], lengths[0]);
}

// Every shape, mode combination, orientation and plane count: exact round trips, every
// pass prefix within the precision of its last complete plane, fussy decoding silent.
TEST_F(BlockEncoder, RoundTripsThroughTheBlockDecoder)
{
    std::mt19937 rng(47);
    std::vector<std::pair<int, int>> shapes = {{1, 1}, {1, 64}, {2, 37}, {3, 5}, {64, 64}, {5, 1},
                                               {17, 33}, {4, 1024}, {1024, 4}, {64, 1}, {3, 64}, {32, 32}};
    for (int n = 0; n < 12; n++)
        shapes.push_back({1 + static_cast<int>(rng() % 64), 1 + static_cast<int>(rng() % 64)});
    rvd_block_encoder enc;
    rvd_block_decoder dec;
    rvd_block eb, db;
    int case_no = 0;
    for (int modes = 0; modes < 64; modes++)
        for (size_t si = 0; si < shapes.size(); si += (modes % 8 == 0 ? 1 : 5)) {
            block_shape s;
            s.height = shapes[si].first;
            s.width = shapes[si].second;
            s.modes = modes;
            s.orientation = case_no % 4;
            s.kmax = 2 + static_cast<int>(rng() % 29);
            s.missing = static_cast<int>(rng() % static_cast<unsigned>(s.kmax));
            if (case_no % 7 == 0) {
                s.kmax = 30;
                s.missing = static_cast<int>(rng() % 5);
            }
            int style = case_no % 3;
            case_no++;
            SCOPED_TRACE(testing::Message() << s.height << "x" << s.width << " modes " << modes << " orient "
                                            << s.orientation << " kmax " << s.kmax << " K " << s.missing);
            std::vector<int32_t> words = random_words(rng, s, style);
            int full = 3 * (s.kmax - s.missing) - 2;
            coded_block c = encode_block(enc, eb, s, words, full);
            ASSERT_EQ(full, c.num_passes);
            ASSERT_NO_THROW({
                std::vector<int32_t> back = decode_block(dec, db, s, c, full);
                for (size_t i = 0; i < words.size(); i++)
                    ASSERT_EQ(magnitude(words[i]) >> (31 - s.kmax), magnitude(back[i]) >> (31 - s.kmax)) << i;
            });
            // Garbage below the last row changes nothing.
            std::vector<int32_t> padded = words;
            for (int k = 0; k < 3 * s.width; k++)
                padded.push_back(static_cast<int32_t>(rng()));
            eb.set_max_samples(static_cast<int>(padded.size()));
            std::copy(padded.begin(), padded.end(), eb.sample_buffer);
            coded_block again = encode_block(enc, eb, s, words, full);
            EXPECT_EQ(c.bytes, again.bytes);

            if (s.height * s.width > 1100 && modes % 8 != 0)
                continue;
            for (int p = 1; p < full; p++) {
                std::vector<int32_t> back = decode_block(dec, db, s, c, p);
                int plane = 30 - s.missing - (p - 1) / 3; // last complete cleanup
                for (size_t i = 0; i < words.size(); i++) {
                    int64_t err = std::llabs(int64_t(magnitude(words[i])) - magnitude(back[i]));
                    ASSERT_LT(err, int64_t(1) << plane) << "passes " << p << " sample " << i;
                    if (magnitude(back[i]) != 0) {
                        ASSERT_EQ(words[i] < 0, back[i] < 0) << "passes " << p << " sample " << i;
                    }
                }
            }
        }
}

TEST_F(BlockEncoder, PassLimitsSlopesAndEarlyStop)
{
    std::mt19937 rng(9);
    rvd_block_encoder enc;
    rvd_block_decoder dec;
    rvd_block eb, db;

    // K = 30 leaves one plane: one pass, whatever is asked.
    block_shape one{8, 8, 0, 0, 31, 30};
    std::vector<int32_t> ones(64, 1);
    EXPECT_EQ(1, encode_block(enc, eb, one, ones, 40).num_passes);

    // A single set sample: after its cleanup only refinements change anything.
    block_shape single{16, 16, 0, 1, 12, 0};
    std::vector<int32_t> lone(256, 0);
    lone[77] = to_word(-2901, 12);
    coded_block c = encode_block(enc, eb, single, lone, 34, true, 1.0);
    for (int z = 1; z + 1 < c.num_passes; z++) // the last one is kept as a truncation point
        if (z % 3 != 2) {
            EXPECT_EQ(0, c.slopes[static_cast<size_t>(z)]) << z;
        }

    for (int mode : {0, 1, 4, 16, 63})
        for (int orientation = 0; orientation < 4; orientation++) {
            SCOPED_TRACE(testing::Message() << "modes " << mode << " orientation " << orientation);
            block_shape s{32, 64, mode, orientation, 14, 1};
            std::vector<int32_t> noise = random_words(rng, s, 0);
            int full = 3 * (s.kmax - s.missing) - 2;
            coded_block all = encode_block(enc, eb, s, noise, full, true, 1.0);
            ASSERT_EQ(full, all.num_passes);
            EXPECT_NE(0, all.slopes.back()) << "a fully coded reversible block ends on a truncation point";
            uint16_t last = 0xFFFF, top = 0;
            for (uint16_t v : all.slopes)
                if (v != 0) {
                    EXPECT_LT(v, last);
                    last = v;
                    top = std::max(top, v);
                }
            // A threshold above every slope: coding stops early, except in the LL band,
            // and the shortened output decodes to the truncated values.
            coded_block cut = encode_block(enc, eb, s, noise, full, true, 1.0, static_cast<uint16_t>(top + 1));
            if (orientation == 0) {
                EXPECT_EQ(full, cut.num_passes);
                continue;
            }
            ASSERT_LT(cut.num_passes, full);
            ASSERT_GT(cut.num_passes, 0);
            EXPECT_EQ(decode_block(dec, db, s, all, cut.num_passes), decode_block(dec, db, s, cut, cut.num_passes));
        }
}

TEST(BlockEncoderConcurrency, TwoThreadsShareOneEncoder)
{
    init_block_coding_tables();
    std::mt19937 rng(3);
    block_shape shapes[2] = {{64, 64, 0, 1, 16, 0}, {32, 128, 57, 3, 20, 2}};
    std::vector<int32_t> words[2];
    coded_block alone[2];
    rvd_block_encoder enc;
    for (int n = 0; n < 2; n++) {
        words[n] = random_words(rng, shapes[n], n);
        rvd_block b;
        alone[n] = encode_block(enc, b, shapes[n], words[n], 3 * (shapes[n].kmax - shapes[n].missing) - 2, true, 1.0);
    }
    bool same[2] = {true, true};
    auto work = [&](int n) {
        rvd_block b;
        for (int k = 0; k < 20; k++) {
            coded_block c =
                encode_block(enc, b, shapes[n], words[n], 3 * (shapes[n].kmax - shapes[n].missing) - 2, true, 1.0);
            same[n] = same[n] && c.bytes == alone[n].bytes && c.slopes == alone[n].slopes;
        }
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

// Worst cases for the byte buffer: full-range noise at every K, checkerboards of
// alternating signs, single set samples and long thin shapes, coded down to bit 0.
// AddressSanitizer watches the writes; here the counts must fit the buffer.
TEST_F(BlockEncoder, AdversarialBlocksStayInsideTheBuffer)
{
    std::mt19937 rng(8);
    rvd_block_encoder enc;
    rvd_block b;
    const std::pair<int, int> shapes[] = {{64, 64}, {4, 1024}, {1024, 4}, {1, 1024}, {3, 1024}};
    for (int modes : {0, 1, 4, 63})
        for (const auto& shape : shapes)
            for (int K = 0; K <= 30; K += (shape.first == 64 ? 1 : 6))
                for (int pattern = 0; pattern < 3; pattern++) {
                    block_shape s{shape.first, shape.second, modes, K % 4, 31, K};
                    std::vector<int32_t> w(static_cast<size_t>(s.height * s.width), 0);
                    const uint32_t top = 0x7FFFFFFFu >> K;
                    for (size_t i = 0; i < w.size(); i++) {
                        uint32_t mag = pattern == 0 ? static_cast<uint32_t>(rng()) & top
                                                    : (pattern == 1 ? top : (i == w.size() / 2 ? 1u : 0u));
                        bool neg = pattern == 1 ? ((i + i / static_cast<size_t>(s.width)) & 1) : (rng() & 1);
                        w[i] = static_cast<int32_t>(mag | (neg ? 0x80000000u : 0u));
                    }
                    coded_block c = encode_block(enc, b, s, w, 91 - 3 * K, false, 1.0);
                    ASSERT_EQ(91 - 3 * K, c.num_passes);
                    ASSERT_LE(static_cast<int>(c.bytes.size()), b.max_bytes);
                }
}
