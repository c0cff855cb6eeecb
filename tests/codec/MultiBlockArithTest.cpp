// Line operations and the per-row arithmetic of the multi-component blocks, driven on
// hand-set lines and coefficients; expected values are worked out by hand in comments.
#include "codec/coding/rv_multi_block_arith.h"
#include "codec/coding/rv_multi_line_ops.h"
#include "tests/codec/support/codec_messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <vector>

namespace {

// A line of samples held by the test; n samples of one kind.
struct TestLine {
    std::vector<int16_t> s16;
    std::vector<int32_t> i32;
    std::vector<float> f32;
    rv_line_samples v;

    TestLine(int n, bool reversible, bool precise, int depth) : s16(size_t(n)), i32(size_t(n)), f32(size_t(n))
    {
        v.width = n;
        v.reversible = reversible;
        v.precise = precise;
        v.bit_depth = depth;
        v.buf = !precise ? static_cast<void*>(s16.data())
                         : reversible ? static_cast<void*>(i32.data()) : static_cast<void*>(f32.data());
    }
    static TestLine rev16(std::vector<int16_t> s, int depth)
    {
        TestLine l(int(s.size()), true, false, depth);
        l.s16 = s;
        l.v.buf = l.s16.data();
        return l;
    }
    static TestLine real16(std::vector<int16_t> s, int depth)
    {
        TestLine l = rev16(std::move(s), depth);
        l.v.reversible = false;
        return l;
    }
    static TestLine rev32(std::vector<int32_t> s, int depth)
    {
        TestLine l(int(s.size()), true, true, depth);
        l.i32 = s;
        l.v.buf = l.i32.data();
        return l;
    }
    static TestLine real32(std::vector<float> s, int depth)
    {
        TestLine l(int(s.size()), false, true, depth);
        l.f32 = s;
        l.v.buf = l.f32.data();
        return l;
    }
};

using V16 = std::vector<int16_t>;
using V32 = std::vector<int32_t>;
using VF = std::vector<float>;

TEST(MultiLineOps, CopyIntoSixteenBitRealLines)
{
    // Reversible source, depth 8: shift 13 - 8 = 5; offset 0.25 is 2048.
    TestLine src = TestLine::rev16({100, -128, 0}, 8);
    TestLine d8(3, false, false, 8);
    rv_line_copy(d8.v, src.v, 0, 0.25f);
    EXPECT_EQ(d8.s16, (V16{3200 + 2048, -4096 + 2048, 2048}));
    // Depth 13: shift 0, offset 0.5 is 4096.
    TestLine d13(3, false, false, 13);
    rv_line_copy(d13.v, src.v, 0, 0.5f);
    EXPECT_EQ(d13.s16, (V16{4196, 3968, 4096}));
    // Depth 16: shift -3: (x + 4 + o 8) >> 3 with o = -1024, flooring for negatives.
    TestLine s3 = TestLine::rev16({100, 101, -5}, 16);
    TestLine d16(3, false, false, 16);
    rv_line_copy(d16.v, s3.v, 0, -0.125f);
    EXPECT_EQ(d16.s16, (V16{-1011, -1011, -1025}));
    // A 32-bit reversible source takes the same path.
    TestLine s32 = TestLine::rev32({100, 101, -5}, 16);
    rv_line_copy(d16.v, s32.v, 0, -0.125f);
    EXPECT_EQ(d16.s16, (V16{-1011, -1011, -1025}));
    // Real 16-bit sources: depth 10 into 12 halves twice with rounding, 12 into 10 doubles twice.
    TestLine r10 = TestLine::real16({1000, -3, 6}, 10);
    TestLine d12(3, false, false, 12);
    rv_line_copy(d12.v, r10.v, 0, 0.0f);
    EXPECT_EQ(d12.s16, (V16{250, -1, 2}));
    TestLine r12 = TestLine::real16({1000, -3, 6}, 12);
    TestLine d10(3, false, false, 10);
    rv_line_copy(d10.v, r12.v, 0, 0.0f);
    EXPECT_EQ(d10.s16, (V16{4000, -12, 24}));
}

TEST(MultiLineOps, CopyIntoThirtyTwoBitLines)
{
    TestLine d(2, false, true, 8);
    rv_line_copy(d.v, TestLine::rev32({64, -128}, 8).v, 0, 0.125f); // x / 256 + 0.125
    EXPECT_EQ(d.f32, (VF{0.375f, -0.375f}));
    rv_line_copy(d.v, TestLine::real32({0.25f, -0.5f}, 8).v, 0, 0.25f);
    EXPECT_EQ(d.f32, (VF{0.5f, -0.25f}));
    rv_line_copy(d.v, TestLine::real32({0.25f, -0.125f}, 10).v, 0, -0.5f); // x 4 - 0.5
    EXPECT_EQ(d.f32, (VF{0.5f, -1.0f}));
    rv_line_copy(d.v, TestLine::real16({4096, -2048}, 8).v, 0, 0.0f); // fixed point into float
    EXPECT_EQ(d.f32, (VF{0.5f, -0.25f}));
    // Reversible destinations keep the integers and add the integer offset.
    TestLine r32(2, true, true, 8);
    rv_line_copy(r32.v, TestLine::rev16({-7, 9}, 8).v, 3, 0.5f);
    EXPECT_EQ(r32.i32, (V32{-4, 12}));
    TestLine r16(2, true, false, 8);
    rv_line_copy(r16.v, TestLine::rev32({-7, 9}, 8).v, -3, 0.0f);
    EXPECT_EQ(r16.s16, (V16{-10, 6}));
}

TEST(MultiLineOps, FillAndOffsetAdd)
{
    TestLine r32(3, true, true, 8), r16(3, true, false, 8), f32(3, false, true, 8), x16(3, false, false, 8);
    rv_line_fill(r32.v, -5, 0.7f);
    rv_line_fill(r16.v, 7, 0.7f);
    rv_line_fill(f32.v, 9, 0.3f);
    rv_line_fill(x16.v, 9, -0.3f); // floor(-2457.6 + 0.5)
    EXPECT_EQ(r32.i32, (V32{-5, -5, -5}));
    EXPECT_EQ(r16.s16, (V16{7, 7, 7}));
    EXPECT_EQ(f32.f32, (VF{0.3f, 0.3f, 0.3f}));
    EXPECT_EQ(x16.s16, (V16{-2458, -2458, -2458}));
    rv_line_fill(x16.v, 0, 0.3f);
    EXPECT_EQ(x16.s16[0], 2458);

    rv_line_add_offset(r32.v, 5, 1.0f);
    rv_line_add_offset(r16.v, -2, 0.0f);
    rv_line_add_offset(f32.v, 0, 0.25f);
    rv_line_add_offset(x16.v, 3, 0.5f);
    EXPECT_EQ(r32.i32, (V32{0, 0, 0}));
    EXPECT_EQ(r16.s16, (V16{5, 5, 5}));
    EXPECT_FLOAT_EQ(f32.f32[2], 0.55f);
    EXPECT_EQ(x16.s16, (V16{6554, 6554, 6554}));
    // Zero offsets leave every kind untouched.
    rv_line_add_offset(x16.v, 0, 0.0f);
    rv_line_add_offset(r32.v, 0, 0.0f);
    EXPECT_EQ(x16.s16[1], 6554);
    EXPECT_EQ(r32.i32[1], 0);
    // Offsets from hostile descriptions stay within defined arithmetic.
    EXPECT_EQ(rv_fix16_offset(1e30f), INT_MAX);
    EXPECT_EQ(rv_fix16_offset(-1e30f), INT_MIN);
    EXPECT_EQ(rv_fix16_offset(std::nanf("")), INT_MIN);
}

TEST(MultiLineOps, ViewOfALineBuffer)
{
    rvd_sample_allocator alloc;
    rvd_line_buf a, b;
    a.pre_create(&alloc, 5, true, false, 0, 0);
    b.pre_create(&alloc, 7, false, true, 0, 0);
    alloc.finalize();
    a.create();
    b.create();
    const rv_line_samples va = rv_samples_of(a, 12), vb = rv_samples_of(b, 8);
    EXPECT_TRUE(va.reversible && va.precise);
    EXPECT_EQ(va.i32(), &a.get_buf32()->ival);
    EXPECT_EQ(va.width, 5);
    EXPECT_TRUE(!vb.reversible && !vb.precise);
    EXPECT_EQ(vb.s16(), b.get_buf16());
    EXPECT_EQ(vb.bit_depth, 8);
}

TEST(SixteenBitCoefficients, DownshiftRule)
{
    const float c[3] = {0.5f, -0.25f, 100.0f};
    const bool mask[3] = {true, true, false};
    int16_t h[3];
    // m = 0.5 doubles until above 16383: 2^15.
    EXPECT_EQ(rv_make_16bit_coefficients(c, mask, 3, 1e-5f, h), 15);
    EXPECT_EQ(h[0], 16384);
    EXPECT_EQ(h[1], -8192);
    EXPECT_EQ(h[2], 0);
    const float big[2] = {20000.4f, -40000.0f};
    EXPECT_EQ(rv_make_16bit_coefficients(big, nullptr, 1, 1e-5f, h), 0);
    EXPECT_EQ(h[0], 20000);
    EXPECT_EQ(rv_make_16bit_coefficients(big, nullptr, 2, 1e-5f, h), 0);
    EXPECT_EQ(h[1], -32768);
    EXPECT_TRUE(rv_coefficients_need_precise(big, 2));
    EXPECT_FALSE(rv_coefficients_need_precise(big, 1));
    // An all-zero set ends (no scale to reach) with zero coefficients.
    const float zero[2] = {0.0f, 0.0f};
    EXPECT_EQ(rv_make_16bit_coefficients(zero, nullptr, 2, 0.0f, h), 0);
    EXPECT_EQ(h[1], 0);
}

TEST(MatrixBlock, HandComputedRowsInBothForms)
{
    rv_matrix_arith m;
    m.num_inputs = 2;
    m.num_outputs = 1;
    m.coefficients = {0.5f, 0.25f};
    TestLine a = TestLine::real16({1000}, 8), b = TestLine::real16({-400}, 8);
    const rv_line_samples* in[2] = {&a.v, &b.v};
    TestLine out(1, false, false, 8);
    const float off[1] = {0.125f};
    // (1000 16384 - 400 8192 + (1024 << 15) + 2^14) >> 15 = 1424
    m.synthesize(in, &out.v, off);
    EXPECT_EQ(out.s16[0], 1424);
    TestLine fa = TestLine::real32({1000 / 8192.0f}, 8), fb = TestLine::real32({-400 / 8192.0f}, 8);
    const rv_line_samples* fin[2] = {&fa.v, &fb.v};
    TestLine fout(1, false, true, 8);
    m.synthesize(fin, &fout.v, off);
    EXPECT_FLOAT_EQ(fout.f32[0] * 8192.0f, 1424.0f);
}

TEST(MatrixBlock, SixteenBitAgreesWithFloatWithinAQuarterOfAThousandth)
{
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> coef(-1.0f, 1.0f);
    std::uniform_int_distribution<int> sample(-4096, 4095), rsample(-128, 127);
    const int n = 512, ni = 4, no = 3;
    rv_matrix_arith m16, mf;
    m16.num_inputs = mf.num_inputs = ni;
    m16.num_outputs = mf.num_outputs = no;
    for (int k = 0; k < ni * no; ++k)
        m16.coefficients.push_back(coef(gen) / 2);
    mf.coefficients = m16.coefficients;
    // Inputs 0, 1 real; 2 reversible of depth 8; 3 reversible of depth 15 (up-shift below 0).
    std::vector<TestLine> i16, i32;
    for (int i = 0; i < ni; ++i) {
        const bool rev = i >= 2;
        const int depth = i == 3 ? 15 : 8;
        i16.emplace_back(n, rev, false, depth);
        i32.emplace_back(n, rev, true, depth);
        for (int x = 0; x < n; ++x) {
            const int v = rev ? (i == 3 ? sample(gen) * 4 : rsample(gen)) : sample(gen);
            i16[size_t(i)].s16[size_t(x)] = int16_t(v);
            if (rev)
                i32[size_t(i)].i32[size_t(x)] = v;
            else
                i32[size_t(i)].f32[size_t(x)] = v / 8192.0f;
        }
    }
    std::vector<const rv_line_samples*> p16, p32;
    for (int i = 0; i < ni; ++i) {
        p16.push_back(&i16[size_t(i)].v);
        p32.push_back(&i32[size_t(i)].v);
    }
    std::vector<TestLine> o16, o32;
    std::vector<rv_line_samples> v16, v32;
    for (int j = 0; j < no; ++j) {
        o16.emplace_back(n, false, false, 8);
        o32.emplace_back(n, false, true, 8);
    }
    for (int j = 0; j < no; ++j) {
        v16.push_back(o16[size_t(j)].v);
        v32.push_back(o32[size_t(j)].v);
    }
    const float off[3] = {0.1f, -0.2f, 0.0f};
    m16.synthesize(p16.data(), v16.data(), off);
    mf.synthesize(p32.data(), v32.data(), off);
    double worst = 0;
    for (int j = 0; j < no; ++j)
        for (int x = 0; x < n; ++x)
            worst = std::max(worst, std::fabs(o16[size_t(j)].s16[size_t(x)] / 8192.0 - o32[size_t(j)].f32[size_t(x)]));
    EXPECT_LE(worst, 1.0 / 4096);
}

TEST(MatrixBlock, ConstantInputsFoldIntoOffsets)
{
    rv_matrix_arith m;
    m.num_inputs = 2;
    m.num_outputs = 2;
    m.coefficients = {0.5f, -1.0f, 0.25f, 2.0f};
    float off[2] = {0.1f, -0.1f};
    m.fold_constant_input(0, 0.25f, off);
    m.fold_constant_input(1, 0.0625f, off);
    EXPECT_FLOAT_EQ(off[0], 0.1f + 0.125f - 0.0625f);
    EXPECT_FLOAT_EQ(off[1], -0.1f + 0.0625f + 0.125f);
    const rv_line_samples* none[2] = {nullptr, nullptr};
    TestLine f0(4, false, true, 8), f1(4, false, true, 8), s0(4, false, false, 8), s1(4, false, false, 8);
    rv_line_samples fo[2] = {f0.v, f1.v}, so[2] = {s0.v, s1.v};
    m.synthesize(none, fo, off);
    m.synthesize(none, so, off);
    for (int x = 0; x < 4; ++x) {
        EXPECT_FLOAT_EQ(f0.f32[size_t(x)], off[0]);
        EXPECT_FLOAT_EQ(f1.f32[size_t(x)], off[1]);
        EXPECT_EQ(s0.s16[size_t(x)], rv_fix16_offset(off[0]));
        EXPECT_EQ(s1.s16[size_t(x)], rv_fix16_offset(off[1]));
    }
}

TEST(MatrixBlock, NormalisationAndWideAccumulation)
{
    // Column times 2^Bi, row over 2^Bj: 1.0 from depth 16 into depth 1 is 32768, which
    // the 16-bit form would clip, so the block needs 32-bit lines; from depth 15 it fits.
    TestLine in16(1, false, false, 16), in15(1, false, false, 15), out1(1, false, false, 1);
    const rv_line_samples* p16[1] = {&in16.v};
    const rv_line_samples* p15[1] = {&in15.v};
    rv_matrix_arith a, b;
    a.num_inputs = b.num_inputs = a.num_outputs = b.num_outputs = 1;
    a.coefficients = b.coefficients = {1.0f};
    EXPECT_TRUE(a.normalize(p16, &out1.v));
    EXPECT_FALSE(b.normalize(p15, &out1.v));
    EXPECT_EQ(b.coefficients[0], 16384.0f);
    TestLine unset(1, false, false, 0);
    EXPECT_TRUE(b.normalize(p15, &unset.v));

    // Reversible depth-1 inputs are up-shifted 12 bits and tiny coefficients get a large
    // downshift: each product reaches 2^41, the difference cancels back to 1000.
    rv_matrix_arith m;
    m.num_inputs = 2;
    m.num_outputs = 1;
    m.coefficients = {1.0f / 4096, 1.0f / 4096};
    TestLine x = TestLine::rev16({30000, -32768}, 1), y = TestLine::rev16({-29000, 32767}, 1);
    const rv_line_samples* in[2] = {&x.v, &y.v};
    TestLine out(2, false, false, 1);
    const float off[1] = {0.0f};
    m.synthesize(in, &out.v, off);
    EXPECT_EQ(m.downshift, 26);
    EXPECT_EQ(out.s16, (V16{1000, -1}));
}

TEST(ReversibleMatrixBlock, StepsDivisorsAndOffsets)
{
    // Two lines, coefficient(i, s) row i column s. Step 0 updates line 1 by
    // (4/2 + 1 x 10) >> 2 = 3; step 1 updates line 0 by (2/2 - 3 x 4) >> 1 = -6;
    // step 2 (stored divisor -4, so v = 4): line 1 = ((2 + 5 x 16) >> 2) - 4 = 16; then
    // the offsets 100 and -1.
    for (bool precise : {false, true}) {
        rv_rxform_arith r;
        r.n = 2;
        r.coefficients = {1, 2, 5, 4, -3, -4};
        TestLine i0(1, true, precise, 8), i1(1, true, precise, 8), l0(1, true, precise, 8), l1(1, true, precise, 8);
        if (precise) {
            i0.i32[0] = 10;
            i1.i32[0] = 7;
        } else {
            i0.s16[0] = 10;
            i1.s16[0] = 7;
        }
        const rv_line_samples* in[2] = {&i0.v, &i1.v};
        rv_line_samples lines[2] = {l0.v, l1.v};
        const int offsets[2] = {100, -1};
        r.synthesize(in, lines, offsets);
        EXPECT_EQ(precise ? l0.i32[0] : l0.s16[0], 116) << precise;
        EXPECT_EQ(precise ? l1.i32[0] : l1.s16[0], 15) << precise;
        // A positive last divisor subtracts instead: 4 - 20 - 1.
        r.coefficients[5] = 4;
        r.synthesize(in, lines, offsets);
        EXPECT_EQ(precise ? l1.i32[0] : l1.s16[0], -17) << precise;
    }
}

TEST(ReversibleMatrixBlock, DivisorErrorsAndWideSums)
{
    TestLine a(1, true, true, 8), b(1, true, true, 8);
    rv_line_samples lines[2] = {a.v, b.v};
    const rv_line_samples* none[2] = {nullptr, nullptr};
    const int offsets[2] = {0, 0};
    const std::string lead =
        "Multi-component reversible decorrelation transforms must have exact positive powers of 2 "
        "for the divisors which are used to scale and round the update terms.  The offending divisor is ";
    for (int bad : {0, 3, -2}) {
        rv_rxform_arith r;
        r.n = 2;
        r.coefficients = {0, 1, 1, bad, 0, 1};
        const std::string text = codec_test::error_text([&] { r.synthesize(none, lines, offsets); });
        EXPECT_NE(text.find("Ravade Core Error:"), std::string::npos);
        EXPECT_NE(text.find(lead + std::to_string(bad) + "."), std::string::npos) << text;
    }
    rv_rxform_arith ok;
    ok.n = 2;
    ok.coefficients = {0, 1, 1, 1, 0, 1}; // divisor 1 everywhere is accepted
    ok.synthesize(none, lines, offsets);
    EXPECT_EQ(a.i32[0], 0);

    // 2^30 x 2^20 needs 64-bit sums: line 1 loses (2^29 + 2^50) >> 30 = 2^20.
    rv_rxform_arith wide;
    wide.n = 2;
    wide.coefficients = {1 << 20, 1, 0, 1 << 30, 0, 1};
    TestLine i0 = TestLine::rev32({1 << 30}, 31);
    TestLine i1 = TestLine::rev32({5}, 31);
    const rv_line_samples* in[2] = {&i0.v, &i1.v};
    wide.synthesize(in, lines, offsets);
    EXPECT_EQ(b.i32[0], 5 - (1 << 20));
    EXPECT_TRUE(wide.needs_precise());
    EXPECT_FALSE(ok.needs_precise());
}

TEST(DependencyBlock, ReversibleRowsAndDivisors)
{
    rv_dependency_arith d;
    d.n = 3;
    d.reversible = true;
    d.int_coefficients = {1, 0, 0, 1, 2, 0, 1, -1, 4};
    d.int_offsets = {5, 0, 3};
    TestLine i0 = TestLine::rev16({10}, 8), i1 = TestLine::rev16({20}, 8), i2 = TestLine::rev16({30}, 8);
    TestLine l0(1, true, false, 8), l1(1, true, false, 8), l2(1, true, false, 8);
    const rv_line_samples* in[3] = {&i0.v, &i1.v, &i2.v};
    rv_line_samples lines[3] = {l0.v, l1.v, l2.v};
    // Line 0 = 10 + 5; line 1 = 20 + (1 + 15) >> 1; line 2 = 33 + (2 + 15 - 28) >> 2.
    d.synthesize(in, lines);
    EXPECT_EQ(l0.s16[0], 15);
    EXPECT_EQ(l1.s16[0], 28);
    EXPECT_EQ(l2.s16[0], 30);
    // An absent input stands for its offset alone.
    const rv_line_samples* partial[3] = {nullptr, &i1.v, &i2.v};
    d.synthesize(partial, lines);
    EXPECT_EQ(l0.s16[0], 5);
    d.int_coefficients[8] = 3;
    const std::string text = codec_test::error_text([&] { d.synthesize(in, lines); });
    EXPECT_NE(text.find("these are the divisors used to scale and round the prediction terms.  "
                        "The offending divisor is 3."),
              std::string::npos)
        << text;
}

TEST(DependencyBlock, IrreversibleFormsAgree)
{
    // Line 1 = 200 + 1024 + (2^14 + 16384 x 1000) >> 15 = 1724 in fixed point.
    for (bool precise : {false, true}) {
        rv_dependency_arith d;
        d.n = 2;
        d.reversible = false;
        d.real_coefficients = {0, 0, 0.5f, 0};
        d.real_offsets = {0.0f, 0.125f};
        TestLine i0(1, false, precise, 8), i1(1, false, precise, 8), l0(1, false, precise, 8), l1(1, false, precise, 8);
        if (precise) {
            i0.f32[0] = 1000 / 8192.0f;
            i1.f32[0] = 200 / 8192.0f;
        } else {
            i0.s16[0] = 1000;
            i1.s16[0] = 200;
        }
        const rv_line_samples* in[2] = {&i0.v, &i1.v};
        rv_line_samples lines[2] = {l0.v, l1.v};
        d.synthesize(in, lines);
        if (precise) {
            EXPECT_FLOAT_EQ(l0.f32[0] * 8192, 1000.0f);
            EXPECT_FLOAT_EQ(l1.f32[0] * 8192, 1724.0f);
        } else {
            EXPECT_EQ(l0.s16[0], 1000);
            EXPECT_EQ(l1.s16[0], 1724);
        }
    }
    // All-zero coefficients: the 16-bit form ends and predicts nothing.
    rv_dependency_arith z;
    z.n = 2;
    z.reversible = false;
    z.real_coefficients = {0, 0, 0, 0};
    z.real_offsets = {0, 0};
    TestLine i0 = TestLine::real16({7}, 8), i1 = TestLine::real16({9}, 8), l0(1, false, false, 8), l1(1, false, false, 8);
    const rv_line_samples* in[2] = {&i0.v, &i1.v};
    rv_line_samples lines[2] = {l0.v, l1.v};
    z.synthesize(in, lines);
    EXPECT_EQ(l1.s16[0], 9);
}

TEST(DependencyBlock, NormalisationScalesAndSettlesPrecision)
{
    rv_dependency_arith d;
    d.n = 2;
    d.reversible = false;
    d.real_coefficients = {0, 0, 1.0f, 0};
    d.real_offsets = {0.0f, 64.0f};
    TestLine i0(1, false, false, 8), i1(1, false, false, 8);
    const rv_line_samples* in[2] = {&i0.v, &i1.v};
    TestLine o0(1, false, false, 4), o1(1, false, false, 6);
    rv_line_samples out[2] = {o0.v, o1.v};
    // Coefficient (1, 0) gains 2^4 from its column and loses 2^6 from its row.
    EXPECT_FALSE(d.normalize(in, out));
    EXPECT_FLOAT_EQ(d.real_coefficients[2], 0.25f);
    EXPECT_FLOAT_EQ(d.real_offsets[1], 1.0f);
    // An unset output depth takes its input's and forces 32-bit lines.
    rv_dependency_arith e = d;
    rv_line_samples unset[2] = {o0.v, o1.v};
    unset[1].bit_depth = 0;
    EXPECT_TRUE(e.normalize(in, unset));
    EXPECT_EQ(unset[1].bit_depth, 8);
    // Reversible form: integers beyond 16 bits need 32-bit lines.
    rv_dependency_arith r;
    r.n = 2;
    r.int_coefficients = {1, 0, 40000, 1};
    EXPECT_TRUE(r.normalize(in, out));
}

} // namespace

