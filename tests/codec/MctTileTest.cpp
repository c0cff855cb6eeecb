// A tile's multi-component transform as the synthesis network sees it: the block, matrix,
// reversible-matrix, dependency and wavelet queries on hand-built Part-2 headers, the
// default stage, components of interest, tile-header stages and component gains.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/mct_segments.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

using namespace codec_test;

namespace {

siz_geometry part2_geometry(int num_comps, uint32_t width = 64, uint32_t tile_width = 64)
{
    siz_geometry g;
    g.rsiz = 0x8100;
    g.xsiz = width;
    g.xtsiz = tile_width;
    g.comps.resize(size_t(num_comps));
    return g;
}

// Main-header segments: CBD, COD, QCD (no levels), then the transform's own segments.
std::vector<std::vector<uint8_t>> header(const std::vector<cbd_comp>& outs, int mct_byte,
                                         std::vector<std::vector<uint8_t>> xform)
{
    std::vector<std::vector<uint8_t>> h = {cbd_bytes(outs), cod_bytes(mct_byte), qcd_segment(0)};
    h.insert(h.end(), xform.begin(), xform.end());
    return h;
}

// A codestream over a memory source, with its tile 0 opened after an optional view.
struct opened {
    memory_source src;
    rvd_codestream cs;
    rvd_tile tile;
    opened(const siz_geometry& g, const std::vector<std::vector<uint8_t>>& segs,
           bool codestream_comps = false, int first_output = 0, int max_outputs = 0)
        : src(build_stream(g, segs))
    {
        cs.create(&src);
        if (codestream_comps || first_output != 0 || max_outputs != 0)
            cs.apply_input_restrictions(first_output, max_outputs, 0, 0, nullptr,
                                        codestream_comps ? RVD_WANT_CODESTREAM_COMPONENTS
                                                         : RVD_WANT_OUTPUT_COMPONENTS);
        tile = cs.open_tile(rvd_coords(0, 0));
    }
    ~opened()
    {
        if (tile.exists())
            tile.close();
        cs.destroy();
    }
};

struct block_info {
    int stage_in = -1, stage_out = -1, block_in = -1, block_out = -1;
    std::vector<int> inputs, outputs, rev_offsets, stage_inputs;
    std::vector<float> irrev_offsets;
};

bool query_block(rvd_tile t, int s, int b, block_info& bi)
{
    if (!t.get_mct_block_info(s, b, bi.stage_in, bi.stage_out, bi.block_in, bi.block_out))
        return false;
    bi.inputs.assign(size_t(bi.block_in), -1);
    bi.outputs.assign(size_t(bi.block_out), -1);
    bi.rev_offsets.assign(size_t(bi.block_out), -1);
    bi.irrev_offsets.assign(size_t(bi.block_out), -1.0f);
    bi.stage_inputs.assign(size_t(bi.stage_in), -1);
    return t.get_mct_block_info(s, b, bi.stage_in, bi.stage_out, bi.block_in, bi.block_out,
                                bi.inputs.data(), bi.outputs.data(), bi.irrev_offsets.data(),
                                bi.rev_offsets.data(), bi.stage_inputs.data());
}

// Which kind queries accept a block: matrix, reversible matrix, dependency, wavelet.
std::vector<bool> kinds(rvd_tile t, int s, int b)
{
    bool rev = false, sym = false, ext = false;
    int levels = 0, lo = 0, hi = 0, steps = 0;
    const float* coeffs = nullptr;
    return {t.get_mct_matrix_info(s, b), t.get_mct_rxform_info(s, b),
            t.get_mct_dependency_info(s, b, rev),
            t.get_mct_dwt_info(s, b, rev, levels, lo, hi, steps, sym, ext, coeffs) != nullptr};
}

const std::vector<bool> null_kind = {false, false, false, false};

using ivec = std::vector<int>;
using fvec = std::vector<float>;

// 3 inputs (read in the order 2, 0, 1) to 4 outputs, with float offsets.
const std::vector<double> matrix_4x3 = {0.5, -1.25, 2.0, 1.0, 0.0,   -0.75,
                                        3.5, 0.25,  1.0, -2.0, 1.5, 0.125};
const std::vector<cbd_comp> four_outputs = {{8, false}, {9, true}, {10, false}, {12, false}};

std::vector<std::vector<uint8_t>> matrix_segments()
{
    mcc_collection m;
    m.kind = MCC_MATRIX;
    m.inputs = {2, 0, 1};
    m.outputs = {0, 1, 2, 3};
    m.coeff_index = 1;
    m.offset_index = 2;
    return header(four_outputs, 2,
                  {mct_bytes(1, MCT_MATRIX, MCT_FLOAT32, matrix_4x3),
                   mct_bytes(2, MCT_OFFSETS, MCT_FLOAT32, {10.25, -20.0, 30.5, -40.75}),
                   mcc_bytes(1, {m}), mco_bytes({1})});
}

} // namespace

