// Line kernels of the region decompressor: hand-computed transfer values, round trips of
// every integer depth through both working forms, expansion and interpolation
// properties, palette indices.
#include "codec/jp2/rvd_region_kernels.h"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>

#include <algorithm>
#include <cstdint>
#include <vector>

using namespace rv_region;

namespace {

std::vector<uint8_t> to8(const std::vector<int16_t>& x, int bits, bool is_signed)
{
    std::vector<uint8_t> out(x.size());
    transfer16_to8(x.data(), out.data(), int(x.size()), 1, bits, is_signed);
    return out;
}

std::vector<uint16_t> to16(const std::vector<int16_t>& x, int bits, bool is_signed)
{
    std::vector<uint16_t> out(x.size());
    transfer16_to16(x.data(), out.data(), int(x.size()), 1, bits, is_signed);
    return out;
}

} // namespace

TEST(RegionDecompressorKernels, TransferHandComputedValues)
{
    // 8 bits from 13 fraction bits: (x + 16 + 4096) >> 5, clipped.
    EXPECT_EQ(to8({-4096, -4097, 0, 15, 16, 4095, 4080, 4079}, 8, false),
              (std::vector<uint8_t>{0, 0, 128, 128, 129, 255, 255, 255}));
    EXPECT_EQ(to8({4063}, 8, false), std::vector<uint8_t>{255});
    EXPECT_EQ(to8({4047}, 8, false), std::vector<uint8_t>{254});
    // Signed bytes are centred on 0.
    EXPECT_EQ(to8({-4096, 0, 4095}, 8, true), (std::vector<uint8_t>{0x80, 0, 0x7F}));
    // Full precision takes no rounding term.
    EXPECT_EQ(to16({-4096, -1, 0, 4095}, 13, false), (std::vector<uint16_t>{0, 4095, 4096, 8191}));
    // Above the fraction bits: formed at 13 bits, shifted up.
    EXPECT_EQ(to16({-4096, 0, 4095}, 16, false), (std::vector<uint16_t>{0, 32768, 65528}));
    EXPECT_EQ(to16({-4096, 0, 4095}, 16, true), (std::vector<uint16_t>{0x8000, 0, 32760}));
    // Above the sample size: the value at that precision, clipped to the byte.
    EXPECT_EQ(to8({-4096, -4095, -4094, 0}, 12, false), (std::vector<uint8_t>{0, 1, 1, 255}));
    EXPECT_EQ(to8({-4096, -3, -1, 4095}, 12, true), (std::vector<uint8_t>{0x80, 0xFF, 0, 0x7F}));
    // Precision 1 on bytes.
    EXPECT_EQ(to8({-4096, -2049, -2048, 4095}, 1, false), (std::vector<uint8_t>{0, 0, 1, 1}));

    // A pixel gap leaves the samples between untouched.
    std::vector<int16_t> x = {-4096, 0, 4095};
    std::vector<uint8_t> packed(12, 7);
    transfer16_to8(x.data(), packed.data() + 2, 3, 4, 8, false);
    EXPECT_EQ(packed, (std::vector<uint8_t>{7, 7, 0, 7, 7, 7, 128, 7, 7, 7, 255, 7}));
    fill_alpha(packed.data() + 3, 3, 4);
    EXPECT_EQ(packed[3], 255);
    EXPECT_EQ(packed[11], 255);
    EXPECT_EQ(packed[10], 255);
    EXPECT_EQ(packed[9], 7);
}

// Exact integers of every depth survive the working form and come back at native
// precision, on 16-bit lines up to 13 bits and on 32-bit lines up to 16.
TEST(RegionDecompressorKernels, IntegerRoundTripsAtNativePrecision)
{
    boost::random::mt19937 gen(17);
    for (int depth = 1; depth <= 16; ++depth) {
        for (int is_signed = 0; is_signed < 2; ++is_signed) {
            boost::random::uniform_int_distribution<int> dist(-(1 << (depth - 1)),
                                                              (1 << (depth - 1)) - 1);
            std::vector<int16_t> abs(300);
            for (int16_t& v : abs)
                v = int16_t(dist(gen));
            abs[0] = int16_t(-(1 << (depth - 1)));
            abs[1] = int16_t((1 << (depth - 1)) - 1);
            std::vector<uint16_t> expect(abs.size());
            for (size_t i = 0; i < abs.size(); ++i)
                expect[i] = uint16_t(is_signed ? abs[i] : abs[i] + (1 << (depth - 1)));

            std::vector<int32_t> w32(abs.size());
            abs16_to_fix32(abs.data(), w32.data(), int(abs.size()), depth);
            std::vector<uint16_t> out(abs.size());
            transfer32_to16(w32.data(), out.data(), int(abs.size()), 1, depth, is_signed != 0);
            EXPECT_EQ(out, expect) << "32-bit lines, depth " << depth;

            std::vector<int32_t> abs32(abs.begin(), abs.end());
            abs32_to_fix32(abs32.data(), w32.data(), int(abs.size()), depth);
            transfer32_to16(w32.data(), out.data(), int(abs.size()), 1, depth, is_signed != 0);
            EXPECT_EQ(out, expect) << "32-bit source, depth " << depth;

            if (depth <= 13) {
                std::vector<int16_t> w16(abs.size());
                abs16_to_fix16(abs.data(), w16.data(), int(abs.size()), depth);
                transfer16_to16(w16.data(), out.data(), int(abs.size()), 1, depth, is_signed != 0);
                EXPECT_EQ(out, expect) << "16-bit lines, depth " << depth;
                abs32_to_fix16(abs32.data(), w16.data(), int(abs.size()), depth);
                transfer16_to16(w16.data(), out.data(), int(abs.size()), 1, depth, is_signed != 0);
                EXPECT_EQ(out, expect) << "32-bit source to 16-bit lines, depth " << depth;
            }
        }
    }
}

