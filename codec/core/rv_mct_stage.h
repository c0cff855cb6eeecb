// Validated description of a multi-component transform: a chain of stages, each made of
// blocks that turn components of the previous stage into components of this one. Built
// once for the main header and once per tile that carries its own transform.
#pragma once

#include "codec/core/rv_kernel_description.h"

#include <cstdint>
#include <memory>
#include <vector>

class rvd_params;
struct rv_comp_info;
struct rv_output_comp_info;
struct rv_mct_block;
struct rv_mct_stage;

struct rv_mct_output {
    int precision = 0;
    bool is_signed = false;
    rv_comp_info* size_ref = nullptr; // component whose dimensions this output takes
    int apparent_idx = -1;            // among the outputs seen (or needed), -1 when hidden
    int apparent_source_idx = -1;     // at position k: the output that is the k-th seen one
    rv_mct_block* block = nullptr;
    int block_output_idx = 0;
    int block_required_idx = -1;
    bool is_required = false;
    float weight = 0.0f; // accumulated by the gain analysis
};

struct rv_mct_block {
    rv_mct_stage* stage = nullptr;
    int num_inputs = 0;
    int num_required_inputs = 0;
    std::vector<int> inputs; // stage input index of each block input
    std::vector<uint8_t> input_required;
    int num_outputs = 0;
    int num_required_outputs = 0;
    std::vector<int> outputs; // stage output index of each block output
    bool is_reversible = false;
    bool is_null_transform = true;
    rvd_params* offset_params = nullptr;
    rvd_params* matrix_params = nullptr;
    rvd_params* old_rxform_params = nullptr;
    rvd_params* triang_params = nullptr;
    int num_dwt_steps = 0;
    std::vector<rvd_kernel_step_info> dwt_step_info;
    std::vector<float> dwt_coefficients;
    int num_dwt_levels = 0;
    int dwt_canvas_origin = 0;
    bool dwt_symmetric = false, dwt_symmetric_extension = false;
    int dwt_low_synth_min = 0, dwt_low_synth_max = 0;
    int dwt_high_synth_min = 0, dwt_high_synth_max = 0;
    float dwt_synthesis_gains[2] = {1.0f, 1.0f};

    // Adds weight x (synthesis coefficient from block input `input_idx`) to the `weight`
    // of every stage output that input feeds, widening [min_out, max_out] (empty when
    // min_out > max_out) to cover them; outputs newly brought in start at weight 0.
    void analyze_sensitivity(int input_idx, float weight, int& min_out, int& max_out,
                             bool restrict_to_required);

    // Marks the block inputs that its required outputs need.
    void find_required_inputs();

    // A reversible matrix's factor of line `line` in step `step` (N lines, N + 1 steps);
    // null when the block has none. The segment lists each step's factors over the
    // lines; the older layout is its transpose, each line's factors over the steps.
    rvd_params* rxform_params() const;
    int rxform_coefficient(int line, int step) const;

private:
    struct sensitivity_row {
        int first_output = 0;
        std::vector<float> coeffs;
    };
    void build_sensitivity_rows();
    void build_wavelet_rows();
    void build_rxform_rows();
    std::vector<sensitivity_row> rows; // one per block input, built on first use
    bool rows_built = false;
};

struct rv_mct_stage {
    int num_inputs = 0;
    int num_required_inputs = 0;
    std::vector<int> input_required_indices;
    int num_outputs = 0;
    int num_apparent_outputs = 0;
    std::vector<rv_mct_output> output_comps;
    int num_blocks = 0;
    std::vector<rv_mct_block> blocks;
    rv_mct_stage* prev_stage = nullptr;
    rv_mct_stage* next_stage = nullptr;
    std::unique_ptr<rv_mct_stage> next_owner; // the chain owns its stages front to back

    // Builds the chain of the tile (-1: main header); both outputs stay null when there is
    // no transform. The caller owns `first` (deleting it frees the whole chain).
    static void create_stages(rv_mct_stage*& first, rv_mct_stage*& last, rvd_params* root,
                              int tile_idx, int num_comps, rv_comp_info* comp_info,
                              int num_output_comps, rv_output_comp_info* output_comp_info);

    // Called on the last stage: marks what each stage needs for the requested outputs.
    // num_restricted < 0 means no restriction; with a count and no list the first
    // `num_restricted` apparent outputs are wanted; with a list the named apparent ones.
    void apply_output_restrictions(const rv_output_comp_info* output_comp_info,
                                   int num_restricted, const int* restricted_indices);
};

// Energy gain of codestream component `comp_idx` (precision `comp_precision`) on the output
// components, through the chain starting at `first_stage`; without a chain, through the
// colour transform `colour_xform` (0 none, 1 irreversible, 2 reversible).
double rv_mct_component_gain(rv_mct_stage* first_stage, int comp_idx, int comp_precision,
                             int num_comps, int colour_xform,
                             const rv_output_comp_info* output_comp_info, int num_output_comps,
                             bool restrict_to_apparent);