TEST(MctTile, MatrixBlockAnswersItsIndicesOffsetsAndCoefficients)
{
    opened o(part2_geometry(3), matrix_segments());
    block_info bi;
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(3, bi.stage_in);
    EXPECT_EQ(4, bi.stage_out);
    EXPECT_EQ(3, bi.block_in);
    EXPECT_EQ(4, bi.block_out);
    EXPECT_EQ((ivec{2, 0, 1}), bi.inputs);
    EXPECT_EQ((ivec{0, 1, 2, 3}), bi.outputs);
    EXPECT_EQ((ivec{0, 1, 2}), bi.stage_inputs);
    EXPECT_EQ((fvec{10.25f, -20.0f, 30.5f, -40.75f}), bi.irrev_offsets);
    EXPECT_EQ((ivec{10, -20, 31, -41}), bi.rev_offsets); // nearest integers
    fvec m(12);
    ASSERT_TRUE(o.tile.get_mct_matrix_info(0, 0, m.data()));
    for (size_t i = 0; i < m.size(); i++)
        EXPECT_EQ(float(matrix_4x3[i]), m[i]) << i;
    EXPECT_EQ((std::vector<bool>{true, false, false, false}), kinds(o.tile, 0, 0));
    EXPECT_FALSE(query_block(o.tile, 0, 1, bi));
    EXPECT_FALSE(query_block(o.tile, 1, 0, bi));
    EXPECT_FALSE(query_block(o.tile, -1, 0, bi));
    EXPECT_FALSE(o.tile.get_mct_matrix_info(1, 0));

    // Only output 3 of interest: its row alone, over all three inputs.
    const int want[] = {3};
    o.tile.set_components_of_interest(1, want);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(4, bi.stage_out);
    EXPECT_EQ(3, bi.block_in);
    EXPECT_EQ((ivec{3}), bi.outputs);
    EXPECT_EQ((fvec{-40.75f}), bi.irrev_offsets);
    fvec row(3);
    ASSERT_TRUE(o.tile.get_mct_matrix_info(0, 0, row.data()));
    EXPECT_EQ((fvec{-2.0f, 1.5f, 0.125f}), row);
    o.tile.set_components_of_interest(0, nullptr);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(4, bi.block_out);
}

