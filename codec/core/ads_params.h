// Part-2 arbitrary decomposition styles (ADS marker segment).
#pragma once

#include "codec/core/rvd_params.h"

class ads_params : public rvd_params {
public:
    ads_params();
    rvd_params* new_object() override { return new ads_params; }
    void copy_with_xforms(rvd_params*, int, int, bool, bool, bool) override {}
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void custom_textualize_field(rvd_message& output, const char* name, int field_idx,
                                 int value) override;
    void finalize(bool after_reading = false) override;
};
