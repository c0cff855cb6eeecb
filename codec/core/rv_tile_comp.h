// One component of a tile: its transform choice and resolution levels. The component's
// own fields are set when the tile is opened; its levels (resolutions, nodes, subbands)
// only when something first reaches it: a header may claim thousands of components
// while a request or the packets present touch a few.
#pragma once

#include "codec/core/rv_kernel_description.h"
#include "codec/core/rv_resolution.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"

#include <cstdint>
#include <vector>

class rv_codestream;
class rv_tile;
struct rv_comp_info;

// A resolution's geometry worked out without its records.
struct rv_level_shape {
    rvd_dims dims;
    bool hor_split = false, vert_split = false;
    int hor_depth = 0, vert_depth = 0; // low-pass splits of the levels above
    rvd_dims precinct_partition;       // anchor and precinct size
    rvd_dims precinct_indices;
};

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
    // What the levels are built from: each DWT level's decomposition code (entry d
    // describes level d + 1) and each resolution's precinct exponents (y, x).
    std::vector<int> decomp;
    std::vector<uint8_t> precinct_exps;
    rvd_coords precinct_origin;
    int64_t num_precincts = 0;      // over all levels
    int64_t relevant_precincts = 0; // its share of the tile's relevant count
    // Empty until the component is first reached; then one record per level.
    std::vector<rv_resolution> resolutions;

    bool tree_built() const { return !resolutions.empty(); }
    rv_level_shape level_shape(int r) const;
    // Every level's shape, indexed by resolution.
    void level_shapes(std::vector<rv_level_shape>& out) const;
    // Precincts of the resolutions up to `max_r`, from the geometry alone.
    int64_t count_precincts(int max_r) const;
};
