#include "codec/coding/rv_mq_decoder.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <vector>

namespace {

class MqDecoder : public ::testing::Test {
protected:
    void SetUp() override { rv_init_block_coding_tables(); }
};

const uint8_t known_code[28] = {0x84, 0xC7, 0x3B, 0xFC, 0xE1, 0xA1, 0x43, 0x04, 0x02, 0x20,
                                0x00, 0x00, 0x41, 0x0D, 0xBB, 0x86, 0xF4, 0x31, 0x7F, 0xFF,
                                0x88, 0xFF, 0x37, 0x47, 0x1A, 0xDB, 0x6A, 0xDF};
const uint8_t known_decisions[32] = {0x00, 0x02, 0x00, 0x51, 0x00, 0x00, 0x00, 0xC0,
                                     0x03, 0x52, 0x87, 0x2A, 0xAA, 0xAA, 0xAA, 0xAA,
                                     0x82, 0xC0, 0x20, 0x00, 0xFC, 0xD7, 0x9E, 0xF6,
                                     0xBF, 0x7F, 0xED, 0x90, 0x4F, 0x46, 0xA3, 0xBF};

TEST_F(MqDecoder, KnownAnswer)
{
    for (int with_marker = 0; with_marker < 2; with_marker++) {
        std::vector<uint8_t> buf(known_code, known_code + 28);
        if (with_marker) {
            buf.push_back(0xFF);
            buf.push_back(0xAC);
        }
        int len = int(buf.size());
        // The fence goes behind the segment; here the segment ends the data, so the two
        // spare bytes are the last of the buffer.
        buf.push_back(0x5A);
        buf.push_back(0xA5);
        rv_mq_decoder mq;
        mq.start(buf.data(), len, true);
        rv_mq_state st;
        st.init(0, 0);
        for (int i = 0; i < 256; i++) {
            int want = (known_decisions[i / 8] >> (7 - i % 8)) & 1;
            ASSERT_EQ(mq.decode(st), want) << "decision " << i;
        }
        EXPECT_TRUE(mq.finish());
        EXPECT_EQ(buf[size_t(len)], 0x5A);
        EXPECT_EQ(buf[size_t(len) + 1], 0xA5);
    }
}

TEST_F(MqDecoder, ZeroLengthSegmentDecodesFromTheFence)
{
    uint8_t buf[2] = {0x12, 0x34};
    rv_mq_decoder mq;
    mq.start(buf, 0, true);
    rv_mq_state st;
    st.init(0, 0);
    for (int i = 0; i < 100; i++)
        mq.decode(st);
    EXPECT_GE(mq.get_S(), 2); // fence bytes fed in place of data
    mq.finish();
    EXPECT_EQ(buf[0], 0x12);
    EXPECT_EQ(buf[1], 0x34);
}

// Plain decisions against the distance form used by the passes, with and without the
// four-run shortcut of the cleanup pass.
TEST_F(MqDecoder, DistanceFormGivesIdenticalDecisions)
{
    boost::random::mt19937 rng(5101);
    boost::random::uniform_int_distribution<int> byte(0, 255), ctx(0, 17), len(0, 300), op(0, 9);
    for (int trial = 0; trial < 300; trial++) {
        int n = len(rng);
        std::vector<uint8_t> a(size_t(n) + 2), b;
        for (int i = 0; i < n; i++)
            a[size_t(i)] = uint8_t(byte(rng));
        // Some 0xFF runs so that marker and stuffing paths are met.
        for (int i = 0; i + 1 < n; i += 37)
            a[size_t(i)] = 0xFF;
        b = a;
        rv_mq_state sa[18], sb[18];
        for (int i = 0; i < 18; i++) {
            sa[i].init(i * 2, i & 1);
            sb[i] = sa[i];
        }
        rv_mq_decoder plain, lent;
        plain.start(a.data(), n, true);
        lent.start(b.data(), n, true);
        rv_mq_regs r;
        lent.check_out(r);
        for (int k = 0; k < 2000; k++) {
            int o = op(rng);
            if (o == 0) {
                // The cleanup pass's shortcut: four MPS run symbols at once.
                rv_mq_state& run = sb[9];
                int32_t four = int32_t(run.p_mps & ~1u) << 2;
                if ((run.p_mps & 1) == 0 && r.D >= four) {
                    r.D -= four;
                    for (int i = 0; i < 4; i++)
                        ASSERT_EQ(plain.decode(sa[9]), 0);
                    ASSERT_EQ(sa[9].p_mps, run.p_mps);
                    continue;
                }
            }
            if (o == 1) { // hand the registers back and take them again
                lent.check_in(r);
                lent.check_out(r);
            }
            int c = ctx(rng);
            ASSERT_EQ(rv_mq_decode(r, sb[c]), plain.decode(sa[c])) << trial << " " << k;
            ASSERT_EQ(sa[c].p_mps, sb[c].p_mps);
            ASSERT_EQ(sa[c].transition, sb[c].transition);
        }
        lent.check_in(r);
        rv_mq_regs ra, rb;
        plain.check_out(ra);
        lent.check_out(rb);
        EXPECT_EQ(ra.A + ra.D, rb.A + rb.D);
        EXPECT_EQ(ra.C + uint32_t(ra.D), rb.C + uint32_t(rb.D));
        EXPECT_EQ(ra.t, rb.t);
        EXPECT_EQ(ra.next - a.data(), rb.next - b.data());
        EXPECT_EQ(ra.S, rb.S);
        EXPECT_EQ(plain.get_S(), lent.get_S());
        EXPECT_EQ(plain.decode_run(), lent.decode_run());
    }
}

TEST_F(MqDecoder, RunDecisionsNeverChangeStoredStates)
{
    uint8_t buf[20] = {0x01, 0xF3, 0x22, 0x9A, 0x00, 0xFF, 0x10, 0x77};
    rv_mq_decoder mq;
    mq.start(buf, 8, true);
    rv_mq_state before[94];
    for (int i = 0; i < 94; i++)
        before[i] = rv_mq_transition_table[i].mps;
    for (int i = 0; i < 50; i++) {
        int v = mq.decode_run();
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 3);
    }
    for (int i = 0; i < 94; i++)
        EXPECT_EQ(before[i].p_mps, rv_mq_transition_table[i].mps.p_mps);
    mq.finish();
}

