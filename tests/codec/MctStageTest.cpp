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

TEST(MctStage, ReversibleMatrixInTileWithoutCmctBecomesOldLayout)
{
    stage_fixture f(3, 3);
    one_block_stage(f, 3, 3, "MATRIX,1,0,1,0");
    f.parse({"Mmatrix_size:I1=12", "Mmatrix_coeffs:I1=1,0,0,0,1,0,0,0,1,1,1,1"});
    f.root->access_cluster("COD")->set("Cmct", 0, 0, 2);
    f.create();
    ASSERT_NE(nullptr, f.first);
    EXPECT_NE(nullptr, f.first->blocks[0].matrix_params);
    EXPECT_EQ(nullptr, f.first->blocks[0].old_rxform_params);

    // Tile 1 has its own COD without the flag and inherits the main header's stage: the
    // old layout applies to the tile, but the shared record is left for the other tiles.
    f.root->access_cluster("COD")->access_relation(1, -1, 0, false)->set("Cmct", 0, 0, 0);
    f.create(1);
    ASSERT_NE(nullptr, f.first);
    EXPECT_TRUE(f.first->blocks[0].is_reversible);
    EXPECT_EQ(nullptr, f.first->blocks[0].matrix_params);
    EXPECT_NE(nullptr, f.first->blocks[0].old_rxform_params);
    int kind = 0;
    rvd_params* mcc = f.root->access_cluster("MCC");
    ASSERT_TRUE(mcc->access_relation(-1, -1, 1, true)->get("Mstage_xforms", 0, 0, kind));
    EXPECT_EQ(9, kind);
    f.create(0);
    ASSERT_NE(nullptr, f.first);
    EXPECT_NE(nullptr, f.first->blocks[0].matrix_params);

    // With its own description the tile's record is rewritten.
    f.parse({"Mstage_inputs:T1I1={0,2}", "Mstage_outputs:T1I1={0,2}",
             "Mstage_collections:T1I1={3,3}", "Mstage_xforms:T1I1={MATRIX,1,0,1,0}"});
    f.create(1);
    ASSERT_NE(nullptr, f.first);
    EXPECT_NE(nullptr, f.first->blocks[0].old_rxform_params);
    rvd_params* own = mcc->access_relation(1, -1, 1, true);
    ASSERT_EQ(1, own->get_tile_idx());
    ASSERT_TRUE(own->get("Mstage_xforms", 0, 0, kind));
    EXPECT_EQ(1000, kind);
}

