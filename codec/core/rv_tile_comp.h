// One component of a tile: its transform choice and resolution levels.
#pragma once

#include "codec/core/rv_kernel_description.h"
#include "codec/core/rv_resolution.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"

#include <vector>

class rv_codestream;
class rv_tile;
struct rv_comp_info;

class rv_tile_comp {
public:
    rv_codestream* codestream = nullptr;
    rv_tile* tile = nullptr;
    rv_comp_info* comp_info = nullptr;
    int cnum = 0;
    rvd_coords sub_sampling;
    rvd_dims dims;   // tile-component region
    rvd_dims region; // within the region of interest
    int dwt_levels = 0;
    int apparent_dwt_levels = 0; // highest accessible resolution; -1 when none is
    bool reversible = false;
    int kernel_id = 1;
    // Synthesis support bounds, relative to a band sample's own position on the
    // interleaved line: how far each low-pass and high-pass sample reaches.
    int low_support_min = 0, low_support_max = 0;
    int high_support_min = 0, high_support_max = 0;
    // Lifting steps and taps, and their mirror images for flipped views (the same for a
    // symmetric kernel).
    std::vector<rvd_kernel_step_info> kernel_steps, mirrored_steps;
    std::vector<float> kernel_coefficients, mirrored_coefficients;
    float low_scale = 1.0f, high_scale = 1.0f;
    bool kernel_symmetric = true, kernel_symmetric_extension = true;
    int recommended_extra_bits = 0;
    bool enabled = true;
    bool is_of_interest = true;
    std::vector<rv_resolution> resolutions;
};