TEST(MctTile, CodestreamComponentsAnswerWithTheDefaultStage)
{
    siz_geometry g = part2_geometry(3);
    g.comps[1].precision = 12;
    g.comps[2].is_signed = true;
    opened o(g, matrix_segments(), true);
    block_info bi;
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(3, bi.stage_in);
    EXPECT_EQ(3, bi.stage_out);
    EXPECT_EQ((ivec{0, 1, 2}), bi.inputs);
    EXPECT_EQ((ivec{0, 1, 2}), bi.outputs);
    EXPECT_EQ((ivec{0, 1, 2}), bi.stage_inputs);
    EXPECT_EQ((ivec{128, 2048, 0}), bi.rev_offsets);
    EXPECT_EQ((fvec{128.0f, 2048.0f, 0.0f}), bi.irrev_offsets);
    EXPECT_EQ(null_kind, kinds(o.tile, 0, 0));
    EXPECT_FALSE(query_block(o.tile, 0, 1, bi));
    EXPECT_FALSE(query_block(o.tile, 1, 0, bi));
    EXPECT_EQ(1.0, o.tile.find_component_gain_info(1, false));
    EXPECT_EQ(0.0, o.tile.find_component_gain_info(3, false));

    // Component 1 not of interest: it leaves every count but the stage's outputs.
    const int want[] = {0, 2};
    o.tile.set_components_of_interest(2, want);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(2, bi.stage_in);
    EXPECT_EQ(3, bi.stage_out);
    EXPECT_EQ((ivec{0, 1}), bi.inputs);
    EXPECT_EQ((ivec{0, 2}), bi.outputs);
    EXPECT_EQ((ivec{0, 2}), bi.stage_inputs);
    EXPECT_EQ((ivec{128, 0}), bi.rev_offsets);

    // A null list takes the first n; indices outside the components mark nothing.
    o.tile.set_components_of_interest(2, nullptr);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ((ivec{0, 1}), bi.outputs);
    const int outside[] = {-1, 3};
    o.tile.set_components_of_interest(2, outside);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(0, bi.block_out);
    EXPECT_EQ(0, bi.stage_in);
    EXPECT_EQ(3, bi.stage_out);
}

TEST(MctTile, DefaultStageKeepsTheColourTransformInputs)
{
    // A Part-1 header with the colour transform and a fourth component.
    siz_geometry g;
    g.comps.resize(4);
    opened o(g, {cod_bytes(1), qcd_segment(0)});
    ASSERT_TRUE(o.tile.get_ycc());
    block_info bi;
    const int want[] = {1, 3};
    o.tile.set_components_of_interest(2, want);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(4, bi.stage_in); // 0, 1 and 2 feed the colour transform
    EXPECT_EQ(4, bi.stage_out);
    EXPECT_EQ((ivec{1, 3}), bi.inputs);
    EXPECT_EQ((ivec{1, 3}), bi.outputs);
    EXPECT_EQ((ivec{0, 1, 2, 3}), bi.stage_inputs);
    const int last[] = {3};
    o.tile.set_components_of_interest(1, last);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(1, bi.stage_in);
    EXPECT_EQ((ivec{0}), bi.inputs);
    EXPECT_EQ((ivec{3}), bi.stage_inputs);
}

TEST(MctTile, RestrictedOutputsNeedOnlyTheirComponents)
{
    // Stage: a matrix from components 0, 1 to outputs 0, 1, and a block without
    // coefficients passing component 2 to output 2 with an offset.
    mcc_collection m, pass;
    m.inputs = {0, 1};
    m.outputs = {0, 1};
    m.coeff_index = 1;
    pass.inputs = {2};
    pass.outputs = {2};
    pass.offset_index = 2;
    auto segs = header({{8, false}, {8, false}, {8, false}}, 2,
                       {mct_bytes(1, MCT_MATRIX, MCT_INT16, {1, 2, 3, 4}),
                        mct_bytes(2, MCT_OFFSETS, MCT_INT16, {-7}), mcc_bytes(3, {m, pass}),
                        mco_bytes({3})});
    {
        opened o(part2_geometry(3), segs, false, 2, 1);
        EXPECT_FALSE(o.tile.access_component(0).exists());
        EXPECT_FALSE(o.tile.access_component(1).exists());
        EXPECT_TRUE(o.tile.access_component(2).exists());
        block_info bi;
        ASSERT_TRUE(query_block(o.tile, 0, 0, bi)); // the matrix has nothing to do
        EXPECT_EQ(1, bi.stage_in);
        EXPECT_EQ(1, bi.stage_out);
        EXPECT_EQ((ivec{0}), bi.inputs);
        EXPECT_EQ((ivec{0}), bi.outputs);
        EXPECT_EQ((ivec{2}), bi.stage_inputs);
        EXPECT_EQ((ivec{-7}), bi.rev_offsets);
        EXPECT_EQ(null_kind, kinds(o.tile, 0, 0));
        EXPECT_FALSE(query_block(o.tile, 0, 1, bi));
    }
    opened o(part2_geometry(3), segs);
    block_info bi;
    ASSERT_TRUE(query_block(o.tile, 0, 1, bi));
    EXPECT_EQ(null_kind, kinds(o.tile, 0, 1));
    const int want[] = {2};
    o.tile.set_components_of_interest(1, want);
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ((ivec{2}), bi.outputs);
    EXPECT_EQ((ivec{2}), bi.stage_inputs);
    EXPECT_FALSE(query_block(o.tile, 0, 1, bi));
    // Gains of interest skip the hidden outputs; the full gains do not.
    EXPECT_EQ(0.0, o.tile.find_component_gain_info(0, true));
    EXPECT_DOUBLE_EQ(1.0 + 9.0, o.tile.find_component_gain_info(0, false));
    EXPECT_DOUBLE_EQ(1.0, o.tile.find_component_gain_info(2, true));
}

