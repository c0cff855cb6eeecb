// Handle of a subband; copied by value, owns nothing.
#pragma once

#include "codec/core/rvd_node.h"

#include <cstdint>

class rv_subband;
class rvd_block;
class rvd_thread_env;

class rvd_subband {
public:
    rvd_subband() = default;
    explicit rvd_subband(rv_subband* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    int get_band_idx() const;
    rvd_resolution access_resolution() const;
    int get_K_max() const;
    int get_K_max_prime() const;
    bool get_reversible() const;
    float get_delta() const;
    bool get_roi_weight(float& energy_weight) const;
    // Distortion weight of the most significant magnitude bit; 1.0 on input.
    double get_msb_wmse() const;
    // A slope below which coding passes cannot survive the rate target; at least 1.
    int get_conservative_slope_threshold() const;
    void get_dims(rvd_dims& dims) const;
    void get_valid_blocks(rvd_dims& indices) const;
    void get_block_size(rvd_coords& nominal_size, rvd_coords& first_size) const;
    // Reads the block's precinct on demand and fills the returned record for the block
    // decoder; the record stays valid until close_block. `return_tpart` receives the
    // tile-parts read so far less one.
    rvd_block* open_block(rvd_coords block_idx, int* return_tpart = nullptr,
                          rvd_thread_env* env = nullptr) const;
    void close_block(rvd_block* block, rvd_thread_env* env = nullptr) const;
    rv_subband* get_state() const { return state; }

private:
    rv_subband* state = nullptr;
};