TEST(MctStage, MalformedDescriptionsRaiseTheirTexts)
{
    struct bad_case {
        std::vector<const char*> texts;
        int num_outs;
        std::string error;
    };
    const std::string constraint =
        "Multi-component transform does not satisfy the constraints imposed by Part 2 of the "
        "JPEG2000 standard.  The first transform stage must touch every codestream image "
        "component (no more and no less), while subsequent stages must touch every component "
        "produced by the previous stage.";
    const bad_case cases[] = {
        {{"Mnum_stages=2", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={MATRIX,0,0,0,0}"},
         3,
         "Unable to access the description of stage 1 (starting from 0) in the "
         "multi-component transform for some tile (or in the main header).  Either the "
         "`Mstages' attribute contains insufficient entries, or no `Mstage_blocks' attribute "
         "exists with the instance identifier provided by `Mstages'."},
        // Input 1 left out.
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,0},{2,2}",
          "Mstage_outputs:I1={0,1}", "Mstage_collections:I1={2,2}",
          "Mstage_xforms:I1={MATRIX,0,0,0,0}"},
         3, constraint},
        // A fourth input the codestream does not have.
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,3}", "Mstage_outputs:I1={0,3}",
          "Mstage_collections:I1={4,4}", "Mstage_xforms:I1={MATRIX,0,0,0,0}"},
         4, constraint},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,1},{1,1}",
          "Mstage_collections:I1={2,2},{1,1}", "Mstage_xforms:I1={MATRIX,0,0,0,0},{MATRIX,0,0,0,0}"},
         3,
         "Multi-component transform stage contains multiple transform blocks which provide "
         "different definitions for the same stage output component."},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,3}",
          "Mstage_collections:I1={3,4}", "Mstage_xforms:I1={DEP,0,0,0,0}"},
         4,
         "Except for irreversible matrix-based decorrelation transforms, all multi-component "
         "transform blocks described by the `Mstage_blocks' and `Mstage_xforms' parameter "
         "attributes must produce exactly one output component for each of their input "
         "components."},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={MATRIX,4,0,1,0}",
          "Mmatrix_size:I4=9", "Mmatrix_coeffs:I4=1"},
         3,
         "Unable to access the matrix parameters identified by an `Mstage_xforms' parameter "
         "attribute.  Specifically, there should be an `Mmatrix_size' attribute, with instance "
         "index 4 and value 12, corresponding to the total number of coefficients required to "
         "describe the irreversible decorrelation transform or reversible SERM transform in "
         "question -- note that reversible transforms are described by M*(M+1) coefficients, "
         "where M is the number of input (or output) components."},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={DEP,5,0,0,0}"},
         3,
         "Unable to access the matrix parameters identified by an `Mstage_xforms' parameter "
         "attribute.  Specifically, there should be an `Mtriang_size' attribute, with instance "
         "index 5 and value 3, corresponding to the total number of coefficients in the lower "
         "triangular matrix which describes the dependency transform in question.  For "
         "irreversible dependency transforms, the matrix should not contain any diagonal "
         "entries.  For reversible dependency transforms, however, all but the first diagonal "
         "entries should also be included, as normalization factors for the integer "
         "predictors."},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={MATRIX,0,6,0,0}",
          "Mvector_size:I6=2", "Mvector_coeffs:I6=1"},
         3,
         "Unable to access the offset parameters identified by an `Mstage_xforms' parameter "
         "attribute.  Specifically, there should be an `Mvector_size' attribute, with instance "
         "index 6 and value 3, corresponding to the number of output components produced by "
         "the multi-component transform block in question."},
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,3}",
          "Mstage_collections:I1={3,4}", "Mstage_xforms:I1={MATRIX,0,0,0,0}"},
         3,
         "The last stage of the multi-component transform may not produce more output "
         "components than the number specified in the CBD marker segment (i.e. the "
         "`Mcomponents' value)."},
        // Output 1 written by no block and not derivable from any input.
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,0},{2,3}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={MATRIX,0,0,0,0}"},
         4,
         "Although not strictly illegal, the present Part-2 codestream contains insufficient "
         "information to determine the dimensions of all image components output by the "
         "multi-component transform, based on main header marker segments.  The fact that "
         "this is not illegal is almost certainly an oversight in the development of the "
         "Part-2 syntax, but Ravade cannot work with such codestreams."},
        // A wavelet origin whose reflected positions would overflow.
        {{"Mnum_stages=1", "Mstages=1", "Mstage_inputs:I1={0,2}", "Mstage_outputs:I1={0,2}",
          "Mstage_collections:I1={3,3}", "Mstage_xforms:I1={DWT,1,0,1,1090519040}"},
         3,
         "Multi-component DWT transform block has a canvas origin (the last field of its "
         "`Mstage_xforms' record) of 1090519040, whose magnitude exceeds the largest "
         "supported value of 268435456."},
    };
    for (const bad_case& c : cases) {
        stage_fixture f(3, c.num_outs);
        for (const char* t : c.texts)
            ASSERT_TRUE(f.root->parse_string(t)) << t;
        EXPECT_EQ(lead + c.error, f.create_error()) << c.texts[4];
        EXPECT_EQ(nullptr, f.chain);
    }
}

