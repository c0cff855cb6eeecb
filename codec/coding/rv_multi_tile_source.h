// The multi-component network's view of one open tile of a codestream.
#pragma once

#include "codec/coding/rv_multi_source.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_tile.h"

class rv_multi_tile_source : public rv_multi_source {
public:
    rv_multi_tile_source(rvd_codestream codestream, rvd_tile tile) : codestream(codestream), tile(tile) {}

    bool get_ycc() override;
    bool get_mct_block_info(int stage, int block, int& num_stage_inputs, int& num_stage_outputs,
                            int& num_block_inputs, int& num_block_outputs, int* block_input_indices,
                            int* block_output_indices, float* irrev_block_offsets,
                            int* rev_block_offsets, int* stage_input_indices) override;
    bool get_mct_matrix_info(int stage, int block, float* coefficients) override;
    bool get_mct_rxform_info(int stage, int block, int* coefficients, int* active_outputs) override;
    bool get_mct_dependency_info(int stage, int block, bool& is_reversible,
                                 float* irrev_coefficients, float* irrev_offsets,
                                 int* rev_coefficients, int* rev_offsets,
                                 int* active_outputs) override;
    const rvd_kernel_step_info* get_mct_dwt_info(int stage, int block, bool& is_reversible,
                                                 int& num_levels, int& canvas_min, int& canvas_lim,
                                                 int& num_steps, bool& symmetric,
                                                 bool& symmetric_extension,
                                                 const float*& coefficients, int* active_inputs,
                                                 int* active_outputs) override;
    bool get_reversible(int comp) override;
    int get_bit_depth(int comp, bool internal) override;
    rvd_coords get_comp_size(int comp) override;
    rvd_coords get_output_size(int out) override;
    int get_output_bit_depth(int out) override;
    bool get_output_signed(int out) override;
    rvd_pull_ifc create_engine(int comp, rvd_sample_allocator* allocator, bool use_shorts,
                               rvd_thread_env* env, rvd_thread_queue* queue) override;
    rvd_push_ifc create_push_engine(int comp, rvd_sample_allocator* allocator, bool use_shorts,
                                    rvd_roi_image* roi, rvd_thread_env* env,
                                    rvd_thread_queue* queue) override;

private:
    rvd_tile_comp component(int comp);

    rvd_codestream codestream;
    rvd_tile tile;
};