TEST_F(MqDecoder, TransitionAndEncoderTables)
{
    for (int s = 0; s < 47; s++)
        for (int m = 0; m < 2; m++) {
            const rv_mq_transition& e = rv_mq_transition_table[2 * s + m];
            EXPECT_EQ(e.mps.p_mps & 1, uint32_t(m));
            bool switches = (s == 0 || s == 6 || s == 14);
            EXPECT_EQ(e.lps.p_mps & 1, uint32_t(switches ? 1 - m : m)) << "state " << s;
            // Each successor's pointer names the entry of its own (state, MPS).
            int lps_idx = int(e.lps.transition - rv_mq_transition_table);
            EXPECT_EQ(rv_mq_qe[lps_idx / 2] << 8, e.lps.p_mps & ~1u);
            EXPECT_EQ(lps_idx % 2, int(e.lps.p_mps & 1));
            const rv_mq_enc_transition& f = rv_mq_enc_transition_table[2 * s + m];
            EXPECT_EQ(f.mps.p_mps >> 31, uint32_t(m));
            EXPECT_EQ(f.mps.p_mps & 0x7FFFFFFFu, e.mps.p_mps >> 8);
            EXPECT_EQ(f.lps.p_mps & 0x7FFFFFFFu, e.lps.p_mps >> 8);
            EXPECT_EQ(f.lps.p_mps >> 31, e.lps.p_mps & 1);
        }
    // A state with Qe 0x5601 other than 46 inverts the MPS on an LPS; 46 keeps it.
    EXPECT_EQ(rv_mq_transition_table[2 * 46].lps.p_mps & 1, 0u);
    EXPECT_EQ(rv_mq_transition_table[2 * 46 + 1].lps.p_mps & 1, 1u);
    EXPECT_EQ(rv_mq_transition_table[2 * 6 + 1].lps.p_mps & 1, 0u);
}

