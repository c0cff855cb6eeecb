// Progress of one (resolution depth, component) pair over the whole image: how much of
// its area the tiles seen so far cover, and which precincts are complete and waiting.
#pragma once

#include "codec/core/rvd_dims.h"

#include <cstdint>

class rv_codestream;
class rv_precinct;
class rv_resolution;

class rv_rescomp_progress {
public:
    void initialize(rv_codestream* cs, int depth, int comp_idx);
    void notify_tile_status(const rvd_dims& tile_dims, bool tile_has_resolution);
    // A precinct of this pair has all its code-blocks: it waits to be written.
    void add_ready_precinct(rv_precinct* p);
    // The precinct's packets are all written: off the list, its area done, released.
    void close_ready_precinct(rv_precinct* p);
    // Releases every precinct still waiting.
    void close_all();
    // Off the list without counting its area as written (released some other way).
    void unlink(rv_precinct* p);
    // Share of this pair's area still to write that the ready precincts cover, as
    // projected from the tiles seen so far (1 when all of it is ready).
    double get_ready_fraction();
    // Samples of the precinct's cell on its resolution's grid.
    static int64_t precinct_area(const rv_precinct* p);
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

// The record of a resolution's (depth, component) pair.
rv_rescomp_progress* rv_progress_of(const rv_resolution* res);

// Extent of [a, b) on the canvas after sub-sampling by s and d further halvings.
int64_t rv_extent_at_depth(int64_t a, int64_t b, int s, int d);