namespace {

// Test-side synthesis of a reversible matrix, one sample per line: line t starts as input
// t; step s updates line N-1-(s mod N) by the others' factors over its power-of-2 divisor,
// negating it when the last step's divisor is negative. c is N x (N+1), by line.
std::vector<int64_t> rxform_synthesis(const std::vector<int>& c, std::vector<int64_t> x)
{
    const int n = int(x.size());
    for (int s = 0; s <= n; s++) {
        const int t = n - 1 - s % n;
        int v = c[size_t(t * (n + 1) + s)];
        const bool neg = (s == n && v < 0);
        if (neg)
            v = -v;
        int k = 0;
        while ((1 << k) < v)
            k++;
        int64_t acc = v / 2;
        for (int i = 0; i < n; i++)
            if (i != t)
                acc += int64_t(c[size_t(i * (n + 1) + s)]) * x[size_t(i)];
        const int64_t u = (acc >= 0) ? (acc >> k) : -((-acc + (int64_t(1) << k) - 1) >> k);
        x[size_t(t)] = neg ? u - x[size_t(t)] : x[size_t(t)] - u;
    }
    return x;
}

// A reversible 3-line matrix: divisors (powers of 2, the last negative) on the diagonal
// positions each step updates.
const std::vector<int> rx = {1, 2, 1, 3,   // line 0: its divisor in step 2
                             3, 2, 1, 1,   // line 1: step 1
                             4, 1, 2, -8}; // line 2: steps 0 and 3

std::vector<std::vector<uint8_t>> rxform_segments(bool old_layout)
{
    const int n = 3;
    std::vector<double> stored;
    for (int a = 0; a < (old_layout ? n : n + 1); a++)
        for (int b = 0; b < (old_layout ? n + 1 : n); b++)
            stored.push_back(old_layout ? rx[size_t(a * (n + 1) + b)]
                                        : rx[size_t(b * (n + 1) + a)]);
    mcc_collection m;
    m.inputs = m.outputs = {0, 1, 2};
    m.coeff_index = 4;
    m.reversible = true;
    return header({{8, false}, {9, false}, {10, false}}, old_layout ? 0 : 2,
                  {mct_bytes(4, MCT_MATRIX, MCT_INT32, stored), mcc_bytes(0, {m}),
                   mco_bytes({0})});
}

} // namespace

