// Region-of-interest up-shift of a component or tile-component (RGN marker segment).
#pragma once

#include "codec/core/rvd_params.h"

class rgn_params : public rvd_params {
public:
    rgn_params();
    rvd_params* new_object() override { return new rgn_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;
};

// Number of codestream components from the tree's SIZ object (0 when unknown); marker
// classes use it for the width of component fields.
int rv_tree_components(rvd_params* any_object);
// The component a COC, QCC or RGN segment addresses: its first byte, or first two bytes
// when the image has more than 256 components (the caller has checked there are two).
int rv_segment_component(rvd_params* any_object, const uint8_t* bytes);
// Warns when a segment kind that Profile-0 allows only in the main header turns up in a
// tile header of a Profile-0 stream; kinds is e.g. "COD/COC".
void rv_warn_tile_segment_in_profile0(rvd_params* obj, const char* kinds);
