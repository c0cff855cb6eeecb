// Codestream organisation choices of the writing side; no marker segment of its own.
#pragma once

#include "codec/core/rvd_params.h"

class org_params : public rvd_params {
public:
    org_params();
    rvd_params* new_object() override { return new org_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    bool check_marker_segment(uint16_t, int, const uint8_t*, int&) override { return false; }
    bool read_marker_segment(uint16_t, int, const uint8_t*, int) override { return false; }
};