TEST(MctTile, ReversibleMatrixInBothLayouts)
{
    for (bool old_layout : {false, true}) {
        SCOPED_TRACE(old_layout ? "old layout" : "segment layout");
        opened o(part2_geometry(3), rxform_segments(old_layout));
        EXPECT_EQ((std::vector<bool>{false, true, false, false}), kinds(o.tile, 0, 0));
        ivec c(12), active(3);
        ASSERT_TRUE(o.tile.get_mct_rxform_info(0, 0, c.data(), active.data()));
        EXPECT_EQ(rx, c);
        EXPECT_EQ((ivec{0, 1, 2}), active);
        const int want[] = {1};
        o.tile.set_components_of_interest(1, want);
        ASSERT_TRUE(o.tile.get_mct_rxform_info(0, 0, c.data(), active.data()));
        EXPECT_EQ(rx, c);
        EXPECT_EQ(1, active[0]);
        block_info bi;
        ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
        EXPECT_EQ(3, bi.block_in);
        EXPECT_EQ((ivec{1}), bi.outputs);

        // Gains: the synthesis factor from input j to output i, measured by the
        // test-side integer synthesis of a large impulse, over the output precision.
        const int64_t big = int64_t(1) << 30;
        for (int j = 0; j < 3; j++) {
            std::vector<int64_t> x(3, 0);
            x[size_t(j)] = big;
            std::vector<int64_t> y = rxform_synthesis(rx, x);
            double expected = 0.0;
            for (int i = 0; i < 3; i++) {
                const double a = double(y[size_t(i)]) / double(big);
                expected += std::pow(a / std::ldexp(1.0, 8 + i), 2.0);
            }
            expected *= std::ldexp(1.0, 16);
            EXPECT_NEAR(expected, o.tile.find_component_gain_info(j, false), 1e-6 * expected)
                << j;
        }
    }
}

TEST(MctTile, DependencyBlockPackedRowsAndOffsets)
{
    mcc_collection d;
    d.kind = MCC_DEPENDENCY;
    d.inputs = d.outputs = {0, 1, 2};
    d.coeff_index = 1;
    d.offset_index = 2;
    for (bool reversible : {true, false}) {
        SCOPED_TRACE(reversible ? "reversible" : "irreversible");
        d.reversible = reversible;
        // Rows 1 and 2: predictors, then the divisor when reversible.
        std::vector<double> tri = reversible ? std::vector<double>{-1, 2, 1, -3, 4}
                                             : std::vector<double>{0.5, -0.25, 1.5};
        auto segs = header({{8, false}, {8, false}, {8, false}}, 2,
                           {mct_bytes(1, MCT_TRIANGLE, MCT_FLOAT32, tri),
                            mct_bytes(2, MCT_OFFSETS, MCT_FLOAT32, {5, -6.5, 7}),
                            mcc_bytes(1, {d}), mco_bytes({1})});
        opened o(part2_geometry(3), segs);
        EXPECT_EQ((std::vector<bool>{false, false, true, false}), kinds(o.tile, 0, 0));
        bool rev = !reversible;
        fvec fc(5, -99.0f), fo(3, -99.0f);
        ivec ic(5, -99), io(3, -99), active(3, -99);
        ASSERT_TRUE(o.tile.get_mct_dependency_info(0, 0, rev, fc.data(), fo.data(), ic.data(),
                                                   io.data(), active.data()));
        EXPECT_EQ(reversible, rev);
        if (reversible) {
            EXPECT_EQ((ivec{-1, 2, 1, -3, 4}), ic);
            EXPECT_EQ((ivec{5, -6, 7}), io); // -6.5 rounds up
        } else {
            EXPECT_EQ((fvec{0.5f, -0.25f, 1.5f, -99.0f, -99.0f}), fc);
            EXPECT_EQ((fvec{5.0f, -6.5f, 7.0f}), fo);
        }
        EXPECT_EQ((ivec{0, 1, 2}), active);

        // Output 1 alone needs lines 0 and 1 only.
        const int want[] = {1};
        o.tile.set_components_of_interest(1, want);
        block_info bi;
        ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
        EXPECT_EQ(2, bi.block_in);
        EXPECT_EQ((ivec{0, 1}), bi.inputs);
        EXPECT_EQ((ivec{1}), bi.outputs);
        EXPECT_EQ(2, bi.stage_in);
        std::fill(ic.begin(), ic.end(), -99);
        std::fill(io.begin(), io.end(), -99);
        ASSERT_TRUE(o.tile.get_mct_dependency_info(0, 0, rev, fc.data(), fo.data(), ic.data(),
                                                   io.data(), active.data()));
        EXPECT_EQ(1, active[0]);
        if (reversible) {
            EXPECT_EQ((ivec{-1, 2, -99, -99, -99}), ic);
            EXPECT_EQ((ivec{5, -6, -99}), io);
        }
        // Gain of component 0 on output 1: its predictor (over the divisor when
        // reversible).
        const double a10 = reversible ? -1.0 / 2.0 : 0.5;
        EXPECT_DOUBLE_EQ(a10 * a10, o.tile.find_component_gain_info(0, true));
    }
}

