// A node of one resolution's decomposition tree; a leaf is the first part of a subband.
#pragma once

#include "codec/core/rvd_dims.h"

#include <cstdint>
#include <vector>

class rv_resolution;

class rv_node {
public:
    rv_node* parent = nullptr;
    rv_resolution* resolution = nullptr;
    rvd_dims dims;        // full region
    rvd_dims region;      // the part within the region of interest
    uint8_t branch_x = 2; // 0 low-pass, 1 high-pass, 2 not split in that direction
    uint8_t branch_y = 2;
    bool is_leaf = false;
    rv_node* children[4] = {nullptr, nullptr, nullptr, nullptr};
    // Gains of an inner node's lifting network per split direction: entry 0 the node's
    // own samples, entry k + 1 the output of step k; 0 entries where it does not split.
    uint8_t num_hor_gains = 0;
    uint8_t num_vert_gains = 0;
    int num_descendant_nodes = 0;
    int num_descendant_subbands = 0;
    // Horizontal gains, one separating entry, then the vertical gains.
    std::vector<float> bibo_gains;
};
