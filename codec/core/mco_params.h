// Multi-component transform stage order (MCO marker segment): per tile, the MCC stages
// applied in turn, the last producing the output components.
#pragma once

#include "codec/core/rvd_params.h"

class mco_params : public rvd_params {
public:
    mco_params();
    rvd_params* new_object() override { return new mco_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;
};