// Deep samples at precision 8: min(255, (v + 2^(B-9)) >> (B-8)) on both line kinds.
TEST(RegionDecompressorKernels, DeepSamplesReducedToEightBits)
{
    for (int depth : {9, 12, 14, 16}) {
        std::vector<int16_t> abs;
        std::vector<uint8_t> expect;
        for (int v = 0; v < (1 << depth); v += (depth > 12 ? 7 : 1)) {
            abs.push_back(int16_t(v - (1 << (depth - 1))));
            expect.push_back(uint8_t(std::min(255, (v + (1 << (depth - 9))) >> (depth - 8))));
        }
        const int n = int(abs.size());
        std::vector<int16_t> w16(abs.size());
        abs16_to_fix16(abs.data(), w16.data(), n, depth);
        std::vector<uint8_t> out(abs.size());
        transfer16_to8(w16.data(), out.data(), n, 1, 8, false);
        EXPECT_EQ(out, expect) << "16-bit lines, depth " << depth;
        std::vector<int32_t> w32(abs.size());
        abs16_to_fix32(abs.data(), w32.data(), n, depth);
        transfer32_to8(w32.data(), out.data(), n, 1, 8, false);
        EXPECT_EQ(out, expect) << "32-bit lines, depth " << depth;
    }
}

TEST(RegionDecompressorKernels, FloatAndFixedConversions)
{
    const float unit = 1.0f / 8192;
    std::vector<float> f = {0.5f * unit, 1.5f * unit, -0.5f * unit, -1.5f * unit, 0.4999f,
                            -0.5f, 7.0f, -7.0f};
    std::vector<int16_t> w16(f.size());
    float_to_fix16(f.data(), w16.data(), int(f.size()));
    // Halves go away from zero; far out of range saturates.
    EXPECT_EQ(w16, (std::vector<int16_t>{1, 2, -1, -2, 4095, -4096, 32767, -32768}));
    std::vector<int32_t> w32(f.size());
    float_to_fix32(f.data(), w32.data(), int(f.size()));
    EXPECT_EQ(w32[1], 3 << 15);
    EXPECT_EQ(w32[5], -(1 << 28));
    EXPECT_EQ(w32[6], INT32_MAX);

    std::vector<int16_t> fix = {-4096, -1, 0, 4095};
    fix16_to_fix32(fix.data(), w32.data(), 4);
    EXPECT_EQ(w32[0], -(1 << 28));
    EXPECT_EQ(w32[1], -65536);
    EXPECT_EQ(w32[3], 4095 * 65536);

    // Deep integers shift down into 16-bit lines (dropping their low bits) and saturate
    // rather than wrap when out of range.
    std::vector<int32_t> deep = {-(1 << 19), (1 << 19) - 1, 1 << 30, -(1 << 30)};
    abs32_to_fix16(deep.data(), w16.data(), 4, 20);
    EXPECT_EQ(w16[0], -4096);
    EXPECT_EQ(w16[1], 4095);
    EXPECT_EQ(w16[2], 32767);
    EXPECT_EQ(w16[3], -32768);
}

TEST(RegionDecompressorKernels, PaletteIndices)
{
    std::vector<int16_t> out(4);
    // Exact integers: unsigned 8-bit samples gain 128, then clip to the table.
    std::vector<int16_t> abs = {-128, 0, 127, -1};
    abs16_to_index(abs.data(), out.data(), 4, 8, 8, false);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 128, 255, 127}));
    abs16_to_index(abs.data(), out.data(), 4, 8, 2, false);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 3, 3, 3}));
    abs16_to_index(abs.data(), out.data(), 4, 8, 8, true);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 0, 127, 0}));
    std::vector<int32_t> abs32 = {-128, 0, 127, 5000};
    abs32_to_index(abs32.data(), out.data(), 4, 8, 8, false);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 128, 255, 255}));
    // Fixed point: (x + 2^(12-P) + 4096) >> (13 - P).
    std::vector<int16_t> fix = {-4096, 0, 4095, 15};
    fix16_to_index(fix.data(), out.data(), 4, 8, false);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 128, 255, 128}));
    // Floats: the integer part of x * 2^P + 0.5, plus 2^(P-1).
    std::vector<float> f = {-0.5f, 0.0f, 0.49f, 1.0f / 512};
    float_to_index(f.data(), out.data(), 4, 8, false);
    EXPECT_EQ(out, (std::vector<int16_t>{0, 128, 253, 129}));
}

