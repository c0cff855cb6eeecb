// Handle of a decomposition-tree node; copied by value, owns nothing.
#pragma once

#include "codec/core/rv_kernel_description.h"
#include "codec/core/rvd_dims.h"

class rv_node;
class rvd_subband;
class rvd_resolution;

class rvd_node {
public:
    rvd_node() = default;
    explicit rvd_node(rv_node* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    // Child i (two one-bit branch indices, horizontal in bit 0); empty for a leaf.
    rvd_node access_child(int child_idx) const;
    void get_num_descendants(int& num_nodes, int& num_subbands) const;
    rvd_subband access_subband() const;
    rvd_resolution access_resolution() const;
    void get_dims(rvd_dims& dims) const;
    // The tile-component's kernel for one direction; mirrored when that direction is
    // flipped. Returns the step array.
    const rvd_kernel_step_info* get_kernel_info(int& num_steps, float& low_scale,
                                                float& high_scale, bool& symmetric,
                                                bool& symmetric_extension, int& low_min,
                                                int& low_max, int& high_min, int& high_max,
                                                bool vertical) const;
    const float* get_kernel_coefficients(bool vertical) const;
    // 0 W9X7, 1 W5X3, -1 a kernel of its own.
    int get_kernel_id() const;
    // Gains of the lifting network of one direction (apparent): entry 0 the node's own
    // samples, entry k + 1 step k's output; num_steps 0 where the node does not split.
    const float* get_bibo_gains(int& num_steps, bool vertical) const;

protected:
    rv_node* state = nullptr;
};