TEST(MctTile, WaveletBlockAcrossFiveComponents)
{
    mcc_collection w;
    w.kind = MCC_DWT;
    w.inputs = w.outputs = {0, 1, 2, 3, 4};
    w.coeff_index = 1; // 5/3
    w.levels = 1;
    w.origin = 1;
    std::vector<cbd_comp> outs(5);
    opened o(part2_geometry(5), header(outs, 4, {mcc_bytes(2, {w}), mco_bytes({2})}));
    EXPECT_EQ((std::vector<bool>{false, false, false, true}), kinds(o.tile, 0, 0));
    bool rev = false, sym = false, ext = false;
    int levels = 0, lo = 0, hi = 0, steps = 0;
    const float* coeffs = nullptr;
    ivec ins(5, -1), outs_active(5, -1);
    const rvd_kernel_step_info* info = o.tile.get_mct_dwt_info(
        0, 0, rev, levels, lo, hi, steps, sym, ext, coeffs, ins.data(), outs_active.data());
    ASSERT_NE(nullptr, info);
    EXPECT_TRUE(rev);
    EXPECT_EQ(1, levels);
    EXPECT_EQ(1, lo);
    EXPECT_EQ(6, hi);
    ASSERT_EQ(2, steps);
    EXPECT_TRUE(sym);
    ASSERT_EQ(2, info[0].support_length);
    ASSERT_EQ(2, info[1].support_length);
    EXPECT_EQ((fvec{-0.5f, -0.5f, 0.25f, 0.25f}), fvec(coeffs, coeffs + 4));
    EXPECT_EQ((ivec{0, 1, 2, 3, 4}), ins);
    EXPECT_EQ((ivec{0, 1, 2, 3, 4}), outs_active);

    // Output 4 sits at canvas 5, an odd (high-pass) position at the end of [1, 6). Its
    // synthesis reads the low-pass samples at 4 and 6 (reflected onto 4) and its own
    // high-pass value; the low-pass sample at 4 is itself updated from the high-pass
    // values at 3 and 5. Block inputs are the low-pass positions 2, 4, then the
    // high-pass 1, 3, 5: so inputs 1, 3 and 4.
    const int want[] = {4};
    o.tile.set_components_of_interest(1, want);
    block_info bi;
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    std::fill(ins.begin(), ins.end(), -1);
    ASSERT_NE(nullptr, o.tile.get_mct_dwt_info(0, 0, rev, levels, lo, hi, steps, sym, ext,
                                               coeffs, ins.data(), outs_active.data()));
    EXPECT_EQ((ivec{1, 3, 4, -1, -1}), ins);
    EXPECT_EQ(4, outs_active[0]);
    EXPECT_EQ((ivec{1, 3, 4}), bi.stage_inputs);
}

