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

} // namespace

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

// Block descriptions a stage refuses, with their texts, beside the nearest ones it builds.
TEST(MctStage, BlockDescriptionsOutsideTheRulesAreRefused)
{
    const std::string counts = lead + "Except for irreversible matrix-based decorrelation transforms, all "
        "multi-component transform blocks described by the `Mstage_blocks' and `Mstage_xforms' parameter "
        "attributes must produce exactly one output component for each of their input components.";
    const std::string far_origin = lead + "Multi-component DWT transform block has a canvas origin (the last "
        "field of its `Mstage_xforms' record) of ";
    const struct {
        const char* xform;
        int outs;
        std::string error; // empty: builds
    } cases[] = {
        {"MATRIX,0,0,0,0", 4, ""},      // irreversible: 3 in, 4 out
        {"MATRIX,0,0,1,0", 4, counts},  // reversible: counts must agree
        {"DEP,0,0,0,0", 4, counts},
        {"DWT,1,0,1,268435456", 3, ""}, // 2^28
        {"DWT,1,0,1,-268435456", 3, ""},
        {"DWT,1,0,1,268435457", 3, far_origin + "268435457, whose magnitude exceeds the largest supported value of 268435456."},
        {"DWT,1,0,1,-268435457", 3, far_origin + "-268435457, whose magnitude exceeds the largest supported value of 268435456."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xform);
        stage_fixture f(3, c.outs);
        one_block_stage(f, 3, c.outs, c.xform);
        if (c.error.empty()) {
            f.create();
            EXPECT_NE(nullptr, f.first);
        } else {
            EXPECT_EQ(c.error, f.create_error());
        }
    }
}