#include "codec/coding/rvd_kernels.h"

namespace {

std::vector<rv_lifting_step> kernel_steps(int kernel_id, bool reversible)
{
    rvd_kernels k;
    k.init(kernel_id, reversible);
    std::vector<rv_lifting_step> out(size_t(k.get_num_steps()));
    for (int s = 0; s < k.get_num_steps(); s++) {
        std::vector<float> taps;
        for (int t = 0; t < k.get_steps()[s].support_length; t++)
            taps.push_back(k.get_coefficients()[t * k.get_num_steps() + s]);
        out[size_t(s)].init(s, k.get_steps()[s], taps.data(), reversible, kernel_id);
    }
    return out;
}

int mirror_index(int i, int n)
{
    while (i < 0 || i >= n)
        i = i < 0 ? -i : 2 * (n - 1) - i;
    return i;
}

// Forward 5/3 lifting with whole-sample mirroring, written from the filter's definition.
std::vector<int> analyse53(const std::vector<int>& x)
{
    const int n = int(x.size());
    std::vector<int> y = x;
    for (int i = 1; i < n; i += 2)
        y[size_t(i)] = x[size_t(i)] - int(std::floor((x[size_t(i - 1)] + x[size_t(mirror_index(i + 1, n))]) / 2.0));
    for (int i = 0; i < n; i += 2)
        y[size_t(i)] = x[size_t(i)] +
                       int(std::floor((y[size_t(mirror_index(i - 1, n))] + y[size_t(mirror_index(i + 1, n))] + 2) / 4.0));
    return y;
}

TEST(DwtBlock, ReversibleLevelInvertsTheFiveThreeAnalysis)
{
    const std::vector<rv_lifting_step> steps = kernel_steps(1, true);
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> dist(-2000, 2000);
    for (int count : {2, 3, 6, 7}) {
        const int width = 5;
        std::vector<std::vector<int>> orig(static_cast<size_t>(width)), coded(static_cast<size_t>(width));
        for (int c = 0; c < width; ++c) {
            for (int p = 0; p < count; ++p)
                orig[size_t(c)].push_back(dist(gen));
            coded[size_t(c)] = analyse53(orig[size_t(c)]);
        }
        rvd_sample_allocator alloc;
        std::vector<rvd_line_buf> work(static_cast<size_t>(count));
        std::vector<std::vector<int32_t>> subband(static_cast<size_t>(count), std::vector<int32_t>(static_cast<size_t>(width)));
        for (rvd_line_buf& w : work)
            w.pre_create(&alloc, width, true, false, 0, 0);
        alloc.finalize();
        for (int p = 0; p < count; ++p) {
            work[size_t(p)].create();
            for (int c = 0; c < width; ++c)
                subband[size_t(p)][size_t(c)] = coded[size_t(c)][size_t(p)];
            TestLine src = TestLine::rev32(subband[size_t(p)], 12);
            rv_dwt_load(rv_samples_of(work[size_t(p)], 12), &src.v, true, 1.0f);
        }
        rv_dwt_synthesize_level(steps.data(), int(steps.size()), true, work.data(), count, width);
        for (int p = 0; p < count; ++p)
            for (int c = 0; c < width; ++c)
                ASSERT_EQ(work[size_t(p)].get_buf32()[c].ival, orig[size_t(c)][size_t(p)]) << count << " " << p;
    }
}

TEST(DwtBlock, LoadingScalesAndConvertsUnits)
{
    // Irreversible float work line of depth 8: reversible source x gain / 256; real source
    // of depth 10 x gain x 4.
    TestLine w(2, false, true, 8);
    TestLine r = TestLine::rev16({64, -32}, 8);
    rv_dwt_load(w.v, &r.v, false, 2.0f);
    EXPECT_EQ(w.f32, (VF{0.5f, -0.25f}));
    TestLine f = TestLine::real32({0.125f, -0.0625f}, 10);
    rv_dwt_load(w.v, &f.v, false, 0.5f);
    EXPECT_EQ(w.f32, (VF{0.25f, -0.125f}));
    rv_dwt_load(w.v, nullptr, false, 3.0f);
    EXPECT_EQ(w.f32, (VF{0.0f, 0.0f}));
    // 16-bit work line of depth 8 from a reversible source, gain 1: factor 8192 / 256 = 32
    // becomes multiplier 16384 with shift 9, so x 32 exactly.
    TestLine w16(3, false, false, 8);
    TestLine r16 = TestLine::rev16({100, -128, 1}, 8);
    rv_dwt_load(w16.v, &r16.v, false, 1.0f);
    EXPECT_EQ(w16.s16, (V16{3200, -4096, 32}));
    // Gain 1.5 on a real depth-8 source: factor 1.5 -> 24576 with shift 14.
    TestLine s16 = TestLine::real16({1000, -3, 1}, 8);
    rv_dwt_load(w16.v, &s16.v, false, 1.5f);
    EXPECT_EQ(w16.s16, (V16{1500, -4, 2})); // (-73728 + 8192) >> 14 = -4; (24576 + 8192) >> 14 = 2
    // Factor above 32767 (gain 1 from a depth-24 real source into depth 8): halving gives
    // a left shift, kept within 16 bits.
    TestLine big = TestLine::real16({1, -1, 0}, 24);
    rv_dwt_load(w16.v, &big.v, false, 1.0f);
    EXPECT_EQ(w16.s16, (V16{0, 0, 0})); // 2^16 x: only zeros remain in 16 bits
    TestLine mid = TestLine::real16({1, -1, 3}, 11);
    rv_dwt_load(w16.v, &mid.v, false, 1.0f);
    EXPECT_EQ(w16.s16, (V16{8, -8, 24}));
}

} // namespace
