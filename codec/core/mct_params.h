// Multi-component transform coefficients (MCT marker segment): one object per tile and
// coefficient index 1..255, holding a dependency triangle, a matrix and an offset vector.
#pragma once

#include "codec/core/rvd_params.h"

class mct_params : public rvd_params {
public:
    mct_params();
    rvd_params* new_object() override { return new mct_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;

    // Elements per segment when a series is written.
    static constexpr int max_elements_per_segment = 4092;

private:
    // Series state per coefficient kind (triangular, matrix, vector).
    int segments_read[3] = {0, 0, 0};
    int highest_zmct[3] = {-1, -1, -1};
};