// Contexts computed here from the rules of the standard's tables.
int expected_sig(int orient, int n)
{
    int h = ((n >> 3) & 1) + ((n >> 5) & 1);
    int v = ((n >> 1) & 1) + ((n >> 7) & 1);
    int d = (n & 1) + ((n >> 2) & 1) + ((n >> 6) & 1) + ((n >> 8) & 1);
    if (orient == 1)
        std::swap(h, v);
    if (orient == 3) {
        int hv = h + v;
        if (d >= 3)
            return 8;
        if (d == 2)
            return hv >= 1 ? 7 : 6;
        if (d == 1)
            return hv >= 2 ? 5 : (hv == 1 ? 4 : 3);
        return hv >= 2 ? 2 : hv;
    }
    if (h == 2)
        return 8;
    if (h == 1)
        return v >= 1 ? 7 : (d >= 1 ? 6 : 5);
    if (v >= 1)
        return v == 2 ? 4 : 3;
    return d >= 2 ? 2 : d;
}

TEST_F(MqDecoder, SignificanceAndSignTables)
{
    for (int o = 0; o < 4; o++)
        for (int n = 0; n < 512; n++)
            ASSERT_EQ(rv_sig_tables[o][n], expected_sig(o, n)) << o << " " << n;
    // (h, v) -> (k, x) as listed for the sign contexts.
    const int kx[3][3][2] = {{{4, 1}, {3, 1}, {2, 1}},  // h = -1: v = -1, 0, 1
                             {{1, 1}, {0, 0}, {1, 0}},  // h = 0
                             {{2, 0}, {3, 0}, {4, 0}}}; // h = 1
    for (int n = 0; n < 256; n++) {
        auto contrib = [n](int sig_a, int sig_b) {
            int c = 0;
            for (int bit : {sig_a, sig_b})
                if (n & (1 << bit))
                    c += (n & (2 << bit)) ? -1 : 1;
            return c > 0 ? 1 : (c < 0 ? -1 : 0);
        };
        int h = contrib(2, 4), v = contrib(0, 6);
        int want = 2 * kx[h + 1][v + 1][0] + kx[h + 1][v + 1][1];
        ASSERT_EQ(rv_sign_contexts[n], want) << n;
    }
}

TEST_F(MqDecoder, RawBits)
{
    // After 0xFF a byte below 0x90 gives 7 bits; 0x90 or more is not consumed.
    uint8_t buf[8] = {0xFF, 0x8F, 0xFF, 0x90, 0x00};
    rv_mq_decoder mq;
    mq.start(buf, 4, false);
    int v = 0;
    for (int i = 0; i < 8; i++)
        v = (v << 1) | mq.get_raw_bit();
    EXPECT_EQ(v, 0xFF);
    v = 0;
    for (int i = 0; i < 7; i++)
        v = (v << 1) | mq.get_raw_bit();
    EXPECT_EQ(v, 0x0F);
    v = 0;
    for (int i = 0; i < 8; i++)
        v = (v << 1) | mq.get_raw_bit();
    EXPECT_EQ(v, 0xFF);
    v = 0;
    for (int i = 0; i < 8; i++) // the 0x90 was left: 0xFF again
        v = (v << 1) | mq.get_raw_bit();
    EXPECT_EQ(v, 0xFF);
    mq.finish();
    EXPECT_EQ(buf[4], 0x00);
}

} // namespace
