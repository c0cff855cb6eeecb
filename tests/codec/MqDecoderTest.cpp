#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

class MqDecoder : public ::testing::Test {
protected:
    void SetUp() override
    {
        rv_init_mq_tables();
        rv_init_context_tables();
    }
};

// ITU-T T.88 Annex H.2: the same coder and probability table.
const std::vector<uint8_t> kT88Bytes = {0x84, 0xC7, 0x3B, 0xFC, 0xE1, 0xA1, 0x43, 0x04, 0x02, 0x20,
                                        0x00, 0x00, 0x41, 0x0D, 0xBB, 0x86, 0xF4, 0x31, 0x7F, 0xFF,
                                        0x88, 0xFF, 0x37, 0x47, 0x1A, 0xDB, 0x6A, 0xDF};
const std::vector<uint8_t> kT88Decisions = {0x00, 0x02, 0x00, 0x51, 0x00, 0x00, 0x00, 0xC0, 0x03, 0x52, 0x87,
                                            0x2A, 0xAA, 0xAA, 0xAA, 0xAA, 0x82, 0xC0, 0x20, 0x00, 0xFC, 0xD7,
                                            0x9E, 0xF6, 0xBF, 0x7F, 0xED, 0x90, 0x4F, 0x46, 0xA3, 0xBF};

std::vector<uint8_t> decode_bits(rv_mq_decoder& mq, int count)
{
    rv_mq_state state = rv_mq_decoder_state(0, 0);
    std::vector<uint8_t> out(static_cast<size_t>(count + 7) / 8, 0);
    for (int i = 0; i < count; i++) {
        int sym;
        mq.decode(sym, state);
        out[static_cast<size_t>(i / 8)] |= static_cast<uint8_t>(sym << (7 - i % 8));
    }
    return out;
}

TEST_F(MqDecoder, KnownAnswerAndFenceBytesRestored)
{
    for (bool marker : {false, true}) {
        std::vector<uint8_t> seg = kT88Bytes;
        if (marker) {
            seg.push_back(0xFF);
            seg.push_back(0xAC);
        }
        // The segment ends the buffer: the two bytes behind it are the last ones.
        std::vector<uint8_t> buf = seg;
        buf.push_back(0x5A);
        buf.push_back(0xA5);
        rv_mq_decoder mq;
        mq.start(buf.data(), static_cast<int>(seg.size()), true);
        EXPECT_EQ(buf[seg.size()], 0xFF);
        EXPECT_EQ(decode_bits(mq, 256), kT88Decisions) << "marker " << marker;
        mq.finish();
        EXPECT_EQ(buf[seg.size()], 0x5A);
        EXPECT_EQ(buf[seg.size() + 1], 0xA5);
        EXPECT_FALSE(mq.is_active());
    }
}

TEST_F(MqDecoder, ZeroLengthSegmentDecodesFromTheFence)
{
    uint8_t buf[2] = {0x12, 0x34};
    rv_mq_decoder mq;
    mq.start(buf, 0, true);
    std::vector<uint8_t> bits = decode_bits(mq, 500);
    EXPECT_GE(mq.fence_count(), 1); // the second fence byte is never consumed
    mq.finish();
    EXPECT_EQ(buf[0], 0x12);
    EXPECT_EQ(buf[1], 0x34);
}

// Decisions through check-out (the distance register) and the four-run shortcut of the
// cleanup pass must match plain decisions symbol for symbol, state for state.
TEST_F(MqDecoder, CheckedOutDecisionsMatchPlainOnes)
{
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 300; trial++) {
        int len = static_cast<int>(rng() % 64);
        std::vector<uint8_t> bytes(static_cast<size_t>(len) + 2);
        bool ff_rich = trial % 3 == 0;
        for (int i = 0; i < len; i++)
            bytes[static_cast<size_t>(i)] = ff_rich && rng() % 4 == 0 ? 0xFF : static_cast<uint8_t>(rng());
        std::vector<uint8_t> copy = bytes;
        rv_mq_state plain_states[18], lent_states[18];
        for (int n = 0; n < 18; n++)
            plain_states[n] = lent_states[n] = rv_mq_decoder_state(static_cast<int>(rng() % 47), static_cast<int>(rng() % 2));
        rv_mq_decoder plain, lent;
        plain.start(bytes.data(), len, true);
        lent.start(copy.data(), len, true);
        rv_mq_registers r;
        lent.check_out(r);
        for (int step = 0; step < 600; step++) {
            int what = static_cast<int>(rng() % 10);
            if (what == 0) {
                lent.check_in(r);
                lent.check_out(r);
            } else if (what == 1) {
                int a, b;
                plain.decode_run(a);
                plain.decode_run(b);
                ASSERT_EQ(rv_mq_decode_run_checked(r), a);
                ASSERT_EQ(rv_mq_decode_run_checked(r), b);
            } else if (what == 2 && (lent_states[9].p_mps & 1) == 0) {
                int32_t four = 4 * (lent_states[9].p_mps & ~1);
                if (r.D >= four) {
                    r.D -= four;
                    for (int k = 0; k < 4; k++) {
                        int sym;
                        rv_mq_state before = plain_states[9];
                        plain.decode(sym, plain_states[9]);
                        ASSERT_EQ(sym, 0);
                        ASSERT_EQ(plain_states[9].transition, before.transition);
                    }
                }
            } else {
                int ctx = static_cast<int>(rng() % 18);
                int sym;
                plain.decode(sym, plain_states[ctx]);
                ASSERT_EQ(rv_mq_decode_checked(r, lent_states[ctx]), sym) << "trial " << trial << " step " << step;
            }
        }
        lent.check_in(r);
        for (int n = 0; n < 18; n++) {
            EXPECT_EQ(plain_states[n].p_mps, lent_states[n].p_mps);
            EXPECT_EQ(plain_states[n].transition, lent_states[n].transition);
        }
        EXPECT_EQ(plain.fence_count(), lent.fence_count());
        plain.finish();
        lent.finish();
    }
}

TEST_F(MqDecoder, RawBitsHonourStuffingAndMarkers)
{
    {
        uint8_t buf[4] = {0xFF, 0x8F, 0, 0};
        rv_mq_decoder mq;
        mq.start(buf, 2, false);
        std::vector<int> bits;
        for (int i = 0; i < 15; i++)
            bits.push_back(mq.get_raw_bit());
        EXPECT_EQ(bits, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 1, 1, 1, 1}));
        // Then the fence: 8 bits of 0xFF, after which nothing more is consumed.
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(mq.get_raw_bit(), 1);
        EXPECT_EQ(mq.fence_count(), 0);
        EXPECT_EQ(mq.get_raw_bit(), 1);
        EXPECT_EQ(mq.fence_count(), 1);
        mq.finish();
        EXPECT_EQ(buf[2], 0);
    }
    {
        uint8_t buf[4] = {0xFF, 0x90, 0x00, 0x00};
        rv_mq_decoder mq;
        mq.start(buf, 4 - 2, false);
        for (int i = 0; i < 24; i++)
            EXPECT_EQ(mq.get_raw_bit(), 1);
        EXPECT_EQ(mq.fence_count(), 2); // 0x90 stands as 0xFF, twice, never consumed
        mq.finish();
    }
}

} // namespace
