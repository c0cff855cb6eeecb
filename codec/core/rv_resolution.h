// One resolution level of a tile-component: its node, precinct partition and subbands.
#pragma once

#include "codec/core/rv_subband.h"

#include <cstdint>
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
    // One word per precinct; empty until packet reading attaches precincts.
    std::vector<uint64_t> precinct_refs;
    bool propagate_roi = false;
    std::vector<rv_subband> subbands; // one above level 0 is HL, LH, HH
};
