#include "codec/core/rv_codestream.h"
#include "codec/core/rv_mct_stage.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/mct_tree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

const std::string lead = "Ravade Core Error:\n";

// A parameter tree plus codestream and output component records for `create_stages`.
struct stage_fixture {
    std::unique_ptr<siz_params> root;
    std::vector<rv_comp_info> comps;
    std::vector<rv_output_comp_info> outs;
    std::unique_ptr<rv_mct_stage> chain;
    rv_mct_stage* first = nullptr;
    rv_mct_stage* last = nullptr;

    stage_fixture(int num_comps, int num_outs, int num_tiles = 2)
        : root(make_mct_tree(num_tiles, num_comps)), comps(size_t(num_comps)),
          outs(size_t(num_outs))
    {
        set_simple_siz(root.get(), num_comps);
        for (int c = 0; c < num_comps; c++)
            comps[size_t(c)].precision = 8;
        for (int o = 0; o < num_outs; o++) {
            outs[size_t(o)].precision = 8 + o;
            outs[size_t(o)].is_signed = (o % 2) != 0;
            outs[size_t(o)].apparent_idx = o;
            outs[size_t(o)].from_apparent = o;
        }
    }
    void parse(std::initializer_list<const char*> texts)
    {
        for (const char* t : texts)
            ASSERT_TRUE(root->parse_string(t)) << t;
    }
    void create(int tile = -1)
    {
        chain.reset();
        rv_mct_stage::create_stages(first, last, root.get(), tile, int(comps.size()),
                                    comps.data(), int(outs.size()), outs.data());
        chain.reset(first);
    }
    std::string create_error(int tile = -1)
    {
        return error_text([&] { create(tile); });
    }
    // Inputs the last stage's block 0 needs, as block input positions.
    std::vector<int> needed_inputs(const rv_mct_stage* s, int b = 0) const
    {
        std::vector<int> v;
        const rv_mct_block& blk = s->blocks[size_t(b)];
        for (int i = 0; i < blk.num_inputs; i++)
            if (blk.input_required[size_t(i)])
                v.push_back(i);
        return v;
    }
};

// One stage of one block over components 0..n-1.
void one_block_stage(stage_fixture& f, int n_in, int n_out, const std::string& xform)
{
    f.parse({"Mnum_stages=1", "Mstages=1"});
    std::string ins = "Mstage_inputs:I1={0," + std::to_string(n_in - 1) + "}";
    std::string outs = "Mstage_outputs:I1={0," + std::to_string(n_out - 1) + "}";
    std::string coll =
        "Mstage_collections:I1={" + std::to_string(n_in) + "," + std::to_string(n_out) + "}";
    std::string xf = "Mstage_xforms:I1={" + xform + "}";
    f.parse({ins.c_str(), outs.c_str(), coll.c_str(), xf.c_str()});
}

} // namespace

TEST(MctStage, MatrixStageStructureAndNoStages)
{
    {
        stage_fixture f(3, 3);
        f.parse({"Mnum_stages=0"});
        f.create();
        EXPECT_EQ(nullptr, f.first);
        EXPECT_EQ(nullptr, f.last);
    }
    stage_fixture f(3, 4);
    one_block_stage(f, 3, 4, "MATRIX,1,2,0,0");
    f.parse({"Mmatrix_size:I1=12", "Mmatrix_coeffs:I1=1,0,0,0,1,0,0,0,1,1,1,1",
             "Mvector_size:I2=4", "Mvector_coeffs:I2=10,20,30,40"});
    f.create();
    ASSERT_NE(nullptr, f.first);
    EXPECT_EQ(f.first, f.last);
    const rv_mct_stage& s = *f.first;
    EXPECT_EQ(3, s.num_inputs);
    EXPECT_EQ(4, s.num_outputs);
    ASSERT_EQ(1, s.num_blocks);
    const rv_mct_block& b = s.blocks[0];
    EXPECT_EQ((std::vector<int>{0, 1, 2}), b.inputs);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), b.outputs);
    EXPECT_FALSE(b.is_null_transform);
    EXPECT_FALSE(b.is_reversible);
    EXPECT_NE(nullptr, b.matrix_params);
    EXPECT_NE(nullptr, b.offset_params);
    EXPECT_EQ(nullptr, b.triang_params);
    EXPECT_EQ(nullptr, b.old_rxform_params);
    for (int o = 0; o < 4; o++) {
        const rv_mct_output& out = s.output_comps[size_t(o)];
        EXPECT_EQ(&s.blocks[0], out.block);
        EXPECT_EQ(o, out.block_output_idx);
        EXPECT_EQ(8 + o, out.precision);
        EXPECT_EQ(o % 2 != 0, out.is_signed);
        // Outputs beyond the inputs keep the last input's component.
        EXPECT_EQ(&f.comps[size_t(std::min(o, 2))], out.size_ref) << o;
        EXPECT_TRUE(out.is_required);
    }
    EXPECT_EQ(4, s.num_apparent_outputs);
    EXPECT_EQ(3, s.num_required_inputs);
}

