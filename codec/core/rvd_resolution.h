// Handle of one resolution level of a tile-component; copied by value, owns nothing.
#pragma once

#include "codec/core/rvd_node.h"
#include "codec/core/rvd_subband.h"

#include <cstdint>

class rv_resolution;
class rvd_tile_comp;
class rvd_precinct;

class rvd_resolution {
public:
    rvd_resolution() = default;
    explicit rvd_resolution(rv_resolution* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    int get_res_level() const;
    int get_dwt_level() const;
    // True when region-of-interest masks must reach the levels below this one.
    bool propagate_roi() const;
    bool get_reversible() const;
    rvd_resolution access_next() const; // the next lower level; empty at level 0
    rvd_node access_node() const;
    int get_valid_band_indices(int& min_idx) const;
    rvd_subband access_subband(int band_idx) const;
    void get_dims(rvd_dims& dims) const;
    void get_valid_precincts(rvd_dims& indices) const;
    // The JPIP precinct data-bin id of a precinct (apparent index).
    int64_t get_precinct_id(rvd_coords p_idx) const;
    // Fraction of the precinct's area within the resolution that the region needs.
    double get_precinct_relevance(rvd_coords p_idx) const;
    // Samples of the precinct in this level's own subbands.
    int64_t get_precinct_samples(rvd_coords p_idx) const;
    // Interchange codestreams only.
    rvd_precinct open_precinct(rvd_coords p_idx) const;
    // Packets parsed for the precinct; with parse_if_necessary they are read first.
    int get_precinct_packets(rvd_coords p_idx, bool parse_if_necessary = true) const;

private:
    rv_resolution* state = nullptr;
};