TEST(MctTile, TileHeadersCarryTheirOwnStages)
{
    // Two tiles. The main header's stage is a 2x2 matrix; tile 1 replaces its MCC with a
    // dependency block and its matrix values; a third tile header turns the transform off.
    fake_cache_source src;
    mcc_collection m;
    m.inputs = m.outputs = {0, 1};
    m.coeff_index = 1;
    mcc_collection d;
    d.kind = MCC_DEPENDENCY;
    d.inputs = d.outputs = {0, 1};
    d.coeff_index = 2;
    std::vector<std::vector<uint8_t>> segs =
        header({{8, false}, {8, false}}, 2,
               {mct_bytes(1, MCT_MATRIX, MCT_FLOAT32, {1, 2, 3, 4}), mcc_bytes(1, {m}),
                mco_bytes({1})});
    std::vector<uint8_t> main = build_stream(part2_geometry(2, 96, 32), segs, false);
    src.main_header.bytes = main;
    src.main_header.complete = true;
    auto bin = [](std::vector<std::vector<uint8_t>> v) {
        fake_cache_source::bin b;
        for (auto& s : v)
            b.bytes.insert(b.bytes.end(), s.begin(), s.end());
        b.complete = true;
        return b;
    };
    src.tile_headers[0] = bin({});
    src.tile_headers[1] = bin({mct_bytes(1, MCT_MATRIX, MCT_FLOAT32, {5, 6, 7, 8}),
                               mct_bytes(2, MCT_TRIANGLE, MCT_FLOAT32, {0.75}),
                               mcc_bytes(1, {d})});
    src.tile_headers[2] = bin({mco_bytes({})});
    rvd_codestream cs;
    cs.create(&src);
    cs.set_persistent();
    std::vector<std::vector<bool>> expected_kinds = {
        {true, false, false, false}, {false, false, true, false}, null_kind};
    for (int t = 0; t < 3; t++) {
        SCOPED_TRACE(t);
        rvd_tile tile = cs.open_tile(rvd_coords(0, t));
        EXPECT_EQ(expected_kinds[size_t(t)], kinds(tile, 0, 0));
        fvec c(4, 0.0f);
        if (t == 0) {
            ASSERT_TRUE(tile.get_mct_matrix_info(0, 0, c.data()));
            EXPECT_EQ((fvec{1, 2, 3, 4}), c);
        } else if (t == 1) {
            bool rev = true;
            ASSERT_TRUE(tile.get_mct_dependency_info(0, 0, rev, c.data()));
            EXPECT_FALSE(rev);
            EXPECT_EQ(0.75f, c[0]);
        } else {
            block_info bi;
            ASSERT_TRUE(query_block(tile, 0, 0, bi));
            EXPECT_EQ((ivec{128, 128}), bi.rev_offsets);
        }
        tile.close();
    }
    // The main header's own description is untouched by the tiles'.
    rvd_tile tile = cs.open_tile(rvd_coords(0, 0));
    fvec c(4, 0.0f);
    ASSERT_TRUE(tile.get_mct_matrix_info(0, 0, c.data()));
    EXPECT_EQ((fvec{1, 2, 3, 4}), c);
    tile.close();
    cs.destroy();
}