TEST(MctStage, InputRangesAndTwoStageChain)
{
    // Stage 1 reads 0, 1, 2 as {0,2} and writes through two blocks; stage 2 swaps pairs.
    stage_fixture f(3, 3);
    f.parse({"Mnum_stages=2", "Mstages=1,2", "Mstage_inputs:I1={0,1},{2,2}",
             "Mstage_outputs:I1={0,2}", "Mstage_collections:I1={2,2},{1,1}",
             "Mstage_xforms:I1={DEP,3,0,0,0},{MATRIX,0,0,0,0}", "Mtriang_size:I3=1",
             "Mtriang_coeffs:I3=0.5", "Mstage_inputs:I2={2,2},{0,1}",
             "Mstage_outputs:I2={0,2}", "Mstage_collections:I2={3,3}",
             "Mstage_xforms:I2={MATRIX,0,0,0,0}"});
    f.create();
    ASSERT_NE(nullptr, f.first);
    ASSERT_EQ(f.last, f.first->next_stage);
    EXPECT_EQ(f.first, f.last->prev_stage);
    EXPECT_EQ(2, f.first->num_blocks);
    EXPECT_EQ((std::vector<int>{2}), f.first->blocks[1].inputs);
    EXPECT_NE(nullptr, f.first->blocks[0].triang_params);
    EXPECT_TRUE(f.first->blocks[1].is_null_transform);
    EXPECT_EQ((std::vector<int>{2, 0, 1}), f.last->blocks[0].inputs);
    // Sizes follow the inputs through both stages.
    EXPECT_EQ(&f.comps[2], f.last->output_comps[0].size_ref);
    EXPECT_EQ(&f.comps[0], f.last->output_comps[1].size_ref);

    // Asking for the last output only: the null block of stage 2 needs its input 2 (stage
    // input 1), so stage 1's dependency block needs both inputs up to output 1.
    f.last->apply_output_restrictions(f.outs.data(), 1, std::vector<int>{2}.data());
    EXPECT_EQ((std::vector<int>{2}), f.needed_inputs(f.last));
    EXPECT_EQ((std::vector<int>{-1, 0, -1}), f.last->input_required_indices);
    EXPECT_EQ(1, f.first->num_apparent_outputs);
    EXPECT_EQ((std::vector<int>{0, 1}), f.needed_inputs(f.first, 0));
    EXPECT_TRUE(f.needed_inputs(f.first, 1).empty());
    EXPECT_EQ((std::vector<int>{0, 1, -1}), f.first->input_required_indices);
    // A count without a list keeps the first apparent outputs: output 0 is stage input 2,
    // which only stage 1's null block writes.
    f.last->apply_output_restrictions(f.outs.data(), 1, nullptr);
    EXPECT_EQ((std::vector<int>{0}), f.needed_inputs(f.last));
    EXPECT_TRUE(f.needed_inputs(f.first, 0).empty());
    EXPECT_EQ((std::vector<int>{0}), f.needed_inputs(f.first, 1));
    EXPECT_EQ(1, f.first->num_required_inputs);
}

TEST(MctStage, WaveletBlockNeedsReflectedSupports)
{
    // 5/3 across 5 components, one level. Block inputs: low-pass (even positions) first,
    // then high-pass (odd positions). Positions o..o+4.
    // Origin 0: output 4 is position 4 (even): low at 4 and high at 3 and 5 -> 5 reflects
    // to 3, so inputs {low 2, high 1} = {2, 4}.
    // Origin 1: output 4 is position 5 (odd): low at 4 and 6 -> 6 reflects to 4, high at
    // 3, 5 (and 7 -> 3) = {low 4 -> input 1, high 3 -> input 3, high 5 -> input 4}.
    const struct {
        int origin;
        std::vector<int> needed;
    } cases[] = {{0, {2, 4}}, {1, {1, 3, 4}}};
    for (const auto& c : cases) {
        stage_fixture f(5, 5);
        one_block_stage(f, 5, 5, "DWT,1,0,1," + std::to_string(c.origin));
        f.create();
        ASSERT_NE(nullptr, f.first);
        const rv_mct_block& b = f.first->blocks[0];
        EXPECT_FALSE(b.is_null_transform);
        EXPECT_EQ(1, b.num_dwt_levels);
        EXPECT_EQ(c.origin, b.dwt_canvas_origin);
        EXPECT_TRUE(b.is_reversible);
        EXPECT_EQ(-1, b.dwt_low_synth_min);
        EXPECT_EQ(1, b.dwt_low_synth_max);
        EXPECT_EQ(-2, b.dwt_high_synth_min);
        EXPECT_EQ(2, b.dwt_high_synth_max);
        EXPECT_EQ(5, b.num_required_inputs); // unrestricted
        f.last->apply_output_restrictions(f.outs.data(), 1, std::vector<int>{4}.data());
        EXPECT_EQ(c.needed, f.needed_inputs(f.last)) << c.origin;
    }
    // Two levels, origin 0, output 0 (position 0): level 1 needs low 0 and high 1 (-1
    // reflects to 1); level 2 over positions 0..2 needs low 0 and high 1. Inputs: two
    // low-pass (0, 1), one level-2 high-pass (2), two level-1 high-pass (3, 4) -> {0, 2, 3}.
    stage_fixture f(5, 5);
    one_block_stage(f, 5, 5, "DWT,1,0,2,0");
    f.create();
    ASSERT_NE(nullptr, f.first);
    f.last->apply_output_restrictions(f.outs.data(), 1, std::vector<int>{0}.data());
    EXPECT_EQ((std::vector<int>{0, 2, 3}), f.needed_inputs(f.last));
}

