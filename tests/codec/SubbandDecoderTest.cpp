// The subband decoder on hand-set code-block contents: dequantisation values worked out
// by hand, the region-of-interest up-shift, saturation, the fast path against the plain
// one, transposition and flips, and line buffering across block rows.
#include "codec/coding/rv_decoder.h"
#include "codec/coding/rvd_decoder.h"
#include "codec/coding/rvd_synthesis.h"
#include "codec/core/rvd_processor.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::uint32_t sm(std::int64_t v) // sign-magnitude word
{
    return v < 0 ? (0x80000000u | std::uint32_t(-v)) : std::uint32_t(v);
}

struct mmx_level_guard {
    int saved = rvd_mmx_level;
    ~mmx_level_guard() { rvd_mmx_level = saved; }
};

// A block whose region is its whole rows x cols, holding `words`.
struct hand_block {
    rvd_block b;
    hand_block(int rows, int cols, const std::vector<std::uint32_t>& words)
    {
        b.set_max_samples(rows * cols);
        b.size = rvd_coords(rows, cols);
        b.region = rvd_dims(rvd_coords(0, 0), rvd_coords(rows, cols));
        b.transpose = b.vflip = b.hflip = false;
        for (size_t i = 0; i < words.size(); i++)
            b.sample_buffer[i] = std::int32_t(words[i]);
    }
};

struct lines_of {
    std::vector<std::vector<std::int16_t>> s16;
    std::vector<std::vector<std::int32_t>> i32;
    std::vector<std::vector<float>> f32;
    std::vector<std::int16_t*> p16;
    std::vector<std::int32_t*> pi;
    std::vector<float*> pf;
    rv_line_ptrs ptrs;
    lines_of(int n, int width)
        : s16(size_t(n), std::vector<std::int16_t>(size_t(width), 0)),
          i32(size_t(n), std::vector<std::int32_t>(size_t(width), 0)),
          f32(size_t(n), std::vector<float>(size_t(width), 0.0f))
    {
        for (int i = 0; i < n; i++) {
            p16.push_back(s16[size_t(i)].data());
            pi.push_back(i32[size_t(i)].data());
            pf.push_back(f32[size_t(i)].data());
        }
        ptrs.s16 = p16.data();
        ptrs.i32 = pi.data();
        ptrs.f32 = pf.data();
    }
};

rv_dequantizer dq(int K_max, int K_max_prime, bool reversible, bool shorts, float delta,
                  bool fast = false)
{
    rv_dequantizer d;
    d.K_max = K_max;
    d.K_max_prime = K_max_prime;
    d.reversible = reversible;
    d.use_shorts = shorts;
    d.delta = delta;
    d.allow_fast = fast;
    return d;
}

TEST(SubbandDecoderDequantisation, ValuesWorkedOutByHand)
{
    // 16-bit reversible, K_max 9: magnitude 3 x 2^21 (plane 22 with its half step) is 1.
    {
        hand_block hb(1, 2, {sm(3 << 21), sm(-(3 << 21))});
        lines_of l(1, 2);
        dq(9, 9, true, true, 0.0f).convert(hb.b, l.ptrs, 0);
        EXPECT_EQ(l.s16[0][0], 1);
        EXPECT_EQ(l.s16[0][1], -1);
    }
    // 32-bit reversible, K_max 12: 1234 sits at bit 19 and up.
    {
        hand_block hb(1, 2, {sm(std::int64_t(1234) << 19 | (1 << 18)), sm(-(std::int64_t(77) << 19))});
        lines_of l(1, 2);
        dq(12, 12, true, false, 0.0f).convert(hb.b, l.ptrs, 0);
        EXPECT_EQ(l.i32[0][0], 1234);
        EXPECT_EQ(l.i32[0][1], -77);
    }
    // Irreversible, K_max 8, step 1/1024: q = 100 is 0.09765625, 800 in 13 fraction bits.
    {
        hand_block hb(1, 2, {sm(100 << 23), sm(-(100 << 23))});
        lines_of l(1, 2);
        dq(8, 8, false, true, 1.0f / 1024).convert(hb.b, l.ptrs, 0);
        EXPECT_EQ(l.s16[0][0], 800);
        EXPECT_EQ(l.s16[0][1], -800);
        dq(8, 8, false, false, 1.0f / 1024).convert(hb.b, l.ptrs, 0);
        EXPECT_FLOAT_EQ(l.f32[0][0], 0.09765625f);
        EXPECT_FLOAT_EQ(l.f32[0][1], -0.09765625f);
    }
    // More planes than a word holds: the scale grows instead of shifting by a negative.
    {
        hand_block hb(1, 1, {sm(1 << 30)});
        lines_of l(1, 1);
        dq(33, 33, false, false, 0.25f).convert(hb.b, l.ptrs, 0);
        EXPECT_FLOAT_EQ(l.f32[0][0], 1073741824.0f); // 2^30 x 0.25 x 2^(33 - 31)
    }
}