TEST(MctTile, ComponentGainsThroughTheTile)
{
    // Matrix gains: sum over outputs of (coefficient / 2^p_out)^2, times 2^(2 p_in).
    opened o(part2_geometry(3), matrix_segments());
    const int in_pos[3] = {1, 2, 0}; // component c is block input in_pos[c]
    const int prec[4] = {8, 9, 10, 12};
    for (int c = 0; c < 3; c++) {
        double expected = 0.0;
        for (int out = 0; out < 4; out++)
            expected += std::pow(matrix_4x3[size_t(out * 3 + in_pos[c])] /
                                     std::ldexp(1.0, prec[out]),
                                 2.0);
        expected *= std::ldexp(1.0, 16);
        EXPECT_NEAR(expected, o.tile.find_component_gain_info(c, false), 1e-6 * expected) << c;
        EXPECT_NEAR(expected, o.tile.find_component_gain_info(c, true), 1e-6 * expected) << c;
    }
    const int want[] = {0};
    o.tile.set_components_of_interest(1, want);
    // Component 2 is block input 0: output 0 only now.
    EXPECT_NEAR(0.25, o.tile.find_component_gain_info(2, true), 1e-9);
    EXPECT_EQ(0.0, o.tile.find_component_gain_info(-1, true));

    // Part-1 colour transforms: the fixed weights over 2^(2p) of each output, p = 8.
    siz_geometry g;
    g.comps.resize(3);
    opened ict(g, {segment(0xFF52, {0, 0, 0, 1, 1, 0, 4, 4, 0, 0}),
                   segment(0xFF5C, {0x22, 0x40, 0x00})});
    // Cached as floats.
    EXPECT_FLOAT_EQ(0.11842978348023186f + 3.139984f,
                    float(ict.tile.find_component_gain_info(1, false)));
    opened rct(g, {cod_bytes(1), qcd_segment(0)});
    EXPECT_DOUBLE_EQ(0.5625 + 0.0625 + 0.0625, rct.tile.find_component_gain_info(2, false));
    opened plain(g, {cod_bytes(0), qcd_segment(0)});
    EXPECT_DOUBLE_EQ(1.0, plain.tile.find_component_gain_info(2, false));
}

TEST(MctTile, StageWithNothingNeededStillAnswersItsFirstBlock)
{
    // Stage 1 passes three components on; stage 2 passes them on to outputs 0-2 and
    // makes outputs 3 and 4 constant. Asking for output 4 alone leaves stage 1 idle: it
    // must still answer block 0 (with nothing to do) so that a walk over the stages
    // reaches stage 2.
    mcc_collection first, second;
    first.inputs = first.outputs = {0, 1, 2};
    second.inputs = {0, 1, 2};
    second.outputs = {0, 1, 2, 3, 4};
    second.offset_index = 1;
    auto segs = header({{8, false}, {8, false}, {8, false}, {8, false}, {10, false}}, 2,
                       {mct_bytes(1, MCT_OFFSETS, MCT_INT16, {0, 0, 0, 9, 300}),
                        mcc_bytes(1, {first}), mcc_bytes(2, {second}), mco_bytes({1, 2})});
    opened o(part2_geometry(3), segs, false, 4, 1);
    for (int c = 0; c < 3; c++)
        EXPECT_FALSE(o.tile.access_component(c).exists()) << c;
    block_info bi;
    ASSERT_TRUE(query_block(o.tile, 0, 0, bi));
    EXPECT_EQ(0, bi.stage_in);
    EXPECT_EQ(0, bi.stage_out);
    EXPECT_EQ(0, bi.block_in);
    EXPECT_EQ(0, bi.block_out);
    EXPECT_EQ(null_kind, kinds(o.tile, 0, 0));
    EXPECT_FALSE(query_block(o.tile, 0, 1, bi));
    ASSERT_TRUE(query_block(o.tile, 1, 0, bi));
    EXPECT_EQ(0, bi.stage_in);
    EXPECT_EQ(1, bi.stage_out);
    EXPECT_EQ(0, bi.block_in);
    EXPECT_EQ((ivec{0}), bi.outputs);
    EXPECT_EQ((ivec{300}), bi.rev_offsets);
    EXPECT_FALSE(query_block(o.tile, 2, 0, bi));
    EXPECT_EQ(0.0, o.tile.find_component_gain_info(0, true));

    // The network builds on it without any codestream component: the output is its
    // offset everywhere.
    memory_source src(build_stream(part2_geometry(3), segs));
    rvd_codestream cs;
    cs.create(&src);
    cs.apply_input_restrictions(4, 1, 0, 0, nullptr);
    std::vector<multi_test::plane> planes =
        multi_test::decode_through_network(cs, multi_test::network_options());
    cs.destroy();
    ASSERT_EQ(1u, planes.size());
    EXPECT_EQ(std::vector<int32_t>(64 * 48, 300), planes[0].samples);
}