namespace {

// Test-side 5/3 synthesis without rounding over positions [s, e), whole-sample symmetric
// extension: even samples first, then odd ones.
std::vector<double> synth53(const std::vector<double>& y, int s, int e)
{
    auto at = [&](const std::vector<double>& v, int p) {
        while (p < s || p >= e)
            p = (p < s) ? 2 * s - p : 2 * e - p - 2;
        return v[size_t(p - s)];
    };
    std::vector<double> x(y);
    if (e - s == 1) { // a lone odd sample is a high-pass one, halved
        if ((s & 1) != 0)
            x[0] = y[0] / 2.0;
        return x;
    }
    for (int p = s; p < e; p++)
        if ((p & 1) == 0)
            x[size_t(p - s)] = y[size_t(p - s)] - (at(y, p - 1) + at(y, p + 1)) / 4.0;
    for (int p = s; p < e; p++)
        if ((p & 1) != 0)
            x[size_t(p - s)] = y[size_t(p - s)] + (at(x, p - 1) + at(x, p + 1)) / 2.0;
    return x;
}

// Outputs of an n-component block with `levels` levels at `origin` when block input `in`
// is 1 and the others 0.
std::vector<double> dwt_response(int n, int levels, int origin, int in)
{
    std::vector<int> s = {origin}, e = {origin + n};
    for (int l = 1; l < levels; l++) {
        s.push_back((s.back() + 1) / 2);
        e.push_back((e.back() + 1) / 2);
    }
    int fs = (s.back() + 1) / 2, fe = (e.back() + 1) / 2;
    // Locate the input: low-pass positions of the final range, then odd positions from
    // the coarsest level to the finest.
    int lev = levels, pos = 0, k = in;
    if (k < fe - fs)
        pos = fs + k;
    else {
        k -= fe - fs;
        for (lev = levels - 1; lev >= 0; lev--) {
            int first_odd = s[size_t(lev)] | 1;
            int num_odd = (e[size_t(lev)] - first_odd + 1) / 2;
            if (k < num_odd) {
                pos = first_odd + 2 * k;
                break;
            }
            k -= num_odd;
        }
    }
    std::vector<double> low(size_t(fe - fs), 0.0);
    if (lev == levels)
        low[size_t(pos - fs)] = 1.0;
    for (int l = levels - 1; l >= 0; l--) {
        std::vector<double> y(size_t(e[size_t(l)] - s[size_t(l)]), 0.0);
        for (int p = s[size_t(l)]; p < e[size_t(l)]; p++)
            if ((p & 1) == 0)
                y[size_t(p - s[size_t(l)])] = low[size_t(p / 2 - (s[size_t(l)] + 1) / 2)];
        if (l == lev)
            y[size_t(pos - s[size_t(l)])] = 1.0;
        low = synth53(y, s[size_t(l)], e[size_t(l)]);
    }
    return low;
}

} // namespace

