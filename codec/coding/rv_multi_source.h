// What the multi-component network reads from one open tile: the transform description
// (the tile's stage and block queries), the codestream and output components' shapes,
// and the spatial engines of the codestream components. The tile's own source forwards
// to the tile and codestream handles; tests describe networks by hand.
#pragma once

#include "codec/coding/rvd_pull_ifc.h"
#include "codec/coding/rvd_push_ifc.h"
#include "codec/core/rv_kernel_description.h"
#include "codec/core/rvd_coords.h"

class rvd_roi_image;
class rvd_sample_allocator;
class rvd_thread_env;
class rvd_thread_queue;

class rv_multi_source {
public:
    virtual ~rv_multi_source() = default;

    virtual bool get_ycc() = 0;
    // Block b of stage s; false when either does not exist. Arrays may be null.
    virtual bool get_mct_block_info(int stage, int block, int& num_stage_inputs,
                                    int& num_stage_outputs, int& num_block_inputs,
                                    int& num_block_outputs, int* block_input_indices = nullptr,
                                    int* block_output_indices = nullptr,
                                    float* irrev_block_offsets = nullptr,
                                    int* rev_block_offsets = nullptr,
                                    int* stage_input_indices = nullptr) = 0;
    // Outputs x inputs, row-major by output.
    virtual bool get_mct_matrix_info(int stage, int block, float* coefficients = nullptr) = 0;
    // N rows x (N + 1) columns; active_outputs[i] is the internal line of block output i.
    virtual bool get_mct_rxform_info(int stage, int block, int* coefficients = nullptr,
                                     int* active_outputs = nullptr) = 0;
    // Packed triangles: rows 1 .. N-1, each row's coefficients left of the diagonal,
    // followed (reversible form) by its diagonal entry.
    virtual bool get_mct_dependency_info(int stage, int block, bool& is_reversible,
                                         float* irrev_coefficients = nullptr,
                                         float* irrev_offsets = nullptr,
                                         int* rev_coefficients = nullptr,
                                         int* rev_offsets = nullptr,
                                         int* active_outputs = nullptr) = 0;
    // Null when the block is not a DWT block. Taps come step after step.
    virtual const rvd_kernel_step_info*
    get_mct_dwt_info(int stage, int block, bool& is_reversible, int& num_levels,
                     int& canvas_min, int& canvas_lim, int& num_steps, bool& symmetric,
                     bool& symmetric_extension, const float*& coefficients,
                     int* active_inputs = nullptr, int* active_outputs = nullptr) = 0;

    // Codestream component `comp`, as named by the stage-0 inputs.
    virtual bool get_reversible(int comp) = 0;
    virtual int get_bit_depth(int comp, bool internal) = 0;
    // Size of the component's highest accessible resolution.
    virtual rvd_coords get_comp_size(int comp) = 0;
    // Output component `out` of the tile.
    virtual rvd_coords get_output_size(int out) = 0;
    virtual int get_output_bit_depth(int out) = 0;
    virtual bool get_output_signed(int out) = 0;
    // The engine delivering component `comp`'s lines, reserving its storage in
    // `allocator`.
    virtual rvd_pull_ifc create_engine(int comp, rvd_sample_allocator* allocator, bool use_shorts,
                                       rvd_thread_env* env, rvd_thread_queue* queue) = 0;
    // The engine taking component `comp`'s lines for compression, with the component's
    // mask from `roi` (may be null). Sources that only decode refuse with a codec error.
    virtual rvd_push_ifc create_push_engine(int comp, rvd_sample_allocator* allocator,
                                            bool use_shorts, rvd_roi_image* roi,
                                            rvd_thread_env* env, rvd_thread_queue* queue);
};
