// One resolution level of a tile-component: its node, precinct partition and subbands.
#pragma once

#include "codec/core/rv_sparse_words.h"
#include "codec/core/rv_subband.h"

#include <cstdint>
#include <list>
#include <vector>

class rv_codestream;
class rv_tile_comp;

class rv_resolution {
public:
    rv_codestream* codestream = nullptr;
    rv_tile_comp* tile_comp = nullptr;
    int res_level = 0; // 0 = lowest
    int dwt_level = 0; // DWT level of the detail subbands
    rv_node node;      // the node this level splits
    rvd_dims dims;     // full region
    rvd_dims region;   // within the region of interest
    // Bounding box of the bands' regions of interest mapped up to this level; precinct
    // relevance is measured against it.
    rvd_dims relevance_region;
    bool hor_split = false, vert_split = false;
    rvd_dims precinct_partition; // anchor and precinct size
    rvd_dims precinct_indices;   // all precincts
    rvd_dims region_indices;     // precincts that meet the region of interest
    // One word per precinct, zero until packet reading or a request attaches one.
    rv_sparse_words<uint64_t> precinct_refs;
    bool propagate_roi = false;
    // Cleared when this level, or a lower one of the component, splits a high-pass band
    // again in the same direction: its flipped view has no sample-aligned equivalent.
    bool flip_compatible = true;
    // Low-pass splits of the levels above this one, per direction.
    int hor_depth = 0, vert_depth = 0;
    std::vector<rv_subband> subbands; // band order; one above level 0 is HL, LH, HH
    std::list<rv_node> inner_nodes;   // split nodes below the level's own node (none: no allocation)
};
