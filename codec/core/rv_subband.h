// A subband: a leaf of a resolution's decomposition tree with its coding parameters.
#pragma once

#include "codec/core/rv_node.h"

class rv_subband : public rv_node {
public:
    uint8_t band_idx = 0;         // within the resolution; reported one higher above level 0
    uint8_t transpose_band_idx = 0;
    // Splits within the level: bits 0-1 horizontal count, 2-7 horizontal branch bits
    // (first split lowest), 8-9 vertical count, 10-15 vertical branch bits.
    int16_t descriptor = 0;
    // Held as int: the ROI up-shift alone may reach 255.
    int K_max = 0;
    int K_max_prime = 0;
    float delta = 0.0f;
    float energy_weight = 0.0f; // rate control only: 0 on input
    float visual_weight = 0.0f;
    float roi_weight = -1.0f;
    rvd_dims block_partition; // anchor and nominal block size
    rvd_dims block_indices;   // code-blocks that meet the region of interest
};
