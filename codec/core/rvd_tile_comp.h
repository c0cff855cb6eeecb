// Handle of one component of an open tile; copied by value, owns nothing.
#pragma once

#include "codec/core/rvd_resolution.h"

class rv_tile_comp;

class rvd_tile_comp {
public:
    rvd_tile_comp() = default;
    explicit rvd_tile_comp(rv_tile_comp* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    bool get_reversible() const;
    void get_subsampling(rvd_coords& factors) const;
    int get_bit_depth(bool internal = false) const;
    bool get_signed() const;
    void get_dims(rvd_dims& dims) const;
    int get_num_resolutions() const;
    rvd_resolution access_resolution(int res_level) const;
    rvd_resolution access_resolution() const;

private:
    rv_tile_comp* state = nullptr;
};
