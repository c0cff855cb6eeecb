// Part-2 arbitrary wavelet kernels (ATK marker segment), one object per tile and kernel
// index 2..255.
#pragma once

#include "codec/core/rvd_params.h"

class atk_params : public rvd_params {
public:
    atk_params();
    rvd_params* new_object() override { return new atk_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;

    // Deriving responses and gains costs about the square of this many taps per level,
    // so larger kernels are refused.
    static constexpr int max_total_coefficients = 256;
};
