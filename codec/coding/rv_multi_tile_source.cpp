#include "codec/coding/rv_multi_tile_source.h"

#include "codec/coding/rvd_decoder.h"
#include "codec/coding/rvd_synthesis.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_resolution.h"

#include <stdexcept>

rvd_tile_comp rv_multi_tile_source::component(int comp)
{
    rvd_tile_comp tc = tile.access_component(comp);
    if (!tc) {
        {
            rvd_error e("Ravade Core Error:\n");
            e << "Multi-component transform refers to a codestream component that is not "
                 "available in the tile.";
        }
        throw std::logic_error("codec error handler returned");
    }
    return tc;
}

bool rv_multi_tile_source::get_ycc()
{
    return tile.get_ycc();
}

bool rv_multi_tile_source::get_mct_block_info(int stage, int block, int& num_stage_inputs,
                                              int& num_stage_outputs, int& num_block_inputs,
                                              int& num_block_outputs, int* block_input_indices,
                                              int* block_output_indices, float* irrev_block_offsets,
                                              int* rev_block_offsets, int* stage_input_indices)
{
    return tile.get_mct_block_info(stage, block, num_stage_inputs, num_stage_outputs,
                                   num_block_inputs, num_block_outputs, block_input_indices,
                                   block_output_indices, irrev_block_offsets, rev_block_offsets,
                                   stage_input_indices);
}

bool rv_multi_tile_source::get_mct_matrix_info(int stage, int block, float* coefficients)
{
    return tile.get_mct_matrix_info(stage, block, coefficients);
}

bool rv_multi_tile_source::get_mct_rxform_info(int stage, int block, int* coefficients,
                                               int* active_outputs)
{
    return tile.get_mct_rxform_info(stage, block, coefficients, active_outputs);
}

bool rv_multi_tile_source::get_mct_dependency_info(int stage, int block, bool& is_reversible,
                                                   float* irrev_coefficients, float* irrev_offsets,
                                                   int* rev_coefficients, int* rev_offsets,
                                                   int* active_outputs)
{
    return tile.get_mct_dependency_info(stage, block, is_reversible, irrev_coefficients,
                                        irrev_offsets, rev_coefficients, rev_offsets,
                                        active_outputs);
}

const rvd_kernel_step_info* rv_multi_tile_source::get_mct_dwt_info(
    int stage, int block, bool& is_reversible, int& num_levels, int& canvas_min, int& canvas_lim,
    int& num_steps, bool& symmetric, bool& symmetric_extension, const float*& coefficients,
    int* active_inputs, int* active_outputs)
{
    return tile.get_mct_dwt_info(stage, block, is_reversible, num_levels, canvas_min, canvas_lim,
                                 num_steps, symmetric, symmetric_extension, coefficients,
                                 active_inputs, active_outputs);
}

bool rv_multi_tile_source::get_reversible(int comp)
{
    return component(comp).get_reversible();
}

int rv_multi_tile_source::get_bit_depth(int comp, bool internal)
{
    return component(comp).get_bit_depth(internal);
}

rvd_coords rv_multi_tile_source::get_comp_size(int comp)
{
    rvd_dims dims;
    component(comp).access_resolution().get_dims(dims);
    return dims.size;
}

rvd_coords rv_multi_tile_source::get_output_size(int out)
{
    rvd_dims dims;
    codestream.get_tile_dims(tile.get_tile_idx(), out, dims, true);
    return dims.size;
}

int rv_multi_tile_source::get_output_bit_depth(int out)
{
    return codestream.get_bit_depth(out, true);
}

bool rv_multi_tile_source::get_output_signed(int out)
{
    return codestream.get_signed(out, true);
}

rvd_pull_ifc rv_multi_tile_source::create_engine(int comp, rvd_sample_allocator* allocator,
                                                 bool use_shorts, rvd_thread_env* env,
                                                 rvd_thread_queue* queue)
{
    rvd_resolution res = component(comp).access_resolution();
    if (res.get_res_level() == 0) {
        rvd_decoder dec(res.access_subband(0), allocator, use_shorts, 1.0f, 0, env, queue);
        return rvd_pull_ifc(std::move(dec));
    }
    rvd_synthesis syn(res, allocator, use_shorts, 1.0f, env, queue);
    return rvd_pull_ifc(std::move(syn));
}

rvd_push_ifc rv_multi_source::create_push_engine(int, rvd_sample_allocator*, bool, rvd_roi_image*,
                                                 rvd_thread_env*, rvd_thread_queue*)
{
    rv_raise_core_error("This multi-component source cannot take lines for compression.");
}