TEST(MctStage, WaveletGainsFollowTheSynthesis)
{
    // Three components, one level: the high-pass input (block input 2) gives -1/2, 1/2,
    // -1/2 and the first low-pass input 1, 1/2, 0.
    {
        stage_fixture f(3, 3);
        for (auto& o : f.outs)
            o.precision = 8;
        one_block_stage(f, 3, 3, "DWT,1,0,1,0");
        f.create();
        ASSERT_NE(nullptr, f.first);
        EXPECT_NEAR(0.75, rv_mct_component_gain(f.first, 2, 8, 3, 0, f.outs.data(), 3, false),
                    1e-6);
        EXPECT_NEAR(1.25, rv_mct_component_gain(f.first, 0, 8, 3, 0, f.outs.data(), 3, false),
                    1e-6);
    }
    // Longer blocks (beyond the supports, where mirror images are handled separately),
    // against the test's own lifting.
    for (int n : {5, 13, 20})
        for (int levels : {1, 2, 3})
            for (int origin : {0, 1}) {
                stage_fixture f(n, n);
                for (auto& o : f.outs)
                    o.precision = 8;
                one_block_stage(f, n, n,
                                "DWT,1,0," + std::to_string(levels) + "," +
                                    std::to_string(origin));
                f.create();
                ASSERT_NE(nullptr, f.first);
                for (int c = 0; c < n; c++) {
                    double want = 0.0;
                    for (double w : dwt_response(n, levels, origin, c))
                        want += w * w;
                    EXPECT_NEAR(want,
                                rv_mct_component_gain(f.first, c, 8, n, 0, f.outs.data(), n,
                                                      false),
                                1e-5)
                        << n << " " << levels << " " << origin << " " << c;
                }
            }
}

TEST(MctStage, RandomDescriptionsBuildOrFailCleanly)
{
    // Random stage descriptions over small component counts: each either builds a chain
    // whose records are consistent or raises a codec error; none crashes.
    std::mt19937 rng(113);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const char* const kinds[] = {"DEP", "MATRIX", "DWT", "MAT"};
    int built = 0, refused = 0;
    for (int iter = 0; iter < 300; iter++) {
        const int n = pick(1, 6);
        stage_fixture f(n, pick(1, 8));
        const int stages = pick(1, 3);
        std::string mstages = "Mstages=";
        for (int s = 0; s < stages; s++)
            mstages += (s ? "," : "") + std::to_string(s + 1);
        f.parse({("Mnum_stages=" + std::to_string(stages)).c_str(), mstages.c_str()});
        // Half the sets chain well-formed single-block stages, so that many build.
        const bool structured = pick(0, 1) != 0;
        int prev_outputs = n;
        for (int s = 1; s <= stages; s++) {
            const int blocks = structured ? 1 : pick(1, 2);
            std::string ins, outs, coll, xf;
            for (int b = 0; b < blocks; b++) {
                int ni = pick(1, 4), no = pick(1, 4);
                int a = pick(0, 5), c = pick(0, 5);
                int kind = pick(0, 3);
                if (structured) {
                    a = c = 0;
                    ni = prev_outputs;
                    no = (kind == 1) ? pick(1, 4) : ni;
                    prev_outputs = no;
                }
                ins += std::string(b ? "," : "") + "{" + std::to_string(a) + "," +
                       std::to_string(a + ni - 1) + "}";
                outs += std::string(b ? "," : "") + "{" + std::to_string(c) + "," +
                        std::to_string(c + no - 1) + "}";
                coll += std::string(b ? "," : "") + "{" + std::to_string(ni) + "," +
                        std::to_string(no) + "}";
                xf += std::string(b ? "," : "") + "{" + kinds[kind] + "," +
                      std::to_string(pick(0, 2)) + "," + std::to_string(pick(0, 1) * 3) + "," +
                      std::to_string(pick(0, 2)) + "," + std::to_string(pick(0, 3)) + "}";
            }
            const std::string t = ":I" + std::to_string(s) + "=";
            f.parse({("Mstage_inputs" + t + ins).c_str(), ("Mstage_outputs" + t + outs).c_str(),
                     ("Mstage_collections" + t + coll).c_str(),
                     ("Mstage_xforms" + t + xf).c_str()});
        }
        f.parse({"Mmatrix_size:I1=4", "Mmatrix_coeffs:I1=1,2,3,4", "Mtriang_size:I2=1",
                 "Mtriang_coeffs:I2=0.5", "Mvector_size:I3=2", "Mvector_coeffs:I3=1,2"});
        try {
            f.create();
        } catch (const codec_error&) {
            refused++;
            EXPECT_EQ(nullptr, f.chain);
            continue;
        }
        built++;
        for (rv_mct_stage* s = f.first; s != nullptr; s = s->next_stage) {
            ASSERT_EQ(size_t(s->num_outputs), s->output_comps.size());
            ASSERT_EQ(size_t(s->num_inputs), s->input_required_indices.size());
            for (const rv_mct_block& b : s->blocks)
                for (int j = 0; j < b.num_outputs; j++)
                    EXPECT_EQ(&b, s->output_comps[size_t(b.outputs[size_t(j)])].block);
            if (s->next_stage == nullptr) {
                EXPECT_EQ(f.last, s);
            }
        }
        for (int c = 0; c < n; c++)
            EXPECT_TRUE(std::isfinite(
                rv_mct_component_gain(f.first, c, 8, n, 0, f.outs.data(), int(f.outs.size()),
                                      true)));
    }
    EXPECT_GT(built, 0);
    EXPECT_GT(refused, 0);
}