TEST(RegionDecompressorKernels, ExpansionRepeatsAndInterpolates)
{
    std::vector<int16_t> src = {10, 20, 30};
    std::vector<int16_t> dst(7);
    // 2/1: every sample twice, the last one repeated past the end.
    expand16(src.data(), 3, dst.data(), 7, 2, 1, 0);
    EXPECT_EQ(dst, (std::vector<int16_t>{10, 10, 20, 20, 30, 30, 30}));
    // An odd phase starts in the middle of a pair; a negative one before sample 0.
    expand16(src.data(), 3, dst.data(), 7, 2, 1, 1);
    EXPECT_EQ(dst, (std::vector<int16_t>{10, 20, 20, 30, 30, 30, 30}));
    expand16(src.data(), 3, dst.data(), 7, 3, 1, -2);
    EXPECT_EQ(dst, (std::vector<int16_t>{10, 10, 10, 10, 10, 20, 20}));
    // 1/1 is a copy at an offset, clamped at both ends.
    expand16(src.data(), 3, dst.data(), 5, 1, 1, -1);
    EXPECT_EQ((std::vector<int16_t>(dst.begin(), dst.begin() + 5)),
              (std::vector<int16_t>{10, 10, 20, 30, 30}));
    // 3/2: positions 0, 2/3, 4/3, 2, ... of a source step, by the quarter-step rule:
    // on a sample; 1/3 short of b -> b + (a-b+2)/4; 2/3 short of b -> (a+b)/2.
    std::vector<int32_t> s32 = {0, 100, 200};
    std::vector<int32_t> d32(5);
    expand32(s32.data(), 3, d32.data(), 5, 3, 2, 0);
    EXPECT_EQ(d32, (std::vector<int32_t>{0, 75, 150, 200, 200}));
    // Palette lookups happen on the way.
    std::vector<int16_t> idx = {0, 3, 1};
    std::vector<int16_t> table = {-4096, 100, 200, 4095};
    expand_palette(idx.data(), 3, table.data(), dst.data(), 6, 2, 1, 0);
    EXPECT_EQ((std::vector<int16_t>(dst.begin(), dst.begin() + 6)),
              (std::vector<int16_t>{-4096, -4096, 4095, 4095, 100, 100}));
}

// Constants stay constant and ramps stay monotonic at any ratio and phase.
TEST(RegionDecompressorKernels, ExpansionProperties)
{
    boost::random::mt19937 gen(5);
    boost::random::uniform_int_distribution<int> small(1, 9), phase(-20, 20);
    for (int trial = 0; trial < 300; ++trial) {
        const int den = small(gen);
        const int num = den + small(gen) - 1;
        const int src_len = small(gen) + 1;
        const int dst_len = (src_len * num) / den + 3;
        const int64_t ph = phase(gen);
        std::vector<int16_t> flat(static_cast<size_t>(src_len), -1234);
        std::vector<int16_t> out(static_cast<size_t>(dst_len));
        expand16(flat.data(), src_len, out.data(), dst_len, num, den, ph);
        for (int16_t v : out)
            ASSERT_EQ(v, -1234) << num << "/" << den << " phase " << ph;
        std::vector<int32_t> ramp(static_cast<size_t>(src_len));
        std::vector<int32_t> out32(static_cast<size_t>(dst_len));
        for (int i = 0; i < src_len; ++i)
            ramp[size_t(i)] = -3000 + 997 * i;
        expand32(ramp.data(), src_len, out32.data(), dst_len, num, den, ph);
        for (int i = 1; i < dst_len; ++i)
            ASSERT_LE(out32[size_t(i - 1)], out32[size_t(i)]) << num << "/" << den << " phase " << ph;
        ASSERT_GE(out32.front(), ramp.front());
        ASSERT_LE(out32.back(), ramp.back());
        // Vertical interpolation keeps every value between its two lines.
        std::vector<int16_t> a(8, 100), b(8, 900), mid(8);
        for (int q = 0; q < num; ++q) {
            interpolate16(a.data(), b.data(), mid.data(), 8, q, num);
            ASSERT_GE(mid[0], 100);
            ASSERT_LE(mid[0], 900);
            if (q == 0) {
                ASSERT_EQ(mid[0], 900);
            }
        }
    }
    // The four cases at num = 8 between a = 0 and b = 800.
    EXPECT_EQ(interpolate(0, 800, 2, 8), 800);
    EXPECT_EQ(interpolate(0, 800, 4, 8), 600);
    EXPECT_EQ(interpolate(0, 800, 5, 8), 400);
    EXPECT_EQ(interpolate(0, 800, 6, 8), 200);
}
