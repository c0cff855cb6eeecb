// Progress of one (resolution depth, component) pair over the whole image: how much of
// its area the tiles seen so far cover, and which precincts are complete and waiting.
#pragma once

#include "codec/core/rvd_dims.h"

#include <cstdint>

class rv_codestream;
class rv_precinct;

class rv_rescomp_progress {
public:
    void initialize(rv_codestream* cs, int depth, int comp_idx);
    void notify_tile_status(const rvd_dims& tile_dims, bool tile_has_resolution);
    // Samples of this component at this depth inside a canvas region.
    int64_t area_of(const rvd_dims& region) const;

    rv_codestream* codestream = nullptr;
    int depth = 0;
    int comp_idx = 0;
    int64_t total_area = 0;
    int64_t used_area = 0;
    int64_t seen_area = 0;
    int64_t remaining_area = 0;
    rv_precinct* first_ready = nullptr;
    rv_precinct* last_ready = nullptr;
    int64_t ready_area = 0;
    double ready_fraction = -1.0;
    double reciprocal_fraction = -1.0;
};

// Extent of [a, b) on the canvas after sub-sampling by s and d further halvings.
int64_t rv_extent_at_depth(int64_t a, int64_t b, int s, int d);
