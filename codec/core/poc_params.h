// Progression order changes of the main header or of one tile-part (POC marker
// segment); instance k of a tile belongs to its tile-part k.
#pragma once

#include "codec/core/rvd_params.h"

class poc_params : public rvd_params {
public:
    poc_params();
    rvd_params* new_object() override { return new poc_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
};