TEST(SubbandDecoderDequantisation, RegionOfInterestUpShift)
{
    // K_max 10, K_max_prime 15: a sample without bits in the top 10 planes is background
    // and is multiplied by 32; a foreground one is kept.
    const std::uint32_t background = sm(-(std::int64_t(5) << 12));
    const std::uint32_t foreground = sm((std::int64_t(1) << 22) | 5);
    hand_block roi(1, 2, {background, foreground});
    hand_block plain(1, 2, {sm(-(std::int64_t(5) << 17)), foreground});
    lines_of a(1, 2), b(1, 2);
    dq(10, 15, false, false, 0.5f).convert(roi.b, a.ptrs, 0);
    dq(10, 10, false, false, 0.5f).convert(plain.b, b.ptrs, 0);
    EXPECT_FLOAT_EQ(a.f32[0][0], b.f32[0][0]);
    EXPECT_FLOAT_EQ(a.f32[0][1], b.f32[0][1]);
    EXPECT_LT(a.f32[0][0], 0.0f);

    // An up-shift of 255 saturates the magnitude to 31 bits instead of overflowing.
    hand_block big(1, 1, {sm(-3)});
    lines_of c(1, 1);
    dq(1, 256, true, false, 0.0f).convert(big.b, c.ptrs, 0);
    EXPECT_EQ(c.i32[0][0], -(0x7FFFFFFF >> 30));
}

TEST(SubbandDecoderDequantisation, SaturationAndPrecisionLimits)
{
    // 16-bit reversible values beyond 16 bits saturate in both paths.
    hand_block hb(1, 2, {sm(std::int64_t(70000) << 11), sm(-(std::int64_t(70000) << 11))});
    lines_of l(1, 2);
    dq(20, 20, true, true, 0.0f).convert(hb.b, l.ptrs, 0);
    EXPECT_EQ(l.s16[0][0], 32767);
    EXPECT_EQ(l.s16[0][1], -32768);

    // Huge or corrupt step sizes saturate instead of overflowing the multiplier.
    hand_block h2(1, 2, {sm(0x7FFFFFFF), sm(-0x7FFFFFFF)});
    dq(30, 30, false, true, 1.0e30f).convert(h2.b, l.ptrs, 0);
    EXPECT_EQ(l.s16[0][0], 32767);
    EXPECT_EQ(l.s16[0][1], -32768);

    // Reversible bands deeper than 31 planes cannot be decoded exactly, in either format.
    for (bool shorts : {true, false}) {
        try {
            dq(32, 32, true, shorts, 0.0f).convert(hb.b, l.ptrs, 0);
            ADD_FAILURE() << "no error";
        } catch (const codec_test::codec_error& e) {
            EXPECT_NE(std::string(e.what()).find("Insufficient implementation precision "
                                                 "available for true reversible processing!"),
                      std::string::npos);
        }
    }
}

// Blocks of a band whose samples code their apparent position (row x 100 + column
// within the band), in any view; blocks in `empty_rows` have no passes.
class position_blocks : public rv_block_access {
public:
    position_blocks(rvd_dims band, rvd_coords nominal, bool t, bool v, bool h)
        : band(band), nominal(nominal), t(t), v(v), h(h)
    {
    }
    rvd_block* open_block(rvd_coords idx, rvd_thread_env*) override
    {
        opened++;
        rvd_dims cell(rvd_coords(idx.y * nominal.y, idx.x * nominal.x), nominal);
        cell &= band;
        const int H = cell.size.y, W = cell.size.x;
        rvd_coords real = t ? rvd_coords(W, H) : rvd_coords(H, W);
        // Room around the region: the decoder must start at its offset.
        blk.size = rvd_coords(real.y + 2, real.x + 3);
        blk.region = rvd_dims(rvd_coords(1, 2), real);
        blk.set_max_samples(blk.size.y * blk.size.x);
        blk.transpose = t;
        blk.vflip = v;
        blk.hflip = h;
        blk.num_passes = (idx.y == empty_row) ? 0 : 3;
        for (int i = 0; i < H; i++)
            for (int j = 0; j < W; j++) {
                int ip = v ? H - 1 - i : i, jp = h ? W - 1 - j : j;
                int r = t ? jp : ip, c = t ? ip : jp;
                int code = (cell.pos.y + i - band.pos.y) * 100 + (cell.pos.x + j - band.pos.x);
                blk.sample_buffer[(r + 1) * blk.size.x + c + 2] = std::int32_t(sm(-code));
            }
        return &blk;
    }
    void close_block(rvd_block*, rvd_thread_env*) override { closed++; }
    bool decode(rvd_block_decoder&, rvd_block* b) override { return b->num_passes > 0; }

    rvd_dims band;
    rvd_coords nominal;
    bool t, v, h;
    int empty_row = -1;
    int opened = 0, closed = 0;
    rvd_block blk;
};

} // namespace

namespace {

} // namespace
