// Handle of one open tile: a single pointer to the tile's record, copied by value.
#pragma once

#include "codec/core/rv_kernel_description.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_tile_comp.h"

class rv_tile;
class rvd_thread_env;

class rvd_tile {
public:
    rvd_tile() = default;
    explicit rvd_tile(rv_tile* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    bool operator==(const rvd_tile& o) const { return state == o.state; }
    bool operator!=(const rvd_tile& o) const { return state != o.state; }

    // Ends this access; a tile of a persistent codestream may be opened again.
    // Under lock 0 of the environment's group when one is given.
    void close(rvd_thread_env* env = nullptr);
    // Apparent tile index.
    rvd_coords get_tile_idx() const;
    int get_tnum() const;
    int get_num_components() const;
    int get_num_layers() const;
    bool get_ycc() const;
    // Visible component c; empty when out of range or not enabled.
    rvd_tile_comp access_component(int comp_idx) const;

    // Components of interest: 0 for all, else the listed visible ones (or the first n when
    // the list is null); through the multi-component transform when the tile has one.
    void set_components_of_interest(int num_components_of_interest = 0,
                                     const int* components_of_interest = nullptr);
    // Block b of stage s of the tile's multi-component transform, counting only what the
    // components of interest need; a tile without one answers with a single default
    // stage. False when the stage or block does not exist.
    bool get_mct_block_info(int stage_idx, int block_idx, int& num_stage_inputs,
                            int& num_stage_outputs, int& num_block_inputs,
                            int& num_block_outputs, int* block_input_indices = nullptr,
                            int* block_output_indices = nullptr,
                            float* irrev_block_offsets = nullptr,
                            int* rev_block_offsets = nullptr,
                            int* stage_input_indices = nullptr) const;
    // Outputs x inputs, row-major by output.
    bool get_mct_matrix_info(int stage_idx, int block_idx, float* coefficients = nullptr) const;
    // N lines x (N + 1) steps, row-major by line: entry t (N + 1) + s is line t's factor in
    // step s. `active_outputs` names the line of each required output.
    bool get_mct_rxform_info(int stage_idx, int block_idx, int* coefficients = nullptr,
                             int* active_outputs = nullptr) const;
    // Rows 1..N-1 packed: each row's predictors from the lines before it, followed by its
    // divisor in the reversible form; offsets per row.
    bool get_mct_dependency_info(int stage_idx, int block_idx, bool& is_reversible,
                                 float* irrev_coefficients = nullptr,
                                 float* irrev_offsets = nullptr, int* rev_coefficients = nullptr,
                                 int* rev_offsets = nullptr, int* active_outputs = nullptr) const;
    // Null unless the block is a wavelet across components over [canvas_min, canvas_lim).
    const rvd_kernel_step_info* get_mct_dwt_info(int stage_idx, int block_idx,
                                                 bool& is_reversible, int& num_levels,
                                                 int& canvas_min, int& canvas_lim,
                                                 int& num_steps, bool& symmetric,
                                                 bool& symmetric_extension,
                                                 const float*& coefficients,
                                                 int* active_inputs = nullptr,
                                                 int* active_outputs = nullptr) const;
    // Energy gain of codestream component c on the output components (or on those of
    // interest only); 0 for c out of range, 1 while codestream components are exposed.
    double find_component_gain_info(int comp_idx, bool restrict_to_interest) const;

    rv_tile* get_state() const { return state; }

private:
    rv_tile* state = nullptr;
};