TEST(MctStage, NullBlockWithOffsetsNeedsMatchingInputsOnly)
{
    // {MATRIX, 0, ...} carries no coefficients: input j feeds output j, output 3 is constant.
    stage_fixture f(3, 4);
    one_block_stage(f, 3, 4, "MATRIX,0,2,0,0");
    f.parse({"Mvector_size:I2=4", "Mvector_coeffs:I2=1,2,3,4"});
    f.create();
    ASSERT_NE(nullptr, f.first);
    const rv_mct_block& b = f.first->blocks[0];
    EXPECT_TRUE(b.is_null_transform);
    EXPECT_EQ(nullptr, b.matrix_params);
    f.last->apply_output_restrictions(f.outs.data(), 2, std::vector<int>{1, 3}.data());
    EXPECT_EQ((std::vector<int>{1}), f.needed_inputs(f.last));
    EXPECT_EQ(2, f.first->blocks[0].num_required_outputs);
    EXPECT_EQ(1, f.first->output_comps[3].block_required_idx);
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

TEST(MctStage, ComponentGains)
{
    std::vector<rv_output_comp_info> outs(3);
    for (int o = 0; o < 3; o++) {
        outs[size_t(o)].precision = 8;
        outs[size_t(o)].apparent_idx = o;
    }
    // No transform: (1/2^p)^2 (2^q)^2.
    EXPECT_DOUBLE_EQ(std::pow(4.0, 10 - 8),
                     rv_mct_component_gain(nullptr, 1, 10, 3, 0, outs.data(), 3, false));
    EXPECT_DOUBLE_EQ(0.11842978348023186 + 3.139984,
                     rv_mct_component_gain(nullptr, 1, 8, 3, 1, outs.data(), 3, false));
    EXPECT_DOUBLE_EQ(0.5625 + 0.0625 + 0.0625,
                     rv_mct_component_gain(nullptr, 2, 8, 3, 2, outs.data(), 3, false));
    outs[2].apparent_idx = -1;
    EXPECT_DOUBLE_EQ(0.11842978348023186,
                     rv_mct_component_gain(nullptr, 1, 8, 3, 1, outs.data(), 3, true));
    EXPECT_DOUBLE_EQ(0.0, rv_mct_component_gain(nullptr, 2, 8, 3, 0, outs.data(), 3, true));

    // 3x3 matrix, entry output*3 + input: component 1 feeds outputs with 2, -1, 0.5.
    {
        stage_fixture f(3, 3);
        for (auto& o : f.outs)
            o.precision = 8;
        one_block_stage(f, 3, 3, "MATRIX,1,0,0,0");
        f.parse({"Mmatrix_size:I1=9", "Mmatrix_coeffs:I1=1,2,3,4,-1,6,7,0.5,9"});
        f.create();
        ASSERT_NE(nullptr, f.first);
        EXPECT_NEAR(4.0 + 1.0 + 0.25,
                    rv_mct_component_gain(f.first, 1, 8, 3, 0, f.outs.data(), 3, false), 1e-6);
        // Restricted to outputs 0 and 2.
        f.last->apply_output_restrictions(f.outs.data(), 2, std::vector<int>{0, 2}.data());
        EXPECT_NEAR(4.0 + 0.25,
                    rv_mct_component_gain(f.first, 1, 8, 3, 0, f.outs.data(), 3, true), 1e-6);
    }
    // Dependency chain over 3 outputs (irreversible): y0 = x0, y1 = x1 + 0.5 y0,
    // y2 = x2 + 0.25 y0 - 2 y1. Component 0 reaches y0 with 1, y1 with 0.5, y2 with
    // 0.25 - 2 * 0.5 = -0.75.
    {
        stage_fixture f(3, 3);
        for (auto& o : f.outs)
            o.precision = 8;
        one_block_stage(f, 3, 3, "DEP,1,0,0,0");
        f.parse({"Mtriang_size:I1=3", "Mtriang_coeffs:I1=0.5,0.25,-2"});
        f.create();
        ASSERT_NE(nullptr, f.first);
        EXPECT_NEAR(1.0 + 0.25 + 0.5625,
                    rv_mct_component_gain(f.first, 0, 8, 3, 0, f.outs.data(), 3, false), 1e-6);
        EXPECT_NEAR(1.0 + 4.0,
                    rv_mct_component_gain(f.first, 1, 8, 3, 0, f.outs.data(), 3, false), 1e-6);
    }
    // Reversible dependency: row i holds its predictors then its normaliser, which divides
    // them: y1 = x1 + (1/2) y0, y2 = x2 + (0.5 y0 + 1 y1) / 4.
    // Component 0: y0 1, y1 0.5, y2 (0.5 + 0.5) / 4 = 0.25.
    {
        stage_fixture f(3, 3);
        for (auto& o : f.outs)
            o.precision = 8;
        one_block_stage(f, 3, 3, "DEP,1,0,1,0");
        f.parse({"Mtriang_size:I1=5", "Mtriang_coeffs:I1=1,2,0.5,1,4"});
        f.create();
        ASSERT_NE(nullptr, f.first);
        EXPECT_NEAR(1.0 + 0.25 + 0.0625,
                    rv_mct_component_gain(f.first, 0, 8, 3, 0, f.outs.data(), 3, false), 1e-6);
    }
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
