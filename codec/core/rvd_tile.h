// Handle of one open tile: a single pointer to the tile's record, copied by value.
#pragma once

#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_tile_comp.h"

class rv_tile;

class rvd_tile {
public:
    rvd_tile() = default;
    explicit rvd_tile(rv_tile* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    bool operator==(const rvd_tile& o) const { return state == o.state; }
    bool operator!=(const rvd_tile& o) const { return state != o.state; }

    // Ends this access; a tile of a persistent codestream may be opened again.
    void close();
    // Apparent tile index.
    rvd_coords get_tile_idx() const;
    int get_tnum() const;
    int get_num_components() const;
    int get_num_layers() const;
    bool get_ycc() const;
    // Visible component c; empty when out of range or not enabled.
    rvd_tile_comp access_component(int comp_idx) const;

    rv_tile* get_state() const { return state; }

private:
    rv_tile* state = nullptr;
};
